// The operator's machine actions on the manual clock against a fake
// Marlin machine that answers "ok" to every line (unless told not to): the
// exact lines of each action, the timers' pace, and how the actions wait
// for the machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/machine/machine_actions.h"
#include "host/machine/tests/sequencer_fixture.h"

using namespace ph;

namespace {

struct Actions : SequencerFixture {
  bool added = (addMachineActionItems(core.controls), addActionControls(), true);
  FakeActionSteps steps;
  MachineActions act{core, marlin, ink, motion, layout, steps};
  int keepWetClicks = 0;
  std::vector<bool> cocoonCalls;

  void addActionControls() {
    using K = Control::Kind;
    for (const char* n : {"BtHome", "btzreset", "btpark", "btFront", "btPlatform", "btPrep"})
      core.controls.add(K::Button, n, n);
    for (const char* n : {"piston1", "PrepLifts1", "cocooned1"})
      core.controls.add(K::MenuItem, n, n, "options1").checkable = true;
    core.controls.add(K::CheckBox, "cbkeepwet", "KeepWet").checkable = true;
  }

  Actions() {
    act.bindControls();
    steps.startX = [this] { seq.setStartX(); };
    steps.expand = [this](const std::string& t, int skip) { return seq.expandGcodeTemplate(t, skip); };
    steps.powderSkip = [this] {
      if (seq.powderSkipState == 0) seq.powderSkipState = 1;
    };
    steps.keepWet = [this] { ++keepWetClicks; };
    steps.cocoonWalls = [this](bool on) { cocoonCalls.push_back(on); };
    // As the Host wires them: the sequencer's tick, the actions' hold and
    // powder layers.
    steps.stalledTick = [this] { return seq.clearStalledTick(); };
    printSteps.onStopHoldingHead = [this] { act.stopHoldingHead(); };
    printSteps.onStopPowderLayers = [this] { act.stopPowderLayers(); };
    onHomePace = [this](int ms) { act.setHomePace(ms); };
    core.s.movespeed = 8000;
  }
  // Both links open, nothing queued, every line acknowledged.
  void ready() {
    openLinks();
    marlin.clearCodeSequence();
    marlin.mcodesFlushed = true;
    collect();
    gcodes.clear();
  }
  std::string sent() {
    collect();
    std::string t = gcodeText();
    gcodes.clear();
    return t;
  }
  void writeFile(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    f << text;
  }
};

const std::string kStartCodes = "M110|M201 X1000 Y1000|M202 X1000 Y1000|G92 Z0|M202 X1000 Y1000|G28 X0 Y0";

TEST_F(Actions, HomeSendsTheStartCodesEveryTenMsThenMovesToTheStart) {
  struct Case {
    int plateTime;
    std::string plateCodes;
  };
  for (const Case& c : {Case{0, ""}, Case{500, "|M302|M203 E1.00|G0 E0.30"}}) {
    SCOPED_TRACE(c.plateTime);
    ready();
    core.s.plateTime = c.plateTime;
    layout.buildRoomSkip = 20;
    core.controls.at("BtHome").click();
    // The first code and the plate codes at once, the next code too.
    const std::string first = sent();
    EXPECT_EQ(first, "M110" + c.plateCodes + "|M201 X1000 Y1000");
    marlinAnswers = false;  // the sequence does not wait for answers
    run(10);
    EXPECT_EQ(sent(), "M202 X1000 Y1000");
    run(100);
    EXPECT_EQ(sent(), "G92 Z0|M202 X1000 Y1000|G28 X0 Y0|G0 X113.00 Y220.00 F8000");
    EXPECT_FALSE(core.timers.at("HomeSeq").enabled());
    EXPECT_EQ(motion.position().lastY, 220.0);
    marlinAnswers = true;
    marlin.nrMarlinok = marlin.Marlinlin;
  }
}

TEST_F(Actions, LiftPreparationRunsItsCodesWithoutTheFinalMove) {
  ready();
  core.s.liftPrepGcodes = "G0 Z5/@@i50/G0 Z6";
  core.controls.at("PrepLifts1").click();
  EXPECT_EQ(sent(), "G0 Z5");
  run(10);
  EXPECT_EQ(sent(), "");  // "@@i50" slowed the pace
  run(60);
  EXPECT_EQ(sent(), "G0 Z6");
  run(200);
  EXPECT_EQ(sent(), "");
  // A sequence that still runs is not replaced.
  marlin.startCodeSequence("G0 Z9");
  act.startLiftPrep();
  EXPECT_EQ(marlin.queuedCodes(), "G0 Z9");
}

TEST_F(Actions, ZResetLines) {
  struct Case {
    bool linkOpen, piston, m18z;
    std::string lines;
  };
  const Case cases[] = {
      {true, false, false, "M140 S0|G28 Z0|G0 Z31.500 F8000 |G92 Z0"},
      {true, true, true, "M140 S0|G28 Z0|G0 Z121.500 F8000 |G92 Z0|M18 Z"},
      {false, false, false, "M110|M140 S0|G28 Z0|G0 Z31.500 F8000 |G92 Z0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    if (c.linkOpen) ready();
    else marlin.marlinLinkOpen = false;
    check("piston1", c.piston);
    marlin.m18zAccepted = c.m18z;
    marlin.platformZ = 7;
    core.controls.at("btzreset").click();
    EXPECT_EQ(sent(), c.lines);
    EXPECT_EQ(marlin.platformZ, 0.0);
  }
}

TEST_F(Actions, ParkAndFrontAreHeldUntilBothAreCleared) {
  ready();
  core.s.wetWhileMoved = true;
  motion.setHeadX(100);
  core.controls.at("btpark").click();
  EXPECT_EQ(sent(), "G0 X1.00 Y220.00 F8000");
  EXPECT_TRUE(core.controls.at("cbkeepwet").checked);
  core.controls.at("btFront").click();
  EXPECT_EQ(sent(), "G0 X1.00 Y72.00 F8000");
  run(29990);
  EXPECT_EQ(sent(), "");
  run(10);
  EXPECT_EQ(sent(), "G0 X1.00 Y72.00 F8000");
  core.controls.at("btpark").click();
  EXPECT_EQ(sent(), "G0 X100.00 Y72.00 F8000");
  core.controls.at("btFront").click();
  EXPECT_EQ(sent(), "G0 X100.00 Y220.00 F8000");
  EXPECT_FALSE(core.timers.at("HoldMarlin").enabled());
  EXPECT_FALSE(core.controls.at("cbkeepwet").checked);
  EXPECT_EQ(keepWetClicks, 2);
  run(60000);
  EXPECT_EQ(sent(), "");
  // Home ends the hold.
  core.controls.at("btpark").click();
  act.home();
  EXPECT_FALSE(core.timers.at("HoldMarlin").enabled());
  EXPECT_FALSE(act.parkState);
}

TEST_F(Actions, PlatformButtonLowersToServiceHeightAndBack) {
  ready();
  core.s.zService = 30;
  core.s.zmarlinMax = 190;
  marlin.m18zAccepted = true;
  marlin.platformZ = 10;
  core.controls.at("btPlatform").click();
  EXPECT_EQ(sent(), "G0 Z40.000 F8000 |M18 Z");
  EXPECT_EQ(core.controls.at("btPlatform").caption, "platform ^");
  core.controls.at("btPlatform").click();
  EXPECT_EQ(sent(), "G0 Z10.000 F8000 |M18 Z");
  EXPECT_EQ(marlin.platformZ, 10.0);
  // Near the bottom the service height is the lowest the machine goes.
  marlin.platformZ = 180;
  act.togglePlatform();
  EXPECT_EQ(sent(), "G0 Z190.000 F8000 |M18 Z");
}

TEST_F(Actions, UpDownArrowsMoveThePlatformTheWayTheyPoint) {
  struct Case {
    double z;
    int from, to;  // the control's position before and after the click
    std::string lines;
    double after;
  };
  const Case cases[] = {
      {0.3, 5, 4, "G0 Z0.800 F8000 ", 0.8},                  // down arrow: lowered
      {0.3, 5, 6, "G92 Z0.200|G0 Z0.000 F8000 ", 0.0},      // up arrow past the zero
      {3.0, 5, 6, "G0 Z2.500 F8000 ", 2.5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    ready();
    marlin.platformZ = c.z;
    act.updownLastPos = c.from;
    act.stepPlatform(false, true, c.to);
    EXPECT_EQ(sent(), c.lines);
    EXPECT_DOUBLE_EQ(marlin.platformZ, c.after);
    EXPECT_EQ(act.updownLastPos, c.to);
  }
}

TEST_F(Actions, UpDownWithShiftMovesToTheLevelsOrDrivesTheFeeder) {
  ready();
  marlin.platformZ = 12.7;
  act.stepPlatform(true, true, 0);
  EXPECT_EQ(sent(), "G0 Z12.700 F8000 ");
  act.stepPlatform(true, false, 0);
  EXPECT_EQ(sent(), "G0 Z30.000 F8000 ");
  marlin.platformZ = 44.9;
  act.stepPlatform(true, false, 0);
  EXPECT_EQ(sent(), "G0 Z44.000 F8000 ");
  core.s.dualbox = 1;
  act.stepPlatform(true, false, 0);
  EXPECT_EQ(sent(), "G92 E0|G0 E-0.5 F80|M18 E0");
  act.stepPlatform(true, true, 0);
  EXPECT_EQ(sent(), "G92 E0|G0 E0.5 F80|M18 E0");
  EXPECT_EQ(marlin.platformZ, 44.9);
}

TEST_F(Actions, PowderLayerWaitsForTheMachineAndSendsTheLayerCodes) {
  ready();
  core.s.LayerGcodes = "G0 Y10/G1 E%p%/G0 Y200";
  core.s.powderPercentage = 40;
  marlinAnswers = false;
  marlin.sendGcode("G4 P1");
  sent();
  act.layOnePowderLayer();
  EXPECT_EQ(sent(), "");  // a line is not yet acknowledged
  marlinPort.reply("ok\n");
  act.layOnePowderLayer();
  EXPECT_EQ(sent(), "G0 Y10|G1 E0.4|G0 Y200|M106 S0");

  // Repeated: the powder settles before the last pass.
  marlinAnswers = true;
  marlin.nrMarlinok = marlin.Marlinlin;
  check("multiPowderlayer1", true);
  core.controls.at("multiPowderlayer1").click();
  run(100);
  EXPECT_EQ(sent(), "G0 Y10|G1 E0.4|G4 P3000|G0 Y200|M106 S0");
  check("multiPowderlayer1", false);
  run(200);
  EXPECT_FALSE(core.timers.at("multpowd").enabled());

  // No powder amount: the unit's shaker runs instead.
  core.s.powderPercentage = 0;
  clearInk();
  act.layOnePowderLayer();
  EXPECT_EQ(sent(), "G0 Y10|G1 E0|G0 Y200|M106 S0");
  EXPECT_EQ(inkStream, "4999p");
}

TEST_F(Actions, BrushSendsItsPathOneAcknowledgedLineAtATime) {
  ready();
  marlinAnswers = false;
  core.controls.at("btBrush").click();
  run(200);
  EXPECT_EQ(sent(), "G0 X2 Y220");
  marlinAnswers = true;
  marlinPort.reply("ok\n");
  run(3000);
  EXPECT_EQ(sent(),
            "G0 X2 Y152|G0 X30 Y152|G0 X30 Y124|G0 X2 Y72|G0 X2 Y124|G0 X2 Y72|G0 X2 Y124|G0 X2 Y72|G0 X2 Y124|"
            "G0 X2 Y72|G0 X2 Y124|G0 X2 Y72|G0 X2 Y124|G0 X30 Y124|G0 X30 Y152|G0 X2 Y152|G0 X2 Y220|G0 X133 Y220");
  EXPECT_FALSE(core.timers.at("brushTimer").enabled());
}

TEST(GcodeFileLine, KeepsOnlyTheCode) {
  EXPECT_EQ(gcodeFileLine("G1 X1 Y2 ; to the corner\r\n"), "G1 X1 Y2");
  EXPECT_EQ(gcodeFileLine("; only a comment\n"), "");
  EXPECT_EQ(gcodeFileLine("\r\n"), "");
  EXPECT_EQ(gcodeFileLine("  M18\r"), "M18");
}

TEST_F(Actions, DrillFileSendsOnlyGcodeOneAcknowledgedLineAtATime) {
  ready();
  writeFile(dir + "/boormal.gcode", "; drill pattern\r\nG0 X1 Y1 ; first hole\r\n\r\nG1 Z-1\r\n   \nM18");
  core.requestAbort();  // a stale abort does not stop a new drill
  act.startDrillPattern();
  EXPECT_TRUE(logHas("nrMarlinok="));
  marlinAnswers = false;
  run(60);
  EXPECT_EQ(sent(), "G0 X1 Y1");
  run(600);
  EXPECT_EQ(sent(), "");
  marlinAnswers = true;
  marlinPort.reply("ok\n");
  run(600);
  EXPECT_EQ(sent(), "G1 Z-1|M18");
  EXPECT_FALSE(core.timers.at("Drill").enabled());
  EXPECT_FALSE(act.drillFile);
}

TEST_F(Actions, DrillAndFeedStopOnAbort) {
  ready();
  writeFile(dir + "/boormal.gcode", "G0 X1\nG0 X2\nG0 X3\n");
  writeFile(dir + "/feed.gcode", "G0 E1\nG0 E2\nG0 E3\n");
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  act.startFeedFile();
  std::filesystem::current_path(cwd);
  act.startDrillPattern();
  run(100);
  EXPECT_EQ(sent(), "G0 X1|G0 E1");
  core.requestAbort();
  run(300);
  EXPECT_EQ(sent(), "");
  EXPECT_FALSE(core.timers.at("Drill").enabled());
  EXPECT_FALSE(core.timers.at("FromFile").enabled());
  EXPECT_FALSE(act.feedFile);
}

TEST_F(Actions, FeedFileSendsOnlyGcodeAndAMissingOneSendsNothing) {
  ready();
  const auto cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  act.startFeedFile();
  EXPECT_TRUE(logHas("no file feed.gcode"));
  EXPECT_FALSE(core.timers.at("FromFile").enabled());
  EXPECT_FALSE(core.abortRequested());
  writeFile("feed.gcode", "G92 E0 ; zero\r\n\r\n;\nG0 E-5 F80\r\n" + std::string(3000, 'G') + "\nM18 E0\n");
  core.requestAbort();  // left from an earlier print: the new feed still runs
  act.startFeedFile();
  std::filesystem::current_path(cwd);
  run(1000);
  EXPECT_EQ(sent(), "G92 E0|G0 E-5 F80|M18 E0");
  EXPECT_TRUE(logHas("longer than 2047"));
  EXPECT_FALSE(core.timers.at("FromFile").enabled());
}

// Acknowledgements still in flight when the drill resynchronises: the late
// ones must not open the gate for several lines at once.
TEST_F(Actions, ResynchronisingWaitsForTheLinesInFlight) {
  ready();
  writeFile(dir + "/boormal.gcode", "G0 X1\nG0 X2\nG0 X3\nG0 X4\n");
  marlinAnswers = false;
  for (int i = 0; i < 3; ++i) marlin.sendGcode("G4 P1000");
  sent();
  act.startDrillPattern();
  run(600);
  EXPECT_EQ(sent(), "");
  // The three late answers come; then one drill line at a time.
  marlinPort.reply("ok\nok\nok\n");
  run(600);
  EXPECT_EQ(sent(), "G0 X1");
  EXPECT_LE(marlin.nrMarlinok, marlin.Marlinlin);
}

TEST_F(Actions, AcknowledgementsSilentForTenSecondsAreTakenAsLost) {
  ready();
  writeFile(dir + "/boormal.gcode", "G0 X1\n");
  marlinAnswers = false;
  marlin.sendGcode("G4 P1");
  marlin.sendGcode("G4 P1");
  sent();
  act.startDrillPattern();
  run(5000);
  marlinPort.reply("ok\n");  // one still comes: the wait starts again
  run(9000);
  EXPECT_EQ(sent(), "");
  run(1100);
  EXPECT_EQ(sent(), "G0 X1");
  EXPECT_TRUE(logHas("1 acknowledgements lost"));
}

TEST_F(Actions, HomeClearsAStalledPrintOnceItsLinesAreSettled) {
  ready();
  marlinAnswers = false;
  marlin.sendGcode("G0 X5");
  sent();
  core.timers.at("MarlinTimer").start();
  core.timers.at("MarlinBusy").stop();
  act.home();
  EXPECT_FALSE(core.timers.at("MarlinTimer").enabled());
  EXPECT_TRUE(act.resyncPending);
  run(200);
  sent();
  // The stalled line's answer and the home lines' answers arrive late; the
  // brush waits for them rather than running ahead.
  act.startBrush();
  for (int i = marlin.nrMarlinok; i < marlin.Marlinlin - 1; ++i) marlinPort.reply("ok\n");
  run(100);
  EXPECT_EQ(sent(), "");
  marlinPort.reply("ok\n");
  run(50);
  EXPECT_EQ(sent(), "G0 X2 Y220");
}

TEST_F(Actions, PlateTemperatureQuestion) {
  struct Case {
    std::string answer, lines;
  };
  const Case cases[] = {{"60", "M140 S60"}, {"?", "M105"}, {"55?", "M105|M140 S55"}, {"60\rG28", ""}, {"", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    ready();
    ui.inputs.push_back(c.answer);
    core.controls.at("plateheating1").click();
    EXPECT_EQ(sent(), c.lines);
    EXPECT_EQ(act.plateTempAnswer, c.answer);
  }
  EXPECT_TRUE(logHas("not a temperature"));
  ui.inputs.push_back(std::nullopt);
  act.askPlateTemperature();
  EXPECT_EQ(act.plateTempAnswer, "");
}

TEST_F(Actions, DryingAndTheSimpleItems) {
  ready();
  core.s.dryingtemperature = 0;
  act.dry();
  EXPECT_EQ(sent(), "");
  core.s.dryingtemperature = 70;
  marlin.platformZ = 95;
  act.dry();
  EXPECT_EQ(sent(), "M140 S70|G0 Z190.000 F8000 |M18");
  core.s.dualbox = 1;
  act.dry();
  EXPECT_EQ(sent(), "M140 S70");
  core.controls.at("platereset1").click();
  core.controls.at("UnpowerSteppers1").click();
  EXPECT_EQ(sent(), "G92 E0|M18");
  core.controls.at("Powdskip1").click();
  EXPECT_EQ(seq.powderSkipState, 1);
  check("cocooned1", false);
  core.controls.at("cocooned1").click();
  EXPECT_EQ(cocoonCalls, std::vector<bool>{false});
}

TEST_F(Actions, PowderLabelHeldStepsAfter900MsThenEvery100) {
  core.s.powderPercentage = 40;
  act.startPowderRepeat(true, false);
  clock.advance(899);
  EXPECT_EQ(core.s.powderPercentage, 40);
  clock.advance(1);
  EXPECT_EQ(core.s.powderPercentage, 41);
  clock.advance(300);
  EXPECT_EQ(core.s.powderPercentage, 44);
  act.stopPowderRepeat(false);
  clock.advance(1000);
  EXPECT_EQ(core.s.powderPercentage, 44);
  EXPECT_EQ(core.controls.at("LabPwdr").caption, "44");
  // A short right click steps down once.
  act.startPowderRepeat(false, false);
  clock.advance(50);
  act.stopPowderRepeat(true);
  EXPECT_EQ(core.s.powderPercentage, 43);
  EXPECT_EQ(motion.powderBase, 43);
  clock.advance(5000);
  EXPECT_TRUE(logHas("powder set to 43 (was 40)"));
}

TEST_F(Actions, PrepLayersInTheDualBoxSetUp) {
  ready();
  core.s.dualbox = 1;
  core.s.powderPercentage = 40;
  layout.printpages = 80;
  core.s.layerMicrons = 250;
  ui.inputs.push_back("12");
  ui.answers.push_back(OperatorUi::Answer::Yes);
  core.controls.at("btPrep").click();
  EXPECT_EQ(ui.prompts.back(), "feeder down  (model height=20mm)");
  EXPECT_EQ(sent(), "G92 E0|G0 E-12 F80|M18 E0|G28 Z|M106 S255|M18");
  ui.inputs.push_back("0");
  ui.answers.push_back(OperatorUi::Answer::Yes);
  act.preparePowder();
  EXPECT_EQ(sent(), "G28 Z|M106 S255|M18");
  ui.inputs.push_back("5");
  ui.answers.push_back(OperatorUi::Answer::Cancel);
  act.preparePowder();
  EXPECT_EQ(sent(), "");
  // Without a powder amount the button repeats powder layers.
  core.s.powderPercentage = 0;
  act.preparePowder();
  EXPECT_TRUE(core.timers.at("multpowd").enabled());
}

TEST_F(Actions, PrepLayersOutsideTheDualBoxSetUpStartsThePreparationLayers) {
  core.s.preplayers = 4;
  job.patternMode = true;
  int asked = -1;
  steps.prepLayers = [&] { asked = core.presetAnswer(); };
  act.preparePowder();
  EXPECT_EQ(asked, 4);
  EXPECT_FALSE(job.patternMode);
}

}  // namespace
