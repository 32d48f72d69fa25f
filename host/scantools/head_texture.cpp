// The head texture: a scanned head gets one 2048 x 2048 texture in which its
// sides are unrolled about a head axis like the label of a can, the top of
// the head is seen from above and what remains keeps its own layout. The
// axis comes from three clicks on two views in the window's picture, or is
// typed, or is read from a point file beside the model.
#include <QPainter>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/obj_to_stl.h"
#include "host/mesh/text_out_file.h"
#include "host/scantools/texture_geometry.h"
#include "host/scantools/texture_tools.h"

namespace ph {

namespace {

constexpr int kSide = 2048;
constexpr std::uint32_t kWhite = 0xFFFFFFFFu;  // an opaque white pixel: not painted yet

vect3 centroid(const objFace& f) { return (f.positions[0] + f.positions[1] + f.positions[2]) * 0.3333; }

// Three blank-separated numbers; nothing when the text does not hold them.
std::optional<vect3> threeNumbers(std::string_view text, char sep) {
  double v[3];
  for (double& x : v) {
    text = trimView(text);
    std::size_t end = text.find(sep);
    if (sep == ' ') end = text.find_first_of(" \t");
    const std::string_view word = text.substr(0, end);
    if (!parseNumber(trimView(word), x)) return std::nullopt;
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return vect3{v[0], v[1], v[2]};
}

// Places faces in the unrolled texture and writes their corners to the OBJ.
class Unroller {
 public:
  Unroller(const ObjModel& model, QImage& texture, TextOutFile& obj) : m_(model), tex_(texture), obj_(obj) {
    pixels_ = reinterpret_cast<QRgb*>(tex_.bits());
    stride_ = std::size_t(tex_.bytesPerLine() / 4);
  }

  // One face at the texture positions (U, V), V counted from the bottom.
  // With the coverage check a face is placed only where more than 90% of
  // its interior is still unpainted.
  bool place(objFace& f, const float U[3], const float V[3], bool coverage) {
    PixelTriangle t;
    UvPoint uv[3];
    for (int j = 0; j < 3; ++j) {
      uv[j] = {U[j], V[j]};
      t.p[j] = {PixelTriangle::pixelCoord(U[j]), PixelTriangle::pixelCoord(V[j])};
    }
    const std::int32_t last = t.triSetup();
    if (coverage) {
      // Far outside the picture no face can be placed with the check.
      for (const PixelPoint& p : t.p)
        if (p.x < -kSide || p.x > 2 * kSide || p.y < -kSide || p.y > 2 * kSide) return false;
      std::int64_t sum = 0, white = 0;
      for (std::int32_t x = t.p[0].x + 1; x < last; ++x) {
        const std::int32_t start = t.triColumnStart(x), end = t.triColumnEnd(x);
        sum += end - start - 1;
        for (std::int32_t y = start + 1; y < end; ++y)
          if (texelAt(tex_, x, kSide - y) == 0xFFFFFF) ++white;
      }
      if (sum == 0) sum = 1;
      if (sum < 0 || white * 100 / sum <= 90) return false;
    }
    f.mark |= 1;
    const objMaterial& mat = m_.materialOf(f);
    const bool textured = mat.hasTexture();
    UvPoint tp[3];
    if (textured) {
      const float w = float(mat.texture.width()), h = float(mat.texture.height());
      for (int j = 0; j < 3; ++j) tp[j] = {f.uv[j].u * w, h - f.uv[j].v * h};
    }
    const QRgb flat = colourToPixel(m_.hasVertexColors ? f.colour : mat.Kd);
    const TrianglePointParams params(uv);
    const QImage picture = textured ? mat.texture.convertToFormat(QImage::Format_RGB32) : QImage();
    const TexelReader texels(picture);
    const std::int32_t lastX = std::min(last, kSide - 1);
    for (std::int32_t x = std::max(t.p[0].x, 0); x <= lastX; ++x) {
      const std::int32_t end = std::min(t.triColumnEnd(x), kSide);
      for (std::int32_t y = std::max(t.triColumnStart(x), 1); y <= end; ++y) {
        QRgb& pixel = pixels_[std::size_t(kSide - y) * stride_ + std::size_t(x)];
        if (!textured) {
          pixel = flat;
          continue;
        }
        float s = 0.0f, tt = 0.0f;
        if (!params(float(x), float(y), s, tt)) continue;
        const UvPoint at = triParamPoint(tp, s, tt);
        pixel = texels.at(truncCoord(at.u), truncCoord(at.v));
      }
    }
    writeCorners(f, U, V);
    return true;
  }

  // A face without a texture layout of its own: a small cell of its flat
  // colour in the free strip below the sides' band, all corners at its
  // centre, so it keeps its colour and the face count stays whole.
  void placeFlat(objFace& f) {
    const objMaterial& mat = m_.materialOf(f);
    const MeshColour colour = m_.hasVertexColors ? f.colour : mat.Kd;
    auto [it, isNew] = cells_.try_emplace(colour, int(cells_.size()));
    constexpr int kCell = 4, kPerRow = kSide / kCell, kRows = 40 / kCell;
    const int cell = std::min(it->second, kPerRow * kRows - 1);
    const int cx = cell % kPerRow * kCell, cy = cell / kPerRow * kCell;  // from the bottom
    if (isNew && it->second == cell)
      for (int y = cy; y < cy + kCell; ++y)
        for (int x = cx; x < cx + kCell; ++x) pixels_[std::size_t(kSide - 1 - y) * stride_ + std::size_t(x)] = colourToPixel(colour);
    f.mark |= 1;
    const float U[3] = {cx + 2.0f, cx + 2.0f, cx + 2.0f}, V[3] = {cy + 2.0f, cy + 2.0f, cy + 2.0f};
    writeCorners(f, U, V);
  }

  int facesWritten() const { return (next_ - 1) / 3; }

 private:
  // "v %g %g %g", "vt %g %g" per corner and "f i/i j/j k/k", written with
  // to_chars (the same text as printf's %g, several times faster).
  void writeCorners(const objFace& f, const float U[3], const float V[3]) {
    line_.clear();
    for (int j = 0; j < 3; ++j) {
      line_ += "v";
      appendG(f.positions[j].x);
      appendG(f.positions[j].y);
      appendG(f.positions[j].z);
      line_ += "\nvt";
      appendG(double(U[j]) / kSide);
      appendG(double(V[j]) / kSide);
      line_ += "\n";
    }
    line_ += "f";
    for (int j = 0; j < 3; ++j) {
      appendInt(next_ + j);
      line_ += "/";
      appendInt(next_ + j, false);
    }
    line_ += "\n";
    obj_.put(line_);
    next_ += 3;
  }
  void appendG(double v) {
    char buf[32];
    buf[0] = ' ';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf, v, std::chars_format::general, 6);
    line_.append(buf, std::size_t(r.ptr - buf));
  }
  void appendInt(int v, bool blank = true) {
    char buf[16];
    buf[0] = ' ';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf, v);
    line_.append(blank ? buf : buf + 1, std::size_t(r.ptr - (blank ? buf : buf + 1)));
  }
  std::string line_;

  const ObjModel& m_;
  QImage& tex_;
  TextOutFile& obj_;
  QRgb* pixels_ = nullptr;
  std::size_t stride_ = 0;
  int next_ = 1;
  std::map<MeshColour, int> cells_;
};

}  // namespace

void bleedUnpainted(QImage& bitmap, const std::function<void(int percent)>& progress) {
  const QImage copy = bitmap.copy();
  const int w = bitmap.width(), h = bitmap.height();
  if (w < 3 || h < 2) return;
  static const int kNeighbours[8][2] = {{0, 1}, {0, -1}, {1, 0}, {-1, 0}, {1, 1}, {1, -1}, {-1, -1}, {-1, 1}};
  auto at = [&](int x, int y) {
    x = (x % w + w) % w;
    y = (y % h + h) % h;
    return reinterpret_cast<const QRgb*>(copy.constScanLine(y))[x];
  };
  const int step = std::max(1, w / 20);
  for (int x = 1; x <= w - 2; ++x) {
    if (progress && x % step == 0) progress(50 + x * 50 / w);
    for (int y = 1; y <= h - 1; ++y) {
      if (at(x, y) != kWhite) continue;
      for (const auto& n : kNeighbours) {
        const QRgb c = at(x + n[0], y + n[1]);
        if (c != kWhite) {
          reinterpret_cast<QRgb*>(bitmap.scanLine(y))[x] = c;
          break;
        }
      }
    }
  }
}

// ---- the main window's entry and the timers ----

void TextureTools::startHostHeadTexture() {
  FileDialogRequest dialog;
  dialog.title = "Open";
  dialog.filter = "obj files|*.obj";
  dialog.defaultExt = "obj";
  const auto chosen = core_.ui.openFileDialog(dialog);
  if (chosen && !chosen->empty()) {
    hostHeadFile = *chosen;
    headstarter_->start();
    core_.logInto(mesh_.Memo1, [this] { mesh_.showMeshWindow(); });
    // A window that could not be shown never ran the tool.
    if (headstarter_->enabled()) {
      headstarter_->stop();
      hostHeadFile.clear();
    }
  }
  core_.memoPrintf("%s", headStatusText);
}

void TextureTools::runHeadTextureOnce(plat::Timer& timer) {
  timer.stop();
  runHeadTexture();
}

// ---- the tool ----

void TextureTools::runHeadTexture() {
  if (headAxisState == 4) {
    headAxisState = 0;
    laterCilTture_->stop();
    if (!headModelLoaded_) {
      core_.memoPrintf("no model loaded for the head axis: run head_tture again");
      return;
    }
    const float xe = headBoxMax[0] - headBoxMin[0], ye = headBoxMax[1] - headBoxMin[1],
                ze = headBoxMax[2] - headBoxMin[2];
    const double f1 = 290.0 / double(nonZeroFloat(std::max(xe, ye)));
    const double f2 = 290.0 / double(nonZeroFloat(std::max(ye, ze)));
    const double x = centreClickX / f1 + headBoxMin[0];
    headP0 = {x, (290 - bottomClick.y) / f2 + headBoxMin[1], bottomClick.x / f2 + headBoxMin[2]};
    headP1 = {x, (290 - topClick.y) / f2 + headBoxMin[1], topClick.x / f2 + headBoxMin[2]};
    core_.memoPrintf("polyline");
    core_.memoPrintf("%g,%g,%g", headP0.x, headP0.y, headP0.z);
    core_.memoPrintf("%g,%g,%g", headP1.x, headP1.y, headP1.z);
    core_.memoPrintf("enter");
    headBoxAndAxis(headP0, headP1);
    if (unroll(headP0, headP1)) finishHeadRun();
    return;
  }
  headAxisState = 0;
  laterCilTture_->stop();
  vect3 p0{0, 0, 1}, p1{0, 0, 2};
  headHostRun_ = !hostHeadFile.empty();
  if (headHostRun_) {
    closeWhenDone = true;
    FlatColored = hostHeadFile;
    flatobj = fileCore(hostHeadFile) + "_flt";
  } else {
    if (FlatColored.empty()) FlatColored = defaultModel();
    askText("FlatColored", FlatColored);
  }
  hostHeadFile.clear();
  askText("flatobj", flatobj);
  const std::string folder = parentDir(FlatColored);
  mesh_.state.workingFolder = folder;
  // The developer point file beside the model presets the axis.
  const std::string pointFile = folder + "/" + headAxisFile;
  if (fileExists(pointFile)) {
    FilePtr file;
    std::string line;
    vect3* points[2] = {&p0, &p1};
    for (int i = 0; i < 2 && core_.readLine(pointFile, line, file); ++i) {
      if (line.size() <= 3) continue;
      const auto p = threeNumbers(line, ',');
      if (!p) {
        core_.memoPrintf("%s line %d: '%s' is not three numbers: no head texture", pointFile, i + 1, line);
        return;
      }
      *points[i] = *p;
    }
  }
  bool define = true;
  mesh_.askToggle(define, "define_headaxis");
  headStatusText = "created file: " + folder + "/" + flatobj + ".obj";
  if (!define) {
    for (auto [name, point] : {std::pair{"cilinder_axis[0]", &p0}, {"cilinder_axis[1]", &p1}}) {
      const std::string shown = plat::format("%g  %g  %g", point->x, point->y, point->z);
      const std::string answer = core_.ui.inputBox("", name, shown).value_or(shown);
      const auto p = threeNumbers(answer, ' ');
      if (!p) {
        core_.memoPrintf("%s: '%s' is not three numbers: no head texture", name, answer);
        return;
      }
      *point = *p;
    }
  }
  if (!loadHeadModel(FlatColored)) return;
  headP0 = p0;
  headP1 = p1;
  headBoxAndAxis(p0, p1);
  if (define) {
    headAxisState = 1;
    drawFrontView();
    core_.memoPrintf("click on center");
    return;
  }
  if (unroll(p0, p1)) finishHeadRun();
}

bool TextureTools::headTexture(const std::string& input, const std::string& base, vect3 p0, vect3 p1,
                               bool scaleLikeHost) {
  headAxisState = 0;
  FlatColored = input;
  flatobj = base;
  headHostRun_ = scaleLikeHost;
  mesh_.state.workingFolder = parentDir(input);
  headStatusText = "created file: " + parentDir(input) + "/" + base + ".obj";
  if (!loadHeadModel(input)) return false;
  headBoxAndAxis(p0, p1);
  const bool ok = unroll(p0, p1);
  return ok;
}

bool TextureTools::loadHeadModel(const std::string& input) {
  mesh_.reader.freeObj();
  headModelLoaded_ = false;
  std::FILE* in = std::fopen(nativePath(expandCurrentDir(input)).c_str(), "r");
  if (!in) {
    core_.memoPrintf("no file %s", input);
    headStatusText = plat::format("no file %s", input);
    return false;
  }
  mesh_.state.meshAbort = false;
  const bool loaded = mesh_.reader.loadObj(in, input);
  std::fclose(in);
  core_.ui.showProgress(110);
  if (!loaded) {
    mesh_.reader.freeObj();
    headStatusText = plat::format("%s could not be read: no head texture", input);
    return false;
  }
  headModelLoaded_ = true;
  ObjModel& m = mesh_.state.model;
  if (headHostRun_ && m.idxv > 1) {
    double lo = m.allobjv[1].z, hi = lo;
    for (std::int32_t i = 1; i < m.idxv; ++i) {
      lo = std::min(lo, m.allobjv[std::size_t(i)].z);
      hi = std::max(hi, m.allobjv[std::size_t(i)].z);
    }
    const float f = float(15.0 / (hi - lo));
    if (f < 0.5f) {
      headStatusText += plat::format(" scale: %4.3f (1/%3.2f)", double(f), double(1.0f / f));
      for (std::int32_t i = 1; i < m.idxv; ++i) m.allobjv[std::size_t(i)] = m.allobjv[std::size_t(i)] * f;
      for (objFace& face : m.faces)
        for (vect3& p : face.positions) p = p * f;
      core_.memoPrintf("obj scaled");
    }
  }
  return true;
}

void TextureTools::headBoxAndAxis(vect3 p0, vect3 p1) {
  mesh_.state.workingFolder = parentDir(FlatColored);
  for (int a = 0; a < 3; ++a) {
    headBoxMin[a] = 99999.0f;
    headBoxMax[a] = -99999.0f;
  }
  for (const objFace& f : mesh_.state.model.faces)
    for (const vect3& p : f.positions) {
      const float v[3] = {float(p.x), float(p.y), float(p.z)};
      for (int a = 0; a < 3; ++a) {
        if (v[a] < headBoxMin[a]) headBoxMin[a] = v[a];
        if (v[a] > headBoxMax[a]) headBoxMax[a] = v[a];
      }
    }
  for (int a = 0; a < 3; ++a) core_.memoPrintf("%c: %g .... %g", char('X' + a), double(headBoxMin[a]), double(headBoxMax[a]));
  axisStart = p0;
  axisDir = vect3Normalize(p1 - p0);
}

void TextureTools::drawFrontView() {
  QImage& im = mesh_.Im1;
  im.fill(Qt::white);
  const float xe = headBoxMax[0] - headBoxMin[0], ye = headBoxMax[1] - headBoxMin[1];
  const float f1 = 290.0f / nonZeroFloat(std::max(xe, ye));
  for (const objFace& f : mesh_.state.model.faces) {
    const vect3 p = f.positions[0];
    setPixelAt(im, int(truncCoord((float(p.x) - headBoxMin[0]) * f1)),
               int(truncCoord(290.0f - (float(p.y) - headBoxMin[1]) * f1)), 0xFF0000);
  }
  repaintPicture();
}

void TextureTools::drawSideView() {
  QImage& im = mesh_.Im1;
  im.fill(Qt::white);
  const float ye = headBoxMax[1] - headBoxMin[1], ze = headBoxMax[2] - headBoxMin[2];
  const float f2 = 290.0f / nonZeroFloat(std::max(ye, ze));
  for (const objFace& f : mesh_.state.model.faces) {
    const vect3 p = f.positions[0];
    setPixelAt(im, int(truncCoord((float(p.z) - headBoxMin[2]) * f2)),
               int(truncCoord(290.0f - (float(p.y) - headBoxMin[1]) * f2)), 0xFF0000);
  }
  repaintPicture();
}

void TextureTools::markHeadAxis(int x, int y) {
  if (headAxisState == 0) return;
  QImage& im = mesh_.Im1;
  if (headAxisState == 1) {
    drawSegments(im, 0x000000, {x, 0, x, im.height()});
    repaintPicture();
    centreClickX = x;
    if (mesh_.view) mesh_.view->pause(2000);
    drawSideView();
    core_.memoPrintf("click on top of head axis");
  } else if (headAxisState == 2) {
    topClick = {x, y};
    core_.memoPrintf("click on bottom of head axis");
  } else if (headAxisState == 3) {
    bottomClick = {x, y};
    drawSegments(im, 0x0000FF, {bottomClick.x, bottomClick.y, topClick.x, topClick.y});
    repaintPicture();
  }
  if (++headAxisState == 4) {
    if (bottomClick.y < topClick.y) std::swap(bottomClick, topClick);
    laterCilTture_->start();
  }
}

bool TextureTools::unroll(vect3 p0, vect3 p1) {
  placedSides = placedTop = placedRest = 0;
  ObjModel& m = mesh_.state.model;
  struct Release {
    TextureTools& t;
    ~Release() {
      t.mesh_.reader.freeObj();
      t.headModelLoaded_ = false;
    }
  } release{*this};
  const double L = vect3Length(p1 - p0);
  if (!(L > 0.0) || !std::isfinite(L)) {
    core_.memoPrintf("the head axis from %s to %s has no length: no head texture", vect3Text(p0), vect3Text(p1));
    headStatusText = "no head texture: the head axis has no length";
    return false;
  }
  const vect3 dir = vect3Normalize(p1 - p0);
  axisStart = p0;
  axisDir = dir;
  const vect3 side = vect3Cross({1.0, 0.0, 0.0}, dir);
  const std::string folder = parentDir(FlatColored);
  const std::string out = folder + "/" + flatobj;
  std::vector<std::string> inputs{FlatColored};
  for (const objMaterial& mat : m.materials)
    if (!mat.textureFile.empty()) inputs.push_back(mesh_.state.inWorkingFolder(mat.textureFile));
  if (outputNamesInput(core_, {out + ".obj", out + ".mtl", out + ".jpg"}, inputs)) {
    headStatusText = "no head texture: " + out + " names an input";
    return false;
  }

  const std::size_t count = m.faces.size();
  std::vector<std::int32_t> order = faceListOrder(m);
  std::vector<double> keys(count);
  for (std::size_t i = 0; i < count; ++i) {
    const vect3 c = centroid(m.faces[i]);
    const vect3 foot = p0 + dir * vect3Dot(c - p0, dir);
    keys[i] = vect3Length(c - foot);
  }
  // Farthest from the axis first.
  sortFaceListByKey(order, keys, false);
  for (objFace& f : m.faces) f.mark &= ~1;

  QImage texture = newBitmap32(kSide, kSide);
  if (texture.isNull()) {
    core_.memoPrintf("no memory for the head texture: nothing written");
    return false;
  }
  TextOutFile obj(core_, out + ".obj");
  if (!obj.open()) return false;
  obj.print("#Nortavo\nmtllib %s.mtl\nusemtl %s\ng grp1\n", flatobj, flatobj);
  Unroller unroller(m, texture, obj);

  // Pass 1: the sides.
  const std::size_t step = std::max<std::size_t>(1, count / 20);
  std::size_t threshold = 0;
  for (std::size_t o = 0; o < count; ++o) {
    if (o + 1 > threshold) {
      core_.memoPrintf("%oat %d%%", int(o * 50 / count));
      core_.ui.processEvents();
      threshold += step;
    }
    if (mesh_.state.meshAbort) o = count - 1;
    objFace& f = m.faces[std::size_t(order[o])];
    const double hc = vect3Dot(centroid(f) - p0, dir);
    if (hc < 0.0 || hc >= L) continue;
    float U[3], V[3];
    for (int j = 0; j < 3; ++j) {
      const double h = vect3Dot(f.positions[j] - p0, dir);
      const vect3 foot = p0 + dir * h;
      const double a = vect3Angle(f.positions[j] - foot, side, dir);
      U[j] = float(1024.0 - 4.0 * a);
      V[j] = float(800.0 * h / L + 50.0);
    }
    // A face across the back seam stays in one piece, right of the band.
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j)
        if (U[i] - U[j] > 722.0f) U[j] += 1440.0f;
    if (unroller.place(f, U, V, true)) ++placedSides;
  }

  // Pass 2: the top of the head, seen from above, highest first.
  for (std::size_t i = 0; i < count; ++i) keys[i] = vect3Dot(centroid(m.faces[i]) - p0, dir);
  order = faceListOrder(m);
  sortFaceListByKey(order, keys, false);
  const double xs = double(nonZeroFloat(headBoxMax[0] - headBoxMin[0]));
  const double zs = double(nonZeroFloat(headBoxMax[2] - headBoxMin[2]));
  for (std::int32_t index : order) {
    objFace& f = m.faces[std::size_t(index)];
    if (f.mark & 1) continue;
    if (!(vect3Dot(f.positions[0] - p0, dir) > 0.0)) continue;
    float U[3], V[3];
    for (int j = 0; j < 3; ++j) {
      U[j] = float((f.positions[j].x - headBoxMin[0]) * 1024.0 / xs);
      V[j] = float((2.0 - (f.positions[j].z - headBoxMin[2]) / zs) * 1024.0);
    }
    if (unroller.place(f, U, V, true)) ++placedTop;
  }

  // Pass 3: the rest keeps its own layout in the upper right quarter.
  for (std::int32_t index : order) {
    objFace& f = m.faces[std::size_t(index)];
    if (f.mark & 1) continue;
    if (m.materialOf(f).hasTexture()) {
      float U[3], V[3];
      for (int j = 0; j < 3; ++j) {
        U[j] = 1024.0f + 1024.0f * f.uv[j].u;
        V[j] = 1024.0f + 1024.0f * f.uv[j].v;
      }
      unroller.place(f, U, V, false);
    } else {
      unroller.placeFlat(f);
    }
    ++placedRest;
  }
  if (!obj.commit()) {
    headStatusText = "no head texture: " + out + ".obj not written";
    return false;
  }
  bleedUnpainted(texture, [this](int percent) { core_.memoPrintf("%oat %d%%", percent); });
  if (!savePictureFile(core_, texture, out + ".jpg") || !writeTextureMtl(core_, out + ".mtl", flatobj, "jpg")) {
    headStatusText = "no head texture: " + out + " not written whole";
    return false;
  }
  core_.memoPrintf("done");
  return true;
}

void TextureTools::finishHeadRun() {
  if (!closeWhenDone) return;
  closeWhenDone = false;
  if (mesh_.view) mesh_.view->closeWindow();
}

}  // namespace ph
