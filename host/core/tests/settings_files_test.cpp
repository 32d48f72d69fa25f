// The settings files on real files: open with its redirect line, merge,
// save, save-as, the full dump, the path fix-up and the small file helpers.
#include "host/core/testing/file_text.h"
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"

using namespace ph;
using test::readAll;
using test::writeAll;
namespace fs = std::filesystem;

namespace {
std::vector<std::string> crlfLines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t from = 0;
  for (auto p = text.find("\r\n"); p != std::string::npos; p = text.find("\r\n", from)) {
    out.push_back(text.substr(from, p - from));
    from = p + 2;
  }
  EXPECT_EQ(from, text.size()) << "every line ends in CR LF";
  return out;
}
}  // namespace

// A core with the whole table, in a scratch folder that is the current
// folder and the program folder.
class SettingsFilesTest : public ::testing::Test, public CoreFixture {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const fs::path d = fs::temp_directory_path() / ("settingsfiles-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(d);
    fs::create_directories(d);
    fs::current_path(d);
    dir = currentDir();
    core.progDir = dir + "/";
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir);
  }
  bool logHas(const std::string& part) const {
    for (const auto& l : log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  std::string dir;
  SettingsFiles files{core};

 private:
  fs::path old_;
};

TEST_F(SettingsFilesTest, OpenResetsLoadsAndWritesTheRedirectLine) {
  writeAll("prismhost.i3d", "inifile = \"old.i3d\"\r\nprintspeed = 1\r\n");
  writeAll("other.i3d", "printspeed = 4321\r\ninifile = \"elsewhere.i3d\"\r\nnosuch = 5\r\n");
  core.s.movespeed = 1;
  core.s.settingsFile = "%currentdir%/prismhost.i3d";

  ui.files.push_back(std::nullopt);  // cancelled: nothing changes
  files.openSettingsFile();
  EXPECT_EQ(core.s.movespeed, 1);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].fileName, dir + "/prismhost.i3d");
  EXPECT_EQ(ui.dialogs[0].filter, "ini files|*.i3d");
  EXPECT_EQ(ui.dialogs[0].defaultExt, "i3d");

  core.markSettingsSaved();
  ui.files.push_back(dir + "/other.i3d");
  files.openSettingsFile();
  EXPECT_EQ(core.s.printspeed, 4321);
  EXPECT_EQ(core.s.movespeed, 8000);                    // reset first
  EXPECT_EQ(core.s.settingsFile, dir + "/other.i3d");  // the redirect inside does not survive
  EXPECT_TRUE(logHas("unknown parameter nosuch = 5"));
  EXPECT_FALSE(core.settingsModified());
  EXPECT_EQ(readAll("prismhost.i3d"), "printspeed = 1\r\ninifile = \"%currentdir%/other.i3d\"\r\n");
}

TEST_F(SettingsFilesTest, MergeKeepsHashSettingsAndTheNextSaveGoesToMerged) {
  fs::create_directories("models");
  writeAll("prismhost.i3d", "printspeed = 1\r\n");
  Settings& s = core.s;
  s.CommPortMarlin = "/dev/ttyACM0";
  s.CommInkDevice = "/dev/ttyUSB0";
  s.file_folder = dir + "/models";
  s.file_name = "cube";
  writeAll("myslicer", "");  // the fix-up after the load keeps only a slicer that exists
  s.slicer_exe = dir + "/myslicer";
  s.viewer3d_exe = "/opt/viewer";
  s.XonXoffMode = false;
  s.settingsFile = "%currentdir%/mine.i3d";
  s.movespeed = 1;
  writeAll("shop.i3d",
           "CommPortMarlin = \"COM9\"\r\nCommInkDevice = \"COM8\"\r\nfile_folder = \"/elsewhere\"\r\n"
           "file_name = \"ball\"\r\nslicer_exe = \"/x/slicer\"\r\nviewer3d_exe = \"/x/viewer\"\r\n"
           "XonXoffMode = true\r\ninifile = \"shop2.i3d\"\r\nprintspeed = 777\r\n");

  ui.files.push_back(std::nullopt);  // a cancelled merge changes nothing
  files.mergeSettingsFile();
  EXPECT_EQ(s.settingsFile, "%currentdir%/mine.i3d");
  EXPECT_EQ(s.movespeed, 1);
  EXPECT_FALSE(core.params.mergeMode);

  ui.files.push_back(dir + "/shop.i3d");
  files.mergeSettingsFile();
  EXPECT_FALSE(core.params.mergeMode);
  EXPECT_EQ(s.CommPortMarlin, "/dev/ttyACM0");
  EXPECT_EQ(s.CommInkDevice, "/dev/ttyUSB0");
  EXPECT_EQ(s.file_folder, dir + "/models");
  EXPECT_EQ(s.file_name, "cube");
  EXPECT_EQ(s.slicer_exe, dir + "/myslicer");
  EXPECT_EQ(s.viewer3d_exe, "/opt/viewer");
  EXPECT_FALSE(s.XonXoffMode);
  EXPECT_EQ(s.printspeed, 777);
  EXPECT_EQ(s.movespeed, 8000);
  EXPECT_EQ(s.settingsFile, dir + "/models/merged.i3d");
  EXPECT_EQ(readAll("prismhost.i3d"), "printspeed = 1\r\n");  // no redirect: nothing saved yet
  EXPECT_FALSE(fs::exists("models/merged.i3d"));

  ASSERT_TRUE(files.saveSettings());
  EXPECT_NE(readAll("models/merged.i3d").find("\r\nprintspeed = 777\r\n"), std::string::npos);
  EXPECT_EQ(readAll("prismhost.i3d"), "printspeed = 1\r\ninifile = \"%currentdir%/models/merged.i3d\"\r\n");
}

TEST_F(SettingsFilesTest, SaveWritesChangesLogsAndSurvivesAReloadUnchanged) {
  writeAll("prismhost.i3d", "");
  Settings& s = core.s;
  s.settingsFile = dir + "/s.i3d";
  s.printspeed = 1234;
  s.pauseEachLayer = true;
  s.zlevelhome = -2.25;
  s.kcmyoff[9] = -1;
  s.formCaption = "shop printer // one";
  s.file_folder = dir + "/models";
  core.controls.at("NoColor1").setChecked(true);
  core.markSettingsModified();

  ASSERT_TRUE(files.saveSettings());
  const std::string saved = readAll("s.i3d");
  EXPECT_EQ(crlfLines(saved), (std::vector<std::string>{
                                  "inifile = \"%currentdir%/s.i3d\"",
                                  "file_folder = \"%currentdir%/models\"",
                                  "printspeed = 1234",
                                  "pauseEachLayer = true",
                                  "formCaption = \"shop printer // one\"",
                                  "kcmyoff = {44,44,0,0,361,368,390,397,419,-1}",
                                  "zlevelhome = -2.250",
                                  "MInocolor = true",
                              }));
  EXPECT_FALSE(core.settingsModified());
  EXPECT_TRUE(logHas(" saved ini " + dir + "/s.i3d "));
  EXPECT_EQ(readAll("prismhost.i3d"), "inifile = \"%currentdir%/s.i3d\"\r\n");

  core.params.resetParamsToDefaults();
  core.applySettings(dir + "/s.i3d", true);
  EXPECT_EQ(s.formCaption, "shop printer // one");
  EXPECT_DOUBLE_EQ(s.zlevelhome, -2.25);
  EXPECT_TRUE(core.controls.at("NoColor1").checked);
  ASSERT_TRUE(files.saveSettings());
  EXPECT_EQ(readAll("s.i3d"), saved);
}

TEST_F(SettingsFilesTest, FailedSaveKeepsTheFlagAndDoesNotClaimIt) {
  writeAll("s.i3d", "printspeed = 1\r\n");
  core.s.settingsFile = dir + "/s.i3d";
  core.settingsOwner = core.s.settingsFile;  // as if loaded from it
  ASSERT_EQ(mkdir("s.i3d.part", 0700), 0);  // the temporary file cannot be made
  core.s.printspeed = 5;
  core.markSettingsModified();
  EXPECT_FALSE(files.saveSettings());
  EXPECT_TRUE(core.settingsModified());
  EXPECT_FALSE(logHas("saved ini"));
  EXPECT_EQ(readAll("s.i3d"), "printspeed = 1\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "unable to write to file: " + dir + "/s.i3d");
}

TEST_F(SettingsFilesTest, SaveIntoAMissingFolderGoesToTheCurrentFolder) {
  core.s.settingsFile = dir + "/gone/s.i3d";
  core.s.printspeed = 5;
  ASSERT_TRUE(files.saveSettings());
  EXPECT_EQ(core.s.settingsFile, dir + "/s.i3d");
  EXPECT_NE(readAll("s.i3d").find("printspeed = 5\r\n"), std::string::npos);
}

TEST_F(SettingsFilesTest, AllDefaultsSaveEmptyAndFullWritesEveryLine) {
  // After the fix-up the paths are expanded; written back they are the
  // defaults again, so they are no change (no slicer in this folder).
  files.fixupSettings();
  ASSERT_EQ(core.s.slicer_exe, dir + "/layertint");
  ASSERT_EQ(core.s.file_folder, dir);
  ASSERT_TRUE(files.saveSettings());
  EXPECT_EQ(core.s.settingsFile, "prismhost.i3d");
  EXPECT_TRUE(fs::exists("prismhost.i3d"));
  EXPECT_EQ(readAll("prismhost.i3d"), "");

  core.s.settingsFile = "full.i3d";
  ASSERT_TRUE(files.saveSettings());
  const auto lines = crlfLines(readAll("full.i3d"));
  ASSERT_EQ(lines.size(), 132u);
  EXPECT_EQ(lines[2], "inifile = \"full.i3d\"");
  EXPECT_EQ(readAll("prismhost.i3d"), "");  // a "full" file is never the redirect
}

TEST_F(SettingsFilesTest, SaveAsKeepsTheCaseAndAppendsTheExtension) {
  writeAll("prismhost.i3d", "inifile = \"a.i3d\"\r\nprintspeed = 5\r\n");
  core.s.printspeed = 2468;

  ui.files.push_back(std::nullopt);
  files.saveSettingsAs();
  EXPECT_EQ(core.s.settingsFile, "prismhost.i3d");
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].fileName, dir + "/prismhost.i3d");  // a bare name gets the current folder
  EXPECT_EQ(ui.dialogs[0].filter, "ini file|*.i3d");

  ui.files.push_back(dir + "/MyPrinter");
  files.saveSettingsAs();
  EXPECT_EQ(core.s.settingsFile, "%currentdir%/MyPrinter.i3d");
  EXPECT_TRUE(fs::exists("MyPrinter.i3d"));
  EXPECT_FALSE(fs::exists("myprinter.i3d"));
  EXPECT_NE(readAll("MyPrinter.i3d").find("printspeed = 2468\r\n"), std::string::npos);
  EXPECT_EQ(readAll("prismhost.i3d"), "printspeed = 5\r\ninifile = \"%currentdir%/MyPrinter.i3d\"\r\n");

  ui.files.push_back(dir + "/Shop.I3D");  // has the extension already
  files.saveSettingsAs();
  EXPECT_EQ(core.s.settingsFile, "%currentdir%/Shop.I3D");
  EXPECT_TRUE(fs::exists("Shop.I3D"));
}

TEST_F(SettingsFilesTest, FullDumpWritesEveryParameterWithPathsAsTheyAre) {
  core.s.file_folder = dir + "/models";
  files.writeAllSettings();
  const auto lines = crlfLines(readAll("allparam.i3d"));
  ASSERT_EQ(lines.size(), 132u);
  EXPECT_EQ(lines[0], "CommPortMarlin = \"\\\\.\\COM30\"");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "file_folder = \"" + dir + "/models\""), lines.end());
  EXPECT_EQ(lines.back(), "viewer3d_exe = \"meshlab\"");
}

TEST_F(SettingsFilesTest, ProgramPathsTakeTheCurrentFolderOnlyWhenConfirmed) {
  ui.answers = {OperatorUi::Answer::No, OperatorUi::Answer::Yes};
  files.setProgramFolders();
  EXPECT_EQ(core.s.file_folder, "%currentdir%");
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "are you sure you want to adapt programm to current folder");
  files.setProgramFolders();
  EXPECT_EQ(core.s.file_folder, dir);
  EXPECT_EQ(core.s.slicer_exe, dir + "/layertint");
  EXPECT_EQ(core.s.settingsFile, dir + "/prismhost.i3d");
  EXPECT_FALSE(fs::exists("prismhost.i3d"));  // nothing saved
}

// prismhost.i3d redirected the settings to another file; "exe_currentdir"
// makes prismhost.i3d the active file again, and "save_ini" saves there
// once the operator agrees to replace it.
TEST_F(SettingsFilesTest, AnOperatorsSaveGoesToTheActiveFileAfterAsking) {
  writeAll("prismhost.i3d", "inifile = \"%currentdir%/other.i3d\"\r\n");
  writeAll("other.i3d", "printspeed = 2468\r\n");
  core.s.settingsFile = "%currentdir%/other.i3d";
  core.settingsOwner = core.s.settingsFile;
  core.s.printspeed = 2468;
  ui.answers = {OperatorUi::Answer::Yes, OperatorUi::Answer::No};
  files.setProgramFolders();
  EXPECT_FALSE(files.saveAskedByOperator());  // asked, and the answer was No
  EXPECT_EQ(readAll("prismhost.i3d"), "inifile = \"%currentdir%/other.i3d\"\r\n");
  EXPECT_NE(std::find(log().begin(), log().end(), "settings not saved: " + dir + "/prismhost.i3d was kept"), log().end());
  ASSERT_EQ(ui.questions.size(), 2u);
  EXPECT_EQ(ui.questions[1], "replace " + dir + "/prismhost.i3d? its own settings were never read by this program "
                             "and are lost");

  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_TRUE(files.saveAskedByOperator());
  EXPECT_NE(readAll("prismhost.i3d").find("printspeed = 2468\r\n"), std::string::npos);
  // The file is the program's now: the next save asks nothing.
  ui.questions.clear();
  EXPECT_TRUE(files.saveAskedByOperator());
  EXPECT_TRUE(ui.questions.empty());
  // A save the program makes by itself still never replaces an unread file.
  core.s.settingsFile = "other.i3d";
  EXPECT_FALSE(files.saveSettings());
  EXPECT_EQ(readAll("other.i3d"), "printspeed = 2468\r\n");
}

TEST_F(SettingsFilesTest, FixupResolvesPathsAndQueuesTheCodesOfDefaults) {
  fs::create_directories("models");
  writeAll("layertint", "");
  chmod("layertint", 0755);
  writeAll("in.i3d",
           "heatlevelc = 70\r\nreversdir = true\r\nfile_folder = \"%currentdir%/models\"\r\n"
           "slicer_exe = \"%currentdir%/layertint\"\r\n");
  core.applySettings("in.i3d", false);
  unitCodes.text.clear();
  files.fixupSettings();
  EXPECT_EQ(core.s.file_folder, dir + "/models");
  EXPECT_EQ(core.s.slicer_exe, dir + "/layertint");
  EXPECT_EQ(core.workDir, dir + "/models/");
  // heatlevelc was queued by the load with its value; every other code
  // setting is still at its default.
  EXPECT_EQ(unitCodes.text, "0,2r3,24o91,1t51,14t41,15t6,16o17,11o20,12o0,11r0,17o0,18o 43n49n");

  core.s.file_folder = dir + "/no such folder";
  core.s.slicer_exe = dir + "/no such slicer";
  files.fixupSettings();
  EXPECT_EQ(core.s.file_folder, dir);
  EXPECT_NE(core.s.slicer_exe, dir + "/no such slicer");
  EXPECT_EQ(core.workDir, dir + "/");
}

TEST_F(SettingsFilesTest, ReadFileKey) {
  writeAll("commsoverride.i3d",
           "CommPortMarlin = \"/dev/first\"\r\nCommInkDevice = \"/dev/ttyUSB3\"\r\nFormPosition = {1,2,3,4}\r\n");
  EXPECT_EQ(readFileKey("commsoverride.i3d", "CommPortMarlin", "kept", true), "kept");  // first line
  EXPECT_EQ(readFileKey("commsoverride.i3d", "CommInkDevice", "kept", true), "/dev/ttyUSB3");
  EXPECT_EQ(readFileKey("commsoverride.i3d", "FormPosition", "", false), "= {1,2,3,4}");
  EXPECT_EQ(readFileKey("commsoverride.i3d", "Nothing", "kept", true), "kept");
  EXPECT_EQ(readFileKey("missing.i3d", "CommInkDevice", "kept", true), "kept");
}

TEST(SortStrings, IgnoresCase) {
  std::vector<std::string> v{"pause", "Band64", "alpha", "Zeta", "beta", "zlevelhome"};
  sortStrings(v);
  EXPECT_EQ(v, (std::vector<std::string>{"alpha", "Band64", "beta", "pause", "Zeta", "zlevelhome"}));
  std::vector<std::string> one{"x"};
  sortStrings(one);
  EXPECT_EQ(one, std::vector<std::string>{"x"});
}

// A text in double quotes cannot carry a double quote: such texts are
// refused with a message, never stored cut short.
TEST_F(SettingsFilesTest, QuestionTextsWithAQuoteInATextAreRefusedWhole) {
  core.s.formCaption = "before";
  const char* refused[] = {
      "?formCaption=\"say \"hi\" now\"",   // the quote ends the text early
      "?formCaption=\"a \" b\"",           // an unclosed quote is left
      "?formCaption=\"a\" \"b\"",          // a second quoted text with no name
      "?printspeed=5 formCaption=\"open",  // never closed
  };
  for (const char* text : refused) {
    core.applySettings(text, true);
    EXPECT_EQ(core.s.formCaption, "before") << text;
    EXPECT_EQ(core.s.printspeed, 8000) << text;
    EXPECT_EQ(log().back(), "not set: a text in double quotes cannot hold a double quote") << text;
  }
  core.applySettings("?formCaption=\"a 'b' // c\" printspeed=5", true);
  EXPECT_EQ(core.s.formCaption, "a 'b' // c");
  EXPECT_EQ(core.s.printspeed, 5);
}

TEST_F(SettingsFilesTest, ATextHoldingAQuoteIsNotSavedAndTheRestIs) {
  // A model name is taken from a file name, which may hold a quote.
  writeAll("prismhost.i3d", "");
  core.s.file_name = "my \"best\" cube";
  core.s.printspeed = 5;
  core.s.settingsFile = "q.i3d";
  ASSERT_TRUE(files.saveSettings());
  EXPECT_EQ(readAll("q.i3d"), "inifile = \"q.i3d\"\r\nprintspeed = 5\r\n");
  EXPECT_TRUE(logHas("file_name not saved: a text setting cannot hold a double quote"));
  files.writeAllSettings();
  EXPECT_EQ(crlfLines(readAll("allparam.i3d")).size(), 131u);

  ui.files.push_back(dir + "/a\"b");
  files.saveSettingsAs();
  EXPECT_EQ(core.s.settingsFile, "q.i3d");
  EXPECT_EQ(ui.messages.back(), "a settings file name cannot hold a double quote: " + dir + "/a\"b");

  // Such a file can be opened, but no redirect line can name it.
  writeAll("a\"b.i3d", "printspeed = 6\r\n");
  ui.files.push_back(dir + "/a\"b.i3d");
  files.openSettingsFile();
  EXPECT_EQ(core.s.printspeed, 6);
  EXPECT_EQ(log().back(), "inifile not recorded: a text setting cannot hold a double quote");
  EXPECT_EQ(readAll("prismhost.i3d"), "inifile = \"q.i3d\"\r\n");
}
