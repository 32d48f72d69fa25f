#pragma once
// The void split: the faces of an OBJ model seen from outside come first,
// those hidden inside (voids) after a group line "g inside". The model's
// STL (every OBJ triangle one facet, newest first) is looked at along 16
// directions by rays on a grid; a facet crossed first by some ray is seen.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/mesh/hollow.h"

namespace ph {

class HostCore;

// Marks the facets crossed first by some ray of the 16 views (45° steps
// about z, then about x) with rays `voxel` apart. seen[n] belongs to facet n
// of the list. The plain walk tests every facet active at a ray's height
// (the reference of the fast one). False when stopped by abort.
bool markSeenFacets(HostCore& core, FacetList& model, double voxel, std::vector<std::uint8_t>& seen,
                    bool plain = false, const bool* abort = nullptr);

// Where the split of an OBJ goes: beside it, "<name>_voids.obj".
std::string voidSplitOutputName(const std::string& objIn);

struct VoidSplitResult {
  std::size_t facets = 0, seenFacets = 0;
  std::int64_t seenFaces = 0, insideFaces = 0;
};

// Rewrites objIn into objOut: every line but the face lines, and the faces
// with a seen facet, then "g inside" and the other faces. A face line of c
// corners stands for c - 2 facets. Nothing is written (told) when the STL
// cannot be read, its facets do not match the OBJ's faces, objOut is objIn,
// or the output cannot be written whole.
std::optional<VoidSplitResult> splitVisibleFaces(HostCore& core, const std::string& stl, const std::string& objIn,
                                                 const std::string& objOut, int microns, bool plain = false,
                                                 const bool* abort = nullptr);

}  // namespace ph
