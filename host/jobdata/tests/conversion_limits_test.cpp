// Numbers at the edge: a .p3d whose numbers no raster has is refused with a
// message that names the file, and settings anywhere in their type's range
// convert without overflow (the sanitizer build traps any that happens).
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "conversion_fixture.h"
#include "host/jobdata/build_time.h"
#include "host/jobdata/p3d_scan.h"

namespace ph::testing {
namespace {

P3dJob smallJob() {
  std::mt19937 rng(4);
  P3dJob job;
  for (int l = 0; l < 2; ++l) {
    job.beginLayer();
    job.emptyRows(6);
    for (int r = 0; r < 90; ++r) {
      if (r % 30 == 29) {
        job.skipRows(7);
        continue;
      }
      P3dRow row;
      for (int p = 0; p < 4; ++p)
        for (int x = 16 + int(rng() % 40); x < 400; x += 1 + int(rng() % 9)) row.set(p, x);
      job.row(row);
    }
    job.endLayer();
  }
  job.finish();
  return job;
}

TEST_F(ConversionFixture, NumbersNoRasterHasAreRefusedWithTheFileNamed) {
  struct Case {
    const char* name;
    int zs;  // layer thickness after "ZS"
    std::string rows;
    const char* said;
  } cases[] = {
      {"thickness", 999999999, "1v\x01vvw", "the layer thickness ZS999999999 is out of range"},
      {"skip", 25, "1000000000y1v\x01vvw", "layer 1 is longer than 100000 rows"},
      {"rows", 25, std::string(100001, 'w'), "layer 1 is longer than 100000 rows"},
      {"plane", 25, "99999999v\x01", "layer 1: a plane of 99999999 bytes"},
  };
  for (const auto& c : cases) {
    ConversionRig t;
    P3dJob job(c.zs);
    job.beginLayer();
    job.raw(c.rows);
    job.endLayer();
    job.finish();
    t.write(job);
    const std::string before = "the job before";
    ASSERT_TRUE(t.core.writeTextFile(t.dmcPath(), before));
    const ConversionOutcome outcome = t.conv->convertJob();
    EXPECT_EQ(outcome.status, ConversionStatus::Failed) << c.name;
    EXPECT_NE(outcome.message.find(t.p3dPath() + ": " + c.said), std::string::npos) << c.name << ": "
                                                                                     << outcome.message;
    EXPECT_TRUE(t.logHas(c.said)) << c.name;
    EXPECT_FALSE(t.logHas(".dmc created")) << c.name;
    const auto kept = t.dmc();
    EXPECT_EQ(std::string(kept.begin(), kept.end()), before) << c.name;
  }
}

// Every number the operator can set, at the ends of its type's range (int
// and double settings, every element of int arrays), one at a time.
TEST(ConversionLimits, ExtremeSettingsConvertWithoutOverflow) {
  const P3dJob job = smallJob();
  const double doubles[] = {1e300, -1e300, std::nan(""), INFINITY, -INFINITY};
  for (bool bidirectional : {false, true}) {
    ConversionRig t;
    t.conv->workers = 1;  // the builders' code is the same on worker threads
    t.write(job);
    auto convertWith = [&](const std::string& what, auto set) {
      t.core.params.resetParamsToDefaults();
      t.core.s.bidirectional = bidirectional;
      set();
      t.core.Memo1.clear();
      t.conv->convertJob();
      // Whatever it came to, it came to an end and said so.
      EXPECT_TRUE(t.logHas(".dmc created") || t.logHas("conversion stopped") || t.logHas("holds no ink"))
          << what << (bidirectional ? ", bidirectional" : "");
      // The job's readers and the timing table take the same settings.
      t.conv->decoder.resetDecoder();
      logMoveTimes(t.core);
    };
    for (const ParamEntry& e : t.core.params.entries()) {
      if (auto* v = std::get_if<int*>(&e.paramPtr)) {
        for (int x : {INT_MAX, INT_MIN}) convertWith(plat::format("%s=%d", e.paramName, x), [&] { **v = x; });
      } else if (auto* a = std::get_if<IntArrayRef>(&e.paramPtr)) {
        for (int x : {INT_MAX, INT_MIN})
          convertWith(plat::format("%s[*]=%d", e.paramName, x), [&] { std::fill(a->first, a->first + a->count, x); });
      } else if (auto* d = std::get_if<double*>(&e.paramPtr)) {
        for (double x : doubles) convertWith(plat::format("%s=%g", e.paramName, x), [&] { **d = x; });
      }
    }
  }
}

}  // namespace
}  // namespace ph::testing
