#pragma once
// Reading back what the slicer wrote, the way a printer or the host reads
// it: standard PackBits rows and the row codes of the raster pages.
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lt::test {

using Bytes = std::vector<std::uint8_t>;

// Standard PackBits (PCL compression mode 2): a count byte 0..127 is
// followed by count + 1 literal bytes, -1..-127 by one byte repeated
// 1 - count times. Nothing when the data breaks off or holds the count
// 0x80, which the slicer must never write.
std::optional<Bytes> unpackBits(std::string_view data);

struct RasterRow {
  std::array<Bytes, 4> plane;  // decoded water, cyan, magenta, yellow
  bool empty() const { return plane[0].empty() && plane[1].empty() && plane[2].empty() && plane[3].empty(); }
};

struct RasterPage {
  std::vector<RasterRow> rows;  // "y" skips and empty rows included
};

// Every raster page of a job (from each layer-start marker to its "0W");
// false with a reason when a page does not parse.
bool parsePages(const std::string& job, std::vector<RasterPage>& pages, std::string& error);

// Whether dot x of a decoded plane row is set (leftmost dot in bit 7).
inline bool dot(const Bytes& row, int x) {
  const std::size_t i = std::size_t(x / 8);
  return i < row.size() && (row[i] >> (7 - x % 8)) & 1;
}
int dotCount(const Bytes& row);

// How often `needle` occurs in `hay`.
int countOf(const std::string& hay, const std::string& needle);

}  // namespace lt::test
