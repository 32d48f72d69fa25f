#pragma once
// The head's motion timing model and the build-time estimate with the fit
// checks of a converted job.
namespace ph {

class HostCore;
struct ConversionSettings;
struct JobLayout;

// Acceleration of the head in the timing model (mm/s^2).
inline constexpr double xyaccel = 1000.0;

// Seconds for a move of d mm at speed mm/min with acceleration a mm/s^2.
double moveTime(double d, double speed, double a);
// Millimetres covered in t seconds.
double moveDistance(double t, double speed, double a);

// Logs the build time and checks the fit in X and Y (clearing modelFits);
// returns the build time in whole minutes.
int buildTimeAndFit(HostCore& core, const ConversionSettings& settings, JobLayout& layout, long long filled,
                    long long total, long long jumps);
// The "movetim" table: move times and distances for 0 to 400 mm.
void logMoveTimes(HostCore& core);

}  // namespace ph
