#include "platform/atomic_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/regular_file.h"

namespace fs = std::filesystem;
using namespace plat;

namespace {

struct Folder {
  fs::path dir;
  Folder() {
    char t[] = "/tmp/atomic_file_testXXXXXX";
    dir = ::mkdtemp(t);
  }
  ~Folder() { fs::remove_all(dir); }
  std::string operator/(const std::string& name) const { return (dir / name).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> n;
    for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
    std::sort(n.begin(), n.end());
    return n;
  }
};

std::string contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void put(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// Files may grow to `bytes` while it lives: a write beyond fails (EFBIG)
// instead of raising SIGXFSZ.
struct FileSizeLimit {
  rlimit old{};
  void (*oldHandler)(int);
  explicit FileSizeLimit(rlim_t bytes) {
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit now = old;
    now.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &now);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
};

}  // namespace

TEST(AtomicFile, SuccessReplacesTheTargetWholeAndKeepsItsPermissions) {
  Folder d;
  const std::string target = d / "out.txt";
  put(target, std::string(100000, 'o'));
  ::chmod(target.c_str(), 0640);
  put(target + kPartSuffix, "a piece left by an earlier run");
  AtomicFile f;
  std::string why;
  ASSERT_TRUE(f.open(target, why)) << why;
  EXPECT_EQ(contents(target), std::string(100000, 'o'));  // untouched until the commit
  EXPECT_TRUE(f.append("new "));
  std::fputs("text", f.stream());
  ASSERT_TRUE(f.commit(why)) << why;
  EXPECT_EQ(contents(target), "new text");
  EXPECT_EQ(d.names(), std::vector<std::string>{"out.txt"});
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  ASSERT_TRUE(writeFileAtomically(d / "new.bin", std::string("a\0b", 3), why)) << why;
  EXPECT_EQ(contents(d / "new.bin"), std::string("a\0b", 3));
}

TEST(AtomicFile, FailureMidWriteLeavesTheOldTargetAndNoTemporary) {
  Folder d;
  const std::string target = d / "job.p3d";
  const std::string old(300000, 'x');
  put(target, old);
  std::string why;
  {
    const FileSizeLimit limit(64 * 1024);
    AtomicFile f;
    ASSERT_TRUE(f.open(target, why)) << why;
    const std::string block(8192, 'y');
    for (int i = 0; i < 20; ++i) f.append(block);
    EXPECT_FALSE(f.commit(why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(writeFileAtomically(target, std::string(200000, 'z'), why));
  }
  EXPECT_EQ(contents(target), old);
  EXPECT_EQ(d.names(), std::vector<std::string>{"job.p3d"});
}

TEST(AtomicFile, DiscardedOrAbandonedWriteLeavesTheTargetAndNoTemporary) {
  Folder d;
  const std::string target = d / "settings.ini";
  put(target, "old");
  std::string why;
  {
    AtomicFile f;
    ASSERT_TRUE(f.open(target, why)) << why;
    f.append("half of the ne");
  }  // dropped without a commit
  AtomicFile g;
  ASSERT_TRUE(g.open(target, why)) << why;
  g.append("new");
  g.discard();
  EXPECT_FALSE(g.commit(why));
  EXPECT_EQ(contents(target), "old");
  EXPECT_EQ(d.names(), std::vector<std::string>{"settings.ini"});
}

TEST(AtomicFile, SpecialTargetsAreRefusedWithoutBlocking) {
  Folder d;
  ASSERT_EQ(::mkfifo((d / "fifo").c_str(), 0600), 0);
  fs::create_directory(d / "folder");
  fs::create_symlink(d / "fifo", d / "link");
  // A temporary name already taken by a FIFO or a folder is never opened.
  put(d / "busy", "old");
  ASSERT_EQ(::mkfifo((d / "busy" + kPartSuffix).c_str(), 0600), 0);
  put(d / "taken", "old");
  fs::create_directory(d / "taken" + kPartSuffix);
  const struct {
    std::string target, why;
  } cases[] = {{d / "fifo", kNotRegularFile},
               {d / "folder", kNotRegularFile},
               {d / "link", kNotRegularFile},
               {"/dev/null", kNotRegularFile},
               {d / "busy", ""},
               {d / "taken", ""},
               {d / "no/such/folder/file", ""}};
  for (const auto& c : cases) {
    std::string why;
    EXPECT_FALSE(writeFileAtomically(c.target, "bytes", why)) << c.target;
    if (!c.why.empty()) EXPECT_EQ(why, c.why) << c.target;
    else EXPECT_FALSE(why.empty()) << c.target;
  }
  EXPECT_EQ(contents(d / "busy"), "old");
  EXPECT_EQ(contents(d / "taken"), "old");
  EXPECT_TRUE(fs::is_fifo(d / "busy" + kPartSuffix));
  EXPECT_TRUE(fs::is_directory(d / "taken" + kPartSuffix));
  EXPECT_TRUE(fs::is_fifo(d / "fifo"));
}
