// The close sequence and the unattended goodbye.
#include "host/core/testing/file_text.h"
#include "host/app/tests/host_fixture.h"

#include <sstream>

using namespace ph;
using test::readAll;


TEST_F(HostTest, CloseAppendsTheLog) {
  Host& h = start();
  h.core.memoPrintf("first line");
  EXPECT_TRUE(h.FormCloseQuery());
  const std::string text = readAll("prismhost.log");
  EXPECT_EQ(text.rfind("log file:\r\nfirst line\r\n", 0), 0u);
  EXPECT_NE(text.find(" close "), std::string::npos);
  EXPECT_TRUE(h.core.closingDown);
  // A second run appends.
  h.core.memoPrintf("again");
  h.FormCloseQuery();
  EXPECT_NE(readAll("prismhost.log").find("again"), std::string::npos);
}

TEST_F(HostTest, SaveQuestionOnClose) {
  write("prismhost.i3d", "queryIniSave = true\r\n");
  Host& h = start();
  h.core.settingsModified = true;
  ui.answers = {OperatorUi::Answer::Cancel};
  EXPECT_FALSE(h.FormCloseQuery());
  EXPECT_FALSE(h.core.closingDown);
  EXPECT_TRUE(log().back().find("close") == std::string::npos);

  h.core.s.printspeed = 1234;
  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_TRUE(h.FormCloseQuery());
  EXPECT_NE(readAll("prismhost.i3d").find("printspeed = 1234"), std::string::npos);
  EXPECT_FALSE(h.core.settingsModified);
}

TEST_F(HostTest, GoodbyeSendsTheSequenceAndClosesWhenAcknowledged) {
  Host& h = startAndInit({"-C", "1500"});
  RecordingLinks links;
  links.sequence = "G1 X5";
  h.links = &links;
  h.core.s.goodbyecode = "G0 X1/G4 P6000/G28";
  h.goodbye();
  EXPECT_TRUE(links.opened);
  EXPECT_EQ(links.gcodes, (std::vector<std::string>{"G1 X5", "G0 X1", "G4 P1500", "G28"}));
  clock.advance(1000);
  EXPECT_TRUE(links.closed);
  EXPECT_FALSE(ui.closeRequested);
  clock.advance(1000);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_FALSE(h.core.timers.LeaveProgram->enabled());
}

TEST_F(HostTest, GoodbyeWithAnUnacknowledgedLineLeavesTheProgramOpen) {
  Host& h = startAndInit();
  RecordingLinks links;
  links.acknowledged = false;
  h.links = &links;
  h.goodbye();
  clock.advance(20 * 1000);
  EXPECT_TRUE(h.core.timers.LeaveProgram->enabled());
  clock.advance(1000);
  EXPECT_FALSE(h.core.timers.LeaveProgram->enabled());
  EXPECT_FALSE(ui.closeRequested);
  EXPECT_FALSE(links.closed);
}

TEST_F(HostTest, KeepWindowPosition) {
  Host& h = start();
  ui.geometry = {11, 22, 333, 444};
  h.core.controls.at("KeepForm1").click();
  EXPECT_EQ(h.core.s.FormPosition, (std::array<int, 4>{11, 22, 333, 444}));
  EXPECT_TRUE(h.core.settingsModified);
}
