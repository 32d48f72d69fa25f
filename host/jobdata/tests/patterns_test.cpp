// Test and alignment patterns: PackBits rows, the raster rows of a picture,
// the pictures and the jobs written, read back by an independent reader
// and by the host's conversion.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <random>
#include <set>

#include "conversion_fixture.h"
#include "host/core/bitmaps.h"
#include "host/jobdata/layer_preview.h"
#include "host/jobdata/patterns.h"
#include "job_dots.h"
#include "pattern_reading.h"

namespace ph::testing {
namespace {

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// PackBits decoded independently of the host's readers.
std::vector<std::uint8_t> unpackBytes(const std::uint8_t* p, int n) {
  std::vector<std::uint8_t> out;
  for (int i = 0; i < n;) {
    const int h = std::int8_t(p[i++]);
    if (h < 0) {
      out.insert(out.end(), std::size_t(1 - h), p[i++]);
    } else {
      for (int k = 0; k <= h; ++k) out.push_back(p[i++]);
    }
  }
  return out;
}

TEST(PackBitsRow, FixedCases) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> in, out;
  };
  const std::vector<Case> cases{
      {"125 zero bytes: one repeat run", std::vector<std::uint8_t>(125, 0), {0x84, 0x00}},
      {"a trailing zero run is dropped", {1, 2, 0, 0, 0, 0}, {0x01, 1, 2}},
      {"a literal that ends in FE 00 is no zero run", {5, 6, 0xFE, 0x00}, {0x03, 5, 6, 0xFE, 0x00}},
      {"two equal bytes stay literal", {7, 7, 8}, {0x02, 7, 7, 8}},
      {"a repeat between literals", {1, 9, 9, 9, 2}, {0x00, 1, 0xFE, 9, 0x00, 2}},
      {"a short result keeps its zero run", {0, 0, 0}, {0xFE, 0x00}},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> out(c.in.size() + 8);
    const int n = packBitsRow(out.data(), c.in.data(), int(c.in.size()));
    out.resize(std::size_t(n));
    EXPECT_EQ(out, c.out) << c.what;
  }
}

TEST(PackBitsRow, DecodesToTheRowOnGeneratedRows) {
  std::mt19937 random(7);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 1 + int(random() % 300);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(n));
    // Runs of every length, of zeros and of other bytes.
    for (std::size_t i = 0; i < row.size();) {
      const std::size_t run = 1 + random() % (random() % 4 == 0 ? 200 : 4);
      const std::uint8_t v = random() % 3 == 0 ? 0 : std::uint8_t(random());
      for (std::size_t k = 0; k < run && i < row.size(); ++k) row[i++] = v;
    }
    const std::size_t room = std::size_t(n + n / 128 + 2);
    std::vector<std::uint8_t> out(room + 16, 0xEE);
    const int len = packBitsRow(out.data(), row.data(), n);
    ASSERT_LE(len, int(room));
    for (std::size_t k = room; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << "written past the room";
    const auto back = unpackBytes(out.data(), len);
    // What the packing left off can only be zeros.
    ASSERT_LE(back.size(), row.size());
    ASSERT_TRUE(std::equal(back.begin(), back.end(), row.begin())) << "trial " << trial;
    for (std::size_t k = back.size(); k < row.size(); ++k) ASSERT_EQ(row[k], 0) << "trial " << trial;
  }
}

TEST(PictureToRasterRows, WritesTheLayerByteForByte) {
  QImage picture = newBitmap32(16, 2);
  setPixelAt(picture, 0, 0, kPatternCyan);   // cyan only
  setPixelAt(picture, 9, 0, kPatternGrey);   // water only
  setPixelAt(picture, 15, 0, 0x0F0F0F);      // all colours, no water
  std::string out;
  pictureToRasterRows(picture, 0, 1, out, false);
  const std::string want = std::string(12, ' ') + "\x1b*r1A\x1b*b2M\x1b*b" + "wwwwwwwwww102y" +
                           std::string("3v\x01\x00\x40", 5) +            // water: x 9
                           std::string("3v\x01\x80\x01", 5) +            // cyan: x 0 and x 15
                           std::string("3v\x01\x00\x01", 5) +            // magenta: x 15
                           std::string("3w\x01\x00\x01", 5) +            // yellow: x 15
                           "vvvW";                                       // an empty last row
  EXPECT_EQ(out, want);
}

TEST(PictureToRasterRows, SlantShiftsOnlyTheWaterPlaneAndReadsWhiteOutside) {
  // Grey (water) at (2, 0) and (6, 6): with slant, water dot x > 5 reads
  // (x + s, y + s), s = -4 near the left edge.
  QImage picture = newBitmap32(16, 8);
  setPixelAt(picture, 2, 0, kPatternGrey);
  setPixelAt(picture, 6, 6, kPatternGrey & kPatternCyan);  // water and cyan
  std::string out;
  pictureToRasterRows(picture, 0, 7, out, true);
  const auto layers = readPatternLayers(out);
  ASSERT_EQ(layers.size(), 1u);
  std::set<std::pair<int, int>> water, cyan;
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 16; ++x) {
      if (dotAt(layers[0].rows[std::size_t(y)].planes[0], x)) water.insert({x, y});
      if (dotAt(layers[0].rows[std::size_t(y)].planes[1], x)) cyan.insert({x, y});
    }
  // (2, 0) unshifted (x <= 5) and again at (6, 4); (6, 6) would need (10, 10)
  // read outside the picture: white, so no water there.
  EXPECT_EQ(water, (std::set<std::pair<int, int>>{{2, 0}, {6, 4}}));
  EXPECT_EQ(cyan, (std::set<std::pair<int, int>>{{6, 6}}));
}

TEST(PatternDrawing, SnakeIndexRunsBackOnOddRows) {
  EXPECT_EQ(snakeIndex(0), 0);
  EXPECT_EQ(snakeIndex(31), 31);
  EXPECT_EQ(snakeIndex(32), 63);
  EXPECT_EQ(snakeIndex(63), 32);
  EXPECT_EQ(snakeIndex(64 + 5), 69);
  EXPECT_EQ(snakeIndex(96 + 5), 96 + 26);
}

TEST(PatternDrawing, MaskModeCombinesAndLinesLeaveOutTheirEnd) {
  PatternCanvas c(20, 5);
  c.clear(kPatternWhite);
  c.maskMode = true;
  fillRows(c, kPatternCyan, 2, 1, 8, 3);
  fillRows(c, kPatternMagenta, 5, 2, 10, 4);
  EXPECT_EQ(pixelAt(c.picture, 1, 1), kPatternWhite);
  EXPECT_EQ(pixelAt(c.picture, 2, 1), kPatternCyan);
  EXPECT_EQ(pixelAt(c.picture, 7, 1), kPatternCyan);
  EXPECT_EQ(pixelAt(c.picture, 8, 1), kPatternWhite) << "a line leaves out its end point";
  EXPECT_EQ(pixelAt(c.picture, 2, 3), kPatternWhite) << "rows y0 .. y1 - 1";
  EXPECT_EQ(pixelAt(c.picture, 6, 2), kPatternCyan & kPatternMagenta) << "overlap: AND";
  EXPECT_EQ(pixelAt(c.picture, 9, 3), kPatternMagenta);
}

// The print sequencer's start, as the test plays it: nothing starts.
struct PlayedPrinter : PatternPrinter {
  std::function<bool()> start = [] { return false; };
  bool startPatternPrint() override { return start(); }
};

struct PatternRig : ConversionRig {
  LayerPreview preview{core, job};
  PlayedPrinter printer;
  Patterns patterns{core, job, preview, printer};
  std::string file(const std::string& name) const { return dir + "/" + name; }
};

// The plane dots of a picture row by the colour tests.
std::array<bool, 4> planeDots(int colour) {
  return {(colour & 0x010101) == 0, (colour & 0xF0) == 0, (colour & 0xF000) == 0, (colour & 0xF00000) == 0};
}

PlaneDots pictureDots(const QImage& p) {
  PlaneDots d{};
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const auto dots = planeDots(pixelAt(p, x, y));
      for (std::size_t k = 0; k < 4; ++k) d[k] += dots[k];
    }
  return d;
}

TEST(Patterns, AlignColumnsPatternIsReadAndConvertedByTheHost) {
  for (bool water : {false, true}) {
    PatternRig t;
    t.patterns.makeColourAlignment(water);
    const QImage& picture = t.patterns.picture();
    ASSERT_EQ(picture.size(), QSize(600, 300));
    EXPECT_EQ(pixelAt(picture, 15, 20), water ? kPatternGrey : (kPatternCyan & 0xF0F0F0))
        << "the base colour's dash";
    const std::string bytes = readText(t.file("pattern.p3d"));
    const auto layers = readPatternLayers(bytes);
    ASSERT_EQ(layers.size(), 3u);
    for (const auto& l : layers) EXPECT_EQ(l.rows.size(), 300u);
    const PlaneDots want = pictureDots(picture);
    EXPECT_GT(want[0], 1000);
    EXPECT_GT(want[3], 1000);
    const auto dots = p3dLayerDots(bytes);
    ASSERT_EQ(dots.size(), 3u);
    for (const auto& d : dots) EXPECT_EQ(d, want);

    // The pattern print converts "pattern.p3d" into "pattern.dmc".
    t.job.patternMode = true;
    ASSERT_EQ(t.p3dPath(), t.file("pattern.p3d"));
    const ConversionOutcome outcome = t.conv->convertJob();
    ASSERT_TRUE(outcome.converted()) << outcome.message;
    EXPECT_EQ(t.conv->layout.printpages, 3);
    const auto fired = dmcLayerBits(t.core, t.dmc(), t.core.s.band64);
    ASSERT_GE(fired.size(), 3u);
    for (int l = 0; l < 3; ++l) EXPECT_EQ(fired[std::size_t(l)], expectedBits(want, 64, false, false)) << l;
  }
}

TEST(Patterns, AlignmentCrossesTakeExactColoursAfterAMargin) {
  PatternRig t;
  t.patterns.makeAlignmentPattern();
  EXPECT_TRUE(t.logHas("clAqua=00FFFF00 clFuchsia=00FF00FF clYellow=0000FFFF"));
  const auto layers = readPatternLayers(readText(t.file("allignpat.p3d")));
  ASSERT_EQ(layers.size(), 1u);
  ASSERT_EQ(layers[0].rows.size(), 128u) << "two passes of 64 rows in one layer, ended once";
  // The second pass (rows 64..127) is the picture shown.
  const QImage& p = t.patterns.picture();
  const int exact[4] = {0, kPatternCyan, kPatternMagenta, kPatternYellow};
  int dots = 0;
  for (int y = 0; y < 64; ++y)
    for (int plane = 0; plane < 4; ++plane) {
      const auto& bytes = layers[0].rows[std::size_t(64 + y)].planes[std::size_t(plane)];
      if (bytes.empty()) continue;
      ASSERT_GE(bytes.size(), 17u);
      for (int b = 0; b < 17; ++b) ASSERT_EQ(bytes[std::size_t(b)], 0) << "margin";
      for (int x = 0; x < 600; ++x) {
        ASSERT_EQ(dotAt(bytes, 136 + x), pixelAt(p, x, y) == exact[plane]) << x << "," << y << " plane " << plane;
        dots += dotAt(bytes, 136 + x);
      }
    }
  EXPECT_GT(dots, 500);
  // Width 3 in the second pass: the first cross's arm covers rows 5..7.
  EXPECT_EQ(pixelAt(p, 8, 5), kPatternYellow);
  EXPECT_EQ(pixelAt(p, 8, 7), kPatternYellow);
}

// The first row from `from` on at column x where the picture has magenta.
int firstMagentaRow(const QImage& p, int x, int from) {
  for (int y = from; y < p.height(); ++y)
    if ((pixelAt(p, x, y) & 0xF000) == 0) return y;
  return -1;
}

TEST(Patterns, RibsShiftByTheirStepAndTakeTheWaterLineWidth) {
  struct Case {
    int tag, lineWidth, top, step, greyRows;
  };
  for (const Case c : {Case{0, 12, 10, 2, 12}, Case{8, 12, 10, 4, 12}, Case{0, 2, 10, 2, 2}, Case{4, 12, 268, 2, 12}}) {
    PatternRig t;
    t.patterns.setWaterLineWidth(c.lineWidth);
    t.patterns.makeRibs(c.tag);
    const QImage& p = t.patterns.picture();
    for (int i = 0; i <= 4; ++i) {
      const int x = 10 + 100 * i;
      EXPECT_EQ(firstMagentaRow(p, x + 50, c.top - 10), c.top + (i - 2) * c.step) << "tag " << c.tag << " rib " << i;
      int grey = 0;
      for (int y = c.top - 2; y < c.top + 14; ++y) grey += pixelAt(p, x + 20, y) == kPatternGrey;
      EXPECT_EQ(grey, c.greyRows) << "tag " << c.tag << " rib " << i;
    }
    const auto layers = readPatternLayers(readText(t.file("pattern.p3d")));
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].rows.size(), 386u);
    EXPECT_FALSE(t.job.dmcCurrent);
  }
}

TEST(Patterns, RibsAreCutToThePrintRoom) {
  PatternRig t;
  t.core.s.yvHi = t.core.s.yvLow + 100;  // 1181 dots - 716 - 20 + 426 - 426 + 2 - 64 = 383
  t.patterns.makeRibs(0);
  EXPECT_EQ(t.patterns.picture().width(), 383);
  EXPECT_TRUE(t.logHas("targetw=383"));
  const auto layers = readPatternLayers(readText(t.file("pattern.p3d")));
  ASSERT_EQ(layers.size(), 1u);
  for (const auto& row : layers[0].rows)
    for (const auto& plane : row.planes) ASSERT_LE(plane.size(), 48u);

  t.core.s.yvHi = t.core.s.yvLow;  // no room at all: nothing is written
  std::filesystem::remove(t.file("pattern.p3d"));
  t.patterns.makeRibs(0);
  EXPECT_FALSE(std::filesystem::exists(t.file("pattern.p3d")));
  EXPECT_TRUE(t.logHas("no room for the pattern"));
}

TEST(Patterns, SlantLinesWriteOneLayerAndMakeTheDmcStale) {
  PatternRig t;
  t.job.dmcCurrent = true;
  t.patterns.makeSlantLines();
  const auto layers = readPatternLayers(readText(t.file("pattern.p3d")));
  ASSERT_EQ(layers.size(), 1u);
  EXPECT_EQ(layers[0].rows.size(), 386u);
  EXPECT_FALSE(t.job.dmcCurrent);
  // The first band's cyan line starts at (80, 8) and rises to (80, 0).
  EXPECT_EQ(pixelAt(t.patterns.picture(), 80, 4), kPatternCyan);
  EXPECT_EQ(t.ui.bitmapsShown, 1);
}

TEST(Patterns, AllColoursPictureHoldsEveryFifteenBitColourOnce) {
  PatternRig t;
  t.patterns.makeColourTable();
  QImage saved;
  ASSERT_TRUE(loadPicture(saved, t.file("all32kcolors.bmp")));
  ASSERT_EQ(saved.size(), QSize(128, 256));
  std::set<int> colours;
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 128; ++x) {
      const int c = pixelAt(saved, x, y);
      ASSERT_EQ(c & 0x070707, 0);
      colours.insert(c);
      // Neighbours differ in one channel, by one step within a block.
      if (x > 0) {
        const int d = c ^ pixelAt(saved, x - 1, y);
        ASSERT_EQ(((d & 0xFF) != 0) + ((d & 0xFF00) != 0) + ((d & 0xFF0000) != 0), 1) << x;
      }
    }
  EXPECT_EQ(colours.size(), 32768u);
}

TEST(Patterns, WaterLineWidthTakesOneToTwelve) {
  PatternRig t;
  t.ui.inputs = {"6", "13", "0"};
  t.patterns.askWaterLineWidth();
  EXPECT_EQ(t.patterns.waterLineWidth(), 6);
  t.patterns.askWaterLineWidth();
  EXPECT_EQ(t.patterns.waterLineWidth(), 6);
  EXPECT_TRUE(t.logHas("waterLineWidth 13 refused"));
  t.patterns.askWaterLineWidth();
  EXPECT_EQ(t.patterns.waterLineWidth(), 6);
}

TEST(Patterns, AFailedWriteIsToldAndLeavesNoPiece) {
  PatternRig t;
  // A folder in the file's place cannot be replaced.
  std::filesystem::create_directories(t.file("pattern.p3d") + "/keep");
  t.patterns.makeSlantLines();
  ASSERT_FALSE(t.ui.messages.empty());
  EXPECT_NE(t.ui.messages.back().find("unable to write to file"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(t.file("pattern.p3d.part")));
  EXPECT_TRUE(std::filesystem::exists(t.file("pattern.p3d") + "/keep"));
}

TEST(Patterns, PatternPrintGoesToTheSequencer) {
  PatternRig t;
  bool modeSeen = false, starts = true;
  t.printer.start = [&] {
    modeSeen = t.job.patternMode && !t.job.dmcCurrent;
    return starts;
  };
  t.job.dmcCurrent = true;
  t.patterns.printPattern();
  EXPECT_TRUE(modeSeen);
  EXPECT_TRUE(t.job.patternMode);
  // A print the sequencer refuses leaves the job's own work files in use.
  starts = false;
  t.patterns.printPattern();
  EXPECT_FALSE(t.job.patternMode);
}

}  // namespace
}  // namespace ph::testing
