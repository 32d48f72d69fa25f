#include "folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace plat {

FolderLock::~FolderLock() { release(); }

void FolderLock::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

FolderLock::Result FolderLock::acquire(const std::string& folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Result::Failed;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    ::close(fd);
    return Result::Failed;
  }
  if (fd_ >= 0 && st.st_dev == dev_ && st.st_ino == ino_) {
    ::close(fd);
    return Result::Held;
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return Result::InUse;
  }
  release();
  fd_ = fd;
  dev_ = st.st_dev;
  ino_ = st.st_ino;
  return Result::Held;
}

}  // namespace plat
