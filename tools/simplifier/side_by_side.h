#pragma once
// The simplifier's threads: one task per item, the items taken in turn by
// one worker per usable processor (or PRISM_WORKERS when measuring).
#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <type_traits>
#include <vector>

#include "platform/workers.h"

namespace simp {

inline unsigned workers() {
  const int asked = plat::requestedWorkers();
  return unsigned(std::max(1, asked > 0 ? asked : plat::usableProcessors()));
}

// Runs f(i) for every i below n, or f(i, worker) with the number of the
// worker (below workers()) that runs it; returns when all are done.
template <class F>
void sideBySide(std::size_t n, F&& f) {
  const std::size_t count = std::min<std::size_t>(n, workers());
  std::atomic<std::size_t> next{0};
  auto work = [&](unsigned worker) {
    for (std::size_t i; (i = next.fetch_add(1)) < n;) {
      if constexpr (std::is_invocable_v<F&, std::size_t, unsigned>)
        f(i, worker);
      else
        f(i);
    }
  };
  std::vector<std::thread> threads;
  for (std::size_t t = 1; t < count; ++t) threads.emplace_back(work, unsigned(t));
  work(0);
  for (auto& t : threads) t.join();
}

}  // namespace simp
