#pragma once
// The main unit's texts that are not settings: fixed command texts, byte
// markers of the job data, the print head's connector tables, the button
// hints, and the values that the main unit's state starts from.
#include <array>
#include <string>
#include <string_view>

namespace ph {

// Feeder move template ("?%?" takes the amount).
inline constexpr std::string_view feederGcode = "G92 E0,G0 E?%? F80,M18 E0";
// Head path of the brush sequence.
inline constexpr std::string_view brushPath =
    "X2 Y220, X2 Y152,X30 Y152,X30 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,"
    "X2 Y124,X30 Y124,X30 Y152,X2 Y152,X2 Y220,X133 Y220";

// Raster start of the printer language: the last bytes of every page head.
inline constexpr std::string_view layerStartMarker{"\x1b*r1A\x1b*b2M\x1b*b", 13};
// Machine-command block start: "g11W", 0x80 and eight 0x7F.
inline constexpr std::string_view commandBlockStart{"g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f", 13};
// The jetting unit's acknowledgement of a finished stretch (trailing blank).
inline constexpr std::string_view inMonitorKeyword = "~in_monitor ";

// The print head connector's pin names in pin order, odd and even pins.
inline constexpr std::string_view connectorPinsOdd = "A9P7G7P5G5G3P3A7A5G1P1A3A1X0A2A4P13G13A6A8P11G11A10A12P9G9";
inline constexpr std::string_view connectorPinsEven =
    "G6P6A11A13G4P4A15A17G2P2A19A21A22X1A20P14G14A18A16P12G12G10P10G8P8A14";
// The two nozzle lists that feed the wiring tables.
inline constexpr std::string_view nozzleListFirst = "T00T52T08T50T06T55T02T54T12T42T26T45T21T48T22T00";
inline constexpr std::string_view nozzleListSecond =
    "T11T07T05T04T14T15T17T01T19T53T24T25T51T00T40T44T35T34T49T47T36T38T00T33";

// The mesh tools run in-process; this name is only the first word of a mesh
// command line.
inline constexpr std::string_view meshToolPath = "meshkit";

// Button hints: "component;caption when written~hint"; "x" ends the list.
inline constexpr int buttonHintSlots = 50;
inline constexpr std::array<std::string_view, 24> buttonHintTable{
    "btPlatform;(null)~Move platform up or down for inspection",
    "btDspP3d;dsp p3d~Display the color rendering of a layer",
    "cb_comm;cb_comm~enable or disable communication to ink unit",
    "btStart;start~Start 3d printing direct",
    "btDmc;pr dmc~Display the inkjet rendering of 2 stretches",
    "btzreset;Z-reset~Move the platform to endstop and then to start position",
    "cbkeepwet;KeepWet~Keep the inkjets ejecting so they dont dry out ",
    "btAbort;abort~Abort the current operation",
    "pause;pause~Pause or resume the current operation",
    "UpDown1;---~Move platform 0.5 mm up or down",
    "btpark;< --- >~Move the printhead for inspection",
    "BtHome;Home~Home the x and y position of the printhead",
    "btCartridges;Cartridges~Check if cartridges are connected. First beep is color. Low tone is error. Right "
    "click for repeated check",
    "btPrep;prep layers~Make the intial powder layers before the actual printing starts",
    "btBatch;3d print~Start a complete printing process",
    "btAllign;Align~Print an align pattern to check match between color and water inkjets",
    "btFront;V ^~Move printhead for inspection",
    "btViewstl;View stl~Inspect the current 3d file layer by layer",
    "BurstCol;Ink~Prime the color inkjets",
    "BurstWtr;Wtr~Prime the water inkjets",
    "Label2;powder +/-~Left Click to increase powder, right click to decrease",
    "LabPwdr;0~Left Click to increase powder, right click to decrease",
    "setfile1;0~select files",
    "x",
};

// Values the main unit's state starts from at program load. Texts not
// listed here start empty.
struct MainUnitTexts {
  std::string jobFileName = "??";         // the open print file
  std::string convertedStlName = "convertedobj.stl";
  std::string comboLine = "a = 0";     // single-parameter combo box
  std::string multiLineName = "??";    // multi-line text editor
  std::string marlinLinkState = "??";  // placeholders of the link and
  std::string sequencerState = "???";  // sequencer state until their
  std::string machineActionState = "?";  // owners first set them
  int stretchNo = -3;  // minus the default of prepstretches
};

// The build date as "yymmdd" from a compile date written "Mmm dd yyyy"
// (day padded with a blank).
std::string buildDateFrom(std::string_view compileDate);
// The program's own build date.
std::string buildDate();

}  // namespace ph
