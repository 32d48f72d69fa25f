#pragma once
// Small binary STL files made on the spot, a scratch folder per test, and the
// path of the copied sample models.
#include <cstdint>
#include <string>
#include <vector>

namespace lt::test {

struct Tri {
  float n[3];
  float v[3][3];
  std::uint16_t attr;
};

// An 80-byte head holding `text` (padded with blanks) and the facet count.
std::string stlBytes(const std::vector<Tri>& tris, const std::string& head = "test model");
// The 80-byte head with the three colour bytes after "COLOR=".
std::string colourHead(unsigned char r, unsigned char g, unsigned char b);

// An axis-aligned cube from lo to hi on every axis, outward normals (or zero
// normals), two facets per side; attrs[side] is the attribute of both
// facets of a side (sides -x, +x, -y, +y, -z, +z).
std::vector<Tri> cube(float lo, float hi, const std::vector<std::uint16_t>& attrs, bool zeroNormals = false);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);

// A fresh folder in the test's working folder, removed at the end.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A sample model copied into testdata/slicer.
std::string sampleModel(const std::string& name);

}  // namespace lt::test
