#include "host/machine/ink_controls.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {
// The two cells of the drop picture: a colour drop (the colour cartridge,
// checked first) and a water drop.
QImage makeDropsPicture() {
  QImage img(2 * InkControls::kDropCell, InkControls::kDropCell, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  const QColor drop[2] = {QColor(0, 160, 160), QColor(40, 90, 220)};
  for (int cell = 0; cell < 2; ++cell) {
    const int x = cell * InkControls::kDropCell;
    QPainterPath path;
    path.moveTo(x + 22, 6);
    path.cubicTo(x + 30, 18, x + 34, 24, x + 34, 29);
    path.arcTo(x + 10, 17, 24, 24, 0, -180);
    path.cubicTo(x + 10, 24, x + 14, 18, x + 22, 6);
    p.fillPath(path, drop[cell]);
  }
  return img;
}
}  // namespace

void addInkControlItems(Controls& controls, const std::string& parent) {
  controls.addMenuItems(parent, {
      {"primecheck1", "primecheck", "fire the cartridges and check their temperature rise"},
      {"burstdelay1", "burstdelay", "countdown in ms before a priming burst (0 = at once)"},
      {"heatlevels1", "heatlevels", "heater levels of the colour and the water cartridge"},
      {"blacktempr1", "blacktempr", "heat the water cartridge step by step (click again to stop)"},
      {"inkjlater1", "inkjet later", "send a command to the jetting unit after 5 seconds"},
      {"pasteink1", "paste ink", "type the clipboard's text into the jetting-unit terminal"},
      {"rollerboost1", "rollerboost", "start the roller with a boost"},
  });
}

InkControls::InkControls(HostCore& core, JettingLink& link, plat::SoundPlayer& sound, InkPrint& print)
    : core_(core),
      link_(link),
      sound_(sound),
      print_(print),
      dropsHidden_(makeDropsPicture()),
      checkSound_(core.timers.make("cartrsound")),
      cartridgeScan_(core.timers.make("CartrScan")),
      burstLabel_(core.timers.make("TimBurst")),
      countdown_(core.timers.make("actdelayer")),
      alarmSound_(core.timers.make("AlertSound")),
      blackHeater_(core.timers.make("blackheater")),
      paster_(core.timers.make("paster")),
      shakeSend_(core.timers.make("NewShake")),
      primeCheck_(core.timers.make("primeStates")) {
  checkSound_->setHandler([this] { soundCartridgeCheck(); });
  cartridgeScan_->setHandler([this] { scanCartridges(); });
  burstLabel_->setHandler([this] { clearBurstLabel(); });
  countdown_->setHandler([this] { stepCountdown(); });
  alarmSound_->setHandler([this] { beepAlarm(); });
  blackHeater_->setHandler([this] { stepBlackHeaterTest(); });
  paster_->setHandler([this] { typePastedText(); });
  shakeSend_->setHandler([this] { sendShakerSpeed(); });
  primeCheck_->setHandler([this] { stepPrimeCheck(); });
  dropPicture = dropsHidden_;
}

InkControls::~InkControls() {
  for (const char* name : {"btCartridges", "scancartridges1", "BurstCol", "BurstWtr", "burstdelay1", "cbkeepwet",
                           "heatlevels1", "blacktempr1", "inkjlater1", "pasteink1", "rollerboost1", "connectcheck1",
                           "IgnoreHopper1", "primecheck1"})
    if (Control* c = core_.controls.find(name)) {
      c->onClick = nullptr;
      c->onRightClick = nullptr;
    }
}

void InkControls::bindControls() {
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("btCartridges", [this] { checkCartridges(true); });
  if (Control* c = core_.controls.find("btCartridges")) c->onRightClick = [this] { toggleCartridgeScan(true); };
  bind("scancartridges1", [this] { applyRepeatedCartridgeCheck(); });
  bind("BurstCol", [this] { startColourBurst(); });
  bind("BurstWtr", [this] { startWaterBurst(); });
  bind("burstdelay1", [this] { askBurstDelay(); });
  bind("cbkeepwet", [this] { sendKeepWet(); });
  bind("heatlevels1", [this] { askHeatLevels(); });
  bind("blacktempr1", [this] { toggleBlackHeaterTest(); });
  bind("inkjlater1", [this] { sendInkCommandLater(); });
  bind("pasteink1", [this] { pasteInkCommands(); });
  bind("rollerboost1", [this] { sendRollerBoost(); });
  bind("connectcheck1", [this] { applyConnectCheck(); });
  bind("IgnoreHopper1", [this] { applyIgnoreHopper(); });
  bind("primecheck1", [this] { startManualPrimeCheck(); });
}

bool InkControls::checked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

void InkControls::setLabBurst(const std::string& caption) {
  if (Control* c = core_.controls.find("LabBurst")) c->setCaption(caption);
}

void InkControls::setLabBurstColour(QColor c) {
  labBurstColour = c;
  if (Control* l = core_.controls.find("LabBurst")) core_.controls.notify(*l);
}

bool InkControls::printBusy() const {
  return print_.isBusy();
}

int InkControls::blackHeaterLimit() const {
  const int idx = core_.params.find("heatlevelbw");
  if (idx >= 0 && core_.params.entry(idx).hasRange) return static_cast<int>(core_.params.entry(idx).rangeHigh);
  return 255;
}

QColor InkControls::cmyColour(int k) {
  static const QColor colours[3] = {QColor(0, 255, 255), QColor(255, 0, 255), QColor(255, 255, 0)};
  return colours[clampInt(k, 0, 2)];
}

QImage InkControls::cmyPicture(int width, int height) {
  QImage img(std::max(width, 1), std::max(height, 3), QImage::Format_RGB32);
  for (int y = 0; y < img.height(); ++y) {
    const QRgb c = cmyColour(y * 3 / img.height()).rgb();
    for (int x = 0; x < img.width(); ++x) img.setPixel(x, y, c);
  }
  return img;
}

// ---------------------------------------------------------------- sounds, countdown

void InkControls::playWave(const std::string& file) {
  if (!fileExists(file)) {
    // An alarm repeats its sound; its absence is worth one line.
    if (missingSounds_.insert(file).second) core_.memoPrintf("no file %s (the sound is not played)", file);
    return;
  }
  if (!sound_.play(file)) core_.memoPrintf("sound %s (no sound device)", file);
}

void InkControls::startCountdownAction(int ms, std::function<void()> action) {
  if (ms <= 0) {
    if (action) action();
    return;
  }
  countdownMs = ms;
  setLabBurst(plat::format(">>> %d <<<", ms / 1000));
  pendingAction = std::move(action);
  countdown_->start();
}

void InkControls::stepCountdown() {
  if (countdownMs < 1) {
    setLabBurst("burst");
    countdown_->stop();
    // Taken first: the action may start another countdown.
    auto action = std::move(pendingAction);
    pendingAction = nullptr;
    if (action) action();
    return;
  }
  countdownMs -= 1000;
  setLabBurst(plat::format(" %d ", countdownMs / 1000));
  if (countdownMs < 3000) playWave("piepkort.wav");
}

// ---------------------------------------------------------------- cartridge check

void InkControls::checkCartridges(bool fromButton) {
  link_.inkRxTotal = 0;
  link_.cartridgeFail = false;
  link_.sendInk(unit::kCartridgeCheckStart);
  checkSound_->setInterval(200);
  checkSound_->start();
  checkPhase = 0;
  if (fromButton) cartridgeScan_->stop();
}

void InkControls::toggleCartridgeScan(bool rightButton) {
  if (!rightButton) return;
  plat::Timer& scan = *cartridgeScan_;
  if (scan.enabled()) {
    scan.stop();
    return;
  }
  scan.start();
  checkCartridges(false);
}

bool InkControls::cartridgeCheckSounding() const { return checkSound_->enabled(); }

void InkControls::soundCartridgeCheck() {
  checkSound_->stop();
  const int cell = std::min(checkPhase, 1);
  const bool bad = link_.cartridgeFail || link_.inkRxTotal == 0;
  cartridgeBad[static_cast<std::size_t>(cell)] = bad;
  dropImages(false);
  playWave(bad ? "short.wav" : checkPhase == 0 ? "blok.wav" : "piepkort.wav");
  link_.cartridgeFail = false;
  // The second cartridge.
  if (checkPhase == 0) link_.sendInk(unit::kCartridgeCheckSecond);
  ++checkPhase;
  if (checkPhase < 2) checkSound_->start();
}

void InkControls::dropImages(bool allBad) {
  if (allBad) cartridgeBad = {true, true};
  dropPicture = dropsHidden_.copy();
  QPainter p(&dropPicture);
  p.setPen(QPen(QColor(255, 0, 0), 5));
  for (int cell = 0; cell < 2; ++cell) {
    if (!cartridgeBad[static_cast<std::size_t>(cell)]) continue;
    const int x = cell * kDropCell;
    p.drawLine(x + 4, 4, x + kDropCell - 5, kDropCell - 5);
    p.drawLine(x + kDropCell - 5, 4, x + 4, kDropCell - 5);
  }
  p.end();
  if (Control* c = core_.controls.find("Imdrops")) c->setVisible(true);
  if (dropPictureChanged) dropPictureChanged();
}

void InkControls::applyRepeatedCartridgeCheck() {
  // The window has set the item's new check mark.
  cartridgeScan_->setEnabled(checked("scancartridges1"));
  link_.cartridgeFail = true;
}

void InkControls::scanCartridges() { checkCartridges(false); }

void InkControls::stopCartridgeScan() { cartridgeScan_->stop(); }

void InkControls::clearActions() {
  if (Control* c = core_.controls.find("scancartridges1")) c->setChecked(false);
  cartridgeScan_->stop();
  // The unit is told that keep-wet ends, as a click on the box would.
  if (Control* c = core_.controls.find("cbkeepwet"); c && c->checked) {
    c->setChecked(false);
    sendKeepWet();
  }
  stopBlackHeaterTest("actions cleared");
}

// ---------------------------------------------------------------- bursts

void InkControls::waterburst() {
  link_.sendInk(unit::kWaterBurst);
  setLabBurstColour(QColor(0, 0, 0));
  burstLabel_->start();
}

void InkControls::colorburst() {
  link_.sendInk(unit::kColourBurst);
  setLabBurstColour(QColor(255, 255, 0));
  burstLabel_->start();
}

void InkControls::clearBurstLabel() {
  burstLabel_->stop();
  setLabBurstColour(QColor());
}

void InkControls::startBurst(bool rightButton) {
  if (rightButton) startCountdownAction(burstDelay, [this] { waterburst(); });
  else startCountdownAction(burstDelay, [this] { colorburst(); });
}

void InkControls::startColourBurst() {
  if (checked("cbkeepwet")) return clearActions();
  startCountdownAction(burstDelay, [this] { colorburst(); });
}

void InkControls::startWaterBurst() {
  if (checked("cbkeepwet")) return clearActions();
  startCountdownAction(burstDelay, [this] { waterburst(); });
}

void InkControls::askBurstDelay() {
  burstDelay = core_.evalIntExpr(core_.askText("input", "burstdelay", std::to_string(burstDelay)));
}

void InkControls::burstColourAt(int y, int height) {
  const int k = clampInt(height > 0 ? y * 3 / height : 0, 0, 2);
  link_.sendInk(unit::colourBurst(k));
  setLabBurstColour(cmyColour(k));
  burstLabel_->start();
}

// ---------------------------------------------------------------- unit settings and tests

void InkControls::sendKeepWet() {
  const bool on = checked("cbkeepwet");
  core_.memoPrintf("keepwet %s", on ? "set" : "clr");
  link_.sendInkPending(on ? unit::kKeepWetOn : unit::kKeepWetOff);
}

void InkControls::askHeatLevels() {
  Settings& s = core_.s;
  for (auto [name, value] : {std::pair<const char*, int*>{"heatlevelc", &s.heatlevelc}, {"heatlevelbw", &s.heatlevelbw}}) {
    const int v = core_.evalIntExpr(core_.askText("input", name, std::to_string(*value)));
    const int idx = core_.params.find(name);
    const std::string refusal = idx >= 0 ? core_.params.rangeRefusal(idx, v) : std::string();
    if (!refusal.empty()) {
      // A heat level outside the range never reaches the heads.
      core_.ui.showMessage(refusal);
      continue;
    }
    if (v != *value) core_.markSettingsModified();
    *value = v;
  }
  const std::string codes = plat::format("%d,1t%d,2t", s.heatlevelbw, s.heatlevelc);
  link_.queueUnitCode(codes);
  core_.memoPrintf("singlecode: %s", codes);
}

bool InkControls::blackHeaterRunning() const { return blackHeater_->enabled(); }

void InkControls::toggleBlackHeaterTest() {
  blackStep = 1;
  if (blackHeaterRunning()) {
    stopBlackHeaterTest("switched off");
    return;
  }
  abortAtBlackStart_ = core_.abortRequested();
  blackHeater_->start();
}

void InkControls::stepBlackHeaterTest() {
  // The ramp heats the water head step by step: it never runs past the
  // highest level, into a print, past an abort or without a link.
  if (!link_.inkLinkOpen) return stopBlackHeaterTest("link closed");
  if (print_.ticking()) return stopBlackHeaterTest("print start");
  if (core_.abortRequested() && !abortAtBlackStart_) return stopBlackHeaterTest("abort");
  if (blackStep > blackHeaterLimit()) return stopBlackHeaterTest("highest level reached");
  link_.sendInk(unit::blackHeaterStep(blackStep));
  ++blackStep;
}

void InkControls::stopBlackHeaterTest(const char* why) {
  if (!blackHeaterRunning()) return;
  blackHeater_->stop();
  core_.memoPrintf("black heater test ended (%s) at level %d", why, blackStep - 1);
  // The water head gets its own level back.
  if (link_.inkLinkOpen) link_.sendInkPending(unit::heatLevel(core_.s.heatlevelbw));
}

void InkControls::sendInkCommandLater() {
  const auto answer = core_.ui.inputBox("input", "to inkjet", laterCommand);
  if (!answer) return;
  laterCommand = *answer;
  if (laterCommand.empty()) return;
  startCountdownAction(5000, [this] {
    link_.sendInk(laterCommand);
    laterCommand.clear();
  });
}

void InkControls::pasteInkCommands() {
  pasteText = clipboardText ? clipboardText() : std::string();
  if (!pasteText.empty()) paster_->start();
}

void InkControls::typePastedText() {
  if (!pasteText.empty()) {
    const char c = pasteText.front();
    pasteText.erase(0, 1);
    // A pasted Ctrl-V would paste again.
    if (c != 22) link_.takeTerminalKey(c);
  }
  paster_->setEnabled(!pasteText.empty());
}

void InkControls::sendRollerBoost() {
  link_.sendInkPending(unit::rollerBoost(core_.s.rollerspeed));
}

void InkControls::toggleMenuSetting(const char* item, const char* name) {
  // The window has already set the item's new check mark; the interpreter
  // stores it through the setting, as a settings file would.
  const bool on = checked(item);
  core_.applySettings(plat::format("?%s=%s", name, on ? "true" : "false"), true);
}

void InkControls::applyConnectCheck() { toggleMenuSetting("connectcheck1", "MIconnectcheck"); }

void InkControls::applyIgnoreHopper() { toggleMenuSetting("IgnoreHopper1", "MIIgnoreHopper"); }

void InkControls::stepShakerSpeed(bool leftButton, bool shift) {
  if (!shakeSend_->enabled()) newShake = core_.s.shakerspeed;
  newShake += leftButton && !shift ? 1 : -1;
  const int idx = core_.params.find("shakerspeed");
  if (idx >= 0 && core_.params.entry(idx).hasRange) {
    const ParamEntry& e = core_.params.entry(idx);
    newShake = clampInt(newShake, static_cast<int>(e.rangeLow), static_cast<int>(e.rangeHigh));
  }
  if (Control* c = core_.controls.find("shakeLabel")) c->setCaption(plat::format("shake %d +/-", newShake));
  // A whole second after the last click.
  shakeSend_->stop();
  shakeSend_->start();
}

void InkControls::sendShakerSpeed() {
  shakeSend_->stop();
  if (newShake == core_.s.shakerspeed) {
    if (Control* c = core_.controls.find("shakeLabel"))
      c->setCaption(plat::format("shake %d +/-", core_.s.shakerspeed));
    return;
  }
  core_.markSettingsModified();
  core_.applySettings(plat::format("?shakerspeed=%d", newShake), false);
  // The shaker's code goes out now, unless a print sends it with its next
  // command.
  if (!printBusy()) link_.sendInkPending("");
}

// ---------------------------------------------------------------- alarm

void InkControls::startAlarmSound() {
  alarmSound_->setInterval(2000);
  alarmSound_->start();
}

void InkControls::beepAlarm() {
  plat::Timer& t = *alarmSound_;
  t.stop();
  playWave("short.wav");
  t.setInterval(300);
  --alarmCount;
  if (alarmCount >= 1) t.start();
}

// ---------------------------------------------------------------- priming check

void InkControls::startManualPrimeCheck() {
  // A check from the menu must not take over one a layer started: that
  // print would never be resumed.
  if (primeCheck_->enabled()) {
    core_.memoPrintf("%s", "priming check already running");
    return;
  }
  primeManual = true;
  primeCheck_->start();
}

void InkControls::startLayerPrimeCheck(int travelMs) {
  // The layer's check takes over one from the menu: its print goes on.
  primeManual = false;
  primeTravelMs = travelMs;
  primeCheck_->setInterval(990);
  primeCheck_->start();
}

void InkControls::stopPrimeCheck() { primeCheck_->stop(); }

void InkControls::stepPrimeCheck() {
  plat::Timer& t = *primeCheck_;
  t.stop();
  if (t.interval() == 990) primeStep = 0;
  const int next = primeStepAction();
  ++primeStep;
  t.setInterval(next);
  if (primeStep != 0) t.start();
}

int InkControls::primeStepAction() {
  Settings& s = core_.s;
  const bool allColours = s.maxColorPrimeJump < 1000;
  switch (primeStep) {
    case 0: {
      primeDelta = {};
      primeTop = {};
      std::fill(std::begin(link_.waterTemps), std::end(link_.waterTemps), 0);
      std::fill(std::begin(link_.colorTemps), std::end(link_.colorTemps), 0);
      primeWait = 0;
      if (!primeManual) link_.monitorLinesToSkip = 2;
      // The head travels to the priming place, then the water burst.
      link_.sendInk(unit::primeWaterBurst(primeTravelMs, s.wPrimePulse));
      const int next = primeTravelMs + 1500;
      primeTravelMs = 0;
      return next;
    }
    case 1:
      if (link_.waterTemps[1] == 0 && primeWait < 40) {
        ++primeWait;
        --primeStep;  // stays at this step
        return 100;
      }
      primeDelta[0] = link_.waterTemps[0] - link_.waterTemps[1];
      primeTop[0] = link_.waterTemps[0];
      primeWait = 0;
      // One burst of all colours: straight to the last colour step.
      if (allColours) primeStep = 5;
      return 100;
    case 2:
    case 4:
    case 6:
      if (!primeManual) link_.monitorLinesToSkip = 2;
      link_.colorTemps[0] = 0;
      link_.colorTemps[1] = 0;
      if (allColours) link_.sendInk(unit::kPrimeColourBurst);
      else link_.sendInk(unit::primeColourBurst(primeStep / 2 - 1));
      return 1500;
    case 3:
    case 5:
    case 7:
      if (link_.colorTemps[1] == 0 && primeWait < 20) {
        ++primeWait;
        --primeStep;
        return 100;
      }
      primeDelta[static_cast<std::size_t>(primeStep / 2)] = link_.colorTemps[0] - link_.colorTemps[1];
      primeTop[static_cast<std::size_t>(primeStep / 2)] = link_.colorTemps[0];
      primeWait = 0;
      return primeStep == 7 ? 1000 : 5000;
    default: {
      const int colourLimit = s.maxColorPrimeJump % 1000;
      if (allColours)
        core_.memoPrintf("delta tempr W:%d C:%d (top %d %d)", primeDelta[0], primeDelta[3], primeTop[0], primeTop[3]);
      else
        core_.memoPrintf("delta tempr W:%d C:%d M:%d Y:%d (top %d %d %d %d)", primeDelta[0], primeDelta[1],
                         primeDelta[2], primeDelta[3], primeTop[0], primeTop[1], primeTop[2], primeTop[3]);
      const int colourRise = std::max({primeDelta[1], primeDelta[2], primeDelta[3]});
      if (primeDelta[0] > s.maxWaterPrimejump || colourRise > colourLimit) {
        if (!primeManual) {
          link_.pauseWithAlarm();
          print_.pauseAtStretchEnd();
        }
        core_.memoPrintf("priming tempr. ERROR Lims W:%d C:%d", s.maxWaterPrimejump, colourLimit);
      }
      const bool paused = print_.pausedByEnd();
      // The print goes on.
      if (!paused && !primeManual) {
        print_.resumePrint();
      }
      primeManual = false;
      print_.primeCheckEnded();
      link_.sendInk(unit::kTemperatureControl);
      primeStep = -1;  // back to 0 after the step
      return 1000;
    }
  }
}

}  // namespace ph
