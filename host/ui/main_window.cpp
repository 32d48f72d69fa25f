#include "host/ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QGroupBox>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTextBlock>
#include <QThread>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cstdio>

#include "host/app/host.h"
#include "host/core/paths.h"
#include "host/ui/config_dialog.h"
#include "host/ui/mesh_window.h"

namespace ph {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }

// The print panel's places from here on stand right of its stretch.
constexpr int kPrintButtonsFrom = 5;

// "description|*.ext|description|*.ext" into Qt's "description (*.ext);;...".
QString qtFilter(const std::string& filter) {
  QStringList parts = q(filter).split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) out << parts[i] + " (" + parts[i + 1].replace(';', ' ') + ")";
  return out.join(";;");
}

}  // namespace

class ProgressWindow : public QDialog {
 public:
  explicit ProgressWindow(QWidget* parent) : QDialog(parent, Qt::Tool) {
    setWindowTitle("converting...");
    resize(600, 80);
    bar_ = new QProgressBar(this);
    bar_->setGeometry(10, 5, 600 - 20 - 8, 80 / 3);
    bar_->setRange(0, 100);
  }
  void set(int p) { bar_->setValue(p); }

 private:
  QProgressBar* bar_;
};

// The picture window of the job viewers and the layer preview: it opens
// no larger than the screen it is on, with the picture zoomed to fit;
// it scrolls, "+" and "-" (or Ctrl and the wheel) zoom, "0" fits again,
// and Page Up and Page Down step through what it shows.
class BitmapViewer : public QDialog {
 public:
  explicit BitmapViewer(QWidget* parent) : QDialog(parent) {
    setObjectName("bitmapViewer");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea(this);
    label_ = new QLabel;
    label_->setObjectName("bitmapPicture");
    scroll_->setWidget(label_);
    scroll_->setAlignment(Qt::AlignCenter);
    layout->addWidget(scroll_);
  }
  std::function<void(int)> stepper;

  void show(const QImage& img, bool first) {
    image_ = img;
    if (first) {
      const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen();
      const QRect room = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
      // The frame and the scroll bars take a little of the room.
      const QSize most(std::max(200, room.width() * 9 / 10), std::max(200, room.height() * 9 / 10));
      zoom_ = std::min({1.0, double(most.width() - 20) / std::max(1, img.width()),
                        double(most.height() - 20) / std::max(1, img.height())});
      resize(std::min(most.width(), int(img.width() * zoom_) + 20), std::min(most.height(), int(img.height() * zoom_) + 20));
    }
    paint();
  }
  double zoom() const { return zoom_; }

 protected:
  void keyPressEvent(QKeyEvent* e) override {
    switch (e->key()) {
      case Qt::Key_Plus: case Qt::Key_Equal: setZoom(zoom_ * 1.25); return;
      case Qt::Key_Minus: setZoom(zoom_ / 1.25); return;
      case Qt::Key_0: fit(); return;
      case Qt::Key_PageDown: if (stepper) stepper(1); return;
      case Qt::Key_PageUp: if (stepper) stepper(-1); return;
      default: QDialog::keyPressEvent(e);
    }
  }
  void wheelEvent(QWheelEvent* e) override {
    if (!(e->modifiers() & Qt::ControlModifier)) return QDialog::wheelEvent(e);
    setZoom(e->angleDelta().y() > 0 ? zoom_ * 1.25 : zoom_ / 1.25);
  }

 private:
  void setZoom(double z) {
    zoom_ = std::clamp(z, 0.05, 16.0);
    paint();
  }
  void fit() {
    const QSize room = scroll_->viewport()->size();
    setZoom(std::min(double(room.width()) / std::max(1, image_.width()),
                     double(room.height()) / std::max(1, image_.height())));
  }
  void paint() {
    const QSize size(std::max(1, int(image_.width() * zoom_)), std::max(1, int(image_.height() * zoom_)));
    label_->setPixmap(QPixmap::fromImage(zoom_ == 1.0 ? image_ : image_.scaled(size, Qt::KeepAspectRatio,
                                                                             Qt::FastTransformation)));
    label_->resize(label_->pixmap().size());
  }

  QScrollArea* scroll_;
  QLabel* label_;
  QImage image_;
  double zoom_ = 1.0;
};

MainWindow::MainWindow(bool headless) : headless_(headless) {
  setWindowTitle("prismhost");
  auto* central = new QWidget(this);
  auto* row = new QHBoxLayout(central);
  auto* scroll = new QScrollArea(central);
  panel_ = new QWidget;
  panelLayout_ = new QVBoxLayout(panel_);
  panelLayout_->setAlignment(Qt::AlignTop);
  scroll->setWidget(panel_);
  scroll->setWidgetResizable(true);
  scroll->setFixedWidth(190);
  scroll_ = scroll;
  memo_ = new LogView(central);
  row->addWidget(scroll);
  // The print in sight above the log, whatever the column scrolls to: the
  // job, its progress, the powder, the link switch, and start, pause and
  // abort together.
  auto* right = new QVBoxLayout;
  printPanel_ = new QGroupBox("print", central);
  printPanel_->setObjectName("printPanel");
  auto* panel = new QVBoxLayout(printPanel_);
  auto* top = new QHBoxLayout;
  jobLabel_ = new QLabel("no job", printPanel_);
  jobLabel_->setObjectName("printJob");
  printBar_ = new QProgressBar(printPanel_);
  printBar_->setObjectName("printBar");
  printBar_->setRange(0, 100);
  printBar_->setValue(0);
  printBar_->setTextVisible(true);
  top->addWidget(jobLabel_);
  top->addWidget(printBar_, 1);
  panel->addLayout(top);
  printRow_ = new QHBoxLayout;
  panel->addLayout(printRow_);
  printRow_->addStretch(1);
  right->addWidget(printPanel_);
  right->addWidget(memo_, 1);
  row->addLayout(right, 1);
  setCentralWidget(central);
  for (auto& s : status_) {
    s = new QLabel;
    statusBar()->addWidget(s, 1);
  }
  resize(1000, 700);
}

MainWindow::~MainWindow() = default;

void MainWindow::attach(Host* host) {
  host_ = host;
  HostCore& core = host->core;
  // Without a display no dialog may wait: the editor then has no window.
  if (!headless_) {
    config_ = std::make_unique<ConfigDialog>(this, host->configEditor);
    host->configEditor.view = config_.get();
  }
  core.Memo1.setView(memo_);
  memo_->installEventFilter(this);
  terminalKeys_.insert(memo_);
  host->deviceLinks.marlin.busyWait = [](int ms) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QThread::msleep(static_cast<unsigned long>(ms));
    QApplication::restoreOverrideCursor();
  };
  host->mesh.showWindow = [this, host] {
    if (headless_) {
      tellHeadless("mesh tools", "no display to show them on");
      return;
    }
    MeshWindow window(host->mesh, this, &host->scan.capture);
    window.exec();
  };
  host->inkControls.clipboardText = [] { return QGuiApplication::clipboard()->text().toStdString(); };
  host->inkControls.dropPictureChanged = [this, host] {
    for (auto& [control, widget] : widgets_)
      if (control->name == "Imdrops")
        if (auto* l = qobject_cast<QLabel*>(widget)) l->setPixmap(QPixmap::fromImage(host->inkControls.dropPicture));
  };
  for (Control& c : core.controls.all()) addControlWidget(c);
  // The column as wide as its widest caption, so no caption is cut.
  scroll_->setFixedWidth(std::max(190, panel_->sizeHint().width() + scroll_->verticalScrollBar()->sizeHint().width() + 4));
  core.controls.onChanged = [this, &core](const Control& c) {
    if (!widgets_.count(&c) && !actions_.count(&c) && !menus_.count(c.name)) addControlWidget(const_cast<Control&>(c));
    else controlChanged(c);
    // Without a display the print's progress line goes to standard output,
    // so an unattended print shows how far it is.
    if (c.name == "perclabel") showPrintState(c);
    if (headless_ && c.name == "perclabel" && !c.caption.empty()) {
      std::fprintf(stdout, "progress %s\n", c.caption.c_str());
      std::fflush(stdout);
    }
    (void)core;
  };
}

void MainWindow::addControlWidget(Control& c) {
  using K = Control::Kind;
  if (c.kind == K::Menu) {
    QMenu* m = menuBar()->addMenu(q(c.caption));
    menus_[c.name] = m;
    m->menuAction()->setVisible(c.visible);
    Control* pc = &c;
    QObject::connect(m->menuAction(), &QAction::hovered, this, [this, pc] {
      if (host_) host_->hints.menuSelectHint(pc);
    });
    return;
  }
  if (c.kind == K::MenuItem) {
    auto it = menus_.find(c.parent);
    if (it == menus_.end()) return;
    QAction* a = it->second->addAction(q(c.caption));
    a->setCheckable(c.checkable);
    a->setChecked(c.checked);
    a->setVisible(c.visible);
    Control* pc = &c;
    // Menu hints go to the second status panel (no Qt status tips, which
    // would cover the panels).
    QObject::connect(a, &QAction::hovered, this, [this, pc] {
      if (host_) host_->hints.menuSelectHint(pc);
    });
    QObject::connect(a, &QAction::triggered, this, [pc, a](bool checked) {
      if (pc->checkable) pc->checked = checked;
      pc->click();
      (void)a;
    });
    actions_[&c] = a;
    return;
  }
  QWidget* w = nullptr;
  Control* pc = &c;
  switch (c.kind) {
    case K::Button: {
      auto* b = new QPushButton(q(c.caption));
      QObject::connect(b, &QPushButton::clicked, this, [pc] { pc->click(); });
      b->installEventFilter(this);
      terminalKeys_.insert(b);
      w = b;
      break;
    }
    case K::CheckBox: {
      auto* b = new QCheckBox(q(c.caption));
      b->setChecked(c.checked);
      QObject::connect(b, &QCheckBox::toggled, this, [this, pc](bool on) {
        pc->checked = on;
        pc->click();
        // Shift and a click on the pause box also switches pausing after
        // every layer.
        if (pc->name == "pause" && host_ && (QApplication::keyboardModifiers() & Qt::ShiftModifier))
          host_->configEditor.togglePauseEachLayer(false, true);
      });
      b->installEventFilter(this);
      terminalKeys_.insert(b);
      w = b;
      break;
    }
    case K::Label: {
      w = new QLabel(q(c.caption));
      w->installEventFilter(this);
      // The burst, shaker and powder labels take mouse buttons; the other
      // labels take clicks (LabStretch, vlabel).
      if (c.name == "LabBurst" || c.name == "shakeLabel" || c.name == "LabPwdr" || c.name == "Label2")
        mouseTargets_[w] = c.name;
      else labels_[w] = pc;
      break;
    }
    case K::Combo: {
      auto* b = new QComboBox;
      b->setEditable(true);
      if (c.name == "parmcombo") {
        // The single-parameter box: the chosen name is its caption; Enter
        // (or a double click) sets the parameter.
        QObject::connect(b, &QComboBox::currentTextChanged, this, [this, pc](const QString& t) {
          pc->caption = t.toStdString();
          if (host_) host_->configEditor.showComboHint();
        });
        QObject::connect(b->lineEdit(), &QLineEdit::returnPressed, this, [this, b, pc] {
          pc->caption = b->currentText().toStdString();
          if (host_) host_->configEditor.takeComboKey('\r');
        });
        b->lineEdit()->installEventFilter(this);
      }
      if (c.name == "typeGcode") {
        // The logic keeps the list (the console's history).
        b->setInsertPolicy(QComboBox::NoInsert);
        QObject::connect(b, &QComboBox::editTextChanged, this, [pc](const QString& t) { pc->caption = t.toStdString(); });
        // An editable combo box takes the keys itself and hands them to its
        // line edit directly, past any filter on the line edit: watch both.
        console_ = b->lineEdit();
        console_->installEventFilter(this);
        consoleBox_ = b;
        b->installEventFilter(this);
      }
      w = b;
      break;
    }
    case K::Edit: {
      auto* e = new QLineEdit(q(c.caption));
      QObject::connect(e, &QLineEdit::textChanged, this, [pc](const QString& t) { pc->caption = t.toStdString(); });
      if (c.name == "Edit1") {
        rawLine_ = e;
        e->installEventFilter(this);
      }
      w = e;
      break;
    }
    case K::UpDown: {
      // The platform's up/down arrows: the release says where and how.
      auto* b = new QSpinBox;
      b->setRange(-100000, 100000);
      // The right button is the control's second function, not a menu.
      b->setContextMenuPolicy(Qt::NoContextMenu);
      b->installEventFilter(this);
      mouseTargets_[b] = c.name;
      w = b;
      break;
    }
    case K::Image: {
      auto* l = new QLabel;
      if (c.name == "cmyburst") {
        // Three rows: a click picks the colour of its row.
        l->setPixmap(QPixmap::fromImage(InkControls::cmyPicture(60, 30)));
        l->installEventFilter(this);
        mouseTargets_[l] = c.name;
      }
      if (c.name == "Imdrops" && host_) l->setPixmap(QPixmap::fromImage(host_->inkControls.dropPicture));
      w = l;
      break;
    }
    default: return;
  }
  w->setObjectName(q(c.name));
  if (c.onRightClick) {
    w->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(w, &QWidget::customContextMenuRequested, this, [pc] {
      if (pc->onRightClick) pc->onRightClick();
    });
  }
  if (int at = printPanelPlace(c.name); at >= 0) {
    // In the panel's order, whichever control was made first: the print's
    // state on the left, start, pause and abort together on the right.
    int pos = 0;
    for (const auto& [other, widget] : widgets_)
      if (printPanelPlace(other->name) >= 0 && printPanelPlace(other->name) < at) ++pos;
    printRow_->insertWidget(at >= kPrintButtonsFrom ? pos + 1 : pos, w);
  } else {
    panelLayout_->addWidget(w);
  }
  widgets_[&c] = w;
  controlChanged(c);
}

int MainWindow::printPanelPlace(const std::string& name) {
  static const char* const order[] = {"perclabel", "LabStretch", "Label2", "LabPwdr",
                                      "cb_comm",   "btStart",    "pause",  "btAbort"};
  for (int i = 0; i < int(std::size(order)); ++i)
    if (name == order[i]) return i;
  return -1;
}

void MainWindow::showPrintState(const Control& progress) {
  const std::string job = host_ ? fileCore(host_->job.jobFileName) : std::string();
  jobLabel_->setText(job.empty() ? QString("no job") : q(job));
  const bool running = !progress.caption.empty();
  printBar_->setValue(running ? std::clamp(progress.tag, 0, 100) : 0);
  QString title = q(baseTitle_);
  if (!job.empty()) title += " - " + q(job);
  if (running) title += QString(" (%1%)").arg(std::clamp(progress.tag, 0, 100));
  QMainWindow::setWindowTitle(title);
}

void MainWindow::controlChanged(const Control& c) {
  if (auto it = menus_.find(c.name); it != menus_.end() && c.kind == Control::Kind::Menu) {
    it->second->setTitle(q(c.caption));
    it->second->menuAction()->setVisible(c.visible);
    return;
  }
  if (auto it = actions_.find(&c); it != actions_.end()) {
    it->second->setText(q(c.caption));
    it->second->setChecked(c.checked);
    it->second->setVisible(c.visible);
    return;
  }
  auto it = widgets_.find(&c);
  if (it == widgets_.end()) return;
  QWidget* w = it->second;
  w->setVisible(c.visible);
  w->setEnabled(c.enabled);
  w->setToolTip(c.showHint ? q(c.hint) : QString());
  if (auto* b = qobject_cast<QPushButton*>(w)) b->setText(q(c.caption));
  else if (auto* cb = qobject_cast<QCheckBox*>(w)) {
    QSignalBlocker block(cb);
    cb->setText(q(c.caption));
    cb->setChecked(c.checked);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    if (c.kind == Control::Kind::Label) l->setText(q(c.caption));
    if (c.name == "LabBurst" && host_) {
      // The burst's colour, or the button face.
      const QColor colour = host_->inkControls.labBurstColour;
      l->setAutoFillBackground(colour.isValid());
      QPalette pal = l->palette();
      pal.setColor(QPalette::Window, colour.isValid() ? colour : palette().color(QPalette::Button));
      l->setPalette(pal);
    }
  } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
    QStringList items;
    for (const auto& i : c.items) items << q(i);
    QStringList shown;
    for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
    if (shown != items) {
      // Refilling is no choice of the operator's.
      QSignalBlocker block(combo);
      combo->clear();
      combo->addItems(items);
    }
    // The console's text is the typed line (the logic puts it back).
    if (c.name == "typeGcode" && combo->currentText() != q(c.caption)) {
      QSignalBlocker block(combo);
      combo->setEditText(q(c.caption));
    }
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    if (e->text() != q(c.caption)) {
      QSignalBlocker block(e);
      e->setText(q(c.caption));
    }
  }
}

bool MainWindow::nobodyAnswers() const { return headless_ || (host_ && host_->core.run.active()); }

void MainWindow::tellHeadless(const std::string& what, const std::string& text) {
  std::fprintf(stderr, "prismhost %s: %s\n", what.c_str(), text.c_str());
}

void MainWindow::showMessage(const std::string& text) {
  if (nobodyAnswers()) return tellHeadless("message", text);
  QMessageBox::information(this, "prismhost", q(text));
}

OperatorUi::Answer MainWindow::askYesNoCancel(const std::string& caption, const std::string& text) {
  if (nobodyAnswers()) {
    tellHeadless("question (answered Cancel)", text);
    return Answer::Cancel;
  }
  auto r = QMessageBox::question(this, q(caption), q(text), QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  return r == QMessageBox::Yes ? Answer::Yes : r == QMessageBox::No ? Answer::No : Answer::Cancel;
}

bool MainWindow::askYesNo(const std::string& caption, const std::string& text) {
  if (nobodyAnswers()) {
    tellHeadless("question (answered No)", text);
    return false;
  }
  QMessageBox box(QMessageBox::Question, q(caption), q(text), QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

int MainWindow::askChoice(const std::string& caption, const std::string& text, const std::vector<std::string>& buttons) {
  if (nobodyAnswers()) {
    tellHeadless("question (box closed)", text);
    return -1;
  }
  QMessageBox box(QMessageBox::Question, q(caption), q(text), QMessageBox::NoButton, this);
  std::vector<QAbstractButton*> added;
  for (const auto& b : buttons) added.push_back(box.addButton(q(b), QMessageBox::AcceptRole));
  box.exec();
  for (std::size_t i = 0; i < added.size(); ++i)
    if (box.clickedButton() == added[i]) return int(i);
  return -1;
}

std::optional<std::string> MainWindow::inputBox(const std::string& caption, const std::string& prompt,
                                                const std::string& initial) {
  if (nobodyAnswers()) {
    tellHeadless("input (default kept)", prompt);
    return std::nullopt;
  }
  bool ok = false;
  QString r = QInputDialog::getText(this, q(caption), q(prompt), QLineEdit::Normal, q(initial), &ok);
  if (!ok) return std::nullopt;
  return r.toStdString();
}

std::optional<std::string> MainWindow::fileDialog(const FileDialogRequest& dialog, bool save) {
  if (nobodyAnswers()) return std::nullopt;
  const QString start = q(dialog.fileName.empty() ? dialog.folder : dialog.fileName);
  QString r = save ? QFileDialog::getSaveFileName(this, q(dialog.title), start, qtFilter(dialog.filter))
                   : QFileDialog::getOpenFileName(this, q(dialog.title), start, qtFilter(dialog.filter));
  if (r.isEmpty()) return std::nullopt;
  return r.toStdString();
}

bool MainWindow::fieldDialog(const std::string& caption, int width, int height, std::vector<DialogField>& fields) {
  if (nobodyAnswers()) return false;
  QDialog d(this);
  d.setWindowTitle(q(caption));
  d.resize(width, height);
  std::vector<QLineEdit*> edits;
  int y = 10;
  for (auto& f : fields) {
    auto* e = new QLineEdit(q(f.text), &d);
    e->setGeometry(10, y, 50, e->sizeHint().height());
    auto* l = new QLabel(q(f.label), &d);
    l->move(70, y);
    DialogField* pf = &f;
    QObject::connect(e, &QLineEdit::textChanged, &d, [pf, e](const QString& t) {
      bool ok = !pf->validate || pf->validate(t.toStdString());
      e->setStyleSheet(ok ? "background: white" : "background: red");
      if (ok) pf->text = t.toStdString();
    });
    edits.push_back(e);
    y += e->sizeHint().height() + 5;
  }
  auto* ok = new QPushButton("Ok", &d);
  ok->setGeometry((width - 60) / 2, height - 35 - ok->sizeHint().height(), 60, ok->sizeHint().height());
  QObject::connect(ok, &QPushButton::clicked, &d, &QDialog::accept);
  return d.exec() == QDialog::Accepted;
}

void MainWindow::waitKeyPopup() {
  if (nobodyAnswers()) return;
  class KeyBox : public QDialog {
   public:
    using QDialog::QDialog;
    void keyPressEvent(QKeyEvent*) override { accept(); }
  } d(nullptr);
  d.resize(321, 180);
  auto* l = new QLabel("Press any Key\nto continue", &d);
  l->setGeometry(3, 13, 300, 140);
  l->setWordWrap(true);
  QFont f = l->font();
  f.setPointSize(20);
  l->setFont(f);
  d.exec();
}

void MainWindow::setStatusPanel(int panel, const std::string& text) {
  if (panel >= 0 && panel < 3) status_[panel]->setText(q(text));
}

void MainWindow::setCaption(const std::string& text) {
  baseTitle_ = text;
  if (host_) showPrintState(host_->core.controls.at("perclabel"));
  else setWindowTitle(q(text));
}

void MainWindow::showProgress(int percent) {
  if (percent >= 1 && percent <= 99) {
    if (!progress_) {
      progress_ = new ProgressWindow(this);
      progress_->move(geometry().center() - QPoint(300, 40));
      progress_->show();
    }
    progress_->set(percent);
  } else if (progress_) {
    progress_->close();
    progress_->deleteLater();
    progress_ = nullptr;
  }
}

void MainWindow::processEvents() { QApplication::processEvents(); }

void MainWindow::showBitmap(const QImage& picture, bool modal) {
  if (headless_ || (modal && nobodyAnswers())) return;
  const bool first = !viewer_;
  if (first) {
    viewer_ = new BitmapViewer(this);
    viewer_->stepper = stepper_;
  }
  viewer_->show(picture, first);
  if (modal) {
    viewer_->exec();
    viewer_->deleteLater();
    viewer_ = nullptr;
  } else {
    viewer_->QDialog::show();
  }
}

void MainWindow::setClipboardText(const std::string& text) {
  QApplication::clipboard()->setText(QString::fromStdString(text));
}

void MainWindow::setBitmapStepper(std::function<void(int)> step) {
  stepper_ = std::move(step);
  if (viewer_) viewer_->stepper = stepper_;
}

void MainWindow::closeBitmap() {
  if (viewer_) viewer_->hide();
}

WindowGeometry MainWindow::windowGeometry() {
  QRect g = geometry();
  return {g.x(), g.y(), g.width(), g.height()};
}

WindowMetrics MainWindow::windowMetrics() {
  WindowMetrics m;
  m.menuHeight = menuBar()->height();
  // The window manager's frame, as far as it has drawn one.
  const QRect outer = frameGeometry(), inner = geometry();
  m.frameWidth = std::max(0, (outer.width() - inner.width()) / 2);
  m.frameHeight = std::max(0, outer.bottom() - inner.bottom());
  m.captionHeight = std::max(0, inner.top() - outer.top() - m.frameHeight);
  return m;
}

WindowGeometry MainWindow::screenArea() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return {0, 0, 640, 480};
  const QRect r = screen->availableVirtualGeometry();
  return {r.x(), r.y(), r.width(), r.height()};
}

void MainWindow::setWindowGeometry(const WindowGeometry& g) { setGeometry(g.left, g.top, g.width, g.height); }

void MainWindow::closeMainWindow() { close(); }

void MainWindow::closeEvent(QCloseEvent* e) {
  if (host_ && !host_->askToClose()) {
    e->ignore();
    return;
  }
  e->accept();
}

namespace {
// The key as the handlers know it: Esc 27, Ctrl and a letter 1..26, Enter
// CR, otherwise its character (0 for keys without one).
char keyChar(const QKeyEvent* k) {
  if (k->key() == Qt::Key_Escape) return 27;
  if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) return '\r';
  if ((k->modifiers() & Qt::ControlModifier) && k->key() >= Qt::Key_A && k->key() <= Qt::Key_Z)
    return static_cast<char>(k->key() - Qt::Key_A + 1);
  const QByteArray t = k->text().toLatin1();
  return t.isEmpty() ? 0 : t[0];
}
}  // namespace

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonDblClick && host_ && watched->parent() &&
      watched->parent()->objectName() == "parmcombo") {
    if (auto* combo = qobject_cast<QComboBox*>(watched->parent()))
      host_->core.controls.at("parmcombo").caption = combo->currentText().toStdString();
    host_->configEditor.editComboSetting();
  }
  if (host_ && e->type() == QEvent::MouseButtonPress) {
    if (auto it = mouseTargets_.find(watched); it != mouseTargets_.end() &&
                                               (it->second == "LabPwdr" || it->second == "Label2")) {
      auto* m = static_cast<QMouseEvent*>(e);
      if (!host_->printGuard.refuse("powder +/-"))
        host_->actions.startPowderRepeat(m->button() == Qt::LeftButton, m->modifiers() & Qt::ShiftModifier);
      return true;
    }
  }
  if (host_ && e->type() == QEvent::MouseButtonRelease) {
    if (auto it = mouseTargets_.find(watched); it != mouseTargets_.end()) {
      auto* m = static_cast<QMouseEvent*>(e);
      InkControls& ink = host_->inkControls;
      const bool right = m->button() == Qt::RightButton;
      const bool shift = m->modifiers() & Qt::ShiftModifier;
      if (it->second == "LabBurst") ink.startBurst(right);
      else if (it->second == "LabPwdr" || it->second == "Label2") {
        // The press was refused already when a print runs.
        if (!host_->printGuard.printing()) host_->actions.stopPowderRepeat(right || shift);
      } else if (it->second == "UpDown1") {
        if (host_->printGuard.refuse("platform up/down")) return true;
        auto* box = static_cast<QSpinBox*>(watched);
        // The arrows act on press; the value is the control's position.
        QMetaObject::invokeMethod(this, [this, box, right, shift, upper = m->position().y() < box->height() / 2] {
          if (host_) host_->actions.stepPlatform(right || shift, upper, box->value());
        }, Qt::QueuedConnection);
        return false;
      }
      else if (it->second == "shakeLabel") ink.stepShakerSpeed(m->button() == Qt::LeftButton,
                                                                 m->modifiers() & Qt::ShiftModifier);
      else if (it->second == "cmyburst") {
        const auto* l = static_cast<QLabel*>(watched);
        // The picture's own rows, wherever the label places it.
        const int top = (l->height() - l->pixmap().height()) / 2;
        ink.burstColourAt(int(m->position().y()) - top, l->pixmap().height());
      }
      return true;
    }
  }
  if (e->type() == QEvent::MouseButtonRelease && static_cast<QMouseEvent*>(e)->button() == Qt::LeftButton) {
    auto label = labels_.find(watched);
    if (label != labels_.end()) label->second->click();
  }
  if (!host_ || e->type() != QEvent::KeyPress) return QMainWindow::eventFilter(watched, e);
  const char key = keyChar(static_cast<QKeyEvent*>(e));
  if (key == 0) return QMainWindow::eventFilter(watched, e);
  MarlinLink& marlin = host_->deviceLinks.marlin;
  if (watched == console_ || watched == consoleBox_) {
    // The logic reads the typed line from the control.
    if (key == '\r') host_->core.controls.at("typeGcode").caption = static_cast<QComboBox*>(consoleBox_)->currentText().toStdString();
    return marlin.takeGcodeComboKey(key) == 0;
  }
  if (watched == rawLine_) return marlin.takeRawLineKey(key) == 0;
  if (!terminalKeys_.count(watched)) return QMainWindow::eventFilter(watched, e);
  host_->deviceLinks.ink.takeTerminalKey(key);
  return true;
}

void MainWindow::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  if (host_) host_->FormResize();
}

}  // namespace ph
