#include "host/mesh/threemf_reader.h"

#include <zip.h>

#include <QDir>
#include <QTemporaryFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_pictures.h"
#include "host/mesh/ply_reader.h"

namespace ph {

namespace {

// Parts larger than this are not read into memory.
constexpr zip_uint64_t kPartLimit = zip_uint64_t(1) << 30;
// Components nest at most this deep.
constexpr int kComponentDepth = 64;
const char kModelRelType[] = "http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel";

struct ZipCloser {
  void operator()(zip_t* z) const {
    if (z) zip_discard(z);
  }
};

std::string text(QStringView v) { return v.toString().toStdString(); }

// "#RRGGBB" or "#RRGGBBAA" (alpha ignored) as red | green << 8 | blue << 16.
bool parseColour(QStringView v, MeshColour& out) {
  if ((v.size() != 7 && v.size() != 9) || v[0] != u'#') return false;
  bool ok = false;
  const unsigned rgb = v.mid(1, 6).toUInt(&ok, 16);
  if (!ok) return false;
  if (v.size() == 9) {
    (void)v.mid(7, 2).toUInt(&ok, 16);
    if (!ok) return false;
  }
  out = MeshColour((rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16);
  return true;
}

bool unitScale(QStringView unit, double& scale) {
  static const struct {
    const char16_t* name;
    double mm;
  } units[] = {{u"micron", 0.001}, {u"millimeter", 1.0}, {u"centimeter", 10.0},
               {u"inch", 25.4},    {u"foot", 304.8},     {u"meter", 1000.0}};
  if (unit.isEmpty()) {
    scale = 1.0;
    return true;
  }
  for (const auto& u : units)
    if (unit == QStringView(u.name)) {
      scale = u.mm;
      return true;
    }
  return false;
}

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

// ---- reading ----

bool ThreeMfReader::refuse(const std::string& why) {
  st_.core.memoPrintf("%s: %s", name_, why);
  return false;
}

bool ThreeMfReader::readPart(const std::string& part, QByteArray& out) {
  auto* z = static_cast<zip_t*>(zip_);
  std::string name = part;
  while (!name.empty() && name[0] == '/') name.erase(0, 1);
  const zip_int64_t index = zip_name_locate(z, name.c_str(), ZIP_FL_NOCASE);
  if (index < 0) return false;
  zip_stat_t stat;
  zip_stat_init(&stat);
  if (zip_stat_index(z, zip_uint64_t(index), 0, &stat) != 0 || !(stat.valid & ZIP_STAT_SIZE)) return false;
  if (stat.size > kPartLimit) return refuse(plat::format("part %s is too large to read", part));
  std::unique_ptr<zip_file_t, int (*)(zip_file_t*)> f(zip_fopen_index(z, zip_uint64_t(index), 0), zip_fclose);
  if (!f) return refuse(plat::format("part %s cannot be read: %s", part, std::string(zip_strerror(z))));
  out.resize(qsizetype(stat.size));
  zip_uint64_t got = 0;
  while (got < stat.size) {
    const zip_int64_t n = zip_fread(f.get(), out.data() + got, stat.size - got);
    if (n <= 0) return refuse(plat::format("part %s is damaged: %s", part, std::string(zip_file_strerror(f.get()))));
    got += zip_uint64_t(n);
  }
  return true;
}

bool ThreeMfReader::read(const std::string& path) {
  name_ = path;
  doc_ = ThreeMfDocument{};
  modelPart_.clear();
  const std::string native = nativePath(expandCurrentDir(path));
  if (!fileExists(native)) return refuse("no such file");
  QByteArray model;
  if (extensionOf(path) == "3mf") {
    int error = 0;
    std::unique_ptr<zip_t, ZipCloser> z(zip_open(native.c_str(), ZIP_RDONLY, &error));
    if (!z) {
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
    QByteArray rels;
    if (readPart("_rels/.rels", rels)) {
      QXmlStreamReader xml(rels);
      while (!xml.atEnd() && modelPart_.empty()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != u"Relationship") continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (a.value(QLatin1StringView("Type")) == QLatin1StringView(kModelRelType))
          modelPart_ = text(a.value(QLatin1StringView("Target")));
      }
    }
    if (modelPart_.empty()) modelPart_ = "/3D/3dmodel.model";
    if (!readPart(modelPart_, model)) return refuse(plat::format("the package has no model part %s", modelPart_));
    if (!parseModel(model) || !loadPictures()) return false;
  } else {
    FilePtr f = st_.core.openFile(path, "rb");
    if (!f || st_.core.openFailed) return false;
    std::string bytes;
    char buf[1 << 16];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f.get())) > 0;) bytes.append(buf, n);
    if (std::ferror(f.get())) return refuse("the file could not be read");
    model = QByteArray::fromStdString(bytes);
    if (!parseModel(model) || !loadPictures()) return false;
  }
  return true;
}

bool ThreeMfReader::parseModel(const QByteArray& bytes) {
  QXmlStreamReader xml(bytes);
  // The attributes of the element being read.
  QXmlStreamAttributes attributes;
  auto at = [&](const char* name) { return attributes.value(QLatin1StringView(name)); };
  MfObject* object = nullptr;
  MfGroup* group = nullptr;
  bool modelSeen = false, inBuild = false;
  auto fail = [&](const std::string& why) {
    return refuse(plat::format("%s line %lld: %s", modelPart_.empty() ? std::string("model") : modelPart_,
                               (long long)xml.lineNumber(), why));
  };
  auto number = [&](const char* name, double& out) {
    bool ok = false;
    out = at(name).toDouble(&ok);
    return ok && std::isfinite(out);
  };
  // A whole number attribute; `fallback` when absent.
  auto integer = [&](const char* name, int& out, int fallback) {
    const QStringView v = at(name);
    if (v.isEmpty()) {
      out = fallback;
      return fallback != INT32_MIN;
    }
    bool ok = false;
    out = v.toInt(&ok);
    return ok && out >= 0;
  };
  auto transform = [&](MfTransform& t) {
    const QStringView v = at("transform");
    if (v.isEmpty()) return true;
    const auto parts = v.split(u' ', Qt::SkipEmptyParts);
    if (parts.size() != 12) return false;
    for (int i = 0; i < 12; ++i) {
      bool ok = false;
      t.m[std::size_t(i / 3)][std::size_t(i % 3)] = parts[i].toDouble(&ok);
      if (!ok || !std::isfinite(t.m[std::size_t(i / 3)][std::size_t(i % 3)])) return false;
    }
    return true;
  };
  // A new resource id, unique in the model.
  auto newId = [&](int& id) {
    if (!integer("id", id, INT32_MIN) || id == 0) return fail("a resource without a valid id");
    if (doc_.groups.count(id) || doc_.textures.count(id) || doc_.objectIndex.count(id))
      return fail(plat::format("resource id %d is used twice", id));
    return true;
  };
  // A property reference (group and index) that exists.
  auto checkProperty = [&](int pid, int index) {
    auto g = doc_.groups.find(pid);
    if (g == doc_.groups.end()) return fail(plat::format("property group %d does not exist", pid));
    if (index < 0 || std::size_t(index) >= g->second.size())
      return fail(plat::format("property %d of group %d does not exist (it has %d)", index, pid,
                               int(g->second.size())));
    return true;
  };

  while (!xml.atEnd()) {
    xml.readNext();
    if (xml.isEndElement()) {
      const QStringView n = xml.name();
      if (n == u"object") object = nullptr;
      else if (n == u"basematerials" || n == u"colorgroup" || n == u"texture2dgroup" || n == u"multiproperties")
        group = nullptr;
      else if (n == u"build") inBuild = false;
      continue;
    }
    if (!xml.isStartElement()) continue;
    attributes = xml.attributes();
    const QStringView n = xml.name();
    if (n == u"model") {
      modelSeen = true;
      if (!unitScale(at("unit"), doc_.unitScale))
        return fail("unknown unit " + text(at("unit")));
    } else if (n == u"basematerials" || n == u"colorgroup") {
      int id = 0;
      if (!newId(id)) return false;
      group = &doc_.groups[id];
      group->kind = MfGroup::Kind::Colours;
    } else if (n == u"base" || n == u"color") {
      if (!group || group->kind != MfGroup::Kind::Colours) return fail(text(n) + " outside its group");
      const QStringView v = at(n == u"base" ? "displaycolor" : "color");
      MeshColour c = 0;
      if (!parseColour(v, c)) return fail("colour \"" + text(v) + "\" is not #RRGGBB or #RRGGBBAA");
      group->colours.push_back(c);
    } else if (n == u"texture2d") {
      int id = 0;
      if (!newId(id)) return false;
      const std::string path = text(at("path"));
      if (path.empty()) return fail(plat::format("texture %d has no path", id));
      doc_.textures[id].path = path;
    } else if (n == u"texture2dgroup") {
      int id = 0, texid = 0;
      if (!newId(id)) return false;
      if (!integer("texid", texid, INT32_MIN) || !doc_.textures.count(texid))
        return fail(plat::format("texture group %d names no texture that exists", id));
      group = &doc_.groups[id];
      group->kind = MfGroup::Kind::TexCoords;
      group->texid = texid;
    } else if (n == u"tex2coord") {
      if (!group || group->kind != MfGroup::Kind::TexCoords) return fail("tex2coord outside its texture group");
      double u = 0.0, v = 0.0;
      if (!number("u", u) || !number("v", v)) return fail("tex2coord needs numbers u and v");
      group->coords.push_back({float(u), float(v)});
    } else if (n == u"multiproperties") {
      int id = 0;
      if (!newId(id)) return false;
      MfGroup g;
      g.kind = MfGroup::Kind::Multi;
      for (QStringView p : at("pids").split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        const int pid = p.toInt(&ok);
        auto it = doc_.groups.find(pid);
        if (!ok || it == doc_.groups.end() || it->second.kind == MfGroup::Kind::Multi)
          return fail(plat::format("multiproperties %d: layer %s is no colour or texture group", id, text(p)));
        g.pids.push_back(pid);
      }
      if (g.pids.empty()) return fail(plat::format("multiproperties %d has no layers", id));
      group = &(doc_.groups[id] = std::move(g));
    } else if (n == u"multi") {
      if (!group || group->kind != MfGroup::Kind::Multi) return fail("multi outside its multiproperties");
      std::vector<int> indices;
      for (QStringView p : at("pindices").split(u' ', Qt::SkipEmptyParts)) {
        bool ok = false;
        indices.push_back(p.toInt(&ok));
        if (!ok) return fail("pindices must be whole numbers");
      }
      // Layers without an index take index 0.
      indices.resize(group->pids.size(), 0);
      for (std::size_t k = 0; k < indices.size(); ++k) {
        auto& layer = doc_.groups[group->pids[k]];
        if (indices[k] < 0 || std::size_t(indices[k]) >= layer.size())
          return fail(plat::format("property %d of group %d does not exist", indices[k], group->pids[k]));
      }
      group->multis.push_back(std::move(indices));
    } else if (n == u"object") {
      int id = 0;
      if (!newId(id)) return false;
      MfObject o;
      o.id = id;
      o.name = text(at("name"));
      if (!integer("pid", o.pid, 0)) return fail(plat::format("object %d: pid is not a resource id", id));
      if (o.pid != 0) {
        if (!integer("pindex", o.pindex, 0)) return fail(plat::format("object %d: pindex is not a number", id));
        if (!checkProperty(o.pid, o.pindex)) return false;
      }
      doc_.objectIndex[id] = doc_.objects.size();
      doc_.objects.push_back(std::move(o));
      object = &doc_.objects.back();
    } else if (n == u"mesh") {
      if (!object) return fail("mesh outside an object");
      object->hasMesh = true;
    } else if (n == u"vertex") {
      if (!object) return fail("vertex outside an object");
      double x = 0, y = 0, z = 0;
      if (!number("x", x) || !number("y", y) || !number("z", z))
        return fail(plat::format("object %d vertex %d: x, y and z must be numbers", object->id,
                                 int(object->vertices.size())));
      if (object->vertices.size() + 1 >= std::size_t(st_.model.indexLimit))
        return fail(plat::format("object %d has more than %d vertices", object->id, st_.model.indexLimit - 2));
      object->vertices.push_back({x, y, z});
    } else if (n == u"triangle") {
      if (!object) return fail("triangle outside an object");
      MfTriangle t;
      const int count = int(object->vertices.size());
      const int number = int(object->triangles.size());
      const char* vnames[3] = {"v1", "v2", "v3"};
      for (int k = 0; k < 3; ++k) {
        int v = 0;
        if (!integer(vnames[k], v, INT32_MIN) || v >= count)
          return fail(plat::format("object %d triangle %d: %s is not a vertex (0 to %d)", object->id, number,
                                   std::string(vnames[k]), count - 1));
        t.v[k] = v;
      }
      int pid = 0;
      if (!integer("pid", pid, 0))
        return fail(plat::format("object %d triangle %d: pid is not a resource id", object->id, number));
      const bool hasP1 = !at("p1").isEmpty();
      if (pid == 0 && hasP1 && object->pid == 0)
        return fail(plat::format("object %d triangle %d: p1 without a pid", object->id, number));
      // Without a pid of its own the triangle's indices address the
      // object's group.
      if (pid != 0 || hasP1) {
        int p[3];
        if (!integer("p1", p[0], INT32_MIN))
          return fail(plat::format("object %d triangle %d: pid without p1", object->id, number));
        if (!integer("p2", p[1], p[0]) || !integer("p3", p[2], p[0]))
          return fail(plat::format("object %d triangle %d: p2 and p3 must be numbers", object->id, number));
        for (int k = 0; k < 3; ++k) {
          if (!checkProperty(pid != 0 ? pid : object->pid, p[k])) return false;
          t.p[k] = p[k];
        }
        t.pid = pid;
      }
      object->triangles.push_back(t);
    } else if (n == u"component") {
      if (!object) return fail("component outside an object");
      MfComponent c;
      if (!integer("objectid", c.objectid, INT32_MIN) || !doc_.objectIndex.count(c.objectid) ||
          c.objectid == object->id)
        return fail(plat::format("object %d: a component names no object defined before it", object->id));
      if (!transform(c.transform)) return fail("a transform must be twelve numbers");
      object->components.push_back(c);
    } else if (n == u"build") {
      inBuild = true;
    } else if (n == u"item" && inBuild) {
      MfBuildItem item;
      if (!integer("objectid", item.objectid, INT32_MIN) || !doc_.objectIndex.count(item.objectid))
        return fail("a build item names no object");
      if (!transform(item.transform)) return fail("a transform must be twelve numbers");
      doc_.build.push_back(item);
    }
  }
  if (xml.hasError())
    return refuse(plat::format("%s line %lld: %s", modelPart_.empty() ? std::string("model") : modelPart_,
                               (long long)xml.lineNumber(), xml.errorString().toStdString()));
  if (!modelSeen) return refuse("no 3MF model in the file");
  return true;
}

bool ThreeMfReader::loadPictures() {
  for (auto& [id, tex] : doc_.textures) {
    std::string ext = extensionOf(tex.path);
    QByteArray bytes;
    bool found = false;
    if (zip_) {
      std::string part = tex.path;
      // A relative path is relative to the model part's folder.
      if (part.empty() || part[0] != '/') part = parentDir(modelPart_) + "/" + part;
      found = readPart(part, bytes);
      if (found) {
        QTemporaryFile tmp(QDir::tempPath() + "/prism3mfXXXXXX." + QString::fromStdString(ext));
        found = tmp.open() && tmp.write(bytes) == bytes.size() && tmp.flush();
        if (found) found = loadTexture(tex.picture, tmp.fileName().toStdString());
      }
    } else {
      // An unpacked package: the model part stands in the "3D" folder of
      // the package's root.
      const std::string folder = parentDir(name_);
      std::string path = tex.path;
      std::replace(path.begin(), path.end(), '\\', '/');
      while (!path.empty() && path[0] == '/') path.erase(0, 1);
      for (const std::string& candidate : {parentDir(folder) + "/" + path, folder + "/" + path,
                                           path.rfind("3D/", 0) == 0 ? folder + "/" + path.substr(3) : std::string()}) {
        if (candidate.empty() || !fileExists(candidate)) continue;
        found = loadTexture(tex.picture, candidate);
        break;
      }
    }
    if (!found) st_.core.memoPrintf("%s: texture %s cannot be read: its faces are grey", name_, tex.path);
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

void ThreeMfReader::emitObject(const MfObject& o, const MfTransform& t, double scale) {
  ObjModel& m = st_.model;
  const bool mirrored = t.determinant() < 0.0;
  for (const MfTriangle& tri : o.triangles) {
    objFace f;
    for (int k = 0; k < 3; ++k) {
      const vect3 p = t.apply(o.vertices[std::size_t(tri.v[k])]);
      f.positions[k] = {p.x * scale, p.y * scale, p.z * scale};
    }
    f.colour = kPlyNoColour;
    f.material = ObjModel::kDefaultMaterial;
    // The triangle's properties, else the object's for all three corners.
    int pid = tri.pid, p[3] = {tri.p[0], tri.p[1], tri.p[2]};
    if (pid == 0 && o.pid != 0) {
      pid = o.pid;
      for (int& pk : p)
        if (pk < 0) pk = o.pindex;
    }
    if (pid != 0) {
      const MfGroup* g = &doc_.groups.at(pid);
      // Of multiproperties, the first layer stands for the whole.
      if (g->kind == MfGroup::Kind::Multi) {
        const int layer = g->pids[0];
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
            mat.name = plat::format("%d_0", g->texid);
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
}

bool ThreeMfReader::emitTree(const MfObject& o, const MfTransform& t, double scale, int depth) {
  if (depth > kComponentDepth) return refuse(plat::format("object %d: components nest too deep", o.id));
  if (o.hasMesh) emitObject(o, t, scale);
  for (const MfComponent& c : o.components)
    if (!emitTree(doc_.objects[doc_.objectIndex.at(c.objectid)], c.transform.then(t), scale, depth + 1)) return false;
  return true;
}

bool ThreeMfReader::loadBuild() {
  // Translations are in the model's unit too: millimetres come last.
  const double scale = st_.scale * doc_.unitScale;
  st_.scale = 1.0f;
  textureMaterial_.clear();
  if (doc_.build.empty()) return refuse("the build has no items: nothing to print");
  for (const MfBuildItem& item : doc_.build)
    if (!emitTree(doc_.objects[doc_.objectIndex.at(item.objectid)], item.transform, scale, 0)) return false;
  st_.model.hasVertexColors = true;
  st_.model.idxv = 0;
  return true;
}

bool ThreeMfReader::loadMeshObject(std::size_t n) {
  const double scale = st_.scale * doc_.unitScale;
  st_.scale = 1.0f;
  textureMaterial_.clear();
  if (n >= doc_.objects.size()) return false;
  emitObject(doc_.objects[n], MfTransform{}, scale);
  st_.model.hasVertexColors = true;
  st_.model.idxv = 0;
  return true;
}

}  // namespace ph
