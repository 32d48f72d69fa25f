#pragma once
// The voxel-edge repair: where two voxels of a voxel-built surface touch
// only along an edge, four facets share that edge. Edges along x, y and z
// are found in turn (the model given quarter turns so that each axis runs
// along x), and at each such edge one facet pair is split at a point moved
// slightly into the solid, so that every edge is shared by two facets.
#include <optional>
#include <string>
#include <vector>

#include "host/mesh/vect3.h"

namespace ph {

class HostCore;

// For every facet the corners are turned so that an edge along x (both
// ends with nearly equal y and z) is the first, corner 0 to corner 1 (the
// last such edge when several are); other facets keep their order.
void xEdgeFirst(std::vector<stlFacet>& list);
// Ascending by the first corner's z, then y, then x (a stable sort).
void sortByFirstCorner(std::vector<stlFacet>& list);
// Every corner and normal: coordinate b negated, then swapped with a, a
// quarter turn that maps (a, b) to (-b, a).
void quarterTurn(std::vector<stlFacet>& list, int a, int b);
// One pass over the list for edges along x; new facets go to the front.
// Returns the number of edges split.
int repairAlongAxis(HostCore& core, std::vector<stlFacet>& list, bool flag);

struct RepairResult {
  std::size_t facetsIn = 0, facetsOut = 0;
  int edgesSplit = 0;
};
// Reads input, repairs it and writes output (under a temporary name, put in
// place when whole). Nothing written (told) when the input cannot be read
// or the output not written.
std::optional<RepairResult> repairVoxelEdges(HostCore& core, const std::string& input, const std::string& output);

}  // namespace ph
