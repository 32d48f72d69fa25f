// File access that reports to the operator.
#include <gtest/gtest.h>

#include <fstream>

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
