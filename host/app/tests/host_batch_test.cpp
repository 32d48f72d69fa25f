// The batch print, the alignment and the calibration as the Host binds
// them: the button, the menu items, the terminal's alignment key, the
// sequencer's alignment entry and -B without a model.
#include "host/app/tests/host_fixture.h"

using namespace ph;

TEST_F(HostTest, TheBatchItemsAreBoundInTheirMenus) {
  Host& h = start();
  const struct {
    const char* name;
    const char* menu;
  } items[] = {{"setallign1", "pattern1"}, {"Calibratepulses1", "inkjet1"}, {"viewprep1", "setfile1"}};
  for (const auto& i : items) {
    const Control& c = h.core.controls.at(i.name);
    EXPECT_EQ(c.parent, i.menu) << i.name;
    EXPECT_TRUE(bool(c.onClick)) << i.name;
  }
  for (const char* b : {"btBatch", "btAllign"}) EXPECT_TRUE(bool(h.core.controls.at(b).onClick)) << b;
  // The sequencer's alignment entry (after an alignment print) reaches the
  // batch's entry.
  const int dropgrens = h.core.s.dropgrens;
  ui.fieldAnswers.push_back({"0", "1"});
  h.wiring.enterBestMatch();
  EXPECT_EQ(h.core.s.dropgrens, dropgrens + 2);
}

TEST_F(HostTest, TheTerminalsAlignmentKeyStartsTheAlignment) {
  Host& h = start();
  h.deviceLinks.ink.takeTerminalKey('~');
  EXPECT_FALSE(logHas("not built"));
  EXPECT_EQ(ui.messages, std::vector<std::string>{"no allign pattern found"});
}

TEST_F(HostTest, TheAlignmentEntryMovesTheOffsets) {
  Host& h = start();
  const int dropgrens = h.core.s.dropgrens;
  ui.fieldAnswers.push_back({"0", "1"});
  h.core.controls.at("setallign1").click();
  EXPECT_EQ(h.core.s.dropgrens, dropgrens + 2);
}

TEST_F(HostTest, ABatchRunWithoutAModelEndsWithAFailure) {
  Host& h = startAndInit({"-F", "missing.stl", "-B"});
  EXPECT_TRUE(logHas("batch print stopped: no job for missing.stl"));
  EXPECT_EQ(h.exitStatus(), 1);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_FALSE(h.core.timers.at("Batch").enabled());
  EXPECT_FALSE(h.core.timers.at("LeaveProgram").enabled());
}
