// Planar top-view textures: "stl2texture" paints the facet colours of a
// coloured model, "faceTexture" re-samples a textured OBJ's own textures;
// both then give every vertex of the OBJ a texture coordinate from its x
// and y.
#include <cmath>
#include <cstdio>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/obj_to_stl.h"
#include "host/mesh/stl_stream.h"
#include "host/scantools/texture_geometry.h"
#include "host/scantools/texture_tools.h"

namespace ph {

namespace {

struct Box {
  float lo[3], hi[3];
  explicit Box(float start) {
    for (int i = 0; i < 3; ++i) {
      lo[i] = start;
      hi[i] = -start;
    }
  }
  void add(float v, int axis) {
    if (v <= lo[axis]) lo[axis] = v;
    if (v > hi[axis]) hi[axis] = v;
  }
  // The larger of the x and y extents, at least 0.
  float extent() const {
    float e = 0.0f;
    if (hi[0] - lo[0] > e) e = hi[0] - lo[0];
    if (hi[1] - lo[1] > e) e = hi[1] - lo[1];
    return e;
  }
};

// Halves the scale until the side fits; the side is trunc(e x k).
int fitSide(float e, float& k, int maxSide) {
  for (int i = 0; i < 200; ++i) {
    const double n = std::trunc(double(e) * double(k));
    if (n <= double(maxSide)) return int(n);
    k *= 0.5f;
  }
  return 0;
}

}  // namespace

void TextureTools::askPlanarColourTexture() {
  if (FlatColored.empty()) FlatColored = defaultModel();
  askText("FlatColored", FlatColored);
  askText("flatobj", flatobj);
  planarColourTexture(FlatColored, flatobj);
}

void TextureTools::askPlanarFaceTexture() {
  if (FlatColored.empty()) FlatColored = defaultModel();
  askText("FlatColored", FlatColored);
  askText("flatobj", flatobj);
  bool bmpmode = false;
  mesh_.askToggle(bmpmode, "bmpmode");
  planarFaceTexture(FlatColored, flatobj, bmpmode);
}

bool TextureTools::planarColourTexture(const std::string& input, const std::string& base) {
  const std::string out = parentDir(input) + "/" + base;
  if (outputNamesInput(core_, {out + ".jpg", out + ".obj", out + ".mtl"}, {input})) return false;
  if (!fileExists(input)) {
    core_.memoPrintf("no file %s", input);
    return false;
  }
  std::string stl = input;
  if (extensionOf(input) == "obj") {
    if (!mesh_.runObjFile(input)) return false;
    stl = mesh_.workFolder() + "/" + mesh_.host.convertedStlName();
  }
  std::vector<stlFacet> facets;
  {
    StlReader reader(core_);
    if (!reader.open(stl)) return false;
    stlFacet f;
    while (reader.next(f)) {
      if (!finiteCorners(f)) {
        core_.memoPrintf("%s: facet %d has a corner that is not a number: no texture written", stl,
                         int(facets.size()) + 1);
        return false;
      }
      facets.push_back(f);
    }
    if (reader.failed()) return false;
  }
  Box box(999.0f);
  for (const stlFacet& f : facets)
    for (const auto& c : f.corner)
      for (int a = 0; a < 3; ++a) box.add(c[std::size_t(a)], a);
  core_.memoPrintf("%s=%3.2f %s=%3.2f %s=%3.2f ", "boundbox[0][0]", double(box.lo[0]), "boundbox[0][1]",
                   double(box.lo[1]), "boundbox[0][2]", double(box.lo[2]));
  core_.memoPrintf("%s=%3.2f %s=%3.2f %s=%3.2f ", "boundbox[1][0]", double(box.hi[0]), "boundbox[1][1]",
                   double(box.hi[1]), "boundbox[1][2]", double(box.hi[2]));
  float k = 20.0f;
  const int n = fitSide(box.extent(), k, planarMaxSide);
  if (k != 20.0f)
    core_.memoPrintf("%s: %d pixels per unit would make the texture too large; %g pixels per unit", input, 20,
                     double(k));
  QImage bitmap = n > 0 ? newBitmap32(n, n) : QImage();
  if (bitmap.isNull()) {
    core_.memoPrintf("%s: no texture of %d x %d pixels: nothing written", input, n, n);
    return false;
  }
  planarScale = k;
  planarSide = n;
  // Reverse file order: where footprints overlap, the facet nearer the start
  // of the file is painted last and shows.
  for (auto it = facets.rbegin(); it != facets.rend(); ++it) {
    PixelTriangle t;
    for (int j = 0; j < 3; ++j)
      t.p[j] = {PixelTriangle::pixelCoord((it->corner[j][0] - box.lo[0]) * k),
                PixelTriangle::pixelCoord((it->corner[j][1] - box.lo[1]) * k)};
    const MeshColour colour = colorFrom15(it->attribute);
    const std::int32_t last = std::min(t.triSetup(), n);
    for (std::int32_t x = std::max(t.p[0].x, 0); x <= last; ++x) {
      const std::int32_t end = std::min(t.triColumnEnd(x), n);
      for (std::int32_t y = std::max(t.triColumnStart(x), 1); y <= end; ++y) setPixelAt(bitmap, x, n - y, colour);
    }
  }
  if (!savePictureFile(core_, bitmap, out + ".jpg")) return false;
  core_.memoPrintf("%s", out + ".jpg");
  bitmap = QImage();
  // A binary STL read as text holds no vertex or face lines.
  if (!rewritePlanarObj(core_, input, out + ".obj", base, box.lo[0], box.lo[1], double(n) / double(k),
                        stl != input))
    return false;
  return writeTextureMtl(core_, out + ".mtl", base, "jpg");
}

bool TextureTools::planarFaceTexture(const std::string& input, const std::string& base, bool bmp) {
  const std::string folder = parentDir(input);
  const std::string out = folder + "/" + base;
  const std::string picture = out + (bmp ? ".bmp" : ".jpg");
  if (outputNamesInput(core_, {picture, out + ".obj", out + ".mtl"}, {input})) return false;
  mesh_.state.workingFolder = folder;
  std::FILE* in = std::fopen(nativePath(expandCurrentDir(input)).c_str(), "r");
  if (!in) {
    core_.memoPrintf("no file %s", input);
    return false;
  }
  mesh_.reader.freeObj();
  mesh_.state.meshAbort = false;
  const bool loaded = mesh_.reader.loadObj(in, input);
  std::fclose(in);
  struct Release {
    MeshTools& m;
    ~Release() { m.reader.freeObj(); }
  } release{mesh_};
  if (!loaded) return false;
  const ObjModel& model = mesh_.state.model;
  // The pictures and material files just read must survive the outputs.
  std::vector<std::string> read;
  for (const objMaterial& m : model.materials)
    if (!m.textureFile.empty()) read.push_back(mesh_.state.inWorkingFolder(m.textureFile));
  if (outputNamesInput(core_, {picture}, read)) return false;

  Box box(9999.0f);
  for (const objFace& f : model.faces)
    for (const vect3& p : f.positions) {
      box.add(float(p.x), 0);
      box.add(float(p.y), 1);
      box.add(float(p.z), 2);
    }
  std::vector<std::int32_t> order = faceListOrder(model);
  const int before = int(order.size());
  std::vector<double> keys(model.faces.size());
  for (std::size_t i = 0; i < keys.size(); ++i) keys[i] = model.faces[i].positions[0].z;
  sortFaceListByKey(order, keys, true);
  core_.memoPrintf("sorted %d %d", before, int(order.size()));

  const float e = box.extent();
  float k = 40.0f;
  int n = 0;
  if (std::isfinite(e)) {
    k *= 0.5f;
    n = fitSide(e, k, 2048);
  }
  QImage bitmap = n > 0 ? newBitmap32(n, n) : QImage();
  if (bitmap.isNull()) {
    core_.memoPrintf("%s: no texture of %d x %d pixels: nothing written", input, n, n);
    return false;
  }
  planarScale = k;
  planarSide = n;
  auto* pixels = reinterpret_cast<QRgb*>(bitmap.bits());
  const std::size_t stride = std::size_t(bitmap.bytesPerLine() / 4);
  for (std::size_t o = 0; o < order.size(); ++o) {
    if (mesh_.state.meshAbort) o = order.size() - 1;
    const objFace& f = model.faces[std::size_t(order[o])];
    const objMaterial& mat = model.materialOf(f);
    UvPoint fp[3], tp[3];
    PixelTriangle t;
    for (int j = 0; j < 3; ++j) {
      fp[j] = {(float(f.positions[j].x) - box.lo[0]) * k, (float(f.positions[j].y) - box.lo[1]) * k};
      t.p[j] = {PixelTriangle::pixelCoord(fp[j].u), PixelTriangle::pixelCoord(fp[j].v)};
    }
    const bool textured = mat.hasTexture();
    if (textured) {
      const float w = float(mat.texture.width()), h = float(mat.texture.height());
      for (int j = 0; j < 3; ++j) tp[j] = {f.uv[j].u * w, h - f.uv[j].v * h};
    }
    const QRgb flat = colourToPixel(mat.Kd);
    const TrianglePointParams params(fp);
    const QImage picture = textured ? mat.texture.convertToFormat(QImage::Format_RGB32) : QImage();
    const TexelReader texels(picture);
    const std::int32_t last = std::min(t.triSetup(), n - 1);
    for (std::int32_t x = std::max(t.p[0].x, 0); x <= last; ++x) {
      const std::int32_t end = std::min(t.triColumnEnd(x), n);
      for (std::int32_t y = std::max(t.triColumnStart(x), 1); y <= end; ++y) {
        QRgb& pixel = pixels[std::size_t(n - y) * stride + std::size_t(x)];
        if (!textured) {
          pixel = flat;
          continue;
        }
        float s = 0.0f, tt = 0.0f;
        if (!params(float(x), float(y), s, tt)) continue;
        const UvPoint uv = triParamPoint(tp, s, tt);
        pixel = texels.at(truncCoord(uv.u), truncCoord(uv.v));
      }
    }
  }
  if (!savePictureFile(core_, bitmap, picture, bmp)) return false;
  bitmap = QImage();
  if (!rewritePlanarObj(core_, input, out + ".obj", base, box.lo[0], box.lo[1], double(n) / double(k))) return false;
  if (!writeTextureMtl(core_, out + ".mtl", base, bmp ? "bmp" : "jpg")) return false;
  core_.memoPrintf("done");
  return true;
}

}  // namespace ph
