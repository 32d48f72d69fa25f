// The batch print from the command line, in real time over loopback:
// prismhost -F cube.stl -B against the two simulated machines, whose logs
// show what arrived: the Z reset, the move to the priming place, four pairs
// of bursts between the powder preparation and the print, keep-wet after
// the print's last stretch. A batch whose
// print cannot start ends the program with status 1 and says why.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/core/testing/cube_stl.h"
#include "host/core/testing/file_text.h"
#include "host/machine/tests/simulator.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> readLines(const fs::path& file) { return ph::test::readLines(file.string()); }
std::string readAll(const fs::path& file) { return ph::test::readAll(file.string()); }

struct BatchRun {
  fs::path dir;
  std::string log;
  int status = -1;

  BatchRun() {
    dir = fs::temp_directory_path() /
          ("phbatch-" + std::to_string(getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    // An 8 mm cube, blue all over (bit 15 set: the colours count).
    ph::test::writeColouredCube((dir / "cube.stl").string(), 100, 8, 0x8000 | 31, 0x8000 | 31);
  }
  ~BatchRun() { if (!getenv("KEEPDIR")) fs::remove_all(dir); }
  void run(const std::string& settings, std::vector<std::string> extra) {
    std::ofstream(dir / "prismhost.i3d") << settings << "layerMicrons = 1000\n";
    setenv("PRISM_NAMESPACE", ("b" + std::to_string(getpid()) + "_").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    std::vector<std::string> args{PRISMHOST_BIN, "-F", "cube.stl", "-B"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto host = plat::spawnProcess(args);
    fs::current_path(old);
    ASSERT_GT(host.pid, 0);
    const auto s = plat::waitProcess(host.pid, 150000);
    if (!s) ::kill(host.pid, SIGKILL);
    status = s.value_or(-1);
    log = readAll(dir / "prismhost.log");
  }
};

// Index of the first line that starts with `prefix` (from `from` on), or -1.
long indexOf(const std::vector<std::string>& lines, const std::string& prefix, std::size_t from = 0) {
  for (std::size_t i = from; i < lines.size(); ++i)
    if (lines[i].rfind(prefix, 0) == 0) return long(i);
  return -1;
}

TEST(BatchEndToEnd, TheCommandLineBatchPrimesPrintsKeepsWetAndEndsWell) {
  BatchRun b;
  ph::Simulator marlin, unit;
  ASSERT_TRUE(marlin.start(MARLIN_SIM, {"--instant-dwell", "--port", "0"}, b.dir / "marlin.log", 120));
  ASSERT_TRUE(unit.start(INKJET_SIM, {"--port", "0"}, b.dir / "unit.log", 120));
  b.run("CommPortMarlin = \"127.0.0.1:" + std::to_string(marlin.port()) + "\"\nCommInkDevice = \"127.0.0.1:" +
            std::to_string(unit.port()) + "\"\nxPrime = 50\n",
        {});
  marlin.finish();
  unit.finish();
  ASSERT_EQ(b.status, 0) << b.log;
  EXPECT_NE(b.log.find("fin (cube in "), std::string::npos) << b.log;

  const auto ml = readLines(b.dir / "marlin.log");
  const long prime = indexOf(ml, "pos X50.000 ");
  ASSERT_GE(prime, 0);
  const auto ul = readLines(b.dir / "unit.log");
  const long firstStretch = indexOf(ul, "stretch ");
  ASSERT_GE(firstStretch, 0);
  long lastStretch = firstStretch;
  for (long i = firstStretch; i >= 0; i = indexOf(ul, "stretch ", std::size_t(i) + 1)) lastStretch = i;
  // Four pairs of bursts, after the powder preparation's layers began and
  // before the print's end.
  int water = 0, colour = 0;
  for (std::size_t i = 0; i < ul.size(); ++i) {
    const bool w = ul[i] == "cmd 1000,22n", c = ul[i] == "cmd 1000,8n";
    if (!w && !c) continue;
    water += w;
    colour += c;
    EXPECT_GT(long(i), firstStretch);
    EXPECT_LT(long(i), lastStretch);
  }
  EXPECT_EQ(water, 4);
  EXPECT_EQ(colour, 4);
  // The Z reset and the powder preparation reached the machines.
  bool zReset = false;
  for (const std::string& l : ml)
    zReset = zReset || (l.rfind("exec N", 0) == 0 && l.find(" G28 Z0") != std::string::npos);
  EXPECT_TRUE(zReset);
  // Keep-wet goes on after the print's last stretch.
  EXPECT_GE(indexOf(ul, "cmd 4999,19n", std::size_t(lastStretch)), 0);
}

TEST(BatchEndToEnd, APrintThatCannotStartEndsTheRunWithStatusOne) {
  BatchRun b;
  ph::Simulator marlin;
  ASSERT_TRUE(marlin.start(MARLIN_SIM, {"--instant-dwell", "--port", "0"}, b.dir / "marlin.log", 120));
  // The unit's port does not exist.
  b.run("CommPortMarlin = \"127.0.0.1:" + std::to_string(marlin.port()) + "\"\nCommInkDevice = \"" +
            (b.dir / "no-such-port").string() + "\"\n",
        {"-P"});
  marlin.finish();
  EXPECT_EQ(b.status, 1) << b.log;
  EXPECT_NE(b.log.find("batch print stopped: the print did not start"), std::string::npos) << b.log;
  EXPECT_NE(b.log.find("unattended run failed: the print did not start"), std::string::npos) << b.log;
  EXPECT_EQ(b.log.find("fin ("), std::string::npos);
}

}  // namespace
