#pragma once
// The print sequencer: runs the converted job ("temp.dmc") on the two
// machines, stretch by stretch and layer by layer. Every MarlinTimer tick
// that finds both machines ready (every G-code line acknowledged, the
// jetting unit at most two stretches behind, no data in flight) does
// exactly one step: a plate-heating step, the next code of the running
// G-code sequence, a platform jump, the start of a stretch or its end.
// Starting a stretch announces it to the unit and streams its record
// through the inktransfer timer; ending one runs the return pass and, at
// the end of a layer, the layer advance.
//
// The print has one phase, changed only by the verbs below; everything
// that belongs to one print lives in `run`, which a start replaces whole.
// The parts live apart: the walk through the records (print_records.h),
// the pass and powder timing (print_timing.h), the unit's command texts
// (unit_codes.h). The sequencer's steps are spread over
// print_sequencer.cpp (start, tick, pause, abort, end), print_stretches.cpp
// (a stretch's start and end, the layer advance) and print_stream.cpp (the
// data stream, the watchdog, the progress).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "host/core/host_core.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/machine/jetting_link.h"
#include "host/machine/machine_events.h"
#include "host/machine/marlin_link.h"
#include "host/machine/motion.h"
#include "host/machine/print_records.h"
#include "host/machine/print_timing.h"
#include "platform/stay_awake.h"

namespace ph {

class PrintSequencer;

// What the links ask of the sequencer.
class PrintSequencerEvents {
 public:
  PrintSequencerEvents(HostCore&, const PrintSequencer& seq) : seq_(seq) {}
  // A dry run sends nothing to the jetting unit.
  bool gcodeOnlyRun() const;

 private:
  const PrintSequencer& seq_;
};

// The temperature test's hold on startinglayer (the hand-off owns it).
struct TemperatureTestHold {
  bool& temprTestActive;
  int& savedStartingLayer;
};

// True for the characters a powder code is written with: digits and
// capital letters. Every reader of a stretch header checks it the same way.
bool isPowderCodeChar(char c);

// Where a print stands. Aborting is a running print whose abort was asked:
// it stops at the next stretch end.
enum class PrintPhase { Idle, Running, Paused, PrimingCheck, Aborting, Ended };

// Everything that belongs to one print: a start replaces it whole.
struct PrintRun {
  int inkStretchesSent = 0;
  int printLayer = 0;
  int layerIndex = 0;
  int stretchNo = 0;
  int layerStep = 0;
  long long bytesLeft = 0;
  bool plateHeating = false;
  bool jumpPhase = false;
  bool firstStretch = true;
  bool firstOfLayer = true;
  bool splitPending = false;
  // The layer ends at the next stretch end (its last stretch was read);
  // the job ends at the next layer advance (its records cannot be read).
  bool layerEnds = false;
  bool jobEnds = false;
  int normalRun = 0;
  int powderCalls = 0, prevLayerPowderCalls = 0;
  int powderStartNext = 0;
  int powderSkipCounter = 0;
  int stretchCount = 0;
  int camCountdown = -1;
  bool backwardPending = false;
  int bidiShift = 0;
  int stretchesRead = 0;
  std::int64_t printStartTick = 0, progressStartTick = 0, pausedMs = 0, pauseTick = 0;
  bool oddLayer = false;
  int layerShiftDots = 0;
  // The nine characters after the current record's mark.
  std::string headerText;
  int repeatCount = 0;
  long recordPos = 0;
  int primeLayerCount = 0;
  int primeTravelMs = 0;
  std::int64_t lastLayerTick = 0;
  bool rollSpeedTaken = false;
  // Pass data was announced ("973j") and its end byte is still to come.
  bool dataOpen = false;
  // The operator asked for the abort; when, if the print ran then (-1).
  bool abortAsked = false;
  std::int64_t abortTick = -1;
  // The print waits for the unit's link; when it last tried to connect.
  bool unitWaitSaid = false;
  std::int64_t lastReconnect = 0;
};

// Steps of other subsystems the sequencer starts (HostWiring; tests use a
// fake).
class SequencerSteps {
 public:
  // The pattern conversion (a pattern print with no converted job).
  virtual void convertPattern() = 0;
  // The priming check that runs between layers every primeCheckLayer
  // layers, given the head's travel time to the priming place (ms); it
  // ends with primeCheckFinished().
  virtual void startLayerPrimeCheck(int travelMs) = 0;
  // The setting dialogs' switches: powder-only and empty stretches are
  // shortened by stretchcut / run at movespeed.
  virtual bool shortStretches() const = 0;
  virtual bool fastStretches() const = 0;
  // The alignment entry after a pattern print.
  virtual void enterBestMatch() = 0;
  // The mesh tools' abort flag.
  virtual void abortMeshTools() = 0;
  // Signals the camera couple CamSync.
  virtual void signalCamera() = 0;
  // Clears the jetting-unit controls' running actions at print start.
  virtual void clearActionMenu() = 0;
  // A print that starts, resumes or ends stops the ink controls' priming
  // check and the machine actions' head hold and powder-layer repeat.
  virtual void stopPrimeCheck() = 0;
  virtual void stopHoldingHead() = 0;
  virtual void stopPowderLayers() = 0;

 protected:
  ~SequencerSteps() = default;
};

class PrintSequencer {
 public:
  PrintSequencer(HostCore& core, JobState& job, JobLayout& layout, JettingLink& ink, MarlinLink& marlin,
                 MotionControls& motion, plat::StayAwake& stayAwake, TemperatureTestHold temprTest,
                 SequencerSteps& steps);
  ~PrintSequencer();
  PrintSequencer(const PrintSequencer&) = delete;
  PrintSequencer& operator=(const PrintSequencer&) = delete;

  PrintSequencerEvents events;

  // ---- the verbs: each says what happened ----
  enum class Outcome { Started, Resumed, Refused, Paused, AbortAsked, Aborted, Ignored };
  // The start button: a new print, or the resumption of a paused one.
  Outcome start();
  // The pause box: resumes a print that waits at a pause (or ends one
  // whose abort was asked).
  Outcome resume();
  // The operator's abort (also the abort of other running work).
  Outcome abortPrint(const std::string& reason);
  // A failed priming check: the print, stopped between layers, waits as
  // paused at a stretch end.
  Outcome pauseAtStretchEnd();
  // The priming check between layers ended (the print was resumed or
  // paused by then).
  void primeCheckFinished();
  // Starts the print's tick and restarts its watchdog: every start and
  // every resume (pause, priming check) goes through here.
  void resumeTicking();
  // The print's tick (MarlinTimer) runs: a print is under way and not
  // paused or waiting for a priming check.
  bool ticking() const;
  void stopTicking();
  // The tick waits while the operator does something by hand; release
  // gives back what hold returned (whether it was ticking).
  bool holdTicking();
  void releaseTicking(bool wasTicking);
  // A stretch's jetting data streams to the unit (inktransfer).
  bool streaming() const;
  // No print step for a whole watchdog period (MarlinBusy off): a tick left
  // over is cleared. True when it was.
  bool clearStalledTick();
  // The busy watchdog counts a whole period again (the Marlin link opened).
  void restartBusyWatchdog();
  // The Marlin link lost lines for good: the print pauses with the reason.
  void linesLost(const std::string& why);
  // The powder-only layers the next start lays.
  void armPrepLayers(int layers) { prepLayers_ = layers; }
  // A right-button release on the start button arms a dry run.
  void armDryRun();

  PrintPhase phase() const;
  bool paused() const { return phase_ == PrintPhase::Paused; }
  bool primingCheck() const { return phase_ == PrintPhase::PrimingCheck; }
  bool aborting() const { return run.abortAsked; }
  bool dryRun() const { return dryRun_; }
  // True while a print runs, waits at a pause or a priming check runs.
  bool isBusy() const;
  // The open job file (the job tools leave it alone while held).
  bool holdsJobFile() const { return records_.isOpen(); }

  // The current print; written by the sequencer alone (tests read it).
  PrintRun run;
  // Across prints: the powder-skip cycle.
  int powderSkipState = 0;

  // ---- timer handlers ----
  // MarlinTimer: the print's next step.
  void step();
  // inktransfer: the next block of the stretch's jetting data.
  void streamStretchData();
  // MarlinBusy: the watchdog of a print that no longer moves.
  void checkMachineAnswers();
  // RollStop: the roller stops.
  void stopRoller();
  void bindControls();

  // ---- steps other objects and tests use ----
  std::string expandGcodeTemplate(const std::string& text, int skip) const;
  void showPrintProgress(int step);
  void layerMorePowderStep();
  // The head's X := the start X of a layer (build room skip, layer shift).
  void setStartX();
  // The inline purge codes of every announcement.
  std::string purgeCodes() const;

  // An abort stops the print at the next stretch end, or at the latest
  // this long after it was asked.
  static constexpr int kAbortBoundMs = 5000;

 private:
  // A timer handler that is entered again while it runs (a modal step lets
  // messages through) stops its timer and says so.
  struct Guard {
    int& depth;
    Guard(int& d, HostCore& core, plat::Timer& timer) : depth(d) {
      if (depth++ > 0) {
        timer.stop();
        core.ui.showMessage("error in timer function (" + timer.name() + ")");
        depth = 1;
      }
    }
    ~Guard() {
      if (depth > 0) --depth;
    }
  };
  // The head's position, which the motion controls keep.
  const HeadPosition& head() const { return motion_.position(); }
  bool startAsked();
  bool openDmcForPrint(bool takeHeader);
  bool pauseBoxChecked() const;
  void setPauseBox(bool on);
  // Marks the print aborted: the print's own reasons (broken file, lost data).
  void markAborted();

  // stretches (print_stretches.cpp)
  void startStretch(bool prepPending);
  void endStretch(bool prepPending);
  void advanceLayer(bool prepPending);
  // Returns the pass speed.
  int powderOnlyStretch(int extra);
  // The pass speed; nullopt when there is no file to read the stretch from.
  std::optional<int> dataStretch(bool prepPending, int extra);
  void layerLastStretch(bool prepPending);
  void stretchTail(bool prepPending, int speed);
  // The powder of the pass being announced (counted for the layer).
  PowderTime passPowder();
  void backwardPass(bool prepPending);
  void emptyReturn();
  void skipEmptyStretches();
  bool layerEnding(int stretches) const;
  void startPrimeCheck(double rememberedX);
  void countCamera();
  double rollSplitX(double x);
  void stopRollerAfter(int ms);
  void preInkStep();
  void stickingCheck(double z);

  // the end of a print (print_sequencer.cpp)
  // The steps every end shares: the pattern's batch hand-back, the stop
  // codes, the stay-awake hold, the temperature test's layer.
  void endRun(bool aborted);
  void stopAtStretchEnd();
  void endOfPrint(bool prepPending);
  // The print stops where it is and waits as paused, with the reason.
  void pauseNow(const std::string& why);
  // Stops the print at once, aborted, with the reason in the log: the
  // machines did not let it reach a stretch end in time, or jetting data
  // did not reach the unit.
  void stopNow(const std::string& why);
  void restoreStartingLayer();

  // stream and watchdog (print_stream.cpp)
  void resumeWatchdog();
  // The pass data the unit still reads is closed, unless a stream is
  // running (it ends with its own end byte).
  void closeOpenPass();
  // False while the jetting unit's link is down: the print waits for it.
  bool unitLinkUp();
  // Reads and drops the current record's data down to `keep` bytes.
  void dropRecordData(int block, long long keep);
  // A .dmc that ends where a record should go on: the print is aborted at
  // the next stretch end, with the reason in the log.
  void endOnBrokenFile(const std::string& why);
  void paintXoffLamp(bool cts);
  void sendCode(const std::string& code);
  void countDataByte(std::uint8_t b);
  void sendStretchEnd();
  void sendStopCodes();
  void requestStayAwake();
  void releaseStayAwake();
  bool menuChecked(const char* name) const;
  bool gateOpen() const;
  std::string dmcName() const;

  HostCore& core_;
  JobState& job_;
  JobLayout& layout_;
  JettingLink& ink_;
  MarlinLink& marlin_;
  MotionControls& motion_;
  plat::StayAwake& stayAwake_;
  TemperatureTestHold tempr_;
  SequencerSteps& steps_;
  PrintRecords records_;
  PrintPhase phase_ = PrintPhase::Idle;
  // Armed before a start.
  int prepLayers_ = 0;
  bool dryRun_ = false;
  // The roller runs (the machine's state, across prints).
  bool rollerOn_ = false;
  int marlinNesting_ = 0;
  int transferNesting_ = 0;
  // What the watchdog saw at its last start: a machine whose counters
  // move is busy, not gone.
  long long watchMarks_[4] = {-1, -1, -1, -1};
  // The oldest unacknowledged line was sent again in this stall.
  bool poked_ = false;
  bool awake_ = false;
  OwnedTimer tick_;          // MarlinTimer
  OwnedTimer transfer_;      // inktransfer
  OwnedTimer busyWatchdog_;  // MarlinBusy
  OwnedTimer rollStop_;      // RollStop
};

}  // namespace ph
