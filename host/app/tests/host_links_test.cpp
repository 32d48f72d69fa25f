// Start-up opens the machine links: the jetting-unit link about 100 ms after
// the window shows, the Marlin link too with openMarlinAtStart.
#include "host/app/tests/host_fixture.h"
#include "host/components/tests/comm_test_support.h"

namespace ph {

TEST_F(HostTest, StartUpOpensBothMachineLinks) {
  commtest::Pty unit, marlin;
  ASSERT_FALSE(unit.slave.empty());
  write("prismhost.i3d", "CommInkDevice = \"" + unit.slave + "\"\r\nCommPortMarlin = \"" + marlin.slave +
                             "@br115200\"\r\nopenMarlinAtStart = true\r\n");
  Host& h = start();
  // The Marlin port is chosen at start-up; the setting keeps its baud.
  EXPECT_EQ(h.deviceLinks.CommMarlin.DeviceName(), marlin.slave);
  EXPECT_EQ(h.deviceLinks.CommMarlin.CustomBaudRate(), 115200);
  EXPECT_EQ(h.core.s.MarlinBaudrate, 250000);
  EXPECT_EQ(h.links, &h.deviceLinks);
  clock.advance(200);
  EXPECT_TRUE(h.deviceLinks.ink.inkLinkOpen);
  EXPECT_TRUE(h.deviceLinks.marlin.marlinLinkOpen);
  // The codes of settings still at their defaults go first, then InkjetIni.
  const std::string sent = unit.drain();
  EXPECT_EQ(sent.substr(sent.size() - 3), "13o");
  EXPECT_NE(sent.find("1,20o"), std::string::npos);
  EXPECT_EQ(marlin.drain(), "\r");
  h.runUserFunction(100);  // "Roller on"
  EXPECT_EQ(unit.drain(), "17n");
}

TEST_F(HostTest, WithoutOpenMarlinAtStartOnlyTheUnitLinkOpens) {
  commtest::Pty unit;
  write("prismhost.i3d", "CommInkDevice = \"" + unit.slave + "\"\r\n");
  Host& h = start();
  clock.advance(200);
  EXPECT_TRUE(h.deviceLinks.ink.inkLinkOpen);
  EXPECT_FALSE(h.deviceLinks.marlin.marlinLinkOpen);
  EXPECT_FALSE(h.deviceLinks.CommMarlin.Enabled());
}

}  // namespace ph
