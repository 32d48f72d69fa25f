#pragma once
// The configuration editor's windows as Qt dialogs. They only show what
// ConfigEditor holds and forward every click and edit to it.
#include <map>

#include "host/core/config_editor.h"

class QDialog;
class QLineEdit;
class QPlainTextEdit;
class QScrollArea;
class QTabBar;
class QWidget;

namespace ph {

class ConfigDialog : public ConfigEditorView {
 public:
  ConfigDialog(QWidget* mainWindow, ConfigEditor& editor);
  ~ConfigDialog() override;

  // The editor window, built and not shown (showEditor runs it modally).
  QDialog* build();

  void showEditor() override;
  void closeEditor() override;
  void pageBuilt() override;
  void fieldTextChanged(int param) override;
  void focusField(int param) override;
  void showMultiLineEditor() override;
  void closeMultiLineEditor() override;

 private:
  void fitWindow();

  QWidget* mainWindow_;
  ConfigEditor& editor_;
  QDialog* dialog_ = nullptr;
  QScrollArea* scroll_ = nullptr;
  QWidget* content_ = nullptr;  // tabs, page and buttons at their positions
  int width_ = 0;               // the page's width, or wider for a long caption
  QTabBar* tabs_ = nullptr;
  QWidget* page_ = nullptr;     // the fields and labels of the page shown
  QWidget* apply_ = nullptr;
  QWidget* search_ = nullptr;
  std::map<int, QLineEdit*> edits_;
  QDialog* multi_ = nullptr;
};

}  // namespace ph
