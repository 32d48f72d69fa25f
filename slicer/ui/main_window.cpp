#include "main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "editor_dialog.h"
#include "preview_dialog.h"
#include "slicer/slicer_app.h"

namespace lt {

// The paint box that shows the default colour; a click opens the colour dialog.
class ColourBox : public QWidget {
 public:
  explicit ColourBox(QWidget* parent) : QWidget(parent) { setFixedSize(40, 24); }
  void setRgb(unsigned rgb) {
    if (rgb == rgb_) return;
    rgb_ = rgb;
    update();
  }
  std::function<void()> clicked;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(QColor(QRgb(rgb_)));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
  }
  void mousePressEvent(QMouseEvent*) override {
    if (clicked) clicked();
  }

 private:
  unsigned rgb_ = 0xFFFFFF;
};

namespace {
void setText(QLineEdit* e, const std::string& t) {
  const QString q = QString::fromStdString(t);
  if (e->text() != q) e->setText(q);
}
void setText(QLabel* l, const std::string& t) { l->setText(QString::fromStdString(t)); }
std::string str(const QString& s) { return s.toStdString(); }
}  // namespace

QLineEdit* MainWindow::addEdit(QGridLayout* g, int row, int col, const char* label, const char* hint) {
  g->addWidget(new QLabel(label), row, col);
  auto* e = new QLineEdit;
  e->setMaximumWidth(70);
  if (hint) e->setToolTip(hint);
  g->addWidget(e, row, col + 1);
  return e;
}

MainWindow::MainWindow() {
  setWindowTitle("Colored stl slicer");
  auto* central = new QWidget;
  auto* v = new QVBoxLayout(central);
  auto* g = new QGridLayout;
  v->addLayout(g);

  layerbox_ = addEdit(g, 0, 0, "layer mm", nullptr);
  wpixbox_ = addEdit(g, 1, 0, "water", "number of water drops on  white  inside of 64");
  spixbox_ = addEdit(g, 2, 0, "total", "total number drops on colored part on 64 pixel positions");
  edit1_ = addEdit(g, 3, 0, "step x", "accuracy of color computing in x direction");
  edit2_ = addEdit(g, 4, 0, "step y", "accuracy of color computing in y dirrection");
  edit3_ = addEdit(g, 0, 2, "P", nullptr);
  edit4_ = addEdit(g, 1, 2, "D", nullptr);
  zstart_ = addEdit(g, 2, 2, "z start", nullptr);
  zend_ = addEdit(g, 3, 2, "z end", nullptr);
  dcopies_ = addEdit(g, 4, 2, "copies", nullptr);
  colorbox_ = new ColourBox(central);
  g->addWidget(new QLabel("colour"), 5, 0);
  g->addWidget(colorbox_, 5, 1);
  qlabel_ = new QLabel;
  g->addWidget(qlabel_, 5, 2);

  auto* buttons = new QHBoxLayout;
  v->addLayout(buttons);
  auto addButton = [&](const char* text) {
    auto* b = new QPushButton(text);
    buttons->addWidget(b);
    return b;
  };
  button1_ = addButton("start");
  button2_ = addButton("stop");
  button3_ = addButton("abort");
  prt0_ = addButton("prepare");
  supfile_ = addButton("supfile");
  prtsetup_ = addButton("setup");
  prvbut_ = addButton("preview");
  auto addSpin = [&](Qt::ArrowType a) {
    auto* b = new QToolButton;
    b->setArrowType(a);
    buttons->addWidget(b);
    return b;
  };
  spin1Down_ = addSpin(Qt::DownArrow);
  spin1Up_ = addSpin(Qt::UpArrow);
  spin2Down_ = addSpin(Qt::DownArrow);
  spin2Up_ = addSpin(Qt::UpArrow);
  overlap_ = new QCheckBox("overlap");
  mkfile_ = new QCheckBox("to file");
  powdstart_ = new QCheckBox("powdstart");
  for (auto* c : {overlap_, mkfile_, powdstart_}) {
    c->setChecked(true);
    buttons->addWidget(c);
  }

  prgauge_ = new QProgressBar;
  prgauge_->setRange(0, 100);
  v->addWidget(prgauge_);
  progress_ = new QLabel;
  layer_ = new QLabel;
  rdlabel_ = new QLabel;
  QFont bold = rdlabel_->font();
  bold.setBold(true);
  rdlabel_->setFont(bold);
  for (auto* l : {progress_, layer_, rdlabel_}) v->addWidget(l);
  log_ = new QPlainTextEdit;
  log_->setReadOnly(true);
  log_->setMaximumBlockCount(500);
  log_->setMaximumHeight(90);
  v->addWidget(log_);
  setCentralWidget(central);

  // Hidden: the operator sees the values, the gauge, the abort button and
  // the ways to the model, its support file and the setup file (the preview
  // button shows once a model is prepared); the program drives the rest.
  for (QWidget* w : std::initializer_list<QWidget*>{button1_, button2_, prvbut_, dcopies_, spin1Down_, spin1Up_,
                                                    spin2Down_, spin2Up_, overlap_, mkfile_, powdstart_})
    w->hide();
  button2_->setEnabled(false);
}

void MainWindow::attach(SlicerApp* app) {
  app_ = app;
  auto* bmp = menuBar()->addMenu("bmp");
  bmp->addAction("bmp", [this] { app_->bmp1Click(); });
  bmp->addAction("scale", [this] { app_->scale1Click(); });
  auto* setup = menuBar()->addMenu("setup");
  setup->addAction("skindepth", [this] { app_->skindepth1Click(); });

  const std::pair<QLineEdit*, int> tagged[] = {{edit2_, 1}, {wpixbox_, 2}, {spixbox_, 3},
                                               {edit1_, 4}, {edit3_, 5},   {edit4_, 6}};
  for (auto [edit, tag] : tagged)
    connect(edit, &QLineEdit::textEdited, this, [this, tag](const QString& t) { app_->taggedEditChanged(tag, str(t)); });
  connect(layerbox_, &QLineEdit::textEdited, this, [this](const QString& t) { app_->layerboxChanged(str(t)); });
  connect(zstart_, &QLineEdit::textEdited, this, [this](const QString& t) {
    app_->zstartChanged(str(t));
    app_->zstartKeyPress();
  });
  connect(zend_, &QLineEdit::textEdited, this, [this](const QString& t) { app_->zendChanged(str(t)); });
  connect(dcopies_, &QLineEdit::returnPressed, this, [this] { app_->dcopiesEnter(str(dcopies_->text())); });
  connect(button1_, &QPushButton::clicked, this, [this] { app_->button1Click(); });
  connect(button2_, &QPushButton::clicked, this, [this] { app_->button2Click(); });
  connect(button3_, &QPushButton::clicked, this, [this] { app_->button3Click(); });
  connect(prt0_, &QPushButton::clicked, this, [this] { app_->prt0Click(); });
  connect(supfile_, &QPushButton::clicked, this, [this] { app_->supfileClick(); });
  connect(prtsetup_, &QPushButton::clicked, this, [this] { app_->prtsetupClick(); });
  connect(prvbut_, &QPushButton::clicked, this, [this] { app_->prvbutClick(); });
  connect(spin1Down_, &QToolButton::clicked, this, [this] { app_->spinButton1DownClick(); });
  connect(spin1Up_, &QToolButton::clicked, this, [this] { app_->spinButton1UpClick(); });
  connect(spin2Down_, &QToolButton::clicked, this, [this] { app_->spinButton2DownClick(); });
  connect(spin2Up_, &QToolButton::clicked, this, [this] { app_->spinButton2UpClick(); });
  connect(mkfile_, &QCheckBox::clicked, this, [this](bool on) { app_->mkfileClick(on); });
  connect(overlap_, &QCheckBox::clicked, this, [this](bool on) { app_->state().overlap = on; });
  connect(powdstart_, &QCheckBox::clicked, this, [this](bool on) { app_->state().powdstart = on; });
  colorbox_->clicked = [this] { app_->colorboxClick(); };
}

bool MainWindow::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && app_) app_->formActivate();
  return QMainWindow::event(e);
}

void MainWindow::showForm(const FormView& f) {
  setWindowTitle(QString::fromStdString(f.caption));
  setText(layerbox_, f.layerbox);
  setText(wpixbox_, f.wpixbox);
  setText(spixbox_, f.spixbox);
  setText(edit1_, f.edit1);
  setText(edit2_, f.edit2);
  setText(edit3_, f.edit3);
  setText(edit4_, f.edit4);
  setText(zstart_, f.zstart);
  setText(zend_, f.zend);
  setText(dcopies_, f.dcopies);
  setText(qlabel_, f.qlabel);
  setText(rdlabel_, f.rdlabel);
  setText(progress_, f.progressLabel);
  setText(layer_, f.layerLabel);
  colorbox_->setRgb(f.colourBoxRgb);
  overlap_->setChecked(f.overlap);
  mkfile_->setChecked(f.mkfile);
  powdstart_->setChecked(f.powdstart);
  prvbut_->setVisible(f.prvbutVisible);
}

// Called from long loops on this thread (loading, writing layers): the gauge
// is drawn there and then at most at the screen's rate; a change in between
// is drawn with the next events, and an unchanged value costs nothing.
void MainWindow::setProgress(int percent, const std::string& title) {
  percent = std::clamp(percent, 0, 100);
  if (percent != prgauge_->value()) {
    prgauge_->setValue(percent);
    if (!gaugeDrawn_.isValid() || gaugeDrawn_.elapsed() >= 16) {
      prgauge_->repaint();
      gaugeDrawn_.start();
    }
  }
  if (title != shownTitle_) {
    shownTitle_ = title;
    QGuiApplication::setApplicationDisplayName(QString::fromStdString(title));
  }
}

void MainWindow::logLine(const std::string& text) {
  log_->appendPlainText(QString::fromStdString(text));
  std::fprintf(stderr, "layertint: %s\n", text.c_str());
}

bool MainWindow::canAsk() const {
  const QString p = QGuiApplication::platformName();
  return p != "offscreen" && p != "minimal";
}

void MainWindow::showMessage(const std::string& text) {
  QMessageBox::information(this, "layertint", QString::fromStdString(text));
}

bool MainWindow::askYesNo(const std::string& text) {
  if (!canAsk()) return false;
  return QMessageBox::question(QApplication::activeWindow() ? QApplication::activeWindow() : this, "layertint",
                               QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void MainWindow::setJobRunning(bool running) { button2_->setEnabled(running); }

void MainWindow::setBusyCursor(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void MainWindow::processEvents() { QCoreApplication::processEvents(); }

std::string MainWindow::chooseModelFile() {
  if (!canAsk()) return {};
  return str(QFileDialog::getOpenFileName(
      this, "open", QString(),
      "stl and pov files (*.pov *.stl);;stl files (*.stl);;pov files (*.pov);;p3d files (*.p3d);;bmp files (*.bmp)"));
}

std::string MainWindow::chooseJobFile(const std::string& offered) {
  if (!canAsk()) return offered;
  return str(QFileDialog::getSaveFileName(this, "save", QString::fromStdString(offered), "p3d files (*.p3d)"));
}

std::optional<unsigned> MainWindow::chooseColour(unsigned rgb) {
  if (!canAsk()) return std::nullopt;
  QColor c = QColorDialog::getColor(QColor(QRgb(rgb)), this);
  if (!c.isValid()) return std::nullopt;
  return unsigned(c.rgb() & 0xFFFFFF);
}

std::optional<std::string> MainWindow::askText(const std::string& caption, const std::string& prompt,
                                               const std::string& value) {
  if (!canAsk()) return std::nullopt;
  bool ok = false;
  QString t = QInputDialog::getText(this, QString::fromStdString(caption), QString::fromStdString(prompt),
                                    QLineEdit::Normal, QString::fromStdString(value), &ok);
  if (!ok) return std::nullopt;
  return str(t);
}

void MainWindow::bringToFront() {
  setEnabled(true);
  raise();
  activateWindow();
  update();
}

void MainWindow::closeWindow() { close(); }

void MainWindow::runPreview(SlicePreview& preview) {
  PreviewDialog dialog(preview, this);
  preview.open(*app_, dialog);
  dialog.resize(800, 600);
  dialog.exec();
  preview.closed();
}

void MainWindow::runEditor(TextEditor& editor) {
  EditorDialog dialog(editor, this);
  editor.open(*app_, dialog);
  dialog.resize(640, 480);
  dialog.exec();
  editor.closed();
}

}  // namespace lt
