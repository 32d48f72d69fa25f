// Text, number and path helpers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <limits>
#include <string>

#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

using namespace ph;

TEST(Texts, PopSplitReplace) {
  std::string t = "a,b";
  EXPECT_EQ(popToken(t, ','), "a");
  EXPECT_EQ(t, "b");
  t = "ab";
  EXPECT_EQ(popToken(t, ','), "ab");
  EXPECT_EQ(t, "");
  EXPECT_EQ(splitAt("k=v", '=', false), "k");
  EXPECT_EQ(splitAt("k=v", '=', true), "v");
  EXPECT_EQ(splitAt("kv", '=', true), "");
  EXPECT_EQ(replaceAll("aaa", "a", "aa"), "aaaaaa");  // no runaway
  std::string many(150, 'x');
  EXPECT_EQ(replaceAll(many, "x", "y"), std::string(99, 'y') + std::string(51, 'x'));
  EXPECT_EQ(replaceAll("abc", "", "z"), "abc");
}

TEST(Texts, Positions) {
  EXPECT_EQ(charAt("abc", 0), ' ');
  EXPECT_EQ(charAt("abc", 3), 'c');
  EXPECT_EQ(charAt("abc", 4), ' ');
  EXPECT_EQ(lastPos("a.b.c", "."), 4);
  EXPECT_EQ(lastPosEnd("abab", "ab"), 4);
  EXPECT_EQ(lastPos("abc", "x"), 0);
  EXPECT_TRUE(inCharRanges('5', "09"));
  EXPECT_FALSE(inCharRanges(char(0xC3), "\x01z"));  // high bytes sort below everything
  EXPECT_FALSE(inCharRanges('0', "az0"));          // an unpaired last character is ignored
}

TEST(Texts, WrapAndQuote) {
  EXPECT_EQ(wrapText("aaaa bbbb cccc", 3), "aaaa\nbbbb\ncccc");
  EXPECT_EQ(quotedArg("my file.stl"), "\"my file.stl\" ");
  EXPECT_EQ(quotedArg("x.stl"), "x.stl ");
}

TEST(Numbers, IsNumberText) {
  struct Case {
    const char* text;
    bool number;
    int value;
  };
  const Case cases[] = {
      {"-", false, 0},      {"-12", true, -12},    {"0x1F", true, 31},     {"0X", true, 0},
      {"-0x10", false, 0},  {"1.5", false, 0},     {"", false, 0},         {"12a", false, 0},
      {"0xFFFFFFFF", true, -1},                    // hex keeps the low 32 bits
      {"99999999999", true, INT_MAX},              // decimal saturates
      {"-99999999999", true, INT_MIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(isNumberText(c.text), c.number) << c.text;
    EXPECT_EQ(textToInt(c.text), c.value) << c.text;
  }
}

TEST(Numbers, HexTextAndClamp) {
  EXPECT_EQ(hexTextToInt("1F"), 31);
  EXPECT_EQ(hexTextToInt("1f"), 16);  // lower case counts 0
  EXPECT_EQ(hexTextToInt("Z"), 35);
  EXPECT_EQ(hexTextToInt("G0"), 256);
  EXPECT_EQ(hexTextToInt(""), 0);
  EXPECT_EQ(hexTextToInt("ZZZZZZZZZZZZ"), hexTextToInt("ZZZZZZZZZZZZ"));  // wraps, no overflow
  EXPECT_EQ(clampInt(5, 10, 0), 10);  // lo wins when lo > hi
  EXPECT_EQ(notnul(0), 1);
  EXPECT_EQ(leadingInt("-12ms"), -12);
  EXPECT_EQ(leadingInt("x"), 0);
}

TEST(Numbers, SaturatedIntCutsTowardZeroAndSaturates) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    double v;
    int want;
  } cases[] = {
      {0.0, 0},
      {-0.0, 0},
      {2.9, 2},
      {-2.9, -2},
      {2147483646.9, 2147483646},
      {2147483647.0, INT_MAX},
      {2147483647.5, INT_MAX},
      {1e300, INT_MAX},
      {inf, INT_MAX},
      {-2147483648.0, INT_MIN},
      {-2147483648.9, INT_MIN},
      {-1e300, INT_MIN},
      {-inf, INT_MIN},
      {std::numeric_limits<double>::quiet_NaN(), 0},
      {-std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(saturatedInt(c.v), c.want) << c.v;
}

TEST(Paths, TakingApart) {
  EXPECT_EQ(fileNamePart("a/b\\c.stl"), "c.stl");
  EXPECT_EQ(fileExt("/data/v1.2/Model.STL"), "stl");
  EXPECT_EQ(fileExt("README"), "readme");
  EXPECT_EQ(fileExt("x.stl.bak"), "stl.bak");
  EXPECT_EQ(fileCore("/d/b.c.stl"), "b");
  EXPECT_EQ(fileCore("C:\\Models\\Cube.STL"), "Cube");  // case kept
  EXPECT_EQ(parentDir("model.obj"), ".");
  EXPECT_EQ(parentDir("/a/b/model.obj"), "/a/b");
  EXPECT_EQ(pathFolderOrCurrent("model.obj"), currentDir());
  EXPECT_EQ(pathFolderOrCurrent("/a/model.obj"), "/a/");
}

TEST(Paths, CurrentDirTokenOnlyAtFolderBoundaries) {
  const std::string cur = currentDir();
  EXPECT_EQ(toCurrentDirToken(cur + "/models"), "%currentdir%/models");
  EXPECT_EQ(toCurrentDirToken(cur), "%currentdir%");
  EXPECT_EQ(toCurrentDirToken(cur + "x/models"), cur + "x/models");
  EXPECT_EQ(expandCurrentDir("%currentdir%/a"), cur + "/a");
}

TEST(Paths, CheckedFolder) {
  EXPECT_EQ(checkedFolder("/nonexistent-folder/x.stl"), currentDir() + "/x.stl");
  EXPECT_EQ(checkedFolder("x.stl"), "x.stl");
  EXPECT_EQ(checkedFolder("/tmp/x.stl"), "/tmp/x.stl");
}

TEST(Texts, CText) {
  const std::string empty, word = "ab";
  EXPECT_STREQ(cText(empty), "");
  EXPECT_STREQ(cText(word), "ab");
}
