// Writes a coloured binary STL of a UV sphere for the slicer benchmark:
//   make_sphere OUT.stl DIAMETER_MM FACETS
// The sphere is cut into latitude rings and longitude sectors (two facets
// per cell, one at each pole cap); the colour changes every 30 degrees of
// longitude, so the skin colouring has real work to do.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct V {
  float x, y, z;
};

void put(std::vector<char>& out, const void* p, std::size_t n) {
  out.insert(out.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
}

void facet(std::vector<char>& out, V a, V b, V c, std::uint16_t colour, std::uint32_t& count) {
  const float ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
  const float vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
  float n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
  const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (!(len > 0)) return;
  for (float& k : n) k /= len;
  put(out, n, 12);
  put(out, &a, 12);
  put(out, &b, 12);
  put(out, &c, 12);
  put(out, &colour, 2);
  ++count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_sphere OUT.stl DIAMETER_MM FACETS\n");
    return 2;
  }
  const double r = std::atof(argv[2]) / 2;
  const double facets = std::atof(argv[3]);
  // rings x sectors x 2 facets, with twice as many sectors as rings.
  const int rings = std::max(4, int(std::sqrt(facets / 4)));
  const int sectors = 2 * rings;
  const std::uint16_t colours[12] = {0x8000 | 31 << 10, 0x8000 | 31 << 10 | 16 << 5, 0x8000 | 31 << 10 | 31 << 5,
                                     0x8000 | 16 << 10 | 31 << 5, 0x8000 | 31 << 5, 0x8000 | 31 << 5 | 16,
                                     0x8000 | 31 << 5 | 31, 0x8000 | 16 << 5 | 31, 0x8000 | 31,
                                     0x8000 | 16 << 10 | 31, 0x8000 | 31 << 10 | 31, 0xFFFF};
  auto at = [&](int i, int j) {
    const double th = M_PI * i / rings, ph = 2 * M_PI * j / sectors;
    return V{float(r * std::sin(th) * std::cos(ph)), float(r * std::sin(th) * std::sin(ph)),
             float(r - r * std::cos(th))};
  };
  std::vector<char> out(84, 0);
  std::snprintf(out.data(), 80, "benchmark sphere %.1f mm", 2 * r);
  std::uint32_t count = 0;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < sectors; ++j) {
      const std::uint16_t c = colours[(j * 12) / sectors];
      const V a = at(i, j), b = at(i, j + 1), d = at(i + 1, j), e = at(i + 1, j + 1);
      if (i > 0) facet(out, a, b, e, c, count);
      if (i < rings - 1) facet(out, a, e, d, c, count);
    }
  std::memcpy(out.data() + 80, &count, 4);
  std::FILE* f = std::fopen(argv[1], "wb");
  if (!f || std::fwrite(out.data(), 1, out.size(), f) != out.size() || std::fclose(f) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  std::printf("%s: %u facets\n", argv[1], count);
  return 0;
}
