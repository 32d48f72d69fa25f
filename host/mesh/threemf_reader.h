#pragma once
// The 3MF reader: the model part of a 3MF package (read from the zip
// archive, or an unpacked model part) with its mesh objects, components and
// build items, base materials, colour groups, texture groups and their
// pictures, read into the mesh tools' model.
#include <QImage>

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/mesh/mesh_state.h"

namespace ph {

// Placement of an object: p' = p * linear + translation, as the 3MF
// "transform" attribute lists it (m00 m01 m02 m10 ... m32).
struct MfTransform {
  std::array<std::array<double, 3>, 4> m{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {0, 0, 0}}};
  vect3 apply(const vect3& p) const;
  // This placement first, then `outer`.
  MfTransform then(const MfTransform& outer) const;
  double determinant() const;
};

// A property group: base materials and colour groups give colours, texture
// groups texture coordinates, multiproperties layers of other groups.
struct MfGroup {
  enum class Kind { Colours, TexCoords, Multi } kind = Kind::Colours;
  std::vector<MeshColour> colours;
  int texid = 0;
  std::vector<TexCoord> coords;
  std::vector<int> pids;
  std::vector<std::vector<int>> multis;
  std::size_t size() const;
};

struct MfTexture {
  std::string path;
  QImage picture;  // null when it could not be read
};

struct MfTriangle {
  std::int32_t v[3] = {0, 0, 0};
  std::int32_t pid = 0;  // 0: the object's
  std::int32_t p[3] = {-1, -1, -1};
};

struct MfComponent {
  int objectid = 0;
  MfTransform transform;
};

struct MfObject {
  int id = 0;
  std::string name;
  int pid = 0, pindex = -1;
  std::vector<vect3> vertices;  // in the model's unit
  std::vector<MfTriangle> triangles;
  std::vector<MfComponent> components;
  bool hasMesh = false;
};

struct MfBuildItem {
  int objectid = 0;
  MfTransform transform;
};

struct ThreeMfDocument {
  double unitScale = 1.0;  // to millimetres
  std::unordered_map<int, MfGroup> groups;
  std::unordered_map<int, MfTexture> textures;
  std::vector<MfObject> objects;  // in file order
  std::unordered_map<int, std::size_t> objectIndex;
  std::vector<MfBuildItem> build;
};

class ThreeMfReader {
 public:
  explicit ThreeMfReader(MeshState& state) : st_(state) {}

  // Reads a .3mf package, or a model part already unpacked (any other
  // name), with the pictures of its texture groups. False, told with the
  // file named, for a package or model part that is missing or malformed:
  // XML errors, unknown units, a vertex, object, group or property index
  // that does not exist.
  bool read(const std::string& path);
  const ThreeMfDocument& document() const { return doc_; }

  // The whole build into the (empty) model: every build item placed by its
  // transform, components by theirs. Coordinates are multiplied by the
  // state's scale, which is then back to 1.
  bool loadBuild();
  // One mesh object (the n-th of the file, from 0) as it stands.
  bool loadMeshObject(std::size_t n);
  std::vector<std::size_t> meshObjects() const;

 private:
  bool parseModel(const QByteArray& xml);
  bool loadPictures();
  bool readPart(const std::string& part, QByteArray& out);
  void emitObject(const MfObject& o, const MfTransform& t, double scale);
  bool emitTree(const MfObject& o, const MfTransform& t, double scale, int depth);
  bool refuse(const std::string& why);

  MeshState& st_;
  std::string name_;
  ThreeMfDocument doc_;
  // The package being read (a zip_t*), or null for an unpacked model part.
  void* zip_ = nullptr;
  std::string modelPart_;
  std::unordered_map<int, std::int32_t> textureMaterial_;
};

}  // namespace ph
