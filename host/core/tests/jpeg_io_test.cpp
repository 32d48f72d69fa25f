#include "host/core/testing/file_text.h"
#include "host/core/jpeg_io.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "host/core/bitmaps.h"

using namespace ph;
using test::readAll;
using test::writeAll;
namespace fs = std::filesystem;

namespace {

// Writes a JPEG straight through libjpeg from raw samples, so the reader is
// checked against data that did not pass through our writer.
void writeRawJpeg(const std::string& name, int w, int h, J_COLOR_SPACE in, int comps, const std::vector<JSAMPLE>& px,
                  bool plainCmyk = false) {
  jpeg_compress_struct c{};
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  std::FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_TRUE(f);
  jpeg_stdio_dest(&c, f);
  c.image_width = w;
  c.image_height = h;
  c.input_components = comps;
  c.in_color_space = in;
  jpeg_set_defaults(&c);
  if (plainCmyk) {
    jpeg_set_colorspace(&c, JCS_CMYK);
    c.write_Adobe_marker = FALSE;
  }
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(&px[c.next_scanline * w * comps]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::fclose(f);
}

// Random pixels compress badly, so the file is large enough to cut or to
// overflow a size limit.
QImage noise(int w, int h) {
  std::mt19937 rng(7);
  QImage img = newBitmap32(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) setPixelAt(img, x, y, static_cast<int>(rng() & 0xFFFFFF));
  return img;
}

bool near(int colour, int expected, int tolerance = 12) {
  for (int shift = 0; shift < 24; shift += 8)
    if (std::abs((colour >> shift & 0xFF) - (expected >> shift & 0xFF)) > tolerance) return false;
  return true;
}

}  // namespace

TEST(Jpeg, WrittenPictureReadsBack) {
  // Four 8x8 blocks of plain colour, aligned to the JPEG blocks so that the
  // centres keep their colour.
  const int colours[] = {0x0000FF, 0x00FF00, 0xFF0000, 0x3080C0};
  QImage img = newBitmap32(16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) setPixelAt(img, x, y, colours[(y / 8) * 2 + x / 8]);
  for (const char* name : {"pic.jpg", "Pic.JPEG"}) {
    ASSERT_TRUE(saveJpeg(img, name)) << name;
    QImage back;
    ASSERT_TRUE(loadPicture(back, name)) << name;
    EXPECT_EQ(back.format(), QImage::Format_RGB32);
    EXPECT_EQ(back.size(), img.size());
    for (int i = 0; i < 4; ++i) {
      const int got = pixelAt(back, (i % 2) * 8 + 4, (i / 2) * 8 + 4);
      EXPECT_TRUE(near(got, colours[i])) << name << " block " << i << ": " << std::hex << got;
    }
  }
  EXPECT_TRUE(saveJpeg2(img, "two.jpg") && saveJpeg3(img, "three.jpg"));
  EXPECT_EQ(readAll("two.jpg"), readAll("pic.jpg"));
  EXPECT_EQ(readAll("three.jpg"), readAll("pic.jpg"));
}

TEST(Jpeg, ReadsColourGreyAndCmyk) {
  struct Case {
    const char* what;
    J_COLOR_SPACE space;
    int comps;
    std::vector<JSAMPLE> sample;
    bool plainCmyk;
    int expected;
  };
  const Case cases[] = {
      {"rgb", JCS_RGB, 3, {255, 0, 0}, false, 0x0000FF},
      {"grey", JCS_GRAYSCALE, 1, {200}, false, 0xC8C8C8},
      // Adobe's CMYK is stored inverted: 255 means no ink. Cyan-free,
      // full magenta and yellow, no black: red.
      {"adobe cmyk", JCS_CMYK, 4, {255, 0, 0, 255}, false, 0x0000FF},
      {"plain cmyk", JCS_CMYK, 4, {0, 255, 255, 0}, true, 0x0000FF},
  };
  for (const Case& c : cases) {
    std::vector<JSAMPLE> px;
    for (int i = 0; i < 8 * 8; ++i) px.insert(px.end(), c.sample.begin(), c.sample.end());
    writeRawJpeg("raw.jpg", 8, 8, c.space, c.comps, px, c.plainCmyk);
    QImage img;
    ASSERT_TRUE(readJpegFile("raw.jpg", img)) << c.what;
    EXPECT_EQ(img.format(), QImage::Format_RGB32);
    EXPECT_EQ(img.size(), QSize(8, 8));
    EXPECT_TRUE(near(pixelAt(img, 3, 3), c.expected)) << c.what << ": " << std::hex << pixelAt(img, 3, 3);
  }
}

TEST(Jpeg, BadFilesAreRefusedAndKeepThePicture) {
  ASSERT_TRUE(saveJpeg(noise(64, 64), "whole.jpg"));
  const std::string whole = readAll("whole.jpg");
  writeAll("cut.jpg", whole.substr(0, whole.size() / 2));
  writeAll("empty.jpg", "");
  writeAll("text.jpg", "not a picture\n");
  writeAll("header.jpg", whole.substr(0, 2));  // start marker only
  writeAll("text.bmp", "not a picture\n");
  QImage bmp = newBitmap32(3, 3);
  bmp.save("fake.jpg", "BMP");  // another kind of picture under a JPEG name
  for (const char* name : {"missing.jpg", "cut.jpg", "empty.jpg", "text.jpg", "header.jpg", "fake.jpg",
                           "missing.bmp", "text.bmp"}) {
    QImage img = newBitmap32(2, 1);
    setPixelAt(img, 0, 0, 0x123456);
    EXPECT_FALSE(loadPicture(img, name)) << name;
    EXPECT_EQ(img.size(), QSize(2, 1)) << name;
    EXPECT_EQ(pixelAt(img, 0, 0), 0x123456) << name;
  }
}

TEST(Jpeg, BmpLoadsAsRgb32) {
  QImage src(5, 3, QImage::Format_Indexed8);
  src.setColorTable({qRgb(255, 255, 255), qRgb(255, 0, 0)});
  src.fill(0);
  src.setPixel(4, 2, 1);
  ASSERT_TRUE(src.save("pal.bmp", "BMP"));
  QImage img;
  ASSERT_TRUE(loadPicture(img, "pal.bmp"));
  EXPECT_EQ(img.format(), QImage::Format_RGB32);
  EXPECT_EQ(img.size(), QSize(5, 3));
  EXPECT_EQ(pixelAt(img, 4, 2), 0x0000FF);
  EXPECT_EQ(pixelAt(img, 0, 0), 0xFFFFFF);
}

TEST(Jpeg, UnwritableTargetsFail) {
  fs::remove("null.jpg");
  EXPECT_FALSE(saveJpeg(QImage(), "null.jpg"));
  EXPECT_FALSE(fs::exists("null.jpg"));
  EXPECT_FALSE(saveJpeg(newBitmap32(4, 4), "no/such/folder/x.jpg"));
  // A device that refuses every write: the failure shows, the device stays.
  if (fs::exists("/dev/full")) {
    EXPECT_FALSE(saveJpeg(noise(64, 64), "/dev/full"));
    EXPECT_TRUE(fs::exists("/dev/full"));
  }
}

// A write cut short (disk full, size limit) is reported and leaves no
// truncated JPEG behind.
TEST(Jpeg, ShortWriteLeavesNoFile) {
  fs::remove("big.jpg");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto oldHandler = signal(SIGXFSZ, SIG_IGN);
  rlimit small = old;
  small.rlim_cur = 2000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = saveJpeg(noise(128, 128), "big.jpg");
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(ok);
  EXPECT_FALSE(fs::exists("big.jpg"));
}
