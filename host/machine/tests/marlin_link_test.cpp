// The Marlin link on fake transports: numbered lines byte for byte, the
// acknowledgement counter, resends, the host's "@@" commands, the reply
// echo and the G-code console.
#include <gtest/gtest.h>

#include <utility>

#include "host/machine/tests/link_fixture.h"

using namespace ph;

namespace {

// What the link tells the owners of the print's and the home sequence's
// timers, recorded.
struct RecordingMarlinEvents : MarlinEvents {
  std::vector<std::string> lost;
  int homePace = 0;
  int watchdogRestarts = 0;
  bool ticking = false;
  void linesLost(const std::string& why) override { lost.push_back(why); }
  void linkOpened() override { ++watchdogRestarts; }
  bool holdPrintTick() override { return std::exchange(ticking, false); }
  void releasePrintTick(bool was) override { ticking = was; }
  void setHomePace(int ms) override { homePace = ms; }
};

struct Marlin : LinkFixture {
  Marlin() { link.busyWait = [this](int ms) { waits.push_back(ms); }; }
  void open() {
    link.openMarlin();
    serial.take();
  }
  void reply(const std::string& s) { serial.reply(s); }

  RecordingMarlinEvents events;
  MarlinLink link{core, serial, socket, events};
  std::vector<int> waits;
  int& homePace = events.homePace;
  int& watchdogRestarts = events.watchdogRestarts;
  bool& ticking = events.ticking;
};

TEST_F(Marlin, ANumberedLineCarriesTheXorOfItsBytes) {
  open();
  link.sendGcode("G28");
  EXPECT_EQ(serial.take(), "N1 G28 *50\r");
  EXPECT_EQ(link.Marlinlin, 1);
  // Bytes above 127 count unsigned.
  link.Marlinlin = 0;
  link.sendGcode("\xE9");
  EXPECT_EQ(serial.take(), "N1 \xE9 *150\r");
}

TEST_F(Marlin, HostCommandsAreCarriedOutNotSent) {
  open();
  link.sendGcode("G28");
  link.sendGcode("G1 X5");
  serial.take();
  link.nrMarlinok = 1;
  struct Case {
    const char* code;
    int lines, oks;
  } cases[] = {
      {"@@+5", 2, 6}, {"@@-2", 2, 4}, {"@@=", 2, 2}, {"@@x", 2, 2}, {"@@c", 0, 0},
  };
  for (const Case& c : cases) {
    link.sendGcode(c.code);
    EXPECT_EQ(link.Marlinlin, c.lines) << c.code;
    EXPECT_EQ(link.nrMarlinok, c.oks) << c.code;
  }
  link.sendGcode("@@i250");
  EXPECT_EQ(homePace, 250);
  link.sendGcode("@@t20000");
  link.sendGcode("@@t0");
  EXPECT_EQ(waits, (std::vector<int>{9000, 1}));
  EXPECT_EQ(serial.out, "");
  // The number given back is the next line's.
  link.sendGcode("G1 Y5");
  EXPECT_EQ(serial.take().substr(0, 3), "N1 ");
}

// "Resend: n" is the machine's own word on what ran: every line before n.
// The lines from n on go again one at a time, each on the acknowledgement of
// the one before, as a machine that throws away its input on an error needs.
TEST_F(Marlin, AResendRequestSetsTheCountAndSendsTheLinesAgainOneByOne) {
  open();
  std::vector<std::string> lines;
  for (const char* code : {"G28", "G1 X1", "G1 X2", "G1 X3", "G1 X4"}) {
    link.sendGcode(code);
    lines.push_back(serial.take());
  }
  link.nrMarlinok = 0;  // line 1's "ok" was lost, and 3 to 5 got no answer
  reply("Error:checksum mismatch, Last Line: 2\nResend: 3\nok\n");
  EXPECT_TRUE(logHas("resendline 3 ~N1 G28 "));
  EXPECT_EQ(link.nrMarlinok, 2) << "the ok after Resend is the refused line's";
  EXPECT_EQ(serial.take(), lines[2]);
  // A fresh line waits behind the lines asked for.
  link.sendGcode("G1 X5");
  EXPECT_EQ(serial.out, "");
  const std::string fresh = "N6 G1 X5 *" + std::to_string(gcodeChecksum("N6 G1 X5 ")) + "\r";
  for (int k = 3; k <= 5; ++k) {
    reply("ok\n");
    EXPECT_EQ(link.nrMarlinok, k);
    EXPECT_EQ(serial.take(), k < 5 ? lines[std::size_t(k)] : fresh);
  }
  reply("ok\n");
  EXPECT_EQ(link.nrMarlinok, 6);
  EXPECT_EQ(serial.out, "");
  EXPECT_EQ(link.lostLine, 0);
  // A request split across arrivals is read whole.
  reply("Res");
  reply("end:");
  reply(" 6");
  EXPECT_EQ(serial.out, "");
  reply("\r\nok\n");
  EXPECT_EQ(link.nrMarlinok, 5);
  EXPECT_EQ(serial.take(), fresh);
  // Lines taken as done by a resynchronisation leave nothing to catch up:
  // the next fresh line goes at once.
  reply("Resend: 5\nok\n");
  EXPECT_EQ(serial.take(), lines[4]);
  link.nrMarlinok = link.Marlinlin;
  link.sendGcode("G1 X6");
  EXPECT_EQ(serial.take().substr(0, 3), "N7 ");
}

// A line the machine asks for that cannot go again never counts as done,
// and whoever runs a print is told.
TEST_F(Marlin, ALineThatCannotBeSentAgainIsLost) {
  open();
  std::vector<std::string>& told = events.lost;
  for (int i = 0; i < 3; ++i) link.sendGcode("G1 X" + std::to_string(i));
  serial.take();
  link.nrMarlinok = 3;
  link.gcodeHistory.clear();  // as after many more lines
  reply("Resend: 1\nok\n");  // a machine that lost its line number
  EXPECT_EQ(link.nrMarlinok, 0);
  EXPECT_EQ(link.lostLine, 1);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0], "G-code line 1 cannot be sent again (no longer in the history): it did not run");
  reply("Resend: 1\nok\n");  // said once
  EXPECT_EQ(told.size(), 1u);
  EXPECT_EQ(serial.out, "");
  // A line asked for again and again: two rounds beyond the lines that
  // were on their way when it was first asked for (here one).
  link.lostLine = 0;
  link.sendGcode("G1 X8");
  link.sendGcode("G1 X9");
  serial.take();
  for (int round = 0; round < 3; ++round) {
    reply("Resend: 4\nok\n");
    EXPECT_EQ(serial.take().substr(0, 3), "N4 ") << round;
  }
  reply("Resend: 4\nok\n");
  EXPECT_EQ(serial.out, "");
  EXPECT_EQ(link.lostLine, 4);
  EXPECT_EQ(link.nrMarlinok, 3);
}

TEST_F(Marlin, AMachineThatRestartsIsNoticedAndItsNumbersStartAgain) {
  open();
  std::vector<std::string>& told = events.lost;
  reply("start\necho:SD card ok\n");  // the greeting at opening
  EXPECT_TRUE(told.empty());
  link.sendGcode("G28");
  link.sendGcode("G1 X1");
  reply("ok\n");
  reply("start\necho: Free Memory\necho:SD card ok\n");
  EXPECT_EQ(told, std::vector<std::string>{"the machine restarted during the print"});
  EXPECT_EQ(link.Marlinlin, 0);
  EXPECT_EQ(link.nrMarlinok, 0);
  serial.take();
  link.sendGcode("G28");
  EXPECT_EQ(serial.take(), "N1 G28 *50\r");
}

// A lost "ok" or a lost last line leaves the machine silent: the oldest
// line without acknowledgement goes again and the answer settles it.
TEST_F(Marlin, TheOldestUnacknowledgedLineCanBeSentAgain) {
  open();
  EXPECT_FALSE(link.pokeUnacknowledged());
  for (const char* code : {"G28", "G1 X1", "G1 X2"}) link.sendGcode(code);
  const std::string all = serial.take();
  link.nrMarlinok = 1;
  EXPECT_TRUE(link.pokeUnacknowledged());
  EXPECT_EQ(serial.take(), all.substr(all.find("N2 "), all.find("N3 ") - all.find("N2 ")));
  reply("Error:Line Number is not Last Line Number+1, Last Line: 3\nResend: 4\nok\n");
  EXPECT_EQ(link.nrMarlinok, 3);
  EXPECT_TRUE(link.allLinesAcknowledged());
  EXPECT_EQ(serial.out, "");
}

TEST_F(Marlin, SurplusAcknowledgementsNeverRunAheadOfTheLines) {
  open();
  reply("echo:SD card ok\n");
  EXPECT_EQ(link.nrMarlinok, 0);
  reply("ok\nok\n");
  EXPECT_EQ(link.nrMarlinok, 0);
  link.sendGcode("G28");
  reply("ok\n");
  EXPECT_EQ(link.nrMarlinok, 1);
}

TEST_F(Marlin, CodesThatKeepTheMachineQuietAreKnownWithTheirTime) {
  struct Case {
    const char* code;
    int ms;
  } cases[] = {{"G4 P30000", 30000}, {"G4 S2", 2000},  {"g4 p5", 5},         {"G4", 0},
               {"G28", 60000},       {"G28 Z0", 60000}, {"M400", 60000},     {"M190 S60", 900000},
               {"M109 S200", 600000}, {"G0 X1", 0},     {"G40", 0},          {"M1100", 0},
               {"", 0}};
  for (const Case& c : cases) EXPECT_EQ(MarlinLink::expectedSilenceMs(c.code), c.ms) << c.code;
  open();
  link.sendGcode("G4 P30000");
  EXPECT_EQ(link.quietUntilMs, clock.tickMs() + 30000);
  link.sendGcode("G4 P500");
  EXPECT_EQ(link.quietUntilMs, clock.tickMs() + 30500);
}

TEST_F(Marlin, AReconnectedSocketSetsTheLineNumberBeforeTheNextLine) {
  link.useTcp("127.0.0.1", 0);
  link.openMarlin();
  socket.event(LinkEvent::Connected);
  link.sendGcode("G28");
  socket.reply("ok\nok\n");
  socket.take();
  socket.event(LinkEvent::Disconnected);
  socket.event(LinkEvent::Connected);
  link.sendGcode("G1 X1");
  EXPECT_EQ(socket.take(), "N2 M110 *" + std::to_string(gcodeChecksum("N2 M110 ")) + "\rN3 G1 X1 *" +
                               std::to_string(gcodeChecksum("N3 G1 X1 ")) + "\r");
  // A connection that is down is made again without waiting for a write.
  socket.isActive = false;
  link.reconnectIfDown();
  EXPECT_TRUE(socket.isActive);
}

TEST_F(Marlin, TheHistoryForgetsAcknowledgedLinesAndKeepsTheOthers) {
  open();
  for (int i = 0; i < 40; ++i) {
    link.sendGcode("G1 X" + std::to_string(i));
    reply("ok\n");
  }
  serial.take();
  EXPECT_LE(link.gcodeHistory.size(), 200u + 20u);
  EXPECT_EQ(link.gcodeHistory[0], '~');
  // Lines without acknowledgement stay, however many.
  for (int i = 40; i < 80; ++i) link.sendGcode("G1 X" + std::to_string(i));
  serial.take();
  EXPECT_NE(link.gcodeHistory.find("~N41 G1 X40 "), std::string::npos);
  reply("Resend: 2\nok\n");  // long gone
  EXPECT_EQ(serial.out, "");
  EXPECT_EQ(link.lostLine, 2);
}

TEST_F(Marlin, AJammedLineIsLoggedAndItsResendIsTheGoodLine) {
  open();
  link.jamNextLine = true;
  link.sendGcode("G28");
  EXPECT_EQ(serial.take(), "N1 G208 *50\r");
  EXPECT_FALSE(link.jamNextLine);
  EXPECT_TRUE(logHas("jammed N1 G208 *50\r"));
  reply("Resend: 1\n");
  EXPECT_EQ(serial.take(), "N1 G28 *50\r");
}

TEST_F(Marlin, AcknowledgementsAreCountedAndShortRepliesNotEchoed) {
  open();
  for (int i = 0; i < 64; ++i) link.sendGcode("G1 X1");
  link.nrMarlinok = 0;
  reply("ok\n");
  reply("ok T:21.5 /0.0\n");
  reply("ook\n");  // not an acknowledgement
  EXPECT_EQ(link.nrMarlinok, 2);
  EXPECT_EQ(logText(), "");
  // A longer block is echoed without its acknowledgements.
  reply("ok\necho:busy: processing\nok 12\r\n");
  EXPECT_EQ(link.nrMarlinok, 4);
  EXPECT_EQ(logText(), "echo:busy: processing");
  // Many replies in one arrival are all counted in that event.
  std::string many;
  for (int i = 0; i < 60; ++i) many += "ok\n";
  reply(many);
  EXPECT_EQ(link.nrMarlinok, 64);
}

TEST_F(Marlin, EchoOfAnotherSourceStartsItsOwnMarkedLine) {
  core.logEcho(1, "unit");
  reply("echo:Active Extruder: 0\n");
  EXPECT_EQ(logText(), "unit|:::: echo:Active Extruder: 0");
  reply("echo:SD card ok, more\n");
  EXPECT_EQ(logText(), "unit|:::: echo:Active Extruder: 0|echo:SD card ok, more");
}

TEST_F(Marlin, DebugSwitchesLogRepliesCountsAndWrites) {
  open();
  check("MarlinResp1", true);
  check("OkDebug1", true);
  check("gcodes1", true);
  reply("ok\n");
  link.sendGcode("G28");
  EXPECT_EQ(logText(), "ok^J|nrMarlinok=0 Marlinlin=0| ->N1 G28 *50\r");
}

TEST_F(Marlin, OpeningSetsThePortAndTheCounters) {
  core.s.CommPortMarlin = "COM17@br115200";
  link.openMarlin();
  EXPECT_TRUE(link.marlinLinkOpen);
  EXPECT_EQ(serial.device, "\\\\.\\COM17");
  EXPECT_EQ(serial.baud, 115200);
  EXPECT_EQ(core.s.MarlinBaudrate, 115200);
  EXPECT_EQ(serial.take(), "\r");
  EXPECT_EQ(link.nrMarlinok, -1);
  EXPECT_EQ(link.queuedCodes(), core.s.startgcodes);
  EXPECT_EQ(watchdogRestarts, 1);
  // Open stays open: counters are not touched again.
  link.Marlinlin = 7;
  link.openMarlin();
  EXPECT_EQ(link.Marlinlin, 7);
  EXPECT_EQ(serial.opens, 1);
}

TEST_F(Marlin, APortThatDoesNotOpenIsTriedAgainNextTime) {
  serial.openWorks = false;
  link.openMarlin();
  EXPECT_FALSE(link.marlinLinkOpen);
  EXPECT_TRUE(logHas("cannot open \\\\.\\COM30"));
  link.openMarlinConsole();
  EXPECT_FALSE(link.marlinLinkOpen);
  serial.openWorks = true;
  link.openMarlinConsole();
  EXPECT_TRUE(link.marlinLinkOpen);
  EXPECT_EQ(link.nrMarlinok, 0);  // the console counts from 0
  EXPECT_EQ(serial.opens, 3);
}

TEST_F(Marlin, OverTcpTheSocketCarriesTheLinesAndLostBytesAreLogged) {
  link.useTcp("127.0.0.1", 0);
  link.openMarlin();
  EXPECT_TRUE(socket.isActive);
  EXPECT_EQ(serial.opens, 0);
  link.sendGcode("G28");
  EXPECT_EQ(socket.take(), "\rN1 G28 *50\r");
  socket.room = 0;
  link.sendGcode("G28");
  EXPECT_TRUE(logHas("marlsocket: 11 bytes lost (not connected)"));
  socket.event(LinkEvent::Connecting);
  socket.event(LinkEvent::Connected);
  socket.event(LinkEvent::Error, 104);
  socket.event(LinkEvent::Disconnected);
  EXPECT_TRUE(logHas("connecting| Marlsocket OK|motion machine " + core.s.CommPortMarlin +
                     ": connection reset by peer|disconnect"));
  // The console opens the socket too, never a serial port.
  link.marlinLinkOpen = false;
  socket.isActive = false;
  link.openMarlinConsole();
  EXPECT_TRUE(socket.isActive);
  EXPECT_TRUE(link.marlinLinkOpen);
  EXPECT_EQ(serial.opens, 0);
}

TEST_F(Marlin, LeadingMcodesGoOutRawOnceAndTheCounterStaysRight) {
  open();
  link.startCodeSequence("M110/M201 X1000/G92 Z0/M17");
  link.nrMarlinok = 0;
  link.flushLeadingMcodes();
  EXPECT_EQ(serial.take(), "M110\rM201 X1000\r");
  EXPECT_EQ(link.nrMarlinok, -2);
  EXPECT_EQ(link.queuedCodes(), "M110/M201 X1000/G92 Z0/M17");
  link.flushLeadingMcodes();
  EXPECT_EQ(serial.out, "");
  // A sequence of M-codes only, or none at all, ends too.
  for (const char* seq : {"M18/M84", ""}) {
    link.mcodesFlushed = false;
    link.startCodeSequence(seq);
    link.flushLeadingMcodes();
    EXPECT_TRUE(link.mcodesFlushed);
  }
  EXPECT_EQ(serial.take(), "M18\rM84\r");
}

TEST_F(Marlin, OnlyTheWholeWordG4P99AsksForPowder) {
  open();
  ticking = true;
  for (const char* code : {"G4 P990", "G4 P99.5", "G4 P9"}) link.sendGcode(code);
  EXPECT_EQ(ui.keyPopups, 0);
  link.sendGcode("G4 P99");
  link.sendGcode("G4 P99 ");
  EXPECT_EQ(ui.keyPopups, 2);
  EXPECT_TRUE(ticking);
  EXPECT_NE(serial.take().find("N4 G4 P99 *"), std::string::npos);
}

TEST_F(Marlin, ClosingDownWritesNothing) {
  open();
  core.closingDown = true;
  link.sendGcode("G28");
  link.marlinWrite("M18\r");
  reply("Resend: 1\n");
  EXPECT_EQ(serial.writes, 1);  // the CR of the opening
}

// --------------------------------------------------------------- console

struct Console : Marlin {
  void enter(const std::string& text) {
    core.controls.at("typeGcode").caption = text;
    EXPECT_EQ(link.takeGcodeComboKey('\r'), 0);
  }
  std::vector<std::string>& items() { return core.controls.at("typeGcode").items; }
};

TEST_F(Console, TypedLinesGoOutRawAndAreCountedAsAcknowledgedLater) {
  core.s.startgcodes = "G92 Z0";
  enter("  G28;G1 X5//@@+3  ");
  EXPECT_EQ(serial.take(), "  G28\rG1 X5\r");
  // The console counts from 0; two raw lines, then the host's own command.
  EXPECT_EQ(link.nrMarlinok, 0 - 2 + 3);
  EXPECT_EQ(link.Marlinlin, 0);
  EXPECT_EQ(core.controls.at("Edit1").caption, "  G28;G1 X5//@@+3  ");
  EXPECT_EQ(items(), (std::vector<std::string>{"G28;G1 X5//@@+3"}));
  // "@" is swallowed, other keys pass.
  EXPECT_EQ(link.takeGcodeComboKey('@'), 0);
  EXPECT_EQ(link.takeGcodeComboKey('G'), 'G');
  // UnselDropd puts the typed text back into the box.
  core.controls.at("typeGcode").caption = "G28";
  clock.advance(50);
  EXPECT_EQ(core.controls.at("typeGcode").caption, "  G28;G1 X5//@@+3  ");
  EXPECT_FALSE(core.timers.at("UnselDropd").enabled());
}

TEST_F(Console, TheHistoryKeepsNineEntriesNewestFirst) {
  for (int i = 1; i <= 9; ++i) enter("G" + std::to_string(i));
  EXPECT_EQ(items().size(), 9u);
  EXPECT_EQ(core.s.dropItems, "G9~G8~G7~G6~G5~G4~G3~G2~G1");
  EXPECT_TRUE(core.settingsModified());
  // The first entry again: nothing changes.
  core.markSettingsSaved();
  enter("G9");
  EXPECT_EQ(items().size(), 9u);
  EXPECT_FALSE(core.settingsModified());
  // An older entry moves to the top; the stored list is left as it was.
  enter("G5");
  EXPECT_EQ(items().front(), "G5");
  EXPECT_EQ(items().size(), 9u);
  EXPECT_EQ(core.s.dropItems, "G9~G8~G7~G6~G5~G4~G3~G2~G1");
  // A new text pushes the oldest out.
  enter("M18");
  EXPECT_EQ(core.s.dropItems, "M18~G5~G9~G8~G7~G6~G4~G3~G2");
  // An empty line sends nothing.
  serial.take();
  enter("   ");
  EXPECT_EQ(serial.out, "");
}

}  // namespace

namespace {
// A baud rate from the port text that the setting may not hold is refused:
// the setting keeps its value and the port opens at it.
TEST_F(Marlin, APortTextBaudOutsideTheSettingsRangeIsRefused) {
  core.s.MarlinBaudrate = 250000;
  core.s.CommPortMarlin = "COM17@br9000000";
  link.openMarlin();
  EXPECT_EQ(core.s.MarlinBaudrate, 250000);
  EXPECT_EQ(serial.baud, 250000);
  EXPECT_TRUE(logHas("COM17@br9000000: baud rate 9000000 refused (MarlinBaudrate must be from 0 to 4000000); 250000 is used"));
}
}  // namespace
