#include "host/mesh/mesh_pictures.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>

#include "host/core/host_core.h"
#include "host/core/jpeg_io.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"

namespace ph {

namespace {

QString qtPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(nativePath(path))); }

// Decoded through QImage; the format by the extension, else by content.
QImage decodeWithQt(const std::string& file) {
  const std::string ext = extensionOf(file);
  QByteArray format;
  if (ext == "tga" || ext == "targa") format = "tga";
  else if (ext == "tif" || ext == "tiff") format = "tiff";
  else if (ext == "png" || ext == "gif" || ext == "bmp") format = QByteArray::fromStdString(ext);
  QImageReader reader(qtPath(file), format);
  QImage img = reader.read();
  if (img.isNull() && !format.isEmpty()) {
    QImageReader byContent(qtPath(file));
    img = byContent.read();
  }
  return img;
}

// Transparent parts come out white, as on paper.
QImage onWhite(const QImage& img) {
  QImage out(img.size(), QImage::Format_RGB32);
  if (out.isNull()) return out;
  out.fill(Qt::white);
  QPainter p(&out);
  p.drawImage(0, 0, img);
  p.end();
  return out;
}

}  // namespace

bool loadTexture(QImage& bitmap, const std::string& file) {
  QImage img;
  const std::string ext = extensionOf(file);
  if (ext == "jpg" || ext == "jpeg") {
    if (!readJpegFile(nativePath(file), img)) return false;
  } else {
    img = decodeWithQt(file);
    if (img.isNull()) return false;
    if (img.hasAlphaChannel()) img = onWhite(img);
    else if (img.format() != QImage::Format_RGB32) img.convertTo(QImage::Format_RGB32);
  }
  if (img.isNull() || img.width() <= 0 || img.height() <= 0) return false;
  bitmap = std::move(img);
  return true;
}

bool loadImageConverted(HostCore& core, QImage& bitmap, const std::string& file) {
  if (!fileExists(file)) {
    core.ui.showMessage(plat::format("no file %s", file));
    return false;
  }
  if (const std::string why = regularFileProblem(file); !why.empty()) {
    core.ui.showMessage(plat::format("can not convert %s (%s)", file, why));
    return false;
  }
  if (!loadTexture(bitmap, file)) {
    core.ui.showMessage("can not convert " + file);
    return false;
  }
  return true;
}

}  // namespace ph
