#pragma once
// The print sequencer: runs the converted job ("temp.dmc") on the two
// machines, stretch by stretch and layer by layer. Every MarlinTimer tick
// that finds both machines ready (every G-code line acknowledged, the
// jetting unit at most two stretches behind, no data in flight) does
// exactly one step: a plate-heating step, the next code of the running
// G-code sequence, a platform jump, the start of a stretch or its end.
// Starting a stretch announces it to the unit and streams its record
// through the inktransfer timer; ending one runs the return pass and, at
// the end of a layer, the layer advance. Pause, abort, the progress labels
// and the end of the print are here too. This object holds all of the
// sequencer's state.
#include <cstdint>
#include <functional>
#include <string>

#include "host/core/host_core.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/machine/jetting_link.h"
#include "host/machine/machine_events.h"
#include "host/machine/marlin_link.h"
#include "host/machine/motion.h"
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

class PrintSequencer {
 public:
  // Steps of other subsystems the sequencer starts. An empty one is not
  // built yet: the sequencer says so in the log and goes on without it.
  struct Links {
    // The pattern conversion (a pattern print with no converted job).
    std::function<void()> convertPattern;
    // The priming check that runs between layers every primeCheckLayer
    // layers, given the head's travel time to the priming place (ms); it
    // restarts MarlinTimer and clears primeCheckActive when done.
    std::function<void(int travelMs)> startLayerPrimeCheck;
    // The setting dialogs' switches: powder-only and empty stretches are
    // shortened by stretchcut / run at movespeed (off when unbound).
    std::function<bool()> shortStretches;
    std::function<bool()> fastStretches;
    // The alignment entry after a pattern print.
    std::function<void()> setallign1Click;
    // The mesh tools' abort flag.
    std::function<void()> abortMeshTools;
    // Signals the camera couple CamSync.
    std::function<void()> signalCamera;
    // Clears the jetting-unit controls' running actions at print start.
    std::function<void()> clearActionMenu;
  };

  PrintSequencer(HostCore& core, JobState& job, JobLayout& layout, JettingLink& ink, MarlinLink& marlin,
                 MotionControls& motion, plat::StayAwake& stayAwake, TemperatureTestHold temprTest);
  ~PrintSequencer();
  PrintSequencer(const PrintSequencer&) = delete;
  PrintSequencer& operator=(const PrintSequencer&) = delete;

  Links links;
  PrintSequencerEvents events;

  // ---- sequencer state ----
  int inkStretchesSent = 0;
  bool pausedByEnd = false;
  bool dryRun = false;
  int prepLayers = 0;
  int printLayer = 0;
  int layerIndex = 0;
  int stretchNo = 0;
  int layerStep = 0;
  long long bytesLeft = 0;
  double headX = 0.0, headY = 0.0, lastHeadY = 0.0;
  bool plateHeating = false;
  bool jumpPhase = false;
  bool firstStretch = true;
  bool firstOfLayer = true;
  bool splitPending = false;
  int normalRun = 0;
  int powderCalls = 0, prevLayerPowderCalls = 0;
  int powderStartNext = 0;
  int powderSkipState = 0, powderSkipCounter = 0;
  int stretchCount = 0;
  int camCountdown = -1;
  bool backwardPending = false;
  int bidiShift = 0;
  int stretchesRead = 0;
  std::int64_t printStartTick = 0, progressStartTick = 0, pausedMs = 0, pauseTick = 0;
  bool oddLayer = false;
  int layerShiftDots = 0;
  FilePtr dmcFile;
  std::string headerText;
  int repeatCount = 0;
  long recordPos = 0;
  // Layer advance state.
  bool primeCheckActive = false;
  int primeLayerCount = 0;
  int primeTravelMs = 0;
  std::int64_t lastLayerTick = 0;
  int layerMoreCount = 0;
  bool rollerOn = false;
  bool rollSpeedTaken = false;

  // ---- handlers ----
  void bindControls();
  void btStartClick();
  // A right-button release on the start button arms a dry run.
  void btStartMouseUp();
  void MarlinTimerTimer();
  void inktransferTimer();
  void MarlinBusyTimer();
  void RollStopTimer();
  void pauseClick();
  void btAbortClick();

  // True while a print runs, waits at a pause or a priming check runs.
  bool isBusy() const;
  // A failed priming check: the print, stopped between layers, waits as
  // paused at a stretch end.
  void pauseAtStretchEnd();
  // Starts the print's tick and restarts its watchdog: every start and
  // every resume (pause, priming check) goes through here.
  void resumeTicking();

  // ---- steps ----
  void startStretch(bool prepPending, int& speedA, int& speedB);
  void endStretch(bool prepPending, int& speedA, int& speedB);
  void advanceLayer(bool prepPending);
  void seekStartingLayer();
  int powderTiming(int& start);
  int skipTrailingStretches(double& x, int flag);
  std::string expandGcodeTemplate(const std::string& text, int skip) const;
  double rollSplitX(double x);
  void stickingCheck(double z);
  void restoreStartingLayer();
  void showPrintProgress(int step);
  void layerMorePowderStep();
  void stopRollerAfter(int ms);
  void preInkStep();
  // headX := the start X of a layer (build room skip, layer shift).
  void setStartX();

  // The inline purge codes of every announcement.
  std::string purgeCodes() const;

 private:
  struct Guard;
  bool startAsked();
  // Every per-print counter and flag, at print start.
  void resetPrintState();
  bool openDmcForPrint(bool takeHeader);
  bool pauseBoxChecked() const;
  void setPauseBox(bool on);
  void powderOnlyStretch(bool prepPending, int& speedA, int extra);
  // False when there is no file to read the stretch from.
  bool dataStretch(bool prepPending, int& speedA, int& speedB, int extra);
  void layerLastStretch(bool prepPending);
  void stretchTail(bool prepPending, int speedA);
  int nextPowderStart(double speed) const;
  void countCamera();
  void backwardPass(bool prepPending, int& speedB);
  void emptyReturn();
  void startPrimeCheck(double rememberedX);
  bool fileNearlyEnded() const;
  void stopAtStretchEnd();
  // The print stops where it is and waits as paused, with the reason.
  void pauseNow(const std::string& why);
  void linesLost(const std::string& why);
  // The watchdog counts 10 s from now and from what was said so far.
  void resumeWatchdog();
  // Stops the print at once, aborted, with the reason in the log: the
  // machines did not let it reach a stretch end in time, or jetting data
  // did not reach the unit.
  void stopNow(const std::string& why);
  // The pass data the unit still reads is closed, unless a stream is
  // running (it ends with its own end byte).
  void closeOpenPass();
  // False while the jetting unit's link is down: the print waits for it.
  bool unitLinkUp();
  void endOfPrint(bool prepPending);
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
  bool shortStretches() const { return links.shortStretches && links.shortStretches(); }
  bool fastStretches() const { return links.fastStretches && links.fastStretches(); }
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
  int marlinNesting_ = 0;
  int transferNesting_ = 0;
  // What the watchdog saw at its last start: a machine whose counters
  // move is busy, not gone.
  long long watchMarks_[4] = {-1, -1, -1, -1};
  // The oldest unacknowledged line was sent again in this stall.
  bool poked_ = false;
  bool awake_ = false;
  // Pass data was announced ("973j") and its end byte is still to come.
  bool dataOpen_ = false;
  // When the abort was asked while the print ran (-1: none).
  std::int64_t abortTick_ = -1;
  // The print waits for the unit's link; when it last tried to connect.
  bool unitWaitSaid_ = false;
  std::int64_t lastReconnect_ = 0;

 public:
  // An abort stops the print at the next stretch end, or at the latest
  // this long after it was asked.
  static constexpr int kAbortBoundMs = 5000;
};

}  // namespace ph
