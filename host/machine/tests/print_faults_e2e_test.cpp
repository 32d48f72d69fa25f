// Whole unattended prints (prismhost -F cube.stl -B) against a simulated
// Marlin that plays what real serial lines and firmware do: long dwells and
// keep-alives, input thrown away after a damaged line, lost lines and "ok"s,
// a restart in the middle of the print. The exit status must be 0 exactly
// when every line the job holds ran once and in order: the lines the
// machine executed are compared, code for code, with those of the same job
// on a machine without faults.
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

struct Outcome {
  int status = -1;
  std::string log;                 // prismhost.log
  std::vector<std::string> execs;  // the machine's "exec N<n> <code>" lines
  std::vector<std::string> marlin;  // its whole log
};

// One print of a 1 mm coloured cube (one layer) on both simulators.
Outcome printCube(const fs::path& dir, const std::vector<std::string>& marlinArgs, const std::string& settings) {
  Outcome out;
  fs::remove_all(dir);
  fs::create_directories(dir);
  ph::test::writeColouredCube((dir / "cube.stl").string(), 100, 1, 0x8000 | 31 * 1024, 0x8000 | 31);
  ph::Simulator marlin, unit;
  std::vector<std::string> args = marlinArgs;
  args.insert(args.end(), {"--port", "0"});
  if (!marlin.start(MARLIN_SIM, args, (dir / "marlin.log").string(), 200)) return out;
  if (!unit.start(INKJET_SIM, {"--port", "0"}, (dir / "unit.log").string(), 200)) return out;
  out.status =
      ph::runBatchPrint(PRISMHOST_BIN, dir, marlin, unit, "layerMicrons = 1000\npreplayers = 0\n" + settings, "f", 240000);
  marlin.finish();
  unit.finish();
  out.log = ph::test::readAll((dir / "prismhost.log").string());
  out.marlin = ph::test::readLines((dir / "marlin.log").string());
  for (const std::string& l : out.marlin)
    if (l.rfind("exec N", 0) == 0) out.execs.push_back(l);
  return out;
}

std::string joined(const std::vector<std::string>& lines) {
  std::string t;
  for (const std::string& l : lines) t += l + "\n";
  return t;
}

// The codes of executed lines, in order. A layer that took more than 30 s
// re-declares the platform height ("G92 Z1.25"), which a slower run does
// and a quick one does not: those are left out.
std::string codes(const std::vector<std::string>& execs) {
  std::string t;
  for (const std::string& l : execs) {
    const std::string code = l.substr(l.find(' ', 5) + 1);
    const auto dot = code.find('.');
    if (code.rfind("G92 Z", 0) == 0 && dot != std::string::npos && dot + 3 == code.size()) continue;
    t += code + "\n";
  }
  return t;
}

struct FaultCase {
  const char* name;
  std::vector<std::string> marlinArgs;
  std::string settings;
  bool wholePrint;          // the print must end well (status 0)
  bool compareWithClean;    // the executed lines are those of a clean run
  const char* mustLog;      // a text the host's log must hold ("" for none)
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

struct PrintFaults : ::testing::TestWithParam<FaultCase> {
  fs::path base = fs::temp_directory_path() / ("phfault-" + std::to_string(getpid()));
  ~PrintFaults() override {
    if (!getenv("KEEPDIR")) fs::remove_all(base);
  }
};

TEST_P(PrintFaults, StatusZeroExactlyWhenEveryLineRanOnceInOrder) {
  const FaultCase& c = GetParam();
  const Outcome run = printCube(base / "fault", c.marlinArgs, c.settings);
  ASSERT_FALSE(run.log.empty()) << "no log: the simulators or prismhost did not start";
  if (c.mustLog[0]) EXPECT_NE(run.log.find(c.mustLog), std::string::npos) << run.log;
  if (!c.wholePrint) {
    // Lines were lost on the machine's side: the run must not claim success.
    EXPECT_EQ(run.status, 1) << run.log;
    EXPECT_EQ(run.log.find("fin (cube"), std::string::npos) << run.log;
  } else {
    ASSERT_EQ(run.status, 0) << run.log;
    EXPECT_NE(run.log.find("fin (cube in "), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("paused"), std::string::npos) << run.log;
  }
  // Every numbered line executed once, in order, without a gap.
  for (std::size_t i = 0; i < run.execs.size(); ++i)
    ASSERT_EQ(run.execs[i].rfind("exec N" + std::to_string(i + 1) + " ", 0), 0u) << joined(run.execs);
  if (!c.compareWithClean) return;
  const Outcome clean = printCube(base / "clean", {"--instant-dwell"}, c.settings);
  ASSERT_EQ(clean.status, 0) << clean.log;
  if (c.wholePrint) {
    EXPECT_EQ(codes(run.execs), codes(clean.execs));
  } else {
    // What ran before the machine restarted is what the job holds up to there.
    std::vector<std::string> before;
    for (const std::string& l : run.marlin) {
      if (l == "restart") break;
      if (l.rfind("exec N", 0) == 0) before.push_back(l);
    }
    ASSERT_LE(before.size(), clean.execs.size());
    const std::string ran = codes(before), job = codes(clean.execs);
    EXPECT_EQ(job.substr(0, ran.size()), ran);
  }
}

const FaultCase kCases[] = {
    // The plate stays down for 30 s on each layer; the machine is silent.
    {"PlateDwell", {}, "plateTime = 30000\n", true, false, ""},
    // One line of the print keeps the machine busy for 25 s, with keep-alives.
    {"BusyKeepAlives", {"--instant-dwell", "--busy-line", "14:25000"}, "", true, false, ""},
    // Input thrown away after every damaged line.
    {"FlushCorruptEvery2", {"--instant-dwell", "--flush-on-error", "--corrupt-every", "2"}, "", true, true, ""},
    {"FlushCorruptEvery5", {"--instant-dwell", "--flush-on-error", "--corrupt-every", "5"}, "", true, true, ""},
    {"FlushCorruptEvery17Drops",
     {"--instant-dwell", "--flush-on-error", "--corrupt-every", "17", "--drop", "30", "--drop-ok", "25"},
     "",
     true,
     true,
     ""},
    // A restart in the middle of the print: position and line number gone.
    {"RestartMidPrint", {"--instant-dwell", "--restart-after", "20"}, "", false, true, "the machine restarted"},
};

INSTANTIATE_TEST_SUITE_P(Marlin, PrintFaults, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<FaultCase>& i) { return std::string(i.param.name); });

}  // namespace
