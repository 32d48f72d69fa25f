// The voxel tools as the main window reaches them: "hollow_stl" and
// "sepa_voids" are items of the main window bound to the mesh tools, which
// reach the slicer hand-off's model and names through their links.
#include "host/app/tests/host_fixture.h"

using namespace ph;

TEST_F(HostTest, HollowStlAndSepaVoidsAreReachableFromTheMainWindow) {
  Host& h = start();
  for (auto [name, caption] : {std::pair{"hollowstl1", "hollow_stl"}, {"shellstl1", "sepa_voids"}}) {
    const Control& c = h.core.controls.at(name);
    EXPECT_EQ(c.caption, caption);
    EXPECT_EQ(c.parent, "util1");
    EXPECT_TRUE(bool(c.onClick)) << name;
  }
  // The links lead to the hand-off's state.
  h.handoff.viewerstl = "model.stl";
  EXPECT_EQ(h.mesh.host.viewerStl(), "model.stl");
  h.mesh.host.setViewerStl("other.stl");
  EXPECT_EQ(h.handoff.viewerstl, "other.stl");
  h.mesh.host.setConvertedStlName("copiedobj.stl");
  EXPECT_EQ(h.mesh.host.convertedStlName(), "copiedobj.stl");

  // Without a model "hollow_stl" says what it found and asks nothing.
  h.handoff.viewerstl.clear();
  h.core.controls.at("hollowstl1").click();
  EXPECT_TRUE(logHas("file_name=" + h.core.s.file_name));
  EXPECT_TRUE(ui.questions.empty());
  // "sepa_voids" asks for the OBJ first; a cancel ends it.
  h.core.controls.at("shellstl1").click();
  EXPECT_EQ(ui.prompts, std::vector<std::string>{"finame"});
  EXPECT_FALSE(logHas("not built"));
}
