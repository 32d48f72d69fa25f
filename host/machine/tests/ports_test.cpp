// The port tools: the port list on a fake /sys and /dev tree, the scan
// against the simulated machines on pseudo-terminals, the plug sequence,
// the baud change, the firmware upload (a stand-in uploader and, when it is
// installed, lpc21isp against a line that never answers) and the stepper
// patcher.
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/components/comm_device_names.h"
#include "host/components/termios2_baud.h"
#include "host/machine/port_list.h"
#include "host/machine/ports.h"
#include "host/machine/tests/simulator.h"
#include "host/machine/tests/transport_fixture.h"
#include "platform/process.h"

using namespace ph;
namespace fs = std::filesystem;

namespace {

struct TempDir {
  std::string path;
  TempDir() {
    char name[] = "/tmp/ports_test_XXXXXX";
    path = ::mkdtemp(name);
  }
  ~TempDir() {
    std::error_code ec;
    for (auto& e : fs::recursive_directory_iterator(path, ec)) fs::permissions(e.path(), fs::perms::owner_all, ec);
    fs::permissions(path, fs::perms::owner_all, ec);
    fs::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

void writeFile(const std::string& path, const std::string& text) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// A fake /sys and /dev: each port is a tty folder, with a device link for
// hardware and a "type" file for serial-core ports; /dev entries are
// symbolic links to whatever the test wants the port to be.
struct FakeTree {
  TempDir dir;
  std::string sys() const { return dir / "sys"; }
  std::string dev() const { return dir / "dev"; }
  void tty(const std::string& name, bool hardware, const char* type = nullptr) {
    const std::string folder = sys() + "/class/tty/" + name;
    fs::create_directories(folder);
    if (hardware) fs::create_directories(folder + "/device");
    if (type) writeFile(folder + "/type", type);
  }
  void node(const std::string& name, const std::string& target) {
    fs::create_directories(dev());
    fs::create_symlink(target, dev() + "/" + name);
  }
  std::string byId(const std::string& id, const std::string& name) {
    fs::create_directories(dev() + "/serial/by-id");
    fs::create_symlink("../../" + name, dev() + "/serial/by-id/" + id);
    return dev() + "/serial/by-id/" + id;
  }
  void unplug(const std::string& name) {
    fs::remove_all(sys() + "/class/tty/" + name);
    std::error_code ec;
    fs::remove(dev() + "/" + name, ec);
  }
};

TEST(PortList, ListsHardwarePortsInNameOrderWithTheirStableNames) {
  FakeTree t;
  t.tty("ttyS0", true, "0");    // a legacy slot without a chip
  t.tty("ttyS1", true, "4");    // a real UART
  t.tty("tty1", false);         // a virtual console
  t.tty("ttyUSB10", true);
  t.tty("ttyUSB2", true);
  t.tty("ttyACM0", true);
  const std::string unit = t.byId("usb-Prism_unit_A1-if00-port0", "ttyUSB2");
  t.byId("usb-Gone_device-if00", "ttyUSB7");  // a stale link leads nowhere listed

  std::vector<std::string> names, kernel;
  for (const SerialPortEntry& p : listSerialPorts(t.sys(), t.dev())) {
    names.push_back(p.name);
    kernel.push_back(p.kernelName);
    EXPECT_EQ(p.device, t.dev() + "/" + p.kernelName);
  }
  EXPECT_EQ(kernel, (std::vector<std::string>{"ttyACM0", "ttyS1", "ttyUSB2", "ttyUSB10"}));
  EXPECT_EQ(names, (std::vector<std::string>{t.dev() + "/ttyACM0", t.dev() + "/ttyS1", unit, t.dev() + "/ttyUSB10"}));
  EXPECT_TRUE(listSerialPorts(t.dir / "nothing", t.dev()).empty());
}

struct PortToolsTest : TransportFixture {
  PortToolsTest() {
    tools.bindControls();
    tools.sysRoot = tree.sys();
    tools.devRoot = tree.dev();
    core.progDir = prog.path + "/";
    // Start-up's link opening is not part of these tests.
    core.timers.at("InkCommStart").stop();
  }
  // The jetting unit's link opened on a device through its check box, and
  // its opening codes sent.
  void openInkLink(const std::string& device) {
    core.s.CommInkDevice = device;
    Control& box = core.controls.at("cb_comm");
    box.setChecked(true);
    box.click();
    clock.advance(100);
  }
  bool logHas(const std::string& part) const { return TransportFixture::logHas(part); }
  // Runs the upload's timers until it ended one way or the other.
  bool runUploadToEnd() {
    for (int i = 0; i < 500; ++i) {
      clock.advance(200);
      if (ui.closeRequested || logHas("firmware upload failed")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  FakeTree tree;
  TempDir prog;
  struct Print : PortsInUse {
    bool printing = false;
    bool isBusy() const override { return printing; }
  } print;
  PortTools tools{core, links, print};
};

TEST_F(PortToolsTest, ScanFindsTheUnitAndMarlinAndReopensTheUnitsLinkOnItsPort) {
  Simulator unit, marlin;
  // Each line is held open, so each simulator outlives the probes of the
  // other machine that open and close it.
  ASSERT_TRUE(unit.start(INKJET_SIM, {"--pty"}, prog / "unit.log") && unit.holdPty());
  ASSERT_TRUE(marlin.start(MARLIN_SIM, {"--pty"}, prog / "marlin.log") && marlin.holdPty());
  commtest::Pty silent;
  for (const char* n : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"}) tree.tty(n, true);
  tree.node("ttyUSB0", silent.slave);
  tree.node("ttyUSB1", unit.pty());
  tree.node("ttyUSB2", marlin.pty());
  tree.node("ttyUSB3", prog / "no-such-device");
  const std::string unitName = tree.byId("usb-Prism_unit-if00-port0", "ttyUSB1");
  core.s.XonXoffMode = false;

  ui.answers.push_back(OperatorUi::Answer::Yes);
  tools.confirmAndScan();
  ASSERT_TRUE(core.timers.at("CommScan").enabled());
  for (int tick = 0; tick < 40 && core.timers.at("CommScan").enabled(); ++tick) {
    clock.advance(200);
    if (tools.scanCheckPhase || !core.timers.at("CommScan").enabled()) continue;
    // A probe went out: the machines that answer get the time they need.
    const bool answers = tools.scanIndex == 2 || tools.scanIndex == 5;
    pumpUntil([&] { return links.ink.versionSeen || links.marlin.nrMarlinok > -2; }, answers ? 5000 : 200);
  }
  EXPECT_FALSE(core.timers.at("CommScan").enabled());
  EXPECT_TRUE(logHas("found Inkj(2) " + unitName));
  EXPECT_TRUE(logHas("found Marlin(5) " + tree.dev() + "/ttyUSB2"));
  EXPECT_TRUE(logHas("scan done"));
  EXPECT_EQ(core.s.CommInkDevice, unitName);
  EXPECT_EQ(core.s.CommPortMarlin, tree.dev() + "/ttyUSB2");
  EXPECT_FALSE(core.s.XonXoffMode);
  EXPECT_FALSE(links.CommInk.Enabled());
  EXPECT_FALSE(links.CommMarlin.Enabled());
  EXPECT_FALSE(tools.portList);
  // The silent port got both probes, each once.
  EXPECT_EQ(silent.drain(), " 19oM18\nM18\n");
  EXPECT_FALSE(marlin.lines("exec M18").empty());

  // Two seconds later the unit's link opens on the port found.
  clock.advance(2000);
  EXPECT_TRUE(core.controls.at("cb_comm").checked);
  EXPECT_TRUE(links.CommInk.Enabled());
  EXPECT_EQ(links.CommInk.DeviceName(), unitName);
  EXPECT_EQ(unit.lines("cmd 19o").size(), 1u);
  // The Marlin probe of the unit's port was skipped.
  EXPECT_TRUE(unit.lines("garbage").empty());
}

TEST_F(PortToolsTest, ScanWithoutAnyMachineStoresNothingAndKeepsTheHandshakeSetting) {
  commtest::Pty silent;
  tree.tty("ttyUSB0", true);
  tree.node("ttyUSB0", silent.slave);
  core.s.XonXoffMode = false;
  core.s.CommInkDevice = "COM2";
  ui.answers.push_back(OperatorUi::Answer::Yes);
  tools.confirmAndScan();
  clock.runUntilIdle(5000);
  EXPECT_TRUE(logHas("scan done"));
  EXPECT_EQ(core.s.CommInkDevice, "COM2");
  EXPECT_FALSE(core.s.XonXoffMode);
  EXPECT_FALSE(core.timers.at("InkCommStart").enabled());
}

// A running print keeps its ports: every tool that would close one refuses.
TEST_F(PortToolsTest, ToolsThatCloseAPortRefuseWhileAPrintRuns) {
  commtest::Pty unit;
  openInkLink(unit.slave);
  ASSERT_TRUE(links.CommInk.Enabled());
  unit.drain(50);
  writeFile(prog / PortTools::kFirmwareImage, ":00000001FF\n");
  print.printing = true;
  const std::pair<const char*, const char*> cases[] = {{"scancomms1", "scan comms"},
                                                       {"setbaudrate1", "set baudrate"},
                                                       {"firmwareupdate1", "firmware-update"},
                                                       {"commport3dp1", "commport3dp"}};
  for (auto [item, what] : cases) {
    SCOPED_TRACE(item);
    ui.messages.clear();
    for (int i = 0; i < 3; ++i) ui.answers.push_back(OperatorUi::Answer::Yes);
    ui.inputs.push_back("115200");
    core.controls.at(item).click();
    EXPECT_EQ(ui.messages, std::vector<std::string>{std::string(what) + " refused: a print is running"});
    EXPECT_TRUE(links.CommInk.Enabled());
    EXPECT_TRUE(links.ink.inkLinkOpen);
    EXPECT_TRUE(core.controls.at("cb_comm").checked);
    for (plat::Timer* t : {&core.timers.at("CommScan"), &core.timers.at("newbaud"), &core.timers.at("UplFirm")})
      EXPECT_FALSE(t->enabled()) << t->name();
    ui.inputs.clear();
    ui.answers.clear();
  }
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_EQ(unit.drain(), "");
}

// A probe written into the line while the uploader or the baud change has
// it would spoil the firmware or the unit's rate.
TEST_F(PortToolsTest, ScanWaitsForAnUploadOrABaudChangeOnTheUnitsPort) {
  writeFile(prog / PortTools::kUploaderName, "#!/bin/sh\nexit 0\n");
  fs::permissions(prog / PortTools::kUploaderName, fs::perms::owner_all);
  writeFile(prog / PortTools::kFirmwareImage, ":00000001FF\n");
  for (const char* running : {"upload", "baud change"}) {
    SCOPED_TRACE(running);
    commtest::Pty unit;
    links.ink.inkBaudRate = 460800;
    openInkLink(unit.slave);
    if (std::string(running) == "upload") ASSERT_TRUE(tools.startFirmwareUpload());
    else ASSERT_TRUE(tools.changeInkBaudRate(115200));
    unit.drain(50);
    ui.messages.clear();
    EXPECT_FALSE(tools.startScan());
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_FALSE(core.timers.at("CommScan").enabled());
    EXPECT_TRUE(links.CommInk.Enabled());
    EXPECT_EQ(unit.drain(50), "");
    core.timers.at("UplFirm").stop();
    core.timers.at("newbaud").stop();
    core.controls.at("cb_comm").setChecked(false);
    core.controls.at("cb_comm").click();
  }
}

TEST_F(PortToolsTest, PlugSequenceSetsThePortsThatAppearedAtEachStage) {
  struct Case {
    const char* name;
    std::vector<std::string> bare, withUnit, both;
    bool marlinFound;
  } cases[] = {
      {"both found", {"ttyS1"}, {"ttyS1", "ttyUSB0"}, {"ttyS1", "ttyUSB0", "ttyACM0"}, true},
      // The fdm machine was never unplugged: only the unit is set.
      {"fdm left plugged", {"ttyS1", "ttyACM0"}, {"ttyS1", "ttyACM0", "ttyUSB0"}, {"ttyS1", "ttyACM0", "ttyUSB0"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTree t;
    tools.sysRoot = t.sys();
    tools.devRoot = t.dev();
    core.s.CommInkDevice = "COM2";
    core.s.CommPortMarlin = "COM30";
    ui.messages.clear();
    std::string unitName;
    auto take = [&](const std::vector<std::string>& ports) {
      for (const char* n : {"ttyS1", "ttyUSB0", "ttyACM0"}) t.unplug(n);
      fs::remove_all(t.dev() + "/serial");
      for (const std::string& n : ports) t.tty(n, true);
      if (std::find(ports.begin(), ports.end(), "ttyUSB0") != ports.end())
        unitName = t.byId("usb-Prism_unit-if00-port0", "ttyUSB0");
    };
    take({});
    ui.answers.push_back(OperatorUi::Answer::Yes);
    tools.startPlugSequence();
    take(c.bare);
    clock.advance(2000);
    take(c.withUnit);
    clock.advance(2000);
    take(c.both);
    clock.advance(2000);
    EXPECT_EQ(ui.messages,
              (std::vector<std::string>{"unplug both prismbay and fdm", "plug in prismbay", "plug in fdm machine"}));
    EXPECT_EQ(core.s.CommInkDevice, unitName);
    EXPECT_TRUE(logHas("prismbay on " + unitName));
    EXPECT_EQ(core.s.CommPortMarlin, c.marlinFound ? t.dev() + "/ttyACM0" : "COM30");
    EXPECT_EQ(tools.plugStage, 0);
    EXPECT_FALSE(core.timers.at("Plugseq").enabled());
    EXPECT_FALSE(tools.portList);
  }
}

TEST_F(PortToolsTest, MarlinPortTakesTheTypedDeviceForTheNextOpening) {
  core.s.CommPortMarlin = "COM30";
  links.marlin.marlinLinkOpen = true;
  ui.inputs.push_back("/dev/serial/by-id/usb-fdm");
  tools.askMarlinPort();
  EXPECT_EQ(ui.prompts, std::vector<std::string>{"CommMarlin->DeviceName"});
  EXPECT_EQ(core.s.CommPortMarlin, "/dev/serial/by-id/usb-fdm");
  EXPECT_FALSE(links.marlin.marlinLinkOpen);
  tools.askMarlinPort();  // cancelled: kept
  EXPECT_EQ(core.s.CommPortMarlin, "/dev/serial/by-id/usb-fdm");
}

TEST_F(PortToolsTest, BaudChangeRefusesRatesThePortCannotTake) {
  commtest::Pty unit;
  openInkLink(unit.slave);
  unit.drain(50);
  const int before = links.CommInk.CustomBaudRate();
  ASSERT_EQ(before, 460800);
  const std::pair<const char*, bool> cases[] = {
      {"0", true}, {"-9600", true}, {"5000000", true}, {"fast", true}, {"460800", false}};
  for (auto [answer, refused] : cases) {
    SCOPED_TRACE(answer);
    ui.messages.clear();
    ui.inputs.push_back(answer);
    tools.askInkBaudRate();
    EXPECT_EQ(ui.messages.size(), refused ? 1u : 0u);
    if (refused) {
      EXPECT_NE(ui.messages[0].find("not set"), std::string::npos) << ui.messages[0];
    }
    EXPECT_FALSE(core.timers.at("newbaud").enabled());
    EXPECT_EQ(unit.drain(50), "");
    EXPECT_EQ(links.CommInk.CustomBaudRate(), before);
    EXPECT_TRUE(links.CommInk.Enabled());
  }
  int line = 0;
  ASSERT_EQ(readLineBaud(unit.master, line), 0);
  EXPECT_EQ(line, before);
}

TEST_F(PortToolsTest, BaudChangeKeepsTheNewRateOnlyWhenTheUnitAnswersAtIt) {
  for (bool answers : {true, false}) {
    SCOPED_TRACE(answers ? "answers" : "silent");
    commtest::Pty unit;
    links.ink.inkBaudRate = 460800;
    openInkLink(unit.slave);
    unit.drain(50);
    ui.inputs.push_back("115200");
    tools.askInkBaudRate();
    EXPECT_EQ(readPty(unit, 10), " 115200,0o");
    clock.advance(500);
    EXPECT_FALSE(links.CommInk.Enabled());
    clock.advance(500);
    ASSERT_TRUE(links.CommInk.Enabled());
    int line = 0;
    ASSERT_EQ(readLineBaud(unit.master, line), 0);
    EXPECT_EQ(line, 115200);
    EXPECT_EQ(readPty(unit, 4), " 19o");
    if (answers) {
      unit.send("inkjet version 1\r\n");
      ASSERT_TRUE(pumpUntil([&] { return links.ink.versionSeen; }));
    } else {
      pumpUntil([] { return false; }, 100);
    }
    clock.advance(500);
    EXPECT_FALSE(core.timers.at("newbaud").enabled());
    const int kept = answers ? 115200 : 460800;
    EXPECT_EQ(links.ink.inkBaudRate, kept);
    EXPECT_EQ(links.CommInk.CustomBaudRate(), kept);
    EXPECT_TRUE(links.CommInk.Enabled());
    ASSERT_EQ(readLineBaud(unit.master, line), 0);
    EXPECT_EQ(line, kept);
    EXPECT_EQ(logHas("jetting unit does not answer at 115200 baud: back to 460800"), !answers);
    core.controls.at("cb_comm").setChecked(false);
    core.controls.at("cb_comm").click();
  }
}

// The uploader's command line, seen by a stand-in that records it, prints
// a line and ends with the status the case asks for.
TEST_F(PortToolsTest, FirmwareUploadStartsTheUploaderOnTheUnitsPortAndReportsItsEnd) {
  for (int status : {0, 3}) {
    SCOPED_TRACE(status);
    TempDir dir;
    core.progDir = dir.path + "/";
    const std::string program = dir / PortTools::kUploaderName;
    writeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > \"$0.args\"\necho 'Synchronizing'\nexit " +
                           std::to_string(status) + "\n");
    fs::permissions(program, fs::perms::owner_all);
    writeFile(dir / PortTools::kFirmwareImage, ":00000001FF\n");
    commtest::Pty unit;
    // The unit's port named as settings files from Windows name it.
    commDeviceNames().map(5, unit.slave);
    openInkLink("COM5");
    ASSERT_TRUE(links.CommInk.Enabled());
    unit.drain(50);
    ui.messages.clear();
    ui.closeRequested = false;
    core.Memo1.clear();

    ui.answers.push_back(OperatorUi::Answer::Yes);
    tools.confirmFirmwareUpload();
    EXPECT_EQ(readPty(unit, 16), " 1,12o115200,0o ");
    clock.advance(1000);
    EXPECT_FALSE(links.CommInk.Enabled());  // the port is free for the uploader
    ASSERT_TRUE(runUploadToEnd());
    commDeviceNames().clear();

    EXPECT_EQ(readFile(program + ".args"), program + "\n-hex\n-control\n" + dir.path + "/nozzlefw.hex\n" +
                                               unit.slave + "\n115200\n14746\n");
    EXPECT_TRUE(logHas("Synchronizing"));
    EXPECT_EQ(tools.uploaderPid(), -1);
    if (status == 0) {
      EXPECT_TRUE(ui.closeRequested);
      EXPECT_TRUE(logHas("firmware upload finished"));
      EXPECT_EQ(ui.messages, std::vector<std::string>{"restart this programm after upload"});
    } else {
      EXPECT_FALSE(ui.closeRequested);
      EXPECT_TRUE(logHas("firmware upload failed: lpc21isp ended with status 3"));
      EXPECT_FALSE(core.timers.at("UplFirm").enabled());
    }
  }
}

TEST_F(PortToolsTest, FirmwareUploadNeedsTheUploaderTheImageAndAnOpenLink) {
  TempDir emptyPath;
  const std::string oldPath = ::getenv("PATH") ? ::getenv("PATH") : "";
  commtest::Pty unit;
  openInkLink(unit.slave);
  unit.drain(50);
  const std::string program = prog / PortTools::kUploaderName;
  struct Case {
    const char* name;
    bool uploader, image, link;
    const char* why;
  } cases[] = {{"no uploader", false, true, true, "no lpc21isp"},
               {"no image", true, false, true, "no nozzlefw.hex"},
               {"link closed", true, true, false, "link is not open"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ec;
    fs::remove(program, ec);
    fs::remove(prog / PortTools::kFirmwareImage, ec);
    if (c.uploader) {
      writeFile(program, "#!/bin/sh\nexit 0\n");
      fs::permissions(program, fs::perms::owner_all);
    }
    if (c.image) writeFile(prog / PortTools::kFirmwareImage, ":00000001FF\n");
    links.ink.inkLinkOpen = c.link;
    ::setenv("PATH", emptyPath.path.c_str(), 1);
    ui.messages.clear();
    ui.answers.push_back(OperatorUi::Answer::Yes);
    tools.confirmFirmwareUpload();
    ::setenv("PATH", oldPath.c_str(), 1);
    EXPECT_EQ(ui.messages, std::vector<std::string>{"cannot update firmware"});
    EXPECT_TRUE(logHas(c.why));
    EXPECT_FALSE(core.timers.at("UplFirm").enabled());
    EXPECT_EQ(unit.drain(50), "");
  }
}

// lpc21isp itself on a line where no controller ever answers: it waits for
// one, so the host stops it at its time limit and says so.
TEST_F(PortToolsTest, Lpc21ispOnASilentLineIsStoppedAtTheTimeLimit) {
  const std::string program = tools.uploaderProgram();
  if (program.empty()) GTEST_SKIP() << "lpc21isp is not installed";
  // One data record and the end record.
  writeFile(prog / PortTools::kFirmwareImage, ":10000000000000000000000000000000000000F0\n:00000001FF\n");
  commtest::Pty unit;
  openInkLink(unit.slave);
  ui.answers.push_back(OperatorUi::Answer::Yes);
  tools.confirmFirmwareUpload();
  clock.advance(2000);
  const pid_t pid = tools.uploaderPid();
  ASSERT_GT(pid, 0);
  std::string cmdline;
  for (int i = 0; i < 100 && cmdline.empty(); ++i) {
    cmdline = readFile("/proc/" + std::to_string(pid) + "/cmdline");
    if (cmdline.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::vector<std::string> argv;
  for (std::string rest = cmdline; !rest.empty();) {
    const auto nul = rest.find('\0');
    argv.push_back(rest.substr(0, nul));
    rest = nul == std::string::npos ? "" : rest.substr(nul + 1);
  }
  EXPECT_EQ(argv, PortTools::uploaderArgv(program, prog / "nozzlefw.hex", unit.slave));
  EXPECT_EQ(argv, (std::vector<std::string>{program, "-hex", "-control", prog / "nozzlefw.hex", unit.slave, "115200",
                                            "14746"}));

  clock.advance(PortTools::kUploadLimitMs + 1000);
  EXPECT_TRUE(logHas("firmware upload failed: lpc21isp timed out after 300 s and was stopped"));
  EXPECT_NE(std::find(ui.messages.begin(), ui.messages.end(),
                      "firmware upload failed: lpc21isp timed out after 300 s and was stopped"),
            ui.messages.end());
  EXPECT_EQ(tools.uploaderPid(), -1);
  EXPECT_NE(::kill(pid, 0), 0);  // ended and reaped
  EXPECT_FALSE(ui.closeRequested);
  EXPECT_FALSE(core.timers.at("UplFirm").enabled());
}

// ---------------------------------------------------------------- stepper patch

const char* const kStepperSource =
    "#include \"Marlin.h\"\n"
    "#include \"stepper.h\"\n"
    "block_t *current_block;\n"
    "\n"
    "void step() {\n"
    "  WRITE(Y_DIR_PIN, INVERT_Y_DIR);\n"
    "  #if Y_STEP_PIN > -1\n"
    "  if (READ(Y_STEP_PIN)) {}\n"
    "  WRITE(Y_STEP_PIN, !INVERT_Y_STEP_PIN);\n"
    "  WRITE(X_STEP_PIN, 1);\n"
    "  Y_STEP_PIN_TOGGLE;\n"
    "}";

const char* const kPatchedY =
    "#include \"Marlin.h\"\n"
    "#include \"stepper.h\"\n"
    "block_t *current_block;\n"
    "    #define Y7_DIR_PIN 38\n"
    "    #define Y7_STEP_PIN 30\n"
    "\n"
    "void step() {\n"
    "  WRITE(Y_DIR_PIN, INVERT_Y_DIR);\n"
    "  WRITE(Y7_DIR_PIN, INVERT_Y_DIR);\n"
    "  #if Y_STEP_PIN > -1\n"
    "  if (READ(Y_STEP_PIN)) {}\n"
    "  WRITE(Y_STEP_PIN, !INVERT_Y_STEP_PIN);\n"
    "  WRITE(Y7_STEP_PIN, !INVERT_Y_STEP_PIN);\n"
    "  WRITE(X_STEP_PIN, 1);\n"
    "  Y_STEP_PIN_TOGGLE;\n"
    "}\n";

const char* const kPatchedXInverted =
    "#include \"Marlin.h\"\n"
    "#undef INVERT_E0_DIR\n"
    "#define INVERT_E0_DIR true\n"
    "#include \"stepper.h\"\n"
    "block_t *current_block;\n"
    "    #define X7_DIR_PIN 39\n"
    "    #define X7_STEP_PIN 31\n"
    "\n"
    "void step() {\n"
    "  WRITE(Y_DIR_PIN, INVERT_Y_DIR);\n"
    "  #if Y_STEP_PIN > -1\n"
    "  if (READ(Y_STEP_PIN)) {}\n"
    "  WRITE(Y_STEP_PIN, !INVERT_Y_STEP_PIN);\n"
    "  WRITE(X_STEP_PIN, 1);\n"
    "  WRITE(X7_STEP_PIN, 1);\n"
    "  Y_STEP_PIN_TOGGLE;\n"
    "}\n";

struct StepperTest : PortToolsTest {
  std::string stepper() const { return prog / "stepper.cpp"; }
  std::string backup() const { return prog / "steppercpp.old"; }
  // The menu item with the operator's answers.
  // nullopt: the operator keeps the default.
  void patchWith(std::vector<std::optional<std::string>> answers) {
    ui.answers.push_back(OperatorUi::Answer::Yes);
    for (auto& a : answers) ui.inputs.push_back(a);
    tools.askStepperPatch();
  }
};

TEST_F(StepperTest, PatchAddsTheSecondPinsAndRunsAgainOnAPatchedFile) {
  writeFile(stepper(), kStepperSource);
  patchWith({std::nullopt, std::nullopt, std::nullopt, std::nullopt});  // the defaults
  EXPECT_EQ(readFile(stepper()), kPatchedY);
  EXPECT_EQ(readFile(backup()), kStepperSource);
  EXPECT_EQ(ui.messages.back(), "stepper.cpp updated\n(copy back to Marlin folder)");

  // Again, with other answers: the earlier patch is replaced, not doubled,
  // and the saved copy stays the unpatched source.
  patchWith({"31", "39", "1", "x"});
  EXPECT_EQ(readFile(stepper()), kPatchedXInverted);
  EXPECT_EQ(readFile(backup()), kStepperSource);
  // The same answers once more change nothing.
  patchWith({"31", "39", "1", "x"});
  EXPECT_EQ(readFile(stepper()), kPatchedXInverted);
  EXPECT_EQ(readFile(backup()), kStepperSource);
  // A patched source without a saved copy saves what unpatching gives.
  fs::remove(backup());
  patchWith({"31", "39", "1", "y"});
  EXPECT_EQ(readFile(backup()), std::string(kStepperSource) + "\n");
  patchWith({std::nullopt, std::nullopt, std::nullopt, std::nullopt});
  EXPECT_EQ(readFile(stepper()), kPatchedY);
  EXPECT_FALSE(fs::exists(prog / "stepper.cpp.part"));
  EXPECT_EQ(unpatchStepperSource(kPatchedXInverted), std::string(kStepperSource) + "\n");
}

TEST_F(StepperTest, CarriageReturnLinesGetAddedLinesLikeThem) {
  const std::string crlf = "#include \"Marlin.h\"\r\nblock_t *current_block;\r\n  WRITE(Y_DIR_PIN, 0);\r\n";
  StepperPatch p;
  p.invertFeeder = true;
  const std::string out = patchStepperSource(crlf, p);
  EXPECT_EQ(out,
            "#include \"Marlin.h\"\r\n#undef INVERT_E0_DIR\r\n#define INVERT_E0_DIR true\r\nblock_t *current_block;\r\n"
            "    #define Y7_DIR_PIN 38\r\n    #define Y7_STEP_PIN 30\r\n  WRITE(Y_DIR_PIN, 0);\r\n"
            "  WRITE(Y7_DIR_PIN, 0);\r\n");
  EXPECT_EQ(unpatchStepperSource(out), crlf);
}

TEST_F(StepperTest, AFailedWriteIsReportedAndLeavesTheSourceAsItWas) {
  for (const char* blocked : {"steppercpp.old.part", "stepper.cpp.part"}) {
    SCOPED_TRACE(blocked);
    TempDir dir;
    core.progDir = dir.path + "/";
    writeFile(dir / "stepper.cpp", kStepperSource);
    // A folder in the way of the new file, and the folder made read-only
    // (which alone does not stop root).
    fs::create_directories(dir / blocked);
    fs::permissions(dir.path, fs::perms::owner_read | fs::perms::owner_exec);
    ui.messages.clear();
    EXPECT_FALSE(tools.patchStepperFile(StepperPatch{}));
    fs::permissions(dir.path, fs::perms::owner_all);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].rfind("stepper.cpp not updated: cannot write ", 0), 0u) << ui.messages[0];
    EXPECT_EQ(readFile(dir / "stepper.cpp"), kStepperSource);
    EXPECT_TRUE(fs::is_directory(dir / blocked));
  }
}

TEST_F(StepperTest, RefusesAMissingSourceAndAnAxisThatIsNoName) {
  patchWith({});
  EXPECT_EQ(ui.messages.back(), "no inputfile stepper.cpp \n(copy from marlin to prismbay folder)");
  writeFile(stepper(), kStepperSource);
  patchWith({std::nullopt, std::nullopt, std::nullopt, "("});
  EXPECT_EQ(ui.messages.back().rfind("stepper.cpp not updated", 0), 0u);
  EXPECT_EQ(readFile(stepper()), kStepperSource);
  EXPECT_FALSE(fs::exists(backup()));
}

}  // namespace
