// Button and menu hints, and the developer aids that list controls and
// collect hint texts.
#include "host/core/hints.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "host/core/testing/core_fixture.h"

using namespace ph;

namespace {
const char* kCartridgesWrapped =
    "Check if cartridges are connected.\nFirst beep is color. Low\ntone is error. Right click\nfor repeated check";
}

class HintsTest : public ::testing::Test, public CoreFixture {
 protected:
  HintsTest() {
    using K = Control::Kind;
    controls().add(K::Menu, "setfile1", "Files");
    controls().add(K::MenuItem, "saveini1", "save_ini", "setfile1").hint = "save the settings file";
    controls().add(K::MenuItem, "btnames", "button names", "setfile1");
    controls().add(K::MenuItem, "", "Roller on", "setfile1");  // made at run time
    controls().add(K::Button, "btCartridges", "Cartridges");
    controls().add(K::Button, "btPrep", "prep layers");
    controls().add(K::Button, "btPlatform", "platform");
    controls().add(K::CheckBox, "cb_comm", "cb_comm");
    controls().add(K::UpDown, "UpDown1", "");
    controls().add(K::Label, "Label3", "");
  }
  Controls& controls() { return core.controls; }
  Control& at(const char* name) { return core.controls.at(name); }
  Hints hints{core};
};

TEST_F(HintsTest, TableHintsAreWrappedForControlsAndWholeForMenus) {
  hints.applyButtonHints();
  EXPECT_EQ(at("btCartridges").hint, kCartridgesWrapped);
  EXPECT_TRUE(at("btCartridges").showHint);
  EXPECT_EQ(at("UpDown1").hint, "Move platform 0.5 mm up or\ndown");
  EXPECT_EQ(at("setfile1").hint, "select files");
  EXPECT_FALSE(at("setfile1").showHint);
  EXPECT_EQ(at("Label3").hint, "");  // not in the table
  EXPECT_TRUE(at("btPlatform").visible);
}

TEST_F(HintsTest, DualBoxHasItsOwnTexts) {
  core.s.dualbox = 1;
  hints.applyButtonHints();
  EXPECT_EQ(at("UpDown1").hint, "Move model bottom 0.5 mm\nup or down, right mouse =\nfeeder bottom");
  EXPECT_EQ(at("btPrep").hint, "setup to fill the feeder\nand model box with powder");
  EXPECT_TRUE(at("btPrep").showHint);
  EXPECT_FALSE(at("btPlatform").visible);
}

TEST_F(HintsTest, HintsFollowTheSettingAfterEveryChange) {
  core.applySettings("?printspeed=1", false);  // ButtonHints is on by default
  clock.advance(100);
  EXPECT_TRUE(at("cb_comm").showHint);
  EXPECT_FALSE(core.timers.at("ParamUpdates").enabled());

  at("cb_comm").setHint("mine", true);
  core.applySettings("?printspeed=2", false);  // unchanged setting: hints left alone
  clock.advance(100);
  EXPECT_EQ(at("cb_comm").hint, "mine");

  core.applySettings("?ButtonHints=false", false);
  clock.advance(100);
  EXPECT_FALSE(at("cb_comm").showHint);
  EXPECT_FALSE(at("btCartridges").showHint);
  EXPECT_FALSE(hints.lastButtonHints);

  core.applySettings("?ButtonHints=true", false);
  clock.advance(100);
  EXPECT_EQ(at("cb_comm").hint, "enable or disable communication\nto ink unit");
  EXPECT_TRUE(at("cb_comm").showHint);
}

TEST_F(HintsTest, MenuHintShowsInTheSecondPanelForFiveSeconds) {
  ui.status[1] = "other";
  hints.menuSelectHint(&at("btnames"));  // no hint, none of ours shown: panel kept
  EXPECT_EQ(ui.status[1], "other");

  hints.menuSelectHint(&at("saveini1"));
  EXPECT_EQ(ui.status[1], "save the settings file");
  EXPECT_TRUE(hints.menuHintShown);
  hints.menuSelectHint(nullptr);  // the menu closed
  EXPECT_EQ(ui.status[1], "save the settings file");
  clock.advance(5000);
  EXPECT_EQ(ui.status[1], "");
  EXPECT_FALSE(core.timers.at("EndHint").enabled());

  hints.menuSelectHint(&at("saveini1"));
  ui.status[1] = "save the settings file";
  hints.menuSelectHint(&at("btnames"));
  EXPECT_EQ(ui.status[1], "");
  EXPECT_FALSE(hints.menuHintShown);
  EXPECT_FALSE(core.timers.at("EndHint").enabled());
}

TEST_F(HintsTest, ControlAndMenuLists) {
  hints.listButtonNames();
  EXPECT_EQ(log(), (std::vector<std::string>{"btCartridges;Cartridges~", "btPrep;prep layers~",
                                             "btPlatform;platform~", "cb_comm;cb_comm~", "UpDown1;---~"}));
  core.Memo1.clear();
  hints.listMenuItems();
  // The fixture's four option items come first.
  EXPECT_EQ(log(), (std::vector<std::string>{"connectcheck1", "IgnoreHopper1", "temprcontrol1", "NoColor1", "setfile1",
                                             "saveini1", "btnames"}));
}

TEST_F(HintsTest, SethintCallsBecomeTableEntries) {
  const std::string file = "sethints-" + std::to_string(getpid()) + ".cpp";
  std::ofstream(file, std::ios::binary) << "void __fastcall TForm1::btStartClick(TObject *Sender)\r\n"
                                           "{\r\n"
                                           "  sethint(\"Start the print\");\r\n"
                                           "  sethint(\"\");\r\n"
                                           " sethint(\"one blank\");\r\n"
                                           "}\r\n"
                                           "void __fastcall TForm1::FormCreate(TObject *Sender)\r\n"
                                           "{    sethint(\"deeper\");\r\n";
  hints.listSetHintCalls(file);
  std::remove(file.c_str());
  EXPECT_EQ(log(), (std::vector<std::string>{",\"btStartClick;0~Start the print\"", ",\"FormCreate;0~deeper\""}));

  hints.listSetHintCalls("no-such-source.cpp");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "cannot read from file: no-such-source.cpp");
  EXPECT_FALSE(core.abortRequested());
}
