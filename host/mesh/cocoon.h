#pragma once
// Wrapping ("cocoon"): a binary STL copied into "!cocooned.stl" in the work
// folder, scaled and rotated, and, with walls on, a shell of two octagonal
// wall surfaces around it, 3 and 5 mm outside the model's outline, from
// its lowest point up to its height in whole millimetres. The printer
// builds the wall between the two surfaces, so it holds the powder around
// the model. The model is streamed: one facet at a time, read three times.
#include <array>
#include <cstdint>
#include <deque>
#include <string>

#include "host/mesh/mesh_state.h"
#include "host/mesh/stl_stream.h"

namespace ph {

struct CocoonTransform {
  float scale = 1.0f;
  float rotX = 0.0f, rotY = 0.0f, rotZ = 0.0f;  // degrees, applied x, y, z
};

struct CocoonOptions {
  bool walls = true;
  // One wall band per millimetre, shrinking with the model above it.
  bool tapered = false;
  // The model's facets lose their colours ("process without color").
  bool withoutColour = false;
};

class CocoonWrapper {
 public:
  static constexpr float maxShellEdge = 2.0f;
  static constexpr int kRows = 200;
  // min x, min y, min(x + y), min(x - y), max x, max y, max(x + y), max(x - y)
  using Row = std::array<float, 8>;
  // Field j of a row moves by a multiple of weight j / 2 (1.41, not the root
  // of 2, on the diagonals).
  static constexpr double cocoonWeights[4] = {1.0, 1.41, -1.0, -1.41};

  CocoonWrapper(MeshState& state, CocoonTransform transform) : st_(state), tf_(transform) {}

  // Scale, then the turns about x, y and z; the corner order is kept.
  void transformCocoonFacet(stlFacet& f) const;
  // The next facet of the model, transformed, cut until no edge is longer
  // than maxShellEdge; false (endOfModel) when the model is exhausted.
  bool nextCocoonFacet(stlFacet& out, StlReader& in);
  // Queues the two halves of the facet cut at the middle of edge e (corner
  // e to corner e + 1).
  void splitFacetEdge(const stlFacet& f, int edge);
  // One shell facet; swap exchanges its second and third corners.
  void writeShellFacet(StlWriter& out, const std::array<float, 9>& corners, bool swap, std::uint16_t attribute);

  // The whole operation: input to target. False, with the reason told,
  // when nothing was made.
  bool wrap(const std::string& input, const std::string& target, CocoonOptions options);

  // The octagon of a row: nine corners (x, y), the last repeating the first.
  static std::array<std::array<float, 2>, 9> ringOf(const Row& row);

  bool endOfModel = false;
  std::deque<stlFacet> splitQueue;
  std::array<Row, kRows> cocoonRows{};

 private:
  void countFacet();
  bool shellPass(int pass, StlReader& in, StlWriter& out, float minZ, int top, bool tapered, std::uint16_t white);

  MeshState& st_;
  CocoonTransform tf_;
};

// Replaces the first occurrence of search again and again, searching from
// the start each time, at most 9999 times.
void replaceEvery(std::string& text, const std::string& search, const std::string& replacement);

}  // namespace ph
