#include "slicer/printer_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format.h"

namespace lt {

namespace {

speed_t speedOf(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return B0;
  }
}

constexpr unsigned char kXoff = 0x13, kXon = 0x11;
constexpr std::size_t kPiece = 50;

}  // namespace

int openPrinterPort(int baud, bool raiseDtr, const std::string& device) {
  const speed_t speed = speedOf(baud);
  if (speed == B0) {
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  // Not shared: root ignores TIOCEXCL, so a lock as well.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  ::ioctl(fd, TIOCEXCL);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= tcflag_t(~(CSIZE | PARENB | CSTOPB | CRTSCTS));
  t.c_cflag |= CS8 | CLOCAL | CREAD;
  t.c_iflag &= tcflag_t(~(IXON | IXOFF | IXANY));
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    const int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  int dtr = TIOCM_DTR;
  ::ioctl(fd, raiseDtr ? TIOCMBIS : TIOCMBIC, &dtr);  // not every device has modem lines
  return fd;
}

PortWriter::PortWriter(int fd, std::string device, Hooks hooks)
    : fd_(fd), device_(std::move(device)), hooks_(std::move(hooks)) {}

PortWriter::~PortWriter() {
  if (fd_ >= 0) ::close(fd_);
}

void PortWriter::readReplies() {
  unsigned char buf[256];
  for (;;) {
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n <= 0) return;
    for (ssize_t i = 0; i < n; ++i) {
      if (buf[i] == kXoff) flowStopped_ = true;
      else if (buf[i] == kXon) flowStopped_ = false;
    }
  }
}

void PortWriter::waitForPrinter() {
  for (;;) {
    readReplies();
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0) queued = 0;
    if (!flowStopped_ && queued < 50) return;
    if (hooks_.stopping && hooks_.stopping()) {
      sinceCheck_ = 10;
      return;
    }
    if (hooks_.waitTick) hooks_.waitTick();
  }
}

bool PortWriter::sendAll(std::string_view piece) {
  while (!piece.empty()) {
    const ssize_t n = ::write(fd_, piece.data(), piece.size());
    if (n > 0) {
      piece.remove_prefix(std::size_t(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      error_ = plat::format("cannot send to the printer on %s: %s", device_, std::string(std::strerror(errno)));
      return false;
    }
    // The driver's buffer is full: wait for room, letting the window work.
    pollfd p{fd_, POLLOUT, 0};
    if (::poll(&p, 1, 100) <= 0) {
      if (hooks_.aborted && hooks_.aborted()) return true;
      if (hooks_.waitTick) hooks_.waitTick();
    }
  }
  return true;
}

bool PortWriter::write(std::string_view bytes) {
  if (fd_ < 0 || !error_.empty()) return false;
  while (!bytes.empty()) {
    const std::string_view piece = bytes.substr(0, kPiece);
    bytes.remove_prefix(piece.size());
    if (hooks_.aborted && hooks_.aborted()) continue;
    sinceCheck_ += int(piece.size());
    if (sinceCheck_ > 7) {
      sinceCheck_ = 0;
      waitForPrinter();
    }
    if (hooks_.aborted && hooks_.aborted()) continue;
    if (!sendAll(piece)) return false;
  }
  return true;
}

bool PortWriter::close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  return error_.empty();
}

}  // namespace lt
