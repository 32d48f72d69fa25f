#include "stl_fixture.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace lt::test {

std::string stlBytes(const std::vector<Tri>& tris, const std::string& head) {
  std::string out = head.substr(0, 80);
  out.resize(80, ' ');
  const std::uint32_t n = std::uint32_t(tris.size());
  out.append(reinterpret_cast<const char*>(&n), 4);
  for (const auto& t : tris) {
    out.append(reinterpret_cast<const char*>(t.n), 12);
    out.append(reinterpret_cast<const char*>(t.v), 36);
    out.append(reinterpret_cast<const char*>(&t.attr), 2);
  }
  return out;
}

std::string colourHead(unsigned char r, unsigned char g, unsigned char b) {
  std::string h = "STLB test COLOR=";
  h += char(r);
  h += char(g);
  h += char(b);
  h += char(0xFF);
  return h;
}

std::vector<Tri> cube(float lo, float hi, const std::vector<std::uint16_t>& attrs, bool zeroNormals) {
  auto c = [&](int i, int bit) { return (i & bit) ? hi : lo; };
  // Corner i: x = bit 4, y = bit 2, z = bit 1. Each side counter-clockwise
  // seen from outside.
  struct Side {
    int q[4];
    float n[3];
  };
  const Side sides[6] = {{{0, 1, 3, 2}, {-1, 0, 0}}, {{4, 6, 7, 5}, {1, 0, 0}}, {{0, 4, 5, 1}, {0, -1, 0}},
                         {{2, 3, 7, 6}, {0, 1, 0}},  {{0, 2, 6, 4}, {0, 0, -1}}, {{1, 5, 7, 3}, {0, 0, 1}}};
  std::vector<Tri> out;
  for (int s = 0; s < 6; ++s) {
    const int tri[2][3] = {{0, 1, 2}, {0, 2, 3}};
    for (const auto& t : tri) {
      Tri f{};
      for (int k = 0; k < 3; ++k) {
        f.n[k] = zeroNormals ? 0.0f : sides[s].n[k];
        const int corner = sides[s].q[t[k]];
        f.v[k][0] = c(corner, 4);
        f.v[k][1] = c(corner, 2);
        f.v[k][2] = c(corner, 1);
      }
      f.attr = attrs[std::size_t(s) % attrs.size()];
      out.push_back(f);
    }
  }
  return out;
}

std::vector<Tri> box(const float lo[3], const float hi[3], const std::vector<std::uint16_t>& attrs, bool inward) {
  std::vector<Tri> out = cube(0, 1, attrs);
  for (auto& t : out) {
    for (auto& v : t.v)
      for (int k = 0; k < 3; ++k) v[k] = v[k] == 0 ? lo[k] : hi[k];
    if (inward) {
      for (float& n : t.n) n = -n;
      std::swap(t.v[1], t.v[2]);
    }
  }
  return out;
}

std::vector<Tri> sphere(float diameter, int rings, const std::vector<std::uint16_t>& attrs) {
  const double r = diameter / 2.0;
  const int sectors = 2 * rings;
  auto at = [&](int i, int j, float* v) {
    const double th = M_PI * i / rings, ph = 2 * M_PI * j / sectors;
    v[0] = float(r * std::sin(th) * std::cos(ph));
    v[1] = float(r * std::sin(th) * std::sin(ph));
    v[2] = float(r - r * std::cos(th));
  };
  std::vector<Tri> out;
  auto add = [&](int ia, int ja, int ib, int jb, int ic, int jc, std::uint16_t attr) {
    Tri t{};
    at(ia, ja, t.v[0]);
    at(ib, jb, t.v[1]);
    at(ic, jc, t.v[2]);
    t.attr = attr;  // zero normal: the loader takes it from the vertices
    out.push_back(t);
  };
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < sectors; ++j) {
      const std::uint16_t a = attrs[std::size_t(j) * attrs.size() / std::size_t(sectors)];
      if (i > 0) add(i, j, i, j + 1, i + 1, j + 1, a);
      if (i < rings - 1) add(i, j, i + 1, j + 1, i + 1, j, a);
    }
  return out;
}

void append(std::vector<Tri>& a, const std::vector<Tri>& b) { a.insert(a.end(), b.begin(), b.end()); }

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (!f) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

ScratchDir::ScratchDir() {
  std::string tmpl = std::filesystem::current_path().string() + "/scratch_XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string sampleModel(const std::string& name) {
  const char* root = std::getenv("PRISM_TEST_DATA");
  return std::string(root ? root : "testdata") + "/slicer/" + name;
}

}  // namespace lt::test
