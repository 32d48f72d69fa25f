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

// A box from lo to hi (x, y, z), two facets per side, normals outward (or
// inward for a void); every facet gets `attr`, or attrs[side] for sides
// -x, +x, -y, +y, -z, +z.
std::vector<Tri> box(const float lo[3], const float hi[3], const std::vector<std::uint16_t>& attrs,
                     bool inward = false);
// A UV sphere of the given diameter, its lowest point at z = 0, with
// rings x 2 rings sectors; facet colour attrs[sector * attrs.size() / sectors].
std::vector<Tri> sphere(float diameter, int rings, const std::vector<std::uint16_t>& attrs);
// Appends b to a.
void append(std::vector<Tri>& a, const std::vector<Tri>& b);

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
