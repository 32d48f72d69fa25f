#include "host/app/print_guard.h"

#include "host/core/controls.h"
#include "host/core/host_core.h"

namespace ph {

namespace {

// Controls that move the machine or start another job.
constexpr const char* kGuarded[] = {
    "BtHome", "btzreset", "btpark", "btFront", "btPlatform", "btPrep", "btBatch", "btAllign", "btCartridges",
    "btBrush", "UpDown1", "Label2", "LabPwdr",
    // the patterns and tests write a job of their own and print it
    "allignpattern1", "whiteshifts1", "allignCol1", "allignWater1", "slantlines1", "fine1", "coarse1",
    "allcolors1",
    // the motion machine's manual actions
    "onePowderLayer1", "drillpatern1", "gcodefile1", "drying1", "platereset1", "UnpowerSteppers1",
    "Calibratepulses1"};

// How often the controls follow the print's state.
constexpr int kRefreshMs = 250;

}  // namespace

PrintGuard::PrintGuard(HostCore& core, std::function<bool()> printing)
    : core_(core), printing_(std::move(printing)), refreshTimer_(core.clock.createTimer("PrintGuard")) {
  refreshTimer_->setInterval(kRefreshMs);
  refreshTimer_->setHandler([this] { refresh(); });
}

PrintGuard::~PrintGuard() { refreshTimer_->setHandler(nullptr); }

void PrintGuard::attach(Controls& controls) {
  controls_ = &controls;
  for (const char* name : kGuarded) {
    Control* c = controls.find(name);
    if (!c) continue;
    std::string caption = c->caption.empty() ? name : c->caption;
    if (c->onClick) {
      c->onClick = [this, inner = std::move(c->onClick), caption] {
        if (!refuse(caption)) inner();
      };
    }
  }
  refreshTimer_->start();
}

bool PrintGuard::refuse(const std::string& what) {
  if (!printing_()) return false;
  core_.memoPrintf("%s: not while a print runs (pause or abort it first)", what);
  core_.statusMessage("printing");
  return true;
}

void PrintGuard::refresh() {
  const bool printing = printing_();
  if (!controls_ || printing == shownPrinting_) return;
  shownPrinting_ = printing;
  for (const char* name : kGuarded)
    if (Control* c = controls_->find(name)) c->setEnabled(!printing);
}

}  // namespace ph
