#include "host/mesh/tests/stl_files.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>

namespace ph::test {

namespace {
void putFloat(std::string& out, float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, 4);
  for (int i = 0; i < 4; ++i) out.push_back(char(u >> (8 * i) & 0xFF));
}
}  // namespace

ReadFacet facetOf(Point a, Point b, Point c, std::uint16_t attribute) {
  const double u[3] = {double(b[0]) - a[0], double(b[1]) - a[1], double(b[2]) - a[2]};
  const double v[3] = {double(c[0]) - a[0], double(c[1]) - a[1], double(c[2]) - a[2]};
  double n[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]};
  const double len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
  if (len > 0)
    for (double& x : n) x /= len;
  return {{float(n[0]), float(n[1]), float(n[2])}, {a, b, c}, attribute};
}

std::vector<ReadFacet> boxFacets(Point lo, Point hi, std::uint16_t attribute) {
  const Point v[8] = {{lo[0], lo[1], lo[2]}, {hi[0], lo[1], lo[2]}, {hi[0], hi[1], lo[2]}, {lo[0], hi[1], lo[2]},
                      {lo[0], lo[1], hi[2]}, {hi[0], lo[1], hi[2]}, {hi[0], hi[1], hi[2]}, {lo[0], hi[1], hi[2]}};
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  std::vector<ReadFacet> out;
  for (const auto& f : faces) out.push_back(facetOf(v[f[0]], v[f[1]], v[f[2]], attribute));
  return out;
}

void writeStl(const std::string& path, const std::vector<ReadFacet>& facets, const std::string& head,
              std::optional<std::uint32_t> count) {
  std::string bytes = head.substr(0, 80);
  bytes.resize(80, '\0');
  const std::uint32_t n = count.value_or(std::uint32_t(facets.size()));
  for (int i = 0; i < 4; ++i) bytes.push_back(char(n >> (8 * i) & 0xFF));
  for (const ReadFacet& f : facets) {
    for (float x : f.normal) putFloat(bytes, x);
    for (const auto& c : f.corner)
      for (float x : c) putFloat(bytes, x);
    bytes.push_back(char(f.attribute & 0xFF));
    bytes.push_back(char(f.attribute >> 8));
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> facetRecords(const std::string& path) {
  const std::string b = fileBytes(path);
  std::vector<std::string> out;
  for (std::size_t at = 84; at + 50 <= b.size(); at += 50) out.push_back(b.substr(at, 50));
  return out;
}

std::string colourHead(unsigned char r, unsigned char g, unsigned char b) {
  std::string head = "STLB test COLOR=";
  head += char(r);
  head += char(g);
  head += char(b);
  head += char(0xFF);
  return head;
}

}  // namespace ph::test
