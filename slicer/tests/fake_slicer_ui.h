#pragma once
// A slicer window that records what it was asked to show and answers from
// preset values.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "slicer/slicer_app.h"
#include "slicer/slicer_ui.h"

namespace lt::test {

class FakeUi : public SlicerUi {
 public:
  void showForm(const FormView& v) override { form = v; }
  void setProgress(int percent, const std::string& t) override {
    progress.push_back(percent);
    title = t;
  }
  void logLine(const std::string& text) override { log.push_back(text); }
  bool canAsk() const override { return ask; }
  void showMessage(const std::string& text) override { messages.push_back(text); }
  bool askYesNo(const std::string& text) override {
    questions.push_back(text);
    return yes;
  }
  void setJobRunning(bool running) override { jobRunning = running; }
  void setBusyCursor(bool b) override { busy = b; }
  void processEvents() override {
    ++eventRuns;
    if (onEvents) onEvents();
  }
  std::string chooseModelFile() override { return chosenFile; }
  std::string chooseJobFile(const std::string& offered) override {
    offeredJob = offered;
    return chosenJob;
  }
  std::optional<unsigned> chooseColour(unsigned) override { return colour; }
  std::optional<std::string> askText(const std::string&, const std::string&, const std::string& value) override {
    asked = value;
    return answer;
  }
  void bringToFront() override { ++fronts; }
  void closeWindow() override { ++closes; }

  bool logHas(const std::string& words) const {
    for (const auto& l : log)
      if (l.find(words) != std::string::npos) return true;
    return false;
  }

  FormView form;
  std::vector<int> progress;
  std::string title;
  std::vector<std::string> log, messages, questions;
  bool yes = false;  // the answer to every Yes/No question
  bool ask = true;
  bool jobRunning = false, busy = false;
  int eventRuns = 0, fronts = 0, closes = 0;
  std::function<void()> onEvents;  // a window event that arrives while the program waits
  std::string chosenFile;
  std::string offeredJob, chosenJob;
  std::optional<unsigned> colour;
  std::optional<std::string> answer;
  std::string asked;
};

// Later parts of the program, recorded.
class RecordingStages : public SlicerStages {
 public:
  JobOutcome writeJob(SlicerApp& app) override {
    ++jobs;
    if (duringJob) duringJob(app);
    return outcome;
  }
  void openPreview(SlicerApp&) override { ++previews; }
  void modelLoaded(SlicerApp&) override { ++loads; }
  bool editTextFile(SlicerApp&, const std::string& path) override {
    edited.push_back(path);
    return saveEdits;
  }

  int jobs = 0, previews = 0, loads = 0;
  JobOutcome outcome = JobOutcome::Finished;
  std::function<void(SlicerApp&)> duringJob;
  std::vector<std::string> edited;
  bool saveEdits = false;
};

}  // namespace lt::test
