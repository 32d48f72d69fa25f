#include "platform/folder_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

using plat::FolderLock;

TEST(FolderLock, OneHolderPerFolderUntilItLetsGo) {
  namespace fs = std::filesystem;
  const fs::path a = fs::temp_directory_path() / ("flock-a-" + std::to_string(getpid()));
  const fs::path b = fs::temp_directory_path() / ("flock-b-" + std::to_string(getpid()));
  fs::create_directories(a);
  fs::create_directories(b);
  FolderLock first, second;
  EXPECT_EQ(first.acquire(a.string()), FolderLock::Result::Held);
  EXPECT_EQ(first.acquire(a.string() + "/."), FolderLock::Result::Held);  // the same folder by another name
  EXPECT_EQ(second.acquire(a.string()), FolderLock::Result::InUse);
  EXPECT_FALSE(second.held());
  // Moving on to another folder lets the first go.
  EXPECT_EQ(first.acquire(b.string()), FolderLock::Result::Held);
  EXPECT_EQ(second.acquire(a.string()), FolderLock::Result::Held);
  EXPECT_EQ(second.acquire((a / "missing").string()), FolderLock::Result::Failed);
  EXPECT_TRUE(second.held());  // a failed move keeps what is held
  first.release();
  EXPECT_EQ(second.acquire(b.string()), FolderLock::Result::Held);
  fs::remove_all(a);
  fs::remove_all(b);
}
