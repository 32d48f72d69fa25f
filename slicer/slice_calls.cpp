#include "slicer/slice_calls.h"

#include <climits>

#include "platform/format.h"
#include "slicer/slicer_app.h"
#include "slicer/slicer_core.h"

namespace lt {

namespace {

struct BusyGuard {
  explicit BusyGuard(bool& b) : flag(b) { flag = true; }
  ~BusyGuard() { flag = false; }
  bool& flag;
};

}  // namespace

bool SliceCalls::sliceLayer(SlicerApp& app, float z) {
  if (busy_) {
    app.ui().logLine(plat::format("slice of %.4f mm refused: a slice is running", double(z)));
    return false;
  }
  BusyGuard guard(busy_);
  store_.start(z);
  row_ = 0;
  entry_ = 0;
  if (app.state().bmpMode) {
    if (!core_.sliceBitmapLayer(app, z, store_)) {
      store_.release();
      return false;
    }
    return true;
  }
  applyDefaultColour(app);
  LayerSlicer(app.model(), sliceSettingsOf(app)).slice(z, store_, scratch_);
  return true;
}

int SliceCalls::preplayer(SlicerApp& app, int zMicrons) {
  if (app.state().values.traceLevel > 0) app.ui().logLine(plat::format("preplayer(%d )", zMicrons));
  const bool done = sliceLayer(app, float(zMicrons / 1000.0));
  row_ = 0;
  entry_ = 0;
  return done ? 1 : 0;
}

SliceCalls::SliceLine SliceCalls::getsliceline(SlicerApp& app) {
  if (app.state().values.traceLevel > 0) app.ui().logLine("getsliceline (  ....  )");
  SliceLine line;
  while (store_.holdsLayer() && row_ < store_.rows()) {
    const auto spans = store_.row(row_);
    if (entry_ >= spans.size()) {
      ++row_;
      entry_ = 0;
      continue;
    }
    const std::size_t i = entry_++;
    if (spans[i].colour == 0) continue;
    line.colourIndex = spans[i].colour;
    line.xStart = i == 0 ? 0 : spans[i - 1].xEnd;
    line.xEnd = spans[i].xEnd;
    line.row = row_;
    line.colour = std::uint16_t(app.model().palette.colour(spans[i].colour) | 0x8000);
    return line;
  }
  return line;
}

bool SliceCalls::setcolstlparm(SlicerApp& app, int i, int v) {
  SliceValues& s = app.state().values;
  if (s.traceLevel > 0) app.ui().logLine(plat::format("setcolstlparm(%d,%d )", i, v));
  // Values that size the work of a page (copies, widths, rows) or take part
  // in its arithmetic are taken only within their ranges.
  static constexpr IntRange kAny{INT_MIN, INT_MAX};
  static constexpr IntRange kQuality{-1, 1};
  static constexpr IntRange kRanges[12] = {kDropsRange,   kDropsRange,     kAny,          kQuality,
                                           kCopiesRange,  kCopiesRange,    kModelDotsRange, kModelRowsRange,
                                           kAny,          kAny,            kAny,          kAny};
  if (i >= 0 && i < 12 && !kRanges[i].holds(v)) {
    app.ui().logLine(plat::format("setcolstlparm(%d,%d ): the value is outside %d..%d, not set", i, v, kRanges[i].lo,
                                  kRanges[i].hi));
    return false;
  }
  switch (i) {
    case 0: s.wpix = v; break;
    case 1: s.spix = v; break;
    case 2: s.colourFactor = double(float(v / 1000.0)); break;
    case 3: s.quality = v; break;
    case 4: s.copiesX = v; break;
    case 5: s.copiesY = v; break;
    case 6: s.modelWidthDots = v; break;
    case 7: s.modelRows = v; break;
    case 8: s.minstepx = validStep(v); break;
    case 9: s.minstepy = validStep(v); break;
    case 10: s.defaultColour = v & 0xFFFF; break;
    case 11: s.traceLevel = v; break;
    default: return false;
  }
  return true;
}

}  // namespace lt
