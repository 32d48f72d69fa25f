#include "slicer/bitmap_layers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/fingerprint.h"
#include "platform/format.h"
#include "slicer/colour_model.h"
#include "slicer/dots.h"
#include "slicer/input_file.h"
#include "slicer/layer_slicer.h"
#include "slicer/model_names.h"
#include "slicer/slicer_app.h"

namespace lt {

namespace {

// The source row of every picture row after the lead rows: the output row
// counter r runs down from round(H s), each row showing source row
// round(r / s), until the row that shows row 0. At most `cap` rows.
std::vector<int> pictureRows(int H, double s, int cap) {
  std::vector<int> ys;
  int r = roundEven(H * s) + 1;
  while (int(ys.size()) < cap) {
    --r;
    // A scale below 1 may round past the last used row.
    const int y = std::clamp(roundEven(r / s), 0, H);
    ys.push_back(y);
    if (y == 0) break;
  }
  return ys;
}

// A pixel as the window colour the colour model takes (red in the low byte).
unsigned windowColour(QRgb p) { return unsigned(qRed(p)) | unsigned(qGreen(p)) << 8 | unsigned(qBlue(p)) << 16; }

int paletteIndexOf(Palette& palette, unsigned window) {
  const std::uint16_t c = windowToColour(window);
  if (auto i = palette.find(c)) return *i;
  if (palette.count() + 1 < kSupportIndex) return palette.assign(c);
  return nearestPaletteIndex(palette, c);
}

bool usable(const QImage& p) { return p.width() >= 2 && p.height() >= 2; }

// An uncompressed BMP holds its rows whole: one cut short is refused (the
// picture reader would fill the missing rows and the layer would print
// without them). Empty when the file is whole or not such a BMP.
std::string shortBmp(const std::string& path) {
  unsigned char h[34] = {};
  std::FILE* f = std::fopen(localPath(path).c_str(), "rb");
  if (!f) return {};
  const std::size_t got = std::fread(h, 1, sizeof h, f);
  std::fseek(f, 0, SEEK_END);
  const long long size = std::ftell(f);
  std::fclose(f);
  if (got < sizeof h || h[0] != 'B' || h[1] != 'M') return {};
  auto u32 = [&](int at) {
    return std::uint32_t(h[at]) | std::uint32_t(h[at + 1]) << 8 | std::uint32_t(h[at + 2]) << 16 |
           std::uint32_t(h[at + 3]) << 24;
  };
  const long long offset = u32(10), header = u32(14);
  const long long width = std::int32_t(u32(18)), height = std::int32_t(u32(22));
  const int bpp = h[28] | h[29] << 8;
  const std::uint32_t compression = u32(30);
  if (header < 40 || (compression != 0 && compression != 3) || width <= 0 || bpp <= 0) return {};
  const long long rowBytes = (width * bpp + 31) / 32 * 4;
  const long long need = offset + rowBytes * std::llabs(height);
  if (size >= need) return {};
  return plat::format("the picture %s is cut short: its %lld rows need %lld bytes, the file holds %lld", path,
                      std::llabs(height), need, size);
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::stat(localPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

struct BusyGuard {
  explicit BusyGuard(bool& b) : flag(b) { flag = true; }
  ~BusyGuard() { flag = false; }
  bool& flag;
};

}  // namespace

BitmapExtent bitmapExtent(int width, int height, double scale) {
  BitmapExtent e;
  e.rows = kBitmapLeadRows;
  if (width < 2 || height < 2 || !(scale > 0)) return e;
  const int W = width - 2, H = height - 2;
  e.dots = std::min(roundEven((W + 1) * scale), LayerSlicer::kRasterDots);
  e.rows += int(pictureRows(H, scale, LayerSlicer::kRows - kBitmapLeadRows).size());
  return e;
}

void bitmapLayerSpans(const QImage& picture, double s, Palette& palette, SpanStore& out) {
  palette.reset();
  out.add(0, 5);
  for (int i = 0; i < kBitmapLeadRows; ++i) out.endRow();
  if (!usable(picture) || !(s > 0)) return;
  const QImage img = picture.format() == QImage::Format_RGB32 ? picture : picture.convertToFormat(QImage::Format_RGB32);
  const int W = img.width() - 2, H = img.height() - 2;
  const QRgb background = img.pixel(0, 0) & 0xFFFFFF;

  struct Run {
    int length;
    QRgb colour;
  };
  std::vector<Run> runs;
  int runsOf = -1;
  for (const int y : pictureRows(H, s, LayerSlicer::kRows - kBitmapLeadRows)) {
    if (y != runsOf) {
      // Runs of equal colour from the right end of the row to x = 0.
      runs.clear();
      const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
      for (int x = W; x >= 0;) {
        const QRgb c = line[x] & 0xFFFFFF;
        int n = 0;
        while (x >= 0 && (line[x] & 0xFFFFFF) == c) {
          --x;
          ++n;
        }
        runs.push_back({n, c});
      }
      runsOf = y;
    }
    int x = W;
    for (std::size_t i = 0; i < runs.size(); ++i) {
      x -= runs[i].length;
      const bool gap = runs[i].colour == background;
      if (gap && i + 1 == runs.size()) break;  // a trailing gap is no span
      const int index = gap ? 0 : paletteIndexOf(palette, windowColour(runs[i].colour));
      const int end = std::min(roundEven((W - x) * s), LayerSlicer::kRasterDots);
      out.add(std::uint16_t(index), end);
    }
    out.endRow();
  }
}

std::string layerRequestText(double z) { return plat::format("%.2f", z); }

LayerRenderer::Answer LayerRenderer::request(const std::string& folder, const std::string& text, const Wait& wait,
                                             QImage& picture, std::string& error) {
  picture = QImage();
  if (!request_) request_ = plat::NamedEvent::open("bmprequest");
  if (!ready_) ready_ = plat::NamedEvent::open("bmpready");
  if (!request_ || !ready_) {
    error = plat::format("cannot open the events of the layer renderer: %s", std::string(std::strerror(errno)));
    return Answer::Failed;
  }
  const std::string answer = folder + "/layerdat.bmp", asked = folder + "/layerdat.txt";
  // Neither an answer file nor an answer signal left from an earlier
  // request may pass for the answer to this one.
  if (::unlink(localPath(answer).c_str()) != 0 && errno != ENOENT) {
    error = plat::format("cannot remove the old answer %s: %s", answer, std::string(std::strerror(errno)));
    return Answer::Failed;
  }
  ready_->reset();
  if (std::string why; !plat::writeFileAtomically(localPath(asked), text, why)) {
    error = plat::format("cannot write the request %s: %s", asked, why);
    return Answer::Failed;
  }
  if (!request_->set()) {
    error = plat::format("cannot set \"bmprequest\": %s", std::string(std::strerror(errno)));
    return Answer::Failed;
  }
  const std::int64_t start = wait.clock ? wait.clock->tickMs() : 0;
  bool noted = false;
  for (;;) {
    const auto w = ready_->wait(std::max(1, wait.stepMs));
    if (w == plat::NamedEvent::Wait::Signalled) break;
    if (w == plat::NamedEvent::Wait::Failed) {
      error = plat::format("waiting for \"bmpready\" failed: %s", std::string(std::strerror(errno)));
      return Answer::Failed;
    }
    if (wait.processEvents) wait.processEvents();
    if (wait.aborted && wait.aborted()) {
      error = plat::format("waiting for the layer renderer ended (layer %s)", text);
      return Answer::Aborted;
    }
    const std::int64_t waited = wait.clock ? wait.clock->tickMs() - start : 0;
    if (wait.limitMs > 0 && waited >= wait.limitMs) {
      error = plat::format("the layer renderer did not answer within %d s (layer %s, %s)", wait.limitMs / 1000, text,
                           asked);
      return Answer::TimedOut;
    }
    if (!noted && wait.note) {
      wait.note(plat::format("waiting for the layer renderer (layer %s)", text));
      noted = true;
    }
  }
  if (!fileExists(answer)) return Answer::NoPicture;
  if (const std::string cut = shortBmp(answer); !cut.empty()) {
    ::unlink(localPath(answer).c_str());
    error = cut + plat::format(" (layer %s)", text);
    return Answer::Failed;
  }
  const bool loaded = picture.load(QString::fromStdString(localPath(answer)));
  ::unlink(localPath(answer).c_str());
  if (!loaded) {
    error = plat::format("the layer renderer's answer %s is not a picture that can be read (layer %s)", answer, text);
    return Answer::Failed;
  }
  return Answer::Picture;
}

bool BitmapInput::picture(SlicerApp& app, const std::string& text, QImage& out) {
  const SlicerState& st = app.state();
  if (st.bmpLayerMode) {
    InputFile f;
    if (!f.open(st.modelName, "the picture", kMaxPictureBytes)) {
      app.tellOperator(f.error());
      return false;
    }
    if (const std::string cut = shortBmp(st.modelName); !cut.empty()) {
      app.tellOperator(cut);
      return false;
    }
    if (out.load(QString::fromStdString(localPath(st.modelName)))) return true;
    app.tellOperator(plat::format("cannot read the picture %s", st.modelName));
    return false;
  }
  LayerRenderer::Wait w;
  w.clock = &app.clock();
  w.processEvents = [&app] { app.ui().processEvents(); };
  w.aborted = [&st] { return st.abortFlag || (st.jobRunning && (st.stopKey == 'H' || st.stopKey == 'h')); };
  w.limitMs = app.unattended() || st.batchJob ? unattendedLimitMs : 0;
  w.stepMs = waitStepMs;
  w.note = [&app](const std::string& t) { app.ui().logLine(t); };
  std::string error;
  switch (renderer_.request(st.workFolder, text, w, out, error)) {
    case LayerRenderer::Answer::Picture:
      return true;
    case LayerRenderer::Answer::NoPicture:
      app.ui().logLine(plat::format("the layer renderer gave no picture for layer %s", text));
      return true;
    case LayerRenderer::Answer::Aborted:
      app.ui().logLine(error);
      return false;
    case LayerRenderer::Answer::TimedOut:
    case LayerRenderer::Answer::Failed:
      break;
  }
  app.tellOperator(error);
  return false;
}

bool BitmapInput::sliceLayer(SlicerApp& app, float z, SpanStore& out) {
  if (busy_) {
    app.ui().logLine(plat::format("bitmap layer %.4f mm refused: a layer is being fetched", double(z)));
    return false;
  }
  BusyGuard guard(busy_);
  const double s = app.state().bmpScale;
  if (!(s > 0) || !std::isfinite(s)) {
    app.tellOperator(plat::format("the picture scale %g is not above 0: no bitmap layer made", s));
    return false;
  }
  QImage pic;
  if (!picture(app, layerRequestText(z), pic)) return false;
  out.start(z);
  bitmapLayerSpans(pic, s, app.model().palette, out);
  return true;
}

std::optional<Box> BitmapInput::modelBox(SlicerApp& app) {
  if (busy_) return std::nullopt;
  BusyGuard guard(busy_);
  SlicerState& st = app.state();
  const double s = st.bmpScale;
  if (!(s > 0) || !std::isfinite(s)) {
    app.tellOperator(plat::format("the picture scale %g is not above 0: %s not prepared", s, st.modelName));
    return std::nullopt;
  }
  QImage pic;
  if (!picture(app, kMeasureRequest, pic)) return std::nullopt;
  if (!usable(pic)) {
    app.tellOperator(st.bmpLayerMode
                         ? plat::format("the picture %s is smaller than 2 x 2 pixels", st.modelName)
                         : plat::format("the layer renderer gave no usable picture for the measurement of %s",
                                        st.modelName));
    return std::nullopt;
  }
  const BitmapExtent e = bitmapExtent(pic.width(), pic.height(), s);
  Box b;
  b.x = e.dots / kDotsPerMm;
  b.y = e.rows / kDotsPerMm;
  if (st.bmpLayerMode) {
    b.z = 0.1;
  } else {
    const double zEnd = std::strtod(st.zend.c_str(), nullptr);
    b.z = std::isfinite(zEnd) && zEnd > 0 ? zEnd : 0;
  }
  ColouredModel& m = app.model();
  m.facets.clear();
  m.palette.reset();
  m.singleWhite = false;
  m.widthCode = widthCodeFor(b.x);
  // The job's fingerprint stands on the model file, as for an STL.
  struct stat fst {};
  const bool exists = ::stat(localPath(st.modelName).c_str(), &fst) == 0 && S_ISREG(fst.st_mode);
  m.modelSize = exists ? std::int32_t(fst.st_size) : 0;
  m.modelDateCode = exists ? plat::fileDateCode(localPath(st.modelName)) : 0;
  m.modelContentCrc = exists ? plat::fileContentCrc(localPath(st.modelName)).value_or(0) : 0;
  m.sourcePath = st.modelName;
  return b;
}

}  // namespace lt
