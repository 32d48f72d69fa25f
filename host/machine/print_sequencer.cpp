#include "host/machine/print_sequencer.h"

#include <algorithm>
#include <cmath>

#include "host/core/files.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "host/machine/print_names.h"
#include "host/machine/print_timing.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {

constexpr double kDot = 25.4 / 300.0;  // mm per dot

}  // namespace

bool isPowderCodeChar(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

bool PrintSequencerEvents::gcodeOnlyRun() const { return seq_.dryRun(); }

PrintSequencer::PrintSequencer(HostCore& core, JobState& job, JobLayout& layout, JettingLink& ink,
                               MarlinLink& marlin, MotionControls& motion, plat::StayAwake& stayAwake,
                               TemperatureTestHold temprTest, SequencerSteps& steps)
    : events(core, *this),
      core_(core),
      job_(job),
      layout_(layout),
      ink_(ink),
      marlin_(marlin),
      motion_(motion),
      stayAwake_(stayAwake),
      tempr_(temprTest),
      steps_(steps),
      tick_(core.timers.make("MarlinTimer")),
      transfer_(core.timers.make("inktransfer")),
      busyWatchdog_(core.timers.make("MarlinBusy")),
      rollStop_(core.timers.make("RollStop")) {
  tick_->setHandler([this] { step(); });
  transfer_->setHandler([this] { streamStretchData(); });
  busyWatchdog_->setHandler([this] { checkMachineAnswers(); });
  rollStop_->setHandler([this] { stopRoller(); });
  bindControls();
}

PrintSequencer::~PrintSequencer() {
  for (const char* name : {print_names::kStart, print_names::kAbort, print_names::kPause})
    if (Control* c = core_.controls.find(name)) c->onClick = nullptr;
  if (Control* c = core_.controls.find(print_names::kStart)) c->onRightClick = nullptr;
  releaseStayAwake();
}

void PrintSequencer::bindControls() {
  if (Control* c = core_.controls.find(print_names::kStart)) {
    c->onClick = [this] { start(); };
    c->onRightClick = [this] { armDryRun(); };
  }
  if (Control* c = core_.controls.find(print_names::kAbort)) c->onClick = [this] { abortPrint("operator"); };
  if (Control* c = core_.controls.find(print_names::kPause)) c->onClick = [this] { resume(); };
}

// ---------------------------------------------------------------- helpers

bool PrintSequencer::menuChecked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

bool PrintSequencer::pauseBoxChecked() const { return menuChecked(print_names::kPause); }

void PrintSequencer::setPauseBox(bool on) {
  if (Control* c = core_.controls.find(print_names::kPause)) c->setChecked(on);
}

bool PrintSequencer::ticking() const { return tick_->enabled(); }

void PrintSequencer::stopTicking() { tick_->stop(); }

bool PrintSequencer::holdTicking() {
  const bool wasTicking = tick_->enabled();
  tick_->stop();
  return wasTicking;
}

void PrintSequencer::releaseTicking(bool wasTicking) { tick_->setEnabled(wasTicking); }

bool PrintSequencer::streaming() const { return transfer_->enabled(); }

bool PrintSequencer::clearStalledTick() {
  if (busyWatchdog_->enabled()) return false;
  tick_->stop();
  return true;
}

std::string PrintSequencer::dmcName() const { return job_.workFileName("dmc"); }

void PrintSequencer::sendCode(const std::string& code) { marlin_.sendGcode(code); }

void PrintSequencer::requestStayAwake() {
  stayAwake_.request();
  awake_ = true;
}

void PrintSequencer::releaseStayAwake() {
  if (!awake_) return;
  awake_ = false;
  stayAwake_.release();
}

PrintPhase PrintSequencer::phase() const {
  if (run.abortAsked && (phase_ == PrintPhase::Running || phase_ == PrintPhase::PrimingCheck))
    return PrintPhase::Aborting;
  return phase_;
}

bool PrintSequencer::isBusy() const {
  return ticking() || phase_ == PrintPhase::Paused || pauseBoxChecked() || phase_ == PrintPhase::PrimingCheck;
}

void PrintSequencer::markAborted() {
  run.abortAsked = true;
  // Other work the operator's abort stops reads the host's flag.
  core_.requestAbort();
}

void PrintSequencer::setStartX() {
  const Settings& s = core_.s;
  double x = s.xMarlinBase - layout_.buildRoomSkip;
  if (s.shiftLayer != 0) x += run.layerShiftDots * kDot;
  else if (s.bridgelayers && run.oddLayer) x += s.br32 * kDot;
  motion_.setHeadX(x);
}

// ---------------------------------------------------------------- start

bool PrintSequencer::startAsked() {
  const Settings& s = core_.s;
  // Nobody is there to answer in an unattended run: the settings say what
  // to print.
  const bool unattended = core_.run.active() || !core_.ui.hasDisplay();
  auto ask = [&](const std::string& q) {
    if (unattended) {
      core_.memoPrintf("%s yes (unattended)", q);
      return true;
    }
    return core_.ui.askYesNo("Confirm", q);
  };
  if (s.startinglayer > 0 && !ask(plat::format("Start printing from layer %d ?", s.startinglayer))) return false;
  if (s.haltingLayer < 900 && !ask(plat::format("Print until layer %d ?", s.haltingLayer))) return false;
  return true;
}

PrintSequencer::Outcome PrintSequencer::start() {
  Settings& s = core_.s;
  if (phase_ == PrintPhase::Paused && pauseBoxChecked()) {
    steps_.stopHoldingHead();
    core_.memoPrintf("resuming");
    setPauseBox(false);
    return resume();
  }
  if (ticking() || phase_ == PrintPhase::Paused || phase_ == PrintPhase::PrimingCheck) {
    // Starting again would restart the job from its first layer and home
    // the machine in the middle of the print.
    core_.ui.showMessage("a print is running: start refused (pause or abort it first)");
    return Outcome::Refused;
  }
  steps_.stopHoldingHead();
  if (!job_.patternMode && prepLayers_ <= 0 && !startAsked()) return Outcome::Refused;
  if (!job_.jobReady && !job_.patternMode) {
    core_.ui.showMessage("no file chosen, use open->stl/obj");
    return Outcome::Refused;
  }
  if (!ink_.inkLinkOpen) {
    core_.ui.showMessage("commport to inkjet not working");
    return Outcome::Refused;
  }
  if (job_.patternMode && !core_.dualBoxMode()) job_.jobReady = false;
  requestStayAwake();
  // Pass data an earlier run left open would swallow the commands below.
  if (!transfer_->enabled()) ink_.closeOpenPass();
  ink_.sendInkPending(std::string(" ") + unit::kReadTemperatures + " ");
  // On a link that is already open, lines of what ran before may still
  // lack their acknowledgement: the machine is brought back in step first.
  const bool linkWasOpen = marlin_.marlinLinkOpen;
  marlin_.openMarlin();
  if (linkWasOpen) marlin_.resynchronise();
  steps_.clearActionMenu();
  const bool takeHeader = !job_.dmcCurrent && !job_.patternMode;
  if (job_.patternMode && !job_.dmcCurrent) steps_.convertPattern();
  if (const auto powder = startPowderTime(s, layout_.yvLim)) {
    s.powdertime = *powder;
    core_.logVars("powdertime", s.powdertime, "maxpowdertime", s.maxpowdertime, "powdertime+rundif",
                  s.powdertime + headRunMs(s, layout_.yvLim));
  }
  // A new print: every counter and flag of the last one goes.
  run = PrintRun{};
  run.powderStartNext = s.powderdelay;
  run.camCountdown = s.camsyncer;
  run.lastLayerTick = core_.clock.tickMs();
  motion_.plateStep = 0;
  resumeTicking();
  if (!job_.patternMode && prepLayers_ <= 0) {
    run.printStartTick = core_.clock.tickMs();
    core_.logStamped("start (" + fileCore(job_.jobFileName) + ")");
  }
  ink_.sendInk(unit::kPrintStart);
  ink_.printResumeTick = core_.clock.tickMs();
  marlin_.openMarlin();
  if ((ink_.inkLinkOpen || menuChecked(print_names::kDebugRoute)) && !dryRun_ && !openDmcForPrint(takeHeader)) {
    // Nothing to print from: the print does not start.
    tick_->stop();
    phase_ = PrintPhase::Ended;
    releaseStayAwake();
    return Outcome::Refused;
  }
  run.oddLayer = s.startinglayer % 2 != 0;
  run.layerShiftDots = s.band64 > 0 ? (s.startinglayer * s.shiftLayer) % s.band64 : 0;
  setStartX();
  motion_.placeHeadAtY(layout_.yvLim);
  ink_.startCounting();
  run.stretchNo = -s.prepstretches;
  if (job_.patternMode) {
    run.stretchNo = 0;
    motion_.shiftHeadX(-(s.alignJump * kDot));
  }
  run.layerIndex = s.startinglayer;
  core_.clearAbort();
  setPauseBox(false);
  if (layout_.layerThicknessDiffers) {
    // The operator looks at the layer thickness before the print goes on.
    setPauseBox(true);
    phase_ = PrintPhase::Paused;
    run.pauseTick = core_.clock.tickMs();
  }
  run.printLayer = s.startinglayer;
  run.progressStartTick = core_.clock.tickMs();
  return Outcome::Started;
}

bool PrintSequencer::openDmcForPrint(bool takeHeader) {
  records_.close();
  const std::string name = dmcName();
  FilePtr file = core_.openFile(name, "rb").file;
  if (!file) {  // told by openFile
    markAborted();
    return false;
  }
  DmcHeader record;
  if (readDmcHeader(file.get(), record) != kDmcDataOffset) {
    core_.memoPrintf("%s has no whole jetting-data header: nothing printed", name);
    markAborted();
    return false;
  }
  if (takeHeader) takeDmcHeader(core_, layout_, record);
  records_.take(std::move(file));
  if (core_.s.startinglayer != 0 && prepLayers_ == 0) {
    const std::string problem = records_.seekLayer(core_.s.startinglayer);
    if (problem == "past EOF") core_.memoPrintf("startinglayer past EOF (%d)", core_.s.startinglayer);
    else if (!problem.empty()) core_.memoPrintf("%s", problem);
  }
  return true;
}

void PrintSequencer::armDryRun() {
  dryRun_ = true;
  marlin_.startCodeSequence(core_.s.startgcodes);
  marlin_.Marlinlin = 0;
  marlin_.nrMarlinok = 0;
}

// ---------------------------------------------------------------- the tick

void PrintSequencer::step() {
  Guard guard(marlinNesting_, core_, *tick_);
  const Settings& s = core_.s;
  const bool prepPending = prepLayers_ > 0;
  if (!menuChecked(print_names::kUnitLink) || dryRun_) ink_.inkStretchesDone = run.inkStretchesSent;
  if (menuChecked(print_names::kDebugRoute)) {
    dropRecordData(512, 0);
    marlin_.nrMarlinok = marlin_.Marlinlin - 1;
  }
  const bool unitWanted = menuChecked(print_names::kUnitLink) && !dryRun_;
  if (unitWanted && ink_.deliveryFailed()) {
    stopNow(ink_.deliveryFailure() + ": jetting data was lost, the print stops");
    return;
  }
  if (run.abortAsked && run.abortTick >= 0 && core_.clock.tickMs() - run.abortTick >= kAbortBoundMs) {
    stopNow(plat::format("no stretch end within %d s of the abort", kAbortBoundMs / 1000));
    return;
  }
  if (unitWanted && !unitLinkUp()) return;
  if (!gateOpen()) return;
  // A step is taken: the watchdog starts counting again, from what the
  // machines have said so far.
  resumeWatchdog();
  if (run.plateHeating && head().y < s.yvHi - 10) {
    motion_.plateHeatStep(run.plateHeating);
    return;
  }
  if (marlin_.codesQueued()) {
    sendCode(marlin_.takeNextCode());
    return;
  }
  if (dryRun_) {
    run.layerIndex = layout_.printpages;
    ink_.inkStretchesDone += 5;
    run.stretchNo = std::max(run.stretchNo, layout_.stretchesPerLayer - 2);
  }
  if (run.bytesLeft != 0) return;
  if (!run.jumpPhase) {
    const auto island = [&](int layer) {
      return layout_.newIslands[std::size_t(clampInt(layer, 0, JobLayout::kIslandEntries - 1))];
    };
    const bool jump = s.jumpmicrons >= 1 && !prepPending &&
                      (s.allwaysjump || island(run.printLayer) >= 1 || island(run.printLayer + 1) >= 1);
    run.jumpPhase = jump && !dryRun_ && !job_.patternMode;
    if (head().y < s.yvHi - 10) startStretch(prepPending);
    else endStretch(prepPending);
  } else {
    run.jumpPhase = false;
    if (head().y >= s.yvHi - 10) marlin_.platformZ += s.jumpmicrons / 1000.0;
    else marlin_.platformZ -= s.jumpmicrons / 1000.0;
    sendCode(plat::format("G0 Z%1.3f F%d ", marlin_.platformZ, s.movespeed));
  }
}

// ---------------------------------------------------------------- pause and abort

PrintSequencer::Outcome PrintSequencer::resume() {
  steps_.stopHoldingHead();
  if (pauseBoxChecked() || phase_ != PrintPhase::Paused) return Outcome::Ignored;
  if (run.abortAsked) {
    core_.logStamped("aborted");
    // The aborted print is over: nothing waits at a pause any more.
    phase_ = PrintPhase::Ended;
    prepLayers_ = 0;
    dryRun_ = false;
    restoreStartingLayer();
    motion_.stepPowderTo();
    return Outcome::Aborted;
  }
  if (!ticking()) {
    closeOpenPass();
    ink_.sendInkPending(unit::kResume);
  }
  ink_.printResumeTick = core_.clock.tickMs();
  // The operator goes on after lost lines: the machine takes the next
  // line only once its line number is set again.
  if (marlin_.lostLine != 0) marlin_.resynchronise();
  resumeTicking();
  requestStayAwake();
  core_.logStamped("continue");
  run.pausedMs += core_.clock.tickMs() - run.pauseTick;
  return Outcome::Resumed;
}

PrintSequencer::Outcome PrintSequencer::abortPrint(const std::string& reason) {
  (void)reason;
  if (ticking() && !run.abortAsked) run.abortTick = core_.clock.tickMs();
  markAborted();
  Outcome outcome = Outcome::AbortAsked;
  if (phase_ == PrintPhase::Paused) {
    setPauseBox(false);
    outcome = resume();
  }
  steps_.stopPowderLayers();
  if (Control* c = core_.controls.find(print_names::kMultiPowderLayer)) c->setChecked(false);
  steps_.abortMeshTools();
  return outcome;
}

PrintSequencer::Outcome PrintSequencer::pauseAtStretchEnd() {
  if (phase_ != PrintPhase::Paused) run.pauseTick = core_.clock.tickMs();
  phase_ = PrintPhase::Paused;
  releaseStayAwake();
  return Outcome::Paused;
}

void PrintSequencer::primeCheckFinished() {
  if (phase_ == PrintPhase::PrimingCheck) phase_ = ticking() ? PrintPhase::Running : PrintPhase::Idle;
}

void PrintSequencer::resumeTicking() {
  // Every start and resume: the print's tick and its watchdog together.
  tick_->start();
  phase_ = PrintPhase::Running;
  resumeWatchdog();
}

void PrintSequencer::pauseNow(const std::string& why) {
  core_.memoPrintf("%s", why);
  tick_->stop();
  if (phase_ != PrintPhase::Paused) run.pauseTick = core_.clock.tickMs();
  phase_ = PrintPhase::Paused;
  setPauseBox(true);
  releaseStayAwake();
  core_.logStamped("paused");
}

void PrintSequencer::linesLost(const std::string& why) {
  // Lines that did not run: the print cannot go on as if they had.
  if (!ticking() && phase_ != PrintPhase::PrimingCheck) return;
  pauseNow(why + ": print paused");
}

// ---------------------------------------------------------------- the end

void PrintSequencer::endRun(bool aborted) {
  if (aborted) prepLayers_ = 0;
  if (job_.patternMode) {
    job_.dmcCurrent = false;
    core_.markBatchPrintsModel();
    job_.patternMode = false;
  }
  sendStopCodes();
  releaseStayAwake();
  if (aborted) restoreStartingLayer();
}

void PrintSequencer::stopAtStretchEnd() {
  const bool abort = run.abortAsked;
  const bool pause = pauseBoxChecked() && !abort;
  if (pause) run.pauseTick = core_.clock.tickMs();
  phase_ = pause ? PrintPhase::Paused : PrintPhase::Ended;
  endRun(abort);
  core_.logStamped(abort ? "aborted" : pause ? "paused" : "end");
  if (abort) {
    motion_.stepPowderTo();
    // An aborted print leaves nothing armed for the next one.
    dryRun_ = false;
    setPauseBox(false);
  }
  preInkStep();
  tick_->stop();
}

void PrintSequencer::stopNow(const std::string& why) {
  core_.memoPrintf("%s", why);
  markAborted();
  transfer_->stop();
  tick_->stop();
  steps_.stopPrimeCheck();
  run.bytesLeft = 0;
  // The unit leaves the pass it was reading (the link knows where it is in
  // it, and counts the bytes that close it) and gets the stop codes.
  run.dataOpen = false;
  ink_.closeOpenPass();
  phase_ = PrintPhase::Ended;
  endRun(true);
  core_.logStamped("aborted");
  motion_.stepPowderTo();
  dryRun_ = false;
  setPauseBox(false);
  run.abortTick = -1;
  preInkStep();
}

void PrintSequencer::endOfPrint(bool prepPending) {
  const Settings& s = core_.s;
  // The progress of an ended print is no longer true of anything.
  core_.controls.at(print_names::kProgressLabel).setCaption("");
  releaseStayAwake();
  dryRun_ = false;
  run.layerIndex = 0;
  steps_.stopPrimeCheck();
  if (phase_ == PrintPhase::PrimingCheck) phase_ = PrintPhase::Ended;
  sendStopCodes();
  restoreStartingLayer();
  if (job_.patternMode) {
    core_.markBatchPrintsModel();
    job_.dmcCurrent = false;
    job_.patternMode = false;
    tick_->stop();
    steps_.enterBestMatch();
  } else if (!prepPending && !run.abortAsked) {
    // (An aborted print has said so; it did not finish.)
    const std::int64_t seconds = (core_.clock.tickMs() - run.printStartTick) / 1000;
    core_.logStamped(plat::format("fin (%s in %dm%02ds)", fileCore(job_.jobFileName), int(seconds / 60),
                                  int(seconds % 60)));
    if (seconds > 60) ink_.sendInkPending(unit::kLongPrintEnd);
    core_.logVars("inkCheckSum", static_cast<int>(static_cast<std::uint32_t>(ink_.inkCheckSum)), "inkByteCount",
                  int(ink_.inkByteCount));
    motion_.stepPowderTo();
    if (s.dualbox != 0 && s.dryingtemperature > 0) sendCode(plat::format("M140 S%d", s.dryingtemperature));
  }
  preInkStep();
  tick_->stop();
  if (phase_ == PrintPhase::Running) phase_ = PrintPhase::Ended;
}

void PrintSequencer::restoreStartingLayer() {
  if (!tempr_.temprTestActive) return;
  core_.s.startinglayer = tempr_.savedStartingLayer < -9 ? 0 : tempr_.savedStartingLayer;
  tempr_.temprTestActive = false;
}

}  // namespace ph
