#include "host/mesh/obj_reader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cstdlib>
#include <new>
#include <set>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/core/value_dialogs.h"
#include "host/mesh/mesh_pictures.h"
#include "host/mesh/mesh_text.h"
#include "platform/program_end.h"

namespace ph {

namespace {

constexpr int kLinesPerProgress = 16384;
constexpr int kVerticesPerProgress = 25000;

// The keyword at the front of a line: a run of letters, digits and "_", or
// the one character that stands there.
std::string_view keyword(std::string_view& line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  std::size_t j = i;
  auto wordChar = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
  };
  while (j < line.size() && wordChar(line[j])) ++j;
  if (j == i && j < line.size()) ++j;
  const std::string_view k = line.substr(i, j - i);
  line.remove_prefix(j);
  return k;
}

bool parseInt(std::string_view text, std::int32_t& out) {
  if (text.empty()) return false;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), out);
  return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

int countWords(std::string_view text) {
  int n = 0;
  while (!cutWordView(text).empty()) ++n;
  return n;
}

// A texture channel of the MTL file, given as 0..1; values outside are
// clamped so they never run into the next channel.
int channelFromUnit(double c) {
  if (c < 0.0) c = 0.0;
  if (c > 1.0) c = 1.0;
  return int(c * 255.0);
}

// The lines of an options file; a file that is there but cannot be read
// whole is told and gives none.
std::vector<std::string> readOptionLines(HostCore& core, const std::string& path) {
  std::vector<std::string> lines;
  if (regularFileProblem(path) == std::strerror(ENOENT)) return lines;
  std::string why;
  FilePtr f = openRegularFile(path, why);
  if (!f) {
    core.memoPrintf("cannot read from file: %s (%s)", path, why);
    return lines;
  }
  LineReader reader(f.get());
  std::string line;
  LineReader::Result r;
  while ((r = reader.next(line)) == LineReader::Result::Line) lines.push_back(line);
  if (r != LineReader::Result::End) {
    core.memoPrintf("%s line %d: %s; its offsets and contrast are not used", path, reader.number(),
                    std::string(LineReader::problem(r)));
    lines.clear();
  }
  return lines;
}

}  // namespace

bool ObjReader::readLine(std::string& line) {
  const LineReader::Result r = lines_->next(line);
  if (r == LineReader::Result::Line) return true;
  if (r != LineReader::Result::End) {
    lineNumber_ = lines_->number();
    lineText_ = {};
    refuse(LineReader::problem(r));
    readFailed_ = true;
  }
  return false;
}

bool ObjReader::refuse(const std::string& what) {
  st_.core.memoPrintf("%s line %d: %s", fileName_, lineNumber_, what.size() > 300 ? what.substr(0, 300) + " ..." : what);
  // A long line is shown by its start only.
  if (lineText_.size() > 200) st_.core.memoPrintf("%s ...", std::string(lineText_.substr(0, 200)));
  else if (!lineText_.empty()) st_.core.memoPrintf("%s", lineText_);
  return false;
}

void ObjReader::progress(long position) {
  if (fileSize_ > 0) showProgress(st_.core, int(double(position) * 98.0 / double(fileSize_)));
  st_.meshProgress();
}

bool MeshState::stopRequested() {
  if (meshAbort) return true;
  const int signal = plat::endSignalPending();
  if (signal == 0) return false;
  if (!stopTold_) core.memoPrintf("stopped by a termination request (signal %d)", signal);
  stopTold_ = true;
  meshAbort = true;
  return true;
}

void MeshState::meshProgress() {
  const std::int64_t now = core.clock.tickMs();
  if (lastProgressLog_ && now - *lastProgressLog_ < 5000) return;
  lastProgressLog_ = now;
  core.memoPrintf("L%d vtx:%d f:%d", linesRead, model.idxv, maxInt(facetsWritten, facesRead));
}

void ObjReader::objPrescan(std::FILE* file) {
  ObjModel& m = st_.model;
  std::int64_t vertices = 0, texCoords = 0;
  std::string line, sample;
  LineReader lines(file);
  lines_ = &lines;
  while (readLine(line)) {
    if (line.compare(0, 2, "v ") == 0) {
      if (vertices++ == 0) sample = line;
    } else if (line.compare(0, 3, "vt ") == 0) {
      ++texCoords;
    }
  }
  lines_ = nullptr;
  std::rewind(file);
  const std::int64_t limit = m.indexLimit;
  vertices = vertices < limit ? vertices : limit;
  texCoords = texCoords < limit ? texCoords : limit;
  int colourCapacity = 0;
  try {
    m.allobjv.reserve(std::size_t(vertices + 1));
    if (countWords(sample) > 5 && !st_.options.ignoreVtxColors) {
      m.allvtxcolor.reserve(std::size_t(vertices + 1));
      colourCapacity = int(vertices + 1);
    }
    if (!st_.options.ignoreTexture) {
      m.objvt.reserve(std::size_t(texCoords + 1));
      m.textureTags.reserve(std::size_t(texCoords + 1));
    }
  } catch (const std::bad_alloc&) {
    st_.core.ui.showMessage("insufficient Memory");
    st_.meshAbort = true;
  }
  st_.core.logVars("Sizeallobjv", int(m.allobjv.capacity()), "Sizeobjvt", int(m.objvt.capacity()), "Sizeallvtxcolor",
                   colourCapacity);
}

bool ObjReader::loadObj(std::FILE* file, const std::string& name) {
  ObjModel& m = st_.model;
  fileName_ = name;
  file_ = file;
  st_.conversionCounter = 0;
  st_.facetsWritten = 0;
  st_.facesRead = 0;
  const long start = std::ftell(file);
  if (std::fseek(file, 0, SEEK_END) == 0) fileSize_ = std::ftell(file);
  std::fseek(file, start < 0 ? 0 : start, SEEK_SET);
  m.hasVertexColors = false;
  m.maxColorComponent = -1;
  st_.meshAbort = false;
  m.defaultMaterial = ObjModel::plainMaterial();
  currentMaterial_ = ObjModel::kDefaultMaterial;
  m.idxv = 1;
  m.nextTexCoord = 1;
  m.allobjv.assign(1, vect3{});
  m.allvtxcolor.clear();
  m.objvt.assign(1, TexCoord{});
  m.textureTags.assign(1, '\0');
  st_.linesRead = 0;
  lineNumber_ = 0;
  nextVertexMark_ = 1;

  bool ok = true;
  readFailed_ = false;
  toldDuplicates_.clear();
  mtlLibraries_.clear();
  toldLibraries_.clear();
  pictures_.clear();
  LineReader lines(file);
  lines_ = &lines;
  std::string line, more;
  try {
    while (ok && !st_.stopRequested() && readLine(line)) {
      ++st_.linesRead;
      lineNumber_ = st_.linesRead;
      // A line ending in "\" goes on in the next one.
      while (!line.empty() && line.back() == '\\') {
        line.pop_back();
        if (readLine(more)) {
          ++st_.linesRead;
          line += more;
          if (line.size() > kMaxLineBytes) {
            ok = refuse(LineReader::problem(LineReader::Result::TooLong));
            break;
          }
        } else {
          line += ' ';
        }
      }
      if (!ok) break;
      if (st_.linesRead % kLinesPerProgress == 0) progress(std::ftell(file));
      std::string_view rest = trimView(line);
      lineText_ = rest;
      const std::string_view kind = keyword(rest);
      if (kind == "v") {
        growing_ = "allobjv";
        ok = vertexLine(rest);
      } else if (kind == "vt") {
        growing_ = "objvt";
        ok = texCoordLine(rest);
      } else if (kind == "f") {
        growing_ = "faces";
        ok = faceLine(rest);
      } else if (kind == "usemtl") {
        currentMaterial_ = findMaterial(std::string(trimView(rest)));
      } else if (kind == "mtllib") {
        growing_ = "materials";
        ok = loadMtl(std::string(trimView(rest)));
      }
    }
  } catch (const std::bad_alloc&) {
    st_.core.ui.showMessage(std::string(growing_) + " insufficient memory ");
    ok = false;
  }
  lines_ = nullptr;
  if (readFailed_) ok = false;
  st_.core.ui.showProgress(0);
  if (!ok) return false;
  if (st_.meshAbort) {
    st_.core.memoPrintf("%s: reading stopped at line %d", fileName_, lineNumber_);
    return false;
  }
  st_.meshProgress();
  st_.core.memoPrintf("obj loaded");
  st_.scale = 1.0f;
  return true;
}

bool ObjReader::vertexLine(std::string_view args) {
  ObjModel& m = st_.model;
  double c[3];
  for (double& v : c) {
    const std::string_view word = cutWordView(args);
    if (word.empty()) return refuse("a vertex needs three coordinates");
    if (!parseNumber(word, v)) return refuse("'" + std::string(word) + "' is not a number");
  }
  std::int32_t n = 0;
  if (!m.nextIndex(m.idxv, n)) {
    st_.meshAbort = true;
    st_.core.memoPrintf("too many vectors (max %d)", ObjModel::kIndexLimit);
    return false;
  }
  const double s = st_.scale;
  const float p[3] = {float(c[0] * s), float(c[1] * s), float(c[2] * s)};
  for (float v : p)
    if (!std::isfinite(v)) return refuse("a coordinate beyond the range of a float (3.4e38)");
  if (m.allobjv.size() <= std::size_t(n)) m.allobjv.resize(std::size_t(n) + 1);
  m.allobjv[std::size_t(n)] = {p[0], p[1], p[2]};
  if (m.idxv >= nextVertexMark_) {
    nextVertexMark_ += nextVertexMark_ == 1 ? kVerticesPerProgress - 1 : kVerticesPerProgress;
    progress(std::ftell(file_));
  }
  if (st_.options.ignoreVtxColors) return true;
  // After x y z: nothing, the weight w of the OBJ format, or a colour.
  const std::string_view rest = trimView(args);
  const int words = countWords(rest);
  if (words == 2) return refuse("a vertex colour needs three numbers");
  if (words >= 3 && !m.hasVertexColors) {
    m.hasVertexColors = true;
    growing_ = "allvtxcolor";
    m.allvtxcolor.assign(std::size_t(n), vect3{});
  }
  if (!m.hasVertexColors) return true;
  double rgb[3] = {0.0, 0.0, 0.0};
  if (words >= 3) {
    std::string_view r = rest;
    for (double& v : rgb) {
      const std::string_view word = cutWordView(r);
      if (!parseNumber(word, v)) return refuse("'" + std::string(word) + "' is not a colour number");
      // Either scale (0..1 or 0..255) fits in 0..255; the face colour
      // clamps to the scale the file uses.
      v = v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
      if (int(v) > m.maxColorComponent) m.maxColorComponent = int(v);
    }
  }
  if (m.allvtxcolor.size() <= std::size_t(n)) m.allvtxcolor.resize(std::size_t(n) + 1);
  m.allvtxcolor[std::size_t(n)] = {rgb[0], rgb[1], rgb[2]};
  return true;
}

bool ObjReader::texCoordLine(std::string_view args) {
  if (st_.options.ignoreTexture) return true;
  ObjModel& m = st_.model;
  double c[2];
  for (double& v : c) {
    const std::string_view word = cutWordView(args);
    if (word.empty()) return refuse("a texture coordinate needs two numbers");
    if (!parseNumber(word, v)) return refuse("'" + std::string(word) + "' is not a number");
  }
  if (!std::isfinite(float(c[0])) || !std::isfinite(float(c[1])))
    return refuse("a texture coordinate beyond the range of a float (3.4e38)");
  std::int32_t n = 0;
  if (!m.nextIndex(m.nextTexCoord, n)) {
    st_.meshAbort = true;
    st_.core.memoPrintf("too many vectors (max %d)", ObjModel::kIndexLimit);
    return false;
  }
  if (m.objvt.size() <= std::size_t(n)) {
    m.objvt.resize(std::size_t(n) + 1);
    m.textureTags.resize(std::size_t(n) + 1, '\0');
  }
  m.objvt[std::size_t(n)] = {float(c[0]), float(c[1])};
  return true;
}

bool ObjReader::parseGroup(std::string_view word, Group& g) {
  const ObjModel& m = st_.model;
  const std::string text(word);
  std::string_view parts[3];
  int count = 0;
  for (std::string_view w = word; count < 3;) {
    const auto slash = w.find('/');
    parts[count++] = w.substr(0, slash);
    if (slash == std::string_view::npos) break;
    w.remove_prefix(slash + 1);
    if (count == 3) return refuse("'" + text + "' is not a vertex of a face");
  }
  std::int32_t v = 0;
  if (!parseInt(parts[0], v)) return refuse("'" + text + "' is not a vertex of a face");
  // Negative numbers count back from the last vertex read.
  const std::int32_t last = m.idxv - 1;
  const std::int64_t resolved = v < 0 ? std::int64_t(last) + 1 + v : v;
  if (v == 0 || resolved < 1 || resolved > last)
    return refuse(plat::format("vertex %d does not exist (vertices 1 to %d are read so far)", v, last));
  g.v = std::int32_t(resolved);
  g.vt = 0;
  if (count >= 2 && !parts[1].empty() && !st_.options.ignoreTexture) {
    std::int32_t t = 0;
    if (!parseInt(parts[1], t)) return refuse("'" + text + "' is not a vertex of a face");
    const std::int32_t lastT = m.nextTexCoord - 1;
    const std::int64_t r = t < 0 ? std::int64_t(lastT) + 1 + t : t;
    if (t == 0 || r < 1 || r > lastT)
      return refuse(plat::format("texture coordinate %d does not exist (1 to %d are read so far)", t, lastT));
    g.vt = std::int32_t(r);
  }
  if (count == 3 && !parts[2].empty()) {
    std::int32_t unused = 0;
    if (!parseInt(parts[2], unused)) return refuse("'" + text + "' is not a vertex of a face");
  }
  return true;
}

bool ObjReader::faceLine(std::string_view args) {
  ++st_.facesRead;
  thread_local std::vector<Group> groups;
  groups.clear();
  for (std::string_view word = cutWordView(args); !word.empty(); word = cutWordView(args)) {
    Group g;
    if (!parseGroup(word, g)) return false;
    groups.push_back(g);
  }
  if (groups.size() < 3) return refuse("a face needs at least three vertices");
  if (!st_.model.roomForFaces(std::int64_t(groups.size()) - 2))
    return refuse(plat::format("more than %lld triangles, the limit of a model", (long long)st_.model.faceLimit));
  // Files list their vertices first, and a closed mesh has about twice as
  // many triangles as vertices: room for them at once saves copying the
  // face list while it grows.
  std::vector<objFace>& faces = st_.model.faces;
  if (faces.empty() && faces.capacity() == 0)
    faces.reserve(std::size_t(std::min<std::int64_t>(std::int64_t(st_.model.idxv) * 2 + 16, st_.model.faceLimit)));
  // The tag of the texture: the last character of its name before a
  // three-letter extension, as in name_c.jpg.
  const std::string& tex = st_.model.material(currentMaterial_).textureFile;
  const char tag = tex.size() > 5 ? tex[tex.size() - 5] : ' ';
  // A polygon is a fan of triangles around its first vertex.
  for (std::size_t i = 1; i + 1 < groups.size(); ++i) addTriangle(groups[0], groups[i], groups[i + 1], tag);
  return true;
}

void ObjReader::addTriangle(const Group& a, const Group& b, const Group& c, char tag) {
  ObjModel& m = st_.model;
  objFace f;
  f.material = currentMaterial_;
  const Group* g[3] = {&a, &b, &c};
  const bool unitScale = m.maxColorComponent < 2;
  double sum[3] = {0.0, 0.0, 0.0};
  for (int k = 0; k < 3; ++k) {
    f.positions[k] = m.allobjv[std::size_t(g[k]->v)];
    if (m.hasVertexColors) {
      f.vertex[k] = g[k]->v;
      const vect3 col = m.allvtxcolor[std::size_t(g[k]->v)];
      const double ch[3] = {col.x, col.y, col.z};
      for (int j = 0; j < 3; ++j) sum[j] += unitScale && ch[j] > 1.0 ? 1.0 : ch[j];
    }
    if (g[k]->vt > 0) {
      m.textureTags[std::size_t(g[k]->vt)] = tag;
      f.vt[k] = g[k]->vt;
      f.uv[k] = m.objvt[std::size_t(g[k]->vt)];
    }
  }
  if (st_.options.obj_file_is_Inside_Out) std::swap(f.positions[1], f.positions[2]);
  if (m.hasVertexColors) {
    int rgb[3];
    for (int j = 0; j < 3; ++j) {
      double v = (unitScale ? sum[j] * 255.0 : sum[j]) / 3.0 + st_.options.brightenVtxColors;
      v = v < 0.0 ? 0.0 : v > 255.0 ? 255.0 : v;
      rgb[j] = int(v);
    }
    f.colour = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
  }
  m.faces.push_back(f);
}

std::int32_t ObjReader::findMaterial(const std::string& name) {
  const std::int32_t i = st_.model.materialIndex(name);
  if (i >= 0) return i;
  st_.core.memoPrintf("material not found: %s", name);
  return ObjModel::kGreyMatter;
}

bool ObjReader::loadMtl(const std::string& name) {
  ObjModel& m = st_.model;
  const std::string path = st_.inWorkingFolder(name);
  if (!mtlLibraries_.insert(path).second) {
    // The same library again adds nothing but copies of its materials.
    if (toldLibraries_.insert(path).second)
      st_.core.memoPrintf("%s is read already: not read again", path);
    return true;
  }
  if (regularFileProblem(path) == std::strerror(ENOENT)) {
    // Faces of its materials take grey; the model is still converted.
    st_.core.memoPrintf("cannot read from file: %s", path);
    return true;
  }
  std::string why;
  FilePtr f = openRegularFile(path, why);
  if (!f) {
    st_.core.memoPrintf("cannot read from file: %s (%s)", path, why);
    return false;
  }
  st_.contrast = 100;
  const std::vector<std::string> options = readOptionLines(st_.core, path + "o");
  for (std::size_t i = 0; i + 1 < options.size(); ++i)
    if (options[i] == "contrastpercentage") st_.contrast = textToInt(trimmed(options[i + 1]));

  LineReader lines(f.get());
  std::int32_t current = -1;
  std::string line;
  bool ok = true;
  auto refuseMtl = [&](const std::string& what) {
    st_.core.memoPrintf("%s line %d: %s", path, lines.number(), what);
    ok = false;
  };
  LineReader::Result r;
  while (ok && (r = lines.next(line)) == LineReader::Result::Line) {
    std::string_view rest = line;
    const std::string_view key = keyword(rest);
    if (key == "newmtl") {
      const std::string mtlName(trimView(rest));
      // Said once per name, however many copies follow.
      if (m.materialIndex(mtlName) >= 0 && toldDuplicates_.insert(mtlName).second)
        st_.core.memoPrintf("ERROR duplicate material: %s", mtlName);
      objMaterial added;
      added.name = mtlName;
      added.noColour = true;
      m.materials.push_back(std::move(added));
      current = std::int32_t(m.materials.size() - 1);
      continue;
    }
    if (current < 0) continue;
    objMaterial& mat = m.materials[std::size_t(current)];
    if (key == "Kd") {
      int rgb[3];
      for (int& ch : rgb) {
        double v;
        const std::string_view word = cutWordView(rest);
        if (!parseNumber(word, v)) {
          refuseMtl("Kd needs three numbers, '" + std::string(word) + "' is not one");
          break;
        }
        ch = channelFromUnit(v);
      }
      if (ok) {
        mat.Kd = rgb[0] | rgb[1] << 8 | rgb[2] << 16;
        mat.noColour = false;
      }
    } else if (key == "d") {
      double v;
      const std::string_view word = cutWordView(rest);
      if (!parseNumber(word, v)) refuseMtl("'" + std::string(word) + "' is not a number");
      else mat.dissolve = float(v);
    } else if (key == "map_Kd") {
      texture(mat, std::string(trimView(rest)), options);
    }
  }
  if (ok && r != LineReader::Result::End) refuseMtl(LineReader::problem(r));
  return ok;
}

void ObjReader::texture(objMaterial& m, const std::string& name, const std::vector<std::string>& options) {
  HostCore& core = st_.core;
  const std::string ext = extensionOf(name);
  if (std::string(".jpg.jpeg.bmp.png.tga.targa.gif.tif.").find("." + ext + ".") == std::string::npos) {
    core.ui.showMessage(plat::format("unknow texture file type: %s", name));
    return;
  }
  m.textureKey = lowerCase(name);
  for (std::size_t i = 0; i + 1 < options.size(); ++i) {
    if (lowerCase(options[i]) != m.textureKey) continue;
    const std::string& xy = options[i + 1];
    m.offsetX = textToInt(trimmed(splitAt(xy, ',', false)));
    m.offsetY = textToInt(trimmed(splitAt(xy, ',', true)));
  }
  const std::string path = st_.inWorkingFolder(name);
  if (!fileExists(path)) {
    core.ui.showMessage("no file" + name);
    return;
  }
  // Materials that share a picture share one decoded copy of it.
  auto known = pictures_.find(path);
  if (known == pictures_.end()) {
    QImage picture;
    const std::string why = regularFileProblem(path);
    if (!why.empty())
      core.memoPrintf("texture %s cannot be read (%s): its faces take the colour of material %s", path, why, m.name);
    else if (!loadTexture(picture, path))
      core.memoPrintf("texture %s cannot be read: its faces take the colour of material %s", path, m.name);
    known = pictures_.emplace(path, std::move(picture)).first;
  }
  if (known->second.isNull()) return;
  m.texture = known->second;
  m.textureFile = name;
  if (!st_.saveTextures) return;
  for (const objMaterial& other : st_.model.materials) {
    if (&other == &m) break;
    if (other.workingCopy && other.textureFile == name) {
      m.workingCopy = other.workingCopy;
      return;
    }
  }
  m.workingCopy = std::make_shared<QImage>(m.texture.copy());
}

void ObjReader::freeObj() {
  ObjModel& m = st_.model;
  if (st_.saveTextures) {
    std::set<const QImage*> saved;
    for (const objMaterial& mat : m.materials) {
      if (!mat.workingCopy || !saved.insert(mat.workingCopy.get()).second) continue;
      const std::string out = st_.inWorkingFolder(fileCore(mat.textureFile) + "_a.jpg");
      if (!saveJpeg(*mat.workingCopy, out)) st_.core.memoPrintf("unable to write to file: %s", out);
    }
  }
  std::vector<objMaterial>().swap(m.materials);
  std::vector<objFace>().swap(m.faces);
  std::vector<vect3>().swap(m.allobjv);
  std::vector<vect3>().swap(m.allvtxcolor);
  std::vector<TexCoord>().swap(m.objvt);
  std::vector<char>().swap(m.textureTags);
  m.idxv = 1;
  m.nextTexCoord = 1;
  m.hasVertexColors = false;
}

}  // namespace ph
