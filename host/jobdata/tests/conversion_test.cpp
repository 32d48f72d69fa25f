// Whole conversions of small .p3d jobs: where dots land on the head, how
// layers are cut into stretches, and the .dmc that results.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>

#include "conversion_fixture.h"
#include "host/core/numbers.h"
#include "host/core/param_table.h"

namespace ph::testing {
namespace {

struct Fired {
  int column;
  int byte;
  int mask;
  bool operator==(const Fired&) const = default;
  bool operator<(const Fired& o) const { return std::tie(column, byte, mask) < std::tie(o.column, o.byte, o.mask); }
};

std::vector<Fired> firedBits(const std::vector<Column>& cols) {
  std::vector<Fired> out;
  for (std::size_t c = 0; c < cols.size(); ++c)
    for (int b = 0; b < 54; ++b)
      for (int m = 1; m < 256; m <<= 1)
        if (cols[c][std::size_t(b)] & m) out.push_back({int(c), b, m});
  return out;
}

// Records grouped by layer: a "}" ends a layer.
std::vector<std::vector<DmcRecord>> layers(const std::vector<DmcRecord>& records) {
  std::vector<std::vector<DmcRecord>> out(1);
  for (const auto& r : records) {
    out.back().push_back(r);
    if (r.type == '}') out.emplace_back();
  }
  if (out.back().empty()) out.pop_back();
  return out;
}

P3dJob oneDotJob(int rowsAbove) {
  P3dJob job;
  job.beginLayer();
  job.emptyRows(rowsAbove);
  job.row(P3dRow::dot(0, 100));
  job.endLayer();
  job.finish();
  return job;
}

TEST_F(ConversionFixture, ScanLogsTheInkedBoxAndTheLayout) {
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(5);
    job.row(P3dRow::dot(0, 100));
    job.endLayer();
  }
  job.finish();
  write(job);
  conv->scanJob();
  EXPECT_TRUE(logHas("layers=2 bbox.Left=96 bbox.Right=104"));
  EXPECT_TRUE(logHas("bbox.Top=5 bbox.Bottom=5"));
  EXPECT_EQ(conv->layout.printpages, 2);
  EXPECT_EQ(conv->layout.pagetopmargin, 3);
  EXPECT_EQ(conv->layout.stretchesPerLayer, 2);  // (5 - 3 + 34) div 64 + 2
  EXPECT_EQ(conv->layout.endx1200, 1012);
  EXPECT_FALSE(conv->layout.layerThicknessDiffers);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(ConversionFixture, ScanChecksLayerThicknessAndHeight) {
  core.s.layerMicrons = 250;
  core.s.MarlinMaxZ = 0.2;
  P3dJob job(26);
  for (int l = 0; l < 4; ++l) {
    job.beginLayer();
    job.endLayer();
  }
  job.finish();
  write(job);
  conv->scanJob();
  EXPECT_TRUE(conv->layout.layerThicknessDiffers);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "layers in file 260 microns");
  EXPECT_FALSE(conv->layout.job.modelFits);
  EXPECT_TRUE(logHas("NO FIT in Z direction 1 > 0.2"));
}

TEST_F(ConversionFixture, NewIslandsCountFromTheFirstLayer) {
  P3dJob job;
  for (int x : {100, 100, 800}) {
    job.beginLayer();
    job.emptyRows(20);
    job.row(P3dRow::dot(0, x));
    job.endLayer();
  }
  job.finish();
  write(job);
  conv->scanJob();
  const auto& n = conv->layout.newIslands;
  EXPECT_EQ(n[0], 0);
  EXPECT_EQ(n[1], 1);
  EXPECT_EQ(n[2], 0);  // on top of the layer below
  EXPECT_EQ(n[3], 1);
}

TEST_F(ConversionFixture, EachDotFiresItsNozzleBitAtItsColumn) {
  for (int cartridge : {0, 5}) {
    ConversionRig t;
    t.core.s.CartridgeDist = cartridge;
    P3dJob job;
    job.beginLayer();
    job.emptyRows(10);
    P3dRow even = P3dRow::dot(0, 100);  // band row 2
    even.set(1, 100);
    even.set(3, 100);
    job.row(even);
    job.row(P3dRow::dot(2, 100));  // band row 3
    job.endLayer();
    job.finish();
    t.convert(job);
    const auto recs = t.records();
    ASSERT_FALSE(recs.empty());
    auto fired = firedBits(decodeStretch(t.core, recs[0].data));
    std::sort(fired.begin(), fired.end());
    const int c = cartridge;
    const std::vector<Fired> want{
        {124, 33, 0x40},      // water, second line: kcmyoff[2] + 24
        {168, 41, 0x80},      // water: kcmyoff[0] + 24
        {485 + c, 20, 0x10},  // cyan: kcmyoff[4] + 24
        {521 + c, 8, 0x20},   // magenta, odd row: kcmyoff[7] + 24
        {543 + c, 20, 0x80},  // yellow: kcmyoff[8] + 24
    };
    EXPECT_EQ(fired, want) << "CartridgeDist " << cartridge;
    EXPECT_FALSE(t.logHas("new primgrens"));
  }
}

TEST_F(ConversionFixture, BridgeLayersMoveEverySecondLayerByHalfABand) {
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(10);
    job.row(P3dRow::dot(0, 100));
    job.endLayer();
  }
  job.finish();
  convert(job);
  const auto byLayer = layers(records());
  ASSERT_GE(byLayer.size(), 2u);
  const auto first = firedBits(decodeStretch(core, byLayer[0][0].data));
  const auto second = firedBits(decodeStretch(core, byLayer[1][0].data));
  EXPECT_NE(std::find(first.begin(), first.end(), Fired{168, 41, 0x80}), first.end());     // band row 2
  EXPECT_NE(std::find(second.begin(), second.end(), Fired{168, 45, 0x08}), second.end());  // band row 34
}

// Writes the same rows once with skip codes and once with bare row ends.
P3dJob skipJob(bool skips) {
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(4);
    job.row(P3dRow::dot(0, 40));
    for (int gap : {20, 150, 3}) {
      if (skips)
        job.skipRows(gap);
      else
        job.emptyRows(gap);
      job.row(P3dRow::dot(1, 60 + gap));
    }
    job.endLayer();
  }
  job.finish();
  return job;
}

TEST_F(ConversionFixture, SkipCodesAcrossBandsConvertLikeEmptyRows) {
  core.s.endskippers = 0;
  convert(skipJob(false));
  const auto plain = dmc();
  ConversionRig t;
  t.core.s.endskippers = 0;
  t.convert(skipJob(true));
  EXPECT_EQ(t.dmc(), plain);
  EXPECT_GT(plain.size(), 600u);
}

TEST_F(ConversionFixture, EveryLayerGetsAllItsStretchesAndEndsWithItsLastOne) {
  core.s.endskippers = 0;
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(10);
    job.row(P3dRow::dot(0, 100));
    job.emptyRows(150);
    job.row(P3dRow::dot(0, 100));
    job.endLayer(0);  // "0W" right after the last printed row
  }
  job.finish();
  convert(job);
  const int spl = conv->layout.stretchesPerLayer;
  ASSERT_EQ(spl, 4);
  std::string types;
  for (const auto& r : records()) types += r.type;
  // The conversion closes with one empty record.
  EXPECT_EQ(types,
            "((]}"
            "{{]}"
            "}");
  EXPECT_EQ(countDmcStretches(core, conv->layout.job, false).count, 10);  // the closing placeholder counts
}

TEST_F(ConversionFixture, BackwardPassesMirrorTheirRows) {
  core.s.bidirectional = true;
  P3dJob job;
  job.beginLayer();
  job.emptyRows(10);
  P3dRow two = P3dRow::dot(0, 100);
  two.set(0, 130);
  job.row(two);  // band 1, forward
  job.emptyRows(63);
  job.row(two);  // band 2 row 2, backward
  job.emptyRows(65);
  job.row(P3dRow::dot(0, 100));  // band 3; band 4 is empty and backward
  job.endLayer();
  job.beginLayer();
  job.endLayer();
  job.finish();
  convert(job);
  ASSERT_EQ(conv->layout.stretchesPerLayer, 4);
  const auto recs = records();
  std::string types;
  for (const auto& r : recs) types += r.type;
  // A layer that ends on a backward pass is closed by an empty forward
  // stretch when the next layer starts.
  EXPECT_EQ(types,
            "(<]<}"
            "{<]<"
            "}");
  auto columnsOf = [&](const DmcRecord& r) {
    std::vector<int> cols;
    for (const auto& f : firedBits(decodeStretch(core, r.data)))
      if (f.byte == 41 && f.mask == 0x80) cols.push_back(f.column);
    return cols;
  };
  EXPECT_EQ(columnsOf(recs[0]), (std::vector<int>{168, 198}));
  const auto back = columnsOf(recs[1]);
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[1] - back[0], 30);  // dot 130 first, 100 thirty columns later
  EXPECT_GE(back[0], 0);
  // The pair is powdered alike: the forward code is at least the backward one.
  EXPECT_GE(hexTextToInt(recs[0].code), hexTextToInt(recs[1].code));
}

// A job of dense random rows over several bands and layers.
P3dJob randomJob(unsigned seed, int layersCount, int rowsPerLayer, int width) {
  std::mt19937 rng(seed);
  P3dJob job;
  for (int l = 0; l < layersCount; ++l) {
    job.beginLayer();
    job.emptyRows(6 + int(rng() % 5));
    for (int r = 0; r < rowsPerLayer; ++r) {
      if (rng() % 9 == 0) {
        job.skipRows(1 + int(rng() % 80));
        continue;
      }
      P3dRow row;
      for (int p = 0; p < 4; ++p) {
        if (rng() % 4 == 0) continue;
        const int from = int(rng() % unsigned(width / 2)), to = from + int(rng() % unsigned(width / 2));
        auto& bytes = row.planes[std::size_t(p)];
        bytes.assign(std::size_t(to / 8 + 1), 0);
        for (int x = from / 8; x <= to / 8; ++x)
          bytes[std::size_t(x)] = rng() % 3 ? std::uint8_t(rng()) : std::uint8_t(rng() % 2 ? 0xFF : 0x55);
      }
      job.row(row);
    }
    job.endLayer();
  }
  job.finish();
  return job;
}

std::string recordTypes(const std::vector<DmcRecord>& records) {
  std::string types;
  for (const auto& r : records) types += r.type;
  return types;
}

// The fast column loop on one thread and on four workers writes the bytes
// of the slot-by-slot loop, and tells the operator the same.
TEST_F(ConversionFixture, FastLoopAndWorkersWriteWhatTheSlotBySlotLoopWrites) {
  struct Case {
    const char* name;
    void (*set)(Settings&, JobLayout&);
    // Record types (split pieces left out) the job must show, so the case
    // does what it is for.
    const char* mustShow = "";
  } cases[] = {
      {"defaults", [](Settings&, JobLayout&) {}},
      {"bidirectional", [](Settings& s, JobLayout&) { s.bidirectional = true; }},
      {"haze", [](Settings& s, JobLayout&) { s.hazeRemove = 2; }},
      {"haze, bidirectional", [](Settings& s, JobLayout&) { s.hazeRemove = 1, s.bidirectional = true; }},
      {"blackPrint", [](Settings& s, JobLayout&) { s.blackPrint = true; }},
      {"water-only", [](Settings& s, JobLayout&) { s.band64 = 100; }},
      {"small stretches", [](Settings& s, JobLayout&) { s.stretchSizeLim = 1500; }},
      {"odd offsets",
       [](Settings& s, JobLayout&) {
         s.kcmyoff = {-30, 3, 7, -2, 361, 368, 390, 397, 419, 426}, s.CartridgeDist = 3;
       }},
      // A backward pass that outgrows the limit is built again forward,
      // which shifts the alternation behind it: two forward stretches in a
      // row, which the workers could not foresee.
      {"bidirectional, small stretches",
       [](Settings& s, JobLayout&) { s.bidirectional = true, s.stretchSizeLim = 1500; }, "(("},
      // Every layer opens with an empty stretch, so its first band is a
      // backward pass; a layer ending on one is closed by an empty stretch
      // whose bytes count into the next stretch's size.
      {"bidirectional, added stretch, small stretches",
       [](Settings& s, JobLayout&) { s.bidirectional = true, s.addedStretch = 1, s.stretchSizeLim = 1500; }, "<}"},
      {"two passes", [](Settings&, JobLayout& l) { l.djpagrepeat = 2; }},
  };
  struct Run {
    const char* name;
    bool slow;
    int workers;
  } runs[] = {{"slot by slot", true, 1}, {"fast", false, 1}, {"fast, four workers", false, 4}};
  const P3dJob job = randomJob(99, 3, 150, 900);
  for (const auto& c : cases) {
    std::vector<std::uint8_t> bytes[3];
    std::vector<std::string> logs[3];
    for (int r = 0; r < 3; ++r) {
      ConversionRig t;
      c.set(t.core.s, t.conv->layout);
      t.conv->slowColumnLoop = runs[r].slow;
      t.conv->workers = runs[r].workers;
      t.convert(job);
      ASSERT_TRUE(t.logHas(".dmc created")) << c.name;
      bytes[r] = t.dmc();
      logs[r] = std::vector<std::string>(t.log());
    }
    std::string types = recordTypes(parseRecords(bytes[0]));
    std::erase(types, '!');
    EXPECT_NE(types.find(c.mustShow), std::string::npos) << c.name << ": " << types;
    for (int r = 1; r < 3; ++r) {
      EXPECT_EQ(bytes[r], bytes[0]) << c.name << ", " << runs[r].name;
      EXPECT_EQ(logs[r], logs[0]) << c.name << ", " << runs[r].name;
    }
  }
}

// The dots and the widest row are counted with the stretches on the
// workers; the rows of a band the file ends in never reach one and are
// counted all the same.
TEST_F(ConversionFixture, WorkersCountTheRowsOfABandTheFileEndsIn) {
  const std::string whole = randomJob(17, 2, 150, 900).bytes();
  const std::string layerStart = "\x1b*b";
  const std::size_t last = whole.rfind(layerStart);
  const std::string cut = whole.substr(0, last + (whole.size() - last) / 2);
  std::array<long long, 4> drops[2];
  int widest[2];
  for (int r = 0; r < 2; ++r) {
    ConversionRig t;
    t.conv->workers = r == 0 ? 1 : 4;
    {
      std::FILE* f = std::fopen(t.p3dPath().c_str(), "wb");
      std::fwrite(cut.data(), 1, cut.size(), f);
      std::fclose(f);
    }
    t.conv->convertJob();
    ASSERT_TRUE(t.logHas(".dmc created"));
    drops[r] = t.conv->parser.drops;
    widest[r] = t.conv->layout.djmaxline;
  }
  EXPECT_GT(drops[0][0], 0);
  EXPECT_EQ(drops[1], drops[0]);
  EXPECT_EQ(widest[1], widest[0]);
}

// The builders a conversion starts: PRISM_WORKERS when a developer sets
// it, else a count for the processors this process may run on (not every
// online one), never more than those.
TEST(ConversionWorkers, DefaultCountFollowsTheRequestAndTheAffinityMask) {
  cpu_set_t saved;
  ASSERT_EQ(sched_getaffinity(0, sizeof saved, &saved), 0);
  const char* before = std::getenv("PRISM_WORKERS");
  const std::string kept = before ? before : "";
  setenv("PRISM_WORKERS", "3", 1);
  EXPECT_EQ(StretchPipeline::defaultWorkers(), 3);
  unsetenv("PRISM_WORKERS");
  cpu_set_t one;
  CPU_ZERO(&one);
  int first = 0;
  while (!CPU_ISSET(first, &saved)) ++first;
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(StretchPipeline::defaultWorkers(), 1);  // everything on the calling thread
  ASSERT_EQ(sched_setaffinity(0, sizeof saved, &saved), 0);
  EXPECT_EQ(StretchPipeline::defaultWorkers(), StretchPipeline::workersFor(CPU_COUNT(&saved)));
  if (before) setenv("PRISM_WORKERS", kept.c_str(), 1);
  for (int p = 1; p <= 64; ++p) {
    EXPECT_GE(StretchPipeline::workersFor(p), 1) << p;
    EXPECT_LE(StretchPipeline::workersFor(p), p) << p;
  }
}

// An operator that notes where in the log each progress step and each
// window event came.
struct TracingUi : FakeUi {
  const OperatorLog* log = nullptr;
  std::vector<std::string> trace;
  std::function<void()> onEvents;
  void showProgress(int percent) override {
    FakeUi::showProgress(percent);
    trace.push_back(plat::format("progress %d after line %d", percent, int(log->lines().size())));
  }
  void processEvents() override {
    FakeUi::processEvents();
    trace.push_back(plat::format("events after line %d", int(log->lines().size())));
    if (onEvents) onEvents();
  }
};

struct TracedConversion {
  TracingUi ui;
  plat::ManualClock clock;
  HostCore core{ui, clock};
  RecordedUnitCodes unitCodes;
  LookupTables tables;
  JobState job{core};
  Conversion conv{core, tables, job};
  std::string dir = makeWorkDir();

  explicit TracedConversion(int workers) {
    // As CoreFixture leaves the core.
    core.sendUnitCodesTo(unitCodes);
    addSettingMenuItems(core.controls, "options1");
    registerEarlyParams(core.params, core.s);
    registerParamTable(core.params, core.s, core.controls);
    tables.fillBitTables();
    ui.log = &core.Memo1;
    core.workDir = dir + "/";
    conv.workers = workers;
  }
  ~TracedConversion() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
};

// What the parser reports (a byte that is no row code, long rows of
// backward passes), what the builders report (no backward alignment) and
// the bit report asked for from a window event land in the log where they
// land on one thread, between the same progress steps and events.
namespace {

struct TracedRun {
  std::vector<std::string> trace, log;
  std::vector<std::uint8_t> dmc;
};

TracedRun tracedConversion(const std::string& bytes, int workers) {
  TracedConversion t(workers);
  t.core.s.bidirectional = true;
  t.core.s.moveBackAlign = 10000000;  // beyond every alignment try
  int events = 0;
  t.ui.onEvents = [&] {
    if (++events == 2) t.conv.armBitReport();
  };
  {
    std::FILE* f = std::fopen(t.job.workFileName("p3d").c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
  t.conv.convertJob();
  return {t.ui.trace, std::vector<std::string>(t.core.Memo1.lines()), readFile(t.job.workFileName("dmc"))};
}

}  // namespace

TEST(ConversionOrder, LogProgressAndEventsKeepTheirPlaceWithWorkers) {
  // A stray byte among the first rows of the last layer.
  std::string bytes = randomJob(7, 3, 120, 1800).bytes();
  const std::string layerStart = "\x1b*b";
  bytes.insert(bytes.rfind(layerStart) + layerStart.size() + 4, "?");
  const TracedRun one = tracedConversion(bytes, 1), four = tracedConversion(bytes, 4);
  auto has = [&](const std::string& text) {
    return std::any_of(one.log.begin(), one.log.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
  };
  ASSERT_TRUE(has(".dmc created"));
  EXPECT_TRUE(has(" wrong char"));
  EXPECT_TRUE(has("blstrip error!"));
  EXPECT_TRUE(has("d1="));
  EXPECT_TRUE(has(" W "));  // the bit report
  EXPECT_GT(one.trace.size(), 6u);
  EXPECT_EQ(four.trace, one.trace);
  EXPECT_EQ(four.log, one.log);
  EXPECT_EQ(four.dmc, one.dmc);
}

// A file that ends inside a band of a backward pass (nine tenths into the
// last layer): the long rows of the band that never becomes a stretch are
// reported all the same.
TEST(ConversionOrder, LongRowsOfABandTheFileEndsInAreReported) {
  const std::string whole = randomJob(7, 3, 120, 1800).bytes();
  const std::size_t last = whole.rfind("\x1b*b");
  const std::string cut = whole.substr(0, last + (whole.size() - last) * 90 / 100);
  const TracedRun one = tracedConversion(cut, 1), four = tracedConversion(cut, 4);
  ASSERT_FALSE(one.log.empty());
  EXPECT_EQ(four.trace, one.trace);
  EXPECT_EQ(four.log, one.log);
  EXPECT_EQ(four.dmc, one.dmc);
}

TEST_F(ConversionFixture, SplitStretchPiecesDecodeToTheirPlaceInTheBand) {
  const P3dJob job = randomJob(5, 1, 40, 1400);
  core.s.endskippers = 0;
  convert(job);
  const auto whole = records();
  ConversionRig t;
  t.core.s.endskippers = 0;
  t.core.s.stretchSizeLim = 2000;
  t.convert(job);
  const auto pieces = t.records();
  ASSERT_GT(pieces.size(), whole.size());
  std::size_t p = 0;
  for (const auto& w : whole) {
    const auto want = decodeStretch(core, w.data);
    std::vector<Column> merged(want.size() + 4000);
    std::size_t lastEnd = 0;
    int count = 0;
    for (;; ++p) {
      ASSERT_LT(p, pieces.size());
      EXPECT_EQ(pieces[p].code, w.code) << "piece " << p;
      const auto cols = decodeStretch(t.core, pieces[p].data);
      std::size_t first = cols.size();
      for (std::size_t c = 0; c < cols.size(); ++c) {
        if (cols[c] == Column{}) continue;
        first = std::min(first, c);
        ASSERT_LT(c, merged.size());
        merged[c] = cols[c];
      }
      // A piece starts where the one before it ended.
      if (first < cols.size()) {
        EXPECT_GE(first, lastEnd) << "piece " << p;
      }
      lastEnd = std::max(lastEnd, cols.size());
      ++count;
      if (pieces[p].type != '!') break;
    }
    ++p;
    merged.resize(want.size());
    EXPECT_EQ(merged, want);
    if (w.data.size() > 2100) {
      EXPECT_GT(count, 1);
    }
  }
}

TEST_F(ConversionFixture, WideDenseBandKeepsEveryRow) {
  std::mt19937 rng(3);
  P3dJob job;
  job.beginLayer();
  job.emptyRows(10);
  std::vector<std::uint8_t> lastWater;
  long long waterDots = 0;
  for (int r = 0; r < 62; ++r) {
    P3dRow row;
    for (auto& plane : row.planes) {
      plane.resize(300);
      for (auto& b : plane) b = std::uint8_t(rng() | 0x10);  // no two alike in a row: all literal
      for (std::size_t i = 1; i < plane.size(); ++i)
        if (plane[i] == plane[i - 1]) plane[i] ^= 0x01;
    }
    for (auto b : row.planes[0]) waterDots += __builtin_popcount(b);
    lastWater = row.planes[0];
    job.row(row);
  }
  job.endLayer();
  job.finish();
  ASSERT_GT(job.bytes().size(), 70000u);
  core.s.stretchSizeLim = 900000;  // one record for the whole band
  convert(job);
  ASSERT_TRUE(logHas(".dmc created"));
  EXPECT_EQ(conv->parser.drops[0], waterDots);
  // The last row of the band (band row 63, odd) fires its first line's
  // nozzle from column kcmyoff[1] + 24 on.
  const auto cols = decodeStretch(core, records()[0].data);
  const ColumnBit bit = waterColumnBit(conv->nozzles.waterNozzle[0][63], true);
  ASSERT_GE(bit.byte, 0);
  std::vector<std::uint8_t> seen(lastWater.size(), 0);
  for (std::size_t d = 0; d < seen.size() * 8; ++d) {
    const std::size_t c = 68 + d;
    if (c < cols.size() && (cols[c][std::size_t(bit.byte)] & bit.mask)) seen[d / 8] |= std::uint8_t(0x80 >> (d % 8));
  }
  EXPECT_EQ(seen, lastWater);
}

TEST_F(ConversionFixture, DmcEndsRightAfterTheFinalPlaceholder) {
  // A longer .dmc from before must not show through.
  {
    std::FILE* f = std::fopen(dmcPath().c_str(), "wb");
    const std::string junk(200000, '\xBF');
    std::fwrite(junk.data(), 1, junk.size(), f);
    std::fclose(f);
  }
  core.s.endskippers = 3;
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(10);
    job.row(P3dRow::dot(0, 100));
    job.emptyRows(200);  // empty stretches at the layer's end are dropped
    job.endLayer();
  }
  job.finish();
  convert(job);
  const auto bytes = dmc();
  const auto recs = records();
  ASSERT_FALSE(recs.empty());
  EXPECT_EQ(std::size_t(recs.back().offset + recs.back().length + 10), bytes.size());
  EXPECT_EQ(std::string(bytes.end() - 10, bytes.end()), std::string("\xBF"
                                                                    "00000000}"));
}

TEST_F(ConversionFixture, JobWithoutLayersIsOneEmptyRecord) {
  P3dJob job;
  job.finish();
  convert(job);
  const auto bytes = dmc();
  ASSERT_EQ(bytes.size(), 536u);
  EXPECT_EQ(std::string(bytes.begin() + 516, bytes.end()), std::string("\xBF"
                                                                       "00000010}"
                                                                       "\xBF"
                                                                       "00000000}"));
}

// A job without a dot (a model thinner than a dot, or one whose facets
// face inwards) converts its layers empty, and says so: it is no success.
TEST_F(ConversionFixture, JobWithoutInkIsConvertedEmptyAndToldAsNoInk) {
  P3dJob job;
  for (int l = 0; l < 3; ++l) {
    job.beginLayer();
    job.emptyRows(40);
    job.endLayer();
  }
  job.finish();
  write(job);
  const ConversionOutcome outcome = conv->convertJob();
  EXPECT_EQ(outcome.status, ConversionStatus::NoInk);
  EXPECT_FALSE(outcome.converted());
  EXPECT_NE(outcome.message.find("holds no ink"), std::string::npos) << outcome.message;
  EXPECT_TRUE(logHas(outcome.message));
  EXPECT_FALSE(logHas(".dmc created"));
  EXPECT_GE(conv->layout.stretchesPerLayer, 2);
  const auto recs = records();
  EXPECT_EQ(std::count_if(recs.begin(), recs.end(), [](const DmcRecord& r) { return r.type == '}'; }), 3 + 1);
}

TEST_F(ConversionFixture, JobWithInkIsConverted) {
  write(oneDotJob(10));
  const ConversionOutcome outcome = conv->convertJob();
  EXPECT_EQ(outcome.status, ConversionStatus::Converted);
  EXPECT_EQ(outcome.message, "");
  EXPECT_TRUE(logHas(".dmc created"));
  EXPECT_TRUE(conv->layout.job.dmcCurrent);
}

// Powder is reduced only from a height profile made for the job: without
// one the job converts as with powderReduce off, and the log says so.
TEST_F(ConversionFixture, PowderReduceWithoutAHeightProfileIsOffForTheJob) {
  const P3dJob job = randomJob(21, 2, 60, 400);
  core.s.endskippers = 0;
  convert(job);
  const auto plain = dmc();
  struct Case {
    bool profileMade;
    bool sameAsPlain;
  } cases[] = {{false, true}, {true, false}};
  for (const auto& c : cases) {
    ConversionRig t;
    t.core.s.endskippers = 0;
    t.core.s.powderReduce = true;
    t.conv->layout.heightProfileMade = c.profileMade;  // an all-zero profile: no model ahead anywhere
    t.convert(job);
    ASSERT_TRUE(t.logHas(".dmc created"));
    EXPECT_EQ(t.logHas("powderReduce is off for this job"), !c.profileMade);
    EXPECT_EQ(t.conv->layout.powderReduced, c.profileMade);
    EXPECT_EQ(t.dmc() == plain, c.sameAsPlain) << "profile made: " << c.profileMade;
  }
}

TEST_F(ConversionFixture, RepeatedPassesReadTheLayersAgain) {
  conv->layout.djpagrepeat = 2;
  core.s.endskippers = 0;
  convert(oneDotJob(10));
  EXPECT_EQ(conv->layout.printpages, 2);
  const auto byLayer = layers(records());
  ASSERT_EQ(byLayer.size(), 3u);  // two layers and the closing record
  EXPECT_EQ(byLayer[0].size(), byLayer[1].size());
}

TEST_F(ConversionFixture, FailedDmcOpenStopsTheConversion) {
  ASSERT_EQ(mkdir(dmcPath().c_str(), 0755), 0);  // a folder cannot be written as a file
  convert(oneDotJob(10));
  EXPECT_FALSE(conv->layout.job.dmcCurrent);
  EXPECT_FALSE(logHas(".dmc created"));
  EXPECT_TRUE(logHas("conversion stopped: cannot write"));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages[0].find("unable to write to file: "), std::string::npos);
  EXPECT_FALSE(core.settingsModified());
}

TEST_F(ConversionFixture, MissingP3dLeavesTheJobAsItWas) {
  conv->layout.job.dmcCurrent = false;
  const ConversionOutcome outcome = conv->convertJob();
  EXPECT_EQ(outcome.status, ConversionStatus::Failed);
  EXPECT_NE(outcome.message.find(p3dPath()), std::string::npos) << outcome.message;
  EXPECT_FALSE(conv->layout.job.dmcCurrent);
  EXPECT_FALSE(logHas(".dmc created"));
  // The failed read is told once.
  EXPECT_EQ(std::count_if(ui.messages.begin(), ui.messages.end(),
                          [](const std::string& m) { return m.starts_with("cannot read from file: "); }),
            1);
  EXPECT_EQ(ui.progress, 110);  // the progress window is closed again
}

// The disk fills up while the .dmc is written: the conversion is no
// success, says which file it could not write, and the .dmc from before
// is still there whole (the print never meets a partial file).
TEST_F(ConversionFixture, FailedWriteKeepsTheDmcFromBefore) {
  const std::string before(3000, 'x');
  ASSERT_TRUE(core.writeTextFile(dmcPath(), before));
  write(randomJob(11, 3, 150, 900));
  std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit small = saved;
  small.rlim_cur = 20000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const ConversionOutcome outcome = conv->convertJob();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  EXPECT_EQ(outcome.status, ConversionStatus::Failed);
  EXPECT_NE(outcome.message.find("cannot write " + dmcPath()), std::string::npos) << outcome.message;
  EXPECT_TRUE(logHas(outcome.message));
  EXPECT_FALSE(logHas(".dmc created"));
  EXPECT_FALSE(conv->layout.job.dmcCurrent);
  const auto kept = dmc();
  EXPECT_EQ(std::string(kept.begin(), kept.end()), before);
  EXPECT_FALSE(std::filesystem::exists(dmcPath() + ".part"));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), "unable to write to file: " + dmcPath());
}

TEST_F(ConversionFixture, CorrectedPrimgrensIsQueuedKeptAndSaved) {
  core.s.primgrens = 12;
  core.s.IniAutoSave = true;
  core.progDir = dir + "/";
  core.s.settingsFile = dir + "/job.i3d";
  {
    std::FILE* f = std::fopen((dir + "/prismhost.i3d").c_str(), "wb");
    std::fclose(f);
  }
  convert(oneDotJob(10));
  ASSERT_TRUE(logHas(".dmc created"));
  EXPECT_NE(core.s.primgrens, 12);
  EXPECT_TRUE(logHas(plat::format("new primgrens = %d", core.s.primgrens)));
  EXPECT_NE(unitCodes.text.find(plat::format("%d,16o", core.s.primgrens)), std::string::npos);
  EXPECT_TRUE(conv->layout.job.dmcCurrent);
  EXPECT_FALSE(core.settingsModified());  // saved at once
  const auto saved = readFile(dir + "/job.i3d");
  const std::string text(saved.begin(), saved.end());
  EXPECT_NE(text.find("printpages"), std::string::npos);
  EXPECT_NE(text.find("maxstretchlen"), std::string::npos);
  // The decoder's water map follows the new value.
  conv->decoder.resetDecoder();
  EXPECT_EQ(conv->decoder.waterMap()[1], 1u << headBitPosition[std::size_t(core.s.primgrens)]);
}

TEST_F(ConversionFixture, DecoderWaterMapStaysOnTheHeadsPositions) {
  core.s.primgrens = 10;
  conv->decoder.resetDecoder();
  unsigned want = 0;
  for (int a = 10; a < 14; ++a) want |= 1u << headBitPosition[std::size_t(a)];
  EXPECT_EQ(conv->decoder.waterMap()[0xFF], want);
}

}  // namespace
}  // namespace ph::testing
