#pragma once
// The machine links on their real transports (serial components, TCP
// clients) with a manual clock for the timers: serial events come through a
// queue the test runs, socket events through the Qt event loop.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/components/tests/comm_test_support.h"
#include "host/machine/machine_links.h"
#include "host/machine/tests/link_fixture.h"

namespace ph {

inline QCoreApplication& qtApp() {
  static int argc = 1;
  static char name[] = "machine_tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication a(argc, argv);
  return a;
}

struct TransportFixture : ::testing::Test, CoreFixture {
  TransportFixture() { qtApp(); }
  // Runs serial events and socket events until cond holds.
  bool pumpUntil(const std::function<bool()>& cond, int ms = 5000) {
    QElapsedTimer t;
    t.start();
    while (!cond()) {
      if (t.elapsed() > ms) return false;
      events.waitAndRun(2);
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

  plat::PostQueue events;  // serial events for the UI thread
  // The controls exist before the links bind their handlers.
  bool controlsMade = (addLinkControls(core.controls), true);
  SettingsFiles files{core};
  RecordingEvents machineEvents;
  // The Marlin link's events; a test with a sequencer or machine actions
  // sends them there, as the Host does.
  struct ForwardedMarlinEvents : MarlinEvents {
    std::function<void(const std::string&)> lost = [](const std::string&) {};
    std::function<void()> opened = [] {};
    std::function<bool()> hold = [] { return false; };
    std::function<void(bool)> release = [](bool) {};
    std::function<void(int)> homePace = [](int) {};
    void linesLost(const std::string& why) override { lost(why); }
    void linkOpened() override { opened(); }
    bool holdPrintTick() override { return hold(); }
    void releasePrintTick(bool wasTicking) override { release(wasTicking); }
    void setHomePace(int ms) override { homePace(ms); }
  } marlinEvents;
  DeviceLinks links{core, files, events.poster(), machineEvents, marlinEvents};
  bool linksBound = (links.bindControls(), true);
  bool codesToLink = (core.sendUnitCodesTo(links.ink), true);
};

}  // namespace ph
