#include "host/jobdata/patterns.h"

#include <QBuffer>
#include <QFont>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "host/core/bitmaps.h"
#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/main_texts.h"
#include "host/core/paths.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/layer_preview.h"

namespace ph {

int packBitsRow(std::uint8_t* out, const std::uint8_t* in, int n) {
  int o = 0, i = 0;
  bool endsInZeroRepeat = false;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 128 && in[i + run] == in[i]) ++run;
    if (run >= 3) {
      out[o++] = std::uint8_t(1 - run);
      out[o++] = in[i];
      endsInZeroRepeat = in[i] == 0;
      i += run;
      continue;
    }
    // A literal run up to where three equal bytes start (at most 128).
    const int start = i;
    while (i < n && i - start < 128 && !(i + 2 < n && in[i] == in[i + 1] && in[i] == in[i + 2])) ++i;
    out[o++] = std::uint8_t(i - start - 1);
    for (int k = start; k < i; ++k) out[o++] = in[k];
    endsInZeroRepeat = false;
  }
  if (o >= 4 && endsInZeroRepeat) o -= 2;
  return o;
}

void writePatternLayerHead(std::string& out) {
  out.append(12, ' ');
  out.append(layerStartMarker);
  out.append("wwwwwwwwww102y");
}

namespace {

constexpr int kRowDots = 2400;

bool isPlaneDot(int plane, int colour, PatternDots dots) {
  if (dots == PatternDots::ExactWithMargin) {
    static constexpr int exact[4] = {0, kPatternCyan, kPatternMagenta, kPatternYellow};
    return colour == exact[plane];
  }
  static constexpr int mask[4] = {0x010101, 0x0000F0, 0x00F000, 0xF00000};
  return (colour & mask[plane]) == 0;
}

// Outside the picture nothing is printed.
int colourOrWhite(const QImage& picture, int x, int y) {
  if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) return kPatternWhite;
  return pixelAt(picture, x, y);
}

}  // namespace

void appendPatternRows(const QImage& picture, int firstRow, int lastRow, std::string& out, bool slant,
                       PatternDots dots, bool endsLayer) {
  const int width = std::min(picture.width(), kRowDots);
  std::array<std::uint8_t, kRowDots / 8> row{};
  std::array<std::uint8_t, kRowDots / 8 + kRowDots / 8 / 128 + 2> packed{};
  for (int y = firstRow; y <= lastRow; ++y)
    for (int p = 0; p < 4; ++p) {
      row.fill(0);
      int length = 0;
      for (int x = 0; x < width; ++x) {
        int colour;
        if (slant && p == 0 && x > 5) {
          const int s = ((x - 120) * 5 / 700 - 2) * 2;
          colour = colourOrWhite(picture, x + s, y + s);
        } else {
          colour = colourOrWhite(picture, x, y);
        }
        if (!isPlaneDot(p, colour, dots)) continue;
        row[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
        length = x / 8 + 1;
      }
      const char code = p < 3 ? 'v' : (endsLayer && y == lastRow ? 'W' : 'w');
      if (length == 0) {
        out += code;
        continue;
      }
      const int n = packBitsRow(packed.data(), row.data(), length);
      if (dots == PatternDots::ExactWithMargin) {
        out += std::to_string(n + 2);
        out += code;
        // 17 blank bytes: the margin before the alignment marks.
        out += char(0xF0);
        out += char(0x00);
      } else {
        out += std::to_string(n);
        out += code;
      }
      out.append(reinterpret_cast<const char*>(packed.data()), std::size_t(n));
    }
  // A layer always ends, also when no row was asked for.
  if (endsLayer && lastRow < firstRow) out += 'W';
}

void pictureToRasterRows(const QImage& picture, int firstRow, int lastRow, std::string& out, bool slant) {
  writePatternLayerHead(out);
  appendPatternRows(picture, firstRow, lastRow, out, slant, PatternDots::Channels, true);
}

// ---- canvas ----

PatternCanvas::PatternCanvas(int width, int height) : picture(newBitmap32(width, height)) {}

void PatternCanvas::clear(int colour) { picture.fill(colourToPixel(colour)); }

void PatternCanvas::stamp(int colour, int x, int y) {
  const int lo = -(penWidth - 1) / 2, hi = penWidth / 2;
  const double r = penWidth / 2.0;
  for (int dy = lo; dy <= hi; ++dy)
    for (int dx = lo; dx <= hi; ++dx) {
      // Wide pens have round ends; a width of up to 3 is a square.
      if (penWidth > 3 && dx * dx + dy * dy > r * r) continue;
      const int px = x + dx, py = y + dy;
      if (px < 0 || py < 0 || px >= picture.width() || py >= picture.height()) continue;
      setPixelAt(picture, px, py, maskMode ? (pixelAt(picture, px, py) & colour) : colour);
    }
}

void PatternCanvas::line(int colour, int x0, int y0, int x1, int y1) {
  // A one-dot pen leaves out the end point, so lines from point to point
  // meet without drawing a dot twice; a wide pen covers both ends.
  const bool withEnd = penWidth > 1;
  const int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (int x = x0, y = y0;;) {
    const bool atEnd = x == x1 && y == y1;
    if (atEnd && !withEnd) break;
    stamp(colour, x, y);
    if (atEnd) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y += sy;
    }
  }
}

void PatternCanvas::polyline(int colour, std::initializer_list<int> points) {
  const int* p = points.begin();
  for (std::size_t i = 0; i + 3 < points.size(); i += 2) line(colour, p[i], p[i + 1], p[i + 2], p[i + 3]);
}

void PatternCanvas::text(int x, int y, const std::string& text) {
  if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
  QPainter painter;
  if (!painter.begin(&picture)) return;
  QFont font;
  font.setPointSize(fontSize);
  font.setStyleStrategy(QFont::NoAntialias);
  painter.setFont(font);
  painter.setPen(QColor::fromRgb(colourToPixel(fontColour)));
  if (maskMode) painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
  painter.drawText(QRect(x, y, picture.width(), picture.height()), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromStdString(text));
  painter.end();
}

void drawAlignCross(PatternCanvas& c, int colour1, int colour2, int x, int y, int s, int o) {
  c.line(colour1, x, y, x + 10 * s, y);
  c.line(colour1, x + 20 * s, y, x + 30 * s, y);
  c.line(colour1, x, y, x, y + 10 * s);
  c.line(colour1, x, y + 20 * s, x, y + 30 * s);
  c.line(colour2, x + 10 * s, y + o, x + 20 * s, y + o);
  c.line(colour2, x + o, y + 10 * s, x + o, y + 20 * s);
}

void drawOffsetDash(PatternCanvas& c, int x, int y, int colour1, int colour2, int along, int o) {
  const int a = along, b = 1 - along;
  if (colour1 != kPatternGrey) colour1 &= 0xF0F0F0;
  if (colour2 != kPatternGrey) colour2 &= 0xF0F0F0;
  c.line(colour1, x, y, x + 20 * a, y + 20 * b);
  c.line(colour1, x + 40 * a, y + 40 * b, x + 60 * a, y + 60 * b);
  c.line(colour2, x + 15 * a + o * b, y + 15 * b + o * a, x + 40 * a + o * b, y + 40 * b + o * a);
}

void fillRows(PatternCanvas& c, int colour, int x0, int y0, int x1, int y1) {
  for (int row = y0; row < y1; ++row) c.line(colour, x0, row, x1, row);
}

int snakeIndex(int v) { return (v & 32) ? (v & ~31) | (31 - v % 32) : v; }

// ---- the pattern menus ----

Patterns::Patterns(HostCore& core, JobState& job, LayerPreview& preview, PatternPrinter& printer)
    : core_(core), job_(job), preview_(preview), printer_(printer) {}

std::string Patterns::patternPath(const std::string& name) const { return checkedFolder(core_.workDir + name); }

bool Patterns::writeJob(const std::string& name, const std::string& bytes) {
  return core_.writeTextFile(patternPath(name), bytes);
}

void Patterns::show(const QImage& picture) {
  picture_ = picture;
  core_.ui.showBitmap(picture_, false);
}

void Patterns::printPattern() {
  job_.patternMode = true;
  job_.dmcCurrent = false;
  if (!printer_.startPatternPrint()) job_.patternMode = false;
}

void Patterns::makeAlignmentPattern() {
  PatternCanvas canvas(600, 64);
  std::string out;
  writePatternLayerHead(out);
  core_.memoPrintf("clAqua=%08X clFuchsia=%08X clYellow=%08X", kPatternCyan, kPatternMagenta, kPatternYellow);
  for (int pass = 0; pass < 2; ++pass) {
    canvas.penWidth = pass == 0 ? 1 : 3;
    canvas.clear(kPatternWhite);
    for (int k = 0; k <= 6; ++k) {
      const int o = k - 3;
      drawAlignCross(canvas, kPatternYellow, kPatternCyan, 80 * k + 5, 5 + pass, 1, o);
      drawAlignCross(canvas, kPatternYellow, kPatternMagenta, 80 * k + 35, 35 + pass, -1, o);
      drawAlignCross(canvas, kPatternCyan, kPatternYellow, 80 * k + 35, 35 + pass, 1, o);
    }
    appendPatternRows(canvas.picture, 0, 63, out, false, PatternDots::ExactWithMargin, pass == 1);
  }
  writeJob("allignpat.p3d", out);
  show(canvas.picture);
}

void Patterns::makeWhiteShiftJob() {
  constexpr int kPages = 44;
  std::string out;
  bool rendered = true;
  for (int page = 0; page < kPages && rendered; ++page) {
    preview_.pageRequest = page;
    rendered = preview_.showLayer();
    if (rendered) pictureToRasterRows(preview_.picture(), 117, 252, out, true);
    core_.ui.showProgress(1 + page * 98 / kPages);
  }
  core_.ui.showProgress(0);
  preview_.pageRequest = -1;
  // Without the job there is nothing to shift: an older file stays.
  if (rendered) writeJob("blok123ww.p3d", out);
}

void Patterns::makeColourAlignment(bool water) {
  PatternCanvas canvas(600, 300);
  canvas.clear(kPatternWhite);
  canvas.penWidth = 11;
  canvas.maskMode = true;
  const int base = water ? kPatternGrey : kPatternCyan;
  for (int k = 0; k <= 6; ++k) {
    const int o = k - 3;
    drawOffsetDash(canvas, 10, 20 * k + 20, base, kPatternYellow, 1, o);
    drawOffsetDash(canvas, 90, 20 * k + 20, base, kPatternMagenta, 1, o);
    drawOffsetDash(canvas, 20 * k + 170, 20, base, kPatternYellow, 0, o);
    drawOffsetDash(canvas, 20 * k + 170, 90, base, kPatternMagenta, 0, o);
  }
  std::string out;
  for (int layer = 0; layer < 3; ++layer) pictureToRasterRows(canvas.picture, 0, 299, out, false);
  writeJob("pattern.p3d", out);
  show(canvas.picture);
}

void Patterns::makeSlantLines() {
  PatternCanvas canvas(600, 386);
  canvas.clear(kPatternWhite);
  canvas.maskMode = true;
  canvas.fontSize = 25;
  canvas.fontColour = kPatternTextColour;
  const int colours[4] = {kPatternGrey, kPatternCyan, kPatternMagenta, kPatternYellow};
  for (int j = 0; j < 4; ++j)
    for (int k = 0; k < 4; ++k) {
      const int top = 64 * j, x = 10 + 65 * k;
      canvas.polyline(colours[k], {x + 5, top + 8, x + 5, top, x + 325, top + 64, x + 325, top + 56});
    }
  std::string out;
  pictureToRasterRows(canvas.picture, 0, canvas.picture.height() - 1, out, false);
  writeJob("pattern.p3d", out);
  show(canvas.picture);
  job_.dmcCurrent = false;
}

void Patterns::makeRibs(int tag) {
  const int step = tag == 8 ? 4 : 2;
  PatternCanvas canvas(600, 386);
  canvas.clear(kPatternWhite);
  canvas.maskMode = true;
  int top = 10;
  if (tag == 4) {
    fillRows(canvas, kPatternCyan, 10, 2, 590, 66);
    fillRows(canvas, kPatternMagenta, 10, 66, 590, 130);
    fillRows(canvas, kPatternYellow, 10, 130, 590, 194);
    fillRows(canvas, kPatternGrey, 10, 194, 590, 258);
    top = 268;
  }
  const int d = (12 - waterLineWidth_) / 2;
  canvas.fontSize = 25;
  canvas.fontColour = kPatternTextColour;
  for (int i = 0; i <= 4; ++i) {
    const int x = 10 + 100 * i, shift = (i - 2) * step;
    fillRows(canvas, kPatternGrey, x + 5, top + d, x + 35, top + 12 - d);
    fillRows(canvas, kPatternGrey, x + 65, top + d, x + 95, top + 12 - d);
    fillRows(canvas, kPatternGrey, x + 5 + d, top + 12, x + 17 - d, top + 42);
    fillRows(canvas, kPatternGrey, x + 5 + d, top + 72, x + 17 - d, top + 102);
    fillRows(canvas, kPatternMagenta, x + 35, top + shift, x + 65, top + shift + 12);
    fillRows(canvas, kPatternMagenta, x + 5 + shift, top + 42, x + 17 + shift, top + 72);
    canvas.text(x + 30, top + 40, std::to_string(shift));
  }
  const int columns[4] = {kPatternGrey, kPatternCyan, kPatternMagenta, kPatternYellow};
  for (int k = 0; k < 4; ++k) fillRows(canvas, columns[k], 510 + 15 * k, 64, 525 + 15 * k, 128);

  const Settings& s = core_.s;
  core_.logVars("kcmyoff[9]", s.kcmyoff[9], "behindmargin", s.behindmargin);
  const int targetw =
      int(mmToDots(s.yvHi - s.yvLow) - 716 - 20 + 426 - s.kcmyoff[9] + 2 - s.behindmargin);
  core_.logVars("kcmyoff[9]", s.kcmyoff[9], "behindmargin", s.behindmargin, "targetw", targetw);
  QImage picture = canvas.picture;
  if (targetw < 1) {
    core_.memoPrintf("ribs: no room for the pattern between yvLow and yvHi (targetw=%d): nothing written", targetw);
    show(picture);
    return;
  }
  if (picture.width() > targetw) picture = picture.copy(0, 0, targetw, picture.height());
  std::string out;
  pictureToRasterRows(picture, 0, picture.height() - 1, out, false);
  writeJob("pattern.p3d", out);
  show(picture);
  job_.dmcCurrent = false;
}

void Patterns::makeColourTable() {
  QImage picture = newBitmap32(128, 256);
  for (int i = 0; i < 32; ++i)
    for (int j = 0; j < 32; ++j)
      for (int k = 0; k < 32; ++k)
        setPixelAt(picture, snakeIndex(32 * (i % 4) + k), snakeIndex(32 * (i / 4) + j), 8 * k | 8 * i << 8 | 8 * j << 16);
  QByteArray bmp;
  QBuffer buffer(&bmp);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "BMP"))
    core_.ui.showMessage("unable to write to file: " + patternPath("all32kcolors.bmp"));
  else
    writeJob("all32kcolors.bmp", bmp.toStdString());
  show(picture);
}

void Patterns::askWaterLineWidth() {
  const int v = core_.evalIntExpr(core_.askText("input", "waterLineWidth", std::to_string(waterLineWidth_)));
  // The ribs are 12 dots apart: a wider line would fill the gaps.
  if (v < 1 || v > 12) {
    core_.memoPrintf("waterLineWidth %d refused: it takes 1 to 12 dots, it stays %d", v, waterLineWidth_);
    return;
  }
  waterLineWidth_ = v;
}

}  // namespace ph
