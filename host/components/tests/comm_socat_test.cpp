// Two serial components talking through a socat pty pair, as two programs
// on two ends of a cable would.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "host/components/comm_byte_link.h"
#include "host/components/tests/comm_test_support.h"
#include "platform/format.h"
#include "platform/process.h"

using namespace ph;
using commtest::pumpUntil;
namespace fs = std::filesystem;

namespace {

// A socat process joining two pseudo-terminals; the links name their slaves.
struct SocatPair {
  std::string dir, a, b;
  pid_t pid = -1;
  SocatPair() {
    dir = plat::format("socat-%d-%d", static_cast<int>(getpid()), counter()++);
    fs::create_directories(dir);
    a = fs::absolute(dir + "/a").string();
    b = fs::absolute(dir + "/b").string();
    auto r = plat::spawnProcess({"socat", "pty,rawer,link=" + a, "pty,rawer,link=" + b});
    pid = r.pid;
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (pid > 0 && !(fs::exists(a) && fs::exists(b)) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  bool ready() const { return pid > 0 && fs::exists(a) && fs::exists(b); }
  void stop() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    plat::waitProcess(pid, -1);
    pid = -1;
  }
  ~SocatPair() {
    stop();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  static int& counter() {
    static int n = 0;
    return n;
  }
};

TEST(CommSocat, TwoLinksTalkBothWaysAndSeeTheCableGo) {
  SocatPair pair;
  ASSERT_TRUE(pair.ready()) << "socat did not start";
  plat::PostQueue ui;
  TCommCust host(ui.poster()), machine(ui.poster());
  host.SetDeviceName(pair.a);
  machine.SetDeviceName(pair.b);
  host.SetBaudRate(TCBaudRate::brcustom);
  host.SetCustomBaudRate(250000);
  host.Open();
  machine.Open();
  ASSERT_TRUE(host.Enabled());
  ASSERT_TRUE(machine.Enabled());

  CommByteLink hostLink(host), machineLink(machine);
  std::string atHost, atMachine;
  hostLink.onReceive = [&](const std::uint8_t* d, int n) { atHost.append(reinterpret_cast<const char*>(d), n); };
  machineLink.onReceive = [&](const std::uint8_t* d, int n) {
    atMachine.append(reinterpret_cast<const char*>(d), n);
  };
  EXPECT_TRUE(hostLink.isOpen());
  EXPECT_TRUE(hostLink.cts());

  const std::string gcode = "N1 G28 *18\r";
  ASSERT_EQ(hostLink.write(reinterpret_cast<const std::uint8_t*>(gcode.data()), static_cast<int>(gcode.size())),
            static_cast<int>(gcode.size()));
  ASSERT_TRUE(pumpUntil(ui, [&] { return atMachine.size() >= gcode.size(); }));
  EXPECT_EQ(atMachine, gcode);
  std::string reply(3000, 'r');  // more than one read's worth
  reply += "ok\n";
  ASSERT_EQ(machineLink.write(reinterpret_cast<const std::uint8_t*>(reply.data()), static_cast<int>(reply.size())),
            static_cast<int>(reply.size()));
  ASSERT_TRUE(pumpUntil(ui, [&] { return atHost.size() >= reply.size(); }));
  EXPECT_EQ(atHost, reply);
  EXPECT_GE(hostLink.outQueueCount(), 0);

  // The cable is pulled: the link reports it once.
  std::vector<LinkEvent> events;
  hostLink.onEvent = [&](LinkEvent e, int) { events.push_back(e); };
  pair.stop();
  ASSERT_TRUE(pumpUntil(ui, [&] { return !events.empty(); }));
  commtest::pumpFor(ui, 100);
  EXPECT_EQ(events, (std::vector<LinkEvent>{LinkEvent::Disconnected}));
  host.Close();
  machine.Close();
  EXPECT_FALSE(hostLink.isOpen());
  EXPECT_EQ(hostLink.outQueueCount(), 0);  // a closed port has nothing waiting
}

}  // namespace
