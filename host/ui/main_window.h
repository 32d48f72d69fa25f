#pragma once
// The Qt main window of prismhost: builds its widgets from the Controls
// model, shows the operator log, forwards clicks to the Host and answers the
// operator-UI seam. It holds no logic of its own.
#include <QMainWindow>
#include <functional>
#include <QStringList>
#include <QTimer>
#include <map>
#include <set>
#include <memory>

#include "host/ui/log_view.h"
#include "host/core/operator_ui.h"

class QPlainTextEdit;
class QLabel;
class QMenu;
class QWidget;
class QAction;
class QFlowLayout;
class QVBoxLayout;
class QHBoxLayout;
class QScrollArea;
class QGroupBox;
class QProgressBar;

namespace ph {

class Host;
struct Control;

class MainWindow : public QMainWindow, public OperatorUi {
 public:
  // headless: no display, so no dialog may wait for an answer.
  explicit MainWindow(bool headless);
  ~MainWindow() override;
  void attach(Host* host);

  // OperatorUi
  void showMessage(const std::string& text) override;
  Answer askYesNoCancel(const std::string& caption, const std::string& text) override;
  bool askYesNo(const std::string& caption, const std::string& text) override;
  int askChoice(const std::string& caption, const std::string& text,
                const std::vector<std::string>& buttons) override;
  std::optional<std::string> inputBox(const std::string& caption, const std::string& prompt,
                                      const std::string& initial) override;
  std::optional<std::string> openFileDialog(const FileDialogRequest& dialog) override { return fileDialog(dialog, false); }
  std::optional<std::string> saveFileDialog(const FileDialogRequest& dialog) override { return fileDialog(dialog, true); }
  bool fieldDialog(const std::string& caption, int width, int height, std::vector<DialogField>& fields) override;
  void waitKeyPopup() override;
  void setStatusPanel(int panel, const std::string& text) override;
  void setCaption(const std::string& text) override;
  void showProgress(int percent) override;
  void processEvents() override;
  void showBitmap(const QImage& picture, bool modal) override;
  void setClipboardText(const std::string& text) override;
  void closeBitmap() override;
  void setBitmapStepper(std::function<void(int)> step) override;
  WindowGeometry windowGeometry() override;
  WindowMetrics windowMetrics() override;
  WindowGeometry screenArea() override;
  void setWindowGeometry(const WindowGeometry& g) override;
  void closeMainWindow() override;
  bool hasDisplay() const override { return !headless_; }

 protected:
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  // Keys typed in the log and on the buttons reach the jetting-unit
  // terminal; keys of the G-code console reach the console.
  bool eventFilter(QObject* watched, QEvent* e) override;

 private:
  void controlChanged(const Control& c);
  // The place of a control in the print panel, -1 for the column.
  static int printPanelPlace(const std::string& name);
  // The job's name, the progress bar and the title follow the progress
  // line (its tag is the percentage).
  void showPrintState(const Control& progress);
  void addControlWidget(Control& c);
  void tellHeadless(const std::string& what, const std::string& text);
  std::optional<std::string> fileDialog(const FileDialogRequest& dialog, bool save);

  bool headless_;
  // No dialog may wait: there is no display, or the command line started
  // an unattended run (-V, -T, -B), whose messages and questions go to
  // standard error instead (and to the log where the caller writes them).
  bool nobodyAnswers() const;
  Host* host_ = nullptr;
  LogView* memo_ = nullptr;
  QLabel* status_[3] = {};
  QWidget* panel_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QGroupBox* printPanel_ = nullptr;
  QHBoxLayout* printRow_ = nullptr;
  QLabel* jobLabel_ = nullptr;
  QProgressBar* printBar_ = nullptr;
  std::string baseTitle_ = "prismhost";
  QVBoxLayout* panelLayout_ = nullptr;
  std::map<const Control*, QWidget*> widgets_;
  std::map<QObject*, Control*> labels_;
  std::map<const Control*, QAction*> actions_;
  std::map<std::string, QMenu*> menus_;
  QWidget* console_ = nullptr;     // the line edit of typeGcode
  QWidget* consoleBox_ = nullptr;  // typeGcode itself
  QWidget* rawLine_ = nullptr;  // Edit1
  std::set<QObject*> terminalKeys_;  // the log and the buttons
  // Labels and pictures whose mouse buttons the jetting-unit controls take.
  std::map<QObject*, std::string> mouseTargets_;
  class ProgressWindow* progress_ = nullptr;
  class BitmapViewer* viewer_ = nullptr;
  std::function<void(int)> stepper_;
  std::unique_ptr<class ConfigDialog> config_;
};

}  // namespace ph
