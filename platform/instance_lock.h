#pragma once
// Instance numbers of a running program: number n is held by an exclusive
// flock on a lock file named after "<base><n>"; the kernel releases it when
// the process ends, however it ends.
#include <string>

namespace plat {

class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the first free number from 1 to maxNumber; when all are taken the
  // result is maxNumber without holding it (as the host expects).
  int acquire(const std::string& baseName, int maxNumber);
  bool held() const { return fd_ >= 0; }
  void release();

 private:
  int fd_ = -1;
};

}  // namespace plat
