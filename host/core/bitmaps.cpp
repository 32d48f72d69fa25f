#include "host/core/bitmaps.h"

#include <QFile>
#include <QPainter>
#include <QPolygon>

#include "host/core/jpeg_io.h"
#include "host/core/paths.h"

namespace ph {

QImage newBitmap32(int width, int height) {
  if (width <= 0 || height <= 0) return {};
  QImage img(width, height, QImage::Format_RGB32);
  // A failed allocation gives a null image; fill() leaves that alone.
  img.fill(colourToPixel(0xFFFFFF));
  return img;
}

int pixelAt(const QImage& bitmap, int x, int y) {
  if (x < 0 || y < 0 || x >= bitmap.width() || y >= bitmap.height()) return 0;
  return pixelToColour(bitmap.pixel(x, y));
}

void setPixelAt(QImage& bitmap, int x, int y, int colour) {
  if (x < 0 || y < 0 || x >= bitmap.width() || y >= bitmap.height()) return;
  // setPixel takes a palette index on 8-bit formats; colours need 32 bits.
  if (bitmap.depth() != 32) bitmap.convertTo(QImage::Format_RGB32);
  bitmap.setPixel(x, y, colourToPixel(colour));
}

bool loadPicture(QImage& bitmap, const std::string& name) {
  QImage img;
  const std::string ext = fileExt(name);
  if (ext == "jpg" || ext == "jpeg") {
    if (!readJpegFile(nativePath(name), img)) return false;
  } else {
    if (!img.load(QFile::decodeName(QByteArray::fromStdString(nativePath(name))))) return false;
    if (img.format() != QImage::Format_RGB32) img.convertTo(QImage::Format_RGB32);
    if (img.isNull()) return false;
  }
  bitmap = std::move(img);
  return true;
}

bool saveJpeg(const QImage& bitmap, const std::string& name) { return writeJpegFile(bitmap, nativePath(name)); }

namespace {

// Draws with a one-pixel pen of the colour; the painter ends with the call,
// so the canvas keeps no pen or other state from it.
template <typename Draw>
void paintLines(QImage& canvas, int colour, Draw draw) {
  QPainter painter;
  if (!painter.begin(&canvas)) return;
  painter.setPen(QPen(QColor::fromRgb(colourToPixel(colour)), 1));
  draw(painter);
  painter.end();
}

// An x below this ends a coordinate list.
constexpr int kLowestX = -97;

}  // namespace

void drawSegments(QImage& canvas, int colour, std::span<const int> coords) {
  QList<QLine> lines;
  for (std::size_t i = 0; i + 3 < coords.size() && coords[i] >= kLowestX; i += 4)
    lines.append(QLine(coords[i], coords[i + 1], coords[i + 2], coords[i + 3]));
  if (lines.isEmpty()) return;
  paintLines(canvas, colour, [&](QPainter& p) { p.drawLines(lines); });
}

void drawPolyline(QImage& canvas, int colour, std::span<const int> coords) {
  QPolygon points;
  for (std::size_t i = 0; i + 1 < coords.size() && coords[i] >= kLowestX; i += 2)
    points.append(QPoint(coords[i], coords[i + 1]));
  if (points.size() < 2) return;
  paintLines(canvas, colour, [&](QPainter& p) { p.drawPolyline(points); });
}

}  // namespace ph
