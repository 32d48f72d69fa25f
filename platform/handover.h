#pragma once
// Synchronous hand-over from a waiting thread to the user-interface thread:
// the waiting thread posts a call and blocks until the UI thread has run it.
// close() cancels: calls not yet run are dropped and every waiting thread
// returns at once, so a component can close (and join its thread) even from
// inside one of its own handlers without a deadlock.
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace plat {

// Posts a callable to the user-interface thread; callable from any thread.
using UiPoster = std::function<void(std::function<void()>)>;

class HandOver : public std::enable_shared_from_this<HandOver> {
 public:
  static std::shared_ptr<HandOver> create(UiPoster poster);

  // Background thread: runs fn on the UI thread and waits until it has run.
  // False when the hand-over is closed (fn did not run, or runs no more).
  bool callAndWait(std::function<void()> fn);
  // Any thread: no further call runs; waiting threads return false.
  void close();
  bool closed() const;

 private:
  explicit HandOver(UiPoster p) : poster_(std::move(p)) {}
  struct Job {
    std::function<void()> fn;
    bool done = false;
  };
  void runPending();

  UiPoster poster_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::shared_ptr<Job>> pending_;
  bool closed_ = false;
};

// A poster for tests and tools that have no Qt event loop: calls queue up
// until the owning thread runs them.
class PostQueue {
 public:
  UiPoster poster();
  // Runs every queued call (also those queued while running); returns the count.
  int runAll();
  // Waits up to timeoutMs for at least one call, then runs all queued calls.
  int waitAndRun(int timeoutMs);

 private:
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> q_;
};

// A poster onto the Qt application's event loop (the GUI thread).
UiPoster qtUiPoster();

}  // namespace plat
