// Writes a textured "head" for the texture-tool benchmark: a closed cylinder
// about the y axis (radius 80, height 200, up +y like a scan) with a domed
// top, its faces textured from one 1024 x 1024 BMP of colour bands, and the
// MTL beside it:
//   make_textured_head OUT.obj TRIANGLES
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>
#include <vector>

namespace {

// A 24-bit BMP of bands that change along both axes, so re-sampled textures
// show where each texel came from.
bool writeBmp(const std::string& path, int side) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const int row = side * 3;
  const std::uint32_t size = 54u + std::uint32_t(row) * std::uint32_t(side);
  unsigned char h[54] = {'B', 'M'};
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) h[at + i] = static_cast<unsigned char>(v >> (8 * i));
  };
  put32(2, size);
  put32(10, 54);
  put32(14, 40);
  put32(18, std::uint32_t(side));
  put32(22, std::uint32_t(side));
  h[26] = 1;
  h[28] = 24;
  std::fwrite(h, 1, 54, f);
  std::vector<unsigned char> line(std::size_t(row), 0);
  for (int y = 0; y < side; ++y) {
    for (int x = 0; x < side; ++x) {
      line[std::size_t(3 * x)] = static_cast<unsigned char>(x * 255 / side);      // blue
      line[std::size_t(3 * x + 1)] = static_cast<unsigned char>((x / 32 % 2) * 200);  // green
      line[std::size_t(3 * x + 2)] = static_cast<unsigned char>(y * 255 / side);  // red
    }
    std::fwrite(line.data(), 1, line.size(), f);
  }
  return std::fclose(f) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: make_textured_head OUT.obj TRIANGLES\n");
    return 2;
  }
  const std::string out = argv[1];
  const long want = std::atol(argv[2]);
  const std::string base = out.substr(0, out.rfind('.'));
  const std::string folder = out.find('/') == std::string::npos ? std::string(".") : out.substr(0, out.rfind('/'));
  const std::string name = base.substr(base.find_last_of('/') + 1);
  if (!writeBmp(folder + "/" + name + "_skin.bmp", 1024)) {
    std::fprintf(stderr, "cannot write the texture beside %s\n", out.c_str());
    return 1;
  }
  std::FILE* m = std::fopen((base + ".mtl").c_str(), "w");
  std::FILE* f = std::fopen(out.c_str(), "w");
  if (!m || !f) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  std::fprintf(m, "newmtl skin\nKd 1 1 1\nmap_Kd %s_skin.bmp\n", name.c_str());
  std::fclose(m);
  // rings x segments quads on the side and the dome, two triangles each.
  const int segments = std::max(8, int(std::sqrt(double(want) / 2.0)));
  const int rings = std::max(2, int(want / (2L * segments)));
  const int sideRings = rings * 3 / 4, domeRings = rings - sideRings;
  const double r = 80.0, height = 200.0;
  std::fprintf(f, "# textured head for the benchmark\nmtllib %s.mtl\nusemtl skin\n", name.c_str());
  for (int i = 0; i <= rings; ++i) {
    double y, radius;
    if (i <= sideRings) {
      y = height * i / sideRings;
      radius = r;
    } else {
      const double a = (std::numbers::pi / 2) * (i - sideRings) / domeRings;
      y = height + r * std::sin(a);
      radius = std::max(r * std::cos(a), 0.01);
    }
    for (int j = 0; j <= segments; ++j) {
      const double a = 2 * std::numbers::pi * j / segments;
      std::fprintf(f, "v %.5f %.5f %.5f\nvt %.6f %.6f\n", radius * std::sin(a), y, radius * std::cos(a),
                   double(j) / segments, double(i) / rings);
    }
  }
  const int perRing = segments + 1;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      const int a = i * perRing + j + 1, b = a + 1, c = a + perRing, d = c + 1;
      std::fprintf(f, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, b, b, c, c, b, b, d, d, c, c);
    }
  if (std::fclose(f) != 0) return 1;
  std::printf("%s: %ld faces\n", out.c_str(), 2L * rings * segments);
  return 0;
}
