#include "host/core/bitmaps.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

using namespace ph;

namespace {

using Points = std::set<std::pair<int, int>>;

// Every pixel that is not white.
Points painted(const QImage& img) {
  Points out;
  for (int y = 0; y < img.height(); ++y)
    for (int x = 0; x < img.width(); ++x)
      if (pixelAt(img, x, y) != 0xFFFFFF) out.insert({x, y});
  return out;
}

}  // namespace

TEST(Bitmaps, NewBitmapIsWhiteRgb32) {
  QImage img = newBitmap32(7, 3);
  ASSERT_EQ(img.format(), QImage::Format_RGB32);
  EXPECT_EQ(img.size(), QSize(7, 3));
  EXPECT_TRUE(painted(img).empty());
  EXPECT_TRUE(newBitmap32(0, 5).isNull());
  EXPECT_TRUE(newBitmap32(5, -1).isNull());
}

// The colour value is red in the low byte; QImage holds red in bits 16-23.
TEST(Bitmaps, ColourLayoutBothWays) {
  struct Case {
    int colour;
    QRgb pixel;
  };
  const Case cases[] = {
      {0x0000FF, qRgb(255, 0, 0)},
      {0x00FF00, qRgb(0, 255, 0)},
      {0xFF0000, qRgb(0, 0, 255)},
      {0x563412, qRgb(0x12, 0x34, 0x56)},
  };
  for (const Case& c : cases) {
    QImage img = newBitmap32(4, 4);
    setPixelAt(img, 1, 2, c.colour);
    EXPECT_EQ(img.pixel(1, 2), c.pixel) << std::hex << c.colour;
    EXPECT_EQ(pixelAt(img, 1, 2), c.colour);
    EXPECT_EQ(pixelAt2(img, 1, 2), c.colour);
    img.setPixel(3, 3, c.pixel);
    EXPECT_EQ(pixelAt(img, 3, 3), c.colour);
  }
}

TEST(Bitmaps, OutsideReadsZeroAndWritesNothing) {
  QImage img = newBitmap32(5, 4);
  const QImage before = img.copy();
  const std::pair<int, int> outside[] = {{5, 0}, {0, 4}, {-1, 0}, {0, -1}, {5, 4}};
  for (auto [x, y] : outside) {
    EXPECT_EQ(pixelAt(img, x, y), 0) << x << "," << y;
    setPixelAt(img, x, y, 0x0000FF);
  }
  EXPECT_EQ(img, before);
  QImage none;
  EXPECT_EQ(pixelAt(none, 0, 0), 0);
  setPixelAt(none, 0, 0, 0x0000FF);
  EXPECT_TRUE(none.isNull());
}

// On an 8-bit picture setPixel would take the colour as a palette index.
TEST(Bitmaps, SetPixelOnEightBitPictureKeepsColour) {
  QImage img(4, 4, QImage::Format_Grayscale8);
  img.fill(0);
  setPixelAt(img, 2, 1, 0x0000FF);
  EXPECT_EQ(pixelAt(img, 2, 1), 0x0000FF);
  EXPECT_EQ(pixelAt(img, 0, 0), 0);
}

TEST(Drawing, PolylineEndsAtMarker) {
  QImage img = newBitmap32(40, 40);
  // The values after the marker would draw far outside the 10..20 box.
  drawPolyline(img, 0x0000FF, {10, 10, 20, 20, -98, 0, 39, 39, 0});
  const Points p = painted(img);
  ASSERT_FALSE(p.empty());
  for (auto [x, y] : p) {
    EXPECT_EQ(x, y);
    EXPECT_GE(x, 10);
    EXPECT_LE(x, 20);
    EXPECT_EQ(pixelAt(img, x, y), 0x0000FF);
  }
  EXPECT_TRUE(p.count({10, 10}) && p.count({15, 15}) && p.count({19, 19}));
}

TEST(Drawing, PolylineListLimits) {
  struct Case {
    std::vector<int> list;
    bool drawsSomething;
  };
  const Case cases[] = {
      {{-98, 0, 10, 10}, false},        // marker first: nothing
      {{5, 5, -98, 10, 10}, false},     // one point draws no line
      {{5, 5}, false},                  // list runs out after one point
      {{-97, 3, 10, 3, -98}, true},     // -97 is still a coordinate
      {{0, 0, 10, 0}, true},            // no marker: the list's end ends it
      {{0, 0, 10, 0, 20}, true},        // a lone x at the end is dropped
  };
  for (const Case& c : cases) {
    QImage img = newBitmap32(30, 30);
    drawPolyline(img, 0, c.list);
    EXPECT_EQ(!painted(img).empty(), c.drawsSomething) << c.list.size() << " values from " << c.list[0];
  }
}

TEST(Drawing, SegmentsAreNotJoined) {
  QImage img = newBitmap32(12, 8);
  drawSegments(img, 0x00FF00, {0, 0, 9, 0, 0, 5, 9, 5, -98, 0, 11, 7});
  const Points p = painted(img);
  for (auto [x, y] : p) {
    EXPECT_TRUE(y == 0 || y == 5) << x << "," << y;  // a join (9,0)-(0,5) would cross rows 1-4
    EXPECT_LE(x, 9);
    EXPECT_EQ(pixelAt(img, x, y), 0x00FF00);
  }
  EXPECT_TRUE(p.count({0, 0}) && p.count({8, 0}) && p.count({0, 5}) && p.count({8, 5}));

  // A segment with fewer than four values left is not drawn.
  QImage img2 = newBitmap32(12, 8);
  const int partial[] = {0, 2, 9};
  drawSegments(img2, 0, partial);
  EXPECT_TRUE(painted(img2).empty());
}
