#include "preview_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QColorDialog>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <functional>

namespace lt {

// The paint box: shows the preview's picture as it is.
class PaintBox : public QWidget {
 public:
  PaintBox(SlicePreview& p, QWidget* parent) : QWidget(parent), preview_(p) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), QColor(QRgb(preview_.previewBackground)));
    painter.drawImage(0, 0, preview_.paintBox());
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    preview_.pbxMouseMove(int(e->position().x()), int(e->position().y()));
  }

 private:
  SlicePreview& preview_;
};

// A small coloured panel that can be clicked.
class ColourPanel : public QWidget {
 public:
  ColourPanel(unsigned rgb, QWidget* parent) : QWidget(parent), rgb_(rgb) { setFixedSize(16, 16); }
  void setRgb(unsigned rgb) {
    if (rgb_ == rgb) return;
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
  unsigned rgb_;
};

PreviewDialog::PreviewDialog(SlicePreview& preview, QWidget* parent) : QDialog(parent), preview_(preview) {
  setWindowTitle("preview stl file");
  setMinimumSize(300, 260);
  pbx_ = new PaintBox(preview_, this);
  label2_ = new QLabel(this);
  label4_ = new QLabel("X", this);
  label5_ = new QLabel("Y", this);
  scrollBar1_ = new QScrollBar(Qt::Vertical, this);
  scrollBar1_->setRange(0, 1000);
  scrollBar1_->setPageStep(50);
  scrollBar1_->setValue(1000);
  editz_ = new QLineEdit(this);
  movie_ = new QPushButton("movie", this);
  vbutton_ = new QPushButton("price", this);
  vbutton_->hide();
  // A dialog presses its default button on Enter: Enter in the height box
  // is for the height alone, never the movie.
  for (QPushButton* b : {movie_, vbutton_}) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  panel1_ = new ColourPanel(0x000000, this);
  panel5_ = new ColourPanel(0xFFFFFF, this);
  panel4_ = new ColourPanel(0x808080, this);

  connect(scrollBar1_, &QScrollBar::valueChanged, this,
          [this](int v) { preview_.scrollBar1Scroll(v, !scrollBar1_->isSliderDown()); });
  connect(scrollBar1_, &QScrollBar::sliderReleased, this,
          [this] { preview_.scrollBar1Scroll(scrollBar1_->value(), true); });
  connect(editz_, &QLineEdit::returnPressed, this, [this] { preview_.editzKeyPress(editz_->text().toStdString()); });
  connect(movie_, &QPushButton::clicked, this, [this] { preview_.movieClick(); });
  connect(vbutton_, &QPushButton::clicked, this, [this] { preview_.vbuttonClick(); });
  panel1_->clicked = [this] { preview_.panel1Click(0x000000); };
  panel5_->clicked = [this] { preview_.panel1Click(0xFFFFFF); };
  panel4_->clicked = [this] { preview_.panel4Click(); };
}

void PreviewDialog::show(const PreviewView& v) {
  setWindowTitle(QString::fromStdString(v.caption));
  label2_->setText(QString::fromStdString(v.label2));
  label4_->setText(QString::fromStdString(v.label4));
  label5_->setText(QString::fromStdString(v.label5));
  if (!editz_->hasFocus() || editz_->text().toStdString() != v.editz) editz_->setText(QString::fromStdString(v.editz));
  {
    const QSignalBlocker block(scrollBar1_);
    scrollBar1_->setValue(v.scrollPosition);
  }
  movie_->setText(QString::fromStdString(v.movieCaption));
  vbutton_->setText(QString::fromStdString(v.vbuttonCaption));
  panel4_->setRgb(v.panel4Rgb);
  const QRect box(v.pbxLeft, v.pbxTop, v.pbxWidth, v.pbxHeight);
  if (pbx_->geometry() != box) pbx_->setGeometry(box);
}

void PreviewDialog::paintBoxChanged() { pbx_->repaint(); }

void PreviewDialog::processEvents() { QCoreApplication::processEvents(); }

void PreviewDialog::pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

std::optional<unsigned> PreviewDialog::chooseColour(unsigned rgb) {
  const QColor c = QColorDialog::getColor(QColor(QRgb(rgb)), this);
  if (!c.isValid()) return std::nullopt;
  return unsigned(c.rgb() & 0xFFFFFF);
}

void PreviewDialog::showMessage(const std::string& text) {
  QMessageBox::information(this, "layertint", QString::fromStdString(text));
}

void PreviewDialog::setBusyCursor(bool busy) {
  if (busy == busyCursor_) return;
  busyCursor_ = busy;
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

void PreviewDialog::maximise() { showMaximized(); }

void PreviewDialog::close() { QDialog::close(); }

// The controls stand in the 62 pixels left of the paint box.
void PreviewDialog::resizeEvent(QResizeEvent* e) {
  QDialog::resizeEvent(e);
  const int h = height();
  label2_->setGeometry(4, 4, 56, 18);
  scrollBar1_->setGeometry(22, 26, 18, std::max(40, h - 190));
  const int y = std::max(70, h - 160);
  editz_->setGeometry(4, y, 54, 22);
  movie_->setGeometry(4, y + 26, 54, 24);
  vbutton_->setGeometry(4, y + 54, 54, 24);
  panel1_->move(4, y + 84);
  panel5_->move(22, y + 84);
  panel4_->move(40, y + 84);
  label4_->setGeometry(4, y + 106, 56, 18);
  label5_->setGeometry(4, y + 124, 56, 18);
  preview_.formResize(width(), height());
  // The paint box keeps its picture over repaints; only a new size needs
  // the slice drawn again (a second after the last change of size). Child
  // widgets' repaints (a blinking cursor) must not count.
  preview_.formPaint();
}

void PreviewDialog::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  preview_.formActivate();
}

void PreviewDialog::closeEvent(QCloseEvent* e) {
  preview_.formCloseQuery();
  e->accept();
}

}  // namespace lt
