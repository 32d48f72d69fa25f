#include "host/jobdata/slicer_handoff.h"

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/slicer_command.h"
#include "platform/fingerprint.h"
#include "platform/process.h"

namespace ph {

SlicerHandoff::SlicerHandoff(HostCore& core, JobLayout& layout) : core_(core), layout_(layout), job_(layout.job) {
  core_.timers.afterp3ddelay->setHandler([this] { afterp3ddelayTimer(); });
  slicerWatch_ = core_.clock.createTimer("slicerWatch");
  slicerWatch_->setInterval(kWatchMs);
  slicerWatch_->setHandler([this] { slicerWatchTimer(); });
}

SlicerHandoff::~SlicerHandoff() {
  core_.timers.afterp3ddelay->setHandler(nullptr);
  // Programs still running are left to run; their exit status is not needed.
  for (pid_t pid : children_) plat::waitProcess(pid, 0);
}

void SlicerHandoff::bindControls() {
  auto bind = [&](const char* name, void (SlicerHandoff::*handler)()) {
    if (Control* c = core_.controls.find(name)) c->onClick = [this, handler] { (this->*handler)(); };
  };
  bind("povstl1", &SlicerHandoff::povstl1Click);
  bind("p3dfile1", &SlicerHandoff::p3dfile1Click);
  bind("viewer1", &SlicerHandoff::viewer1Click);
  bind("btViewstl", &SlicerHandoff::viewer1Click);
  bind("view3d1", &SlicerHandoff::view3d1Click);
  bind("balkfile1", &SlicerHandoff::balkfile1Click);
  bind("ParamFile1", &SlicerHandoff::ParamFile1Click);
}

bool SlicerHandoff::checked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

bool SlicerHandoff::unattendedRun() const {
  return !core_.commandInputFile.empty() && (core_.runMode == 'V' || core_.runMode == 'T' || core_.runMode == 'B');
}

void SlicerHandoff::tellOperator(const std::string& text) {
  core_.memoPrintf("%s", text);
  if (!unattendedRun()) core_.ui.showMessage(text);
}

void SlicerHandoff::endConvertOnlyRun() {
  if (core_.runMode == 'V' && !core_.commandInputFile.empty()) core_.ui.closeMainWindow();
}

std::string SlicerHandoff::workPath(const std::string& name) const { return expandCurrentDir(core_.workDir) + name; }

SlicerJob SlicerHandoff::slicingSettings(const std::string& program, const std::string& model) const {
  const Settings& s = core_.s;
  SlicerJob job;
  job.program = program;
  job.model = model;
  job.layerMicrons = s.layerMicrons;
  job.waterpixel = s.waterpixel;
  job.sumpixel = s.sumpixel;
  job.colorweight = s.colorweight;
  job.skinmicrons = s.skinmicrons;
  job.defaultcolor = s.defaultcolor;
  return job;
}

std::string SlicerHandoff::slicerProgram() const {
  // The setting keeps its portable "%currentdir%" form; without a slicer
  // there, the one shipped beside this program is used.
  const std::string configured = expandCurrentDir(core_.s.slicer_exe);
  if (fileExists(configured) || configured.find_first_of("/\\") == std::string::npos) return configured;
  const std::string shipped = plat::siblingProgram("layertint");
  return shipped.find('/') != std::string::npos ? shipped : configured;
}

pid_t SlicerHandoff::startProgram(const std::vector<std::string>& argv) {
  const plat::SpawnResult r = plat::spawnProcess(argv);
  if (r.pid < 0) {
    tellOperator(plat::format("cannot start %s: %s", argv.empty() ? std::string() : argv[0],
                              std::string(std::strerror(r.error))));
    return -1;
  }
  children_.push_back(r.pid);
  slicerWatch_->start();
  return r.pid;
}

bool SlicerHandoff::runSlicer(const std::string& source) {
  const Settings& s = core_.s;
  const std::string p3d = workPath(s.file_name + ".p3d");
  const std::string cached = cachedSignature(p3d);

  SlicerJob job = slicingSettings(slicerProgram(), source);
  job.output = p3d;
  job.hazeRemove = s.hazeRemove;
  if (!s.depleteFile.empty()) {
    const std::string cube = expandCurrentDir(s.depleteFile);
    if (fileExists(cube)) job.colourCube = cube;
    else tellOperator("no file: " + s.depleteFile);
  }
  job.skinClear = core_.skinClear;
  job.instanceNumber = core_.instanceNumber;
  const std::vector<std::string> argv = sliceArguments(job);
  lastSignature = sourceSignature(source, plat::crc16Modbus(fingerprintText(argv)));

  if (checked("BMPlayers1")) {
    viewer1Click();
    return false;
  }
  waitingForSlicer = true;
  slicerStartTick = core_.clock.tickMs();
  if (lastSignature == cached) {
    syncsliceReceive();  // the job in the work folder is this one
    return true;
  }
  core_.memoPrintf("exe: %s", commandText(argv));
  if (core_.printAbort) {
    waitingForSlicer = false;
    return false;
  }
  const pid_t pid = startProgram(argv);
  if (pid < 0) {
    waitingForSlicer = false;
    endConvertOnlyRun();
    return false;
  }
  slicerPid_ = pid;
  slicerEndSeen_ = false;
  return true;
}

void SlicerHandoff::syncsliceReceive() {
  if (waitingForSlicer) {
    core_.memoPrintf(".p3d file ready %dms", int(core_.clock.tickMs() - slicerStartTick));
    core_.timers.afterp3ddelay->start();
  }
  waitingForSlicer = false;
}

void SlicerHandoff::slicerWatchTimer() {
  for (auto it = children_.begin(); it != children_.end();) {
    if (*it != slicerPid_ && !plat::processRunning(*it)) {
      plat::waitProcess(*it, 0);
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
  if (slicerPid_ > 0 && !plat::processRunning(slicerPid_)) {
    // The slicer sets the ready event before it ends; the event may still
    // be on its way to this thread, so it gets one more look.
    if (waitingForSlicer && !slicerEndSeen_) {
      slicerEndSeen_ = true;
      return;
    }
    const std::optional<int> status = plat::waitProcess(slicerPid_, 0);
    children_.erase(std::remove(children_.begin(), children_.end(), slicerPid_), children_.end());
    slicerPid_ = -1;
    if (waitingForSlicer) {
      waitingForSlicer = false;
      tellOperator(plat::format("the slicer ended (status %d) without reporting a job", status.value_or(-1)));
      endConvertOnlyRun();
    }
  }
  if (slicerPid_ <= 0 && children_.empty()) slicerWatch_->stop();
}

bool SlicerHandoff::runConversion() {
  if (links.convertJob) return links.convertJob();
  core_.memoPrintf("converting jobs is not available in this build");
  return false;
}

void SlicerHandoff::askModelFits(const char* question) {
  if (job_.modelFits) return;
  core_.printAbort = true;
  if (unattendedRun()) {
    // Nobody to answer: the print stays aborted.
    core_.memoPrintf("model does not fit in machine");
    return;
  }
  if (core_.ui.askYesNoCancel("Confirm", question) == OperatorUi::Answer::Yes) core_.printAbort = false;
}

void SlicerHandoff::afterp3ddelayTimer() {
  core_.timers.afterp3ddelay->stop();
  runConversion();
  if (links.updateProgressLabels) links.updateProgressLabels();
  askModelFits("model does not fit in machine, Continue?");
  if (core_.runMode == 'V' && !core_.commandInputFile.empty()) core_.ui.closeMainWindow();
}

void SlicerHandoff::viewer1Click() {
  if (viewerstl.empty()) viewerstl = job_.workFileName("stl");
  const std::string program = slicerProgram();
  if (viewerstl.empty()) {
    startProgram({program});
    return;
  }
  SlicerJob job = slicingSettings(program, expandCurrentDir(viewerstl));
  job.skinClear = core_.skinClear;
  job.exportSlices = checked("BMPlayers1");
  startProgram(previewArguments(job));
}

void SlicerHandoff::view3d1Click() {
  if (viewerstl.empty()) viewerstl = job_.workFileName("stl");
  startProgram({expandCurrentDir(core_.s.viewer3d_exe), expandCurrentDir(viewerstl)});
}

}  // namespace ph
