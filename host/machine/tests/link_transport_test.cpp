// Both links on their real transports, opened by the start-up timer: the
// serial components on pseudo-terminals whose master side the test plays,
// and the TCP clients against servers on 127.0.0.1.
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include "host/machine/tests/transport_fixture.h"

using namespace ph;

namespace {

using Transports = TransportFixture;

TEST_F(Transports, SerialLinksOnPseudoTerminals) {
  commtest::Pty unit, marlin;
  ASSERT_FALSE(unit.slave.empty());
  ASSERT_FALSE(marlin.slave.empty());
  core.s.CommInkDevice = unit.slave;
  core.s.CommPortMarlin = marlin.slave;
  core.s.openMarlinAtStart = true;
  clock.advance(100);  // InkCommStart
  ASSERT_TRUE(links.ink.inkLinkOpen);
  ASSERT_TRUE(links.marlin.marlinLinkOpen);
  EXPECT_TRUE(core.controls.at("cb_comm").checked);
  EXPECT_EQ(links.CommInk.CustomBaudRate(), 460800);
  EXPECT_EQ(links.CommMarlin.CustomBaudRate(), 250000);
  clock.advance(100);  // firstinkj
  EXPECT_EQ(readPty(unit, 8), "1,20o13o");
  EXPECT_EQ(readPty(marlin, 1), "\r");

  // A long arrival: the acknowledgement at its end counts in that event.
  links.ink.inkWrite(std::string("973j\xBF"));
  readPty(unit, 5);
  unit.send(std::string(1400, '.') + "~in_monitor ");
  ASSERT_TRUE(pumpUntil([&] { return links.ink.inkStretchesDone == 1; }));

  links.sendGcode("G28");
  EXPECT_EQ(readPty(marlin, 11), "N1 G28 *50\r");
  marlin.send("ok\nResend: 1\nok\n");
  EXPECT_EQ(readPty(marlin, 11), "N1 G28 *50\r");
  ASSERT_TRUE(pumpUntil([&] { return links.marlin.nrMarlinok == 0; }));

  links.closeSerialLinks();
  EXPECT_FALSE(links.CommInk.Enabled());
  EXPECT_FALSE(links.CommMarlin.Enabled());
}

TEST_F(Transports, ASerialUnitThatGoesAwayDropsTheWaitingCommands) {
  commtest::Pty unit;
  core.s.CommInkDevice = unit.slave;
  core.s.XonXoffMode = false;
  clock.advance(200);
  readPty(unit, 8);
  // Commands wait in the queue as for a held-off line.
  links.ink.inkFifo->push("12t");
  core.timers.at("InkCts").start();
  unit.closeMaster();
  ASSERT_TRUE(pumpUntil([&] { return !links.ink.commandsWaiting(); }));
  EXPECT_FALSE(core.timers.at("InkCts").enabled());
  EXPECT_TRUE(logHas("jetting unit port gone"));
}

TEST_F(Transports, TcpLinksToServersOnLoopback) {
  QTcpServer unitServer, marlinServer;
  ASSERT_TRUE(unitServer.listen(QHostAddress::LocalHost, 0));
  ASSERT_TRUE(marlinServer.listen(QHostAddress::LocalHost, 0));
  core.s.CommInkDevice = "127.0.0.1:" + std::to_string(unitServer.serverPort());
  links.chooseMarlinTransport("127.0.0.1", marlinServer.serverPort());
  clock.advance(200);  // InkCommStart, firstinkj: the codes wait for the connection
  EXPECT_TRUE(links.ink.inkViaSocket);
  EXPECT_FALSE(links.MarlSocket.active());  // openMarlinAtStart is off
  QTcpSocket* unit = accept(unitServer);
  ASSERT_NE(unit, nullptr);
  EXPECT_EQ(readPeer(unit, 8), "1,20o13o");
  EXPECT_TRUE(logHas(" inksocket OK"));

  std::string replies;
  for (int i = 0; i < 300; ++i) replies += "+";
  replies += "~in_monitor ~in_monitor ";
  links.ink.inkWrite(std::string("973j\xBF" "973j\x18\xBF"));
  readPeer(unit, 11);
  unit->write(replies.data(), static_cast<qint64>(replies.size()));
  ASSERT_TRUE(pumpUntil([&] { return links.ink.inkStretchesDone == 2; }));
  EXPECT_EQ(links.ink.plusReplies, 300);

  links.openMarlin();
  links.sendGcode("G28");
  QTcpSocket* marlin = accept(marlinServer);
  ASSERT_NE(marlin, nullptr);
  EXPECT_EQ(readPeer(marlin, 12), "\rN1 G28 *50\r");
  std::string oks = "start\necho: External Reset\n";
  for (int i = 0; i < 50; ++i) oks += "ok\n";
  marlin->write(oks.data(), static_cast<qint64>(oks.size()));
  // Every reply of the arrival is read; fifty "ok"s for one line count it once.
  ASSERT_TRUE(pumpUntil([&] { return links.marlin.repliesSeen == 52; }));
  EXPECT_EQ(links.marlin.nrMarlinok, 1);
  EXPECT_TRUE(logHas(" Marlsocket OK"));

  unit->disconnectFromHost();
  ASSERT_TRUE(pumpUntil([&] { return logHas("disconnect"); }));
}

}  // namespace
