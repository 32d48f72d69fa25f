#pragma once
// Developer aids of the main window: the print head's wiring (nozzle to
// connector pin), tables printed as source text for the jetting unit's
// firmware (the "ex-buttons" menu), the connector board's drilling layout
// as a script for a drawing program, and table and window dumps. All write
// into the operator log.
#include <array>
#include <string>

namespace ph {

class HostCore;
struct JobState;

// The connector pin (1 to 52) of a nozzle of the head's two 30-nozzle
// rows; 0 for nozzle 0, for nozzles 27 to 30 and 57 to 60 (not wired) and
// for numbers outside 1 to 60.
int nozzleToPin(int nozzle);
// The inverse: the nozzle at each pin (index 1 to 52), 0 at index 0.
std::array<int, 53> pinToNozzle();
// The name of a connector pin: a letter (A address line, P primitive,
// G ground, X not connected) and a number; "" outside 1 to 52.
std::string pinName(int pin);

class HeadTables {
 public:
  HeadTables(HostCore& core, const JobState& job);

  // The mux codes of the 22 address lines: code v (0..31) in bits 16-18
  // (v mod 8), bit 20 (+8) and bit 21 (+16). rebuildMuxCodes rewrites them.
  std::array<unsigned, 22> muxcodes;

  void logContactLayout();
  void logPinLayout();
  void logLeadingEmptyRows();
  // Copies a presentation page, putting "next" and "previous" links before
  // each group of lines with "witvlak.". The two files are the operator's
  // choice (file dialogs).
  void linkPresentationPages();
  void logNozzleBitTables();
  void logWindowFrame();

  // Developer aids of the print head's wiring, each logging a table:
  // nozzles per pin (and any nozzle number missing or doubled), the port
  // word of each pin, the connector's layout, the port code that sets the
  // mux codes, and a firing script over every address and primitive.
  void logNozzlePins();
  void logPinWords();
  void logConnectorLayout();
  void logMuxPortCode();
  void logFiringScript();
  // The mux codes made anew from their values, logged with their clear and
  // set words and checked.
  void rebuildMuxCodes();

  // The lmtest copy proper; false (told) when a file could not be read or
  // written.
  bool copyWithPageLinks(const std::string& from, const std::string& to);

 private:
  void log(const std::string& text);

  HostCore& core_;
  const JobState& job_;
};

}  // namespace ph
