#include "platform/large_pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace plat {

void adviseLargePages(void* p, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
  constexpr std::uintptr_t kLarge = std::uintptr_t(2) << 20;
  const std::uintptr_t from = (reinterpret_cast<std::uintptr_t>(p) + kLarge - 1) & ~(kLarge - 1);
  const std::uintptr_t to = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kLarge - 1);
  if (to > from) (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
#endif
}

}  // namespace plat

namespace plat {

ScratchMemory::ScratchMemory(std::size_t bytes) : bytes_(bytes) {
  if (bytes == 0) return;
  void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return;
  p_ = p;
  adviseLargePages(p_, bytes_);
}

ScratchMemory::~ScratchMemory() {
  if (p_) munmap(p_, bytes_);
}

}  // namespace plat
