#pragma once
// Two microsecond stopwatches on the monotonic clock: one for the main unit
// and one for the mesh tools, so timing a mesh operation never resets a
// measurement the main unit has running.

namespace ph {

void stopwatchStart();
// Microseconds since the last stopwatchStart().
double stopwatchMicros();

void mainStopwatchStart();
// Microseconds since the last mainStopwatchStart().
double mainStopwatchMicros();

}  // namespace ph
