#pragma once
// A cube as a binary STL of 12 facets, for tests that slice a model: the
// corner at (xy, xy, 0), edges of `mm`, the four facets of the bottom and
// top in one 16-bit colour and the sides in another (normals left 0, taken
// from the corners).
#include <cstdint>
#include <fstream>
#include <string>

namespace ph::test {

inline void writeColouredCube(const std::string& path, float xy, float mm, std::uint16_t topAndBottom,
                              std::uint16_t sides) {
  const float o = xy, s = mm;
  const float p[8][3] = {{o, o, 0}, {o + s, o, 0}, {o + s, o + s, 0}, {o, o + s, 0},
                         {o, o, s}, {o + s, o, s}, {o + s, o + s, s}, {o, o + s, s}};
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  std::ofstream f(path, std::ios::binary);
  f << std::string(80, ' ');
  const std::uint32_t n = 12;
  f.write(reinterpret_cast<const char*>(&n), 4);
  for (int i = 0; i < 12; ++i) {
    const float normal[3] = {0, 0, 0};
    f.write(reinterpret_cast<const char*>(normal), 12);
    for (int k : faces[i]) f.write(reinterpret_cast<const char*>(p[k]), 12);
    const std::uint16_t colour = i < 4 ? topAndBottom : sides;
    f.write(reinterpret_cast<const char*>(&colour), 2);
  }
}

}  // namespace ph::test
