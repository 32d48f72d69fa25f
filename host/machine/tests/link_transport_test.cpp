// Both links on their real transports, opened by the start-up timer: the
// serial components on pseudo-terminals whose master side the test plays,
// and the TCP clients against servers on 127.0.0.1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include "host/components/tests/comm_test_support.h"
#include "host/machine/machine_links.h"
#include "host/machine/tests/link_fixture.h"

using namespace ph;

namespace {

QCoreApplication& app() {
  static int argc = 1;
  static char name[] = "link_transport_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication a(argc, argv);
  return a;
}

struct Transports : ::testing::Test, CoreFixture {
  Transports() { app(); }
  // Runs serial events and socket events until cond holds.
  bool pumpUntil(const std::function<bool()>& cond, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
      if (t.elapsed() > ms) return false;
      ui.waitAndRun(2);
      QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
    return true;
  }
  // What a pty master or a server socket receives until it holds n bytes.
  std::string readPty(const commtest::Pty& p, std::size_t n) {
    std::string got;
    pumpUntil([&] {
      got += p.drain(1);
      return got.size() >= n;
    });
    return got;
  }
  std::string readPeer(QTcpSocket* s, std::size_t n) {
    std::string got;
    pumpUntil([&] {
      got += s->readAll().toStdString();
      return got.size() >= n;
    });
    return got;
  }
  QTcpSocket* accept(QTcpServer& server) {
    if (!pumpUntil([&] { return server.hasPendingConnections(); })) return nullptr;
    return server.nextPendingConnection();
  }
  bool logHas(const std::string& part) const {
    for (const auto& l : log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  plat::PostQueue ui;
  // The controls exist before the links bind their handlers.
  bool controlsMade = (addLinkControls(core.controls), true);
  SettingsFiles files{core};
  DeviceLinks links{core, files, ui.poster()};
};

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
  core.timers.InkCts->start();
  unit.closeMaster();
  ASSERT_TRUE(pumpUntil([&] { return !links.ink.commandsWaiting(); }));
  EXPECT_FALSE(core.timers.InkCts->enabled());
  EXPECT_TRUE(logHas("jetting unit port gone"));
}

TEST_F(Transports, TcpLinksToServersOnLoopback) {
  QTcpServer unitServer, marlinServer;
  ASSERT_TRUE(unitServer.listen(QHostAddress::LocalHost, 0));
  ASSERT_TRUE(marlinServer.listen(QHostAddress::LocalHost, 0));
  core.s.CommInkDevice = "127.0.0.1:" + std::to_string(unitServer.serverPort());
  core.marlinOverTcp = true;
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
  ASSERT_TRUE(pumpUntil([&] { return links.marlin.nrMarlinok == -1 + 50; }));
  EXPECT_TRUE(logHas(" Marlsocket OK"));

  unit->disconnectFromHost();
  ASSERT_TRUE(pumpUntil([&] { return logHas("disconnect"); }));
}

}  // namespace
