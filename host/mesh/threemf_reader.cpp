#include "host/mesh/threemf_reader.h"

#include <expat.h>
#include <fcntl.h>
#include <unistd.h>
#include <zip.h>

#include <QDir>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_pictures.h"
#include "host/mesh/mesh_text.h"

namespace ph {

namespace {

// Pictures larger than this are not read into memory.
constexpr std::uint64_t kPictureLimit = std::uint64_t(1) << 28;
// Components nest at most this deep, and a package has at most this many
// model parts.
constexpr int kComponentDepth = 64;
constexpr std::size_t kPartCount = 4096;
const char kModelRelType[] = "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel";
// Attributes of another namespace carry it before "|".
const char kProductionPath[] = "http://schemas.microsoft.com/3dmanufacturing/production/2015/06|path";

struct ZipCloser {
  void operator()(zip_t* z) const {
    if (z) zip_discard(z);
  }
};

// "#RRGGBB" or "#RRGGBBAA" (alpha ignored) as red | green << 8 | blue << 16.
bool parseColour(std::string_view v, MeshColour& out) {
  if ((v.size() != 7 && v.size() != 9) || v[0] != '#') return false;
  unsigned value = 0;
  for (std::size_t i = 1; i < v.size(); ++i) {
    const char c = v[i];
    const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (d < 0) return false;
    if (i <= 6) value = value << 4 | unsigned(d);
  }
  out = MeshColour((value >> 16 & 0xFF) | (value & 0xFF00) | (value & 0xFF) << 16);
  return true;
}

bool unitScale(std::string_view unit, double& scale) {
  static const struct {
    const char* name;
    double mm;
  } units[] = {{"micron", 0.001}, {"millimeter", 1.0}, {"centimeter", 10.0},
               {"inch", 25.4},     {"foot", 304.8},     {"meter", 1000.0}};
  if (unit.empty()) {
    scale = 1.0;
    return true;
  }
  for (const auto& u : units)
    if (unit == u.name) {
      scale = u.mm;
      return true;
    }
  return false;
}

// XML attribute values may carry blanks around a number.
std::string_view blanksTrimmed(std::string_view v) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!v.empty() && blank(v.front())) v.remove_prefix(1);
  while (!v.empty() && blank(v.back())) v.remove_suffix(1);
  return v;
}

bool wholeNumber(std::string_view v, int& out) {
  v = blanksTrimmed(v);
  if (!v.empty() && v[0] == '+') v.remove_prefix(1);
  if (v.empty() || v[0] == '+') return false;
  const auto r = std::from_chars(v.data(), v.data() + v.size(), out);
  return r.ec == std::errc() && r.ptr == v.data() + v.size();
}

// A whole model part as a "/"-rooted name, "\" read as "/".
std::string partName(std::string name) {
  std::replace(name.begin(), name.end(), '\\', '/');
  if (name.empty() || name[0] != '/') name.insert(0, "/");
  return name;
}

struct Attributes {
  std::vector<std::pair<std::string_view, std::string_view>> list;
  std::string_view get(std::string_view name) const {
    for (const auto& [n, v] : list)
      if (n == name) return v;
    return {};
  }
};

}  // namespace

// ---- transforms ----

vect3 MfTransform::apply(const vect3& p) const {
  return {p.x * m[0][0] + p.y * m[1][0] + p.z * m[2][0] + m[3][0],
          p.x * m[0][1] + p.y * m[1][1] + p.z * m[2][1] + m[3][1],
          p.x * m[0][2] + p.y * m[1][2] + p.z * m[2][2] + m[3][2]};
}

MfTransform MfTransform::then(const MfTransform& outer) const {
  MfTransform r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 3; ++j) {
      double s = i == 3 ? outer.m[3][j] : 0.0;
      for (int k = 0; k < 3; ++k) s += m[i][k] * outer.m[k][j];
      r.m[i][j] = s;
    }
  return r;
}

double MfTransform::determinant() const {
  return m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
         m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
}

std::size_t MfGroup::size() const {
  switch (kind) {
    case Kind::Colours: return colours.size();
    case Kind::TexCoords: return coords.size();
    case Kind::Multi: return multis.size();
  }
  return 0;
}

// ---- the elements of a model part ----

// Turns the elements of one model part into resources, objects and build
// items of the document; every reference is checked where it is read.
class MfModelBuilder {
 public:
  MfModelBuilder(ThreeMfReader& reader, int part) : r_(reader), doc_(reader.doc_), part_(part) {}

  // A cross-part reference to resolve when every part is read.
  struct Pending {
    std::size_t object;  // index of the object, or SIZE_MAX for a build item
    std::size_t entry;   // component or build item
    std::string part;
    int id;
  };
  std::vector<Pending> pending;
  long long line = 0;

  bool start(std::string_view n, const Attributes& a);
  void end(std::string_view n) {
    if (n == "object") object_ = nullptr;
    else if (n == "basematerials" || n == "colorgroup" || n == "texture2dgroup" || n == "multiproperties")
      group_ = nullptr;
    else if (n == "build") inBuild_ = false;
  }
  bool finish() {
    if (!modelSeen_) return r_.refuse("no 3MF model in the file");
    return true;
  }
  bool fail(const std::string& why) {
    return r_.refuse(plat::format("%s line %lld: %s", doc_.parts[std::size_t(part_)], line, why));
  }

 private:
  MfKey key(int id) const { return mfKey(part_, id); }
  bool number(const Attributes& a, const char* name, double& out) {
    return parseNumber(blanksTrimmed(a.get(name)), out);
  }
  // A whole number attribute, not negative; `fallback` when absent.
  bool integer(const Attributes& a, const char* name, int& out, int fallback) {
    const std::string_view v = a.get(name);
    if (v.empty()) {
      out = fallback;
      return fallback != INT32_MIN;
    }
    return wholeNumber(v, out) && out >= 0;
  }
  bool transform(const Attributes& a, MfTransform& t) {
    std::string_view v = a.get("transform");
    if (blanksTrimmed(v).empty()) return true;
    int i = 0;
    for (;;) {
      while (!v.empty() && (v[0] == ' ' || v[0] == '\t' || v[0] == '\n' || v[0] == '\r')) v.remove_prefix(1);
      if (v.empty()) break;
      std::size_t j = 0;
      while (j < v.size() && v[j] != ' ' && v[j] != '\t' && v[j] != '\n' && v[j] != '\r') ++j;
      double d = 0.0;
      if (i >= 12 || !parseNumber(v.substr(0, j), d)) return false;
      t.m[std::size_t(i / 3)][std::size_t(i % 3)] = d;
      ++i;
      v.remove_prefix(j);
    }
    return i == 12;
  }
  bool newId(const Attributes& a, int& id) {
    if (!integer(a, "id", id, INT32_MIN) || id == 0) return fail("a resource without a valid id");
    const MfKey k = key(id);
    if (doc_.groups.count(k) || doc_.textures.count(k) || doc_.objectIndex.count(k))
      return fail(plat::format("resource id %d is used twice", id));
    return true;
  }
  bool checkProperty(int pid, int index) {
    auto g = doc_.groups.find(key(pid));
    if (g == doc_.groups.end()) return fail(plat::format("property group %d does not exist", pid));
    if (index < 0 || std::size_t(index) >= g->second.size())
      return fail(plat::format("property %d of group %d does not exist (it has %d)", index, pid,
                               int(g->second.size())));
    return true;
  }
  // The model part a "path" attribute names, "" for this one.
  std::string otherPart(const Attributes& a) const {
    const std::string_view path = a.get(kProductionPath);
    if (path.empty()) return {};
    std::string p = partName(std::string(path));
    return p == doc_.parts[std::size_t(part_)] ? std::string() : p;
  }

  ThreeMfReader& r_;
  ThreeMfDocument& doc_;
  int part_;
  MfObject* object_ = nullptr;
  MfGroup* group_ = nullptr;
  bool modelSeen_ = false, inBuild_ = false;
};

bool MfModelBuilder::start(std::string_view n, const Attributes& a) {
  // The most frequent elements first.
  if (n == "vertex") {
    if (!object_) return fail("vertex outside an object");
    double x = 0, y = 0, z = 0;
    if (!number(a, "x", x) || !number(a, "y", y) || !number(a, "z", z) || !std::isfinite(float(x)) ||
        !std::isfinite(float(y)) || !std::isfinite(float(z)))
      return fail(plat::format("object %d vertex %d: x, y and z must be numbers within the range of a float (3.4e38)",
                               object_->id, int(object_->vertices.size())));
    if (object_->vertices.size() + 1 >= std::size_t(r_.st_.model.indexLimit))
      return fail(plat::format("object %d has more than %d vertices", object_->id, r_.st_.model.indexLimit - 2));
    object_->vertices.push_back({x, y, z});
  } else if (n == "triangle") {
    if (!object_) return fail("triangle outside an object");
    MfTriangle t;
    const int count = int(object_->vertices.size());
    const int index = int(object_->triangles.size());
    static const char* const vnames[3] = {"v1", "v2", "v3"};
    for (int k = 0; k < 3; ++k) {
      int v = 0;
      if (!integer(a, vnames[k], v, INT32_MIN) || v >= count)
        return fail(plat::format("object %d triangle %d: %s is not a vertex (0 to %d)", object_->id, index,
                                 std::string(vnames[k]), count - 1));
      t.v[k] = v;
    }
    int pid = 0;
    if (!integer(a, "pid", pid, 0))
      return fail(plat::format("object %d triangle %d: pid is not a resource id", object_->id, index));
    const bool hasP1 = !a.get("p1").empty();
    if (pid == 0 && hasP1 && object_->pid == 0)
      return fail(plat::format("object %d triangle %d: p1 without a pid", object_->id, index));
    // Without a pid of its own the triangle's indices address the object's
    // group.
    if (pid != 0 || hasP1) {
      int p[3];
      if (!integer(a, "p1", p[0], INT32_MIN))
        return fail(plat::format("object %d triangle %d: pid without p1", object_->id, index));
      if (!integer(a, "p2", p[1], p[0]) || !integer(a, "p3", p[2], p[0]))
        return fail(plat::format("object %d triangle %d: p2 and p3 must be numbers", object_->id, index));
      for (int k = 0; k < 3; ++k) {
        if (!checkProperty(pid != 0 ? pid : object_->pid, p[k])) return false;
        t.p[k] = p[k];
      }
      t.pid = pid;
    }
    object_->triangles.push_back(t);
  } else if (n == "model") {
    modelSeen_ = true;
    // Every part of a package has its own unit; the root's applies.
    double scale = 1.0;
    if (!unitScale(a.get("unit"), scale)) return fail("unknown unit " + std::string(a.get("unit")));
    if (part_ == 0) doc_.unitScale = scale;
  } else if (n == "basematerials" || n == "colorgroup") {
    int id = 0;
    if (!newId(a, id)) return false;
    group_ = &doc_.groups[key(id)];
    group_->kind = MfGroup::Kind::Colours;
    group_->id = id;
  } else if (n == "base" || n == "color") {
    if (!group_ || group_->kind != MfGroup::Kind::Colours) return fail(std::string(n) + " outside its group");
    const std::string_view v = a.get(n == "base" ? "displaycolor" : "color");
    MeshColour c = 0;
    if (!parseColour(v, c)) return fail("colour \"" + std::string(v) + "\" is not #RRGGBB or #RRGGBBAA");
    group_->colours.push_back(c);
  } else if (n == "texture2d") {
    int id = 0;
    if (!newId(a, id)) return false;
    const std::string path(a.get("path"));
    if (path.empty()) return fail(plat::format("texture %d has no path", id));
    doc_.textures[key(id)].path = path;
  } else if (n == "texture2dgroup") {
    int id = 0, texid = 0;
    if (!newId(a, id)) return false;
    if (!integer(a, "texid", texid, INT32_MIN) || !doc_.textures.count(key(texid)))
      return fail(plat::format("texture group %d names no texture that exists", id));
    group_ = &doc_.groups[key(id)];
    group_->kind = MfGroup::Kind::TexCoords;
    group_->id = id;
    group_->texid = key(texid);
  } else if (n == "tex2coord") {
    if (!group_ || group_->kind != MfGroup::Kind::TexCoords) return fail("tex2coord outside its texture group");
    double u = 0.0, v = 0.0;
    if (!number(a, "u", u) || !number(a, "v", v)) return fail("tex2coord needs numbers u and v");
    group_->coords.push_back({float(u), float(v)});
  } else if (n == "multiproperties") {
    int id = 0;
    if (!newId(a, id)) return false;
    MfGroup g;
    g.kind = MfGroup::Kind::Multi;
    g.id = id;
    std::string_view rest = a.get("pids");
    for (std::string_view word = cutWordView(rest); !word.empty(); word = cutWordView(rest)) {
      int pid = 0;
      const bool ok = wholeNumber(word, pid);
      auto it = doc_.groups.find(key(pid));
      if (!ok || it == doc_.groups.end() || it->second.kind == MfGroup::Kind::Multi)
        return fail(plat::format("multiproperties %d: layer %s is no colour or texture group", id, std::string(word)));
      g.pids.push_back(key(pid));
    }
    if (g.pids.empty()) return fail(plat::format("multiproperties %d has no layers", id));
    group_ = &(doc_.groups[key(id)] = std::move(g));
  } else if (n == "multi") {
    if (!group_ || group_->kind != MfGroup::Kind::Multi) return fail("multi outside its multiproperties");
    std::vector<int> indices;
    std::string_view rest = a.get("pindices");
    for (std::string_view word = cutWordView(rest); !word.empty(); word = cutWordView(rest)) {
      int v = 0;
      if (!wholeNumber(word, v)) return fail("pindices must be whole numbers");
      indices.push_back(v);
    }
    // Layers without an index take index 0.
    indices.resize(group_->pids.size(), 0);
    for (std::size_t k = 0; k < indices.size(); ++k) {
      const MfGroup& layer = doc_.groups[group_->pids[k]];
      if (indices[k] < 0 || std::size_t(indices[k]) >= layer.size())
        return fail(plat::format("property %d of group %d does not exist", indices[k], layer.id));
    }
    group_->multis.push_back(std::move(indices));
  } else if (n == "object") {
    int id = 0;
    if (!newId(a, id)) return false;
    MfObject o;
    o.id = id;
    o.part = part_;
    o.name = std::string(a.get("name"));
    if (!integer(a, "pid", o.pid, 0)) return fail(plat::format("object %d: pid is not a resource id", id));
    if (o.pid != 0) {
      if (!integer(a, "pindex", o.pindex, 0)) return fail(plat::format("object %d: pindex is not a number", id));
      if (!checkProperty(o.pid, o.pindex)) return false;
    }
    doc_.objectIndex[key(id)] = doc_.objects.size();
    doc_.objects.push_back(std::move(o));
    object_ = &doc_.objects.back();
  } else if (n == "mesh") {
    if (!object_) return fail("mesh outside an object");
    object_->hasMesh = true;
  } else if (n == "component") {
    if (!object_) return fail("component outside an object");
    MfComponent c;
    int id = 0;
    const std::string other = otherPart(a);
    if (!integer(a, "objectid", id, INT32_MIN))
      return fail(plat::format("object %d: a component names no object", object_->id));
    if (other.empty() && (!doc_.objectIndex.count(key(id)) || id == object_->id))
      return fail(plat::format("object %d: a component names no object defined before it", object_->id));
    if (!transform(a, c.transform)) return fail("a transform must be twelve numbers");
    c.objectid = key(id);
    if (!other.empty())
      pending.push_back({std::size_t(object_ - doc_.objects.data()), object_->components.size(), other, id});
    object_->components.push_back(c);
  } else if (n == "build") {
    inBuild_ = true;
  } else if (n == "item" && inBuild_) {
    MfBuildItem item;
    int id = 0;
    const std::string other = otherPart(a);
    if (!integer(a, "objectid", id, INT32_MIN) || (other.empty() && !doc_.objectIndex.count(key(id))))
      return fail("a build item names no object");
    if (!transform(a, item.transform)) return fail("a transform must be twelve numbers");
    item.objectid = key(id);
    if (!other.empty()) pending.push_back({SIZE_MAX, doc_.build.size(), other, id});
    doc_.build.push_back(item);
  }
  return true;
}

// ---- reading ----

bool ThreeMfReader::refuse(const std::string& why) {
  st_.core.memoPrintf("%s: %s", name_, why);
  return false;
}

bool ThreeMfReader::readPart(const std::string& part, std::string& out, std::uint64_t limit) {
  auto* z = static_cast<zip_t*>(zip_);
  std::string name = part;
  while (!name.empty() && name[0] == '/') name.erase(0, 1);
  const zip_int64_t index = zip_name_locate(z, name.c_str(), ZIP_FL_NOCASE);
  if (index < 0) return false;
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> f(zip_fopen_index(z, zip_uint64_t(index), 0), zip_fclose);
  if (!f) return refuse(plat::format("part %s cannot be read: %s", part, std::string(zip_strerror(z))));
  out.clear();
  char buf[1 << 16];
  for (;;) {
    const zip_int64_t n = zip_fread(f.get(), buf, sizeof buf);
    if (n < 0) return refuse(plat::format("part %s is damaged: %s", part, std::string(zip_file_strerror(f.get()))));
    if (n == 0) break;
    if (out.size() + std::uint64_t(n) > limit)
      return refuse(plat::format("part %s is larger than %llu MB, the limit of a package part", part,
                                 (unsigned long long)(limit >> 20)));
    out.append(buf, std::size_t(n));
  }
  return true;
}

bool ThreeMfReader::parsePart(const std::string& part, const std::function<long long(char*, std::size_t)>& read) {
  const int index = int(doc_.parts.size());
  doc_.parts.push_back(part);
  MfModelBuilder b(*this, index);
  std::uint64_t total = 0;
  std::vector<char> chunk(1 << 20);
  // Reads the next chunk; -2 when the part is too large, -3 when the
  // operation is to stop.
  auto next = [&]() -> long long {
    if (st_.stopRequested()) return -3;
    const long long n = read(chunk.data(), chunk.size());
    if (n > 0 && (total += std::uint64_t(n)) > modelPartLimit) return -2;
    return n;
  };
  auto tooLarge = [&] {
    return refuse(plat::format("part %s decompresses to more than %llu MB, the limit of a model part", part,
                               (unsigned long long)(modelPartLimit >> 20)));
  };
  auto unreadable = [&] { return refuse(plat::format("part %s could not be read", part)); };
  auto stopped = [&] { return refuse(plat::format("part %s: reading stopped", part)); };
  if (usePlainXml) {
    QByteArray bytes;
    for (long long n; (n = next()) != 0;) {
      if (n == -2) return tooLarge();
      if (n == -3) return stopped();
      if (n < 0) return unreadable();
      bytes.append(chunk.data(), qsizetype(n));
    }
    QXmlStreamReader xml(bytes);
    std::vector<std::string> store;
    Attributes attrs;
    while (!xml.atEnd()) {
      xml.readNext();
      b.line = xml.lineNumber();
      if (xml.isEndElement()) {
        b.end(xml.name().toString().toStdString());
        continue;
      }
      if (!xml.isStartElement()) continue;
      const QXmlStreamAttributes qa = xml.attributes();
      store.clear();
      store.reserve(std::size_t(qa.size()) * 2);
      for (const QXmlStreamAttribute& at : qa) {
        const QString ns = at.namespaceUri().toString();
        store.push_back((ns.isEmpty() ? QString() : ns + "|").toStdString() + at.name().toString().toStdString());
        store.push_back(at.value().toString().toStdString());
      }
      attrs.list.clear();
      for (std::size_t i = 0; i + 1 < store.size(); i += 2) attrs.list.emplace_back(store[i], store[i + 1]);
      if (!b.start(xml.name().toString().toStdString(), attrs)) return false;
    }
    if (xml.hasError())
      return refuse(plat::format("%s line %lld: %s", part, (long long)xml.lineNumber(), xml.errorString().toStdString()));
  } else {
    struct Run {
      MfModelBuilder& b;
      XML_Parser p;
      Attributes attrs;
      bool refused = false;
    };
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, void (*)(XML_Parser)> parser(XML_ParserCreateNS(nullptr, '|'),
                                                                                    XML_ParserFree);
    if (!parser) throw std::bad_alloc();
    Run run{b, parser.get(), {}, false};
    XML_SetUserData(parser.get(), &run);
    XML_SetElementHandler(
        parser.get(),
        [](void* data, const XML_Char* name, const XML_Char** atts) {
          Run& r = *static_cast<Run*>(data);
          if (r.refused) return;
          r.b.line = (long long)XML_GetCurrentLineNumber(r.p);
          r.attrs.list.clear();
          for (const XML_Char** a = atts; *a; a += 2) r.attrs.list.emplace_back(a[0], a[1]);
          const char* bar = std::strrchr(name, '|');
          if (!r.b.start(bar ? bar + 1 : name, r.attrs)) {
            r.refused = true;
            XML_StopParser(r.p, XML_FALSE);
          }
        },
        [](void* data, const XML_Char* name) {
          Run& r = *static_cast<Run*>(data);
          const char* bar = std::strrchr(name, '|');
          r.b.end(bar ? bar + 1 : name);
        });
    for (;;) {
      const long long n = next();
      if (n == -2) return tooLarge();
      if (n == -3) return stopped();
      if (n < 0) return unreadable();
      if (XML_Parse(parser.get(), chunk.data(), int(n), n == 0) == XML_STATUS_ERROR) {
        if (run.refused) return false;
        return refuse(plat::format("%s line %lld: %s", part, (long long)XML_GetCurrentLineNumber(parser.get()),
                                   std::string(XML_ErrorString(XML_GetErrorCode(parser.get())))));
      }
      if (run.refused) return false;
      if (n == 0) break;
    }
  }
  if (!b.finish()) return false;
  // Parts named by this one are read after it; their objects are then
  // looked up.
  for (const MfModelBuilder::Pending& ref : b.pending) {
    if (std::find(doc_.parts.begin(), doc_.parts.end(), ref.part) == doc_.parts.end() &&
        std::find(pendingParts_.begin(), pendingParts_.end(), ref.part) == pendingParts_.end())
      pendingParts_.push_back(ref.part);
    pendingRefs_.push_back({ref.object, ref.entry, ref.part, ref.id});
  }
  return true;
}

bool ThreeMfReader::resolveParts(const std::function<bool(const std::string&)>& readOther) {
  while (!pendingParts_.empty()) {
    const std::string part = pendingParts_.front();
    pendingParts_.erase(pendingParts_.begin());
    if (doc_.parts.size() >= kPartCount)
      return refuse(plat::format("more than %d model parts", int(kPartCount)));
    if (!readOther(part)) return false;
  }
  for (const PendingRef& ref : pendingRefs_) {
    const auto p = std::find(doc_.parts.begin(), doc_.parts.end(), ref.part);
    const MfKey k = mfKey(int(p - doc_.parts.begin()), ref.id);
    if (p == doc_.parts.end() || !doc_.objectIndex.count(k))
      return refuse(plat::format("object %d of part %s does not exist", ref.id, ref.part));
    if (ref.object == SIZE_MAX) doc_.build[ref.entry].objectid = k;
    else doc_.objects[ref.object].components[ref.entry].objectid = k;
  }
  pendingRefs_.clear();
  return true;
}

bool ThreeMfReader::read(const std::string& path) {
  name_ = path;
  doc_ = ThreeMfDocument{};
  modelPart_.clear();
  pendingParts_.clear();
  pendingRefs_.clear();
  layersTold_ = false;
  std::string why;
  FilePtr f = openRegularFile(path, why);
  if (!f) return refuse(why == std::strerror(ENOENT) ? std::string("no such file") : "cannot read from file (" + why + ")");
  if (extensionOf(path) == "3mf") return readPackage(std::move(f));
  return readUnpacked(std::move(f));
}

bool ThreeMfReader::readPackage(FilePtr file) {
  // libzip takes the descriptor of the regular file opened above.
  const int fd = ::dup(fileno(file.get()));
  file.reset();
  int error = 0;
  std::unique_ptr<zip_t, ZipCloser> z(fd < 0 ? nullptr : zip_fdopen(fd, ZIP_RDONLY, &error));
  if (!z) {
    if (fd >= 0) ::close(fd);
    zip_error_t e;
    zip_error_init_with_code(&e, error);
    const std::string why = zip_error_strerror(&e);
    zip_error_fini(&e);
    return refuse("not a 3MF package (" + why + ")");
  }
  zip_ = z.get();
  struct Reset {
    void*& p;
    ~Reset() { p = nullptr; }
  } reset{zip_};
  // The package's relationships name the model part.
  std::string rels;
  if (readPart("_rels/.rels", rels, kPictureLimit)) {
    QXmlStreamReader xml(QByteArray::fromStdString(rels));
    while (!xml.atEnd() && modelPart_.empty()) {
      xml.readNext();
      if (!xml.isStartElement() || xml.name() != u"Relationship") continue;
      const QXmlStreamAttributes a = xml.attributes();
      if (a.value(QLatin1StringView("Type")) == QLatin1StringView(kModelRelType))
        modelPart_ = a.value(QLatin1StringView("Target")).toString().toStdString();
    }
  }
  if (modelPart_.empty()) modelPart_ = "/3D/3dmodel.model";
  modelPart_ = partName(modelPart_);
  // A model part is parsed as it is decompressed.
  auto parseMember = [&](const std::string& part, bool root) {
    std::string name = part.substr(1);
    const zip_int64_t index = zip_name_locate(z.get(), name.c_str(), ZIP_FL_NOCASE);
    if (index < 0)
      return refuse(root ? plat::format("the package has no model part %s", part)
                         : plat::format("the package has no model part %s, which a component names", part));
    std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> member(zip_fopen_index(z.get(), zip_uint64_t(index), 0),
                                                             zip_fclose);
    if (!member) return refuse(plat::format("part %s cannot be read: %s", part, std::string(zip_strerror(z.get()))));
    bool damaged = false;
    const bool ok = parsePart(part, [&](char* buf, std::size_t n) -> long long {
      const zip_int64_t got = zip_fread(member.get(), buf, n);
      if (got < 0) damaged = true;
      return got;
    });
    if (!ok && damaged)
      refuse(plat::format("part %s is damaged: %s", part, std::string(zip_file_strerror(member.get()))));
    return ok;
  };
  if (!parseMember(modelPart_, true)) return false;
  if (!resolveParts([&](const std::string& part) { return parseMember(part, false); })) return false;
  return loadPictures();
}

bool ThreeMfReader::readUnpacked(FilePtr file) {
  // An unpacked package: the model part stands in the "3D" folder of the
  // package's root.
  const std::string root = parentDir(parentDir(name_));
  auto parseFile = [&](std::FILE* in, const std::string& part) {
    return parsePart(part, [&](char* buf, std::size_t n) -> long long {
      const std::size_t got = std::fread(buf, 1, n, in);
      if (got == 0 && std::ferror(in)) return -1;
      return (long long)got;
    });
  };
  if (!parseFile(file.get(), "/3D/" + fileNamePart(name_))) return false;
  file.reset();
  const bool ok = resolveParts([&](const std::string& part) {
    std::string why;
    FilePtr other = openRegularFile(root + part, why);
    if (!other) return refuse(plat::format("model part %s cannot be read (%s)", root + part, why));
    return parseFile(other.get(), part);
  });
  return ok && loadPictures();
}

bool ThreeMfReader::loadPictures() {
  // Textures that name one picture decode it once.
  std::unordered_map<std::string, QImage> decoded;
  for (auto& [id, tex] : doc_.textures) {
    const std::string ext = extensionOf(tex.path);
    if (auto known = decoded.find(tex.path); known != decoded.end()) {
      tex.picture = known->second;
      continue;
    }
    bool found = false;
    if (zip_) {
      std::string part = tex.path;
      // A relative path is relative to the model part's folder.
      if (part.empty() || part[0] != '/') part = parentDir(modelPart_) + "/" + part;
      std::string bytes;
      found = readPart(part, bytes, kPictureLimit);
      if (found) {
        QTemporaryFile tmp(QDir::tempPath() + "/prism3mfXXXXXX." + QString::fromStdString(ext));
        found = tmp.open() && tmp.write(bytes.data(), qint64(bytes.size())) == qint64(bytes.size()) && tmp.flush();
        if (found) found = loadTexture(tex.picture, tmp.fileName().toStdString());
      }
    } else {
      const std::string folder = parentDir(name_);
      std::string path = tex.path;
      std::replace(path.begin(), path.end(), '\\', '/');
      while (!path.empty() && path[0] == '/') path.erase(0, 1);
      for (const std::string& candidate : {parentDir(folder) + "/" + path, folder + "/" + path,
                                           path.rfind("3D/", 0) == 0 ? folder + "/" + path.substr(3) : std::string()}) {
        if (candidate.empty() || !fileExists(candidate)) continue;
        const std::string why = regularFileProblem(candidate);
        if (why.empty()) found = loadTexture(tex.picture, candidate);
        else st_.core.memoPrintf("%s: texture %s (%s)", name_, candidate, why);
        break;
      }
    }
    if (!found)
      st_.core.memoPrintf("%s: texture %s cannot be read: its faces take the slicer's default colour", name_, tex.path);
    decoded.emplace(tex.path, tex.picture);
  }
  return true;
}

// ---- filling the model ----

std::vector<std::size_t> ThreeMfReader::meshObjects() const {
  std::vector<std::size_t> out;
  for (std::size_t i = 0; i < doc_.objects.size(); ++i)
    if (doc_.objects[i].hasMesh) out.push_back(i);
  return out;
}

void ThreeMfReader::tellUnusedLayers(const MfGroup& g) {
  if (layersTold_ || g.pids.size() < 2) return;
  layersTold_ = true;
  st_.core.memoPrintf("%s: multiproperties %d has %d layers; only the first colours the faces", name_, g.id,
                      int(g.pids.size()));
}

bool ThreeMfReader::emitObject(const MfObject& o, const MfTransform& t, double scale) {
  ObjModel& m = st_.model;
  const bool mirrored = t.determinant() < 0.0;
  // Each vertex placed once, then shared by its triangles.
  std::vector<vect3> placed(o.vertices.size());
  for (std::size_t i = 0; i < o.vertices.size(); ++i) {
    const vect3 p = t.apply(o.vertices[i]);
    placed[i] = {double(float(p.x * scale)), double(float(p.y * scale)), double(float(p.z * scale))};
    if (!std::isfinite(placed[i].x) || !std::isfinite(placed[i].y) || !std::isfinite(placed[i].z))
      return refuse(plat::format("%s: object %d vertex %d is placed beyond the range of a float (3.4e38)",
                                 doc_.parts[std::size_t(o.part)], o.id, int(i)));
  }
  for (const MfTriangle& tri : o.triangles) {
    objFace f;
    for (int k = 0; k < 3; ++k) f.positions[k] = placed[std::size_t(tri.v[k])];
    f.colour = kNoColour;
    f.material = ObjModel::kDefaultMaterial;
    // The triangle's properties, else the object's for all three corners.
    int pid = tri.pid, p[3] = {tri.p[0], tri.p[1], tri.p[2]};
    if (pid == 0 && o.pid != 0) {
      pid = o.pid;
      for (int& pk : p)
        if (pk < 0) pk = o.pindex;
    }
    if (pid != 0) {
      const MfGroup* g = &doc_.groups.at(mfKey(o.part, pid));
      // Of multiproperties, the first layer stands for the whole.
      if (g->kind == MfGroup::Kind::Multi) {
        tellUnusedLayers(*g);
        const MfKey layer = g->pids[0];
        for (int& pk : p) pk = g->multis[std::size_t(pk)][0];
        g = &doc_.groups.at(layer);
      }
      if (g->kind == MfGroup::Kind::Colours) {
        int sum[3] = {0, 0, 0};
        for (int pk : p)
          for (int c = 0; c < 3; ++c) sum[c] += g->colours[std::size_t(pk)] >> (8 * c) & 0xFF;
        f.colour = MeshColour(sum[0] / 3 | (sum[1] / 3) << 8 | (sum[2] / 3) << 16);
      } else if (g->kind == MfGroup::Kind::TexCoords) {
        const MfTexture& tex = doc_.textures.at(g->texid);
        if (!tex.picture.isNull()) {
          auto it = textureMaterial_.find(g->texid);
          if (it == textureMaterial_.end()) {
            objMaterial mat;
            mat.name = plat::format("%d_0", int(std::uint32_t(g->texid)));
            mat.textureFile = tex.path;
            mat.texture = tex.picture;
            m.materials.push_back(std::move(mat));
            it = textureMaterial_.emplace(g->texid, std::int32_t(m.materials.size() - 1)).first;
          }
          f.material = it->second;
          for (int k = 0; k < 3; ++k) f.uv[k] = g->coords[std::size_t(p[k])];
        }
      }
    }
    if (mirrored) {
      std::swap(f.positions[1], f.positions[2]);
      std::swap(f.uv[1], f.uv[2]);
    }
    m.faces.push_back(f);
  }
  return true;
}

std::int64_t ThreeMfReader::expandedFaces(const MfObject& o, int depth,
                                          std::unordered_map<MfKey, std::int64_t>& memo) {
  const MfKey k = mfKey(o.part, o.id);
  const std::int64_t cap = st_.model.faceLimit + 1;
  if (auto it = memo.find(k); it != memo.end()) {
    // -1: still being counted, so the components run in a circle.
    if (it->second >= 0) return it->second;
    nestingTooDeep_ = true;
    return cap;
  }
  if (depth > kComponentDepth) {
    nestingTooDeep_ = true;
    return cap;
  }
  memo[k] = -1;
  std::int64_t n = o.hasMesh ? std::int64_t(o.triangles.size()) : 0;
  for (const MfComponent& c : o.components) {
    n += expandedFaces(doc_.objects[doc_.objectIndex.at(c.objectid)], depth + 1, memo);
    if (n >= cap) {
      n = cap;
      break;
    }
  }
  memo[k] = n;
  return n;
}

bool ThreeMfReader::emitTree(const MfObject& o, const MfTransform& t, double scale) {
  // Iterative, with the depth of each entry, so deep nesting never uses the
  // call stack.
  struct Entry {
    const MfObject* o;
    MfTransform t;
    int depth;
  };
  std::vector<Entry> todo{{&o, t, 0}};
  while (!todo.empty()) {
    Entry e = std::move(todo.back());
    todo.pop_back();
    if (e.depth > kComponentDepth) return refuse(plat::format("object %d: components nest too deep", e.o->id));
    if (e.o->hasMesh && !emitObject(*e.o, e.t, scale)) return false;
    for (auto c = e.o->components.rbegin(); c != e.o->components.rend(); ++c)
      todo.push_back({&doc_.objects[doc_.objectIndex.at(c->objectid)], c->transform.then(e.t), e.depth + 1});
  }
  return true;
}

bool ThreeMfReader::loadBuild() {
  // Translations are in the model's unit too: millimetres come last.
  const double scale = st_.scale * doc_.unitScale;
  st_.scale = 1.0f;
  textureMaterial_.clear();
  if (doc_.build.empty()) return refuse("the build has no items: nothing to print");
  // Components may copy objects many times over: the whole is counted
  // before a face is made.
  std::unordered_map<MfKey, std::int64_t> memo;
  std::int64_t total = 0;
  nestingTooDeep_ = false;
  for (const MfBuildItem& item : doc_.build) {
    total += expandedFaces(doc_.objects[doc_.objectIndex.at(item.objectid)], 0, memo);
    if (nestingTooDeep_)
      return refuse(plat::format("components nest deeper than %d levels or in a circle", kComponentDepth));
    if (total > st_.model.faceLimit)
      return refuse(plat::format("the build expands to more than %lld triangles, the limit of a model",
                                 (long long)st_.model.faceLimit));
  }
  st_.model.faces.reserve(st_.model.faces.size() + std::size_t(total));
  for (const MfBuildItem& item : doc_.build)
    if (!emitTree(doc_.objects[doc_.objectIndex.at(item.objectid)], item.transform, scale)) return false;
  st_.model.hasVertexColors = true;
  st_.model.idxv = 0;
  return true;
}

bool ThreeMfReader::loadMeshObject(std::size_t n) {
  const double scale = st_.scale * doc_.unitScale;
  st_.scale = 1.0f;
  textureMaterial_.clear();
  if (n >= doc_.objects.size()) return false;
  if (!emitObject(doc_.objects[n], MfTransform{}, scale)) return false;
  st_.model.hasVertexColors = true;
  st_.model.idxv = 0;
  return true;
}

}  // namespace ph
