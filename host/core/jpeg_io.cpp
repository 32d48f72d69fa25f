#include "host/core/jpeg_io.h"

#include "platform/atomic_file.h"

#include <sys/stat.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>

#include <jpeglib.h>
// jerror.h after jpeglib.h: it names the message codes.
#include <jerror.h>

namespace ph {

namespace {

// Pictures above this many pixels (1 GiB as RGB32) are refused rather than
// allocated: a damaged header can claim up to 65500 x 65500.
constexpr std::int64_t kMaxPixels = std::int64_t(1) << 28;

// libjpeg's default error handler exits the program; this one jumps back to
// the call that armed `jump`.
struct ErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};

[[noreturn]] void errorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  // At the end of the data libjpeg only warns and pads the picture with
  // grey; a cut-off file must not pass for a whole one.
  if (cinfo->err->msg_code == JWRN_JPEG_EOF) errorExit(cinfo);
  // Other warnings (stray bytes between markers) leave a usable picture.
  ++cinfo->err->num_warnings;
}

void outputMessage(j_common_ptr) {}

void installErrors(ErrorMgr& err) {
  jpeg_std_error(&err.pub);
  err.pub.error_exit = errorExit;
  err.pub.emit_message = emitMessage;
  err.pub.output_message = outputMessage;
}

// Converts one decoded row to RGB32. CMYK with an Adobe marker is stored
// inverted (0 = full ink), as Adobe's programs write it.
void rowToPixels(const JSAMPLE* src, QRgb* dst, int width, J_COLOR_SPACE space, bool adobe) {
  for (int x = 0; x < width; ++x) {
    switch (space) {
      case JCS_GRAYSCALE:
        dst[x] = qRgb(src[x], src[x], src[x]);
        break;
      case JCS_RGB:
        dst[x] = qRgb(src[3 * x], src[3 * x + 1], src[3 * x + 2]);
        break;
      default: {  // JCS_CMYK
        const JSAMPLE* p = src + 4 * x;
        int c = p[0], m = p[1], y = p[2], k = p[3];
        if (!adobe) c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        dst[x] = qRgb(c * k / 255, m * k / 255, y * k / 255);
        break;
      }
    }
  }
}

// setjmp is armed here, so nothing in this function owns an object with a
// destructor while libjpeg runs: a jump out of libjpeg skips no cleanup. The
// caller destroys `cinfo` and closes the file.
bool decode(jpeg_decompress_struct& cinfo, ErrorMgr& err, std::FILE* file, QImage& img) {
  if (setjmp(err.jump)) return false;
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  int components = 0;
  switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE: cinfo.out_color_space = JCS_GRAYSCALE; components = 1; break;
    case JCS_YCbCr:
    case JCS_RGB: cinfo.out_color_space = JCS_RGB; components = 3; break;
    case JCS_CMYK:
    case JCS_YCCK: cinfo.out_color_space = JCS_CMYK; components = 4; break;
    default: return false;
  }
  jpeg_start_decompress(&cinfo);
  const int width = static_cast<int>(cinfo.output_width);
  const int height = static_cast<int>(cinfo.output_height);
  if (cinfo.output_components != components || std::int64_t(width) * height > kMaxPixels) return false;
  img = QImage(width, height, QImage::Format_RGB32);
  if (img.isNull()) return false;
  // Pool memory: freed with cinfo, also after a jump.
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              static_cast<JDIMENSION>(width * components), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    const int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) return false;
    rowToPixels(row[0], reinterpret_cast<QRgb*>(img.scanLine(y)), width, cinfo.out_color_space,
                cinfo.saw_Adobe_marker);
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

// Same setjmp rule as decode().
bool encode(jpeg_compress_struct& cinfo, ErrorMgr& err, std::FILE* file, const QImage& rgb) {
  if (setjmp(err.jump)) return false;
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
  cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.image_width * 3, 1);
  while (cinfo.next_scanline < cinfo.image_height) {
    const auto* src = reinterpret_cast<const QRgb*>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
    JSAMPLE* dst = row[0];
    for (int x = 0; x < rgb.width(); ++x) {
      dst[3 * x] = static_cast<JSAMPLE>(qRed(src[x]));
      dst[3 * x + 1] = static_cast<JSAMPLE>(qGreen(src[x]));
      dst[3 * x + 2] = static_cast<JSAMPLE>(qBlue(src[x]));
    }
    jpeg_write_scanlines(&cinfo, row, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

}  // namespace

bool readJpegFile(const std::string& name, QImage& out) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return false;
  jpeg_decompress_struct cinfo{};
  ErrorMgr err;
  installErrors(err);
  cinfo.err = &err.pub;
  QImage img;
  const bool ok = decode(cinfo, err, file, img);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  if (!ok) return false;
  out = std::move(img);
  return true;
}

bool writeJpegFile(const QImage& picture, const std::string& name) {
  if (picture.isNull()) return false;
  // Shares the pixels when the picture already is RGB32.
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB32);
  if (rgb.isNull()) return false;
  // A cut-off JPEG would later pass for a picture: the file is replaced
  // whole or not at all.
  plat::AtomicFile file;
  std::string why;
  if (!file.open(name, why)) return false;
  jpeg_compress_struct cinfo{};
  ErrorMgr err;
  installErrors(err);
  cinfo.err = &err.pub;
  const bool ok = encode(cinfo, err, file.stream(), rgb);
  jpeg_destroy_compress(&cinfo);
  return ok && file.commit(why);
}

}  // namespace ph
