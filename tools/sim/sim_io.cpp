#include "sim_io.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>

namespace sim {

namespace {

int sigPipe[2] = {-1, -1};

void onSignal(int) {
  const char b = 1;
  int saved = errno;
  [[maybe_unused]] ssize_t r = ::write(sigPipe[1], &b, 1);
  errno = saved;
}

// Unconsumed input beyond this stays in the kernel, which holds the peer back.
constexpr size_t kInputCap = 1 << 20;

int msUntil(TimePoint deadline, TimePoint now) {
  if (deadline == TimePoint::max()) return -1;
  if (deadline <= now) return 0;
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(deadline - now).count();
  long long ms = (us + 999) / 1000;
  return static_cast<int>(std::min<long long>(ms, 60000));
}

}  // namespace

std::string escape(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) {
    auto c = static_cast<unsigned char>(bytes[i]);
    bool trailingBlank = c == ' ' && i + 1 == bytes.size();
    if (c >= 0x20 && c < 0x7f && c != '\\' && !trailingBlank) {
      out += static_cast<char>(c);
    } else {
      out += "\\x";
      out += digits[c >> 4];
      out += digits[c & 15];
    }
  }
  return out;
}

std::string hex(std::string_view bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

Log::~Log() {
  if (file_ && file_ != stderr) fclose(file_);
}

bool Log::open(const std::string& path) {
  if (path == "-") {
    file_ = stderr;
    return true;
  }
  file_ = fopen(path.c_str(), "w");
  return file_ != nullptr;
}

void Log::line(const std::string& text) {
  if (!file_) return;
  fwrite(text.data(), 1, text.size(), file_);
  fputc('\n', file_);
  fflush(file_);
}

void Log::linef(const char* fmt, ...) {
  if (!file_) return;
  char buf[1024];
  va_list ap;
  va_start(ap, fmt);
  int n = vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof buf) {
    line(std::string(buf, static_cast<size_t>(n)));
    return;
  }
  std::string big(static_cast<size_t>(n) + 1, '\0');
  va_start(ap, fmt);
  vsnprintf(big.data(), big.size(), fmt, ap);
  va_end(ap);
  big.resize(static_cast<size_t>(n));
  line(big);
}

bool parseInt(std::string_view text, long long lo, long long hi, long long& out) {
  if (text.empty() || text.size() > 18) return false;
  size_t i = 0;
  bool neg = false;
  if (text[0] == '-') {
    neg = true;
    i = 1;
    if (text.size() == 1) return false;
  }
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (neg) v = -v;
  if (v < lo || v > hi) return false;
  out = v;
  return true;
}

namespace {

// "--name value" or "--name=value".
bool optionValue(int argc, char** argv, int& i, std::string_view name, std::string& value, bool& missing) {
  std::string_view a = argv[i];
  if (a.substr(0, name.size()) != name) return false;
  if (a.size() == name.size()) {
    if (i + 1 >= argc) {
      missing = true;
      return true;
    }
    value = argv[++i];
    return true;
  }
  if (a[name.size()] != '=') return false;
  value = std::string(a.substr(name.size() + 1));
  return true;
}

}  // namespace

bool parseCommonOption(int argc, char** argv, int& i, CommonOptions& opt, std::string& err) {
  std::string_view a = argv[i];
  if (a == "--pty") {
    opt.usePty = true;
    return true;
  }
  std::string v;
  bool missing = false;
  auto intOpt = [&](std::string_view name, long long lo, long long hi, int& dst) {
    if (!optionValue(argc, argv, i, name, v, missing)) return false;
    long long n = 0;
    if (missing || !parseInt(v, lo, hi, n))
      err = std::string(name) + " needs a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
    else
      dst = static_cast<int>(n);
    return true;
  };
  if (intOpt("--port", 0, 65535, opt.port)) return true;
  if (intOpt("--delay", 0, 600000, opt.replyDelayMs)) return true;
  if (intOpt("--split", 1, 1 << 20, opt.splitBytes)) return true;
  if (intOpt("--split-gap", 0, 10000, opt.splitGapMs)) return true;
  if (optionValue(argc, argv, i, "--log", v, missing)) {
    if (missing || v.empty())
      err = "--log needs a file name";
    else
      opt.logPath = v;
    return true;
  }
  if (optionValue(argc, argv, i, "--idle-timeout", v, missing)) {
    char* end = nullptr;
    double s = missing ? -1 : strtod(v.c_str(), &end);
    if (missing || end == v.c_str() || *end != '\0' || !(s > 0) || s > 1e6)
      err = "--idle-timeout needs a positive number of seconds";
    else
      opt.idleTimeoutS = s;
    return true;
  }
  return false;
}

std::string checkCommonOptions(const CommonOptions& opt) {
  if (opt.usePty == (opt.port >= 0)) return "give exactly one of --port N and --pty";
  return "";
}

void installSignalHandlers() {
  if (sigPipe[0] < 0) {
    if (pipe(sigPipe) != 0) return;
    for (int fd : sigPipe) {
      fcntl(fd, F_SETFD, FD_CLOEXEC);
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
  }
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGHUP, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

int exitStatus(EndReason why) {
  switch (why) {
    case EndReason::PeerClosed:
    case EndReason::Signal: return 0;
    case EndReason::IdleTimeout: return 3;
    case EndReason::Error: return 1;
  }
  return 1;
}

const char* endName(EndReason why) {
  switch (why) {
    case EndReason::PeerClosed: return "peer-closed";
    case EndReason::Signal: return "signal";
    case EndReason::IdleTimeout: return "idle-timeout";
    case EndReason::Error: return "error";
  }
  return "error";
}

Session::~Session() {
  if (fd_ >= 0) ::close(fd_);
  if (listenFd_ >= 0) ::close(listenFd_);
}

bool Session::open(std::string& err) {
  usePty_ = opt_.usePty;
  if (usePty_) {
    int m = posix_openpt(O_RDWR | O_NOCTTY);
    if (m < 0 || grantpt(m) != 0 || unlockpt(m) != 0) {
      err = std::string("cannot create a pseudo-terminal: ") + strerror(errno);
      if (m >= 0) ::close(m);
      return false;
    }
    // Raw both ways: no echo, no line editing, no flow control by the line
    // discipline unless the peer asks for it on its side.
    termios t{};
    if (tcgetattr(m, &t) == 0) {
      cfmakeraw(&t);
      tcsetattr(m, TCSANOW, &t);
    }
    fcntl(m, F_SETFD, FD_CLOEXEC);
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    const char* name = ptsname(m);
    if (!name) {
      err = "cannot name the pseudo-terminal";
      ::close(m);
      return false;
    }
    fd_ = m;
    log_.linef("pty %s", name);
    printf("pty %s\n", name);
    fflush(stdout);
    return true;
  }
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    err = std::string("cannot make a socket: ") + strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(opt_.port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 1) != 0) {
    err = "cannot listen on 127.0.0.1:" + std::to_string(opt_.port) + ": " + strerror(errno);
    ::close(s);
    return false;
  }
  socklen_t len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  listenFd_ = s;
  int port = ntohs(a.sin_port);
  port_ = port;
  log_.linef("listen 127.0.0.1 %d", port);
  printf("port %d\n", port);
  fflush(stdout);
  return true;
}

bool Session::waitForTcpPeer(EndReason& why) {
  for (;;) {
    TimePoint now = Clock::now();
    TimePoint idle = TimePoint::max();
    if (opt_.idleTimeoutS > 0)
      idle = lastActivity_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt_.idleTimeoutS));
    if (idle <= now) {
      why = EndReason::IdleTimeout;
      return false;
    }
    pollfd p[2] = {{sigPipe[0], POLLIN, 0}, {listenFd_, POLLIN, 0}};
    int r = ::poll(p, 2, msUntil(idle, now));
    if (r < 0 && errno != EINTR) {
      why = EndReason::Error;
      return false;
    }
    if (p[0].revents) {
      why = EndReason::Signal;
      return false;
    }
    if (p[1].revents) {
      int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (c < 0) continue;
      int one = 1;
      // Replies go out as written, so split pieces arrive as separate reads.
      setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      ::close(listenFd_);
      listenFd_ = -1;
      fd_ = c;
      return true;
    }
  }
}

size_t Session::unread() const {
  size_t n = in_.size() - inPos_;
  int k = 0;
  if (fd_ >= 0 && ioctl(fd_, FIONREAD, &k) == 0 && k > 0) n += static_cast<size_t>(k);
  return n;
}

void Session::reply(std::string_view bytes, TimePoint notBefore) {
  if (bytes.empty()) return;
  log_.line("reply " + escape(bytes));
  TimePoint due = std::max({Clock::now() + Ms(opt_.replyDelayMs), notBefore, lastDue_});
  size_t piece = opt_.splitBytes > 0 ? static_cast<size_t>(opt_.splitBytes) : bytes.size();
  for (size_t off = 0; off < bytes.size(); off += piece) {
    out_.push_back(Chunk{due, std::string(bytes.substr(off, piece))});
    lastDue_ = due;
    due += Ms(opt_.splitGapMs);
  }
}

void Session::urgent(std::string_view bytes) { urgent_.append(bytes); }

bool Session::writeSome(std::string& buf, size_t& off) {
  while (off < buf.size()) {
    ssize_t n = ::write(fd_, buf.data() + off, buf.size() - off);
    if (n > 0) {
      off += static_cast<size_t>(n);
      lastActivity_ = Clock::now();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;
  }
  return true;
}

bool Session::flushOutput(TimePoint now) {
  if (urgentOff_ < urgent_.size()) {
    if (!writeSome(urgent_, urgentOff_)) return false;
    if (urgentOff_ < urgent_.size()) return true;
    urgent_.clear();
    urgentOff_ = 0;
  }
  while (!out_.empty() && out_.front().due <= now) {
    Chunk& c = out_.front();
    if (!writeSome(c.bytes, c.off)) return false;
    if (c.off < c.bytes.size()) return true;
    out_.pop_front();
  }
  return true;
}

bool Session::readInput() {
  uint8_t buf[65536];
  for (;;) {
    ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n > 0) {
      in_.insert(in_.end(), buf, buf + n);
      lastActivity_ = Clock::now();
      if (static_cast<size_t>(n) < sizeof buf || in_.size() - inPos_ >= kInputCap) return true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;  // end of stream (TCP), EIO (the pty's last slave closed), reset
  }
}

void Session::feed(Machine& m, TimePoint now, bool drain) {
  if (inPos_ < in_.size()) {
    size_t n = m.consume(*this, in_.data() + inPos_, in_.size() - inPos_, now, drain);
    inPos_ += std::min(n, in_.size() - inPos_);
  }
  if (inPos_ == in_.size()) {
    in_.clear();
    inPos_ = 0;
  } else if (inPos_ > kInputCap) {
    in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(inPos_));
    inPos_ = 0;
  }
  m.inputChanged(*this);
}

bool Session::listenAgain(std::string& err) {
  int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    err = strerror(errno);
    return false;
  }
  int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port_));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 1) != 0) {
    err = strerror(errno);
    ::close(s);
    return false;
  }
  fcntl(s, F_SETFL, fcntl(s, F_GETFL) | O_NONBLOCK);
  listenFd_ = s;
  return true;
}

bool Session::linkDownAndUp(Machine& m, EndReason& why) {
  const int downMs = hangUpMs_;
  hangUpMs_ = -1;
  m.linkDown(*this);
  ::close(fd_);
  fd_ = -1;
  connected_ = false;
  in_.clear();
  inPos_ = 0;
  log_.linef("link-down %d", downMs);
  // Away: nothing listens, so a connect is refused.
  const TimePoint back = Clock::now() + Ms(downMs);
  for (TimePoint now = Clock::now(); now < back; now = Clock::now()) {
    pollfd p[1] = {{sigPipe[0], POLLIN, 0}};
    if (::poll(p, 1, msUntil(back, now)) > 0 && p[0].revents) {
      why = EndReason::Signal;
      return false;
    }
  }
  std::string err;
  if (!listenAgain(err)) {
    log_.linef("link-up-failed %s", escape(err).c_str());
    why = EndReason::Error;
    return false;
  }
  log_.linef("link-up %d", port_);
  lastActivity_ = Clock::now();
  if (!waitForTcpPeer(why)) return false;
  connected_ = true;
  log_.line("connect");
  m.connected(*this);
  return true;
}

EndReason Session::run(Machine& m) {
  lastActivity_ = Clock::now();
  EndReason why = EndReason::PeerClosed;
  if (!usePty_) {
    if (!waitForTcpPeer(why)) {
      log_.linef("end %s", endName(why));
      return why;
    }
    connected_ = true;
    log_.line("connect");
    m.connected(*this);
  }
  bool peerGone = false;
  bool ended = false;
  while (!ended) {
    TimePoint now = Clock::now();
    if (connected_) feed(m, now, false);
    if (!flushOutput(now)) {
      peerGone = true;
      break;
    }
    if (hangUpMs_ >= 0 && !usePty_ && out_.empty() && urgentOff_ >= urgent_.size()) {
      if (!linkDownAndUp(m, why)) {
        ended = true;
        break;
      }
      continue;
    }
    bool inputWaiting = inPos_ < in_.size();
    TimePoint deadline = TimePoint::max();
    bool wantWrite = urgentOff_ < urgent_.size();
    if (!out_.empty()) {
      if (out_.front().due <= now)
        wantWrite = true;
      else
        deadline = out_.front().due;
    }
    if (inputWaiting) deadline = std::min(deadline, m.wakeAt());
    TimePoint idle = TimePoint::max();
    if (opt_.idleTimeoutS > 0) {
      idle = lastActivity_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opt_.idleTimeoutS));
      deadline = std::min(deadline, idle);
    }
    short events = 0;
    if (in_.size() - inPos_ < kInputCap) events |= POLLIN;
    if (wantWrite) events |= POLLOUT;
    pollfd p[2] = {{sigPipe[0], POLLIN, 0}, {fd_, events, 0}};
    int r = ::poll(p, 2, msUntil(deadline, now));
    if (r < 0 && errno != EINTR) {
      why = EndReason::Error;
      break;
    }
    if (r > 0 && p[0].revents) {
      why = EndReason::Signal;
      break;
    }
    if (r > 0 && (p[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      // A hang-up is read through: what the peer wrote before it went is
      // still taken, and the read that finds nothing more says it has gone.
      size_t before = in_.size();
      if (!readInput()) {
        peerGone = true;
      } else if ((p[1].revents & (POLLHUP | POLLERR)) && in_.size() == before) {
        peerGone = true;
      }
      if (peerGone && usePty_ && !connected_ && in_.size() == before) {
        // A peer that opened the line and closed it again before it said
        // anything (a port probe) has not come yet: wait for the next open.
        peerGone = false;
        pollfd sig = {sigPipe[0], POLLIN, 0};
        if (::poll(&sig, 1, 20) > 0) {
          why = EndReason::Signal;
          break;
        }
      }
      if (!connected_ && in_.size() > before) {
        connected_ = true;
        log_.line("connect");
        m.connected(*this);
      }
      if (peerGone) break;
    }
    if (idle != TimePoint::max() && Clock::now() >= idle) {
      why = EndReason::IdleTimeout;
      ended = true;
    }
  }
  if (peerGone) {
    why = EndReason::PeerClosed;
    // Take what is left at once (no dwell, no rate), so the log holds every
    // byte the peer sent; a peer that only shut its sending side still gets
    // what can be written.
    if (connected_) feed(m, Clock::now(), true);
    flushOutput(TimePoint::max());
  }
  m.finished(*this);
  log_.linef("end %s", endName(why));
  return why;
}

}  // namespace sim
