// The jetting unit's controls against the simulated unit (tools/sim) on a
// pseudo-terminal: its log is a second reading of the commands, and its
// temperature replies drive the priming check.
#include <gtest/gtest.h>

#include "host/machine/ink_controls.h"
#include "host/machine/tests/simulator.h"
#include "host/machine/tests/transport_fixture.h"

using namespace ph;

namespace {

struct SilentSound : plat::SoundPlayer {
  std::vector<std::string> played;
  bool play(const std::string& path) override {
    played.push_back(path);
    return true;
  }
};

struct SimControls : TransportFixture {
  std::string logName() {
    return std::string("unit-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
  }
  // Starts the unit with these switches and opens the link to it.
  bool startUnit(std::vector<std::string> args) {
    args.insert(args.begin(), "--pty");
    if (!sim.start(INKJET_SIM, args, logName())) return false;
    core.s.CommInkDevice = sim.pty();
    clock.advance(200);  // InkCommStart, firstinkj
    return links.ink.inkLinkOpen;
  }
  // The commands the unit read, from the first one of `first` on.
  std::vector<std::string> commandsFrom(const std::string& first) {
    auto cmds = sim.lines("cmd ");
    auto it = std::find(cmds.begin(), cmds.end(), first);
    return std::vector<std::string>(it, cmds.end());
  }

  Simulator sim;
  SilentSound sound;
  FakeInkPrint print{core};
  InkControls ink{core, links.ink, sound, print};
  bool eventsSet = (machineEvents.ink = &ink, true);
};

TEST_F(SimControls, WaterBurstReachesTheUnit) {
  ASSERT_TRUE(startUnit({}));
  ink.startBurst(true);
  ASSERT_TRUE(pumpUntil([&] { return !sim.lines("cmd 1000,22n").empty(); }));
  EXPECT_EQ(commandsFrom("999j"), (std::vector<std::string>{"999j", "7t", "1000,22n"}));
}

TEST_F(SimControls, CartridgeCheckMarksTheCartridgeTheUnitReportsFailed) {
  // The unit reports a failure right after the first cartridge's command.
  ASSERT_TRUE(startUnit({"--event", "cartrfail@cmd:17g"}));
  ink.checkCartridges(true);
  ASSERT_TRUE(pumpUntil([&] { return links.ink.cartridgeFail; }));
  clock.advance(200);
  ASSERT_TRUE(pumpUntil([&] { return !sim.lines("cmd 30,17t").empty(); }));
  clock.advance(200);
  EXPECT_EQ(ink.cartridgeBad, (std::array<bool, 2>{true, false}));
  EXPECT_EQ(commandsFrom("28t"), (std::vector<std::string>{"28t", "17g", "100,34n", "18g", "120,34n", "30,17t"}));
}

TEST_F(SimControls, PrimingCheckJudgesTheUnitsTemperatures) {
  // Each "12t" is answered with the next pair: before and after the water
  // burst, then before and after the colour burst.
  ASSERT_TRUE(startUnit({"--temps", "30,40", "--temps", "45,41", "--temps", "46,40", "--temps", "47,44"}));
  core.s.maxColorPrimeJump = 6;
  ink.startManualPrimeCheck();
  clock.advance(core.timers.at("primeStates").interval());
  ASSERT_TRUE(pumpUntil([&] { return links.ink.waterTemps[0] == 45 && links.ink.waterTemps[1] == 30; }));
  while (ink.primeStep != 7 && core.timers.at("primeStates").enabled()) clock.advance(clock.nextDueIn());
  ASSERT_TRUE(pumpUntil([&] { return links.ink.colorTemps[0] == 44 && links.ink.colorTemps[1] == 40; }));
  while (core.timers.at("primeStates").enabled()) clock.advance(clock.nextDueIn());
  EXPECT_TRUE(logHas("delta tempr W:15 C:4 (top 45 44)"));
  EXPECT_FALSE(logHas("ERROR"));
  ASSERT_TRUE(pumpUntil([&] { return !commandsFrom("1000,8n").empty() && commandsFrom("1000,8n").back() == "7t"; }));
  EXPECT_EQ(commandsFrom("0,34n"),
            (std::vector<std::string>{"0,34n", "12t", "100,34n", "999j", "1000,22n", "1050,34n", "12t", "12t",
                                      "100,34n", "999j", "7t", "1000,8n", "1050,34n", "12t", "7t"}));
}

}  // namespace
