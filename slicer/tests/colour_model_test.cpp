// Colours to drop amounts, the colour cube and the dither patterns.
#include "slicer/colour_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <set>

#include "slicer/dither_patterns.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

int bits(const PlanePattern& p) {
  if (!p.patterned) return p.constant == 255 ? 64 : 0;
  int n = 0;
  for (auto r : p.rows) n += std::popcount(unsigned(r));
  return n;
}

constexpr std::uint16_t rgb(int r, int g, int b) { return std::uint16_t(0x8000 | r << 10 | g << 5 | b); }

}  // namespace

TEST(ColourModel, AmountsOfWhiteAndBlack) {
  const ColourCube& cube = ColourCube::standard();
  EXPECT_EQ(cube.entry[215], 14959);
  // White needs no colour: all drops are water.
  EXPECT_EQ(colourAmounts(rgb(31, 31, 31), cube, 48, 0.5), (InkAmounts{48, 0, 0, 0}));
  // Black is 62 per ink before the cube; cell (5, 5, 5) and its neighbours
  // towards (4, 5, 5), (5, 4, 5), (5, 5, 4) give the corrected amounts.
  const InkAmounts black = colourAmounts(rgb(0, 0, 0), cube, 64, 0.5);
  EXPECT_EQ(black[kCyan], 27);
  EXPECT_EQ(black[kMagenta], 36);
  EXPECT_EQ(black[kYellow], 29);
  EXPECT_EQ(black[kWater], 18);  // 64 - round(92 x 0.5)
  // More colour than spix allows leaves no water.
  EXPECT_EQ(colourAmounts(rgb(0, 0, 0), cube, 20, 1.0)[kWater], 0);
}

TEST(ColourModel, CubeCorrectionFollowsTheCubeItself) {
  // An identity cube (each entry its own grid point x 63/5/2) hands the
  // amounts back up to rounding; a cube of one constant hands it back.
  ColourCube flat;
  flat.entry.fill(std::uint16_t(7 << 10 | 9 << 5 | 11));
  EXPECT_EQ(cubeCorrected(flat, {13, 40, 62}), (std::array<int, 3>{14, 18, 22}));
  ColourCube id;
  for (int c = 0; c < 6; ++c)
    for (int m = 0; m < 6; ++m)
      for (int y = 0; y < 6; ++y) {
        auto f = [](int a) { return std::min(31, (63 * a / 5 + 1) / 2); };
        id.entry[std::size_t(c * 36 + m * 6 + y)] = std::uint16_t(f(c) << 10 | f(m) << 5 | f(y));
      }
  for (int k : {0, 7, 13, 31, 50, 62}) {
    const auto out = cubeCorrected(id, {k, k, k});
    EXPECT_NEAR(out[0], k, 1) << k;
  }
}

TEST(ColourModel, CubeFile) {
  ScratchDir dir;
  std::string text;
  for (int i = 0; i < 216; ++i) text += std::to_string(i) + "\r\n";
  writeFile(dir / "cube.txt", text);
  std::string error;
  auto c = readColourCube(dir / "cube.txt", error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->entry[0], 0);
  EXPECT_EQ(c->entry[215], 215);

  struct Bad {
    std::string content, words;
  } bad[] = {{"1\n2\n", "ends after 2 of 216"}, {"1\n2\n3\n4\n5\n6\nx7\n" + text, "line 7 is not a cube entry: x7"}};
  for (const auto& b : bad) {
    writeFile(dir / "bad.txt", b.content);
    error.clear();
    EXPECT_FALSE(readColourCube(dir / "bad.txt", error));
    EXPECT_NE(error.find(b.words), std::string::npos) << error;
  }
  EXPECT_FALSE(readColourCube(dir / "missing.txt", error));
}

TEST(DitherPatterns, PositionsFollowTheBitPairs) {
  const DitherPosition first[] = {{0, 0}, {4, 4}, {4, 0}, {0, 4}, {2, 2}};
  for (int d = 0; d < 5; ++d) {
    EXPECT_EQ(ditherPosition(d).column, first[d].column) << d;
    EXPECT_EQ(ditherPosition(d).row, first[d].row) << d;
  }
  std::set<int> seen;
  for (int d = 0; d < 64; ++d) seen.insert(ditherPosition(d).row * 8 + ditherPosition(d).column);
  EXPECT_EQ(seen.size(), 64u);
}

TEST(DitherPatterns, AmountsBecomeDotsThatTheInksShare) {
  const struct {
    int amount, dots;
    bool patterned;
  } cases[] = {{0, 0, false}, {-3, 0, false}, {1, 1, true}, {61, 61, true}, {62, 64, false}, {90, 64, false}};
  for (const auto& c : cases) {
    const ColourPattern p = buildPatterns({0, 0, c.amount, 0}, 0);
    EXPECT_EQ(bits(p[kMagenta]), c.dots) << c.amount;
    EXPECT_EQ(p[kMagenta].patterned, c.patterned) << c.amount;
  }
  // Magenta, cyan, yellow, water take consecutive dither numbers: within 64
  // drops no dot gets two inks.
  const ColourPattern p = buildPatterns({10, 20, 14, 20}, 3);
  for (int r = 0; r < 8; ++r) {
    const unsigned w = p[kWater].rows[r], c = p[kCyan].rows[r], m = p[kMagenta].rows[r], y = p[kYellow].rows[r];
    EXPECT_EQ(std::popcount(w) + std::popcount(c) + std::popcount(m) + std::popcount(y),
              std::popcount(w | c | m | y));
  }
  EXPECT_EQ(bits(p[kWater]) + bits(p[kCyan]) + bits(p[kMagenta]) + bits(p[kYellow]), 64);
  // Magenta comes first: dither number 0 is dot (0, 0) shifted by 3.
  EXPECT_TRUE(p[kMagenta].rows[3] & (1 << 3));
}

TEST(DitherPatterns, InteriorWater) {
  Palette pal;
  ColourTables t;
  t.build(pal, ColourCube::standard(), {64, 64, 0.5});
  EXPECT_FALSE(t.pattern(kSupportIndex)[kWater].patterned);
  EXPECT_EQ(t.pattern(kSupportIndex)[kWater].constant, 255);
  t.build(pal, ColourCube::standard(), {63, 64, 0.5});
  EXPECT_EQ(bits(t.pattern(kSupportIndex)[kWater]), 31);
  EXPECT_EQ(bits(t.pattern(kSupportIndex)[kCyan]), 0);
}

// A colour walks its pattern rows while it has been used within the last
// five rows; every page starts from row 0, shifted one dot further.
TEST(DitherPatterns, PagePatternsWalkWhileUsedAndShiftPerPage) {
  Palette pal;
  pal.assign(rgb(16, 31, 31));  // index 1: about half the cyan drops
  ColourTables t;
  t.build(pal, ColourCube::standard(), {64, 64, 0.5});
  const PlanePattern& base = t.pattern(1)[kCyan];
  ASSERT_TRUE(base.patterned);
  auto shifted = [&](int row, int s) {
    const unsigned b = base.rows[std::size_t((row - s) & 7)];
    return std::uint8_t(b << s | b >> ((8 - s) & 7));
  };
  PagePatterns p(t);
  p.startPage(0);
  EXPECT_EQ(p.planeByte(1, kCyan), base.rows[0]);
  p.use(1);
  for (int row = 1; row <= 5; ++row) {
    p.advance();
    EXPECT_EQ(p.planeByte(1, kCyan), base.rows[std::size_t(row)]) << row;
  }
  p.advance();  // unused for more than five rows: stands still
  p.advance();
  EXPECT_EQ(p.planeByte(1, kCyan), base.rows[5]);

  p.startPage(1);  // the next page: from row 0 again, one column and row on
  EXPECT_EQ(p.planeByte(1, kCyan), shifted(0, 1));
  p.use(1);
  p.advance();
  EXPECT_EQ(p.planeByte(1, kCyan), shifted(1, 1));
  // The shifted page's pattern is the same dots moved by (1, 1).
  ColourPattern direct = buildPatterns(t.amounts(1), 1);
  for (int r = 0; r < 8; ++r) EXPECT_EQ(direct[kCyan].rows[std::size_t(r)], shifted(r, 1)) << r;
}

TEST(ColourModel, BitmapColourHelpers) {
  Palette pal;
  pal.assign(rgb(31, 31, 31));
  EXPECT_EQ(nearestPaletteIndex(pal, rgb(0, 0, 0)), 2);  // fewer than two entries
  pal.assign(rgb(31, 0, 0));
  pal.assign(rgb(0, 0, 30));
  pal.assign(rgb(0, 0, 31));
  EXPECT_EQ(nearestPaletteIndex(pal, rgb(2, 0, 29)), 3);  // 3 and 4 equally near: the first
  EXPECT_EQ(nearestPaletteIndex(pal, rgb(25, 3, 0)), 2);
  EXPECT_EQ(windowToColour(0x0000FF), rgb(31, 0, 0));
  EXPECT_EQ(windowToColour(0x80FF08), rgb(1, 31, 16));
}
