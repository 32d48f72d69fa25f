// The jetting-unit link on fake transports: what goes out byte for byte,
// the queue that waits for CTS, and everything the unit's replies do.
#include <gtest/gtest.h>

#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "host/machine/tests/link_fixture.h"

using namespace ph;

namespace {

struct InkLink : LinkFixture {
  // Opens the serial link as the check box does and lets firstinkj run.
  void open() {
    core.controls.at("cb_comm").checked = true;
    link.applyLinkSwitch();
    clock.advance(100);
  }
  void reply(const std::string& s) { serial.reply(s); }
  void printing(bool on) { events.ticking = on; }
  // A pass written to the unit: its end byte is owed a reply.
  void sendPass() { link.inkWrite(std::string("973j\x81\xBF\xBF")); }

  RecordingEvents events;
  JettingLink link{core, files, serial, socket, events};
  bool codesToLink = (core.sendUnitCodesTo(link), true);
};

TEST(ParseCommDevice, BaudSuffixesAndThePrefix) {
  struct Case {
    const char* text;
    int baudIn;
    const char* device;
    int baud;
  } cases[] = {
      {"COM12@br115200", 9600, "\\\\.\\COM12", 115200},
      {"COM3-", 9600, "COM3", 0},
      {"com10", 250000, "\\\\.\\com10", 250000},
      {"COM3", 250000, "COM3", 250000},
      {"/dev/ttyUSB0@brfast", 9600, "/dev/ttyUSB0", 0},
      {"/dev/ttyACM1@br57600-", 9600, "/dev/ttyACM1", 0},
  };
  for (const Case& c : cases) {
    int baud = c.baudIn;
    EXPECT_EQ(parseCommDevice(c.text, baud), c.device) << c.text;
    EXPECT_EQ(baud, c.baud) << c.text;
  }
}

TEST(KeywordMatch, ACharacterThatBreaksAMatchDoesNotStartANewOne) {
  int st = 0;
  std::string hits;
  // "ook": the second "o" breaks the match and is not tried again.
  for (char c : std::string("ook\nok\nxok\n")) hits += matchKeyword(c, "ok\n", st) ? '1' : '.';
  EXPECT_EQ(hits, "......1...1");
}

TEST(KeywordMatch, NumbersAfterAKeywordShiftInNewestFirst) {
  int st = 0, v0 = 0, v1 = 0, v2 = 0, ended = 0;
  for (char c : std::string("W:123 C:9 W: -45,W:x7;W:8"))
    ended += matchKeywordNumber(c, "W:", st, v0, v1, v2);
  EXPECT_EQ(ended, 3);  // the last number has not ended yet
  EXPECT_EQ(v1, 7);
  EXPECT_EQ(v2, -45);
  EXPECT_EQ(v0, 8);
}

// --------------------------------------------------------------- opening

TEST_F(InkLink, OpeningAnnouncesTheHandshakeThenSendsTheInitCodes) {
  struct Case {
    bool xonxoff, local;
    TFlowControl flow;
    const char* out;
  } cases[] = {
      {true, true, TFlowControl::fcNone, "800,28o1,20o13o"},
      {true, false, TFlowControl::fcSoftware, "1,20o13o"},
      {false, false, TFlowControl::fcCTS, "0,20o13o"},
  };
  core.s.CommInkDevice = "COM12@br115200";
  for (const Case& c : cases) {
    core.s.XonXoffMode = c.xonxoff;
    core.s.localXonXoff = c.local;
    serial.opened = false;
    open();
    EXPECT_TRUE(link.inkLinkOpen);
    EXPECT_EQ(serial.flow, c.flow);
    EXPECT_EQ(serial.device, "\\\\.\\COM12");
    EXPECT_EQ(serial.baud, 115200);
    EXPECT_EQ(serial.take(), c.out);
    EXPECT_EQ(link.queuedUnitCodes(), "");
    EXPECT_FALSE(core.timers.at("firstinkj").enabled());
  }
  EXPECT_EQ(link.inkBaudRate, 460800);  // the device text's baud is not kept
}

TEST_F(InkLink, APortThatDoesNotOpenIsReportedAndNothingIsSentOrQueued) {
  serial.openWorks = false;
  open();
  EXPECT_FALSE(link.inkLinkOpen);
  EXPECT_TRUE(logHas("cannot open COM2"));
  link.sendInk("12t");
  EXPECT_EQ(serial.writes, 0);
  EXPECT_FALSE(link.commandsWaiting());
  // Unchecking closes the port.
  serial.openWorks = true;
  open();
  core.controls.at("cb_comm").checked = false;
  link.applyLinkSwitch();
  EXPECT_FALSE(serial.opened);
  EXPECT_FALSE(link.inkLinkOpen);
}

TEST_F(InkLink, ADeviceTextStartingWithADigitConnectsOverTcp) {
  core.s.CommInkDevice = "192.168.2.40:90";
  open();
  EXPECT_TRUE(link.inkViaSocket);
  EXPECT_TRUE(link.inkLinkOpen);
  EXPECT_TRUE(socket.isActive);
  EXPECT_EQ(socket.host, "192.168.2.40");
  EXPECT_EQ(socket.port, 90);
  EXPECT_EQ(serial.opens, 0);
  EXPECT_EQ(socket.take(), "1,20o13o");
  // Without modem lines nothing waits for CTS, even without XON/XOFF.
  core.s.XonXoffMode = false;
  socket.ctsOn = true;
  link.sendInk("12t");
  EXPECT_EQ(socket.take(), "12t");
  // A block the pre-connect buffer cannot take is lost, and the log says so.
  socket.room = 2;
  link.sendInk("999j");
  EXPECT_TRUE(logHas("inksocket: 2 bytes lost (not connected)"));
  // The socket's events reach the log.
  socket.event(LinkEvent::Connecting);
  socket.event(LinkEvent::Connected);
  socket.event(LinkEvent::Error, 111);
  socket.event(LinkEvent::Disconnected);
  // Which link and why, in words.
  EXPECT_TRUE(logHas("connecting| inksocket OK|jetting unit 192.168.2.40:90: connection refused|disconnect"));
}

// --------------------------------------------------------------- sending

TEST_F(InkLink, AnnouncementsGoOutWithTheirZeroBytesAndAreCounted) {
  open();
  serial.take();
  const std::string data = bytes({0x20, 0x00, 0x96, 0xFF, 0x00, 0x80});
  link.sendInkCounted("2,2n0,0p973j" + data);
  EXPECT_EQ(serial.take(), "2,2n0,0p973j" + data);
  EXPECT_EQ(link.inkByteCount, 6);
  EXPECT_EQ(link.inkCheckSum, 0x20 + 0x96 + 0xFF + 0x80);
  // A command without an announcement counts nothing.
  link.sendInkCounted("12t");
  EXPECT_EQ(link.inkByteCount, 6);
  serial.take();

  link.sendTestSequence();
  EXPECT_EQ(serial.take(), " 128t999j972j973j" + bytes({0x35, 0x81, 0x02, 0x35, 0x81, 0x02, 0x80, 0xBF, 0x20, 0x30,
                                                         0x6A, 0x23}));
  // The data up to its stretch end; " 0j#" after it is a command.
  EXPECT_EQ(link.inkByteCount, 6 + 8);
  EXPECT_EQ(link.inkCheckSum, 0x20 + 0x96 + 0xFF + 0x80 + 0x35 + 0x81 + 0x02 + 0x35 + 0x81 + 0x02 + 0x80 + 0xBF);
}

TEST(InlineStretchLength, TheEndCodeEndsTheDataUnlessItIsLiteralData) {
  struct Case {
    std::string data;
    std::size_t n;
  } cases[] = {
      {bytes({0x20, 0x80}), 2},                           // the data follows later
      {bytes({0x18, 0x03, 0xBF, '1', '2', 't'}), 3},      // end, then a command
      {bytes({0x82, 0xBF, 0xBF, 0xBF, 'j'}), 4},          // two literal 0xBF, then the end
      {bytes({0xC5, 0xBF, 0xE1, 0xBF, 0xBF, 0x20}), 5},   // combined codes carry one literal
      {bytes({0x96}) + std::string(22, '\xFF') + bytes({0x80}), 24},
      {bytes({0x85, 0x01}), 2},                           // a block cut short
  };
  for (const Case& c : cases) EXPECT_EQ(inlineStretchLength(c.data), c.n);
}

TEST_F(InkLink, TheDebugDumpGetsEveryByteWrittenToThePort) {
  open();
  serial.take();
  const std::string dump = ::testing::TempDir() + "dump.bin";
  link.debugDumpFile.reset(std::fopen(dump.c_str(), "wb"));
  ASSERT_TRUE(link.debugDumpFile);
  link.sendInkCounted("973j" + bytes({0x00, 0xBF}));
  link.debugDumpFile.reset();
  std::FILE* f = std::fopen(dump.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  char buf[16] = {};
  const std::size_t n = std::fread(buf, 1, sizeof buf, f);
  std::fclose(f);
  std::remove(dump.c_str());
  EXPECT_EQ(std::string(buf, n), "973j" + bytes({0x00, 0xBF}));
  EXPECT_EQ(serial.out, std::string(buf, n));
}

TEST_F(InkLink, WithoutCtsCommandsWaitAndGoOutInOrderOnePerTick) {
  core.s.XonXoffMode = false;
  open();
  serial.take();
  serial.ctsOn = false;
  for (const char* c : {"a1t", "b2t", "c3t"}) link.sendInk(c);
  EXPECT_EQ(serial.out, "");
  EXPECT_TRUE(link.commandsWaiting());
  clock.advance(500);  // CTS stays off: every tick waits
  EXPECT_EQ(serial.out, "");
  EXPECT_TRUE(core.timers.at("InkCts").enabled());
  serial.ctsOn = true;
  clock.advance(100);
  EXPECT_EQ(serial.out, "a1t");
  // A command sent now still queues behind the waiting ones.
  link.sendInk("d4t");
  clock.advance(300);
  EXPECT_EQ(serial.take(), "a1tb2tc3td4t");
  EXPECT_FALSE(core.timers.at("InkCts").enabled());
  // Queue empty and CTS on: at once.
  link.sendInk("e5t");
  EXPECT_EQ(serial.take(), "e5t");
}

TEST_F(InkLink, ALinkThatClosesWhileCommandsWaitStopsRetrying) {
  core.s.XonXoffMode = false;
  open();
  serial.ctsOn = false;
  link.sendInk("a1t");
  link.sendInk("b2t");
  serial.opened = false;  // the port went away
  clock.advance(100);
  EXPECT_FALSE(core.timers.at("InkCts").enabled());
  EXPECT_FALSE(link.commandsWaiting());
  EXPECT_TRUE(logHas("jetting unit link closed: 2 waiting commands dropped"));

  // The same when the device reports that it is gone.
  serial.opened = true;
  link.sendInk("c3t");
  ASSERT_TRUE(core.timers.at("InkCts").enabled());
  serial.event(LinkEvent::Disconnected);
  EXPECT_FALSE(core.timers.at("InkCts").enabled());
  EXPECT_TRUE(logHas("jetting unit port gone: 1 waiting commands dropped"));
}

TEST_F(InkLink, CommandsDuringTheDataStreamGoInFrontOfTheNextCommand) {
  open();
  serial.take();
  events.streaming = true;
  link.sendInk("7t");
  link.sendInkPending("8t");
  link.takeTerminalKey('x');
  EXPECT_EQ(serial.out, "");
  EXPECT_TRUE(logHas("stuf 7t"));
  EXPECT_TRUE(logHas("in queue:7t8tx"));
  events.streaming = false;
  link.sendInkPending("12t");
  EXPECT_EQ(serial.take(), "7t8tx12t");
  EXPECT_EQ(link.queuedUnitCodes(), "");
}

TEST_F(InkLink, NothingGoesOutWhileClosingDownOrInAGcodeOnlyRun) {
  open();
  serial.take();
  events.gcodeOnly = true;
  link.sendInk("12t");
  events.gcodeOnly = false;
  core.closingDown = true;
  link.sendInk("13t");
  EXPECT_EQ(serial.out, "");
  EXPECT_FALSE(link.commandsWaiting());
}

// --------------------------------------------------------------- receiving

TEST_F(InkLink, StretchAcknowledgementsAreCountedAndLeftOutOfTheEcho) {
  struct Case {
    std::vector<std::string> arrivals;
    int done;
    const char* echo;
  } cases[] = {
      {{"~in_monitor "}, 1, ""},
      {{"ab~in_mo", "nitor cd"}, 1, "abcd"},
      // Held-back characters are released when the match fails.
      {{"~in_mX"}, 0, "~in_mX"},
      // A "~" right after a partial match does not start a new one.
      {{"~in_~in_monitor "}, 0, "~in_~in_monitor "},
      {{"x\r\ny"}, 0, "x\ny"},
  };
  for (const Case& c : cases) {
    core.Memo1.clear();
    link.startCounting();
    sendPass();
    for (const auto& a : c.arrivals) reply(a);
    EXPECT_EQ(link.inkStretchesDone, c.done) << c.echo;
    EXPECT_EQ(logText(), replaceAll(c.echo, "\n", "|")) << c.echo;
  }
}

// Each end byte gets a reply; only the replies to the passes the host
// sent since counting began count as finished stretches.
TEST_F(InkLink, OnlyRepliesThatEndAPassOfThisPrintCount) {
  struct Case {
    const char* what;
    std::string written;  // before counting starts, then after
    std::string after;
    int replies;
    int done;
  } cases[] = {
      {"lone end bytes", "", "\xBF\xBF 12t\xBF", 3, 0},
      {"a pass, then a lone end", "", "2,2n0,5p973j\x81\x07\xBF\xBF", 2, 1},
      // 0xBF inside literal blocks is data: one pass, one end.
      {"end bytes as literal data", "", "973j\x82\xBF\xBF\xC0\xBF\xBF", 1, 1},
      {"0973j announces too", "", "0973j\xBF" "3n108,24n973j\x18\x03\xBF", 2, 2},
      {"an earlier print's pass", "973j\xBF", "973j\xBF", 2, 1},
      {"a reply nobody asked for", "", "", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JettingLink fresh{core, files, serial, socket, events};
    fresh.inkWrite(c.written);
    fresh.startCounting();
    fresh.inkWrite(c.after);
    for (int i = 0; i < c.replies; ++i) serial.reply("~in_monitor ");
    EXPECT_EQ(fresh.inkStretchesDone, c.done);
    EXPECT_EQ(fresh.repliesOwed(), 0);
  }
}

TEST_F(InkLink, DataThatMayNotHaveArrivedIsTold) {
  core.s.CommInkDevice = "127.0.0.1:9100";
  open();
  socket.connected = true;
  socket.take();
  // A connection lost with nothing owed loses nothing.
  socket.event(LinkEvent::Disconnected);
  EXPECT_FALSE(link.deliveryFailed());
  // Lost while a pass is read: the rest of it never came.
  link.inkWrite(std::string("973j\x81\x07"));
  EXPECT_TRUE(link.passDataOpen());
  socket.event(LinkEvent::Error, 104);
  EXPECT_TRUE(link.deliveryFailed());
  EXPECT_EQ(link.deliveryFailure(), "the jetting unit's connection failed with 0 replies outstanding and pass data open");
  EXPECT_FALSE(link.passDataOpen());
  // Counting anew forgets it; a block the socket refuses is lost again.
  link.startCounting();
  EXPECT_FALSE(link.deliveryFailed());
  socket.room = 3;
  link.inkWrite(std::string("973j\xBF"));
  EXPECT_EQ(link.deliveryFailure(), "2 bytes did not reach the jetting unit (not connected)");
  // An end byte that was written but not answered when the unit restarted.
  link.startCounting();
  socket.room = 1 << 20;
  link.inkWrite(std::string("\xBF"));
  reply("start (unit)\r\n");
  EXPECT_EQ(link.deliveryFailure(), "the jetting unit restarted with 1 replies outstanding");
}

TEST_F(InkLink, AnOpenPassIsClosedWhereTheUnitReadsIt) {
  // In the middle of a literal block of three: two more bytes, then the end.
  link.inkWrite(std::string("973j\x83\x01"));
  const long long count = link.inkByteCount, sum = link.inkCheckSum;
  serial.take();
  link.closeOpenPass();
  EXPECT_EQ(serial.take(), bytes({0, 0, 0xBF}));
  EXPECT_FALSE(link.passDataOpen());
  EXPECT_EQ(link.inkByteCount, count + 3);
  EXPECT_EQ(link.inkCheckSum, sum + 0xBF);
  // Nothing open: nothing written.
  link.closeOpenPass();
  EXPECT_EQ(serial.take(), "");
}

TEST_F(InkLink, OverTcpXonAndXoffAreNeitherObeyedNorShown) {
  core.s.CommInkDevice = "127.0.0.1:9100";
  core.s.XonXoffMode = true;
  core.s.localXonXoff = false;
  open();
  reply("ab\x13" "cd\x11");
  reply("\x13");
  EXPECT_EQ(logText().substr(logText().find("jetting unit over TCP")),
            "jetting unit over TCP: no XON/XOFF flow control, TCP paces the data|abcd");
  EXPECT_FALSE(link.xoffHeld);
}

TEST_F(InkLink, ALargeArrivalIsHandledWholeInOneEvent) {
  std::string big(1400, 'a');
  big += "~in_monitor ";
  big += std::string(88, 'b');
  sendPass();
  reply(big);  // 1500 bytes: 999 and 501
  EXPECT_EQ(link.inkStretchesDone, 1);
  EXPECT_EQ(link.inkRxTotal, 1500);
  EXPECT_LE(link.inkRxHistory.size(), 256u + 501u);
  reply(big);
  EXPECT_LE(link.inkRxHistory.size(), 256u + 501u);
  EXPECT_EQ(link.inkRxHistory.substr(link.inkRxHistory.size() - 88), std::string(88, 'b'));
  // Small arrivals: 64 characters go once the history passes 256.
  link.inkRxHistory = std::string(250, 'h');
  reply("0123456789");
  EXPECT_EQ(link.inkRxHistory, std::string(186, 'h') + "0123456789");
}

TEST_F(InkLink, AZeroByteDoesNotEndTheArrival) {
  sendPass();
  reply(bytes({'a', 0, 'b'}) + "~in_monitor ");
  EXPECT_EQ(link.inkStretchesDone, 1);
  EXPECT_EQ(logText(), "a^@b");
  core.s.silentmemo = false;
  core.Memo1.clear();
  reply(bytes({'c', 0, 'd', 7}));
  EXPECT_EQ(logText(), "c d?");
}

TEST_F(InkLink, XonXoffHandledByTheHostNeverReachTheLogOrTheMatchers) {
  core.s.localXonXoff = true;
  sendPass();
  reply("~in_mon\x13itor \x11");
  EXPECT_FALSE(link.xoffHeld);
  EXPECT_EQ(link.inkStretchesDone, 1);
  reply("ab\x13");
  EXPECT_TRUE(link.xoffHeld);
  EXPECT_EQ(logText(), "ab");
  // Left to the driver, the bytes are just shown.
  core.s.localXonXoff = false;
  reply("\x11");
  EXPECT_TRUE(link.xoffHeld);
  EXPECT_EQ(logText(), "ab^Q");
}

TEST_F(InkLink, KeywordRepliesSetTheirState) {
  open();
  serial.take();
  reply("+ver");
  reply("sion W:31 C:-4 W:35,C:7 ++");
  EXPECT_TRUE(link.versionSeen);
  EXPECT_EQ(link.plusReplies, 3);
  EXPECT_EQ(link.waterTemps[0], 35);
  EXPECT_EQ(link.waterTemps[1], 31);
  EXPECT_EQ(link.colorTemps[0], 7);
  EXPECT_EQ(link.colorTemps[1], -4);
  // The unit restarted: its init codes go out again, behind the codes of
  // settings still at their defaults.
  reply("start (v2)");
  const std::string sent = serial.take();
  EXPECT_EQ(sent.substr(sent.size() - 3), "13o");
  EXPECT_GT(sent.size(), 3u);
}

TEST_F(InkLink, UnitAlarmsPauseThePrintOnlyWhilePrinting) {
  Control& pause = core.controls.at("pause");
  int pauseClicks = 0;
  pause.onClick = [&] { ++pauseClicks; };
  reply("Hopper Fail nuls overflow");
  EXPECT_FALSE(pause.checked);

  printing(true);
  reply("Hopper Fail");
  EXPECT_TRUE(pause.checked);
  EXPECT_EQ(pauseClicks, 1);
  EXPECT_TRUE(events.alarmSounding);
  EXPECT_EQ(events.calls, (std::vector<std::string>{"alarm 3"}));

  pause.checked = false;
  check("IgnoreHopper1", true);
  reply("Hopper Fail");
  EXPECT_FALSE(pause.checked);
  reply("nuls overflow");
  EXPECT_TRUE(pause.checked);
}

TEST_F(InkLink, ACartridgeFailureWhilePrintingWarnsAndPauses) {
  reply("CartrFail");
  EXPECT_TRUE(link.cartridgeFail);
  EXPECT_EQ(events.calls, (std::vector<std::string>{"dropImages"}));
  EXPECT_FALSE(logHas("Check cartridge connections!"));

  events.calls.clear();
  printing(true);
  events.cartridgeSounding = true;  // a check runs: no redraw
  reply("CartrFail");
  EXPECT_TRUE(logHas("Check cartridge connections!"));
  EXPECT_TRUE(core.controls.at("pause").checked);  // connectcheck1 is on
  EXPECT_EQ(events.calls, (std::vector<std::string>{"alarm 3"}));
}

TEST_F(InkLink, RepeatedRollerStallsPauseAndEachStretchLowersTheScore) {
  printing(true);
  clock.advance(10000);
  link.printResumeTick = clock.tickMs();
  reply("a!roller stalled\r\n");  // right after a resume: ignored
  EXPECT_EQ(link.rollerStallCount, 0);
  clock.advance(3000);
  core.Memo1.clear();
  reply("a!roller stalled\r\nb");
  EXPECT_EQ(link.rollerStallCount, 3);
  EXPECT_EQ(logText(), "a#b");  // the report leaves the echo
  reply("~in_monitor ");
  EXPECT_EQ(link.rollerStallCount, 2);
  reply("!roller stal");
  reply("led\r\n");
  EXPECT_EQ(link.rollerStallCount, 0);
  EXPECT_TRUE(logHas("check roller"));
  EXPECT_TRUE(core.controls.at("pause").checked);
}

TEST_F(InkLink, PowderLevelBytesMoveThePercentageWithinItsLimits) {
  core.s.containerEndLimits = 4238;  // 42 at most, 38 at least
  core.s.powderPercentage = 40;
  reply(bytes({145, 146}));
  EXPECT_EQ(core.s.powderPercentage, 41);
  EXPECT_EQ(core.controls.at("LabPwdr").caption, "41");
  EXPECT_EQ(logText(), "41");
  reply(bytes({145, 145, 145}));
  EXPECT_EQ(core.s.powderPercentage, 42);
  for (int i = 0; i < 10; ++i) reply(bytes({144}));
  EXPECT_EQ(core.s.powderPercentage, 38);
  // Without limits the bytes are only shown.
  core.s.containerEndLimits = 0;
  reply(bytes({144}));
  EXPECT_EQ(core.s.powderPercentage, 38);
}

TEST_F(InkLink, EchoesOfTheTwoMachinesKeepToTheirOwnLines) {
  core.memoPrintf("%s", "start");
  reply("unit says");
  EXPECT_EQ(logText(), "start|unit says");
  reply(" more");
  EXPECT_EQ(logText(), "start|unit says more");
  link.echoReceived(2, "marlin");
  link.echoReceived(1, "unit");
  EXPECT_EQ(logText(), "start|unit says more|marlin|unit");
}

TEST_F(InkLink, WithTheFullEchoEveryStretchStartsANewLine) {
  core.s.silentmemo = false;
  sendPass();
  reply("a");
  reply("~in_monitor b\r");
  EXPECT_EQ(link.inkStretchesDone, 1);
  EXPECT_EQ(logText(), "a|~in_monitor b\r");
}

TEST_F(InkLink, LinesSkippedAfterAPrimingBurstStayOutOfTheLog) {
  link.monitorLinesToSkip = 2;
  reply("W:30\r\nW:31\r\nnext\r\n");
  EXPECT_EQ(link.monitorLinesToSkip, 0);
  EXPECT_EQ(link.waterTemps[0], 31);
  EXPECT_EQ(logText(), "|next");
}

// --------------------------------------------------------------- terminal

TEST_F(InkLink, TheTerminalSendsKeysAndRunsItsShortcuts) {
  link.takeTerminalKey('x');  // link closed: nothing
  EXPECT_EQ(serial.writes, 0);
  open();
  serial.take();
  events.cartridgeScanning = true;
  link.takeTerminalKey(27);
  link.takeTerminalKey('~');
  link.takeTerminalKey(22);
  EXPECT_EQ(events.calls, (std::vector<std::string>{"cartridgeCheck", "alignmentPrint", "paste"}));
  EXPECT_FALSE(events.cartridgeScanning);
  link.replaceQueuedUnitCodes("5,2t");
  link.takeTerminalKey('r');
  link.takeTerminalKey(3);
  EXPECT_EQ(serial.take(), "5,2tr" + bytes({0xBF}));
  EXPECT_EQ(ui.status[0], "?r?");
  // Held off by CTS without XON/XOFF: keys do nothing.
  core.s.XonXoffMode = false;
  serial.ctsOn = false;
  link.takeTerminalKey('s');
  EXPECT_EQ(serial.writes, 4);
}

TEST_F(InkLink, TheTemperatureParserTestSwitchesBothHeadsOnce) {
  link.testTemperatureCatch();
  EXPECT_TRUE(logHas("singlecode 41,2t51,1t|singlecode "));
}

}  // namespace
