#include "host/jobdata/job_state.h"

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

namespace ph {

JobState::JobState(HostCore& core) : core_(core) {
  subscription_ = core_.slicingSettingChanged.subscribe([this] { jobReady = false; });
}

JobState::~JobState() { core_.slicingSettingChanged.unsubscribe(subscription_); }

bool JobState::claimWorkFolder() {
  // The folder the work files go to (the current one when the work folder
  // does not exist).
  const std::string folder = parentDir(expandCurrentDir(workFileName("dmc")));
  switch (workFolderLock_.acquire(folder.empty() ? std::string(1, '/') : nativePath(folder))) {
    case plat::FolderLock::Result::Held: return true;
    case plat::FolderLock::Result::Failed:
      // The file steps that need the folder report what is wrong with it.
      return true;
    case plat::FolderLock::Result::InUse: break;
  }
  const std::string text =
      plat::format("the work folder %s is in use by another prismhost: its jobs are left alone; "
                   "give this one a folder of its own (setting file_folder)",
                   folder);
  core_.memoPrintf("%s", text);
  if (core_.run.active()) core_.run.fail("work folder in use");
  else core_.ui.showMessage(text);
  return false;
}

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
