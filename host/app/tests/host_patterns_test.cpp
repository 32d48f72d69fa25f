// The pattern, test and ex-buttons menus and the developer aids as the
// window reaches them.
#include <filesystem>

#include "host_fixture.h"

namespace ph {
namespace {

TEST_F(HostTest, EveryPatternAndTableItemIsBound) {
  Host& h = start();
  for (const char* menu : {"pattern1", "test1", "exbuttons1"}) {
    int items = 0;
    for (const Control& c : h.core.controls.all())
      if (c.parent == menu) {
        ++items;
        EXPECT_TRUE(bool(c.onClick)) << c.name;
      }
    EXPECT_GT(items, 0) << menu;
  }
  for (const char* name : {"btDspP3d", "tstbt", "LabStretch", "vlabel", "fdebug1", "bitreport1"})
    EXPECT_TRUE(bool(h.core.controls.at(name).onClick)) << name;
  EXPECT_TRUE(bool(h.core.controls.at("btDspP3d").onRightClick));
  EXPECT_EQ(h.core.controls.at("coarse1").tag, 8);
  EXPECT_EQ(h.core.controls.at("allcolors1").tag, 4);

  // "allignWater" writes the pattern job into the work folder.
  h.core.controls.at("allignWater1").click();
  EXPECT_TRUE(std::filesystem::exists("pattern.p3d"));
  h.core.controls.at("btDspP3d").onRightClick();
  EXPECT_TRUE(h.preview.accumulate);
  h.core.controls.at("vlabel").click();
  EXPECT_EQ(ui.keyPopups, 1);
  h.core.controls.at("tstbt").click();
  EXPECT_TRUE(logHas("ix=47 formgrens(Form1)=4 formbalk(Form1)=47"));
}

TEST_F(HostTest, TheDebugDumpOpensAndClosesInTheWorkFolder) {
  Host& h = start();
  Control& item = h.core.controls.at("fdebug1");
  item.click();
  ASSERT_TRUE(bool(h.deviceLinks.ink.debugDumpFile));
  EXPECT_TRUE(std::filesystem::exists("pbaydebug.dmp"));
  std::fputs("x", h.deviceLinks.ink.debugDumpFile.get());
  item.click();
  EXPECT_FALSE(bool(h.deviceLinks.ink.debugDumpFile));
  EXPECT_EQ(std::filesystem::file_size("pbaydebug.dmp"), 1u);
  EXPECT_TRUE(logHas("pbaydebug.dmp closed"));

  // A dump that cannot be made is told, and nothing is dumped.
  std::filesystem::remove("pbaydebug.dmp");
  std::filesystem::create_directory("pbaydebug.dmp");
  item.click();
  EXPECT_FALSE(bool(h.deviceLinks.ink.debugDumpFile));
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("pbaydebug.dmp"), std::string::npos);
}

}  // namespace
}  // namespace ph
