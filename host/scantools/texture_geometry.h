#pragma once
// What the texture tools share: a point of a triangle as two parameters and
// back, the stable sorting of the model's faces, the OBJ rewrite with one
// texture coordinate per vertex, the MTL of one texture, and pictures saved
// under a temporary name.
#include <QImage>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/mesh/obj_model.h"
#include "host/mesh/vect3.h"

namespace ph {

class HostCore;

// The text before the first separator (the whole text without one).
std::string textBefore(const std::string& text, char sep);

// (y, -x, z): turned by a right angle about z; x passes through single
// precision on the way.
vect3 perpXY(vect3 v);

struct UvPoint {
  float u = 0.0f, v = 0.0f;
};
// The parameters (s, t) of point p in triangle a, b, c: t places q on the
// edge b to c, s places p on the segment from a to q. False when they cannot
// be formed (p on a, or the line from a never meets the edge's line).
bool texPointParams(const UvPoint tri[3], float x, float y, float& s, float& t);
// The point with parameters (s, t), each coordinate in single precision.
inline UvPoint triParamPoint(const UvPoint tri[3], float s, float t) {
  const float qu = tri[1].u + (tri[2].u - tri[1].u) * t;
  const float qv = tri[1].v + (tri[2].v - tri[1].v) * t;
  return {tri[0].u + (qu - tri[0].u) * s, tri[0].v + (qv - tri[0].v) * s};
}

// texPointParams for the many pixels of one triangle: what depends only on
// the triangle is worked out once and the rest is inline. The same
// operations in the same order, so the results are those of
// texPointParams bit for bit (a property test compares the two).
class TrianglePointParams {
 public:
  explicit TrianglePointParams(const UvPoint tri[3])
      : a_{tri[0].u, tri[0].v, 0.0}, b_{tri[1].u, tri[1].v, 0.0}, c_{tri[2].u, tri[2].v, 0.0} {
    m_ = norm(perpXY(c_ - b_));
    mc_ = float(vect3Dot(m_, c_));
    ma_ = vect3Dot(m_, a_);
    const float cb = float(len(c_ - b_));
    cbLen_ = cb == 0.0f ? 1e-8f : cb;
  }
  bool operator()(float x, float y, float& s, float& t) const {
    const vect3 pa = vect3{x, y, 0.0} - a_;
    const double paLen = len(pa);
    const vect3 d = paLen <= 1e-6 ? pa : vect3{pa.x / paLen, pa.y / paLen, pa.z / paLen};
    const double nd = vect3Dot(m_, d);
    if (nd == 0.0) return false;
    const float k = float((double(mc_) - ma_) / nd);
    const vect3 h = a_ + norm(d) * double(k);
    const float ha = float(len(h - a_));
    s = float(paLen / double(ha == 0.0f ? 1e-8f : ha));
    t = float(len(h - b_) / double(cbLen_));
    return true;
  }

 private:
  static double len(vect3 v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }
  static vect3 norm(vect3 v) {
    const double l = len(v);
    if (l <= 1e-6) return v;
    return {v.x / l, v.y / l, v.z / l};
  }
  vect3 a_, b_, c_, m_;
  float mc_ = 0.0f, cbLen_ = 1.0f;
  double ma_ = 0.0;
};

// The pixel of a picture with texelAt's wrapping, for many reads of one
// picture (RGB32).
class TexelReader {
 public:
  explicit TexelReader(const QImage& img)
      : bits_(reinterpret_cast<const QRgb*>(img.constBits())), w_(img.width()), h_(img.height()),
        stride_(img.bytesPerLine() / 4) {}
  QRgb at(std::int64_t x, std::int64_t y) const {
    x %= w_;
    if (x < 0) x += w_;
    y %= h_;
    if (y < 0) y += h_;
    return bits_[y * stride_ + x] | 0xFF000000u;
  }

 private:
  const QRgb* bits_;
  std::int64_t w_, h_, stride_;
};

// True when the first position of a lies higher (z) than that of b.
bool faceZGreater(const objFace& a, const objFace& b);

// The faces' indices in the order of the model's face list: newest first.
std::vector<std::int32_t> faceListOrder(const ObjModel& model);
// Sorts face indices so that greater(prev, next) is false for every
// neighbouring pair; equal faces keep their order. greater must be strict.
void sortFaceList(std::vector<std::int32_t>& order, const std::vector<objFace>& faces,
                  const std::function<bool(const objFace&, const objFace&)>& greater);
// The same order from a key per face: ascending keys when greater(a, b) is
// key(a) > key(b), descending when it is key(a) < key(b). The key is taken
// once per face, so a million faces sort in a fraction of a second.
void sortFaceListByKey(std::vector<std::int32_t>& order, const std::vector<double>& keys, bool ascending);

// A truncated picture coordinate that is safe to index with (NaN gives 0,
// far values are clamped).
std::int64_t truncCoord(float v);

// The rewrite of an OBJ for a planar texture: the header, every "v " line
// followed by "vt" with u = (x - minx) / span, v = (y - miny) / span, every
// "f " line with vertex numbers only, each corner "i/i"; other lines left
// out. Written under a temporary name; false (told with the file and line)
// when a number does not read or the file cannot be written. Without
// objLines (an STL input) only the header is written.
bool rewritePlanarObj(HostCore& core, const std::string& input, const std::string& output, const std::string& base,
                      double minx, double miny, double span, bool objLines = true);
// The MTL of one texture picture base.ext.
bool writeTextureMtl(HostCore& core, const std::string& path, const std::string& base, const std::string& ext);
// Saves as JPEG (or BMP) under a temporary name and moves it into place;
// false (told) when it could not be written.
bool savePictureFile(HostCore& core, const QImage& picture, const std::string& path, bool bmp = false);
// Grows painted areas by one pixel into unpainted (white) ones; neighbours
// wrap to the opposite edge. progress gets 50..100 every twentieth column.
void bleedUnpainted(QImage& bitmap, const std::function<void(int percent)>& progress = {});
// True (told) when one of the outputs names one of the inputs: writing it
// would destroy what is about to be read.
bool outputNamesInput(HostCore& core, const std::vector<std::string>& outputs, const std::vector<std::string>& inputs);

}  // namespace ph
