#pragma once
// An exclusive hold on a folder among processes that ask for it: an flock
// on the folder itself (no file is made in it). The kernel releases it when
// the holder ends, however it ends.
#include <sys/types.h>

#include <string>

namespace plat {

class FolderLock {
 public:
  enum class Result { Held, InUse, Failed };

  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  // Holds `folder`, letting go of another folder held before. Held when
  // this object holds it now (also when it already did); InUse when another
  // holder has it; Failed when the folder cannot be opened.
  Result acquire(const std::string& folder);
  void release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  dev_t dev_ = 0;
  ino_t ino_ = 0;
};

}  // namespace plat
