#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <thread>

extern char** environ;

namespace plat {

namespace {

SpawnResult spawnWith(const std::vector<std::string>& argv, int outputFd) {
  SpawnResult r;
  if (argv.empty() || argv[0].empty()) {
    r.error = ENOENT;
    return r;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (outputFd >= 0) {
    posix_spawn_file_actions_adddup2(&fa, outputFd, 1);
    posix_spawn_file_actions_adddup2(&fa, outputFd, 2);
  }
  // A group of its own: a wrapper script's children are stopped with it,
  // and a Ctrl-C at the terminal reaches only this program, which stops
  // its children itself.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // Signals as a new program expects them, whatever this one blocks or
  // catches.
  sigset_t none, ends;
  sigemptyset(&none);
  sigemptyset(&ends);
  sigaddset(&ends, SIGTERM);
  sigaddset(&ends, SIGINT);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &ends);
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &fa, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) {
    r.error = rc;
    return r;
  }
  r.pid = pid;
  return r;
}

}  // namespace

SpawnResult spawnProcess(const std::vector<std::string>& argv) { return spawnWith(argv, -1); }

SpawnResult spawnProcess(const std::vector<std::string>& argv, int outputFd) { return spawnWith(argv, outputFd); }

static int statusCode(int st) {
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

std::optional<int> waitProcess(pid_t pid, int timeoutMs) {
  if (pid <= 0) return std::nullopt;
  int st = 0;
  if (timeoutMs < 0) {
    pid_t w;
    do w = waitpid(pid, &st, 0);
    while (w < 0 && errno == EINTR);
    if (w != pid) return std::nullopt;
    return statusCode(st);
  }
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    pid_t w = waitpid(pid, &st, WNOHANG);
    if (w == pid) return statusCode(st);
    if (w < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

bool processRunning(pid_t pid) {
  if (pid <= 0) return false;
  // WNOWAIT leaves the exit status for waitProcess.
  siginfo_t info{};
  if (waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return false;
  return info.si_pid == 0;
}

namespace {
// Whether the child has ended, leaving it unreaped (its number, and so its
// group's, stays taken until it is reaped).
bool endedUnreaped(pid_t pid, int timeoutMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
  for (;;) {
    siginfo_t info{};
    const int rc = waitid(P_PID, id_t(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    if (rc != 0 && errno != EINTR) return true;  // not our child any more
    if (rc == 0 && info.si_pid == pid) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}
}  // namespace

int stopProcessGroup(pid_t pid, int graceMs) {
  if (pid <= 0) return -1;
  ::kill(-pid, SIGTERM);
  ::kill(pid, SIGTERM);  // in case it left its group
  if (!endedUnreaped(pid, graceMs)) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
  }
  endedUnreaped(pid, 10000);  // SIGKILL is not refused; this is only a bound
  // What the group still holds (a wrapper's children that outlived it)
  // goes now, while the leader's number still names the group.
  ::kill(-pid, SIGKILL);
  return waitProcess(pid, -1).value_or(-1);
}

ProgramOutput::ProgramOutput() {
  char name[] = "/tmp/prism-output-XXXXXX";
  fd_ = ::mkostemp(name, O_CLOEXEC);  // the program gets it as 1 and 2 only
  if (fd_ >= 0) ::unlink(name);
}

ProgramOutput::~ProgramOutput() {
  if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> ProgramOutput::newLines(bool all) {
  std::vector<std::string> lines;
  if (fd_ < 0) return lines;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::pread(fd_, buf, sizeof buf, read_);
    if (n <= 0) break;
    read_ += n;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buf[i];
      if (c == '\n' || c == '\r') {
        if (!line_.empty()) lines.push_back(std::move(line_));
        line_.clear();
        cut_ = false;
      } else if (line_.size() < kMaxLine) {
        line_ += c == '\t' ? ' ' : static_cast<unsigned char>(c) < 32 ? '?' : c;
      } else if (!cut_) {
        line_ += "...";
        cut_ = true;
      }
    }
  }
  if (all && !line_.empty()) {
    lines.push_back(std::move(line_));
    line_.clear();
    cut_ = false;
  }
  return lines;
}

std::string executableDir() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string p(buf, std::size_t(n));
  auto slash = p.rfind('/');
  return slash == std::string::npos ? "./" : p.substr(0, slash + 1);
}

std::string siblingProgram(const std::string& name) {
  std::string p = executableDir() + name;
  struct stat st {};
  if (stat(p.c_str(), &st) == 0 && (st.st_mode & S_IXUSR)) return p;
  return name;
}

}  // namespace plat
