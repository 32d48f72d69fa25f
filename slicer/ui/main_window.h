#pragma once
// The slicer's main window "Colored stl slicer": shows the program's state
// and forwards every action to SlicerApp. No logic lives here.
#include <QElapsedTimer>
#include <QMainWindow>
#include <string>

#include "slicer/slicer_ui.h"
#include "slicer/stage_windows.h"

class QCheckBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace lt {

class SlicerApp;
class ColourBox;

class MainWindow : public QMainWindow, public SlicerUi, public StageWindows {
 public:
  MainWindow();
  void attach(SlicerApp* app);

  // SlicerUi
  void showForm(const FormView& view) override;
  void setProgress(int percent, const std::string& title) override;
  void logLine(const std::string& text) override;
  bool canAsk() const override;
  void showMessage(const std::string& text) override;
  bool askYesNo(const std::string& text) override;
  void setJobRunning(bool running) override;
  void setBusyCursor(bool busy) override;
  void processEvents() override;
  std::string chooseModelFile() override;
  std::string chooseJobFile(const std::string& offered) override;
  std::optional<unsigned> chooseColour(unsigned rgb) override;
  std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                     const std::string& value) override;
  void bringToFront() override;
  void closeWindow() override;

  // StageWindows: the preview and the text editor, modal.
  void runPreview(SlicePreview& preview) override;
  void runEditor(TextEditor& editor) override;

 protected:
  bool event(QEvent* e) override;

 private:
  QLineEdit* addEdit(QGridLayout* g, int row, int col, const char* label, const char* hint);
  SlicerApp* app_ = nullptr;
  QProgressBar* prgauge_;
  QElapsedTimer gaugeDrawn_;  // since the gauge was last drawn
  std::string shownTitle_;
  QLabel *progress_, *qlabel_, *layer_, *rdlabel_;
  ColourBox* colorbox_;
  QLineEdit *layerbox_, *wpixbox_, *spixbox_, *edit1_, *edit2_, *edit3_, *edit4_, *zstart_, *zend_, *dcopies_;
  QPushButton *button1_, *button2_, *button3_, *prt0_, *supfile_, *prtsetup_, *prvbut_;
  QToolButton *spin1Up_, *spin1Down_, *spin2Up_, *spin2Down_;
  QCheckBox *overlap_, *mkfile_, *powdstart_;
  QPlainTextEdit* log_;
  bool busyCursor_ = false;
};

}  // namespace lt
