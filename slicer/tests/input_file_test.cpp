#include "slicer/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

// Only regular files within their limit are read; everything else is named
// at once, before a byte is read (a pipe without a writer, a device that
// never ends, a file far too large).
TEST(InputFile, OnlyRegularFilesWithinTheirLimit) {
  ScratchDir dir;
  writeFile(dir / "small.txt", "12\n34\n");
  ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
  mkdir((dir / "folder").c_str(), 0700);
  writeFile(dir / "huge.sup", "");
  ASSERT_EQ(truncate((dir / "huge.sup").c_str(), kMaxSupportBytes + 1), 0);  // sparse: costs no disk

  std::string error;
  bool missing = true;
  auto text = readInputFile(dir / "small.txt", "the file", 6, error, &missing);
  ASSERT_TRUE(text) << error;
  EXPECT_EQ(*text, "12\n34\n");
  EXPECT_FALSE(missing);

  struct Case {
    std::string path;
    long long limit;
    std::string words;
  } cases[] = {
      {dir / "small.txt", 5, "its 6 bytes are more than the 5 such a file may have"},
      {dir / "pipe", kNoSizeLimit, "it is not a regular file"},
      {"/dev/zero", kNoSizeLimit, "it is not a regular file"},
      {dir / "folder", kNoSizeLimit, "it is a folder"},
      {dir / "huge.sup", kMaxSupportBytes, "its 67108865 bytes are more than the 67108864"},
  };
  for (const auto& c : cases) {
    error.clear();
    EXPECT_FALSE(readInputFile(c.path, "the file", c.limit, error, &missing)) << c.path;
    EXPECT_FALSE(missing) << c.path;
    EXPECT_NE(error.find("cannot read the file " + c.path + ": " + c.words), std::string::npos) << error;
  }
  // A missing file is the caller's to judge: no error, only "missing".
  EXPECT_FALSE(readInputFile(dir / "none", "the file", 10, error, &missing));
  EXPECT_TRUE(missing);
  EXPECT_TRUE(error.empty());
}
