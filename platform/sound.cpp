#include "platform/sound.h"

#include <glob.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/process.h"

namespace plat {

namespace {
bool isExecutable(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool isSocket(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

// ALSA names playback devices /dev/snd/pcmC<card>D<device>p.
bool hasAlsaPlayback() {
  glob_t g{};
  const bool found = glob("/dev/snd/pcmC*D*p", 0, nullptr, &g) == 0 && g.gl_pathc > 0;
  globfree(&g);
  return found;
}
}  // namespace

std::string findOnPath(const std::string& name) {
  if (name.empty()) return "";
  if (name.find('/') != std::string::npos) return isExecutable(name) ? name : "";
  const char* path = std::getenv("PATH");
  std::string rest = path ? path : "/usr/bin:/bin";
  while (true) {
    const auto colon = rest.find(':');
    // An empty entry is the current folder.
    const std::string dir = rest.substr(0, colon);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + name;
    if (isExecutable(candidate)) return candidate;
    if (colon == std::string::npos) return "";
    rest.erase(0, colon + 1);
  }
}

SoundSystem SoundSystem::detect() {
  SoundSystem s;
  s.paplay = findOnPath("paplay");
  s.aplay = findOnPath("aplay");
  const char* server = std::getenv("PULSE_SERVER");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  s.pulseServer = (server && *server) || (runtime && *runtime && isSocket(std::string(runtime) + "/pulse/native"));
  s.alsaPlayback = hasAlsaPlayback();
  return s;
}

std::vector<std::string> soundCommand(const SoundSystem& s) {
  if (!s.paplay.empty() && s.pulseServer) return {s.paplay};
  // -q: aplay's progress lines would land on the program's stderr.
  if (!s.aplay.empty() && s.alsaPlayback) return {s.aplay, "-q"};
  return {};
}

SystemSoundPlayer::SystemSoundPlayer(const SoundSystem& system) : command_(soundCommand(system)) {}

SystemSoundPlayer::~SystemSoundPlayer() { reap(); }

void SystemSoundPlayer::reap() {
  std::vector<pid_t> still;
  for (pid_t pid : playing_) {
    int st = 0;
    if (waitpid(pid, &st, WNOHANG) == 0) still.push_back(pid);
  }
  playing_.swap(still);
}

bool SystemSoundPlayer::play(const std::string& path) {
  reap();
  if (command_.empty()) return false;
  std::vector<std::string> argv = command_;
  argv.push_back(path);
  const SpawnResult r = spawnProcess(argv);
  if (r.pid < 0) return false;
  playing_.push_back(r.pid);
  return true;
}

}  // namespace plat
