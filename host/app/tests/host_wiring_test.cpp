// The Host wires every subsystem once, at construction: each click is bound
// to a control that exists (a wrong name stops the start-up), and every
// control that does something when clicked has its handler.
#include <stdexcept>

#include "host/app/tests/host_fixture.h"

namespace ph {
namespace {

// The controls that must do something when clicked: buttons and the menu
// items that are neither a sub-menu nor a check mark the code only reads.
std::vector<std::string> clickablesWithoutHandler(const Controls& controls) {
  std::vector<std::string> missing;
  for (const Control& c : controls.all()) {
    if (c.kind != Control::Kind::Button && c.kind != Control::Kind::MenuItem) continue;
    if (c.checkable) continue;
    bool hasItems = false;
    for (const Control& child : controls.all()) hasItems = hasItems || (!c.name.empty() && child.parent == c.name);
    if (hasItems || c.onClick) continue;
    missing.push_back(c.name.empty() ? c.caption : c.name);
  }
  return missing;
}

}  // namespace

TEST(ControlsBinding, AClickBoundToANameNoControlHasIsRefused) {
  Controls controls;
  controls.add(Control::Kind::Button, "btStart", "start");
  int clicks = 0;
  controls.bindClick("btStart", [&] { ++clicks; });
  controls.at("btStart").click();
  EXPECT_EQ(clicks, 1);
  EXPECT_THROW(controls.bindClick("btStrat", [] {}), std::logic_error);
}

TEST_F(HostTest, EveryClickIsBoundToAControlThatExists) {
  // Every subsystem binds its table of names while the Host is built; a
  // name without its control would have thrown here.
  ASSERT_NO_THROW(start());
}

TEST_F(HostTest, EveryControlOfTheMainWindowThatIsClickedHasItsHandler) {
  Host& h = start();
  EXPECT_EQ(clickablesWithoutHandler(h.core.controls), std::vector<std::string>{});
}

TEST_F(HostTest, EveryTimerOfTheTableIsMadeByOneOwnerAndFoundByName) {
  Host& h = start();
  std::vector<std::string> made, table;
  for (const plat::Timer* t : h.core.timers.all()) made.push_back(t->name());
  for (const MainTimerEntry& entry : mainTimerTable()) table.push_back(entry.name);
  EXPECT_EQ(made, table);
}

TEST_F(HostTest, EveryControlOfTheMeshToolsWindowThatIsClickedHasItsHandler) {
  Host& h = start();
  EXPECT_EQ(clickablesWithoutHandler(h.mesh.controls), std::vector<std::string>{});
}

}  // namespace ph
