#include "shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "named_objects.h"

namespace plat {

std::unique_ptr<SharedMemory> SharedMemory::open(const std::string& name, std::size_t size) {
  if (size == 0) return nullptr;
  int fd = shm_open(posixObjectName(name).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return nullptr;
  }
  if (std::size_t(st.st_size) < size && ftruncate(fd, off_t(size)) != 0) {
    ::close(fd);
    return nullptr;
  }
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (p == MAP_FAILED) return nullptr;
  return std::unique_ptr<SharedMemory>(new SharedMemory(static_cast<unsigned char*>(p), size));
}

void SharedMemory::remove(const std::string& name) { shm_unlink(posixObjectName(name).c_str()); }

SharedMemory::~SharedMemory() { munmap(data_, size_); }

}  // namespace plat
