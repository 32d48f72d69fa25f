// The jetting unit's controls and the setting dialogs as the window reaches
// them: menu items, buttons and the terminal's keys lead to their handlers.
#include "host/app/tests/host_fixture.h"

namespace ph {

TEST_F(HostTest, EveryControlOfTheUnitAndEveryDialogHasItsHandler) {
  Host& h = start();
  const struct {
    const char* name;
    const char* menu;
  } items[] = {{"primecheck1", "inkjet1"},   {"burstdelay1", "inkjet1"},   {"heatlevels1", "inkjet1"},
               {"blacktempr1", "inkjet1"},   {"inkjlater1", "inkjet1"},    {"pasteink1", "inkjet1"},
               {"rollerboost1", "inkjet1"},  {"scancartridges1", "options1"}, {"connectcheck1", "options1"},
               {"IgnoreHopper1", "options1"}, {"filename1", "setup1"},     {"powder1", "setup1"},
               {"extracodes1", "setup1"},    {"preparelayers1", "setup1"}, {"wfor1", "setup1"},
               {"laagdikte1", "setup1"},     {"speedoptions1", "setup1"},  {"marges1", "setup1"},
               {"kcmyoffsets1", "setup1"},   {"laystart1", "setup1"}};
  for (const auto& i : items) {
    const Control& c = h.core.controls.at(i.name);
    EXPECT_EQ(c.parent, i.menu) << i.name;
    EXPECT_TRUE(bool(c.onClick)) << i.name;
  }
  for (const char* b : {"btCartridges", "BurstCol", "BurstWtr", "cbkeepwet"})
    EXPECT_TRUE(bool(h.core.controls.at(b).onClick)) << b;
  EXPECT_TRUE(bool(h.core.controls.at("btCartridges").onRightClick));
}

TEST_F(HostTest, TheTerminalsEscRunsTheCartridgeCheck) {
  Host& h = start();
  h.deviceLinks.ink.takeTerminalKey(27);
  EXPECT_TRUE(h.core.timers.at("cartrsound").enabled());
  EXPECT_FALSE(logHas("not built"));
}

TEST_F(HostTest, TheLayerThicknessDialogMakesTheSlicedJobStale) {
  Host& h = start();
  h.job.jobReady = true;
  h.job.dmcCurrent = true;
  ui.inputs.push_back("300");
  h.core.controls.at("laagdikte1").click();
  EXPECT_EQ(h.core.s.layerMicrons, 300);
  EXPECT_FALSE(h.job.jobReady);
  EXPECT_FALSE(h.job.dmcCurrent);
}

}  // namespace ph
