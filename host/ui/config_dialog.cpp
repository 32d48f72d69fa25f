#include "host/ui/config_dialog.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
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
#include <algorithm>

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
    editor_.stepField(param_, down);
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
    editor_.toggleBoolField(param_);
  }

 private:
  ConfigEditor& editor_;
  int param_;
};

// The unit inside the field's right end, where the text never runs under it.
void addUnit(QLineEdit* edit, const QString& unit) {
  auto* label = new QLabel(unit, edit);
  label->setObjectName("unit");
  label->setEnabled(false);  // drawn like a placeholder: not part of the value
  label->setAttribute(Qt::WA_TransparentForMouseEvents);
  label->adjustSize();
  const int w = label->width() + 4;
  edit->setTextMargins(0, 0, w, 0);
  label->move(edit->width() - w, (edit->height() - label->height()) / 2);
}

// A port field: the ports found, by their stable names, in a list as wide
// as the longest; any other text may still be typed.
QComboBox* portCombo(const EditorField& f, QWidget* parent) {
  auto* combo = new QComboBox(parent);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  for (const auto& port : f.choices) combo->addItem(q(port));
  combo->setCurrentIndex(-1);
  combo->setEditText(q(f.text));
  int widest = 0;
  for (int i = 0; i < combo->count(); ++i)
    widest = std::max(widest, combo->fontMetrics().horizontalAdvance(combo->itemText(i)));
  combo->view()->setMinimumWidth(widest + 30);
  return combo;
}

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
  tabs_->setExpanding(false);
  tabs_->setElideMode(Qt::ElideNone);
  tabs_->setUsesScrollButtons(false);
  tabs_->setGeometry(0, 0, EditorPage{}.width - 15, EditorPage::kTabsHeight);
  tabs_->setCurrentIndex(editor_.page().tab);
  QObject::connect(tabs_, &QTabBar::currentChanged, dialog_, [this](int tab) {
    if (tab >= 0 && tab != editor_.page().tab) editor_.buildPage(tab);
  });

  auto* apply = new QPushButton("Apply", content_);
  auto* search = new QPushButton("Search", content_);
  QObject::connect(apply, &QPushButton::clicked, dialog_, [this] { editor_.applyEdits(false); });
  QObject::connect(search, &QPushButton::clicked, dialog_, [this] { editor_.applyEdits(true); });
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
  int labelsRight = 0;
  for (const EditorField& f : p.fields) {
    const int param = f.param;
    const QRect at(EditorPage::kFieldLeft, f.top - EditorPage::kTabsHeight, EditorPage::kFieldWidth, kRowHeight);
    QWidget* field;
    QLineEdit* edit;
    if (f.portField) {
      auto* combo = portCombo(f, page_);
      QObject::connect(combo, &QComboBox::textActivated, page_,
                       [this, param](const QString& t) { editor_.takeFieldText(param, t.toStdString()); });
      field = combo;
      edit = combo->lineEdit();
    } else {
      edit = new ValueEdit(q(f.text), page_, editor_, f.param);
      field = edit;
    }
    field->setObjectName(q(f.name));
    field->setGeometry(at);
    field->setToolTip(q(f.hint));
    edit->setCursorPosition(0);
    // Emptied, the field still says which setting it edits.
    edit->setPlaceholderText(q(f.name));
    edit->setAccessibleName(q(f.name));
    if (!f.unit.empty()) addUnit(edit, q(f.unit));
    QObject::connect(edit, &QLineEdit::textEdited, page_,
                     [this, param](const QString& t) { editor_.takeFieldText(param, t.toStdString()); });
    edits_[f.param] = edit;
    auto* label = new StepLabel(q(f.label), page_, editor_, f.param);
    label->setObjectName(q(f.name) + "_label");
    label->move(EditorPage::kLabelLeft, f.top + 3 - EditorPage::kTabsHeight);
    label->adjustSize();  // the caption whole, however long
    label->setBuddy(field);
    label->setToolTip(q(f.labelHint.empty() ? f.hint : f.labelHint));
    labelsRight = std::max(labelsRight, label->geometry().right());
  }
  page_->show();
  // Wider than the page's own width only where a caption needs it: no label
  // runs under the buttons, no tab and no button is cut.
  const int buttonWidth = std::max({EditorPage::kButtonWidth, apply_->sizeHint().width(), search_->sizeHint().width()});
  width_ = std::max({p.width, labelsRight + 10 + buttonWidth + 20, tabs_->sizeHint().width() + 15});
  page_->resize(width_, page_->height());
  tabs_->resize(width_ - 15, tabs_->height());
  content_->resize(width_, p.height);
  const int h = apply_->sizeHint().height();
  // The buttons keep their margin to the right edge when a caption widens them.
  const int buttonLeft = width_ - (p.width - p.buttonLeft() - EditorPage::kButtonWidth) - buttonWidth;
  apply_->setGeometry(buttonLeft, EditorPage::kApplyBottom - h, buttonWidth, h);
  search_->setGeometry(buttonLeft, EditorPage::kSearchTop, buttonWidth, h);
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
  dialog_->setFixedSize(width_ + bar, height);
  scroll_->setGeometry(0, 0, width_ + bar, height);
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
  const int h = ok->sizeHint().height(), w = std::max(60, ok->sizeHint().width());
  ok->setGeometry((530 - w) / 2, 500 - 35 - h, w, h);
  QObject::connect(ok, &QPushButton::clicked, &d,
                   [this, memo] { editor_.takeMultiLineText(memo->toPlainText().toStdString()); });
  centreOver(&d, mainWindow_);
  multi_ = &d;
  d.exec();
  multi_ = nullptr;
}

void ConfigDialog::closeMultiLineEditor() {
  if (multi_) multi_->accept();
}

}  // namespace ph
