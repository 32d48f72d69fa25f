#pragma once
// Keeps the operator's hands off the machine while a print runs: the
// controls that move the machine or start another job are shown disabled
// and refuse with a message, and so do the terminal keys that do the same
// (Esc: the cartridge check, "~": the alignment print). The print's own
// steps call the same actions directly and are not affected.
#include <functional>
#include <memory>
#include <string>

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

 private:
  HostCore& core_;
  std::function<bool()> printing_;
  Controls* controls_ = nullptr;
  std::unique_ptr<plat::Timer> refreshTimer_;
  bool shownPrinting_ = false;
};

}  // namespace ph
