// The jetting unit's manual controls on a fake link and the manual clock:
// the exact commands of the check, the bursts, keep-wet and the priming
// check, the timers' sequences, and the sounds they ask for.
#include "host/machine/ink_controls.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "host/machine/tests/link_fixture.h"

using namespace ph;

namespace {

struct FakeSound : plat::SoundPlayer {
  std::vector<std::string> played;
  bool device = true;
  bool play(const std::string& path) override {
    played.push_back(std::filesystem::path(path).filename().string());
    return device;
  }
};

struct Ink : LinkFixture {
  Ink() {
    using K = Control::Kind;
    for (const char* n : {"btCartridges", "BurstCol", "BurstWtr"}) core.controls.add(K::Button, n, n);
    core.controls.add(K::CheckBox, "cbkeepwet", "KeepWet").checkable = true;
    for (const char* n : {"LabBurst", "shakeLabel"}) core.controls.add(K::Label, n, "");
    core.controls.add(K::Image, "Imdrops", "").visible = false;
    for (const char* n : {"burstdelay1", "heatlevels1", "blacktempr1", "inkjlater1", "pasteink1", "rollerboost1",
                          "primecheck1"})
      core.controls.add(K::MenuItem, n, n, "util1");
    ink.bindControls();
    events.ink = &ink;
    events.askTicking = [this] { return print.printTicks; };
    // The sounds lie in a folder of the test's own.
    folder = std::filesystem::temp_directory_path() / ("inksounds" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    for (const char* f : {"short.wav", "blok.wav", "piepkort.wav"}) std::fclose(std::fopen((folder / f).c_str(), "w"));
    previous = std::filesystem::current_path();
    std::filesystem::current_path(folder);
    open();
  }
  ~Ink() override {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
  }
  void open() {
    core.controls.at("cb_comm").checked = true;
    link.applyLinkSwitch();
    clock.advance(100);
    serial.take();
  }
  // A click on a checkable item or box as the window makes it: the mark
  // changes, then the handler runs.
  void toggle(const char* name) {
    Control& c = core.controls.at(name);
    c.checked = !c.checked;
    c.click();
  }
  std::string label() { return core.controls.at("LabBurst").caption; }

  std::filesystem::path folder, previous;
  FakeSound sound;
  RecordingEvents events;
  FakeInkPrint print{core};
  JettingLink link{core, files, serial, socket, events};
  bool codesToLink = (core.sendUnitCodesTo(link), true);
  InkControls ink{core, link, sound, print};
};

bool redAt(const QImage& img, int x, int y) { return img.pixelColor(x, y) == QColor(255, 0, 0); }

TEST_F(Ink, CartridgeCheckTwoPhasesWithTheirCommandsSoundsAndMarks) {
  struct Case {
    const char* name;
    const char* replyPhase0;  // what the unit answers to each phase's command
    const char* replyPhase1;
    std::vector<std::string> sounds;
    bool bad0, bad1;
  } cases[] = {
      {"both good", "ok", "ok", {"blok.wav", "piepkort.wav"}, false, false},
      // The unit switched off: nothing at all arrives.
      {"unit off", "", "", {"short.wav", "short.wav"}, true, true},
      {"colour cartridge failed", "CartrFail ", "ok", {"short.wav", "piepkort.wav"}, true, false},
      {"water cartridge failed", "ok", "CartrFail ", {"blok.wav", "short.wav"}, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sound.played.clear();
    ink.cartridgeBad = {false, false};
    core.controls.at("btCartridges").click();
    EXPECT_EQ(serial.take(), "28t17g100,34n");
    serial.reply(c.replyPhase0);
    clock.advance(200);
    EXPECT_EQ(serial.take(), "18g120,34n30,17t");
    serial.reply(c.replyPhase1);
    clock.advance(200);
    EXPECT_EQ(serial.take(), "");
    EXPECT_EQ(sound.played, c.sounds);
    EXPECT_EQ(ink.cartridgeBad[0], c.bad0);
    EXPECT_EQ(ink.cartridgeBad[1], c.bad1);
    EXPECT_EQ(redAt(ink.dropPicture, 22, 22), c.bad0);
    EXPECT_EQ(redAt(ink.dropPicture, 44 + 22, 22), c.bad1);
    EXPECT_TRUE(core.controls.at("Imdrops").visible);
    EXPECT_FALSE(core.timers.at("cartrsound").enabled());
  }
}

TEST_F(Ink, RepeatedCheckRunsEveryTwoSecondsUntilTheButtonOrEscStopsIt) {
  core.controls.at("btCartridges").onRightClick();
  EXPECT_EQ(serial.take(), "28t17g100,34n");  // at once
  clock.advance(2000);
  EXPECT_NE(serial.take().find("28t17g100,34n"), std::string::npos);
  // Esc in the terminal runs one check and ends the repetition.
  link.takeTerminalKey(27);
  EXPECT_EQ(serial.take(), "28t17g100,34n");
  clock.advance(10000);
  EXPECT_EQ(serial.take(), "18g120,34n30,17t");
  // The menu item switches it with its mark; the button's left click stops it.
  toggle("scancartridges1");
  EXPECT_TRUE(core.timers.at("CartrScan").enabled());
  core.controls.at("btCartridges").click();
  EXPECT_FALSE(core.timers.at("CartrScan").enabled());
}

TEST_F(Ink, BurstCountdownCountsDownBeepsFromTwoSecondsThenFires) {
  ink.burstDelay = 5000;
  ink.startBurst(false);  // left: colour
  EXPECT_EQ(label(), ">>> 5 <<<");
  std::vector<std::string> labels;
  std::size_t beeps = 0;
  for (int s = 0; s < 5; ++s) {
    clock.advance(1000);
    labels.push_back(label());
    beeps = sound.played.size();
    EXPECT_EQ(serial.out, "");
  }
  EXPECT_EQ(labels, (std::vector<std::string>{" 4 ", " 3 ", " 2 ", " 1 ", " 0 "}));
  EXPECT_EQ(beeps, 3u);  // at 2, 1 and 0 s left
  clock.advance(1000);
  EXPECT_EQ(label(), "burst");
  EXPECT_EQ(serial.take(), "999j7t1000,8n");
  EXPECT_EQ(ink.labBurstColour, QColor(255, 255, 0));
  clock.advance(1000);
  EXPECT_FALSE(ink.labBurstColour.isValid());  // the button face again
  EXPECT_FALSE(core.timers.at("actdelayer").enabled());
}

TEST_F(Ink, BurstsWithoutDelayFireAtOnce) {
  ink.startBurst(true);
  EXPECT_EQ(serial.take(), "999j7t1000,22n");
  EXPECT_EQ(ink.labBurstColour, QColor(0, 0, 0));
  core.controls.at("BurstCol").click();
  EXPECT_EQ(serial.take(), "999j7t1000,8n");
  core.controls.at("BurstWtr").click();
  EXPECT_EQ(serial.take(), "999j7t1000,22n");
}

TEST_F(Ink, BurstDelayIsAskedAsAnExpression) {
  ui.inputs.push_back("2*1500");
  core.controls.at("burstdelay1").click();
  EXPECT_EQ(ink.burstDelay, 3000);
}

TEST_F(Ink, SingleColourBurstPicksTheRowOfTheClick) {
  struct Case {
    int y, height, k;
  } cases[] = {{0, 60, 0}, {19, 60, 0}, {20, 60, 1}, {45, 60, 2}, {59, 60, 2}, {80, 60, 2}, {5, 0, 0}};
  for (const Case& c : cases) {
    ink.burstColourAt(c.y, c.height);
    EXPECT_EQ(serial.take(), plat::format("999j7t%d,1000,8n", c.k)) << c.y << "/" << c.height;
    EXPECT_EQ(ink.labBurstColour, InkControls::cmyColour(c.k));
    // The picture shows the colour the row fires.
    if (c.height > 0 && c.y < c.height) {
      EXPECT_EQ(InkControls::cmyPicture(10, c.height).pixelColor(3, c.y), InkControls::cmyColour(c.k));
    }
  }
}

TEST_F(Ink, KeepWetCommandsGoOutBehindThePendingCodes) {
  link.replaceQueuedUnitCodes("5,12o");
  toggle("cbkeepwet");
  EXPECT_EQ(serial.take(), "5,12o999j1000,7t2000,13n4999,19n");
  EXPECT_TRUE(logHas("keepwet set"));
  toggle("cbkeepwet");
  EXPECT_EQ(serial.take(), "7t12n18n");
  EXPECT_TRUE(logHas("keepwet clr"));
}

TEST_F(Ink, BurstButtonsWhileKeptWetEndKeepWetInsteadOfBursting) {
  toggle("cbkeepwet");
  toggle("scancartridges1");
  serial.take();
  core.controls.at("BurstCol").click();
  // The unit is told that keep-wet ends; no burst.
  EXPECT_EQ(serial.take(), "7t12n18n");
  EXPECT_FALSE(core.controls.at("cbkeepwet").checked);
  EXPECT_FALSE(core.controls.at("scancartridges1").checked);
  EXPECT_FALSE(core.timers.at("CartrScan").enabled());
}

TEST_F(Ink, HeatLevelsAreQueuedWithTheNextCommandAndKeptInRange) {
  ui.inputs = {std::string("70"), std::string("80+5")};
  core.controls.at("heatlevels1").click();
  EXPECT_EQ(core.s.heatlevelc, 70);
  EXPECT_EQ(core.s.heatlevelbw, 85);
  EXPECT_EQ(link.queuedUnitCodes(), "85,1t70,2t");
  EXPECT_TRUE(logHas("singlecode: 85,1t70,2t"));
  EXPECT_TRUE(core.settingsModified());
  EXPECT_EQ(serial.out, "");  // nothing sent yet
  // A level beyond the range is refused and never reaches the unit.
  link.replaceQueuedUnitCodes("");
  ui.inputs = {std::string("900"), std::nullopt};
  core.controls.at("heatlevels1").click();
  EXPECT_EQ(core.s.heatlevelc, 70);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(link.queuedUnitCodes(), "85,1t70,2t");
}

TEST_F(Ink, BlackHeaterTestRampsEveryTwoSeconds) {
  core.controls.at("blacktempr1").click();
  clock.advance(6000);
  EXPECT_EQ(serial.take(), "1,1t28n2,1t28n3,1t28n");
  // A second click ends it, and the water head gets its level back.
  core.controls.at("blacktempr1").click();
  EXPECT_EQ(serial.take(), "91,1t");
  clock.advance(10000);
  EXPECT_EQ(serial.take(), "");
}

TEST_F(Ink, BlackHeaterTestIsBounded) {
  struct Case {
    const char* name;
    std::function<void(Ink&)> event;
    const char* after;  // what the unit gets after the event
  } cases[] = {
      {"highest level", [](Ink& t) { t.ink.blackStep = t.ink.blackHeaterLimit(); }, "255,1t28n91,1t"},
      {"print start", [](Ink& t) { t.ink.clearActions(); }, "91,1t"},
      {"print running", [](Ink& t) { t.print.printTicks = true; }, "91,1t"},
      {"abort", [](Ink& t) { t.core.requestAbort(); }, "91,1t"},
      {"link closed",
       [](Ink& t) {
         t.core.controls.at("cb_comm").checked = false;
         t.link.applyLinkSwitch();
       },
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.clearAbort();
    print.printTicks = false;
    if (!link.inkLinkOpen) open();
    ink.toggleBlackHeaterTest();
    clock.advance(2000);
    EXPECT_EQ(serial.take(), "1,1t28n");
    c.event(*this);
    clock.advance(4000);
    EXPECT_EQ(serial.take(), c.after);
    EXPECT_FALSE(ink.blackHeaterRunning());
    EXPECT_TRUE(logHas("black heater test ended"));
  }
}

TEST_F(Ink, LaterCommandGoesOutAfterFiveSecondsAndIsCleared) {
  ui.inputs.push_back("12t");
  core.controls.at("inkjlater1").click();
  clock.advance(5999);
  EXPECT_EQ(serial.out, "");
  clock.advance(1);
  EXPECT_EQ(serial.take(), "12t");
  EXPECT_EQ(ink.laterCommand, "");
  // Cancel sends nothing.
  core.controls.at("inkjlater1").click();
  clock.advance(10000);
  EXPECT_EQ(serial.out, "");
}

TEST_F(Ink, PastedTextIsTypedOneKeyPerTickWithoutCtrlV) {
  ink.clipboardText = [] { return std::string("1t\x16") + "2t"; };
  link.takeTerminalKey(22);  // Ctrl-V in the terminal
  EXPECT_TRUE(core.timers.at("paster").enabled());
  clock.advance(50);
  EXPECT_EQ(serial.take(), "1");
  clock.advance(200);
  EXPECT_EQ(serial.take(), "t2t");
  EXPECT_FALSE(core.timers.at("paster").enabled());
  // An empty clipboard starts nothing.
  ink.clipboardText = [] { return std::string(); };
  core.controls.at("pasteink1").click();
  EXPECT_FALSE(core.timers.at("paster").enabled());
}

TEST_F(Ink, RollerBoostUsesTheRollerSpeed) {
  core.s.rollerspeed = 33;
  core.controls.at("rollerboost1").click();
  EXPECT_EQ(serial.take(), "17n100,34n100,11o1000,34n33,11o");
}

TEST_F(Ink, MenuTogglesStoreTheirSettingThroughTheInterpreter) {
  for (const char* item : {"connectcheck1", "IgnoreHopper1"}) {
    const bool before = core.controls.at(item).checked;
    toggle(item);
    EXPECT_EQ(core.controls.at(item).checked, !before) << item;
    toggle(item);
    EXPECT_EQ(core.controls.at(item).checked, before) << item;
  }
  EXPECT_TRUE(logHas("setting MIconnectcheck=false"));
  EXPECT_TRUE(logHas("setting MIIgnoreHopper=true"));
}

TEST_F(Ink, ShakerClicksApplyTheNewSpeedOnceASecondAfterTheLast) {
  core.s.shakerspeed = 20;
  for (int i = 0; i < 3; ++i) {
    ink.stepShakerSpeed(true, false);
    clock.advance(500);
  }
  EXPECT_EQ(core.controls.at("shakeLabel").caption, "shake 23 +/-");
  EXPECT_EQ(core.s.shakerspeed, 20);
  clock.advance(500);
  EXPECT_EQ(core.s.shakerspeed, 23);
  EXPECT_TRUE(core.settingsModified());
  EXPECT_EQ(serial.take(), "23,12o");
  EXPECT_EQ(std::count_if(log().begin(), log().end(),
                          [](const std::string& l) { return l.find("setting shakerspeed") != std::string::npos; }),
            1);
  clock.advance(5000);
  EXPECT_EQ(core.s.shakerspeed, 23);
  // Down and up again: no change, the label shows the speed.
  core.markSettingsSaved();
  ink.stepShakerSpeed(false, false);
  ink.stepShakerSpeed(true, true);
  EXPECT_EQ(core.controls.at("shakeLabel").caption, "shake 21 +/-");
  ink.stepShakerSpeed(true, false);
  ink.stepShakerSpeed(true, false);
  clock.advance(1000);
  EXPECT_EQ(core.controls.at("shakeLabel").caption, "shake 23 +/-");
  EXPECT_FALSE(core.settingsModified());
}

TEST_F(Ink, ShakerSpeedStaysInItsRange) {
  core.s.shakerspeed = 100;
  ink.stepShakerSpeed(true, false);
  EXPECT_EQ(core.controls.at("shakeLabel").caption, "shake 100 +/-");
}

TEST_F(Ink, AlarmBeepsThreeTimesThenStops) {
  link.pauseWithAlarm();
  EXPECT_EQ(ink.alarmCount, 3);
  EXPECT_TRUE(core.controls.at("pause").checked);
  clock.advance(1999);
  EXPECT_TRUE(sound.played.empty());
  clock.advance(1);
  clock.advance(600);
  EXPECT_EQ(sound.played, (std::vector<std::string>{"short.wav", "short.wav", "short.wav"}));
  clock.advance(5000);
  EXPECT_EQ(sound.played.size(), 3u);
  EXPECT_FALSE(core.timers.at("AlertSound").enabled());
}

TEST_F(Ink, SoundsWithoutAFileOrADeviceAreOneLogLine) {
  std::filesystem::remove(folder / "blok.wav");
  ink.playWave("blok.wav");
  EXPECT_EQ(log().back(), "no file blok.wav (the sound is not played)");
  // An alarm that repeats the sound says so once.
  const std::size_t lines = log().size();
  ink.playWave("blok.wav");
  EXPECT_EQ(log().size(), lines);
  sound.device = false;
  ink.playWave("short.wav");
  EXPECT_EQ(log().back(), "sound short.wav (no sound device)");
}

// ---------------------------------------------------------------- priming check

struct Prime : Ink {
  bool pausedAtEnd = false;
  int ended = 0;
  Prime() {
    print.onPause = [this] { pausedAtEnd = true; };
    print.paused = [this] { return pausedAtEnd; };
    print.onPrimeCheckEnded = [this] { ++ended; };
  }
  // The unit's monitor lines: temperature before and after a burst.
  void temps(const char* key, int before, int after) {
    serial.reply(plat::format("%s%d ", key, before));
    serial.reply(plat::format("%s%d ", key, after));
  }
  // Runs the check to its end, answering each burst.
  std::vector<std::string> run(std::function<void(const std::string&)> answer) {
    std::vector<std::string> sent;
    for (int guard = 0; guard < 2000 && core.timers.at("primeStates").enabled(); ++guard) {
      clock.advance(clock.nextDueIn());
      std::string out = serial.take();
      if (out.empty()) continue;
      sent.push_back(out);
      answer(out);
    }
    return sent;
  }
};

TEST_F(Prime, AllColoursCheckFiresWaterAndOneColourBurst) {
  core.s.maxColorPrimeJump = 6;
  core.s.wPrimePulse = 1200;
  ink.startManualPrimeCheck();
  auto sent = run([&](const std::string& out) {
    if (out.find("22n") != std::string::npos) temps("W:", 300, 320);
    else if (out.find("8n") != std::string::npos) temps("C:", 400, 405);
  });
  EXPECT_EQ(sent, (std::vector<std::string>{"0,34n12t100,34n999j1200,22n1050,34n12t",
                                            "12t100,34n999j7t1000,8n1050,34n12t", "7t"}));
  EXPECT_TRUE(logHas("delta tempr W:20 C:5 (top 320 405)"));
  EXPECT_FALSE(logHas("ERROR"));
  EXPECT_FALSE(ink.primeManual);
  EXPECT_EQ(ink.primeStep, 0);
  // A check from the menu leaves the print alone.
  EXPECT_FALSE(print.printTicks);
  EXPECT_FALSE(core.controls.at("pause").checked);
}

TEST_F(Prime, SingleColourCheckFromALayerPausesWhenAColourRisesTooFar) {
  core.s.maxColorPrimeJump = 1008;
  int colour = 0;
  const int rises[3] = {3, 9, 8};
  ink.startLayerPrimeCheck(700);
  auto sent = run([&](const std::string& out) {
    if (out.find("22n") != std::string::npos) temps("W:", 300, 310);
    else if (out.find("8n") != std::string::npos) {
      temps("C:", 400, 400 + rises[colour]);
      ++colour;
    }
  });
  EXPECT_EQ(sent, (std::vector<std::string>{
                      "700,34n12t100,34n999j1000,22n1050,34n12t", "12t100,34n999j7t0,1000,8n1050,34n12t",
                      "12t100,34n999j7t1,1000,8n1050,34n12t", "12t100,34n999j7t2,1000,8n1050,34n12t", "7t"}));
  EXPECT_TRUE(logHas("delta tempr W:10 C:3 M:9 Y:8 (top 310 403 409 408)"));
  EXPECT_TRUE(logHas("priming tempr. ERROR Lims W:25 C:8"));
  EXPECT_EQ(ink.alarmCount, 3);
  EXPECT_TRUE(core.controls.at("pause").checked);
  EXPECT_TRUE(pausedAtEnd);
  // Paused: the print does not go on.
  EXPECT_FALSE(print.printTicks);
  EXPECT_EQ(ended, 1);
  EXPECT_EQ(link.monitorLinesToSkip, 2);
  EXPECT_EQ(ink.primeTravelMs, 0);
}

TEST_F(Prime, FlatTemperaturesWaitBoundedlyThenTheLayerGoesOn) {
  core.s.maxColorPrimeJump = 6;
  // The print goes on through the sequencer's resume (tick and watchdog).
  int resumed = 0;
  print.onResume = [&] {
    ++resumed;
    print.printTicks = true;
  };
  ink.startLayerPrimeCheck(0);
  const std::int64_t start = clock.tickMs();
  auto sent = run([](const std::string&) {});  // the unit reports nothing
  EXPECT_EQ(sent.size(), 3u);
  // 1.5 s travel, 40 water retries, 1.5 s, 20 colour retries, 1 s.
  EXPECT_EQ(clock.tickMs() - start, 990 + 1500 + 4100 + 1500 + 2000 + 1000);
  EXPECT_TRUE(logHas("delta tempr W:0 C:0 (top 0 0)"));
  EXPECT_FALSE(logHas("ERROR"));
  EXPECT_TRUE(print.printTicks);
  EXPECT_EQ(resumed, 1);
  EXPECT_EQ(ended, 1);
}

TEST_F(Prime, TheMenuCannotTakeOverACheckALayerStarted) {
  core.s.maxColorPrimeJump = 6;
  ink.startLayerPrimeCheck(0);
  clock.advance(990);
  ink.startManualPrimeCheck();
  EXPECT_TRUE(logHas("priming check already running"));
  run([](const std::string&) {});
  // The layer's print goes on.
  EXPECT_TRUE(print.printTicks);
  EXPECT_EQ(ended, 1);
}

TEST_F(Prime, WaterRiseBeyondItsLimitFailsAManualCheckWithoutPausing) {
  core.s.maxColorPrimeJump = 6;
  core.s.maxWaterPrimejump = 25;
  ink.startManualPrimeCheck();
  run([&](const std::string& out) {
    if (out.find("22n") != std::string::npos) temps("W:", 300, 326);
    else if (out.find("8n") != std::string::npos) temps("C:", 400, 400);
  });
  EXPECT_TRUE(logHas("priming tempr. ERROR Lims W:25 C:6"));
  EXPECT_FALSE(core.controls.at("pause").checked);
  EXPECT_EQ(ink.alarmCount, 0);
  EXPECT_FALSE(print.printTicks);
}

}  // namespace
