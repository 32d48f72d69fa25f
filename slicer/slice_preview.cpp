#include "slicer/slice_preview.h"

#include <QBuffer>

#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "platform/atomic_file.h"
#include "platform/format.h"
#include "slicer/app_job.h"
#include "slicer/colour_model.h"
#include "slicer/model_names.h"
#include "slicer/slice_calls.h"
#include "slicer/slicer_app.h"

namespace lt {

namespace {

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(localPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

SlicePreview::~SlicePreview() = default;

void SlicePreview::open(SlicerApp& app, PreviewWindow& window) {
  app_ = &app;
  window_ = &window;
  activated_ = false;
  autoRun_ = !app.ui().canAsk();
  movieStep = 0;
  view_ = PreviewView();
  view_.panel4Rgb = 0x808080;
  if (!timer1_) {
    plat::Clock& c = app.clock();
    timer1_ = c.createTimer("prevform.Timer1");
    timer1_->setInterval(100);
    timer1_->setHandler([this] { timer1Timer(); });
    simscroll_ = c.createTimer("prevform.simscroll");
    simscroll_->setInterval(1000);
    simscroll_->setHandler([this] { simscrollTimer(); });
    timSlice_ = c.createTimer("prevform.TimSlice");
    timSlice_->setInterval(500);
    timSlice_->setHandler([this] { timSliceTimer(); });
  }
  refresh();
}

void SlicePreview::closed() {
  movieStep = 9999;
  for (auto* t : {timer1_.get(), simscroll_.get(), timSlice_.get()})
    if (t) t->stop();
  window_ = nullptr;
}

void SlicePreview::refresh() {
  if (window_) window_->show(view_);
}

int SlicePreview::boxZ() const { return app_ ? app_->state().boxZMicrons : 0; }

int SlicePreview::heightOf(int position) const {
  return boxZ() - roundEven(double(position) * boxZ() / 1000.0);
}

// A model without height has every position at z = 0.
int SlicePreview::positionOf(int zMicrons) const {
  if (boxZ() <= 0) return 1000;
  return std::clamp(roundEven(double(boxZ() - zMicrons) * 1000.0 / boxZ()), 0, 1000);
}

std::string SlicePreview::heightText(int zMicrons) const { return plat::format("%.1f", zMicrons / 1000.0); }

void SlicePreview::formActivate() {
  // The first activation draws the first slice; later ones (after a colour
  // dialog) keep the height the operator chose.
  if (activated_) return;
  activated_ = true;
  timer1_->start();
}

void SlicePreview::timer1Timer() {
  timer1_->stop();
  if (!app_) return;
  if (app_->state().exportSlices) {
    if (window_) window_->maximise();
    timSlice_->start();
  }
  view_.editz = "0.0";
  drawSlice(0);
  view_.label2 = heightText(boxZ());
  refresh();
  if (autoRun_ && window_) {
    // Nobody can press a button: export the frames when asked to, then end.
    if (app_->state().exportSlices) movieClick();
    else window_->close();
  }
}

void SlicePreview::timSliceTimer() { timSlice_->stop(); }

void SlicePreview::formResize(int width, int height) {
  if (!app_) return;
  calls_.setcolstlparm(*app_, 11, 0);  // no slice tracing
  view_.pbxLeft = 62;
  view_.pbxTop = 0;
  view_.pbxWidth = std::max(1, width - 70);
  view_.pbxHeight = std::max(1, height - 28);
  computePreviewScale();
  if (canvas_.width() != view_.pbxWidth || canvas_.height() != view_.pbxHeight) {
    canvas_ = QImage(view_.pbxWidth, view_.pbxHeight, QImage::Format_RGB32);
    canvas_.fill(QColor(QRgb(previewBackground)));
  }
  refresh();
}

void SlicePreview::formPaint() {
  if (simscroll_) simscroll_->restart();
}

void SlicePreview::simscrollTimer() {
  simscroll_->stop();
  drawSlice(heightOf(view_.scrollPosition));
}

void SlicePreview::scrollBar1Scroll(int position, bool ended) {
  view_.scrollPosition = std::clamp(position, 0, 1000);
  const int z = heightOf(view_.scrollPosition);
  view_.editz = heightText(z);
  refresh();
  if (ended) drawSlice(z);
}

void SlicePreview::editzKeyPress(const std::string& text) {
  const char* b = text.c_str();
  char* e = nullptr;
  errno = 0;
  const double v = std::strtod(b, &e);
  int z = 0;
  while (e && *e == ' ') ++e;
  if (e == b || *e != 0 || errno == ERANGE || !std::isfinite(v)) {
    view_.editz = "0";
  } else {
    view_.editz = text;
    z = roundEven(v * 1000);
  }
  view_.scrollPosition = positionOf(z);
  refresh();
  drawSlice(z);
}

void SlicePreview::panel1Click(unsigned rgb) {
  previewBackground = rgb & 0xFFFFFF;
  drawSlice(heightOf(view_.scrollPosition));
}

void SlicePreview::panel4Click() {
  if (window_)
    if (auto c = window_->chooseColour(view_.panel4Rgb)) view_.panel4Rgb = *c & 0xFFFFFF;
  refresh();
  panel1Click(view_.panel4Rgb);
}

void SlicePreview::pbxMouseMove(int x, int y) {
  const double s = previewScale > 0 ? previewScale : 1;
  view_.label4 = plat::format("X%.1f", x / s * 25.4 / 300);
  view_.label5 = plat::format("Y%.1f", y / s * 25.4 / 300);
  refresh();
}

void SlicePreview::formCloseQuery() { movieStep = 9999; }

void SlicePreview::computePreviewScale() {
  if (!app_) return;
  const SlicerState& st = app_->state();
  const double w = double(st.boxXMicrons) + 10000, d = double(st.boxYMicrons) + 10000;
  previewCols = roundEven(w * 300 / 25.4 / 1000);
  previewRows = roundEven(d * 300 / 25.4 / 1000);
  previewScale = std::min(view_.pbxWidth * 25400.0 / w / 300, view_.pbxHeight * 25400.0 / d / 300);
  if (st.exportSlices) previewScale = std::min(previewScale, 1.0);
}

int SlicePreview::screenX(int x) const { return roundEven((previewCols - x) * previewScale); }
int SlicePreview::screenY(int row) const { return roundEven((previewRows - row) * previewScale); }

unsigned SlicePreview::colourToScreen(int c) {
  const unsigned r = (unsigned(c) >> 10) & 31, g = (unsigned(c) >> 5) & 31, b = unsigned(c) & 31;
  return r << 19 | g << 11 | b << 3;
}

// One screen row from x0 to x1 (either order, both included), clipped to
// the paint box: a span narrower than a pixel still shows as one.
void SlicePreview::fill(int x0, int x1, int y, unsigned rgb) {
  if (y < 0 || y >= canvas_.height()) return;
  if (x0 > x1) std::swap(x0, x1);
  x0 = std::max(x0, 0);
  x1 = std::min(x1, canvas_.width() - 1);
  auto* line = reinterpret_cast<QRgb*>(canvas_.scanLine(y));
  for (int x = x0; x <= x1; ++x) line[x] = 0xFF000000u | rgb;
}

bool SlicePreview::sliceAt(int zMicrons) {
  if (canvas_.width() != view_.pbxWidth || canvas_.height() != view_.pbxHeight) {
    canvas_ = QImage(view_.pbxWidth, view_.pbxHeight, QImage::Format_RGB32);
  }
  // A slice asked for while one is made (from a window event during a wait
  // for the renderer) is refused and leaves the picture as it is.
  if (calls_.preplayer(*app_, zMicrons) != 1) return false;
  canvas_.fill(QColor(QRgb(previewBackground)));
  return true;
}

void SlicePreview::drawSlice(int zMicrons) {
  if (!app_) return;
  computePreviewScale();
  view_.pbxLeft = 62;
  if (!canvas_.isNull()) {
    for (int y = 0; y < canvas_.height(); ++y) fill(0, 2, y, 0x0000FF);  // slicing
    if (window_) window_->paintBoxChanged();
  }
  if (!sliceAt(zMicrons)) return;
  for (auto s = calls_.getsliceline(*app_); s.colourIndex != 0; s = calls_.getsliceline(*app_)) {
    const unsigned rgb = colourToScreen(s.colour);
    const int a = screenX(s.xStart), b = screenX(s.xEnd);
    for (int y = screenY(s.row - 1) - 1; y >= screenY(s.row); --y) fill(a, b, y, rgb);
  }
  if (app_->state().exportSlices && !sliceFolder.empty()) saveFrame();
  if (window_) window_->paintBoxChanged();
}

void SlicePreview::saveFrame() {
  const SlicerState& st = app_->state();
  QImage frame;
  if (previewScale <= 0.99) {
    frame = canvas_.copy();
  } else {
    auto pixels = [](int microns) { return int(std::clamp((microns + 1000LL) * 3 / 254, 1LL, 30000LL)); };
    const int w = pixels(st.boxXMicrons), h = pixels(st.boxYMicrons);
    frame = QImage(w, h, QImage::Format_RGB32);
    frame.fill(QColor(QRgb(previewBackground)));
    for (int y = 0; y < std::min(h, canvas_.height()); ++y)
      std::memcpy(frame.scanLine(y), canvas_.constScanLine(y),
                  std::size_t(std::min(w, canvas_.width())) * sizeof(QRgb));
  }
  const std::string name = plat::format("%sslice%d.bmp", sliceFolder, frameNumber);
  if (exportByteLimit < 0) {
    struct statvfs fs {};
    const long long free = ::statvfs(localPath(sliceFolder).c_str(), &fs) == 0
                               ? (long long)fs.f_bavail * (long long)fs.f_frsize
                               : kMaxExportBytes;
    exportByteLimit = std::min(kMaxExportBytes, free / 2);
  }
  // The frames of a movie are alike: the next one takes what the last took.
  if (exportedBytes + lastFrameBytes_ > exportByteLimit) {
    app_->ui().logLine(plat::format("the slice export stops at %s: its frames may take at most %lld MB of disk "
                                    "(half the free space, at most %lld MB), and %lld MB are written",
                                    name, exportByteLimit >> 20, kMaxExportBytes >> 20, exportedBytes >> 20));
    sliceFolder.clear();
    movieStep = 9999;  // the movie ends here
    return;
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  std::string why;
  if (!buffer.open(QIODevice::WriteOnly) || !frame.save(&buffer, "BMP") ||
      !plat::writeFileAtomically(localPath(name), std::string_view(bytes.constData(), std::size_t(bytes.size())), why))
    app_->ui().logLine(plat::format("cannot write the frame %s", name));
  struct stat saved {};
  lastFrameBytes_ = ::stat(localPath(name).c_str(), &saved) == 0 ? (long long)saved.st_size : 0;
  exportedBytes += lastFrameBytes_;
  ++frameNumber;
}

long long SlicePreview::sliceArea(int zMicrons) {
  if (!app_) return 0;
  computePreviewScale();
  if (!sliceAt(zMicrons)) return 0;
  long long sum = 0;
  for (auto s = calls_.getsliceline(*app_); s.colourIndex != 0; s = calls_.getsliceline(*app_)) {
    fill(screenX(s.xStart), screenX(s.xEnd), screenY(s.row), colourToScreen(s.colour));
    sum += s.xEnd - s.xStart;
  }
  if (window_) window_->paintBoxChanged();
  return sum;
}

double SlicePreview::modelVolume() {
  long long sum = 0;
  for (int z = 0; z < boxZ(); z += 2000) {
    view_.scrollPosition = positionOf(z);
    view_.editz = "**";
    refresh();
    sum += sliceArea(z);
    if (window_) window_->processEvents();
  }
  view_.scrollPosition = 1000;
  view_.editz = "0";
  refresh();
  return double(sum) * 6.4516 / 300 / 300 / 5;
}

void SlicePreview::vbuttonClick() {
  if (!app_) return;
  if (window_) window_->setBusyCursor(true);
  view_.vbuttonCaption = "calculating......";
  refresh();
  const double v = modelVolume();
  const SlicerState& st = app_->state();
  const double h = st.boxZMicrons / 1000.0, y = (st.boxYMicrons - 10000) / 1000.0;
  const double price = 20 + 0.64 * v + 0.27 * h + 0.22 * y + 0.012 * h * h;
  if (window_) {
    window_->setBusyCursor(false);
    window_->showMessage(plat::format("price = 20.00+0.64V+0.22Y+0.27Z+0.012Z\u00b2 = NLG %.2f", price));
  }
  view_.vbuttonCaption = plat::format("price: NLG %.2f   (%.1f CC)", price, v);
  refresh();
}

// "slices" + n for the first n that is not a folder yet; empty when it
// cannot be made (the movie then runs without saving).
void SlicePreview::chooseSliceFolder() {
  const std::string base = app_->state().workFolder.empty() ? std::string(".") : app_->state().workFolder;
  for (int n = 1;; ++n) {
    const std::string folder = plat::format("%s/slices%d", base, n);
    if (isFolder(folder)) continue;
    if (::mkdir(localPath(folder).c_str(), 0777) == 0) {
      sliceFolder = folder + "/";
    } else {
      app_->ui().logLine(plat::format("cannot make the frame folder %s: %s; frames are not saved", folder,
                                      std::string(std::strerror(errno))));
      sliceFolder.clear();
    }
    return;
  }
}

void SlicePreview::movieClick() {
  if (!app_) return;
  movieStep = 0;
  if (view_.movieCaption == "stop") {
    movieStep = 9999;
    return;
  }
  const SlicerState& st = app_->state();
  const bool frames = st.exportSlices;
  // Only a movie that starts gets a frame folder; "stop" makes none.
  if (frames) chooseSliceFolder();
  view_.movieCaption = "stop";
  refresh();
  const int layer = roundEven(layerThickness(st) * 1000);
  while (movieStep < view_.scrollPosition) {
    int z;
    if (!frames) {
      view_.scrollPosition = std::max(0, view_.scrollPosition - 10);
      z = heightOf(view_.scrollPosition);
    } else {
      z = int(std::clamp((long long)layer * frameNumber, -2000000000LL, 2000000000LL));
      int p = boxZ() > 0 ? int(std::max(-1000000LL, 1000 - (long long)z * 1000 / boxZ())) : 0;
      if (p < 1 && (long long)z < (long long)layer + boxZ()) p = 1;
      view_.scrollPosition = p;
    }
    view_.editz = heightText(z);
    refresh();
    drawSlice(z);
    // Frames that are not saved still move the movie on.
    if (frames && sliceFolder.empty()) ++frameNumber;
    if (window_) window_->processEvents();
    if (!window_) break;
    if (!frames) window_->pause(200);
    if (frames && layer <= 0) break;  // a zero layer never reaches the top
  }
  view_.movieCaption = "movie";
  refresh();
  if (frames && window_) window_->close();
}

}  // namespace lt
