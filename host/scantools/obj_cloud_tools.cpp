#include "host/scantools/obj_cloud_tools.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/obj_lines.h"
#include "host/mesh/parallel_blocks.h"
#include "host/mesh/stl_stream.h"

namespace ph {

namespace {

bool startsWith(std::string_view line, std::string_view head) { return line.substr(0, head.size()) == head; }

// The three numbers after "v " of a vertex line; the reason in `why`.
bool vertexNumbers(std::string_view line, float (&v)[3], std::string& why) {
  std::string_view rest = line.substr(2);
  for (float& x : v) {
    const std::string_view word = cutWordView(rest);
    if (!parseFloatWord(word, x)) {
      why = word.empty() ? std::string("a vertex line with too few numbers")
                         : plat::format("'%s' is not a number", std::string(word));
      return false;
    }
  }
  return true;
}

// The weld table: each distinct line once, numbered in order of first use
// and written when it first comes.
class WeldTable {
 public:
  int index(int& counter, const std::string& text, TextOutFile& out) {
    const auto [it, added] = table_.try_emplace(text, counter);
    if (added) {
      ++counter;
      out.putLine(text);
    }
    return it->second;
  }

 private:
  std::unordered_map<std::string, int> table_;
};

}  // namespace

ObjCloudTools::ObjCloudTools(HostCore& core, MeshTools& mesh) : core_(core), mesh_(mesh) {}

void ObjCloudTools::attachMenus(Controls& controls) {
  const std::pair<const char*, bool (ObjCloudTools::*)()> items[] = {
      {"onematerial1Item", &ObjCloudTools::useOneMaterial}, {"VertexpToQ1", &ObjCloudTools::moveVerticesPToQ},
      {"Vertice2Plane1", &ObjCloudTools::pullVerticesToPlane}, {"Weldobj1", &ObjCloudTools::weldAskedObj},
      {"matchclouds1", &ObjCloudTools::matchCloudsStep},     {"nearpoints1", &ObjCloudTools::wipeNearFaces}};
  for (const auto& [name, handler] : items)
    controls.bindClick(name, [this, h = handler] { (this->*h)(); });
}

std::string ObjCloudTools::toolFile(const std::string& name) const { return mesh_.workFolder() + "/" + name; }

bool ObjCloudTools::readPoints(const std::string& name, std::vector<PointLine>& lines) {
  lines.clear();
  LineReader in;
  if (!in.open(name)) {
    core_.memoPrintf("no file %s", name);
    return false;
  }
  std::string_view line;
  while (in.next(line)) {
    PointLine pl;
    if (line.size() > 3) {
      std::string_view rest = line;
      float v[3];
      for (float& x : v) {
        const std::size_t comma = rest.find(',');
        const std::string_view word = trimView(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        if (!parseFloatWord(word, x)) {
          core_.memoPrintf("%s line %lld: '%s' is not a number", name, in.lineNumber(), std::string(word));
          return false;
        }
      }
      pl.hasPoint = true;
      pl.p = {v[0], v[1], v[2]};
    }
    lines.push_back(pl);
  }
  if (in.failed()) {
    core_.memoPrintf("cannot read from file: %s", name);
    return false;
  }
  return true;
}

bool ObjCloudTools::loadModel(const std::string& name) {
  mesh_.reader.freeObj();
  mesh_.state.meshAbort = false;
  std::FILE* f = std::fopen(nativePath(expandCurrentDir(name)).c_str(), "r");
  if (!f) {
    core_.memoPrintf("no file %s", name);
    return false;
  }
  mesh_.state.workingFolder = parentDir(name);
  const bool ok = mesh_.reader.loadObj(f, name);
  std::fclose(f);
  if (!ok) mesh_.reader.freeObj();
  return ok;
}

// ---- onematerial ----

bool ObjCloudTools::useOneMaterial() {
  const std::string input = toolFile("ikt.obj"), output = toolFile("temp.obj");
  LineReader in;
  if (!in.open(input)) {
    core_.memoPrintf("cannot read from file: %s", input);
    return false;
  }
  TextOutFile out(core_, output);
  if (!out.open()) return false;
  std::string_view line;
  while (in.next(line)) out.putLine(startsWith(line, "usemtl") ? std::string_view("usemtl standaard") : line);
  if (in.failed()) {
    core_.memoPrintf("cannot read from file: %s", input);
    return false;
  }
  return out.commit();
}

// ---- VertexPToQ ----

bool ObjCloudTools::moveVerticesPToQ() {
  constexpr int kPairs = 99;
  std::vector<PointLine> q, p;
  if (!readPoints(toolFile("q.txt"), q) || !readPoints(toolFile("p.txt"), p)) return false;
  std::vector<vect3> target;
  for (const PointLine& l : q)
    if (l.hasPoint && int(target.size()) < kPairs) target.push_back(l.p);
  const int n = int(target.size());
  // The first line of p.txt pairs with the last target, the next with the
  // one before; a line without a point leaves its pair unused.
  std::vector<std::optional<vect3>> source(static_cast<std::size_t>(n));
  for (int i = 0; i < n && i < int(p.size()); ++i)
    if (p[std::size_t(i)].hasPoint) source[std::size_t(n - 1 - i)] = p[std::size_t(i)].p;

  const std::string input = toolFile("temp.obj"), output = toolFile("temp2.obj");
  LineReader in;
  if (!in.open(input)) {
    core_.memoPrintf("no file %s", input);
    return false;
  }
  TextOutFile out(core_, output);
  if (!out.open()) return false;
  std::string_view line;
  std::string why;
  while (in.next(line)) {
    if (!startsWith(line, "v ")) {
      out.putLine(line);
      continue;
    }
    float v[3];
    if (!vertexNumbers(line, v, why)) {
      core_.memoPrintf("%s line %lld: %s", input, in.lineNumber(), why);
      return false;
    }
    int hit = -1;
    for (int k = 0; k < n && hit < 0; ++k) {
      const auto& s = source[std::size_t(k)];
      if (s && std::fabs(float(s->x) - v[0]) <= 0.001f && std::fabs(float(s->y) - v[1]) <= 0.001f &&
          std::fabs(float(s->z) - v[2]) <= 0.001f)
        hit = k;
    }
    if (hit < 0) out.putLine(line);
    else {
      const vect3 t = target[std::size_t(hit)];
      out.putLine(plat::format("v %g %g %g", t.x, t.y, t.z));
    }
  }
  if (in.failed()) {
    core_.memoPrintf("cannot read from file: %s", input);
    return false;
  }
  return out.commit();
}

// ---- Vertice2Plane ----

bool ObjCloudTools::pullVerticesToPlane() {
  if (core_.notConfirmed("move all vertexpoint between pullplane.stl and q.txt to pullplane")) return false;
  if (pullsource.empty()) pullsource = toolFile("pullsource.obj");
  if (auto a = core_.ui.inputBox("input", "pullsource", pullsource)) pullsource = *a;

  std::vector<PointLine> p, q;
  if (!readPoints(toolFile("p.txt"), p) || !readPoints(toolFile("q.txt"), q)) return false;
  vect3 corner[3];
  int filled = 0;
  for (const PointLine& l : p) {
    if (!l.hasPoint) continue;
    corner[std::min(filled, 2)] = l.p;
    filled = std::min(filled + 1, 2);
  }
  if (q.empty() || !q.front().hasPoint) {
    core_.memoPrintf("%s holds no reference point on its first line", toolFile("q.txt"));
    return false;
  }
  const vect3 Q = q.front().p;

  struct Plane {
    stlFacet facet;
    vect3 n, c[3];
    float refLevel, planeLevel;
  };
  auto makePlane = [&](stlFacet f) {
    setFacetNormal(f);
    Plane pl{f, vect3FromFloats(f.normal), {}, 0.0f, 0.0f};
    for (int k = 0; k < 3; ++k) pl.c[k] = vect3FromFloats(f.corner[k]);
    pl.refLevel = float(vect3Dot(pl.n, Q));
    pl.planeLevel = float(vect3Dot(pl.n, pl.c[0]));
    return pl;
  };
  const std::string stlName = toolFile("pullplane.stl");
  if (!fileExists(stlName)) {
    core_.memoPrintf("no file %s", stlName);
    return false;
  }
  std::vector<Plane> planes;
  StlReader stl(core_);
  if (!stl.open(stlName)) return false;
  stlFacet f;
  while (stl.next(f)) planes.push_back(makePlane(f));
  if (stl.failed()) return false;
  core_.logVars("triangcount", int(std::min<std::size_t>(planes.size(), INT32_MAX)));
  // The list is searched newest first.
  std::reverse(planes.begin(), planes.end());
  if (planes.empty()) {
    stlFacet t;
    for (int k = 0; k < 3; ++k) vect3ToFloats(t.corner[k], corner[k]);
    planes.push_back(makePlane(t));
  }

  const std::string output = toolFile("temp3.obj");
  if (sameFile(pullsource, output)) {
    core_.memoPrintf("%s is the output of Vertice2Plane; choose another pullsource", pullsource);
    return false;
  }
  LineReader in;
  if (!in.open(pullsource)) {
    core_.memoPrintf("no file %s", pullsource);
    return false;
  }
  TextOutFile out(core_, output);
  if (!out.open()) return false;
  std::string_view line;
  std::string why;
  while (in.next(line)) {
    if (!startsWith(line, "v ")) {
      out.putLine(line);
      continue;
    }
    float v[3];
    if (!vertexNumbers(line, v, why)) {
      core_.memoPrintf("%s line %lld: %s", pullsource, in.lineNumber(), why);
      return false;
    }
    const vect3 V{v[0], v[1], v[2]};
    bool moved = false;
    for (const Plane& pl : planes) {
      const float dV = float(vect3Dot(pl.n, V));
      if ((dV > pl.refLevel) == (dV > pl.planeLevel)) continue;
      const vect3 proj = V + pl.n * double(pl.planeLevel - dV);
      bool insideAll = true;
      for (int i = 0; i < 3 && insideAll; ++i) {
        const vect3 edge = pl.c[(i + 1) % 3] - pl.c[i];
        insideAll = vect3Dot(proj - pl.c[i], vect3Normalize(vect3Cross(edge, pl.n))) <= 0.0;
      }
      if (!insideAll) continue;
      out.putLine(plat::format("v %g %g %g", proj.x, proj.y, proj.z));
      moved = true;
      break;
    }
    if (!moved) out.putLine(line);
  }
  if (in.failed()) {
    core_.memoPrintf("cannot read from file: %s", pullsource);
    return false;
  }
  if (!out.commit()) return false;
  core_.memoPrintf("saved to temp3.obj");
  return true;
}

// ---- Weld_obj ----

bool ObjCloudTools::weldAskedObj() {
  if (pre_weld_file.empty()) pre_weld_file = toolFile("pre_weld.obj");
  if (outname.empty()) outname = "welded";
  mesh_.state.meshAbort = false;
  const std::string chosen = mesh_.askInputFile("pre_weld_file", pre_weld_file);
  if (mesh_.state.meshAbort) return false;
  pre_weld_file = chosen;
  if (auto a = core_.ui.inputBox("input", "outname", outname)) outname = *a;
  return weldObj(pre_weld_file, outname);
}

bool ObjCloudTools::weldObj(const std::string& input, const std::string& outCore) {
  const std::string folder = parentDir(input);
  const std::string objOut = folder + "/" + outCore + ".obj", mtlOut = folder + "/" + outCore + ".mtl",
                    jpgOut = folder + "/" + outCore + ".jpg";
  // The inputs: the OBJ, its material libraries and its textures.
  std::vector<std::string> inputs{input};
  {
    LineReader scan;
    if (!scan.open(input)) {
      core_.memoPrintf("no file %s", input);
      return false;
    }
    std::string_view line;
    while (scan.next(line))
      if (startsWith(line, "mtllib ")) inputs.push_back(folder + "/" + std::string(trimView(line.substr(7))));
  }
  if (!loadModel(input)) return false;
  ObjModel& m = mesh_.state.model;
  for (const objMaterial& mat : m.materials)
    if (mat.hasTexture()) inputs.push_back(mesh_.state.inWorkingFolder(mat.textureFile));
  for (const std::string& in : inputs)
    for (const std::string* o : {&objOut, &mtlOut, &jpgOut})
      if (sameFile(*o, in)) {
        core_.memoPrintf("%s would replace the input %s; choose another outname", *o, in);
        mesh_.reader.freeObj();
        return false;
      }

  // The atlas: textures side by side, the plain colours in a swatch column
  // at its right. The material list runs newest first.
  const int nm = int(m.materials.size());
  std::vector<int> offX(std::size_t(nm), 0), plainK(std::size_t(nm), 0);
  long long widthSum = 0;
  int atlasH = 0, textured = 0, plain = 0;
  for (int i = nm - 1; i >= 0; --i) {
    const objMaterial& mat = m.materials[std::size_t(i)];
    offX[std::size_t(i)] = int(widthSum);
    if (mat.hasTexture()) {
      widthSum += mat.texture.width();
      ++textured;
      atlasH = maxInt(atlasH, mat.texture.height());
    } else {
      plainK[std::size_t(i)] = ++plain;
    }
  }
  const int swatchH = 20 * plain + 20;
  if (plain > 0) {
    widthSum += 22;
    // The swatch is drawn whole: the atlas is at least as tall.
    atlasH = maxInt(atlasH, swatchH);
  }
  core_.logVars("xbase", int(std::min<long long>(widthSum, INT32_MAX)), "ybase", atlasH, "nrbmp", textured);
  if (widthSum > 65535 || atlasH > 65535) {
    core_.memoPrintf("%s: the packed texture would be %lld x %d pixels, too large", input, widthSum, atlasH);
    mesh_.reader.freeObj();
    return false;
  }
  // A model without any material still gets a picture (one white pixel).
  const int W = int(std::max<long long>(widthSum, 1)), H = std::max(atlasH, 1);
  QImage atlas = newBitmap32(W, H);
  if (atlas.isNull()) {
    core_.memoPrintf("%s: no memory for a packed texture of %d x %d pixels", input, W, H);
    mesh_.reader.freeObj();
    return false;
  }
  for (int i = nm - 1; i >= 0; --i) {
    const objMaterial& mat = m.materials[std::size_t(i)];
    if (!mat.hasTexture()) continue;
    const QImage tex = mat.texture.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < tex.height() && y < H; ++y)
      std::memcpy(reinterpret_cast<QRgb*>(atlas.scanLine(y)) + offX[std::size_t(i)], tex.constScanLine(y),
                  std::size_t(tex.width()) * sizeof(QRgb));
  }
  if (plain > 0) {
    for (int i = 0; i < nm; ++i) {
      const int k = plainK[std::size_t(i)];
      if (k == 0) continue;
      const QRgb px = colourToPixel(m.materials[std::size_t(i)].Kd);
      for (int y = 20 * k; y < 20 * k + 20; ++y)
        for (int x = W - 20; x < W; ++x) atlas.setPixel(x, y, px);
    }
  }
  if (!saveJpeg(atlas, jpgOut)) {
    core_.memoPrintf("unable to write to file: %s", jpgOut);
    mesh_.reader.freeObj();
    return false;
  }

  // New texture coordinates per face corner.
  const double Wd = double(W), Hd = double(H);
  auto atlasUv = [&](const objFace& f, int c) -> std::pair<double, double> {
    if (f.material < 0) return {f.uv[c].u, f.uv[c].v};
    const std::size_t mi = std::size_t(f.material);
    const objMaterial& mat = m.materials[mi];
    if (plainK[mi] > 0) {
      // Aimed at the pixels (width - 2 - 16a, 20k + 2 + 16b) of its cell.
      static constexpr int kA[3] = {0, 1, 0}, kB[3] = {0, 0, 1};
      return {(Wd - 2.0 - 16.0 * kA[c]) / Wd, 1.0 - (16.0 * kB[c] + 20.0 * plainK[mi] + 2.0) / Hd};
    }
    if (!mat.hasTexture()) return {f.uv[c].u, f.uv[c].v};
    return {(offX[mi] + mat.texture.width() * double(f.uv[c].u)) / Wd,
            1.0 - ((1.0 - double(f.uv[c].v)) * mat.texture.height()) / Hd};
  };

  TextOutFile obj(core_, objOut);
  if (!obj.open()) {
    mesh_.reader.freeObj();
    return false;
  }
  obj.put(plat::format("#Nortavo\nmtllib %s.mtl\nusemtl %s\ng groep\n", outCore, outCore));
  WeldTable weld;
  int vtCounter = 1, vCounter = 1;
  struct Corner {
    int v, vt;
  };
  std::vector<std::array<Corner, 3>> corners;
  corners.reserve(m.faces.size());
  for (auto it = m.faces.rbegin(); it != m.faces.rend(); ++it) {
    std::array<Corner, 3> fc;
    for (int c = 0; c < 3; ++c) {
      const auto [u, v] = atlasUv(*it, c);
      fc[std::size_t(c)].vt = weld.index(vtCounter, plat::format("vt %g %g", u, v), obj);
      const vect3 p = it->positions[c];
      fc[std::size_t(c)].v = weld.index(vCounter, plat::format("v %g %g %g", p.x, p.y, p.z), obj);
    }
    corners.push_back(fc);
  }
  core_.logVars("vline[0]", vtCounter, "vline[1]", vCounter);
  for (const auto& fc : corners) {
    if (fc[0].v == fc[1].v || fc[1].v == fc[2].v || fc[2].v == fc[0].v) continue;
    obj.put(plat::format("f %d/%d %d/%d %d/%d\n", fc[0].v, fc[0].vt, fc[1].v, fc[1].vt, fc[2].v, fc[2].vt));
  }
  mesh_.reader.freeObj();
  if (!obj.commit()) return false;
  TextOutFile mtl(core_, mtlOut);
  if (!mtl.open()) return false;
  mtl.put(plat::format("#nortavo\n\nnewmtl %s\nKa 0.0 0.0 0.0\nKd 1.0 1.0 1.0\nKs 1.0 1.0 1.0\nTf 0.0 0.0 0.0\n"
                       "d 1.0000\nNs 0\nmap_Kd %s.jpg\n\n",
                       outCore, outCore));
  if (!mtl.commit()) return false;
  core_.memoPrintf("done");
  return true;
}

// ---- matchclouds ----

bool ObjCloudTools::matchCloudsStep() {
  if (!cloudsLoaded) {
    if (!referenceCloud.load(core_, toolFile("cloud0.obj"), true) ||
        !movingCloud.load(core_, toolFile("cloud2a.obj"), false))
      return false;
    cloudsLoaded = true;
  }
  if (mesh_.state.meshAbort) {
    mesh_.state.meshAbort = false;
    return movingCloud.save(core_, toolFile("cloud3.obj"));
  }
  std::vector<vect3>& pts = movingCloud.points;
  const std::vector<std::int32_t>& order = movingCloud.zOrder;
  // The reference's grid cells sized by how far a sample of the moving
  // points lies from it, so each search ends within a few cells.
  {
    std::vector<double> gaps;
    const std::size_t stride = std::max<std::size_t>(1, pts.size() / 1000);
    for (std::size_t i = 0; i < pts.size(); i += stride) {
      const vect3 q = referenceCloud.nearest(pts[i]);
      if (q.x > -9000.0) gaps.push_back(vect3Length(q - pts[i]));
    }
    if (!gaps.empty()) {
      std::nth_element(gaps.begin(), gaps.begin() + std::ptrdiff_t(gaps.size() / 2), gaps.end());
      referenceCloud.sizeCellsFor(1.2 * gaps[gaps.size() / 2]);
    }
  }
  // The nearest reference points of all moving points, found side by side.
  std::vector<vect3> found(pts.size());
  auto findAll = [&] {
    const std::vector<std::uint32_t> near = referenceCloud.searchOrder(pts);
    forBlocks(pts.size(), [&](std::size_t b, std::size_t e) {
      for (std::size_t k = b; k < e; ++k) found[near[k]] = referenceCloud.nearest(pts[near[k]]);
    });
  };
  auto pairOf = [&](std::size_t i, vect3& q, double& d) {
    const vect3 p = pts[i];
    q = found[i];
    if (!(q.x > -9000.0)) return false;
    d = vect3Length(q - p);
    return d < 50.0 && d > -1.0;
  };
  double total = 0.0;
  vect3 offset{}, bmin{9999, 9999, 9999}, bmax{-9999, -9999, -9999};
  int n = 0;
  findAll();
  for (std::int32_t i : order) {
    vect3 q;
    double d;
    if (!pairOf(std::size_t(i), q, d)) continue;
    total += d;
    offset = offset + (q - pts[std::size_t(i)]);
    bmin = {std::min(bmin.x, double(float(q.x))), std::min(bmin.y, double(float(q.y))), std::min(bmin.z, double(float(q.z)))};
    bmax = {std::max(bmax.x, double(float(q.x))), std::max(bmax.y, double(float(q.y))), std::max(bmax.z, double(float(q.z)))};
    ++n;
  }
  const vect3 mean = offset * (1.0 / notnul(n));
  core_.memoPrintf("%s=%3.2f %s=%3.2f %s=%3.2f ", "totaldist", total, "totaldist/nrsummed", total / notnul(n), "0.0", 0.0);
  const vect3 centre = (bmin + bmax) * 0.5;
  core_.memoPrintf("\n\n nr %d avg %s", n, vect3Text(mean));
  core_.memoPrintf("center %s", vect3Text(centre));
  for (vect3& p : pts) p = p + mean;

  const vect3 axes[3] = {{0, 0, 1}, {0, 1, 0}, {1, 0, 0}};
  const int axisIndex[3] = {2, 1, 0};
  double angleSum[3] = {0, 0, 0};
  int angleCount[3] = {0, 0, 0};
  double total2 = 0.0;
  vect3 offset2{};
  int pairs = 0;
  findAll();
  for (std::int32_t i : order) {
    const vect3 p = pts[std::size_t(i)];
    vect3 q;
    double d;
    if (!pairOf(std::size_t(i), q, d)) continue;
    const vect3 a = q - centre;
    for (int k = 0; k < 3; ++k) {
      const vect3 tangent = vect3Normalize(vect3Cross(a, axes[k]));
      const double step = vect3Dot(q - p, tangent);
      vect3 flat = a;
      (axisIndex[k] == 0 ? flat.x : axisIndex[k] == 1 ? flat.y : flat.z) = 0.0;
      const double radius = vect3Length(flat);
      if (radius > 50.0) {
        angleSum[k] += step / radius;
        ++angleCount[k];
      }
    }
    total2 += vect3Length(q - p);
    offset2 = offset2 + (q - p);
    ++pairs;
  }
  const vect3 residual = offset2 * (1.0 / notnul(pairs));
  core_.memoPrintf("\n\nnr%d avg%s", pairs, vect3Text(residual));
  core_.memoPrintf("%s=%3.2f %s=%3.2f %s=%3.2f ", "totaldist", total2, "totaldist/nrsummed", total2 / notnul(pairs), "0.0",
                   0.0);
  double angle[3];
  for (int k = 0; k < 3; ++k) {
    core_.memoPrintf("%s=%3.2f %s=%3.2f %s=%3.2f ", plat::format("sinsum[%d]", k), angleSum[k] * 57.29578,
                     plat::format("sinsum[%d]/notnul(sincount[%d])", k, k), angleSum[k] * 57.29578 / notnul(angleCount[k]),
                     plat::format("1.0*sincount[%d]", k), double(angleCount[k]));
    angle[k] = angleSum[k] / notnul(angleCount[k]);
  }
  core_.memoPrintf("center %s", vect3Text(centre));
  for (vect3& p : pts) {
    const vect3 r = p - residual;
    vect3 move{};
    for (int k = 0; k < 3; ++k) {
      vect3 flat = r;
      (axisIndex[k] == 0 ? flat.x : axisIndex[k] == 1 ? flat.y : flat.z) = 0.0;
      move = move + vect3Normalize(vect3Cross(flat, axes[k])) * (vect3Length(flat) * angle[k]);
    }
    p = p + move;
  }
  return true;
}

// ---- nearpoints ----

bool ObjCloudTools::wipeNearFaces() {
  const std::string modelName = toolFile("nearmodel.obj"), pointsName = toolFile("nearpoints.txt"),
                    output = toolFile("nearwiped.obj");
  std::vector<PointLine> lines;
  if (!readPoints(pointsName, lines)) return false;
  if (!loadModel(modelName)) return false;
  // The list is pushed at the front: the last point of the file comes first.
  std::vector<vect3> pts;
  for (auto it = lines.rbegin(); it != lines.rend(); ++it)
    if (it->hasPoint) pts.push_back(it->p);
  // A grid over the points, so each face meets only the points near it.
  constexpr double kNear = 0.02;
  double lo[3] = {1e300, 1e300, 1e300}, hi[3] = {-1e300, -1e300, -1e300};
  for (const vect3& p : pts) {
    const double c[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], c[a]);
      hi[a] = std::max(hi[a], c[a]);
    }
  }
  const ObjModel& m = mesh_.state.model;
  double meanEdge = 0.0;
  for (const objFace& f : m.faces) meanEdge += vect3Length(f.positions[1] - f.positions[0]);
  meanEdge = m.faces.empty() ? 1.0 : meanEdge / double(m.faces.size());
  double s = std::max(meanEdge, 4.0 * kNear);
  const double largest = pts.empty() ? 1.0 : std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2], 1e-9});
  s = std::max(s, largest / 1024.0);
  auto cellCount = [&](double size) {
    double c = 1.0;
    for (int a = 0; a < 3 && !pts.empty(); ++a) c *= std::floor((hi[a] - lo[a]) / size) + 1;
    return c;
  };
  while (cellCount(s) > std::max(4.0 * double(pts.size()), 4096.0)) s *= 1.25;
  int dims[3] = {1, 1, 1};
  for (int a = 0; a < 3 && !pts.empty(); ++a) dims[a] = int(std::floor((hi[a] - lo[a]) / s)) + 1;
  auto cellOf = [&](double v, int a) {
    const double t = std::floor((v - lo[a]) / s);
    return t < 0 ? 0 : t >= dims[a] - 1 ? dims[a] - 1 : int(t);
  };
  const std::size_t total = std::size_t(dims[0]) * std::size_t(dims[1]) * std::size_t(dims[2]);
  std::vector<std::uint32_t> start(total + 1, 0);
  std::vector<std::size_t> cellOfPoint(pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const vect3& p = pts[i];
    cellOfPoint[i] = (std::size_t(cellOf(p.z, 2)) * std::size_t(dims[1]) + std::size_t(cellOf(p.y, 1))) * std::size_t(dims[0]) +
                     std::size_t(cellOf(p.x, 0));
    ++start[cellOfPoint[i] + 1];
  }
  for (std::size_t c = 0; c < total; ++c) start[c + 1] += start[c];
  std::vector<std::uint32_t> members(pts.size());
  {
    std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
    for (std::size_t i = 0; i < pts.size(); ++i) members[fill[cellOfPoint[i]]++] = std::uint32_t(i);
  }
  std::vector<char> marked(m.faces.size(), 0);
  int hits = 0;
  std::vector<std::uint32_t> near;
  // Faces in list order: newest first.
  for (std::size_t fi = m.faces.size(); fi-- > 0;) {
    const objFace& f = m.faces[fi];
    if (pts.empty()) break;
    double flo[3], fhi[3];
    for (int a = 0; a < 3; ++a) {
      flo[a] = 1e300;
      fhi[a] = -1e300;
      for (const vect3& c : f.positions) {
        const double v = a == 0 ? c.x : a == 1 ? c.y : c.z;
        flo[a] = std::min(flo[a], v - kNear);
        fhi[a] = std::max(fhi[a], v + kNear);
      }
    }
    bool outside = false;
    for (int a = 0; a < 3; ++a) outside = outside || fhi[a] < lo[a] || flo[a] > hi[a];
    if (outside) continue;
    near.clear();
    for (int k = cellOf(flo[2], 2); k <= cellOf(fhi[2], 2); ++k)
      for (int j = cellOf(flo[1], 1); j <= cellOf(fhi[1], 1); ++j)
        for (int i = cellOf(flo[0], 0); i <= cellOf(fhi[0], 0); ++i) {
          const std::size_t c = (std::size_t(k) * std::size_t(dims[1]) + std::size_t(j)) * std::size_t(dims[0]) + std::size_t(i);
          near.insert(near.end(), members.begin() + start[c], members.begin() + start[c + 1]);
        }
    // Tried in list order, as the log tells them.
    std::sort(near.begin(), near.end());
    for (std::uint32_t pi : near) {
      const vect3 P = pts[pi];
      const vect3 c = closestPointOnTriangle(f.positions[0], f.positions[1], f.positions[2], P);
      if (float(vect3Length(P - c)) < float(kNear)) {
        core_.memoPrintf("wiped %d", hits++);
        marked[fi] = 1;
      }
    }
  }
  LineReader in;
  if (!in.open(modelName)) {
    core_.memoPrintf("no file %s", modelName);
    mesh_.reader.freeObj();
    return false;
  }
  TextOutFile out(core_, output);
  if (!out.open()) {
    mesh_.reader.freeObj();
    return false;
  }
  std::string_view line;
  while (in.next(line))
    if (!startsWith(line, "f ")) out.putLine(line);
  if (in.failed()) {
    // A copy cut short must not replace the output.
    core_.memoPrintf("%s line %lld: %s", modelName, in.lineNumber(), std::string(in.failure()));
    mesh_.reader.freeObj();
    return false;
  }
  for (std::size_t fi = m.faces.size(); fi-- > 0;) {
    if (marked[fi]) continue;
    const objFace& f = m.faces[fi];
    out.put(plat::format("f %d/%d/%d %d/%d/%d %d/%d/%d\n", f.vt[0], f.vt[0], f.vt[0], f.vt[1], f.vt[1], f.vt[1], f.vt[2],
                         f.vt[2], f.vt[2]));
  }
  mesh_.reader.freeObj();
  return out.commit();
}

// ---- splitdirections ----

bool ObjCloudTools::splitByDirection() {
  const std::string modelName = toolFile("splitmodel.obj"), output = toolFile("cubed.obj");
  if (!loadModel(modelName)) return false;
  const ObjModel& m = mesh_.state.model;
  // Each "f" line stands for the first of the triangles it was split into.
  std::vector<std::string> lines;
  std::vector<int> groupOf;
  {
    LineReader in;
    if (!in.open(modelName)) {
      core_.memoPrintf("no file %s", modelName);
      mesh_.reader.freeObj();
      return false;
    }
    std::size_t face = 0;
    std::string_view line;
    while (in.next(line)) {
      lines.emplace_back(line);
      if (!startsWith(line, "f ")) {
        groupOf.push_back(-1);
        continue;
      }
      std::string_view rest = line.substr(2);
      int corners = 0;
      while (!cutWordView(rest).empty()) ++corners;
      const std::size_t idx = m.faces.empty() ? 0 : std::min(face, m.faces.size() - 1);
      face += std::size_t(std::max(corners - 2, 1));
      int group = -1;
      if (!m.faces.empty()) {
        const objFace& f = m.faces[idx];
        const vect3 n = vect3Normalize(vect3Cross(f.positions[0] - f.positions[1], f.positions[0] - f.positions[2]));
        const double c[3] = {n.x, n.y, n.z};
        int axis = 0;
        for (int a = 1; a < 3; ++a)
          if (std::fabs(c[a]) > std::fabs(c[axis])) axis = a;
        group = c[axis] > 0.0 ? axis : axis + 3;
      }
      groupOf.push_back(group);
    }
    if (in.failed()) {
      core_.memoPrintf("cannot read from file: %s", modelName);
      mesh_.reader.freeObj();
      return false;
    }
  }
  mesh_.reader.freeObj();
  TextOutFile out(core_, output);
  if (!out.open()) return false;
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (groupOf[i] < 0) out.putLine(lines[i]);
  for (int g = 0; g < 6; ++g) {
    out.putLine(plat::format("g cube%d", g));
    for (std::size_t i = 0; i < lines.size(); ++i)
      if (groupOf[i] == g) out.putLine(lines[i]);
  }
  if (!out.commit()) return false;
  core_.memoPrintf("done");
  return true;
}

}  // namespace ph
