#include "slicer/command_line.h"

#include <gtest/gtest.h>

#include "platform/fingerprint.h"

using namespace lt;

TEST(CommandLine, FingerprintTextLeavesOutModelOutputAndInstance) {
  const std::vector<std::string> args = {"-Fpart.stl", "-L250",          "-W64",   "-S64", "-C50",
                                         "-D1000",     "-KC:\\out.p3d", "-E25368", "-I2"};
  EXPECT_EQ(paramTextOf(args), "-L250-W64-S64-C50-D1000-E25368");
  // Extras as the host passes them, and arguments that are no options.
  EXPECT_EQ(paramTextOf({"-Fm.stl", "-L100", "-Rcube.txt", "-U200", "extra"}), "-L100-Rcube.txt-U200extra");
  EXPECT_EQ(plat::crc16Modbus(""), 0xFFFF);
  EXPECT_EQ(plat::crc16Modbus("abc"), 0x5749);
  EXPECT_EQ(plat::crc16Modbus("123456789"), 0x4B37);
}

TEST(CommandLine, ReadyEventName) {
  EXPECT_EQ(readyEventName(0), ".p3d file ready");
  EXPECT_EQ(readyEventName(1), ".p3d file ready");
  EXPECT_EQ(readyEventName(2), ".p3d file ready(2)");
  EXPECT_EQ(readyEventName(17), ".p3d file ready(17)");
}

TEST(CommandLine, Options) {
  struct Case {
    std::string arg;
    bool isOption;
    char letter;
    std::string value;
  } cases[] = {
      {"-L250", true, 'L', "250"}, {"-J", true, 'J', ""},      {"-Fa b.stl", true, 'F', "a b.stl"},
      {"-l250", false, 0, ""},     {"model.stl", false, 0, ""}, {"-", false, 0, ""},
      {"-X1", false, 0, ""},       {"L250", false, 0, ""},
  };
  for (const auto& c : cases) {
    auto o = optionOf(c.arg);
    ASSERT_EQ(o.has_value(), c.isOption) << c.arg;
    if (o) {
      EXPECT_EQ(o->letter, c.letter);
      EXPECT_EQ(o->value, c.value);
    }
  }
}

TEST(CommandLine, Values) {
  EXPECT_EQ(decimalValue("250"), 250);
  EXPECT_EQ(decimalValue("-3"), -3);
  EXPECT_EQ(decimalValue("+7"), 7);
  for (const char* bad : {"", "2.5", "12x", "x", "99999999999", "-"}) EXPECT_FALSE(decimalValue(bad)) << bad;
  EXPECT_EQ(pathValue("\"a b/c.stl\""), "a b/c.stl");
  EXPECT_EQ(pathValue("a.stl"), "a.stl");
}

TEST(CommandLine, JobOutputName) {
  EXPECT_EQ(jobOutputName("dir/part.stl", ""), "dir/part.p3d");
  EXPECT_EQ(jobOutputName("dir/part", ""), "dir/part.p3d");
  EXPECT_EQ(jobOutputName("dir.v1/part", ""), "dir.v1/part.p3d");
  EXPECT_EQ(jobOutputName("part.stl", "/work/out.p3d"), "/work/out.p3d");
}
