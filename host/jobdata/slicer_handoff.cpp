#include "host/jobdata/slicer_handoff.h"

#include <signal.h>

#include <algorithm>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/slicer_command.h"
#include "platform/fingerprint.h"
#include "platform/process.h"

namespace ph {

SlicerHandoff::SlicerHandoff(HostCore& core, JobLayout& layout, HandoffSteps& steps)
    : core_(core), layout_(layout), job_(layout.job), steps_(steps), afterSlicing_(core.timers.make("afterp3ddelay")) {
  afterSlicing_->setHandler([this] { convertAfterSlicing(); });
  slicerWatch_ = core_.clock.createTimer("slicerWatch");
  slicerWatch_->setInterval(kWatchMs);
  slicerWatch_->setHandler([this] { watchSlicer(); });
}

SlicerHandoff::~SlicerHandoff() {
  // Programs still running are left to run; their exit status is not needed.
  for (pid_t pid : children_) plat::waitProcess(pid, 0);
}

void SlicerHandoff::bindControls() {
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("povstl1", [this] { openModel(); });
  bind("p3dfile1", [this] { openP3dFile(); });
  bind("viewer1", [this] { showSlicerPreview(); });
  bind("btViewstl", [this] { showSlicerPreview(); });
  bind("view3d1", [this] { startViewer3d(); });
  bind("balkfile1", [this] { startTemperatureTest(); });
  bind("ParamFile1", [this] { openCommandLineFile(); });
}

bool SlicerHandoff::checked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

void SlicerHandoff::tellOperator(const std::string& text) {
  core_.memoPrintf("%s", text);
  if (!core_.run.active()) core_.ui.showMessage(text);
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

pid_t SlicerHandoff::startProgram(const std::vector<std::string>& argv, int outputFd) {
  const plat::SpawnResult r = outputFd >= 0 ? plat::spawnProcess(argv, outputFd) : plat::spawnProcess(argv);
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
    showSlicerPreview();
    return false;
  }
  // One slice at a time: whatever the last job still does is stopped.
  stopSlice("a new job was opened");
  waitingForSlicer = true;
  // A .p3d given as the model is a job already: the slicer copies it (or
  // uses it in place), and the conversion reads the model itself, which
  // must be a whole job; the copy's fingerprint is no model's.
  jobModel_ = lowerCase(fileNamePart(source)).ends_with(".p3d");
  waitedJob_ = jobModel_ ? source : p3d;
  slicerStartTick = core_.clock.tickMs();
  slicerStatus_.reset();
  if (lastSignature == cached && jobFingerprint(p3d) == lastSignature) {
    takeSlicedJob();  // the job in the work folder is this one
    return true;
  }
  core_.memoPrintf("exe: %s", commandText(argv));
  if (core_.abortRequested()) {
    waitingForSlicer = false;
    return false;
  }
  auto output = std::make_unique<plat::ProgramOutput>();
  const pid_t pid = startProgram(argv, output->fd());
  if (pid < 0) {
    waitingForSlicer = false;
    return false;
  }
  slicerPid_ = pid;
  slicerOutput_ = std::move(output);
  return true;
}

void SlicerHandoff::stopSlice(const std::string& why) {
  afterSlicing_->stop();
  convertWhenSlicerEnds_ = false;
  waitingForSlicer = false;
  if (slicerPid_ <= 0) return;
  if (plat::processRunning(slicerPid_)) {
    core_.memoPrintf("slicer stopped: %s", why);
    plat::stopProcessGroup(slicerPid_, 2000);
  } else {
    plat::waitProcess(slicerPid_, 0);
  }
  logSlicerOutput(true);
  children_.erase(std::remove(children_.begin(), children_.end(), slicerPid_), children_.end());
  slicerPid_ = -1;
}

bool SlicerHandoff::jobFinished() const {
  if (waitedJob_.empty()) return false;
  return jobModel_ ? jobUsable(waitedJob_) : jobFingerprint(waitedJob_) == lastSignature;
}

void SlicerHandoff::takeSlicedJob() {
  if (!waitingForSlicer) return;  // nothing waits: an event of some other job
  if (!jobFinished()) {
    // Another slicer's event, or this slicer's for a job it did not finish
    // (its end tells which): the file is not the job waited for.
    core_.memoPrintf("ready event ignored: %s does not end with this job's fingerprint", waitedJob_);
    return;
  }
  acceptJob();
}

void SlicerHandoff::acceptJob() {
  core_.memoPrintf(".p3d file ready %dms", int(core_.clock.tickMs() - slicerStartTick));
  waitingForSlicer = false;
  afterSlicing_->start();
}

void SlicerHandoff::sliceFailed(const std::string& why) {
  waitingForSlicer = false;
  convertWhenSlicerEnds_ = false;
  job_.jobReady = false;
  tellOperator(plat::format("slicing failed: %s; nothing converted", why));
  core_.run.fail("slicing failed");
}

void SlicerHandoff::logSlicerOutput(bool all) {
  if (!slicerOutput_) return;
  for (const std::string& line : slicerOutput_->newLines(all)) core_.memoPrintf("%s", line);
  if (all) slicerOutput_.reset();
}

void SlicerHandoff::watchSlicer() {
  logSlicerOutput(false);
  for (auto it = children_.begin(); it != children_.end();) {
    if (*it != slicerPid_ && !plat::processRunning(*it)) {
      plat::waitProcess(*it, 0);
      it = children_.erase(it);
    } else {
      ++it;
    }
  }
  if (slicerPid_ > 0 && !plat::processRunning(slicerPid_)) {
    slicerStatus_ = plat::waitProcess(slicerPid_, 0).value_or(-1);
    logSlicerOutput(true);
    children_.erase(std::remove(children_.begin(), children_.end(), slicerPid_), children_.end());
    slicerPid_ = -1;
    if (waitingForSlicer) {
      // The ready event may still be on its way: the finished job and the
      // slicer's status say the same.
      if (*slicerStatus_ == 0 && jobFinished()) acceptJob();
      else sliceFailed(plat::format("the slicer ended (status %d) without finishing %s", *slicerStatus_, waitedJob_));
    } else if (convertWhenSlicerEnds_) {
      convertWhenSlicerEnds_ = false;
      convertSlicedJob();
    }
  }
  if (slicerPid_ <= 0 && children_.empty()) slicerWatch_->stop();
}

ConversionOutcome SlicerHandoff::runConversion() {
  if (!job_.claimWorkFolder()) return ConversionOutcome::failure("work folder in use");
  return steps_.convertJob();
}

bool SlicerHandoff::askModelFits(const char* question) {
  if (job_.modelFits) return true;
  core_.requestAbort();
  if (core_.run.active()) {
    // Nobody to answer: the print stays aborted and the run cannot go on.
    core_.run.fail("model does not fit in machine");
    return false;
  }
  if (core_.ui.askYesNo("Confirm", question)) core_.clearAbort();
  return !core_.abortRequested();
}

void SlicerHandoff::convertAfterSlicing() {
  afterSlicing_->stop();
  if (slicerPid_ > 0) {
    // The job is written; the slicer's exit status is still to come.
    convertWhenSlicerEnds_ = true;
    return;
  }
  convertSlicedJob();
}

void SlicerHandoff::convertSlicedJob() {
  // A slicer started for this job must have ended well, and the file must
  // still be the finished job.
  if (slicerStatus_ && *slicerStatus_ != 0) {
    sliceFailed(plat::format("the slicer ended with status %d", *slicerStatus_));
    return;
  }
  if (!jobFinished()) {
    sliceFailed(plat::format("%s does not end with this job's fingerprint", waitedJob_));
    return;
  }
  const ConversionOutcome outcome = runConversion();
  switch (outcome.status) {
    case ConversionStatus::Converted: break;
    case ConversionStatus::NoInk:  // nothing to print is no success either
      core_.run.fail(outcome.message);
      return;
    case ConversionStatus::Failed:
      core_.run.fail(outcome.message.empty() ? "the conversion failed" : "the conversion failed: " + outcome.message);
      return;
  }
  if (askModelFits("model does not fit in machine, Continue?") && core_.runMode == 'V') core_.run.succeed();
}

void SlicerHandoff::showSlicerPreview() {
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

void SlicerHandoff::startViewer3d() {
  if (viewerstl.empty()) viewerstl = job_.workFileName("stl");
  startProgram({expandCurrentDir(core_.s.viewer3d_exe), expandCurrentDir(viewerstl)});
}

}  // namespace ph
