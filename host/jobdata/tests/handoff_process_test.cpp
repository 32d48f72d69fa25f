// The hand-off with the real slicer as a second process: the host starts
// layertint, its ready event reaches the host through the syncslice couple
// and the conversion starts 1.5 s later.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "host/components/mem_couple.h"
#include "host/jobdata/slicer_command.h"
#include "host/jobdata/tests/handoff_fixture.h"
#include "platform/format.h"
#include "platform/named_event.h"
#include "platform/process.h"

using namespace ph;

namespace {

// Test cases run side by side: each keeps its named objects (and those of
// the slicer it starts, which inherits the environment) to itself.
struct OwnNamespace {
  OwnNamespace() {
    const char* ns = std::getenv("PRISM_NAMESPACE");
    setenv("PRISM_NAMESPACE", plat::format("%s%d_", ns ? ns : "", int(getpid())).c_str(), 1);
  }
};

struct RealSlicer : OwnNamespace, test::HandoffFixture, ::testing::Test {
  plat::PostQueue uiThread;
  TMemCouple syncslice{uiThread.poster()};
  std::string model = at("Cube.stl");

  RealSlicer() {
    core.s.slicer_exe = LAYERTINT_PATH;
    test::writeCubeStl(model);
  }
  ~RealSlicer() override { plat::NamedEvent::remove(syncslice.RecvEventName); }

  // As the Host's start-up opens it.
  void openCouple(const std::string& receiveName) {
    syncslice.SetName("syncslice");
    syncslice.RecvEventName = receiveName;
    syncslice.Tag = TMemCouple::kInfiniteWaitTag;
    syncslice.OnReceive = [this](TMemCouple&) { handoff.takeSlicedJob(); };
    syncslice.Open();
  }
  bool pumpUntil(const std::function<bool()>& done, int seconds = 60) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done() && std::chrono::steady_clock::now() < end) uiThread.waitAndRun(50);
    return done();
  }
  // Lets the slicer end (left for the hand-off to reap, which reads its
  // exit status) and the watch look at it a few times.
  void letSlicerEnd() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (plat::processRunning(handoff.slicerPid()) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int i = 0; i < 4; ++i) advance(SlicerHandoff::kWatchMs);
  }
};

TEST_F(RealSlicer, AModelOpenedFromTheMenuIsSlicedAndConvertedAfterTheReadyEvent) {
  openCouple(".p3d file ready");
  openFromMenu(model);
  ASSERT_TRUE(handoff.waitingForSlicer);
  ASSERT_GT(handoff.slicerPid(), 0);
  ASSERT_TRUE(pumpUntil([&] { return logHas(".p3d file ready "); })) << "no ready event from the slicer";
  EXPECT_FALSE(handoff.waitingForSlicer);
  advance(1499);
  EXPECT_EQ(conversions, 0);
  // Converted 1.5 s after the event, once the slicer has ended well.
  letSlicerEnd();
  EXPECT_EQ(conversions, 1);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();
}

TEST_F(RealSlicer, AConvertOnlyRunOfInstanceTwoListensOnItsOwnEventAndEnds) {
  openCouple(".p3d file ready(2)");
  auto firstInstance = plat::NamedEvent::open(".p3d file ready");
  ASSERT_TRUE(firstInstance);
  firstInstance->reset();
  core.instanceNumber = 2;
  core.runMode = 'V';
  core.commandInputFile = model;
  handoff.openModel();
  ASSERT_TRUE(pumpUntil([&] { return logHas(".p3d file ready "); })) << "no ready event from the slicer";
  advance(1500);
  letSlicerEnd();
  EXPECT_EQ(conversions, 1);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_EQ(core.run.exitStatus(), 0);
  EXPECT_EQ(firstInstance->wait(0), plat::NamedEvent::Wait::Timeout);
  plat::NamedEvent::remove(".p3d file ready");
}

TEST_F(RealSlicer, ASecondOpenReusesTheJobTheSlicerWrote) {
  openCouple(".p3d file ready");
  openFromMenu(model);
  ASSERT_TRUE(pumpUntil([&] { return logHas(".p3d file ready "); })) << "no ready event from the slicer";
  letSlicerEnd();
  if (cachedSignature(at("Cube.p3d")) == "?") GTEST_SKIP() << "this slicer build writes no finished job yet";
  EXPECT_EQ(cachedSignature(at("Cube.p3d")), handoff.lastSignature);

  core.Memo1.clear();
  core.s.slicer_exe = "/nonexistent/layertint";
  openFromMenu(model);
  EXPECT_FALSE(logHas("exe: "));
  EXPECT_EQ(handoff.slicerPid(), -1);
  EXPECT_TRUE(ui.messages.empty());
  advance(1500);
  EXPECT_EQ(conversions, 2);
}

}  // namespace
