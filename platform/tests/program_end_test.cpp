// A program always ends on SIGTERM or SIGINT: through its close sequence on
// the UI thread, or, when that thread is busy, soon all the same.
#include "platform/program_end.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "platform/process.h"

using plat::ProgramEnd;

namespace {

// Runs `body` in a child process and returns its exit status (nothing when
// it is still running after `ms`).
template <class F>
std::optional<int> inChild(F body, int ms) {
  const pid_t pid = fork();
  if (pid == 0) {
    body();
    _exit(99);  // the body was to end the process
  }
  auto status = plat::waitProcess(pid, ms);
  if (!status) {
    kill(pid, SIGKILL);
    plat::waitProcess(pid, -1);
  }
  return status;
}

void sleepFor(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

TEST(ProgramEnd, ASignalIsHandledOnTheUiThread) {
  plat::PostQueue uiThread;
  int handled = 0;
  {
    ProgramEnd end(uiThread.poster(), [&](int sig) { return handled = sig, 0; }, 5000);
    raise(SIGINT);
    EXPECT_EQ(uiThread.waitAndRun(5000), 1);
    EXPECT_EQ(handled, SIGINT);
  }  // main() returns in time: nothing more happens
}

TEST(ProgramEnd, AUiThreadThatNeverGetsToTheSignalDoesNotKeepTheProgram) {
  const auto status = inChild(
      [] {
        plat::PostQueue neverRun;
        ProgramEnd end(neverRun.poster(), [](int) { return 0; }, 200);
        raise(SIGTERM);
        sleepFor(10000);  // a long step that lets no events run
      },
      5000);
  EXPECT_EQ(status, 128 + SIGTERM);
}

TEST(ProgramEnd, AfterTheCloseSequenceTheProgramEndsWithItsStatus) {
  const auto status = inChild(
      [] {
        // The close ran from an event pump inside a long loop, which goes on.
        ProgramEnd end([](std::function<void()> f) { f(); }, [](int) { return 7; }, 200);
        raise(SIGTERM);
        sleepFor(10000);
      },
      5000);
  EXPECT_EQ(status, 7);
}

TEST(ProgramEnd, ASecondSignalEndsAtOnce) {
  const auto status = inChild(
      [] {
        plat::PostQueue neverRun;
        ProgramEnd end(neverRun.poster(), [](int) { return 0; }, 10000);
        raise(SIGTERM);
        sleepFor(100);
        raise(SIGINT);
        sleepFor(10000);
      },
      5000);
  EXPECT_EQ(status, 128 + SIGINT);
}

TEST(FaultCatching, AnExceptionFromAHandlerIsHandedOnNotThrownThroughTheLoop) {
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  plat::FaultCatching<QCoreApplication> app(argc, argv);
  std::string fault;
  app.onFault = [&](const std::string& what) {
    fault = what;
    QCoreApplication::exit(3);
  };
  QTimer::singleShot(0, [] { throw std::runtime_error("disk on fire"); });
  EXPECT_EQ(app.exec(), 3);
  EXPECT_EQ(fault, "disk on fire");
}
