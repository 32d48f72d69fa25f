// The decoder's edge cases, the "pr dmc" viewer on converted and damaged
// jobs, and the print simulation on the manual clock.
#include "host/jobdata/dmc_viewer.h"

#include <gtest/gtest.h>

#include <QImage>

#include "conversion_fixture.h"
#include "host/core/bitmaps.h"
#include "tools_fixture.h"

namespace ph::testing {
namespace {

// ---- decoder ----

struct DecodeCase {
  const char* name;
  std::vector<std::uint8_t> data;
  std::vector<std::vector<std::pair<int, int>>> columns;  // (byte, value) of each column's non-zero bytes
};

std::vector<std::pair<int, int>> nonZero(const Column& c) {
  std::vector<std::pair<int, int>> out;
  for (int i = 0; i < 54; ++i)
    if (c[std::size_t(i)]) out.emplace_back(i, c[std::size_t(i)]);
  return out;
}

TEST(DmcDecoderCases, DecodeToTheirColumns) {
  std::vector<std::uint8_t> sixty{0xBC};
  for (int i = 1; i <= 60; ++i) sixty.push_back(std::uint8_t(i));
  std::vector<std::pair<int, int>> first54;
  for (int i = 0; i < 54; ++i) first54.emplace_back(i, i + 1);
  const DecodeCase cases[] = {
      {"one literal zero and 53 zeros: one empty column", {0x81, 0x00, 0x35}, {{}}},
      {"0xBC reads 60 bytes over the middle of the window", sixty, {first54}},
      {"0xBD, 0xBE read no byte", {0xBD, 0xBE, 0x81, 0x07, 0x35}, {{{0, 7}}}},
      {"unchanged bytes after a reset are zeros", {0x81, 0x09, 0x75}, {{{0, 9}}}},
      {"zero-run digits: 34 + 2 * 64, least significant first", {0x81, 0x04, 0x35, 0x80, 0x22, 0x02, 0x81, 0x05, 0x35},
       {{{0, 4}}, {}, {}, {}, {{0, 5}}}},
  };
  CoreFixture f;
  for (const auto& c : cases) {
    const auto cols = decodeStretch(f.core, c.data);
    ASSERT_EQ(cols.size(), c.columns.size()) << c.name;
    for (std::size_t i = 0; i < cols.size(); ++i) EXPECT_EQ(nonZero(cols[i]), c.columns[i]) << c.name << " column " << i;
  }
}

TEST(DmcDecoderCases, CombinedCodeAtTheEndOfAHalfStopsThereAndRunsOnInTheNext) {
  CoreFixture f;
  std::vector<std::uint8_t> bytes{0xB5};
  for (int i = 0; i < 53; ++i) bytes.push_back(0x20);
  bytes.insert(bytes.end(), {0xC5, 0x11, 0x31, 0xBF});
  std::FILE* file = fmemopen(bytes.data(), bytes.size(), "rb");
  DmcDecoder d(f.core);
  d.dmcFile = file;
  d.resetDecoder();
  d.decoding = true;
  d.decodeDmcStep();  // the 53 literals
  EXPECT_FALSE(d.columnReady);
  d.decodeDmcStep();  // 0xC5: its literal ends the half, 5 unchanged bytes wait
  ASSERT_TRUE(d.columnReady);
  EXPECT_FALSE(d.columnEmpty);
  EXPECT_EQ(d.completedColumn()[53], 0x11);
  EXPECT_EQ(d.pendingUnchanged(), 5);
  d.decodeDmcStep();
  EXPECT_FALSE(d.columnReady);
  EXPECT_EQ(d.pendingUnchanged(), 0);
  d.decodeDmcStep();  // 49 zeros wait
  EXPECT_EQ(d.pendingZeros(), 49);
  d.decodeDmcStep();  // and complete the second half
  EXPECT_TRUE(d.columnReady);
  EXPECT_TRUE(d.columnEmpty);
  std::fclose(file);
}

// ---- viewer ----

struct ViewerTest : ConversionFixture {
  DmcViewer viewer{core, job, *conv};
  Control& simloop() { return core.controls.at("simloop1"); }
  ViewerTest() {
    core.controls.add(Control::Kind::MenuItem, "simloop1", "simloop1", "options1").checkable = true;
  }
  int countLog(const std::string& text) const {
    int n = 0;
    for (const auto& l : log()) n += l.find(text) != std::string::npos;
    return n;
  }
};

// A layer with one cyan dot and one water dot, 5 rows down.
P3dJob cyanAndWaterJob(int layers = 1) {
  P3dJob job;
  for (int l = 0; l < layers; ++l) {
    job.beginLayer();
    job.emptyRows(5);
    P3dRow r = P3dRow::dot(1, 300);
    r.set(0, 600);
    job.row(r);
    job.endLayer();
  }
  job.finish();
  return job;
}

TEST_F(ViewerTest, ConvertsAStaleJobAndPaintsItsDotsInTheirColours) {
  write(cyanAndWaterJob());
  ui.inputs.push_back("1");
  viewer.showStretch();
  EXPECT_TRUE(job.dmcCurrent);  // converted first
  ASSERT_EQ(ui.prompts, std::vector<std::string>{"display_strook"});
  ASSERT_EQ(ui.bitmapsShown, 1);
  EXPECT_TRUE(ui.lastBitmapModal);
  EXPECT_EQ(ui.lastBitmap.size(), QSize(1600, 300));
  const auto counts = colourCounts(ui.lastBitmap);
  // Cyan takes red away from white; water is grey; the yellow line marks
  // where the first stretch ended.
  EXPECT_EQ(counts.count(0xFFFF00), 1u);
  EXPECT_EQ(counts.count(0xC0C0C0), 1u);
  EXPECT_GT(counts.count(0x00FFFF), 0u);
  EXPECT_TRUE(logHas("stretch= 1 "));
  EXPECT_TRUE(logHas("stretch= 2 "));
  EXPECT_EQ(countLog("minblacky="), 2);
}

TEST_F(ViewerTest, NegativeNumberShowsTheLastTwoStretchesOfTheFirstLayer) {
  convert(cyanAndWaterJob(2));
  ASSERT_EQ(conv->layout.stretchesPerLayer, 2);
  ui.inputs.push_back("-1");
  viewer.showStretch();
  EXPECT_TRUE(logHas("stretch= 1 "));
  EXPECT_TRUE(logHas("stretch= 2 "));
  EXPECT_FALSE(logHas("stretch= 3 "));
  EXPECT_EQ(viewer.displayStretch, -1);
}

TEST_F(ViewerTest, DamagedFilesStopWithALogLine) {
  struct Case {
    const char* name;
    std::string bytes;
    const char* line;
  };
  const Case cases[] = {
      {"a length past the end", dmcBytes({{"00", '{', "\x81\x05\x35", 20000}}), "runs past the end of the file"},
      {"a header cut off", dmcBytes({{"00", '{', "\x81\x05\x35"}}, false) + "\xBF" "0000", "cut off by the end"},
      {"a length that is no number", dmcBytes({{"00", '{', "\x81\x05\x35"}}, false) + "\xBF" "00abcdef}",
       "has no length"},
      {"data running past its record", dmcBytes({{"00", '{', "\x81\x05\x35", 11}, {"00", '}', ""}}), "the file is damaged"},
      {"data without its end code", dmcBytes({{"00", '{', "\x81\x05\x35"}}, false), "uncompress fout"},
  };
  job.dmcCurrent = true;
  for (const auto& c : cases) {
    writeBytes(dmcPath(), c.bytes);
    core.Memo1.clear();
    EXPECT_TRUE(viewer.paintStretches(1)) << c.name;
    EXPECT_TRUE(logHas(c.line)) << c.name;
  }
}

TEST_F(ViewerTest, SimulationStepsWithoutAskingAndSavesTheCrossSectionsOnAbort) {
  // Water in every dot of 200 rows: the middle of every stretch is inked.
  P3dJob j;
  j.beginLayer();
  P3dRow full;
  full.planes[0].assign(300, 0xFF);
  for (int r = 0; r < 200; ++r) j.row(full);
  j.endLayer();
  j.finish();
  convert(j);
  ASSERT_GE(conv->layout.stretchesPerLayer, 3);
  simloop().checked = true;
  viewer.applySimulationSwitch();
  EXPECT_TRUE(core.timers.at("PrintSim").running());
  clock.advance(200);
  EXPECT_EQ(ui.bitmapsShown, 1);
  EXPECT_FALSE(ui.lastBitmapModal);
  EXPECT_TRUE(ui.prompts.empty());
  EXPECT_EQ(viewer.displayStretch, 2);
  clock.advance(200);
  EXPECT_EQ(ui.bitmapsShown, 1);  // every second tick
  core.requestAbort();
  clock.advance(200);
  EXPECT_FALSE(simloop().checked);
  EXPECT_FALSE(core.timers.at("PrintSim").running());
  EXPECT_EQ(countLog("x="), 46);
  // Stretch 2, the second of layer 0, left its strip at x 0, rows 128 on.
  EXPECT_TRUE(logHas("x=0 y=128"));
  EXPECT_TRUE(logHas("x=1 y=255"));
  QImage saved;
  ASSERT_TRUE(saved.load(QString::fromStdString(dir + "/dmcseq.bmp")));
  EXPECT_EQ(saved.size(), QSize(2000, 256));
}

TEST_F(ViewerTest, SimulationEndsWhenTheJobCannotBeRead) {
  job.dmcCurrent = true;  // and no .dmc in the work folder
  simloop().checked = true;
  viewer.applySimulationSwitch();
  clock.advance(200);
  EXPECT_EQ(ui.messages.size(), 1u);  // the failed read is told
  EXPECT_EQ(ui.bitmapsShown, 0);
  clock.advance(400);
  EXPECT_FALSE(simloop().checked);
  EXPECT_FALSE(core.timers.at("PrintSim").running());
}

}  // namespace
}  // namespace ph::testing
