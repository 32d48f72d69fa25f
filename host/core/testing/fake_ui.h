#pragma once
// A scripted operator for tests: records what the program showed and
// answers questions from queues (an empty queue answers Cancel / nothing).
#include <QImage>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/core/operator_ui.h"

namespace ph {

class FakeUi : public OperatorUi {
 public:
  std::vector<std::string> messages;   // message boxes
  std::vector<std::string> questions;  // Yes/No/Cancel texts
  std::vector<std::string> prompts;    // input box prompts
  std::vector<FileDialogRequest> dialogs;
  std::deque<Answer> answers;
  std::vector<std::string> choices;  // texts of the boxes with buttons
  std::deque<int> choiceAnswers;     // buttons pressed; empty: the box is closed
  std::deque<std::optional<std::string>> inputs;
  std::deque<std::optional<std::string>> files;
  std::deque<std::vector<std::string>> fieldAnswers;  // texts for the next field dialog; absent = not confirmed
  std::string status[3];
  std::string caption;
  int progress = 0;
  int progressShown = 0;  // how often 1..99 was shown
  int events = 0;
  int bitmapsShown = 0;
  QImage lastBitmap;  // a copy of the picture shown last
  bool lastBitmapModal = false;
  std::string clipboard;
  int bitmapsClosed = 0;
  int keyPopups = 0;
  bool closeRequested = false;
  bool display = true;
  WindowGeometry geometry{100, 100, 800, 600};
  WindowMetrics metrics{23, 20, 4, 4};
  // Two screens side by side, the second one left of the first.
  WindowGeometry screens{-1920, 0, 3840, 1080};

  void showMessage(const std::string& t) override { messages.push_back(t); }
  Answer askYesNoCancel(const std::string&, const std::string& t) override {
    questions.push_back(t);
    if (answers.empty()) return Answer::Cancel;
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  int askChoice(const std::string&, const std::string& t, const std::vector<std::string>&) override {
    choices.push_back(t);
    if (choiceAnswers.empty()) return -1;
    int a = choiceAnswers.front();
    choiceAnswers.pop_front();
    return a;
  }
  std::optional<std::string> inputBox(const std::string&, const std::string& prompt, const std::string&) override {
    prompts.push_back(prompt);
    if (inputs.empty()) return std::nullopt;
    auto a = inputs.front();
    inputs.pop_front();
    return a;
  }
  std::optional<std::string> openFileDialog(const FileDialogRequest& s) override { return nextFile(s); }
  std::optional<std::string> saveFileDialog(const FileDialogRequest& s) override { return nextFile(s); }
  bool fieldDialog(const std::string&, int, int, std::vector<DialogField>& fields) override {
    if (fieldAnswers.empty()) return false;
    auto texts = fieldAnswers.front();
    fieldAnswers.pop_front();
    for (std::size_t i = 0; i < fields.size() && i < texts.size(); ++i) fields[i].text = texts[i];
    return true;
  }
  void waitKeyPopup() override { ++keyPopups; }
  void setStatusPanel(int panel, const std::string& t) override {
    if (panel >= 0 && panel < 3) status[panel] = t;
  }
  void setCaption(const std::string& t) override { caption = t; }
  void showProgress(int percent) override {
    progress = percent;
    if (percent >= 1 && percent <= 99) ++progressShown;
  }
  // What waiting events do when a long step lets them run.
  std::function<void()> onEvents;
  void processEvents() override {
    ++events;
    if (onEvents) onEvents();
  }
  void showBitmap(const QImage& picture, bool modal) override {
    ++bitmapsShown;
    lastBitmap = picture;
    lastBitmapModal = modal;
  }
  void setClipboardText(const std::string& text) override { clipboard = text; }
  void closeBitmap() override { ++bitmapsClosed; }
  // What Page Up and Page Down in the picture window would do.
  std::function<void(int)> bitmapStepper;
  void setBitmapStepper(std::function<void(int)> step) override { bitmapStepper = std::move(step); }
  WindowGeometry windowGeometry() override { return geometry; }
  WindowMetrics windowMetrics() override { return metrics; }
  WindowGeometry screenArea() override { return screens; }
  void setWindowGeometry(const WindowGeometry& g) override { geometry = g; }
  void closeMainWindow() override { closeRequested = true; }
  bool hasDisplay() const override { return display; }

 private:
  std::optional<std::string> nextFile(const FileDialogRequest& s) {
    dialogs.push_back(s);
    if (files.empty()) return std::nullopt;
    auto a = files.front();
    files.pop_front();
    return a;
  }
};

}  // namespace ph
