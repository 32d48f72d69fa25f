// The open-model road (STL, OBJ through the mesh tools, BMP, scaling and
// wrapping), ready-made .p3d jobs and the temperature test.
#include <gtest/gtest.h>

#include <filesystem>

#include "host/jobdata/slicer_handoff.h"
#include "platform/format.h"
#include "host/jobdata/tests/handoff_fixture.h"

using namespace ph;
using ph::test::HandoffFixture;

namespace {

struct OpenModel : HandoffFixture, ::testing::Test {
  std::vector<std::vector<std::string>> meshCalls;
  OpenModel() {
    for (const char* n : {"scaled1", "cocooned1", "BMPlayers1"})
      core.controls.add(Control::Kind::MenuItem, n, n).checkable = true;
    core.controls.add(Control::Kind::Button, "btViewstl", "View stl").enabled = false;
  }
  // Mesh tools that write `output` in the work folder for every command.
  void meshToolsWrite(const std::string& output) {
    steps.mesh = [this, output](const std::vector<std::string>& words) {
      meshCalls.push_back(words);
      test::writeCubeStl(at(output));
    };
  }
  bool started() const { return logHas("exe: "); }
};

TEST_F(OpenModel, AMissingModelIsLoggedAndNothingElseHappens) {
  openFromMenu(at("gone.stl"));
  EXPECT_TRUE(logHas("no such file " + at("gone.stl")));
  EXPECT_FALSE(job.jobReady);
  EXPECT_FALSE(started());
  EXPECT_EQ(core.s.file_name, "default");
}

TEST_F(OpenModel, CancellingTheDialogEndsTheRoad) {
  handoff.openModel();
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].filter,
            "stl, obj, ply and 3mf|*.stl;*.obj;*.ply;*.3mf|obj file|*.obj|stl files|*.stl|ply file|*.ply|"
            "3mf file|*.3mf|bmp files|*.bmp");
  EXPECT_TRUE(log().empty());
  EXPECT_FALSE(job.jobReady);
}

TEST_F(OpenModel, AnStlIsOpenedAndSliced) {
  const std::string model = at("Vase.stl");
  test::writeCubeStl(model);
  core.requestAbort();
  openFromMenu(model);
  EXPECT_FALSE(core.abortRequested());
  EXPECT_TRUE(job.jobReady);
  EXPECT_TRUE(core.controls.at("btViewstl").enabled);
  EXPECT_EQ(job.jobFileName, model);
  EXPECT_EQ(core.s.file_name, "Vase");
  EXPECT_EQ(handoff.viewerstl, model);
  EXPECT_TRUE(logHas("converting " + model + " to " + work + "/Vase.p3d"));
  EXPECT_TRUE(started());
  EXPECT_EQ(layout.djpagrepeat, 1);
}

TEST_F(OpenModel, AnObjIsConvertedByTheMeshToolsAndItsStlSliced) {
  meshToolsWrite("convertedobj.stl");
  const std::string obj = at("head scan.obj");
  test::writeBytes(obj, "v 0 0 0\n");
  openFromMenu(obj);
  ASSERT_EQ(meshCalls.size(), 1u);
  EXPECT_EQ(meshCalls[0], (std::vector<std::string>{"meshkit", "-S1", "-O" + obj, "-D" + work}));
  EXPECT_TRUE(logHas("converting " + obj + " to convertedobj.stl"));
  EXPECT_EQ(core.s.file_name, "head scan");
  EXPECT_EQ(handoff.viewerstl, at("convertedobj.stl"));
  EXPECT_NE(logLine("exe: ").find("-F" + at("convertedobj.stl")), std::string::npos);
  EXPECT_NE(logLine("exe: ").find("-K\"" + at("head scan.p3d") + "\""), std::string::npos);
}

TEST_F(OpenModel, AFailedObjConversionNeverSlicesAnOldConvertedFile) {
  // An earlier model's STL is in the work folder; this conversion fails.
  test::writeCubeStl(at("convertedobj.stl"));
  steps.mesh = [this](const std::vector<std::string>& words) { meshCalls.push_back(words); };
  const std::string obj = at("broken.v2.obj");
  test::writeBytes(obj, "f 1 2 3\n");
  openFromMenu(obj);
  ASSERT_EQ(meshCalls.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(at("convertedobj.stl")));
  EXPECT_TRUE(logHas(obj + " could not be converted to convertedobj.stl; it is not sliced"));
  EXPECT_FALSE(started());
  EXPECT_EQ(ui.messages.size(), 1u);

  // An unattended run is told in the log only, and the road says it failed.
  ui.messages.clear();
  core.commandInputFile = obj;
  core.runMode = 'T';
  EXPECT_FALSE(handoff.openModel());
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_FALSE(started());
}

TEST_F(OpenModel, RunModeTStopsAfterTheObjConversion) {
  meshToolsWrite("a.stl");
  core.s.stlnameIsObjname = true;
  const std::string obj = at("a.obj");
  test::writeBytes(obj, "v 0 0 0\n");
  core.commandInputFile = obj;
  core.runMode = 'T';
  EXPECT_TRUE(handoff.openModel());  // the run's work is done
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(meshCalls.size(), 1u);
  EXPECT_TRUE(std::filesystem::exists(at("a.stl")));
  EXPECT_FALSE(started());
}

TEST_F(OpenModel, ABitmapAsksHowOftenItsLayersRepeat) {
  const std::string bmp = at("logo.bmp");
  test::writeBytes(bmp, "BM");
  ui.inputs.push_back("3");
  openFromMenu(bmp);
  EXPECT_EQ(ui.prompts, std::vector<std::string>{"djpagrepeat"});
  EXPECT_EQ(layout.djpagrepeat, 3);
  EXPECT_NE(logLine("exe: ").find("-F" + bmp), std::string::npos);
}

TEST_F(OpenModel, AScaledModelIsTransformedAndWrappedBeforeSlicing) {
  meshToolsWrite("!cocooned.stl");
  std::vector<float> transform;
  steps.transform = [&](float s, float x, float y, float z, float c) { transform = {s, x, y, z, c}; };
  core.controls.at("scaled1").checked = true;
  ui.fieldAnswers.push_back({"2", "0", "0", "90", "1"});
  const std::string model = at("Bust.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  EXPECT_TRUE(logHas("S2.00 RX0.00 RY0.00 RZ90.00"));
  EXPECT_TRUE(core.controls.at("cocooned1").checked);
  EXPECT_EQ(transform, (std::vector<float>{2, 0, 0, 90, 1}));
  ASSERT_EQ(meshCalls.size(), 1u);
  EXPECT_EQ(meshCalls[0], (std::vector<std::string>{"meshkit", "", "-F" + model, "-D" + work}));
  // The wrapped model is sliced under the opened model's name.
  EXPECT_EQ(core.s.file_name, "Bust");
  EXPECT_NE(logLine("exe: ").find("-F" + at("!cocooned.stl")), std::string::npos);

  // Wrapping that writes nothing leaves nothing to slice.
  core.Memo1.clear();
  steps.mesh = nullptr;
  ui.fieldAnswers.push_back({"1", "0", "0", "0", "1"});
  openFromMenu(model);
  EXPECT_FALSE(std::filesystem::exists(at("!cocooned.stl")));
  EXPECT_FALSE(started());
  EXPECT_EQ(handoff.viewerstl, "");
}

TEST_F(OpenModel, NoColourAsksWhetherToProcessWithoutColour) {
  core.controls.at("NoColor1").checked = true;
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  ui.answers.push_back(OperatorUi::Answer::Yes);
  openFromMenu(model);
  EXPECT_EQ(ui.questions, std::vector<std::string>{"process without color?"});
  EXPECT_TRUE(handoff.processWithoutColor);
}

TEST_F(OpenModel, AHeightProfileThatFailsIsLoggedAndSlicingGoesOn) {
  core.s.powderReduce = true;
  steps.heightProfile = [](const std::string&) { return false; };
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  EXPECT_TRUE(logHas("unable to make profile from " + model));
  EXPECT_TRUE(started());
}

TEST_F(OpenModel, AHeightProfileCountsOnlyForTheModelItWasMadeFrom) {
  core.s.powderReduce = true;
  bool makes = true;
  std::vector<std::string> profiled;
  steps.heightProfile = [&](const std::string& stl) {
    profiled.push_back(stl);
    return makes;
  };
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  EXPECT_EQ(profiled, std::vector<std::string>{model});
  EXPECT_TRUE(layout.heightProfileMade);
  // Another model whose profile fails, a missing model, a ready-made job
  // and the temperature test: none has this model's profile.
  makes = false;
  openFromMenu(model);
  EXPECT_FALSE(layout.heightProfileMade);
  struct Case {
    const char* name;
    std::function<void()> open;
    bool stillMade;  // a model that could not be opened changes nothing
  } cases[] = {
      {"missing model", [&] { openFromMenu(at("gone.stl")); }, true},
      {"without powder reduction",
       [&] {
         core.s.powderReduce = false;
         openFromMenu(model);
         core.s.powderReduce = true;
       },
       false},
      {"ready-made job",
       [&] {
         test::writeBytes(at("Ring.p3d"), "raster\x0c" "0123ABCD\r\n");
         ui.files.push_back(at("Ring.p3d"));
         handoff.openP3dFile();
       },
       false},
      {"temperature test",
       [&] {
         test::writeCubeStl(at("temprtest.stl"));
         ui.inputs.push_back("45");
         handoff.startTemperatureTest();
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    makes = true;
    openFromMenu(model);
    ASSERT_TRUE(layout.heightProfileMade);
    c.open();
    EXPECT_EQ(layout.heightProfileMade, c.stillMade);
  }
}

TEST_F(OpenModel, TheWallsFollowTheCocoonedCheckMark) {
  meshToolsWrite("!cocooned.stl");
  std::vector<float> transform;
  steps.transform = [&](float s, float x, float y, float z, float c) { transform = {s, x, y, z, c}; };
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  // Checked on the menu without the scale dialog: walls.
  core.controls.at("cocooned1").checked = true;
  openFromMenu(model);
  EXPECT_EQ(transform, (std::vector<float>{1, 0, 0, 0, 1}));
  // The scale dialog's cocoon field sets the mark, and the walls follow it.
  core.controls.at("scaled1").checked = true;
  ui.fieldAnswers.push_back({"1.5", "0", "0", "0", "0"});
  openFromMenu(model);
  EXPECT_FALSE(core.controls.at("cocooned1").checked);
  EXPECT_EQ(transform, (std::vector<float>{1.5f, 0, 0, 0, 0}));
}

TEST_F(OpenModel, PrepViewPreparesWithoutSlicingOnce) {
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  handoff.skipSlicing = true;
  openFromMenu(model);
  EXPECT_FALSE(started());
  EXPECT_FALSE(handoff.skipSlicing);
  openFromMenu(model);
  EXPECT_TRUE(started());
}

TEST_F(OpenModel, ACancelledPrepViewDialogLeavesTheNextSliceAlone) {
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  handoff.skipSlicing = true;
  ui.files.push_back(std::nullopt);  // the operator cancels the dialog
  EXPECT_FALSE(handoff.openModel());
  openFromMenu(model);
  EXPECT_TRUE(started());
}

TEST_F(OpenModel, TheFirstProgramArgumentIsOpened) {
  const std::string model = at("arg.stl");
  test::writeCubeStl(model);
  handoff.programArgs = {model, "-V"};
  handoff.openCommandLineFile();
  EXPECT_TRUE(ui.dialogs.empty());
  EXPECT_EQ(core.s.file_name, "arg");
  EXPECT_TRUE(started());
}

TEST_F(OpenModel, AReadyMadeJobIsConverted) {
  steps.convert = [this] {
    ++conversions;
    job.modelFits = false;
    return ConversionOutcome::success();
  };
  test::writeBytes(at("Ring.p3d"), "raster\x0c" "0123ABCD\r\n");
  ui.files.push_back(at("Ring.p3d"));
  ui.answers.push_back(OperatorUi::Answer::No);
  handoff.openP3dFile();
  EXPECT_EQ(conversions, 1);
  EXPECT_EQ(core.s.file_name, "Ring");
  EXPECT_EQ(job.jobFileName, at("Ring.p3d"));
  EXPECT_TRUE(job.jobReady);
  EXPECT_EQ(layout.heightProfile[0], 9999.0f);
  EXPECT_EQ(layout.heightProfile[299], 9999.0f);
  EXPECT_TRUE(logHas("file " + at("Ring.p3d") + " fn Ring"));
  EXPECT_EQ(ui.questions, std::vector<std::string>{"model does not fit in machine, Comtinue?"});
  EXPECT_TRUE(core.abortRequested());
}

TEST_F(OpenModel, AReadyMadeJobTheSlicerDidNotFinishIsNotConverted) {
  for (const std::string& end : {std::string("raster\x0c   "), std::string()}) {
    ui.messages.clear();
    test::writeBytes(at("Cut.p3d"), end);
    ui.files.push_back(at("Cut.p3d"));
    handoff.openP3dFile();
    EXPECT_EQ(conversions, 0);
    EXPECT_FALSE(job.jobReady);
    EXPECT_EQ(ui.messages, std::vector<std::string>{at("Cut.p3d") +
                                                    " is not a whole job (empty, or stopped or aborted while it was "
                                                    "sliced): not converted"});
  }
}

// The host's own pattern jobs end without a fingerprint line: the
// fingerprint only tells whether a model's slice can be reused.
TEST_F(OpenModel, AReadyMadeJobWithoutAFingerprintIsConverted) {
  int n = 0;
  for (const std::string& end : {std::string("raster"), std::string("raster0123abcd\r\n"), std::string("\x0c")}) {
    ui.messages.clear();
    const std::string name = at(plat::format("allignpat%d.p3d", ++n));
    test::writeBytes(name, end);
    ui.files.push_back(name);
    handoff.openP3dFile();
    EXPECT_EQ(conversions, n);
    EXPECT_TRUE(job.jobReady);
    EXPECT_EQ(job.jobFileName, name);
    EXPECT_TRUE(ui.messages.empty());
  }
}

TEST_F(OpenModel, TheTemperatureTestSlicesItsModelAndConvertsOnTheReadyEvent) {
  core.s.startinglayer = 7;
  test::writeCubeStl(at("temprtest.stl"));
  ui.inputs.push_back("45");
  handoff.startTemperatureTest();
  EXPECT_EQ(core.s.startinglayer, 15);
  EXPECT_EQ(handoff.savedStartingLayer, 7);
  EXPECT_TRUE(handoff.temprTestActive);
  EXPECT_EQ(core.s.file_name, "temprtest");
  EXPECT_TRUE(logHas("converting " + at("temprtest.stl") + " to " + work + "/temprtest.p3d"));
  EXPECT_TRUE(started());
  // Nothing to convert before the slicer has written the job.
  EXPECT_EQ(conversions, 0);
  EXPECT_EQ(unitCodes.text.substr(unitCodes.text.size() - 6), "28,15t");

  // A job the slicer did not finish is sliced again.
  core.Memo1.clear();
  test::writeBytes(at("temprtest.p3d"), "job   ");
  ui.inputs.push_back("45");
  handoff.startTemperatureTest();
  EXPECT_TRUE(started());
  EXPECT_EQ(conversions, 0);

  // With the finished job in place it is converted at once; the first saved
  // starting layer stays saved.
  core.Memo1.clear();
  test::writeBytes(at("temprtest.p3d"), "job" "89ABCDEF\r\n");
  ui.inputs.push_back("100");
  handoff.startTemperatureTest();
  EXPECT_EQ(core.s.startinglayer, 52);
  EXPECT_EQ(handoff.savedStartingLayer, 7);
  EXPECT_FALSE(started());
  EXPECT_EQ(conversions, 1);

  ui.inputs.push_back("warm");
  handoff.startTemperatureTest();
  EXPECT_EQ(core.s.startinglayer, 52);
  EXPECT_TRUE(logHas("starting_temperature: not a whole number: warm"));
}

}  // namespace

namespace {

struct JobStateTest : HandoffFixture, ::testing::Test {};

TEST_F(JobStateTest, WorkFileNames) {
  core.workDir = "/tmp/";
  core.s.file_name = "Cube";
  EXPECT_EQ(job.workFileName("dmc"), "/tmp/temp.dmc");
  EXPECT_EQ(job.workFileName("p3d"), "/tmp/Cube.p3d");
  job.jobFileName = "/tmp/Job.P3D";
  EXPECT_EQ(job.workFileName("p3d"), "/tmp/Job.P3D");
  EXPECT_EQ(job.workFileName("stl"), "/tmp/Cube.stl");
  job.patternMode = true;
  EXPECT_EQ(job.workFileName("dmc"), "/tmp/pattern.dmc");
  EXPECT_EQ(job.workFileName("p3d"), "/tmp/pattern.p3d");
}

TEST_F(JobStateTest, AChangedSlicingSettingMakesTheJobStale) {
  job.jobReady = true;
  core.applySettings("?printspeed=1000", false);
  EXPECT_TRUE(job.jobReady);
  core.applySettings("?skinmicrons=900", false);
  EXPECT_FALSE(job.jobReady);
}

}  // namespace
