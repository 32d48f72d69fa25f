#pragma once
// Keeps the operator's hands off the machine while a print runs: the
// controls that move the machine or start another job are shown disabled
// and refuse with a message, and so do the terminal keys that do the same
// (Esc: the cartridge check, "~": the alignment print). The print's own
// steps call the same actions directly and are not affected.
#include <functional>
#include <memory>
#include <string>

#include "host/machine/machine_events.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
class Controls;

class PrintGuard {
 public:
  // printing: whether a print runs (the print sequencer's isBusy).
  PrintGuard(HostCore& core, std::function<bool()> printing);
  ~PrintGuard();

  // Wraps the click handlers of the guarded controls; call once every
  // handler is bound.
  void attach(Controls& controls);
  bool printing() const { return printing_(); }
  // True (and the operator told) when `what` must wait for the print.
  bool refuse(const std::string& what);
  // Shows the guarded controls enabled or disabled as the print runs.
  void refresh();

  // The terminal's events with Esc and "~" refused while printing.
  class TerminalEvents final : public MachineEvents {
   public:
    TerminalEvents(PrintGuard& guard, MachineEvents& inner) : guard_(guard), inner_(inner) {}
    void dropImages() override { inner_.dropImages(); }
    void setAlarmCount(int beeps) override { inner_.setAlarmCount(beeps); }
    void cartridgeCheck() override {
      if (!guard_.refuse("cartridge check")) inner_.cartridgeCheck();
    }
    void alignmentPrint() override {
      if (!guard_.refuse("alignment print")) inner_.alignmentPrint();
    }
    void pasteInkCommands() override { inner_.pasteInkCommands(); }
    bool gcodeOnlyRun() const override { return inner_.gcodeOnlyRun(); }

   private:
    PrintGuard& guard_;
    MachineEvents& inner_;
  };

 private:
  HostCore& core_;
  std::function<bool()> printing_;
  Controls* controls_ = nullptr;
  std::unique_ptr<plat::Timer> refreshTimer_;
  bool shownPrinting_ = false;
};

}  // namespace ph
