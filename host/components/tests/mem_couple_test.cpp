// The inter-process couple: default names, the shared memory, the waiting
// thread in both wait modes, closing at any moment, and a real second
// process on the other side.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/components/mem_couple.h"
#include "platform/format.h"
#include "platform/named_objects.h"
#include "platform/process.h"

using namespace ph;

namespace {

bool pumpUntil(plat::PostQueue& q, const std::function<bool()>& done, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    q.waitAndRun(20);
  }
  return true;
}

// Runs fn on another thread; a call that has not returned within 5 s ends
// the test process as failed (a hang guard, not a speed measure): the hung
// thread could never be joined.
bool returnsInTime(std::function<void()> fn) {
  auto done = std::make_shared<std::promise<void>>();
  auto f = done->get_future();
  std::thread([fn = std::move(fn), done] {
    fn();
    done->set_value();
  }).detach();
  if (f.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return true;
  std::fprintf(stderr, "the call did not return: hung\n");
  std::_Exit(1);
}

// Names unique to this test process; the objects are removed afterwards.
struct CoupleNames : ::testing::Test {
  std::string base = plat::format("cpl%d", int(getpid()));
  ~CoupleNames() override {
    for (const char* sfx : {"CS", "SC", "X"}) plat::NamedEvent::remove(base + sfx);
    plat::SharedMemory::remove(base + "MH");
  }
  std::string text(const TMemCouple& c) const {
    const char* v = reinterpret_cast<const char*>(c.view());
    return v ? std::string(v, strnlen(v, c.viewSize())) : std::string();
  }
};

TEST(MemCoupleNames, DefaultNamesFollowTheNameAndSideButSetNamesStay) {
  TMemCouple c([](std::function<void()>) {});
  EXPECT_EQ(c.MemHandleName, "MH");
  EXPECT_EQ(c.RecvEventName, "CS");
  EXPECT_EQ(c.SendEventName, "SC");

  c.SetName("syncslice");
  EXPECT_EQ(c.RecvEventName, "syncsliceCS");
  EXPECT_EQ(c.SendEventName, "syncsliceSC");
  EXPECT_EQ(c.MemHandleName, "syncsliceMH");

  c.SetClient(true);
  EXPECT_EQ(c.RecvEventName, "syncsliceSC");
  EXPECT_EQ(c.SendEventName, "syncsliceCS");
  c.SetName("other");
  EXPECT_EQ(c.RecvEventName, "otherSC");
  EXPECT_EQ(c.SendEventName, "otherCS");
  EXPECT_EQ(c.MemHandleName, "otherMH");
  c.SetClient(false);
  EXPECT_EQ(c.RecvEventName, "otherCS");

  c.RecvEventName = ".p3d file ready";
  c.MemHandleName = "frames";
  c.SetName("syncslice");
  c.SetClient(true);
  c.SetName("again");
  EXPECT_EQ(c.RecvEventName, ".p3d file ready");
  EXPECT_EQ(c.MemHandleName, "frames");
  EXPECT_EQ(c.SendEventName, "againCS");
}

TEST_F(CoupleNames, SendBufCopiesAtMostTheBufferSizeAndSetsTheSendEvent) {
  plat::PostQueue q;
  TMemCouple c(q.poster());
  c.SetName(base);
  c.Open();
  auto peerEvent = plat::NamedEvent::open(c.SendEventName);
  ASSERT_TRUE(peerEvent);
  ASSERT_EQ(c.viewSize(), 256u);

  std::vector<unsigned char> big(1000);
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<unsigned char>(i * 7 + 1);
  EXPECT_EQ(c.SendBuf(big.data(), 1000), 256);
  EXPECT_EQ(std::memcmp(c.view(), big.data(), 256), 0);
  EXPECT_EQ(peerEvent->wait(0), plat::NamedEvent::Wait::Signalled);
}

TEST_F(CoupleNames, WithoutSharedMemorySendBufCopiesNothingAndSetsNoEvent) {
  plat::PostQueue q;
  TMemCouple c(q.poster());
  c.SetName(base);
  c.MemHandleName = "";
  c.Open();
  auto peerEvent = plat::NamedEvent::open(c.SendEventName);
  ASSERT_TRUE(peerEvent);
  const char msg[] = "hello";
  EXPECT_EQ(c.view(), nullptr);
  EXPECT_EQ(c.SendBuf(msg, sizeof msg), 0);
  EXPECT_EQ(peerEvent->wait(0), plat::NamedEvent::Wait::Timeout);
}

// A block that another process made first is mapped at its maker's size;
// SendBuf never writes past what is mapped, nor past BufferSize.
TEST_F(CoupleNames, AnExistingBlockIsMappedAtItsMakersSize) {
  struct Case {
    std::size_t made;
    std::size_t mapped;
    int copied;
  };
  for (Case k : {Case{64, 64, 64}, Case{4096, 4096, 256}}) {
    SCOPED_TRACE(k.made);
    plat::SharedMemory::remove(base + "MH");
    auto maker = plat::SharedMemory::open(base + "MH", k.made);
    ASSERT_TRUE(maker);
    plat::PostQueue q;
    TMemCouple c(q.poster());
    c.SetName(base);
    c.Open();
    EXPECT_EQ(c.viewSize(), k.mapped);
    std::vector<unsigned char> big(1000, 0x5A);
    EXPECT_EQ(c.SendBuf(big.data(), 1000), k.copied);
    EXPECT_EQ(maker->data()[0], 0x5A);
    if (k.made > std::size_t(k.copied)) {
      EXPECT_EQ(maker->data()[k.copied], 0);
    }
  }
}

// Both wait modes: one OnReceive per setting of the receive event, on the
// user-interface thread; several settings before the wake count once.
TEST_F(CoupleNames, EachSettingOfTheReceiveEventRunsOnReceiveOnceOnTheUiThread) {
  for (int tag : {0, TMemCouple::kInfiniteWaitTag}) {
    SCOPED_TRACE(tag);
    plat::PostQueue q;
    TMemCouple c(q.poster());
    c.SetName(base);
    c.Tag = tag;
    int calls = 0;
    std::thread::id ranOn;
    c.OnReceive = [&](TMemCouple& sender) {
      EXPECT_EQ(&sender, &c);
      ranOn = std::this_thread::get_id();
      ++calls;
    };
    c.Open();
    auto other = plat::NamedEvent::open(c.RecvEventName);
    ASSERT_TRUE(other);
    for (int i = 1; i <= 3; ++i) {
      other->set();
      ASSERT_TRUE(pumpUntil(q, [&] { return calls == i; }));
    }
    EXPECT_EQ(ranOn, std::this_thread::get_id());
    // A long quiet spell (beyond a polling step) changes nothing.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    other->set();
    ASSERT_TRUE(pumpUntil(q, [&] { return calls == 4; }));

    // Settings that pile up while the handler runs count once.
    c.OnReceive = [&](TMemCouple&) {
      if (++calls == 5) {
        other->set();
        other->set();
        other->set();
      }
    };
    other->set();
    ASSERT_TRUE(pumpUntil(q, [&] { return calls == 6; }));
    q.waitAndRun(300);
    EXPECT_EQ(calls, 6);
    ASSERT_TRUE(returnsInTime([&] { c.Close(); }));
    EXPECT_FALSE(c.waiting());
  }
}

TEST_F(CoupleNames, CloseNeverWaitsOnAHandOverInFlightNorFromInsideTheHandler) {
  for (int tag : {0, TMemCouple::kInfiniteWaitTag}) {
    SCOPED_TRACE(tag);
    plat::PostQueue q;
    TMemCouple c(q.poster());
    c.SetName(base);
    c.Tag = tag;
    int calls = 0;
    c.OnReceive = [&](TMemCouple&) { ++calls; };
    c.Open();
    auto other = plat::NamedEvent::open(c.RecvEventName);
    ASSERT_TRUE(other);
    other->set();
    // The hand-over is posted but the UI thread has not run it yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(returnsInTime([&] { c.Close(); }));
    q.runAll();
    EXPECT_EQ(calls, 0);

    c.OnReceive = [&](TMemCouple& self) {
      ++calls;
      self.Close();
    };
    c.Open();
    other->set();
    ASSERT_TRUE(pumpUntil(q, [&] { return calls == 1; }));
    EXPECT_FALSE(c.Active);
    EXPECT_FALSE(c.waiting());
  }
}

TEST_F(CoupleNames, OpeningAgainLeavesOneThreadAndOneSetOfHandles) {
  plat::PostQueue q;
  TMemCouple c(q.poster());
  c.SetName(base);
  c.Tag = TMemCouple::kInfiniteWaitTag;
  int calls = 0;
  c.OnReceive = [&](TMemCouple&) { ++calls; };
  c.Open();
  c.Close();
  c.Open();
  c.Open();  // open twice: closes first
  EXPECT_TRUE(c.Active);
  auto other = plat::NamedEvent::open(c.RecvEventName);
  ASSERT_TRUE(other);
  other->set();
  ASSERT_TRUE(pumpUntil(q, [&] { return calls == 1; }));
  q.waitAndRun(300);
  EXPECT_EQ(calls, 1);
  const char m[] = "x";
  EXPECT_EQ(c.SendBuf(m, 2), 2);
}

TEST_F(CoupleNames, ACoupleWhoseReceiveEventCannotBeMadeStartsNoThread) {
  // A folder where the event's file would be makes the system refuse it.
  TMemCouple c([](std::function<void()>) {});
  c.SetName(base);
  c.RecvEventName = base + "X";
  const std::string blocker = "/dev/shm/sem." + plat::posixObjectName(c.RecvEventName).substr(1);
  ASSERT_EQ(mkdir(blocker.c_str(), 0700), 0);
  c.Open();
  EXPECT_FALSE(c.waiting());
  EXPECT_TRUE(c.Active);
  EXPECT_NE(c.view(), nullptr);  // the rest of the couple still works
  c.Close();
  rmdir(blocker.c_str());
}

// The other side is a real second process (tools/couple/couple_peer).
TEST_F(CoupleNames, TwoProcessesExchangeEventsAndBufferContents) {
  plat::PostQueue q;
  TMemCouple server(q.poster());
  server.SetName(base);
  std::vector<std::string> got;
  server.OnReceive = [&](TMemCouple& c) { got.push_back(text(c)); };
  server.Open();

  // The peer asks for a smaller block and waits without time-out.
  auto child = plat::spawnProcess({COUPLE_PEER, base, "64", std::to_string(TMemCouple::kInfiniteWaitTag)});
  ASSERT_GT(child.pid, 0);
  ASSERT_TRUE(pumpUntil(q, [&] { return got.size() == 1; }, 10000));
  EXPECT_EQ(got[0], "ready size=256");

  for (std::string m : {"hello", "second message", ""}) {
    server.SendBuf(m.c_str(), int(m.size() + 1));
    const std::size_t want = got.size() + 1;
    ASSERT_TRUE(pumpUntil(q, [&] { return got.size() == want; }, 10000)) << m;
    EXPECT_EQ(got.back(), plat::format("echo:%s n=%d", m, int(want - 1)));
  }
  server.SendBuf("quit", 5);
  ASSERT_TRUE(pumpUntil(q, [&] { return got.size() == 5; }, 10000));
  EXPECT_EQ(got.back(), "bye");
  EXPECT_EQ(plat::waitProcess(child.pid, 10000), 0);
}

}  // namespace
