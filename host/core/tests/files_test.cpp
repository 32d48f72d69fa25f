// File access that reports to the operator.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "host/core/files.h"
#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"

using namespace ph;

class Files : public ::testing::Test, public CoreFixture {};

TEST_F(Files, FailedReadOpenIsToldAndReturnedAsAFailure) {
  const OpenedFile opened = core.openFile("missing.txt", "r");
  EXPECT_FALSE(opened);
  EXPECT_FALSE(opened.file);
  EXPECT_TRUE(opened.result.told());
  EXPECT_EQ(opened.result.reason(), "cannot read from file: missing.txt");
  EXPECT_FALSE(core.abortRequested());  // a print is the caller's to stop
  EXPECT_EQ(ui.messages, std::vector<std::string>{"cannot read from file: missing.txt"});
}

TEST_F(Files, FailedWriteOpenSwallowsWritesButIsNotSuccess) {
  auto [f, opened] = core.openFile("/nonexistent-dir/x.bin", "wb");
  ASSERT_TRUE(f);  // the null device
  EXPECT_FALSE(opened);
  EXPECT_TRUE(opened.told());
  EXPECT_FALSE(core.abortRequested());
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

namespace {
// A full disk, as a regular file sees it: writes past `bytes` fail (EFBIG).
struct FileSizeLimit {
  rlimit old{};
  void (*oldHandler)(int) = nullptr;
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &old);
    oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit r = old;
    r.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &r);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
  }
};
}  // namespace

TEST_F(Files, AShortWriteIsToldAndIsNotSuccess) {
  FileSizeLimit full(2);
  EXPECT_FALSE(core.writeTextFile("short.txt", "abc"));
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: short.txt"});

  ui.messages.clear();
  FilePtr f;
  bool wrote = true;
  for (int i = 0; i < 2000; ++i) wrote = core.writeLine("lines.txt", "a line that fills the buffer", f) && wrote;
  const bool closed = core.closeLine(f, "lines.txt");
  EXPECT_FALSE(wrote && closed);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: lines.txt"});  // told once
  EXPECT_FALSE(f);
}

// Only regular files are read, written and appended to (or new ones made):
// a folder, a device or a FIFO, also behind a link, is refused at once and
// told.
TEST_F(Files, SpecialFilesAreRefusedWithoutWaiting) {
  namespace fs = std::filesystem;
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  fs::create_directories("folder");
  fs::create_symlink("/dev/zero", "zero-link");
  fs::create_symlink("fifo", "fifo-link");
  for (const char* name : {"fifo", "/dev/zero", "folder", "zero-link", "fifo-link"}) {
    SCOPED_TRACE(name);
    for (const char* mode : {"rb", "wb", "ab"}) {
      ui.messages.clear();
      const bool write = mode[0] == 'w';  // a failed append is told as a failed read
      const OpenedFile opened = core.openFile(name, mode);
      EXPECT_FALSE(opened);
      EXPECT_EQ(ui.messages, std::vector<std::string>{std::string(write ? "unable to write to file: "
                                                                        : "cannot read from file: ") +
                                                      name + " (it is not a regular file)"});
    }
  }
  EXPECT_EQ(fs::status("fifo").type(), fs::file_type::fifo);  // left as it was
  fs::remove("fifo");
  fs::remove("fifo-link");
  fs::remove("zero-link");
  fs::remove_all("folder");
}

TEST_F(Files, TheFullSettingsDumpTellsAShortWrite) {
  // A folder of its own: other tests write allparam.i3d in theirs.
  namespace fs = std::filesystem;
  const fs::path old = fs::current_path();
  const fs::path dir = fs::temp_directory_path() / ("dump-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::current_path(dir);
  {
    FileSizeLimit full(100);
    SettingsFiles(core).writeAllSettings();
  }
  EXPECT_EQ(ui.messages, std::vector<std::string>{"unable to write to file: allparam.i3d"});
  fs::current_path(old);
  fs::remove_all(dir);
}

TEST_F(Files, CutWord) {
  struct Case {
    std::string text, word, rest;
  } cases[] = {
      {"  ab cd", "ab", "cd"},
      {"ab  cd", "ab", " cd"},  // only the one blank behind the word goes
      {"ab", "ab", ""},
  };
  for (auto c : cases) {
    EXPECT_EQ(core.cutWord(c.text), c.word) << c.word;
    EXPECT_EQ(c.text, c.rest) << c.word;
  }
  EXPECT_TRUE(ui.messages.empty());
  std::string blanks = "   ";
  EXPECT_EQ(core.cutWord(blanks), "");
  EXPECT_EQ(blanks, "");
  EXPECT_EQ(ui.messages, std::vector<std::string>{"empty"});
}

TEST_F(Files, PositionsAndSizes) {
  std::ofstream("sized.bin", std::ios::binary) << std::string(1000, 'x');
  FilePtr f(std::fopen("sized.bin", "rb+"));
  ASSERT_TRUE(f);
  std::fseek(f.get(), 10, SEEK_SET);
  EXPECT_EQ(fileSize(f.get()), 1000);
  EXPECT_EQ(filePos(f.get()), 10);  // restored
  EXPECT_TRUE(writeString("abc", f.get()));
  EXPECT_EQ(filePos(f.get()), 13);
  EXPECT_EQ(fileSize(nullptr), -1);
  EXPECT_EQ(filePos(nullptr), -1);
  EXPECT_FALSE(writeString("abc", nullptr));
  f.reset();
  EXPECT_EQ(fileSizeOf("sized.bin"), 1000);
  EXPECT_EQ(fileSizeOf("missing.bin"), -1);
  EXPECT_EQ(fileSizeOf("."), -1);  // a folder is no file
  // A FIFO is never opened (an open would wait for a writer).
  ASSERT_EQ(mkfifo("pipe.fifo", 0600), 0);
  EXPECT_EQ(fileSizeOf("pipe.fifo"), -1);
  std::remove("pipe.fifo");
  std::remove("sized.bin");
  EXPECT_TRUE(ui.messages.empty());
}
