#pragma once
// Helpers for the serial-port tests: a pseudo-terminal whose master side the
// test plays, and pumping the user-interface queue with a bound.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/handover.h"

namespace commtest {

// A pseudo-terminal: the component opens `slave`, the test reads and writes
// `master`. Termios requests on the master act on the slave side.
struct Pty {
  int master = -1;
  std::string slave;
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    slave = ptsname(master);
  }
  ~Pty() { closeMaster(); }
  void closeMaster() {
    if (master >= 0) ::close(master);
    master = -1;
  }
  void send(const std::string& s) const {
    size_t off = 0;
    while (off < s.size()) {
      ssize_t n = ::write(master, s.data() + off, s.size() - off);
      if (n > 0) off += static_cast<size_t>(n);
      else {
        pollfd p{master, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }
  // Everything that arrives until the line stays quiet for quietMs.
  std::string drain(int quietMs = 100) const {
    std::string out;
    char buf[65536];
    for (;;) {
      pollfd p{master, POLLIN, 0};
      if (::poll(&p, 1, quietMs) <= 0) return out;
      ssize_t n = ::read(master, buf, sizeof buf);
      if (n <= 0) return out;
      out.append(buf, static_cast<size_t>(n));
    }
  }
};

// Runs queued user-interface calls until cond holds; false after timeoutMs.
inline bool pumpUntil(plat::PostQueue& q, const std::function<bool()>& cond, int timeoutMs = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    q.waitAndRun(10);
  }
  return true;
}

// Runs queued calls for a while; returns how many ran (for "nothing more
// happens" checks).
inline int pumpFor(plat::PostQueue& q, int ms) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  int n = 0;
  while (std::chrono::steady_clock::now() < end) n += q.waitAndRun(10);
  return n;
}

}  // namespace commtest
