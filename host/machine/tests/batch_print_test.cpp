// The batch print, the alignment and the pulse calibration on the manual
// clock over fake links, with the print sequencer printing a small
// hand-built job. The steps of other subsystems are recorded seams; the
// timeline of a run lists them with the bursts, the unit's commands and
// the G-code lines, each with the time it happened.
#include "host/machine/batch_print.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "host/machine/ink_controls.h"
#include "host/machine/tests/sequencer_fixture.h"

using namespace ph;

namespace {

struct FakeSound : plat::SoundPlayer {
  std::vector<std::string> played;
  bool play(const std::string& path) override {
    played.push_back(std::filesystem::path(path).filename().string());
    return true;
  }
};

const char* const kWater = "999j7t1000,22n";
const char* const kColour = "999j7t1000,8n";
const char* const kKeepWet = "999j1000,7t2000,13n4999,19n";

// The other subsystems' steps, each as the test plays it.
struct PlayedSteps : BatchSteps {
  std::function<bool()> open, save;
  std::function<void()> skip, convertStep, homeStep, resetZStep, prepStep, dryStep, end;
  bool openModel() override { return open(); }
  void skipNextSlicing() override { skip(); }
  void convert() override { convertStep(); }
  void home() override { homeStep(); }
  void resetZ() override { resetZStep(); }
  void preparePowder() override { prepStep(); }
  void dry() override { dryStep(); }
  void endProgram() override { end(); }
  bool saveSettings() override { return save(); }
};

struct Batch : SequencerFixture {
  FakeSound sound;
  FakeInkPrint print{core};
  PlayedSteps steps;
  InkControls inkControls{core, ink, sound, print};
  BatchPrint batch{core, job, ink, marlin, motion, inkControls, seq, steps};
  std::filesystem::path previous = std::filesystem::current_path();
  // What happened, as "time what".
  std::vector<std::string> timeline;
  std::size_t inkScan = 0, gcodeScan = 0;
  bool modelOpens = true;
  bool modelConverts = true;

  Batch() {
    using K = Control::Kind;
    for (const char* n : {"btBatch", "btAllign", "btCartridges", "BurstCol", "BurstWtr"})
      core.controls.add(K::Button, n, n);
    core.controls.add(K::CheckBox, "cbkeepwet", "KeepWet").checkable = true;
    for (const char* n : {"LabBurst", "shakeLabel"}) core.controls.add(K::Label, n, "");
    core.controls.add(K::Image, "Imdrops", "").visible = false;
    addBatchPrintItems(core.controls, "pattern1", "inkjet1", "setfile1");
    batch.bindControls();
    auto record = [this](const char* what) { return [this, what] { note(what); }; };
    steps.open = [this] {
      note("open model");
      if (modelConverts) job.dmcCurrent = true;
      return modelOpens;
    };
    steps.skip = record("skip slicing");
    steps.convertStep = [this] {
      note("pattern conversion");
      job.dmcCurrent = true;
    };
    steps.homeStep = record("home");
    steps.resetZStep = [this] {
      note("Z reset");
      marlin.sendGcode("G28 Z0");
    };
    steps.prepStep = record("powder preparation");
    steps.dryStep = record("drying");
    steps.end = record("goodbye");
    steps.save = [this] {
      note("save settings");
      return true;
    };
    printSteps.onBestMatch = [this] { batch.enterBestMatch(); };
    std::filesystem::current_path(dir);
    std::fclose(std::fopen("piepkort.wav", "w"));
    core.s.xPrime = 10;
    job.dmcCurrent = false;
    writeDmc(dmcBytes({{'{', "05", "\x81\x07\x20"}, {'}', "00", ""}, {'{', "0A", "\x82\x01\x02\x30"}, {'}', "00", ""}},
                      2));
    // The alignment pattern's converted job is the same small job.
    std::filesystem::copy_file(dir + "/temp.dmc", dir + "/pattern.dmc");
    openLinks();
    t0 = clock.tickMs();
  }
  ~Batch() override { std::filesystem::current_path(previous); }
  // Cases of a table make their own fixture.
  void TestBody() override {}

  // Times count from the end of the set-up.
  std::int64_t t0 = clock.tickMs();
  void note(const std::string& what) { timeline.push_back(plat::format("%d %s", int(clock.tickMs() - t0), what)); }
  // New G-code lines and bursts go to the timeline.
  void scan() {
    collect();
    for (; gcodeScan < gcodes.size(); ++gcodeScan) note("g:" + gcodes[gcodeScan]);
    for (;;) {
      const std::size_t w = inkStream.find(kWater, inkScan), c = inkStream.find(kColour, inkScan),
                        k = inkStream.find(kKeepWet, inkScan);
      const std::size_t first = std::min({w, c, k});
      if (first == std::string::npos) break;
      note(first == w ? "water" : first == c ? "colour" : "keep-wet");
      inkScan = first + 1;
    }
  }
  void runFor(int ms) {
    scan();
    for (int t = 0; t < ms; t += 10) {
      clock.advance(10);
      scan();
    }
  }
  // The timeline up to (not including) the first entry that contains `stop`.
  std::vector<std::string> until(const std::string& stop) const {
    std::vector<std::string> out;
    for (const std::string& e : timeline) {
      if (e.find(stop) != std::string::npos) break;
      out.push_back(e);
    }
    return out;
  }
  // The time of the first entry that contains `what`; -1 when none does.
  int timeOf(const std::string& what) const {
    for (const std::string& e : timeline)
      if (e.find(what) != std::string::npos) return std::stoi(e);
    return -1;
  }
  bool happened(const std::string& what) const {
    for (const std::string& e : timeline)
      if (e.find(what) != std::string::npos) return true;
    return false;
  }
  void commandLineRun() {
    core.runMode = 'B';
    core.commandInputFile = "model.stl";
    core.markBatchPrintsModel();
  }
};

TEST_F(Batch, ACommandLineBatchRunsEveryStepAtItsTimeAndSaysGoodbye) {
  commandLineRun();
  batch.startBatch();
  runFor(120000);
  EXPECT_EQ(until("g:M110"),
            (std::vector<std::string>{"0 open model", "1000 home", "7000 Z reset", "7000 g:G28 Z0",
                                      "10000 powder preparation", "11000 g:G0 X10.00", "14000 water", "15100 colour",
                                      "16200 water", "17300 colour", "18400 water", "19500 colour", "20600 water",
                                      "21700 colour"}));
  // The print starts one burst interval after the last colour burst, and
  // keep-wet, drying and the goodbye follow its end.
  EXPECT_GE(timeOf("g:M110"), 22800);
  EXPECT_LE(timeOf("g:M110"), 23000);
  ASSERT_TRUE(happened("goodbye")) << timeline.back() << "\n" << logText();
  // Keep-wet, drying and the goodbye in the tick after the print's end.
  EXPECT_GT(timeOf("drying"), timeOf("Z0.50"));
  EXPECT_EQ(timeOf("keep-wet"), timeOf("drying"));
  EXPECT_EQ(timeOf("goodbye"), timeOf("drying"));
  EXPECT_TRUE(logHas("fin (model"));
  EXPECT_TRUE(core.controls.at("cbkeepwet").checked);
  EXPECT_FALSE(core.timers.at("Batch").enabled());
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_FALSE(core.run.failed());
}

TEST_F(Batch, VariantsOfTheStepsBeforeThePrint) {
  struct Case {
    const char* name;
    bool primeAtStart;
    double xPrime;
    std::vector<std::string> expected;  // the timeline up to the print's first line
  };
  const Case cases[] = {
      {"no priming (-P): straight to the print", false, 10,
       {"0 open model", "1000 home", "7000 Z reset", "7000 g:G28 Z0", "10000 powder preparation"}},
      {"no priming position: the bursts fire where the head stands", true, -1,
       {"0 open model", "1000 home", "7000 Z reset", "7000 g:G28 Z0", "10000 powder preparation", "14000 water",
        "15100 colour", "16200 water", "17300 colour", "18400 water", "19500 colour", "20600 water", "21700 colour"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Batch t;
    t.commandLineRun();
    t.core.primeAtStart = c.primeAtStart;
    t.core.s.xPrime = c.xPrime;
    t.batch.startBatch();
    t.runFor(30000);
    EXPECT_EQ(t.until("g:M110"), c.expected);
  }
  // Without priming the print follows the powder preparation's step after
  // its 3 s.
  Batch t;
  t.commandLineRun();
  t.core.primeAtStart = false;
  t.batch.startBatch();
  t.runFor(20000);
  EXPECT_GE(t.timeOf("g:M110"), 14000);
  EXPECT_LE(t.timeOf("g:M110"), 14200);
}

TEST_F(Batch, AnAlignmentBatchBurstsTwiceCountsDownAndPrintsThePattern) {
  ui.display = true;
  ui.answers.push_back(OperatorUi::Answer::Yes);
  std::fclose(std::fopen((dir + "/pattern.p3d").c_str(), "w"));
  // The pattern's converted job is the fixture's .dmc (the print reads
  // "temp.dmc" in this fixture's set-up as well).
  batch.startBatch();
  EXPECT_EQ(ui.questions, std::vector<std::string>{"Allign Cartridges"});
  EXPECT_TRUE(batch.alignMode);
  EXPECT_TRUE(job.patternMode);
  runFor(17500);
  EXPECT_EQ(timeline, (std::vector<std::string>{"0 pattern conversion", "1000 home", "7000 Z reset",
                                                "7000 g:G28 Z0", "11000 g:G0 X10.00", "14000 water", "15100 colour",
                                                "16200 water", "17300 colour"}));
  // After the second pair: the card, then five beeps a second apart.
  runFor(4900);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"place allignment card on platform"});
  EXPECT_EQ(sound.played, std::vector<std::string>(5, "piepkort.wav"));
  EXPECT_EQ(core.controls.at("btAllign").caption, "1");
  EXPECT_FALSE(seq.isBusy());
  runFor(1000);
  EXPECT_EQ(core.controls.at("btAllign").caption, "Align");
  EXPECT_TRUE(seq.isBusy());
  // No keep-wet and no drying; the batch ended while the pattern prints.
  runFor(60000);
  EXPECT_FALSE(happened("keep-wet"));
  EXPECT_FALSE(happened("drying"));
  EXPECT_FALSE(happened("powder preparation"));
  EXPECT_FALSE(happened("goodbye"));
  // The pattern print's end opens the best-match entry and marks the next
  // batch as one that prints the model.
  EXPECT_TRUE(core.batchPrintsModel());
  EXPECT_FALSE(job.patternMode);
}

TEST_F(Batch, StepsThatWaitHoldTheBatchInPlace) {
  commandLineRun();
  modelConverts = false;  // the slicer is still at work
  batch.startBatch();
  runFor(5000);
  EXPECT_FALSE(happened("home"));
  job.dmcCurrent = true;
  runFor(1000);
  EXPECT_TRUE(happened("6000 home"));
  // The Z reset's line is not acknowledged: the powder preparation waits.
  marlinAnswers = false;
  runFor(20000);
  EXPECT_FALSE(happened("powder preparation"));
  marlinPort.reply("ok\n");
  runFor(1000);
  EXPECT_TRUE(happened("powder preparation"));
}

TEST_F(Batch, AnUnattendedBatchThatCannotGoOnEndsWithAFailureAndNoGoodbye) {
  struct Case {
    const char* name;
    std::function<void(Batch&)> arrange;
    int runMs;
    const char* logLine;
  };
  const Case cases[] = {
      {"no job for the model", [](Batch& t) { t.modelOpens = false; }, 2000,
       "batch print stopped: no job for model.stl"},
      {"the unit's link is down, so the print does not start",
       [](Batch& t) {
         t.core.controls.at("cb_comm").checked = false;
         t.ink.applyLinkSwitch();
       },
       30000, "batch print stopped: the print did not start"},
      // Not a word from the machine: said as such, within the watchdog's time.
      {"the machine never answers",
       [](Batch& t) {
         t.marlinAnswers = false;
       },
       30000, "batch print stopped: the machine never answered since its link opened"},
      {"the machine's port does not open",
       [](Batch& t) {
         t.marlinAnswers = false;
         t.marlin.marlinLinkOpen = false;
       },
       20000, "batch print stopped: the machine's port is not open, so the Z reset is never acknowledged"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Batch t;
    t.commandLineRun();
    c.arrange(t);
    t.batch.startBatch();
    t.runFor(c.runMs);
    EXPECT_TRUE(t.logHas(c.logLine)) << t.logText();
    EXPECT_TRUE(t.core.run.failed());
    EXPECT_EQ(t.core.run.exitStatus(), 1);
    EXPECT_TRUE(t.ui.closeRequested);
    EXPECT_FALSE(t.happened("goodbye"));
    EXPECT_FALSE(t.happened("drying"));
    EXPECT_FALSE(t.core.timers.at("Batch").enabled());
  }
}

TEST_F(Batch, AnAbortedOrPausedPrintEndsTheUnattendedBatchWithoutGoodbye) {
  struct Case {
    const char* name;
    std::function<void(Batch&)> act;
    const char* logLine;
  };
  const Case cases[] = {
      {"abort", [](Batch& t) { t.seq.abortPrint("operator"); }, "unattended run failed: the print was aborted"},
      {"pause",
       [](Batch& t) {
         t.core.controls.at("pause").checked = true;
         t.seq.resume();
       },
       "batch print stopped: the print paused and nobody is there to go on"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Batch t;
    t.commandLineRun();
    t.batch.startBatch();
    t.runFor(23500);
    ASSERT_TRUE(t.seq.isBusy());
    c.act(t);
    t.runFor(20000);
    EXPECT_FALSE(t.core.timers.at("Batch").enabled());
    EXPECT_FALSE(t.happened("goodbye"));
    EXPECT_FALSE(t.happened("drying"));
    EXPECT_TRUE(t.logHas(c.logLine)) << t.logText();
    EXPECT_EQ(t.core.run.exitStatus(), 1);
    EXPECT_TRUE(t.ui.closeRequested);
  }
}

TEST_F(Batch, ARunThatFailedElsewhereStopsTheBatchAtItsNextTick) {
  commandLineRun();
  modelConverts = false;
  batch.startBatch();
  runFor(2000);
  core.run.fail("slicing failed");
  runFor(1000);
  EXPECT_FALSE(core.timers.at("Batch").enabled());
  job.dmcCurrent = true;
  runFor(10000);
  EXPECT_FALSE(happened("home"));
}

TEST_F(Batch, TheBatchButtonStartsAgainFromTheFirstStep) {
  batch.startBatch();
  runFor(8000);
  EXPECT_TRUE(happened("Z reset"));
  timeline.clear();
  core.controls.at("btBatch").click();
  EXPECT_EQ(batch.batchStep, 2);
  EXPECT_EQ(timeline, std::vector<std::string>{"8000 open model"});
  runFor(1000);
  EXPECT_EQ(timeline.back(), "9000 home");
}

TEST_F(Batch, ThreeDPrintIsRefusedWhileAPrintRuns) {
  core.timers.at("MarlinTimer").start();  // a print runs
  core.controls.at("btBatch").click();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"a print is running: 3d print refused (pause or abort it first)"});
  EXPECT_FALSE(core.timers.at("Batch").enabled());
  EXPECT_TRUE(timeline.empty());
}

TEST_F(Batch, AlignmentCountdownAndItsRefusals) {
  // No pattern: a message, nothing else.
  batch.startAlignment();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"no allign pattern found"});
  EXPECT_FALSE(core.timers.at("alligntimer").enabled());
  EXPECT_FALSE(job.patternMode);
  // A batch that should align without a pattern stops at once.
  ui.display = true;
  ui.answers.push_back(OperatorUi::Answer::Yes);
  batch.startBatch();
  runFor(3000);
  EXPECT_TRUE(logHas("batch print stopped: no allign pattern found"));
  EXPECT_FALSE(happened("home"));

  std::fclose(std::fopen((dir + "/pattern.p3d").c_str(), "w"));
  core.s.startinglayer = 7;
  batch.startAlignment();
  EXPECT_TRUE(logHas("cleared staringlayer"));
  EXPECT_EQ(core.s.startinglayer, 0);
  std::vector<std::string> captions{core.controls.at("btAllign").caption};
  for (int i = 0; i < 4; ++i) {
    runFor(1000);
    captions.push_back(core.controls.at("btAllign").caption);
  }
  EXPECT_EQ(captions, (std::vector<std::string>{"5", "4", "3", "2", "1"}));
  EXPECT_FALSE(seq.isBusy());
  runFor(1000);
  EXPECT_TRUE(seq.isBusy());

  // Dual-box: no countdown, no beeps.
  Batch t;
  t.core.s.dualbox = 1;
  ASSERT_TRUE(t.core.dualBoxMode());
  std::fclose(std::fopen((t.dir + "/pattern.p3d").c_str(), "w"));
  t.batch.startAlignment();
  EXPECT_TRUE(t.sound.played.empty());
  EXPECT_TRUE(t.seq.isBusy());
  EXPECT_TRUE(t.job.patternMode);
}

TEST_F(Batch, BestMatchMovesTheHeadOffsetsWithinTheirRanges) {
  const int dropgrens = core.s.dropgrens;
  const auto kcmy = core.s.kcmyoff;
  job.jobReady = job.dmcCurrent = true;
  ui.fieldAnswers.push_back({"-2", "3"});  // Beside, Above
  batch.enterBestMatch();
  EXPECT_EQ(core.s.dropgrens, dropgrens + 6);
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(core.s.kcmyoff[i], kcmy[i] - (i >= 4 ? 2 : 0)) << i;
  EXPECT_FALSE(job.dmcCurrent);
  EXPECT_FALSE(job.jobReady);
  EXPECT_EQ(log().back(), plat::format("Beside_number=-2 Above_number=3 dropgrens=%d kcmyoff[9]=%d ", dropgrens + 6,
                                       kcmy[9] - 2));

  // Not confirmed: nothing changes, the next print does not convert anew.
  job.jobReady = job.dmcCurrent = true;
  const auto before = core.s.kcmyoff;
  batch.enterBestMatch();
  EXPECT_EQ(core.s.kcmyoff, before);
  EXPECT_TRUE(job.dmcCurrent);

  // A number that would leave a setting's range is refused whole.
  ui.fieldAnswers.push_back({"5000", "-1000"});
  batch.enterBestMatch();
  EXPECT_EQ(core.s.kcmyoff, before);
  EXPECT_EQ(core.s.dropgrens, dropgrens + 6);
  EXPECT_EQ(ui.messages.size(), 2u);
  EXPECT_TRUE(job.dmcCurrent);
}

TEST_F(Batch, PrepViewOpensTheModelWithoutSlicing) {
  core.controls.at("viewprep1").click();
  EXPECT_EQ(timeline, (std::vector<std::string>{"0 skip slicing", "0 open model"}));
}

// ---------------------------------------------------------------- calibration

TEST(InkjetIniGroups, RemovingAGroupKeepsTheRest) {
  struct Case {
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {"13o 7,8o3,9o 5,2t", "13o 5,2t"},
      {" 7,8o3,9o", ""},
      {"13o", "13o"},
      {"7,8o3,9o13o 4,8o1,9o", "13o"},
  };
  for (const Case& c : cases) {
    std::string t = c.before;
    removeInkjetIniGroup(t, ",9o");
    removeInkjetIniGroup(t, ",8o");
    EXPECT_EQ(t, c.after) << c.before;
  }
}

TEST(UnitReplies, PinWordAndPulseCountReadOnlyWhatIsThere) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> pin;
  } pins[] = {
      {"IOPIN = 0200abcd\r\n", 0x0200ABCDu},
      {"x IOPIN = 00000001 IOPIN = FFFFFFFF", 0xFFFFFFFFu},
      {"IOPIN = 1F", 0x1Fu},              // the text ends early
      {"IOPIN = 12xz3456", 0x12u},        // stops at the first non-digit
      {"IOPIN = 123456789", 0x12345678u}, // eight digits at most
      {"IOPIN = zz", std::nullopt},
      {"IOPIN =", std::nullopt},
      {"IOPIN", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : pins) EXPECT_EQ(readIoPin(c.text), c.pin) << c.text;
  const struct {
    const char* text;
    std::optional<long long> count;
  } counts[] = {
      {"pulses=11200\r\n", 11200},
      {"pulses=  70 ok", 70},
      {"pulses=1500,", 1500},
      {"pulses=5 pulses=9", 9},
      {"pulses=0", 0},
      {"pulses=", std::nullopt},
      {"pulses=12ab", std::nullopt},
      {"pulses=-4", std::nullopt},
      {"pulses=99999999999999", std::nullopt},
      {"no count", std::nullopt},
  };
  for (const auto& c : counts) EXPECT_EQ(readPulseCount(c.text), c.count) << c.text;
}

TEST(PulseRatioSearch, LogsEveryImprovementAndKeepsTheEarlierOfEqualPairs) {
  std::vector<std::string> lines;
  const PulseRatio r = findPulseRatio(0.5, [&](const std::string& l) { lines.push_back(l); });
  EXPECT_EQ(r.numerator, 2);
  EXPECT_EQ(r.denominator, 4);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "0/3 = 0.0000 (0.5000000)");
  EXPECT_EQ(lines.back(), "2/4 = 0.5000 (0.0000000)");
  // 1/3 (error 1/6) improves on 0/3; 2/3 has the same error and is not logged.
  EXPECT_EQ(lines[1], "1/3 = 0.3333 (0.1666667)");
  EXPECT_EQ(lines.size(), 3u);
}

struct Calibration : Batch {
  // The unit's answers to the calibration's commands.
  std::string pinBefore = "IOPIN = 00000000 ";
  std::string pinAfter = "IOPIN = 02000001 ";
  std::string pulses = "pulses=11200 ";
  bool unitReplies = true;
  std::size_t cmdScan = 0;

  Calibration() {
    ui.display = true;
    timeline.clear();
  }
  // Plays the unit: "26o" gives the pin word; "26o6n" the pin word and the
  // count of the stroke down; "6n" the count of the stroke up.
  void answer() {
    const std::string sent = inkStream.substr(cmdScan);
    cmdScan = inkStream.size();
    if (!unitReplies) return;
    if (sent.find("26o6n") != std::string::npos) serial.reply(pinAfter + pulses);
    else if (sent.find("26o") != std::string::npos) serial.reply(pinBefore);
    else if (sent.find("6n") != std::string::npos) serial.reply(pulses);
  }
  void calibrate(int ms = 20000) {
    ui.answers.push_back(OperatorUi::Answer::Yes);
    core.controls.at("Calibratepulses1").click();
    scan();
    for (int t = 0; t < ms; t += 10) {
      clock.advance(10);
      scan();
      answer();
    }
  }
};

TEST_F(Calibration, TwoStrokesThenTheRatioGoesToTheUnitAndIntoInkjetIni) {
  core.s.InkjetIni = "13o 7,8o3,9o 5,2t";
  core.s.reversdir = true;
  calibrate();
  EXPECT_EQ(ui.questions.back(), "are you sure you want to calibrate pulses per mm.\n This  might take a minute");
  // travel: 140 mm at 3000 mm/min and a second = 3800 ms, so the stroke
  // interval is 4000 ms.
  EXPECT_EQ(until("no such entry"),
            (std::vector<std::string>{"0 g:G0 X133.00 Y220.00 F3000", "4000 g:G0 X133.00 Y80.00 F3000",
                                      "8100 g:G0 X133.00 Y220.00 F3000"}));
  // 11200 pulses over 140 mm: 80 pulses/mm, 6.7733 pulses per dot.
  EXPECT_TRUE(logHas("searching numerator and denominator for 6.7733"));
  EXPECT_NE(inkStream.find("26o"), std::string::npos);
  // 508/75 is exact.
  const std::string cmd = " 75,8o508,9o";
  EXPECT_TRUE(logHas("508/75 = 6.7733 (0.0000000)"));
  EXPECT_NE(inkStream.find(cmd), std::string::npos) << legible(inkStream);
  EXPECT_EQ(core.s.InkjetIni, "13o 5,2t" + cmd);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"calibrated to 80 pulses/mm"});
  EXPECT_TRUE(logHas("  80 pulses/mm"));
  EXPECT_TRUE(core.settingsModified());
  // Bit 25 set: reversdir false; bit 0 changed: the pin is connected.
  EXPECT_FALSE(core.s.reversdir);
  EXPECT_FALSE(logHas("DIR PIN NOT CONNECTED"));
  EXPECT_EQ(batch.calibStep, 0);
  EXPECT_FALSE(core.timers.at("PulsCalib").enabled());
  EXPECT_FALSE(happened("save settings"));
}

TEST_F(Calibration, TheCommandsGoOutAtTheirSteps) {
  ui.answers.push_back(OperatorUi::Answer::Yes);
  batch.startPulseCalibration();
  scan();
  std::vector<std::string> sent;
  for (int t = 0; t <= 12300; t += 10) {
    const std::size_t before = inkStream.size();
    clock.advance(10);
    scan();
    answer();
    if (inkStream.size() > before)
      sent.push_back(plat::format("%d %s", int(clock.tickMs() - t0), inkStream.substr(before)));
  }
  EXPECT_EQ(sent[0], "4000 26o");
  EXPECT_EQ(sent[1], "8000 26o6n");
  EXPECT_EQ(sent[2], "8200 6n");
  EXPECT_EQ(sent.size(), 4u);  // and the ratio at 12200
}

TEST_F(Calibration, AReadingThatIsMissingZeroOrStaleStoresNothing) {
  struct Case {
    const char* name;
    std::function<void(Calibration&)> arrange;
    const char* why;
  };
  const Case cases[] = {
      {"no count", [](Calibration& c) { c.pulses = "ok "; }, "no \"pulses=\" count"},
      {"a count of 0", [](Calibration& c) { c.pulses = "pulses=0 "; }, "counted no pulses"},
      {"no stroke", [](Calibration& c) { c.core.s.yvLow = c.core.s.yvHi; }, "yvHi and yvLow are equal"},
      {"a count from an earlier calibration only",
       [](Calibration& c) {
         c.serial.reply("pulses=11200 IOPIN = 02000001 ");
         c.unitReplies = false;
       },
       "no \"pulses=\" count"},
      {"too few pulses for a ratio", [](Calibration& c) { c.pulses = "pulses=1 "; }, "too few for a ratio"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Calibration t;
    t.core.s.InkjetIni = "13o 7,8o3,9o";
    c.arrange(t);
    t.calibrate();
    EXPECT_EQ(t.core.s.InkjetIni, "13o 7,8o3,9o");
    EXPECT_EQ(t.inkStream.find(",8o"), std::string::npos);
    ASSERT_EQ(t.ui.messages.size(), 1u);
    EXPECT_NE(t.ui.messages[0].find("pulse calibration failed: "), std::string::npos);
    EXPECT_NE(t.ui.messages[0].find(c.why), std::string::npos) << t.ui.messages[0];
    EXPECT_FALSE(t.core.settingsModified());
    EXPECT_EQ(t.batch.calibStep, 0);
  }
}

TEST_F(Calibration, DirectionPinAndReverseBit) {
  struct Case {
    const char* before;
    const char* after;
    bool reversdir;
    bool notConnected;
  };
  const Case cases[] = {
      {"IOPIN = 00000001 ", "IOPIN = 00000001 ", true, true},
      {"IOPIN = 00000000 ", "IOPIN = 00000001 ", true, false},
      {"IOPIN = 00000000 ", "IOPIN = 02000000 ", false, true},
      // No word before the strokes: nothing to compare.
      {"", "IOPIN = 00000000 ", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.before) + "/" + c.after);
    Calibration t;
    t.core.s.reversdir = !c.reversdir;
    t.pinBefore = c.before;
    t.pinAfter = c.after;
    t.calibrate();
    EXPECT_EQ(t.core.s.reversdir, c.reversdir);
    EXPECT_EQ(t.logHas("DIR PIN NOT CONNECTED"), c.notConnected);
  }
  // No pin word at all: reversdir is left alone.
  Calibration t;
  t.core.s.reversdir = true;
  t.pinBefore = t.pinAfter = "";
  t.calibrate();
  EXPECT_TRUE(t.core.s.reversdir);
}

TEST_F(Calibration, HomesWhenTheMotionLinkIsClosedAndSavesWithIniAutoSave) {
  marlin.marlinLinkOpen = false;
  core.s.IniAutoSave = true;
  calibrate();
  EXPECT_EQ(timeline.front(), "0 home");
  EXPECT_TRUE(happened("save settings"));
}

TEST_F(Calibration, RefusedWhileAPrintRuns) {
  seq.start();
  ASSERT_TRUE(seq.isBusy());
  const std::size_t lines = gcodes.size();
  ui.answers.push_back(OperatorUi::Answer::Yes);
  batch.startPulseCalibration();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"pulse calibration: not while a print runs"});
  EXPECT_FALSE(core.timers.at("PulsCalib").enabled());
  EXPECT_EQ(gcodes.size(), lines);
}

}  // namespace
