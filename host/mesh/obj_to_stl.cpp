#include "host/mesh/obj_to_stl.h"

#include <cmath>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "platform/atomic_file.h"
#include "platform/regular_file.h"

namespace ph {

namespace {

constexpr std::int32_t kCoordLimit = 1 << 28;

int red(MeshColour c) { return c & 0xFF; }
int green(MeshColour c) { return c >> 8 & 0xFF; }
int blue(MeshColour c) { return c >> 16 & 0xFF; }
int channel(MeshColour c, int i) { return c >> (8 * i) & 0xFF; }

}  // namespace

std::uint16_t colorTo15(MeshColour colour, int contrast) {
  int ch[3] = {red(colour), green(colour), blue(colour)};
  if (contrast != 100) {
    for (int& c : ch) {
      double v = (c - 128) * double(contrast) * 0.01 + 128.0;
      v = v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
      c = int(v);
    }
  }
  return static_cast<std::uint16_t>(0x8000 | (ch[0] >> 3) << 10 | (ch[1] >> 3) << 5 | ch[2] >> 3);
}

MeshColour colorFrom15(std::uint16_t code) {
  return (code >> 10 & 31) << 3 | (code >> 5 & 31) << 11 | (code & 31) << 19;
}

int colorDist2(MeshColour a, MeshColour b) {
  int sum = 0;
  for (int i = 0; i < 3; ++i) {
    const int d = channel(a, i) - channel(b, i);
    sum += d * d;
  }
  return sum;
}

float facearea(const objFace& face) {
  const float a = float(vect3Distance(face.positions[0], face.positions[1]));
  const float b = float(vect3Distance(face.positions[1], face.positions[2]));
  const float c = float(vect3Distance(face.positions[2], face.positions[0]));
  const float s = (a + b + c) / 2.0f;
  const float p = s * (s - a) * (s - b) * (s - c);
  return p > 0.0f ? std::sqrt(p) : 0.0f;
}

MeshColour texelAt(const QImage& bitmap, std::int64_t x, std::int64_t y) {
  const std::int64_t w = bitmap.width(), h = bitmap.height();
  if (bitmap.isNull() || w <= 0 || h <= 0) return 32768;
  x %= w;
  if (x < 0) x += w;
  y %= h;
  if (y < 0) y += h;
  const auto* row = reinterpret_cast<const QRgb*>(bitmap.constScanLine(int(y)));
  const QRgb p = row[x];
  return MeshColour(qRed(p) | qGreen(p) << 8 | qBlue(p) << 16);
}

MeshColour texelTinted(const QImage& bitmap, std::int64_t x, std::int64_t y, MeshColour Kd, bool hasVertexColors) {
  const MeshColour c = texelAt(bitmap, x, y);
  if (Kd == 0xFFFFFF || Kd == 0 || hasVertexColors) return c;
  int out = 0;
  for (int i = 0; i < 3; ++i) out |= (channel(c, i) * channel(Kd, i) / 255) << (8 * i);
  return out;
}

// ---- pixel triangle ----

std::int32_t PixelTriangle::pixelCoord(float v) {
  if (!(v > -float(kCoordLimit))) return -kCoordLimit;  // NaN too
  if (v > float(kCoordLimit)) return kCoordLimit;
  return std::int32_t(v);
}

std::int32_t PixelTriangle::triEdgeY(std::int32_t x, int i, int j) const {
  const PixelPoint a = p[i], b = p[j];
  if (b.x == a.x) return b.y;
  return std::int32_t(std::int64_t(x - a.x) * (b.y - a.y) / (b.x - a.x) + a.y);
}

std::int32_t PixelTriangle::triSetup() {
  int first = 0;
  for (int i = 1; i < 3; ++i)
    if (p[i].x < p[first].x) first = i;
  if (first != 0) triSwap(0, first);
  if (std::int64_t(p[1].x - p[0].x) * (p[2].y - p[0].y) > std::int64_t(p[2].x - p[0].x) * (p[1].y - p[0].y))
    triSwap(1, 2);
  return std::max(p[0].x, std::max(p[1].x, p[2].x));
}

std::int32_t PixelTriangle::triColumnStart(std::int32_t x) const {
  return x <= p[2].x ? triEdgeY(x, 0, 2) : triEdgeY(x, 2, 1);
}

std::int32_t PixelTriangle::triColumnEnd(std::int32_t x) const {
  return x <= p[1].x ? triEdgeY(x, 0, 1) : triEdgeY(x, 1, 2);
}

std::int64_t PixelTriangle::triPixelArea() const {
  std::int64_t sum = 0;
  for (int i = 0; i < 3; ++i) {
    const PixelPoint a = p[i], b = p[(i + 1) % 3];
    sum += (std::int64_t(a.x) + b.x) * (std::int64_t(a.y) - b.y);
  }
  return sum / 2;
}

bool PixelTriangleQueue::triPop(PixelTriangle& t) {
  if (q_.empty()) return false;
  t = q_.front();
  q_.pop_front();
  return true;
}

void PixelTriangleQueue::triSplitLongest(const PixelTriangle& t) {
  int k = 0;
  std::int64_t best = -1;
  for (int i = 0; i < 3; ++i) {
    const PixelPoint a = t.p[i], b = t.p[(i + 1) % 3];
    const std::int64_t dx = std::int64_t(b.x) - a.x, dy = std::int64_t(b.y) - a.y;
    if (dx * dx + dy * dy > best) {
      best = dx * dx + dy * dy;
      k = i;
    }
  }
  const PixelPoint a = t.p[k], b = t.p[(k + 1) % 3];
  const PixelPoint m{std::int32_t((std::int64_t(a.x) + b.x) / 2), std::int32_t((std::int64_t(a.y) + b.y) / 2)};
  PixelTriangle first = t, second = t;
  first.p[k] = m;
  second.p[(k + 1) % 3] = m;
  triPush(first);
  triPush(second);
}

// ---- faces ----

bool ObjStlWriter::faceQueuePop(objFace& face) {
  if (faceQueue_.empty()) return false;
  face = faceQueue_.front();
  faceQueue_.pop_front();
  return true;
}

void ObjStlWriter::splitFace(const objFace& face) {
  int k = 0;
  float best = -1.0f;
  for (int i = 0; i < 3; ++i) {
    const float len = float(vect3Distance(face.positions[i], face.positions[(i + 1) % 3]));
    if (len > best) {
      best = len;
      k = i;
    }
  }
  const int k1 = (k + 1) % 3;
  const vect3 mid = (face.positions[k] + face.positions[k1]) * 0.5;
  const TexCoord midUv{(face.uv[k].u + face.uv[k1].u) / 2.0f, (face.uv[k].v + face.uv[k1].v) / 2.0f};
  objFace first = face, second = face;
  first.area = second.area = face.area / 2.0f;
  first.positions[k] = mid;
  first.uv[k] = midUv;
  second.positions[k1] = mid;
  second.uv[k1] = midUv;
  faceQueuePush(first);
  faceQueuePush(second);
}

bool ObjStlWriter::scanFaceTexels(MeshColour& average, std::int32_t& largestX, const objMaterial& material,
                                  PixelTriangle& t) {
  const bool vertexColours = st_.model.hasVertexColors;
  average = 0;
  largestX = t.triSetup();
  const bool big = t.triPixelArea() > par_.mintexturearea;
  // The early stop only decides a split; without subdivision every texel
  // counts towards the face's average.
  const bool mayStop = big && !par_.noSubdivision && texelBudget_ != 0;
  bool first = true, stoppedEarly = false;
  MeshColour lo[3] = {}, hi[3] = {};
  std::int64_t sum[3] = {0, 0, 0};
  int summed = 0;
  // Once a split can no longer be wanted, only the samples of the average
  // matter; a face's texel budget ends its scans early.
  bool done = false;
  // A face may scan millions of texels: a termination request is looked
  // for every so many.
  constexpr std::uint32_t kStopCheck = 1 << 16;
  std::uint32_t sinceCheck = 0;
  for (std::int32_t x = t.p[0].x; x <= largestX && !stoppedEarly && !done; ++x) {
    const std::int32_t end = t.triColumnEnd(x);
    for (std::int32_t y = t.triColumnStart(x); y <= end; ++y) {
      if (++sinceCheck == kStopCheck) {
        sinceCheck = 0;
        if (st_.stopRequested()) {
          done = true;
          break;
        }
      }
      if (texelBudget_ > 0 && --texelBudget_ == 0 && mayStop) {
        done = true;
        break;
      }
      if (!mayStop && summed >= 1000) {
        done = true;
        break;
      }
      const MeshColour c =
          texelTinted(material.texture, std::int64_t(x) + material.offsetX, std::int64_t(y) + material.offsetY,
                      material.Kd, vertexColours);
      if (first) {
        first = false;
        average = c;
        for (int i = 0; i < 3; ++i) lo[i] = hi[i] = c;
        continue;
      }
      if (summed < 1000) {
        for (int i = 0; i < 3; ++i) sum[i] += channel(c, i);
        ++summed;
      }
      for (int i = 0; i < 3; ++i) {
        if (channel(c, i) < channel(lo[i], i)) lo[i] = c;
        if (channel(c, i) > channel(hi[i], i)) hi[i] = c;
      }
      if (mayStop) {
        for (int i = 0; i < 3 && !stoppedEarly; ++i)
          stoppedEarly = colorDist2(c, lo[i]) > par_.colmaxdist || colorDist2(c, hi[i]) > par_.colmaxdist;
        if (stoppedEarly) break;
      }
    }
  }
  if (summed > 0) {
    average = 0;
    for (int i = 0; i < 3; ++i) average |= int(sum[i] / summed & 0xFF) << (8 * i);
  } else {
    average = texelTinted(material.texture, std::int64_t(t.p[0].x) + material.offsetX,
                          std::int64_t(t.triColumnStart(t.p[0].x)) + material.offsetY, material.Kd, vertexColours);
  }
  return stoppedEarly;
}

void ObjStlWriter::writeFaceFacet(const objFace& face, const objMaterial& material, std::FILE* out) {
  if (st_.facetsWritten >= st_.model.faceLimit) {
    tooManyFacets_ = true;
    return;
  }
  std::uint16_t attribute =
      (noColour && noColour()) || material.noColour ? 0 : colorTo15(material.Kd, st_.contrast);
  if (st_.core.s.allowglasscode && material.dissolve < 0.8f) attribute = glasscode;
  stlFacet f;
  for (int k = 0; k < 3; ++k) vect3ToFloats(f.corner[k], face.positions[k]);
  vect3ToFloats(f.normal, facetNormalOf(face.positions[0], face.positions[1], face.positions[2]));
  f.attribute = attribute;
  unsigned char bytes[kStlFacetSize];
  stlFacetToBytes(f, bytes);
  if (std::fwrite(bytes, 1, sizeof bytes, out) != sizeof bytes) writeFailed_ = true;
  ++st_.facetsWritten;
  if (st_.facetsWritten % 25000 == 0) {
    st_.meshProgress();
    st_.core.ui.processEvents();
  }
}

void ObjStlWriter::writeTextured(objFace& face, std::FILE* out) {
  ObjModel& m = st_.model;
  const objMaterial& material = m.materialOf(face);
  if (st_.saveTextures) bakeLighting(face);
  face.area = facearea(face);
  faceQueuePush(face);
  const float w = float(material.texture.width()), h = float(material.texture.height());
  // Pieces are written through a plain material of their average colour, so
  // they are never transparent.
  objMaterial piecesMaterial;
  objFace piece;
  // A face is split and scanned in proportion to its picture: a face whose
  // coordinates wrap the picture many times samples it, not each repeat.
  const std::int64_t texels = std::int64_t(material.texture.width()) * material.texture.height();
  texelBudget_ = 64 * texels + (1 << 20);
  std::int64_t splitsLeft = 2 * texels / std::max(par_.mintexturearea, 1) + 16;
  while (!st_.stopRequested() && !tooManyFacets_ && faceQueuePop(piece)) {
    if (splitsLeft == 0) texelBudget_ = 0;
    PixelTriangle t;
    for (int k = 0; k < 3; ++k)
      t.p[k] = {PixelTriangle::pixelCoord(w * piece.uv[k].u), PixelTriangle::pixelCoord((1.0f - piece.uv[k].v) * h)};
    MeshColour average = 0;
    std::int32_t largestX = 0;
    if (scanFaceTexels(average, largestX, material, t) && piece.area > par_.minfacearea) {
      --splitsLeft;
      piece.area = facearea(piece);
      splitFace(piece);
      continue;
    }
    piecesMaterial.Kd = average;
    writeFaceFacet(piece, piecesMaterial, out);
    if (st_.facetsWritten % 2000 == 0) st_.core.memoPrintf("triangles:%d", st_.facetsWritten);
  }
  faceQueue_.clear();
  texelBudget_ = -1;
}

bool ObjStlWriter::objToStl(const std::string& fileName) {
  HostCore& core = st_.core;
  // The STL replaces an older one only when whole: a failed, stopped or
  // refused model leaves the older file as it was.
  plat::AtomicFile out;
  std::string why;
  if (!out.open(nativePath(expandCurrentDir(fileName)), why)) {
    // Told as openFile tells a file it cannot make.
    core.ui.showMessage("unable to write to file: " +
                        (why == plat::kNotRegularFile ? fileName + " (" + why + ")" : fileName));
    return false;
  }
  std::setvbuf(out.stream(), nullptr, _IOFBF, 1 << 20);
  unsigned char head[kStlHeadSize] = {};
  const char title[] = "STL generated by prismhost";
  std::memcpy(head, title, sizeof title - 1);
  writeFailed_ = !out.append(head, sizeof head);
  st_.facetsWritten = 0;
  st_.meshAbort = false;
  tooManyFacets_ = false;
  ObjModel& m = st_.model;
  for (auto it = m.faces.rbegin(); it != m.faces.rend() && !st_.stopRequested() && !writeFailed_ && !tooManyFacets_;
       ++it) {
    objFace& face = *it;
    const objMaterial& material = m.materialOf(face);
    if (!material.hasTexture() || st_.options.ignoreTexture) {
      if (m.hasVertexColors) {
        // The face's own colour in place of its material's.
        objMaterial coloured;
        coloured.Kd = face.colour;
        coloured.noColour = face.colour == kNoColour;
        coloured.dissolve = material.dissolve;
        writeFaceFacet(face, coloured, out.stream());
      } else {
        writeFaceFacet(face, material, out.stream());
      }
      continue;
    }
    writeTextured(face, out.stream());
  }
  unsigned char count[4];
  for (int i = 0; i < 4; ++i) count[i] = static_cast<unsigned char>(std::uint32_t(st_.facetsWritten) >> (8 * i));
  if (std::fseek(out.stream(), 80, SEEK_SET) != 0 || !out.append(count, 4)) writeFailed_ = true;
  if (writeFailed_ || st_.meshAbort || tooManyFacets_) out.discard();
  else if (!out.commit(why)) writeFailed_ = true;
  if (writeFailed_) core.memoPrintf("unable to write to file: %s", fileName);
  if (tooManyFacets_)
    core.memoPrintf("%s: more than %lld facets, the limit of a model; not written", fileName,
                    (long long)m.faceLimit);
  return !writeFailed_ && !st_.meshAbort && !tooManyFacets_;
}

void ObjStlWriter::bakeLighting(const objFace& face) {
  const objMaterial& material = st_.model.materialOf(face);
  if (!material.workingCopy || material.workingCopy->isNull()) return;
  QImage& copy = *material.workingCopy;
  const vect3 n = facetNormalOf(face.positions[0], face.positions[1], face.positions[2]);
  double gain[3];
  for (double& g : gain) g = li_.basebright * 0.01;
  bool lit = li_.basebright != 100;
  for (int i = 0; i < LightTable::kLights; ++i) {
    const Light& l = li_.lights[std::size_t(i)];
    if (l.brightlevel <= 0 || l.colour == vect3{}) break;
    const double d = (li_.alwaysFacing >> i & 1) ? 1.0 : vect3Dot(n, vect3Normalize(l.direction));
    if (d <= 0.0) continue;
    lit = true;
    const double col[3] = {l.colour.x, l.colour.y, l.colour.z};
    for (int c = 0; c < 3; ++c) gain[c] *= 1.0 + (col[c] - 128.0) * d / 128.0;
  }
  if (!lit) return;
  int g[3];
  for (int c = 0; c < 3; ++c) {
    const double v = gain[c] * 256.0;
    g[c] = v < 0.0 ? 0 : v > 1e6 ? 1000000 : int(v);
  }
  PixelTriangle t;
  const float w = float(copy.width()), h = float(copy.height());
  for (int k = 0; k < 3; ++k)
    t.p[k] = {PixelTriangle::pixelCoord(w * face.uv[k].u), PixelTriangle::pixelCoord((1.0f - face.uv[k].v) * h)};
  const std::int32_t largestX = t.triSetup();
  const std::int64_t area = t.triPixelArea();
  const float model = facearea(face);
  if (area > 10000) {
    HostCore& core = st_.core;
    core.logVars("maxtria", int(std::min<std::int64_t>(li_.maxtria, INT32_MAX)), "area",
                 int(std::min<std::int64_t>(area, INT32_MAX)), "int(100.0*facearea(pf0))", int(100.0f * model));
    core.memoPrintf("vtidx %d %d %d", face.vt[0], face.vt[1], face.vt[2]);
    auto uvText = [](TexCoord c) { return plat::format("%5.5f %4.5f", double(c.u), double(c.v)); };
    core.memoPrintf("%s\n%s\n%s", uvText(face.uv[0]), uvText(face.uv[1]), uvText(face.uv[2]));
    li_.maxtria = std::max(li_.maxtria, area);
  }
  if (area >= 10000 || model <= 0.001f) return;
  for (std::int32_t x = t.p[0].x; x <= largestX; ++x) {
    if (x < 0 || x >= copy.width()) continue;
    const std::int32_t end = std::min(t.triColumnEnd(x), copy.height() - 1);
    for (std::int32_t y = std::max(t.triColumnStart(x), 0); y <= end; ++y) {
      const MeshColour c = texelAt(material.texture, std::int64_t(x) + material.offsetX, std::int64_t(y) + material.offsetY);
      int out = 0;
      for (int i = 0; i < 3; ++i) out |= clampInt(channel(c, i) * g[i] >> 8, 0, 255) << (8 * i);
      reinterpret_cast<QRgb*>(copy.scanLine(y))[x] = qRgb(red(out), green(out), blue(out));
    }
  }
}

}  // namespace ph
