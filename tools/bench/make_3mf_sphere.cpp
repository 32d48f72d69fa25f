// Writes a UV sphere as a 3MF package whose triangles take their colours
// from a colour group, for the mesh-tool benchmark:
//   make_3mf_sphere OUT.3mf RADIUS_MM TRIANGLES
#include <zip.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_3mf_sphere OUT.3mf RADIUS_MM TRIANGLES\n");
    return 2;
  }
  const std::string out = argv[1];
  const double r = std::atof(argv[2]);
  const long want = std::atol(argv[3]);
  const int rings = std::max(2, int(std::sqrt(double(want) / 4.0)));
  const int segments = 2 * rings;
  static const char* const colours[] = {"#FF0000", "#00FF00", "#0000FF", "#FFFF00",
                                        "#00FFFF", "#FF00FF", "#FFFFFF", "#808080"};
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"millimeter\" xml:lang=\"en-US\" "
      "xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
      "xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\">\n <resources>\n"
      "  <m:colorgroup id=\"1\">\n";
  for (const char* c : colours) xml += std::string("   <m:color color=\"") + c + "\" />\n";
  xml += "  </m:colorgroup>\n  <object id=\"2\" type=\"model\">\n   <mesh>\n    <vertices>\n";
  char line[256];
  for (int i = 0; i <= rings; ++i) {
    const double th = std::numbers::pi * i / rings;
    for (int j = 0; j <= segments; ++j) {
      const double ph = 2.0 * std::numbers::pi * j / segments;
      std::snprintf(line, sizeof line, "     <vertex x=\"%.6f\" y=\"%.6f\" z=\"%.6f\" />\n",
                    r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), r * std::cos(th) + r);
      xml += line;
    }
  }
  xml += "    </vertices>\n    <triangles>\n";
  long n = 0;
  for (int i = 0; i < rings; ++i)
    for (int j = 0; j < segments; ++j) {
      const int a = i * (segments + 1) + j, b = a + 1, c = a + segments + 1, d = c + 1;
      const int colour = (i / 8 + j / 8) % 8;
      std::snprintf(line, sizeof line,
                    "     <triangle v1=\"%d\" v2=\"%d\" v3=\"%d\" pid=\"1\" p1=\"%d\" />\n"
                    "     <triangle v1=\"%d\" v2=\"%d\" v3=\"%d\" pid=\"1\" p1=\"%d\" />\n",
                    a, c, b, colour, b, c, d, colour);
      xml += line;
      n += 2;
    }
  xml += "    </triangles>\n   </mesh>\n  </object>\n </resources>\n <build>\n  <item objectid=\"2\" />\n"
         " </build>\n</model>\n";
  const std::string rels =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Relationships "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
      "Target=\"/3D/3dmodel.model\" Id=\"rel0\" "
      "Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\" /></Relationships>\n";
  const std::string types =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Types "
      "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
      "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\" /><Default Extension=\"model\" "
      "ContentType=\"application/vnd.ms-package.3dmanufacturing-3dmodel+xml\" /></Types>\n";
  int error = 0;
  zip_t* z = zip_open(out.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  const std::pair<const char*, const std::string*> parts[] = {
      {"[Content_Types].xml", &types}, {"_rels/.rels", &rels}, {"3D/3dmodel.model", &xml}};
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes->data(), bytes->size(), 0);
    if (!src || zip_file_add(z, name, src, ZIP_FL_OVERWRITE) < 0) {
      std::fprintf(stderr, "cannot add %s: %s\n", name, zip_strerror(z));
      return 1;
    }
  }
  if (zip_close(z) != 0) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  std::printf("%ld triangles\n", n);
  return 0;
}
