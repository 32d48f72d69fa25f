// The job-data tools on small jobs, converted or built by hand: the files
// they write, byte for byte where their layout is fixed, and how they stop
// on damaged files and failed writes.
#include "host/jobdata/job_tools.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "conversion_fixture.h"
#include "host/core/bitmaps.h"
#include "tools_fixture.h"

namespace ph::testing {
namespace {

struct ToolsTest : ConversionFixture {
  struct Print : DmcHolder {
    bool holds = false;
    bool printHoldsDmc() const override { return holds; }
  } print;
  JobTools tools{core, job, *conv, print};
  std::string work(const std::string& name) const { return dir + "/" + name; }
};

// ---- shortp3d ----

P3dJob tailJob(int tailRows) {
  P3dJob j;
  for (int l = 0; l < 2; ++l) {
    j.beginLayer();
    j.emptyRows(4);
    j.row(P3dRow::dot(1, 50));
    j.endLayer(tailRows);
  }
  j.finish();
  return j;
}

TEST_F(ToolsTest, ShortP3dKeepsTwoRowEndsBeforeEachLayerEnd) {
  write(tailJob(10));
  tools.shortenJobP3d();
  // The printed row's own end and one empty row.
  EXPECT_EQ(fileText(work("!bshorted.p3d")), tailJob(1).bytes());
  EXPECT_TRUE(logHas("file: " + p3dPath()));
}

TEST_F(ToolsTest, ShortP3dRefusesAJobCutInsideARowAndKeepsTheEarlierCopy) {
  writeBytes(work("!bshorted.p3d"), "earlier");
  P3dJob j;
  j.beginLayer();
  j.raw("12v\x0b\x01");  // 12 bytes announced, 2 there
  writeBytes(p3dPath(), j.bytes());
  tools.shortenJobP3d();
  EXPECT_TRUE(logHas("runs past the end of the file"));
  EXPECT_EQ(fileText(work("!bshorted.p3d")), "earlier");
  EXPECT_FALSE(std::filesystem::exists(work("!bshorted.p3d.part")));
}

TEST_F(ToolsTest, ShortP3dWithoutAJobSaysSo) {
  tools.shortenJobP3d();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "no file: " + p3dPath());
  EXPECT_FALSE(core.abortRequested());
}

// ---- dmccount ----

TEST_F(ToolsTest, DmcCountAfterAConversionWithoutPowderReduce) {
  convert(tailJob(3));
  core.Memo1.clear();
  tools.logStretchCount();
  ASSERT_EQ(log().size(), 1u);
  EXPECT_NE(log()[0].find("countdmcstretches()="), std::string::npos);
  EXPECT_NE(log()[0].find(" skippedStretch=0"), std::string::npos);
}

// ---- dmc2rhino ----

// A forward stretch of 32 mm, a backward one of 16, the layer end, an empty
// stretch ("03"), a split piece and a last forward stretch of 1 mm.
std::string rhinoJob() {
  return dmcBytes({{"20", '{', "\x81\x05\x35"},
                   {"10", '<', ""},
                   {"00", '}', ""},
                   {"03", '{', ""},
                   {"05", '!', "\x81\x01\x35"},
                   {"01", ']', "\x81\x02\x35"}});
}

TEST_F(ToolsTest, Dmc2RhinoWritesThePathsAndPutsThemOnTheClipboard) {
  core.s.xMarlinBase = 133;
  core.s.yvHi = 220;
  core.s.powderReduce = true;
  writeBytes(dmcPath(), rhinoJob());
  tools.writeHeadPathScript();
  const std::string expected =
      "Polyline\n"
      "138.00,170.00,0.00\n133.00,170.00,0.00\n"
      // "20": 32 mm forward, first in the layer
      "127.58,170.00,0.00\n127.58,220.00,0.00\n127.58,220.00,0.00\n127.58,138.00,0.00\n"
      // "10" backward: 16 mm
      "122.16,154.00,0.00\n122.16,220.00,0.00\n"
      // layer end: z up, x back, half a band over (bridge)
      "enter\nPolyline\n122.16,170.00,2.00\n"
      // "03" with powderReduce: nothing drawn, one band moved; the "!"
      // piece draws without moving
      "124.87,170.00,2.00\n124.87,220.00,2.00\n124.87,220.00,2.00\n124.87,165.00,2.00\n"
      "119.45,220.00,2.00\n119.45,169.00,2.00\n"
      "enter\n";
  EXPECT_EQ(fileText(work("temp.txt")), expected);
  EXPECT_EQ(ui.clipboard, expected);
  EXPECT_TRUE(logHas("done"));
}

TEST_F(ToolsTest, Dmc2RhinoWithoutPowderReduceDrawsTheEmptyStretch) {
  core.s.powderReduce = false;
  writeBytes(dmcPath(), dmcBytes({{"03", '{', ""}}));
  tools.writeHeadPathScript();
  EXPECT_NE(fileText(work("temp.txt")).find(",167.00,"), std::string::npos);  // yvHi - 50 - 3
}

TEST_F(ToolsTest, Dmc2RhinoThatCannotWriteSaysSoAndNotDone) {
  writeBytes(dmcPath(), rhinoJob());
  std::filesystem::create_directory(work("temp.txt"));  // a folder is in the way
  tools.writeHeadPathScript();
  EXPECT_TRUE(logHas("unable to write to file: " + work("temp.txt")));
  EXPECT_FALSE(logHas("done"));
  EXPECT_EQ(ui.clipboard, "");
}

// ---- every record walker on a damaged file ----

TEST_F(ToolsTest, RecordWalkersStopWithALogLineOnARecordPastTheEnd) {
  writeBytes(dmcPath(), dmcBytes({{"20", '{', "\x81\x05\x35"}, {"20", '}', "\x81\x05\x35", 5000}}));
  const std::pair<const char*, std::function<void()>> tools_[] = {
      {"dmccount", [&] { tools.logStretchCount(); }},
      {"dmc2rhino", [&] { tools.writeHeadPathScript(); }},
      {"dmcimage", [&] { tools.paintLayer(dmcPath(), 0, 15, true); }},
      {"byBlocksTst", [&] { tools.logRecordHeaders(); }},
  };
  for (const auto& [name, run] : tools_) {
    core.Memo1.clear();
    run();
    EXPECT_TRUE(logHas("record at 529 runs past the end of the file")) << name;
    EXPECT_FALSE(logHas("done")) << name;
  }
  EXPECT_FALSE(std::filesystem::exists(work("temp.txt")));
}

// ---- dmcimage ----

TEST_F(ToolsTest, DmcImagePaintsTheAskedLayerOnlyAndLogsTheSummaries) {
  P3dJob j;
  j.beginLayer();  // layer 0: empty
  j.emptyRows(5);
  j.endLayer();
  j.beginLayer();  // layer 1: cyan and water
  j.emptyRows(5);
  P3dRow r = P3dRow::dot(1, 300);
  for (int x = 600; x < 640; ++x) r.set(0, x);
  j.row(r);
  j.endLayer();
  j.finish();
  convert(j);
  ui.inputs = {"1", "wcmyl"};
  tools.showLayerStretches();
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"testlayer", "showcolors"}));
  EXPECT_TRUE(logHas("showcolormask=15"));
  // Per record: "*" for a stretch of 16 mm or more, and its type.
  EXPECT_TRUE(logHas("0  ] }"));
  EXPECT_TRUE(logHas("1 *] }"));
  ASSERT_EQ(ui.bitmapsShown, 1);
  EXPECT_EQ(ui.lastBitmap.size(), QSize(1800, 900));
  const int painted = colourCounts(ui.lastBitmap)[0];
  EXPECT_GT(painted, 100 + 1);  // the closing line and the dots
  EXPECT_EQ(tools.testLayer, 1);

  // The layer without dots shows only the line; water alone drops cyan.
  ui.inputs = {"0", "w"};
  tools.showLayerStretches();
  EXPECT_EQ(colourCounts(ui.lastBitmap)[0], 101);
  ui.inputs = {"1", "c"};
  tools.showLayerStretches();
  EXPECT_TRUE(logHas("showcolormask=2"));
  EXPECT_EQ(colourCounts(ui.lastBitmap)[0], 101 + 1);
}

TEST_F(ToolsTest, DmcImageDrawsABackwardStretchInRedFromItsFarEnd) {
  NozzleTables t;
  t.initBandTables(64);
  int row = 0;
  while (t.colorNozzle[0][std::size_t(row)] < 0) row += 2;
  const int n = t.colorNozzle[0][std::size_t(row)];
  std::string column(54, '\0');
  column[std::size_t(n / 8)] = char(1 << (n % 8));
  // 32 mm backward: the first column is 32 * 3000 / 254 + kcmyoff[4] - 360.
  writeBytes(dmcPath(), dmcBytes({{"20", '<', "\xB6" + column + "\xB6" + column}, {"00", '}', ""}}));
  ASSERT_TRUE(tools.paintLayer(dmcPath(), 0, 2, false));
  const int first = 377 + core.s.kcmyoff[4] - 360;
  EXPECT_EQ(pixelAt(tools.picture, first, row), 0x0000FF);
  EXPECT_EQ(pixelAt(tools.picture, first - 1, row), 0x0000FF);  // the next column, to the left
  EXPECT_EQ(colourCounts(tools.picture)[0x0000FF], 2);
}

TEST_F(ToolsTest, DmcImageWaitsWhileThePrintHoldsTheFile) {
  print.holds = true;
  tools.showLayerStretches();
  EXPECT_TRUE(logHas("file open error"));
  EXPECT_TRUE(ui.prompts.empty());
}

// ---- byBlocksTst ----

TEST_F(ToolsTest, ByBlocksTstLogsEachRecordsHeaderAndFirstBytes) {
  const std::string data = "\xA0" + std::string(20, '\x11') + "\x34";
  writeBytes(dmcPath(), dmcBytes({{"20", '{', data}, {"00", '}', ""}}));
  tools.logRecordHeaders();
  EXPECT_TRUE(logHas("buf 20000032{ 00000218 A0 11 11 11 11 11 11 11 11 11 "));
  EXPECT_TRUE(logHas("buf 00000010} 0000022E "));
}

// ---- pakuit ----

TEST_F(ToolsTest, PakuitWritesTheColumnsOfEachAnnouncedStretch) {
  conv->layout.stretchesPerLayer = 2;
  // Two announced stretches: a literal 7 and an empty column; then 3.
  const char bytes[] = "5t 2,2n12,0p973j\x81\x07\x35\x80\x36\xBF" "1,2n3,4p973j\x81\x03\x35\xBF";
  writeBytes(dmcPath(), std::string(bytes, sizeof bytes - 1));
  tools.uncompressJob();
  std::string expected(54 * 3, '\0');
  expected[0] = 7;
  expected[108] = 3;
  EXPECT_EQ(fileText(job.workFileName("duu")), expected);
}

TEST_F(ToolsTest, PakuitSaysWhenTheDataEndsBeforeItsEndCode) {
  conv->layout.stretchesPerLayer = 1;
  writeBytes(dmcPath(), "2n973j\x81\x07\x10");
  tools.uncompressJob();
  EXPECT_TRUE(logHas("uncompress fout"));
}

// ---- unblockdmc ----

TEST_F(ToolsTest, UnblockDmcWritesTheTestPrefixAndCountsNozzlesPerColumn) {
  const std::string data = "\x81\x00\x35";
  writeBytes(dmcPath(), dmcBytes({{"20", '{', data}, {"00", '}', ""}}));
  tools.writeTestStretch();
  const std::string prefix = "\x96" + std::string(22, '\xBD') + "\x20" + "\xA0" + std::string(32, '\xFF') +
                             "\x26\x3A\x07" + "\x80";
  // The rest of the file from the first record's data on.
  EXPECT_EQ(fileText(work("frblk.dmc")), prefix + data + "\xBF" "00000010}" "\xBF" "00000000}");
  const std::string gfk = fileText(work("temp.gfk"));
  // 0xBDBD in 11 words: C 4 and 6, M 5 and 10, Y 1 and 7; then 16 words of
  // 0xFFFF; then the 600 empty columns count nothing.
  EXPECT_EQ(gfk.substr(0, 42), "0 0 0 11 22 11\n1 0 0 32 32 32\n2 0 0 0 0 0\n");
  EXPECT_NE(gfk.find("\n601 0 0 0 0 0\n"), std::string::npos);
}

TEST_F(ToolsTest, UnblockDmcCountsWaterThroughTheWaterMap) {
  // A column whose 22 water bytes are 0x55.
  const std::string data = "\xA0" + std::string(32, '\0') + "\x96" + std::string(22, '\x55');
  writeBytes(dmcPath(), dmcBytes({{"20", '{', data}}));
  tools.writeTestStretch();
  const std::string gfk = fileText(work("temp.gfk"));
  // Column 602: the job's column; every 0x55 byte sets four bits of mask 0.
  EXPECT_NE(gfk.find("\n602 88 0 0 0 0\n"), std::string::npos) << gfk.substr(gfk.size() - 60);
}

// ---- equalgfk ----

TEST_F(ToolsTest, EqualGfkCountsRepeatsOfNonZeroBytesByDistance) {
  writeBytes(job.workFileName("dmp"), std::string("ABAB\0A", 6));
  tools.writeRepeatHistogram();
  std::string expected = "\n";
  for (int d = 1; d < 512; ++d) expected += plat::format("%d %d\n", d, d == 2 ? 2 : (d == 3 || d == 5) ? 1 : 0);
  EXPECT_EQ(fileText(work("temp2.gfk")), expected);
}

TEST_F(ToolsTest, EqualGfkWithoutADumpStopsAfterTheOpenReport) {
  tools.writeRepeatHistogram();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"cannot read from file: " + job.workFileName("dmp")});
  EXPECT_FALSE(std::filesystem::exists(work("temp2.gfk")));
}

}  // namespace
}  // namespace ph::testing
