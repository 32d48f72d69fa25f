// The Marlin link on fake transports: numbered lines byte for byte, the
// acknowledgement counter, resends, the host's "@@" commands, the reply
// echo and the G-code console.
#include <gtest/gtest.h>

#include "host/machine/tests/link_fixture.h"

using namespace ph;

namespace {

struct Marlin : LinkFixture {
  Marlin() {
    link.busyWait = [this](int ms) { waits.push_back(ms); };
  }
  void open() {
    link.openMarlin();
    serial.take();
  }
  void reply(const std::string& s) { serial.reply(s); }

  MarlinLink link{core, serial, socket};
  std::vector<int> waits;
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
  EXPECT_EQ(core.timers.HomeSeq->interval(), 250);
  link.sendGcode("@@t20000");
  link.sendGcode("@@t0");
  EXPECT_EQ(waits, (std::vector<int>{9000, 1}));
  EXPECT_EQ(serial.out, "");
  // The number given back is the next line's.
  link.sendGcode("G1 Y5");
  EXPECT_EQ(serial.take().substr(0, 3), "N1 ");
}

TEST_F(Marlin, AResendRequestGetsTheLinesFromThatOneOnAtMostTwice) {
  open();
  std::vector<std::string> lines;
  for (const char* code : {"G28", "G1 X1", "G1 X2", "G1 X3", "G1 X4"}) {
    link.sendGcode(code);
    lines.push_back(serial.take());
  }
  link.nrMarlinok = 1;
  reply("Error:checksum mismatch, Last Line: 2\nResend: 3\nok\n");
  EXPECT_EQ(serial.take(), lines[2] + lines[3] + lines[4]);
  EXPECT_EQ(link.nrMarlinok, 1 - 3 + 1);
  EXPECT_TRUE(logHas("resendline 3 ~N1 G28 "));
  reply("Resend: 3\n");
  EXPECT_EQ(serial.take(), lines[2] + lines[3] + lines[4]);
  reply("Resend: 3\n");  // a third round for the same fresh line
  EXPECT_EQ(serial.out, "");
  // A fresh line allows resends again; one split across arrivals is read.
  link.sendGcode("G1 X5");
  const std::string fresh = serial.take();
  reply("Res");
  reply("end:");
  reply(" 6");
  EXPECT_EQ(serial.out, "");
  reply("\r\nok\n");
  EXPECT_EQ(serial.take(), fresh);
}

TEST_F(Marlin, TheHistoryKeepsWholeLinesAndForgetsTheOldest) {
  open();
  for (int i = 0; i < 40; ++i) link.sendGcode("G1 X" + std::to_string(i));
  serial.take();
  EXPECT_LE(link.gcodeHistory.size(), 200u + 20u);
  EXPECT_EQ(link.gcodeHistory[0], '~');
  reply("Resend: 2\n");  // long gone
  EXPECT_EQ(serial.out, "");
  reply("Resend: 38\n");
  EXPECT_EQ(serial.take(), "N38 G1 X37 *" + std::to_string(gcodeChecksum("N38 G1 X37 ")) + "\rN39 G1 X38 *" +
                               std::to_string(gcodeChecksum("N39 G1 X38 ")) + "\rN40 G1 X39 *" +
                               std::to_string(gcodeChecksum("N40 G1 X39 ")) + "\r");
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
  core.memoPrintf("%s", "unit");
  core.lastEchoSource = 1;
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
  EXPECT_EQ(link.gcodeSequence, core.s.startgcodes);
  EXPECT_TRUE(core.timers.MarlinBusy->enabled());
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
  core.marlinOverTcp = true;
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
  EXPECT_TRUE(logHas("connecting| Marlsocket OK| marl socket error 104|disconnect"));
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
  link.gcodeSequence = "M110/M201 X1000/G92 Z0/M17";
  link.nrMarlinok = 0;
  link.flushLeadingMcodes();
  EXPECT_EQ(serial.take(), "M110\rM201 X1000\r");
  EXPECT_EQ(link.nrMarlinok, -2);
  EXPECT_EQ(link.gcodeSequence, "M110/M201 X1000/G92 Z0/M17");
  link.flushLeadingMcodes();
  EXPECT_EQ(serial.out, "");
  // A sequence of M-codes only, or none at all, ends too.
  for (const char* seq : {"M18/M84", ""}) {
    link.mcodesFlushed = false;
    link.gcodeSequence = seq;
    link.flushLeadingMcodes();
    EXPECT_TRUE(link.mcodesFlushed);
  }
  EXPECT_EQ(serial.take(), "M18\rM84\r");
}

TEST_F(Marlin, OnlyTheWholeWordG4P99AsksForPowder) {
  open();
  core.timers.MarlinTimer->start();
  for (const char* code : {"G4 P990", "G4 P99.5", "G4 P9"}) link.sendGcode(code);
  EXPECT_EQ(ui.keyPopups, 0);
  link.sendGcode("G4 P99");
  link.sendGcode("G4 P99 ");
  EXPECT_EQ(ui.keyPopups, 2);
  EXPECT_TRUE(core.timers.MarlinTimer->enabled());
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
    EXPECT_EQ(link.typeGcodeKeyPress('\r'), 0);
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
  EXPECT_EQ(link.typeGcodeKeyPress('@'), 0);
  EXPECT_EQ(link.typeGcodeKeyPress('G'), 'G');
  // UnselDropd puts the typed text back into the box.
  core.controls.at("typeGcode").caption = "G28";
  clock.advance(50);
  EXPECT_EQ(core.controls.at("typeGcode").caption, "  G28;G1 X5//@@+3  ");
  EXPECT_FALSE(core.timers.UnselDropd->enabled());
}

TEST_F(Console, TheHistoryKeepsNineEntriesNewestFirst) {
  for (int i = 1; i <= 9; ++i) enter("G" + std::to_string(i));
  EXPECT_EQ(items().size(), 9u);
  EXPECT_EQ(core.s.dropItems, "G9~G8~G7~G6~G5~G4~G3~G2~G1");
  EXPECT_TRUE(core.settingsModified);
  // The first entry again: nothing changes.
  core.settingsModified = false;
  enter("G9");
  EXPECT_EQ(items().size(), 9u);
  EXPECT_FALSE(core.settingsModified);
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
