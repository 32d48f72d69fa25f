#pragma once
// An independent reading of pattern layers for the tests: the rows of each
// layer of a .p3d as decoded plane bytes, with the row codes as they stand.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ph::testing {

struct ReadRow {
  std::array<std::vector<std::uint8_t>, 4> planes;  // decoded bytes
  std::array<int, 4> packedBytes{};                  // the counts before the codes
};

struct ReadLayer {
  std::vector<ReadRow> rows;  // every row after the layer head's skip
  bool endedWithW = false;
};

// The layers of a .p3d that pattern layers make up: each starts behind the
// layer-start marker; "wwwwwwwwww102y" is the head; the rows follow up to
// "W".
std::vector<ReadLayer> readPatternLayers(const std::string& bytes);

// Whether dot x of decoded plane bytes is set.
inline bool dotAt(const std::vector<std::uint8_t>& plane, int x) {
  const std::size_t b = std::size_t(x / 8);
  return b < plane.size() && (plane[b] & (0x80 >> (x % 8)));
}

}  // namespace ph::testing
