#include "host/core/unattended_run.h"

#include "host/core/host_core.h"

namespace ph {

bool UnattendedRun::active() const {
  const char m = core_.runMode;
  return expected_ || (!core_.commandInputFile.empty() && (m == 'V' || m == 'T' || m == 'B'));
}

void UnattendedRun::fail(const std::string& reason) {
  if (!active()) return;
  core_.memoPrintf("unattended run failed: %s", reason);
  const bool first = !failed_ && !succeeded_;
  failed_ = true;
  if (first) core_.ui.closeMainWindow();
}

void UnattendedRun::succeed() {
  if (!active() || failed_ || succeeded_) return;
  succeeded_ = true;
  core_.ui.closeMainWindow();
}

int UnattendedRun::exitStatus() const { return active() && (failed_ || !succeeded_) ? 1 : 0; }

}  // namespace ph
