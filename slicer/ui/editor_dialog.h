#pragma once
// The text editor window "Edit sup file": a memo and SAVE and CLOSE buttons
// that forward to TextEditor. No logic lives here.
#include <QDialog>

#include "slicer/text_editor.h"

class QPlainTextEdit;

namespace lt {

class EditorDialog : public QDialog, public EditorWindow {
 public:
  EditorDialog(TextEditor& editor, QWidget* parent);

  // EditorWindow
  void showText(const std::string& caption, const std::string& text) override;
  void close() override;

 protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  // Escape closes like the window's close button.
  void reject() override { QDialog::close(); }

 private:
  TextEditor& editor_;
  QPlainTextEdit* memo1_;
  bool activated_ = false;
};

}  // namespace lt
