#include "host/machine/print_sequencer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/core/files.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/jobdata/build_time.h"
#include "host/jobdata/dmc_decoder.h"
#include "host/machine/link_texts.h"

namespace ph {

namespace {

constexpr double kDot = 25.4 / 300.0;  // mm per dot
constexpr const char* kRecordTypes = "{}]!(<";

// trunc() of the machine-control code: toward zero, kept inside the int range.
int trunc(double v) {
  if (!(v == v)) return 0;
  return int(std::clamp(v, -2147483648.0, 2147483647.0));
}

bool isRecordType(char c) { return c != '\0' && std::strchr(kRecordTypes, c) != nullptr; }

// The six digits of a record length; -1 when they are not all digits.
long long recordLength(const char* h) {
  long long n = 0;
  for (int i = 3; i < 9; ++i) {
    if (h[i] < '0' || h[i] > '9') return -1;
    n = n * 10 + (h[i] - '0');
  }
  return n;
}

// A count as 6-bit digits, least significant first, each or-ed with tag.
std::string countDigits(long long v, int tag) {
  std::string s;
  for (; v > 0; v >>= 6) s += char(tag | int(v & 63));
  return s;
}

}  // namespace

bool isPowderCodeChar(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'); }

bool PrintSequencerEvents::gcodeOnlyRun() const { return seq_.dryRun; }

// A timer handler that is entered again while it runs (a modal step lets
// messages through) stops its timer and says so.
struct PrintSequencer::Guard {
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

PrintSequencer::PrintSequencer(HostCore& core, JobState& job, JobLayout& layout, JettingLink& ink,
                               MarlinLink& marlin, MotionControls& motion, plat::StayAwake& stayAwake,
                               TemperatureTestHold temprTest)
    : events(core, *this),
      core_(core),
      job_(job),
      layout_(layout),
      ink_(ink),
      marlin_(marlin),
      motion_(motion),
      stayAwake_(stayAwake),
      tempr_(temprTest) {
  MainTimers& t = core_.timers;
  t.MarlinTimer->setHandler([this] { MarlinTimerTimer(); });
  t.inktransfer->setHandler([this] { inktransferTimer(); });
  t.MarlinBusy->setHandler([this] { MarlinBusyTimer(); });
  t.RollStop->setHandler([this] { RollStopTimer(); });
  motion_.powderAmountStepped = [this] { layerMoreCount = 0; };
  marlin_.onLinesLost = [this](const std::string& why) { linesLost(why); };
  bindControls();
}

PrintSequencer::~PrintSequencer() {
  MainTimers& t = core_.timers;
  for (plat::Timer* timer : {t.MarlinTimer.get(), t.inktransfer.get(), t.MarlinBusy.get(), t.RollStop.get()})
    timer->setHandler(nullptr);
  motion_.powderAmountStepped = nullptr;
  marlin_.onLinesLost = nullptr;
  for (const char* name : {"btStart", "btAbort", "pause"})
    if (Control* c = core_.controls.find(name)) c->onClick = nullptr;
  if (Control* c = core_.controls.find("btStart")) c->onRightClick = nullptr;
  releaseStayAwake();
}

void PrintSequencer::bindControls() {
  if (Control* c = core_.controls.find("btStart")) {
    c->onClick = [this] { btStartClick(); };
    c->onRightClick = [this] { btStartMouseUp(); };
  }
  if (Control* c = core_.controls.find("btAbort")) c->onClick = [this] { btAbortClick(); };
  if (Control* c = core_.controls.find("pause")) c->onClick = [this] { pauseClick(); };
}

// ---------------------------------------------------------------- helpers

bool PrintSequencer::menuChecked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

bool PrintSequencer::pauseBoxChecked() const { return menuChecked("pause"); }

void PrintSequencer::setPauseBox(bool on) {
  if (Control* c = core_.controls.find("pause")) c->setChecked(on);
}

std::string PrintSequencer::dmcName() const { return job_.workFileName("dmc"); }

void PrintSequencer::sendCode(const std::string& code) { marlin_.sendGcode(code); }

void PrintSequencer::countDataByte(std::uint8_t b) {
  ++ink_.inkByteCount;
  ink_.inkCheckSum += b;
}

void PrintSequencer::sendStretchEnd() {
  // The end byte counts as data when it closes a pass whose data is open;
  // alone it only asks the unit for its acknowledgement.
  if (dataOpen_ && !dryRun) countDataByte(JettingLink::kStretchEnd);
  dataOpen_ = false;
  ink_.sendInk(std::string(1, char(JettingLink::kStretchEnd)));
}

void PrintSequencer::sendStopCodes() {
  if (dataOpen_ && !dryRun) countDataByte(JettingLink::kStretchEnd);
  dataOpen_ = false;
  ink_.sendInkPending("\xBF" "6000,16n");
}

void PrintSequencer::requestStayAwake() {
  stayAwake_.request();
  awake_ = true;
}

void PrintSequencer::releaseStayAwake() {
  if (!awake_) return;
  awake_ = false;
  stayAwake_.release();
}

bool PrintSequencer::isBusy() const {
  return core_.timers.MarlinTimer->enabled() || pausedByEnd || pauseBoxChecked() || primeCheckActive;
}

bool PrintSequencer::gateOpen() const {
  return marlin_.Marlinlin - 1 <= marlin_.nrMarlinok && inkStretchesSent - 2 <= ink_.inkStretchesDone &&
         !core_.timers.inktransfer->enabled();
}

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

void PrintSequencer::setStartX() {
  const Settings& s = core_.s;
  headX = s.xMarlinBase - layout_.buildRoomSkip;
  if (s.shiftLayer != 0) headX += layerShiftDots * kDot;
  else if (s.bridgelayers && oddLayer) headX += s.br32 * kDot;
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

void PrintSequencer::btStartClick() {
  Settings& s = core_.s;
  MainTimers& t = core_.timers;
  if (pausedByEnd && pauseBoxChecked()) {
    t.HoldMarlin->stop();
    core_.memoPrintf("resuming");
    setPauseBox(false);
    pauseClick();
    return;
  }
  if (core_.timers.MarlinTimer->enabled() || pausedByEnd || primeCheckActive) {
    // Starting again would restart the job from its first layer and home
    // the machine in the middle of the print.
    core_.ui.showMessage("a print is running: start refused (pause or abort it first)");
    return;
  }
  t.HoldMarlin->stop();
  if (!job_.patternMode && prepLayers <= 0 && !startAsked()) return;
  if (!job_.jobReady && !job_.patternMode) {
    core_.ui.showMessage("no file chosen, use open->stl/obj");
    return;
  }
  if (!ink_.inkLinkOpen) {
    core_.ui.showMessage("commport to inkjet not working");
    return;
  }
  if (job_.patternMode && !core_.dualBoxMode()) job_.jobReady = false;
  requestStayAwake();
  // Pass data an earlier run left open would swallow the commands below.
  if (!t.inktransfer->enabled()) ink_.closeOpenPass();
  ink_.sendInkPending(" 12t ");
  // On a link that is already open, lines of what ran before may still
  // lack their acknowledgement: the machine is brought back in step first.
  const bool linkWasOpen = marlin_.marlinLinkOpen;
  marlin_.openMarlin();
  if (linkWasOpen) marlin_.resynchronise();
  if (links.clearActionMenu) links.clearActionMenu();
  const bool takeHeader = !job_.dmcCurrent && !job_.patternMode;
  if (job_.patternMode && !job_.dmcCurrent) {
    if (links.convertPattern) links.convertPattern();
    else core_.memoPrintf("(pattern conversion: not built yet)");
  }
  repeatCount = 0;
  recordPos = 0;
  const int rundif = trunc((layout_.yvLim - s.yvLow) * 60000 / notnul(s.movespeed));
  if (s.maxpowdertime > 0 && s.powderPercentage == 0) {
    s.powdertime = clampInt(trunc(double(s.maxpowdertime) - rundif), 0, 2000);
    core_.logVars("powdertime", s.powdertime, "maxpowdertime", s.maxpowdertime, "powdertime+rundif",
                  s.powdertime + rundif);
  }
  resetPrintState();
  resumeTicking();
  if (!job_.patternMode && prepLayers <= 0) {
    printStartTick = core_.clock.tickMs();
    core_.logStamped("start (" + fileCore(job_.jobFileName) + ")");
  }
  ink_.sendInk("999j17n12n18n");
  ink_.printResumeTick = core_.clock.tickMs();
  marlin_.openMarlin();
  oddLayer = false;
  layerShiftDots = 0;
  if ((ink_.inkLinkOpen || menuChecked("debugroute1")) && !dryRun && !openDmcForPrint(takeHeader)) {
    // Nothing to print from: the print does not start.
    t.MarlinTimer->stop();
    releaseStayAwake();
    return;
  }
  oddLayer = s.startinglayer % 2 != 0;
  layerShiftDots = s.band64 > 0 ? (s.startinglayer * s.shiftLayer) % s.band64 : 0;
  setStartX();
  headY = lastHeadY = layout_.yvLim;
  ink_.startCounting();
  inkStretchesSent = 0;
  stretchNo = -s.prepstretches;
  if (job_.patternMode) {
    stretchNo = 0;
    headX -= s.alignJump * kDot;
  }
  layerIndex = s.startinglayer;
  firstStretch = true;
  core_.printAbort = false;
  pausedByEnd = false;
  setPauseBox(false);
  if (layout_.layerThicknessDiffers) {
    // The operator looks at the layer thickness before the print goes on.
    setPauseBox(true);
    pausedByEnd = true;
    pauseTick = core_.clock.tickMs();
  }
  printLayer = s.startinglayer;
  progressStartTick = core_.clock.tickMs();
  pausedMs = 0;
}

void PrintSequencer::resetPrintState() {
  const Settings& s = core_.s;
  layerStep = 0;
  bytesLeft = 0;
  plateHeating = false;
  motion_.plateStep = 0;
  jumpPhase = false;
  firstOfLayer = true;
  splitPending = false;
  normalRun = 0;
  powderCalls = prevLayerPowderCalls = 0;
  powderStartNext = s.powderdelay;
  powderSkipCounter = 0;
  stretchCount = 0;
  camCountdown = s.camsyncer;
  backwardPending = false;
  bidiShift = 0;
  stretchesRead = 0;
  primeLayerCount = 0;
  primeCheckActive = false;
  rollSpeedTaken = false;
  lastLayerTick = core_.clock.tickMs();
  dataOpen_ = false;
  abortTick_ = -1;
  unitWaitSaid_ = false;
}

bool PrintSequencer::openDmcForPrint(bool takeHeader) {
  dmcFile.reset();
  const std::string name = dmcName();
  dmcFile = core_.openFile(name, "rb");
  if (!dmcFile || core_.openFailed) {
    dmcFile.reset();
    return false;
  }
  DmcHeader record;
  if (readDmcHeader(dmcFile.get(), record) != kDmcDataOffset) {
    core_.memoPrintf("%s has no whole jetting-data header: nothing printed", name);
    dmcFile.reset();
    core_.printAbort = true;
    return false;
  }
  if (takeHeader) takeDmcHeader(core_, layout_, record);
  if (core_.s.startinglayer != 0 && prepLayers == 0) seekStartingLayer();
  return true;
}

void PrintSequencer::btStartMouseUp() {
  dryRun = true;
  marlin_.gcodeSequence = core_.s.startgcodes;
  marlin_.Marlinlin = 0;
  marlin_.nrMarlinok = 0;
}

void PrintSequencer::seekStartingLayer() {
  std::FILE* f = dmcFile.get();
  if (!f) return;
  int layers = core_.s.startinglayer;
  std::fseek(f, 0, SEEK_SET);
  DmcHeader record;
  const long dataStart = readDmcHeader(f, record);
  long pos = dataStart;
  while (layers > 0) {
    char h[11] = {};
    std::fseek(f, pos, SEEK_SET);
    const long long len = std::fread(h, 1, sizeof h, f) == sizeof h ? recordLength(h) : 0;
    if (len == 0) {
      // The end of the file, or the record that closes it.
      core_.memoPrintf("startinglayer past EOF (%d)", core_.s.startinglayer);
      pos = dataStart;
      break;
    }
    if (len < kStretchHeaderBytes || !isRecordType(h[9])) {
      core_.memoPrintf("seek layer error %d", layers);
      break;
    }
    if (h[9] == '}') --layers;
    pos += long(len);
  }
  std::fseek(f, pos, SEEK_SET);
}

// ---------------------------------------------------------------- the tick

void PrintSequencer::MarlinTimerTimer() {
  Guard guard(marlinNesting_, core_, *core_.timers.MarlinTimer);
  const Settings& s = core_.s;
  const bool prepPending = prepLayers > 0;
  int speedA = s.printspeed, speedB = s.printspeed;
  if (!menuChecked("cb_comm") || dryRun) ink_.inkStretchesDone = inkStretchesSent;
  if (menuChecked("debugroute1")) {
    dropRecordData(512, 0);
    marlin_.nrMarlinok = marlin_.Marlinlin - 1;
  }
  const bool unitWanted = menuChecked("cb_comm") && !dryRun;
  if (unitWanted && ink_.deliveryFailed()) {
    stopNow(ink_.deliveryFailure() + ": jetting data was lost, the print stops");
    return;
  }
  if (core_.printAbort && abortTick_ >= 0 && core_.clock.tickMs() - abortTick_ >= kAbortBoundMs) {
    stopNow(plat::format("no stretch end within %d s of the abort", kAbortBoundMs / 1000));
    return;
  }
  if (unitWanted && !unitLinkUp()) return;
  if (!gateOpen()) return;
  // A step is taken: the watchdog starts counting again, from what the
  // machines have said so far.
  resumeWatchdog();
  if (plateHeating && headY < s.yvHi - 10) {
    motion_.plateHeatStep(headX, plateHeating);
    return;
  }
  if (!marlin_.gcodeSequence.empty()) {
    sendCode(popToken(marlin_.gcodeSequence, '/'));
    return;
  }
  if (dryRun) {
    layerIndex = layout_.printpages;
    ink_.inkStretchesDone += 5;
    stretchNo = std::max(stretchNo, layout_.stretchesPerLayer - 2);
  }
  if (bytesLeft != 0) return;
  if (!jumpPhase) {
    const auto island = [&](int layer) {
      return layout_.newIslands[std::size_t(clampInt(layer, 0, JobLayout::kIslandEntries - 1))];
    };
    const bool jump = s.jumpmicrons >= 1 && !prepPending &&
                      (s.allwaysjump || island(printLayer) >= 1 || island(printLayer + 1) >= 1);
    jumpPhase = jump && !dryRun && !job_.patternMode;
    if (headY < s.yvHi - 10) startStretch(prepPending, speedA, speedB);
    else endStretch(prepPending, speedA, speedB);
  } else {
    jumpPhase = false;
    if (headY >= s.yvHi - 10) marlin_.platformZ += s.jumpmicrons / 1000.0;
    else marlin_.platformZ -= s.jumpmicrons / 1000.0;
    sendCode(plat::format("G0 Z%1.3f F%d ", marlin_.platformZ, s.movespeed));
  }
}

bool PrintSequencer::unitLinkUp() {
  if (!ink_.inkLinkOpen || ink_.connected()) {
    if (unitWaitSaid_) core_.memoPrintf("%s", "jetting unit connected again: the print goes on");
    unitWaitSaid_ = false;
    return true;
  }
  const std::int64_t now = core_.clock.tickMs();
  if (!unitWaitSaid_) {
    unitWaitSaid_ = true;
    lastReconnect_ = now;
    core_.memoPrintf("%s", "jetting unit not connected: the print waits for it");
  }
  if (now - lastReconnect_ >= 1000) {
    lastReconnect_ = now;
    ink_.reconnect();
  }
  return false;
}

// ---------------------------------------------------------------- stretch start

int PrintSequencer::powderTiming(int& start) {
  const Settings& s = core_.s;
  ++powderCalls;
  int time = s.powdertime;
  if (s.powderPercentage >= 0) {
    const double travel = s.yvHi - layout_.yvLim;
    double seconds = moveTime(2 * travel, s.movespeed, 1000.0) * s.powderPercentage * 0.5 * 0.01;
    if (s.bidirectional && !job_.patternMode && normalRun == 0) seconds *= 0.6;
    time = trunc(1000 * seconds);
    const double mm = std::min(moveDistance(seconds, s.movespeed, 1000.0) + s.powderadvance, travel - s.stretchcut - 1);
    start = trunc(mm * 300 / 25.4 + 10001);
  }
  if (powderCalls == prevLayerPowderCalls) time += s.addpowderlast;
  return time;
}

int PrintSequencer::nextPowderStart(double speed) const {
  const Settings& s = core_.s;
  if (s.powderdelay >= 10000) return s.powderdelay;
  return clampInt(trunc(s.powderdelay - (headY - s.yvLow) * 60000 / (speed == 0 ? 1 : speed)), 0, 2000);
}

void PrintSequencer::startStretch(bool prepPending, int& speedA, int& speedB) {
  const Settings& s = core_.s;
  ++stretchCount;
  if (plateHeating) {
    motion_.plateHeatStep(headX, plateHeating);
    return;
  }
  showPrintProgress(layerStep);
  ++layerStep;
  speedA = s.printspeed;
  if (stretchNo < 1) repeatCount = 0;
  int extra = 0;
  if (firstOfLayer) {
    prevLayerPowderCalls = powderCalls;
    powderCalls = 0;
    extra = s.adpowderfirst;
  }
  firstOfLayer = false;
  if (dryRun || stretchNo < 1) {
    powderOnlyStretch(prepPending, speedA, extra);
  } else if (!dataStretch(prepPending, speedA, speedB, extra)) {
    return;
  }
  stretchTail(prepPending, speedA);
}

void PrintSequencer::powderOnlyStretch(bool prepPending, int& speedA, int extra) {
  (void)prepPending;
  Settings& s = core_.s;
  int start = s.powderdelay;
  if (fastStretches()) speedA = s.movespeed;
  int time = powderTiming(start) + extra;
  if (job_.patternMode) time = 0;
  if (shortStretches()) headY += s.stretchcut;
  if (powderStartNext < 10000) start = powderStartNext;
  powderStartNext = nextPowderStart(speedA);
  if (core_.dualBoxMode() && s.powderPercentage == 0 && !job_.patternMode) {
    start = 0;
    time = 5999;
  }
  if (menuChecked("powder2")) core_.logVars("pd0", start, "pd1", time, "ms+0", stretchNo);
  // An empty return pass before this one is still open: its end byte
  // closes it, as a data stretch's first byte does, so the unit does not
  // take this announcement for pass data.
  if (dataOpen_) sendStretchEnd();
  std::string cmd = core_.pendingInkText + s.repeatcode +
                    plat::format("2,2n%d,%dp108,24n973j", firstStretch ? 0 : start, time) + purgeCodes() +
                    countDigits(12982, 0) + "\x80" + "\x18\x03\xBF";
  core_.pendingInkText.clear();
  ink_.sendInkCounted(cmd);
  ++inkStretchesSent;
}

bool PrintSequencer::dataStretch(bool prepPending, int& speedA, int& speedB, int extra) {
  Settings& s = core_.s;
  std::FILE* f = dmcFile.get();
  if (!f) {
    core_.memoPrintf("no dmc file open (check comms)");
    core_.timers.MarlinTimer->stop();
    core_.printAbort = true;
    releaseStayAwake();
    return false;
  }
  recordPos = std::ftell(f);
  char h[kStretchHeaderBytes] = {};
  const std::size_t got = std::fread(h, 1, sizeof h, f);
  headerText.assign(h, got);
  sendStretchEnd();
  if (got < sizeof h) {
    endOnBrokenFile(plat::format("%s ends inside a stretch header (%d of 10 bytes)", dmcName(), int(got)));
    return true;
  }
  const long long length = recordLength(h);
  bytesLeft = length - kStretchHeaderBytes;
  if (!isPowderCodeChar(h[1])) core_.memoPrintf("invalid buf (%s) ib %d", headerText.substr(1), int(bytesLeft));
  normalRun = std::max(normalRun - 1, 0);
  ++stretchesRead;
  if (bytesLeft > s.halfSpeedBytes) speedA = speedB = s.printspeed / 2;
  else speedB = s.printspeed;
  int powderCode = prepPending ? 0 : hexTextToInt(std::string(h + 1, 2));
  layerIndex = 0;
  const char type = h[9];
  // The final placeholder has length 0; any other length below a header's
  // is as unreadable as a bad type.
  if (!isRecordType(type) || length < 0 || (length > 0 && length < kStretchHeaderBytes)) {
    core_.memoPrintf(" sync error ");
    core_.memoPrintf("%s: the stretch header at offset %ld cannot be read (%s): the print stops", dmcName(),
                     recordPos, caretText(headerText.substr(1), false, false));
    stretchNo = 9999;
    layerIndex = 9999;
    bytesLeft = 0;
    core_.printAbort = true;
    return true;
  }
  // The head waits when the data takes longer to send than its pass.
  const int travel = trunc(1000 * moveTime(s.yvHi - layout_.yvLim, s.movespeed, 1000.0));
  // The data goes out at the line's rate, but at most one block of 512
  // bytes per 20 ms tick of the stream: the slower of the two counts.
  const long long lineMs = ink_.inkBaudRate > 0 ? length * 10000 / ink_.inkBaudRate : 0;
  const long long tickMs = (length + 511) / 512 * 20;
  const long long transferMs = std::max(lineMs, tickMs) + s.dataGraceTime;
  if (transferMs > travel && !prepPending) sendCode(plat::format("G4 P%d", int(std::min<long long>(transferMs - travel, 2000000000))));

  if (type == '{' || type == '(') {
    normalRun = 2;
    stretchNo = 1;
  } else if (type == ']') {
    stretchNo = bytesLeft < 5 || s.repeatstretch == 1 ? layout_.stretchesPerLayer - 2 : 1;
  } else if (type == '!') {
    splitPending = true;
    stretchNo -= 1;
  } else {
    layerLastStretch(prepPending);
  }

  // Pass length.
  if ((bytesLeft >= 5 && !prepPending) || !shortStretches() || (s.bidirectional && !job_.patternMode && powderCode > 4)) {
    if (s.shortcutstretch && !prepPending && powderCode > 250) powderCode = 999;
    const int ystart = trunc(s.yvHi - powderCode - (s.behindmargin * 254 / 3000) - 20 - 10);
    headY = std::min(std::max(double(ystart), headY), headY + s.stretchcut - 0.2);
    if (s.onCakeMode && !s.bidirectional) headY = std::clamp(headY - 30, s.yvLow, 3000.0);
    bidiShift = powderCode >= 1 ? trunc((headY - ystart) * 3000 / 254) : 0;
  } else {
    if (fastStretches()) speedA = s.movespeed;
    headY += s.stretchcut;
  }

  // Powder.
  int start = powderStartNext;
  powderStartNext = nextPowderStart(speedA);
  if (stretchNo >= layout_.stretchesPerLayer)
    powderStartNext =
        trunc(powderStartNext + (s.xMarlinBase - layout_.buildRoomSkip - headX) * 60000 / notnul(speedA));
  if (firstStretch) start = 0;
  int time = powderTiming(start) + extra;
  if (splitPending || job_.patternMode || repeatCount > 0) time = 10;
  if (s.nopowderstretches > 0 && stretchNo >= layout_.stretchesPerLayer - s.nopowderstretches) time = 10;
  if (s.rollSplit != 0) {
    start = trunc(start + s.powderDY * 300 / 25.4);
    if (stretchCount < s.addedStretch) headY -= s.powderDY;
    else time = 10;
  }
  s.behindmargin = std::max(s.behindmargin, s.repeatpurge);
  if (core_.dualBoxMode() && s.powderPercentage == 0 && !job_.patternMode) {
    start = 0;
    time = 5999;
  }
  if (menuChecked("powder2")) core_.logVars("pd0", start, "pd1", time, "ms", stretchNo);

  const long long zeros = static_cast<long long>(s.behindmargin + 240 - s.repeatpurge) * 54 + 22;
  std::string cmd = core_.pendingInkText + s.repeatcode + plat::format("2,2n%d,%dp973j", start, time) + purgeCodes() +
                    countDigits(zeros, 0) + "\x80";
  core_.pendingInkText.clear();
  ink_.sendInkCounted(cmd);
  dataOpen_ = true;
  ++inkStretchesSent;
  firstStretch = false;
  if (bytesLeft <= 0) {
    bytesLeft = 0;
    sendStretchEnd();
  } else {
    if (prepPending) dropRecordData(100, 1);
    inktransferTimer();
  }
  return true;
}

void PrintSequencer::layerLastStretch(bool prepPending) {
  Settings& s = core_.s;
  if (s.plateTime > 0 && !prepPending) plateHeating = true;
  if (s.pauseEachLayer) setPauseBox(true);
  if (s.powderSkipLayers > 0) {
    if (powderSkipCounter++ > s.powderSkipLayers) {
      powderSkipCounter = 0;
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
  if (menuChecked("connectcheck1")) ink_.sendInk(menuChecked("NoColor1") ? "18g120,34n" : "17g100,34n");
  ink_.sendInk(s.EachLayCode);
  if (!job_.patternMode) {
    std::string seq = expandGcodeTemplate(s.LayerGcodes, layout_.buildRoomSkip);
    if (s.spoonPowder) {
      const auto p = seq.rfind("G0 Y");
      if (p != std::string::npos) seq.insert(p, "G4 P99/");
    }
    marlin_.gcodeSequence = seq;
  }
  if (core_.dualBoxMode()) ink_.echoReceived(1, plat::format("L%d ", printLayer + 1));
  replaceAllIn(marlin_.gcodeSequence, "%p%", plat::format("%g", s.powderPercentage * 0.01));
  layerMorePowderStep();
  if (bytesLeft < 5 || s.repeatstretch == 1) stretchNo = 9999;
}

void PrintSequencer::stretchTail(bool prepPending, int speedA) {
  const Settings& s = core_.s;
  firstStretch = false;
  motion_.moveXY(rollSplitX(headX), headY, prepPending ? s.movespeed : speedA);
  lastHeadY = headY;
  headY = headY <= s.yvHi - 10 ? s.yvHi : layout_.yvLim;
  countCamera();
}

void PrintSequencer::countCamera() {
  if (--camCountdown != 0) return;
  if (links.signalCamera) links.signalCamera();
  else core_.memoPrintf("(camera sync: not built yet)");
}

void PrintSequencer::dropRecordData(int block, long long keep) {
  std::FILE* f = dmcFile.get();
  std::uint8_t buf[512];
  while (f && bytesLeft > keep) {
    const int n = int(std::min<long long>({bytesLeft - keep, block, static_cast<long long>(sizeof buf)}));
    const std::size_t got = std::fread(buf, 1, std::size_t(n), f);
    if (got == 0) {
      endOnBrokenFile(plat::format("%s ends inside a stretch record (%lld bytes missing)", dmcName(), bytesLeft));
      return;
    }
    bytesLeft -= static_cast<long long>(got);
  }
}

void PrintSequencer::endOnBrokenFile(const std::string& why) {
  core_.memoPrintf("%s: the print ends", why);
  bytesLeft = 0;
  core_.printAbort = true;
}

// ---------------------------------------------------------------- streaming

void PrintSequencer::inktransferTimer() {
  plat::Timer& timer = *core_.timers.inktransfer;
  Guard guard(transferNesting_, core_, timer);
  if (bytesLeft < 1) {
    // The stream is out of the file; the end byte follows once the line
    // has sent the rest.
    if (ink_.outputQueueCount() > 0) {
      timer.start();
      return;
    }
    timer.stop();
    if (dataOpen_ && !dryRun) countDataByte(JettingLink::kStretchEnd);
    dataOpen_ = false;
    const std::uint8_t end = JettingLink::kStretchEnd;
    if (!core_.closingDown) ink_.inkWrite(&end, 1);
    return;
  }
  if (ink_.deliveryFailed() && !dryRun && menuChecked("cb_comm")) {
    stopNow(ink_.deliveryFailure() + ": jetting data was lost, the print stops");
    return;
  }
  // While data is left the timer runs, also through ticks that cannot send
  // (held off, queue full), so the stream always resumes.
  timer.start();
  std::FILE* f = dmcFile.get();
  const bool cts = ink_.activeLink().cts();
  if (!core_.s.XonXoffMode) paintXoffLamp(cts);
  if (!f) {
    endOnBrokenFile(plat::format("%s is not open while a stretch streams", dmcName()));
    return;
  }
  if (ink_.xoffHeld || ink_.outputQueueCount() >= 100 || !(cts || core_.s.XonXoffMode)) return;
  std::uint8_t buf[512];
  const int n = int(std::min<long long>(bytesLeft, 512));
  const std::size_t got = std::fread(buf, 1, std::size_t(n), f);
  if (got == 0) {
    endOnBrokenFile(plat::format("%s ends inside a stretch record (%lld bytes missing)", dmcName(), bytesLeft));
    return;
  }
  bytesLeft -= static_cast<long long>(got);
  if (core_.closingDown) return;
  for (std::size_t i = 0; i < got; ++i) countDataByte(buf[i]);
  ink_.inkWrite(buf, int(got));
}

void PrintSequencer::paintXoffLamp(bool cts) {
  if (Control* lamp = core_.controls.find("xofflamp")) {
    const std::string colour = cts ? "white" : "black";
    if (lamp->caption != colour) lamp->setCaption(colour);
  }
}

// ---------------------------------------------------------------- watchdog

void PrintSequencer::MarlinBusyTimer() {
  plat::Timer& busy = *core_.timers.MarlinBusy;
  busy.stop();
  if (!core_.timers.MarlinTimer->enabled()) return;
  marlin_.reconnectIfDown();
  // No step for 10 s. Machines that still answer (a busy keep-alive is an
  // answer), or a code that keeps the machine quiet on purpose, are waited
  // for.
  const long long marks[4] = {marlin_.nrMarlinok, marlin_.repliesSeen, ink_.inkStretchesDone, ink_.inkByteCount};
  const bool moved = !std::equal(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  std::copy(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  if (moved || core_.clock.tickMs() < marlin_.quietUntilMs) {
    poked_ = false;
    busy.start();
    return;
  }
  // A line or its "ok" may have been lost on the way: the machine's answer
  // to the oldest line without one says which.
  if (!poked_ && marlin_.repliesSeen > 0 && marlin_.pokeUnacknowledged()) {
    poked_ = true;
    busy.start();
    return;
  }
  // A machine that says nothing leaves the print paused, where the
  // operator can see it and go on.
  if (marlin_.repliesSeen == 0 && !marlin_.allLinesAcknowledged())
    pauseNow(plat::format("the machine never answered since its link opened (%d G-code lines sent): print paused",
                          marlin_.Marlinlin));
  else
    pauseNow(plat::format(
        "no answer for %d s: print paused (G-code lines %d of %d acknowledged, stretches %d of %d done)",
        busy.interval() / 1000, marlin_.nrMarlinok, marlin_.Marlinlin, ink_.inkStretchesDone, inkStretchesSent));
}

void PrintSequencer::pauseNow(const std::string& why) {
  core_.memoPrintf("%s", why);
  core_.timers.MarlinTimer->stop();
  if (!pausedByEnd) pauseTick = core_.clock.tickMs();
  pausedByEnd = true;
  setPauseBox(true);
  releaseStayAwake();
  core_.logStamped("paused");
}

void PrintSequencer::linesLost(const std::string& why) {
  // Lines that did not run: the print cannot go on as if they had.
  if (!core_.timers.MarlinTimer->enabled() && !primeCheckActive) return;
  pauseNow(why + ": print paused");
}

void PrintSequencer::resumeTicking() {
  // Every start and resume: the print's tick and its watchdog together.
  core_.timers.MarlinTimer->start();
  resumeWatchdog();
}

void PrintSequencer::resumeWatchdog() {
  const long long marks[4] = {marlin_.nrMarlinok, marlin_.repliesSeen, ink_.inkStretchesDone, ink_.inkByteCount};
  std::copy(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  poked_ = false;
  core_.timers.MarlinBusy->stop();
  core_.timers.MarlinBusy->start();
}

// ---------------------------------------------------------------- stretch end

void PrintSequencer::stopAtStretchEnd() {
  Settings& s = core_.s;
  const bool abort = core_.printAbort;
  pausedByEnd = pauseBoxChecked() && !abort;
  if (pausedByEnd) pauseTick = core_.clock.tickMs();
  if (abort) prepLayers = 0;
  if (job_.patternMode) {
    job_.dmcCurrent = false;
    core_.batchRun = true;
    job_.patternMode = false;
  }
  sendStopCodes();
  releaseStayAwake();
  if (abort) restoreStartingLayer();
  core_.logStamped(abort ? "aborted" : pausedByEnd ? "paused" : "end");
  if (abort) {
    motion_.stepPowderTo();
    // An aborted print leaves nothing armed for the next one.
    dryRun = false;
    setPauseBox(false);
  }
  (void)s;
  preInkStep();
  core_.timers.MarlinTimer->stop();
}

void PrintSequencer::closeOpenPass() {
  if (core_.timers.inktransfer->enabled()) return;
  if (dataOpen_) sendStretchEnd();
  else ink_.closeOpenPass();
}

void PrintSequencer::stopNow(const std::string& why) {
  MainTimers& t = core_.timers;
  core_.memoPrintf("%s", why);
  core_.printAbort = true;
  t.inktransfer->stop();
  t.MarlinTimer->stop();
  t.primeStates->stop();
  primeCheckActive = false;
  bytesLeft = 0;
  // The unit leaves the pass it was reading (the link knows where it is in
  // it, and counts the bytes that close it) and gets the stop codes.
  dataOpen_ = false;
  ink_.closeOpenPass();
  prepLayers = 0;
  if (job_.patternMode) {
    job_.dmcCurrent = false;
    core_.batchRun = true;
    job_.patternMode = false;
  }
  sendStopCodes();
  releaseStayAwake();
  restoreStartingLayer();
  core_.logStamped("aborted");
  motion_.stepPowderTo();
  dryRun = false;
  pausedByEnd = false;
  setPauseBox(false);
  abortTick_ = -1;
  preInkStep();
}

void PrintSequencer::endStretch(bool prepPending, int& speedA, int& speedB) {
  (void)speedA;
  const Settings& s = core_.s;
  if (core_.printAbort || pauseBoxChecked()) stopAtStretchEnd();
  stretchNo += 1;
  if (stretchNo >= layout_.stretchesPerLayer) {
    advanceLayer(prepPending);
  } else {
    const double band = s.band64 * kDot;
    if (!splitPending) {
      headX -= band;
      skipTrailingStretches(headX, 1);
    } else if (s.repeatstretch == 1) {
      splitPending = false;
    }
    sendStretchEnd();
    if (menuChecked("temprcontrol1")) ink_.sendInk("7t");
    if (pausedByEnd || core_.printAbort) ink_.sendInk("6000,16n");
    if (backwardPending) backwardPass(prepPending, speedB);
    else emptyReturn();
    ++inkStretchesSent;
    // A print that stopped here leaves no pass open: the next command
    // would be read as its data.
    if (!core_.timers.MarlinTimer->enabled()) closeOpenPass();
  }
  lastHeadY = headY;
  headY = headY <= s.yvHi - 10 ? s.yvHi : layout_.yvLim;
  countCamera();
}

void PrintSequencer::backwardPass(bool prepPending, int& speedB) {
  const Settings& s = core_.s;
  std::FILE* f = dmcFile.get();
  char h[kStretchHeaderBytes] = {};
  const std::size_t got = f ? std::fread(h, 1, sizeof h, f) : 0;
  backwardPending = false;
  const long long length = got == sizeof h ? recordLength(h) : -1;
  if (length < 0) {
    endOnBrokenFile(plat::format("%s ends inside a stretch header", dmcName()));
    emptyReturn();
    return;
  }
  bytesLeft = std::max(0LL, length - kStretchHeaderBytes);
  if (!isPowderCodeChar(h[1])) core_.memoPrintf("invalid buf (%s) ib %d", std::string(h + 1, 9), int(bytesLeft));
  speedB = bytesLeft > s.halfSpeedBytes ? s.printspeed / 2 : s.printspeed;
  ++stretchesRead;
  bidiShift += s.bidiadjust;
  if (bidiShift == 12345 && f) {
    DmcDecoder decoder(core_);
    decoder.dmcFile = f;
    decoder.resetDecoder();
    decoder.decoding = true;
    int longest = 0;
    const int steps = decoder.scanStretch(longest);
    core_.logVars("backpixelfill", bidiShift, "ulen", steps, "fnuls", longest);
  }
  if (bidiShift > 0) {
    motion_.moveXY(rollSplitX(headX), lastHeadY + (bidiShift * 254 / 3000), s.movespeed);
    bidiShift = 0;
  } else {
    motion_.moveXY(rollSplitX(headX), lastHeadY, s.movespeed);
  }
  normalRun = std::min(normalRun + 1, 2);
  ink_.sendInk(plat::format("3n%d,24n", 108 + 54 * std::max(0, -bidiShift)));
  ink_.sendInk("973j");
  dataOpen_ = true;
  bidiShift = 0;
  if (prepPending) dropRecordData(100, 1);
  inktransferTimer();
  motion_.moveXY(rollSplitX(headX), headY, prepPending ? s.movespeed : speedB);
  headX -= s.band64 * kDot;
  motion_.moveXY(rollSplitX(headX), headY, speedB);
}

void PrintSequencer::emptyReturn() {
  ink_.sendInk("3n108,24n");
  ink_.sendInkCounted("973j");
  dataOpen_ = true;
  motion_.moveXY(rollSplitX(headX), headY, core_.s.movespeed);
}

int PrintSequencer::skipTrailingStretches(double& x, int flag) {
  (void)flag;
  const Settings& s = core_.s;
  if (!(s.powderReduce || (s.bidirectional && !job_.patternMode))) return 0;
  std::FILE* f = dmcFile.get();
  if (!f) return 0;
  const double band = s.band64 * kDot;
  int count = 0;
  long lastSkipped = -1;
  long pos = std::ftell(f);
  for (;;) {
    pos = std::ftell(f);
    const double savedX = x;
    char h[kStretchHeaderBytes] = {};
    if (std::fread(h, 1, sizeof h, f) != sizeof h) break;
    backwardPending = h[9] == '<';
    const long long len = recordLength(h);
    const bool atEnd = std::feof(f) || std::fgetc(f) == EOF;
    if (s.powderReduce && h[1] == '0' && h[2] == '3' && !atEnd && len >= kStretchHeaderBytes) {
      if (h[9] != '}') {
        ++count;
        lastSkipped = pos;
        std::fseek(f, pos + long(len), SEEK_SET);
        x -= band;
        continue;
      }
      x = savedX;
      count = 0;
    }
    break;
  }
  std::fseek(f, pos, SEEK_SET);
  if (s.bidirectional && !job_.patternMode && s.powderReduce && count % 2 == 1 && lastSkipped >= 0) {
    std::fseek(f, lastSkipped, SEEK_SET);
    --count;
    x += band;
  }
  return count;
}

// ---------------------------------------------------------------- layer advance

void PrintSequencer::advanceLayer(bool prepPending) {
  Settings& s = core_.s;
  const double rollShift = s.rollSplit != 0 ? s.powderDY : 0;
  stretchCount = 0;
  rollSpeedTaken = false;
  const double rememberedX = headX;
  stretchNo = -s.prepstretches;
  firstOfLayer = true;
  if (prepLayers > 0) {
    if (--prepLayers == 0) layerIndex = layout_.printpages;
  } else {
    if (!job_.patternMode && !s.onCakeMode) {
      stickingCheck(marlin_.platformZ);
      marlin_.platformZ += s.layerMicrons / 1000.0;
    }
    ++printLayer;
    if (printLayer == s.haltingLayer) core_.applySettings("?pauseEachLayer=true", true);
    if (!core_.dualBoxMode()) ink_.echoReceived(1, plat::format(" L%d ", printLayer));
    if (tempr_.temprTestActive) {
      core_.memoPrintf("%n(%dC)", printLayer + 28);
      core_.pendingInkText += plat::format("%d,15t", printLayer + 28);
    }
    layerStep = 0;
  }
  camCountdown = s.camsyncer;
  const double base = s.xMarlinBase - layout_.buildRoomSkip;
  if (core_.dualBoxMode()) headX = base;
  const double y = layout_.yvLim + s.stretchcut - rollShift;
  motion_.moveXYZ(rollSplitX(headX), y, marlin_.platformZ, s.movespeed);
  headX = base;
  if (!s.preInkGcodes.empty()) {
    if (s.preInkGcodes[0] == '@') stopRollerAfter(leadingInt(s.preInkGcodes.substr(1, 9)));
    else marlin_.gcodeSequence = s.preInkGcodes;
  }
  if (menuChecked("detour1")) {
    motion_.moveXYZ(20, y, marlin_.platformZ, s.movespeed);
    if (!s.powderReduce) motion_.moveXYZ(rollSplitX(headX), y, marlin_.platformZ, s.movespeed);
  }
  oddLayer = !oddLayer;
  layerShiftDots = s.band64 > 0 ? (layerShiftDots + s.shiftLayer) % s.band64 : 0;
  setStartX();
  if (s.powderReduce || (s.bidirectional && !job_.patternMode)) {
    skipTrailingStretches(headX, 0);
    if (s.powderReduce) motion_.moveXYZ(rollSplitX(headX), y, marlin_.platformZ, s.movespeed);
  }
  sendStretchEnd();
  if (menuChecked("temprcontrol1")) ink_.sendInk("7t");
  if (!pausedByEnd && !pauseBoxChecked() && !s.pauseEachLayer && s.primeCheckLayer != 0 &&
      ++primeLayerCount >= s.primeCheckLayer) {
    primeLayerCount = 0;
    startPrimeCheck(rememberedX);
  }
  ink_.sendInkCounted("3n108,24n973j\x18\x03\xBF");
  motion_.moveXY(rollSplitX(headX), headY, s.movespeed);
  ++inkStretchesSent;
  ++layerIndex;
  if (layerIndex >= layout_.printpages || fileNearlyEnded()) endOfPrint(prepPending);
}

void PrintSequencer::startPrimeCheck(double rememberedX) {
  const Settings& s = core_.s;
  if (!links.startLayerPrimeCheck) {
    core_.memoPrintf("(priming check between layers: not built yet; the print goes on)");
    return;
  }
  primeCheckActive = true;
  core_.timers.primeStates->setInterval(990);
  core_.timers.primeStates->start();
  primeTravelMs = trunc((std::fabs(s.xMarlinBase - layout_.buildRoomSkip - rememberedX) + std::fabs(s.yvHi - lastHeadY)) *
                        60000.01 / notnul(s.movespeed)) +
                  400;
  preInkStep();
  core_.timers.MarlinTimer->stop();
  ink_.sendInk("0,0t");
  links.startLayerPrimeCheck(primeTravelMs);
}

void PrintSequencer::pauseAtStretchEnd() {
  if (!pausedByEnd) pauseTick = core_.clock.tickMs();
  pausedByEnd = true;
  releaseStayAwake();
}

bool PrintSequencer::fileNearlyEnded() const {
  std::FILE* f = dmcFile.get();
  if (!f) return false;
  const long pos = std::ftell(f);
  if (pos < 0) return false;
  const long long size = fileSize(f);
  return size >= 0 && size - pos <= 20;
}

void PrintSequencer::endOfPrint(bool prepPending) {
  const Settings& s = core_.s;
  // The progress of an ended print is no longer true of anything.
  core_.controls.at("perclabel").setCaption("");
  releaseStayAwake();
  dryRun = false;
  layerIndex = 0;
  core_.timers.primeStates->stop();
  primeCheckActive = false;
  sendStopCodes();
  restoreStartingLayer();
  if (job_.patternMode) {
    core_.batchRun = true;
    job_.dmcCurrent = false;
    job_.patternMode = false;
    core_.timers.MarlinTimer->stop();
    if (links.setallign1Click) links.setallign1Click();
    else core_.memoPrintf("(alignment entry: not built yet)");
  } else if (!prepPending && !core_.printAbort) {
    // (An aborted print has said so; it did not finish.)
    const std::int64_t seconds = (core_.clock.tickMs() - printStartTick) / 1000;
    core_.logStamped(plat::format("fin (%s in %dm%02ds)", fileCore(job_.jobFileName), int(seconds / 60),
                                  int(seconds % 60)));
    if (seconds > 60) ink_.sendInkPending(" 21o1r21r12t33t1o");
    core_.logVars("inkCheckSum", static_cast<int>(static_cast<std::uint32_t>(ink_.inkCheckSum)), "inkByteCount", int(ink_.inkByteCount));
    motion_.stepPowderTo();
    if (s.dualbox != 0 && s.dryingtemperature > 0) sendCode(plat::format("M140 S%d", s.dryingtemperature));
  }
  preInkStep();
  core_.timers.MarlinTimer->stop();
}

void PrintSequencer::stickingCheck(double z) {
  const std::int64_t now = core_.clock.tickMs();
  if (now - lastLayerTick > 30000) {
    core_.memoPrintf("sticking....");
    sendCode(plat::format("G92 Z%3.2f", z));
  }
  lastLayerTick = now;
}

void PrintSequencer::restoreStartingLayer() {
  if (!tempr_.temprTestActive) return;
  core_.s.startinglayer = tempr_.savedStartingLayer < -9 ? 0 : tempr_.savedStartingLayer;
  tempr_.temprTestActive = false;
}

void PrintSequencer::showPrintProgress(int step) {
  const Settings& s = core_.s;
  const long long perLayer = layout_.stretchesPerLayer + s.prepstretches + 1;
  const long long whole = (layout_.printpages - s.startinglayer) * perLayer;
  // A job of no layers to print (printpages at startinglayer) has made no
  // progress, rather than a division by zero.
  const long long p = whole != 0 ? ((printLayer - s.startinglayer) * perLayer + step) * 10000 / whole : 0;
  core_.controls.at("LabStretch").setCaption(plat::format("%d/%d", stretchesRead, layout_.dmcStretchCount));
  std::string line = plat::format("%d/%d   (%d%%)", printLayer, layout_.printpages, int(p / 100));
  // Below 1 % the time so far says nothing yet about the time left.
  if (p > 100) {
    const long long ran = (core_.clock.tickMs() - progressStartTick - pausedMs) / 1000;
    const long long eta = std::clamp(10000 - p, 0LL, 9999LL) * ran / p;
    line += plat::format(" eta: %d min %02d s", int(eta / 60), int(eta % 60));
  }
  Control& label = core_.controls.at("perclabel");
  // The window's progress bar and title read the percentage here.
  label.tag = int(p / 100);
  label.setCaption(line);
}

void PrintSequencer::layerMorePowderStep() {
  ink_.plusReplies = 0;
  if (core_.s.layerMorePowder == 0) return;
  if (++layerMoreCount >= core_.s.layerMorePowder) motion_.PowderUpDown(true, false);
}

double PrintSequencer::rollSplitX(double x) {
  const Settings& s = core_.s;
  if (s.rollSplit == 0) return x;
  const int a = s.rollSplit / 1000;
  if (stretchCount < s.addedStretch) {
    if (!rollerOn) {
      sendCode("M106 S255");
      rollerOn = true;
    }
    stopRollerAfter(8000);
    return x - (a % 1000);
  }
  if (!rollSpeedTaken) {
    rollSpeedTaken = true;
    motion_.oneShotSpeed = a / 1000 * 10;
    if (rollerOn) stopRollerAfter(3000);
  }
  return x;
}

void PrintSequencer::stopRollerAfter(int ms) {
  plat::Timer& t = *core_.timers.RollStop;
  t.stop();
  t.setInterval(ms);
  t.start();
}

void PrintSequencer::RollStopTimer() {
  core_.timers.RollStop->stop();
  sendCode("M106 S0");
  rollerOn = false;
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

std::string PrintSequencer::expandGcodeTemplate(const std::string& text, int skip) const {
  std::string t = text;
  if (const auto p = t.find("%yLim%"); p != std::string::npos) {
    const int yLim = clampInt(trunc(130 - layout_.djmaxline * 8 * 25.4 / 300), 0, 120);
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

// ---------------------------------------------------------------- pause and abort

void PrintSequencer::pauseClick() {
  core_.timers.HoldMarlin->stop();
  if (pauseBoxChecked() || !pausedByEnd) return;
  if (core_.printAbort) {
    core_.logStamped("aborted");
    // The aborted print is over: nothing waits at a pause any more.
    pausedByEnd = false;
    prepLayers = 0;
    dryRun = false;
    restoreStartingLayer();
    motion_.stepPowderTo();
    return;
  }
  if (!core_.timers.MarlinTimer->enabled()) {
    closeOpenPass();
    ink_.sendInkPending("  1,17n");
  }
  ink_.printResumeTick = core_.clock.tickMs();
  // The operator goes on after lost lines: the machine takes the next
  // line only once its line number is set again.
  if (marlin_.lostLine != 0) marlin_.resynchronise();
  resumeTicking();
  pausedByEnd = false;
  requestStayAwake();
  core_.logStamped("continue");
  pausedMs += core_.clock.tickMs() - pauseTick;
}

void PrintSequencer::btAbortClick() {
  if (core_.timers.MarlinTimer->enabled() && !core_.printAbort) abortTick_ = core_.clock.tickMs();
  core_.printAbort = true;
  if (pausedByEnd) {
    setPauseBox(false);
    pauseClick();
  }
  core_.timers.multpowd->stop();
  if (Control* c = core_.controls.find("multiPowderlayer1")) c->setChecked(false);
  if (links.abortMeshTools) links.abortMeshTools();
}

}  // namespace ph
