#include "host/jobdata/job_state.h"

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

namespace ph {

JobState::JobState(HostCore& core) : core_(core) {
  subscription_ = core_.slicingSettingChanged.subscribe([this] { jobReady = false; });
}

JobState::~JobState() { core_.slicingSettingChanged.unsubscribe(subscription_); }

std::string JobState::workFileName(const std::string& ext) const {
  const std::string& dir = core_.workDir;
  std::string r;
  if (ext == "dmc") r = dir + (patternMode ? "pattern.dmc" : "temp.dmc");
  else if (patternMode) r = dir + "pattern." + ext;
  else if (ext == "p3d" && upperCase(jobFileName).find(".P3D") != std::string::npos) r = jobFileName;
  else r = dir + core_.s.file_name + "." + ext;
  return checkedFolder(r);
}

}  // namespace ph
