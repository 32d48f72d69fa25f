#include "platform/handover.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

using plat::HandOver;
using plat::PostQueue;

TEST(HandOver, RunsOnTheDrainingThreadAndWaits) {
  PostQueue q;
  auto h = HandOver::create(q.poster());
  std::thread::id ranOn;
  std::atomic<bool> returned{false};
  bool result = false;
  std::thread bg([&] {
    result = h->callAndWait([&] { ranOn = std::this_thread::get_id(); });
    returned = true;
  });
  while (q.waitAndRun(50) == 0) {
  }
  bg.join();
  EXPECT_TRUE(result);
  EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST(HandOver, CloseReleasesAWaitingThreadWithoutRunningItsCall) {
  std::promise<std::function<void()>> posted;
  auto h = HandOver::create([&](std::function<void()> fn) { posted.set_value(std::move(fn)); });
  bool ran = false;
  bool result = true;
  std::thread bg([&] { result = h->callAndWait([&] { ran = true; }); });
  auto drain = posted.get_future().get();  // the call is waiting now
  h->close();
  bg.join();  // must not hang
  drain();    // the posted call finds the hand-over closed
  EXPECT_FALSE(result);
  EXPECT_FALSE(ran);
  EXPECT_FALSE(h->callAndWait([] {}));
}

TEST(HandOver, CloseFromInsideTheHandlerDoesNotDeadlock) {
  PostQueue q;
  auto h = HandOver::create(q.poster());
  std::thread bg;
  bool second = true;
  bg = std::thread([&] {
    h->callAndWait([&] {
      h->close();
    });
    second = h->callAndWait([] {});
  });
  while (q.waitAndRun(50) == 0) {
  }
  bg.join();
  EXPECT_FALSE(second);
}
