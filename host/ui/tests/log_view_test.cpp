// The log view of both windows on Qt's offscreen platform: what it shows
// after any run of log changes is the log's lines, and new lines wait for
// their batch.
#include "host/ui/log_view.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <random>

namespace ph {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "prismhost_log_view_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

std::string shown(LogView& v) { return v.toPlainText().toStdString(); }

TEST(LogView, NewLinesWaitForTheirBatchAndKeepNoUndo) {
  app();
  LogView v(nullptr);
  OperatorLog log;
  log.setView(&v);
  log.addLine("first");
  log.addLine("second");
  EXPECT_EQ(shown(v), "");  // not laid out line by line
  v.flushLines();
  EXPECT_EQ(shown(v), "first\nsecond");
  EXPECT_FALSE(v.isUndoRedoEnabled());
  EXPECT_TRUE(v.isReadOnly());
  log.setView(nullptr);
}

TEST(LogView, AVeryLongLineIsShownCutWithItsLength) {
  app();
  LogView v(nullptr);
  v.lineAdded(std::string(5000, 'x'));
  v.flushLines();
  EXPECT_EQ(shown(v), std::string(4000, 'x') + " ... (5000 characters, whole in the log file)");
}

TEST(LogView, ShowsTheLogsLinesAfterAnyRunOfChanges) {
  app();
  std::mt19937 random(7);
  for (int run = 0; run < 200; ++run) {
    LogView v(nullptr);
    OperatorLog log;
    log.addLine("before the window");
    v.showLines(log);
    log.setView(&v);
    const int steps = int(random() % 30);
    for (int i = 0; i < steps; ++i) {
      switch (random() % 6) {
        case 0:
        case 1: log.addLine("line " + std::to_string(i)); break;
        case 2: log.addLine(""); break;
        case 3: log.appendToLast(" more"); break;
        case 4: log.removeLast(); break;
        case 5:
          if (random() % 4 == 0) log.clear();
          else v.flushLines();
          break;
      }
    }
    v.flushLines();
    std::string want;
    bool firstLine = true;
    for (const std::string& line : log.lines()) {
      want += (firstLine ? "" : "\n") + line;
      firstLine = false;
    }
    ASSERT_EQ(shown(v), want) << "run " << run;
    log.setView(nullptr);
  }
}

}  // namespace
}  // namespace ph
