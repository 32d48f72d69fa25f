// The simulated jetting unit, started as a program and spoken to over TCP and
// over its pseudo-terminal.
#include <gtest/gtest.h>

#include <random>

#include "sim_peer.h"

namespace {

using simtest::Peer;
using simtest::SimProcess;

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

std::string hexOf(const std::string& s) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

uint64_t fnv(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : s) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

std::string fnvText(const std::string& s) {
  char buf[17];
  snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(fnv(s)));
  return buf;
}

// A 54-byte nozzle column: zeros with the given bytes from the start.
std::string column(const std::string& head = "") {
  std::string c = head;
  c.resize(54, '\0');
  return c;
}

// The value of key=value in a log line ("" when absent).
std::string field(const std::string& line, const std::string& key) {
  size_t at = line.find(" " + key + "=");
  if (at == std::string::npos) return "";
  at += key.size() + 2;
  return line.substr(at, line.find(' ', at) - at);
}

struct Inkjet {
  SimProcess proc;
  Peer peer;
  ::testing::AssertionResult start(std::vector<std::string> args, const std::string& logSuffix = "") {
    if (std::find(args.begin(), args.end(), "--pty") == args.end()) args.insert(args.begin(), {"--port", "0"});
    if (!proc.start(INKJET_SIM, args, simtest::testLogName(logSuffix)))
      return ::testing::AssertionFailure() << "inkjet_sim did not start";
    bool ok = proc.port() >= 0 ? peer.connectTcp(proc.port()) : peer.openPty(proc.ptyPath());
    if (!ok) return ::testing::AssertionFailure() << "cannot reach " << proc.announce();
    return ::testing::AssertionSuccess();
  }
  // Closes the link; the simulator ends by itself, with status 0.
  std::vector<std::string> closeAndLog() {
    peer.close();
    EXPECT_EQ(proc.wait(), 0) << "ends cleanly when its peer goes";
    return proc.log();
  }
};

std::vector<std::string> only(const std::vector<std::string>& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (auto& l : log)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

TEST(InkjetSim, AnswersCommandsAlsoWhenTheyArriveInPieces) {
  Inkjet u;
  ASSERT_TRUE(u.start({"--temps", "31,41", "--temps", "35,47", "--iopin", "2000001", "--pulses", "6789"}));
  u.peer.send(" 1");
  EXPECT_TRUE(u.peer.quietFor(50));
  u.peer.send("9o ");
  EXPECT_NE(u.peer.until("version").find("version"), std::string::npos);
  u.peer.send("12t");
  EXPECT_NE(u.peer.until("W:31 C:41\r\n"), "");
  u.peer.send(" 21o1r21r12t33t1o");
  EXPECT_NE(u.peer.until("W:35 C:47\r\n"), "");
  u.peer.send("12t");
  EXPECT_NE(u.peer.until("W:35 C:47\r\n"), "") << "the last pair stays";
  u.peer.send("26o6n");
  EXPECT_NE(u.peer.until("IOPIN = 02000001\r\npulses=6789 \r\n"), "");
  u.peer.send("A#1 2t\x01");
  u.peer.send(" 19o");
  EXPECT_NE(u.peer.until("version"), "");
  auto log = u.closeAndLog();
  EXPECT_EQ(only(log, "cmd "),
            (std::vector<std::string>{"cmd 19o", "cmd 12t", "cmd 21o", "cmd 1r", "cmd 21r", "cmd 12t", "cmd 33t",
                                      "cmd 1o", "cmd 12t", "cmd 26o", "cmd 6n", "cmd 2t", "cmd 19o"}));
  // Upper case, "#", a number cut by a blank and a control byte are no commands.
  EXPECT_EQ(only(log, "garbage "), (std::vector<std::string>{"garbage 4123", "garbage 31", "garbage 01"}));
}

// Each case is one stretch: "973j", the data, the stretch end. The unit
// turns the data back into columns, with a fresh window for every stretch.
TEST(InkjetSim, DecodesStretchDataIntoColumns) {
  std::string a, b;
  for (int i = 0; i < 54; ++i) {
    a += static_cast<char>(i + 1);
    b += static_cast<char>(200 - i);
  }
  std::string sixty;
  for (int i = 0; i < 60; ++i) sixty += static_cast<char>(0xA0 + i % 30);
  struct Case {
    const char* what;
    std::string data;
    std::vector<std::string> cols;
    int partial = 0;
  };
  const std::vector<Case> cases = {
      {"a literal 0xBF is payload, not the end", bytes({0x81, 0xBF, 0x35}), {column("\xBF")}},
      {"a literal block of 54", bytes({0xB6}) + a, {a}},
      {"a literal block code 0xBC reads 60 bytes", bytes({0xBC}) + sixty + bytes({0x30}),
       {sixty.substr(0, 54), column(sixty.substr(54))}},
      {"unchanged bytes copy the column two back", bytes({0xB6}) + a + bytes({0xB6}) + b + bytes({0x6C, 0x41}),
       {a, b, a, b}},
      {"zero digits of one count, a 0x00 digit among them", bytes({0x81, 0x07, 0x00, 0x01, 0x80, 0x2B}),
       {column("\x07"), column()}},
      {"combined literal and zeros", bytes({0xE2, 0x09, 0xE0, 0x0A, 0x32}), {column(bytes({9, 0, 0, 10}))}},
      {"combined literal and unchanged", bytes({0xB6}) + a + bytes({0x36, 0xC3, 0x0A, 0x32}),
       {a, column(), column(bytes({10, 2, 3, 4}))}},
      {"unchanged at the start of a stretch are zeros", bytes({0x76}), {column()}},
      {"0xBD clears the window and drops the part column", bytes({0xB6}) + a + bytes({0xB6}) + b +
                                                               bytes({0x81, 0x05, 0xBD, 0x76, 0x80, 0x76}),
       {a, b, column(), column()}},
      {"0xBE: the next unchanged step copies the byte before", bytes({0x81, 0x07, 0xBE, 0x45, 0x30}),
       {column(std::string(6, '\x07'))}},
      {"a literal code ends the repeat flag", bytes({0xBE, 0x81, 0x07, 0x45, 0x30}), {column("\x07")}},
      {"a column cut short", bytes({0x36, 0x81, 0x01}), {column()}, 1},
  };
  Inkjet u;
  ASSERT_TRUE(u.start({"--log-columns"}));
  for (const Case& c : cases) {
    u.peer.send("973j" + c.data + "\xBF");
    ASSERT_EQ(u.peer.until("~in_monitor "), "~in_monitor ") << c.what;
  }
  auto log = u.closeAndLog();
  auto stretches = only(log, "stretch ");
  ASSERT_EQ(stretches.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.what);
    std::string n = std::to_string(i + 1);
    std::vector<std::string> want;
    std::string all;
    for (size_t k = 0; k < c.cols.size(); ++k) {
      ASSERT_EQ(c.cols[k].size(), 54u);
      want.push_back("col " + n + " " + std::to_string(k) + " " + hexOf(c.cols[k]));
      all += c.cols[k];
    }
    EXPECT_EQ(only(log, "col " + n + " "), want);
    EXPECT_EQ(field(stretches[i], "cols"), std::to_string(c.cols.size()));
    EXPECT_EQ(field(stretches[i], "partial"), std::to_string(c.partial));
    EXPECT_EQ(field(stretches[i], "digest"), fnvText(all));
    EXPECT_EQ(field(stretches[i], "bytes"), std::to_string(c.data.size() + 1));
  }
}

// The host counts the bytes after "973j" of an announcement, the streamed
// data and the stretch-end byte; the unit counts what it receives between
// "973j" and the end of the stretch.
TEST(InkjetSim, CountsTheDataBytesAndTheirSum) {
  Inkjet u;
  ASSERT_TRUE(u.start({}));
  std::string test16 = bytes({0x35, 0x81, 0x02, 0x35, 0x81, 0x02, 0x80, 0xBF});
  u.peer.send(" 128t999j972j973j" + test16 + bytes({0x20, 0x30, 0x6A, 0x23}));
  EXPECT_EQ(u.peer.until("~in_monitor "), "~in_monitor ");

  // A stretch announced the way a print announces it: the purge codes, a
  // zero run up to the data (its digits hold a 0x00), the separator 0x80,
  // then the record's data (one column) and the stretch end, sent apart.
  std::string inline_ = bytes({0x20, 0x96}) + std::string(22, '\xFF') + bytes({0xA0}) + std::string(32, '\xFF') +
                        bytes({0x76, 0x00, 0x0A, 0x03, 0x80});
  std::string record = bytes({0x81, 0xBF, 0x35});
  u.peer.send("8t2,2n0,1000p973j" + inline_);
  EXPECT_TRUE(u.peer.quietFor(30));
  u.peer.send(record);
  u.peer.send("\xBF");
  EXPECT_EQ(u.peer.until("~in_monitor "), "~in_monitor ");
  auto log = u.closeAndLog();

  auto sum = [](const std::string& s) {
    unsigned long long t = 0;
    for (unsigned char c : s) t += c;
    return t;
  };
  std::string second = inline_ + record + "\xBF";
  EXPECT_EQ(only(log, "bytes "),
            (std::vector<std::string>{
                "bytes count=8 sum=" + std::to_string(sum(test16)),
                "bytes count=" + std::to_string(8 + second.size()) + " sum=" + std::to_string(sum(test16) + sum(second))}));
  auto stretches = only(log, "stretch ");
  ASSERT_EQ(stretches.size(), 2u);
  EXPECT_EQ(field(stretches[0], "cols"), "2");
  EXPECT_EQ(field(stretches[0], "data-from"), "2");
  EXPECT_EQ(field(stretches[0], "data-cols"), "0");
  EXPECT_EQ(field(stretches[1], "cols"), "243");
  EXPECT_EQ(field(stretches[1], "data-from"), "242");
  EXPECT_EQ(field(stretches[1], "data-cols"), "1");
  EXPECT_EQ(field(stretches[1], "data-digest"), fnvText(column("\xBF")));
  EXPECT_EQ(only(log, "cmd "), (std::vector<std::string>{"cmd 128t", "cmd 999j", "cmd 972j", "cmd 973j", "cmd 0j",
                                                         "cmd 8t", "cmd 2,2n", "cmd 0,1000p", "cmd 973j"}));
  EXPECT_EQ(only(log, "garbage "), (std::vector<std::string>{"garbage 23"}));
}

TEST(InkjetSim, ALoneStretchEndIsAnsweredAndNotCounted) {
  Inkjet u;
  ASSERT_TRUE(u.start({}));
  u.peer.send(" 7t\xBF" "6000,16n");
  EXPECT_EQ(u.peer.until("~in_monitor "), "~in_monitor ");
  u.peer.send("\xBF");
  EXPECT_EQ(u.peer.until("~in_monitor "), "~in_monitor ");
  auto log = u.closeAndLog();
  EXPECT_EQ(only(log, "lone-end").size(), 2u);
  EXPECT_EQ(only(log, "cmd "), (std::vector<std::string>{"cmd 7t", "cmd 6000,16n"}));
  EXPECT_EQ(only(log, "stretch ").size(), 0u);
  EXPECT_EQ(only(log, "bytes ").size(), 0u);
}

TEST(InkjetSim, AZeroRunBeyond65536IsReportedAsNulsOverflow) {
  Inkjet u;
  ASSERT_TRUE(u.start({}));
  // 16 << 12 is 65536 and fits; 17 << 12 does not.
  u.peer.send("973j" + bytes({0x00, 0x00, 0x10, 0x80, 0x00, 0x00, 0x11, 0xBF}));
  EXPECT_EQ(u.peer.until("~in_monitor "), "nuls overflow\r\n~in_monitor ");
  auto log = u.closeAndLog();
  EXPECT_EQ(only(log, "error nuls-overflow").size(), 1u);
}

TEST(InkjetSim, SwitchesSendAlarmsPowderBytesAndRestart) {
  Inkjet u;
  ASSERT_TRUE(u.start({"--event", "cartrfail@connect", "--event", "powder-report@connect", "--event",
                       "hopper@stretch:2", "--event", "powder-up@stretch:2", "--event", "roller@cmd:17g", "--event",
                       "powder-down@cmd:17g", "--event", "nuls@cmd:8t", "--event", "restart@cmd:5o"}));
  EXPECT_EQ(u.peer.until("\x92"), "CartrFail\r\n\x92");
  u.peer.send("973j\xBF");
  EXPECT_EQ(u.peer.until("~in_monitor "), "~in_monitor ");
  EXPECT_TRUE(u.peer.quietFor(50)) << "nothing after the first stretch";
  u.peer.send("973j\xBF");
  EXPECT_EQ(u.peer.until("\x91"), "~in_monitor Hopper Fail\r\n\x91");
  u.peer.send("17g");
  EXPECT_EQ(u.peer.until("\x90"), "!roller stalled\r\n\x90");
  u.peer.send("8t");
  EXPECT_EQ(u.peer.until("\r\n"), "nuls overflow\r\n");
  u.peer.send("5o");
  EXPECT_EQ(u.peer.until("\r\n"), "start (inkjet_sim)\r\n");
  u.peer.send("17g8t");
  EXPECT_TRUE(u.peer.quietFor(50)) << "each switch fires once";
  auto log = u.closeAndLog();
  EXPECT_EQ(only(log, "event ").size(), 8u);
}

TEST(InkjetSim, SendsXoffAndXonFromTheMarksOfItsUnreadInputOverThePty) {
  Inkjet u;
  ASSERT_TRUE(u.start({"--pty", "--rate", "20000", "--xoff-high", "2000", "--xon-low", "200"}));
  std::string data;
  for (int i = 0; i < 2000; ++i) data += bytes({0x81, i & 0xff});
  u.peer.send("973j" + data + "\xBF");
  std::string got = u.peer.until("~in_monitor ");
  size_t xoff = got.find('\x13'), xon = got.find('\x11');
  ASSERT_NE(xoff, std::string::npos) << hexOf(got);
  ASSERT_NE(xon, std::string::npos) << hexOf(got);
  EXPECT_LT(xoff, xon);
  EXPECT_EQ(got.substr(xon + 1), "~in_monitor ");
  auto log = u.closeAndLog();  // the slave's close ends it
  auto offs = only(log, "xoff "), ons = only(log, "xon ");
  ASSERT_EQ(offs.size(), 1u);
  ASSERT_EQ(ons.size(), 1u);
  EXPECT_GE(std::stol(field(offs[0], "unread")), 2000);
  EXPECT_LE(std::stol(field(ons[0], "unread")), 200);
  EXPECT_EQ(field(only(log, "stretch ")[0], "cols"), std::to_string(2000 / 54));
}

TEST(InkjetSim, SurvivesGarbageAndEndsOnSignal) {
  Inkjet u;
  ASSERT_TRUE(u.start({}));
  std::mt19937 rng(1234);
  std::string junk;
  for (int i = 0; i < 30000; ++i) {
    if (i % 1000 == 0) junk += "973j";  // now and then into the stretch data
    junk += static_cast<char>(rng() & 0xff);
  }
  u.peer.send(junk);
  // More stretch ends than a literal block can swallow, then a question.
  u.peer.send(std::string(64, '\xBF') + " 19o");
  EXPECT_NE(u.peer.until("version"), "");
  u.proc.signal(SIGTERM);
  EXPECT_EQ(u.proc.wait(), 0);
  auto log = u.proc.log();
  EXPECT_EQ(log.back(), "end signal");
  EXPECT_FALSE(only(log, "garbage ").empty());
}

}  // namespace
