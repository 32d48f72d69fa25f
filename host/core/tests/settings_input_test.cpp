// What enters the settings: the tokeniser against a plain reference, long
// lines, files that are no settings files, the ranges of numbers and the
// file a save may replace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <random>

#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"
#include "host/core/testing/file_text.h"
#include "host/core/texts.h"

using namespace ph;
using test::readAll;
using test::writeAll;
namespace fs = std::filesystem;

namespace {

// The tokeniser written the plain way: every token is cut off the front of
// the line. Same rules, no shared code.
struct ReferenceTokenizer {
  bool inComment = false;
  static bool op(char c) { return c && std::strchr("/*-+=&%><", c); }
  static bool digit(char c) { return c >= '0' && c <= '9'; }
  static bool letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
  std::string token(std::string& line, bool obj) {
    if (inComment) {
      auto e = line.find("*/");
      std::string t = e == std::string::npos ? line : line.substr(0, e + 2);
      line.erase(0, t.size());
      if (e != std::string::npos) inComment = false;
      return t;
    }
    while (!line.empty() && (line[0] == ' ' || line[0] == '\t')) line.erase(0, 1);
    if (line.empty()) return "";
    if (line.rfind("//", 0) == 0) {
      line.clear();
      return "";
    }
    if (line.rfind("/*", 0) == 0) {
      auto e = line.find("*/", 2);
      if (e == std::string::npos) {
        inComment = true;
        std::string t = line;
        line.clear();
        return t;
      }
      line.erase(0, e + 2);
      if (line.empty()) return "";
    }
    std::size_t n = 1;
    const char c = line[0];
    if (c == '"' || c == '\'') {
      auto q = line.find(c, 1);
      if (q != std::string::npos) n = q + 1;
    } else if (obj && (c == '-' || digit(c))) {
      while (n < line.size() && (digit(line[n]) || line[n] == '.' || line[n] == '-' || line[n] == 'e')) ++n;
    } else if (digit(c)) {
      while (n < line.size() && (digit(line[n]) || line[n] == '.')) ++n;
    } else if (letter(c) || c == '$' || c == '_') {
      while (n < line.size() && (letter(line[n]) || digit(line[n]) || line[n] == '_')) ++n;
    } else if (op(c) && line.size() > 1 && op(line[1])) {
      n = line.size() > 2 && line[2] == '=' ? 3 : 2;
    }
    std::string t = line.substr(0, n);
    line.erase(0, n);
    return t;
  }
};

// Lines built from pieces that reach every rule: words, numbers in both
// forms, quotes closed and open, operators of one to three characters,
// comments of both kinds, blanks and tabs.
std::string randomLine(std::mt19937& rng) {
  static const char* pieces[] = {"name_1", "$x", "_y", "12", "3.5.1", "-4", "1e-3", "-2.5e7", "\"a b\"", "'q r'",
                                 "\"open", "'", "=", "==", ">>=", "&", "%", "-", "+", "*", "/", "//c", "/*x*/",
                                 "/* a", "*/", "{", "}", ",", "(", "?", "\t", " ", "  ", "é", "e", "."};
  std::uniform_int_distribution<int> count(0, 14), pick(0, int(std::size(pieces)) - 1), glue(0, 2);
  std::string line;
  for (int i = count(rng); i > 0; --i) {
    line += pieces[pick(rng)];
    if (glue(rng) == 0) line += ' ';
  }
  return line;
}

}  // namespace

TEST(TokenizerReference, SameTokensAsThePlainCutOnGeneratedLines) {
  std::mt19937 rng(7);
  for (bool obj : {false, true}) {
    Tokenizer fast;
    ReferenceTokenizer ref;
    for (int i = 0; i < 20000; ++i) {
      const std::string line = randomLine(rng);
      std::string_view rest(line);
      std::string refRest = line;
      for (int guard = 0; guard < 1000; ++guard) {
        const std::string got(obj ? fast.nextObjToken(rest) : fast.nextToken(rest));
        const std::string want = ref.token(refRest, obj);
        ASSERT_EQ(got, want) << "line: [" << line << "] obj " << obj;
        ASSERT_EQ(std::string(rest), refRest) << "line: [" << line << "]";
        ASSERT_EQ(fast.inBlockComment, ref.inComment) << "line: [" << line << "]";
        if (rest.empty()) break;
      }
    }
  }
}

class SettingsInput : public ::testing::Test, public CoreFixture {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("settingsinput-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  bool logHas(const std::string& part) const {
    for (const auto& l : log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

 private:
  fs::path old_, dir_;
};

// Each token used to move the rest of the line: a 2 MB line took most of a
// minute, a long list many minutes.
TEST_F(SettingsInput, VeryLongLinesAreReadWholeInOnePass) {
  const std::string text(3'000'000, 'G');
  std::string list = "transformxy = {";
  for (int i = 0; i < 600'000; ++i) list += i % 2 ? "-3," : "7,";
  list += "9}";
  writeAll("long.i3d", "startgcodes = \"" + text + "\" printspeed = 77 " + list + " movespeed = 66\n");
  ASSERT_TRUE(core.applySettings("long.i3d", false));
  EXPECT_EQ(core.s.startgcodes, text);
  EXPECT_EQ(core.s.printspeed, 77);
  EXPECT_EQ(core.s.movespeed, 66);
  EXPECT_EQ(core.s.transformxy, (std::array<int, 6>{7, -3, 7, -3, 7, -3}));
  EXPECT_TRUE(logHas("transformxy takes 6 values: the rest is passed over"));

  core.applySettings("?userfuncts=\"" + std::string(2'000'000, 'u') + "\" band64 = 32", false);
  EXPECT_EQ(core.s.userfuncts.size(), 2'000'000u);
  EXPECT_EQ(core.s.band64, 32);
}

// A message repeats at most a short piece of what it refuses: a settings
// file may hold megabyte lines, and the log view lays out every character.
TEST_F(SettingsInput, AMessageEchoesOnlyTheStartOfALongValue) {
  const std::string value(1'600'000, '7');
  writeAll("long.i3d", "nosuchsetting = " + value + "\nprintspeed = " + value + "\nxMarlinBase = " + value + "\n");
  core.applySettings("long.i3d", true);
  for (const char* start : {"unknown parameter nosuchsetting = 777", "printspeed = 777", "'777"}) {
    SCOPED_TRACE(start);
    bool found = false;
    for (const auto& l : log()) {
      if (l.find(start) == std::string::npos) continue;
      found = true;
      EXPECT_LT(l.size(), 400u);
      EXPECT_NE(l.find("... (1600000 characters)"), std::string::npos) << l.substr(0, 300);
    }
    EXPECT_TRUE(found);
  }
}

// A comment that is never closed hides every setting after it: the log
// says where it began.
TEST_F(SettingsInput, AnUnclosedCommentIsTold) {
  writeAll("open.i3d", "printspeed = 77\r\n// fine\r\n/* closed */ movespeed = 66\r\n/* never closed\r\nband64 = 32\r\n");
  EXPECT_TRUE(core.applySettings("open.i3d", true));
  EXPECT_EQ(core.s.printspeed, 77);
  EXPECT_EQ(core.s.movespeed, 66);
  EXPECT_NE(core.s.band64, 32);
  EXPECT_TRUE(logHas("open.i3d line 4: the comment opened with /* there is never closed with */; the settings after "
                     "it were not read"));
  core.applySettings("?band64 = 32 /* open", false);
  EXPECT_TRUE(logHas("the comment opened with /* is never closed with */"));
}

// A settings path may name anything: only a regular file of sane size is
// read, and nothing waits on a device or a pipe.
TEST_F(SettingsInput, OnlyRegularFilesOfSaneSizeAreRead) {
  fs::create_directories("folder.i3d");
  ASSERT_EQ(mkfifo("pipe.i3d", 0600), 0);
  {
    // Sparse: the size is what counts, nothing is read.
    const int fd = ::open("huge.i3d", O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, off_t(kMaxSettingsFileBytes) + 1), 0);
    ::close(fd);
  }
  const struct {
    std::string file, why;
  } cases[] = {
      {"folder.i3d", "a folder"},
      {"pipe.i3d", "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {"huge.i3d", "larger than 16 MB"},
      // "printspeed = 5" as an editor saves UTF-16: not one setting in it.
      {"utf16.i3d", "it holds NUL characters: UTF-16 or not a text file; a settings file is plain text"},
  };
  {
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("printspeed = 5\r\n")) utf16 += std::string(1, c) + '\0';
    writeAll("utf16.i3d", utf16);
  }
  for (const auto& c : cases) {
    ui.messages.clear();
    EXPECT_FALSE(core.applySettings(c.file, true)) << c.file;
    ASSERT_EQ(ui.messages.size(), 1u) << c.file;
    EXPECT_EQ(ui.messages[0], "cannot read from file: " + c.file + " (" + c.why + ")");
    std::string text;
    const Result read = core.readSettingsFile(c.file, text);  // as any failed read
    EXPECT_FALSE(read) << c.file;
    EXPECT_TRUE(read.told()) << c.file;
    EXPECT_EQ(read.reason(), ui.messages[0]) << c.file;
  }

  // The override and main-file readers refuse them too, without waiting.
  EXPECT_EQ(readFileKey("pipe.i3d", "CommInkDevice", "kept", true), "kept");
  std::string text;
  EXPECT_EQ(readSettingsText("pipe.i3d", text), "not a regular file");
}

// Numbers outside what a setting can mean are refused wherever they enter,
// naming the setting and its range; the old value stays and the rest of
// the text still applies.
TEST_F(SettingsInput, NumbersOutsideTheirRangeAreRefused) {
  const struct {
    std::string assignment, message;
  } cases[] = {
      {"band64 = 0", "band64 = 0 not set: band64 must be from 1 to 150"},
      {"layerMicrons = 2147483647", "layerMicrons = 2147483647 not set: layerMicrons must be from 10 to 2000"},
      {"printspeed = 99999999999", "printspeed = 99999999999 not set: printspeed must be from 1 to 100000"},
      {"stretchSizeLim = -2147483648", "stretchSizeLim = -2147483648 not set: stretchSizeLim must be from 100 to 990000"},
      {"zlevelhome = 5000.5", "zlevelhome = 5000.5 not set: zlevelhome must be from -1000 to 1000"},
      {"kcmyoff = {44, 99999}", "kcmyoff[1] = 99999 not set: kcmyoff must be from -2400 to 2400"},
  };
  for (const auto& c : cases) {
    const Settings before = core.s;
    core.applySettings("?" + c.assignment + " shakerspeed = 21", false);
    EXPECT_EQ(log().back(), c.message);
    EXPECT_EQ(core.s.band64, before.band64);
    EXPECT_EQ(core.s.layerMicrons, before.layerMicrons);
    EXPECT_EQ(core.s.printspeed, before.printspeed);
    EXPECT_EQ(core.s.stretchSizeLim, before.stretchSizeLim);
    EXPECT_EQ(core.s.zlevelhome, before.zlevelhome);
    EXPECT_EQ(core.s.kcmyoff[1], before.kcmyoff[1]);
    EXPECT_EQ(core.s.shakerspeed, 21) << c.assignment;
    core.s.shakerspeed = 20;
  }
  EXPECT_EQ(core.s.kcmyoff[0], 44);  // the element in range was taken

  // From a file the same; a value at a bound is taken.
  writeAll("r.i3d", "rollerspeed = 101\r\nshakerspeed = 100\r\n");
  core.applySettings("r.i3d", false);
  EXPECT_EQ(core.s.rollerspeed, 17);
  EXPECT_EQ(core.s.shakerspeed, 100);
  EXPECT_TRUE(logHas("rollerspeed = 101 not set: rollerspeed must be from 0 to 100"));
  // The refused value queued no jetting-unit code.
  EXPECT_EQ(unitCodes.text.find("101,11o"), std::string::npos);
}

TEST_F(SettingsInput, EveryNumberHasARangeHoldingItsDefaultAndTheShippedValues) {
  for (int i = 0; i < core.params.paramCount(); ++i) {
    const ParamEntry& e = core.params.entry(i);
    const bool number = e.paramType == "@i" || e.paramType == "@f" || e.paramType == "@[";
    EXPECT_EQ(e.hasRange, number) << e.paramName;
    if (!number) continue;
    EXPECT_LT(e.rangeLow, e.rangeHigh) << e.paramName;
    // The default as it stands in the settings' line.
    std::string value = splitAt(core.params.formatParamLine(i, false), '=', true);
    for (char& c : value)
      if (c == '{' || c == '}' || c == ',') c = ' ';
    for (std::string rest = trimmed(value); !rest.empty(); rest = trimmed(rest)) {
      const double v = std::stod(popToken(rest, ' '));
      EXPECT_EQ(core.params.rangeRefusal(i, v), "") << e.paramName << " default " << v;
    }
  }
  // Every value of the shipped full settings file loads without a refusal.
  const char* data = std::getenv("PRISM_TEST_DATA");
  ASSERT_NE(data, nullptr);
  core.applySettings(std::string(data) + "/host/full_defaults.i3d", true);
  EXPECT_FALSE(logHas("not set"));
}

// A save replaces only the file the settings came from (or a file the
// operator chose): another file's own settings were never read.
TEST_F(SettingsInput, SaveNeverReplacesAFileThatWasNotRead) {
  writeAll("a.i3d", "printspeed = 1111\r\n");
  writeAll("b.i3d", "printspeed = 2222\r\n");
  SettingsFiles files(core);
  core.progDir = currentDir() + "/";
  writeAll("prismhost.i3d", "");
  ui.files.push_back(currentDir() + "/a.i3d");
  files.openSettingsFile();
  ASSERT_EQ(core.s.printspeed, 1111);

  core.applySettings("?inifile=\"b.i3d\" movespeed=5", false);
  EXPECT_FALSE(files.saveSettings());
  EXPECT_EQ(readAll("b.i3d"), "printspeed = 2222\r\n");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].rfind("settings not saved to b.i3d: that file was never read", 0), 0u);

  // A new file, the loaded one and one chosen in the save dialog are fine.
  core.s.settingsFile = "c.i3d";
  EXPECT_TRUE(files.saveSettings());
  EXPECT_NE(readAll("c.i3d").find("movespeed = 5"), std::string::npos);
  core.s.settingsFile = currentDir() + "/a.i3d";
  EXPECT_FALSE(files.saveSettings());  // c.i3d holds the settings now
  core.s.settingsFile = "c.i3d";
  EXPECT_TRUE(files.saveSettings());
  ui.files.push_back(currentDir() + "/b.i3d");
  files.saveSettingsAs();
  EXPECT_NE(readAll("b.i3d").find("movespeed = 5"), std::string::npos);

  // A file that could not be read is not replaced with the defaults.
  ASSERT_EQ(mkfifo("e.i3d", 0600), 0);
  ui.files.push_back(currentDir() + "/e.i3d");
  files.openSettingsFile();
  EXPECT_FALSE(files.saveSettings());
  EXPECT_TRUE(fs::is_fifo("e.i3d"));
}
