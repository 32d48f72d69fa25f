// Both links against the simulated machines (tools/sim), started by each
// test over loopback TCP or a pseudo-terminal: the simulators' logs are a
// second reading of what the host sent.
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <fstream>
#include <thread>

#include "host/core/texts.h"
#include "host/machine/tests/simulator.h"
#include "host/machine/tests/transport_fixture.h"
#include "platform/process.h"

using namespace ph;

namespace {

struct SimLinks : TransportFixture {
  std::string logName(const char* what) {
    return std::string(what) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
  }
  // The jetting unit's running totals, as its log has them last.
  std::string unitTotals(const Simulator& sim) {
    const auto totals = sim.lines("bytes ");
    return totals.empty() ? "" : totals.back();
  }
  std::string hostTotals() {
    return "count=" + std::to_string(links.ink.inkByteCount) + " sum=" + std::to_string(links.ink.inkCheckSum);
  }

  // Announcements as the print sends them: inline purge codes and a zero
  // run closed by 0x80, then data and the stretch end; and an empty pass
  // whose data holds 0xBF as literal bytes.
  void announceStretches() {
    std::string purge = bytes({0x20, 0x96}) + std::string(22, '\xFF') + bytes({0xA0}) + std::string(32, '\xFF');
    purge += bytes({0x76, 0x36, 0x0A, 0x03, 0x80});  // 54 unchanged, 12982 zeros
    links.ink.sendInkCounted("2,2n0,5999p973j" + purge + bytes({0x85, 1, 2, 3, 4, 5, 0x18, 0x03, 0xBF}));
    links.ink.sendInkCounted("3n108,24n973j" + bytes({0x82, 0xBF, 0xBF, 0x35, 0xBF}));
  }

  // Sends six lines at once and waits until the machine has acknowledged
  // them all; returns the lines as written.
  std::vector<std::string> sendSixLines() {
    const char* codes[] = {"G28", "G1 X10 Y5 F3000", "G92 E0", "M106 S255", "G4 P5", "G1 Z0.3"};
    for (const char* c : codes) links.sendGcode(c);
    std::vector<std::string> written;
    for (std::string h = links.marlin.gcodeHistory.substr(1); !h.empty();) {
      std::string line = popToken(h, '~');
      written.push_back(line.substr(0, line.size() - 1));  // without CR
    }
    return written;
  }
  void expectEveryLineExecutedOnceInOrder(const Simulator& sim, int lines) {
    ASSERT_TRUE(pumpUntil([&] { return static_cast<int>(sim.lines("exec ").size()) >= lines; }));
    const std::vector<std::string> expected = {"N1 G28",   "N2 G1 X10 Y5 F3000", "N3 G92 E0", "N4 M106 S255",
                                               "N5 G4 P5", "N6 G1 Z0.3",         "N7 G1 X1"};
    EXPECT_EQ(sim.lines("exec "), std::vector<std::string>(expected.begin(), expected.begin() + lines));
  }

};

TEST_F(SimLinks, ACorruptedLineOverTcpIsResentWithExactlyTheRightLines) {
  Simulator sim;
  ASSERT_TRUE(sim.start(MARLIN_SIM, {"--port", "0", "--corrupt", "2", "--instant-dwell"}, logName("marlin")));
  links.chooseMarlinTransport("127.0.0.1", sim.port());
  links.openMarlin();
  const auto written = sendSixLines();
  ASSERT_EQ(written.size(), 6u);
  // Every line acknowledged: the counter is right after the resends.
  ASSERT_TRUE(pumpUntil([&] { return links.marlin.nrMarlinok == 6; }));
  expectEveryLineExecutedOnceInOrder(sim, 6);
  // The machine asked for line 2; what came next were lines as first
  // written, not as damaged on the way, from line 2 on.
  EXPECT_EQ(sim.lines("resend ").front(), "2");
  const auto received = sim.lines("line ");
  ASSERT_GE(received.size(), 11u);
  EXPECT_NE(received[1], written[1]);
  EXPECT_EQ(received[6], written[1]);
  for (std::size_t i = 6; i < received.size(); ++i)
    EXPECT_NE(std::find(written.begin() + 1, written.end(), received[i]), written.end()) << received[i];
  // The next fresh line follows on.
  links.sendGcode("G1 X1");
  expectEveryLineExecutedOnceInOrder(sim, 7);
  EXPECT_TRUE(pumpUntil([&] { return links.allLinesAcknowledged(); }));
}

TEST_F(SimLinks, ADroppedLineOnAPseudoTerminalIsResent) {
  Simulator sim;
  ASSERT_TRUE(sim.start(MARLIN_SIM, {"--pty", "--drop", "2", "--instant-dwell"}, logName("marlin")));
  core.s.CommPortMarlin = sim.pty();
  links.chooseMarlinTransport("", 0);
  links.openMarlin();
  ASSERT_TRUE(links.marlin.marlinLinkOpen);
  const auto written = sendSixLines();
  expectEveryLineExecutedOnceInOrder(sim, 6);
  const auto received = sim.lines("line ");
  ASSERT_GE(received.size(), 10u);
  // Lines 1 and 3 to 6 arrived, then line 2 again first.
  EXPECT_EQ(received[5], written[1]);
  // The machine's "Resend:" says what ran: the count is whole.
  ASSERT_TRUE(pumpUntil([&] { return links.marlin.nrMarlinok == 6; }));
  links.sendGcode("G1 X1");
  expectEveryLineExecutedOnceInOrder(sim, 7);
  EXPECT_TRUE(pumpUntil([&] { return links.allLinesAcknowledged(); }));
}

TEST_F(SimLinks, TheUnitOverTcpCountsTheDataAsTheHostDoes) {
  Simulator sim;
  ASSERT_TRUE(sim.start(INKJET_SIM, {"--port", "0"}, logName("unit")));
  core.s.CommInkDevice = "127.0.0.1:" + std::to_string(sim.port());
  clock.advance(200);  // InkCommStart, firstinkj
  links.ink.sendTestSequence();
  ASSERT_TRUE(pumpUntil([&] { return links.ink.inkStretchesDone == 1; }));
  ASSERT_TRUE(pumpUntil([&] { return !sim.lines("cmd 0j").empty(); }));
  EXPECT_EQ(unitTotals(sim), hostTotals());
  announceStretches();
  ASSERT_TRUE(pumpUntil([&] { return links.ink.inkStretchesDone == 3; }));
  ASSERT_TRUE(pumpUntil([&] { return sim.lines("bytes ").size() == 3; }));
  EXPECT_EQ(unitTotals(sim), hostTotals());
  // The opening codes came first, as commands.
  const auto cmds = sim.lines("cmd ");
  ASSERT_GE(cmds.size(), 2u);
  EXPECT_EQ(cmds[0], "1,20o");
  EXPECT_EQ(cmds[1], "13o");
}

TEST_F(SimLinks, TheUnitOnAPseudoTerminalAnswersAndRestarts) {
  Simulator sim;
  ASSERT_TRUE(sim.start(INKJET_SIM, {"--pty", "--temps", "31,45", "--event", "restart@cmd:19o"}, logName("unit")));
  core.s.CommInkDevice = sim.pty();
  clock.advance(200);
  ASSERT_TRUE(links.ink.inkLinkOpen);
  links.ink.sendInk(" 19o");
  ASSERT_TRUE(pumpUntil([&] { return links.ink.versionSeen; }));
  // The unit restarted: its init codes went out again.
  ASSERT_TRUE(pumpUntil([&] { return sim.lines("cmd 13o").size() == 2; }));
  links.ink.sendInkPending(" 12t ");
  ASSERT_TRUE(pumpUntil([&] { return links.ink.colorTemps[0] == 45; }));
  EXPECT_EQ(links.ink.waterTemps[0], 31);
  links.ink.sendTestSequence();
  announceStretches();
  ASSERT_TRUE(pumpUntil([&] { return links.ink.inkStretchesDone == 3; }));
  ASSERT_TRUE(pumpUntil([&] { return sim.lines("bytes ").size() == 3; }));
  EXPECT_EQ(unitTotals(sim), hostTotals());
}

}  // namespace
