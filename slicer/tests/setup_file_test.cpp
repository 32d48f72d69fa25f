#include "slicer/setup_file.h"

#include <gtest/gtest.h>

#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

TEST(SetupFile, BlocksAndDropCounts) {
  ScratchDir dir;
  writeFile(dir / "ngsetup.txt", "AB\r\nCD\r\n\r\nXXWP40\nSP52\n\nignored\n");
  SetupBlocks s = readSetupBlocks(dir / "ngsetup.txt");
  EXPECT_TRUE(s.found);
  EXPECT_EQ(s.block1, "ABCD");
  EXPECT_EQ(s.block2, "XX");
  EXPECT_EQ(s.wp, 40);
  EXPECT_EQ(s.sp, 52);
}

TEST(SetupFile, Items) {
  struct Case {
    std::string block, key, rest;
    std::optional<int> value;
  } cases[] = {
      {"XXWP40SP52", "WP", "XXSP52", 40},
      {"WP40WP50", "WP", "WP50", 40},  // the first one counts
      {"SP52", "WP", "SP52", std::nullopt},
      {"aWP4.5b", "WP", "ab", std::nullopt},  // not a whole number: the value stays
      {"WP", "WP", "", std::nullopt},
  };
  for (auto c : cases) {
    std::vector<std::string> notes;
    EXPECT_EQ(takeSetupItem(c.block, c.key, notes), c.value) << c.block;
    EXPECT_EQ(c.block, c.rest);
  }
}

TEST(SetupFile, MissingFileAndLongBlocks) {
  ScratchDir dir;
  EXPECT_FALSE(readSetupBlocks(dir / "ngsetup.txt").found);
  writeFile(dir / "ngsetup.txt", std::string(300, 'a') + "\n");
  SetupBlocks s = readSetupBlocks(dir / "ngsetup.txt");
  EXPECT_EQ(s.block1.size(), 255u);
  EXPECT_EQ(s.block2, "");
}
