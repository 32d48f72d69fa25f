#pragma once
// The jetting unit's command language, in one place. A command is decimal
// arguments separated by "," and one lower-case letter ("2,2n", "973j");
// blanks between commands are skipped. Every text the host sends to the
// unit is built from the names here, so a command is spelt once.
#include <string>

#include "platform/format.h"

namespace ph::unit {

// ---- pass data ----
// The byte that ends a stretch's pass data; alone, it asks the unit for its
// acknowledgement.
inline constexpr unsigned char kStretchEnd = 0xBF;
// What follows is pass data, up to the stretch end.
inline constexpr const char* kPassData = "973j";
// The unit's data self-test: pass data that follows at once.
inline constexpr const char* kTestPassData = " 128t999j972j973j";
// A pass without nozzle data: one zero run, then its end.
inline constexpr const char* kBlankPassData = "\x18\x03\xBF";

// ---- passes ----
// A forward pass: powder start and time (ms) follow.
inline constexpr const char* kForwardPass = "2,2n";
// A return pass.
inline constexpr const char* kReturnPass = "3n";
inline std::string powderTimes(int startMs, int timeMs) { return plat::format("%d,%dp", startMs, timeMs); }
// Where the pass's data starts, in bytes of the head's columns.
inline std::string passDataOffset(int bytes) { return plat::format("%d,24n", bytes); }
// The offset of a pass that starts at its beginning.
inline constexpr int kPassStartOffset = 108;

// ---- print start, pause and end ----
inline constexpr const char* kPrintStart = "999j17n12n18n";
// Stops the pass after the current stretch.
inline constexpr const char* kStopAfterStretch = "6000,16n";
// A stretch end, then the stop: what every end of a print sends.
inline constexpr const char* kStopCodes = "\xBF" "6000,16n";
// The print goes on after a pause.
inline constexpr const char* kResume = "  1,17n";
// After a long print: the unit's end-of-print steps.
inline constexpr const char* kLongPrintEnd = " 21o1r21r12t33t1o";
// The unit's report (a user function).
inline constexpr const char* kReport = " 21o1r21r16o12t33t1o";

// ---- temperatures ----
inline constexpr const char* kReadTemperatures = "12t";
inline constexpr const char* kTemperatureControl = "7t";
inline constexpr const char* kTemperatureHold = "0,0t";
inline std::string setTemperature(int celsius) { return plat::format("%d,15t", celsius); }
inline std::string heatLevel(int level) { return plat::format("%d,1t", level); }

// ---- cartridges and their check ----
inline constexpr const char* kWaterCartridge = "3g";
inline constexpr const char* kColourCartridge = "2g";
inline constexpr const char* kCheckWaterCartridge = "17g100,34n";
inline constexpr const char* kCheckColourCartridge = "18g120,34n";
inline constexpr const char* kCartridgeCheckStart = "28t17g100,34n";
inline constexpr const char* kCartridgeCheckSecond = "18g120,34n30,17t";

// ---- bursts and keep-wet ----
inline constexpr const char* kWaterBurst = "999j7t1000,22n";
inline constexpr const char* kColourBurst = "999j7t1000,8n";
inline std::string colourBurst(int colour) { return plat::format("999j7t%d,1000,8n", colour); }
inline constexpr const char* kKeepWetOn = "999j1000,7t2000,13n4999,19n";
inline constexpr const char* kKeepWetOff = "7t12n18n";
// Keep-wet around heating the plate, with the heater's own setting.
inline constexpr const char* kPlateHeatStart = " 5005,23o999j1000,7t2000,13n4999,19n";
inline constexpr const char* kPlateHeatEnd = " 25025,23o7t12n18n";
inline std::string blackHeaterStep(int level) { return plat::format("%d,1t28n", level); }

// ---- priming check ----
// The head travels (ms) to the priming place, then the water burst.
inline std::string primeWaterBurst(int travelMs, int pulse) {
  return plat::format("%d,34n12t100,34n999j%d,22n1050,34n12t", travelMs, pulse);
}
inline constexpr const char* kPrimeColourBurst = "12t100,34n999j7t1000,8n1050,34n12t";
inline std::string primeColourBurst(int colour) {
  return plat::format("12t100,34n999j7t%d,1000,8n1050,34n12t", colour);
}

// ---- roller, shaker, powder ----
inline constexpr const char* kRollerOn = "17n";
inline constexpr const char* kRollerOff = "16n";
inline std::string rollerBoost(int speed) { return plat::format("17n100,34n100,11o1000,34n%d,11o", speed); }
inline constexpr const char* kShakerOn = "9999p";
inline constexpr const char* kShakerOff = "0p";
inline constexpr const char* kPowderOnly = "4999p";

// ---- link and pins ----
inline std::string localXonXoff(int level) { return plat::format("%d,28o", level) + "1,20o"; }
inline constexpr const char* kXonXoffHandshake = "1,20o";
inline constexpr const char* kCtsHandshake = "0,20o";
inline constexpr const char* kStrokeMark = "26o";
inline constexpr const char* kStrokeMarkAndPins = "26o6n";
inline constexpr const char* kReadPins = "6n";

}  // namespace ph::unit
