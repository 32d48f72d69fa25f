// How line settings turn into termios flags (a pty cannot hold parity or
// word size, so the mapping is checked on records).
#include "host/components/comm_termios.h"

#include <gtest/gtest.h>

using namespace ph;

namespace {

// What a fresh Linux tty looks like: canonical, echoing, XON/XOFF on.
termios freshTty() {
  termios t{};
  t.c_iflag = ICRNL | IXON;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
  t.c_cflag = CS8 | CREAD | B9600;
  return t;
}

struct MapCase {
  TParity parity;
  TStopBits stop;
  int byteSize;
  TFlowControl flow;
  bool parityCheck;
  tcflag_t cflag;  // CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
  tcflag_t iflag;  // IXON | IXOFF | INPCK
};

class LineMapping : public ::testing::TestWithParam<MapCase> {};

TEST_P(LineMapping, FullSettings) {
  const MapCase c = GetParam();
  CommLineSettings s;
  s.full = true;
  s.parity = c.parity;
  s.stopBits = c.stop;
  s.byteSize = c.byteSize;
  s.flow = c.flow;
  if (c.parityCheck) s.options.insert(TCommOption::coParityCheck);
  termios t = freshTty();
  ASSERT_EQ(applyLineSettings(t, s), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), c.cflag);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), c.iflag);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & ICRNL, 0u);
  EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LineMapping,
    ::testing::Values(MapCase{TParity::paNone, TStopBits::sb10, 8, TFlowControl::fcNone, false, CS8, 0},
                      MapCase{TParity::paEven, TStopBits::sb20, 7, TFlowControl::fcCTS, true,
                              CS7 | PARENB | CSTOPB | CRTSCTS, INPCK},
                      MapCase{TParity::paOdd, TStopBits::sb10, 8, TFlowControl::fcSoftware, false,
                              CS8 | PARENB | PARODD, IXON | IXOFF},
                      MapCase{TParity::paMark, TStopBits::sb10, 6, TFlowControl::fcDefault, false,
                              CS6 | PARENB | CMSPAR | PARODD, 0},
                      MapCase{TParity::paSpace, TStopBits::sb15, 5, TFlowControl::fcDTR, false,
                              CS5 | PARENB | CMSPAR | CSTOPB, 0}));

TEST(LineMapping, FourDataBitsAreRefused) {
  CommLineSettings s;
  s.full = true;
  s.byteSize = 4;
  termios t = freshTty();
  EXPECT_EQ(applyLineSettings(t, s), EINVAL);
}

TEST(LineMapping, RawOnlyKeepsSpeedFramingAndHardwareFlow) {
  CommLineSettings s;  // not full: no line settings wanted
  termios t = freshTty();
  t.c_cflag = CS7 | PARENB | CSTOPB | CRTSCTS | B1200;
  ASSERT_EQ(applyLineSettings(t, s), 0);
  EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CBAUD),
            static_cast<tcflag_t>(CS7 | PARENB | CSTOPB | CRTSCTS | B1200));
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

}  // namespace
