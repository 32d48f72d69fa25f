// The 3MF reader: property groups addressed from triangles and objects,
// texture groups, components, build items and units, damaged packages, the
// "3mfconvert" menu and the model road; the consortium's samples are
// checked against assimp where it is installed.
#include <zip.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "host/mesh/tests/assimp_check.h"
#include "host/mesh/tests/mesh_fixture.h"

using namespace ph;
using namespace ph::test;

namespace {

const char kRels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
    "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Target=\"/3D/3dmodel.model\" "
    "Id=\"rel0\" Type=\"http://schemas.microsoft.com/3dmanufacturing/2013/01/3dmodel\" /></Relationships>";

std::string model(const std::string& resources, const std::string& build, const std::string& unit = "millimeter") {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<model unit=\"" + unit +
         "\" xmlns=\"http://schemas.microsoft.com/3dmanufacturing/core/2015/02\" "
         "xmlns:m=\"http://schemas.microsoft.com/3dmanufacturing/material/2015/02\">\n<resources>\n" +
         resources + "</resources>\n<build>\n" + build + "</build>\n</model>\n";
}

// One triangle of a mesh object at x offset dx (vertices 3i .. 3i+2).
std::string vertices(int triangles) {
  std::string s = "<vertices>\n";
  for (int i = 0; i < triangles; ++i) {
    const std::string x = std::to_string(10 * i);
    s += "<vertex x=\"" + x + "\" y=\"0\" z=\"0\"/><vertex x=\"" + x + ".5\" y=\"0\" z=\"0\"/><vertex x=\"" + x +
         "\" y=\"1\" z=\"0\"/>\n";
  }
  return s + "</vertices>\n";
}
std::string triangle(int i, const std::string& props = "") {
  return "<triangle v1=\"" + std::to_string(3 * i) + "\" v2=\"" + std::to_string(3 * i + 1) + "\" v3=\"" +
         std::to_string(3 * i + 2) + "\" " + props + "/>\n";
}

std::string pngBytes(const QImage& img) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  img.save(&buffer, "PNG");
  return bytes.toStdString();
}

// A PNG whose left half is black and right half white.
std::string halfBlackPng() {
  QImage img(64, 64, QImage::Format_RGB32);
  img.fill(Qt::white);
  QPainter(&img).fillRect(0, 0, 32, 64, Qt::black);
  return pngBytes(img);
}

void writeZip(const std::string& path, const std::map<std::string, std::string>& parts) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(z, nullptr);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* src = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

std::uint16_t code(int r, int g, int b) { return std::uint16_t(0x8000 | (r >> 3) << 10 | (g >> 3) << 5 | b >> 3); }

struct ThreeMf_ : MeshTest {
  // A package of this model part in the scratch folder.
  std::string package(const std::string& name, const std::string& modelXml,
                      std::map<std::string, std::string> more = {}) {
    more["_rels/.rels"] = kRels;
    more["3D/3dmodel.model"] = modelXml;
    writeZip(at(name), more);
    return at(name);
  }
  // Through the host's model road: "convertedobj.stl".
  bool convertModel(const std::string& path) {
    tools.meshCommand({"meshkit", "-O" + path, "-D" + dir});
    return std::filesystem::exists(at("convertedobj.stl"));
  }
  // The facets of the converted STL by the x of their first corner.
  std::map<int, ReadFacet> byX() const {
    std::map<int, ReadFacet> out;
    for (const auto& f : converted().facets) out[int(std::lround(f.corner[0][0]))] = f;
    return out;
  }
};

}  // namespace

TEST_F(ThreeMf_, BaseMaterialsAndColourGroupsAreAddressedFromTrianglesAndObjects) {
  const std::string res =
      "<basematerials id=\"1\"><base name=\"r\" displaycolor=\"#FF0000\"/><base name=\"g\" "
      "displaycolor=\"#00FF0080\"/></basematerials>\n"
      "<m:colorgroup id=\"2\"><m:color color=\"#0000FF\"/><m:color color=\"#FFFFFFFF\"/><m:color "
      "color=\"#FF8000\"/></m:colorgroup>\n"
      "<object id=\"3\" type=\"model\" pid=\"1\" pindex=\"1\"><mesh>" +
      vertices(6) + "<triangles>\n" + triangle(0) + triangle(1, "pid=\"2\" p1=\"0\"") +
      triangle(2, "pid=\"2\" p1=\"0\" p2=\"1\" p3=\"1\"") + triangle(3, "pid=\"1\" p1=\"0\"") +
      triangle(4, "pid=\"2\" p1=\"2\"") + triangle(5, "p1=\"0\"") + "</triangles></mesh></object>\n";
  ASSERT_TRUE(convertModel(package("colours.3mf", model(res, "<item objectid=\"3\"/>"))));
  const auto f = byX();
  ASSERT_EQ(f.size(), 6u);
  EXPECT_EQ(f.at(0).attribute, code(0, 255, 0));     // the object's pid and pindex
  EXPECT_EQ(f.at(10).attribute, code(0, 0, 255));    // p1 alone colours all corners
  EXPECT_EQ(f.at(20).attribute, code(170, 170, 255));  // the mean of p1, p2, p3
  EXPECT_EQ(f.at(30).attribute, code(255, 0, 0));
  EXPECT_EQ(f.at(40).attribute, code(255, 128, 0));  // red FF, green 80, blue 00
  EXPECT_EQ(f.at(50).attribute, code(255, 0, 0));    // p1 alone indexes the object's group
}

TEST_F(ThreeMf_, EachTextureGroupAddressesItsOwnCoordinates) {
  const std::string res =
      "<m:texture2d id=\"1\" path=\"/3D/Textures/half.png\" contenttype=\"image/png\"/>\n"
      "<m:texture2dgroup id=\"2\" texid=\"1\"><m:tex2coord u=\"0.1\" v=\"0.5\"/><m:tex2coord u=\"0.2\" v=\"0.5\"/>"
      "<m:tex2coord u=\"0.1\" v=\"0.6\"/></m:texture2dgroup>\n"
      "<m:texture2dgroup id=\"3\" texid=\"1\"><m:tex2coord u=\"0.8\" v=\"0.5\"/><m:tex2coord u=\"0.9\" v=\"0.5\"/>"
      "<m:tex2coord u=\"0.8\" v=\"0.6\"/></m:texture2dgroup>\n"
      "<object id=\"4\"><mesh>" +
      vertices(2) + "<triangles>" + triangle(0, "pid=\"2\" p1=\"0\" p2=\"1\" p3=\"2\"") +
      triangle(1, "pid=\"3\" p1=\"0\" p2=\"1\" p3=\"2\"") + "</triangles></mesh></object>\n";
  ASSERT_TRUE(convertModel(
      package("textured.3mf", model(res, "<item objectid=\"4\"/>"), {{"3D/Textures/half.png", halfBlackPng()}})));
  const auto f = byX();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f.at(0).attribute, code(0, 0, 0));
  EXPECT_EQ(f.at(10).attribute, code(255, 255, 255));

  // The same model unpacked: the texture is found beside the model part.
  std::filesystem::create_directories(at("unpacked/3D/Textures"));
  writeText(at("unpacked/3D/3dmodel.model"), model(res, "<item objectid=\"4\"/>"));
  writeText(at("unpacked/3D/Textures/half.png"), halfBlackPng());
  ASSERT_TRUE(convertModel(at("unpacked/3D/3dmodel.model")));
  EXPECT_EQ(byX().at(10).attribute, code(255, 255, 255));
}

TEST_F(ThreeMf_, ComponentsBuildItemsAndUnitsPlaceTheObjects) {
  const std::string res = "<object id=\"1\"><mesh>" + vertices(1) + "<triangles>" + triangle(0) +
                          "</triangles></mesh></object>\n"
                          "<object id=\"2\"><components><component objectid=\"1\" transform=\"1 0 0 0 1 0 0 0 1 10 0 "
                          "0\"/></components></object>\n";
  const std::string build =
      "<item objectid=\"2\" transform=\"1 0 0 0 1 0 0 0 1 0 5 0\"/>\n"
      "<item objectid=\"1\" transform=\"-1 0 0 0 1 0 0 0 1 -20 0 0\"/>\n";
  ASSERT_TRUE(convertModel(package("placed.3mf", model(res, build, "centimeter"))));
  const ReadStl s = converted();
  ASSERT_EQ(s.facets.size(), 2u);
  std::map<int, ReadFacet> f;
  for (const auto& facet : s.facets) f[int(std::lround(facet.corner[0][0]))] = facet;
  // Component then item: (0,0,0) -> (10,0,0) -> (10,5,0), in millimetres.
  ASSERT_TRUE(f.count(100));
  EXPECT_EQ(f.at(100).corner[0], (std::array<float, 3>{100, 50, 0}));
  EXPECT_EQ(f.at(100).corner[1], (std::array<float, 3>{105, 50, 0}));
  // The mirrored copy keeps facing up: its corners are swapped back.
  ASSERT_TRUE(f.count(-200));
  EXPECT_GT(f.at(-200).normal[2], 0.9f);
  EXPECT_GT(f.at(100).normal[2], 0.9f);
}

TEST_F(ThreeMf_, DamagedPackagesAreRefusedWithTheirFaultNamedAndNoStl) {
  const std::string mesh = "<object id=\"1\"><mesh>" + vertices(1) + "<triangles>";
  const std::string end = "</triangles></mesh></object>\n";
  const std::string item = "<item objectid=\"1\"/>";
  const struct {
    const char* what;
    std::map<std::string, std::string> parts;  // empty: a file that is no zip
    const char* told;
  } cases[] = {
      {"no zip", {}, "not a 3MF package"},
      {"no model part", {{"[Content_Types].xml", "<Types/>"}}, "the package has no model part /3D/3dmodel.model"},
      {"malformed XML", {{"3D/3dmodel.model", "<model><resources><object id=\"1\"></resources></model>"}}, "/3D/3dmodel.model line 1:"},
      {"unknown unit", {{"3D/3dmodel.model", model("", "", "furlong")}}, "unknown unit furlong"},
      {"vertex out of range", {{"3D/3dmodel.model", model(mesh + "<triangle v1=\"0\" v2=\"1\" v3=\"3\"/>" + end, item)}}, "object 1 triangle 0: v3 is not a vertex (0 to 2)"},
      {"unknown group", {{"3D/3dmodel.model", model(mesh + triangle(0, "pid=\"7\" p1=\"0\"") + end, item)}}, "property group 7 does not exist"},
      {"index past the group", {{"3D/3dmodel.model", model("<m:colorgroup id=\"5\"><m:color color=\"#FF0000\"/></m:colorgroup>" + mesh + triangle(0, "pid=\"5\" p1=\"0\" p2=\"1\" p3=\"0\"") + end, item)}}, "property 1 of group 5 does not exist (it has 1)"},
      {"bad colour", {{"3D/3dmodel.model", model("<m:colorgroup id=\"5\"><m:color color=\"red\"/></m:colorgroup>", "")}}, "colour \"red\" is not #RRGGBB"},
      {"texture group without texture", {{"3D/3dmodel.model", model("<m:texture2dgroup id=\"2\" texid=\"9\"/>", "")}}, "texture group 2 names no texture that exists"},
      {"unknown build object", {{"3D/3dmodel.model", model(mesh + end, "<item objectid=\"8\"/>")}}, "a build item names no object"},
      {"component of a later object", {{"3D/3dmodel.model", model("<object id=\"2\"><components><component objectid=\"3\"/></components></object>", "")}}, "a component names no object defined before it"},
      {"empty build", {{"3D/3dmodel.model", model(mesh + triangle(0) + end, "")}}, "the build has no items"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    if (c.parts.empty()) writeText(at("bad.3mf"), "<model/>");
    else writeZip(at("bad.3mf"), c.parts);
    EXPECT_FALSE(convertModel(at("bad.3mf")));
    EXPECT_TRUE(logHas(c.told));
    EXPECT_TRUE(logHas("not converted"));
  }
}

TEST_F(ThreeMf_, TheMenuWritesEveryMeshObjectAsItStands) {
  const std::string res = "<object id=\"1\"><mesh>" + vertices(2) + "<triangles>" + triangle(0) + triangle(1) +
                          "</triangles></mesh></object>\n<object id=\"2\"><mesh>" + vertices(1) + "<triangles>" +
                          triangle(0) + "</triangles></mesh></object>\n";
  const std::string path = package("two.3mf", model(res, "<item objectid=\"2\" transform=\"1 0 0 0 1 0 0 0 1 50 0 0\"/>"));
  ui.inputs = {path};
  tools.controls.at("N3mfconvert1").click();
  EXPECT_EQ(ui.prompts.back(), "input_model_file");
  EXPECT_EQ(readStl(at("from3mf1.stl")).count, 2u);
  const ReadStl second = readStl(at("from3mf2.stl"));
  ASSERT_EQ(second.count, 1u);
  EXPECT_EQ(second.facets[0].corner[0][0], 0.0f);  // not placed by the build
  EXPECT_TRUE(logHas("done"));
}

TEST_F(ThreeMf_, TheConsortiumSamplesAgreeWithAssimp) {
  const struct {
    const char* name;
    std::size_t faces;        // placed in the build
    bool oncePlaced;          // so that assimp counts the same faces
    std::uint16_t onlyColour;  // 0: several colours
  } samples[] = {
      {"pyramid_vertexcolor.3mf", 4, true, 0},
      {"rhombicuboctahedron_color.3mf", 44, true, 0},
      {"multiple_cylinders.3mf", 6 * 88, false, code(0xC0, 0xC0, 0xC0)},
      {"sphere_logo.3mf", 3032, true, 0},
  };
  for (const auto& sample : samples) {
    SCOPED_TRACE(sample.name);
    copyTestModel(sample.name, dir);
    ASSERT_TRUE(tools.threeMfReader.read(at(sample.name)));
    ASSERT_TRUE(tools.threeMfReader.loadBuild());
    EXPECT_EQ(tools.state.model.faces.size(), sample.faces);
    const std::size_t faces = tools.state.model.faces.size();
    EXPECT_FALSE(logHas("cannot be read"));
    tools.reader.freeObj();
    ASSERT_TRUE(convertModel(at(sample.name)));
    const ReadStl s = converted();
    std::set<std::uint16_t> colours;
    for (const auto& f : s.facets) colours.insert(f.attribute);
    if (sample.onlyColour) {
      EXPECT_EQ(colours, std::set<std::uint16_t>{sample.onlyColour});
    } else {
      EXPECT_GT(colours.size(), 1u);
    }
    const auto info = assimpInfo(at(sample.name));
    if (!info) continue;
    if (sample.oncePlaced) {
      EXPECT_EQ(long(faces), info->faces);
    }
    std::array<float, 3> lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    for (const auto& f : s.facets)
      for (const auto& c : f.corner)
        for (int i = 0; i < 3; ++i) lo[i] = std::min(lo[i], c[i]), hi[i] = std::max(hi[i], c[i]);
    for (int i = 0; i < 3; ++i) {
      EXPECT_NEAR(lo[i], info->min[i], 1e-3);
      EXPECT_NEAR(hi[i], info->max[i], 1e-3);
    }
  }
  if (!assimpInstalled()) GTEST_SKIP() << "assimp is not installed: the cross-check was left out";
}
