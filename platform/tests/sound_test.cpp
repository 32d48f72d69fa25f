#include "platform/sound.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace plat;

TEST(SoundCommand, PulseFirstThenAlsaElseNothing) {
  struct Case {
    const char* paplay;
    const char* aplay;
    bool pulse, alsa;
    std::vector<std::string> command;
  } cases[] = {
      {"/usr/bin/paplay", "/usr/bin/aplay", true, true, {"/usr/bin/paplay"}},
      {"/usr/bin/paplay", "/usr/bin/aplay", false, true, {"/usr/bin/aplay", "-q"}},
      // A player program without its sound system plays nothing.
      {"/usr/bin/paplay", "", false, true, {}},
      {"", "/usr/bin/aplay", true, false, {}},
      {"", "", true, true, {}},
  };
  for (const Case& c : cases) {
    SoundSystem s{c.paplay, c.aplay, c.pulse, c.alsa};
    EXPECT_EQ(soundCommand(s), c.command) << c.paplay << " | " << c.aplay << " " << c.pulse << c.alsa;
  }
}

TEST(SoundPlayer, WithoutASoundDeviceNothingStarts) {
  SystemSoundPlayer player(SoundSystem{"", "/usr/bin/aplay", false, false});
  EXPECT_TRUE(player.command().empty());
  EXPECT_FALSE(player.play("short.wav"));
}

TEST(SoundPlayer, AMissingPlayerProgramIsNoSound) {
  SystemSoundPlayer player(SoundSystem{"/nonexistent/paplay", "", true, false});
  EXPECT_FALSE(player.play("short.wav"));
}

TEST(SoundPlayer, ThePlayerGetsTheFileAsItsLastArgument) {
  char dir[] = "/tmp/soundtestXXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string script = std::string(dir) + "/player";
  const std::string out = std::string(dir) + "/played";
  {
    std::ofstream f(script);
    // Written under another name and moved, so the test never reads half a line.
    f << "#!/bin/sh\nprintf '%s|' \"$@\" > " << out << ".part && mv " << out << ".part " << out << "\n";
  }
  chmod(script.c_str(), 0755);
  SystemSoundPlayer player(SoundSystem{script, "", true, false});
  ASSERT_TRUE(player.play("with blank.wav"));
  // The player runs on its own; wait (boundedly) for what it wrote.
  std::string text;
  for (int i = 0; i < 1000 && text.empty(); ++i) {
    std::ifstream f(out);
    std::stringstream ss;
    ss << f.rdbuf();
    text = ss.str();
    if (text.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(text, "with blank.wav|");
  std::remove(out.c_str());
  std::remove(script.c_str());
  rmdir(dir);
}

TEST(FindOnPath, FindsAnExecutableAndNotAMissingOne) {
  EXPECT_EQ(findOnPath("sh").empty(), false);
  EXPECT_EQ(findOnPath("no-such-program-here"), "");
  EXPECT_EQ(findOnPath("/bin/sh"), "/bin/sh");
}
