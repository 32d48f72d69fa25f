#pragma once
// The mesh tools' in-memory model: vertex positions, optional vertex colours,
// texture coordinates, triangular faces and materials with their texture
// pictures. Positions, colours and texture coordinates are numbered from 1
// as in OBJ files (entry 0 stays empty); the readers of PLY and 3MF files
// number from 0. Faces and materials are kept in the order they were made;
// "newest first", the order the writers walk, is the reverse.
#include <QImage>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/mesh/vect3.h"

namespace ph {

// Colours inside the mesh tools: red | green << 8 | blue << 16.
using MeshColour = std::int32_t;
// A face colour that no source gave: the facet is written without colour,
// so the slicer's default colour applies.
constexpr MeshColour kNoColour = -1;

struct TexCoord {
  float u = 0.0f, v = 0.0f;
};

struct objMaterial {
  std::string name;
  // The texture picture's file name relative to the working folder, as
  // finally loaded (after conversion to JPEG).
  std::string textureFile;
  // The "map_Kd" text in lower case: its line in the options file.
  std::string textureKey;
  // Added to the pixel coordinates whenever texels of this texture are read.
  int offsetX = 0, offsetY = 0;
  // The texture, RGB32; null when the material has none.
  QImage texture;
  // The lit working copy while textures are saved; shared by the materials
  // that use one texture file.
  std::shared_ptr<QImage> workingCopy;
  float dissolve = 1.0f;
  MeshColour Kd = 0;
  // A material that no colour was given (the default material, an MTL
  // material without "Kd"): its untextured faces are written without
  // colour, so the slicer's default colour applies.
  bool noColour = false;
  // The first texture coordinate of a 3MF texture group.
  int vtBase = 0;

  bool hasTexture() const { return !texture.isNull() && texture.width() > 0 && texture.height() > 0; }
};

struct objFace {
  vect3 positions[3];
  TexCoord uv[3];
  float area = 0.0f;
  std::int32_t vt[3] = {0, 0, 0};
  std::int32_t vertex[3] = {0, 0, 0};  // only with vertex colours
  std::int32_t mark = 0;
  MeshColour colour = 0;  // from the vertex colours; kNoColour for none
  // kDefaultMaterial, kGreyMatter, or an index into the material list.
  std::int32_t material = -1;
};

class ObjModel {
 public:
  static constexpr std::int32_t kDefaultMaterial = -1;
  static constexpr std::int32_t kGreyMatter = -2;
  static constexpr std::int32_t kIndexLimit = 5242880;

  // Positions and vertex colours by vertex number; allvtxcolor is empty for
  // a model without vertex colours.
  std::vector<vect3> allobjv;
  std::vector<vect3> allvtxcolor;
  std::vector<TexCoord> objvt;
  // Per texture-coordinate number, the tag character of its face's texture
  // (read by the texture tools).
  std::vector<char> textureTags;
  std::int32_t idxv = 1;          // next free vertex number
  std::int32_t nextTexCoord = 1;  // next free texture-coordinate number
  bool hasVertexColors = false;
  std::int32_t maxColorComponent = -1;

  std::vector<objFace> faces;
  std::vector<objMaterial> materials;
  // Faces read before any "usemtl".
  objMaterial defaultMaterial = plainMaterial();
  // The fallback of unknown material names; outlives freeObj.
  objMaterial greymatter = greyMaterial();

  // No number of kIndexLimit or more is handed out (a test may lower it).
  std::int32_t indexLimit = kIndexLimit;
  // The most triangles a model may hold, and facets its STL may have
  // (about 1.1 GB of faces, 400 MB of STL); a test may lower it.
  static constexpr std::int64_t kFaceLimit = 8000000;
  std::int64_t faceLimit = kFaceLimit;
  // Whether n more faces fit under the limit.
  bool roomForFaces(std::int64_t n) const { return std::int64_t(faces.size()) + n <= faceLimit; }

  bool empty() const { return idxv == 1 && faces.empty(); }
  objMaterial& material(std::int32_t index);
  const objMaterial& material(std::int32_t index) const;
  objMaterial& materialOf(const objFace& f) { return material(f.material); }
  const objMaterial& materialOf(const objFace& f) const { return material(f.material); }
  // The listed material of that exact name (the first defined); -1 when none.
  // Looked up by name in a table that follows the list as it grows.
  std::int32_t materialIndex(const std::string& name) const;
  // Hands out the counter's value and counts on; false when the counter hit
  // the limit (the number handed out last is handed out again).
  bool nextIndex(std::int32_t& counter, std::int32_t& number);

  static objMaterial plainMaterial();
  static objMaterial greyMaterial();

 private:
  // Names of materials[0 .. indexed_) to their first index.
  mutable std::unordered_map<std::string, std::int32_t> byName_;
  mutable std::size_t indexed_ = 0;
  mutable const objMaterial* indexedData_ = nullptr;
  mutable std::string lastIndexedName_;
};

}  // namespace ph
