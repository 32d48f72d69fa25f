// The PLY reader: the three encodings, colour kinds, polygons, the faults
// of damaged files, the menus and the model road; the sample files are
// checked against assimp where it is installed.
#include <algorithm>
#include <cstring>
#include <filesystem>

#include "host/mesh/tests/assimp_check.h"
#include "host/mesh/tests/mesh_fixture.h"

using namespace ph;
using namespace ph::test;

namespace {

// A PLY file built in the test: header lines, then values written in the
// chosen encoding (each value with its type).
struct PlyFile {
  std::string format = "binary_little_endian";
  std::vector<std::string> header;
  std::string body;

  void value(const std::string& type, double v) {
    if (format == "ascii") {
      char t[64];
      std::snprintf(t, sizeof t, "%.9g ", v);
      body += t;
      return;
    }
    unsigned char b[8];
    std::size_t n = 0;
    auto put = [&](const void* p, std::size_t size) {
      std::memcpy(b, p, size);
      n = size;
    };
    if (type == "uchar") { const std::uint8_t x = std::uint8_t(v); put(&x, 1); }
    else if (type == "char") { const std::int8_t x = std::int8_t(v); put(&x, 1); }
    else if (type == "ushort") { const std::uint16_t x = std::uint16_t(v); put(&x, 2); }
    else if (type == "short") { const std::int16_t x = std::int16_t(v); put(&x, 2); }
    else if (type == "int") { const std::int32_t x = std::int32_t(v); put(&x, 4); }
    else if (type == "uint") { const std::uint32_t x = std::uint32_t(v); put(&x, 4); }
    else if (type == "float") { const float x = float(v); put(&x, 4); }
    else { put(&v, 8); }
    if (format == "binary_big_endian") std::reverse(b, b + n);
    body.append(reinterpret_cast<const char*>(b), n);
  }
  void endRecord() {
    if (format == "ascii") body += "\n";
  }
  std::string bytes() const {
    std::string s = "ply\nformat " + format + " 1.0\n";
    for (const auto& h : header) s += h + "\n";
    return s + "end_header\n" + body;
  }
};

// A unit square (z = 0) as one quad whose corners are red, green, blue and
// white, with a double and 40 more floats in every vertex record (a record
// of 285 bytes) and an element the reader does not use between the two.
PlyFile colouredQuad(const std::string& format, bool floatColours) {
  PlyFile f;
  f.format = format;
  const std::string ct = floatColours ? "float" : "uchar";
  f.header = {"comment a test model", "element vertex 4", "property float x", "property double weight",
              "property float y", "property float z"};
  for (int i = 0; i < 40; ++i) f.header.push_back("property float extra" + std::to_string(i));
  for (const char* c : {"red", "green", "blue"}) f.header.push_back("property " + ct + " " + c);
  f.header.insert(f.header.end(), {"element edge 1", "property list uchar int corners", "property short tag",
                                   "element face 1", "property list uchar int vertex_indices"});
  const double pos[4][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  const int col[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  for (int v = 0; v < 4; ++v) {
    f.value("float", pos[v][0]);
    f.value("double", 12345.5);
    f.value("float", pos[v][1]);
    f.value("float", 0);
    for (int i = 0; i < 40; ++i) f.value("float", 99);
    for (int c = 0; c < 3; ++c) f.value(ct, floatColours ? col[v][c] / 255.0 : col[v][c]);
    f.endRecord();
  }
  f.value("uchar", 2), f.value("int", 0), f.value("int", 1), f.value("short", -7), f.endRecord();
  f.value("uchar", 4);
  for (int i = 0; i < 4; ++i) f.value("int", i);
  f.endRecord();
  return f;
}

struct PlyReader_ : MeshTest {
  bool convertPly(const std::string& bytes) {
    writeText(at("temp.ply"), bytes);
    return tools.plyToStl(at("temp.ply"), at("fromply.stl"));
  }
  bool noStl() const { return !std::filesystem::exists(at("fromply.stl")); }
};

using Corners = std::array<std::array<float, 3>, 3>;
std::vector<Corners> cornersOf(const ReadStl& s) {
  std::vector<Corners> out;
  for (const auto& f : s.facets) out.push_back(f.corner);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace

TEST_F(PlyReader_, EveryEncodingAndColourKindGivesTheSameTwoFacets) {
  // Mean of the four corners: (255+0+0+255)/4 = 127 red, 127 green, 127 blue.
  const std::uint16_t mean = 0x8000 | (127 >> 3) << 10 | (127 >> 3) << 5 | 127 >> 3;
  const std::vector<Corners> expected = {
      {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}},
      {{{0, 0, 0}, {1, 1, 0}, {0, 1, 0}}},
  };
  for (const char* format : {"ascii", "binary_little_endian", "binary_big_endian"})
    for (bool floatColours : {false, true}) {
      SCOPED_TRACE(std::string(format) + (floatColours ? " float colours" : " byte colours"));
      ASSERT_TRUE(convertPly(colouredQuad(format, floatColours).bytes()));
      const ReadStl s = readStl(at("fromply.stl"));
      ASSERT_EQ(s.count, 2u);
      std::vector<Corners> got = cornersOf(s);
      std::vector<Corners> want = expected;
      std::sort(want.begin(), want.end());
      EXPECT_EQ(got, want);
      for (const auto& f : s.facets) EXPECT_EQ(f.attribute, mean);
    }
}

TEST_F(PlyReader_, FaceColoursWinOverVertexColoursAndAFileWithoutColoursHasNone) {
  PlyFile f;
  f.format = "ascii";
  f.header = {"element vertex 3", "property float x", "property float y", "property float z",
              "property uchar red", "property uchar green", "property uchar blue",
              "element face 1", "property list uchar uint vertex_indices",
              "property uchar red", "property uchar green", "property uchar blue", "property uchar alpha"};
  f.body = "0 0 0 255 255 255\n1 0 0 255 255 255\n0 1 0 255 255 255\n3 0 1 2 8 16 248 0\n";
  ASSERT_TRUE(convertPly(f.bytes()));
  EXPECT_EQ(readStl(at("fromply.stl")).facets.at(0).attribute, 0x8000 | 1 << 10 | 2 << 5 | 31);

  f.header = {"element vertex 3", "property float x", "property float y", "property float z",
              "element face 1", "property list uchar int vertex_indices"};
  f.body = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  ASSERT_TRUE(convertPly(f.bytes()));
  // No colour, so that the slicer's default colour applies.
  EXPECT_EQ(readStl(at("fromply.stl")).facets.at(0).attribute, 0);
  EXPECT_TRUE(logHas("has no colours"));
}

TEST_F(PlyReader_, APolygonOfTwelveCornersFansIntoTenFacetsAroundItsFirstCorner) {
  PlyFile f;
  f.format = "ascii";
  f.header = {"element vertex 12", "property float x", "property float y", "property float z",
              "element face 2", "property list uchar int vertex_indices"};
  for (int i = 0; i < 12; ++i) f.body += std::to_string(i) + " " + std::to_string(i * i) + " 0\n";
  f.body += "12 0 1 2 3 4 5 6 7 8 9 10 11\n2 0 1\n";  // the second has too few corners for a face
  ASSERT_TRUE(convertPly(f.bytes()));
  const ReadStl s = readStl(at("fromply.stl"));
  ASSERT_EQ(s.facets.size(), 10u);
  for (const auto& facet : s.facets) EXPECT_EQ(facet.corner[0][0], 0.0f);
}

TEST_F(PlyReader_, DamagedFilesAreRefusedWithTheirFaultNamedAndNoStl) {
  const std::string vertices = "element vertex 3\nproperty float x\nproperty float y\nproperty float z\n";
  const std::string faces = "element face 1\nproperty list uchar int vertex_indices\n";
  auto le = [](std::initializer_list<float> xs) {
    std::string s;
    for (float x : xs) s.append(reinterpret_cast<const char*>(&x), 4);
    return s;
  };
  const std::string threeVertices = le({0, 0, 0, 1, 0, 0, 0, 1, 0});
  auto face = [](int count, std::initializer_list<std::int32_t> idx) {
    std::string s(1, char(count));
    for (std::int32_t i : idx) s.append(reinterpret_cast<const char*>(&i), 4);
    return s;
  };
  const std::string bin = "ply\nformat binary_little_endian 1.0\n";
  const struct {
    const char* what;
    std::string bytes;
    const char* told;
  } cases[] = {
      {"not a PLY", "solid cube\n", "not a PLY file"},
      {"no end_header", bin + vertices, "no end_header"},
      {"unknown format", "ply\nformat binary_middle_endian 1.0\n" + vertices + "end_header\n", "unsupported format binary_middle_endian"},
      {"unknown type", bin + "element vertex 3\nproperty float x\nproperty float y\nproperty float z\nproperty quad w\nend_header\n", "unknown property type quad"},
      {"index past the last vertex", bin + vertices + faces + "end_header\n" + threeVertices + face(3, {0, 1, 3}), "vertex index 3 is out of range (0 to 2)"},
      {"negative index", bin + vertices + faces + "end_header\n" + threeVertices + face(3, {0, -1, 2}), "vertex index -1 is out of range"},
      {"file ends inside the faces", bin + vertices + faces + "end_header\n" + threeVertices + face(3, {0, 1}), "the file ends inside face 0 of 1"},
      {"file ends inside the vertices", bin + vertices + "end_header\n" + le({0, 0, 0, 1}), "the file ends inside vertex 1 of 3"},
      {"faces before vertices", bin + faces + vertices + "end_header\n", "the face element comes before the vertex element"},
      {"no coordinates", bin + "element vertex 1\nproperty float x\nend_header\n" + le({1}), "no x, y and z"},
      {"text that is no number", "ply\nformat ascii 1.0\n" + vertices + "end_header\n0 0 0\n1 0 0\n0 one 0\n", "line 3: vertex 2, y: not a number"},
      {"negative list length", "ply\nformat ascii 1.0\n" + vertices + "element face 1\nproperty list int int vertex_indices\nend_header\n0 0 0 1 0 0 0 1 0\n-3 0 1 2\n", "a list of -3 entries"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    EXPECT_FALSE(convertPly(c.bytes));
    EXPECT_TRUE(logHas(c.told));
    EXPECT_TRUE(noStl());
    EXPECT_TRUE(tools.state.model.faces.empty());
  }
}

TEST_F(PlyReader_, TheMainMenuConvertsOnlyWhenTheOperatorConfirms) {
  writeText(at("temp.ply"), colouredQuad("ascii", false).bytes());
  ui.answers = {OperatorUi::Answer::No};
  tools.confirmAndConvertTempPly();
  EXPECT_EQ(ui.questions.back(), "are you sure you want to convert " + dir + "/temp.ply to " + dir + "/fromply.stl");
  EXPECT_TRUE(noStl());
  ui.answers = {OperatorUi::Answer::Yes};
  tools.confirmAndConvertTempPly();
  EXPECT_EQ(readStl(at("fromply.stl")).count, 2u);
  EXPECT_TRUE(logHas("created " + at("fromply.stl")));
}

TEST_F(PlyReader_, TheModelRoadScalesAPlyAndWritesTheConvertedStl) {
  writeText(at("quad.ply"), colouredQuad("binary_big_endian", true).bytes());
  tools.meshCommand({"meshkit", "-S2", "-O" + at("quad.ply"), "-D" + dir});
  const ReadStl s = readStl(at("convertedobj.stl"));
  ASSERT_EQ(s.count, 2u);
  float maxX = 0;
  for (const auto& f : s.facets) maxX = std::max({maxX, f.corner[0][0], f.corner[1][0], f.corner[2][0]});
  EXPECT_EQ(maxX, 2.0f);
  EXPECT_EQ(tools.state.scale, 1.0f);
}

TEST_F(PlyReader_, SampleFilesAgreeWithAssimp) {
  for (const char* name : {"reference.ply", "cube_binary.ply"}) {
    SCOPED_TRACE(name);
    copyTestModel(name, dir);
    ASSERT_TRUE(tools.plyToStl(at(name), at("out.stl")));
    const ReadStl s = readStl(at("out.stl"));
    ASSERT_EQ(s.count, s.facets.size());
    if (std::string(name) == "reference.ply") {
      // Four vertex colours: the faces take only a few colours, none grey.
      EXPECT_EQ(s.count, 1610u);
      for (const auto& f : s.facets) EXPECT_NE(f.attribute, 0x8000 | 16 << 10 | 16 << 5 | 16);
    }
    const auto info = assimpInfo(at(name));
    if (!info) continue;
    EXPECT_EQ(long(s.count), info->faces);
    std::array<float, 3> lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    for (const auto& f : s.facets)
      for (const auto& c : f.corner)
        for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], c[i]), hi[i] = std::max(hi[i], c[i]);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(lo[i], info->min[i], 1e-4);
      EXPECT_NEAR(hi[i], info->max[i], 1e-4);
    }
  }
  if (!assimpInstalled()) GTEST_SKIP() << "assimp is not installed: the cross-check was left out";
}

TEST_F(PlyReader_, EveryCutOfAFileIsRefusedWithoutReadingPastIt) {
  for (const char* format : {"binary_little_endian", "ascii"}) {
    const std::string whole = colouredQuad(format, false).bytes();
    const std::size_t header = whole.find("end_header\n") + 11;
    for (std::size_t cut = header; cut < whole.size(); ++cut) {
      // An ASCII file whose last number is whole is whole ("4 " + newline).
      if (std::string(format) == "ascii" && cut >= whole.size() - 2) continue;
      SCOPED_TRACE(std::string(format) + " cut at " + std::to_string(cut));
      EXPECT_FALSE(convertPly(whole.substr(0, cut)));
      EXPECT_TRUE(noStl());
    }
  }
}

// Colour data the reader does not use is said once per file.
TEST_F(PlyReader_, ATextureFileItDoesNotReadIsToldOnce) {
  PlyFile f;
  f.format = "ascii";
  f.header = {"comment TextureFile skin.png", "comment TextureFile skin2.png", "element vertex 3",
              "property float x", "property float y", "property float z", "element face 1",
              "property list uchar int vertex_indices"};
  f.body = "0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n";
  ASSERT_TRUE(convertPly(f.bytes()));
  int told = 0;
  for (const auto& l : log()) told += l.find("texture file skin") != std::string::npos;
  EXPECT_EQ(told, 1);
  EXPECT_TRUE(logHas("temp.ply: texture file skin.png is not read; only vertex and face colours are used"));
}
