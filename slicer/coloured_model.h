#pragma once
// The loaded model as the layer slicer walks it: the facets sorted by their
// lowest point, the palette, the extents and the placement in the build room.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "slicer/palette.h"

namespace lt {

struct Vec3f {
  float x = 0, y = 0, z = 0;
};

// One facet. Every x (vertices and normal) is stored negated: the model is
// mirrored in x from loading on, and so are support-file x values.
struct FacetRecord {
  Vec3f normal;
  Vec3f v[3];
  float zTop = 0;     // highest vertex z
  float zBottom = 0;  // lowest vertex z
  std::uint16_t colourIndex = 0;
};

struct ColouredModel {
  std::string sourcePath;            // the STL file that was read
  std::vector<FacetRecord> facets;   // sorted by zBottom (stable) after a load
  Palette palette;
  std::vector<float> colourDistanceOffset = std::vector<float>(Palette::kSize, 0.0f);
  bool headerColour = false;         // the head holds "COLOR="
  std::uint16_t headerDefault = 0;
  Vec3f boxMin{9.99e9f, 9.99e9f, 9.99e9f};
  Vec3f boxMax{-9.99e9f, -9.99e9f, -9.99e9f};
  Vec3f placementMin;                // the minimum of the last load (y less the -Y shift)
  Vec3f loadMin;                     // the minimum of the last load's facets
  Vec3f placeOffset;                 // added to every coordinate by the slicer
  bool placed = false;               // support-file P: no placement offset
  bool placementPending = false;     // the first modelBox after a load places
  float supportScale = 1.0f;
  Vec3f supportShift;
  std::int32_t modelSize = 0;        // fingerprint input: file size in bytes
  std::int32_t modelDateCode = 0;    // fingerprint input: file date code
  std::uint32_t modelContentCrc = 0; // fingerprint input: CRC-32 of the file's content
  int widthCode = 227;               // raster configuration byte from the width
  bool singleWhite = false;
  double dotsPerMmX = 11.811024;
  double dotsPerMmY = 11.811024;

  // The first facet whose zBottom is not below z (facets are sorted).
  std::size_t firstFacetFrom(float z) const;
};

struct Box {
  double x = 0, y = 0, z = 0;
};

// The size of the placed model in mm. The first call after a load places it
// (lowest corner at 10, 10, 0.35 mm) unless the support file said P. Also
// sets the width code.
Box modelBox(ColouredModel& m);

// The lowest corner of the placed model in the build room (mm).
Vec3f placedMinimum(const ColouredModel& m);

// The raster configuration byte for a model x size in mm.
int widthCodeFor(double xMm);

}  // namespace lt
