#pragma once
// The state of the current job that the hand-off, the conversion and the
// print sequencer share. The Host owns the one JobState; the others hold a
// reference to it and set only what their own step decides.
#include <string>

#include "platform/folder_lock.h"

namespace ph {

class HostCore;

struct JobState {
  // Subscribes to the core's slicing-setting changes (they clear jobReady).
  explicit JobState(HostCore& core);
  ~JobState();
  JobState(const JobState&) = delete;
  JobState& operator=(const JobState&) = delete;

  // A test or alignment pattern is printed: the work files are "pattern.*".
  bool patternMode = false;
  // The .dmc was converted by this run of the program and is current.
  bool dmcCurrent = false;
  // A sliced or opened job is ready; a change of a setting the slicer is
  // given makes it stale.
  bool jobReady = false;
  // Set by the open-model road, cleared by the scan and the conversion when
  // the job does not fit the build room.
  bool modelFits = true;
  // The stretch being written is printed backwards (bidirectional printing).
  bool backwardPass = false;
  // The file opened last: a model, or a .p3d job opened directly.
  std::string jobFileName = "??";

  // The work file of the current job with that extension, in the work
  // folder: "temp.dmc" ("pattern.dmc" in pattern mode); "pattern." + ext in
  // pattern mode; for "p3d" the opened job itself when a .p3d was opened;
  // otherwise the model's core name with the extension. A work folder that
  // does not exist gives the current folder.
  std::string workFileName(const std::string& ext) const;

  // Takes the work folder for this program before a job's files are made
  // or converted there. Two programs in one folder would slice into and
  // convert each other's work files, so a folder another prismhost holds is
  // refused: false, told to the operator (an unattended run ends). The
  // folder is held until the program ends or claims another.
  bool claimWorkFolder();

 private:
  HostCore& core_;
  int subscription_ = 0;
  plat::FolderLock workFolderLock_;
};

}  // namespace ph
