// The serial device on termios: real serial lines and pseudo-terminals.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "host/components/comm_device.h"
#include "host/components/comm_termios.h"
#include "host/components/termios2_baud.h"

namespace ph {

int applyLineSettings(termios& t, const CommLineSettings& s) {
  // A Linux tty starts canonical and echoing; the machines speak binary,
  // so input and output processing always go, whatever else is kept.
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  // Receive, and never let the carrier line gate the port.
  t.c_cflag |= CREAD | CLOCAL;
  // VMIN 1 on a non-blocking descriptor: "nothing yet" is EAGAIN and a
  // read of 0 means the line hung up.
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (s.full) {
    tcflag_t size = 0;
    switch (s.byteSize) {
      case 5: size = CS5; break;
      case 6: size = CS6; break;
      case 7: size = CS7; break;
      case 8: size = CS8; break;
      default: return EINVAL;  // 4-bit words: no Linux driver has them
    }
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size;
    switch (s.parity) {
      case TParity::paNone: break;
      case TParity::paEven: t.c_cflag |= PARENB; break;
      case TParity::paOdd: t.c_cflag |= PARENB | PARODD; break;
      case TParity::paMark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
      case TParity::paSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // Linux has no 1.5 stop bits; with 5-bit words CSTOPB gives 1.5 on
    // the usual UARTs.
    if (s.stopBits != TStopBits::sb10) t.c_cflag |= CSTOPB;
    t.c_iflag &= ~INPCK;
    if (s.options.has(TCommOption::coParityCheck)) t.c_iflag |= INPCK;
    // coDsrSensitivity, coIgnoreXOff, coErrorChar and coNullStrip, the
    // XON/XOFF limits and the error, end and event characters have no
    // termios counterpart and are accepted without effect; so is DSR
    // output flow (fcDTR).
    if (s.flow == TFlowControl::fcCTS) t.c_cflag |= CRTSCTS;
    if (s.flow == TFlowControl::fcSoftware) {
      t.c_iflag |= IXON | IXOFF;
      t.c_cc[VSTART] = s.xonChar;
      t.c_cc[VSTOP] = s.xoffChar;
    }
  }
  return 0;
}

namespace {

class TermiosDevice : public CommDevice {
 public:
  TermiosDevice(int fd, int wakeFd) : fd_(fd), wakeFd_(wakeFd) {}
  ~TermiosDevice() override {
    ioctl(fd_, TIOCNXCL);  // the next user of the line may open it again
    ::close(wakeFd_);
    ::close(fd_);  // also drops the flock
  }

  int configure(const CommLineSettings& s) override {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return errno;
    if (int e = applyLineSettings(t, s)) return e;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return errno;
    if (s.full) {
      if (int e = setLineBaud(fd_, s.baud)) return e;
      if (s.flow == TFlowControl::fcSoftware) {
        // Software flow control holds DTR and RTS low; a line without
        // modem lines simply has none to drop.
        int bits = TIOCM_DTR | TIOCM_RTS;
        ioctl(fd_, TIOCMBIC, &bits);
      }
    }
    return 0;
  }

  int read(std::uint8_t* data, int count) override {
    ssize_t r = ::read(fd_, data, static_cast<size_t>(count));
    if (r > 0) return static_cast<int>(r);
    if (r == 0) return -EIO;  // hung up
    return errno == EWOULDBLOCK ? -EAGAIN : -errno;
  }

  int write(const std::uint8_t* data, int count) override {
    ssize_t r = ::write(fd_, data, static_cast<size_t>(count));
    if (r >= 0) return r == 0 ? -EAGAIN : static_cast<int>(r);
    return errno == EWOULDBLOCK ? -EAGAIN : -errno;
  }

  void waitReadable(int timeoutMs) override { waitFor(POLLIN, timeoutMs); }
  void waitWritable(int timeoutMs) override { waitFor(POLLOUT, timeoutMs); }

  int inQueue() override {
    int n = 0;
    return ioctl(fd_, TIOCINQ, &n) == 0 ? n : 0;
  }
  int outQueue() override {
    int n = 0;
    return ioctl(fd_, TIOCOUTQ, &n) == 0 ? n : 0;
  }
  void purge(bool input, bool output) override {
    if (input && output) tcflush(fd_, TCIOFLUSH);
    else if (input) tcflush(fd_, TCIFLUSH);
    else if (output) tcflush(fd_, TCOFLUSH);
  }

  bool modemLines(unsigned& bits) override {
    int m = 0;
    if (ioctl(fd_, TIOCMGET, &m) != 0) return false;
    bits = ((m & TIOCM_CTS) ? ml::Cts : 0) | ((m & TIOCM_DSR) ? ml::Dsr : 0) |
           ((m & TIOCM_RNG) ? ml::Ring : 0) | ((m & TIOCM_CAR) ? ml::Rlsd : 0);
    return true;
  }

  bool counters(CommCounters& c) override {
    serial_icounter_struct s{};
    if (ioctl(fd_, TIOCGICOUNT, &s) != 0) return false;
    c.cts = static_cast<std::uint32_t>(s.cts);
    c.dsr = static_cast<std::uint32_t>(s.dsr);
    c.rng = static_cast<std::uint32_t>(s.rng);
    c.dcd = static_cast<std::uint32_t>(s.dcd);
    c.brk = static_cast<std::uint32_t>(s.brk);
    c.frame = static_cast<std::uint32_t>(s.frame);
    c.overrun = static_cast<std::uint32_t>(s.overrun);
    c.parity = static_cast<std::uint32_t>(s.parity);
    c.bufOverrun = static_cast<std::uint32_t>(s.buf_overrun);
    return true;
  }

  int escape(CommEscape code) override {
    int r = 0;
    int bits = 0;
    switch (code) {
      case CommEscape::SetDtr: bits = TIOCM_DTR; r = ioctl(fd_, TIOCMBIS, &bits); break;
      case CommEscape::ClrDtr: bits = TIOCM_DTR; r = ioctl(fd_, TIOCMBIC, &bits); break;
      case CommEscape::SetRts: bits = TIOCM_RTS; r = ioctl(fd_, TIOCMBIS, &bits); break;
      case CommEscape::ClrRts: bits = TIOCM_RTS; r = ioctl(fd_, TIOCMBIC, &bits); break;
      case CommEscape::SetBreak: r = ioctl(fd_, TIOCSBRK); break;
      case CommEscape::ClrBreak: r = ioctl(fd_, TIOCCBRK); break;
      // As if XON / XOFF had been received: resume / suspend our output.
      case CommEscape::SetXOn: r = tcflow(fd_, TCOON); break;
      case CommEscape::SetXOff: r = tcflow(fd_, TCOOFF); break;
      default: return EINVAL;
    }
    return r == 0 ? 0 : errno;
  }

  CommWaitResult waitEvent(bool wantInput, int timeoutMs) override {
    CommWaitResult res;
    pollfd p[2] = {{fd_, static_cast<short>(wantInput ? POLLIN : 0), 0}, {wakeFd_, POLLIN, 0}};
    int n = ::poll(p, 2, timeoutMs);
    if (n <= 0) return res;
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      hungUp_ = true;
      res.hungUp = true;
    }
    if (p[0].revents & POLLIN) res.readable = true;
    if (p[1].revents & POLLIN) {
      drainWake();
      res.woken = true;
    }
    return res;
  }

  void waitWake() override {
    pollfd p{wakeFd_, POLLIN, 0};
    while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
    }
    drainWake();
  }

  void wake() override {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t r = ::write(wakeFd_, &one, sizeof one);
  }

  bool hungUp() const override { return hungUp_; }

 private:
  void waitFor(short what, int timeoutMs) {
    pollfd p{fd_, what, 0};
    ::poll(&p, 1, timeoutMs);
  }
  void drainWake() {
    std::uint64_t v;
    [[maybe_unused]] ssize_t r = ::read(wakeFd_, &v, sizeof v);
  }

  const int fd_;
  const int wakeFd_;
  std::atomic<bool> hungUp_{false};
};

class TermiosBackend : public CommBackend {
 public:
  std::unique_ptr<CommDevice> open(const std::string& path) override {
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st{};
    // Only serial lines: a plain file or another kind of device is refused.
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !isatty(fd)) {
      ::close(fd);
      return nullptr;
    }
    // The port is ours alone. TIOCEXCL keeps other users out but not root,
    // so a flock marks it for every program (and every component) that asks.
    ioctl(fd, TIOCEXCL);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd);
      return nullptr;
    }
    int wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) {
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<TermiosDevice>(fd, wakeFd);
  }
};

}  // namespace

std::shared_ptr<CommBackend> termiosCommBackend() {
  static auto backend = std::make_shared<TermiosBackend>();
  return backend;
}

}  // namespace ph
