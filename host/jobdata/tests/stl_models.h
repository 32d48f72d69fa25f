#pragma once
// Coloured binary STL models made for the conversion's tests, and the real
// slicer run on them (a second process) with the host's slicing options.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ph::testing {

struct Facet {
  std::array<std::array<float, 3>, 3> v;
  std::uint16_t colour;  // the STL attribute: bit 15 and 1024R + 32G + B
};

void writeStl(const std::string& path, const std::vector<Facet>& facets);

// A cube of `size` mm whose sides carry two colours.
std::vector<Facet> cubeModel(float size);
// A box of x by y by z mm with a closed cavity `wall` mm inside its faces:
// its outside red, its inside blue.
std::vector<Facet> hollowBoxModel(float x, float y, float z, float wall);
// A torus lying flat: ring radius R, tube radius r (mm), in n x m quads
// coloured in bands around the ring.
std::vector<Facet> torusModel(float R, float r, int n, int m);

// Slices `model` into `job` with layers of `microns`; "" on success, else
// what went wrong.
std::string sliceModel(const std::string& model, const std::string& job, int microns);

}  // namespace ph::testing
