// The machine actions as the window reaches them: buttons and menu items
// lead to their handlers, and the actions reach the sequencer, the
// jetting-unit controls and the mesh tools they act on.
#include "host/app/tests/host_fixture.h"

namespace ph {

TEST_F(HostTest, EveryMachineActionHasItsHandler) {
  Host& h = start();
  for (const char* b : {"BtHome", "btzreset", "btpark", "btFront", "btPlatform", "btPrep", "btBrush", "PrepLifts1",
                        "multiPowderlayer1", "cocooned1", "onePowderLayer1", "Powdskip1", "drillpatern1",
                        "gcodefile1", "drying1", "plateheating1", "platereset1", "UnpowerSteppers1"})
    EXPECT_TRUE(bool(h.core.controls.at(b).onClick)) << b;
  for (plat::Timer* t : {&h.core.timers.at("HomeSeq"), &h.core.timers.at("HoldMarlin"), &h.core.timers.at("Drill"),
                         &h.core.timers.at("FromFile"), &h.core.timers.at("brushTimer"), &h.core.timers.at("multpowd"),
                         &h.core.timers.at("UpdwnRoller")}) {
    t->start();
    EXPECT_TRUE(t->running()) << t->name();
    t->stop();
  }
}

TEST_F(HostTest, MachineActionsReachWhatTheyActOn) {
  Host& h = start();
  h.core.controls.at("Powdskip1").click();
  EXPECT_EQ(h.sequencer.powderSkipState, 1);
  h.mesh.cocoonWalls = true;
  h.core.controls.at("cocooned1").setChecked(false);
  h.core.controls.at("cocooned1").click();
  EXPECT_FALSE(h.mesh.cocoonWalls);
  h.core.s.wetWhileMoved = true;
  h.core.controls.at("btpark").click();
  EXPECT_TRUE(h.core.controls.at("cbkeepwet").checked);
  EXPECT_TRUE(logHas("keepwet set"));
  h.core.controls.at("btpark").click();
  EXPECT_TRUE(logHas("keepwet clr"));
  EXPECT_FALSE(logHas("not built"));
}

}  // namespace ph
