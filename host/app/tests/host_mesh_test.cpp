// The mesh tools as the main window reaches them: the wrapping transform and
// walls of the hand-off, the height profile into the job layout, and the
// main window's menu items of the mesh tools.
#include <fstream>

#include "host/app/tests/host_fixture.h"
#include "host/core/paths.h"
#include "host/core/testing/cube_stl.h"

using namespace ph;

TEST_F(HostTest, TheHandoffSetsTheWrappingAndFillsTheJobsHeightProfile) {
  Host& h = start();
  h.wiring.setCocoonTransform(2.0f, 10.0f, 0.0f, 90.0f, false);
  EXPECT_EQ(h.mesh.cocoonScale, 2.0f);
  EXPECT_EQ(h.mesh.cocoonRotX, 10.0f);
  EXPECT_EQ(h.mesh.cocoonRotZ, 90.0f);
  EXPECT_FALSE(h.mesh.cocoonWalls);

  test::writeColouredCube("cube.stl", 0, 10, 0x8000 | 31, 0x8000 | 31);  // 10 mm at the origin
  ASSERT_TRUE(h.wiring.makeHeightProfile("cube.stl"));
  EXPECT_NEAR(h.conversion.layout.heightProfile[30], 10.3f, 1e-4);
  EXPECT_NEAR(h.conversion.layout.heightProfile[41], 9.8f, 1e-4);
  EXPECT_EQ(h.conversion.layout.heightProfile[0], -1.0f);
  EXPECT_FALSE(h.wiring.makeHeightProfile("gone.stl"));

  // The wrapping step of the open-model road runs the mesh tools in this
  // process: the model comes back with its walls.
  h.core.controls.at("cocooned1").checked = true;
  const std::string wrapped = h.handoff.cocoonStep(currentDir() + "/cube.stl", false);
  EXPECT_EQ(wrapped, expandCurrentDir(h.core.workDir) + "!cocooned.stl");
  std::ifstream in(wrapped, std::ios::binary | std::ios::ate);
  EXPECT_EQ(std::streamoff(in.tellg()), 84 + 44 * 50);
}

TEST_F(HostTest, TheMainWindowsMeshItems) {
  Host& h = start();
  Control& cocooned = h.core.controls.at("cocooned1");
  EXPECT_EQ(cocooned.caption, "cocooned");
  EXPECT_EQ(cocooned.hint, "print wall around object");
  cocooned.checked = false;
  cocooned.click();
  EXPECT_FALSE(h.mesh.cocoonWalls);
  cocooned.checked = true;
  cocooned.click();
  EXPECT_TRUE(h.mesh.cocoonWalls);

  // "ply2stl" converts the work folder's PLY once the operator agrees,
  // also outside expert mode.
  Control& ply = h.core.controls.at("ply2stl1");
  EXPECT_EQ(ply.caption, "ply2stl");
  EXPECT_TRUE(ply.visible);
  const std::string folder = h.mesh.workFolder();
  ui.answers = {OperatorUi::Answer::No};
  ply.click();
  EXPECT_EQ(ui.questions.back(), "are you sure you want to convert " + folder + "/temp.ply to " + folder +
                                     "/fromply.stl");
  EXPECT_TRUE(ui.messages.empty());
  ui.answers = {OperatorUi::Answer::Yes};
  ply.click();  // no temp.ply there: the reader says so
  EXPECT_FALSE(ui.messages.empty() && !logHas("temp.ply"));

  // "bobbelhead" runs the mesh tools' head tool; its log goes to the main
  // window's memo.
  ui.inputs = {std::string("1"), std::string("1"), std::string("3"), std::string("nohead.stl")};
  h.core.controls.at("bobbelhead1").click();
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"head_scale", "neck_bottom", "neck_top", "sourcefile"}));
  EXPECT_EQ(ui.messages.back(), "cannot read from file: " + h.mesh.workFolder() + "/nohead.stl");

  // "getheights" writes the profile of the job's model beside the powder
  // heights of the conversion.
  h.core.s.file_name = "cube";
  test::writeColouredCube(h.job.workFileName("stl"), 0, 10, 0x8000 | 31, 0x8000 | 31);
  h.conversion.layout.powderedHeights.fill(1.5f);
  h.core.controls.at("getheights1").click();
  std::ifstream gfk("temp.gfk");
  std::string line;
  int lines = 0;
  while (std::getline(gfk, line)) ++lines;
  EXPECT_EQ(lines, 102);
  EXPECT_EQ(h.conversion.layout.powderedHeights[0], 0.0f);
}
