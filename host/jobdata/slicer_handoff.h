#pragma once
// The road from a model file to a converted job: open the model (an OBJ is
// first turned into coloured STL by the mesh tools), decide from the
// fingerprint whether the .p3d in the work folder still fits the model and
// the slicing settings, start the slicer when it does not, wait for its
// ready event and start the conversion 1.5 s after it. Also the slicer's
// preview, the 3-D viewer, opening ready-made .p3d jobs and the
// temperature test.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/main_timers.h"
#include "host/jobdata/conversion.h"
#include "platform/clock.h"

namespace plat {
class ProgramOutput;
}

namespace ph {

class HostCore;
struct JobLayout;
struct JobState;
struct SlicerJob;

// What the hand-off starts in other subsystems.
class HandoffSteps {
 public:
  virtual ~HandoffSteps() = default;
  // The conversion of the job (scan, fit check, .dmc) and what it came to.
  virtual ConversionOutcome convertJob() = 0;
  // Mesh tools: the command interpreter (OBJ to coloured STL, wrapping),
  // the model transform of the wrapping step, and the height profile of an
  // STL into the job layout (false when it could not be made).
  virtual void meshCommand(const std::vector<std::string>& words) = 0;
  virtual void setCocoonTransform(float scale, float rx, float ry, float rz, bool walls) = 0;
  virtual bool makeHeightProfile(const std::string& stl) = 0;
};

class SlicerHandoff {
 public:
  // How often a started slicer is looked at for its end and exit status.
  static constexpr int kWatchMs = 500;
  // Word 0 of the mesh tools' command lines (the interpreter skips it).
  static constexpr const char* kMeshTool = "meshkit";

  SlicerHandoff(HostCore& core, JobLayout& layout, HandoffSteps& steps);
  ~SlicerHandoff();
  SlicerHandoff(const SlicerHandoff&) = delete;
  SlicerHandoff& operator=(const SlicerHandoff&) = delete;

  // The program's arguments (the "cmd line File" menu opens the first).
  std::vector<std::string> programArgs;
  // Preselected in the model dialog.
  std::string modelDialogFile;

  // The STL that the preview and the 3-D viewer show.
  std::string viewerstl;
  // The STL the OBJ conversion writes in the work folder.
  std::string convertedStlName = "convertedobj.stl";
  // Scale and rotations (degrees) of the "scaled" menu, and the wrapping.
  float scale = 1.0f, rotX = 0.0f, rotY = 0.0f, rotZ = 0.0f, cocoon = 0.0f;
  bool processWithoutColor = false;
  bool waitingForSlicer = false;
  std::int64_t slicerStartTick = 0;
  // Set by "prep view": the next open prepares and shows the model only.
  bool skipSlicing = false;
  // The temperature-test model is printed; startinglayer before the test
  // (below -10: none saved yet).
  bool temprTestActive = false;
  int savedStartingLayer = -11;
  // The fingerprint of the job waited for (that of the last slicer start).
  std::string lastSignature;

  // Attaches the menu items and the "View stl" button that exist.
  void bindControls();

  // The open-model road: the command line's input file, or the operator's
  // choice, is prepared and sliced (or its job reused). False when the road
  // ended without a job on its way (the reason is in the log).
  bool openModel();
  // Menu "p3d file": converts a ready-made job.
  void openP3dFile();
  // Menu "viewer" and the "View stl" button: the slicer's preview.
  void showSlicerPreview();
  // Menu "view3d": the outside 3-D viewer.
  void startViewer3d();
  // Menu "Tempr File": the temperature test.
  void startTemperatureTest();
  // Menu "cmd line File": opens the program's first argument.
  void openCommandLineFile();

  // Fingerprint, cache test and slicer start for a source STL; false when
  // no job is on its way.
  bool runSlicer(const std::string& source);
  // The slicer's ready event (OnReceive of the syncslice couple). It counts
  // only while a job is waited for and only when the job file ends with that
  // job's fingerprint: the event carries no name, and another slicer's event
  // or one of a job not finished must not convert anything.
  void takeSlicedJob();
  // 1.5 s after the ready event: the conversion, once a slicer started for
  // the job has ended well.
  void convertAfterSlicing();
  // Stops what the hand-off does for the last job: a slicer still running,
  // a wait, a conversion not yet started.
  void stopSlice(const std::string& why);

  // Hands a command to the mesh tools, each file name a whole word.
  void runMeshCommand(const std::vector<std::string>& words);
  void askScaleRotation();
  void applyModelTransform(bool objModel);
  // The transform and wrapping step of an STL; "" when nothing is to be
  // sliced.
  std::string cocoonStep(std::string path, bool objModel);

  // The slicer started last (-1 when none is watched).
  pid_t slicerPid() const { return slicerPid_; }

 private:
  // The conversion in the work folder this program holds.
  ConversionOutcome runConversion();
  // Whether the print may go on: a job that does not fit asks the operator
  // (and ends an unattended run).
  bool askModelFits(const char* question);
  bool checked(const char* name) const;
  // A message box for an operator; in an unattended run only the log line.
  void tellOperator(const std::string& text);
  // Whether the job file waited for ends with the job's fingerprint.
  bool jobFinished() const;
  void acceptJob();
  void convertSlicedJob();
  // Nothing is converted; an unattended run ends.
  void sliceFailed(const std::string& why);
  // outputFd: where the program's output goes (-1: this program's own).
  pid_t startProgram(const std::vector<std::string>& argv, int outputFd = -1);
  // What the slicer said since the last look goes into the operator log
  // (its reasons: a model without facets, normals that point inward, a
  // model cut at the raster's edge).
  void logSlicerOutput(bool all);
  // The slicer program: the setting, or the one beside this program.
  std::string slicerProgram() const;
  // The six slicing settings, for a run of the program on the model.
  SlicerJob slicingSettings(const std::string& program, const std::string& model) const;
  void watchSlicer();
  std::string workPath(const std::string& name) const;

  HostCore& core_;
  JobLayout& layout_;
  JobState& job_;
  HandoffSteps& steps_;
  OwnedTimer afterSlicing_;  // afterp3ddelay
  std::unique_ptr<plat::Timer> slicerWatch_;
  pid_t slicerPid_ = -1;
  std::unique_ptr<plat::ProgramOutput> slicerOutput_;
  // The exit status of the slicer started for the job waited for, once it
  // ended (unset while it runs, or when the job was reused).
  std::optional<int> slicerStatus_;
  // The job file waited for: the slicer's output, or a .p3d model itself.
  std::string waitedJob_;
  // The model is a .p3d job: converted as it stands unless it is empty or
  // was stopped or aborted.
  bool jobModel_ = false;
  // The ready job is converted when its slicer has ended.
  bool convertWhenSlicerEnds_ = false;
  // Started programs not yet reaped.
  std::vector<pid_t> children_;
};

}  // namespace ph
