// The TCP client link against a server on 127.0.0.1 that the test runs in
// its own event loop.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <memory>

#include "host/components/tcp_byte_link.h"

using namespace ph;

namespace {

QCoreApplication& app() {
  static int argc = 1;
  static char name[] = "tcp_byte_link_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication a(argc, argv);
  return a;
}

bool waitUntil(const std::function<bool()>& cond, int ms = 5000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > ms) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

struct TcpLink : ::testing::Test {
  void SetUp() override {
    app();
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    link.setAddress("127.0.0.1", server.serverPort());
    link.onReceive = [this](const std::uint8_t* d, int n) {
      blocks.push_back(n);
      received.append(reinterpret_cast<const char*>(d), static_cast<std::size_t>(n));
    };
    link.onEvent = [this](LinkEvent e, int code) {
      events.push_back(e);
      if (e == LinkEvent::Error) errors.push_back(code);
    };
  }
  // The server's side of the next connection.
  QTcpSocket* accept() {
    if (!waitUntil([&] { return server.hasPendingConnections(); })) return nullptr;
    return server.nextPendingConnection();
  }
  std::string readAt(QTcpSocket* peer, std::size_t n) {
    std::string got;
    waitUntil([&] {
      got += peer->readAll().toStdString();
      return got.size() >= n;
    });
    return got;
  }
  int write(const std::string& s) {
    return link.write(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<int>(s.size()));
  }

  QTcpServer server;
  TcpByteLink link;
  std::string received;
  std::vector<int> blocks;
  std::vector<LinkEvent> events;
  std::vector<int> errors;
};

TEST_F(TcpLink, BytesWrittenBeforeTheConnectionGoOutOnConnectUpToTheBufferLimit) {
  EXPECT_FALSE(link.active());
  EXPECT_EQ(link.outQueueCount(), 0);
  // A write starts the connect; what fits waits for it.
  EXPECT_EQ(write("1,20o"), 5);
  EXPECT_TRUE(link.active());
  EXPECT_EQ(write(std::string(2000, 'x')), 0);   // never part of a block
  EXPECT_EQ(write(std::string(994, 'a')), 994);  // 999 in all
  EXPECT_EQ(write("b"), 0);                      // would make 1000
  EXPECT_EQ(link.outQueueCount(), 999);
  EXPECT_TRUE(link.cts());  // no modem lines: never held off

  QTcpSocket* peer = accept();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(waitUntil([&] { return link.isOpen(); }));
  EXPECT_TRUE(readAt(peer, 999) == "1,20o" + std::string(994, 'a'));
  EXPECT_EQ(events, (std::vector<LinkEvent>{LinkEvent::Connecting, LinkEvent::Connected}));
  // Connected: everything is taken.
  EXPECT_EQ(write(std::string(5000, 'c')), 5000);
  EXPECT_TRUE(readAt(peer, 5000) == std::string(5000, 'c'));
}

TEST_F(TcpLink, OneLargeArrivalIsHandedOnWholeInBlocksOfAtMost999) {
  link.setActive(true);
  QTcpSocket* peer = accept();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(waitUntil([&] { return link.isOpen(); }));
  std::string reply;
  for (int i = 0; i < 400; ++i) reply += "ok\n";
  reply += "~in_monitor ";
  peer->write(reply.data(), static_cast<qint64>(reply.size()));
  ASSERT_TRUE(waitUntil([&] { return received.size() >= reply.size(); }));
  EXPECT_EQ(received, reply);
  for (int n : blocks) EXPECT_LE(n, TcpByteLink::kReadBlock);
}

TEST_F(TcpLink, ADroppedConnectionIsReportedAndTheNextWriteConnectsAgain) {
  link.setActive(true);
  QTcpSocket* peer = accept();
  ASSERT_NE(peer, nullptr);
  ASSERT_TRUE(waitUntil([&] { return link.isOpen(); }));
  peer->disconnectFromHost();
  ASSERT_TRUE(waitUntil([&] { return !link.active(); }));
  EXPECT_EQ(events.back(), LinkEvent::Disconnected);
  EXPECT_EQ(link.outQueueCount(), 0);

  EXPECT_EQ(write("999j"), 4);
  QTcpSocket* again = accept();
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(readAt(again, 4), "999j");
}

TEST_F(TcpLink, ARefusedConnectIsAnErrorAndLeavesNothingQueued) {
  const quint16 port = server.serverPort();
  server.close();  // nothing listens there now
  link.setAddress("127.0.0.1", port);
  EXPECT_EQ(write("13o"), 3);
  ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
  EXPECT_EQ(errors.front(), ECONNREFUSED);
  ASSERT_TRUE(waitUntil([&] { return !link.active(); }));
  // A closed link reports an empty queue, so nobody waits on it.
  EXPECT_EQ(link.outQueueCount(), 0);
}

}  // namespace
