#pragma once
// What the slicer's window shows and asks, behind one seam: the Qt window in
// the program, a recording fake in tests.
#include <optional>
#include <string>

namespace lt {

// The texts and states of the window's controls.
struct FormView {
  std::string caption;
  std::string layerbox, wpixbox, spixbox, edit1, edit2, edit3, edit4;
  std::string zstart, zend, dcopies;
  std::string qlabel, rdlabel, progressLabel, layerLabel;
  unsigned colourBoxRgb = 0;  // 0xRRGGBB
  bool overlap = true, mkfile = true, powdstart = true;
  bool prvbutVisible = false;
};

class SlicerUi {
 public:
  virtual ~SlicerUi() = default;
  virtual void showForm(const FormView& view) = 0;
  // The gauge and the application title.
  virtual void setProgress(int percent, const std::string& title) = 0;
  // A line of the window's log; also written to stderr.
  virtual void logLine(const std::string& text) = 0;
  // Whether an operator can answer a modal box (false without a display).
  virtual bool canAsk() const = 0;
  // A modal message box; only called when canAsk() and the run is not
  // unattended.
  virtual void showMessage(const std::string& text) = 0;
  // A Yes/No question; true for Yes. No when nobody can answer.
  virtual bool askYesNo(const std::string& text) = 0;
  // The stop and abort buttons act while a job runs.
  virtual void setJobRunning(bool running) = 0;
  virtual void setBusyCursor(bool busy) = 0;
  // Lets pending window events run (stop and abort buttons).
  virtual void processEvents() = 0;
  // The open dialog for a model; empty when cancelled.
  virtual std::string chooseModelFile() = 0;
  // The save dialog for a job file, offering `offered`; empty when
  // cancelled.
  virtual std::string chooseJobFile(const std::string& offered) = 0;
  // The colour dialog (0xRRGGBB); nothing when cancelled.
  virtual std::optional<unsigned> chooseColour(unsigned rgb) = 0;
  // An input box; nothing when cancelled.
  virtual std::optional<std::string> askText(const std::string& caption, const std::string& prompt,
                                             const std::string& value) = 0;
  // Focus to the window, enabled and repainted.
  virtual void bringToFront() = 0;
  // Closes the window, which ends the program.
  virtual void closeWindow() = 0;
};

}  // namespace lt
