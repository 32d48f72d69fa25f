#include "stl_fixture.h"

#include <unistd.h>

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
