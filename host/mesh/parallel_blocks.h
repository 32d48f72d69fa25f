#pragma once
// A parallel step of the mesh tools: n independent items cut into one
// block per worker (the processors this process may use, or PRISM_WORKERS),
// the calling thread taking the first block; returns when all are done.
// Small counts run on the calling thread alone.
#include <algorithm>
#include <cstddef>
#include <thread>
#include <vector>

#include "platform/workers.h"

namespace ph {

template <class F>
void forBlocks(std::size_t n, F&& f) {
  int workers = plat::requestedWorkers();
  if (workers == 0) workers = plat::usableProcessors();
  workers = int(std::min<std::size_t>(std::size_t(std::max(workers, 1)), n / 4096 + 1));
  const std::size_t step = (n + std::size_t(workers) - 1) / std::size_t(workers);
  std::vector<std::thread> threads;
  for (int w = 1; w < workers; ++w) {
    const std::size_t b = std::size_t(w) * step, e = std::min(n, b + step);
    if (b < e) threads.emplace_back([&f, b, e] { f(b, e); });
  }
  f(std::size_t(0), std::min(n, step));
  for (auto& t : threads) t.join();
}

}  // namespace ph
