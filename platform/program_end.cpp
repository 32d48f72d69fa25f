#include "program_end.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>

namespace plat {

namespace {
// The write end of the current ProgramEnd's pipe, for the signal handler.
std::atomic<int> signalFd{-1};
// The first termination signal that arrived.
std::atomic<int> pendingSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

// Bytes on the pipe besides signal numbers.
constexpr unsigned char kMainDone = 0;
constexpr unsigned char kEndRequested = 255;

void onSignal(int sig) {
  int none = 0;
  pendingSignal.compare_exchange_strong(none, sig);
  const int fd = signalFd.load();
  const unsigned char c = static_cast<unsigned char>(sig);
  if (fd >= 0 && write(fd, &c, 1) < 0) {
  }
}

void writeByte(int fd, unsigned char c) {
  while (write(fd, &c, 1) < 0 && errno == EINTR) {
  }
}
}  // namespace

struct ProgramEnd::Shared {
  int pipe[2] = {-1, -1};
  // The pipe is closed: a request handled late has nowhere to go.
  std::atomic<bool> closed{false};
  std::atomic<int> endStatus{0};
  UiPoster poster;
  std::function<int(int)> onSignal;
  int graceMs = 3000;
};

int endSignalPending() { return pendingSignal.load(std::memory_order_relaxed); }

ProgramEnd::ProgramEnd(UiPoster poster, std::function<int(int)> handler, int graceMs)
    : shared_(std::make_shared<Shared>()) {
  shared_->poster = std::move(poster);
  shared_->onSignal = std::move(handler);
  shared_->graceMs = graceMs;
  if (pipe2(shared_->pipe, O_CLOEXEC) != 0) return;
  signalFd = shared_->pipe[1];
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  watch_ = std::thread([s = shared_] {
    using Clock = std::chrono::steady_clock;
    enum class State { Idle, WaitingForUi, Ending } state = State::Idle;
    int signal = 0;
    Clock::time_point deadline{};
    for (;;) {
      int timeout = -1;
      if (state != State::Idle)
        timeout = int(std::max<long long>(
            0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
      pollfd p{s->pipe[0], POLLIN, 0};
      const int r = poll(&p, 1, timeout);
      if (r < 0 && errno == EINTR) continue;
      if (r == 0) {
        if (state == State::WaitingForUi) {
          std::fprintf(stderr, "%s: ended by signal %d while busy; the close sequence did not run\n",
                       program_invocation_short_name, signal);
          _exit(128 + signal);
        }
        _exit(s->endStatus.load());
      }
      unsigned char c = 0;
      if (read(s->pipe[0], &c, 1) != 1) continue;
      if (c == kMainDone) return;
      if (c == kEndRequested) {
        state = State::Ending;
        deadline = Clock::now() + std::chrono::milliseconds(s->graceMs);
        continue;
      }
      // A signal: the first asks the UI thread to close, a second ends now.
      if (state != State::Idle) _exit(128 + c);
      state = State::WaitingForUi;
      signal = c;
      deadline = Clock::now() + std::chrono::milliseconds(s->graceMs);
      s->poster([s, c] {
        if (s->closed) return;
        const int status = s->onSignal ? s->onSignal(c) : 128 + c;
        s->endStatus = status;
        writeByte(s->pipe[1], kEndRequested);
      });
    }
  });
}

ProgramEnd::~ProgramEnd() {
  if (shared_->pipe[1] < 0) return;
  struct sigaction sa {};
  sa.sa_handler = SIG_DFL;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  signalFd = -1;
  writeByte(shared_->pipe[1], kMainDone);
  if (watch_.joinable()) watch_.join();
  shared_->closed = true;
  close(shared_->pipe[0]);
  close(shared_->pipe[1]);
}

void ProgramEnd::endWithin(int status) {
  if (shared_->pipe[1] < 0) return;
  shared_->endStatus = status;
  writeByte(shared_->pipe[1], kEndRequested);
}

}  // namespace plat
