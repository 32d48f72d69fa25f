// The operator's setting dialogs: what each answer does to the settings and
// to the job's flags, answers that leave values out or go out of range, and
// the powder-only layers start.
#include "host/machine/setting_dialogs.h"

#include <gtest/gtest.h>

#include <functional>

#include "host/core/testing/core_fixture.h"
#include "host/jobdata/job_state.h"

using namespace ph;

namespace {

struct World : CoreFixture {
  World() {
    for (const char* n : {"filename1", "powder1", "extracodes1", "preparelayers1", "wfor1", "laagdikte1",
                          "speedoptions1", "marges1", "kcmyoffsets1", "laystart1"})
      core.controls.add(Control::Kind::MenuItem, n, n, "options1");
    dialogs.bindControls();
    job.jobReady = true;
    job.dmcCurrent = true;
  }
  void answer(std::initializer_list<std::optional<std::string>> texts) {
    for (const auto& t : texts) ui.inputs.push_back(t);
  }
  void click(const char* name) { core.controls.at(name).click(); }

  // The print sequencer's share, as the test plays it.
  struct Print : PrepLayersPrint {
    std::function<void(int)> arm = [](int) {};
    std::function<void()> start = [] {};
    void armPrepLayers(int layers) override { arm(layers); }
    void startPrint() override { start(); }
  } print;
  JobState job{core};
  JobLayout layout{core, job};
  SettingDialogs dialogs{core, layout, print};
};

struct Dialogs : ::testing::Test, World {};

TEST_F(Dialogs, EachDialogChangesItsSettingsAndOnlyTheJobFlagsItMust) {
  struct Case {
    const char* name;
    const char* menu;
    std::vector<std::optional<std::string>> answers;
    std::function<void(Settings&, SettingDialogs&)> expect;
    bool jobReady, dmcCurrent, modified;
  } cases[] = {
      {"powder", "powder1", {"700 , 400 , 200 , 2"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.powderdelay, 700);
         EXPECT_EQ(s.powdertime, 400);
         EXPECT_EQ(s.adpowderfirst, 200);
         EXPECT_EQ(s.nopowderstretches, 2);
       },
       true, true, true},
      // Fewer values than asked for: the others keep theirs.
      {"powder, one value", "powder1", {"650"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.powderdelay, 650);
         EXPECT_EQ(s.powdertime, 500);
         EXPECT_EQ(s.adpowderfirst, 300);
         EXPECT_EQ(s.nopowderstretches, 1);
       },
       true, true, true},
      {"powder, an item left empty", "powder1", {"600 , , 100"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.powdertime, 500);
         EXPECT_EQ(s.adpowderfirst, 100);
       },
       true, true, true},
      {"powder, cancelled", "powder1", {std::nullopt},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.powderdelay, 600); }, true, true, false},
      // The job was sliced with the old thickness.
      {"layer thickness", "laagdikte1", {"200 , 300"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.layerMicrons, 200);
         EXPECT_EQ(s.jumpmicrons, 300);
       },
       false, false, true},
      {"layer thickness, only the platform step", "laagdikte1", {"250 , 500"},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.jumpmicrons, 500); }, true, true, true},
      // A zero thickness never reaches the slicer or a division.
      {"layer thickness zero", "laagdikte1", {"0"},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.layerMicrons, 250); }, true, true, false},
      {"layer thickness not a number", "laagdikte1", {"thin , 260"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.layerMicrons, 250);
         EXPECT_EQ(s.jumpmicrons, 260);
       },
       true, true, true},
      {"margins unchanged", "marges1", {"0 , 64 , 3 , 0"}, nullptr, true, true, false},
      {"margins unchanged, spaced otherwise", "marges1", {"0,64,3,0"}, nullptr, true, true, false},
      {"margins", "marges1", {"10 , 64 , 3 , 5"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.rightsidemargin, 10);
         EXPECT_EQ(s.startinglayer, 5);
       },
       true, false, true},
      {"speed options, two of three", "speedoptions1", {"1 , 1"},
       [](Settings& s, SettingDialogs& d) {
         EXPECT_TRUE(d.shortstretches);
         EXPECT_TRUE(d.faststretches);
         EXPECT_TRUE(s.bridgelayers);
       },
       true, true, false},
      {"speed options, bridge layers off", "speedoptions1", {"0 , 1 , 0"},
       [](Settings& s, SettingDialogs& d) {
         EXPECT_FALSE(d.shortstretches);
         EXPECT_FALSE(s.bridgelayers);
       },
       true, false, true},
      {"offsets, three given", "kcmyoffsets1", {"1,2,3", "5*2", std::nullopt},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.kcmyoff, (std::array<int, 10>{1, 2, 3, 0, 361, 368, 390, 397, 419, 426}));
         EXPECT_EQ(s.CartridgeDist, 10);
         EXPECT_EQ(s.dropgrens, 276);
       },
       true, false, true},
      {"offsets, all cancelled", "kcmyoffsets1", {std::nullopt, std::nullopt, std::nullopt},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.kcmyoff[0], 44); }, true, true, false},
      {"offsets out of range", "kcmyoffsets1", {"9999", std::nullopt, "5000"},
       [](Settings& s, SettingDialogs&) {
         EXPECT_EQ(s.kcmyoff[0], 44);
         EXPECT_EQ(s.dropgrens, 276);
       },
       true, true, false},
      {"file name", "filename1", {"cube"},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.file_name, "cube"); }, true, false, true},
      {"file name cancelled", "filename1", {std::nullopt},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.file_name, "default"); }, true, true, false},
      {"file name empty", "filename1", {"  "},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.file_name, "default"); }, true, true, false},
      {"extra codes", "extracodes1", {"12t", "3,5o"},
       [](Settings& s, SettingDialogs&) { EXPECT_EQ(s.repeatcode, "3,5o"); }, true, true, true},
      {"black diagonal", "wfor1", {}, nullptr, true, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World fresh;  // each case from the settings at load
    for (const auto& a : c.answers) fresh.ui.inputs.push_back(a);
    fresh.click(c.menu);
    if (c.expect) c.expect(fresh.core.s, fresh.dialogs);
    EXPECT_EQ(fresh.job.jobReady, c.jobReady);
    EXPECT_EQ(fresh.job.dmcCurrent, c.dmcCurrent);
    EXPECT_EQ(fresh.core.settingsModified(), c.modified);
    EXPECT_TRUE(fresh.ui.inputs.empty());  // every question asked
  }
}

TEST_F(Dialogs, IntegerDialogShowsNamesAndValues) {
  answer({std::nullopt});
  click("laagdikte1");
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"layerMicrons,jumpmicrons"}));
}

TEST_F(Dialogs, RefusedValuesAreToldNamingTheSetting) {
  answer({"0 , 99999"});
  click("laagdikte1");
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_NE(ui.messages[0].find("layerMicrons"), std::string::npos);
  EXPECT_NE(ui.messages[1].find("jumpmicrons"), std::string::npos);
}

TEST_F(Dialogs, ExtraCodesReplaceThePendingCodes) {
  unitCodes.text = "1,2t";
  answer({"12t", std::nullopt});
  click("extracodes1");
  EXPECT_EQ(unitCodes.text, "12t");
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"singlecode", "repeatcode"}));
}

TEST_F(Dialogs, PowderOnlyLayersArmTheCountAndStartOnlyAboveZero) {
  struct Case {
    const char* name;
    std::optional<std::string> answer;
    int preset;
    std::vector<int> armed;
    int starts;
  } cases[] = {
      {"three layers", "3", HostCore::kNoPreset, {3}, 1},
      {"an expression", "2*2", HostCore::kNoPreset, {4}, 1},
      {"zero", "0", HostCore::kNoPreset, {0}, 0},
      {"negative", "-2", HostCore::kNoPreset, {-2}, 0},
      // Cancel starts nothing, not even the one layer proposed.
      {"cancelled", std::nullopt, HostCore::kNoPreset, {}, 0},
      // The powder preparation's count, without a question.
      {"preset answer", std::nullopt, 5, {5}, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World fresh;
    std::vector<int> armed;
    int starts = 0;
    fresh.print.arm = [&](int n) { armed.push_back(n); };
    fresh.print.start = [&] { ++starts; };
    fresh.core.presetNextAnswer(c.preset);
    fresh.ui.inputs.push_back(c.answer);
    fresh.click("preparelayers1");
    EXPECT_EQ(armed, c.armed);
    EXPECT_EQ(starts, c.starts);
    EXPECT_EQ(fresh.core.presetAnswer(), HostCore::kNoPreset);
    if (c.preset != HostCore::kNoPreset) {
      EXPECT_TRUE(fresh.ui.prompts.empty());
    }
  }
}

TEST_F(Dialogs, PowderTimeFromTheMaximum) {
  struct Case {
    int maxpowdertime;
    double yvLim;
    int powdertime;
    const char* line;
  } cases[] = {
      // 100 mm at 8000 mm/min: 750 ms of travel.
      {0, 180, 500, "powdertime=500 maxpowdertime=0 powdertime+rundif=1250"},
      {1000, 180, 250, "powdertime=250 maxpowdertime=1000 powdertime+rundif=1000"},
      {500, 180, 0, "powdertime=0 maxpowdertime=500 powdertime+rundif=750"},
      {5000, 180, 2000, "powdertime=2000 maxpowdertime=5000 powdertime+rundif=2750"},
      {1000, 80, 1000, "powdertime=1000 maxpowdertime=1000 powdertime+rundif=1000"},
  };
  for (const Case& c : cases) {
    World fresh;
    fresh.core.s.maxpowdertime = c.maxpowdertime;
    fresh.layout.yvLim = c.yvLim;
    fresh.click("laystart1");
    EXPECT_EQ(fresh.core.s.powdertime, c.powdertime) << c.maxpowdertime;
    EXPECT_EQ(fresh.log().back(), c.line);
  }
}

}  // namespace
