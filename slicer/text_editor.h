#pragma once
// The text editor "Edit sup file" for a model's support file and for
// "ngsetup.txt": the file's lines in a memo, SAVE, and CLOSE, which offers to
// save changes that were not saved.
#include <string>

namespace lt {

class SlicerApp;

// What the editor asks of its window.
class EditorWindow {
 public:
  virtual ~EditorWindow() = default;
  // The caption and the memo's text (shown without counting as a change).
  virtual void showText(const std::string& caption, const std::string& text) = 0;
  virtual void close() = 0;
};

class TextEditor {
 public:
  // The window opens on a file (modal) and has closed.
  void open(SlicerApp& app, EditorWindow& window);
  void closed();

  // Handlers of the window.
  void formActivate();
  void memo1Change(const std::string& text);
  void saveClick();
  void formClose();
  void closbutClick();

  const std::string& text() const { return text_; }

  std::string editFileName;
  bool editorChanged = false;
  bool editorSaved = false;
  bool editorOpen = false;  // one editor at a time

 private:
  bool save();
  SlicerApp* app_ = nullptr;
  EditorWindow* window_ = nullptr;
  std::string text_;
};

}  // namespace lt
