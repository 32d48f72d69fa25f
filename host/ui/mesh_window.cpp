#include "host/ui/mesh_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

#include "host/mesh/mesh_tools.h"

namespace ph {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MeshWindow::MeshWindow(MeshTools& tools, QWidget* parent) : QDialog(parent), tools_(tools) {
  setWindowTitle("stl/obj functions");
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QMenuBar(this);
  layout->setMenuBar(bar);
  auto* row = new QHBoxLayout;
  layout->addLayout(row);
  memo_ = new QPlainTextEdit(this);
  memo_->setReadOnly(true);
  memo_->setUndoRedoEnabled(false);
  memo_->setFont(QFont("Monospace", 9));
  layout->addWidget(memo_, 1);

  std::map<std::string, QMenu*> menus;
  for (Control& c : tools_.controls.all()) {
    Control* pc = &c;
    if (c.kind == Control::Kind::Menu) {
      menus[c.name] = bar->addMenu(q(c.caption));
    } else if (c.kind == Control::Kind::MenuItem) {
      auto it = menus.find(c.parent);
      if (it == menus.end()) continue;
      QAction* a = it->second->addAction(q(c.caption));
      a->setCheckable(c.checkable);
      a->setChecked(c.checked);
      connect(a, &QAction::triggered, this, [pc](bool checked) {
        if (pc->checkable) pc->checked = checked;
        pc->click();
      });
      actions_[pc] = a;
    } else if (c.kind == Control::Kind::Button) {
      auto* b = new QPushButton(q(c.caption), this);
      b->setVisible(c.visible);
      connect(b, &QPushButton::clicked, this, [pc] { pc->click(); });
      row->addWidget(b);
      buttons_[pc] = b;
    }
  }
  row->addStretch(1);
  tools_.controls.onChanged = [this](const Control& c) { controlChanged(c); };
  for (const std::string& line : tools_.Memo1.lines()) memo_->appendPlainText(q(line));
  tools_.Memo1.setView(this);
  resize(700, 500);
}

MeshWindow::~MeshWindow() {
  tools_.Memo1.setView(nullptr);
  tools_.controls.onChanged = nullptr;
}

void MeshWindow::controlChanged(const Control& c) {
  if (auto it = actions_.find(&c); it != actions_.end()) {
    it->second->setText(q(c.caption));
    it->second->setChecked(c.checked);
    it->second->setVisible(c.visible);
  } else if (auto b = buttons_.find(&c); b != buttons_.end()) {
    static_cast<QPushButton*>(b->second)->setText(q(c.caption));
    b->second->setVisible(c.visible);
    b->second->setEnabled(c.enabled);
  }
}

void MeshWindow::closeEvent(QCloseEvent* e) {
  tools_.FormCloseQuery();
  e->accept();
}

void MeshWindow::lineAdded(const std::string& line) { memo_->appendPlainText(q(line)); }

void MeshWindow::lastLineChanged(const std::string& line) {
  QTextCursor c(memo_->document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  c.insertText(q(line));
}

void MeshWindow::lastLineRemoved() {
  if (memo_->document()->blockCount() <= 1) {
    memo_->clear();
    return;
  }
  QTextCursor c(memo_->document());
  c.movePosition(QTextCursor::End);
  c.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
  c.movePosition(QTextCursor::PreviousCharacter, QTextCursor::KeepAnchor);
  c.removeSelectedText();
}

void MeshWindow::cleared() { memo_->clear(); }

}  // namespace ph
