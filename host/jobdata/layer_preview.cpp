#include "host/jobdata/layer_preview.h"

#include <algorithm>
#include <string>
#include <vector>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_reader.h"
#include "host/jobdata/p3d_scan.h"

namespace ph {

LayerPreview::LayerPreview(HostCore& core, const JobState& job)
    : core_(core), job_(job), pictureEnd_(core.timers.make("endbForm")) {
  pictureEnd_->setHandler([this] { closePicture(); });
}

LayerPreview::~LayerPreview() = default;

bool LayerPreview::showLayer() {
  if (accumulate) page_ += 20;
  int page = pageRequest;
  if (page < 0) page = core_.evalIntExpr(core_.askText("input", "page", std::to_string(page_)));
  if (page >= 20000) {
    accumulate = true;
    page -= 20000;
  }
  bool waterWhite = false;
  if (page >= 10000) {
    waterWhite = true;
    page -= 10000;
  }
  const bool shown = showPage(page, waterWhite);
  // Page Up and Page Down in the window step through the layers.
  core_.ui.setBitmapStepper([this, waterWhite](int step) { showPage(std::max(0, page_ + step), waterWhite); });
  return shown;
}

bool LayerPreview::showPage(int page, bool waterWhite) {
  page_ = page;
  picture_ = newBitmap32(kWidth, kHeight);
  const std::string name = job_.workFileName("p3d");
  FilePtr file = core_.openFile(name, "rb").file;
  if (!file) {
    core_.ui.showBitmap(picture_, false);
    return false;
  }
  paintLayer(file.get(), waterWhite);
  file.reset();

  if (accumulate) {
    if (accumulated_.isNull()) {
      accumulated_ = picture_;
    } else {
      // The dots the new layer leaves white show the layers before.
      for (int y = 0; y < kHeight; ++y) {
        auto* row = reinterpret_cast<QRgb*>(picture_.scanLine(y));
        const auto* old = reinterpret_cast<const QRgb*>(accumulated_.constScanLine(y));
        for (int x = 0; x < kWidth; ++x)
          if (pixelToColour(row[x]) == 0xFFFFFF) row[x] = old[x];
      }
      accumulated_ = picture_;
    }
  }
  core_.ui.showBitmap(picture_, false);
  return true;
}

void LayerPreview::paintLayer(std::FILE* file, bool waterWhite) {
  P3dReadBuffer in(file);
  const int seeks = 1 + std::max(page_, 0);
  for (int k = 0; k < seeks; ++k) {
    if (!seekLayerStart(in)) {
      core_.memoPrintf("dsp p3d: the job has no layer %d", page_);
      return;
    }
  }
  const bool blackPrint = core_.s.blackPrint;
  // Each plane darkens the dot in its own way: water greys it, the colour
  // planes clear the high nibble of red, green or blue; in black printing
  // only the black (cyan) plane greys it.
  int keep[4] = {waterWhite ? -1 : 0xF0F0F0, ~0xF0, ~0xF000, ~0xF00000};
  if (blackPrint) {
    keep[0] = keep[2] = keep[3] = -1;
    keep[1] = 0xF0F0F0;
  }
  std::vector<std::uint8_t> data, row;
  int number = 0, plane = 0, y = 0;
  std::uint8_t c = 0;
  while (y < kHeight && in.next(c)) {
    if (isRowDigit(c)) {
      addRowDigit(number, c);
      continue;
    }
    if (isPlaneCode(c)) {
      if (number > 0) {
        if (number > kMaxPlaneBytes) {
          core_.memoPrintf("dsp p3d: a plane row of %d bytes in row %d of layer %d: the preview stops there",
                           number, y, page_);
          break;
        }
        data.resize(std::size_t(number));
        int got = 0;
        while (got < number && in.next(data[std::size_t(got)])) ++got;
        if (got < number) {
          core_.memoPrintf("dsp p3d: the file ends inside row %d of layer %d: the preview stops there", y, page_);
          break;
        }
        unpackRow(row, data.data(), number, (kWidth + 7) / 8);
        const int bytes = int(row.size());
        if (plane < 4 && keep[plane] != -1) {
          auto* line = reinterpret_cast<QRgb*>(picture_.scanLine(y));
          for (int b = 0; b < bytes; ++b) {
            if (!row[std::size_t(b)]) continue;
            for (int bit = 0; bit < 8 && 8 * b + bit < kWidth; ++bit)
              if (row[std::size_t(b)] & (0x80 >> bit)) {
                QRgb& p = line[8 * b + bit];
                p = colourToPixel(pixelToColour(p) & keep[plane]);
              }
          }
        }
      }
      ++plane;
      if (c != 'v') {
        plane = 0;
        ++y;
        if (c == 'W') break;
      }
    } else if (c == 'y') {
      y += number;
    }
    number = 0;
  }
}

void LayerPreview::closePicture() {
  pictureEnd_->stop();
  core_.ui.closeBitmap();
}

}  // namespace ph
