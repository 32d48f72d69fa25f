// The close sequence and the unattended goodbye.
#include "host/core/testing/file_text.h"
#include "host/app/tests/host_fixture.h"
#include "host/jobdata/slicer_command.h"
#include "platform/fingerprint.h"

#include <algorithm>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <sstream>

using namespace ph;
using test::readAll;


TEST_F(HostTest, CloseAppendsTheLog) {
  Host& h = start();
  h.core.memoPrintf("first line");
  EXPECT_TRUE(h.askToClose());
  const std::string text = readAll("prismhost.log");
  EXPECT_EQ(text.rfind("log file:\r\nfirst line\r\n", 0), 0u);
  EXPECT_NE(text.find(" close "), std::string::npos);
  EXPECT_TRUE(h.core.closingDown);
  // A second close request after the sequence ran appends nothing more.
  EXPECT_TRUE(h.askToClose());
  EXPECT_EQ(readAll("prismhost.log"), text);
  // A second run appends.
  host.reset();
  start().core.memoPrintf("again");
  host->askToClose();
  EXPECT_EQ(readAll("prismhost.log").rfind(text, 0), 0u);
  EXPECT_NE(readAll("prismhost.log").find("again"), std::string::npos);
}

TEST_F(HostTest, NobodyToAnswerTheSaveQuestionClosesWithoutSaving) {
  write("prismhost.i3d", "queryIniSave = true\r\n");
  struct Case {
    const char* what;
    bool display;
    std::vector<std::string> args;
  };
  const Case cases[] = {{"no display", false, {}}, {"unattended run", true, {"-F", "gone.stl", "-V"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    host.reset();
    ui.display = c.display;
    ui.questions.clear();
    Host& h = start(c.args);
    h.core.runMode = c.args.empty() ? ' ' : 'V';
    h.core.commandInputFile = c.args.empty() ? "" : "gone.stl";
    h.core.markSettingsModified();
    h.core.s.printspeed = 1234;
    EXPECT_TRUE(h.askToClose());
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_TRUE(logHas("the changed settings were not saved: closing without asking"));
    EXPECT_EQ(readAll("prismhost.i3d").find("printspeed"), std::string::npos);
    EXPECT_NE(readAll("prismhost.log").find("closing without asking"), std::string::npos);
  }
}

TEST_F(HostTest, YesWithASaveThatFailsKeepsTheProgramOpen) {
  write("prismhost.i3d", "queryIniSave = true\r\n");
  Host& h = start();
  std::filesystem::create_directory("locked.i3d");  // cannot be replaced by a file
  h.core.s.settingsFile = "locked.i3d";
  h.core.markSettingsModified();
  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_FALSE(h.askToClose());
  EXPECT_FALSE(h.core.closingDown);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), "the settings were not saved: the program stays open");
  EXPECT_FALSE(std::filesystem::exists("prismhost.log"));
  // The operator lets them go.
  ui.answers = {OperatorUi::Answer::No};
  EXPECT_TRUE(h.askToClose());
  EXPECT_TRUE(h.core.closingDown);
}

TEST_F(HostTest, ATerminationRequestClosesWithoutAskingAndEndsAnUnfinishedRun) {
  write("prismhost.i3d", "queryIniSave = true\r\n");
  Host& h = start();
  h.core.markSettingsModified();
  h.terminate(15);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_TRUE(h.askToClose());  // what the window's close runs
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_NE(readAll("prismhost.log").find("termination request (signal 15): closing without asking"),
            std::string::npos);
  EXPECT_EQ(h.exitStatus(), 0);  // an operator's program had nothing left to do

  host.reset();
  ui.closeRequested = false;
  write("slow.stl", "solid");
  Host& run = start({"-F", "slow.stl", "-V"});
  run.core.runMode = 'V';
  run.core.commandInputFile = "slow.stl";
  run.terminate(2);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_TRUE(logHas("unattended run failed: ended by a termination request before it was done"));
  EXPECT_EQ(run.exitStatus(), 1);
}

TEST_F(HostTest, ATerminationRequestDuringALongStepIsNoticed) {
  // An unattended run whose job is converted: the request arrives through
  // the events the conversion lets run.
  write("cube.stl", std::string(84, '\0'));
  Host& h = start({"-F", "cube.stl", "-V"});
  h.core.s.slicer_exe = "/nonexistent/layertint";
  const std::string text = "-L250-W64-S64-C50-D1000-E25368";
  write("cube.p3d", "raster\x0c" + sliceSignature(84, plat::fileDateCode("cube.stl"), plat::crc16Modbus(text),
                                                       *plat::fileContentCrc("cube.stl")) +
                        "\r\n");
  bool converted = false;
  h.convertSlicedJob = [&] {
    ui.processEvents();
    converted = true;  // the step itself goes on to its end
    return ConversionOutcome::success();
  };
  ui.onEvents = [&] {
    ui.onEvents = nullptr;
    h.terminate(15);
    EXPECT_TRUE(h.askToClose());  // the window's close runs at once
  };
  clock.advance(1000 + 1500);
  EXPECT_TRUE(converted);
  EXPECT_NE(readAll("prismhost.log").find("termination request (signal 15)"), std::string::npos);
  EXPECT_EQ(h.exitStatus(), 1);  // the conversion that ended after it does not make the run a success
}

TEST_F(HostTest, AFaultStillAppendsTheLog) {
  Host& h = start();
  h.core.memoPrintf("working");
  h.closeAfterFault("vector::_M_range_check");
  const std::string text = readAll("prismhost.log");
  EXPECT_NE(text.find("working\r\n"), std::string::npos);
  EXPECT_NE(text.find("unexpected error: vector::_M_range_check"), std::string::npos);
  EXPECT_NE(text.find(" close "), std::string::npos);
  EXPECT_EQ(h.exitStatus(), 1);
  // The window's close that follows appends nothing more.
  EXPECT_TRUE(h.askToClose());
  EXPECT_EQ(readAll("prismhost.log"), text);
}

TEST_F(HostTest, ALogThatCannotBeWrittenIsToldAndFailsAnUnattendedRun) {
  write("prismhost.log", "log file:\r\n");
  write("m.stl", "solid");
  Host& h = start({"-F", "m.stl", "-T"});
  h.core.runMode = 'T';
  h.core.commandInputFile = "m.stl";
  h.core.run.succeed();  // the run did its work; only the log fails
  {
    // The disk is full: no byte more goes into a file.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit full = old;
    full.rlim_cur = std::filesystem::file_size("prismhost.log");
    auto* handler = std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &full);
    EXPECT_TRUE(h.askToClose());
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
  }
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_EQ(ui.messages.back(), "unable to write to file: " + h.core.progDir +
                                    "prismhost.log (the log of this run is incomplete)");
  EXPECT_EQ(h.exitStatus(), 1);
}

// The log is appended only to a regular file: a FIFO (which would block
// the close for ever), a device or a folder in its place is told, and the
// unattended run fails.
TEST_F(HostTest, ALogThatIsNoRegularFileIsRefusedAtOnce) {
  mkfifo("fifo", 0600);
  for (const char* target : {"fifo", "/dev/zero", "folder"}) {
    SCOPED_TRACE(target);
    ui.messages.clear();
    std::filesystem::remove("prismhost.log");
    if (std::string(target) == "folder") std::filesystem::create_directories("prismhost.log");
    else std::filesystem::create_symlink(target, "prismhost.log");
    write("m.stl", "solid");
    host.reset();
    Host& h = start({"-F", "m.stl", "-T"});
    h.core.runMode = 'T';
    h.core.commandInputFile = "m.stl";
    h.core.run.succeed();
    EXPECT_TRUE(h.askToClose());
    ASSERT_FALSE(ui.messages.empty());
    EXPECT_NE(ui.messages.back().find("prismhost.log (it is not a regular file)"), std::string::npos)
        << ui.messages.back();
    EXPECT_EQ(h.exitStatus(), 1);
    std::filesystem::remove_all("prismhost.log");
  }
  std::filesystem::remove("fifo");
}

TEST_F(HostTest, SaveQuestionOnClose) {
  write("prismhost.i3d", "queryIniSave = true\r\n");
  Host& h = start();
  h.core.markSettingsModified();
  ui.answers = {OperatorUi::Answer::Cancel};
  EXPECT_FALSE(h.askToClose());
  EXPECT_FALSE(h.core.closingDown);
  EXPECT_TRUE(log().back().find("close") == std::string::npos);

  h.core.s.printspeed = 1234;
  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_TRUE(h.askToClose());
  EXPECT_NE(readAll("prismhost.i3d").find("printspeed = 1234"), std::string::npos);
  EXPECT_FALSE(h.core.settingsModified());
}

TEST_F(HostTest, SettingsChangedByHandAreAskedAboutAtCloseEvenWithoutQueryIniSave) {
  Host& h = start();
  ASSERT_FALSE(h.core.s.queryIniSave);
  // The single-setting box, the way the operator changes one setting.
  h.core.controls.at("parmcombo").caption = "printspeed";
  ui.inputs.push_back("printspeed = 1234");
  h.configEditor.editComboSetting();
  ASSERT_EQ(h.core.s.printspeed, 1234);
  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_TRUE(h.askToClose());
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0], "Save Ini File");
  EXPECT_NE(readAll("prismhost.i3d").find("printspeed = 1234"), std::string::npos);
}

TEST_F(HostTest, ClosingOrGoodbyeDuringAPrintAsksFirst) {
  Host& h = start();
  RecordingLinks links;
  h.links = &links;
  h.core.controls.at("pause").checked = true;  // a paused print counts as running
  ui.answers = {OperatorUi::Answer::No, OperatorUi::Answer::No};
  EXPECT_FALSE(h.askToClose());
  EXPECT_FALSE(h.core.closingDown);
  h.goodbye();
  EXPECT_TRUE(links.gcodes.empty());
  EXPECT_EQ(ui.questions, (std::vector<std::string>{"a print is running: close the program anyway?",
                                                   "a print is running: say goodbye anyway?"}));
  ui.answers = {OperatorUi::Answer::Yes};
  EXPECT_TRUE(h.askToClose());
  h.links = nullptr;
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
  EXPECT_FALSE(h.core.timers.at("LeaveProgram").enabled());
}

TEST_F(HostTest, GoodbyeWithAnUnacknowledgedLineLeavesTheProgramOpen) {
  Host& h = startAndInit();
  RecordingLinks links;
  links.acknowledged = false;
  h.links = &links;
  h.goodbye();
  clock.advance(20 * 1000);
  EXPECT_TRUE(h.core.timers.at("LeaveProgram").enabled());
  clock.advance(1000);
  EXPECT_FALSE(h.core.timers.at("LeaveProgram").enabled());
  EXPECT_FALSE(ui.closeRequested);
  EXPECT_FALSE(links.closed);
  EXPECT_TRUE(logHas("goodbye: the machine did not acknowledge every line in 20 s; the program stays open"));
  // Halfway the oldest line without an "ok" went again, once.
  EXPECT_EQ(std::count(links.gcodes.begin(), links.gcodes.end(), "(again)"), 1);
}

TEST_F(HostTest, TheGoodbyeOfAnUnattendedRunEndsIt) {
  for (bool acknowledged : {true, false}) {
    SCOPED_TRACE(acknowledged);
    host.reset();
    ui.closeRequested = false;
    Host& h = startAndInit();
    h.core.runMode = 'B';
    h.core.commandInputFile = "m.stl";
    RecordingLinks links;
    links.acknowledged = acknowledged;
    h.links = &links;
    h.goodbye();
    clock.advance(21 * 1000);
    EXPECT_TRUE(ui.closeRequested);
    EXPECT_EQ(h.exitStatus(), acknowledged ? 0 : 1);
    h.links = nullptr;
  }
}

TEST_F(HostTest, KeepWindowPosition) {
  Host& h = start();
  ui.geometry = {11, 22, 333, 444};
  h.core.controls.at("KeepForm1").click();
  EXPECT_EQ(h.core.s.FormPosition, (std::array<int, 4>{11, 22, 333, 444}));
  EXPECT_TRUE(h.core.settingsModified());
}
