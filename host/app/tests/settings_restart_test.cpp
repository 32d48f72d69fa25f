// Settings chosen in one run are the settings of the next start.
#include "host/app/tests/host_fixture.h"
#include <sys/stat.h>

#include "host/core/paths.h"
#include "host/core/testing/file_text.h"

using namespace ph;
using test::readAll;

TEST_F(HostTest, SaveAsIsLoadedAtTheNextStart) {
  write("prismhost.i3d", "");
  Host& first = start();
  first.core.s.printspeed = 2468;
  ui.files.push_back(currentDir() + "/Shop");
  first.settingsFiles.saveSettingsAs();
  host.reset();

  Host& next = start();
  EXPECT_EQ(next.core.s.settingsFile, "%currentdir%/Shop.i3d");
  EXPECT_EQ(next.core.s.printspeed, 2468);
}

// prismhost.i3d names a.i3d, which names b.i3d: only the main file
// redirects, so the settings are a.i3d's and saves go back to a.i3d; b.i3d,
// never read, keeps its own settings.
TEST_F(HostTest, ARedirectChainStopsAtTheFileThatWasLoaded) {
  write("prismhost.i3d", "inifile = \"a.i3d\"\r\n");
  write("a.i3d", "IniAutoSave = true\r\nprintspeed = 1111\r\ninifile = \"b.i3d\"\r\n");
  write("b.i3d", "printspeed = 2222\r\n");
  Host& h = start();
  EXPECT_EQ(h.core.s.settingsFile, "a.i3d");
  EXPECT_EQ(h.core.s.printspeed, 1111);
  EXPECT_TRUE(logHas("a.i3d names b.i3d as its settings file: not followed"));
  h.core.applySettings("?printspeed=3333", false);
  ASSERT_TRUE(h.settingsFiles.saveSettings());
  EXPECT_EQ(readAll("b.i3d"), "printspeed = 2222\r\n");
  EXPECT_NE(readAll("a.i3d").find("printspeed = 3333"), std::string::npos);
  host.reset();
  EXPECT_EQ(start().core.s.printspeed, 3333);
}

// Start-up never waits on a settings path that names a device, a pipe or a
// folder: it says which file it could not read and goes on with defaults.
TEST_F(HostTest, StartUpReportsSettingsFilesItCannotRead) {
  for (const std::string target : {"/dev/zero", "pipe.i3d", "folder.i3d"}) {
    ui.messages.clear();
    std::filesystem::create_directories("folder.i3d");
    if (!std::filesystem::exists("pipe.i3d")) mkfifo("pipe.i3d", 0600);
    write("prismhost.i3d", "inifile = \"" + target + "\"\r\nprintspeed = 5\r\n");
    Host& h = start();
    EXPECT_EQ(h.core.s.printspeed, 8000) << target;
    ASSERT_EQ(ui.messages.size(), 1u) << target;
    EXPECT_EQ(ui.messages[0].rfind("cannot read from file: " + target + " (", 0), 0u) << ui.messages[0];
    host.reset();
  }
  // The main settings file itself: told once, not at both reads.
  std::filesystem::remove("prismhost.i3d");
  std::filesystem::create_directories("prismhost.i3d");
  ui.messages.clear();
  start();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "cannot read from file: prismhost.i3d (a folder)");
}

TEST_F(HostTest, CommandLineSettingsKeepToTheirRanges) {
  Host& h = startAndInit({"-I", "?band64=0 printspeed=4000"});
  EXPECT_EQ(h.core.s.band64, 64);
  EXPECT_EQ(h.core.s.printspeed, 4000);
  EXPECT_TRUE(logHas("band64 = 0 not set: band64 must be from 1 to 150"));
}

TEST_F(HostTest, OverrideGeometryKeepsToItsRange) {
  write("commsoverride.i3d", "\r\nFormPosition = {10,20,30000,400}\r\n");
  Host& h = start();
  EXPECT_EQ(h.core.s.FormPosition, (std::array<int, 4>{10, 20, 0, 400}));
  EXPECT_TRUE(logHas("FormPosition[2] = 30000 not set: FormPosition must be from -10000 to 10000"));
}

namespace {
struct CountingView : ConfigEditorView {
  int shown = 0;
  void showEditor() override { ++shown; }
  void closeEditor() override {}
  void pageBuilt() override {}
  void fieldTextChanged(int) override {}
  void focusField(int) override {}
  void showMultiLineEditor() override {}
  void closeMultiLineEditor() override {}
};
}  // namespace

TEST_F(HostTest, TheEditorAndTheSearchAreOnTheSetupMenu) {
  Host& h = start();
  CountingView view;
  h.configEditor.view = &view;
  Control& config = h.core.controls.at("config1");
  Control& search = h.core.controls.at("SearchParam1");
  EXPECT_EQ(config.parent, "setup1");
  EXPECT_TRUE(config.visible);  // visible outside expert mode too
  EXPECT_TRUE(search.visible);
  config.click();
  EXPECT_EQ(view.shown, 1);
  ui.inputs.push_back("printspeed");
  search.click();
  EXPECT_EQ(view.shown, 2);
  EXPECT_EQ(h.configEditor.page().group, "fdm");
  h.core.controls.at("pause").onRightClick();
  EXPECT_TRUE(h.core.s.pauseEachLayer);
}
