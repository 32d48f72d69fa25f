// The operator log writer, stamps, status text and typed answers.
#include <gtest/gtest.h>

#include <malloc.h>

#include <ctime>

#include "host/core/testing/core_fixture.h"

using namespace ph;

class Log : public ::testing::Test, public CoreFixture {};

TEST_F(Log, ContinueProvisionalAndNewlines) {
  core.memoPrintf("a%d", 1);
  core.memoPrintf("%nb");
  EXPECT_EQ(log(), (std::vector<std::string>{"a1b"}));
  core.memoPrintf("c\n");
  core.memoPrintf("%nd");  // the previous message ended with a line feed: new line
  EXPECT_EQ(log(), (std::vector<std::string>{"a1b", "c", "d"}));
  core.memoPrintf("%o50%%");
  core.memoPrintf("%o60%%");
  EXPECT_EQ(log().back(), "60%");
  core.memoPrintf("done");
  EXPECT_EQ(log(), (std::vector<std::string>{"a1b", "c", "d", "done"}));
  core.memoPrintf("x\n\ny");
  EXPECT_EQ(log().size(), 7u);
  EXPECT_EQ(log()[5], "");
  core.memoPrintf("");
  EXPECT_EQ(log().size(), 7u);
}

// A noisy link echoes short lines in pieces; the log's memory stays near
// the size of its text, under twice it for these short lines (the heap's
// own count; a sanitizer's allocator reports none and the check is then
// empty).
TEST_F(Log, MemoryStaysNearTheTextSize) {
  const auto heap = [] { return static_cast<long long>(mallinfo2().uordblks); };
  const long long before = heap();
  long long text = 0;
  for (int i = 0; i < 40000; ++i) {
    bool first = true;
    for (const char* piece : {"echo:", "busy: ", "processing"}) {
      core.logWrite(piece, !first, false);
      first = false;
      text += static_cast<long long>(std::char_traits<char>::length(piece));
    }
    core.logWrite("ok", false, false);
    text += 2;
  }
  const long long grown = heap() - before;
  EXPECT_LT(grown, text * 2) << "text " << text << " bytes";
  EXPECT_EQ(core.Memo1.lineCount(), 80000u);
  EXPECT_EQ(core.Memo1.lines()[0], "echo:busy: processing");
  EXPECT_EQ(core.Memo1.lines().back(), "ok");
}

TEST_F(Log, LinesAndTheirRemoval) {
  OperatorLog l;
  l.addLine("one");
  l.appendToLast(" two");
  l.addLine("");
  l.addLine("three");
  EXPECT_EQ(std::vector<std::string>(l.lines()), (std::vector<std::string>{"one two", "", "three"}));
  l.removeLast();
  l.removeLast();
  l.appendToLast("!");
  EXPECT_EQ(l.text(), "one two!");
  l.clear();
  EXPECT_TRUE(l.empty());
  l.appendToLast("new");
  EXPECT_EQ(l.line(0), "new");
}

TEST_F(Log, DeviceTextIsNeverAFormat) {
  const std::string device = "%s%n%d reply";
  core.memoPrintf("%s", device);
  EXPECT_EQ(log().back(), device);
}

TEST_F(Log, StampsShowTheDateOnTheFirstLineOfADay) {
  setenv("TZ", "UTC", 1);
  tzset();
  std::tm t{};
  t.tm_year = 2026 - 1900;
  t.tm_mon = 11;
  t.tm_mday = 9;
  t.tm_hour = 23;
  t.tm_min = 59;
  t.tm_sec = 58;
  clock.setWallTime(std::chrono::system_clock::from_time_t(timegm(&t)));
  core.logStamped("one");
  clock.advance(1000);
  core.logStamped("two");
  clock.advance(1000);
  core.logStamped("three");
  EXPECT_EQ(log(), (std::vector<std::string>{" 2026/12/09 23:59:58 one ", " 23:59:59 two ",
                                             " 2026/12/10 00:00:00 three "}));
  unsetenv("TZ");
  tzset();
}

TEST_F(Log, StatusKeepsTheLastFifteenAndWipes) {
  core.statusMessage("123456789");
  core.statusMessage("abcdefghi");
  core.statusMessage("ABCDEFGHI");
  EXPECT_EQ(ui.status[0], "defghiABCDEFGHI");
  clock.advance(4999);
  EXPECT_EQ(ui.status[0], "defghiABCDEFGHI");
  clock.advance(1);
  EXPECT_EQ(ui.status[0], "");
}

TEST_F(Log, LogVars) {
  core.logVars("a", 1, "0", 5, "c", 3);
  EXPECT_EQ(log().back(), "a=1 c=3");
}

TEST_F(Log, EvalIntExpr) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {{"2*(3+4)", 14}, {"10-2-3", 5},  {"-5", -5},          {"2*-3", -3},
                        {"word", 0},     {"0x10+1", 17}, {"2147483647+1", -2147483648}, {"7/0", 0}};
  for (const auto& c : cases) EXPECT_EQ(core.evalIntExpr(c.text), c.value) << c.text;
  EXPECT_NE(log().back().find("division by zero"), std::string::npos);
}

TEST_F(Log, PresetAnswersOneQuestionOnly) {
  core.presetNextAnswer(7);
  EXPECT_EQ(core.evalIntExpr(core.askText("", "layers", "3")), 7);
  EXPECT_TRUE(ui.prompts.empty());
  ui.inputs.push_back("4");
  EXPECT_EQ(core.evalIntExpr(core.askText("", "layers", "3")), 4);
  EXPECT_EQ(ui.prompts.size(), 1u);

  // A text prompt that takes the preset must not leave it for a later one.
  core.presetNextAnswer(9);
  core.askText("", "name", "x");
  EXPECT_EQ(core.askText("", "other", "y"), "y");  // cancelled: the default
}

TEST_F(Log, NotConfirmed) {
  ui.answers = {OperatorUi::Answer::Yes, OperatorUi::Answer::No};
  EXPECT_FALSE(core.notConfirmed("erase"));
  EXPECT_TRUE(core.notConfirmed("erase"));
  EXPECT_TRUE(core.notConfirmed("erase"));  // closed box
  EXPECT_EQ(ui.questions[0], "are you sure you want to erase");
}
