// The bundled coloured cube, printed unattended (prismhost -F cube.stl -B)
// against both simulated machines, must reach them exactly as recorded in
// testdata/host/print_golden: every G-code line the machine executed (and
// every line, reply and position on the way), every command the jetting
// unit read and every stretch it decoded, byte totals included. Only what
// varies from run to run is left out: the port a simulator listens on, its
// connect and end events and the flow-control marks, whose counts follow
// the scheduler.
//
// To record the files again after a deliberate change of what the machines
// receive: PRISM_RECORD_GOLDEN=1 ctest -R print_golden (then review the diff).
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/core/testing/cube_stl.h"
#include "host/core/testing/file_text.h"
#include "host/machine/tests/simulator.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace {

// The events of a simulator log that depend on the host alone.
std::vector<std::string> hostDriven(const fs::path& log) {
  std::vector<std::string> out;
  for (const std::string& l : ph::test::readLines(log.string())) {
    const std::string word = l.substr(0, l.find(' '));
    if (word == "listen" || word == "pty" || word == "connect" || word == "end" || word == "xoff" || word == "xon")
      continue;
    out.push_back(l);
  }
  return out;
}

fs::path goldenDir() { return fs::path(std::getenv("PRISM_TEST_DATA")) / "host" / "print_golden"; }

// The first line where the two differ, with a few lines of context.
std::string firstDifference(const std::vector<std::string>& want, const std::vector<std::string>& got) {
  std::size_t i = 0;
  while (i < want.size() && i < got.size() && want[i] == got[i]) ++i;
  std::string s = "lines: recorded " + std::to_string(want.size()) + ", now " + std::to_string(got.size()) +
                  "; first difference at line " + std::to_string(i + 1) + "\n";
  for (std::size_t k = i >= 3 ? i - 3 : 0; k < i + 4; ++k) {
    s += "  recorded: " + (k < want.size() ? want[k] : std::string("<none>")) + "\n";
    s += "  now:      " + (k < got.size() ? got[k] : std::string("<none>")) + "\n";
  }
  return s;
}

void compareWithGolden(const fs::path& log, const std::string& name) {
  const std::vector<std::string> got = hostDriven(log);
  const fs::path golden = goldenDir() / name;
  if (std::getenv("PRISM_RECORD_GOLDEN")) {
    std::ofstream out(golden);
    for (const std::string& l : got) out << l << "\n";
    return;
  }
  const std::vector<std::string> want = ph::test::readLines(golden.string());
  ASSERT_FALSE(want.empty()) << golden;
  EXPECT_TRUE(want == got) << name << ": " << firstDifference(want, got);
}

TEST(PrintGolden, TheCubeReachesBothMachinesAsRecorded) {
  const fs::path dir = fs::temp_directory_path() / ("phgolden-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Top and bottom red, sides blue: data stretches of two colours.
  ph::test::writeColouredCube((dir / "cube.stl").string(), 100, 4, 0x8000 | 31 * 1024, 0x8000 | 31);

  ph::Simulator marlin, unit;
  ASSERT_TRUE(marlin.start(MARLIN_SIM, {"--instant-dwell", "--port", "0"}, (dir / "marlin.log").string(), 120));
  ASSERT_TRUE(unit.start(INKJET_SIM, {"--port", "0"}, (dir / "unit.log").string(), 120));
  // The batch's powder preparation and priming bursts stay in: they run
  // through the sequencer too.
  const int status = ph::runBatchPrint(PRISMHOST_BIN, dir, marlin, unit, "layerMicrons = 1000\nxPrime = 50\n", "g", 150000);
  marlin.finish();
  unit.finish();
  const std::string log = ph::test::readAll((dir / "prismhost.log").string());
  ASSERT_EQ(status, 0) << log;
  ASSERT_NE(log.find("fin (cube in "), std::string::npos) << log;

  compareWithGolden(dir / "marlin.log", "marlin.log");
  compareWithGolden(dir / "unit.log", "unit.log");
  if (!getenv("KEEPDIR")) fs::remove_all(dir);
}

}  // namespace
