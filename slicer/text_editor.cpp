#include "slicer/text_editor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/atomic_file.h"
#include "platform/format.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"
#include "slicer/slicer_app.h"

namespace lt {

void TextEditor::open(SlicerApp& app, EditorWindow& window) {
  app_ = &app;
  window_ = &window;
}

void TextEditor::closed() {
  window_ = nullptr;
  editorOpen = false;
}

void TextEditor::formActivate() {
  text_.clear();
  // A file that does not exist opens an empty memo; saving creates it. One
  // that is no regular file (a pipe, a device) or is far too large for a
  // set-up text is not read.
  std::string error;
  bool missing = false;
  const auto content = readInputFile(editFileName, "the file", kMaxSupportBytes, error, &missing);
  if (!content && !missing && app_) app_->tellOperator(error);
  std::size_t at = 0;
  bool first = true;
  while (content && at < content->size()) {
    std::size_t end = content->find('\n', at);
    if (end == std::string::npos) end = content->size();
    std::string line = content->substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!first) text_ += '\n';
    text_ += line;
    first = false;
  }
  editorChanged = false;
  editorSaved = false;
  if (window_) window_->showText("Edit " + editFileName, text_);
}

void TextEditor::memo1Change(const std::string& text) {
  text_ = text;
  editorChanged = true;
}

// Every line with a line end. A failed save leaves the old file whole.
bool TextEditor::save() {
  std::string body = text_;
  if (!body.empty() && body.back() != '\n') body += '\n';
  std::string why;
  const bool ok = plat::writeFileAtomically(localPath(editFileName), body, why);
  if (!ok) {
    if (app_) app_->tellOperator(plat::format("cannot write %s: %s; the text is not saved", editFileName, why));
  }
  return ok;
}

void TextEditor::saveClick() {
  if (!save()) return;
  editorSaved = editorSaved || editorChanged;
  editorChanged = false;
}

void TextEditor::formClose() {
  if (editorChanged && app_ && app_->ui().askYesNo("save file") && save()) {
    editorSaved = true;
    editorChanged = false;
  }
  editorOpen = false;
}

void TextEditor::closbutClick() {
  if (window_) window_->close();
}

}  // namespace lt
