// Whole prints in the host's own process, over TCP against both simulated
// machines, in one table of runs: clean, the unit's link down for a while,
// late replies, a damaged record, pause and continue, abort and start, and
// a second print after an abort. After every run the jetting unit's log is
// compared with the job: every record of the print arrived whole, column
// for column, exactly when the print says it finished.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <ostream>
#include <random>

#include "host/machine/machine_links.h"
#include "host/machine/tests/sequencer_fixture.h"
#include "host/machine/tests/simulator.h"
#include "host/machine/tests/transport_fixture.h"

using namespace ph;
namespace fs = std::filesystem;

namespace {

constexpr int kColumn = 54;

// FNV-1a 64, as the unit's log writes its digests.
std::string fnv(const std::string& bytes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 0x100000001b3ULL;
  }
  char t[17];
  std::snprintf(t, sizeof t, "%016llx", static_cast<unsigned long long>(h));
  return t;
}

// The value of "name=" in a line of words.
std::string field(const std::string& line, const std::string& name) {
  const auto p = line.find(" " + name + "=");
  if (p == std::string::npos) return "";
  const auto from = p + name.size() + 2;
  return line.substr(from, line.find(' ', from) - from);
}

// A record of `columns` literal columns of pseudo-random bytes: its data
// decodes to exactly those bytes.
struct JobRecord {
  char type;
  std::string columns;  // the decoded bytes
};

Record encode(const JobRecord& r) {
  std::string data;
  for (std::size_t c = 0; c < r.columns.size(); c += kColumn)
    data += char(0x80 + kColumn) + r.columns.substr(c, kColumn);
  return {r.type, "05", data};
}

struct Action {
  int atStretch;  // when the host has announced this many passes
  enum { Pause, Abort } what;
};

struct Case {
  const char* name;
  std::vector<std::string> unitArgs;
  std::vector<Action> actions;
  // A record whose type byte is damaged (-1: none).
  int damagedRecord = -1;
  // The print may stop aborted because data was lost, and must then say so.
  bool mayLoseData = false;
};

// A run shows as its name.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

struct PrintTable : TransportFixture {
  bool made = (addSequencerControls(core.controls), true);
  JobState job{core};
  JobLayout layout{core, job};
  MotionControls motion{core, links.marlin, links.ink};
  FakeStayAwake awake;
  bool temprTestActive = false;
  int savedStartingLayer = -11;
  RecordingSequencerSteps printSteps;
  PrintSequencer seq{
      core, job, layout, links.ink, links.marlin, motion, awake, {temprTestActive, savedStartingLayer}, printSteps};
  fs::path dir;

  PrintTable() {
    dir = fs::temp_directory_path() /
          ("phtable-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    core.workDir = dir.string() + "/";
    Settings& s = core.s;
    s.prepstretches = 0;
    s.bridgelayers = false;
    s.nopowderstretches = 0;
    s.powderPercentage = -1;
    s.layerMorePowder = 0;
    s.jumpmicrons = 0;
    s.XonXoffMode = false;
    s.openMarlinAtStart = false;
    core.controls.at("connectcheck1").checked = false;
    core.controls.at("temprcontrol1").checked = false;
    job.jobReady = true;
    job.dmcCurrent = true;
    job.jobFileName = "model.stl";
    ui.display = false;
    machineEvents.askGcodeOnly = [this] { return seq.events.gcodeOnlyRun(); };
    machineEvents.askTicking = [this] { return seq.ticking(); };
    machineEvents.askStreaming = [this] { return seq.streaming(); };
    marlinEvents.lost = [this](const std::string& why) { seq.linesLost(why); };
    marlinEvents.opened = [this] { seq.restartBusyWatchdog(); };
    marlinEvents.hold = [this] { return seq.holdTicking(); };
    marlinEvents.release = [this](bool wasTicking) { seq.releaseTicking(wasTicking); };
  }
  ~PrintTable() override {
    std::error_code ec;
    fs::remove_all(dir, ec);
  }

  // Runs the manual clock along with real time (the simulators answer in
  // real time) until cond holds or limitMs of the clock passed.
  bool runUntil(const std::function<bool()>& cond, int limitMs, const std::function<void()>& each = {}) {
    for (int t = 0; t < limitMs; t += 10) {
      if (cond()) return true;
      QElapsedTimer real;
      real.start();
      do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (real.elapsed() < 10) ::usleep(500);
      } while (real.elapsed() < 10);
      clock.advance(10);
      if (each) each();
    }
    return cond();
  }
  bool printing() const { return seq.isBusy() || core.timers.at("inktransfer").enabled(); }
};

// The job: two layers of three stretches, the last of each layer empty.
std::vector<JobRecord> makeJob() {
  std::mt19937 random(7);
  auto columns = [&](int n) {
    std::string s;
    for (int i = 0; i < n * kColumn; ++i) s += char(random() & 0xFF);
    return s;
  };
  return {{'{', columns(3)}, {'{', columns(5)}, {'}', ""}, {'{', columns(2)}, {'{', columns(4)}, {'}', ""}};
}

// The unit log's data stretches: those announced with the powder timing
// ("...p" right before "973j"), in order.
std::vector<std::string> dataStretches(const Simulator& unit) {
  std::vector<std::string> out;
  std::string lastCommand, beforeData;
  for (const std::string& l : unit.lines()) {
    if (l.rfind("cmd ", 0) == 0) {
      if (l == "cmd 973j") beforeData = lastCommand;
      lastCommand = l;
    }
    if (l.rfind("stretch ", 0) == 0 && !beforeData.empty() && beforeData.back() == 'p') out.push_back(l);
  }
  return out;
}

struct PrintRun : PrintTable, ::testing::WithParamInterface<Case> {};

TEST_P(PrintRun, EveryRecordArrivesExactlyWhenThePrintFinishes) {
  const Case& c = GetParam();
  const std::vector<JobRecord> job = makeJob();
  {
    Simulator marlinSim, unit;
    ASSERT_TRUE(marlinSim.start(MARLIN_SIM, {"--port", "0"}, (dir / "marlin.log").string()));
    std::vector<std::string> unitArgs = {"--port", "0"};
    unitArgs.insert(unitArgs.end(), c.unitArgs.begin(), c.unitArgs.end());
    ASSERT_TRUE(unit.start(INKJET_SIM, unitArgs, (dir / "unit.log").string()));

    // The job's file, with a damaged record when the case asks for one.
    std::vector<Record> records;
    for (const JobRecord& r : job) records.push_back(encode(r));
    std::string file = dmcBytes(records, 2);
    long damagedAt = -1;
    if (c.damagedRecord >= 0) {
      damagedAt = kDmcDataOffset;
      for (int i = 0; i < c.damagedRecord; ++i) damagedAt += long(recordBytes(records[std::size_t(i)]).size());
      file[std::size_t(damagedAt) + 9] = 'x';
    }
    std::FILE* f = std::fopen((dir / "temp.dmc").c_str(), "wb");
    ASSERT_TRUE(f);
    std::fwrite(file.data(), 1, file.size(), f);
    std::fclose(f);
    layout.stretchesPerLayer = 3;
    layout.printpages = 2;

    // The links to the two machines.
    core.s.CommInkDevice = "127.0.0.1:" + std::to_string(unit.port());
    links.chooseMarlinTransport("127.0.0.1", marlinSim.port());
    core.controls.at("cb_comm").checked = true;
    links.ink.applyLinkSwitch();
    ASSERT_TRUE(runUntil([&] { return links.ink.connected(); }, 5000));
    runUntil([] { return false; }, 300);

    // The print, with the case's actions as their moments come; a stopped
    // print that was aborted by an action starts again.
    std::size_t next = 0;
    bool startAgain = false;
    std::int64_t abortAt = -1, stoppedAt = -1;
    int most = 0, overcounted = 0;
    seq.start();
    ASSERT_TRUE(seq.isBusy());
    const bool ended = runUntil(
        [&] { return !printing() && !startAgain; }, 240000, [&] {
          most = std::max(most, seq.run.inkStretchesSent - links.ink.inkStretchesDone);
          overcounted = std::max(overcounted, links.ink.inkStretchesDone - seq.run.inkStretchesSent);
          if (next < c.actions.size() && seq.run.inkStretchesSent >= c.actions[next].atStretch && !seq.paused() &&
              core.timers.at("MarlinTimer").enabled()) {
            if (c.actions[next].what == Action::Pause) {
              core.controls.at("pause").checked = true;
              seq.resume();
            } else {
              seq.abortPrint("operator");
              abortAt = clock.tickMs();
              startAgain = true;
            }
            ++next;
          }
          if (seq.paused() && !core.abortRequested()) {
            core.controls.at("pause").checked = false;
            seq.resume();
          }
          if (startAgain && !printing()) {
            stoppedAt = clock.tickMs();
            startAgain = false;
            seq.start();
          }
        });
    ASSERT_TRUE(ended) << links.ink.inkStretchesDone << " of " << seq.run.inkStretchesSent;
    // Let the last replies and log lines arrive.
    runUntil([] { return false; }, 500);
    const std::string hostLog = core.Memo1.text();
    if (abortAt >= 0) {
      EXPECT_GE(stoppedAt, abortAt);
      EXPECT_LE(stoppedAt - abortAt, PrintSequencer::kAbortBoundMs + 200);
    }
    // At most two passes ahead of the unit, and never more passes done
    // than were sent.
    EXPECT_LE(most, 3);
    EXPECT_EQ(overcounted, 0);

    core.controls.at("cb_comm").checked = false;
    links.ink.applyLinkSwitch();
    links.InkSocket.setActive(false);
    links.MarlSocket.setActive(false);
    runUntil([] { return false; }, 200);
    unit.finish(3000);
    marlinSim.finish(3000);

    const bool finished = hostLog.find("fin (model") != std::string::npos;
    RecordProperty("outcome", finished ? "finished" : "stopped");
    // Every pause was taken and gone on from; every abort stopped a print.
    const auto count = [&](const std::string& what) {
      int n = 0;
      for (std::size_t p = 0; (p = hostLog.find(what, p)) != std::string::npos; p += what.size()) ++n;
      return n;
    };
    int pauses = 0, aborts = 0;
    for (const Action& a : c.actions) (a.what == Action::Pause ? pauses : aborts)++;
    EXPECT_EQ(count(" paused "), pauses) << hostLog;
    EXPECT_EQ(count(" continue "), pauses) << hostLog;
    if (c.damagedRecord < 0 && !c.mayLoseData) {
      EXPECT_EQ(count(" aborted "), aborts) << hostLog;
    }
    const auto stretches = dataStretches(unit);
    if (c.damagedRecord >= 0) {
      // Stopped, never finished; the records before the damaged one arrived.
      EXPECT_FALSE(finished) << hostLog;
      EXPECT_TRUE(core.abortRequested());
      EXPECT_NE(hostLog.find(plat::format("temp.dmc: the stretch header at offset %d cannot be read", int(damagedAt))),
                std::string::npos)
          << hostLog;
      ASSERT_GE(stretches.size(), std::size_t(c.damagedRecord));
    } else if (!finished) {
      // Only a lost link may stop the print, and the log says so.
      EXPECT_TRUE(c.mayLoseData) << hostLog;
      EXPECT_NE(hostLog.find("jetting data was lost, the print stops"), std::string::npos) << hostLog;
      return;
    }
    // Every record of the (last) print, column for column, in order.
    const std::size_t expected = c.damagedRecord >= 0 ? std::size_t(c.damagedRecord) : job.size();
    ASSERT_GE(stretches.size(), expected);
    const std::size_t from = c.damagedRecord >= 0 ? 0 : stretches.size() - expected;
    for (std::size_t i = 0; i < expected; ++i) {
      const std::string& l = stretches[from + i];
      SCOPED_TRACE(l);
      EXPECT_EQ(l.find(" incomplete"), std::string::npos);
      EXPECT_EQ(field(l, "partial"), "0");
      EXPECT_EQ(field(l, "data-cols"), std::to_string(job[i].columns.size() / kColumn));
      EXPECT_EQ(field(l, "data-digest"), fnv(job[i].columns));
    }
    // Nothing the unit read was out of place.
    for (const std::string& l : unit.lines()) {
      EXPECT_NE(l.rfind("error ", 0), 0u) << l;
      EXPECT_NE(l.rfind("garbage ", 0), 0u) << l;
    }
  }
}


const Case kRuns[] = {
    {"Clean", {}, {}},
    {"UnitLinkDownFor3s", {"--link-down", "3000@stretch:3"}, {}, -1, true},
    {"DamagedRecordType", {}, {}, 4},
    {"PauseAndContinue", {}, {{3, Action::Pause}, {7, Action::Pause}}},
    {"AbortAndStart", {}, {{4, Action::Abort}}},
    // Replies 5 s late: the host stays at most two passes ahead, and a
    // print after an aborted one runs whole.
    {"LateRepliesAbortAndStart", {"--delay", "5000"}, {{4, Action::Abort}}},
};

INSTANTIATE_TEST_SUITE_P(Runs, PrintRun, ::testing::ValuesIn(kRuns),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
