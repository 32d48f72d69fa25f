// STL to OBJ: vertex sharing, colours as materials, spectrum coordinates
// and vertex colours, face chains, the depth-image mode, failures, and the
// round trip back through the OBJ reader.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/core/testing/file_text.h"
#include "host/mesh/tests/stl_files.h"

using namespace ph;
using namespace ph::test;

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::vector<std::string> linesStarting(const std::string& text, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : linesOf(text))
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

// Every index of every face line names a vertex (and texture coordinate)
// that the file writes before it.
void expectIndicesWritten(const std::string& obj) {
  int v = 0, vt = 0;
  for (const auto& l : linesOf(obj)) {
    if (l.rfind("v ", 0) == 0) ++v;
    else if (l.rfind("vt ", 0) == 0) ++vt;
    else if (l.rfind("f ", 0) == 0) {
      std::istringstream in(l.substr(2));
      for (std::string word; in >> word;) {
        const auto slash = word.find('/');
        const int iv = std::stoi(word.substr(0, slash));
        EXPECT_TRUE(iv >= 1 && iv <= v) << l;
        if (slash != std::string::npos) {
          const int it = std::stoi(word.substr(slash + 1));
          EXPECT_TRUE(it >= 1 && it <= vt) << l;
        }
      }
    }
  }
}

const std::uint16_t kRed = 0x8000 | 31 << 10, kBlue = 0x8000 | 31, kGrey = 0x8000 | 16 << 10 | 9 << 5 | 3;

struct StlToObj_ : MeshTest {
  StlToObjSettings set;
  StlToObj_() { set.spectrumcolors = 0; }
  bool run(const std::vector<ReadFacet>& facets) {
    writeStl(at("in.stl"), facets);
    return tools.stl2obj.convert(at("in.stl"), dir, set);
  }
  std::string obj() const { return readFile(at("fromstl.obj")); }
  std::string mtl() const { return readFile(at("fromstl.mtl")); }
};

}  // namespace

TEST_F(StlToObj_, TwoFacetsOnAnEdgeShareTheirVerticesAndSignedZerosStayApart) {
  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, kRed), facetOf({0, 0, 0}, {1, 1, 0}, {0, 1, 0}, kRed)}));
  EXPECT_EQ(linesStarting(obj(), "v ").size(), 4u);
  EXPECT_EQ(linesStarting(obj(), "f "), (std::vector<std::string>{"f 1 2 3", "f 1 3 4"}));
  expectIndicesWritten(obj());

  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {1, 1, 0}, kRed), facetOf({-0.0f, 0, 0}, {1, 1, 0}, {0, 1, 0}, kRed)}));
  EXPECT_EQ(linesStarting(obj(), "v ").size(), 5u);
}

TEST_F(StlToObj_, MaterialModeNumbersColoursByFirstUseAndLiftsThemByTheBrightness) {
  const std::uint16_t blueWithoutBit15 = 31;
  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kBlue), facetOf({5, 0, 0}, {6, 0, 0}, {5, 1, 0}, blueWithoutBit15)}));
  const std::string text = obj();
  EXPECT_EQ(linesOf(text).at(1), "mtllib fromstl.mtl");
  EXPECT_EQ(linesStarting(mtl(), "newmtl "), (std::vector<std::string>{"newmtl Material_1", "newmtl Material_2"}));
  EXPECT_EQ(linesStarting(mtl(), "Kd "), (std::vector<std::string>{"Kd 0.000 0.000 1.000", "Kd 0.000 0.000 1.000"}));
  EXPECT_EQ(linesStarting(text, "usemtl "), (std::vector<std::string>{"usemtl Material_1", "usemtl Material_2"}));
  EXPECT_EQ(linesStarting(text, "g "), (std::vector<std::string>{"g object_00"}));

  set.brightness = 256;
  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kGrey)}));
  EXPECT_EQ(linesStarting(mtl(), "Kd "), (std::vector<std::string>{"Kd 1.000 1.000 1.000"}));
}

TEST_F(StlToObj_, SpectrumModeGivesEachColourThreeTexelCoordinates) {
  set.spectrumcolors = 1;
  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0x7FFF), facetOf({5, 0, 0}, {6, 0, 0}, {5, 1, 0}, 0x8000)}));
  const std::string text = obj();
  EXPECT_EQ(linesOf(text).at(1), "mtllib spectrum.mtl");
  EXPECT_FALSE(std::filesystem::exists(at("fromstl.mtl")));
  const auto vt = linesStarting(text, "vt ");
  ASSERT_EQ(vt.size(), 6u);
  // White: X = Y = 1016 with blue bit 0 set.
  auto near = [](const std::string& line, double u, double v) {
    double a = 0, b = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "vt %lf %lf", &a, &b), 2) << line;
    EXPECT_NEAR(a, u, 1e-5) << line;
    EXPECT_NEAR(b, v, 1e-5) << line;
  };
  near(vt[0], 1023 / 1024.0, 1 - 1017 / 1024.0);
  near(vt[1], 1023 / 1024.0, 1 - 1023 / 1024.0);
  near(vt[2], 1017 / 1024.0, 1 - 1023 / 1024.0);
  // Black: (0, 1), (6/1024, 1), (0, 1 - 6/1024).
  near(vt[3], 0, 1);
  near(vt[5], 0, 1 - 6 / 1024.0);
  EXPECT_EQ(linesStarting(text, "f "), (std::vector<std::string>{"f 1/1 2/2 3/3", "f 4/4 5/5 6/6"}));
  expectIndicesWritten(text);
}

TEST_F(StlToObj_, VertexColoursAreTheMeanOfTheFacesAround) {
  set.withVertCol = 1;
  set.spectrumcolors = 1;  // vertex colours win
  ASSERT_TRUE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kRed), facetOf({0, 0, 0}, {0, 1, 0}, {-1, 0, 0}, 0x8000)}));
  const std::string text = obj();
  EXPECT_EQ(text.find("mtllib"), std::string::npos);
  EXPECT_EQ(text.find("usemtl"), std::string::npos);
  const auto v = linesStarting(text, "v ");
  ASSERT_EQ(v.size(), 4u);
  EXPECT_EQ(v[0], "v 0.00000 0.00000 0.00000 0.48438 0.00000 0.00000");  // one red, one black face
  EXPECT_EQ(v[1], "v 1.00000 0.00000 0.00000 0.96875 0.00000 0.00000");
}

TEST_F(StlToObj_, AStripOfSixHundredFacesIsOneChainAndDeepBranchesStillGetWritten) {
  std::vector<ReadFacet> strip;
  for (int i = 0; i < 600; ++i) {
    const float k = float(i / 2);
    strip.push_back(i % 2 == 0 ? facetOf({k, 0, 0}, {k + 1, 0, 0}, {k, 1, 0}, kRed)
                               : facetOf({k + 1, 0, 0}, {k + 1, 1, 0}, {k, 1, 0}, kRed));
  }
  // Another colour in the middle of the file, touching the strip.
  strip.insert(strip.begin() + 300, facetOf({0, 0, 0}, {0, -1, 0}, {1, 0, 0}, kBlue));
  set.singlegroup = 0;
  ASSERT_TRUE(run(strip));
  const auto lines = linesOf(obj());
  const auto g = std::find(lines.begin(), lines.end(), "g object_1");
  ASSERT_NE(g, lines.end());
  EXPECT_EQ(*(g + 1), "usemtl Material_1");
  EXPECT_EQ(std::count_if(g + 2, g + 602, [](const std::string& l) { return l.rfind("f ", 0) == 0; }), 600);
  EXPECT_EQ(*(g + 602), "g object_2");
  EXPECT_EQ(linesStarting(obj(), "f ").size(), 601u);
  expectIndicesWritten(obj());

  // A fan of 1200 red faces around one vertex: neighbours beyond the depth
  // bound are written later, each face exactly once.
  std::vector<ReadFacet> fan;
  for (int i = 0; i < 1200; ++i) {
    const double a = i * 2 * 3.14159265358979 / 1200, b = (i + 1) * 2 * 3.14159265358979 / 1200;
    fan.push_back(facetOf({0, 0, 0}, {float(std::cos(a)), float(std::sin(a)), 0}, {float(std::cos(b)), float(std::sin(b)), 0}, kRed));
  }
  ASSERT_TRUE(run(fan));
  auto faces = linesStarting(obj(), "f ");
  EXPECT_EQ(faces.size(), 1200u);
  std::sort(faces.begin(), faces.end());
  EXPECT_EQ(std::adjacent_find(faces.begin(), faces.end()), faces.end());
}

TEST_F(StlToObj_, OctantGroupsKeepGlassApart) {
  set.spectrumcolors = 1;
  set.quadrantgroups = 1;
  ASSERT_TRUE(run({facetOf({-1, 0, 0}, {-2, 0, 0}, {-1, 1, 0}, kRed), facetOf({1, 0, 0}, {2, 0, 0}, {1, 1, 0}, glasscode),
                   facetOf({1, 0, 0}, {2, 0, 0}, {2, 1, 0}, kRed)}));
  const auto lines = linesOf(obj());
  auto pos = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l) - lines.begin(); };
  // Octant 0: the red face, then the glass as a plain face.
  EXPECT_EQ(lines[std::size_t(pos("g quad_0") + 2)].rfind("f 4/", 0), 0u);
  EXPECT_EQ(lines[std::size_t(pos("g inquad_0") + 1)], "usemtl nocolor");
  EXPECT_EQ(lines[std::size_t(pos("g inquad_0") + 2)], "f 4 5 6");
  EXPECT_EQ(lines[std::size_t(pos("g quad_1") + 2)].rfind("f 1/", 0), 0u);
  EXPECT_EQ(linesStarting(obj(), "g object").size(), 0u);
}

TEST_F(StlToObj_, TheDepthImageModeWritesATexturedMaterialAndKeepsTheSpectrumSetting) {
  std::filesystem::create_directories(at("pics"));
  writeStl(at("pics/frombmp.stl"), {facetOf({211, 158, 100}, {212, 158, 100}, {211, 159, 50}, kRed)});
  tools.stl2objSettings.spectrumcolors = 1;
  ASSERT_TRUE(tools.depthImageToObj(at("pics/face.bmp"), 0));
  EXPECT_EQ(tools.stl2objSettings.spectrumcolors, 1);
  EXPECT_EQ(core.s.file_folder, at("pics"));
  const std::string text = readFile(at("pics/face.obj"));
  EXPECT_EQ(linesOf(text).at(1), "mtllib face.mtl");
  const auto m = readFile(at("pics/face.mtl"));
  EXPECT_EQ(linesStarting(m, "Kd "), (std::vector<std::string>{"Kd 1.000 1.000 1.000"}));
  EXPECT_EQ(linesStarting(m, "map_Kd "), (std::vector<std::string>{"map_Kd face.bmp"}));
  const auto v = linesStarting(text, "v ");
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(v[0], "v -0.00000 0.00000 -100.00000");
  EXPECT_EQ(linesStarting(text, "vt ").size(), 3u);  // one per vertex, no spectrum
  EXPECT_EQ(linesStarting(text, "f "), (std::vector<std::string>{"f 1/1 2/2 3/3"}));
}

TEST_F(StlToObj_, FailuresAreToldAndLeaveNoHalfFiles) {
  EXPECT_FALSE(tools.stl2obj.convert(at("missing.stl"), dir, set));
  EXPECT_FALSE(std::filesystem::exists(at("fromstl.obj")));

  writeStl(at("empty.stl"), {});
  EXPECT_FALSE(tools.stl2obj.convert(at("empty.stl"), dir, set));
  EXPECT_TRUE(logHas("holds no facets"));

  // The OBJ cannot be put in place: a folder has its name.
  std::filesystem::create_directories(at("fromstl.obj"));
  EXPECT_FALSE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kRed)}));
  EXPECT_TRUE(logHas("unable to write to file: " + at("fromstl.obj")));
  EXPECT_FALSE(std::filesystem::exists(at("fromstl.obj.part")));

  // A corner that is no number never reaches the OBJ.
  std::filesystem::remove(at("fromstl.obj"));
  EXPECT_FALSE(run({facetOf({0, 0, 0}, {1, 0, 0}, {0, std::nanf(""), 0}, kRed)}));
  EXPECT_TRUE(logHas("facet 1 has a corner that is not a number"));
  EXPECT_FALSE(std::filesystem::exists(at("fromstl.obj")));
}

TEST_F(StlToObj_, TheMenuAsksItsValuesAndStopsAtAWordThatIsNoNumber) {
  writeStl(at("convertedobj.stl"), {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kRed)});
  ui.inputs = {std::nullopt, std::string("part"), std::nullopt, std::string("1"), std::string("x")};
  EXPECT_FALSE(tools.convertStlToObj());
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"fname", "destname", "MaterialStr", "singlegroup", "brightness"}));
  EXPECT_TRUE(logHas("brightness: 'x' is not a whole number"));
  EXPECT_FALSE(std::filesystem::exists(at("part.obj")));

  ui.inputs = {std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::string("0"), std::nullopt,
               std::nullopt};
  EXPECT_TRUE(tools.convertStlToObj());
  EXPECT_EQ(tools.stlInputName, at("convertedobj.stl"));
  EXPECT_TRUE(std::filesystem::exists(at("part.mtl")));
  EXPECT_EQ(linesStarting(readFile(at("part.obj")), "f ").size(), 1u);
}

TEST_F(StlToObj_, AColouredStlComesBackThroughTheObjReaderWithTheSameFacetsAndColours) {
  std::vector<ReadFacet> facets = boxFacets({0, 0, 0}, {10, 20, 30}, kRed);
  const std::uint16_t colours[] = {kRed, kBlue, kGrey, 0x8000 | 1 << 10 | 30 << 5 | 17, 0xFFFF, 0x8000};
  for (std::size_t i = 0; i < facets.size(); ++i) facets[i].attribute = colours[i % 6];
  ASSERT_TRUE(run(facets));
  ASSERT_TRUE(tools.runObjFile(at("fromstl.obj")));
  auto key = [](const ReadFacet& f) { return std::make_pair(f.corner, f.attribute); };
  std::vector<std::pair<std::array<std::array<float, 3>, 3>, std::uint16_t>> want, got;
  for (const auto& f : facets) want.push_back(key(f));
  for (const auto& f : converted().facets) got.push_back(key(f));
  std::sort(want.begin(), want.end());
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, want);
}
