// The command interpreter, the conversion road, the parameter boxes, the
// prompts and the window's life.
#include <QImage>
#include <QPainter>

#include <filesystem>

#include "host/core/testing/file_text.h"
#include "host/mesh/tests/mesh_fixture.h"

using namespace ph;
using namespace ph::test;

namespace {

struct MeshTools_ : MeshTest {
  // A 1 x 1 square whose texture is half black, half white.
  void writeHalfTexturedSquare(const std::string& name) {
    QImage tex(64, 64, QImage::Format_RGB32);
    tex.fill(Qt::white);
    QPainter(&tex).fillRect(0, 0, 32, 64, Qt::black);
    ASSERT_TRUE(tex.save(QString::fromStdString(at("half.bmp")), "BMP"));
    writeText(at("half.mtl"), "newmtl t\nmap_Kd half.bmp\n");
    writeText(at(name),
              "mtllib half.mtl\nusemtl t\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
              "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3 4/4\n");
  }
};

}  // namespace

TEST_F(MeshTools_, AQuotedObjPathWithABlankAndALaterWorkFolder) {
  std::filesystem::create_directories(at("out folder"));
  writeText(at("my model.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  core.s.file_folder = "elsewhere";
  tools.meshCommand({"meshkit", "-O\"" + at("my model.obj") + "\"", "-D\"" + at("out folder") + "\""});
  EXPECT_EQ(core.s.file_folder, at("out folder"));
  EXPECT_TRUE(logHas("objname " + at("my model.obj")));
  EXPECT_EQ(readStl(at("out folder/convertedobj.stl")).count, 1u);
  EXPECT_TRUE(tools.skipDialogs);
}

TEST_F(MeshTools_, ScaleAndNoSubdivisionHoldForTheNextConversionOnly) {
  writeHalfTexturedSquare("a.obj");
  writeHalfTexturedSquare("b.obj");
  int call = 0;
  host.convertedName = [&call] { return std::string(call++ == 0 ? "a.stl" : "b.stl"); };
  tools.meshCommand({"program", "-S2.5", "-N", "-O" + at("a.obj"), "-O" + at("b.obj")});
  const ReadStl a = readStl(at("a.stl")), b = readStl(at("b.stl"));
  ASSERT_EQ(a.facets.size(), 2u);  // no subdivision
  float maxA = 0, maxB = 0;
  for (const auto& f : a.facets) maxA = std::max({maxA, f.corner[0][0], f.corner[1][0], f.corner[2][0]});
  for (const auto& f : b.facets) maxB = std::max({maxB, f.corner[0][0], f.corner[1][0], f.corner[2][0]});
  EXPECT_EQ(maxA, 2.5f);
  EXPECT_EQ(maxB, 1.0f);
  EXPECT_GT(b.facets.size(), 2u);  // subdivided
  EXPECT_FALSE(tools.params.noSubdivision);
}

TEST_F(MeshTools_, OnlyTheWordMinusPSetsTheTaperedWrapping) {
  tools.meshCommand({"meshkit", "-Px"});
  EXPECT_FALSE(tools.cocoonTapered);
  tools.meshCommand({"-P", "-Px"});  // word 0 is skipped
  EXPECT_FALSE(tools.cocoonTapered);
  tools.meshCommand({"meshkit", "-Px", "-P"});
  EXPECT_TRUE(tools.cocoonTapered);
}

TEST_F(MeshTools_, AFailedConversionLeavesNoStl) {
  struct Case {
    const char* obj;
    const char* says;
  } cases[] = {
      {"v 0 0 0\nv 1 0 0\nf 1 2 3\n", "model.obj line 3: vertex 3 does not exist"},
      {nullptr, "no file "},
  };
  for (const auto& c : cases) {
    writeText(at("convertedobj.stl"), "an old model");
    core.Memo1.clear();
    if (c.obj) writeText(at("model.obj"), c.obj);
    else std::filesystem::remove(at("model.obj"));
    EXPECT_FALSE(convert("model.obj"));
    EXPECT_FALSE(std::filesystem::exists(at("convertedobj.stl")));
    EXPECT_TRUE(logHas(c.says)) << c.says;
    EXPECT_FALSE(logHas("converted to stl"));
    EXPECT_EQ(ui.progress, 0);  // the progress window is closed
  }
}

TEST_F(MeshTools_, TheObjParametersAreAskedInTurn) {
  ui.inputs = {std::string("7"), std::string("40"), std::string(" 0.5 "), std::string("-3")};
  ui.choiceAnswers = {1, 0, 0, 1, 1, 0, -1};
  tools.askObjToStlParameters();
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"mintexturearea", "colmaxdist", "minfacearea", "brightenVtxColors"}));
  EXPECT_EQ(tools.params.mintexturearea, 7);
  EXPECT_EQ(tools.params.colmaxdist, 1600);
  EXPECT_EQ(tools.params.minfacearea, 0.5f);
  EXPECT_EQ(tools.state.options.brightenVtxColors, -3);
  // SizerPass: No, Change shows Yes, OK keeps it.
  EXPECT_EQ(ui.choices, (std::vector<std::string>{"SizerPass = No", "SizerPass = Yes", "ignoreTexture = No",
                                                   "ignoreVtxColors = No", "ignoreVtxColors = Yes",
                                                   "ignoreVtxColors = No", "obj_file_is_Inside_Out = No"}));
  EXPECT_TRUE(tools.state.options.SizerPass);
  EXPECT_FALSE(tools.state.options.ignoreVtxColors);

  // The distance is shown as its root; a malformed answer stops the asking.
  ui.prompts.clear();
  ui.choices.clear();
  ui.inputs = {std::nullopt, std::string("4x")};
  tools.askObjToStlParameters();
  EXPECT_EQ(tools.params.mintexturearea, 7);
  EXPECT_EQ(tools.params.colmaxdist, 1600);
  EXPECT_TRUE(logHas("colmaxdist: '4x' is not a whole number"));
  EXPECT_EQ(ui.prompts.size(), 2u);
  EXPECT_TRUE(ui.choices.empty());
}

TEST_F(MeshTools_, ScaleAndRotationOfTheWrapping) {
  ui.inputs = {std::string("50")};
  tools.askCocoonScale();
  EXPECT_EQ(tools.cocoonScale, 0.5f);
  std::vector<std::string> shown;
  struct Recorder : FakeUi {};
  ui.inputs = {std::nullopt};
  tools.askCocoonScale();
  EXPECT_EQ(tools.cocoonScale, 0.5f);  // cancel keeps it

  ui.inputs = {std::string("10"), std::string(" -2.5"), std::string("x")};
  tools.askCocoonRotation();
  EXPECT_EQ(tools.cocoonRotX, 10.0f);
  EXPECT_EQ(tools.cocoonRotY, -2.5f);
  EXPECT_EQ(tools.cocoonRotZ, 0.0f);
  EXPECT_TRUE(logHas("zrotate: 'x' is not a number"));
}

TEST_F(MeshTools_, FilePromptsGiveTheDefaultAndRaiseTheAbortOnCancel) {
  ui.files = {std::nullopt, std::string("/x/chosen.stl")};
  EXPECT_EQ(tools.askInputFile("stlfile", "/data/in.stl"), "/data/in.stl");
  EXPECT_TRUE(tools.meshAbort);
  ASSERT_EQ(ui.dialogs.size(), 1u);
  EXPECT_EQ(ui.dialogs[0].filter, "stlfile = stl - file|*.stl");
  EXPECT_EQ(ui.dialogs[0].title, "stlfile (was /data/in.stl)");
  EXPECT_EQ(ui.dialogs[0].folder, "/data");
  tools.meshAbort = false;
  EXPECT_EQ(tools.askOutputFile("result", "out.obj"), "/x/chosen.stl");
  EXPECT_FALSE(tools.meshAbort);
  EXPECT_EQ(ui.dialogs[1].filter, "result(obj)|*.obj");
}

TEST_F(MeshTools_, TheAbortButtonAndTheHostAbortSetTheFlag) {
  tools.controls.at("Button4").click();
  EXPECT_TRUE(tools.meshAbort);
  tools.meshAbort = false;
  tools.abortMeshTools();
  EXPECT_TRUE(tools.state.meshAbort);
}

TEST_F(MeshTools_, TheRingCaptureButtonStartsHidden) {
  EXPECT_FALSE(tools.controls.at("Button2").visible);
}

TEST_F(MeshTools_, ClosingAppendsTheMemoOnlyToAnExistingLog) {
  tools.Memo1.addLine("tool line");
  tools.appendLogAtClose();
  EXPECT_FALSE(std::filesystem::exists(at("meshkit.log")));
  writeText(at("meshkit.log"), "before\r\n");
  tools.appendLogAtClose();
  EXPECT_EQ(readAll(at("meshkit.log")), "before\r\ntool line");
  EXPECT_TRUE(logHas("close meshkit"));
}

TEST_F(MeshTools_, TheSecondMenuEntryShowsTheLogInTheToolsWindow) {
  bool shown = false;
  tools.showWindow = [&] {
    shown = true;
    core.memoPrintf("inside");
  };
  tools.showMeshWindowWithItsLog();
  EXPECT_TRUE(shown);
  ASSERT_EQ(tools.Memo1.lines().size(), 1u);
  EXPECT_EQ(tools.Memo1.lines()[0], "inside");
  core.memoPrintf("after");
  EXPECT_EQ(log().back(), "after");

  host.jobFile = "bust.stl";
  ui.answers = {FakeUi::Answer::Yes};
  tools.askRecalculateNormals();
  EXPECT_EQ(ui.questions.back(), "are you sure you want to recalculate normals in bust.stl");
}

TEST_F(MeshTools_, TheLightingModeBakesLightsIntoTextureCopies) {
  // Two lights: a red one from above and a dim one from the side.
  writeText(at("lights.mtl"), "newmtl up\nKd 1 0 0\nnewmtl side\nKd 0.2 0.2 0.2\n");
  writeText(at("lights.obj"),
            "mtllib lights.mtl\nv 0 0 5\nv 1 0 5\nv 0 1 5\nv 5 0 0\nv 5 1 0\nv 5 0 1\n"
            "usemtl up\nf 1 2 3\nusemtl side\nf 4 5 6\n");
  QImage tex(16, 16, QImage::Format_RGB32);
  tex.fill(QColor(128, 128, 128));
  ASSERT_TRUE(tex.save(QString::fromStdString(at("skin.jpg")), "JPG"));
  writeText(at("hfd7.mtl"), "newmtl s\nmap_Kd skin.jpg\n");
  writeText(at("hfd7.obj"),
            "mtllib hfd7.mtl\nusemtl s\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
  tools.meshCommand({"meshkit", "-X"});
  EXPECT_TRUE(logHas("side 5.00,0.00,0.00"));
  EXPECT_TRUE(logHas("up 0.00,0.00,5.00"));
  EXPECT_EQ(tools.params.mintexturearea, 10000);
  EXPECT_TRUE(tools.state.saveTextures);
  ASSERT_TRUE(std::filesystem::exists(at("skin_a.jpg")));
  EXPECT_TRUE(logHas("converted to stl with 1 faces"));
}

TEST_F(MeshTools_, LightsBeyondTheTableAreLeftOut) {
  std::string mtl, obj = "mtllib l.mtl\n";
  for (int i = 0; i < 22; ++i) {
    mtl += "newmtl m" + std::to_string(i) + "\nKd 1 1 1\n";
    obj += "v " + std::to_string(i + 1) + " 0 0\nv 0 1 0\nv 0 0 1\nusemtl m" + std::to_string(i) + "\nf -3 -2 -1\n";
  }
  writeText(at("l.mtl"), mtl);
  writeText(at("lights.obj"), obj);
  tools.meshCommand({"meshkit", "-X"});
  EXPECT_TRUE(logHas("lights.obj: more than 20 materials; the rest make no light"));
  EXPECT_TRUE(logHas("no file " + at("hfd7.obj")));
}
