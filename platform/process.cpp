#include "process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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
  pid_t pid = -1;
  int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
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
