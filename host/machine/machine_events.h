#pragma once
// What the jetting-unit link finds or is asked for that other subsystems act
// on: the manual controls (drop pictures, alarm beeps, the cartridge check,
// pasting), the alignment print and the print sequencer (a G-code-only
// run). The Host implements it once and hands it to the link at
// construction.
#include <string>

namespace ph {

class MachineEvents {
 public:
  virtual ~MachineEvents() = default;
  // The unit reported a cartridge failure: redraw the drop pictures.
  virtual void dropImages() = 0;
  // An alarm that pauses the print: play this many beeps.
  virtual void setAlarmCount(int beeps) = 0;
  // Terminal keys: Esc runs the cartridge check, "~" the alignment print,
  // Ctrl-V pastes jetting-unit commands from the clipboard.
  virtual void cartridgeCheck() = 0;
  virtual void alignmentPrint() = 0;
  virtual void pasteInkCommands() = 0;
  // The print runs G-codes only (nothing goes to the jetting unit).
  virtual bool gcodeOnlyRun() const = 0;
  // The print sequencer's: a print's tick runs; a stretch's jetting data
  // streams (commands wait behind it).
  virtual bool printTicking() const = 0;
  virtual bool stretchStreaming() const = 0;
  // The ink controls': the cartridge check is sounding its result; the
  // alarm that follows a pause starts; the cartridge scan stops (Esc).
  virtual bool cartridgeCheckSounding() const = 0;
  virtual void startAlarmSound() = 0;
  virtual void stopCartridgeScan() = 0;
};

}  // namespace ph
