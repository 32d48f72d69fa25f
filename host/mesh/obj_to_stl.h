#pragma once
// The model written as a binary STL whose facets carry 15-bit colours.
// Untextured faces take their material or vertex colour; a textured face is
// rasterised in texture space and split at its longest edge while its texels
// differ too much, so the texture's colour detail survives as geometry.
#include <QImage>

#include <array>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "host/mesh/mesh_state.h"

namespace ph {

// Parameters of the "obj2stl_pars" menu.
struct ConversionParams {
  int mintexturearea = 5;     // a face may split only above this many texels
  int colmaxdist = 1024;      // largest squared RGB distance within a face
  float minfacearea = 0.01f;  // faces of this model area or less never split
  bool noSubdivision = false; // "-N": textured faces are not split
};

// The transparent facets of the slicer (bit 15 clear).
constexpr std::uint16_t glasscode = 9105;

// 1024 R5 + 32 G5 + B5 with bit 15 set; contrast (percent, 100 = none)
// stretches each channel about 128 first.
std::uint16_t colorTo15(MeshColour colour, int contrast = 100);
MeshColour colorFrom15(std::uint16_t code);
int colorDist2(MeshColour a, MeshColour b);
// Heron's formula in single precision; 0 for a degenerate face.
float facearea(const objFace& face);

// The pixel at (x, y), both wrapped into the picture (a repeating texture);
// 32768 for a null picture.
MeshColour texelAt(const QImage& bitmap, std::int64_t x, std::int64_t y);
// texelAt tinted by the material colour unless that is white or black or
// the model has vertex colours.
MeshColour texelTinted(const QImage& bitmap, std::int64_t x, std::int64_t y, MeshColour Kd, bool hasVertexColors);

// A triangle of texture pixels and the column walk over it. Coordinates
// are kept within +-2^28, so every product below fits 64 bits.
struct PixelPoint {
  std::int32_t x = 0, y = 0;
};
struct PixelTriangle {
  PixelPoint p[3];

  static std::int32_t pixelCoord(float v);
  void triSwap(int i, int j) { std::swap(p[i], p[j]); }
  std::int32_t triEdgeY(std::int32_t x, int i, int j) const;
  // Orders the points (point 0 has the smallest x; 1 and 2 so that columns
  // run from triColumnStart down to triColumnEnd) and gives the largest x.
  std::int32_t triSetup();
  std::int32_t triColumnStart(std::int32_t x) const;
  std::int32_t triColumnEnd(std::int32_t x) const;
  std::int64_t triPixelArea() const;
};
// The first-in first-out queue of pixel triangles of the split test.
class PixelTriangleQueue {
 public:
  void triPush(const PixelTriangle& t) { q_.push_back(t); }
  bool triPop(PixelTriangle& t);
  // Halves the longest edge of t and queues the two halves.
  void triSplitLongest(const PixelTriangle& t);
  std::size_t count() const { return q_.size(); }

 private:
  std::deque<PixelTriangle> q_;
};

// The lights baked into working copies of the textures by the lighting mode.
struct Light {
  int brightlevel = 0;
  vect3 direction;
  MeshColour packed = 0;
  vect3 colour;  // red, green, blue 0..255
};
struct LightTable {
  static constexpr int kLights = 20;
  std::array<Light, kLights> lights;
  int alwaysFacing = 0;  // bit i: light i always faces
  int basebright = 100;  // percent
  std::int64_t maxtria = 0;
};

class ObjStlWriter {
 public:
  ObjStlWriter(MeshState& state, ConversionParams& params, LightTable& lights) : st_(state), par_(params), li_(lights) {}

  // The host's "process without color?" answer: facets without colour.
  std::function<bool()> noColour;

  // Writes every face, newest first, and patches the facet count. False
  // when the file is not whole: it could not be written, or meshAbort
  // stopped it (the count then says how many facets were written).
  bool objToStl(const std::string& fileName);
  void writeFaceFacet(const objFace& face, const objMaterial& material, std::FILE* out);
  // Samples the texels of the triangle; true when the face should split.
  bool scanFaceTexels(MeshColour& average, std::int32_t& largestX, const objMaterial& material, PixelTriangle& t);
  void splitFace(const objFace& face);
  void faceQueuePush(const objFace& face) { faceQueue_.push_back(face); }
  bool faceQueuePop(objFace& face);
  // Lights the face's texels into its material's working copy.
  void bakeLighting(const objFace& face);

 private:
  void writeTextured(objFace& face, std::FILE* out);

  MeshState& st_;
  ConversionParams& par_;
  LightTable& li_;
  std::deque<objFace> faceQueue_;
  bool writeFailed_ = false;
  bool tooManyFacets_ = false;
  // Texels the face being written may still scan; -1: no bound.
  std::int64_t texelBudget_ = -1;
};

}  // namespace ph
