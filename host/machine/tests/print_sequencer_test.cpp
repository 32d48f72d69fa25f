// The print sequencer on the manual clock against fakes of both links: the
// exact G-code lines and jetting bytes of a hand-built job, the gate,
// pause, abort, dry run, starting and halting layers, progress, the end of
// the print, and what a broken file or a silent machine does.
#include <gtest/gtest.h>

#include "host/jobdata/build_time.h"
#include "host/machine/tests/sequencer_fixture.h"

using namespace ph;

namespace {

// Pieces of the jetting stream, as legible() shows them.
const std::string kPurge = " <96><FF*22><A0><FF*32>lA";  // 0x20, 22 and 32 x 0xFF, 108 unchanged
std::string powderOnly(int start, int time) {
  return plat::format("2,2n%d,%dp108,24n973j", start, time) + kPurge + "6<0A><03><80><18><03><BF>";
}
std::string dataAnnouncement(int start, int time) {
  return plat::format("2,2n%d,%dp973j", start, time) + kPurge + "<0A>?<03><80>";  // 16330 zeros
}
const std::string kReturn = "<BF>3n108,24n973j";                  // end byte, empty return pass
const std::string kAdvance = "<BF>3n108,24n973j<18><03><BF>";     // layer advance: an empty pass

const std::string kStartCodes = "M110|M201 X1000 Y1000|M202 X1000 Y1000|G92 Z0|M202 X1000 Y1000|G28 X0 Y0";

struct Sequencer : SequencerFixture {
  // Two layers, each a data stretch and the layer's last (empty) stretch.
  void writeTwoLayerJob() {
    writeDmc(dmcBytes({{'{', "05", "\x81\x07\x20"}, {'}', "00", ""}, {'{', "0A", "\x82\x01\x02\x30"}, {'}', "00", ""}},
                      2));
  }
  // The whole stream of a fresh print of the two-layer job.
  static std::string twoLayerInk() {
    const std::string layerEnd = kReturn + "<BF>8t" + dataAnnouncement(226, 500) + "<BF>" + kAdvance;
    return " 12t 999j17n12n18n" + powderOnly(0, 800) + kReturn + "<BF>" + dataAnnouncement(600, 500) +
           "<81><07> <BF>" + layerEnd + powderOnly(307, 800) + kReturn + "<BF>" + dataAnnouncement(600, 500) +
           "<82><01><02>0<BF>" + layerEnd + "<BF>6000,16n";
  }
  static std::string twoLayerMoves() {
    const std::string layer =
        "G0 X133.00 Y80.00 F8000|G0 X127.58 Y220.00 F8000|G0 X127.58 Y129.80 F8000|G0 X122.16 Y220.00 F8000|"
        "G0 X122.16 Y129.80 F8000|";
    return layer + "G0 X122.16 Y130.00 Z0.25 F8000|G0 X133.00 Y220.00 F8000|" + layer +
           "G0 X122.16 Y130.00 Z0.50 F8000|G0 X133.00 Y220.00 F8000";
  }
  void start() {
    openLinks();
    seq.start();
  }
  // Runs until the print has taken a stretch of data (the first data pass).
  void runToFirstData() {
    for (int t = 0; t < 20000 && seq.run.stretchesRead == 0; t += 10) run(10);
    run(300);
  }
};

TEST_F(Sequencer, TwoLayerJobSendsExactlyItsLinesAndBytes) {
  writeTwoLayerJob();
  start();
  ASSERT_TRUE(seq.isBusy());
  EXPECT_EQ(awake.requests, 1);
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(gcodeText(), kStartCodes + "|" + twoLayerMoves());
  EXPECT_EQ(legible(inkStream), twoLayerInk());
  EXPECT_TRUE(logHas("start (model)"));
  EXPECT_TRUE(logHas(" L1  L2 "));
  EXPECT_TRUE(logHas("fin (model in 0m"));
  // The ended print's progress is not left standing.
  EXPECT_EQ(core.controls.at("perclabel").caption, "");
  // Every data byte counted once: what the unit took after each "973j" up
  // to its end byte.
  long long count = 0, sum = 0;
  for (std::size_t p = 0; (p = inkStream.find("973j", p)) != std::string::npos;) {
    p += 4;
    // Walk the data grammar to the end code.
    while (p < inkStream.size()) {
      const auto b = static_cast<unsigned char>(inkStream[p]);
      std::size_t n = 1;
      if (b >= 0x81 && b <= 0xBC) n += b - 0x80;
      else if (b >= 0xC0) n += 1;
      for (std::size_t i = 0; i < n; ++i) {
        ++count;
        sum += static_cast<unsigned char>(inkStream[p + i]);
      }
      p += n;
      if (b == 0xBF) break;
    }
  }
  EXPECT_EQ(ink.inkByteCount, count);
  EXPECT_EQ(ink.inkCheckSum, sum);
  EXPECT_FALSE(seq.isBusy());
  EXPECT_FALSE(awake.held);
}

TEST_F(Sequencer, TheUnitMayBeAtMostTwoStretchesBehind) {
  writeTwoLayerJob();
  unitAnswers = false;
  start();
  run(5000);
  // The third announced pass waits for the first acknowledgement.
  EXPECT_EQ(seq.run.inkStretchesSent, 3);
  const std::size_t lines = gcodes.size();
  run(2000);
  EXPECT_EQ(gcodes.size(), lines);
  unitAnswers = true;
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(legible(inkStream), twoLayerInk());
}

TEST_F(Sequencer, AMachineThatStopsAnsweringLeavesThePrintPausedWithALogLine) {
  writeTwoLayerJob();
  marlinAnswers = false;
  start();
  run(9000);
  // One line may be on its way unacknowledged; the next waits.
  EXPECT_EQ(gcodeText(), "M110|M201 X1000 Y1000");
  EXPECT_TRUE(core.timers.at("MarlinTimer").enabled());
  run(2000);
  EXPECT_FALSE(core.timers.at("MarlinTimer").enabled());
  EXPECT_TRUE(logHas("the machine never answered since its link opened (2 G-code lines sent): print paused"));
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(core.controls.at("pause").checked);
  EXPECT_TRUE(seq.isBusy());
  EXPECT_FALSE(awake.held);
  // The machine is back; the operator goes on and the print finishes.
  marlinAnswers = true;
  marlinPort.reply("ok\nok\n");
  core.controls.at("pause").checked = false;
  seq.resume();
  EXPECT_TRUE(awake.held);
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(gcodeText(), kStartCodes + "|" + twoLayerMoves());
}

TEST_F(Sequencer, AMachineThatAnswersSlowlyIsWaitedFor) {
  writeTwoLayerJob();
  start();
  run(1500);
  // A long dwell: nothing comes back for 25 s, and the print goes on.
  marlinAnswers = false;
  marlin.startCodeSequence("G4 P25000");
  run(300);
  ASSERT_NE(gcodeText().find("G4 P25000"), std::string::npos);
  run(24000);
  marlinAnswers = true;
  marlinPort.reply("ok\n");
  ASSERT_TRUE(runToEnd());
  EXPECT_FALSE(logHas("no answer"));
  EXPECT_TRUE(logHas("fin (model"));
}

TEST_F(Sequencer, AStreamThatCannotStartAtOnceGoesOnWhenTheLineTakesData) {
  // 1200 bytes of data in one stretch: three blocks.
  std::string data;
  for (int i = 0; i < 1200; ++i) data += char(0xC1 + i % 20);
  writeDmc(dmcBytes({{'{', "05", data}, {'}', "00", ""}}, 1));
  layout.printpages = 1;
  start();
  // The output queue is full when the stretch's stream starts.
  for (int t = 0; t < 20000 && seq.run.stretchesRead == 0; t += 10) {
    serial.queued = seq.run.inkStretchesSent >= 1 ? 150 : 0;
    run(10);
  }
  run(3000);
  EXPECT_TRUE(core.timers.at("inktransfer").enabled());
  EXPECT_EQ(seq.run.bytesLeft, 1200);
  const std::size_t lines = gcodes.size();
  serial.queued = 0;
  ASSERT_TRUE(runToEnd());
  EXPECT_GT(gcodes.size(), lines);
  EXPECT_NE(inkStream.find(data + "\xBF"), std::string::npos);
}

TEST_F(Sequencer, HeldOffDataWaitsAndTheGateWithIt) {
  std::string data(1500, char(0xC3));
  writeDmc(dmcBytes({{'{', "05", data}, {'}', "00", ""}}, 1));
  layout.printpages = 1;
  start();
  for (int t = 0; t < 20000 && seq.run.stretchesRead == 0; t += 10) run(10);
  // Mid-stream the unit holds the line off.
  serial.ctsOn = false;
  const std::size_t lines = gcodes.size();
  const std::size_t bytes = inkStream.size();
  run(3000);
  EXPECT_TRUE(core.timers.at("inktransfer").enabled());
  EXPECT_EQ(gcodes.size(), lines);
  EXPECT_EQ(inkStream.size(), bytes);
  EXPECT_EQ(core.controls.at("xofflamp").caption, "black");
  serial.ctsOn = true;
  ASSERT_TRUE(runToEnd());
  EXPECT_NE(inkStream.find(data + "\xBF"), std::string::npos);
}

TEST_F(Sequencer, PauseStopsAtTheStretchEndAndContinueGoesOn) {
  writeTwoLayerJob();
  start();
  runToFirstData();
  core.controls.at("pause").checked = true;
  seq.resume();  // only the wish
  EXPECT_FALSE(seq.paused());
  ASSERT_TRUE(runToEnd(5000));
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(seq.isBusy());
  EXPECT_TRUE(logHas("paused"));
  EXPECT_FALSE(awake.held);
  EXPECT_NE(legible(inkStream).find("<BF>6000,16n"), std::string::npos);
  clock.advance(5000);
  clearInk();
  core.controls.at("pause").checked = false;
  seq.resume();
  EXPECT_TRUE(logHas("continue"));
  EXPECT_GE(seq.run.pausedMs, 5000);
  EXPECT_EQ(seq.run.pausedMs, clock.tickMs() - seq.run.pauseTick);
  EXPECT_EQ(inkStream + serial.out, "  1,17n");
  EXPECT_EQ(awake.requests, 2);
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("fin (model"));
  EXPECT_FALSE(seq.isBusy());
}

TEST_F(Sequencer, UncheckingPauseWithoutAPauseDoesNothing) {
  writeTwoLayerJob();
  start();
  run(300);
  const std::size_t lines = log().size();
  seq.resume();
  EXPECT_EQ(log().size(), lines);
  EXPECT_TRUE(core.timers.at("MarlinTimer").enabled());
}

TEST_F(Sequencer, AbortStopsAtTheNextStretchEnd) {
  core.controls.at("multiPowderlayer1").checked = true;
  writeTwoLayerJob();
  start();
  runToFirstData();
  seq.abortPrint("operator");
  EXPECT_TRUE(printSteps.meshAborted);
  EXPECT_FALSE(core.controls.at("multiPowderlayer1").checked);
  ASSERT_TRUE(runToEnd(5000));
  EXPECT_TRUE(logHas("aborted"));
  EXPECT_FALSE(logHas("fin ("));
  EXPECT_FALSE(seq.isBusy());
  EXPECT_FALSE(awake.held);
}

TEST_F(Sequencer, AbortWhilePausedEndsThePause) {
  writeTwoLayerJob();
  start();
  runToFirstData();
  core.controls.at("pause").checked = true;
  ASSERT_TRUE(runToEnd(5000));
  ASSERT_TRUE(seq.paused());
  seq.abortPrint("operator");
  EXPECT_TRUE(logHas("aborted"));
  EXPECT_FALSE(seq.paused());
  EXPECT_FALSE(core.controls.at("pause").checked);
  EXPECT_FALSE(seq.isBusy());
  EXPECT_FALSE(awake.held);
}

TEST_F(Sequencer, ANewPrintStartsFromScratchAfterAnAbortedOne) {
  writeTwoLayerJob();
  // An aborted dry run, in the middle of its layer.
  openLinks();
  seq.armDryRun();
  seq.start();
  run(400);
  seq.abortPrint("operator");
  ASSERT_TRUE(runToEnd(5000));
  EXPECT_FALSE(seq.dryRun());
  // An aborted real print, in the middle of its first layer.
  seq.start();
  runToFirstData();
  seq.abortPrint("operator");
  ASSERT_TRUE(runToEnd(5000));
  // The next print sends what a fresh one sends, from the platform height
  // of a fresh one (Z reset or home set it before a print).
  marlin.platformZ = 0;
  gcodes.clear();
  clearInk();
  seq.start();
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(legible(inkStream), twoLayerInk());
  EXPECT_EQ(gcodeText(), twoLayerMoves());
}

TEST_F(Sequencer, ADryRunSendsNothingToTheUnit) {
  writeTwoLayerJob();
  openLinks();
  seq.armDryRun();
  EXPECT_EQ(marlin.queuedCodes(), core.s.startgcodes);
  EXPECT_EQ(marlin.Marlinlin, 0);
  EXPECT_EQ(marlin.nrMarlinok, 0);
  seq.start();
  ASSERT_TRUE(runToEnd());
  // Only the stop codes of the end.
  EXPECT_EQ(inkStream, "\xBF" "6000,16n");
  // The powder-only passes of one layer.
  EXPECT_EQ(gcodeText(), kStartCodes +
                             "|G0 X133.00 Y80.00 F8000|G0 X127.58 Y220.00 F8000|G0 X127.58 Y80.00 F8000|"
                             "G0 X127.58 Y130.00 Z0.25 F8000|G0 X133.00 Y220.00 F8000");
  EXPECT_FALSE(seq.dryRun());
  EXPECT_TRUE(logHas("fin (model"));
}

TEST_F(Sequencer, AHaltingLayerPausesEveryLayerFromThereOn) {
  writeDmc(dmcBytes({{'{', "05", "\x81\x07\x20"}, {'}', "00", ""}, {'{', "05", "\x81\x07\x20"}, {'}', "00", ""},
                     {'{', "05", "\x81\x07\x20"}, {'}', "00", ""}},
                    3));
  layout.printpages = 3;
  core.s.haltingLayer = 1;
  start();
  EXPECT_TRUE(logHas("Print until layer 1 ? yes (unattended)"));
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(core.s.pauseEachLayer);
  // The stop comes at the end of layer 2, after the advance to layer 2.
  EXPECT_TRUE(seq.paused());
  EXPECT_EQ(seq.run.printLayer, 2);
  core.controls.at("pause").checked = false;
  seq.resume();
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(seq.paused());
  EXPECT_EQ(seq.run.printLayer, 3);
}

TEST_F(Sequencer, AStartingLayerSkipsTheLayersBeforeIt) {
  writeTwoLayerJob();
  core.s.startinglayer = 1;
  start();
  ASSERT_TRUE(runToEnd());
  const std::string ink = legible(inkStream);
  EXPECT_EQ(ink.find("<81><07> "), std::string::npos);
  EXPECT_NE(ink.find("<82><01><02>0<BF>"), std::string::npos);
  EXPECT_EQ(seq.run.printLayer, 2);
  EXPECT_TRUE(logHas("fin (model"));
}

TEST_F(Sequencer, AStartingLayerPastTheEndStartsAtTheFirstLayer) {
  writeTwoLayerJob();
  core.s.startinglayer = 5;
  start();
  EXPECT_TRUE(logHas("startinglayer past EOF (5)"));
  run(3000);
  EXPECT_NE(legible(inkStream).find("<81><07> "), std::string::npos);
}

TEST_F(Sequencer, AStartAsksOnlyWhatDiffersFromAWholePrint) {
  writeTwoLayerJob();
  ui.display = true;
  openLinks();
  seq.start();
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(seq.isBusy());
  ASSERT_TRUE(runToEnd());
  core.s.startinglayer = 1;
  ui.answers = {OperatorUi::Answer::No};
  seq.start();
  EXPECT_EQ(ui.questions, std::vector<std::string>{"Start printing from layer 1 ?"});
  EXPECT_FALSE(seq.isBusy());
}

TEST_F(Sequencer, NothingStartsWithoutAJobOrAUnit) {
  writeTwoLayerJob();
  job.jobReady = false;
  seq.start();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"no file chosen, use open->stl/obj"});
  job.jobReady = true;
  seq.start();
  EXPECT_EQ(ui.messages.back(), "commport to inkjet not working");
  EXPECT_FALSE(seq.isBusy());
  EXPECT_EQ(awake.requests, 0);
}

TEST_F(Sequencer, ALayerThicknessMismatchStartsPaused) {
  writeTwoLayerJob();
  layout.layerThicknessDiffers = true;
  start();
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(core.controls.at("pause").checked);
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("paused"));
  EXPECT_EQ(seq.run.stretchesRead, 0);
}

TEST_F(Sequencer, TheEndAsksForTheStatusReportOnlyAfterAMinute) {
  writeTwoLayerJob();
  openLinks();
  for (int seconds : {59, 61}) {
    SCOPED_TRACE(seconds);
    clearInk();
    seq.start();
    // On the last layer's last stretch, the print is made older.
    for (int t = 0; t < 60000 && !(seq.run.layerEnds && seq.run.printLayer == 1); t += 10) run(10);
    seq.run.printStartTick = clock.tickMs() - seconds * 1000;
    ASSERT_TRUE(runToEnd());
    EXPECT_TRUE(logHas(plat::format("fin (model in %dm%02ds)", seconds / 60, seconds % 60)));
    EXPECT_EQ(inkStream.find(" 21o1r21r12t33t1o") != std::string::npos, seconds > 60);
  }
}

TEST_F(Sequencer, DryingFollowsTheEndInTheDualBoxSetUp) {
  for (int temperature : {60, 0}) {
    SCOPED_TRACE(temperature);
    writeTwoLayerJob();
    core.s.dualbox = 1;
    core.s.dryingtemperature = temperature;
    gcodes.clear();
    if (!marlin.marlinLinkOpen) openLinks();
    seq.start();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(gcodes.back() == "M140 S60", temperature == 60);
    EXPECT_EQ(gcodeText().find("M140"), temperature == 60 ? gcodeText().size() - 8 : std::string::npos);
  }
}

TEST_F(Sequencer, ProgressAndEta) {
  struct Case {
    int printpages, startinglayer, printLayer, step;
    std::int64_t ranMs, pausedMs;
    const char* label;
  };
  const Case cases[] = {
      // 4 stretches a layer: 10 of 40 is 25 %, after 80 s of printing.
      {10, 0, 2, 2, 100000, 20000, "2/10   (25%) eta: 4 min 00 s"},
      // Below 1 %: no estimate yet.
      {10, 0, 0, 0, 100000, 0, "0/10   (0%)"},
      // Nothing left to print between the starting layer and the end.
      {3, 3, 3, 1, 100000, 0, "3/3   (0%)"},
      // A long job's line is shown whole.
      {1200, 0, 1000, 0, 3600000, 0, "1000/1200   (83%) eta: 12 min 00 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    layout.printpages = c.printpages;
    core.s.startinglayer = c.startinglayer;
    seq.run.printLayer = c.printLayer;
    seq.run.progressStartTick = clock.tickMs();
    seq.run.pausedMs = c.pausedMs;
    clock.advance(c.ranMs);
    seq.run.stretchesRead = 7;
    layout.dmcStretchCount = 20;
    seq.showPrintProgress(c.step);
    EXPECT_EQ(core.controls.at("perclabel").caption, c.label);
    EXPECT_EQ(core.controls.at("LabStretch").caption, "7/20");
  }
}

TEST_F(Sequencer, AnEmptyRecordIsAnnouncedAndEndedWithoutData) {
  writeDmc(dmcBytes({{'{', "05", ""}, {'}', "00", ""}}, 1));
  layout.printpages = 1;
  start();
  ASSERT_TRUE(runToEnd());
  EXPECT_NE(legible(inkStream).find("<BF>" + dataAnnouncement(600, 500) + "<BF>" + kReturn), std::string::npos);
}

TEST_F(Sequencer, LongRecordsPassAtHalfSpeedAndWaitForTheirData) {
  struct Case {
    int inkBaudRate;
    bool dwell;
  };
  for (Case c : {Case{460800, false}, Case{1000, true}, Case{0, false}}) {
    SCOPED_TRACE(c.inkBaudRate);
    writeDmc(dmcBytes({{'{', "05", std::string(1001, char(0xC2))}, {'}', "00", ""}}, 1));
    layout.printpages = 1;
    core.s.halfSpeedBytes = 1000;
    ink.inkBaudRate = c.inkBaudRate;
    gcodes.clear();
    if (!marlin.marlinLinkOpen) openLinks();
    seq.start();
    ASSERT_TRUE(runToEnd());
    const std::string text = gcodeText();
    EXPECT_NE(text.find("G0 X127.58 Y129.80 F4000"), std::string::npos);
    EXPECT_EQ(text.find("G4 P") != std::string::npos, c.dwell);
  }
}

TEST_F(Sequencer, BackwardPassesCarryTheirShift) {
  struct Case {
    int bidiadjust;
    const char* announcement;
    const char* move;
  };
  const Case cases[] = {
      // Forward pass, back to where it ended one band on, the backward
      // pass, the next band.
      {-12, "3n756,24n973j",
       "G0 X127.58 Y129.80 F8000|G0 X122.16 Y129.80 F8000|G0 X122.16 Y220.00 F8000|G0 X116.74 Y220.00 F8000"},
      // A positive shift moves the head further in Y first.
      {30, "3n108,24n973j",
       "G0 X127.58 Y129.80 F8000|G0 X122.16 Y131.80 F8000|G0 X122.16 Y220.00 F8000|G0 X116.74 Y220.00 F8000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bidiadjust);
    // Powder code 0: the forward pass leaves no shift of its own.
    writeDmc(dmcBytes({{'{', "00", "\x81\x07\x20"}, {'<', "00", "\x81\x09\x20"}, {'}', "00", ""}}, 1));
    layout.printpages = 1;
    core.s.bidirectional = true;
    core.s.bidiadjust = c.bidiadjust;
    gcodes.clear();
    clearInk();
    if (!marlin.marlinLinkOpen) openLinks();
    seq.start();
    ASSERT_TRUE(runToEnd());
    EXPECT_NE(legible(inkStream).find(std::string(c.announcement) + "<81><09> <BF>"), std::string::npos);
    EXPECT_NE(gcodeText().find(c.move), std::string::npos) << gcodeText();
  }
}

TEST_F(Sequencer, PreInkCodesAtStopsAndLayerAdvances) {
  writeTwoLayerJob();
  core.s.preInkGcodes = "G4 P1/M400";
  start();
  ASSERT_TRUE(runToEnd());
  const std::string text = gcodeText();
  // The whole sequence after the layer advance, the first code at the end.
  EXPECT_NE(text.find("G0 X122.16 Y130.00 Z0.25 F8000|G0 X133.00 Y220.00 F8000|G4 P1|M400"), std::string::npos);
  EXPECT_EQ(gcodes.back(), "G4 P1");
  // "@" and a time: the roller stops that long after each use.
  gcodes.clear();
  core.s.preInkGcodes = "@2000";
  seq.start();
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(core.timers.at("RollStop").enabled());
  EXPECT_EQ(core.timers.at("RollStop").interval(), 2000);
  run(1990);
  EXPECT_NE(gcodes.back(), "M106 S0");
  run(20);
  EXPECT_EQ(gcodes.back(), "M106 S0");
}

TEST_F(Sequencer, ABrokenFileEndsThePrintWithAClearLine) {
  struct Case {
    std::string file;
    const char* line;
    bool starts;
  };
  const std::string whole = dmcBytes({{'{', "05", std::string(700, char(0xC1))}, {'}', "00", ""}}, 1);
  const std::size_t firstRecord = kDmcDataOffset;
  const Case cases[] = {
      // The file ends inside the record's data.
      {whole.substr(0, firstRecord + 10 + 300), "temp.dmc ends inside a stretch record (400 bytes missing): the print ends",
       true},
      // ... inside a stretch header.
      {whole.substr(0, firstRecord + 5), "temp.dmc ends inside a stretch header (5 of 10 bytes): the print ends", true},
      // ... inside the settings record.
      {whole.substr(0, 100), "temp.dmc has no whole jetting-data header: nothing printed", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    writeDmc(c.file);
    layout.printpages = 1;
    if (!marlin.marlinLinkOpen) openLinks();
    const std::size_t from = log().size();
    seq.start();
    EXPECT_EQ(seq.isBusy(), c.starts);
    ASSERT_TRUE(runToEnd());
    EXPECT_NE(logText(from).find(c.line), std::string::npos) << logText(from);
    if (c.starts) {
      EXPECT_NE(logText(from).find("aborted"), std::string::npos);
    }
    EXPECT_FALSE(seq.isBusy());
    EXPECT_FALSE(awake.held);
  }
}

// A stretch header that cannot be read is a failure: the print stops
// aborted, never "fin", and the log names the file and the offset.
TEST_F(Sequencer, ADamagedStretchHeaderStopsThePrint) {
  struct Case {
    const char* what;
    std::size_t at;      // offset in the first record's header
    std::string bytes;   // written there
    const char* header;  // as the log shows it
  } cases[] = {
      {"a bad type byte", 9, "x", "05000013x"},
      {"a length with letters", 3, "00ab13", "0500ab13{"},
      {"a length below a header's", 3, "000005", "05000005{"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = dmcBytes({{'{', "05", "\x81\x07\x20"}, {'{', "05", "\x81\x07\x20"}, {'}', "00", ""}}, 5);
    const std::size_t second = kDmcDataOffset + 13;
    file.replace(second + c.at, c.bytes.size(), c.bytes);
    writeDmc(file);
    layout.printpages = 5;
    if (!marlin.marlinLinkOpen) openLinks();
    const std::size_t from = log().size();
    seq.start();
    ASSERT_TRUE(runToEnd());
    const std::string text = logText(from);
    EXPECT_NE(text.find(" sync error "), std::string::npos) << text;
    EXPECT_NE(text.find(plat::format("temp.dmc: the stretch header at offset %d cannot be read (%s): the print stops",
                                     int(second), c.header)),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("aborted"), std::string::npos) << text;
    EXPECT_EQ(text.find("fin ("), std::string::npos) << text;
    EXPECT_TRUE(core.abortRequested());
    EXPECT_EQ(seq.run.stretchesRead, 2);
    EXPECT_FALSE(seq.isBusy());
    // The unit is left reading commands.
    EXPECT_FALSE(unitInData);
  }
}

// Pausing and aborting leave the unit reading commands, whatever step the
// print was at; continuing or starting again sends nothing into pass data.
TEST_F(Sequencer, PauseAndAbortLeaveNoPassOpen) {
  writeTwoLayerJob();
  openLinks();
  for (int at : {0, 1, 2, 3, 4, 5, 6}) {
    SCOPED_TRACE(at);
    for (const bool abort : {false, true}) {
      clearInk();
      seq.start();
      // Stop after `at` passes were announced.
      for (int t = 0; t < 20000 && seq.run.inkStretchesSent < at; t += 10) run(10);
      if (abort) seq.abortPrint("operator");
      else core.controls.at("pause").checked = true;
      ASSERT_TRUE(runToEnd(20000));
      EXPECT_FALSE(unitInData);
      EXPECT_TRUE(seq.paused() != abort);
      if (!abort) {
        core.controls.at("pause").checked = false;
        seq.resume();
        collect();
        EXPECT_EQ(inkStream.substr(inkStream.size() - 7), "  1,17n");
        EXPECT_FALSE(unitInData);
        ASSERT_TRUE(runToEnd());
        EXPECT_TRUE(logHas("fin (model"));
      }
      EXPECT_EQ(ink.inkStretchesDone, seq.run.inkStretchesSent);
      EXPECT_FALSE(seq.isBusy());
    }
  }
}

// Replies to lone end bytes are no finished stretches: with replies that
// come late, the host stays at most two passes ahead of what the unit
// finished.
TEST_F(Sequencer, LateRepliesKeepTheHostAtMostTwoPassesAhead) {
  writeDmc(dmcBytes({{'{', "05", "\x81\x07\x20"}, {'{', "05", "\x81\x07\x20"}, {'{', "05", "\x81\x07\x20"},
                     {'}', "00", ""}, {'{', "05", "\x81\x07\x20"}, {'}', "00", ""}},
                    2));
  layout.stretchesPerLayer = 5;
  start();
  int most = 0;
  for (int t = 0; t < 600000 && (core.timers.at("MarlinTimer").enabled() || core.timers.at("inktransfer").enabled());
       t += 10) {
    // The unit answers what it read up to 5 s ago.
    unitAnswers = t % 5000 == 0;
    run(10);
    most = std::max(most, seq.run.inkStretchesSent - ink.inkStretchesDone);
    ASSERT_LE(ink.inkStretchesDone, seq.run.inkStretchesSent);
  }
  EXPECT_LE(most, 3);
  EXPECT_TRUE(logHas("fin (model"));
  unitAnswers = true;
  run(100);
  EXPECT_EQ(ink.inkStretchesDone, seq.run.inkStretchesSent);
  // Every end byte was answered, lone ones too, and only passes counted.
  EXPECT_GT(unitEnds, ink.inkStretchesDone);
}

// An abort ends the print within a bounded time, with a log line, also
// when the machines never let it reach a stretch end.
TEST_F(Sequencer, AbortEndsThePrintInBoundedTimeWhateverTheLinksDo) {
  struct Case {
    const char* what;
    bool marlin, unit, cts;
  } cases[] = {
      {"Marlin silent", false, true, true},
      {"the unit silent", true, false, true},
      {"the unit holding the line off mid-stream", true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string data(3000, char(0xC3));
    writeDmc(dmcBytes({{'{', "05", data}, {'}', "00", ""}}, 1));
    layout.printpages = 1;
    marlinAnswers = unitAnswers = true;
    serial.ctsOn = true;
    if (!marlin.marlinLinkOpen) openLinks();
    clearInk();
    const std::size_t from = log().size();
    seq.start();
    for (int t = 0; t < 20000 && seq.run.stretchesRead == 0; t += 10) run(10);
    marlinAnswers = c.marlin;
    unitAnswers = c.unit;
    serial.ctsOn = c.cts;
    run(50);
    seq.abortPrint("operator");
    ASSERT_TRUE(runToEnd(PrintSequencer::kAbortBoundMs + 200));
    EXPECT_NE(logText(from).find("aborted"), std::string::npos) << logText(from);
    EXPECT_FALSE(seq.isBusy());
    EXPECT_FALSE(ink.passDataOpen());
    // What was owed is answered now and forgotten by the next print.
    marlinAnswers = unitAnswers = true;
    serial.ctsOn = true;
    marlinPort.reply("ok\nok\nok\nok\n");
    run(500);
  }
  // A second print after them ends as a whole print does.
  marlin.nrMarlinok = marlin.Marlinlin;
  writeTwoLayerJob();
  layout.printpages = 2;
  seq.start();
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("fin (model"));
}

// Jetting data that did not reach the unit is never taken as sent: the
// print stops aborted. A link that is down with nothing outstanding is
// waited for.
TEST_F(Sequencer, ALostUnitLinkStopsThePrintOrIsWaitedFor) {
  writeTwoLayerJob();
  start();
  runToFirstData();
  // The unit's port goes while a pass is unanswered.
  unitAnswers = false;
  run(200);
  ASSERT_GT(seq.run.inkStretchesSent, ink.inkStretchesDone);
  serial.event(LinkEvent::Disconnected);
  ASSERT_TRUE(runToEnd(500));
  EXPECT_TRUE(logHas("the jetting unit's connection went away with "));
  EXPECT_TRUE(logHas(": jetting data was lost, the print stops"));
  EXPECT_TRUE(logHas("aborted"));
  EXPECT_FALSE(logHas("fin ("));
  EXPECT_TRUE(core.abortRequested());

  // Down between steps, nothing owed: the print waits, then goes on.
  unitAnswers = true;
  run(200);
  marlin.nrMarlinok = marlin.Marlinlin;
  gcodes.clear();
  clearInk();
  seq.start();
  run(300);
  serial.opened = false;
  run(3000);
  EXPECT_TRUE(logHas("jetting unit not connected: the print waits for it"));
  EXPECT_TRUE(core.timers.at("MarlinTimer").enabled());
  serial.opened = true;
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("jetting unit connected again: the print goes on"));
  EXPECT_TRUE(logHas("fin (model"));
  EXPECT_FALSE(core.abortRequested());
}

// The head waits for data that takes longer to stream than its pass:
// the stream sends at most 512 bytes per 20 ms tick, whatever the baud.
TEST_F(Sequencer, TheDwellAllowsForTheStreamsOwnPace) {
  writeDmc(dmcBytes({{'{', "05", std::string(40000, char(0xC2))}, {'}', "00", ""}}, 1));
  layout.printpages = 1;
  ink.inkBaudRate = 460800;
  core.s.dataGraceTime = 0;
  start();
  ASSERT_TRUE(runToEnd());
  const std::string text = gcodeText();
  const auto p = text.find("G4 P");
  ASSERT_NE(p, std::string::npos) << text;
  const int travel = int(1000 * moveTime(core.s.yvHi - layout.yvLim, core.s.movespeed, 1000.0));
  const int stream = (40010 + 511) / 512 * 20;
  EXPECT_EQ(std::stoi(text.substr(p + 4)), stream - travel);
}

TEST_F(Sequencer, PowderCodesAreDigitsAndCapitalLetters) {
  for (char c : std::string("09AZ")) EXPECT_TRUE(isPowderCodeChar(c)) << c;
  for (char c : std::string("a/:@[ \xBF")) EXPECT_FALSE(isPowderCodeChar(c)) << c;
  writeDmc(dmcBytes({{'{', "a0", "\x81\x07\x20"}, {'}', "Z0", ""}}, 1));
  layout.printpages = 1;
  start();
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("invalid buf (a0000013{) ib 3"));
  EXPECT_FALSE(logHas("invalid buf (Z0"));
}

TEST_F(Sequencer, ThePrimingCheckRunsBetweenLayersWhenItIsThere) {
  writeTwoLayerJob();
  core.s.primeCheckLayer = 1;
  start();
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(printSteps.primeChecks, 1);
  EXPECT_EQ(printSteps.primeTravelMs, seq.run.primeTravelMs);
  EXPECT_GT(printSteps.primeTravelMs, 400);
  EXPECT_TRUE(seq.primingCheck());
  EXPECT_TRUE(seq.isBusy());
  EXPECT_NE(inkStream.find("0,0t"), std::string::npos);
  // The check is done: the print goes on.
  seq.resumeTicking();
  seq.primeCheckFinished();
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("fin (model"));
}

TEST_F(Sequencer, ATickEnteredAgainStopsTheTimerAndSaysSo) {
  writeTwoLayerJob();
  start();
  run(300);
  // A modal wait inside a step lets the next tick in.
  marlin.busyWait = [&](int) { seq.step(); };
  marlin.startCodeSequence("@@t5");
  run(100);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"error in timer function (MarlinTimer)"});
  EXPECT_FALSE(core.timers.at("MarlinTimer").enabled());
}

TEST_F(Sequencer, IsBusyWhileAnythingOfAPrintIsUnderWay) {
  EXPECT_FALSE(seq.isBusy());
  core.controls.at("pause").checked = true;
  EXPECT_TRUE(seq.isBusy());
  core.controls.at("pause").checked = false;
  // Between layers, the priming check runs and the print's tick stands.
  writeTwoLayerJob();
  core.s.primeCheckLayer = 1;
  start();
  ASSERT_TRUE(runToEnd());
  ASSERT_TRUE(seq.primingCheck());
  EXPECT_TRUE(seq.isBusy());
  // A failed check leaves the print paused.
  seq.pauseAtStretchEnd();
  seq.primeCheckFinished();
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(seq.isBusy());
}

TEST_F(Sequencer, GcodeTemplates) {
  layout.djmaxline = 100;
  struct Case {
    const char* text;
    int skip;
    const char* expanded;
  };
  const Case cases[] = {
      {"G0 X10+%skip% F100", 5, "G0 X15 F100"},
      {"G0 X10-%skip% F100", 5, "G0 X5 F100"},
      {"G0 X10+%skip%", 0, "G0 X10+%skip%"},
      {"G0 Y%yLim%/G28", 0, "G0 Y62/G28"},  // 130 - 100 x 8 dots
      {"G0 Y150.7 F3000/G0 Y20 F100", 7, "G0 Y150 F3000/G0 Y13 F100"},
      {"M106 S255", 7, "M106 S255"},
  };
  for (const Case& c : cases) EXPECT_EQ(seq.expandGcodeTemplate(c.text, c.skip), c.expanded) << c.text;
}

TEST_F(Sequencer, TheLayerCodesFollowTheLayersLastStretch) {
  writeTwoLayerJob();
  core.s.LayerGcodes = "G0 Y%yLim%/G0 X%p% Y100/G0 Y220";
  core.s.spoonPowder = true;
  core.s.powderPercentage = 40;
  layout.djmaxline = 100;
  start();
  ASSERT_TRUE(runToEnd());
  EXPECT_NE(gcodeText().find("G0 Y62|G0 X0.4 Y100|G4 P99|G0 Y220"), std::string::npos) << gcodeText();
}

// ---------------------------------------------------------------- motion

TEST_F(Sequencer, MovesGoThroughTheTransform) {
  openLinks();
  core.s.transformxy = {0, 0, 1, 0, 0, 2};  // 2 is -1: Y mirrored
  motion.moveXY(10, 20, 100);
  core.s.transformxy = {5, 7, 0, 1, 1, 0};  // swapped and shifted
  motion.moveXY(10, 20, 100);
  marlin.m18zAccepted = true;
  motion.moveXYZ(1, 2, 3.5, 200);
  collect();
  EXPECT_EQ(gcodeText(), "G0 X10.00 Y-20.00 F100|G0 X25.00 Y17.00 F100|G0 X7.00 Y8.00 Z3.50 F200|M18 Z");
}

TEST_F(Sequencer, PlateHeatingTakesNineSteps) {
  openLinks();
  Settings& s = core.s;
  s.plateTime = 4000;
  motion.setHeadX(100);
  bool heating = true;
  for (int i = 0; i < 9; ++i) motion.plateHeatStep(heating);
  collect();
  EXPECT_EQ(gcodeText(),
            "G0 X140.00 Y220.00 F8000|G4 P1|M302|M203 E1.00|G0 E0.05|G4 P4000|G0 E0.30|G4 P100|"
            "G0 X100.00 Y220.00 F8000");
  EXPECT_EQ(inkStream, " 5005,23o999j1000,7t2000,13n4999,19n 25025,23o7t12n18n");
  EXPECT_FALSE(heating);
  EXPECT_EQ(motion.plateStep, 0);
}

TEST_F(Sequencer, ThePowderAmountStepsUpEveryFewLayersAndBackAtTheEnd) {
  core.s.powderPercentage = 40;
  core.s.layerMorePowder = 2;
  for (int layer = 0; layer < 5; ++layer) seq.layerMorePowderStep();
  EXPECT_EQ(core.s.powderPercentage, 42);
  EXPECT_EQ(core.controls.at("LabPwdr").caption, "42");
  motion.stepPowderTo();
  EXPECT_EQ(core.s.powderPercentage, 40);
  clock.advance(5000);
  EXPECT_FALSE(logHas("powder set to"));  // back where it was
  motion.PowderUpDown(false, true);
  clock.advance(5000);
  EXPECT_TRUE(logHas("powder set to 39 (was 40)"));
}

// ---------------------------------------------------------------- the machine's own words

// A long dwell of the plate heating keeps the machine quiet for its time:
// the watchdog waits for it, whoever sent it.
TEST_F(Sequencer, APlateHeatingDwellIsWaitedFor) {
  writeTwoLayerJob();
  core.s.plateTime = 30000;
  silentCodes = {"G4 P30000"};
  start();
  for (int t = 0; t < 20000 && gcodeText().find("G4 P30000") == std::string::npos; t += 10) run(10);
  ASSERT_NE(gcodeText().find("G4 P30000"), std::string::npos);
  run(29900);
  EXPECT_FALSE(logHas("paused")) << logText();
  releaseOks();
  ASSERT_TRUE(runToEnd());
  EXPECT_FALSE(logHas("paused"));
  EXPECT_TRUE(logHas("fin (model"));
}

// "echo:busy: processing" every 2 s during a long move is an answer.
TEST_F(Sequencer, BusyKeepAlivesAreAnswers) {
  writeTwoLayerJob();
  start();
  run(1500);
  marlinAnswers = false;
  marlin.startCodeSequence("G0 X0 Y0 F10");  // a long move
  run(100);
  for (int t = 0; t < 25000; t += 2000) {
    marlinPort.reply("echo:busy: processing\n");
    run(2000);
  }
  EXPECT_FALSE(logHas("paused")) << logText();
  marlinAnswers = true;
  marlinPort.reply("ok\n");
  ASSERT_TRUE(runToEnd());
  EXPECT_TRUE(logHas("fin (model"));
}

// Lost "ok"s leave the count short; the watchdog sends the oldest line
// without one again, and the machine's "Resend:" settles the count.
TEST_F(Sequencer, LostAcknowledgementsAreSettledByTheMachine) {
  writeTwoLayerJob();
  marlinChecksNumbers = true;
  lostOks = {3, 4};
  start();
  ASSERT_TRUE(runToEnd(60000));
  EXPECT_TRUE(logHas("not acknowledged: sent again")) << logText();
  EXPECT_FALSE(logHas("paused"));
  EXPECT_EQ(gcodeText(), kStartCodes + "|" + twoLayerMoves());
  EXPECT_TRUE(marlin.allLinesAcknowledged());
}

TEST_F(Sequencer, AMachineThatRestartsPausesThePrint) {
  writeTwoLayerJob();
  start();
  run(300);
  marlinPort.reply("start\necho:SD card ok\n");
  EXPECT_FALSE(core.timers.at("MarlinTimer").enabled());
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(logHas("the machine restarted during the print: print paused"));
}

TEST_F(Sequencer, ALineTheMachineCannotGetAgainPausesThePrint) {
  writeTwoLayerJob();
  start();
  run(300);
  marlin.gcodeHistory.clear();
  marlinPort.reply("Resend: 2\nok\n");
  EXPECT_FALSE(core.timers.at("MarlinTimer").enabled());
  EXPECT_TRUE(seq.paused());
  EXPECT_TRUE(logHas("G-code line 2 cannot be sent again (no longer in the history): it did not run: print paused"));
  // The operator goes on: the machine's line number is set again first.
  gcodes.clear();
  core.controls.at("pause").checked = false;
  seq.resume();
  run(300);
  EXPECT_EQ(gcodes.at(0), "M110");
}

TEST_F(Sequencer, AStartWhileAPrintRunsIsRefused) {
  writeTwoLayerJob();
  start();
  run(1000);
  const int sent = seq.run.inkStretchesSent;
  seq.start();
  EXPECT_EQ(ui.messages.back(), "a print is running: start refused (pause or abort it first)");
  run(10);
  EXPECT_EQ(seq.run.inkStretchesSent, sent);
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(gcodeText(), kStartCodes + "|" + twoLayerMoves());
}

// A start on a link that is already open, with acknowledgements missing
// from before and the watchdog run out: the machine's line number is set
// again and the watchdog watches the new print.
TEST_F(Sequencer, AStartResynchronisesAndArmsTheWatchdogOnAnOpenLink) {
  writeTwoLayerJob();
  openLinks();
  marlin.clearCodeSequence();
  marlin.sendGcode("G1 X1");
  marlin.sendGcode("G1 X2");
  marlinPort.take();  // lost on the way
  core.timers.at("MarlinBusy").stop();
  seq.start();
  EXPECT_TRUE(core.timers.at("MarlinBusy").enabled());
  EXPECT_TRUE(logHas("2 G-code lines left without acknowledgement: the line numbers are set again"));
  marlinChecksNumbers = true;
  marlinExpects = 0;  // the machine never got them
  ASSERT_TRUE(runToEnd());
  EXPECT_EQ(gcodeText(), "M110|" + twoLayerMoves());
  EXPECT_TRUE(logHas("fin (model"));
}

// After a priming check longer than the watchdog's time the print goes on
// with its watchdog running again.
TEST_F(Sequencer, AResumeStartsTheTickAndTheWatchdogTogether) {
  writeTwoLayerJob();
  start();
  run(200);
  core.timers.at("MarlinTimer").stop();
  clock.advance(15000);  // the watchdog ran out meanwhile
  EXPECT_FALSE(core.timers.at("MarlinBusy").enabled());
  seq.resumeTicking();
  EXPECT_TRUE(core.timers.at("MarlinTimer").enabled());
  EXPECT_TRUE(core.timers.at("MarlinBusy").enabled());
}

}  // namespace
