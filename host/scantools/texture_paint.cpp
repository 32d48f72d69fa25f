// Texture point tracking, texture painting with the colour dialog, the
// white-vertex repair, the splitter test and the single atlas.
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>
#include <cstdio>

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

float colorSum(vect3 c) { return float(c.x) + float(c.y) + float(c.z); }

// Reads an OBJ into the mesh tools' model with the working folder set to
// its folder; false (told) when it cannot be opened or read.
bool loadModel(MeshTools& mesh, const std::string& name) {
  HostCore& core = mesh.core;
  mesh.reader.freeObj();
  mesh.state.workingFolder = parentDir(name);
  std::FILE* in = std::fopen(nativePath(expandCurrentDir(name)).c_str(), "r");
  if (!in) {
    core.memoPrintf("no file %s", name);
    return false;
  }
  mesh.state.meshAbort = false;
  const bool ok = mesh.reader.loadObj(in, name);
  std::fclose(in);
  core.ui.showProgress(110);
  if (!ok) mesh.reader.freeObj();
  return ok;
}

// Three comma-separated numbers.
std::optional<vect3> pointOf(const std::string& line) {
  std::string rest = line;
  double v[3];
  for (double& x : v)
    if (!parseNumber(trimView(popToken(rest, ',')), x)) return std::nullopt;
  return vect3{v[0], v[1], v[2]};
}

// Fills the pixels of column x from row `start` to `end` (both included).
void fillColumn(QImage& img, int x, int start, int end, QRgb colour) {
  if (x < 0 || x >= img.width()) return;
  start = std::max(start, 0);
  end = std::min(end, img.height() - 1);
  for (int y = start; y <= end; ++y) reinterpret_cast<QRgb*>(img.scanLine(y))[x] = colour;
}

}  // namespace

// ---- point tracking ----

bool TextureTools::tracking() const { return txtuScan_->enabled(); }

void TextureTools::toggleTracking() {
  if (txtuScan_->enabled()) {
    core_.memoPrintf("stopping scan");
    txtuScan_->stop();
    mesh_.reader.freeObj();
    return;
  }
  if (objtotrack.empty()) objtotrack = defaultModel();
  askText("objtotrack", objtotrack);
  if (!loadModel(mesh_, objtotrack)) return;
  core_.memoPrintf("obj loaded");
  txtuScan_->start();
  scanTrackedPoints(true);
}

void TextureTools::closePreviews() {
  for (std::size_t i = 0; i < previews.size(); ++i) {
    if (previews[i].shown && mesh_.view) mesh_.view->closePreview(int(i));
    previews[i] = PreviewSlot{};
  }
}

void TextureTools::scanTrackedPoints(bool forced) {
  if (forced) lastPointsLine.clear();
  const std::string path = mesh_.state.inWorkingFolder(pointsFile);
  if (!fileExists(path)) {
    // Waits quietly for the file: one line, not one every scan.
    if (!pointsMissingTold_) core_.memoPrintf("waiting for %s", path);
    pointsMissingTold_ = true;
    return;
  }
  pointsMissingTold_ = false;
  const QFileInfo info(QString::fromStdString(nativePath(path)));
  const QDateTime age = info.lastModified();
  const qint64 size = info.size();
  FilePtr file;
  std::string first;
  core_.readLine(path, first, file);
  file.reset();
  if (first == lastPointsLine && age == lastPointsAge && size == lastPointsSize) return;
  lastPointsAge = age;
  lastPointsSize = size;
  closePreviews();
  lastPointsLine = first;
  core_.memoPrintf("= = = = = ");
  const ObjModel& m = mesh_.state.model;
  int counter = 0, lineNumber = 0;
  std::string line;
  while (core_.readLine(path, line, file)) {
    ++lineNumber;
    if (line.size() <= 3) continue;
    const auto p = pointOf(line);
    if (!p) {
      core_.memoPrintf("%s line %d: '%s' is not three numbers", path, lineNumber, line);
      return;
    }
    struct Entry {
      float u, v;
      std::string texture;
    };
    std::vector<Entry> entries;
    float best = 1e9f;
    Entry nearest{0.0f, 0.0f, ""};
    for (const objFace& f : m.faces) {
      const std::string& texture = m.materialOf(f).textureFile;
      for (int j = 0; j < 3; ++j) {
        const float dx = float(f.positions[j].x - p->x), dy = float(f.positions[j].y - p->y),
                    dz = float(f.positions[j].z - p->z);
        const float d2 = dx * dx + dy * dy + dz * dz;
        if (d2 < 1e-6f) entries.push_back({f.uv[j].u, f.uv[j].v, texture});
        if (d2 < best) {
          best = d2;
          nearest = {f.uv[j].u, f.uv[j].v, texture};
        }
      }
    }
    if (entries.empty() && !nearest.texture.empty()) entries.push_back(nearest);
    const float dist = std::sqrt(best);
    char letter = 'a';
    for (const Entry& e : entries) {
      ++counter;
      int slot = -1;
      for (std::size_t i = 0; i < previews.size() && slot < 0; ++i)
        if (previews[i].texture == e.texture || previews[i].texture.empty()) slot = int(i);
      if (slot < 0 || e.texture.empty()) {
        core_.memoPrintf("** %d: %4.0f,%4.0f,(%5.3f) %s", counter, double(1024.0f * e.u), double(1024.0f * (1.0f - e.v)),
                         double(dist), e.texture);
        ++letter;
        continue;
      }
      PreviewSlot& s = previews[std::size_t(slot)];
      if (!s.shown) {
        QImage picture;
        const std::string name = mesh_.state.inWorkingFolder(e.texture);
        if (!loadPicture(picture, name)) {
          core_.memoPrintf("cannot read picture %s", name);
          ++letter;
          continue;
        }
        s.width = picture.width();
        s.height = picture.height();
        const int side = std::max(s.width, s.height);
        s.image = picture.copy(0, 0, side, side).scaled(512, 512).convertToFormat(QImage::Format_RGB32);
        s.shown = true;
      }
      s.texture = e.texture;
      const int side = std::max(s.width, s.height);
      const int px = int(truncCoord(e.u * 512.0f * float(s.width) / float(side)));
      const int py = int(truncCoord((1.0f - e.v) * float(s.height) * 512.0f / float(side)));
      core_.memoPrintf("%c%d: %d,%d,(%5.3f) %s", letter, counter, 2 * px, 2 * py, double(dist), e.texture);
      QPainter painter(&s.image);
      painter.setPen(QPen(QColor(0, 255, 0), 3));
      painter.setBrush(Qt::NoBrush);
      painter.drawEllipse(QRect(QPoint(px - 7, py - 7), QPoint(px + 7, py + 7)));
      painter.drawLine(px, 0, px, 5);
      painter.drawLine(0, py, 5, py);
      painter.end();
      if (mesh_.view) mesh_.view->showPreview(slot, s.image, s.texture, false);
      ++letter;
    }
  }
}

// ---- texture painting ----

void TextureTools::chooseFillColour() {
  if (!mesh_.view) return;
  const int current = hexTextToInt(TriangFillColor);
  const int initial = (current >> 16 & 0xFF) | (current & 0xFF00) | (current & 0xFF) << 16;
  const auto chosen = mesh_.view->chooseColour(initial);
  if (!chosen) return;
  const int c = *chosen;
  TriangFillColor = plat::format("%06X", (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF));
  core_.memoPrintf("color %s", TriangFillColor);
}

void TextureTools::askPaintTextures() {
  objtotrack = defaultModel();
  askText("objtotrack", objtotrack);
  askText("TriangFillColor", TriangFillColor);
  if (TriangFillColor == "*") chooseFillColour();
  paintTextures(objtotrack, TriangFillColor);
}

bool TextureTools::paintTextures(const std::string& obj, const std::string& paint) {
  bool fill = false;
  int colour = 0;
  QImage fillPicture;
  const bool isPath = paint.size() > 1 && (paint[1] == ':' || paint.find('/') != std::string::npos ||
                                           paint.find('\\') != std::string::npos);
  if (isPath) {
    if (!loadPicture(fillPicture, paint)) {
      core_.memoPrintf("cannot read picture %s: nothing painted", paint);
      return false;
    }
  } else if (paint != "-") {
    bool hex = paint.size() == 6;
    for (char c : paint) hex = hex && isHexDigit(c);
    if (!hex) {
      core_.memoPrintf("TriangFillColor '%s' is not six hex digits (RRGGBB), '-' or a picture: nothing painted", paint);
      return false;
    }
    colour = hexTextToInt(paint.substr(0, 2)) | hexTextToInt(paint.substr(2, 2)) << 8 | hexTextToInt(paint.substr(4, 2)) << 16;
    fill = true;
  }
  if (!loadModel(mesh_, obj)) return false;
  struct Release {
    MeshTools& m;
    ~Release() { m.reader.freeObj(); }
  } release{mesh_};
  ObjModel& m = mesh_.state.model;
  std::vector<QImage> canvases(m.materials.size());
  for (std::size_t i = 0; i < m.materials.size(); ++i) {
    const objMaterial& mat = m.materials[i];
    if (mat.textureFile.empty() || !mat.hasTexture()) continue;
    canvases[i] = mat.texture.convertToFormat(QImage::Format_RGB32);
    // Text needs the fonts of a GUI application (a window-less test has none).
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) continue;
    QPainter p(&canvases[i]);
    p.setPen(Qt::black);
    p.drawText(QRect(0, 0, canvases[i].width(), 20), Qt::AlignLeft | Qt::AlignTop, QString::fromStdString(mat.textureFile));
  }
  const QRgb fillPixel = colourToPixel(colour);
  for (auto it = m.faces.rbegin(); it != m.faces.rend(); ++it) {
    if (it->material < 0) continue;
    QImage& canvas = canvases[std::size_t(it->material)];
    if (canvas.isNull()) continue;
    const int w = canvas.width(), h = canvas.height();
    PixelTriangle t;
    for (int j = 0; j < 3; ++j)
      t.p[j] = {int(truncCoord(float(w) * it->uv[j].u)), int(truncCoord(float(h) * (1.0f - it->uv[j].v)))};
    if (fillPicture.isNull())
      drawPolyline(canvas, fill ? colour : 0,
                   {t.p[0].x, t.p[0].y, t.p[1].x, t.p[1].y, t.p[2].x, t.p[2].y, t.p[0].x, t.p[0].y});
    if (!fill && fillPicture.isNull()) continue;
    const int last = std::min(t.triSetup(), w - 1);
    for (int x = std::max(t.p[0].x, 0); x <= last; ++x) {
      const int start = t.triColumnStart(x), end = t.triColumnEnd(x);
      if (end <= start) continue;
      if (fillPicture.isNull()) {
        fillColumn(canvas, x, start, end, fillPixel);
        continue;
      }
      for (int y = std::max(start, 0); y <= std::min(end, h - 1); ++y)
        reinterpret_cast<QRgb*>(canvas.scanLine(y))[x] = colourToPixel(texelAt(fillPicture, x, y));
    }
  }
  bool ok = true;
  int k = 0;
  for (std::size_t i = m.materials.size(); i-- > 0;) {
    if (canvases[i].isNull()) continue;
    const std::string name = mesh_.state.inWorkingFolder(plat::format("txtuRaster%d.jpg", ++k));
    core_.memoPrintf("saving to %s", name);
    ok = savePictureFile(core_, canvases[i], name) && ok;
  }
  return ok;
}

// ---- white-vertex repair ----

void TextureTools::askUnWhite() {
  if (unwhiteFile.empty()) unwhiteFile = defaultModel();
  askText("FileName", unwhiteFile);
  unWhite(unwhiteFile, parentDir(unwhiteFile) + "/" + unwhiteOutput);
}

bool TextureTools::unWhite(const std::string& input, const std::string& output) {
  if (outputNamesInput(core_, {output}, {input})) return false;
  if (!loadModel(mesh_, input)) return false;
  ObjModel& m = mesh_.state.model;
  if (!m.hasVertexColors || m.allvtxcolor.size() < std::size_t(m.idxv)) {
    core_.memoPrintf("%s has no vertex colours: nothing to repair", input);
    return false;
  }
  auto colourOf = [&](const objFace& f, int j) -> vect3& { return m.allvtxcolor[std::size_t(f.vertex[j])]; };
  for (objFace& f : m.faces) f.mark = 0;
  for (int pass = 0; pass <= 100; ++pass) {
    core_.logVars("retry", pass);
    for (objFace& f : m.faces) {
      int white = 0;
      for (int j = 0; j < 3; ++j) white += colorSum(colourOf(f, j)) > 2.8f;
      if (white == 1) f.mark = 1;
    }
    int changes = 0;
    for (auto it = m.faces.rbegin(); it != m.faces.rend(); ++it) {
      if (!it->mark) continue;
      it->mark = 0;
      for (int j = 2; j >= 0; --j) {
        if (!(colorSum(colourOf(*it, j)) > 2.8f)) continue;
        const vect3 a = colourOf(*it, (j + 1) % 3), b = colourOf(*it, (j + 2) % 3);
        colourOf(*it, j) = (a + b) * 0.5;
        ++changes;
        break;
      }
    }
    if (changes == 0) break;
  }
  TextOutFile out(core_, output);
  if (!out.open()) return false;
  out.put("#Nortavo unwhite\n\n");
  for (std::int32_t i = 1; i < m.idxv; ++i) {
    const vect3 p = m.allobjv[std::size_t(i)], c = m.allvtxcolor[std::size_t(i)];
    out.print("v %6.5f %6.5f %6.5f %6.5f %6.5f %6.5f\n", p.x, p.y, p.z, c.x, c.y, c.z);
  }
  for (auto it = m.faces.rbegin(); it != m.faces.rend(); ++it)
    out.print("f %d %d %d\n", it->vertex[0], it->vertex[1], it->vertex[2]);
  return out.commit();
}

// ---- splitter test ----

void TextureTools::splitPictureTriangles() {
  objMaterial scratch;
  mesh_.Im1.fill(QColor(0xC0, 0xC0, 0xC0));
  std::string name = inWork(splitPicture);
  askText("fname", name);
  if (!askInt("mintexturearea", mesh_.params.mintexturearea) || !askInt("qcolmaxdist", mesh_.params.colmaxdist)) return;
  if (!loadPicture(scratch.texture, name)) {
    core_.memoPrintf("cannot read picture %s", name);
    repaintPicture();
    return;
  }
  {
    QPainter p(&mesh_.Im1);
    p.drawImage(0, 0, scratch.texture);
  }
  const int w = scratch.texture.width(), h = scratch.texture.height();
  PixelTriangleQueue queue;
  queue.triPush({{{0, 0}, {w - 1, 0}, {0, h - 1}}});
  queue.triPush({{{w - 1, 0}, {w - 1, h - 1}, {0, h - 1}}});
  PixelTriangle t;
  // A bound on the pieces: a tiny area limit would otherwise split for ever.
  std::int64_t pieces = 0;
  const std::int64_t limit = std::int64_t(w) * h * 4 + 16;
  while (queue.triPop(t) && !mesh_.state.meshAbort) {
    MeshColour average = 0;
    std::int32_t last = 0;
    if (mesh_.writer.scanFaceTexels(average, last, scratch, t) && ++pieces < limit) {
      queue.triSplitLongest(t);
      continue;
    }
    const QRgb c = colourToPixel(colorFrom15(colorTo15(average)));
    for (std::int32_t x = std::max(t.p[0].x, 0); x <= last; ++x) {
      const std::int32_t start = t.triColumnStart(x), end = t.triColumnEnd(x);
      if (end > start) fillColumn(mesh_.Im1, x, start, end, c);
    }
  }
  repaintPicture();
}

// ---- single atlas ----

void TextureTools::packTextureAtlas() {
  const std::string folder = mesh_.workFolder();
  const std::string input = folder + "/hfd5.obj", output = folder + "/hfd7.obj", atlasName = folder + "/hfd7.jpg";
  if (!loadModel(mesh_, input)) return;
  struct Release {
    MeshTools& m;
    ~Release() { m.reader.freeObj(); }
  } release{mesh_};
  const ObjModel& m = mesh_.state.model;
  QImage atlas = newBitmap32(1024, 2048);
  atlas.fill(colourToPixel(0x7F7F7F));
  for (const objFace& f : m.faces) {
    const objMaterial& mat = m.materialOf(f);
    if (!mat.hasTexture()) continue;
    const int w = mat.texture.width(), h = mat.texture.height();
    const int lower = fileNamePart(mat.textureFile).find('d') != std::string::npos ? 1024 : 0;
    PixelTriangle t;
    for (int j = 0; j < 3; ++j)
      t.p[j] = {int(truncCoord(float(w) * f.uv[j].u)), int(truncCoord((1.0f - f.uv[j].v) * float(h)))};
    const int last = std::min(t.triSetup(), 4 * 1024 - 1);
    for (int x = std::max(t.p[0].x, 0); x <= last; ++x) {
      const int end = std::min(t.triColumnEnd(x), 4 * 1024 - 1);
      for (int y = std::max(t.triColumnStart(x), 0); y <= end; ++y)
        setPixelAt(atlas, x / 4, y / 4 + lower, texelAt(mat.texture, x, y));
    }
  }
  std::FILE* in = std::fopen(nativePath(input).c_str(), "rb");
  if (!in) {
    core_.memoPrintf("no file %s", input);
    return;
  }
  TextOutFile out(core_, output);
  if (!out.open()) {
    std::fclose(in);
    return;
  }
  int k = 1;
  char* buf = nullptr;
  std::size_t cap = 0;
  ssize_t n;
  while ((n = ::getline(&buf, &cap, in)) >= 0) {
    std::string_view line(buf, std::size_t(n));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.starts_with("vt")) {
      const char tag = std::size_t(k) < m.textureTags.size() ? m.textureTags[std::size_t(k)] : '\0';
      const TexCoord uv = std::size_t(k) < m.objvt.size() ? m.objvt[std::size_t(k)] : TexCoord{};
      if (tag == 'c') out.print("vt %4.4f %4.4f\n", double(uv.u), double(uv.v) * 0.5 + 0.5);
      else if (tag == 'd') out.print("vt %4.4f %4.4f\n", double(uv.u), double(uv.v) * 0.5);
      else {
        out.put("vt 0 0\n");
        core_.memoPrintf("vtidx %d :%d", k, int(tag));
      }
      ++k;
    } else if (line.starts_with("mtllib")) {
      out.put("mtllib hfd7.mtl\n");
    } else {
      out.put(line);
      out.put("\n");
    }
  }
  std::free(buf);
  std::fclose(in);
  core_.logVars("i", k, "idxvt", m.nextTexCoord);
  if (out.commit()) savePictureFile(core_, atlas, atlasName);
}

}  // namespace ph
