#include "host/ui/mesh_window.h"

#include <QAction>
#include <QClipboard>
#include <QColorDialog>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "host/mesh/mesh_tools.h"
#include "host/scantools/capture_tools.h"

namespace ph {

namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

MeshWindow::MeshWindow(MeshTools& tools, QWidget* parent, ButtonKeys* keys)
    : QDialog(parent), tools_(tools), keys_(keys) {
  setWindowTitle("stl/obj functions");
  auto* layout = new QVBoxLayout(this);
  auto* bar = new QMenuBar(this);
  layout->setMenuBar(bar);
  auto* row = new QHBoxLayout;
  layout->addLayout(row);
  memo_ = new LogView(this);
  auto* body = new QHBoxLayout;
  body->addWidget(memo_, 1);
  image_ = new QLabel(this);
  image_->setFixedSize(tools_.Im1.size());
  image_->setPixmap(QPixmap::fromImage(tools_.Im1));
  image_->installEventFilter(this);
  body->addWidget(image_, 0, Qt::AlignTop);
  layout->addLayout(body, 1);

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
      keyButtons_[b] = c.name;
      b->installEventFilter(this);
    }
  }
  row->addStretch(1);
  tools_.controls.onChanged = [this](const Control& c) { controlChanged(c); };
  memo_->showLines(tools_.Memo1);
  tools_.Memo1.setView(memo_);
  tools_.view = this;
  resize(1050, 500);
}

MeshWindow::~MeshWindow() {
  if (tools_.view == this) tools_.view = nullptr;
  for (QDialog* d : previews_) delete d;
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

bool MeshWindow::eventFilter(QObject* watched, QEvent* e) {
  if (watched == image_ && e->type() == QEvent::MouseButtonRelease && tools_.pictureClick) {
    const QPoint p = static_cast<QMouseEvent*>(e)->position().toPoint();
    tools_.pictureClick(p.x(), p.y());
    return true;
  }
  if (keys_ && e->type() == QEvent::KeyPress) {
    const QString text = static_cast<QKeyEvent*>(e)->text();
    auto it = keyButtons_.find(watched);
    if (it != keyButtons_.end() && text.size() == 1 && text[0].unicode() < 128 &&
        keys_->takeButtonKey(it->second, char(text[0].unicode())))
      return true;
  }
  return QDialog::eventFilter(watched, e);
}

void MeshWindow::closeEvent(QCloseEvent* e) {
  tools_.appendLogAtClose();
  e->accept();
}

// ---- the picture, the previews and the dialogs of the tools ----

void MeshWindow::imageChanged() { image_->setPixmap(QPixmap::fromImage(tools_.Im1)); }

void MeshWindow::showPreview(int slot, const QImage& picture, const std::string& caption, bool modal) {
  if (slot < 0 || slot > 2) return;
  QDialog*& d = previews_[slot];
  if (!d) {
    d = new QDialog(this);
    auto* l = new QVBoxLayout(d);
    l->setContentsMargins(5, 5, 5, 5);
    l->addWidget(new QLabel(d));
    d->move(x() + 50 * slot, y());
  }
  d->setWindowTitle(q(caption));
  d->findChild<QLabel*>()->setPixmap(QPixmap::fromImage(picture));
  if (modal) {
    d->exec();
    delete d;
    d = nullptr;
  } else {
    d->show();
  }
}

void MeshWindow::closePreview(int slot) {
  if (slot < 0 || slot > 2 || !previews_[slot]) return;
  delete previews_[slot];
  previews_[slot] = nullptr;
}

std::optional<int> MeshWindow::chooseColour(int initial) {
  const QColor start(initial & 0xFF, initial >> 8 & 0xFF, initial >> 16 & 0xFF);
  const QColor c = QColorDialog::getColor(start, this);
  if (!c.isValid()) return std::nullopt;
  return c.red() | c.green() << 8 | c.blue() << 16;
}

std::optional<QImage> MeshWindow::clipboardBitmap() {
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  if (!data || !data->hasImage()) return std::nullopt;
  const QImage img = QGuiApplication::clipboard()->image().convertToFormat(QImage::Format_RGB32);
  if (img.isNull()) return std::nullopt;
  return img;
}

void MeshWindow::pause(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

void MeshWindow::closeWindow() { QTimer::singleShot(0, this, [this] { close(); }); }

}  // namespace ph
