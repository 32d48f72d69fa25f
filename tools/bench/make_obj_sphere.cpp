// Writes a UV sphere as an OBJ with texture coordinates and a one-material
// MTL file beside it, for the mesh-tool benchmark:
//   make_obj_sphere OUT.obj RADIUS_MM TRIANGLES
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_obj_sphere OUT.obj RADIUS_MM TRIANGLES\n");
    return 2;
  }
  const std::string out = argv[1];
  const double r = std::atof(argv[2]);
  const long want = std::atol(argv[3]);
  // rings x segments quads, two triangles each, segments = 2 x rings.
  const int rings = std::max(2, int(std::sqrt(double(want) / 4.0)));
  const int segments = 2 * rings;
  std::string mtl = out.substr(0, out.rfind('.')) + ".mtl";
  std::string mtlName = mtl.substr(mtl.find_last_of('/') + 1);
  std::FILE* m = std::fopen(mtl.c_str(), "w");
  std::FILE* f = std::fopen(out.c_str(), "w");
  if (!m || !f) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  std::fprintf(m, "newmtl skin\nKd 0.8 0.4 0.2\n");
  std::fclose(m);
  std::fprintf(f, "# UV sphere, %d rings x %d segments\nmtllib %s\nusemtl skin\n", rings, segments, mtlName.c_str());
  for (int i = 0; i <= rings; ++i) {
    const double th = std::numbers::pi * i / rings;
    for (int j = 0; j <= segments; ++j) {
      const double ph = 2.0 * std::numbers::pi * j / segments;
      std::fprintf(f, "v %.6f %.6f %.6f\n", r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph),
                   r * std::cos(th) + r);
    }
  }
  for (int i = 0; i <= rings; ++i)
    for (int j = 0; j <= segments; ++j) std::fprintf(f, "vt %.6f %.6f\n", double(j) / segments, 1.0 - double(i) / rings);
  long n = 0;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      const int a = i * (segments + 1) + j + 1, b = a + 1, c = a + segments + 1, d = c + 1;
      std::fprintf(f, "f %d/%d %d/%d %d/%d\nf %d/%d %d/%d %d/%d\n", a, a, c, c, b, b, b, b, c, c, d, d);
      n += 2;
    }
  std::fclose(f);
  std::printf("%ld triangles\n", n);
  return 0;
}
