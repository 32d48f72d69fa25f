#include "slicer/raster_encoder.h"

#include <algorithm>

#include "slicer/palette.h"

namespace lt {

namespace {

const std::string kEsc = "\x1b";

void append(std::string& out, std::initializer_list<int> bytes) {
  for (int b : bytes) out.push_back(char(b));
}

}  // namespace

int nextMarkerRow(int n, int step) {
  if (step == 0) return kNoMarkerRow;
  int r = int((static_cast<long long>(n) + step) % 32);
  if (r < 0) r += 32;
  return r == 0 ? step : r;
}

RasterEncoder::RasterEncoder(const ColourTables& tables, const PageSetup& setup)
    : tables_(tables), setup_(setup), patterns_(tables) {}

void RasterEncoder::pageHead(int layerShift, int markerRow, std::string& out) {
  lowQualityRow_ = 31;
  markerRow_ = markerRow;
  patterns_.startPage(layerShift);
  out += kEsc + "*o" + std::to_string(setup_.quality) + "M";
  out += kEsc + "*t300R";
  out += kEsc + "*o5W";
  append(out, {0x04, 0x09, 0x00, 0x00, 0x00});
  out += kEsc + "*o5W";
  append(out, {0x07, 0x03, 0x00, 0x00, 0x00});
  out += kEsc + "*c0F";
  out += kEsc + "&i5W";
  append(out, {0x07, 0x01, 0x00, 0x00, 0x01});
  out += kEsc + "*o1D";
  append(out, {0x1B, 0x21, 0x2D, 0x63, 0x32, 0x30, 0x53});
  out += kEsc + "&u300D";
  if (!setup_.lowQuality) out += setup_.cursorText;
  // Four planes of 300 x 300 dots with two levels each.
  out += kEsc + "*g26W";
  append(out, {0x02, 0x04});
  for (int i = 0; i < 4; ++i) append(out, {0x01, 0x2C, 0x01, 0x2C, 0x00, 0x02});
  out += kEsc + "*r2400S";
  out += kEsc + "*r1A";
  out += kEsc + "*b2M";
  out += kEsc + "*b";
  emptyRows_ = 0;
  clearRow();
}

void RasterEncoder::clearRow() {
  x_ = 0;
  for (int k = 0; k < 4; ++k) {
    PlaneRow& p = plane_[std::size_t(k)];
    p.data.clear();
    p.pending = 0;
    p.run = 0;
    p.mask = 0;
    p.ink = 0;
    p.literalAt = -1;
    if (setup_.lowQuality) {
      // One literal zero byte, then 257 - width code zero bytes; in the
      // first rows after the counter wrapped, planes 0 and 3 carry a 01.
      const bool mark = lowQualityRow_ < 4 && (k == kWater || k == kYellow);
      append(p.data, {0x00, mark ? 0x01 : 0x00, setup_.widthCode & 0xFF, 0x00});
    }
  }
}

void RasterEncoder::literal(PlaneRow& p, std::uint8_t b) {
  if (p.literalAt >= 0) {
    ++p.data[std::size_t(p.literalAt)];
  } else {
    p.literalAt = int(p.data.size());
    p.data.push_back(0);
  }
  p.data.push_back(char(b));
}

// A repeat run ends the open literal run: a later literal byte must not be
// counted into a run that lies before the repeat.
void RasterEncoder::repeat(PlaneRow& p, int count, std::uint8_t b) {
  p.literalAt = -1;
  p.data.push_back(char(257 - count));
  p.data.push_back(char(b));
}

void RasterEncoder::emitRun(PlaneRow& p) {
  if (p.run <= 0) return;
  p.ink |= p.pending;
  while (p.run > 128) {
    repeat(p, 128, p.pending);
    p.run -= 128;
  }
  if (p.run > 3) repeat(p, p.run, p.pending);
  else
    for (int i = 0; i < p.run; ++i) literal(p, p.pending);
  p.run = 0;
}

void RasterEncoder::putSpan(int xEnd, int colour) {
  // Spans never run backwards: a row that would is clipped at the current
  // dot instead of corrupting the byte counts.
  if (xEnd < x_) xEnd = x_;
  if (colour != 0) patterns_.use(colour);
  const int i0 = x_ / 8, i1 = xEnd / 8;
  for (int k = 0; k < 4; ++k) {
    PlaneRow& p = plane_[std::size_t(k)];
    const std::uint8_t n = colour == 0 ? 0 : patterns_.planeByte(colour, k);
    if (p.literalAt >= 0 && (std::uint8_t(p.data[std::size_t(p.literalAt)]) > 120 || p.pending == 0x7F))
      p.literalAt = -1;
    if (p.pending == n) {
      p.run += i1 - i0;
    } else {
      emitRun(p);
      if (p.mask != 0) {
        const std::uint8_t mixed = std::uint8_t((p.mask & p.pending) | (~p.mask & n));
        if (i1 == i0) {
          p.pending = mixed;
          p.run = 0;
        } else {
          literal(p, mixed);
          p.ink |= mixed;
          p.pending = n;
          p.run = i1 - i0 - 1;
        }
      } else {
        p.pending = n;
        p.run = i1 - i0;
      }
    }
    p.mask = std::uint8_t(0xFF00 >> (xEnd % 8));
  }
  x_ = xEnd;
}

void RasterEncoder::markerRowBytes(std::string& out) const {
  const int one = setup_.markerBytesZero ? 0x00 : 0x01;
  append(out, {0x32, 0x76, 0x00, one, 0x76, 0x76, 0x32, 0x77, 0x00, one});
}

void RasterEncoder::writeEmptyRows(std::string& out) {
  int pending = emptyRows_;
  emptyRows_ = 0;
  if (pending > 10) {
    out += "wwwwwwwwww";
    pending -= 10;
  }
  if (setup_.directOutput && pending > markerRow_) {
    out += std::to_string(pending - markerRow_) + "y";
    markerRowBytes(out);
    pending = markerRow_ - 1;
  }
  if (pending > 10) {
    out += std::to_string(pending - 10) + "y";
    pending = 10;
  }
  if (pending > 0) out.append(std::size_t(pending), 'w');
}

void RasterEncoder::endRow(std::string& out) {
  putSpan((x_ & ~7) + 8, 0);
  std::uint8_t ink = 0;
  for (const auto& p : plane_) ink |= p.ink;
  if (ink == 0) {
    ++emptyRows_;
  } else {
    writeEmptyRows(out);
    if (setup_.lowQuality) {
      lowQualityRow_ = (lowQualityRow_ + 1) % 32;
      if (lowQualityRow_ == 0)
        for (int k : {int(kWater), int(kYellow)})
          append(plane_[std::size_t(k)].data, {setup_.widthCode & 0xFF, 0x00, 0x00, 0x03});
    }
    for (int k = 0; k < 4; ++k) {
      const PlaneRow& p = plane_[std::size_t(k)];
      if (p.ink != 0 && !p.data.empty()) out += std::to_string(p.data.size());
      out.push_back(k < 3 ? 'v' : 'w');
      if (p.ink != 0) out += p.data;
    }
  }
  patterns_.advance();
  clearRow();
}

void RasterEncoder::pageTail(std::string& out) {
  for (int i = 1; i <= 150; ++i) {
    if (i == markerRow_) markerRowBytes(out);
    else out.push_back('w');
  }
  out.append(6 + 49, 'w');
  out += "0W" + kEsc + "*rB";
}

void RasterEncoder::encodeLayer(const SpanStore& store, int layerShift, int markerRow, std::string& out) {
  pageHead(layerShift, markerRow, out);
  const int rows = std::min(store.rows(), setup_.modelRows);
  for (int cy = 0; cy < setup_.copiesY; ++cy) {
    if (cy > 0)
      for (int r = rows; r < setup_.modelRows; ++r) endRow(out);
    for (int r = 0; r < rows; ++r) {
      const auto spans = store.row(r);
      for (int j = 0; j < setup_.copiesX; ++j) {
        const int shift = j * setup_.modelWidthDots;
        for (const Span& s : spans) putSpan(s.xEnd + shift, s.colour);
      }
      endRow(out);
    }
  }
  pageTail(out);
}

}  // namespace lt
