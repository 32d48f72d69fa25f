// Blocks of a megabyte and more are mapped on their own, aligned to and
// backed by huge pages: the simplifier fills several hundred megabytes, and
// taking them in 4 KB pages one by one costs more processor time than the
// reduction on machines where each page fault is dear (virtual machines in
// particular). A freed block is kept for the next one of about its size
// (the simplifier asks for the same sizes block after block), up to a
// bound. Smaller blocks come from malloc, which is told to keep the memory
// it is given back rather than return it to the system and take it again.
#include <malloc.h>
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;
constexpr std::size_t kBig = std::size_t(1) << 20;

// The blocks mapped here, by address (open addressing; a block that finds
// no room comes from malloc instead).
constexpr std::size_t kSlots = 1 << 14;
struct Mapped {
  std::uintptr_t at = 0;  // 0: free; 1: was used (the probe goes on)
  std::size_t size = 0;
};
Mapped slots[kSlots];
std::size_t used = 0;
std::mutex lock;

// Freed blocks kept for use again.
constexpr std::size_t kKeptBlocks = 256;
constexpr std::size_t kKeptBytes = std::size_t(512) << 20;
Mapped kept[kKeptBlocks];
std::size_t keptCount = 0, keptBytes = 0;

std::size_t slotOf(std::uintptr_t p) { return std::size_t((p >> 21) * 0x9E3779B97F4A7C15ull >> 50) & (kSlots - 1); }

void* mapBlock(std::size_t n) {
  const std::size_t size = (n + kHugePage - 1) & ~(kHugePage - 1);
  {
    // The smallest kept block that holds it, unless it is twice as big.
    std::lock_guard<std::mutex> hold(lock);
    std::size_t best = keptCount;
    for (std::size_t i = 0; i < keptCount; ++i)
      if (kept[i].size >= size && kept[i].size <= 2 * size && (best == keptCount || kept[i].size < kept[best].size))
        best = i;
    if (best < keptCount) {
      const std::uintptr_t at = kept[best].at;
      keptBytes -= kept[best].size;
      kept[best] = kept[--keptCount];
      return reinterpret_cast<void*>(at);
    }
  }
  // Mapped with a huge page to spare, so the block starts on one.
  void* raw = ::mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const std::uintptr_t start = std::uintptr_t(raw), at = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (at > start) ::munmap(raw, at - start);
  if (start + kHugePage > at) ::munmap(reinterpret_cast<void*>(at + size), start + kHugePage - at);
  ::madvise(reinterpret_cast<void*>(at), size, MADV_HUGEPAGE);
  std::lock_guard<std::mutex> hold(lock);
  if (used * 2 >= kSlots) {
    ::munmap(reinterpret_cast<void*>(at), size);
    return nullptr;
  }
  std::size_t s = slotOf(at);
  while (slots[s].at > 1) s = (s + 1) & (kSlots - 1);
  slots[s] = {at, size};
  ++used;
  return reinterpret_cast<void*>(at);
}

// True when the block was mapped here (and is now kept or unmapped).
bool unmapBlock(void* p) {
  const std::uintptr_t at = std::uintptr_t(p);
  if (at & (kHugePage - 1)) return false;  // mapped blocks start on a huge page
  std::size_t size = 0;
  {
    std::lock_guard<std::mutex> hold(lock);
    std::size_t s = slotOf(at);
    while (slots[s].at != 0 && slots[s].at != at) s = (s + 1) & (kSlots - 1);
    if (slots[s].at != at) return false;
    size = slots[s].size;
    if (keptCount < kKeptBlocks && keptBytes + size <= kKeptBytes) {
      kept[keptCount++] = {at, size};
      keptBytes += size;
      return true;
    }
    slots[s] = {1, 0};
    --used;
  }
  ::munmap(p, size);
  return true;
}

// Set before main: malloc keeps freed memory (no trimming), and its own
// mapped blocks start at the size where ours do, so it never raises that
// bound on its own.
const bool heapKept = [] {
  mallopt(M_MMAP_THRESHOLD, int(kBig));
  mallopt(M_TRIM_THRESHOLD, 1 << 30);
  return true;
}();

void* allocate(std::size_t n) {
  void* p = n >= kBig ? mapBlock(n) : nullptr;
  if (!p) p = std::malloc(n == 0 ? 1 : n);
  if (!p) throw std::bad_alloc();
  return p;
}

void release(void* p) {
  if (p && !unmapBlock(p)) std::free(p);
}

}  // namespace

void* operator new(std::size_t n) { return allocate(n); }
void* operator new[](std::size_t n) { return allocate(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
