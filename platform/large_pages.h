#pragma once
// Large arrays filled once from start to end (a model's facets, a sort's
// second copy) spend much of their filling time in the first touch of each
// small page; asking for large pages makes that a few hundred touches.
#include <cstddef>

namespace plat {

// Asks the system to back the whole large pages within [p, p + bytes) with
// large pages when they are first touched. Only a hint: nothing happens
// where the system does not offer them.
void adviseLargePages(void* p, std::size_t bytes);

// Scratch memory mapped for one large array alone, on large pages where the
// system offers them, and handed back whole when it goes. (A block this
// size from the allocator would, once freed, raise the size below which
// the allocator keeps freed blocks, and later buffers would stay held.)
class ScratchMemory {
 public:
  explicit ScratchMemory(std::size_t bytes);
  ~ScratchMemory();
  ScratchMemory(const ScratchMemory&) = delete;
  ScratchMemory& operator=(const ScratchMemory&) = delete;
  // Null when the memory could not be had.
  void* data() const { return p_; }

 private:
  void* p_ = nullptr;
  std::size_t bytes_ = 0;
};

}  // namespace plat
