#include "editor_dialog.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lt {

EditorDialog::EditorDialog(TextEditor& editor, QWidget* parent) : QDialog(parent), editor_(editor) {
  setWindowTitle("Edit sup file");
  auto* v = new QVBoxLayout(this);
  memo1_ = new QPlainTextEdit(this);
  QFont courier("Courier New");
  courier.setStyleHint(QFont::Monospace);
  memo1_->setFont(courier);
  memo1_->setLineWrapMode(QPlainTextEdit::NoWrap);
  v->addWidget(memo1_);
  auto* buttons = new QHBoxLayout;
  auto* save = new QPushButton("SAVE", this);
  auto* closbut = new QPushButton("CLOSE", this);
  buttons->addWidget(save);
  buttons->addStretch();
  buttons->addWidget(closbut);
  v->addLayout(buttons);
  connect(memo1_, &QPlainTextEdit::textChanged, this,
          [this] { editor_.memo1Change(memo1_->toPlainText().toStdString()); });
  connect(save, &QPushButton::clicked, this, [this] { editor_.saveClick(); });
  connect(closbut, &QPushButton::clicked, this, [this] { editor_.closbutClick(); });
}

void EditorDialog::showText(const std::string& caption, const std::string& text) {
  setWindowTitle(QString::fromStdString(caption));
  const QSignalBlocker block(memo1_);
  memo1_->setPlainText(QString::fromStdString(text));
}

void EditorDialog::close() { QDialog::close(); }

void EditorDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (activated_) return;
  activated_ = true;
  editor_.formActivate();
}

void EditorDialog::closeEvent(QCloseEvent* e) {
  editor_.formClose();
  e->accept();
}

}  // namespace lt
