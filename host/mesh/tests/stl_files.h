#pragma once
// Small binary STL models for the wrapping and STL tool tests, written by a
// writer of the tests' own (read back with readStl of mesh_fixture.h).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/mesh/tests/mesh_fixture.h"

namespace ph::test {

using Point = std::array<float, 3>;

// A facet with its right-hand normal computed from the corners.
ReadFacet facetOf(Point a, Point b, Point c, std::uint16_t attribute);
// The 12 facets of an axis-aligned box, each wound counter-clockwise seen
// from outside.
std::vector<ReadFacet> boxFacets(Point lo, Point hi, std::uint16_t attribute);
// head: the first 80 bytes (padded with zeros); count: the count written
// at byte 80 (the facets' own by default).
void writeStl(const std::string& path, const std::vector<ReadFacet>& facets, const std::string& head = "test model",
              std::optional<std::uint32_t> count = std::nullopt);
// The 50 bytes of every facet as the file holds them, and the file's bytes.
std::vector<std::string> facetRecords(const std::string& path);
std::string fileBytes(const std::string& path);

// A head of the "COLOR=" convention with this default colour.
std::string colourHead(unsigned char r, unsigned char g, unsigned char b);

}  // namespace ph::test
