#pragma once
// Starting other programs: always with an argv array, never through a shell.
#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace plat {

struct SpawnResult {
  pid_t pid = -1;  // -1 when the program could not be started
  int error = 0;   // errno-style code when it could not
};

// Starts argv[0] (searched on PATH when it holds no "/") with the given
// arguments, without waiting. The child's stdin is /dev/null.
SpawnResult spawnProcess(const std::vector<std::string>& argv);
// The same, with the child's standard output and standard error going to
// outputFd (the caller keeps its own descriptor).
SpawnResult spawnProcess(const std::vector<std::string>& argv, int outputFd);

// Waits for the child to end; timeoutMs < 0 waits without limit. Returns the
// exit status (128 + signal when it was killed), or nothing on time-out.
std::optional<int> waitProcess(pid_t pid, int timeoutMs);

// True while the child has not ended (and not been reaped).
bool processRunning(pid_t pid);

// The folder of the running executable, with a trailing "/".
std::string executableDir();

// A program that ships beside this one: executableDir() + name when that
// file exists, else the bare name (found on PATH when started).
std::string siblingProgram(const std::string& name);

}  // namespace plat
