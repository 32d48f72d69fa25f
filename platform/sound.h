#pragma once
// Short sounds (beeps of the cartridge check and the alarm) played without
// waiting: a player program is started with an argv array and left to
// finish on its own, so the user-interface thread never blocks on a sound.
#include <sys/types.h>

#include <string>
#include <vector>

namespace plat {

class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  // Starts playing the sound file; false when this machine has nothing to
  // play it on (no sound device, or no player program).
  virtual bool play(const std::string& path) = 0;
};

// What the machine offers for sound, as found when the player is made.
struct SoundSystem {
  std::string paplay;         // full path of PulseAudio's player, "" when none
  std::string aplay;          // full path of ALSA's player, "" when none
  bool pulseServer = false;   // a PulseAudio (or PipeWire) server is reachable
  bool alsaPlayback = false;  // /dev/snd has a playback device

  // The machine this program runs on.
  static SoundSystem detect();
};

// The command that plays a file on that system (the file is appended), or
// an empty list when nothing can play it.
std::vector<std::string> soundCommand(const SoundSystem& system);

// The full path of a program found on PATH, or "".
std::string findOnPath(const std::string& name);

class SystemSoundPlayer : public SoundPlayer {
 public:
  explicit SystemSoundPlayer(const SoundSystem& system = SoundSystem::detect());
  // Players still running are left to finish: their sounds are short.
  ~SystemSoundPlayer() override;
  bool play(const std::string& path) override;
  const std::vector<std::string>& command() const { return command_; }

 private:
  // Collects the players that have ended.
  void reap();
  std::vector<std::string> command_;
  std::vector<pid_t> playing_;
};

}  // namespace plat
