#pragma once
// Loading a coloured binary STL: 84-byte head, then 50-byte facets (normal,
// three vertices, 16-bit colour attribute).
#include <functional>
#include <string>
#include <vector>

#include "slicer/coloured_model.h"
#include "slicer/slice_values.h"

namespace lt {

struct LoadResult {
  bool ok = false;
  std::string error;               // for the operator, when !ok
  std::vector<std::string> notes;  // support-file lines that were ignored
};

using ProgressFn = std::function<void(int percent)>;

// Loads the model `modelName` (its STL file and the support file beside it)
// into `model`, replacing what it held. The model's facets end up mirrored in
// x, sorted by zBottom, with their palette indices; the extents, the
// placement minimum and the fingerprint inputs are set. A file that does not
// open or whose length is not 84 + 50 n bytes, or that holds no facet, is
// refused with a message.
LoadResult loadColouredStl(const std::string& modelName, SliceValues& values, ColouredModel& model,
                           const ProgressFn& progress);

// The 15-bit colour code stored in the head after "COLOR=", when present
// (the last occurrence counts).
bool headerColourOf(const unsigned char head[84], std::uint16_t& colour);

// The colour a facet attribute stands for: with a "COLOR=" head bit 15 means
// the head's colour and the fields are stored blue-green-red; otherwise only
// attributes with bit 15 and the glass code are colours, the rest is 0.
std::uint16_t facetColour(std::uint16_t attribute, bool headerColour, std::uint16_t headerDefault);

}  // namespace lt
