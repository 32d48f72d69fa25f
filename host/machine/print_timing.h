#pragma once
// The print's pass and powder timing: plain functions of the settings and
// the job's layout that return their values, so each is testable alone.
#include <optional>

#include "host/core/settings.h"

namespace ph {

// trunc() toward zero, kept inside the int range (NaN: 0).
int truncToInt(double v);

// The powder of one pass: how long the powder runs (ms) and, when the
// powder follows the head's travel (powderPercentage >= 0), where it starts
// (in dots + 10001, the unit's way of saying "a place, not a time").
struct PowderTime {
  int timeMs = 0;
  std::optional<int> start;
};
// shortPass: a bidirectional pass whose return carries no data (0.6 of
// the time); lastOfLayer: the layer's last powder pass (addpowderlast).
PowderTime powderTime(const Settings& s, double yvLim, bool shortPass, bool lastOfLayer);

// When the next pass's powder starts (ms), from where the head stands now.
int nextPowderStart(const Settings& s, double headY, double speed);

// How long the head waits (ms) before a pass whose record of `recordBytes`
// takes longer to send than the pass takes to travel; 0 when it does not.
int passDataWaitMs(const Settings& s, double yvLim, long long recordBytes, int baudRate);

// The print speed of a pass of `dataBytes`: half speed for a heavy one.
int passSpeed(const Settings& s, long long dataBytes);

// The head's run (ms) from the stretch end back to yvLow.
int headRunMs(const Settings& s, double yvLim);

// The powder time that the settings derive at print start (maxpowdertime
// less the head's run); nullopt when they derive none.
std::optional<int> startPowderTime(const Settings& s, double yvLim);

// The head's travel time (ms) from where it stands to the priming place.
int primeTravelMs(const Settings& s, double startX, double headX, double lastHeadY);

}  // namespace ph
