#pragma once
// A simulated machine of tools/sim as a child process of the test, and its
// one-event-per-line log.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/process.h"

namespace ph {

// A simulator process; its log file names where it listens.
class Simulator {
 public:
  ~Simulator() { stop(); }
  bool start(const std::string& exe, std::vector<std::string> args, const std::string& log, int idleSeconds = 60) {
    log_ = log;
    ::unlink(log.c_str());
    args.insert(args.begin(), exe);
    for (const std::string& a : {std::string("--log"), log, std::string("--idle-timeout"), std::to_string(idleSeconds)})
      args.push_back(a);
    pid_ = plat::spawnProcess(args).pid;
    if (pid_ <= 0) return false;
    // The first log line: "listen 127.0.0.1 <port>" or "pty <path>".
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      const auto lines = this->lines();
      if (!lines.empty()) {
        std::string first = lines.front();
        if (first.rfind("listen ", 0) == 0) port_ = std::stoi(first.substr(first.rfind(' ') + 1));
        if (first.rfind("pty ", 0) == 0) pty_ = first.substr(4);
        return port_ > 0 || !pty_.empty();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Holds the simulator's pseudo-terminal open, so it outlives peers that
  // open and close its line.
  bool holdPty() {
    if (pty_.empty()) return false;
    hold_ = ::open(pty_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    return hold_ >= 0;
  }
  // Waits up to waitMs for the simulator to end by itself (it does when its
  // peer goes), then stops it.
  void finish(int waitMs = 10000) {
    if (pid_ > 0 && plat::waitProcess(pid_, waitMs)) pid_ = -1;
    stop();
  }
  void stop() {
    if (hold_ >= 0) ::close(hold_);
    hold_ = -1;
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    if (!plat::waitProcess(pid_, 5000)) {
      ::kill(pid_, SIGKILL);
      plat::waitProcess(pid_, -1);
    }
    pid_ = -1;
  }
  int port() const { return port_; }
  const std::string& pty() const { return pty_; }
  std::vector<std::string> lines(const std::string& prefix = "") const {
    std::ifstream f(log_);
    std::vector<std::string> out;
    for (std::string l; std::getline(f, l);)
      if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
    return out;
  }

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  int hold_ = -1;
  std::string pty_, log_;
};

// Runs `prismhost -F cube.stl -B` in dir, without a display, against the
// two simulators: dir/prismhost.i3d names their ports and then holds
// `settings`. namePrefix keeps its named objects apart from other tests'.
// The program's exit status, or -1 when it did not end within timeoutMs
// (it is killed then).
inline int runBatchPrint(const std::string& prismhost, const std::filesystem::path& dir, const Simulator& marlin,
                         const Simulator& unit, const std::string& settings, const std::string& namePrefix,
                         int timeoutMs) {
  std::ofstream(dir / "prismhost.i3d") << "CommPortMarlin = \"127.0.0.1:" << marlin.port() << "\"\n"
                                       << "CommInkDevice = \"127.0.0.1:" << unit.port() << "\"\n"
                                       << settings;
  ::setenv("PRISM_NAMESPACE", (namePrefix + std::to_string(::getpid()) + "_").c_str(), 1);
  ::unsetenv("DISPLAY");
  ::unsetenv("WAYLAND_DISPLAY");
  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(dir);
  auto host = plat::spawnProcess({prismhost, "-F", "cube.stl", "-B"});
  std::filesystem::current_path(old);
  if (host.pid <= 0) return -1;
  const auto status = plat::waitProcess(host.pid, timeoutMs);
  if (!status) {
    ::kill(host.pid, SIGKILL);
    plat::waitProcess(host.pid, -1);
  }
  return status.value_or(-1);
}

}  // namespace ph
