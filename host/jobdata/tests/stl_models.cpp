#include "stl_models.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <fstream>

#include "platform/process.h"

namespace ph::testing {

namespace {

constexpr std::uint16_t kRed = 0x8000 | (31 << 10), kBlue = 0x8000 | 31, kGreen = 0x8000 | (31 << 5);

// The 12 facets of an axis-aligned box, wound outwards (or inwards).
void addBox(std::vector<Facet>& out, std::array<float, 3> lo, std::array<float, 3> hi, bool inwards,
            std::uint16_t colour) {
  const float v[8][3] = {{lo[0], lo[1], lo[2]}, {hi[0], lo[1], lo[2]}, {hi[0], hi[1], lo[2]}, {lo[0], hi[1], lo[2]},
                         {lo[0], lo[1], hi[2]}, {hi[0], lo[1], hi[2]}, {hi[0], hi[1], hi[2]}, {lo[0], hi[1], hi[2]}};
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  for (const auto& f : faces) {
    Facet facet{};
    for (int k = 0; k < 3; ++k) {
      const int at = inwards ? 2 - k : k;
      for (int c = 0; c < 3; ++c) facet.v[std::size_t(k)][std::size_t(c)] = v[f[at]][c];
    }
    facet.colour = colour;
    out.push_back(facet);
  }
}

}  // namespace

void writeStl(const std::string& path, const std::vector<Facet>& facets) {
  std::ofstream out(path, std::ios::binary);
  char header[80] = "conversion test model";
  out.write(header, 80);
  const auto count = std::uint32_t(facets.size());
  out.write(reinterpret_cast<const char*>(&count), 4);
  for (const Facet& f : facets) {
    const float normal[3] = {0, 0, 0};  // taken from the vertices
    out.write(reinterpret_cast<const char*>(normal), 12);
    for (const auto& p : f.v) out.write(reinterpret_cast<const char*>(p.data()), 12);
    out.write(reinterpret_cast<const char*>(&f.colour), 2);
  }
}

std::vector<Facet> cubeModel(float size) {
  std::vector<Facet> out;
  addBox(out, {0, 0, 0}, {size, size, size}, false, kRed);
  for (std::size_t i = 6; i < out.size(); ++i) out[i].colour = kBlue;
  return out;
}

std::vector<Facet> hollowBoxModel(float x, float y, float z, float wall) {
  std::vector<Facet> out;
  addBox(out, {0, 0, 0}, {x, y, z}, false, kRed);
  addBox(out, {wall, wall, wall}, {x - wall, y - wall, z - wall}, true, kBlue);
  return out;
}

std::vector<Facet> torusModel(float R, float r, int n, int m) {
  const double pi = std::acos(-1.0);
  auto point = [&](int i, int j) {
    const double u = 2 * pi * i / n, w = 2 * pi * j / m;
    const double d = R + r * std::cos(w);
    return std::array<float, 3>{float(R + r + d * std::cos(u)), float(R + r + d * std::sin(u)),
                                float(r + r * std::sin(w))};
  };
  const std::uint16_t colours[3] = {kRed, kGreen, kBlue};
  std::vector<Facet> out;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < m; ++j) {
      const auto a = point(i, j), b = point(i + 1, j), c = point(i + 1, j + 1), d = point(i, j + 1);
      const std::uint16_t colour = colours[(3 * i) / n];
      out.push_back({{a, b, c}, colour});
      out.push_back({{a, c, d}, colour});
    }
  return out;
}

std::string sliceModel(const std::string& model, const std::string& job, int microns) {
  // The ready event must not meet another test's slicer or a running system.
  setenv("PRISM_NAMESPACE", ("tconvmodel" + std::to_string(getpid()) + "_").c_str(), 1);
  auto r = plat::spawnProcess({LAYERTINT_PATH, "-F" + model, "-L" + std::to_string(microns), "-W64", "-S64", "-C50",
                               "-D1000", "-K" + job, "-E32767", "-I7"});
  if (r.pid <= 0) return "cannot start the slicer: " + r.error;
  const auto status = plat::waitProcess(r.pid, 60000);
  if (!status) return "the slicer did not end";
  if (*status != 0) return "the slicer ended with status " + std::to_string(*status);
  return "";
}

}  // namespace ph::testing
