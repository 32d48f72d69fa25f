#include "host/machine/machine_actions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "host/core/main_texts.h"
#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/jobdata/job_state.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {
// Toward zero, kept inside the int range (the machine controls truncate).
int truncInt(double v) {
  if (!(v > -2147483648.0)) return v != v ? 0 : -2147483647 - 1;
  if (v > 2147483647.0) return 2147483647;
  return static_cast<int>(v);
}

bool isTemperatureText(const std::string& t) {
  if (t.empty() || t.size() > 6) return false;
  int dots = 0;
  for (char c : t) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  return dots <= 1 && t != ".";
}
}  // namespace

std::string gcodeFileLine(const std::string& raw) {
  std::string line = raw.substr(0, raw.find(';'));
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
  return trimmed(line);
}

void addMachineActionItems(Controls& c) {
  using K = Control::Kind;
  if (!c.find("marlin1")) c.add(K::Menu, "marlin1", "Marlin").hint = "the motion machine's manual actions";
  auto item = [&](const char* name, const char* caption, const char* hint) {
    if (!c.find(name)) c.add(K::MenuItem, name, caption, "marlin1").hint = hint;
  };
  item("onePowderLayer1", "one powder layer", "spread one layer of powder");
  item("Powdskip1", "powder skip", "leave out the powder of the next layer");
  item("drillpatern1", "drill pattern", "send boormal.gcode of the work folder line by line");
  item("gcodefile1", "gcode file", "send feed.gcode of the current folder line by line");
  item("drying1", "drying", "heat the plate to dryingtemperature and lower the platform");
  item("plateheating1", "plate heating", "set the plate temperature (? asks for it)");
  item("platereset1", "plate reset", "take the plate's position as its zero");
  item("UnpowerSteppers1", "unpower steppers", "switch the stepper motors off");
  if (!c.find("btBrush")) c.add(K::Button, "btBrush", "brush");
}

MachineActions::MachineActions(HostCore& core, MarlinLink& marlin, JettingLink& ink, MotionControls& motion,
                               JobLayout& layout, ActionSteps& steps)
    : core_(core),
      marlin_(marlin),
      ink_(ink),
      motion_(motion),
      layout_(layout),
      steps_(steps),
      homeSequence_(core.timers.make("HomeSeq")),
      headHold_(core.timers.make("HoldMarlin")),
      drill_(core.timers.make("Drill")),
      gcodeFeed_(core.timers.make("FromFile")),
      brushing_(core.timers.make("brushTimer")),
      powderLayers_(core.timers.make("multpowd")),
      powderRepeat_(core.timers.make("UpdwnRoller")) {}

MachineActions::~MachineActions() = default;

void MachineActions::setHomePace(int ms) { homeSequence_->setInterval(ms); }

void MachineActions::bindControls() {
  homeSequence_->setHandler([this] { stepHomeSequence(); });
  headHold_->setHandler([this] { renewHeldPosition(); });
  drill_->setHandler([this] { stepDrillPattern(); });
  gcodeFeed_->setHandler([this] { stepGcodeFile(); });
  brushing_->setHandler([this] { stepBrushPath(); });
  powderLayers_->setHandler([this] { repeatPowderLayer(); });
  powderRepeat_->setHandler([this] { repeatPowderStep(); });
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("BtHome", [this] { home(); });
  bind("PrepLifts1", [this] { startLiftPrep(); });
  bind("btzreset", [this] { resetZ(); });
  bind("btpark", [this] { togglePark(); });
  bind("btFront", [this] { toggleFront(); });
  bind("btPlatform", [this] { togglePlatform(); });
  bind("btPrep", [this] { preparePowder(); });
  bind("btBrush", [this] { startBrush(); });
  bind("onePowderLayer1", [this] { layOnePowderLayer(); });
  bind("multiPowderlayer1", [this] { applyRepeatedPowderLayers(); });
  bind("Powdskip1", [this] { steps_.armPowderSkip(); });
  bind("drillpatern1", [this] { startDrillPattern(); });
  bind("gcodefile1", [this] { startFeedFile(); });
  bind("drying1", [this] { dry(); });
  bind("plateheating1", [this] { askPlateTemperature(); });
  bind("platereset1", [this] { resetExtruder(); });
  bind("UnpowerSteppers1", [this] { unpowerSteppers(); });
  bind("cocooned1", [this] { applyCocoonWalls(); });
  fillglyph();
}

bool MachineActions::checked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}


void MachineActions::sendCodes(const std::string& codes, char sep) {
  for (std::string rest = codes; !rest.empty();) {
    const std::string code = trimmed(popToken(rest, sep));
    if (!code.empty()) marlin_.sendGcode(code);
  }
}

// ---------------------------------------------------------------- acknowledgements

bool MachineActions::linesSettled() {
  if (marlin_.nrMarlinok >= marlin_.Marlinlin) {
    resyncPending = false;
    return true;
  }
  if (!resyncPending) return false;
  // The machine still answers: its answers are waited for, so a late
  // acknowledgement cannot let a later line run ahead of it.
  const std::int64_t now = core_.clock.tickMs();
  if (marlin_.nrMarlinok != ackMark_) {
    ackMark_ = marlin_.nrMarlinok;
    ackMarkTick_ = now;
    return false;
  }
  if (now - ackMarkTick_ < kAckQuietMs) return false;
  core_.memoPrintf("%d acknowledgements lost: going on", marlin_.Marlinlin - marlin_.nrMarlinok);
  marlin_.nrMarlinok = marlin_.Marlinlin;
  resyncPending = false;
  return true;
}

void MachineActions::resyncAcknowledgements() {
  if (marlin_.nrMarlinok >= marlin_.Marlinlin) {
    marlin_.nrMarlinok = marlin_.Marlinlin;
    resyncPending = false;
    return;
  }
  resyncPending = true;
  ackMark_ = marlin_.nrMarlinok;
  ackMarkTick_ = core_.clock.tickMs();
}

// ---------------------------------------------------------------- homing

void MachineActions::home() {
  const Settings& s = core_.s;
  headHold_->stop();
  parkState = false;
  frontState = false;
  holdPosition();
  marlin_.openMarlin();
  // No print step for 10 s: the stalled sequence is cleared.
  if (steps_.clearStalledTick()) resyncAcknowledgements();
  steps_.setStartX();
  motion_.placeHeadAtY(s.yvHi);
  marlin_.startCodeSequence(s.startgcodes);
  if (marlin_.codesQueued()) marlin_.sendGcode(marlin_.takeNextCode());
  if (s.plateTime > 0) {
    // The plate (the E axis) goes to its lifted park position.
    marlin_.sendGcode("M302");
    marlin_.sendGcode(plat::format("M203 E%3.2f", s.plateDownSpeed * 0.01));
    marlin_.sendGcode(plat::format("G0 E%3.2f", s.plateParkMove * 0.01));
  }
  stepHomeSequence(HomeStarter::BtHome);
}

void MachineActions::stepHomeSequence(HomeStarter from) {
  if (from != HomeStarter::None) homeStarter = from;
  plat::Timer& t = *homeSequence_;
  t.stop();
  if (marlin_.codesQueued()) {
    // Without waiting for acknowledgements; "@@" codes may change the pace.
    marlin_.sendGcode(marlin_.takeNextCode());
    t.start();
    return;
  }
  if (homeStarter != HomeStarter::PrepLifts1) motion_.moveXY(motion_.position().x, motion_.position().y, core_.s.movespeed);
  homeStarter = HomeStarter::None;
}

void MachineActions::startLiftPrep() {
  if (marlin_.codesQueued()) return;
  marlin_.startCodeSequence(core_.s.liftPrepGcodes);
  stepHomeSequence(HomeStarter::PrepLifts1);
}

void MachineActions::resetZ() {
  const Settings& s = core_.s;
  if (!marlin_.marlinLinkOpen) {
    marlin_.openMarlin();
    marlin_.sendGcode("M110");
  }
  marlin_.sendGcode("M140 S0");
  marlin_.sendGcode("G28 Z0");
  marlin_.platformZ = s.zlevelhome + (checked("piston1") ? 90.0 : 0.0);
  if (marlin_.platformZ > 0) {
    marlin_.sendGcode(plat::format("G0 Z%1.3f F%d ", marlin_.platformZ, s.movespeed));
    marlin_.sendGcode("G92 Z0");
  }
  marlin_.platformZ = 0.0;
  fillglyph();
  if (marlin_.m18zAccepted) marlin_.sendGcode("M18 Z");
}

// ---------------------------------------------------------------- positions

void MachineActions::moveToHeld() {
  const Settings& s = core_.s;
  motion_.moveXY(parkState ? kParkX : motion_.position().x, frontState ? s.yInspect : s.yvHi, s.movespeed);
}

void MachineActions::holdPosition() {
  plat::Timer& hold = *headHold_;
  hold.stop();
  if (parkState || frontState) hold.start();
  if (!core_.s.wetWhileMoved) return;
  Control* wet = core_.controls.find("cbkeepwet");
  if (!wet || wet->checked == hold.enabled()) return;
  wet->setChecked(hold.enabled());
  steps_.sendKeepWet();
}

void MachineActions::togglePark() {
  parkState = !parkState;
  moveToHeld();
  holdPosition();
}

void MachineActions::toggleFront() {
  frontState = !frontState;
  moveToHeld();
  holdPosition();
}

void MachineActions::stopHoldingHead() { headHold_->stop(); }

void MachineActions::renewHeldPosition() {
  if (!parkState && !frontState) {
    holdPosition();
    return;
  }
  moveToHeld();
}

void MachineActions::togglePlatform() {
  const Settings& s = core_.s;
  const double z = marlin_.platformZ;
  const double target =
      platformUp ? z : std::max(z, std::clamp(z + s.zService, 0.0, std::max(0.0, s.zmarlinMax)));
  marlin_.sendGcode(plat::format("G0 Z%1.3f F%d ", target, s.movespeed));
  if (marlin_.m18zAccepted) marlin_.sendGcode("M18 Z");
  platformUp = !platformUp;
  fillglyph();
}

void MachineActions::fillglyph() {
  // The arrow shows where the next click takes the platform.
  if (Control* c = core_.controls.find("btPlatform")) c->setCaption(platformUp ? "platform ^" : "platform v");
}

void MachineActions::stepPlatform(bool alternative, bool upperHalf, int position) {
  const Settings& s = core_.s;
  if (alternative) {
    marlin_.flushLeadingMcodes();
    if (core_.dualBoxMode()) {
      sendCodes(replaceAll(std::string(feederGcode), "?%?", upperHalf ? "0.5" : "-0.5"), ',');
    } else {
      const double z = upperHalf ? marlin_.platformZ : std::max(double(truncInt(marlin_.platformZ)), 30.0);
      marlin_.sendGcode(plat::format("G0 Z%1.3f F%d ", z, s.movespeed));
    }
    return;
  }
  // The arrows move the platform the way they point: down lowers it (Z
  // grows, as a layer does), up raises it.
  if (position < updownLastPos) marlin_.platformZ += 0.5;
  else marlin_.platformZ -= 0.5;
  marlin_.flushLeadingMcodes();
  if (marlin_.platformZ < 0) {
    // Above the zero: that height becomes the new zero.
    marlin_.sendGcode(plat::format("G92 Z%1.3f", -marlin_.platformZ));
    marlin_.platformZ = 0.0;
  }
  marlin_.sendGcode(plat::format("G0 Z%1.3f F%d ", marlin_.platformZ, s.movespeed));
  updownLastPos = position;
  if (marlin_.m18zAccepted) marlin_.sendGcode("M18 Z");
}

// ---------------------------------------------------------------- powder

void MachineActions::preparePowder() {
  const Settings& s = core_.s;
  if (!core_.dualBoxMode()) {
    layout_.job.patternMode = false;
    core_.presetNextAnswer(s.preplayers);
    steps_.preparePowderLayers();
    return;
  }
  if (s.powderPercentage == 0) {
    if (Control* c = core_.controls.find("multiPowderlayer1")) c->setChecked(!c->checked);
    applyRepeatedPowderLayers();
    return;
  }
  const auto answer = core_.ui.inputBox(
      "input", plat::format("feeder down  (model height=%dmm)", layout_.printpages * s.layerMicrons / 1000), "0");
  if (!answer) return;
  const int n = core_.evalIntExpr(*answer);
  const auto reset = core_.ui.askYesNoCancel("input", "reset build platform");
  if (reset == OperatorUi::Answer::Cancel) return;
  std::string codes;
  if (n > 0) codes = plat::format("G92 E0,G0 E%d F80,M18 E0", -n);
  if (reset == OperatorUi::Answer::Yes) codes += std::string(codes.empty() ? "" : ",") + "G28 Z,M106 S255,M18";
  if (codes.empty()) return;
  marlin_.flushLeadingMcodes();
  sendCodes(codes, ',');
}

void MachineActions::layOnePowderLayer(bool fromRepeat) {
  const Settings& s = core_.s;
  if (!linesSettled()) return;
  std::string seq = steps_.expandGcodeTemplate(s.LayerGcodes, 0);
  replaceAllIn(seq, "%p%", plat::format("%g", s.powderPercentage * 0.01));
  if (s.powderPercentage == 0) {
    ink_.sendInkCounted(unit::kPowderOnly);
  } else if (fromRepeat) {
    // The roller's powder settles before the next layer.
    if (const auto p = seq.rfind("G0 Y"); p != std::string::npos) seq.insert(p, "G4 P3000/");
  }
  seq += "/M106 S0";
  marlin_.startCodeSequence(seq);
  while (marlin_.codesQueued()) {
    const std::string code = marlin_.takeNextCode();
    if (!code.empty()) marlin_.sendGcode(code);
  }
}

void MachineActions::stopPowderLayers() { powderLayers_->stop(); }

void MachineActions::repeatPowderLayer() {
  if (!checked("multiPowderlayer1")) {
    powderLayers_->stop();
    return;
  }
  layOnePowderLayer(true);
}

void MachineActions::applyRepeatedPowderLayers() {
  if (checked("multiPowderlayer1")) powderLayers_->start();
  else powderLayers_->stop();
}

void MachineActions::startPowderRepeat(bool leftButton, bool shift) {
  autoUp = leftButton && !shift;
  plat::Timer& t = *powderRepeat_;
  t.stop();
  t.setInterval(900);
  t.start();
}

void MachineActions::repeatPowderStep() {
  powderRepeat_->setInterval(100);
  motion_.PowderUpDown(autoUp, true);
}

void MachineActions::stopPowderRepeat(bool downward) {
  plat::Timer& t = *powderRepeat_;
  // A short click: the repeat had not started.
  if (t.interval() == 900) motion_.PowderUpDown(!downward, true);
  t.stop();
  t.setInterval(900);
}

// ---------------------------------------------------------------- files and brush

std::string MachineActions::nextFileLine(std::FILE* f, bool& ended) {
  ended = false;
  for (;;) {
    std::string raw;
    bool any = false, tooLong = false;
    for (int c; (c = std::fgetc(f)) != EOF;) {
      any = true;
      if (c == '\n') break;
      if (static_cast<int>(raw.size()) < kFileLineMax) raw += static_cast<char>(c);
      else tooLong = true;
    }
    if (!any) break;
    if (tooLong) {
      // Sending a piece of it would send a wrong code.
      core_.memoPrintf("G-code line longer than %d characters skipped", kFileLineMax);
      continue;
    }
    const std::string line = gcodeFileLine(raw);
    if (!line.empty()) return line;
  }
  ended = true;
  return "";
}

void MachineActions::startDrillPattern() {
  drillFile = core_.openFile(core_.workDir + "boormal.gcode", "r").file;
  if (drillFile) drill_->start();
  core_.logVars("nrMarlinok", marlin_.nrMarlinok, "Marlinlin", marlin_.Marlinlin);
  resyncAcknowledgements();
  core_.clearAbort();
}

void MachineActions::stepDrillPattern() {
  if (core_.abortRequested() || !drillFile) {
    drill_->stop();
    drillFile.reset();
    return;
  }
  if (!linesSettled()) return;
  bool ended = false;
  const std::string line = nextFileLine(drillFile.get(), ended);
  if (ended) {
    drill_->stop();
    drillFile.reset();
    return;
  }
  core_.memoPrintf("%d %d %s", marlin_.nrMarlinok, marlin_.Marlinlin, line);
  marlin_.sendGcode(line);
}

void MachineActions::startFeedFile() {
  // Without a file nothing is sent; a print that runs is not touched.
  std::FILE* f = std::fopen("feed.gcode", "r");
  if (!f) {
    core_.memoPrintf("no file feed.gcode");
    return;
  }
  feedFile.reset(f);
  // New work: an abort left from an earlier print would stop it at its
  // first tick without a word.
  core_.clearAbort();
  gcodeFeed_->start();
}

void MachineActions::stepGcodeFile() {
  if (core_.abortRequested() || !feedFile) {
    gcodeFeed_->stop();
    feedFile.reset();
    return;
  }
  // One line may be in flight.
  if (marlin_.Marlinlin - 1 > marlin_.nrMarlinok) return;
  bool ended = false;
  const std::string line = nextFileLine(feedFile.get(), ended);
  if (ended) {
    gcodeFeed_->stop();
    feedFile.reset();
    return;
  }
  marlin_.sendGcode(line);
}

void MachineActions::startBrush() {
  brushQueue = kBrushPath;
  brushing_->start();
}

void MachineActions::stepBrushPath() {
  if (brushQueue.empty()) {
    brushing_->stop();
    return;
  }
  if (!linesSettled()) return;
  const std::string item = trimmed(popToken(brushQueue, ','));
  if (!item.empty()) marlin_.sendGcode("G0 " + item);
  if (brushQueue.empty()) brushing_->stop();
}

// ---------------------------------------------------------------- plate and steppers

void MachineActions::dry() {
  const Settings& s = core_.s;
  if (s.dryingtemperature <= 0) return;
  marlin_.sendGcode(plat::format("M140 S%d", s.dryingtemperature));
  if (s.dualbox != 0) return;
  marlin_.platformZ = std::min(marlin_.platformZ + 100, 190.0);
  marlin_.sendGcode(plat::format("G0 Z%1.3f F%d ", marlin_.platformZ, s.movespeed));
  marlin_.sendGcode("M18");
}

void MachineActions::askPlateTemperature() {
  const auto answer = core_.ui.inputBox("input", "plate_temperature", plateTempAnswer);
  if (!answer) return;
  plateTempAnswer = *answer;
  if (plateTempAnswer.find('?') != std::string::npos) marlin_.sendGcode("M105");
  const std::string t = trimmed(replaceAll(plateTempAnswer, "?", ""));
  if (t.empty()) return;
  // Only a temperature goes into the code: other text would be sent to the
  // machine as G-code.
  if (!isTemperatureText(t)) {
    core_.memoPrintf("plate_temperature: not a temperature: %s", t);
    return;
  }
  marlin_.sendGcode(plat::format("M140 S%s", t));
}

void MachineActions::resetExtruder() { marlin_.sendGcode("G92 E0"); }

void MachineActions::unpowerSteppers() { marlin_.sendGcode("M18"); }

void MachineActions::applyCocoonWalls() {
  steps_.setCocoonWalls(checked("cocooned1"));
}

}  // namespace ph
