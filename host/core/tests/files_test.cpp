// File access that reports to the operator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"

using namespace ph;

class Files : public ::testing::Test, public CoreFixture {};

TEST_F(Files, FailedReadOpenIsToldAndAbortsAPrint) {
  EXPECT_FALSE(core.openFile("missing.txt", "r"));
  EXPECT_TRUE(core.openFailed);
  EXPECT_TRUE(core.printAbort);
  EXPECT_EQ(core.readFailures, 1);
  EXPECT_EQ(ui.messages.at(0), "cannot read from file: missing.txt");
}

TEST_F(Files, FailedWriteOpenSwallowsWritesButIsNotSuccess) {
  FilePtr f = core.openFile("/nonexistent-dir/x.bin", "wb");
  ASSERT_TRUE(f);  // the null device
  EXPECT_TRUE(core.openFailed);
  EXPECT_FALSE(core.printAbort);
  EXPECT_EQ(ui.messages.at(0), "unable to write to file: /nonexistent-dir/x.bin");
  EXPECT_FALSE(core.writeTextFile("/nonexistent-dir/y.txt", "abc"));
  EXPECT_TRUE(core.writeTextFile("ok.txt", "abc"));
}

TEST_F(Files, ReadLineYieldsALastEmptyLineAfterAFinalNewline) {
  std::ofstream("lines.txt") << "one\r\ntwo\n";
  FilePtr f;
  std::string line;
  std::vector<std::string> got;
  while (core.readLine("lines.txt", line, f)) got.push_back(line);
  EXPECT_EQ(got, (std::vector<std::string>{"one", "two", ""}));
  EXPECT_FALSE(f);
}

TEST_F(Files, AShortWriteIsToldAndIsNotSuccess) {
  // /dev/full takes the open and refuses every byte, as a full disk does.
  EXPECT_FALSE(core.writeTextFile("/dev/full", "abc"));
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: /dev/full"});

  ui.messages.clear();
  FilePtr f;
  bool wrote = true;
  for (int i = 0; i < 2000; ++i) wrote = core.writeLine("/dev/full", "a line that fills the buffer", f) && wrote;
  const bool closed = core.closeLine(f, "/dev/full");
  EXPECT_FALSE(wrote && closed);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: /dev/full"});  // told once
  EXPECT_FALSE(f);
}

TEST_F(Files, TheFullSettingsDumpTellsAShortWrite) {
  // A folder of its own: other tests write allparam.i3d in theirs.
  namespace fs = std::filesystem;
  const fs::path old = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("dump-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  fs::create_symlink("/dev/full", "allparam.i3d");
  SettingsFiles(core).fullini1Click();
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: allparam.i3d"});
  fs::current_path(old);
  fs::remove_all(dir);
}
