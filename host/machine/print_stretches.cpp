// A stretch's start and end, the return pass and the layer advance.
#include <algorithm>
#include <cmath>

#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "host/machine/print_names.h"
#include "host/machine/print_sequencer.h"
#include "host/machine/print_timing.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {

constexpr double kDot = 25.4 / 300.0;  // mm per dot

// A count as 6-bit digits, least significant first, each or-ed with tag.
std::string countDigits(long long v, int tag) {
  std::string s;
  for (; v > 0; v >>= 6) s += char(tag | int(v & 63));
  return s;
}

// The pass data of a powder-only stretch after its purge codes: a zero run
// over the pass, then an empty block and the stretch end.
std::string powderOnlyData() { return countDigits(12982, 0) + "\x80" + unit::kBlankPassData; }

}  // namespace

std::string PrintSequencer::purgeCodes() const {
  std::string s;
  s += char(0x20);
  s += char(0x96);
  s.append(22, char(0xFF));
  s += char(0xA0);
  s.append(32, char(0xFF));
  s += countDigits(static_cast<long long>(core_.s.repeatpurge) * 54, 0x40);
  return s;
}

bool PrintSequencer::layerEnding(int stretches) const { return run.layerEnds || run.stretchNo >= stretches; }

// ---------------------------------------------------------------- stretch start

PowderTime PrintSequencer::passPowder() {
  const Settings& s = core_.s;
  ++run.powderCalls;
  const bool shortPass = s.bidirectional && !job_.patternMode && run.normalRun == 0;
  return powderTime(s, layout_.yvLim, shortPass, run.powderCalls == run.prevLayerPowderCalls);
}

void PrintSequencer::startStretch(bool prepPending) {
  const Settings& s = core_.s;
  ++run.stretchCount;
  if (run.plateHeating) {
    motion_.plateHeatStep(run.plateHeating);
    return;
  }
  showPrintProgress(run.layerStep);
  ++run.layerStep;
  if (run.stretchNo < 1) run.repeatCount = 0;
  int extra = 0;
  if (run.firstOfLayer) {
    run.prevLayerPowderCalls = run.powderCalls;
    run.powderCalls = 0;
    extra = s.adpowderfirst;
  }
  run.firstOfLayer = false;
  int speed = s.printspeed;
  if (dryRun_ || run.stretchNo < 1) {
    speed = powderOnlyStretch(extra);
  } else if (const auto dataSpeed = dataStretch(prepPending, extra)) {
    speed = *dataSpeed;
  } else {
    return;
  }
  stretchTail(prepPending, speed);
}

int PrintSequencer::powderOnlyStretch(int extra) {
  Settings& s = core_.s;
  const int speed = steps_.fastStretches() ? s.movespeed : s.printspeed;
  int start = s.powderdelay;
  const PowderTime powder = passPowder();
  if (powder.start) start = *powder.start;
  int time = powder.timeMs + extra;
  if (job_.patternMode) time = 0;
  if (steps_.shortStretches()) motion_.shiftHeadY(s.stretchcut);
  if (run.powderStartNext < 10000) start = run.powderStartNext;
  run.powderStartNext = nextPowderStart(s, head().y, speed);
  if (core_.dualBoxMode() && s.powderPercentage == 0 && !job_.patternMode) {
    start = 0;
    time = 5999;
  }
  if (menuChecked(print_names::kPowderLog)) core_.logVars("pd0", start, "pd1", time, "ms+0", run.stretchNo);
  // An empty return pass before this one is still open: its end byte
  // closes it, as a data stretch's first byte does, so the unit does not
  // take this announcement for pass data.
  if (run.dataOpen) sendStretchEnd();
  std::string cmd = ink_.takeQueuedCodes() + s.repeatcode + unit::kForwardPass +
                    unit::powderTimes(run.firstStretch ? 0 : start, time) +
                    unit::passDataOffset(unit::kPassStartOffset) + unit::kPassData + purgeCodes() + powderOnlyData();
  ink_.sendInkCounted(cmd);
  ++run.inkStretchesSent;
  return speed;
}

std::optional<int> PrintSequencer::dataStretch(bool prepPending, int extra) {
  Settings& s = core_.s;
  if (!records_.isOpen()) {
    core_.memoPrintf("no dmc file open (check comms)");
    tick_->stop();
    markAborted();
    releaseStayAwake();
    return std::nullopt;
  }
  run.recordPos = records_.tell();
  StretchHeaderFields header;
  const std::size_t got = records_.readHeader(header);
  run.headerText = header.text;
  sendStretchEnd();
  if (got < std::size_t(kStretchHeaderBytes)) {
    endOnBrokenFile(plat::format("%s ends inside a stretch header (%d of 10 bytes)", dmcName(), int(got)));
    return s.printspeed;
  }
  const long long length = header.length;
  run.bytesLeft = length - kStretchHeaderBytes;
  if (!isPowderCodeChar(header.text[0]))
    core_.memoPrintf("invalid buf (%s) ib %d", run.headerText, int(run.bytesLeft));
  run.normalRun = std::max(run.normalRun - 1, 0);
  ++run.stretchesRead;
  int speed = s.printspeed;
  if (run.bytesLeft > s.halfSpeedBytes) speed = s.printspeed / 2;
  int powderCode = prepPending ? 0 : header.code;
  run.layerIndex = 0;
  const char type = header.type;
  // The final placeholder has length 0; any other length below a header's
  // is as unreadable as a bad type.
  if (!isStretchType(type) || length < 0 || (length > 0 && length < kStretchHeaderBytes)) {
    core_.memoPrintf(" sync error ");
    core_.memoPrintf("%s: the stretch header at offset %ld cannot be read (%s): the print stops", dmcName(),
                     run.recordPos, caretText(run.headerText, false, false));
    run.layerEnds = true;
    run.jobEnds = true;
    run.bytesLeft = 0;
    markAborted();
    return speed;
  }
  // The head waits when the data takes longer to send than its pass.
  const int waitMs = passDataWaitMs(s, layout_.yvLim, length, ink_.inkBaudRate);
  if (waitMs > 0 && !prepPending) sendCode(plat::format("G4 P%d", waitMs));

  if (type == '{' || type == '(') {
    run.normalRun = 2;
    run.stretchNo = 1;
  } else if (type == ']') {
    run.stretchNo = run.bytesLeft < 5 || s.repeatstretch == 1 ? layout_.stretchesPerLayer - 2 : 1;
  } else if (type == '!') {
    run.splitPending = true;
    run.stretchNo -= 1;
  } else {
    layerLastStretch(prepPending);
  }

  // Pass length.
  if ((run.bytesLeft >= 5 && !prepPending) || !steps_.shortStretches() ||
      (s.bidirectional && !job_.patternMode && powderCode > 4)) {
    if (s.shortcutstretch && !prepPending && powderCode > 250) powderCode = 999;
    const int ystart = truncToInt(s.yvHi - powderCode - (s.behindmargin * 254 / 3000) - 20 - 10);
    const double y = head().y;
    motion_.setHeadY(std::min(std::max(double(ystart), y), y + s.stretchcut - 0.2));
    if (s.onCakeMode && !s.bidirectional) motion_.setHeadY(std::clamp(head().y - 30, s.yvLow, 3000.0));
    run.bidiShift = powderCode >= 1 ? truncToInt((head().y - ystart) * 3000 / 254) : 0;
  } else {
    if (steps_.fastStretches()) speed = s.movespeed;
    motion_.shiftHeadY(s.stretchcut);
  }

  // Powder.
  int start = run.powderStartNext;
  run.powderStartNext = nextPowderStart(s, head().y, speed);
  if (layerEnding(layout_.stretchesPerLayer))
    run.powderStartNext =
        truncToInt(run.powderStartNext + (s.xMarlinBase - layout_.buildRoomSkip - head().x) * 60000 / notnul(speed));
  if (run.firstStretch) start = 0;
  const PowderTime powder = passPowder();
  if (powder.start) start = *powder.start;
  int time = powder.timeMs + extra;
  if (run.splitPending || job_.patternMode || run.repeatCount > 0) time = 10;
  if (s.nopowderstretches > 0 && layerEnding(layout_.stretchesPerLayer - s.nopowderstretches)) time = 10;
  if (s.rollSplit != 0) {
    start = truncToInt(start + s.powderDY * 300 / 25.4);
    if (run.stretchCount < s.addedStretch) motion_.shiftHeadY(-s.powderDY);
    else time = 10;
  }
  s.behindmargin = std::max(s.behindmargin, s.repeatpurge);
  if (core_.dualBoxMode() && s.powderPercentage == 0 && !job_.patternMode) {
    start = 0;
    time = 5999;
  }
  if (menuChecked(print_names::kPowderLog)) core_.logVars("pd0", start, "pd1", time, "ms", run.stretchNo);

  const long long zeros = static_cast<long long>(s.behindmargin + 240 - s.repeatpurge) * 54 + 22;
  std::string cmd = ink_.takeQueuedCodes() + s.repeatcode + unit::kForwardPass + unit::powderTimes(start, time) +
                    unit::kPassData + purgeCodes() + countDigits(zeros, 0) + "\x80";
  ink_.sendInkCounted(cmd);
  run.dataOpen = true;
  ++run.inkStretchesSent;
  run.firstStretch = false;
  if (run.bytesLeft <= 0) {
    run.bytesLeft = 0;
    sendStretchEnd();
  } else {
    if (prepPending) dropRecordData(100, 1);
    streamStretchData();
  }
  return speed;
}

void PrintSequencer::layerLastStretch(bool prepPending) {
  Settings& s = core_.s;
  if (s.plateTime > 0 && !prepPending) run.plateHeating = true;
  if (s.pauseEachLayer) setPauseBox(true);
  if (s.powderSkipLayers > 0) {
    if (run.powderSkipCounter++ > s.powderSkipLayers) {
      run.powderSkipCounter = 0;
      if (powderSkipState == 0) powderSkipState = 1;
    }
  }
  if (powderSkipState == 1) {
    powderSkipState = s.powderPercentage;
    core_.applySettings("?powderPercentage=1", true);
  } else if (powderSkipState > 1) {
    core_.applySettings(plat::format("?powderPercentage=%d", powderSkipState), true);
    powderSkipState = 0;
  }
  if (menuChecked(print_names::kConnectCheck))
    ink_.sendInk(menuChecked(print_names::kNoColour) ? unit::kCheckColourCartridge : unit::kCheckWaterCartridge);
  ink_.sendInk(s.EachLayCode);
  if (!job_.patternMode) {
    std::string seq = expandGcodeTemplate(s.LayerGcodes, layout_.buildRoomSkip);
    if (s.spoonPowder) {
      const auto p = seq.rfind("G0 Y");
      if (p != std::string::npos) seq.insert(p, "G4 P99/");
    }
    marlin_.startCodeSequence(seq);
  }
  if (core_.dualBoxMode()) ink_.echoReceived(1, plat::format("L%d ", run.printLayer + 1));
  marlin_.fillQueuedPlaceholder("%p%", plat::format("%g", s.powderPercentage * 0.01));
  layerMorePowderStep();
  if (run.bytesLeft < 5 || s.repeatstretch == 1) run.layerEnds = true;
}

void PrintSequencer::stretchTail(bool prepPending, int speed) {
  const Settings& s = core_.s;
  run.firstStretch = false;
  motion_.moveXY(rollSplitX(head().x), head().y, prepPending ? s.movespeed : speed);
  motion_.turnHead(layout_.yvLim);
  countCamera();
}

void PrintSequencer::countCamera() {
  if (--run.camCountdown != 0) return;
  steps_.signalCamera();
}

// ---------------------------------------------------------------- stretch end

void PrintSequencer::endStretch(bool prepPending) {
  const Settings& s = core_.s;
  if (run.abortAsked || pauseBoxChecked()) stopAtStretchEnd();
  run.stretchNo += 1;
  if (layerEnding(layout_.stretchesPerLayer)) {
    advanceLayer(prepPending);
  } else {
    if (!run.splitPending) {
      motion_.shiftHeadX(-(s.band64 * kDot));
      skipEmptyStretches();
    } else if (s.repeatstretch == 1) {
      run.splitPending = false;
    }
    sendStretchEnd();
    if (menuChecked(print_names::kTemperatureControl)) ink_.sendInk(unit::kTemperatureControl);
    if (phase_ == PrintPhase::Paused || run.abortAsked) ink_.sendInk(unit::kStopAfterStretch);
    if (run.backwardPending) backwardPass(prepPending);
    else emptyReturn();
    ++run.inkStretchesSent;
    // A print that stopped here leaves no pass open: the next command
    // would be read as its data.
    if (!ticking()) closeOpenPass();
  }
  motion_.turnHead(layout_.yvLim);
  countCamera();
}

void PrintSequencer::backwardPass(bool prepPending) {
  const Settings& s = core_.s;
  StretchHeaderFields header;
  const std::size_t got = records_.readHeader(header);
  run.backwardPending = false;
  const long long length = got == std::size_t(kStretchHeaderBytes) ? header.length : -1;
  if (length < 0) {
    endOnBrokenFile(plat::format("%s ends inside a stretch header", dmcName()));
    emptyReturn();
    return;
  }
  run.bytesLeft = std::max(0LL, length - kStretchHeaderBytes);
  if (!isPowderCodeChar(header.text[0]))
    core_.memoPrintf("invalid buf (%s) ib %d", header.text, int(run.bytesLeft));
  const int speed = passSpeed(s, run.bytesLeft);
  ++run.stretchesRead;
  run.bidiShift += s.bidiadjust;
  if (run.bidiShift > 0) {
    motion_.moveXY(rollSplitX(head().x), head().lastY + (run.bidiShift * 254 / 3000), s.movespeed);
    run.bidiShift = 0;
  } else {
    motion_.moveXY(rollSplitX(head().x), head().lastY, s.movespeed);
  }
  run.normalRun = std::min(run.normalRun + 1, 2);
  ink_.sendInk(unit::kReturnPass +
               unit::passDataOffset(unit::kPassStartOffset + 54 * std::max(0, -run.bidiShift)));
  ink_.sendInk(unit::kPassData);
  run.dataOpen = true;
  run.bidiShift = 0;
  if (prepPending) dropRecordData(100, 1);
  streamStretchData();
  motion_.moveXY(rollSplitX(head().x), head().y, prepPending ? s.movespeed : speed);
  motion_.shiftHeadX(-(s.band64 * kDot));
  motion_.moveXY(rollSplitX(head().x), head().y, speed);
}

void PrintSequencer::emptyReturn() {
  ink_.sendInk(unit::kReturnPass + unit::passDataOffset(unit::kPassStartOffset));
  ink_.sendInkCounted(unit::kPassData);
  run.dataOpen = true;
  motion_.moveXY(rollSplitX(head().x), head().y, core_.s.movespeed);
}

void PrintSequencer::skipEmptyStretches() {
  const Settings& s = core_.s;
  const bool pairs = s.bidirectional && !job_.patternMode;
  if (!(s.powderReduce || pairs)) return;
  const PrintRecords::Skipped skipped = records_.skipEmptyStretches(s.powderReduce, pairs);
  if (skipped.backwardNext) run.backwardPending = *skipped.backwardNext;
  motion_.shiftHeadX(-(skipped.bands * s.band64 * kDot));
}

// ---------------------------------------------------------------- layer advance

void PrintSequencer::advanceLayer(bool prepPending) {
  Settings& s = core_.s;
  const double rollShift = s.rollSplit != 0 ? s.powderDY : 0;
  run.stretchCount = 0;
  run.rollSpeedTaken = false;
  const double rememberedX = head().x;
  run.stretchNo = -s.prepstretches;
  run.layerEnds = false;
  run.firstOfLayer = true;
  if (prepLayers_ > 0) {
    if (--prepLayers_ == 0) run.layerIndex = layout_.printpages;
  } else {
    if (!job_.patternMode && !s.onCakeMode) {
      stickingCheck(marlin_.platformZ);
      marlin_.platformZ += s.layerMicrons / 1000.0;
    }
    ++run.printLayer;
    if (run.printLayer == s.haltingLayer) core_.applySettings("?pauseEachLayer=true", true);
    if (!core_.dualBoxMode()) ink_.echoReceived(1, plat::format(" L%d ", run.printLayer));
    if (tempr_.temprTestActive) {
      core_.memoPrintf("%n(%dC)", run.printLayer + 28);
      ink_.queueUnitCode(unit::setTemperature(run.printLayer + 28));
    }
    run.layerStep = 0;
  }
  run.camCountdown = s.camsyncer;
  const double base = s.xMarlinBase - layout_.buildRoomSkip;
  if (core_.dualBoxMode()) motion_.setHeadX(base);
  const double y = layout_.yvLim + s.stretchcut - rollShift;
  motion_.moveXYZ(rollSplitX(head().x), y, marlin_.platformZ, s.movespeed);
  motion_.setHeadX(base);
  if (!s.preInkGcodes.empty()) {
    if (s.preInkGcodes[0] == '@') stopRollerAfter(leadingInt(s.preInkGcodes.substr(1, 9)));
    else marlin_.startCodeSequence(s.preInkGcodes);
  }
  if (menuChecked(print_names::kDetour)) {
    motion_.moveXYZ(20, y, marlin_.platformZ, s.movespeed);
    if (!s.powderReduce) motion_.moveXYZ(rollSplitX(head().x), y, marlin_.platformZ, s.movespeed);
  }
  run.oddLayer = !run.oddLayer;
  run.layerShiftDots = s.band64 > 0 ? (run.layerShiftDots + s.shiftLayer) % s.band64 : 0;
  setStartX();
  if (s.powderReduce || (s.bidirectional && !job_.patternMode)) {
    skipEmptyStretches();
    if (s.powderReduce) motion_.moveXYZ(rollSplitX(head().x), y, marlin_.platformZ, s.movespeed);
  }
  sendStretchEnd();
  if (menuChecked(print_names::kTemperatureControl)) ink_.sendInk(unit::kTemperatureControl);
  if (phase_ != PrintPhase::Paused && !pauseBoxChecked() && !s.pauseEachLayer && s.primeCheckLayer != 0 &&
      ++run.primeLayerCount >= s.primeCheckLayer) {
    run.primeLayerCount = 0;
    startPrimeCheck(rememberedX);
  }
  ink_.sendInkCounted(unit::kReturnPass + unit::passDataOffset(unit::kPassStartOffset) + unit::kPassData +
                      unit::kBlankPassData);
  motion_.moveXY(rollSplitX(head().x), head().y, s.movespeed);
  ++run.inkStretchesSent;
  ++run.layerIndex;
  if (run.layerIndex >= layout_.printpages || run.jobEnds || records_.nearlyEnded()) endOfPrint(prepPending);
}

void PrintSequencer::startPrimeCheck(double rememberedX) {
  const Settings& s = core_.s;
  phase_ = PrintPhase::PrimingCheck;
  run.primeTravelMs = primeTravelMs(s, s.xMarlinBase - layout_.buildRoomSkip, rememberedX, head().lastY);
  preInkStep();
  tick_->stop();
  ink_.sendInk(unit::kTemperatureHold);
  steps_.startLayerPrimeCheck(run.primeTravelMs);
}

void PrintSequencer::stickingCheck(double z) {
  const std::int64_t now = core_.clock.tickMs();
  if (now - run.lastLayerTick > 30000) {
    core_.memoPrintf("sticking....");
    sendCode(plat::format("G92 Z%3.2f", z));
  }
  run.lastLayerTick = now;
}

// ---------------------------------------------------------------- roller and G-code steps

double PrintSequencer::rollSplitX(double x) {
  const Settings& s = core_.s;
  if (s.rollSplit == 0) return x;
  const int a = s.rollSplit / 1000;
  if (run.stretchCount < s.addedStretch) {
    if (!rollerOn_) {
      sendCode("M106 S255");
      rollerOn_ = true;
    }
    stopRollerAfter(8000);
    return x - (a % 1000);
  }
  if (!run.rollSpeedTaken) {
    run.rollSpeedTaken = true;
    motion_.oneShotSpeed = a / 1000 * 10;
    if (rollerOn_) stopRollerAfter(3000);
  }
  return x;
}

void PrintSequencer::stopRollerAfter(int ms) {
  plat::Timer& t = *rollStop_;
  t.stop();
  t.setInterval(ms);
  t.start();
}

void PrintSequencer::stopRoller() {
  rollStop_->stop();
  sendCode("M106 S0");
  rollerOn_ = false;
}

void PrintSequencer::preInkStep() {
  const std::string& text = core_.s.preInkGcodes;
  if (text.empty()) return;
  if (text[0] == '@') {
    stopRollerAfter(leadingInt(text.substr(1, 9)));
  } else {
    std::string rest = text;
    sendCode(popToken(rest, '/'));
  }
}

void PrintSequencer::layerMorePowderStep() {
  ink_.plusReplies = 0;
  if (core_.s.layerMorePowder == 0) return;
  if (motion_.countLayerAtPowderAmount() >= core_.s.layerMorePowder) motion_.PowderUpDown(true, false);
}

std::string PrintSequencer::expandGcodeTemplate(const std::string& text, int skip) const {
  std::string t = text;
  if (const auto p = t.find("%yLim%"); p != std::string::npos) {
    const int yLim = clampInt(truncToInt(130 - layout_.djmaxline * 8 * 25.4 / 300), 0, 120);
    t.replace(p, 6, std::to_string(yLim));
  }
  if (skip == 0) return t;
  const auto isNum = [](char c) { return (c >= '0' && c <= '9') || c == '.'; };
  if (const auto p = t.find("%skip%", 1); p != std::string::npos) {
    const bool add = t[p - 1] == '+';
    std::size_t from = p - 1;
    while (from > 0 && isNum(t[from - 1])) --from;
    const double v = std::atof(t.substr(from, p - 1 - from).c_str());
    return t.substr(0, from) + plat::format("%g", add ? v + skip : v - skip) + t.substr(p + 6);
  }
  const auto p1 = t.find("G0 Y");
  if (p1 == std::string::npos) return t;
  const std::string after = t.substr(p1 + 4);
  const std::string head = t.substr(0, p1 + 4) + std::to_string(int(std::atof(after.c_str())));
  const auto blank = after.find(' ');
  std::string rest = blank == std::string::npos ? "" : after.substr(blank + 1);
  if (const auto p2 = rest.find("G0 Y"); p2 != std::string::npos) {
    std::size_t end = p2 + 4;
    if (end < rest.size() && rest[end] == '-') ++end;
    while (end < rest.size() && isNum(rest[end])) ++end;
    const double v = std::atof(rest.substr(p2 + 4, end - p2 - 4).c_str());
    rest = rest.substr(0, p2 + 4) + plat::format("%g", v - skip) + rest.substr(end);
  }
  return rest.empty() ? head : head + " " + rest;
}

}  // namespace ph
