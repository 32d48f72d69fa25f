#include "named_event.h"

#include <fcntl.h>

#include <cerrno>
#include <ctime>

#include "named_objects.h"

namespace plat {

std::unique_ptr<NamedEvent> NamedEvent::open(const std::string& name) {
  sem_t* s = sem_open(posixObjectName(name).c_str(), O_CREAT, 0600, 0);
  if (s == SEM_FAILED) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(s, name));
}

std::unique_ptr<NamedEvent> NamedEvent::openExisting(const std::string& name) {
  sem_t* s = sem_open(posixObjectName(name).c_str(), 0);
  if (s == SEM_FAILED) return nullptr;
  return std::unique_ptr<NamedEvent>(new NamedEvent(s, name));
}

NamedEvent::~NamedEvent() { sem_close(sem_); }

bool NamedEvent::set() {
  // An event that is already set stays set once: do not pile up counts.
  int v = 0;
  if (sem_getvalue(sem_, &v) == 0 && v > 0) return true;
  return sem_post(sem_) == 0;
}

void NamedEvent::reset() {
  while (sem_trywait(sem_) == 0) {
  }
}

NamedEvent::Wait NamedEvent::wait(int timeoutMs) {
  int r;
  if (timeoutMs < 0) {
    do r = sem_wait(sem_);
    while (r != 0 && errno == EINTR);
  } else {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += timeoutMs / 1000;
    ts.tv_nsec += long(timeoutMs % 1000) * 1000000L;
    if (ts.tv_nsec >= 1000000000L) {
      ts.tv_sec += 1;
      ts.tv_nsec -= 1000000000L;
    }
    do r = sem_timedwait(sem_, &ts);
    while (r != 0 && errno == EINTR);
  }
  if (r != 0) return errno == ETIMEDOUT ? Wait::Timeout : Wait::Failed;
  reset();
  return Wait::Signalled;
}

bool NamedEvent::setNamed(const std::string& name) {
  auto e = open(name);
  return e && e->set();
}

void NamedEvent::remove(const std::string& name) { sem_unlink(posixObjectName(name).c_str()); }

}  // namespace plat
