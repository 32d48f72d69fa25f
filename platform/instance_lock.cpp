#include "instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "named_objects.h"

namespace plat {

InstanceLock::~InstanceLock() { release(); }

void InstanceLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

int InstanceLock::acquire(const std::string& baseName, int maxNumber) {
  release();
  for (int n = 1; n <= maxNumber; ++n) {
    std::string path = runtimeDir() + posixObjectName(baseName + std::to_string(n)) + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) continue;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return n;
    }
    ::close(fd);
  }
  return maxNumber;
}

}  // namespace plat
