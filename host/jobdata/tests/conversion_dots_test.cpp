// Generated jobs under generated settings: the .dmc fires every dot of the
// .p3d (each water dot on its two nozzle lines, each colour dot on one),
// and the fast column loop, on one thread and on two and eight workers,
// writes the bytes, the log and the row statistics of the slot-by-slot
// loop.
#include <gtest/gtest.h>

#include <random>

#include "conversion_fixture.h"
#include "job_dots.h"

namespace ph::testing {
namespace {

// Rows that exercise the column loop: blocks of identical rows with long
// solid runs (columns that repeat the one two back for many columns, so
// splits fall inside repeats), dithered skins, random bytes, single dots,
// empty rows and skips.
P3dJob generatedJob(std::mt19937& rng, int layerCount, int width, int zs) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  P3dJob job(zs);
  for (int l = 0; l < layerCount; ++l) {
    job.beginLayer();
    job.emptyRows(4 + pick(9));
    // A wide first row keeps the inked box's left edge near 0.
    P3dRow first;
    for (int x = 16; x < 16 + width / 2; x += 3) first.set(0, x);
    job.row(first);
    const int rows = 60 + pick(160);
    for (int r = 0; r < rows;) {
      const int kind = pick(10);
      const int count = 1 + pick(kind < 4 ? 40 : 6);
      if (kind == 9) {
        if (pick(2))
          job.skipRows(count);
        else
          job.emptyRows(count);
        r += count;
        continue;
      }
      P3dRow row;
      for (int p = 0; p < 4; ++p) {
        if (pick(3) == 0) continue;
        auto& bytes = row.planes[std::size_t(p)];
        const int from = 2 + pick(width / 16), to = from + 2 + pick(width / 8 - from);
        bytes.assign(std::size_t(to + 1), 0);
        for (int x = from; x <= to; ++x) {
          std::uint8_t b = 0xFF;
          if (kind < 2)
            b = 0xFF;  // solid
          else if (kind < 4)
            b = (x == from || x == to) ? std::uint8_t(0x55 << (x & 1)) : 0xFF;  // with a dithered skin
          else if (kind < 6)
            b = std::uint8_t(rng());
          else if (kind < 8)
            b = pick(8) == 0 ? std::uint8_t(0x80 >> pick(8)) : 0;
          else
            b = std::uint8_t(0xAA >> (x & 1));
          bytes[std::size_t(x)] = b;
        }
      }
      for (int k = 0; k < count; ++k) job.row(row);
      r += count;
    }
    job.endLayer(pick(2) ? 3 : 120);
  }
  job.finish();
  return job;
}

// "" when equal, else where two files first differ.
std::string firstDifference(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  const auto at = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
  if (at.first == a.end() && at.second == b.end()) return "";
  return plat::format("sizes %d and %d, first difference at %d", int(a.size()), int(b.size()),
                      int(at.first - a.begin()));
}

struct GeneratedCase {
  Settings settings;
  bool pictureMode = false;
  // With powderReduce: the height profile the job was given.
  std::array<float, JobLayout::kProfileBins> profile{};
  std::string text;
};

GeneratedCase generatedSettings(std::mt19937& rng) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  GeneratedCase c;
  Settings& s = c.settings;
  s.stretchSizeLim = std::array{300, 700, 1500, 3000, 26000}[std::size_t(pick(5))];
  s.bidirectional = pick(2);
  s.bridgelayers = pick(3) != 0;
  s.band64 = std::array{64, 64, 100, 32}[std::size_t(pick(4))];
  if (pick(3) == 0) s.kcmyoff = {-30, 3, 7, -2, 361, 368, 390, 397, 419, 426};
  s.CartridgeDist = pick(3) == 0 ? 5 : 0;
  s.addedStretch = pick(4) == 0 ? 1 : 0;
  s.hazeRemove = std::array{0, 0, 1, 2}[std::size_t(pick(4))];
  s.blackPrint = pick(8) == 0;
  s.shiftLayer = pick(6) == 0 ? 7 : 0;
  s.endskippers = pick(2) ? 3 : 0;
  s.skipwater = pick(10) == 0;
  s.skipstretches = std::array{0, 0, 1, 3}[std::size_t(pick(4))];
  s.powderReduce = pick(3) == 0;
  // Thick layers: skipstretches counts from the first layer on.
  s.layerMicrons = pick(2) ? 250 : 1000;
  // Heights around those of the generated layers, so that some stretches
  // have model ahead and some have not.
  for (float& h : c.profile) h = float(pick(4)) * 0.25f;
  c.pictureMode = pick(10) == 0;
  c.text = plat::format(
      "stretchSizeLim=%d bidirectional=%d bridgelayers=%d band64=%d kcmyoff[0]=%d CartridgeDist=%d addedStretch=%d "
      "hazeRemove=%d blackPrint=%d shiftLayer=%d endskippers=%d skipwater=%d skipstretches=%d powderReduce=%d "
      "layerMicrons=%d picture mode=%d",
      s.stretchSizeLim, int(s.bidirectional), int(s.bridgelayers), s.band64, s.kcmyoff[0], s.CartridgeDist,
      s.addedStretch, s.hazeRemove, int(s.blackPrint), s.shiftLayer, s.endskippers, int(s.skipwater),
      s.skipstretches, int(s.powderReduce), s.layerMicrons, int(c.pictureMode));
  return c;
}

void useSettings(Settings& s, const Settings& from) {
  s.stretchSizeLim = from.stretchSizeLim;
  s.bidirectional = from.bidirectional;
  s.bridgelayers = from.bridgelayers;
  s.band64 = from.band64;
  s.kcmyoff = from.kcmyoff;
  s.CartridgeDist = from.CartridgeDist;
  s.addedStretch = from.addedStretch;
  s.hazeRemove = from.hazeRemove;
  s.blackPrint = from.blackPrint;
  s.shiftLayer = from.shiftLayer;
  s.endskippers = from.endskippers;
  s.skipwater = from.skipwater;
  s.skipstretches = from.skipstretches;
  s.powderReduce = from.powderReduce;
  s.layerMicrons = from.layerMicrons;
}

TEST(ConversionDots, GeneratedJobsKeepEveryDotAndFastLoopsMatchTheReference) {
  struct Run {
    const char* name;
    bool slow;
    int workers;
  } runs[] = {{"slot by slot", true, 1},
              {"fast", false, 1},
              {"fast, two workers", false, 2},
              {"fast, eight workers", false, 8}};
  constexpr int kRuns = int(std::size(runs));
  int splitJobs = 0, rebuiltBackward = 0, powderReduced = 0, skipCases = 0;
  for (unsigned seed = 1; seed <= 48; ++seed) {
    std::mt19937 rng(seed);
    const GeneratedCase c = generatedSettings(rng);
    const P3dJob job = generatedJob(rng, 1 + int(rng() % 3), 200 + int(rng() % 1000), c.settings.layerMicrons / 10);
    SCOPED_TRACE(plat::format("seed %d: %s", int(seed), c.text));
    std::vector<std::uint8_t> bytes[kRuns];
    std::vector<std::string> logs[kRuns];
    std::array<long long, 4> drops[kRuns];
    int widest[kRuns];
    for (int r = 0; r < kRuns; ++r) {
      ConversionRig t;
      useSettings(t.core.s, c.settings);
      if (c.pictureMode) t.core.controls.add(Control::Kind::MenuItem, "picturemode1", "picturemode").checked = true;
      t.conv->layout.heightProfile = c.profile;
      t.conv->layout.heightProfileMade = c.settings.powderReduce;
      t.conv->slowColumnLoop = runs[r].slow;
      t.conv->workers = runs[r].workers;
      t.convert(job);
      ASSERT_TRUE(t.logHas(".dmc created")) << runs[r].name;
      bytes[r] = t.dmc();
      logs[r] = std::vector<std::string>(t.core.Memo1.lines());
      drops[r] = t.conv->parser.drops;
      widest[r] = t.conv->layout.djmaxline;
      if (r > 0) {
        EXPECT_EQ(firstDifference(bytes[r], bytes[0]), "") << runs[r].name;
        EXPECT_EQ(logs[r], logs[0]) << runs[r].name;
        EXPECT_EQ(drops[r], drops[0]) << runs[r].name;
        EXPECT_EQ(widest[r], widest[0]) << runs[r].name;
        continue;
      }
      const auto dots = p3dLayerDots(job.bytes(), c.settings.hazeRemove, c.settings.blackPrint ? 1 : 0);
      const auto fired = dmcLayerBits(t.core, bytes[0], c.settings.band64);
      ASSERT_GE(fired.size(), dots.size());
      for (std::size_t l = 0; l < fired.size(); ++l) {
        FiredBits want;
        if (l < dots.size())
          want = expectedBits(dots[l], c.settings.band64, c.settings.blackPrint, c.settings.skipwater || c.pictureMode);
        EXPECT_EQ(fired[l].water, want.water) << "layer " << l;
        EXPECT_EQ(fired[l].colour, want.colour) << "layer " << l;
      }
      std::string types;
      for (const auto& rec : parseRecords(bytes[0])) types += rec.type;
      splitJobs += types.find('!') != std::string::npos;
      rebuiltBackward += c.settings.bidirectional && backwardPassRebuilt(stretchTypes(bytes[0]));
      powderReduced += t.conv->layout.powderReduced;
      skipCases += c.settings.skipstretches != 0 && c.settings.layerMicrons > 750;
    }
  }
  // The generated cases reach what they are for.
  EXPECT_GT(splitJobs, 10);
  EXPECT_GT(rebuiltBackward, 2);
  EXPECT_GT(powderReduced, 5);
  EXPECT_GT(skipCases, 5);
}

}  // namespace
}  // namespace ph::testing
