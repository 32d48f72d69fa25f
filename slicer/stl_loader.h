#pragma once
// Loading a coloured binary STL: 84-byte head, then 50-byte facets (normal,
// three vertices, 16-bit colour attribute).
#include <functional>
#include <string>
#include <vector>

#include "slicer/coloured_model.h"
#include "slicer/slice_values.h"

namespace lt {

// No coordinate of a model, after its support file, may lie further out:
// beyond it a float no longer holds a dot's width, and the build room is
// far smaller.
constexpr double kMaxCoordinateMm = 1e6;

struct LoadResult {
  bool ok = false;
  std::string error;               // for the operator, when !ok
  std::vector<std::string> notes;  // warnings: ignored support-file lines, a tail, turned normals
};

using ProgressFn = std::function<void(int percent)>;

// Loads the model `modelName` (its STL file and the support file beside it)
// into `model`, replacing what it held. The model's facets end up mirrored in
// x, sorted by zBottom, with their palette indices; the extents, the
// placement minimum and the fingerprint inputs are set. A file that does not
// open, is not a regular file, is shorter than its head or holds no whole
// facet is refused with a message, as is a vertex that is not a number or
// lies beyond kMaxCoordinateMm; bytes after the last whole facet are left
// with a note.
LoadResult loadColouredStl(const std::string& modelName, SliceValues& values, ColouredModel& model,
                           const ProgressFn& progress);

// The 15-bit colour code stored in the head after "COLOR=", when present
// (the last occurrence counts).
bool headerColourOf(const unsigned char head[84], std::uint16_t& colour);

// The colour a facet attribute stands for: with a "COLOR=" head bit 15 means
// the head's colour and the fields are stored blue-green-red; otherwise only
// attributes with bit 15 and the glass code are colours, the rest is 0.
std::uint16_t facetColour(std::uint16_t attribute, bool headerColour, std::uint16_t headerDefault);

// Sorts facets by zBottom, equal ones kept in their order, NaN last: the
// fast one on several threads, the plain one the reference it is held to.
void sortFacetsByBottom(std::vector<FacetRecord>& facets);
void sortFacetsByBottomPlain(std::vector<FacetRecord>& facets);

}  // namespace lt
