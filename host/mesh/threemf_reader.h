#pragma once
// The 3MF reader: the model parts of a 3MF package (read from the zip
// archive, or an unpacked model part) with their mesh objects, components
// (also those in other model parts, the production extension's "path") and
// build items, base materials, colour groups, texture groups and their
// pictures, read into the mesh tools' model.
#include <QImage>

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/core/host_core.h"
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

// Resources are keyed by the model part they stand in and their id there:
// ids are unique within one part only.
using MfKey = std::int64_t;
inline MfKey mfKey(int part, int id) { return MfKey(part) << 32 | MfKey(std::uint32_t(id)); }

// A property group: base materials and colour groups give colours, texture
// groups texture coordinates, multiproperties layers of other groups.
struct MfGroup {
  enum class Kind { Colours, TexCoords, Multi } kind = Kind::Colours;
  int id = 0;  // in its part, for messages
  std::vector<MeshColour> colours;
  MfKey texid = 0;
  std::vector<TexCoord> coords;
  std::vector<MfKey> pids;
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
  MfKey objectid = 0;
  MfTransform transform;
};

struct MfObject {
  int id = 0;
  int part = 0;  // index into ThreeMfDocument::parts
  std::string name;
  int pid = 0, pindex = -1;
  std::vector<vect3> vertices;  // in the model's unit
  std::vector<MfTriangle> triangles;
  std::vector<MfComponent> components;
  bool hasMesh = false;
};

struct MfBuildItem {
  MfKey objectid = 0;
  MfTransform transform;
};

struct ThreeMfDocument {
  double unitScale = 1.0;  // to millimetres
  std::vector<std::string> parts;  // the model parts read, the root first
  std::unordered_map<MfKey, MfGroup> groups;
  std::unordered_map<MfKey, MfTexture> textures;
  std::vector<MfObject> objects;  // in file order
  std::unordered_map<MfKey, std::size_t> objectIndex;
  std::vector<MfBuildItem> build;
};

class ThreeMfReader {
 public:
  explicit ThreeMfReader(MeshState& state) : st_(state) {}

  // Reads a .3mf package, or a model part already unpacked (any other
  // name), with the pictures of its texture groups. False, told with the
  // file named, for a package or model part that is missing, not a regular
  // file or malformed: XML errors, unknown units, a vertex, object, group or
  // property index that does not exist.
  bool read(const std::string& path);
  const ThreeMfDocument& document() const { return doc_; }

  // The whole build into the (empty) model: every build item placed by its
  // transform, components by theirs. Coordinates are multiplied by the
  // state's scale, which is then back to 1. A build that would expand to
  // more triangles than the model may hold is refused before any is made.
  bool loadBuild();
  // One mesh object (the n-th of the file, from 0) as it stands.
  bool loadMeshObject(std::size_t n);
  std::vector<std::size_t> meshObjects() const;

  // The model part's XML read by the plain reader (QXmlStreamReader) in
  // place of the fast one (expat), as the tests compare them.
  bool usePlainXml = false;
  // A model part is read as a stream; one that decompresses to more than
  // this is refused (whitespace alone could keep the reader busy for long).
  // Tests lower it, as reading 4 GB takes a while.
  static constexpr std::uint64_t kModelPartLimit = std::uint64_t(4) << 30;
  std::uint64_t modelPartLimit = kModelPartLimit;

 private:
  friend class MfModelBuilder;
  bool readPackage(FilePtr file);
  bool readUnpacked(FilePtr file);
  // Parses one model part, its bytes given by `read` (0 at the end, below
  // 0 when it cannot be read); parts it names are queued.
  bool parsePart(const std::string& part, const std::function<long long(char*, std::size_t)>& read);
  // Reads the queued parts with `readOther` and resolves the references
  // into them.
  bool resolveParts(const std::function<bool(const std::string&)>& readOther);
  bool loadPictures();
  bool readPart(const std::string& part, std::string& out, std::uint64_t limit);
  bool emitObject(const MfObject& o, const MfTransform& t, double scale);
  bool emitTree(const MfObject& o, const MfTransform& t, double scale);
  // Triangles the object expands to with its components (saturating).
  std::int64_t expandedFaces(const MfObject& o, int depth, std::unordered_map<MfKey, std::int64_t>& memo);
  bool refuse(const std::string& why);
  void tellUnusedLayers(const MfGroup& g);

  MeshState& st_;
  std::string name_;
  ThreeMfDocument doc_;
  // The package being read (a zip_t*), or null for an unpacked model part.
  void* zip_ = nullptr;
  std::string modelPart_;
  std::unordered_map<MfKey, std::int32_t> textureMaterial_;
  bool layersTold_ = false;
  bool nestingTooDeep_ = false;
  // Model parts named by a "path" and not read yet, and the references
  // into them.
  struct PendingRef {
    std::size_t object, entry;  // object SIZE_MAX: a build item
    std::string part;
    int id;
  };
  std::vector<std::string> pendingParts_;
  std::vector<PendingRef> pendingRefs_;
};

}  // namespace ph
