#pragma once
// Pictures and drawing. A picture is a QImage in Format_RGB32; a colour
// value is red | green << 8 | blue << 16, the layout every host tool stores
// and compares. The two inline functions below are the only place that
// translates between the two.
#include <QImage>
#include <QRgb>

#include <initializer_list>
#include <span>
#include <string>

namespace ph {

// Colour value -> QImage pixel (opaque; bits above blue are ignored).
inline QRgb colourToPixel(int colour) {
  const auto c = static_cast<unsigned>(colour);
  return 0xFF000000u | (c & 0xFFu) << 16 | (c & 0xFF00u) | (c >> 16 & 0xFFu);
}

// QImage pixel -> colour value (alpha dropped).
inline int pixelToColour(QRgb p) {
  return static_cast<int>((p >> 16 & 0xFFu) | (p & 0xFF00u) | (p & 0xFFu) << 16);
}

// A width x height RGB32 picture, all white (the texture tools read white
// as unpainted). A null picture when a size is not positive or too large.
QImage newBitmap32(int width, int height);

// The colour value at (x, y); 0 outside the picture.
int pixelAt(const QImage& bitmap, int x, int y);
inline int pixelAt2(const QImage& bitmap, int x, int y) { return pixelAt(bitmap, x, y); }
// Writes the colour value at (x, y); does nothing outside the picture.
void setPixelAt(QImage& bitmap, int x, int y, int colour);

// Loads a picture: ".jpg"/".jpeg" through libjpeg, anything else (BMP)
// through QImage. The result is RGB32. On failure the bitmap is left as it
// was and false is returned.
bool loadPicture(QImage& bitmap, const std::string& name);

// Writes the picture as a JPEG at libjpeg's default quality; false when the
// file cannot be written (the file is then left as it was).
bool saveJpeg(const QImage& bitmap, const std::string& name);
inline bool saveJpeg2(const QImage& bitmap, const std::string& name) { return saveJpeg(bitmap, name); }
inline bool saveJpeg3(const QImage& bitmap, const std::string& name) { return saveJpeg(bitmap, name); }

// Coordinate lists end at the first x below -97 where a new segment or point
// would start, or where the list runs out.

// Separate segments (x0,y0)-(x1,y1), (x2,y2)-(x3,y3), ... in the colour.
void drawSegments(QImage& canvas, int colour, std::span<const int> coords);
inline void drawSegments(QImage& canvas, int colour, std::initializer_list<int> coords) {
  drawSegments(canvas, colour, std::span<const int>(coords.begin(), coords.size()));
}
// Lines from the first point through the rest, in the colour.
void drawPolyline(QImage& canvas, int colour, std::span<const int> coords);
inline void drawPolyline(QImage& canvas, int colour, std::initializer_list<int> coords) {
  drawPolyline(canvas, colour, std::span<const int>(coords.begin(), coords.size()));
}

}  // namespace ph
