#include "host/mesh/ply_reader.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"

namespace ph {

namespace {

// A header that has not ended within this many bytes is not a PLY header.
constexpr std::size_t kHeaderLimit = 1 << 20;

bool typeOf(const std::string& word, PlyType& type) {
  static const struct {
    const char* name;
    PlyType type;
  } names[] = {{"char", PlyType::Int8},     {"int8", PlyType::Int8},       {"uchar", PlyType::UInt8},
               {"uint8", PlyType::UInt8},   {"short", PlyType::Int16},     {"int16", PlyType::Int16},
               {"ushort", PlyType::UInt16}, {"uint16", PlyType::UInt16},   {"int", PlyType::Int32},
               {"int32", PlyType::Int32},   {"uint", PlyType::UInt32},     {"uint32", PlyType::UInt32},
               {"float", PlyType::Float32}, {"float32", PlyType::Float32}, {"double", PlyType::Float64},
               {"float64", PlyType::Float64}};
  for (const auto& n : names)
    if (word == n.name) {
      type = n.type;
      return true;
    }
  return false;
}

std::size_t sizeOf(PlyType t) {
  switch (t) {
    case PlyType::Int8:
    case PlyType::UInt8: return 1;
    case PlyType::Int16:
    case PlyType::UInt16: return 2;
    case PlyType::Int32:
    case PlyType::UInt32:
    case PlyType::Float32: return 4;
    case PlyType::Float64: return 8;
  }
  return 4;
}

bool isIntegral(PlyType t) { return t != PlyType::Float32 && t != PlyType::Float64; }

// A colour channel as 0..255: integers as they stand (16-bit ones scaled
// down), floating-point ones as 0..1.
int channelOf(double v, PlyType t) {
  if (t == PlyType::Float32 || t == PlyType::Float64) v = v * 255.0 + 0.5;
  else if (t == PlyType::Int16 || t == PlyType::UInt16) v = v / 257.0;
  if (!(v > 0.0)) return 0;  // NaN too
  return v >= 255.0 ? 255 : int(v);
}

std::vector<std::string> wordsOf(const std::string& line) {
  std::vector<std::string> words;
  std::string_view rest = line;
  for (;;) {
    const std::string_view w = cutWordView(rest);
    if (w.empty()) break;
    words.emplace_back(w);
  }
  return words;
}

// Index of the first property of these names, -1 when none.
int propertyIndex(const PlyElement& e, std::initializer_list<const char*> names) {
  for (const char* n : names)
    for (std::size_t i = 0; i < e.properties.size(); ++i)
      if (e.properties[i].name == n) return int(i);
  return -1;
}

}  // namespace

bool PlyReader::refuse(const std::string& why) {
  st_.core.memoPrintf("%s: %s", name_, why);
  return false;
}

int PlyReader::getByte() {
  if (bufPos_ == bufEnd_) {
    if (buf_.empty()) buf_.resize(1 << 16);
    bufEnd_ = std::fread(buf_.data(), 1, buf_.size(), file_);
    bufPos_ = 0;
    if (bufEnd_ == 0) return -1;
  }
  return buf_[bufPos_++];
}

bool PlyReader::readBytes(unsigned char* out, std::size_t n) {
  while (n > 0) {
    if (bufPos_ == bufEnd_ && getByte() >= 0) --bufPos_;  // refill
    if (bufPos_ == bufEnd_) return false;
    const std::size_t take = std::min(n, bufEnd_ - bufPos_);
    std::memcpy(out, buf_.data() + bufPos_, take);
    bufPos_ += take;
    out += take;
    n -= take;
  }
  return true;
}

// One header line of any length; CR, LF and CR LF end it.
bool PlyReader::headerLine(std::string& line) {
  line.clear();
  for (;;) {
    const int c = getByte();
    if (c < 0) return !line.empty();
    if (c == '\n') break;
    if (c == '\r') {
      const int next = getByte();
      if (next >= 0 && next != '\n') --bufPos_;
      break;
    }
    line.push_back(char(c));
    if (line.size() > kHeaderLimit) return false;
  }
  ++line_;
  return true;
}

bool PlyReader::readHeader() {
  std::string line;
  std::size_t headerBytes = 0;
  if (!headerLine(line) || trimView(line) != "ply") return refuse("not a PLY file (no \"ply\" on its first line)");
  bool formatSeen = false;
  for (;;) {
    if (!headerLine(line)) return refuse("the header has no end_header line");
    headerBytes += line.size() + 1;
    if (headerBytes > kHeaderLimit) return refuse("the header has no end_header line");
    st_.core.memoPrintf("%s", line.size() > 200 ? line.substr(0, 200) + " ..." : line);
    const std::vector<std::string> w = wordsOf(line);
    // A texture is not read: its colours are lost, which the operator hears once.
    if (w.size() >= 3 && w[0] == "comment" && lowerCase(w[1]) == "texturefile" && !textureTold_) {
      textureTold_ = true;
      st_.core.memoPrintf("%s: texture file %s is not read; only vertex and face colours are used", name_, w[2]);
    }
    if (w.empty() || w[0] == "comment" || w[0] == "obj_info") continue;
    auto bad = [&](const std::string& what) { return refuse(plat::format("header line %d: %s", line_, what)); };
    if (w[0] == "end_header") break;
    if (w[0] == "format") {
      if (w.size() < 2) return bad("format without a name");
      if (w[1] == "ascii") format_ = PlyFormat::Ascii;
      else if (w[1] == "binary_little_endian") format_ = PlyFormat::BinaryLittleEndian;
      else if (w[1] == "binary_big_endian") format_ = PlyFormat::BinaryBigEndian;
      else return refuse(plat::format("unsupported format %s", w[1]));
      formatSeen = true;
    } else if (w[0] == "element") {
      double count = 0.0;
      if (w.size() != 3 || !parseNumber(w[2], count) || count < 0.0 || count != std::floor(count) ||
          count > double(std::numeric_limits<std::int32_t>::max()))
        return bad("element needs a name and a count of 0 to 2147483647");
      elements_.push_back({w[1], std::int64_t(count), {}});
    } else if (w[0] == "property") {
      if (elements_.empty()) return bad("property before any element");
      PlyProperty p;
      if (w.size() >= 2 && w[1] == "list") {
        if (w.size() != 5) return bad("a list property needs a count type, an item type and a name");
        if (!typeOf(w[2], p.countType) || !isIntegral(p.countType))
          return bad(plat::format("unknown list count type %s", w[2]));
        if (!typeOf(w[3], p.type)) return bad(plat::format("unknown property type %s", w[3]));
        p.list = true;
        p.name = w[4];
      } else {
        if (w.size() != 3) return bad("a property needs a type and a name");
        if (!typeOf(w[1], p.type)) return bad(plat::format("unknown property type %s", w[1]));
        p.name = w[2];
      }
      elements_.back().properties.push_back(p);
    } else {
      return bad(plat::format("unknown header word %s", w[0]));
    }
  }
  if (!formatSeen) return refuse("the header has no format line");
  line_ = 0;
  if (format_ == PlyFormat::Ascii) line_ = 1;
  return true;
}

bool PlyReader::asciiToken(std::string& token) {
  token.clear();
  int c = getByte();
  while (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
    if (c == '\n') ++line_;
    c = getByte();
  }
  while (c >= 0 && c != ' ' && c != '\t' && c != '\n' && c != '\r') {
    if (token.size() > 64) return false;
    token.push_back(char(c));
    c = getByte();
  }
  if (c >= 0) --bufPos_;
  return !token.empty();
}

bool PlyReader::readValue(PlyType type, double& value) {
  if (format_ == PlyFormat::Ascii) {
    std::string token;
    return asciiToken(token) && parseNumber(token, value);
  }
  unsigned char b[8];
  const std::size_t n = sizeOf(type);
  if (!readBytes(b, n)) return false;
  if (format_ == PlyFormat::BinaryBigEndian) std::reverse(b, b + n);
  std::uint64_t u = 0;
  for (std::size_t i = n; i-- > 0;) u = u << 8 | b[i];
  switch (type) {
    case PlyType::Int8: value = std::int8_t(u); break;
    case PlyType::UInt8: value = std::uint8_t(u); break;
    case PlyType::Int16: value = std::int16_t(u); break;
    case PlyType::UInt16: value = std::uint16_t(u); break;
    case PlyType::Int32: value = std::int32_t(u); break;
    case PlyType::UInt32: value = std::uint32_t(u); break;
    case PlyType::Float32: {
      const std::uint32_t u32 = std::uint32_t(u);
      float f;
      std::memcpy(&f, &u32, 4);
      value = f;
      break;
    }
    case PlyType::Float64: std::memcpy(&value, &u, 8); break;
  }
  return true;
}

bool PlyReader::readElement(const PlyElement& e) {
  ObjModel& m = st_.model;
  const bool isVertex = e.name == "vertex";
  const bool isFace = e.name == "face";
  const int ix = propertyIndex(e, {"x"}), iy = propertyIndex(e, {"y"}), iz = propertyIndex(e, {"z"});
  const int ir = propertyIndex(e, {"red", "diffuse_red", "r"});
  const int ig = propertyIndex(e, {"green", "diffuse_green", "g"});
  const int ib = propertyIndex(e, {"blue", "diffuse_blue", "b"});
  const bool coloured = ir >= 0 && ig >= 0 && ib >= 0;
  const int iIndices = propertyIndex(e, {"vertex_indices", "vertex_index"});
  if (isVertex) {
    if (haveVertices_) return refuse("a second vertex element");
    if (ix < 0 || iy < 0 || iz < 0) return refuse("the vertex element has no x, y and z");
    if (e.count >= std::int64_t(m.indexLimit))
      return refuse(plat::format("%lld vertices: more than %d cannot be read", (long long)e.count, m.indexLimit - 1));
    if (coloured) anyColour_ = true;
    haveVertices_ = true;
  }
  if (isFace) {
    if (iIndices < 0 || !e.properties[std::size_t(iIndices)].list)
      return refuse("the face element has no vertex_indices list");
    if (!haveVertices_) return refuse("the face element comes before the vertex element");
    if (coloured) anyColour_ = true;
  }
  if (!isVertex && !isFace && e.properties.empty()) return true;  // nothing to read
  const double scale = st_.scale;
  std::vector<double> values(e.properties.size());
  std::vector<std::int64_t> corners;
  const std::int64_t vertexCount = std::int64_t(m.allobjv.size());
  for (std::int64_t r = 0; r < e.count; ++r) {
    for (std::size_t p = 0; p < e.properties.size(); ++p) {
      const PlyProperty& prop = e.properties[p];
      auto ended = [&] {
        if (format_ == PlyFormat::Ascii)
          return refuse(plat::format("line %d: %s %lld, %s: not a number or the file ends", line_, e.name,
                                     (long long)r, prop.name));
        return refuse(plat::format("the file ends inside %s %lld of %lld", e.name, (long long)r, (long long)e.count));
      };
      if (!prop.list) {
        if (!readValue(prop.type, values[p])) return ended();
        continue;
      }
      double n = 0.0;
      if (!readValue(prop.countType, n)) return ended();
      if (n < 0.0 || n > double(kPlyMaxCorners) || n != std::floor(n))
        return refuse(plat::format("%s %lld: a list of %g entries (0 to %d are read)", e.name, (long long)r, n,
                                   int(kPlyMaxCorners)));
      const bool keep = isFace && int(p) == iIndices;
      if (keep) corners.clear();
      for (std::int64_t k = 0; k < std::int64_t(n); ++k) {
        double v = 0.0;
        if (!readValue(prop.type, v)) return ended();
        if (!keep) continue;
        if (!(v >= 0.0 && v < double(vertexCount)) || v != std::floor(v))
          return refuse(plat::format("face %lld: vertex index %g is out of range (0 to %lld)", (long long)r, v,
                                     (long long)vertexCount - 1));
        corners.push_back(std::int64_t(v));
      }
    }
    if (isVertex) {
      const float p[3] = {float(values[std::size_t(ix)] * scale), float(values[std::size_t(iy)] * scale),
                          float(values[std::size_t(iz)] * scale)};
      for (float v : p)
        if (!std::isfinite(v))
          return refuse(plat::format("%svertex %lld: a coordinate beyond the range of a float (3.4e38)",
                                     format_ == PlyFormat::Ascii ? plat::format("line %d: ", line_) : std::string(),
                                     (long long)r));
      m.allobjv.push_back({p[0], p[1], p[2]});
      if (coloured)
        m.allvtxcolor.push_back({double(channelOf(values[std::size_t(ir)], e.properties[std::size_t(ir)].type)),
                                 double(channelOf(values[std::size_t(ig)], e.properties[std::size_t(ig)].type)),
                                 double(channelOf(values[std::size_t(ib)], e.properties[std::size_t(ib)].type))});
    } else if (isFace && corners.size() >= 3) {
      MeshColour colour = kNoColour;
      if (coloured) {
        colour = channelOf(values[std::size_t(ir)], e.properties[std::size_t(ir)].type) |
                 channelOf(values[std::size_t(ig)], e.properties[std::size_t(ig)].type) << 8 |
                 channelOf(values[std::size_t(ib)], e.properties[std::size_t(ib)].type) << 16;
      } else if (!m.allvtxcolor.empty()) {
        std::int64_t sum[3] = {0, 0, 0};
        for (std::int64_t c : corners) {
          const vect3& vc = m.allvtxcolor[std::size_t(c)];
          sum[0] += std::int64_t(vc.x);
          sum[1] += std::int64_t(vc.y);
          sum[2] += std::int64_t(vc.z);
        }
        const std::int64_t n = std::int64_t(corners.size());
        colour = MeshColour(sum[0] / n | (sum[1] / n) << 8 | (sum[2] / n) << 16);
      }
      if (!m.roomForFaces(std::int64_t(corners.size()) - 2))
        return refuse(plat::format("face %lld: more than %lld triangles, the limit of a model", (long long)r,
                                   (long long)m.faceLimit));
      for (std::size_t j = 2; j < corners.size(); ++j) {
        objFace f;
        const std::int64_t idx[3] = {corners[0], corners[j - 1], corners[j]};
        for (int k = 0; k < 3; ++k) {
          f.positions[k] = m.allobjv[std::size_t(idx[k])];
          f.vertex[k] = std::int32_t(idx[k]);
        }
        f.colour = colour;
        f.material = ObjModel::kDefaultMaterial;
        m.faces.push_back(f);
      }
      ++faceCount_;
    }
    if ((r & 0x3FFF) == 0x3FFF) {
      st_.meshProgress();
      st_.core.ui.processEvents();
      if (st_.stopRequested()) return refuse("stopped");
    }
  }
  return true;
}

bool PlyReader::loadPly(const std::string& path) {
  name_ = path;
  elements_.clear();
  haveVertices_ = anyColour_ = false;
  faceCount_ = 0;
  line_ = 0;
  bufPos_ = bufEnd_ = 0;
  ObjModel& m = st_.model;
  textureTold_ = false;
  std::string why;
  FilePtr f = openRegularFile(path, why);
  if (!f) {
    st_.scale = 1.0f;
    return refuse("cannot read from file (" + why + ")");
  }
  file_ = f.get();
  bool ok = false;
  try {
    ok = readHeader();
    for (std::size_t i = 0; ok && i < elements_.size(); ++i) ok = readElement(elements_[i]);
    if (ok && !haveVertices_) ok = refuse("the file has no vertex element");
  } catch (const std::bad_alloc&) {
    st_.core.ui.showMessage(name_ + ": insufficient memory");
    ok = false;
  }
  if (ok && std::ferror(file_)) ok = refuse("the file could not be read");
  file_ = nullptr;
  st_.scale = 1.0f;
  if (ok) {
    if (!anyColour_) st_.core.memoPrintf("%s has no colours: its faces take the slicer's default colour", name_);
    m.idxv = std::int32_t(m.allobjv.size());
    m.hasVertexColors = true;
    st_.core.logVars("facecount", int(faceCount_), "vertexcount", int(m.allobjv.size()), "triangles",
                     int(m.faces.size()));
  }
  return ok;
}

}  // namespace ph
