#pragma once
// Starting other programs: always with an argv array, never through a shell.
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace plat {

struct SpawnResult {
  pid_t pid = -1;  // -1 when the program could not be started
  int error = 0;   // errno-style code when it could not
};

// Starts argv[0] (searched on PATH when it holds no "/") with the given
// arguments, without waiting, as the leader of a process group of its own
// (stopProcessGroup ends it with whatever it started). The child's stdin is
// /dev/null.
SpawnResult spawnProcess(const std::vector<std::string>& argv);
// The same, with the child's standard output and standard error going to
// outputFd (the caller keeps its own descriptor).
SpawnResult spawnProcess(const std::vector<std::string>& argv, int outputFd);

// Waits for the child to end; timeoutMs < 0 waits without limit. Returns the
// exit status (128 + signal when it was killed), or nothing on time-out.
std::optional<int> waitProcess(pid_t pid, int timeoutMs);

// Stops a child started by spawnProcess and everything in its group:
// SIGTERM, then SIGKILL when the leader has not ended within graceMs; what
// is left of the group once the leader ended is killed. Reaps the leader
// and returns its exit status (as waitProcess), -1 when it had none.
int stopProcessGroup(pid_t pid, int graceMs);

// What a started program writes, caught in an unnamed temporary file: the
// program never blocks on a full pipe nor dies on a closed one, whatever
// this program does meanwhile. Give fd() to spawnProcess as outputFd.
class ProgramOutput {
 public:
  // The longest line handed on; the rest of a longer one is cut.
  static constexpr std::size_t kMaxLine = 2000;
  ProgramOutput();
  ~ProgramOutput();
  ProgramOutput(const ProgramOutput&) = delete;
  ProgramOutput& operator=(const ProgramOutput&) = delete;
  // -1 when no file could be made (the output is then not caught).
  int fd() const { return fd_; }
  // The lines written since the last call, without their line ends, tabs
  // as blanks and other control characters shown as "?"; with `all` also an unfinished
  // last line (call it so once the program has ended).
  std::vector<std::string> newLines(bool all);

 private:
  int fd_ = -1;
  long long read_ = 0;
  std::string line_;
  bool cut_ = false;
};

// True while the child has not ended (and not been reaped).
bool processRunning(pid_t pid);

// The folder of the running executable, with a trailing "/".
std::string executableDir();

// A program that ships beside this one: executableDir() + name when that
// file exists, else the bare name (found on PATH when started).
std::string siblingProgram(const std::string& name);

}  // namespace plat
