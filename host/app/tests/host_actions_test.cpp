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
  for (plat::Timer* t : {h.core.timers.HomeSeq.get(), h.core.timers.HoldMarlin.get(), h.core.timers.Drill.get(),
                         h.core.timers.FromFile.get(), h.core.timers.brushTimer.get(), h.core.timers.multpowd.get(),
                         h.core.timers.UpdwnRoller.get()}) {
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
