#include "slicer/slicer_app.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "fake_slicer_ui.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "slicer/command_line.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

constexpr std::uint16_t kRed = 0x8000 | 31 << 10;

class SlicerAppTest : public ::testing::Test {
 protected:
  SlicerAppTest() {
    writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {kRed})));
    plat::NamedEvent::remove(eventName());
    ready = plat::NamedEvent::open(eventName());
  }
  ~SlicerAppTest() override { plat::NamedEvent::remove(eventName()); }

  // Each test case is a process of its own: the pid keeps the event apart.
  int instance() const { return 2 + getpid(); }
  std::string eventName() const { return readyEventName(instance()); }
  std::string instanceArg() const { return "-I" + std::to_string(instance()); }

  // The host's argument order.
  std::vector<std::string> hostArgs(const std::string& model, const std::string& out) {
    return {"-F" + model, "-L100", "-W60", "-S62", "-C50", "-D1000", "-K" + out, "-E32767", instanceArg()};
  }
  void start(std::vector<std::string> args) { app->formCreate(std::move(args), dir.path()); }
  bool eventWasSet() { return ready->wait(0) == plat::NamedEvent::Wait::Signalled; }

  ScratchDir dir;
  plat::ManualClock clock;
  FakeUi ui;
  RecordingStages stages;
  std::unique_ptr<SlicerApp> app = std::make_unique<SlicerApp>(clock, ui, stages);
  std::unique_ptr<plat::NamedEvent> ready;
};

}  // namespace

TEST_F(SlicerAppTest, BatchRunPreparesWritesSignalsAndCloses) {
  start(hostArgs(dir / "cube.stl", dir / "out.p3d"));
  clock.advance(99);
  EXPECT_EQ(stages.jobs, 0);
  clock.advance(1);
  EXPECT_EQ(stages.jobs, 1);
  EXPECT_EQ(stages.loads, 1);
  const SlicerState& s = app->state();
  EXPECT_TRUE(s.prepared);
  EXPECT_TRUE(s.batchJob);
  EXPECT_FALSE(s.interactive);
  EXPECT_FALSE(ui.jobRunning);
  EXPECT_EQ(s.paramText, "-L100-W60-S62-C50-D1000-E32767");
  EXPECT_EQ(ui.form.rdlabel, "bbox = 10.0 X 10.0 X 10.3 mm");
  EXPECT_EQ(ui.form.zend, "10.35");
  EXPECT_EQ(ui.form.zstart, "0.0");
  EXPECT_EQ(s.values.modelWidthDots, 236);
  EXPECT_EQ(s.values.modelRows, 260);
  EXPECT_EQ(s.copiesLimitX, 9);
  EXPECT_EQ(s.copiesLimitY, 13);
  EXPECT_TRUE(eventWasSet());
  EXPECT_EQ(ui.closes, 0);
  clock.advance(500);
  EXPECT_GE(ui.closes, 1);
  EXPECT_EQ(app->exitStatus(), kExitOk);
  EXPECT_TRUE(ui.messages.empty());
}

// The batch pass comes 100 ms after the program started, however much of
// that building the window took (and at the next tick when it took more).
TEST_F(SlicerAppTest, BatchPassCountsFromTheProgramStart) {
  const struct {
    int building, due;
  } cases[] = {{0, 100}, {30, 70}, {99, 1}, {100, 1}, {250, 1}};
  for (const auto& c : cases) {
    plat::ManualClock clk;
    FakeUi u;
    RecordingStages st;
    SlicerApp a(clk, u, st);
    const std::int64_t started = clk.tickMs();
    clk.advance(c.building);
    a.formCreate(hostArgs(dir / "cube.stl", dir / "out.p3d"), dir.path(), started);
    clk.advance(c.due - 1);
    EXPECT_EQ(st.jobs, 0) << c.building;
    clk.advance(1);
    EXPECT_EQ(st.jobs, 1) << c.building;
  }
}

// Window activation or the set-up button during a job must not put the drop
// counts back to the set-up file's values.
TEST_F(SlicerAppTest, SetupFileIsReadAtStartNotDuringTheJob) {
  writeFile(dir / "ngsetup.txt", "HEAD\n\nXXWP40SP52\n");
  start(hostArgs(dir / "cube.stl", dir / "out.p3d"));
  EXPECT_EQ(app->state().values.wpix, 40);
  EXPECT_EQ(app->state().setupBlock1, "HEAD");
  EXPECT_EQ(app->state().setupBlock2, "XX");
  int wpix = 0, spix = 0;
  stages.duringJob = [&](SlicerApp& a) {
    a.formActivate();
    a.prtsetupClick();
    wpix = a.state().values.wpix;
    spix = a.state().values.spix;
  };
  clock.advance(100);
  ASSERT_EQ(stages.jobs, 1);
  EXPECT_EQ(wpix, 60);
  EXPECT_EQ(spix, 62);
  app->formActivate();
  EXPECT_EQ(app->state().values.wpix, 60);
  // Asked for when no job runs, the file is read again.
  app->prtsetupClick();
  EXPECT_EQ(app->state().values.wpix, 40);
}

TEST_F(SlicerAppTest, UnreadableModelStillSignalsAndLeavesNoUsableJob) {
  writeFile(dir / "short.stl", stlBytes(cube(0, 1, {kRed})).substr(0, 60));
  struct Case {
    std::string model, words;
  } cases[] = {{"missing.stl", "cannot read the model"}, {"short.stl", "not 84 + 50 x n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.model);
    FakeUi u;
    RecordingStages st;
    plat::ManualClock clk;
    SlicerApp a(clk, u, st);
    writeFile(dir / "out.p3d", "an older job\r\n0123ABCD\r\n");
    a.formCreate(hostArgs(dir / c.model, dir / "out.p3d"), dir.path());
    clk.advance(100);
    EXPECT_EQ(st.jobs, 0);
    EXPECT_TRUE(eventWasSet());
    EXPECT_TRUE(u.logHas(c.words));
    EXPECT_TRUE(u.messages.empty());  // nobody to press OK
    EXPECT_EQ(readFile(dir / "out.p3d"), "   ");
    EXPECT_EQ(a.exitStatus(), kExitModelFailed);
    clk.advance(500);
    EXPECT_GE(u.closes, 1);
  }
}

TEST_F(SlicerAppTest, WithoutAJobWriterTheRunSaysSoAndFails) {
  SlicerStages none;
  SlicerApp a(clock, ui, none);
  a.formCreate(hostArgs(dir / "cube.stl", dir / "out.p3d"), dir.path());
  clock.advance(100);
  EXPECT_TRUE(eventWasSet());
  EXPECT_TRUE(ui.logHas("no job writer"));
  EXPECT_EQ(a.exitStatus(), kExitNoJob);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.p3d"));  // no job was there: nothing to mark
}

TEST_F(SlicerAppTest, AJobGivenAsTheModelIsNotOverwrittenByTheMark) {
  writeFile(dir / "job.p3d", "layers\r\n0123ABCD\r\n");
  SlicerStages none;
  SlicerApp a(clock, ui, none);
  a.formCreate({"-F" + (dir / "job.p3d"), instanceArg()}, dir.path());
  clock.advance(100);
  EXPECT_EQ(a.exitStatus(), kExitNoJob);
  EXPECT_EQ(readFile(dir / "job.p3d"), "layers\r\n0123ABCD\r\n");
}

// The host takes a ".P3D" as a job, whatever the case: so does the slicer,
// and a model it cannot read leaves no job-like file where none was.
TEST_F(SlicerAppTest, AJobNamedInCapitalsIsAJobAndAnUnreadableModelWritesNoFile) {
  writeFile(dir / "JOB.P3D", "layers\r\n0123ABCD\r\n");
  start({"-F" + (dir / "JOB.P3D"), "-L100", instanceArg()});
  clock.advance(100);
  EXPECT_EQ(stages.loads, 0);  // not read as an STL
  EXPECT_EQ(stages.jobs, 1);   // copied as the job it is
  EXPECT_EQ(app->state().rdlabel, "p3d file");

  FakeUi u;
  RecordingStages st;
  plat::ManualClock clk;
  SlicerApp a(clk, u, st);
  writeFile(dir / "BAD.STL", "solid ascii\n");
  a.formCreate({"-F" + (dir / "BAD.STL"), "-L100", instanceArg()}, dir.path());
  clk.advance(100);
  EXPECT_EQ(a.exitStatus(), kExitModelFailed);
  EXPECT_FALSE(std::filesystem::exists(dir / "BAD.p3d"));
}

TEST_F(SlicerAppTest, CommandLineOptions) {
  start({"-F" + (dir / "cube.stl"), "-L250", "-E25368", "-D1500", "-U200", "-Y3", "-J", instanceArg(),
         "-K" + (dir / "o.p3d"), "-M3", "-W30", "-S40", "-C75", "-Lx", "-W4.5"});
  const SlicerState& s = app->state();
  EXPECT_EQ(s.layerbox, "0.25");
  EXPECT_EQ(s.values.defaultColour, 25368);
  EXPECT_DOUBLE_EQ(s.values.skinDepth, 1.5);
  EXPECT_DOUBLE_EQ(s.values.surfaceClear, 0.2);
  EXPECT_DOUBLE_EQ(s.values.yShift, 3);
  EXPECT_TRUE(s.exportSlices);
  EXPECT_EQ(s.instanceNumber, instance());
  EXPECT_EQ(s.outputName, dir / "o.p3d");
  EXPECT_TRUE(ui.logHas("-L: \"x\" is not a whole number"));
  // The batch options wait for the batch pass.
  EXPECT_EQ(s.values.wpix, 48);
  EXPECT_EQ(s.values.minstepx, 1);
  clock.advance(100);
  EXPECT_EQ(s.values.minstepx, 3);
  EXPECT_EQ(s.values.minstepy, 3);
  EXPECT_EQ(s.values.wpix, 30);
  EXPECT_EQ(s.values.spix, 40);
  EXPECT_DOUBLE_EQ(s.values.colourFactor, 0.75);
  EXPECT_TRUE(ui.logHas("-W: \"4.5\" is not a whole number"));
  EXPECT_EQ(s.paramText, "-L250-E25368-D1500-U200-Y3-J-M3-W30-S40-C75-Lx-W4.5");
}

// Values outside their ranges (which overflowed the job's arithmetic) or
// not numbers at all: a batch run says which and writes no job, and the
// host still hears that the run is over.
TEST_F(SlicerAppTest, RefusedOptionValuesStopTheBatchJob) {
  struct Case {
    std::string arg, words;
  } cases[] = {
      {"-Y2147483647", "option -Y: 2147483647 is outside -1000..1000"},
      {"-W-2147483648", "option -W: -2147483648 is outside 0..1000"},
      {"-S-2147483648", "option -S: -2147483648 is outside 0..1000"},
      {"-L0", "option -L: 0 is outside 1..10000"},
      {"-D-1000", "option -D: -1000 is outside 0..100000"},
      {"-C4.5", "option -C: \"4.5\" is not a whole number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    FakeUi u;
    RecordingStages st;
    plat::ManualClock clk;
    SlicerApp a(clk, u, st);
    writeFile(dir / "out.p3d", "an older job\r\n0123ABCD\r\n");
    auto args = hostArgs(dir / "cube.stl", dir / "out.p3d");
    args.push_back(c.arg);
    a.formCreate(args, dir.path());
    clk.advance(100);
    EXPECT_EQ(st.jobs, 0);
    EXPECT_TRUE(u.logHas(c.words));
    EXPECT_TRUE(u.logHas("no job written"));
    EXPECT_EQ(a.exitStatus(), kExitBadOption);
    EXPECT_TRUE(eventWasSet());
    EXPECT_EQ(readFile(dir / "out.p3d"), "   ");
    clk.advance(500);
    EXPECT_GE(u.closes, 1);
  }
}

// One stray point far above the model (here at 1e6 mm) is reported before
// anything is sliced; the run ends at once.
TEST_F(SlicerAppTest, AModelTallerThanTheBuildRoomIsNotSliced) {
  std::vector<Tri> tris = cube(0, 10, {kRed});
  tris[7].v[2][2] = 1e6f;
  writeFile(dir / "stray.stl", stlBytes(tris));
  start(hostArgs(dir / "stray.stl", dir / "out.p3d"));
  clock.advance(100);
  EXPECT_EQ(stages.jobs, 0);
  EXPECT_TRUE(ui.logHas("stray.stl reaches 1000000.3 mm high, above the build room's 1000 mm"));
  EXPECT_EQ(app->exitStatus(), kExitModelFailed);
  EXPECT_TRUE(eventWasSet());
}

// Rows end at the raster's edge: a model that reaches beyond it is named,
// one within it is not.
TEST_F(SlicerAppTest, AModelCutAtTheRastersEdgeIsNamed) {
  const float lo[3] = {0, 0, 0}, hi[3] = {250, 20, 5};
  writeFile(dir / "wide.stl", stlBytes(box(lo, hi, {kRed})));
  start({dir / "wide.stl", "y"});
  clock.advance(100);
  ASSERT_TRUE(app->state().prepared);
  EXPECT_TRUE(ui.logHas("wide.stl is cut at the raster's edge, only what lies within is sliced: x 10.0 to 260.0 mm "
                        "(the raster holds -0.8 to 202.4 mm)"));

  FakeUi u;
  SlicerApp fits(clock, u, stages);
  fits.formCreate({dir / "cube.stl", "y"}, dir.path());
  clock.advance(100);
  ASSERT_TRUE(fits.state().prepared);
  EXPECT_FALSE(u.logHas("raster's edge"));
}

// The set-up file named as a pipe would block the start for ever: it is
// passed over with a message, and the values stay the defaults.
TEST_F(SlicerAppTest, ASetupFileThatIsNoFileIsPassedOver) {
  ASSERT_EQ(mkfifo((dir / "ngsetup.txt").c_str(), 0600), 0);
  start({dir / "cube.stl", "y"});
  EXPECT_TRUE(ui.logHas("ngsetup.txt: it is not a regular file; its values are not used"));
  EXPECT_EQ(app->state().values.wpix, 48);
}

TEST_F(SlicerAppTest, MissingPreviewFile) {
  start({"-V" + (dir / "gone.stl"), "-L100", instanceArg()});
  EXPECT_TRUE(ui.logHas("no such file: " + (dir / "gone.stl")));
  EXPECT_TRUE(ui.messages.empty());
  clock.advance(100);
  EXPECT_EQ(stages.previews, 0);
  clock.advance(400);
  EXPECT_GE(ui.closes, 1);
  EXPECT_FALSE(eventWasSet());
  EXPECT_EQ(app->exitStatus(), kExitModelFailed);
}

TEST_F(SlicerAppTest, PreviewRun) {
  start({"-V" + (dir / "cube.stl"), "-L100", instanceArg()});
  clock.advance(100);
  EXPECT_EQ(stages.previews, 1);
  EXPECT_EQ(stages.jobs, 0);
  EXPECT_GE(ui.closes, 1);
  EXPECT_FALSE(eventWasSet());
}

TEST_F(SlicerAppTest, AP3dIsCopiedAsAJob) {
  start({"-F" + (dir / "job.p3d"), instanceArg()});
  clock.advance(100);
  EXPECT_EQ(stages.jobs, 1);
  EXPECT_EQ(ui.form.rdlabel, "p3d file");
  EXPECT_EQ(ui.form.zend, "-1");
}

TEST_F(SlicerAppTest, OperatorAtTheWindowGetsMessageBoxes) {
  start({});
  ui.chosenFile = dir / "none.stl";
  app->button1Click();
  EXPECT_EQ(stages.jobs, 0);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("cannot read the model"), std::string::npos);

  ui.ask = false;  // no display: the log only
  app->prt0Click();
  EXPECT_EQ(ui.messages.size(), 1u);

  ui.chosenFile = dir / "cube.stl";
  app->button1Click();
  EXPECT_EQ(stages.jobs, 1);
  ui.chosenFile.clear();  // a cancelled open dialog ends the program
  app->prt0Click();
  EXPECT_EQ(ui.closes, 1);
}

TEST_F(SlicerAppTest, SecondArgumentYPreparesAtOnce) {
  start({dir / "cube.stl", "y"});
  clock.advance(100);
  EXPECT_TRUE(app->state().prepared);
  EXPECT_FALSE(app->state().interactive);
  EXPECT_EQ(stages.jobs, 0);
  EXPECT_FALSE(eventWasSet());
}

// The editor opens the file the loader reads: named up to the model's last ".".
TEST_F(SlicerAppTest, SupportFileEditorMeetsTheLoader) {
  mkdir((dir / "set.v1").c_str(), 0700);
  writeFile(dir / "set.v1/my.model.stl", stlBytes(cube(0, 10, {kRed})));
  start({dir / "set.v1/my.model.stl", "y"});
  clock.advance(100);
  ASSERT_TRUE(app->state().prepared);
  stages.saveEdits = true;
  writeFile(dir / "set.v1/my.model.sup", "P\n");
  app->supfileClick();
  ASSERT_EQ(stages.edited, std::vector<std::string>{dir / "set.v1/my.model.sup"});
  EXPECT_EQ(stages.loads, 2);  // saved: prepared again, with the support file
  EXPECT_TRUE(app->model().placed);
}

TEST_F(SlicerAppTest, QualityAndCopies) {
  start({dir / "cube.stl"});
  for (int i = 0; i < 3; ++i) app->spinButton1DownClick();
  EXPECT_EQ(app->state().values.quality, -1);
  EXPECT_EQ(ui.form.qlabel, "Lo ");
  for (int i = 0; i < 4; ++i) app->spinButton1UpClick();
  EXPECT_EQ(app->state().values.quality, 1);
  EXPECT_EQ(ui.form.qlabel, "Hi ");

  app->dcopiesEnter("20");  // 9 fit across the 20 mm model
  EXPECT_EQ(app->state().values.copiesX, 9);
  EXPECT_EQ(app->state().values.copiesY, 2);
  EXPECT_EQ(ui.form.dcopies, "18");
  app->spinButton2DownClick();
  EXPECT_EQ(ui.form.dcopies, "9");
  app->spinButton2DownClick();
  EXPECT_EQ(ui.form.dcopies, "8");

  // A model wider than the build room fits once, whatever is asked.
  writeFile(dir / "wide.stl", stlBytes(cube(0, 200, {kRed})));
  SlicerApp wide(clock, ui, stages);
  wide.formCreate({dir / "wide.stl"}, dir.path());
  wide.dcopiesEnter("4");
  EXPECT_EQ(wide.state().copiesLimitX, 0);
  EXPECT_EQ(ui.form.dcopies, "1");
}

TEST_F(SlicerAppTest, ColourBoxAndProgress) {
  start({});
  ui.colour = 0xFF8000;
  app->colorboxClick();
  EXPECT_EQ(app->state().values.defaultColour, 31 << 10 | 16 << 5);
  EXPECT_EQ(ui.form.colourBoxRgb, 0xF88000u);
  app->showProgress(42);
  EXPECT_EQ(ui.title, "42% layertint");
  app->showProgress(100);
  EXPECT_EQ(ui.title, "layertint");
  ui.answer = "0.75";
  app->skindepth1Click();
  EXPECT_EQ(ui.asked, "1");
  EXPECT_DOUBLE_EQ(app->state().values.skinDepth, 0.75);
}
