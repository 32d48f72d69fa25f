// The serial component on real pseudo-terminals: the test plays the
// machine on the master side.
#include <sys/ioctl.h>
#include <termios.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "host/components/comm_cust.h"
#include "host/components/tests/comm_test_support.h"
#include "host/components/termios2_baud.h"

using namespace ph;
using commtest::Pty;
using commtest::pumpFor;
using commtest::pumpUntil;

namespace {

struct PtyPort : ::testing::Test {
  Pty pty;
  plat::PostQueue ui;
  TCommCust port{ui.poster()};
  void SetUp() override {
    ASSERT_FALSE(pty.slave.empty());
    port.SetDeviceName(pty.slave);
  }
  termios lineSettings() const {
    termios t{};
    EXPECT_EQ(tcgetattr(pty.master, &t), 0);
    return t;
  }
};

TEST_F(PtyPort, OpenPutsTheLineInRawModeAtACustomRate) {
  port.SetBaudRate(TCBaudRate::brcustom);
  port.SetCustomBaudRate(460800);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  termios t = lineSettings();
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(t.c_oflag & OPOST);
  EXPECT_FALSE(t.c_iflag & (ICRNL | IXON));
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  int baud = 0;
  ASSERT_EQ(readLineBaud(pty.master, baud), 0);
  EXPECT_EQ(baud, 460800);
  // Line settings changed while open apply at once.
  port.SetBaudRate(TCBaudRate::br57600);
  ASSERT_EQ(readLineBaud(pty.master, baud), 0);
  EXPECT_EQ(baud, 57600);
}

// A pty keeps speed, stop bits and flow control (it forces 8 bits without
// parity); the full mapping is checked on termios records elsewhere.
TEST_F(PtyPort, LineSettingsReachTheTty) {
  port.SetStopBits(TStopBits::sb20);
  port.SetFlowControl(TFlowControl::fcSoftware);
  port.EventChars().SetXOnChar(0x21);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  port.EventChars().SetXOffChar(0x23);  // re-applied while open
  termios t = lineSettings();
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_FALSE(t.c_cflag & CRTSCTS);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
  EXPECT_EQ(t.c_cc[VSTART], 0x21);
  EXPECT_EQ(t.c_cc[VSTOP], 0x23);
  port.SetFlowControl(TFlowControl::fcCTS);
  t = lineSettings();
  EXPECT_TRUE(t.c_cflag & CRTSCTS);
  EXPECT_FALSE(t.c_iflag & IXON);
}

TEST_F(PtyPort, WithoutLineSettingsSpeedAndFramingStayButReadsStillTimeOut) {
  termios t = lineSettings();
  cfsetspeed(&t, B1200);
  t.c_cflag |= CSTOPB | CRTSCTS;
  ASSERT_EQ(tcsetattr(pty.master, TCSANOW, &t), 0);
  port.SetCustomBaudRate(0);
  port.SetReadTimeout(50);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  t = lineSettings();
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200));
  EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), static_cast<tcflag_t>(CSTOPB | CRTSCTS));
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));  // raw all the same
  char buf[16];
  EXPECT_EQ(port.Read(buf, sizeof buf), 0);  // returns instead of waiting for ever
  pty.send("ab");
  EXPECT_EQ(port.Read(buf, 2), 2);
}

TEST_F(PtyPort, BytesBothWaysWithTheReceivedDataEventOnTheUiThread) {
  std::string got;
  std::thread::id ranOn;
  port.OnRxChar = [&](TThreadCComm& p, std::uint32_t n) {
    ranOn = std::this_thread::get_id();
    std::string buf(n, '\0');
    buf.resize(static_cast<size_t>(p.Read(buf.data(), static_cast<int>(n))));
    got += buf;
  };
  port.Open();
  ASSERT_TRUE(port.Enabled());
  ASSERT_EQ(port.Write("M105\n", 5), 5);
  EXPECT_EQ(pty.drain(), "M105\n");  // no CR added, no echo
  pty.send(std::string("ok T:20\r\n\x11\x13\0", 12));
  ASSERT_TRUE(pumpUntil(ui, [&] { return got.size() == 12; }));
  EXPECT_EQ(got, std::string("ok T:20\r\n\x11\x13\0", 12));  // bytes arrive untouched
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_TRUE(port.GetModemState(1));  // a pty has no CTS line: counts as on
  EXPECT_NO_THROW(port.SetDTRState(false));
}

TEST_F(PtyPort, UnreadBytesAreReportedOncePerArrival) {
  std::vector<std::uint32_t> counts;
  port.OnRxChar = [&](TThreadCComm&, std::uint32_t n) { counts.push_back(n); };  // reads nothing
  port.Open();
  pty.send("abc");
  ASSERT_TRUE(pumpUntil(ui, [&] { return counts.size() == 1; }));
  EXPECT_EQ(pumpFor(ui, 150), 0);
  pty.send("de");
  ASSERT_TRUE(pumpUntil(ui, [&] { return counts.size() == 2; }));
  EXPECT_EQ(counts, (std::vector<std::uint32_t>{3, 5}));
  EXPECT_EQ(port.InQueCount(), 5);
  port.PurgeIn();
  EXPECT_EQ(port.InQueCount(), 0);
}

TEST_F(PtyPort, WriteToAStalledPeerReturnsWhatWentOutAndLeavesNothingBehind) {
  port.SetBaudRate(TCBaudRate::br115200);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  std::vector<char> block(1 << 20, 'x');
  int n = port.Write(block.data(), static_cast<int>(block.size()));  // nobody reads: ~3 s
  EXPECT_GT(n, 0);
  EXPECT_LT(n, static_cast<int>(block.size()));
  std::string out = pty.drain();
  EXPECT_EQ(out.size(), static_cast<size_t>(n));
  ASSERT_EQ(port.Write("END", 3), 3);
  EXPECT_EQ(pty.drain(), "END");
}

TEST_F(PtyPort, CloseWhileDataFloodsInRunsNoHandlerAfterwards) {
  std::atomic<bool> flood{true};
  int events = 0;
  bool closed = false;
  bool afterClose = false;
  port.OnRxChar = [&](TThreadCComm& p, std::uint32_t n) {
    if (closed) afterClose = true;
    ++events;
    std::vector<char> buf(n);
    p.Read(buf.data(), static_cast<int>(n));
  };
  port.OnComStatEvent = [&](TThreadCComm&, std::uint32_t, const TComStat&) {
    if (closed) afterClose = true;
  };
  port.Open();
  std::thread writer([&] {
    std::string chunk(512, 'q');
    while (flood) {
      if (::write(pty.master, chunk.data(), chunk.size()) < 0) {
        pollfd p{pty.master, POLLOUT, 0};
        ::poll(&p, 1, 5);
      }
    }
  });
  ASSERT_TRUE(pumpUntil(ui, [&] { return events >= 20; }));
  port.Close();  // the event thread may be mid-hand-over
  closed = true;
  pumpFor(ui, 100);
  flood = false;
  writer.join();
  EXPECT_FALSE(afterClose);
  EXPECT_FALSE(port.Enabled());
  // And the port opens again on the same line.
  port.Open();
  EXPECT_TRUE(port.Enabled());
}

TEST_F(PtyPort, HandlerMayCloseThePortWhileDataFloodsIn) {
  std::atomic<bool> flood{true};
  int events = 0;
  port.OnRxChar = [&](TThreadCComm& p, std::uint32_t n) {
    std::vector<char> buf(n);
    p.Read(buf.data(), static_cast<int>(n));
    if (++events == 5) p.Close();
  };
  port.Open();
  std::thread writer([&] {
    while (flood) {
      if (::write(pty.master, "zzzz", 4) < 0) {
        pollfd p{pty.master, POLLOUT, 0};
        ::poll(&p, 1, 5);
      }
    }
  });
  ASSERT_TRUE(pumpUntil(ui, [&] { return !port.Enabled(); }));
  pumpFor(ui, 100);
  flood = false;
  writer.join();
  EXPECT_EQ(events, 5);
}

TEST_F(PtyPort, UnpluggedLineReportsOneErrorAndGoesQuiet) {
  std::vector<std::uint32_t> errors;
  port.OnError = [&](TThreadCComm&, std::uint32_t e) { errors.push_back(e); };
  port.Open();
  ASSERT_TRUE(port.Enabled());
  pty.closeMaster();
  ASSERT_TRUE(pumpUntil(ui, [&] { return !errors.empty(); }));
  EXPECT_EQ(pumpFor(ui, 150), 0);
  EXPECT_EQ(errors, (std::vector<std::uint32_t>{ce::Ioe}));
  char buf[4];
  EXPECT_EQ(port.Read(buf, 4), 0);
  EXPECT_EQ(port.Write("x", 1), 0);
  port.Close();
}

TEST_F(PtyPort, SecondPortOnTheSameLineStaysClosed) {
  port.Open();
  ASSERT_TRUE(port.Enabled());
  TCommCust other(ui.poster());
  other.SetDeviceName(pty.slave);
  EXPECT_NO_THROW(other.Open());
  EXPECT_FALSE(other.Enabled());
  port.Close();
  other.Open();
  EXPECT_TRUE(other.Enabled());
}

TEST_F(PtyPort, PropertiesThatNeedAClosedPortAreIgnoredWhileOpen) {
  port.Open();
  port.SetDeviceName("/dev/null");
  port.SetMonitorEvents({});
  port.SetReadBufSize(1);
  EXPECT_EQ(port.DeviceName(), pty.slave);
  EXPECT_EQ(port.MonitorEvents(), kAllCommEvents);
  EXPECT_EQ(port.ReadBufSize(), 4096);
}

TEST(CommPort, NamesThatAreNoSerialLineLeaveThePortClosedQuietly) {
  { std::ofstream("plain.txt") << "not a port"; }
  for (const char* name : {"plain.txt", "/nonexistent/ttyQ9", "/dev/null", "COM250"}) {
    plat::PostQueue ui;
    TCommCust port(ui.poster());
    port.SetDeviceName(name);
    EXPECT_NO_THROW(port.Open()) << name;
    EXPECT_FALSE(port.Enabled()) << name;
    char b[2];
    EXPECT_EQ(port.Read(b, 2), -1);
    EXPECT_EQ(port.Write(b, 2), -1);
    EXPECT_EQ(port.InQueCount(), -1);
    EXPECT_EQ(port.OutQueCount(), -1);
    EXPECT_FALSE(port.GetModemState(1));
    EXPECT_FALSE(port.GetComState(1));
    EXPECT_NO_THROW(port.PurgeIn());
    EXPECT_NO_THROW(port.Close());
  }
}

TEST_F(PtyPort, FailuresRaiseWithTheirCodes) {
  try {
    port.SetDTRState(true);
    FAIL() << "no exception";
  } catch (const CommError& e) {
    EXPECT_STREQ(e.what(), "Port not open (Error: -1)");
  }
  port.SetDataBits(0);  // 4-bit words: refused by the driver
  try {
    port.Open();
    FAIL() << "no exception";
  } catch (const CommError& e) {
    EXPECT_STREQ(e.what(), "Error updating DataControlBlock (Error: 22)");
  }
  // A refused line is closed again, not left half open.
  EXPECT_FALSE(port.Enabled());
  port.SetDataBits(4);
  port.Open();
  ASSERT_TRUE(port.Enabled());
  try {
    port.Open();
    FAIL() << "no exception";
  } catch (const CommError& e) {
    EXPECT_STREQ(e.what(), "Port already assigned (open) (Error: -1)");
    EXPECT_EQ(e.code(), -1);
  }
  EXPECT_THROW(port.CheckOpen(), CommError);
  EXPECT_THROW(port.SetDataBits(0), CommError);  // re-applied at once
}

TEST(CommPort, ErrorTexts) {
  EXPECT_EQ(commErrorText(CommErrorKind::Buffers, 5), "Error initializing Read/Write Buffers (Error: 5)");
  EXPECT_EQ(commErrorText(CommErrorKind::Timeouts, 87), "Error updating CommTimeouts (Error: 87)");
  EXPECT_EQ(commErrorText(CommErrorKind::Escape, 5), "EscapeCommFunction failure (Error: 5)");
}

TEST(CommPort, BaudValues) {
  plat::PostQueue ui;
  TCommCust port(ui.poster());
  port.SetCustomBaudRate(250000);
  EXPECT_EQ(port.GetBaudValue(TCBaudRate::brcustom), 250000);
  EXPECT_EQ(port.GetBaudValue(TCBaudRate::br300), 300);
  EXPECT_EQ(port.GetBaudValue(TCBaudRate::br14400), 14400);
  EXPECT_EQ(port.GetBaudValue(TCBaudRate::br256000), 256000);
  EXPECT_EQ(port.DeviceName(), "Com2");
  EXPECT_EQ(port.BaudRate(), TCBaudRate::br9600);
  EXPECT_EQ(port.DataBits(), 4);
  EXPECT_EQ(port.FlowControl(), TFlowControl::fcDefault);
}

}  // namespace
