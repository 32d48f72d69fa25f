#include "host/jobdata/build_time.h"

#include <algorithm>
#include <cmath>

#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"

namespace ph {

double moveTime(double d, double speed, double a) {
  const double v = speed / 60.0;
  d = std::fabs(d);
  const double tTri = 2.0 * std::sqrt(2.0 * d / a);
  const double tAcc = v / a;
  if (tTri / 2.0 < tAcc) return tTri;
  const double rest = d - tAcc * tAcc * a;
  return rest > 0 ? 2.0 * tAcc + rest / v : 2.0 * tAcc;
}

double moveDistance(double t, double speed, double a) {
  const double v = speed / 60.0;
  const double tAcc = v / a;
  if (t <= tAcc) return a * t * t / 2.0;
  return (t - tAcc) * v + a * tAcc * tAcc / 2.0;
}

int buildTimeAndFit(HostCore& core, const ConversionSettings& s, JobLayout& layout, long long filled,
                    long long total, long long jumps) {
  const double y = s.yvHi - layout.yvLim;
  auto t = [](double d, double speed) { return moveTime(d, speed, xyaccel); };
  const long long printpages = layout.printpages;
  const double k = double(s.prepstretches) * printpages + double(total - filled);
  double T = double(filled) * (t(y, s.movespeed) + t(y, s.printspeed)) + 2.0 * k * t(y - s.stretchcut, s.printspeed);
  T += t(dotsToMm(double(s.prepstretches + layout.stretchesPerLayer) * s.band64), s.movespeed);
  T += 2.0 * double(jumps) * (s.prepstretches + layout.stretchesPerLayer) * moveTime(1.0, 2400.0, 100.0);
  if (s.alternating) T = T * 65 * 0.01;
  if (!s.patternMode)
    core.memoPrintf("file %s build time %d minutes (%lld stretch)", s.file_name, saturatedInt(T / 60),
                    2 * ((s.prepstretches + 1LL) * printpages + total));
  if (dotsToMm(double(s.prepstretches + layout.stretchesPerLayer + 1) * s.band64) > s.xMarlinBase - layout.buildRoomSkip) {
    layout.job.modelFits = false;
    core.memoPrintf("NO FIT IN X-Direction");
  }
  core.logVars("endx1200", layout.endx1200, "stretchesPerLayer", layout.stretchesPerLayer);
  const double need = dotsToMm(double(s.kcmyoff[9]) + s.behindmargin + layout.endx1200 - 761);
  if (y < need) {
    core.memoPrintf("Y overflow %g", need - y);
    layout.job.modelFits = false;
    core.memoPrintf("NO FIT IN Y-Direction");
  }
  return saturatedInt(T / 60);
}

void logMoveTimes(HostCore& core) {
  const int movespeed = std::max(core.s.movespeed, 1);  // 0 would never arrive
  for (int i = 0; i <= 20; ++i) {
    const double tim = moveTime(20.0 * i, movespeed, xyaccel) / 2.0;
    core.logVars("int(1000.0*tim)", saturatedInt(1000.0 * tim), "int(movedist(tim,movespeed,xyaccel))",
                 saturatedInt(moveDistance(tim, movespeed, xyaccel)));
  }
}

}  // namespace ph
