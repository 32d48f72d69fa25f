#include "platform/format.h"

#include <gtest/gtest.h>

#include <climits>

using plat::format;

TEST(Format, LikePrintf) {
  struct Case {
    std::string got, want;
  };
  std::string s = "abc";
  const Case cases[] = {
      {format("%d|%5d|%-3d|", 7, -42, 1), "7|  -42|1  |"},
      {format("%08X", 0x1234abcdu), "1234ABCD"},
      {format("%3.3f", 31.5), "31.500"},
      {format("%s=%d ", s, 3), "abc=3 "},
      {format("%.2s", "hello"), "he"},
      {format("%c%c", 'a', 66), "aB"},
      {format("%*d", 4, 9), "   9"},
      {format("100%%"), "100%"},
      {format("%d", 4000000000u), "-294967296"},  // int conversion as in C
      {format("%u", -1), "4294967295"},
      {format("%lld", LLONG_MIN), "-9223372036854775808"},
      {format("%g", 0.1), "0.1"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(Format, LongResult) {
  std::string big(500, 'x');
  EXPECT_EQ(format("[%s]", big), "[" + big + "]");
}
