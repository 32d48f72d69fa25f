// The head's timing model, the build-time estimate and the fit checks, on
// worked cases.
#include "host/jobdata/build_time.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "host/core/testing/core_fixture.h"
#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/tests/conversion_fixture.h"

using namespace ph;
using ph::testing::ConversionFixture;
using ph::testing::P3dJob;
using ph::testing::P3dRow;

TEST(MoveTime, WorkedCases) {
  struct Case {
    double d, speed, a, seconds;
  };
  const Case cases[] = {
      {0.0, 8000.0, 1000.0, 0.0},
      // Too short to reach 40 mm/s (tAcc 0.4 s): 2 x sqrt(2d/a).
      {1.0, 2400.0, 100.0, 0.28284271247461906},
      {-1.0, 2400.0, 100.0, 0.28284271247461906},
      // 100 mm/s after 0.1 s: 10 mm to speed up and slow down, 90 at speed.
      {100.0, 6000.0, 1000.0, 1.1},
      // Exactly the distance of speeding up and slowing down.
      {10.0, 6000.0, 1000.0, 0.2},
      // Past the triangle but short of a full ramp: the ramps' time.
      {7.0, 6000.0, 1000.0, 0.2},
  };
  for (const Case& c : cases) EXPECT_NEAR(moveTime(c.d, c.speed, c.a), c.seconds, 1e-12) << c.d << " mm";
}

TEST(MoveDistance, WorkedCasesAndContinuityAtTheEndOfTheRamp) {
  EXPECT_NEAR(moveDistance(0.05, 6000.0, 1000.0), 1.25, 1e-12);
  EXPECT_NEAR(moveDistance(0.1, 6000.0, 1000.0), 5.0, 1e-12);
  EXPECT_NEAR(moveDistance(1.1, 6000.0, 1000.0), 105.0, 1e-12);
  const double tAcc = 0.1;
  EXPECT_NEAR(moveDistance(tAcc - 1e-9, 6000.0, 1000.0), moveDistance(tAcc + 1e-9, 6000.0, 1000.0), 1e-6);
}

namespace {
struct BuildTime : ::testing::Test, CoreFixture {
  JobState job{core};
  JobLayout layout{core, job};
  ConversionSettings s;

  BuildTime() {
    s.file_name = "cube";
    s.yvHi = 220.0;
    s.movespeed = 6000;
    s.printspeed = 6000;
    s.stretchcut = 0;
    s.prepstretches = 0;
    s.band64 = 64;
    s.behindmargin = 0;
    s.xMarlinBase = 133.0;
    s.kcmyoff = {};
    layout.yvLim = 80.0;  // 140 mm of travel: 1.5 s at 100 mm/s
    layout.printpages = 100;
    layout.stretchesPerLayer = 2;
    layout.endx1200 = 2000;
    layout.buildRoomSkip = 0;
    job.modelFits = true;
  }
  bool logHas(const std::string& text) const {
    return std::any_of(log().begin(), log().end(), [&](const std::string& l) { return l.find(text) == 0; });
  }
};
}  // namespace

TEST_F(BuildTime, WorkedEstimates) {
  struct Case {
    const char* what;
    long long filled, total, jumps;
    bool alternating;
    int minutes;
    const char* logged;
  };
  // 100 filled stretches there and back (3 s each), 100 empty ones on the
  // shortened way there and back (3 s), the first band's move (0.208 s),
  // and per jump layer 2 x 2 one-millimetre moves of 0.283 s.
  const Case cases[] = {
      {"plain", 100, 200, 0, false, 10, "file cube build time 10 minutes (600 stretch)"},
      {"jump layers", 100, 200, 150, false, 12, "file cube build time 12 minutes (600 stretch)"},
      {"both ways", 100, 200, 0, true, 6, "file cube build time 6 minutes (600 stretch)"},
      {"nothing filled", 0, 200, 0, false, 10, "file cube build time 10 minutes (600 stretch)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    s.alternating = c.alternating;
    EXPECT_EQ(buildTimeAndFit(core, s, layout, c.filled, c.total, c.jumps), c.minutes);
    EXPECT_TRUE(logHas(c.logged));
    EXPECT_TRUE(job.modelFits);
  }
  // Pattern jobs log no build time.
  core.Memo1.clear();
  s.patternMode = true;
  buildTimeAndFit(core, s, layout, 100, 200, 0);
  EXPECT_FALSE(logHas("file cube build time"));
}

TEST_F(BuildTime, FitInXAndY) {
  struct Case {
    const char* what;
    int buildRoomSkip;
    double yvLim;
    bool fits;
    const char* logged;
  };
  // X: three bands of 64 dots are 16.256 mm; the room is 133 mm less the
  // skip. Y: a stretch needs 1239 dots, 104.902 mm.
  const Case cases[] = {
      {"fits", 116, 80.0, true, ""},
      {"X by a hair", 117, 80.0, false, "NO FIT IN X-Direction"},
      {"Y just", 0, 220.0 - 104.91, true, ""},
      {"Y short", 0, 116.0, false, "Y overflow 0.902"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    job.modelFits = true;
    layout.buildRoomSkip = c.buildRoomSkip;
    layout.yvLim = c.yvLim;
    buildTimeAndFit(core, s, layout, 100, 200, 0);
    EXPECT_EQ(job.modelFits, c.fits);
    if (!c.fits) {
      EXPECT_TRUE(logHas(c.logged));
    }
    EXPECT_EQ(logHas("NO FIT IN Y-Direction"), !c.fits && c.yvLim != 80.0);
  }
}

// The stretch-length check of the conversion: a stretch longer than the
// room between yvLow and yvHi leaves (less the margins) does not fit.
TEST_F(ConversionFixture, TheLongestStretchMustFitTheRoomInY) {
  for (const double room : {140.0, 10.0}) {
    SCOPED_TRACE(room);
    core.Memo1.clear();
    job.modelFits = true;
    core.s.behindmargin = 0;
    core.s.yvHi = core.s.yvLow + room;
    P3dJob p3d;
    p3d.beginLayer();
    p3d.emptyRows(10);
    p3d.row(P3dRow::dot(0, 100));
    p3d.endLayer();
    p3d.finish();
    convert(p3d);
    const int lim = int((room * 300 / 25.4) - 242);
    EXPECT_TRUE(logHas("lim=" + std::to_string(lim)));
    const bool noFit = std::find(log().begin(), log().end(), "NO FIT") != log().end();
    EXPECT_EQ(noFit, room < 100);
    if (noFit) {
      EXPECT_FALSE(job.modelFits);
    }
  }
}
