// Settings chosen in one run are the settings of the next start.
#include "host/app/tests/host_fixture.h"
#include "host/core/paths.h"

using namespace ph;

TEST_F(HostTest, SaveAsIsLoadedAtTheNextStart) {
  write("prismhost.i3d", "");
  Host& first = start();
  first.core.s.printspeed = 2468;
  ui.files.push_back(currentDir() + "/Shop");
  first.settingsFiles.setinifile1Click();
  host.reset();

  Host& next = start();
  EXPECT_EQ(next.core.s.settingsFile, "%currentdir%/Shop.i3d");
  EXPECT_EQ(next.core.s.printspeed, 2468);
}
