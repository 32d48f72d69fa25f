// The "dsp p3d" layer preview and the white-shift pattern made from it, on
// hand-built jobs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "conversion_fixture.h"
#include "host/core/bitmaps.h"
#include "host/jobdata/layer_preview.h"
#include "host/jobdata/patterns.h"
#include "pattern_reading.h"

namespace ph::testing {
namespace {

const std::string kMarker = "\x1b*r1A\x1b*b2M\x1b*b";

// A plane with dots at the given x, as count, code and PackBits bytes.
std::string plane(std::initializer_list<int> xs, char code) {
  std::vector<std::uint8_t> bytes;
  for (int x : xs) {
    if (bytes.size() <= std::size_t(x / 8)) bytes.resize(std::size_t(x / 8) + 1);
    bytes[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
  }
  if (bytes.empty()) return std::string(1, code);
  const std::string packed = packBits(bytes);
  return std::to_string(packed.size()) + code + packed;
}

struct PreviewRig : ConversionRig {
  // The pattern print is not what these tests look at: nothing starts.
  struct Printer : PatternPrinter {
    bool startPatternPrint() override { return false; }
  } printer;
  LayerPreview preview{core, job};
  Patterns patterns{core, job, preview, printer};
  PreviewRig() { job.patternMode = true; }  // the job is "pattern.p3d"
  void writeJob(const std::string& bytes) const { std::ofstream(p3dPath(), std::ios::binary) << bytes; }
  int at(int x, int y) const { return pixelAt(preview.picture(), x, y); }
  bool show(int page) {
    preview.pageRequest = page;
    return preview.showLayer();
  }
};

// Layer 0: three rows skipped, then water at 10, cyan 11, magenta 12,
// yellow 13 and all four at 20. Layer 1: cyan at 30 in its first row.
std::string twoLayers() {
  return "head" + kMarker + "3y" + plane({10, 20}, 'v') + plane({11, 20}, 'v') + plane({12, 20}, 'v') +
         plane({13, 20}, 'w') + "0W" + kMarker + "v" + plane({30}, 'v') + "vW" + "tail";
}

TEST(LayerPreview, EachPlaneDarkensItsDot) {
  struct Case {
    const char* what;
    int page;
    bool blackPrint;
    int water, cyan, magenta, yellow, all;
  };
  const Case cases[] = {
      {"inks", 0, false, 0xF0F0F0, 0xFFFF0F, 0xFF0FFF, 0x0FFFFF, 0x000000},
      {"water left white", 10000, false, 0xFFFFFF, 0xFFFF0F, 0xFF0FFF, 0x0FFFFF, 0x0F0F0F},
      {"black printing", 0, true, 0xFFFFFF, 0xF0F0F0, 0xFFFFFF, 0xFFFFFF, 0xF0F0F0},
  };
  for (const Case& c : cases) {
    PreviewRig t;
    t.writeJob(twoLayers());
    t.core.s.blackPrint = c.blackPrint;
    ASSERT_TRUE(t.show(c.page));
    EXPECT_EQ(t.preview.page(), 0) << c.what;
    EXPECT_EQ(t.preview.picture().size(), QSize(900, 1000));
    EXPECT_EQ(t.at(10, 3), c.water) << c.what;
    EXPECT_EQ(t.at(11, 3), c.cyan) << c.what;
    EXPECT_EQ(t.at(12, 3), c.magenta) << c.what;
    EXPECT_EQ(t.at(13, 3), c.yellow) << c.what;
    EXPECT_EQ(t.at(20, 3), c.all) << c.what;
    EXPECT_EQ(t.at(10, 2), 0xFFFFFF) << c.what;
    EXPECT_EQ(t.at(30, 0), 0xFFFFFF) << c.what << ": layer 1 is not shown";
    EXPECT_EQ(t.ui.bitmapsShown, 1);
  }
}

TEST(LayerPreview, AskedPageAndAccumulateMode) {
  PreviewRig t;
  t.writeJob(twoLayers());
  t.ui.inputs = {"20001"};
  ASSERT_TRUE(t.preview.showLayer());
  EXPECT_EQ(t.ui.prompts.back(), "page");
  EXPECT_TRUE(t.preview.accumulate);
  EXPECT_EQ(t.preview.page(), 1);
  EXPECT_EQ(t.at(30, 0), 0xFFFF0F);
  // The next layer shown is laid over the ones before.
  ASSERT_TRUE(t.show(0));
  EXPECT_EQ(t.at(30, 0), 0xFFFF0F);
  EXPECT_EQ(t.at(11, 3), 0xFFFF0F);
  EXPECT_EQ(t.ui.lastBitmap.pixel(30, 0), t.preview.picture().pixel(30, 0));

  PreviewRig r;
  r.writeJob(twoLayers());
  r.preview.armAccumulate();
  EXPECT_TRUE(r.preview.accumulate);
}

TEST(LayerPreview, PageKeysInTheWindowStepThroughTheLayers) {
  PreviewRig t;
  t.writeJob(twoLayers());
  ASSERT_TRUE(t.show(0));
  ASSERT_TRUE(t.ui.bitmapStepper);
  const int shown = t.ui.bitmapsShown;
  t.ui.bitmapStepper(1);
  EXPECT_EQ(t.preview.page(), 1);
  EXPECT_EQ(t.at(30, 0), 0xFFFF0F);  // layer 1's cyan dot
  t.ui.bitmapStepper(-1);
  t.ui.bitmapStepper(-1);  // nothing before the first layer
  EXPECT_EQ(t.preview.page(), 0);
  EXPECT_EQ(t.at(11, 3), 0xFFFF0F);
  EXPECT_EQ(t.ui.bitmapsShown, shown + 3);
  EXPECT_EQ(t.ui.prompts.size(), 0u);  // no question asked on the way
}

TEST(LayerPreview, DamagedOrMissingLayersStopWithALogLine) {
  struct Case {
    const char* what;
    std::string bytes;
    int page;
    const char* logged;
  };
  const Case cases[] = {
      {"a plane past the file's end", kMarker + plane({10}, 'v') + "50v\x01\x80", 0, "the file ends inside row 0"},
      {"an oversized plane", kMarker + "99999999v", 0, "a plane row of"},
      {"no such layer", twoLayers(), 5, "the job has no layer 5"},
  };
  for (const Case& c : cases) {
    PreviewRig t;
    t.writeJob(c.bytes);
    EXPECT_TRUE(t.show(c.page)) << c.what;
    EXPECT_TRUE(t.logHas(c.logged)) << c.what;
  }
  PreviewRig t;
  t.writeJob(kMarker + plane({10}, 'v') + "50v\x01\x80");
  t.show(0);
  EXPECT_EQ(t.at(10, 0), 0xF0F0F0) << "what came before the damage is shown";
}

TEST(LayerPreview, StopsAtThePicturesLastRow) {
  PreviewRig t;
  std::string bytes = kMarker + "998y";
  for (int r = 0; r < 5; ++r) bytes += plane({899, 5}, 'v') + "vvw";
  t.writeJob(bytes + "W");
  ASSERT_TRUE(t.show(0));
  EXPECT_EQ(t.at(899, 998), 0xF0F0F0);
  EXPECT_EQ(t.at(5, 999), 0xF0F0F0);
}

TEST(LayerPreview, AJobThatDoesNotOpenIsToldAndTheViewerClosesOnItsTimer) {
  PreviewRig t;
  EXPECT_FALSE(t.show(0));
  ASSERT_FALSE(t.ui.messages.empty());
  EXPECT_NE(t.ui.messages.back().find("cannot read from file"), std::string::npos);

  t.core.timers.at("endbForm").start();
  t.clock.advance(1000);
  EXPECT_EQ(t.ui.bitmapsClosed, 1);
  EXPECT_FALSE(t.core.timers.at("endbForm").enabled());
  t.clock.advance(5000);
  EXPECT_EQ(t.ui.bitmapsClosed, 1);
}

TEST(WhiteShifts, WritesFortyFourSlantedPagesOfTheJob) {
  PreviewRig t;
  // Page 0: cyan at (50, 120), water at (300, 130); cyan at (60, 300) lies
  // below the rows the pattern takes.
  std::string bytes = kMarker + "120y" + "v" + plane({50}, 'v') + "vw" + "9y" + plane({300}, 'v') + "vvw" + "169y" +
                      "v" + plane({60}, 'v') + "vW";
  t.writeJob(bytes + kMarker + "0W");
  t.patterns.makeWhiteShiftJob();
  EXPECT_EQ(t.preview.pageRequest, -1);
  const auto layers = readPatternLayers(
      [&] {
        std::ifstream in(t.dir + "/blok123ww.p3d", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
      }());
  ASSERT_EQ(layers.size(), 44u);
  std::set<std::tuple<int, int, int>> dots;
  for (std::size_t l = 0; l < layers.size(); ++l) {
    ASSERT_EQ(layers[l].rows.size(), 136u);
    for (int y = 0; y < 136; ++y)
      for (int p = 0; p < 4; ++p)
        for (int x = 0; x < 900; ++x)
          if (dotAt(layers[l].rows[std::size_t(y)].planes[std::size_t(p)], x)) dots.insert({int(l) * 10 + p, x, y});
  }
  // Cyan as it stands (row 120 - 117); water read 2 dots up and left of
  // where it is written (s = -2 around x 300).
  EXPECT_EQ(dots, (std::set<std::tuple<int, int, int>>{{1, 50, 3}, {0, 302, 15}}));
}

TEST(WhiteShifts, WithoutAJobNothingIsWritten) {
  PreviewRig t;
  t.patterns.makeWhiteShiftJob();
  EXPECT_FALSE(std::filesystem::exists(t.dir + "/blok123ww.p3d"));
  EXPECT_EQ(t.preview.pageRequest, -1);
}

}  // namespace
}  // namespace ph::testing
