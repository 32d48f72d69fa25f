#pragma once
// The operator-visible names the print sequencer answers and reads, in one
// table: the controls and menu switches of the main window it uses.
namespace ph::print_names {

// Buttons and the pause box.
inline constexpr const char* kStart = "btStart";
inline constexpr const char* kAbort = "btAbort";
inline constexpr const char* kPause = "pause";
// Labels and lamps the print paints.
inline constexpr const char* kStretchLabel = "LabStretch";
inline constexpr const char* kProgressLabel = "perclabel";
inline constexpr const char* kXoffLamp = "xofflamp";
// Switches of the menus.
inline constexpr const char* kUnitLink = "cb_comm";
inline constexpr const char* kDebugRoute = "debugroute1";
inline constexpr const char* kDetour = "detour1";
inline constexpr const char* kPowderLog = "powder2";
inline constexpr const char* kMultiPowderLayer = "multiPowderlayer1";
inline constexpr const char* kTemperatureControl = "temprcontrol1";
inline constexpr const char* kConnectCheck = "connectcheck1";
inline constexpr const char* kNoColour = "NoColor1";

}  // namespace ph::print_names
