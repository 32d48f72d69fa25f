#pragma once
// The three timer-driven procedures that chain the machine actions: the
// batch print ("3d print", -B: slice or build the alignment job, home,
// Z reset, powder preparation, priming bursts, the print, keep-wet and
// drying), the cartridge alignment (countdown, pattern print, best-match
// entry) and the feeder pulse calibration (the unit counts the Y axis's
// step pulses over a known stroke; the ratio goes to the unit and into
// InkjetIni). This object holds the state of all three.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host/core/host_core.h"
#include "host/jobdata/job_state.h"
#include "host/machine/ink_controls.h"
#include "host/machine/jetting_link.h"
#include "host/machine/machine_events.h"
#include "host/machine/marlin_link.h"
#include "host/machine/motion.h"
#include "host/machine/print_sequencer.h"

namespace ph {

// The menu items of this object ("set allign", "Calibrate pulses",
// "prep view") in the menus given.
void addBatchPrintItems(Controls& controls, const std::string& alignParent, const std::string& inkParent,
                        const std::string& fileParent);

// Removes from an InkjetIni text every command group that ends in `token`
// (with the blanks in front of it): from the letter that closes the group
// before it, or from the start, through the token.
void removeInkjetIniGroup(std::string& text, std::string_view token);

// The unit's input-pin word: the hexadecimal digits (either case, at most
// eight) that begin two places after the "=" of the last "IOPIN =" in
// `text`. Empty when there is no such reply or no digit stands there.
std::optional<std::uint32_t> readIoPin(std::string_view text);
// The step count of the last "pulses=" in `text`: the digits that begin the
// first blank-separated word after the "=" (not followed by a letter).
// Empty when there is no such reply or no count stands there.
std::optional<long long> readPulseCount(std::string_view text);

// The best fraction k/d (d 3..99) for pulses per dot; every improvement
// goes to `log` as its log line.
struct PulseRatio {
  int numerator = 0;
  int denominator = 0;
};
PulseRatio findPulseRatio(double target, const std::function<void(const std::string&)>& log);

// What the batch print, the alignment and the calibration start in
// subsystems they do not own.
class BatchSteps {
 public:
  virtual ~BatchSteps() = default;
  // The open-model road (slice and convert the current model); false when
  // there is no job to wait for.
  virtual bool openModel() = 0;
  // The next open only prepares and shows the model.
  virtual void skipNextSlicing() = 0;
  // The conversion of the current job (the pattern in pattern mode).
  virtual void convert() = 0;
  // Machine actions.
  virtual void home() = 0;
  virtual void resetZ() = 0;
  virtual void preparePowder() = 0;
  virtual void dry() = 0;
  // The goodbye sequence that ends a command-line run.
  virtual void endProgram() = 0;
  // Saves the settings file (IniAutoSave after a calibration).
  virtual bool saveSettings() = 0;
};

class BatchPrint {
 public:
  // An unattended batch waits at most this long for the Z reset's lines to
  // be acknowledged; a silent machine would hold it for ever.
  static constexpr int kUnattendedAckWaitMs = 300000;
  // A machine that has said nothing at all is given the watchdog's time.
  static constexpr int kNeverAnsweredMs = 10000;

  BatchPrint(HostCore& core, JobState& job, JettingLink& ink, MarlinLink& marlin, MotionControls& motion,
             InkControls& inkControls, PrintSequencer& sequencer, BatchSteps& steps);
  ~BatchPrint();
  BatchPrint(const BatchPrint&) = delete;
  BatchPrint& operator=(const BatchPrint&) = delete;

  // ---- state ----
  int batchStep = 0;
  bool alignMode = false;
  int burstRounds = 0;
  int alignCountdown = 0;
  int calibStep = 0;
  std::uint32_t ioPinBefore = 0;

  // Sets the handlers of the timers and controls this object drives.
  void bindControls();

  // ---- what the controls and timers start ----
  // "3d print" and -B: the whole batch.
  void startBatch();
  void stepBatch();
  // "allign" and the terminal's "~": the countdown, then the pattern print.
  void startAlignment();
  void stepAlignment();
  // "set allign": the best-match entry.
  void enterBestMatch();
  // "Calibrate pulses".
  void startPulseCalibration();
  void stepPulseCalibration();
  // "prep view": the next open only prepares and shows the model.
  void prepareView();

  // ---- steps ----
  // One step of the batch; returns the next interval.
  int batchStepAction(int interval);
  // One step of the calibration; returns the next interval.
  int calibStepAction();
  // Step 4 of the calibration: reads the replies, stores the ratio.
  void evaluatePulses();
  // Applies the best-match numbers to dropgrens and kcmyoff.
  void applyBestMatch(int beside, int above);

 private:
  // The batch cannot go on: it stops with the reason in the log, and an
  // unattended run ends with a failure.
  void stopBatch(const std::string& reason);
  // A step waiting on a print finds it paused with nobody to go on.
  bool pausedUnattended();
  bool unattended() const;
  // The part of the unit's replies that arrived since `mark` (a value of
  // inkRxTotal).
  std::string_view repliesSince(int mark) const;
  void patternFileMissing();
  std::string patternFile() const;
  // The alignment countdown; false (told to the operator) when there is no
  // pattern to print.
  bool startCountdown();

  HostCore& core_;
  JobState& job_;
  JettingLink& ink_;
  MarlinLink& marlin_;
  MotionControls& motion_;
  InkControls& inkControls_;
  PrintSequencer& sequencer_;
  BatchSteps& steps_;
  // The batch stopped on a failure (no goodbye follows).
  bool batchFailed_ = false;
  // The Z reset's wait began at this tick (-1: not waiting).
  std::int64_t ackWaitSince_ = -1;
  bool ackPoked_ = false;
  // Step 2 of the calibration asked for the pin word and the count; the
  // stroke back follows on the next tick.
  bool strokeBackDue_ = false;
  // inkRxTotal when the first stroke's and the second stroke's readings
  // were asked for: replies of an earlier calibration, or of the other
  // stroke, are never taken for these.
  int firstStrokeMark_ = 0;
  int secondStrokeMark_ = 0;
  bool ioPinBeforeRead_ = false;
  OwnedTimer batch_;        // Batch
  OwnedTimer alignment_;    // alligntimer
  OwnedTimer calibration_;  // PulsCalib
};

}  // namespace ph
