// The settings interpreter, the jetting-unit codes and the writer.
#include "host/core/testing/file_text.h"
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include <sys/stat.h>
#include <unistd.h>

using namespace ph;
using test::readAll;
using test::writeAll;

namespace {
}  // namespace

class Interpreter : public ::testing::Test, public CoreFixture {};

TEST_F(Interpreter, QuestionTextAssignsSeveralAndReportsOldValues) {
  core.s.skipwater = true;
  core.applySettings("?pauseEachLayer =true skipwater= false bidiadjust = -8", true);
  EXPECT_TRUE(core.s.pauseEachLayer);
  EXPECT_FALSE(core.s.skipwater);
  EXPECT_EQ(core.s.bidiadjust, -8);
  ASSERT_FALSE(log().empty());
  EXPECT_EQ(log().front(), "setting pauseEachLayer =true skipwater= false bidiadjust = -8 (was -12)");
}

TEST_F(Interpreter, Band64QueuesItsCodeOnChangeOnly) {
  core.applySettings("?band64=32", false);
  EXPECT_EQ(unitCodes.text, " 41n");
  core.applySettings("?band64=32", false);
  EXPECT_EQ(unitCodes.text, " 41n");
  core.applySettings("?band64=64", false);
  EXPECT_EQ(unitCodes.text, " 41n 40n");
  core.applySettings("?band64=0x40", false);  // the number ends before the x: 0, which no band can be
  EXPECT_EQ(core.s.band64, 64);
  EXPECT_EQ(log().back(), "band64 = 0 not set: band64 must be from 1 to 150");
}

TEST_F(Interpreter, TextsNeedQuotes) {
  const std::string before = core.s.file_folder;
  core.applySettings("?file_folder=/data/models", false);
  EXPECT_EQ(core.s.file_folder, before);
  core.applySettings("?file_folder=\"/data/my models\"", false);
  EXPECT_EQ(core.s.file_folder, "/data/my models");
  core.applySettings("?formCaption=\"@x\"", false);  // two characters beginning with @
  EXPECT_EQ(core.s.formCaption, " ");
  EXPECT_EQ(ui.caption, " ");
}

TEST_F(Interpreter, LongQuestionTextIsStoredWhole) {
  const std::string text(1500, 'G');
  core.applySettings("?startgcodes=\"" + text + "\"", false);
  EXPECT_EQ(core.s.startgcodes, text);
}

TEST_F(Interpreter, ArraysTakeAtMostTheirElements) {
  core.applySettings("?transformxy={7,8}", false);
  EXPECT_EQ(core.s.transformxy, (std::array<int, 6>{7, 8, 1, 0, 0, 1}));
  core.applySettings("?FormPosition={1, 2.9, -3, 4, 5, 6, 7}", false);
  EXPECT_EQ(core.s.FormPosition, (std::array<int, 4>{1, 2, -3, 4}));
  EXPECT_EQ(core.s.transformxy, (std::array<int, 6>{7, 8, 1, 0, 0, 1}));  // neighbour untouched
  EXPECT_NE(log().back().find("FormPosition takes 4 values"), std::string::npos);
}

TEST_F(Interpreter, SlicingSettingChangesAreToldForQuestionTextsOnly) {
  int told = 0;
  const int token = core.slicingSettingChanged.subscribe([&] { ++told; });
  writeAll("job.i3d", "layerMicrons = 100\r\n");
  core.applySettings("job.i3d", false);
  EXPECT_EQ(core.s.layerMicrons, 100);
  EXPECT_EQ(told, 0);
  core.applySettings("?layerMicrons=125", false);
  EXPECT_EQ(told, 1);
  core.applySettings("?depleteFile=x", false);  // told even though nothing is stored
  EXPECT_EQ(told, 2);
  core.slicingSettingChanged.unsubscribe(token);
  core.applySettings("?layerMicrons=150", false);
  EXPECT_EQ(told, 2);
}

TEST_F(Interpreter, FilesWithCommentsAndSplitAssignments) {
  writeAll("c.i3d",
           "// a comment line\r\n"
           "printspeed = 4000 /* inline */ movespeed = 3000\r\n"
           "/* a block\r\n"
           "   shiftLayer = 99\r\n"
           "*/ haltingLayer\r\n"
           "  = 12\r\n"
           "zlevelhome = 40.25\r\n");
  core.applySettings("c.i3d", true);
  EXPECT_EQ(core.s.printspeed, 4000);
  EXPECT_EQ(core.s.movespeed, 3000);
  EXPECT_EQ(core.s.shiftLayer, 0);
  EXPECT_EQ(core.s.haltingLayer, 12);
  EXPECT_DOUBLE_EQ(core.s.zlevelhome, 40.25);
}

TEST_F(Interpreter, UnclosedCommentDoesNotReachTheNextFile) {
  writeAll("open.i3d", "printspeed = 1\r\n/* never closed\r\n");
  writeAll("next.i3d", "movespeed = 2\r\n");
  core.applySettings("open.i3d", false);
  core.applySettings("next.i3d", false);
  EXPECT_EQ(core.s.printspeed, 1);
  EXPECT_EQ(core.s.movespeed, 2);
}

TEST_F(Interpreter, BadDoubleFailsOnlyItsOwnAssignment) {
  core.applySettings("?zlevelhome=abc printspeed=1234", false);
  EXPECT_DOUBLE_EQ(core.s.zlevelhome, 31.5);
  EXPECT_EQ(core.s.printspeed, 1234);
  bool told = false;
  for (const auto& l : log()) told |= l.find("'abc' is not a valid floating point value for zlevelhome") != std::string::npos;
  EXPECT_TRUE(told);
}

TEST_F(Interpreter, UnknownNamesAndMissingFiles) {
  core.applySettings("?nosuchname=3", true);
  EXPECT_EQ(log().back(), "unknown parameter nosuchname = 3");
  core.applySettings("missing.i3d", false);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "file not found: missing.i3d");
}

TEST_F(Interpreter, TailFollowUps) {
  core.controls.add(Control::Kind::Label, "LabPwdr", "0");
  core.controls.add(Control::Kind::Label, "shakeLabel", "");
  core.applySettings("?bidirectional=true powderReduce=true reversdir=true shakerspeed=33 powderPercentage=55", false);
  EXPECT_FALSE(core.s.powderReduce);
  EXPECT_EQ(unitCodes.text, "33,12o 43n49n");  // shakerspeed has a code of its own
  EXPECT_EQ(core.controls.at("shakeLabel").caption, "shake 33 +/-");
  EXPECT_EQ(core.controls.at("LabPwdr").caption, "55");
  EXPECT_TRUE(core.timers.at("ParamUpdates").enabled());
}

TEST_F(Interpreter, ParamCodes) {
  core.setParam(core.s.temprColor, core.s.temprColor);  // queued even when unchanged
  EXPECT_EQ(unitCodes.text, "41,15t");
  unitCodes.text.clear();
  core.applySettings("?dropletsize=2", false);
  EXPECT_EQ(unitCodes.text, "6,24o");
  unitCodes.text.clear();
  core.applySettings("?dropletsize=12", false);
  EXPECT_EQ(unitCodes.text, "6,24o3,25o");
}

TEST_F(Interpreter, MergeModeLeavesHashNamesAlone) {
  core.params.mergeMode = true;
  core.applySettings("?CommInkDevice=\"/dev/ttyUSB9\" printspeed=1", false);
  core.params.mergeMode = false;
  EXPECT_EQ(core.s.CommInkDevice, "COM2");
  EXPECT_EQ(core.s.printspeed, 1);
}

TEST_F(Interpreter, SaveWritesOnlyChangesWithCrLfAndReloads) {
  std::remove("saved.i3d");  // left by an earlier run: a file this one never read
  core.s.settingsFile = "saved.i3d";
  core.s.file_folder = currentDir() + "/models";  // as the fix-up expands it
  ASSERT_TRUE(core.saveSettings());
  // An expanded default path is not a change; nothing else changed.
  // (file_folder's default is "%currentdir%", so this one differs.)
  EXPECT_EQ(readAll("saved.i3d"), "inifile = \"saved.i3d\"\r\nfile_folder = \"%currentdir%/models\"\r\n");

  core.s.file_folder = currentDir();
  core.s.printspeed = 1234;
  core.s.zlevelhome = 12.5;
  core.s.transformxy[5] = 9;
  core.controls.at("temprcontrol1").setChecked(false);
  ASSERT_TRUE(core.saveSettings());
  const std::string text = readAll("saved.i3d");
  EXPECT_EQ(text,
            "inifile = \"saved.i3d\"\r\nprintspeed = 1234\r\ntransformxy = {0,0,1,0,0,9}\r\n"
            "zlevelhome = 12.500\r\nMItempr_control = false\r\n");

  core.params.resetParamsToDefaults();
  EXPECT_EQ(core.s.printspeed, 8000);
  core.applySettings("saved.i3d", true);
  EXPECT_EQ(core.s.printspeed, 1234);
  EXPECT_DOUBLE_EQ(core.s.zlevelhome, 12.5);
  EXPECT_EQ(core.s.transformxy[5], 9);
  EXPECT_FALSE(core.controls.at("temprcontrol1").checked);
}

TEST_F(Interpreter, FailedSaveKeepsTheOldFileAndSaysSo) {
  writeAll("keep.i3d", "printspeed = 1\r\n");
  core.s.settingsFile = currentDir() + "/keep.i3d";
  core.settingsOwner = core.s.settingsFile;  // as if loaded from it
  ASSERT_EQ(mkdir("keep.i3d.part", 0700), 0);  // the temporary file cannot be created
  core.s.printspeed = 5;
  EXPECT_FALSE(core.saveSettings());
  EXPECT_EQ(readAll("keep.i3d"), "printspeed = 1\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "unable to write to file: " + core.s.settingsFile);
  rmdir("keep.i3d.part");
}

TEST(Tokenizer, Tokens) {
  Tokenizer t;
  std::string line = "  name_1 = \"a b\" 12.5.3 >>= 'q x //rest";
  std::vector<std::string> got;
  for (std::string tok; !(tok = t.getToken(line)).empty();) got.push_back(tok);
  EXPECT_EQ(got, (std::vector<std::string>{"name_1", "=", "\"a b\"", "12.5.3", ">>=", "'", "q", "x"}));

  std::string obj = "v -1.5e-3 2";
  std::vector<std::string> nums;
  for (std::string tok; !(tok = t.getObjToken(obj)).empty();) nums.push_back(tok);
  EXPECT_EQ(nums, (std::vector<std::string>{"v", "-1.5e-3", "2"}));
}

TEST(Tokenizer, BlockCommentAcrossLines) {
  Tokenizer t;
  std::string a = "x /* open";
  EXPECT_EQ(t.getToken(a), "x");
  EXPECT_EQ(t.getToken(a), "/* open");
  EXPECT_TRUE(t.inBlockComment);
  std::string b = "still */ y";
  EXPECT_EQ(t.getToken(b), "still */");
  EXPECT_EQ(t.getToken(b), "y");
}
