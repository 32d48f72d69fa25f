// The machine actions against the simulated Marlin machine over loopback:
// its log is a second reading of what home, the brush and a powder layer
// sent, and shows that each line was executed once and in order.
#include <gtest/gtest.h>

#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/machine/machine_actions.h"
#include "host/machine/tests/simulator.h"
#include "host/machine/tests/transport_fixture.h"

using namespace ph;

namespace {

struct SimActions : TransportFixture {
  JobState job{core};
  JobLayout layout{core, job};
  MotionControls motion{core, links.marlin, links.ink};
  FakeActionSteps steps;
  MachineActions act{core, links.marlin, links.ink, motion, layout, steps};

  SimActions() {
    // The controls whose clicks the actions bind, as the main window has them.
    using K = Control::Kind;
    addMachineActionItems(core.controls);
    for (const char* n : {"BtHome", "btzreset", "btpark", "btFront", "btPlatform", "btPrep"})
      core.controls.add(K::Button, n, n);
    for (const char* n : {"PrepLifts1", "cocooned1", "multiPowderlayer1"})
      if (!core.controls.find(n)) core.controls.add(K::MenuItem, n, n, "options1").checkable = true;
    act.bindControls();
    marlinEvents.homePace = [this](int ms) { act.setHomePace(ms); };
    // The sequencer's start X of a print without a layer shift.
    steps.startX = [this] { motion.setHeadX(core.s.xMarlinBase - layout.buildRoomSkip); };
  }
  // Runs the manual clock and the link events until cond holds.
  bool runUntil(const std::function<bool()>& cond) {
    return pumpUntil([&] {
      clock.advance(10);
      return cond();
    }, 20000);
  }
  // The executed codes without their line numbers.
  static std::vector<std::string> codes(const Simulator& sim) {
    std::vector<std::string> out;
    for (const std::string& l : sim.lines("exec ")) out.push_back(l.substr(l.find(' ') + 1));
    return out;
  }
};

TEST_F(SimActions, HomeBrushAndPowderLayerAreExecutedInOrder) {
  Simulator sim;
  ASSERT_TRUE(sim.start(MARLIN_SIM, {"--port", "0", "--instant-dwell"},
                        std::string("marlin-") + ::testing::UnitTest::GetInstance()->current_test_info()->name() +
                            ".log"));
  links.chooseMarlinTransport("127.0.0.1", sim.port());
  core.s.plateTime = 500;
  act.home();
  ASSERT_TRUE(runUntil([&] { return !core.timers.at("HomeSeq").enabled() && act.linesSettled(); }));
  act.startBrush();
  ASSERT_TRUE(runUntil([&] { return !core.timers.at("brushTimer").enabled() && act.linesSettled(); }));
  core.s.LayerGcodes = "G0 Y10/G1 E%p%/G0 Y200";
  core.s.powderPercentage = 25;
  act.layOnePowderLayer();
  ASSERT_TRUE(runUntil([&] { return act.linesSettled(); }));

  std::vector<std::string> expected = {"M110", "M302", "M203 E1.00", "G0 E0.30", "M201 X1000 Y1000",
                                       "M202 X1000 Y1000", "G92 Z0", "M202 X1000 Y1000", "G28 X0 Y0",
                                       "G0 X133.00 Y220.00 F8000"};
  for (std::string path = MachineActions::kBrushPath; !path.empty();) {
    std::string item = path.substr(0, path.find(','));
    path = path.find(',') == std::string::npos ? "" : path.substr(path.find(',') + 1);
    expected.push_back("G0 " + item.substr(item.find_first_not_of(' ')));
  }
  for (const char* c : {"G0 Y10", "G1 E0.25", "G0 Y200", "M106 S0"}) expected.push_back(c);
  ASSERT_TRUE(runUntil([&] { return sim.lines("exec ").size() >= expected.size(); }));
  EXPECT_EQ(codes(sim), expected);
  EXPECT_EQ(links.marlin.nrMarlinok, links.marlin.Marlinlin);
}

}  // namespace
