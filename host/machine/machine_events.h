#pragma once
// What the two links find or are asked for that the print sequencer, the
// manual controls and the alignment print act on. Those subsystems
// implement this; until they are attached, UnbuiltMachineEvents stands in
// and says in the log which action is not built yet.
#include <string>

namespace ph {

class HostCore;

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
};

class UnbuiltMachineEvents : public MachineEvents {
 public:
  explicit UnbuiltMachineEvents(HostCore& core) : core_(core) {}
  void dropImages() override { notBuilt("drop pictures"); }
  void setAlarmCount(int) override { notBuilt("alarm sound"); }
  void cartridgeCheck() override { notBuilt("cartridge check"); }
  void alignmentPrint() override { notBuilt("alignment print"); }
  void pasteInkCommands() override { notBuilt("pasting commands"); }
  // Without a print sequencer there is no G-code-only run.
  bool gcodeOnlyRun() const override { return false; }

 private:
  void notBuilt(const char* what);
  HostCore& core_;
};

}  // namespace ph
