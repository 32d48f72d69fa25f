#pragma once
// A named shared memory block (the counterpart of a named file mapping).
#include <cstddef>
#include <memory>
#include <string>

namespace plat {

class SharedMemory {
 public:
  // Opens the block of that name, creating it with `size` bytes when absent
  // and growing it when it is smaller. Returns null when the system refuses.
  static std::unique_ptr<SharedMemory> open(const std::string& name, std::size_t size);
  // Removes the name from the system (mappings stay valid).
  static void remove(const std::string& name);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  unsigned char* data() const { return data_; }
  // The number of bytes actually mapped: never write past it.
  std::size_t size() const { return size_; }

 private:
  SharedMemory(unsigned char* d, std::size_t n) : data_(d), size_(n) {}
  unsigned char* data_;
  std::size_t size_;
};

}  // namespace plat
