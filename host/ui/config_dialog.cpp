#include "host/ui/config_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabBar>

namespace ph {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

constexpr int kRowHeight = 23;  // fields stand 25 apart

// A label that steps its setting when clicked (down: right button or Shift).
class StepLabel : public QLabel {
 public:
  StepLabel(const QString& text, QWidget* parent, ConfigEditor& editor, int param)
      : QLabel(text, parent), editor_(editor), param_(param) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    const bool down = e->button() == Qt::RightButton || (e->modifiers() & Qt::ShiftModifier);
    editor_.VarlabelMouseUp(param_, down);
  }

 private:
  ConfigEditor& editor_;
  int param_;
};

class ValueEdit : public QLineEdit {
 public:
  ValueEdit(const QString& text, QWidget* parent, ConfigEditor& editor, int param)
      : QLineEdit(text, parent), editor_(editor), param_(param) {}

 protected:
  void mouseDoubleClickEvent(QMouseEvent* e) override {
    QLineEdit::mouseDoubleClickEvent(e);
    editor_.boolEditDblClick(param_);
  }

 private:
  ConfigEditor& editor_;
  int param_;
};

void centreOver(QWidget* w, QWidget* over) {
  if (over) w->move(over->geometry().center() - QPoint(w->width() / 2, w->height() / 2));
}
}  // namespace

ConfigDialog::ConfigDialog(QWidget* mainWindow, ConfigEditor& editor) : mainWindow_(mainWindow), editor_(editor) {}

ConfigDialog::~ConfigDialog() = default;

QDialog* ConfigDialog::build() {
  delete dialog_;  // and with it every widget of an earlier build
  page_ = nullptr;
  edits_.clear();
  dialog_ = new QDialog(mainWindow_, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
  dialog_->setWindowTitle("Configuration settings");
  scroll_ = new QScrollArea(dialog_);
  scroll_->setFrameShape(QFrame::NoFrame);
  content_ = new QWidget;
  scroll_->setWidget(content_);

  tabs_ = new QTabBar(content_);
  for (const auto& name : editor_.tabs()) tabs_->addTab(q(name));
  tabs_->setGeometry(0, 0, EditorPage{}.width - 15, EditorPage::kTabsHeight);
  tabs_->setCurrentIndex(editor_.page().tab);
  QObject::connect(tabs_, &QTabBar::currentChanged, dialog_, [this](int tab) {
    if (tab >= 0 && tab != editor_.page().tab) editor_.TabControl1Change(tab);
  });

  auto* apply = new QPushButton("Apply", content_);
  auto* search = new QPushButton("Search", content_);
  QObject::connect(apply, &QPushButton::clicked, dialog_, [this] { editor_.ButOkClick(false); });
  QObject::connect(search, &QPushButton::clicked, dialog_, [this] { editor_.ButOkClick(true); });
  apply_ = apply;
  search_ = search;
  pageBuilt();
  return dialog_;
}

void ConfigDialog::pageBuilt() {
  if (!content_) return;
  const EditorPage& p = editor_.page();
  edits_.clear();
  delete page_;
  page_ = new QWidget(content_);
  page_->setGeometry(0, EditorPage::kTabsHeight, p.width, p.height - EditorPage::kTabsHeight);
  for (const EditorField& f : p.fields) {
    auto* edit = new ValueEdit(q(f.text), page_, editor_, f.param);
    edit->setGeometry(EditorPage::kFieldLeft, f.top - EditorPage::kTabsHeight, EditorPage::kFieldWidth, kRowHeight);
    edit->setCursorPosition(0);
    edit->setToolTip(q(f.hint));
    const int param = f.param;
    QObject::connect(edit, &QLineEdit::textEdited, page_,
                     [this, param](const QString& t) { editor_.AnyParamChange(param, t.toStdString()); });
    edits_[f.param] = edit;
    auto* label = new StepLabel(q(f.label), page_, editor_, f.param);
    label->move(EditorPage::kLabelLeft, f.top + 3 - EditorPage::kTabsHeight);
    label->setToolTip(q(f.labelHint));
  }
  page_->show();
  content_->resize(p.width, p.height);
  const int h = apply_->sizeHint().height();
  apply_->setGeometry(p.buttonLeft(), EditorPage::kApplyBottom - h, EditorPage::kButtonWidth, h);
  search_->setGeometry(p.buttonLeft(), EditorPage::kSearchTop, EditorPage::kButtonWidth, h);
  apply_->raise();
  search_->raise();
  QSignalBlocker block(tabs_);
  tabs_->setCurrentIndex(p.tab);
  fitWindow();
}

// The page's size, or what the screen has room for, with a scroll bar.
void ConfigDialog::fitWindow() {
  const EditorPage& p = editor_.page();
  QScreen* screen = mainWindow_ ? mainWindow_->screen() : QGuiApplication::primaryScreen();
  const int room = screen ? screen->availableGeometry().height() - 60 : p.height;
  const int height = std::min(p.height, std::max(200, room));
  const int bar = height < p.height ? scroll_->verticalScrollBar()->sizeHint().width() : 0;
  dialog_->setFixedSize(p.width + bar, height);
  scroll_->setGeometry(0, 0, p.width + bar, height);
}

void ConfigDialog::showEditor() {
  build();
  centreOver(dialog_, mainWindow_);
  dialog_->exec();
  delete dialog_;
  dialog_ = nullptr;
  content_ = nullptr;
  page_ = nullptr;
  edits_.clear();
}

void ConfigDialog::closeEditor() {
  if (dialog_) dialog_->accept();
}

void ConfigDialog::fieldTextChanged(int param) {
  auto it = edits_.find(param);
  if (it == edits_.end()) return;
  for (const EditorField& f : editor_.page().fields)
    if (f.param == param) it->second->setText(q(f.text));
}

void ConfigDialog::focusField(int param) {
  auto it = edits_.find(param);
  if (it == edits_.end()) return;
  it->second->setFocus();
  scroll_->ensureWidgetVisible(it->second);
}

void ConfigDialog::showMultiLineEditor() {
  QDialog d(dialog_ ? static_cast<QWidget*>(dialog_) : mainWindow_);
  d.setWindowTitle(q(editor_.multiLineCaption()));
  d.setFixedSize(530, 500);
  auto* memo = new QPlainTextEdit(q(editor_.multiLineMemoText()), &d);
  memo->setGeometry(10, 20, 530 - 40, 500 - 100);
  auto* ok = new QPushButton("Ok", &d);
  const int h = ok->sizeHint().height();
  ok->setGeometry((530 - 60) / 2, 500 - 35 - h, 60, h);
  QObject::connect(ok, &QPushButton::clicked, &d, [this, memo] { editor_.OKmClick(memo->toPlainText().toStdString()); });
  centreOver(&d, mainWindow_);
  multi_ = &d;
  d.exec();
  multi_ = nullptr;
}

void ConfigDialog::closeMultiLineEditor() {
  if (multi_) multi_->accept();
}

}  // namespace ph
