#pragma once
// The test's side of a simulator: starts it as a child process, reads the
// line it announces ("port N" or "pty PATH"), talks to it over TCP or its
// pseudo-terminal and reads its log. Standard library, POSIX and GoogleTest
// only.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

using SteadyClock = std::chrono::steady_clock;
constexpr int kWaitMs = 5000;  // the longest any reply may take

inline std::string testLogName(const std::string& suffix = "") {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = std::string(info->test_suite_name()) + "_" + info->name() + suffix + ".log";
  for (char& c : name)
    if (c == '/') c = '_';
  return name;
}

// A simulator started for one test; killed at the end if still running.
class SimProcess {
 public:
  SimProcess() = default;
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;
  ~SimProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      int st = 0;
      ::waitpid(pid_, &st, 0);
    }
    if (outFd_ >= 0) ::close(outFd_);
  }

  // Starts exe with args and "--log <logPath>"; reads its announcement.
  bool start(const std::string& exe, std::vector<std::string> args, const std::string& logPath) {
    logPath_ = logPath;
    ::unlink(logPath.c_str());
    args.insert(args.begin(), exe);
    args.push_back("--log");
    args.push_back(logPath);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int p[2];
    if (::pipe2(p, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, p[1], 1);
    int rc = posix_spawn(&pid_, exe.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(p[1]);
    outFd_ = p[0];
    if (rc != 0) {
      pid_ = -1;
      return false;
    }
    announce_ = readLine();
    return !announce_.empty();
  }

  const std::string& announce() const { return announce_; }
  int port() const { return announce_.rfind("port ", 0) == 0 ? std::stoi(announce_.substr(5)) : -1; }
  std::string ptyPath() const { return announce_.rfind("pty ", 0) == 0 ? announce_.substr(4) : ""; }

  void signal(int sig) const {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // The exit status, or -1 when it has not ended within timeoutMs (or died
  // from a signal).
  int wait(int timeoutMs = kWaitMs) {
    auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    while (pid_ > 0) {
      int st = 0;
      pid_t r = ::waitpid(pid_, &st, WNOHANG);
      if (r == pid_) {
        pid_ = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
      }
      if (SteadyClock::now() >= end) return -1;
      ::usleep(5000);
    }
    return -1;
  }

  std::vector<std::string> log() const {
    std::ifstream f(logPath_);
    std::vector<std::string> lines;
    for (std::string l; std::getline(f, l);) lines.push_back(l);
    return lines;
  }
  // The log lines that begin with prefix.
  std::vector<std::string> log(const std::string& prefix) const {
    std::vector<std::string> out;
    for (auto& l : log())
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }

 private:
  std::string readLine() {
    std::string line;
    auto end = SteadyClock::now() + std::chrono::milliseconds(kWaitMs);
    while (SteadyClock::now() < end) {
      pollfd p{outFd_, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      char c;
      ssize_t n = ::read(outFd_, &c, 1);
      if (n <= 0) return "";
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

  pid_t pid_ = -1;
  int outFd_ = -1;
  std::string announce_;
  std::string logPath_;
};

// The peer's end of the link: a TCP client or the pseudo-terminal's slave.
class Peer {
 public:
  Peer() = default;
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;
  ~Peer() { close(); }

  bool connectTcp(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return false;
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return true;
  }

  // Opens the slave raw, as a serial component without flow control would.
  bool openPty(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    return tcsetattr(fd_, TCSANOW, &t) == 0;
  }

  void send(const std::string& bytes) const {
    size_t off = 0;
    auto end = SteadyClock::now() + std::chrono::milliseconds(kWaitMs);
    while (off < bytes.size() && SteadyClock::now() < end) {
      ssize_t n = ::write(fd_, bytes.data() + off, bytes.size() - off);
      if (n > 0) {
        off += static_cast<size_t>(n);
        continue;
      }
      pollfd p{fd_, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }

  // Reads until the text received so far contains want; returns everything
  // received up to and including it, which is then taken off the buffer.
  // Returns "" (and keeps the buffer) when it does not come in time.
  std::string until(const std::string& want, int timeoutMs = kWaitMs) {
    auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      size_t at = buf_.find(want);
      if (at != std::string::npos) {
        std::string out = buf_.substr(0, at + want.size());
        buf_.erase(0, at + want.size());
        return out;
      }
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now()).count();
      if (left <= 0 || !readOnce(static_cast<int>(left))) return "";
    }
  }

  // True when nothing arrives for ms milliseconds.
  bool quietFor(int ms) {
    auto end = SteadyClock::now() + std::chrono::milliseconds(ms);
    size_t before = buf_.size();
    for (;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now()).count();
      if (left <= 0) return buf_.size() == before;
      readOnce(static_cast<int>(left));
      if (buf_.size() != before) return false;
    }
  }

  int reads() const { return reads_; }
  const std::string& pending() const { return buf_; }

  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  bool readOnce(int timeoutMs) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) return true;
    char tmp[65536];
    ssize_t n = ::read(fd_, tmp, sizeof tmp);
    if (n > 0) {
      buf_.append(tmp, static_cast<size_t>(n));
      ++reads_;
      return true;
    }
    return n < 0 && errno == EAGAIN;
  }

  int fd_ = -1;
  std::string buf_;
  int reads_ = 0;
};

}  // namespace simtest
