// Line events, write limits and line status through a scripted line: what
// a pseudo-terminal cannot produce (modem lines, breaks, errors, a writer
// that never gets room).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/components/comm_cust.h"
#include "host/components/tests/comm_test_support.h"
#include "host/components/tests/fake_comm_line.h"
#include "platform/format.h"

using namespace ph;
using commtest::FakeLine;
using commtest::pumpFor;
using commtest::pumpUntil;

namespace {

struct FakePort : ::testing::Test {
  std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
  std::shared_ptr<commtest::FakeBackend> backend = std::make_shared<commtest::FakeBackend>(line);
  plat::PostQueue ui;
  TCommCust port{ui.poster(), backend};
  std::vector<std::string> calls;

  void recordAll() {
    auto note = [this](const char* what) { return [this, what](TThreadCComm&) { calls.push_back(what); }; };
    port.OnBreak = note("break");
    port.OnCts = note("cts");
    port.OnDsr = note("dsr");
    port.OnError = [this](TThreadCComm&, std::uint32_t e) { calls.push_back(plat::format("error %x", e)); };
    port.OnRing = note("ring");
    port.OnRlsd = note("rlsd");
    port.OnRxChar = [this](TThreadCComm&, std::uint32_t n) { calls.push_back(plat::format("rx %u", n)); };
    port.OnRxFlag = note("rxflag");
    port.OnTxEmpty = note("txempty");
    port.OnComStatEvent = [this](TThreadCComm&, std::uint32_t mask, const TComStat&) {
      calls.push_back(plat::format("stat %x", mask));
    };
  }
  bool lastIsStat() const { return !calls.empty() && calls.back().rfind("stat", 0) == 0; }
};

TEST_F(FakePort, LineEventsReachTheHandlersInTheirOrderOnTheUiThread) {
  recordAll();
  std::thread::id ranOn;
  port.OnRing = [&](TThreadCComm&) {
    calls.push_back("ring");
    ranOn = std::this_thread::get_id();
  };
  port.Open();
  ASSERT_TRUE(port.Enabled());
  line->change([](FakeLine& l) {
    ++l.counters.cts;
    ++l.counters.dsr;
    ++l.counters.rng;
    ++l.counters.dcd;
    ++l.counters.brk;
    ++l.counters.frame;
  });
  ASSERT_TRUE(pumpUntil(ui, [&] { return lastIsStat(); }));
  // break, cts, dsr, error (frame | break), ring, rlsd, then the status
  EXPECT_EQ(calls, (std::vector<std::string>{"break", "cts", "dsr", "error 18", "ring", "rlsd", "stat 1f8"}));
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(FakePort, OnlyMonitoredEventsAreReported) {
  recordAll();
  port.SetMonitorEvents({TCommEventType::evCts});
  port.Open();
  line->change([](FakeLine& l) {
    ++l.counters.dsr;
    ++l.counters.cts;
  });
  ASSERT_TRUE(pumpUntil(ui, [&] { return lastIsStat(); }));
  EXPECT_EQ(calls, (std::vector<std::string>{"cts", "stat 8"}));
}

TEST_F(FakePort, BytesArrivingWhileTheHandlerRunsMakeAnotherEvent) {
  std::vector<int> counts;
  port.OnRxChar = [&](TThreadCComm& p, std::uint32_t n) {
    counts.push_back(static_cast<int>(n));
    char buf[64];
    EXPECT_EQ(p.Read(buf, static_cast<int>(n)), static_cast<int>(n));
    if (counts.size() == 1) line->push("more");  // after the read, before the handler returns
  };
  port.Open();
  line->push("abc");
  ASSERT_TRUE(pumpUntil(ui, [&] { return counts.size() == 2; }));
  EXPECT_EQ(counts, (std::vector<int>{3, 4}));
}

// A poster that holds the calls until the test runs them.
struct HeldPosts {
  std::mutex m;
  std::condition_variable cv;
  std::deque<std::function<void()>> q;
  plat::UiPoster poster() {
    return [this](std::function<void()> fn) {
      std::lock_guard<std::mutex> lk(m);
      q.push_back(std::move(fn));
      cv.notify_all();
    };
  }
  std::function<void()> next() {
    std::unique_lock<std::mutex> lk(m);
    if (!cv.wait_for(lk, std::chrono::seconds(5), [&] { return !q.empty(); })) return {};
    auto fn = std::move(q.front());
    q.pop_front();
    return fn;
  }
};

TEST(FakePortHeld, ReceivedDataEventWithAnEmptyQueueSkipsOnRxCharButNotTheStatus) {
  auto line = std::make_shared<FakeLine>();
  HeldPosts held;
  TCommCust port(held.poster(), std::make_shared<commtest::FakeBackend>(line));
  int rx = 0;
  std::uint32_t statMask = 0;
  port.OnRxChar = [&](TThreadCComm&, std::uint32_t) { ++rx; };
  port.OnComStatEvent = [&](TThreadCComm&, std::uint32_t mask, const TComStat& st) {
    statMask = mask;
    EXPECT_EQ(st.inQue, 0u);
  };
  port.Open();
  line->push("xy");
  auto call = held.next();
  ASSERT_TRUE(call);
  char buf[8];
  ASSERT_EQ(port.Read(buf, 2), 2);  // a timer took the bytes before the event ran
  call();
  EXPECT_EQ(rx, 0);
  EXPECT_EQ(statMask, ev::RxChar);
  port.Close();
}

TEST_F(FakePort, HangUpReportsOneErrorAndThenWaitsOnlyForClose) {
  recordAll();
  port.Open();
  line->change([](FakeLine& l) { l.hangUp = true; });
  ASSERT_TRUE(pumpUntil(ui, [&] { return lastIsStat(); }));
  EXPECT_EQ(calls, (std::vector<std::string>{"error 400", "stat 80"}));
  // A thread that kept polling the dead device would never get here.
  ASSERT_TRUE(line->waitFor([](FakeLine& l) { return l.idle; }, 2000));
  int waits = line->waitEvents;
  EXPECT_EQ(pumpFor(ui, 50), 0);
  EXPECT_EQ(line->waitEvents, waits);
  port.Close();
  EXPECT_FALSE(line->open);
}

TEST_F(FakePort, HandlerThatClosesThePortEndsTheEventThere) {
  recordAll();
  port.OnCts = [&](TThreadCComm& p) {
    calls.push_back("cts");
    p.Close();  // must not deadlock with the waiting thread
  };
  port.Open();
  line->change([](FakeLine& l) {
    ++l.counters.cts;
    ++l.counters.dsr;
  });
  ASSERT_TRUE(pumpUntil(ui, [&] { return !port.Enabled(); }));
  EXPECT_EQ(pumpFor(ui, 50), 0);
  EXPECT_EQ(calls, (std::vector<std::string>{"cts"}));
  EXPECT_FALSE(line->open);
}

TEST_F(FakePort, WriteReportsTheEndOfItsOutput) {
  recordAll();
  port.Open();
  ASSERT_EQ(port.Write("abc", 3), 3);
  ASSERT_TRUE(pumpUntil(ui, [&] { return lastIsStat(); }));
  EXPECT_EQ(calls, (std::vector<std::string>{"txempty", "stat 4"}));
}

struct WriteLimitCase {
  TCBaudRate rate;
  int count;
  int polls;
};

class FakeWriteLimit : public FakePort, public ::testing::WithParamInterface<WriteLimitCase> {};

TEST_P(FakeWriteLimit, WriteGivesUpAfterItsPollsWithWhatTheDriverTook) {
  const WriteLimitCase c = GetParam();
  line->writeRoom = 10;
  port.SetBaudRate(c.rate);
  port.Open();
  std::vector<std::uint8_t> data(static_cast<size_t>(c.count), 'x');
  EXPECT_EQ(port.Write(data.data(), c.count), 10);
  EXPECT_EQ(line->writablePolls, c.polls);
  // Nothing of the rest is left over to go out later.
  line->writeRoom = 1000;
  EXPECT_EQ(port.Write("z", 1), 1);
  EXPECT_EQ(line->writeRoom, 999);
}

INSTANTIATE_TEST_SUITE_P(Rates, FakeWriteLimit,
                         ::testing::Values(WriteLimitCase{TCBaudRate::br115200, 100, 302},
                                           // 2 ms per byte at 9600: 200 ms for 100 bytes
                                           WriteLimitCase{TCBaudRate::br9600, 100, 20},
                                           // the per-byte time-out never exceeds the poll limit
                                           WriteLimitCase{TCBaudRate::br9600, 5000, 302}));

struct ModemCase {
  bool hasLines;
  unsigned lines;
  TFlowControl flow;
  bool cts, dsr, ring, rlsd, ctsHold;
};

class FakeModem : public FakePort, public ::testing::WithParamInterface<ModemCase> {};

TEST_P(FakeModem, ModemLinesAndHolds) {
  const ModemCase c = GetParam();
  line->hasModemLines = c.hasLines;
  line->modem = c.lines;
  port.SetFlowControl(c.flow);
  port.Open();
  EXPECT_EQ(port.GetModemState(1), c.cts);
  EXPECT_EQ(port.GetModemState(2), c.dsr);
  EXPECT_EQ(port.GetModemState(3), c.ring);
  EXPECT_EQ(port.GetModemState(4), c.rlsd);
  EXPECT_FALSE(port.GetModemState(5));
  EXPECT_EQ(port.GetComState(1), c.ctsHold);
  EXPECT_EQ(port.GetComState(9), c.ctsHold);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FakeModem,
    ::testing::Values(ModemCase{true, ml::Cts | ml::Rlsd, TFlowControl::fcCTS, true, false, false, true, false},
                      ModemCase{true, ml::Dsr | ml::Ring, TFlowControl::fcCTS, false, true, true, false, true},
                      ModemCase{true, 0, TFlowControl::fcNone, false, false, false, false, false},
                      // no modem lines at all: CTS counts as on, so senders go ahead
                      ModemCase{false, 0, TFlowControl::fcCTS, true, false, false, false, false}));

TEST_F(FakePort, XoffEscapeHoldsOutputUntilXon) {
  port.Open();
  port.SetXONState(false);
  EXPECT_TRUE(port.GetComState(4));
  port.SetXONState(true);
  EXPECT_FALSE(port.GetComState(4));
}

}  // namespace
