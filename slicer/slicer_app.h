#pragma once
// The slicer program: the start pass over the command line, the batch pass
// that prepares the model and runs the job, "ngsetup.txt", the ready event the
// host waits for, and the handlers of the main window. Everything runs on the
// user-interface thread; the window is only a view of this object.
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "slicer/coloured_model.h"
#include "slicer/slicer_stages.h"
#include "slicer/slicer_state.h"
#include "slicer/slicer_ui.h"

namespace lt {

// The program's exit status.
enum ExitStatus {
  kExitOk = 0,
  kExitModelFailed = 1,  // the model (or the -V file) could not be read
  kExitNoJob = 2,        // a batch run wrote no job
  kExitIncomplete = 3,   // the job was stopped or aborted (no fingerprint)
  kExitBadOption = 4,    // a batch run with an option value that was refused
};

class SlicerApp {
 public:
  SlicerApp(plat::Clock& clock, SlicerUi& ui, SlicerStages& stages);
  ~SlicerApp();
  SlicerApp(const SlicerApp&) = delete;
  SlicerApp& operator=(const SlicerApp&) = delete;

  // The start pass (window creation): arguments without the program name.
  // `startTick`: the clock's tick when the program started, where the
  // batch pass's 100 ms count from (-1: from now).
  void formCreate(std::vector<std::string> args, const std::string& currentDir, std::int64_t startTick = -1);
  // The batch pass, 100 ms after the start.
  void doparamTimer();
  // Loads and measures the model once; false when it is not ready.
  bool prepareModel(bool useFirstArgument);
  void readSetupFile(bool keepValues);
  void showProgress(int percent);
  // Runs the job writer with the stop and abort buttons active.
  JobOutcome writeJob();
  // A message for the operator: a message box for an operator at the window;
  // in an unattended run (or without a display) a log line on stderr, never
  // a box that waits.
  void tellOperator(const std::string& text);
  // Sets ".p3d file ready" (or ".p3d file ready(n)" for -I n from 2 on).
  void setReadyEvent();

  // Window handlers.
  void formActivate();
  void taggedEditChanged(int tag, const std::string& text);  // wpixboxChange
  void layerboxChanged(const std::string& text) {
    st_.layerbox = text;
    st_.layerMm.reset();
  }
  void zstartChanged(const std::string& text) { st_.zstart = text; }
  void zendChanged(const std::string& text) { st_.zend = text; }
  void button1Click();  // start
  void button2Click();  // stop
  void button3Click();  // abort
  void prt0Click();     // prepare
  void spinButton1DownClick();
  void spinButton1UpClick();
  void spinButton2UpClick();
  void spinButton2DownClick();
  void dcopiesEnter(const std::string& text);
  void colorboxClick();
  void supfileClick();
  void prtsetupClick();
  void prvbutClick();
  void zstartKeyPress() { showProgress(0); }
  void mkfileClick(bool checked);
  void bmp1Click() { st_.bmpLayerMode = true; }
  void scale1Click();
  void skindepth1Click();
  void timer1Timer();
  void closetimerTimer() { ui_.closeWindow(); }

  SlicerState& state() { return st_; }
  const SlicerState& state() const { return st_; }
  ColouredModel& model() { return model_; }
  const ColouredModel& model() const { return model_; }
  SlicerUi& ui() { return ui_; }
  plat::Clock& clock() { return clock_; }
  FormView view() const;
  void refresh() { ui_.showForm(view()); }
  int exitStatus() const { return exitStatus_; }
  bool unattended() const { return unattended_; }

  // The model argument of the command line: the first argument unless it is
  // an option; empty when there is none.
  std::string firstArgument() const;
  // The files a job is made from: the model (or the job to copy), its
  // support file, the colour cube and "ngsetup.txt". A job's output is never
  // written over any of them.
  std::vector<std::string> inputFiles() const;

 private:
  void applyStartOption(const std::string& arg);
  void applyBatchOption(const std::string& arg);
  std::optional<int> intOption(char letter, const std::string& value, IntRange range);
  void badOption(const std::string& text);
  bool loadModel();
  bool applyBox(const Box& b);
  void reportRasterEdges(const Box& b);
  void invalidateOutput();
  void rhinoWaitTimer();

  plat::Clock& clock_;
  SlicerUi& ui_;
  SlicerStages& stages_;
  SlicerState st_;
  ColouredModel model_;
  std::unique_ptr<plat::Timer> doparam_, closetimer_, timer1_, rhinoWait_;
  std::unique_ptr<plat::NamedEvent> readyEvent_;
  bool unattended_ = false;
  int exitStatus_ = kExitOk;
  // Option values refused by the start or the batch pass: a batch run with
  // any of them writes no job.
  std::vector<std::string> badOptions_;
};

// The window colour of a 15-bit colour: each 5-bit channel times 8.
unsigned colourToWindow(int colour15);

}  // namespace lt
