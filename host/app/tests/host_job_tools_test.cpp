// The viewer and the job-data tools as the main window reaches them: the
// "pr dmc" button, the "simloop" switch and the tool items of "funct1".
#include "host/app/tests/host_fixture.h"

using namespace ph;

TEST_F(HostTest, JobToolItemsAreExpertItemsOfTheFunctionsMenuAndRunTheirTools) {
  Host& h = start();
  const std::string dmc = h.job.workFileName("dmc");
  const struct {
    const char* item;
    std::string told;  // the message box, or the log line, that shows the tool ran
  } items[] = {
      {"shortp3d1", "no file: " + h.job.workFileName("p3d")},
      {"dmccount1", "countdmcstretches()=0 skippedStretch=0"},
      {"dmc2rhino1", "cannot read from file: " + dmc},
      {"byBlocksTst1", "cannot read from file: " + dmc},
      {"pakuit1", "cannot read from file: " + dmc},
      {"unblockdmc1", "cannot read from file: " + dmc},
      {"equalgfk1", "cannot read from file: " + h.job.workFileName("dmp")},
  };
  for (const auto& it : items) {
    Control& c = h.core.controls.at(it.item);
    EXPECT_EQ(c.parent, "funct1") << it.item;
    EXPECT_FALSE(c.visible) << it.item;  // no expert file here
    ui.messages.clear();
    h.core.Memo1.clear();
    c.click();
    const bool told = (!ui.messages.empty() && ui.messages.back() == it.told) || logHas(it.told);
    EXPECT_TRUE(told) << it.item;
  }
  ui.inputs = {std::string("2"), std::string("c")};
  h.core.controls.at("dmcimage1").click();
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"testlayer", "showcolors"}));
  EXPECT_TRUE(logHas("showcolormask=2"));
}

TEST_F(HostTest, PrDmcConvertsAStaleJobAndSimloopRunsTheSimulation) {
  Host& h = start();
  ui.inputs = {std::string("3")};
  h.core.controls.at("btDmc").click();
  EXPECT_TRUE(logHas("converting .p3d to .dmc file"));  // no .dmc of this run yet
  EXPECT_EQ(ui.prompts, std::vector<std::string>{"display_strook"});
  EXPECT_EQ(h.viewer.displayStretch, 3);

  Control& simloop = h.core.controls.at("simloop1");
  simloop.checked = true;
  simloop.click();
  EXPECT_TRUE(h.core.timers.at("PrintSim").running());
  simloop.checked = false;  // unticked: it stops at once, and an abort stays
  h.core.requestAbort();
  simloop.click();
  EXPECT_FALSE(h.core.timers.at("PrintSim").running());
  EXPECT_TRUE(h.core.abortRequested());
}
