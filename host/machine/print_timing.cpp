#include "host/machine/print_timing.h"

#include <algorithm>
#include <cmath>

#include "host/core/numbers.h"
#include "host/jobdata/build_time.h"

namespace ph {

int truncToInt(double v) {
  if (!(v == v)) return 0;
  return int(std::clamp(v, -2147483648.0, 2147483647.0));
}

PowderTime powderTime(const Settings& s, double yvLim, bool shortPass, bool lastOfLayer) {
  PowderTime p;
  p.timeMs = s.powdertime;
  if (s.powderPercentage >= 0) {
    const double travel = s.yvHi - yvLim;
    double seconds = moveTime(2 * travel, s.movespeed, 1000.0) * s.powderPercentage * 0.5 * 0.01;
    if (shortPass) seconds *= 0.6;
    p.timeMs = truncToInt(1000 * seconds);
    const double mm = std::min(moveDistance(seconds, s.movespeed, 1000.0) + s.powderadvance, travel - s.stretchcut - 1);
    p.start = truncToInt(mm * 300 / 25.4 + 10001);
  }
  if (lastOfLayer) p.timeMs += s.addpowderlast;
  return p;
}

int nextPowderStart(const Settings& s, double headY, double speed) {
  if (s.powderdelay >= 10000) return s.powderdelay;
  return clampInt(truncToInt(s.powderdelay - (headY - s.yvLow) * 60000 / (speed == 0 ? 1 : speed)), 0, 2000);
}

int passDataWaitMs(const Settings& s, double yvLim, long long recordBytes, int baudRate) {
  const int travel = truncToInt(1000 * moveTime(s.yvHi - yvLim, s.movespeed, 1000.0));
  // The data goes out at the line's rate, but at most one block of 512
  // bytes per 20 ms tick of the stream: the slower of the two counts.
  const long long lineMs = baudRate > 0 ? recordBytes * 10000 / baudRate : 0;
  const long long tickMs = (recordBytes + 511) / 512 * 20;
  const long long transferMs = std::max(lineMs, tickMs) + s.dataGraceTime;
  if (transferMs <= travel) return 0;
  return int(std::min<long long>(transferMs - travel, 2000000000));
}

int passSpeed(const Settings& s, long long dataBytes) {
  return dataBytes > s.halfSpeedBytes ? s.printspeed / 2 : s.printspeed;
}

int headRunMs(const Settings& s, double yvLim) {
  return truncToInt((yvLim - s.yvLow) * 60000 / notnul(s.movespeed));
}

std::optional<int> startPowderTime(const Settings& s, double yvLim) {
  if (!(s.maxpowdertime > 0 && s.powderPercentage == 0)) return std::nullopt;
  return clampInt(truncToInt(double(s.maxpowdertime) - headRunMs(s, yvLim)), 0, 2000);
}

int primeTravelMs(const Settings& s, double startX, double headX, double lastHeadY) {
  return truncToInt((std::fabs(startX - headX) + std::fabs(s.yvHi - lastHeadY)) * 60000.01 / notnul(s.movespeed)) +
         400;
}

}  // namespace ph
