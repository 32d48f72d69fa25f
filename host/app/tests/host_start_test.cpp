// Start-up order and the command line.
#include "host/app/tests/host_fixture.h"
#include "platform/named_event.h"

#include <algorithm>
#include <fstream>


using namespace ph;

TEST_F(HostTest, RedirectLineLoadsTheActiveSettingsFile) {
  write("prismhost.i3d", "inifile = \"second.i3d\"\r\nprintspeed = 1111\r\n");
  write("second.i3d", "printspeed = 2222\r\nMarlinBaudrate = 115200\r\n");
  Host& h = start();
  EXPECT_EQ(h.core.s.settingsFile, "second.i3d");
  EXPECT_EQ(h.core.s.printspeed, 2222);
  EXPECT_EQ(h.core.s.MarlinBaudrate, 115200);
}

TEST_F(HostTest, UnknownNamesAreReportedOnTheSecondReadOnly) {
  write("prismhost.i3d", "nosuch = 1\r\n");
  start();
  int reports = 0;
  for (const auto& l : log()) reports += l == "unknown parameter nosuch = 1";
  EXPECT_EQ(reports, 1);
}

TEST_F(HostTest, LoneArguments) {
  write("other.i3d", "printspeed = 3333\r\n");
  EXPECT_EQ(startAndInit({"other.i3d"}).core.s.printspeed, 3333);
  host.reset();
  EXPECT_EQ(startAndInit({"Cube.STL"}).modelDialogFile, "Cube.STL");
  host.reset();
  EXPECT_EQ(startAndInit({"cube.v2.stl"}).modelDialogFile, "");  // extension taken after the first "."
}

TEST_F(HostTest, CommsOverride) {
  write("commsoverride.i3d",
        "CommPortMarlin = \"/dev/first-line-is-not-found\"\r\nCommInkDevice = \"/dev/ttyUSB1\"\r\n"
        "FormPosition = {10,20,300}\r\n");
  Host& h = start();
  EXPECT_EQ(h.core.s.CommPortMarlin, "\\\\.\\COM30");
  EXPECT_EQ(h.core.s.CommInkDevice, "/dev/ttyUSB1");
  EXPECT_EQ(h.core.s.FormPosition, (std::array<int, 4>{10, 20, 300, 0}));
  EXPECT_TRUE(logHas("comms from commsoverride.i3d"));
  EXPECT_TRUE(logHas("FormPosition from 10,20,300"));
}

TEST_F(HostTest, MarlinOverTcp) {
  write("prismhost.i3d", "CommPortMarlin = \"192.168.1.7:23\"\r\n");
  Host& h = start();
  EXPECT_TRUE(h.deviceLinks.marlin.overTcp());
  EXPECT_EQ(h.marlinTcpHost, "192.168.1.7");
  EXPECT_EQ(h.marlinTcpPort, 23);
}

TEST_F(HostTest, StartUpFollowUps) {
  write("prismhost.i3d", "dualbox = 1\r\ndropItems = \"G28~M105\"\r\nprimgrens = 0\r\nreversdir = true\r\n");
  Host& h = start();
  EXPECT_EQ(h.core.controls.at("btPrep").caption, "load pwdr");
  EXPECT_TRUE(h.deviceLinks.marlin.m18zAccepted);
  EXPECT_EQ(h.patterns.waterLineWidth(), 6);
  EXPECT_EQ(h.core.controls.at("typeGcode").items, (std::vector<std::string>{"G28", "M105"}));
  EXPECT_EQ(h.tables.reversedBits[1], 0x80);
  EXPECT_EQ(h.tables.setBitCount[0xFF], 8);
  EXPECT_EQ(h.tables.nozzleWordMap[1], 1 << 4);  // primgrens as loaded
  EXPECT_EQ(h.core.controls.at("vlabel").caption.size(), 6u);
  // Codes of template settings still at their defaults are queued; reversdir
  // adds its own.
  EXPECT_NE(h.deviceLinks.ink.queuedUnitCodes().find("81,2t"), std::string::npos);
  EXPECT_NE(h.deviceLinks.ink.queuedUnitCodes().find(" 43n49n"), std::string::npos);
}

TEST_F(HostTest, UserFunctions) {
  write("prismhost.i3d", "userfuncts = \"a;1p/b;>G0 X?%?,G1 Y1/c;3p/d;4p/e;5p/f;6p/g;7p/h;8p/i;9p/j;10p/k;11p/l;12p/m;13p/"
                         "n;14p\"\r\n");
  Host& h = start();
  EXPECT_EQ(h.userFunctionCount(), 20);  // 7 fixed, then the list until 20
  EXPECT_EQ(h.userFunctionCommands()[0], "17n");
  EXPECT_EQ(h.userFunctionCommands()[2], "9999p");
  EXPECT_EQ(h.userFunctionCommands()[6], " 21o1r21r16o12t33t1o");
  EXPECT_EQ(h.userFunctionCommands()[19], "13p");

  RecordingLinks links;
  h.links = &links;
  h.core.presetNextAnswer(25);
  h.runUserFunction(108);  // "b": G-codes with a typed amount
  EXPECT_EQ(links.gcodes, (std::vector<std::string>{"(flush)", "G0 X25", "G1 Y1"}));
  h.runUserFunction(100);
  EXPECT_EQ(links.ink, (std::vector<std::string>{"17n"}));
}

TEST_F(HostTest, ExpertModeShowsItemsWithoutHints) {
  Host& h = start();
  EXPECT_FALSE(h.core.controls.at("btnames").visible);
  EXPECT_TRUE(h.core.controls.at("inifile1").visible);
  EXPECT_TRUE(h.core.controls.at("util1").visible);
  host.reset();
  write("3dpowderprintingexpert.txt", "");
  EXPECT_TRUE(start().core.controls.at("btnames").visible);
}

TEST_F(HostTest, TheUsageTextIsTheWholeOfIt) {
  std::ifstream golden(std::string(std::getenv("PRISM_TEST_DATA")) + "/host/usage.txt");
  std::vector<std::string> expected;
  for (std::string line; std::getline(golden, line);) expected.push_back(line);
  ASSERT_EQ(expected.size(), 12u);
  startAndInit({"-?"});
  const auto at = std::find(log().begin(), log().end(), expected[0]);
  ASSERT_NE(at, log().end());
  EXPECT_EQ(std::vector<std::string>(at, log().end()), expected);
}

TEST_F(HostTest, UsageAndOptions) {
  Host& h = startAndInit({"-?", "-P", "-F", "model.stl", "-C", "-250x", "-U", "300", "-G", "G28"});
  EXPECT_TRUE(logHas("command line usage:"));
  EXPECT_FALSE(h.core.primeAtStart);
  EXPECT_EQ(h.core.commandInputFile, "model.stl");  // -P took "-F" as its value; -F then ran
  EXPECT_EQ(h.core.conveyerTime, -250);
  EXPECT_EQ(h.core.skinClear, 300);
  EXPECT_EQ(h.core.s.goodbyecode, "G28");
  EXPECT_EQ(h.core.runMode, ' ');
}

TEST_F(HostTest, SettingsOnTheCommandLine) {
  write("job.i3d", "printspeed = 4444\r\ninifile = \"elsewhere.i3d\"\r\n");
  Host& h = startAndInit({"-I", "?pauseEachLayer=true startgcodes='G28 X0'", "-I", "job.i3d"});
  EXPECT_TRUE(h.core.s.pauseEachLayer == false);  // reset by the later file load
  EXPECT_EQ(h.core.s.printspeed, 4444);
  EXPECT_EQ(h.core.s.settingsFile, "job.i3d");    // the redirect inside does not survive
  host.reset();
  Host& h2 = startAndInit({"-I", "?pauseEachLayer=true startgcodes='G28 X0'"});
  EXPECT_TRUE(h2.core.s.pauseEachLayer);
  EXPECT_EQ(h2.core.s.startgcodes, "G28 X0");
}

TEST_F(HostTest, RunModes) {
  startAndInit({"-F", "m.stl", "-V"});  // the open-model road runs (and finds no file)
  clock.advance(5000);                   // the Init timer runs once
  int told = 0;
  for (const auto& l : log()) told += l == "no such file m.stl";
  EXPECT_EQ(told, 1);

  int batches = 0;
  host = std::make_unique<Host>(ui, clock, std::vector<std::string>{"-B", "-F", "m.stl"});
  host->runBatch = [&] { ++batches; };
  host->startUp();
  clock.advance(1000);
  EXPECT_EQ(batches, 1);
  EXPECT_TRUE(host->core.batchPrintsModel());
}

TEST_F(HostTest, AnUnattendedRunThatCannotGoOnEndsWithAFailure) {
  struct Case {
    std::vector<std::string> args;
    const char* reason;
  };
  const Case cases[] = {
      {{"-F", "missing.stl", "-V"}, "unattended run failed: no job for missing.stl"},
      {{"-F", "missing.obj", "-T"}, "unattended run failed: no job for missing.obj"},
      {{"-B", "-F", "missing.stl"}, "unattended run failed: no job for missing.stl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    host.reset();
    ui.closeRequested = false;
    Host& h = startAndInit(c.args);
    EXPECT_TRUE(logHas(c.reason));
    EXPECT_TRUE(ui.closeRequested);
    EXPECT_EQ(h.core.run.exitStatus(), 1);
  }
}

TEST_F(HostTest, AnUnattendedRunEndsWellOnlyWhenItIsDone) {
  write("model.stl", "solid");
  Host& h = startAndInit({"-F", "model.stl", "-T"});  // only OBJ to STL: nothing to do for an STL
  EXPECT_FALSE(h.core.run.failed());
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_EQ(h.core.run.exitStatus(), 0);
  host.reset();
  // An interactive program has nothing to end with a failure.
  EXPECT_EQ(startAndInit({"-F", "model.stl"}).core.run.exitStatus(), 0);
  host.reset();
  // A run that is closed before it is done did not work.
  host = std::make_unique<Host>(ui, clock, std::vector<std::string>{"-F", "model.stl", "-B"});
  host->runBatch = [] {};
  host->startUp();
  clock.advance(1000);
  EXPECT_TRUE(host->core.run.active());
  EXPECT_EQ(host->core.run.exitStatus(), 1);
}

TEST_F(HostTest, WindowGeometry) {
  write("prismhost.i3d", "FormPosition = {-5000,10,400,300}\r\n");
  startAndInit();
  EXPECT_EQ(ui.geometry.left, -1920);  // -3000 at most, and on a screen
  EXPECT_EQ(ui.geometry.width, 400);
  host.reset();
  ui.geometry = {1, 2, 3, 4};
  write("prismhost.i3d", "FormPosition = {5,10,400,100}\r\n");
  startAndInit();
  EXPECT_EQ(ui.geometry.left, 1);  // a height of 100 is not applied
  host.reset();
  ui.screens = {-3840, 0, 7680, 2160};
  write("prismhost.i3d", "FormPosition = {-5000,10,400,300}\r\n");
  startAndInit();
  EXPECT_EQ(ui.geometry.left, -3000);
}

TEST_F(HostTest, AHugeWindowGeometryIsFittedToTheScreens) {
  struct Case {
    const char* position;
    WindowGeometry fitted;
  } cases[] = {
      {"{0,0,10000,10000}", {-1920, 0, 3840, 1080}},
      {"{9000,900,800,600}", {1120, 480, 800, 600}},
      {"{100,100,800,600}", {100, 100, 800, 600}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.position);
    host.reset();
    write("prismhost.i3d", std::string("FormPosition = ") + c.position + "\r\n");
    startAndInit();
    EXPECT_EQ(ui.geometry.left, c.fitted.left);
    EXPECT_EQ(ui.geometry.top, c.fitted.top);
    EXPECT_EQ(ui.geometry.width, c.fitted.width);
    EXPECT_EQ(ui.geometry.height, c.fitted.height);
  }
}

TEST_F(HostTest, InstanceNumbersAndTheSliceEventName) {
  plat::ManualClock clock2;
  FakeUi ui2;
  Host& first = start();
  Host second(ui2, clock2, {});
  second.startUp();
  EXPECT_EQ(first.core.instanceNumber, 1);
  EXPECT_EQ(second.core.instanceNumber, 2);
  EXPECT_EQ(first.syncsliceEventName, ".p3d file ready");
  EXPECT_EQ(second.syncsliceEventName, ".p3d file ready(2)");
}

TEST_F(HostTest, TheCameraAndMeshToolsCouplesAreOpenAndTheCameraIsSignalled) {
  Host& h = start();
  EXPECT_TRUE(h.meshkitready.Active);
  EXPECT_EQ(h.meshkitready.RecvEventName, "meshkitreadyCS");
  EXPECT_EQ(h.meshkitready.SendEventName, "meshkitreadySC");
  EXPECT_TRUE(h.CamSync.Active);
  EXPECT_EQ(h.CamSync.RecvEventName, "CamSyncCS");
  EXPECT_EQ(h.CamSync.MemHandleName, "CamSyncMH");
  // The camera program waits on the couple's send event; the print's
  // countdown sets it.
  auto camera = plat::NamedEvent::open("CamSyncSC");
  ASSERT_TRUE(camera);
  camera->reset();
  h.wiring.signalCamera();
  EXPECT_EQ(camera->wait(1000), plat::NamedEvent::Wait::Signalled);
  EXPECT_FALSE(logHas("camera sync: not built yet"));
}
