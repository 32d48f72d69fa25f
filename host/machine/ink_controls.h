#pragma once
// The operator's controls of the colour-jetting unit: the two-phase
// cartridge check with its sounds and drop picture, the repeated check, the
// priming bursts with their countdown, keep-wet, heat levels, the bounded
// black-heater test, a command sent after five seconds, pasting commands,
// the roller boost, the shaker speed, two menu toggles, the alarm beeps and
// the priming check. Water commands use channel 1 of the unit, colour
// commands channel 2.
#include <QColor>
#include <QImage>
#include <array>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "host/core/host_core.h"
#include "host/machine/jetting_link.h"
#include "host/machine/machine_events.h"
#include "platform/sound.h"

namespace ph {

// The menu items of the jetting unit's controls, in the menu `parent`.
void addInkControlItems(Controls& controls, const std::string& parent);

// What the jetting unit's controls ask of the print.
class InkPrint {
 public:
  virtual ~InkPrint() = default;
  // The print stops as paused at a stretch end (pausedByEnd, and the
  // pause's start tick when it has none).
  virtual void pauseAtStretchEnd() = 0;
  virtual bool pausedByEnd() const = 0;
  // The priming check that the layer advance started has ended.
  virtual void primeCheckEnded() = 0;
  // A print or a sequence runs: queued unit codes wait for its next command.
  virtual bool isBusy() const = 0;
  // The print's tick runs (a print under way, not paused).
  virtual bool ticking() const = 0;
  // The print goes on after the priming check: its tick and its watchdog
  // start together.
  virtual void resumePrint() = 0;
};

class InkControls {
 public:
  // Each cell of the drop picture is this wide; cell 0 is the colour
  // cartridge (checked first), cell 1 the water cartridge.
  static constexpr int kDropCell = 44;

  InkControls(HostCore& core, JettingLink& link, plat::SoundPlayer& sound, InkPrint& print);
  ~InkControls();
  InkControls(const InkControls&) = delete;
  InkControls& operator=(const InkControls&) = delete;

  // Sets the handlers of the controls and timers this object drives.
  void bindControls();

  // The clipboard's text (the window binds it).
  std::function<std::string()> clipboardText;
  // Called when the drop picture changed (the window shows Imdrops).
  std::function<void()> dropPictureChanged;

  // ---- state ----
  int checkPhase = 0;
  std::array<bool, 2> cartridgeBad{false, false};
  int alarmCount = 0;
  int burstDelay = 0;  // ms before a priming burst; 0 = at once
  int countdownMs = 0;
  std::function<void()> pendingAction;
  std::string laterCommand;
  std::string pasteText;
  int blackStep = 0;
  int newShake = 0;
  int primeStep = 0;
  int primeWait = 0;
  bool primeManual = false;
  std::array<int, 4> primeDelta{};  // water, then the three colours
  std::array<int, 4> primeTop{};
  // The head's travel to the priming place (ms), set by the layer advance.
  int primeTravelMs = 0;
  // Colour of LabBurst; invalid = the button-face colour.
  QColor labBurstColour;
  // The drop picture shown in Imdrops.
  QImage dropPicture;

  // The highest heat level the black-heater test reaches (the top of the
  // heat-level settings' range).
  int blackHeaterLimit() const;
  // The colour of row k (0..2: cyan, magenta, yellow) of the cmyburst picture.
  static QColor cmyColour(int k);
  // The picture the cmyburst image shows: three rows, k = y x 3 / height.
  static QImage cmyPicture(int width, int height);

  // ---- sounds and the countdown ----
  // Plays a sound file of the current folder without waiting; a missing
  // file logs "no file %s", a machine without sound logs the sound.
  void playWave(const std::string& file);
  void startCountdownAction(int ms, std::function<void()> action);
  // actdelayer: the countdown's second; at 0 the action runs.
  void stepCountdown();

  // ---- cartridge check ----
  // fromButton: the button itself was clicked (the repeated check stops).
  void checkCartridges(bool fromButton = true);
  // The right mouse button toggles the repeated check.
  void toggleCartridgeScan(bool rightButton);
  // cartrsound: each cartridge's result sounds, the second is asked.
  void soundCartridgeCheck();
  // The check is sounding its result (a failure report redraws nothing).
  bool cartridgeCheckSounding() const;
  // Redraws the drop picture; allBad marks both cartridges bad first.
  void dropImages(bool allBad = false);
  void applyRepeatedCartridgeCheck();
  // CartrScan: the repeated check.
  void scanCartridges();
  void stopCartridgeScan();
  // At print start: the repeated check and keep-wet off, the black-heater
  // test stopped.
  void clearActions();

  // ---- bursts ----
  void waterburst();
  void colorburst();
  // TimBurst: the burst's colour leaves the label.
  void clearBurstLabel();
  void startBurst(bool rightButton);
  void startColourBurst();
  void startWaterBurst();
  void askBurstDelay();
  // A click at row y of the cmyburst picture of that height.
  void burstColourAt(int y, int height);

  // ---- unit settings and tests ----
  void sendKeepWet();
  void askHeatLevels();
  void toggleBlackHeaterTest();
  // blackheater: the next level of the black-heater test.
  void stepBlackHeaterTest();
  // Ends the black-heater test (the water heater gets its level back).
  void stopBlackHeaterTest(const char* why);
  bool blackHeaterRunning() const;
  void sendInkCommandLater();
  void pasteInkCommands();
  // paster: the next character of the pasted text.
  void typePastedText();
  void sendRollerBoost();
  void applyConnectCheck();
  void applyIgnoreHopper();
  // leftButton without shift adds 1; the right button or shift subtracts 1.
  void stepShakerSpeed(bool leftButton, bool shift);
  // NewShake: the shaker speed clicked, a second after the last click.
  void sendShakerSpeed();

  // ---- alarm ----
  void setAlarmCount(int beeps) { alarmCount = beeps; }
  // After a pause: the alarm's beeps start in 2 s.
  void startAlarmSound();
  // AlertSound: one beep of the alarm.
  void beepAlarm();

  // ---- priming check ----
  void startManualPrimeCheck();
  // The layer advance starts the check (interval 990 marks that start).
  void startLayerPrimeCheck(int travelMs);
  // primeStates: the next step of the priming check.
  void stepPrimeCheck();
  // The print ends or stops: a check still running stops with it.
  void stopPrimeCheck();

  // The terminal's Esc key and the repeated check run the check as the
  // menu does.
  void cartridgeCheck() { checkCartridges(false); }

 private:
  bool checked(const char* name) const;
  void setLabBurst(const std::string& caption);
  void setLabBurstColour(QColor c);
  // Applies "?name=true/false" with the opposite of the item's check mark.
  void toggleMenuSetting(const char* item, const char* name);
  // One step of the priming check; returns the next interval.
  int primeStepAction();
  bool printBusy() const;

  HostCore& core_;
  JettingLink& link_;
  plat::SoundPlayer& sound_;
  InkPrint& print_;
  // Sound files found missing, told once each.
  std::set<std::string> missingSounds_;
  QImage dropsHidden_;
  // abortRequested() when the black-heater test started: a raise since stops it.
  bool abortAtBlackStart_ = false;
  OwnedTimer checkSound_;     // cartrsound
  OwnedTimer cartridgeScan_;  // CartrScan
  OwnedTimer burstLabel_;     // TimBurst
  OwnedTimer countdown_;      // actdelayer
  OwnedTimer alarmSound_;     // AlertSound
  OwnedTimer blackHeater_;    // blackheater
  OwnedTimer paster_;         // paster
  OwnedTimer shakeSend_;      // NewShake
  OwnedTimer primeCheck_;     // primeStates
};

}  // namespace ph
