// The OBJ vertex tools and the point-cloud tools of the mesh-tools window.
#include <gtest/gtest.h>

#include <QImage>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "host/core/jpeg_io.h"
#include "host/mesh/tests/mesh_fixture.h"
#include "host/scantools/obj_cloud_tools.h"

namespace ph::test {
namespace {

std::vector<std::string> lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

std::vector<std::string> linesStarting(const std::string& path, const std::string& head) {
  std::vector<std::string> out;
  for (const std::string& l : lines(path))
    if (l.rfind(head, 0) == 0) out.push_back(l);
  return out;
}

// A binary STL of the given triangles.
void writeStl(const std::string& path, const std::vector<std::array<float, 9>>& tris) {
  std::ofstream o(path, std::ios::binary);
  char head[80] = {};
  o.write(head, 80);
  const std::uint32_t n = std::uint32_t(tris.size());
  o.write(reinterpret_cast<const char*>(&n), 4);
  for (const auto& t : tris) {
    const float normal[3] = {0, 0, 0};
    o.write(reinterpret_cast<const char*>(normal), 12);
    o.write(reinterpret_cast<const char*>(t.data()), 36);
    const std::uint16_t attr = 0;
    o.write(reinterpret_cast<const char*>(&attr), 2);
  }
}

class ObjCloudTest : public MeshTest {
 protected:
  ObjCloudTest() { objc.attachMenus(tools.controls); }
  ObjCloudTools objc{core, tools};
};

TEST_F(ObjCloudTest, OnematerialRenamesOnlyLinesThatBeginWithUsemtl) {
  writeText(at("ikt.obj"), "v 1 2 3\nusemtl skin\n  usemtl kept\nusemtlfoo\n# usemtl no\nf 1 1 1");
  ASSERT_TRUE(objc.useOneMaterial());
  EXPECT_EQ(lines(at("temp.obj")), (std::vector<std::string>{"v 1 2 3", "usemtl standaard", "  usemtl kept",
                                                              "usemtl standaard", "# usemtl no", "f 1 1 1"}));
}

TEST_F(ObjCloudTest, OnematerialWithoutItsFileIsToldAndWritesNothing) {
  EXPECT_FALSE(objc.useOneMaterial());
  EXPECT_TRUE(logHas("cannot read from file: " + at("ikt.obj")));
  EXPECT_FALSE(std::filesystem::exists(at("temp.obj")));
}

TEST_F(ObjCloudTest, VertexPToQPairsTheFirstSourceWithTheLastTarget) {
  writeText(at("q.txt"), "1,1,1\n2,2,2\n3,3,3\n");      // A B C
  writeText(at("p.txt"), "10,0,0\n\n20,0,0\n30,0,0\n");  // D, no point, E, F (F has no slot)
  writeText(at("temp.obj"), "# m\nv 10 0 0\nv 20.0005 0 0\nv 30 0 0\nv 0 0 0\nf 1 2 3\n");
  ASSERT_TRUE(objc.moveVerticesPToQ());
  EXPECT_EQ(lines(at("temp2.obj")),
            (std::vector<std::string>{"# m", "v 3 3 3", "v 1 1 1", "v 30 0 0", "v 0 0 0", "f 1 2 3"}));
}

TEST_F(ObjCloudTest, VertexPToQTakesAtMost99Targets) {
  std::string q, p;
  for (int i = 0; i < 120; ++i) q += std::to_string(i) + ",0,0\n";
  // The first line of p.txt pairs with target 98 (the 99th point).
  p = "5,5,5\n";
  writeText(at("q.txt"), q);
  writeText(at("p.txt"), p);
  writeText(at("temp.obj"), "v 5 5 5\n");
  ASSERT_TRUE(objc.moveVerticesPToQ());
  EXPECT_EQ(lines(at("temp2.obj")), std::vector<std::string>{"v 98 0 0"});
}

TEST_F(ObjCloudTest, MissingOrMalformedPointFilesEndTheTool) {
  writeText(at("temp.obj"), "v 1 1 1\n");
  writeText(at("q.txt"), "1,1,1\n");
  EXPECT_FALSE(objc.moveVerticesPToQ());
  EXPECT_TRUE(logHas("no file " + at("p.txt")));
  writeText(at("p.txt"), "1,1,1\n1,x,1\n");
  EXPECT_FALSE(objc.moveVerticesPToQ());
  EXPECT_TRUE(logHas(at("p.txt") + " line 2: 'x' is not a number"));
  writeText(at("p.txt"), "1,1,1\n");
  writeText(at("temp.obj"), "v 1 1 1\nv 1 one 1\n");
  EXPECT_FALSE(objc.moveVerticesPToQ());
  EXPECT_TRUE(logHas(at("temp.obj") + " line 2: 'one' is not a number"));
  EXPECT_FALSE(std::filesystem::exists(at("temp2.obj")));
}

TEST_F(ObjCloudTest, Vertice2PlaneMovesTheVerticesBetweenPlaneAndReference) {
  // The plane z = 0 (normal +z), the reference point above it at z = 5.
  writeStl(at("pullplane.stl"), {{0, 0, 0, 10, 0, 0, 0, 10, 0}});
  writeText(at("p.txt"), "0,0,0\n1,0,0\n0,1,0\n");
  writeText(at("q.txt"), "1,1,5\n");
  writeText(at("src.obj"), "v 1 1 2\nv 1 1 7\nv 1 1 -1\nv 20 20 2\nv 5 5 0\nvt 0 0\n");
  ui.answers = {OperatorUi::Answer::Yes};
  ui.inputs = {at("src.obj")};
  ASSERT_TRUE(objc.pullVerticesToPlane());
  // Between the two: moved onto the plane; on the edge counts as inside;
  // a vertex on the plane is taken and stays.
  EXPECT_EQ(lines(at("temp3.obj")),
            (std::vector<std::string>{"v 1 1 0", "v 1 1 7", "v 1 1 -1", "v 20 20 2", "v 5 5 0", "vt 0 0"}));
  EXPECT_TRUE(logHas("triangcount=1"));
  EXPECT_TRUE(logHas("saved to temp3.obj"));
}

TEST_F(ObjCloudTest, Vertice2PlaneWithoutItsPlaneIsToldAndWritesNothing) {
  writeText(at("p.txt"), "0,0,0\n1,0,0\n0,1,0\n");
  writeText(at("q.txt"), "1,1,5\n");
  writeText(at("src.obj"), "v 1 1 2\n");
  ui.answers = {OperatorUi::Answer::Yes};
  ui.inputs = {at("src.obj")};
  EXPECT_FALSE(objc.pullVerticesToPlane());
  EXPECT_TRUE(logHas("no file " + at("pullplane.stl")));
  EXPECT_FALSE(std::filesystem::exists(at("temp3.obj")));
  // Without the operator's Yes nothing is asked further.
  ui.answers = {OperatorUi::Answer::No};
  EXPECT_FALSE(objc.pullVerticesToPlane());
}

// ---- Weld_obj ----

const char* kCube24 =
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n";

TEST_F(ObjCloudTest, WeldMergesEqualVerticesAndDropsCollapsedFaces) {
  writeText(at("cube.obj"), std::string(kCube24) +
                                "f 1 2 3\nf 9 11 12\nf 5 14 7\nf 13 15 24\nf 1 10 22\nf 17 22 21\n"
                                "f 2 3 7\nf 10 15 14\nf 4 8 7\nf 12 15 19\nf 1 4 8\nf 9 16 13\n"
                                "f 1 9 2\n");  // corners 1 and 9 weld: dropped
  ASSERT_TRUE(objc.weldObj(at("cube.obj"), "welded"));
  EXPECT_EQ(linesStarting(at("welded.obj"), "v ").size(), 8u);
  EXPECT_EQ(linesStarting(at("welded.obj"), "f ").size(), 12u);
  const std::vector<std::string> out = lines(at("welded.obj"));
  ASSERT_GE(out.size(), 4u);
  EXPECT_EQ(out[0], "#Nortavo");
  EXPECT_EQ(out[1], "mtllib welded.mtl");
  EXPECT_EQ(lines(at("welded.mtl"))[2], "newmtl welded");
  EXPECT_TRUE(logHas("vline[0]=2 vline[1]=9"));
  // No material at all still gives a picture.
  QImage atlas;
  EXPECT_TRUE(readJpegFile(at("welded.jpg"), atlas));
}

// A pixel of the atlas where a texture coordinate of the welded OBJ points.
QRgb atlasAt(const QImage& atlas, double u, double v) {
  const int x = std::clamp(int(u * atlas.width()), 0, atlas.width() - 1);
  const int y = std::clamp(int((1.0 - v) * atlas.height()), 0, atlas.height() - 1);
  return atlas.pixel(x, y);
}

bool near(QRgb p, int r, int g, int b) {
  return std::abs(qRed(p) - r) < 40 && std::abs(qGreen(p) - g) < 40 && std::abs(qBlue(p) - b) < 40;
}

TEST_F(ObjCloudTest, WeldPacksTwoTexturesAndAPlainColourIntoOnePicture) {
  QImage red(32, 16, QImage::Format_RGB32), blue(16, 24, QImage::Format_RGB32);
  red.fill(qRgb(230, 20, 20));
  blue.fill(qRgb(20, 20, 230));
  ASSERT_TRUE(writeJpegFile(red, at("red.jpg")));
  ASSERT_TRUE(writeJpegFile(blue, at("blue.jpg")));
  writeText(at("two.mtl"),
            "newmtl r\nKd 1 1 1\nmap_Kd red.jpg\nnewmtl b\nKd 1 1 1\nmap_Kd blue.jpg\nnewmtl g\nKd 0 1 0\n");
  writeText(at("two.obj"),
            "mtllib two.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nv 5 0 0\nv 6 0 0\nv 5 1 0\nv 9 0 0\nv 9 1 0\nv 8 0 0\n"
            "vt 0.5 0.5\nvt 0.9 0.1\nvt 0.1 0.9\n"
            "usemtl r\nf 1/1 2/2 3/3\nusemtl b\nf 4/1 5/2 6/3\nusemtl g\nf 7/1 8/2 9/3\n");
  ASSERT_TRUE(objc.weldObj(at("two.obj"), "packed"));
  QImage atlas;
  ASSERT_TRUE(readJpegFile(at("packed.jpg"), atlas));
  EXPECT_EQ(atlas.width(), 32 + 16 + 22);
  // The swatch (20 x 40) is taller than the textures: the atlas grows to hold it.
  EXPECT_EQ(atlas.height(), 40);
  // Read the welded faces back: each points into its own material's part.
  std::vector<std::pair<double, double>> vt;
  std::vector<std::array<int, 6>> faces;
  for (const std::string& l : lines(at("packed.obj"))) {
    std::istringstream s(l);
    std::string w;
    s >> w;
    if (w == "vt") {
      double u, v;
      s >> u >> v;
      vt.push_back({u, v});
    } else if (w == "f") {
      std::array<int, 6> f;
      char slash;
      for (int c = 0; c < 3; ++c) s >> f[std::size_t(2 * c)] >> slash >> f[std::size_t(2 * c + 1)];
      faces.push_back(f);
    }
  }
  ASSERT_EQ(faces.size(), 3u);
  // Faces in list order: the newest (green) first.
  const int want[3][3] = {{0, 230, 0}, {20, 20, 230}, {230, 20, 20}};
  for (std::size_t i = 0; i < 3; ++i)
    for (int c = 0; c < 3; ++c) {
      const auto [u, v] = vt[std::size_t(faces[i][std::size_t(2 * c + 1)] - 1)];
      EXPECT_TRUE(near(atlasAt(atlas, u, v), want[i][0], want[i][1], want[i][2]))
          << "face " << i << " corner " << c << " at " << u << "," << v;
    }
}

TEST_F(ObjCloudTest, WeldPutsThePlainSwatchAtTheRightOfTheTextures) {
  QImage grey(512, 512, QImage::Format_RGB32);
  grey.fill(qRgb(128, 128, 128));
  ASSERT_TRUE(writeJpegFile(grey, at("grey.jpg")));
  writeText(at("one.mtl"), "newmtl t\nKd 1 1 1\nmap_Kd grey.jpg\nnewmtl p\nKd 1 1 0\n");
  writeText(at("one.obj"),
            "mtllib one.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nusemtl t\nf 1/1 2/1 3/1\nusemtl p\nf 1 3 2\n");
  ASSERT_TRUE(objc.weldObj(at("one.obj"), "w"));
  EXPECT_TRUE(logHas("xbase=534 ybase=512 nrbmp=1"));
  QImage atlas;
  ASSERT_TRUE(readJpegFile(at("w.jpg"), atlas));
  ASSERT_EQ(atlas.size(), QSize(534, 512));
  // Swatch rows 20..39 hold the yellow; its first 20 rows and the rows
  // below it stay white.
  EXPECT_TRUE(near(atlas.pixel(524, 30), 255, 255, 0));
  EXPECT_TRUE(near(atlas.pixel(524, 10), 255, 255, 255));
  EXPECT_TRUE(near(atlas.pixel(524, 100), 255, 255, 255));
  EXPECT_TRUE(near(atlas.pixel(200, 200), 128, 128, 128));
}

TEST_F(ObjCloudTest, WeldOfPlainMaterialsOnlyWritesAValidPicture) {
  writeText(at("plain.mtl"), "newmtl a\nKd 1 0 0\nnewmtl b\nKd 0 0 1\n");
  writeText(at("plain.obj"), "mtllib plain.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 3 2\n");
  ASSERT_TRUE(objc.weldObj(at("plain.obj"), "flat"));
  QImage atlas;
  ASSERT_TRUE(readJpegFile(at("flat.jpg"), atlas));
  EXPECT_EQ(atlas.width(), 22);
  EXPECT_EQ(atlas.height(), 60);
}

TEST_F(ObjCloudTest, WeldRefusesOutputNamesOfItsInputs) {
  writeText(at("m.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  EXPECT_FALSE(objc.weldObj(at("m.obj"), "m"));
  EXPECT_TRUE(logHas("would replace the input"));
  EXPECT_EQ(lines(at("m.obj")).size(), 4u);
}

// ---- geometry and clouds ----

TEST(ClosestPointOnTriangle, Cases) {
  const vect3 v0{0, 0, 0}, v1{1, 0, 0}, v2{0, 1, 0};
  const struct {
    vect3 p, want;
  } cases[] = {{{0.2, 0.2, 5}, {0.2, 0.2, 0}}, {{2, -1, 0}, {1, 0, 0}},   {{-1, -1, 0}, {0, 0, 0}},
               {{0.7, 0.7, 0}, {0.5, 0.5, 0}}, {{1.5, -0.2, 0}, {1, 0, 0}}, {{0.5, -1, 3}, {0.5, 0, 0}}};
  for (const auto& c : cases) {
    const vect3 r = closestPointOnTriangle(v0, v1, v2, c.p);
    EXPECT_NEAR(r.x, c.want.x, 1e-6) << vect3Text(c.p);
    EXPECT_NEAR(r.y, c.want.y, 1e-6) << vect3Text(c.p);
    EXPECT_NEAR(r.z, c.want.z, 1e-6) << vect3Text(c.p);
  }
}

TEST_F(ObjCloudTest, CloudBoxFindsPointsWithin30) {
  writeText(at("c.obj"), "v 29 0 0\n");
  PointCloud c;
  ASSERT_TRUE(c.load(core, at("c.obj"), false));
  EXPECT_EQ(c.nearest({0, 0, 0}), (vect3{29, 0, 0}));
  writeText(at("c.obj"), "v 0 31 0\n");
  ASSERT_TRUE(c.load(core, at("c.obj"), false));
  EXPECT_EQ(c.nearest({0, 0, 0}), noCloudPoint());
  EXPECT_EQ(c.nearestReference({0, 0, 0}), noCloudPoint());
}

TEST_F(ObjCloudTest, CloudGridGivesTheZWalksAnswer) {
  std::mt19937 rng(7);
  for (int kind = 0; kind < 3; ++kind) {
    std::ostringstream o;
    std::uniform_real_distribution<float> u(-120.0f, 120.0f);
    std::uniform_int_distribution<int> w(-8, 8);
    for (int i = 0; i < 3000; ++i) {
      if (kind == 0) o << "v " << u(rng) << " " << u(rng) << " " << u(rng) << "\n";
      else if (kind == 1) o << "v " << u(rng) << " " << u(rng) << " " << 0.001f * float(i % 3) << "\n";
      else o << "v " << w(rng) << " " << w(rng) << " " << w(rng) << "\n";  // many ties
    }
    writeText(at("c.obj"), o.str());
    PointCloud c;
    ASSERT_TRUE(c.load(core, at("c.obj"), false));
    // The cloud's own cells, cells sized for far searches, and back.
    for (double cells : {0.0, 7.0, 0.5, 40.0}) {
      if (cells > 0.0) c.sizeCellsFor(cells);
      for (int q = 0; q < 500; ++q) {
        const vect3 p = kind == 2 ? vect3{double(w(rng)) * 2.5, double(w(rng)), double(w(rng)) * 9}
                                  : vect3{u(rng) * 1.3, u(rng) * 1.3, u(rng) * 1.3};
        ASSERT_EQ(c.nearest(p), c.nearestReference(p)) << kind << " " << vect3Text(p) << " cells " << c.cellSize();
      }
    }
  }
}

TEST_F(ObjCloudTest, CloudUniqueLoadAndSave) {
  writeText(at("c.obj"), "# c\nv 1 2 3\nv 1 2 3\nv 4 5 6\nv 1 2 3\nf 1 2 3\n");
  PointCloud c;
  ASSERT_TRUE(c.load(core, at("c.obj"), true));
  EXPECT_EQ(c.size(), 2u);
  ASSERT_TRUE(c.save(core, at("out1.obj")));
  EXPECT_EQ(lines(at("out1.obj")), (std::vector<std::string>{"# c", "v 1 2 3", "v 4 5 6", "f 1 2 3"}));
  EXPECT_EQ(std::count(core.Memo1.lines().begin(), core.Memo1.lines().end(), "too few points"), 2);
  ASSERT_TRUE(c.save(core, at("out2.obj")));
  EXPECT_EQ(lines(at("out1.obj")), lines(at("out2.obj")));
  writeText(at("bad.obj"), "v 1 2 3\nv 1 2\n");
  EXPECT_FALSE(c.load(core, at("bad.obj"), false));
  EXPECT_TRUE(logHas(at("bad.obj") + " line 2: '' is not a number"));
}

// A cloud moved by a small offset and rotation comes back in a few steps.
TEST_F(ObjCloudTest, MatchcloudsBringsAMovedCloudBack) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<vect3> ref;
  while (ref.size() < 4000) {
    const vect3 d{u(rng), u(rng), u(rng)};
    const double len = vect3Length(d);
    if (len < 0.2 || len > 1.0) continue;
    ref.push_back(vect3{d.x / len * 100.0, d.y / len * 80.0, d.z / len * 120.0});
  }
  const double a = 1.0 * 3.14159265 / 180.0;
  std::ostringstream r, m;
  for (const vect3& p : ref) {
    r << "v " << p.x << " " << p.y << " " << p.z << "\n";
    const vect3 q{p.x * std::cos(a) - p.y * std::sin(a) + 1.5, p.x * std::sin(a) + p.y * std::cos(a) - 1.0, p.z + 0.8};
    m << "v " << q.x << " " << q.y << " " << q.z << "\n";
  }
  writeText(at("cloud0.obj"), r.str());
  writeText(at("cloud2a.obj"), m.str());
  for (int step = 0; step < 8; ++step) ASSERT_TRUE(objc.matchCloudsStep());
  tools.abortMeshTools();  // the abort button: the next use writes the cloud
  ASSERT_TRUE(objc.matchCloudsStep());
  PointCloud moved;
  ASSERT_TRUE(moved.load(core, at("cloud3.obj"), false));
  ASSERT_EQ(moved.size(), ref.size());
  double err = 0.0;
  for (std::size_t i = 0; i < ref.size(); ++i) err += vect3Length(moved.points[i] - ref[i]);
  EXPECT_LT(err / double(ref.size()), 0.3);
  EXPECT_TRUE(logHas("totaldist="));
}

TEST_F(ObjCloudTest, SplitdirectionsPutsACubesFacesInSixGroups) {
  writeText(at("splitmodel.obj"),
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
            "f 1 3 2\nf 1 4 3\nf 5 6 7\nf 5 7 8\nf 1 2 6\nf 1 6 5\nf 4 8 7\nf 4 7 3\n"
            "f 1 5 8\nf 1 8 4\nf 2 3 7\nf 2 7 6\n");
  ASSERT_TRUE(objc.splitByDirection());
  const std::vector<std::string> out = lines(at("cubed.obj"));
  std::vector<std::vector<std::string>> groups;
  for (const std::string& l : out) {
    if (l.rfind("g cube", 0) == 0) groups.emplace_back();
    else if (l.rfind("f ", 0) == 0) groups.back().push_back(l);
  }
  ASSERT_EQ(groups.size(), 6u);
  for (const auto& g : groups) EXPECT_EQ(g.size(), 2u);
  EXPECT_EQ(groups[0], (std::vector<std::string>{"f 2 3 7", "f 2 7 6"}));  // +x
  EXPECT_EQ(groups[5], (std::vector<std::string>{"f 1 3 2", "f 1 4 3"}));  // -z
}

TEST_F(ObjCloudTest, SplitdirectionsPairsPolygonLinesWithTheirFirstTriangle) {
  writeText(at("splitmodel.obj"), "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nf 1 4 3 2\nf 1 2 5\n");
  ASSERT_TRUE(objc.splitByDirection());
  const std::vector<std::string> out = lines(at("cubed.obj"));
  const auto g4 = std::find(out.begin(), out.end(), "g cube4");
  const auto g5 = std::find(out.begin(), out.end(), "g cube5");
  ASSERT_NE(g4, out.end());
  EXPECT_EQ(*(g4 + 1), "f 1 2 5");   // faces -y
  EXPECT_EQ(*(g5 + 1), "f 1 4 3 2");  // faces -z
}

TEST_F(ObjCloudTest, NearpointsRemovesTheFaceAtAListedCorner) {
  writeText(at("nearmodel.obj"),
            "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
  writeText(at("nearpoints.txt"), "0,1,0\n5,5,5\n");
  ASSERT_TRUE(objc.wipeNearFaces());
  EXPECT_EQ(linesStarting(at("nearwiped.obj"), "f "), std::vector<std::string>{"f 1/1/1 2/2/2 3/3/3"});
  EXPECT_EQ(linesStarting(at("nearwiped.obj"), "v ").size(), 4u);
  EXPECT_TRUE(logHas("wiped 0"));
}

TEST_F(ObjCloudTest, MenuItemsAreBound) {
  for (const char* name : {"onematerial1Item", "VertexpToQ1", "Vertice2Plane1", "Weldobj1", "matchclouds1",
                           "nearpoints1"}) {
    core.Memo1.clear();
    tools.controls.at(name).click();
    EXPECT_FALSE(logHas("not built yet")) << name;
  }
}

}  // namespace
}  // namespace ph::test
