// The main window on Qt's offscreen platform over a Host on the manual
// clock: what an operator's keys and clicks reach, and what the window
// shows.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QScreen>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <QProgressBar>
#include <QPushButton>
#include <filesystem>

#include "host/app/host.h"
#include "host/components/comm_device_names.h"
#include "host/ui/main_window.h"
#include "platform/clock.h"

namespace ph {
namespace {

QApplication& app() {
  static int argc = 1;
  static char name[] = "prismhost_ui_tests";
  static char* argv[] = {name, nullptr};
  // Kept to the end: Qt's own objects must not outlive it at exit.
  static QApplication* a = new QApplication(argc, argv);
  return *a;
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    app();
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() /
           ("uitest-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    for (int com : {2, 30}) commDeviceNames().map(com, (dir_ / ("no-port-COM" + std::to_string(com))).string());
    // A window that may show dialogs would wait for an answer: the tests
    // drive only what asks nothing.
    window = std::make_unique<MainWindow>(true);
    host = std::make_unique<Host>(*window, clock, std::vector<std::string>{});
    window->attach(host.get());
    host->startUp();
  }
  void TearDown() override {
    host->core.Memo1.setView(nullptr);
    host.reset();
    window.reset();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  template <class W>
  W* widget(const char* name) {
    return window->findChild<W*>(name);
  }
  static void key(QWidget* w, int k, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
  }

  plat::ManualClock clock;
  std::unique_ptr<MainWindow> window;
  std::unique_ptr<Host> host;

 private:
  std::filesystem::path old_, dir_;
};

TEST_F(MainWindowTest, EnterInTheGcodeConsoleSendsTheLineAndKeepsItInTheHistory) {
  auto* box = widget<QComboBox>("typeGcode");
  ASSERT_NE(box, nullptr);
  box->setEditText("G28 X0");
  // The key reaches the combo box, which has the focus, not its line edit.
  key(box, Qt::Key_Return, "\r");
  const Control& c = host->core.controls.at("typeGcode");
  ASSERT_FALSE(c.items.empty());
  EXPECT_EQ(c.items.front(), "G28 X0");
  EXPECT_EQ(host->core.controls.at("Edit1").caption, "G28 X0");
  EXPECT_EQ(host->core.s.dropItems.substr(0, 6), "G28 X0");
  EXPECT_EQ(box->itemText(0), "G28 X0");
}

TEST_F(MainWindowTest, MachineControlsAreDisabledAndRefusedWhileAPrintRuns) {
  auto* home = widget<QPushButton>("BtHome");
  auto* batch = widget<QPushButton>("btBatch");
  ASSERT_NE(home, nullptr);
  ASSERT_NE(batch, nullptr);
  EXPECT_TRUE(home->isEnabled());
  // A print that stands paused counts as running.
  host->core.controls.at("pause").checked = true;
  clock.advance(300);
  EXPECT_FALSE(home->isEnabled());
  EXPECT_FALSE(batch->isEnabled());
  const std::size_t before = host->core.Memo1.lines().size();
  host->core.controls.at("BtHome").click();
  host->deviceLinks.ink.takeTerminalKey('~');
  host->deviceLinks.ink.takeTerminalKey(27);
  std::vector<std::string> said(host->core.Memo1.lines().begin() + long(before), host->core.Memo1.lines().end());
  EXPECT_EQ(said, (std::vector<std::string>{"Home: not while a print runs (pause or abort it first)",
                                            "alignment print: not while a print runs (pause or abort it first)",
                                            "cartridge check: not while a print runs (pause or abort it first)"}));
  EXPECT_FALSE(host->core.timers.at("HomeSeq").enabled());
  host->core.controls.at("pause").checked = false;
  clock.advance(300);
  EXPECT_TRUE(home->isEnabled());
  EXPECT_TRUE(batch->isEnabled());
}

TEST_F(MainWindowTest, ThePrintPanelIsInSightOnA1366By768Screen) {
  window->resize(1366, 768 - 60);  // less the desktop's own bars
  window->show();
  QApplication::processEvents();
  const QRect visible = window->rect();
  if (const char* shot = std::getenv("PRISM_UI_SHOT")) window->grab().save(shot);
  for (const char* name : {"printJob", "printBar", "perclabel", "LabStretch", "LabPwdr", "btStart", "pause", "btAbort"}) {
    SCOPED_TRACE(name);
    auto* w = window->findChild<QWidget*>(name);
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->isVisible());
    const QRect r(w->mapTo(window.get(), QPoint(0, 0)), w->size());
    EXPECT_TRUE(visible.contains(r)) << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
  }
  // The progress line, the bar and the title follow the print.
  Control& line = host->core.controls.at("perclabel");
  host->job.jobFileName = "/models/cube.stl";
  line.tag = 42;
  line.setCaption("34/80   (42%) eta: 3 min 10 s");
  EXPECT_EQ(widget<QProgressBar>("printBar")->value(), 42);
  EXPECT_EQ(window->windowTitle(), "prismhost - cube (42%)");
  EXPECT_EQ(widget<QLabel>("perclabel")->text(), "34/80   (42%) eta: 3 min 10 s");
  line.setCaption("");
  EXPECT_EQ(window->windowTitle(), "prismhost - cube");
  EXPECT_EQ(widget<QProgressBar>("printBar")->value(), 0);
}

TEST(MainWindowViewer, APictureLargerThanTheScreenOpensFittedAndPageKeysStep) {
  app();
  MainWindow window(false);
  std::vector<int> steps;
  window.setBitmapStepper([&](int step) { steps.push_back(step); });
  QImage tall(900, 5000, QImage::Format_RGB32);
  tall.fill(Qt::white);
  window.showBitmap(tall, false);
  auto* viewer = window.findChild<QDialog*>("bitmapViewer");
  ASSERT_NE(viewer, nullptr);
  const QRect room = window.screen()->availableGeometry();
  EXPECT_LE(viewer->width(), room.width());
  EXPECT_LE(viewer->height(), room.height());
  auto* picture = viewer->findChild<QLabel*>("bitmapPicture");
  ASSERT_NE(picture, nullptr);
  EXPECT_LE(picture->height(), room.height());  // zoomed to fit
  for (int k : {Qt::Key_PageDown, Qt::Key_PageDown, Qt::Key_PageUp}) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier);
    QApplication::sendEvent(viewer, &press);
  }
  EXPECT_EQ(steps, (std::vector<int>{1, 1, -1}));
  const int fitted = picture->height();
  QKeyEvent plus(QEvent::KeyPress, Qt::Key_Plus, Qt::NoModifier, "+");
  QApplication::sendEvent(viewer, &plus);
  EXPECT_GT(picture->height(), fitted);
  window.closeBitmap();
}

// A yes/no question shows two buttons, and Esc answers No.
TEST(MainWindowQuestions, AYesNoQuestionHasTwoButtonsAndEscMeansNo) {
  app();
  MainWindow window(false);
  int buttons = -1;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    buttons = int(box->buttons().size());
    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(box, &esc);
  });
  EXPECT_FALSE(window.askYesNo("Confirm", "are you sure you want to test"));
  EXPECT_EQ(buttons, 2);
  QTimer::singleShot(0, [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    box->button(QMessageBox::Yes)->click();
  });
  EXPECT_TRUE(window.askYesNo("Confirm", "are you sure you want to test"));
}

}  // namespace
}  // namespace ph
