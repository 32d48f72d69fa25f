// The simulated Marlin machine, started as a program and spoken to over TCP
// and over its pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sim_peer.h"

namespace {

using simtest::Peer;
using simtest::SimProcess;

// A numbered line as a host writes it: "N<n> <code> *<XOR of the bytes
// before '*', unsigned>" and CR.
std::string numbered(int n, const std::string& code) {
  std::string line = "N" + std::to_string(n) + " " + code + " ";
  unsigned sum = 0;
  for (unsigned char c : line) sum ^= c;
  return line + "*" + std::to_string(sum) + "\r";
}

struct Marlin {
  SimProcess proc;
  Peer peer;
  std::string banner;
  // Starts the simulator and connects (TCP) or opens its slave (--pty).
  ::testing::AssertionResult start(std::vector<std::string> args, const std::string& logSuffix = "") {
    if (std::find(args.begin(), args.end(), "--pty") == args.end()) {
      args.insert(args.begin(), {"--port", "0"});
    }
    if (!proc.start(MARLIN_SIM, args, simtest::testLogName(logSuffix)))
      return ::testing::AssertionFailure() << "marlin_sim did not start";
    bool tcp = proc.port() >= 0;
    bool ok = tcp ? peer.connectTcp(proc.port()) : peer.openPty(proc.ptyPath());
    if (!ok) return ::testing::AssertionFailure() << "cannot reach " << proc.announce();
    // Over TCP the machine greets at once; over the pty with the first byte.
    if (tcp) {
      banner = peer.until("echo:SD card ok\n");
      if (banner.empty()) return ::testing::AssertionFailure() << "no greeting";
    }
    return ::testing::AssertionSuccess();
  }
  // Sends a line and returns the replies up to and including its "ok".
  std::string line(const std::string& text) {
    peer.send(text);
    return peer.until("ok\n");
  }
  // Closes the link; the simulator ends by itself, with status 0.
  std::vector<std::string> closeAndLog() {
    peer.close();
    EXPECT_EQ(proc.wait(), 0) << "ends cleanly when its peer goes";
    return proc.log();
  }
};

std::string withoutCr(std::string line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::vector<std::string> only(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (auto& l : log)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

TEST(MarlinSim, ExecutesNumberedAndPlainLinesInOrderAndKeepsThePosition) {
  Marlin m;
  ASSERT_TRUE(m.start({}));
  EXPECT_EQ(m.banner.rfind("start\n", 0), 0u) << m.banner;
  EXPECT_NE(m.banner.find("\necho:"), std::string::npos);

  EXPECT_EQ(m.line(numbered(1, "M110")), "ok\n");
  EXPECT_EQ(m.line(numbered(2, "G28")), "ok\n");
  EXPECT_EQ(m.line(numbered(3, "G1 X10 Y20 Z0.3 F3000")), "ok\n");
  EXPECT_EQ(m.line(numbered(4, "G92 E5")), "ok\n");
  EXPECT_EQ(m.line("M18\r"), "ok\n");  // un-numbered: no checksum, no line number
  EXPECT_EQ(m.line(numbered(5, "G0 Z1.5 ; lift")), "ok\n");
  EXPECT_EQ(m.line(numbered(6, "G28 Z")), "ok\n");
  EXPECT_EQ(m.line("M106 S255\r"), "ok\n");

  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{
                                    "exec N1 M110", "exec N2 G28", "exec N3 G1 X10 Y20 Z0.3 F3000", "exec N4 G92 E5",
                                    "exec M18", "exec N5 G0 Z1.5 ; lift", "exec N6 G28 Z", "exec M106 S255"}));
  EXPECT_EQ(only(log, "pos "), (std::vector<std::string>{
                                   "pos X0.000 Y0.000 Z0.000 E0.000", "pos X10.000 Y20.000 Z0.300 E0.000",
                                   "pos X10.000 Y20.000 Z0.300 E5.000", "pos X10.000 Y20.000 Z1.500 E5.000",
                                   "pos X10.000 Y20.000 Z0.000 E5.000"}));
  EXPECT_EQ(log.back(), "end peer-closed");
}

TEST(MarlinSim, RejectsABadLineWithErrorResendAndOkAndTakesItsRepetition) {
  struct Case {
    const char* what;
    std::string bad;
    const char* error;
  };
  std::string good = numbered(2, "G1 X1");
  std::string wrongSum = good;
  wrongSum[wrongSum.size() - 2] = wrongSum[wrongSum.size() - 2] == '9' ? '8' : '9';
  const Case cases[] = {
      {"checksum", wrongSum, "Error:checksum mismatch, Last Line: 1\n"},
      {"line number", numbered(3, "G1 X1"), "Error:Line Number is not Last Line Number+1, Last Line: 1\n"},
      {"repeated line", numbered(1, "G1 X1"), "Error:Line Number is not Last Line Number+1, Last Line: 1\n"},
      {"no checksum", "N2 G1 X1\r", "Error:No Checksum with line number, Last Line: 1\n"},
      {"checksum without number", "G1 X1 *12\r", "Error:No Line Number with checksum, Last Line: 1\n"},
  };
  int k = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Marlin m;
    ASSERT_TRUE(m.start({}, "_" + std::to_string(k++)));
    ASSERT_EQ(m.line(numbered(1, "G28")), "ok\n");
    EXPECT_EQ(m.line(c.bad), std::string(c.error) + "Resend: 2\nok\n");
    EXPECT_EQ(m.line(good), "ok\n");
    auto log = m.closeAndLog();
    EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N1 G28", "exec N2 G1 X1"}));
    EXPECT_EQ(only(log, "resend "), (std::vector<std::string>{"resend 2"}));
  }
}

TEST(MarlinSim, ChecksumIsTheXorOfUnsignedBytes) {
  Marlin m;
  ASSERT_TRUE(m.start({}));
  // One byte above 127: as signed bytes the XOR would come out negative.
  std::string text = "N1 M117 caf\xe9 ";
  int asUnsigned = 0, asSigned = 0;
  for (char c : text) {
    asUnsigned ^= static_cast<unsigned char>(c);
    asSigned ^= static_cast<signed char>(c);
  }
  ASSERT_LT(asSigned, 0);
  EXPECT_EQ(m.line(text + "*" + std::to_string(asSigned) + "\r"),
            "Error:checksum mismatch, Last Line: 0\nResend: 1\nok\n");
  EXPECT_EQ(m.line(text + "*" + std::to_string(asUnsigned) + "\r"), "ok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N1 M117 caf\\xe9"}));
}

TEST(MarlinSim, M110SetsTheLineNumber) {
  Marlin m;
  ASSERT_TRUE(m.start({}));
  EXPECT_EQ(m.line(numbered(1, "G28")), "ok\n");
  EXPECT_EQ(m.line(numbered(40, "M110")), "ok\n");  // a numbered M110 is taken whatever its number
  EXPECT_EQ(m.line(numbered(41, "G1 X2")), "ok\n");
  EXPECT_EQ(m.line("M110 N100\r"), "ok\n");
  EXPECT_EQ(m.line(numbered(101, "G1 X3")), "ok\n");
  EXPECT_EQ(m.line(numbered(102, "M110 N7")), "ok\n");
  EXPECT_EQ(m.line(numbered(8, "G1 X4")), "ok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "lineno "), (std::vector<std::string>{"lineno 40", "lineno 100", "lineno 7"}));
  EXPECT_EQ(only(log, "error "), std::vector<std::string>{});
}

// A lost line and a damaged line: the machine asks for the missing line, and
// the host's answer (that line and every later one again) is executed once
// and in order.
TEST(MarlinSim, DroppedAndCorruptedLinesAreAskedForAgain) {
  Marlin m;
  ASSERT_TRUE(m.start({"--drop", "2", "--corrupt", "4"}));
  EXPECT_EQ(m.line(numbered(1, "G28")), "ok\n");
  m.peer.send(numbered(2, "G1 X1"));  // lost on the way
  EXPECT_TRUE(m.peer.quietFor(100));
  EXPECT_EQ(m.line(numbered(3, "G1 X2")), "Error:Line Number is not Last Line Number+1, Last Line: 1\nResend: 2\nok\n");
  // The resend: line 2 arrives damaged (the fourth line in), then again whole.
  EXPECT_EQ(m.line(numbered(2, "G1 X1")), "Error:checksum mismatch, Last Line: 1\nResend: 2\nok\n");
  EXPECT_EQ(m.line(numbered(2, "G1 X1")), "ok\n");
  EXPECT_EQ(m.line(numbered(3, "G1 X2")), "ok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "drop "), (std::vector<std::string>{"drop 2 " + withoutCr(numbered(2, "G1 X1"))}));
  EXPECT_EQ(only(log, "corrupt ").size(), 1u);
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N1 G28", "exec N2 G1 X1", "exec N3 G1 X2"}));
}

TEST(MarlinSim, PtyTakesALineSplitAcrossWritesAndSplitsItsReplies) {
  Marlin m;
  ASSERT_TRUE(m.start({"--pty", "--split", "20", "--split-gap", "150"}));
  std::string line = numbered(1, "G1 X5");
  m.peer.send(line.substr(0, 5));
  EXPECT_NE(m.peer.until("echo:SD card ok\n"), "") << "the banner comes with the first byte";
  EXPECT_TRUE(m.peer.quietFor(60)) << "no answer to half a line";
  m.peer.send(line.substr(5));
  EXPECT_EQ(m.peer.until("ok\n"), "ok\n");
  // A reply of 28 bytes goes out as 20 + 8, 150 ms apart.
  int readsBefore = m.peer.reads();
  m.peer.send("X1\r");
  EXPECT_EQ(m.peer.until("ok\n"), "echo:Unknown command: \"X1\"\nok\n");
  EXPECT_GE(m.peer.reads() - readsBefore, 2) << "one reply in two pieces";
  auto log = m.closeAndLog();  // the slave's close ends it
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N1 G1 X5", "exec X1"}));
  EXPECT_EQ(log.back(), "end peer-closed");
}

TEST(MarlinSim, DwellsAndDelayedAnswers) {
  using namespace std::chrono;
  {
    Marlin m;
    ASSERT_TRUE(m.start({}, "_dwell"));
    m.line(numbered(1, "G28"));
    for (auto [code, ms] : {std::pair{"G4 P250", 250}, std::pair{"G4 S0.2", 200}}) {
      auto t0 = steady_clock::now();
      EXPECT_EQ(m.line(numbered(code[3] == 'P' ? 2 : 3, code)), "ok\n");
      EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - t0).count(), ms) << code;
    }
    auto log = m.closeAndLog();
    EXPECT_EQ(only(log, "dwell "), (std::vector<std::string>{"dwell 250", "dwell 200"}));
  }
  {
    Marlin m;
    ASSERT_TRUE(m.start({"--instant-dwell"}, "_instant"));
    EXPECT_EQ(m.line(numbered(1, "G4 S600")), "ok\n");  // ten minutes, at once
    auto log = m.closeAndLog();
    EXPECT_EQ(only(log, "dwell "), (std::vector<std::string>{"dwell 600000"}));
  }
  {
    Marlin m;
    ASSERT_TRUE(m.start({"--delay", "200"}, "_delay"));
    auto t0 = steady_clock::now();
    EXPECT_EQ(m.line(numbered(1, "M105")), "ok\n");
    EXPECT_GE(duration_cast<milliseconds>(steady_clock::now() - t0).count(), 200);
  }
}

TEST(MarlinSim, EndsOnSignalAndAfterTheIdleTime) {
  {
    Marlin m;
    ASSERT_TRUE(m.start({}, "_signal"));
    m.line(numbered(1, "G28"));
    m.proc.signal(SIGTERM);
    EXPECT_EQ(m.proc.wait(), 0);
    EXPECT_EQ(m.proc.log().back(), "end signal");
  }
  {
    SimProcess p;
    ASSERT_TRUE(p.start(MARLIN_SIM, {"--pty", "--idle-timeout", "0.2"}, simtest::testLogName("_idle")));
    EXPECT_EQ(p.wait(), 3);
    EXPECT_EQ(p.log().back(), "end idle-timeout");
  }
}

TEST(MarlinSim, GarbageIsLoggedNotFatal) {
  Marlin m;
  ASSERT_TRUE(m.start({"--instant-dwell"}));
  std::string junk;
  for (int i = 0; i < 6000; ++i) junk += static_cast<char>((i * 7919) & 0xff);
  m.peer.send(junk + "\r");
  m.peer.send(std::string(5000, 'G') + "\r");  // longer than any line
  m.peer.send("X_done\r");
  EXPECT_NE(m.peer.until("echo:Unknown command: \"X_done\"\nok\n"), "");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "exec X_done").size(), 1u);
  EXPECT_EQ(only(log, "error line-too-long").size(), 1u);
}

}  // namespace

namespace {

// The switches that play a real machine's faults: input thrown away on a
// line error, damaged lines at a pace, lost "ok"s, a restart, keep-alives.
TEST(MarlinSimFaults, AFlushingMachineThrowsAwayWhatFollowsABadLine) {
  Marlin m;
  ASSERT_TRUE(m.start({"--flush-on-error", "--corrupt-every", "2"}));
  // Lines 1 to 3 in one write: 2 is damaged, 3 arrived with it and is gone.
  m.peer.send(numbered(1, "G1 X1") + numbered(2, "G1 X2") + numbered(3, "G1 X3"));
  EXPECT_EQ(m.peer.until("Resend: 2\nok\n"), "ok\nError:checksum mismatch, Last Line: 1\nResend: 2\nok\n");
  EXPECT_TRUE(m.peer.quietFor(150)) << "no answer for the line thrown away";
  EXPECT_EQ(m.line(numbered(2, "G1 X2")), "ok\n");  // the third line in
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "flush ").size(), 1u);
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N1 G1 X1", "exec N2 G1 X2"}));
}

TEST(MarlinSimFaults, TheCommonLineResetIsTaken) {
  Marlin m;
  ASSERT_TRUE(m.start({}));
  EXPECT_EQ(m.line("N-1 M110*15\r"), "ok\n");
  EXPECT_EQ(m.line(numbered(0, "G28")), "ok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "error "), std::vector<std::string>{});
  EXPECT_EQ(only(log, "exec "), (std::vector<std::string>{"exec N-1 M110", "exec N0 G28"}));
}

TEST(MarlinSimFaults, AMachineThatRestartsForgetsItsLineNumber) {
  Marlin m;
  ASSERT_TRUE(m.start({"--restart-after", "2", "--drop-ok", "1"}));
  m.peer.send(numbered(1, "G28"));
  EXPECT_TRUE(m.peer.quietFor(150)) << "the first ok is lost";
  m.peer.send(numbered(2, "G1 X1"));
  EXPECT_EQ(m.peer.until("echo:SD card ok\n").rfind("ok\nstart\n", 0), 0u) << "line 2's ok, then the greeting";
  EXPECT_EQ(m.line(numbered(3, "G1 X2")), "Error:Line Number is not Last Line Number+1, Last Line: 0\nResend: 1\nok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "restart"), std::vector<std::string>{"restart"});
  EXPECT_EQ(only(log, "drop-ok "), std::vector<std::string>{"drop-ok 1"});
}

TEST(MarlinSimFaults, ABusyLineSendsKeepAlivesUntilItsOk) {
  Marlin m;
  ASSERT_TRUE(m.start({"--busy-line", "1:4500"}));
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(m.line(numbered(1, "G0 X100")), "echo:busy: processing\necho:busy: processing\nok\n");
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4400));
  m.closeAndLog();
}

// A host that opens the port, closes it and opens it for good (a probe)
// finds the machine still there.
TEST(MarlinSimFaults, APtyProbeBeforeTheRealOpenIsNoDeparture) {
  Marlin m;
  ASSERT_TRUE(m.start({"--pty"}));
  m.peer.close();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(m.peer.openPty(m.proc.ptyPath()));
  m.peer.send(numbered(1, "G28"));
  EXPECT_NE(m.peer.until("echo:SD card ok\n"), "");
  EXPECT_EQ(m.peer.until("ok\n"), "ok\n");
  auto log = m.closeAndLog();
  EXPECT_EQ(only(log, "exec "), std::vector<std::string>{"exec N1 G28"});
}

}  // namespace
