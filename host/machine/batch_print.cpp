#include "host/machine/batch_print.h"

#include <algorithm>
#include <cmath>

#include "host/core/dots.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/value_dialogs.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {

constexpr int kCalibSpeed = 3000;              // mm/min of the calibration strokes

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

void addBatchPrintItems(Controls& controls, const std::string& alignParent, const std::string& inkParent,
                        const std::string& fileParent) {
  using K = Control::Kind;
  controls.add(K::MenuItem, "setallign1", "set allign", alignParent).hint =
      "enter the best-matching marks of the alignment print";
  controls.add(K::MenuItem, "Calibratepulses1", "Calibrate pulses", inkParent).hint =
      "let the jetting unit count the Y axis's step pulses and store the ratio";
  controls.add(K::MenuItem, "viewprep1", "prep view", fileParent).hint = "prepare and show a model without slicing it";
}

void removeInkjetIniGroup(std::string& text, std::string_view token) {
  if (token.empty()) return;
  for (std::size_t pos = text.find(token); pos != std::string::npos; pos = text.find(token)) {
    std::size_t from = 0;
    for (std::size_t i = pos; i > 0; --i) {
      if (isLetter(text[i - 1])) {
        from = i;
        break;
      }
    }
    text.erase(from, pos + token.size() - from);
  }
}

std::optional<std::uint32_t> readIoPin(std::string_view text) {
  const std::size_t at = text.rfind("IOPIN =");
  if (at == std::string_view::npos) return std::nullopt;
  // "IOPIN = 0200ABCD": the word begins two places after the "=".
  std::size_t p = at + 6 + 2;
  std::uint32_t v = 0;
  int digits = 0;
  for (; digits < 8 && p < text.size(); ++p, ++digits) {
    const int d = hexDigit(text[p]);
    if (d < 0) break;
    v = v << 4 | std::uint32_t(d);
  }
  if (digits == 0) return std::nullopt;
  return v;
}

std::optional<long long> readPulseCount(std::string_view text) {
  const std::size_t at = text.rfind("pulses=");
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = text.substr(at + 7, 999);
  const std::size_t start = rest.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::nullopt;
  rest = rest.substr(start);
  long long n = 0;
  std::size_t i = 0;
  for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    n = n * 10 + (rest[i] - '0');
    if (n > 2000000000LL) return std::nullopt;  // no unit counts that far
  }
  // Digits ended by the text's end or a character that is neither a letter
  // nor a digit ("12ab" is no count).
  if (i == 0 || (i < rest.size() && isLetter(rest[i]))) return std::nullopt;
  return n;
}

PulseRatio findPulseRatio(double target, const std::function<void(const std::string&)>& log) {
  float best = 9999.9f;
  PulseRatio r;
  for (int d = 3; d <= 99; ++d) {
    const int m = saturatedInt(d * target);
    for (int k = m - 1; k <= m + 2; ++k) {
      const double e = std::fabs(double(k) / d - target);
      // Compared as kept: an error equal to the best in single precision
      // keeps the earlier pair.
      if (float(e) < best) {
        best = float(e);
        r = {k, d};
        if (log) log(plat::format("%d/%d = %3.4f (%3.7f)", k, d, double(k) / d, e));
      }
    }
  }
  return r;
}

BatchPrint::BatchPrint(HostCore& core, JobState& job, JettingLink& ink, MarlinLink& marlin, MotionControls& motion,
                       InkControls& inkControls, PrintSequencer& sequencer, BatchSteps& steps)
    : core_(core),
      job_(job),
      ink_(ink),
      marlin_(marlin),
      motion_(motion),
      inkControls_(inkControls),
      sequencer_(sequencer),
      steps_(steps),
      batch_(core.timers.make("Batch")),
      alignment_(core.timers.make("alligntimer")),
      calibration_(core.timers.make("PulsCalib")) {}

BatchPrint::~BatchPrint() = default;

void BatchPrint::bindControls() {
  batch_->setHandler([this] { stepBatch(); });
  alignment_->setHandler([this] { stepAlignment(); });
  calibration_->setHandler([this] { stepPulseCalibration(); });
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("btBatch", [this] { startBatch(); });
  bind("btAllign", [this] { startAlignment(); });
  bind("setallign1", [this] { enterBestMatch(); });
  bind("Calibratepulses1", [this] { startPulseCalibration(); });
  bind("viewprep1", [this] { prepareView(); });
}

bool BatchPrint::unattended() const { return core_.run.active() || !core_.ui.hasDisplay(); }

std::string BatchPrint::patternFile() const { return checkedFolder(core_.workDir + "pattern.p3d"); }

// ---------------------------------------------------------------- batch

void BatchPrint::startBatch() {
  if (sequencer_.isBusy()) {
    // A second batch would home the machine and start the job again in
    // the middle of the print.
    core_.ui.showMessage("a print is running: 3d print refused (pause or abort it first)");
    return;
  }
  core_.clearAbort();
  batch_->stop();
  alignMode = false;
  batchFailed_ = false;
  ackWaitSince_ = -1;
  // A command-line run, or a batch after an alignment, prints the model.
  if (!core_.batchPrintsModel() && !unattended())
    alignMode = core_.ui.askYesNo("Confirm", "Allign Cartridges");
  batch_->setInterval(1000);
  batchStep = 1;
  stepBatch();
}

void BatchPrint::stepBatch() {
  plat::Timer& timer = *batch_;
  timer.stop();
  // An unattended run that failed elsewhere (slicing, conversion) has ended.
  if (core_.run.failed()) return;
  const int next = batchStepAction(timer.interval());
  ++batchStep;
  if (next != timer.interval()) timer.setInterval(next);
  if (!core_.abortRequested() && !batchFailed_ && batchStep <= 10) {
    timer.start();
    return;
  }
  if (batchFailed_) return;
  if (core_.abortRequested()) {
    // An aborted batch never says goodbye; a command-line run has failed.
    core_.run.fail("the print was aborted");
    return;
  }
  if (core_.runMode == 'B') steps_.endProgram();
}

void BatchPrint::stopBatch(const std::string& reason) {
  core_.memoPrintf("batch print stopped: %s", reason);
  batchFailed_ = true;
  core_.run.fail(reason);
}

bool BatchPrint::pausedUnattended() {
  if (!core_.run.active() || !sequencer_.paused()) return false;
  stopBatch("the print paused and nobody is there to go on");
  return true;
}

int BatchPrint::batchStepAction(int interval) {
  const Settings& s = core_.s;
  switch (batchStep) {
    case 1:
      if (alignMode) {
        if (!fileExists(patternFile())) {
          patternFileMissing();
          stopBatch("no allign pattern found");
          return interval;
        }
        job_.patternMode = true;
        steps_.convert();
      } else if (!steps_.openModel()) {
        stopBatch("no job for " + (core_.commandInputFile.empty() ? std::string("the model") : core_.commandInputFile));
      }
      return interval;
    case 2:
      if (!job_.dmcCurrent) {
        --batchStep;  // the slicer or the conversion is still at work
        return interval;
      }
      steps_.home();
      return 6000;
    case 3:
      // Earlier lines count as acknowledged.
      marlin_.nrMarlinok = marlin_.Marlinlin;
      steps_.resetZ();
      ackWaitSince_ = -1;
      ackPoked_ = false;
      return 3000;
    case 4:
      if (marlin_.nrMarlinok < marlin_.Marlinlin) {
        if (core_.run.active() && !marlin_.marlinLinkOpen) {
          // Its port did not open: no acknowledgement can come.
          stopBatch("the machine's port is not open, so the Z reset is never acknowledged");
          return interval;
        }
        const std::int64_t now = core_.clock.tickMs();
        if (ackWaitSince_ < 0) ackWaitSince_ = now;
        if (core_.run.active() && marlin_.repliesSeen == 0 && now - ackWaitSince_ >= kNeverAnsweredMs) {
          // Not a word since the link opened: waiting longer brings none.
          stopBatch("the machine never answered since its link opened");
          return interval;
        }
        // A lost "ok" would hold the batch for good: the oldest line
        // without one goes again once, and the machine's answer settles it.
        if (!ackPoked_ && now - ackWaitSince_ >= kNeverAnsweredMs) ackPoked_ = marlin_.pokeUnacknowledged();
        if (core_.run.active() && now - ackWaitSince_ >= kUnattendedAckWaitMs) {
          stopBatch(plat::format("the machine acknowledged %d of %d lines of the Z reset", marlin_.nrMarlinok,
                                 marlin_.Marlinlin));
          return interval;
        }
        --batchStep;
        return interval;
      }
      ackWaitSince_ = -1;
      if (!alignMode) steps_.preparePowder();
      return 1000;
    case 5:
      if (sequencer_.isBusy()) {
        if (!pausedUnattended()) --batchStep;
        return interval;
      }
      if (!core_.primeAtStart) {
        batchStep = 7;  // no bursts: the print follows
      } else {
        if (s.xPrime >= 0) {
          // Opened by the homing as a rule; a line sent on a link that was
          // never opened would upset the acknowledgement count.
          marlin_.openMarlin();
          marlin_.sendGcode(plat::format("G0 X%3.2f", s.xPrime));
        }
        burstRounds = alignMode ? 2 : 0;
      }
      return 3000;
    case 6:
      inkControls_.waterburst();
      return 1100;
    case 7:
      inkControls_.colorburst();
      if (++burstRounds < 4) batchStep = 5;
      return interval;
    case 8:
      if (alignMode) {
        core_.ui.showMessage("place allignment card on platform");
        if (!startCountdown()) stopBatch("no allign pattern found");
      } else {
        sequencer_.start();
        if (!sequencer_.isBusy()) stopBatch("the print did not start");
      }
      return 2000;
    case 9:
      if (sequencer_.isBusy() && !pausedUnattended()) --batchStep;
      return interval;
    case 10:
      if (!alignMode) {
        core_.controls.at("cbkeepwet").setChecked(true);
        inkControls_.sendKeepWet();
        steps_.dry();
      }
      return interval;
    default: return interval;
  }
}

// ---------------------------------------------------------------- alignment

void BatchPrint::patternFileMissing() {
  core_.memoPrintf("no allign pattern found (%s)", patternFile());
  core_.ui.showMessage("no allign pattern found");
}

void BatchPrint::startAlignment() { startCountdown(); }

bool BatchPrint::startCountdown() {
  if (!fileExists(patternFile())) {
    patternFileMissing();
    return false;
  }
  if (core_.s.startinglayer != 0) {
    core_.memoPrintf("cleared staringlayer");
    core_.s.startinglayer = 0;
  }
  // The dual-box set-up has no countdown.
  alignCountdown = core_.dualBoxMode() ? 0 : 5;
  alignment_->stop();
  stepAlignment();
  return true;
}

void BatchPrint::stepAlignment() {
  plat::Timer& timer = *alignment_;
  Control& button = core_.controls.at("btAllign");
  if (alignCountdown > 0) {
    inkControls_.playWave("piepkort.wav");
    button.setCaption(plat::format("%d", alignCountdown));
    --alignCountdown;
    timer.start();
    return;
  }
  button.setCaption("Align");
  job_.patternMode = true;
  job_.dmcCurrent = false;  // the pattern is converted anew
  timer.stop();
  sequencer_.start();
}

void BatchPrint::enterBestMatch() {
  int beside = 0, above = 0;
  // A dialog not confirmed, or with a field that is not a number, changes
  // nothing.
  if (!edit2int(core_, beside, above, "enter best match", "Beside number", "Above number")) beside = above = 0;
  applyBestMatch(beside, above);
}

void BatchPrint::applyBestMatch(int beside, int above) {
  Settings& s = core_.s;
  // Settings stay inside their ranges, so a saved file loads again.
  auto refusal = [&](const char* name, long long v) {
    const int idx = core_.params.find(name);
    return idx >= 0 ? core_.params.rangeRefusal(idx, double(v)) : std::string();
  };
  if (above != 0) {
    const long long v = s.dropgrens + 2LL * above;
    if (const std::string why = refusal("dropgrens", v); !why.empty()) {
      core_.memoPrintf("Above_number=%d not applied: %s", above, why);
      core_.ui.showMessage(why);
    } else {
      job_.jobReady = false;
      job_.dmcCurrent = false;
      s.dropgrens = int(v);
    }
  }
  if (beside != 0) {
    std::string why;
    for (std::size_t i = 4; i < 10 && why.empty(); ++i) why = refusal("kcmyoff", s.kcmyoff[i] + (long long)beside);
    if (!why.empty()) {
      core_.memoPrintf("Beside_number=%d not applied: %s", beside, why);
      core_.ui.showMessage(why);
    } else {
      job_.dmcCurrent = false;
      job_.jobReady = false;
      // Cyan, magenta and yellow, two entries each; water stays.
      for (std::size_t i = 4; i < 10; ++i) s.kcmyoff[i] += beside;
    }
  }
  core_.memoPrintf("Beside_number=%d Above_number=%d dropgrens=%d kcmyoff[9]=%d ", beside, above, s.dropgrens,
                   s.kcmyoff[9]);
}

void BatchPrint::prepareView() {
  steps_.skipNextSlicing();
  steps_.openModel();
}

// ---------------------------------------------------------------- pulse calibration

void BatchPrint::startPulseCalibration() {
  if (core_.notConfirmed("calibrate pulses per mm.\n This  might take a minute")) return;
  // The strokes would run into the print's moves.
  if (sequencer_.isBusy() && calibStep == 0 && !calibration_->enabled()) {
    core_.memoPrintf("pulse calibration: not while a print runs");
    core_.ui.showMessage("pulse calibration: not while a print runs");
    return;
  }
  stepPulseCalibration();
}

void BatchPrint::stepPulseCalibration() {
  plat::Timer& timer = *calibration_;
  timer.stop();
  const int next = calibStepAction();
  if (calibStep >= 4 || calibStep < 0) {
    calibStep = 0;
    return;
  }
  if (!strokeBackDue_) ++calibStep;
  timer.setInterval(next);
  timer.start();
}

std::string_view BatchPrint::repliesSince(int mark) const {
  const std::string_view h = ink_.inkRxHistory;
  const long long fresh = (long long)ink_.inkRxTotal - mark;
  if (fresh <= 0) return {};
  if (std::size_t(fresh) >= h.size()) return h;
  return h.substr(h.size() - std::size_t(fresh));
}

int BatchPrint::calibStepAction() {
  const Settings& s = core_.s;
  const int travel = saturatedInt(std::fabs(s.yvHi - s.yvLow) * 60000 / kCalibSpeed + 1000);
  const int stroke = std::max(4000, travel);
  switch (calibStep) {
    case 0:
      if (!marlin_.marlinLinkOpen) steps_.home();
      marlin_.openMarlin();
      motion_.moveXY(s.xMarlinBase, s.yvHi, kCalibSpeed);
      return 4000;
    case 1:
      firstStrokeMark_ = ink_.inkRxTotal;
      ink_.sendInk(unit::kStrokeMark);
      motion_.moveXY(s.xMarlinBase, s.yvLow, kCalibSpeed);
      return stroke;
    case 2:
      if (!strokeBackDue_) {
        // The pin word the unit gave at the start of the stroke down.
        const auto pin = readIoPin(repliesSince(firstStrokeMark_));
        ioPinBeforeRead_ = pin.has_value();
        if (pin) ioPinBefore = *pin;
        secondStrokeMark_ = ink_.inkRxTotal;
        ink_.sendInk(unit::kStrokeMarkAndPins);
        // The unit takes its readings before the head moves back; the
        // timer waits, nothing blocks.
        strokeBackDue_ = true;
        return 100;
      }
      strokeBackDue_ = false;
      motion_.moveXY(s.xMarlinBase, s.yvHi, kCalibSpeed);
      return 100;
    case 3:
      ink_.sendInk(unit::kReadPins);
      return stroke;
    case 4: evaluatePulses(); return 4000;
    default: return 4000;
  }
}

void BatchPrint::evaluatePulses() {
  Settings& s = core_.s;
  const std::string_view replies = repliesSince(secondStrokeMark_);
  if (const auto after = readIoPin(replies)) {
    core_.applySettings(plat::format("?reversdir=%s", (*after & 0x2000000u) ? "false" : "true"), true);
    if (ioPinBeforeRead_ && (*after & 1u) == (ioPinBefore & 1u)) core_.memoPrintf("DIR PIN NOT CONNECTED");
  }
  auto fail = [&](const std::string& why) {
    const std::string text = "pulse calibration failed: " + why + "; nothing stored";
    core_.memoPrintf("%s", text);
    core_.ui.showMessage(text);
  };
  const auto n = readPulseCount(replies);
  if (!n) return fail("no \"pulses=\" count from the jetting unit");
  if (*n <= 0) return fail("the jetting unit counted no pulses");
  const double distance = std::fabs(s.yvHi - s.yvLow);
  if (distance <= 0) return fail("yvHi and yvLow are equal, the head did not travel");
  const float p = float(double(*n) / distance);
  const double target = double(p) * kMmPerDot;  // pulses per dot
  core_.memoPrintf("searching numerator and denominator for %3.4f", target);
  const PulseRatio r = findPulseRatio(target, [this](const std::string& line) { core_.memoPrintf("%s", line); });
  if (r.numerator < 1) return fail(plat::format("%g pulses/mm is too few for a ratio", double(p)));
  const std::string cmd = plat::format(" %d,8o%d,9o", r.denominator, r.numerator);
  removeInkjetIniGroup(s.InkjetIni, ",9o");
  removeInkjetIniGroup(s.InkjetIni, ",8o");
  ink_.sendInk(cmd);
  s.InkjetIni += cmd;
  core_.ui.showMessage(plat::format("calibrated to %g pulses/mm", double(p)));
  core_.memoPrintf("  %g pulses/mm", double(p));
  core_.markSettingsModified();
  if (s.IniAutoSave) {
    steps_.saveSettings();
  }
}

}  // namespace ph
