// The configuration editor without a window: pages, stepping, Apply, the
// search, the multi-line editor, the combo box and the pause shortcut.
#include "host/core/config_editor.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "host/core/testing/core_fixture.h"
#include "host/core/testing/fake_editor_machine.h"
#include "host/core/testing/file_text.h"

using namespace ph;
namespace fs = std::filesystem;

namespace {

// The editor's windows as a script: what the operator does while a window
// is open runs inside show...().
struct FakeEditorView : ConfigEditorView {
  std::function<void()> whileOpen, whileMultiLineOpen;
  int shown = 0, closed = 0, pages = 0, multiShown = 0, multiClosed = 0;
  std::vector<int> changedFields, focused;
  void showEditor() override {
    ++shown;
    if (whileOpen) whileOpen();
  }
  void closeEditor() override { ++closed; }
  void pageBuilt() override { ++pages; }
  void fieldTextChanged(int param) override { changedFields.push_back(param); }
  void focusField(int param) override { focused.push_back(param); }
  void showMultiLineEditor() override {
    ++multiShown;
    if (whileMultiLineOpen) whileMultiLineOpen();
  }
  void closeMultiLineEditor() override { ++multiClosed; }
};

}  // namespace

TEST(Stepping, OneTwoFiveSeries) {
  const struct {
    bool down;
    const char* text;
    const char* want;
  } cases[] = {
      {false, "64", "69"},      {true, "1000", "950"},   {false, "0.5", "1.500"},
      {true, "0", "-1"},        {false, "-64", "-59"},   {false, "19", "20"},
      {true, "31.500", "30.500"}, {false, "1000", "1050"},
      // Whole numbers stay whole and exact however long they are.
      {false, "12345678", "13345678"}, {false, "4000000", "4200000"},
  };
  for (const auto& c : cases) {
    auto got = stepValueText(c.down, c.text);
    ASSERT_TRUE(got) << c.text;
    EXPECT_EQ(*got, c.want) << (c.down ? "down " : "up ") << c.text;
  }
  // Texts that are no decimal number, or too long to hold, are not stepped.
  for (const char* bad : {"abc", "", "1.2.3", "--4", "99999999999999999999", "1e5"})
    EXPECT_FALSE(stepValueText(false, bad)) << bad;
  EXPECT_EQ(stepIntText(false, "41"), "42");
  EXPECT_EQ(stepIntText(true, "41"), "40");
  EXPECT_EQ(stepIntText(false, "2147483647"), "2147483647");
  EXPECT_EQ(stepIntText(true, "-2147483648"), "-2147483648");
}

TEST(IntExpressions, WorkedOutWithoutOverflow) {
  const struct {
    const char* text;
    std::optional<int> want;
    const char* why;
  } cases[] = {
      {"2*32", 64, ""},
      {"(1+2)*3", 9, ""},
      {" -5 ", -5, ""},
      {"0x10", 16, ""},
      {"100/7", 14, ""},
      {"2147483647", 2147483647, ""},
      {"-2147483648", int(-2147483647 - 1), ""},
      {"2147483647+1", std::nullopt, "the result is beyond the int range"},
      {"65536*65536", std::nullopt, "the result is beyond the int range"},
      {"99999999999", std::nullopt, "99999999999 is beyond the int range"},
      {"7/0", std::nullopt, "division by zero"},
      {"12abc", std::nullopt, "'12abc' is not a number"},
      {"", std::nullopt, "no number given"},
  };
  for (const auto& c : cases) {
    std::string why;
    EXPECT_EQ(evalIntText(c.text, why), c.want) << c.text;
    EXPECT_EQ(why, c.why) << c.text;
  }
}

// A unit shows only where the help text or the name says it; the first
// one written counts, and one that belongs to something else is no unit.
TEST(SettingUnits, TakenFromHelpTextsAndNames) {
  const struct {
    const char* type;
    const char* name;
    const char* help;
    const char* want;
  } cases[] = {
      {"@i", "powderdelay", "delay time shaker start [ms] or 10000+starting-pos in [300 dpi]", "ms"},
      {"@i", "wPrimePulse", "length in ms of water priming", "ms"},
      {"@i", "printspeed", "speed of printhead while printing mm/min", "mm/min"},
      {"@i", "stretchcut", "difference in mm between stretch with and without printing", "mm"},
      {"@i", "powderadvance", "start powder sprinkling earlier [mm]", "mm"},
      {"@i", "layerMicrons", "thickness of layers [micro meters]", "\u00b5m"},
      {"@i", "skinmicrons", "thickness of colored skin in model", "\u00b5m"},
      {"@i", "powderPercentage", "part of stretch where powder is sprinkled", "%"},
      {"@i", "colorweight", "weight ratio in % beween color drops and water drops", "%"},
      {"@i", "rightsidemargin", "margin on right side in 300 dpi pixels", "px (300 dpi)"},
      {"@i", "alignJump", "yshift to align pattern (300dpi)", "px (300 dpi)"},
      {"@i", "band64", "width of printing stretches [pixels] must be 64 for color printing", "px"},
      {"@f", "dwell", "time to wait [s]", "s"},
      // No unit: none written, one of another quantity, not a number.
      {"@i", "waterPulseOption", "shorten water cartridge pulse length = 1780-opt*120 [ns]", ""},
      {"@i", "temprWater", "setpoint temperature water inkjet", ""},
      {"@i", "layers", "number of layer(s) to skip", ""},
      {"@b", "bridgelayers", "alternate shift layers 32 voxels (2.7mm) ", ""},
      {"", "preInkGcodes", "Extra gcodes before ink jetting or @<ms> for roller stop", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(settingUnit(c.type, c.name, c.help), c.want) << c.name;
}

class Editor : public ::testing::Test, public CoreFixture {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("configeditor-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    core.controls.add(Control::Kind::Combo, "parmcombo", "");
    editor.view = &view;
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  int idx(const std::string& name) const { return core.params.find(name); }
  int tabOf(const std::string& group) const {
    auto t = editor.tabs();
    return int(std::find(t.begin(), t.end(), group) - t.begin());
  }
  const EditorField* fieldOf(const std::string& name) const {
    for (const auto& f : editor.page().fields)
      if (f.param == idx(name)) return &f;
    return nullptr;
  }
  bool logHas(const std::string& part) const {
    for (const auto& l : log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }
  // Opens the editor, lets `operatorDoes` run while it is open.
  void withEditor(std::function<void()> operatorDoes) {
    view.whileOpen = std::move(operatorDoes);
    editor.openConfigEditor();
    view.whileOpen = nullptr;
  }

  SettingsFiles files{core};
  FakeEditorMachine machine;
  ConfigEditor editor{core, files, machine};
  FakeEditorView view;

 private:
  fs::path old_, dir_;
};

TEST_F(Editor, PagesListTheirGroupSortedWithLabelsAndHints) {
  EXPECT_EQ(editor.tabs(),
            (std::vector<std::string>{"fdm", "files", "inkjet", "margins", "powder", "slicing", "various"}));
  editor.selectedTab = tabOf("powder");
  withEditor([&] {
    const EditorPage& p = editor.page();
    EXPECT_EQ(p.group, "powder");
    ASSERT_EQ(p.fields.size(), 19u);
    EXPECT_EQ(p.height, 25 * 19 + 88);
    EXPECT_EQ(core.params.entry(p.fields.front().param).paramName, "addpowderlast");  // sorted without case
    EXPECT_EQ(p.fields[1].top, 75);
    const EditorField* hopper = fieldOf("hopperlim");
    ASSERT_NE(hopper, nullptr);
    EXPECT_EQ(hopper->label, "hopper limit");  // the help's "{...}" names it
    EXPECT_EQ(hopper->labelHint, "max amount of stretches that hopper may be active");
    EXPECT_EQ(fieldOf("powdertime")->label, "powdertime  +/-");
    EXPECT_EQ(fieldOf("powderReduce")->label, "powderReduce");
    EXPECT_EQ(fieldOf("powderReduce")->text, "false");

    editor.buildPage(tabOf("fdm"));
    EXPECT_EQ(editor.selectedTab, tabOf("fdm"));
    EXPECT_EQ(editor.page().height, 25 * 18 + 88);
    EXPECT_EQ(fieldOf("startgcodes")->label, "startgcodes(...)");  // its help ends with ".."
    EXPECT_EQ(fieldOf("startgcodes")->text, core.s.startgcodes);  // unquoted
    EXPECT_EQ(fieldOf("transformxy")->text, "{0,0,1,0,0,1}");
    EXPECT_EQ(fieldOf("zlevelhome")->text, "31.500");
    EXPECT_EQ(fieldOf("printspeed")->hint, "speed of printhead\nwhile printing\nmm/min");
    EXPECT_EQ(fieldOf("acceptM18Z"), nullptr);  // hidden settings have no page
  });
  editor.openConfigEditor();  // opens on the tab shown last
  EXPECT_EQ(editor.page().group, "fdm");
}

TEST_F(Editor, LabelClicksStepNumbersAndSetBools) {
  editor.selectedTab = tabOf("various");
  withEditor([&] {
    editor.stepField(idx("band64"), false);
    EXPECT_EQ(fieldOf("band64")->text, "69");
    editor.stepField(idx("band64"), true);
    editor.stepField(idx("band64"), true);
    EXPECT_EQ(fieldOf("band64")->text, "59");
    editor.stepField(idx("pauseEachLayer"), false);
    EXPECT_EQ(fieldOf("pauseEachLayer")->text, "true");
    editor.toggleBoolField(idx("pauseEachLayer"));
    EXPECT_EQ(fieldOf("pauseEachLayer")->text, "false");
    editor.takeFieldText(idx("camsyncer"), "abc");
    editor.stepField(idx("camsyncer"), false);  // nothing to step: said so, left as it is
    EXPECT_EQ(fieldOf("camsyncer")->text, "abc");
    EXPECT_EQ(view.changedFields.size(), 5u);
  });
  EXPECT_TRUE(logHas("camsyncer: 'abc' is no decimal number to step"));
}

// Apply goes field by field: one that cannot be applied is told and
// skipped; the others apply.
TEST_F(Editor, ApplyTakesGoodFieldsAndTellsEachBadOne) {
  core.s.IniAutoSave = true;
  core.progDir = fs::current_path().string() + "/";
  test::writeAll("prismhost.i3d", "");
  core.settingsOwner = "prismhost.i3d";
  const std::string longText = std::string(5000, 'G') + "/M104";
  withEditor([&] {
    editor.takeFieldText(idx("zlevelhome"), "abc");
    editor.takeFieldText(idx("printspeed"), "4000");
    editor.takeFieldText(idx("layerMicrons"), "99999999999");
    editor.takeFieldText(idx("band64"), "2*16");
    editor.takeFieldText(idx("startgcodes"), longText);
    editor.takeFieldText(idx("haltingLayer"), "7/0");
    editor.takeFieldText(idx("yvHi"), "1e3");
    editor.takeFieldText(idx("skipwater"), "yes");
    editor.takeFieldText(idx("formCaption"), "say \"hi\"");
    editor.takeFieldText(idx("stretchcut"), "9999");  // beyond its range
    editor.takeFieldText(idx("kcmyoff"), "{1,2}");
    editor.applyEdits(false);
  });
  EXPECT_EQ(view.closed, 1);
  EXPECT_EQ(core.s.printspeed, 4000);
  EXPECT_EQ(core.s.band64, 32);
  EXPECT_EQ(core.s.startgcodes, longText);
  EXPECT_DOUBLE_EQ(core.s.yvHi, 1000.0);
  EXPECT_EQ(core.s.kcmyoff[1], 2);
  EXPECT_DOUBLE_EQ(core.s.zlevelhome, 31.5);
  EXPECT_EQ(core.s.layerMicrons, 250);
  EXPECT_EQ(core.s.haltingLayer, 99999);
  EXPECT_EQ(core.s.stretchcut, 50);
  EXPECT_FALSE(core.s.skipwater);
  EXPECT_EQ(core.s.formCaption, "");
  for (const char* told : {"zlevelhome not changed: 'abc' is not a number",
                           "layerMicrons not changed: 99999999999 is beyond the int range",
                           "haltingLayer not changed: division by zero",
                           "skipwater not changed: 'yes' is neither true nor false",
                           "formCaption not changed: a text cannot hold a double quote",
                           "stretchcut = 9999 not set: stretchcut must be from 0 to 500"})
    EXPECT_TRUE(logHas(told)) << told;
  // Changed, and saved at once with IniAutoSave.
  EXPECT_FALSE(core.settingsModified());
  EXPECT_NE(test::readAll("prismhost.i3d").find("printspeed = 4000"), std::string::npos);
  EXPECT_NE(test::readAll("prismhost.i3d").find(longText + "\""), std::string::npos);
}

TEST_F(Editor, ModifiedOnlyWhenAValueChanged) {
  withEditor([&] { editor.applyEdits(false); });
  EXPECT_FALSE(core.settingsModified());
  withEditor([&] {
    editor.takeFieldText(idx("printspeed"), "8000");  // the value it has
    editor.takeFieldText(idx("movespeed"), "0");      // refused by its range
    editor.applyEdits(false);
  });
  EXPECT_FALSE(core.settingsModified());
  withEditor([&] {
    editor.takeFieldText(idx("printspeed"), "7000");
    editor.applyEdits(false);
  });
  EXPECT_TRUE(core.settingsModified());
}

// The multi-line editor edits the field: the setting changes, and the
// settings count as modified, only when the editor's fields are applied.
TEST_F(Editor, MultiLineTextsAreEditedLineByLine) {
  editor.selectedTab = tabOf("fdm");
  const std::string before = core.s.startgcodes;
  view.whileMultiLineOpen = [&] {
    EXPECT_EQ(editor.multiLineCaption(), "edit multi line string startgcodes(...)");
    EXPECT_EQ(editor.multiLineMemoText(),
              "M110\nM201 X1000 Y1000\nM202 X1000 Y1000\nG92 Z0\nM202 X1000 Y1000\nG28 X0 Y0");
    editor.takeMultiLineText("M110\r\nG28\nG92 Z0");
  };
  withEditor([&] {
    editor.stepField(idx("startgcodes"), false);
    EXPECT_EQ(view.multiClosed, 1);
    EXPECT_EQ(fieldOf("startgcodes")->text, "M110/G28/G92 Z0");
  });
  EXPECT_EQ(core.s.startgcodes, before);  // closed without Apply
  EXPECT_FALSE(core.settingsModified());

  withEditor([&] {
    editor.stepField(idx("startgcodes"), false);
    editor.applyEdits(false);
  });
  EXPECT_EQ(core.s.startgcodes, "M110/G28/G92 Z0");
  EXPECT_TRUE(core.settingsModified());

  // A text without "/" opens nothing.
  editor.selectedTab = tabOf("inkjet");
  view.whileMultiLineOpen = nullptr;
  withEditor([&] { editor.stepField(idx("InkjetIni"), false); });
  EXPECT_EQ(view.multiShown, 2);
}

TEST_F(Editor, SearchListsNamesThenHelpTextsAndOpensASingleName) {
  ui.inputs.push_back("SPEED");
  editor.askSearch();
  std::vector<std::string> listed;
  for (const auto& l : log())
    if (l.find(" --- ") != std::string::npos) listed.push_back(l.substr(0, l.find(" = ")));
  EXPECT_EQ(listed, (std::vector<std::string>{"fdm->halfSpeedBytes", "fdm->printspeed", "fdm->movespeed",
                                              "plateDownSpeed", "powder->rollerspeed", "powder->shakerspeed"}));
  EXPECT_EQ(view.shown, 0);
  EXPECT_EQ(ui.prompts.back(), "Search_Parameter");
  EXPECT_EQ(editor.searchText, "SPEED");

  ui.inputs.push_back("hoovering");  // only in a help text
  editor.askSearch();
  EXPECT_EQ(log().back(),
            "various->ButtonHints = true --- Display yellow line with explanation when hoovering over button");
  EXPECT_EQ(view.shown, 0);

  ui.inputs.push_back("platetime");  // one name, but hidden: no page to open
  editor.askSearch();
  EXPECT_EQ(view.shown, 0);

  ui.inputs.push_back("bidiadj");
  int focusedWhileOpen = -1;
  view.whileOpen = [&] {
    clock.advance(100);  // the FocusSet timer
    focusedWhileOpen = view.focused.empty() ? -1 : view.focused.back();
  };
  editor.askSearch();
  EXPECT_EQ(view.shown, 1);
  EXPECT_EQ(editor.page().group, "margins");
  EXPECT_EQ(focusedWhileOpen, idx("bidiadjust"));

  ui.inputs.push_back(std::nullopt);  // cancelled: nothing searched
  const auto lines = log().size();
  editor.askSearch();
  EXPECT_EQ(log().size(), lines);
}

TEST_F(Editor, SearchButtonAppliesThenSearches) {
  ui.inputs.push_back("haze");
  withEditor([&] {
    editor.takeFieldText(idx("hazeRemove"), "3");
    editor.applyEdits(true);
  });
  EXPECT_EQ(core.s.hazeRemove, 3);
  EXPECT_TRUE(ui.prompts.empty());
  clock.advance(100);
  ASSERT_EQ(ui.prompts.size(), 1u);
  EXPECT_TRUE(logHas("various->hazeRemove = 3 --- "));
}

// A preset answer belongs to the automated caller's next question: the
// editor neither takes it for a field nor answers its own questions with it.
TEST_F(Editor, PresetAnswersAreLeftForTheirQuestion) {
  core.presetNextAnswer(5);
  withEditor([&] {
    editor.takeFieldText(idx("band64"), "2*32");
    editor.takeFieldText(idx("printspeed"), "3000");
    editor.applyEdits(false);
  });
  EXPECT_EQ(core.s.band64, 64);
  EXPECT_EQ(core.s.printspeed, 3000);
  ui.inputs.push_back("zservice");
  editor.askSearch();
  EXPECT_TRUE(logHas("fdm->zService = 30.000"));
  EXPECT_EQ(core.presetAnswer(), 5);
}

TEST_F(Editor, WhileBusyPrintSettingsAreRefusedAndCodesWait) {
  bool busy = true;
  const int& sends = unitCodes.sends;
  machine.busy = [&] { return busy; };
  withEditor([&] {
    editor.takeFieldText(idx("band64"), "32");          // conversion
    editor.takeFieldText(idx("layerMicrons"), "100");   // slicing
    editor.takeFieldText(idx("CommInkDevice"), "COM7");  // link
    editor.takeFieldText(idx("shakerspeed"), "30");     // may change: the unit's code waits
    editor.applyEdits(false);
  });
  EXPECT_EQ(core.s.band64, 64);
  EXPECT_EQ(core.s.layerMicrons, 250);
  EXPECT_EQ(core.s.CommInkDevice, "COM2");
  EXPECT_EQ(core.s.shakerspeed, 30);
  EXPECT_TRUE(logHas("band64 not changed: it cannot change while a print runs"));
  EXPECT_TRUE(logHas("CommInkDevice not changed: it cannot change while a print runs"));
  EXPECT_EQ(unitCodes.text, "30,12o");
  EXPECT_EQ(sends, 0);

  busy = false;
  withEditor([&] {
    editor.takeFieldText(idx("band64"), "32");
    editor.applyEdits(false);
  });
  EXPECT_EQ(core.s.band64, 32);
  EXPECT_EQ(sends, 1);
  EXPECT_EQ(unitCodes.text, "");

  // Without a link the codes stay queued for the next command.
  unitCodes.linkOpen = false;
  core.controls.at("parmcombo").caption = "temprWater";
  ui.inputs.push_back("temprWater = 55");
  editor.editComboSetting();
  EXPECT_EQ(core.s.temprWater, 55);
  EXPECT_EQ(unitCodes.text, "55,14t");
}

TEST_F(Editor, ComboBoxSetsOneParameter) {
  Control& combo = core.controls.at("parmcombo");
  combo.caption = "printspeed";
  editor.showComboHint();
  EXPECT_EQ(combo.hint, "speed of printhead\nwhile printing\nmm/min");
  EXPECT_TRUE(combo.showHint);

  ui.inputs.push_back("printspeed = 8000");  // unchanged line: nothing applied
  editor.takeComboKey('\r');
  EXPECT_EQ(editor.comboLine, "printspeed = 8000");
  EXPECT_FALSE(logHas("setting printspeed"));
  ui.inputs.push_back("printspeed = 1234 nosuch = 3");
  editor.editComboSetting();
  EXPECT_EQ(core.s.printspeed, 1234);
  EXPECT_TRUE(logHas("unknown parameter nosuch = 3"));
  EXPECT_TRUE(core.settingsModified());

  combo.caption = "nosuch";
  editor.showComboHint();
  EXPECT_FALSE(combo.showHint);
}

TEST_F(Editor, PauseBoxShortcutTogglesPauseEachLayer) {
  editor.togglePauseEachLayer(false, false);  // a plain click is the box's own
  EXPECT_FALSE(core.s.pauseEachLayer);
  editor.togglePauseEachLayer(true, false);
  EXPECT_TRUE(core.s.pauseEachLayer);
  editor.togglePauseEachLayer(false, true);
  EXPECT_FALSE(core.s.pauseEachLayer);
}

TEST_F(Editor, NumbersShowTheirUnitAndEveryCaptionNamesItsSetting) {
  int spare = 5;
  core.params.beginParamGroup("various");
  core.params.addparint("spareSetting", spare, "a setting whose caption was left out{}");
  editor.selectedTab = tabOf("slicing");
  withEditor([&] {
    EXPECT_EQ(fieldOf("layerMicrons")->unit, "\u00b5m");
    EXPECT_EQ(fieldOf("shiftLayer")->unit, "px (300 dpi)");
    EXPECT_EQ(fieldOf("defaultcolor")->unit, "");
    editor.buildPage(tabOf("various"));
    EXPECT_EQ(fieldOf("spareSetting")->label, "spareSetting  +/-");
    EXPECT_EQ(fieldOf("spareSetting")->labelHint, "a setting whose caption was left out");
  });
}

// The port fields offer what the Host lists, taken when the page is built;
// the other text fields offer nothing.
TEST_F(Editor, PortFieldsOfferTheDetectedPorts) {
  const std::vector<std::string> found = {"/dev/serial/by-id/usb-Marlin_1-if00", "/dev/ttyS0"};
  int asked = 0;
  editor.selectedTab = tabOf("fdm");
  withEditor([&] {
    EXPECT_TRUE(fieldOf("CommPortMarlin")->portField);  // no list yet: still a port field
    EXPECT_TRUE(fieldOf("CommPortMarlin")->choices.empty());
    machine.ports = [&] {
      ++asked;
      return found;
    };
    editor.buildPage(tabOf("inkjet"));
    EXPECT_TRUE(fieldOf("CommInkDevice")->portField);
    EXPECT_EQ(fieldOf("CommInkDevice")->choices, found);
    EXPECT_FALSE(fieldOf("InkjetIni")->portField);
    EXPECT_TRUE(fieldOf("InkjetIni")->choices.empty());
    editor.buildPage(tabOf("fdm"));
    EXPECT_EQ(fieldOf("CommPortMarlin")->choices, found);
    // Any text still goes: a TCP link.
    editor.takeFieldText(idx("CommPortMarlin"), "127.0.0.1:8250");
    editor.applyEdits(false);
  });
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(core.s.CommPortMarlin, "127.0.0.1:8250");
}
