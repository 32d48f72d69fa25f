// Writes the slicer's worst cases for the benchmark: self-intersecting
// triangle soup, a small part with many support blocks, many boxes, and
// coincident copies of one box or one support block.
//   make_soup OUT.stl soup|blocks|sameblocks|boxes|copies COUNT SIZE_MM HEIGHT_MM [SEED]
// Soup: COUNT triangles with every vertex drawn at random in a box of
// SIZE x SIZE x HEIGHT mm, in seven colours (glass and "no colour" among
// them); the normals follow the vertex order. Blocks: a 2 mm cube and, in
// OUT's support file (".sup" beside it), COUNT support blocks of up to
// 5 x 5 x 2 mm at random in the same box; sameblocks: COUNT copies of one
// 5 x 5 x 2 mm block in its middle. Boxes: COUNT boxes of up to
// 5 x 5 x HEIGHT mm at random in the box, in the STL; copies: COUNT copies
// of one 5 x 5 x HEIGHT mm box in its middle. The same arguments always
// give the same file.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

struct V {
  float x, y, z;
};

void put(std::vector<char>& out, const void* p, std::size_t n) {
  out.insert(out.end(), static_cast<const char*>(p), static_cast<const char*>(p) + n);
}

void facet(std::vector<char>& out, V a, V b, V c, std::uint16_t colour) {
  const float ux = b.x - a.x, uy = b.y - a.y, uz = b.z - a.z;
  const float vx = c.x - a.x, vy = c.y - a.y, vz = c.z - a.z;
  float n[3] = {uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
  const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (len > 0)
    for (float& k : n) k /= len;
  put(out, n, 12);
  put(out, &a, 12);
  put(out, &b, 12);
  put(out, &c, 12);
  put(out, &colour, 2);
}

// A box from lo to hi, two facets per side, in one colour.
void box(std::vector<char>& out, V lo, V hi, std::uint16_t colour) {
  V c[8];
  for (int i = 0; i < 8; ++i) c[i] = {i & 4 ? hi.x : lo.x, i & 2 ? hi.y : lo.y, i & 1 ? hi.z : lo.z};
  const int quads[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  for (const auto& q : quads) {
    facet(out, c[q[0]], c[q[1]], c[q[2]], colour);
    facet(out, c[q[0]], c[q[2]], c[q[3]], colour);
  }
}

bool writeAll(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 2 ? argv[2] : "";
  if (argc < 6 || (mode != "soup" && mode != "blocks" && mode != "sameblocks" && mode != "boxes" && mode != "copies")) {
    std::fprintf(stderr, "usage: make_soup OUT.stl soup|blocks|sameblocks|boxes|copies COUNT SIZE_MM HEIGHT_MM [SEED]\n");
    return 2;
  }
  const std::string out = argv[1];
  const bool soup = mode == "soup";
  const long count = std::atol(argv[3]);
  const float size = float(std::atof(argv[4])), height = float(std::atof(argv[5]));
  std::mt19937 rng(argc > 6 ? unsigned(std::atol(argv[6])) : 1u);
  auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
  const std::uint16_t colours[7] = {0x8000 | 31 << 10, 0x8000 | 31 << 5, 0x8000 | 31, 0xFFFF, 9105, 0,
                                    0x8000 | 20 << 10 | 5 << 5 | 9};

  std::vector<char> stl(84, 0);
  std::uint32_t facets = 0;
  if (soup) {
    std::snprintf(stl.data(), 80, "soup of %ld facets", count);
    for (long i = 0; i < count; ++i) {
      V v[3];
      for (auto& p : v) p = {uni(0, size), uni(0, size), uni(0, height)};
      facet(stl, v[0], v[1], v[2], colours[rng() % 7]);
      ++facets;
    }
  } else if (mode == "boxes" || mode == "copies") {
    std::snprintf(stl.data(), 80, "%ld %s", count, mode == "boxes" ? "boxes" : "copies of one box");
    float x = size / 2, y = size / 2, dx = 5, dy = 5;
    for (long i = 0; i < count; ++i) {
      if (mode == "boxes") x = uni(0, size), y = uni(0, size), dx = uni(0.1f, 5), dy = uni(0.1f, 5);
      box(stl, {x, y, 0}, {x + dx, y + dy, height}, colours[i % 3]);
      facets += 12;
    }
  } else {
    std::snprintf(stl.data(), 80, "2 mm cube with %ld support blocks", count);
    box(stl, {0, 0, 0}, {2, 2, 2}, colours[0]);
    facets += 12;
    std::string sup;
    char line[160];
    for (long i = 0; i < count; ++i) {
      if (mode == "sameblocks") {
        const float c = size / 2;
        std::snprintf(line, sizeof line, "B %f %f 0 %f %f 2\n", c, c, c + 5, c + 5);
      } else {
        const float x = uni(0, size), y = uni(0, size), z = uni(0, height);
        std::snprintf(line, sizeof line, "B %f %f %f %f %f %f\n", x, y, z, x + uni(0.1f, 5), y + uni(0.1f, 5),
                      z + uni(0.1f, 2));
      }
      sup += line;
    }
    const std::string supName = out.substr(0, out.rfind('.')) + ".sup";
    if (!writeAll(supName, sup)) return 1;
  }
  std::memcpy(stl.data() + 80, &facets, 4);
  if (!writeAll(out, std::string(stl.begin(), stl.end()))) return 1;
  const bool support = mode == "blocks" || mode == "sameblocks";
  std::printf("%s: %u facets%s\n", out.c_str(), facets, support ? " and its support file" : "");
  return 0;
}
