// The texture tools on small generated models and pictures in a scratch
// folder: planar textures, the head unrolling, painting, repair, tracking
// and the image tools.
#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <random>
#include <sstream>

#include "host/core/bitmaps.h"
#include "host/core/jpeg_io.h"
#include "host/mesh/obj_to_stl.h"
#include "host/mesh/tests/mesh_fixture.h"
#include "host/mesh/tests/stl_files.h"
#include "host/scantools/image_tools.h"
#include "host/scantools/texture_geometry.h"
#include "host/scantools/texture_tools.h"

namespace ph::test {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> out;
  std::stringstream ss(text);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

int countPrefix(const std::string& text, const std::string& prefix) {
  int n = 0;
  for (const auto& l : linesOf(text)) n += l.starts_with(prefix);
  return n;
}

QImage readPicture(const std::string& path) {
  QImage img;
  EXPECT_TRUE(loadPicture(img, path)) << path;
  return img;
}

// A recording window: what the tools showed, and scripted answers.
struct FakeView : MeshWindowView {
  int imageChanges = 0, pauses = 0, closed = 0;
  std::vector<std::pair<int, std::string>> previewsShown;
  std::vector<int> previewsClosed;
  std::optional<int> colour;
  std::optional<QImage> clipboard;
  QImage lastPreview;
  void imageChanged() override { ++imageChanges; }
  void showPreview(int slot, const QImage& p, const std::string& caption, bool) override {
    previewsShown.push_back({slot, caption});
    lastPreview = p;
  }
  void closePreview(int slot) override { previewsClosed.push_back(slot); }
  std::optional<int> chooseColour(int) override { return colour; }
  std::optional<QImage> clipboardBitmap() override { return clipboard; }
  void pause(int) override { ++pauses; }
  void closeWindow() override { ++closed; }
};

class TextureTest : public MeshTest {
 protected:
  TextureTest() {
    tools.view = &view;
    tex.attachMenus(tools.controls);
  }
  FakeView view;
  TextureTools tex{core, tools};
};

// ---- planar textures ----

TEST_F(TextureTest, ColourTextureOfA100By50ModelIs2000SquareAndTheFirstFacetOfTheFileShows) {
  const std::uint16_t red = 0x8000 | 31 << 10, blue = 0x8000 | 31;
  // Two facets over the same footprint: red first in the file, blue second.
  writeStl(at("m.stl"), {facetOf({0, 0, 0}, {100, 0, 0}, {0, 50, 0}, red),
                         facetOf({0, 0, 1}, {100, 0, 1}, {0, 50, 1}, blue),
                         facetOf({100, 50, 0}, {100, 0, 0}, {0, 50, 0}, red)});
  ASSERT_TRUE(tex.planarColourTexture(at("m.stl"), "flat"));
  EXPECT_EQ(tex.planarSide, 2000);
  const QImage img = readPicture(at("flat.jpg"));
  EXPECT_EQ(img.width(), 2000);
  EXPECT_EQ(img.height(), 2000);
  const QColor c = img.pixelColor(200, 2000 - 200);
  EXPECT_GT(c.red(), 200);
  EXPECT_LT(c.blue(), 60);
  // Above y = 50 nothing is painted.
  EXPECT_GT(img.pixelColor(200, 100).blue(), 200);
  // A binary STL read as text has no "v " or "f " lines.
  EXPECT_EQ(readFile(at("flat.obj")), "# Nortavo\nmtllib flat.mtl\ng object_1\nusemtl flat\n");
  EXPECT_EQ(readFile(at("flat.mtl")),
            "# Nortavo\nnewmtl flat\nKa 0 0 0\nKd 1.0 1.0 1.0\nKs 1.0 1.0 1.0\nTf 0.0 0.0 0.0\nd 1.0\nNs 0\nmap_Kd flat.jpg\n");
  EXPECT_TRUE(logHas("boundbox[1][0]=100.00 boundbox[1][1]=50.00 boundbox[1][2]=1.00 "));
}

TEST_F(TextureTest, AModelTooLargeForItsPictureGetsASmallerScaleNotAFailedAllocation) {
  tex.planarMaxSide = 1000;
  writeStl(at("big.stl"), {facetOf({0, 0, 0}, {100000, 0, 0}, {0, 100000, 0}, 0xFFFF)});
  ASSERT_TRUE(tex.planarColourTexture(at("big.stl"), "big"));
  EXPECT_LE(tex.planarSide, 1000);
  EXPECT_GT(tex.planarSide, 500);
  EXPECT_TRUE(logHas("pixels per unit would make the texture too large"));
}

TEST_F(TextureTest, AnOutputThatNamesTheInputIsRefusedBeforeAnythingIsWritten) {
  writeText(at("head.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const std::string before = readFile(at("head.obj"));
  EXPECT_FALSE(tex.planarFaceTexture(at("head.obj"), "head", false));
  EXPECT_EQ(readFile(at("head.obj")), before);
  EXPECT_FALSE(std::filesystem::exists(at("head.jpg")));
  EXPECT_TRUE(logHas("would overwrite the input"));
  EXPECT_FALSE(tex.headTexture(at("head.obj"), "head", {0, 0, 0}, {0, 1, 0}));
  EXPECT_EQ(readFile(at("head.obj")), before);
}

TEST_F(TextureTest, FaceLinesKeepTheirVertexNumbersAsTextureNumbersAndEveryVertexGetsOne) {
  writeText(at("m.obj"),
            "# made by hand\nv 0 0 0\nv 10 0 0\nvt 0.5 0.5\nv 0 10 0\nv  10   10 0\nv 5 5 5\nv 1 1 1\n"
            "v 2 2 2\nv 3 3 3\n"
                "vt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\nvt 0 0\n"
                "vn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\nvn 0 0 1\n"
                "f 3/7/2 5/9/4 8/1/6\nf 3 5 8\nf 1/1 2/1 4/1 3/1\n");
  ASSERT_TRUE(tex.planarFaceTexture(at("m.obj"), "out", false));
  const auto lines = linesOf(readFile(at("out.obj")));
  const std::vector<std::string> faces = {"f 3/3 5/5 8/8", "f 3/3 5/5 8/8", "f 1/1 2/2 4/4 3/3"};
  std::vector<std::string> got;
  for (const auto& l : lines)
    if (l.starts_with("f ")) got.push_back(l);
  EXPECT_EQ(got, faces);
  // Each "v" line unchanged and followed by its "vt" from x and y.
  ASSERT_GE(lines.size(), 8u);
  EXPECT_EQ(lines[4], "v 0 0 0");
  EXPECT_EQ(lines[5], "vt 0.0000000 0.0000000");
  EXPECT_EQ(lines[8], "v 0 10 0");
  EXPECT_EQ(countPrefix(readFile(at("out.obj")), "vt "), 8);
  EXPECT_EQ(countPrefix(readFile(at("out.obj")), "vn"), 0);
  EXPECT_EQ(tex.planarScale, 20.0f);
  EXPECT_EQ(tex.planarSide, 200);
  // u = x / (n / k): the vertex at x = 10 reaches u = 1.
  EXPECT_EQ(lines[7], "vt 1.0000000 0.0000000");
}

TEST_F(TextureTest, TheScaleHalvesUntilTheSideFits) {
  struct Case {
    double width;
    float k;
    int n;
  };
  for (const Case c : {Case{100, 20.0f, 2000}, Case{150, 10.0f, 1500}, Case{102.4, 20.0f, 2048}}) {
    writeText(at("w.obj"), plat::format("v 0 0 0\nv %g 0 0\nv 0 5 0\nf 1 2 3\n", c.width));
    ASSERT_TRUE(tex.planarFaceTexture(at("w.obj"), "wout", false)) << c.width;
    EXPECT_EQ(tex.planarScale, c.k) << c.width;
    EXPECT_EQ(tex.planarSide, c.n) << c.width;
  }
}

TEST_F(TextureTest, TheHighestFaceShowsInTheRebakedTextureAndFlatFacesTakeTheMaterialColour) {
  writeText(at("m.mtl"), "newmtl low\nKd 1 0 0\nnewmtl high\nKd 0 0 1\n");
  writeText(at("m.obj"),
            "mtllib m.mtl\nv 0 0 5\nv 10 0 5\nv 0 10 5\nv 0 0 1\nv 10 0 1\nv 0 10 1\n"
            "usemtl high\nf 1 2 3\nusemtl low\nf 4 5 6\n");
  ASSERT_TRUE(tex.planarFaceTexture(at("m.obj"), "o", true));
  const QImage img = readPicture(at("o.bmp"));
  EXPECT_EQ(img.pixelColor(30, 200 - 30), QColor(0, 0, 255));
  EXPECT_TRUE(logHas("sorted 2 2"));
  EXPECT_NE(readFile(at("o.mtl")).find("map_Kd o.bmp"), std::string::npos);
}

TEST_F(TextureTest, TheRebakedTextureSamplesTheFacesOwnPicture) {
  QImage pic(64, 64, QImage::Format_RGB32);
  pic.fill(QColor(0, 200, 0));
  ASSERT_TRUE(pic.save(QString::fromStdString(at("skin.bmp")), "BMP"));
  writeText(at("t.mtl"), "newmtl skin\nKd 1 1 1\nmap_Kd skin.bmp\n");
  // First corner (5, 5) inside the picture, at pixel (100, 100).
  writeText(at("t.obj"),
            "mtllib t.mtl\nv 5 5 0\nv 0 0 0\nv 10 0 0\nvt 0 0\nvt 1 0\nvt 0 1\nusemtl skin\nf 1/1 2/2 3/3\n");
  ASSERT_TRUE(tex.planarFaceTexture(at("t.obj"), "tt", true));
  ASSERT_EQ(tex.planarSide, 200);
  const QImage img = readPicture(at("tt.bmp"));
  EXPECT_EQ(img.pixelColor(100, 200 - 50), QColor(0, 200, 0));
  // The pixel on the first corner itself has no parameters and stays white.
  EXPECT_EQ(img.pixelColor(100, 200 - 100), QColor(255, 255, 255));
  EXPECT_EQ(img.pixelColor(100, 200 - 99), QColor(0, 200, 0));
}

TEST_F(TextureTest, ALineThatDoesNotHoldItsNumbersIsToldWithFileAndLineAndLeavesNoOutput) {
  writeText(at("bad.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nv 1 x 0\n");
  EXPECT_FALSE(tex.planarFaceTexture(at("bad.obj"), "badout", false));
  EXPECT_FALSE(std::filesystem::exists(at("badout.obj")));
  EXPECT_FALSE(std::filesystem::exists(at("badout.obj.part")));
  EXPECT_FALSE(std::filesystem::exists(at("badout.mtl")));
}

TEST_F(TextureTest, TriangleParametersGiveThePointBack) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-50.0f, 50.0f), w(0.05f, 0.95f);
  for (int i = 0; i < 500; ++i) {
    const UvPoint tri[3] = {{d(rng), d(rng)}, {d(rng), d(rng)}, {d(rng), d(rng)}};
    const float area = (tri[1].u - tri[0].u) * (tri[2].v - tri[0].v) - (tri[2].u - tri[0].u) * (tri[1].v - tri[0].v);
    if (std::abs(area) < 50.0f) continue;
    const float s = w(rng), t = w(rng);
    const UvPoint p = triParamPoint(tri, s, t);
    float s2 = 0, t2 = 0;
    ASSERT_TRUE(texPointParams(tri, p.u, p.v, s2, t2));
    EXPECT_NEAR(s2, s, 2e-3f);
    EXPECT_NEAR(t2, t, 2e-3f);
  }
  const UvPoint tri[3] = {{1, 1}, {5, 1}, {1, 5}};
  float s, t;
  EXPECT_FALSE(texPointParams(tri, 1.0f, 1.0f, s, t));
  EXPECT_EQ(perpXY({1, 2, 3}), (vect3{2, -1, 3}));
}

TEST_F(TextureTest, TheTrianglesOwnParametersAreThoseOfThePlainComputationBitForBit) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> d(-300.0f, 300.0f);
  std::uniform_int_distribution<int> pick(0, 5);
  int refused = 0, compared = 0;
  for (int i = 0; i < 3000; ++i) {
    UvPoint tri[3] = {{d(rng), d(rng)}, {d(rng), d(rng)}, {d(rng), d(rng)}};
    // Degenerate triangles too: a repeated corner, corners on one line,
    // integer corners that pixels land on.
    switch (pick(rng)) {
      case 0: tri[2] = tri[1]; break;
      case 1: tri[2] = {2 * tri[1].u - tri[0].u, 2 * tri[1].v - tri[0].v}; break;
      case 2:
        for (auto& p : tri) p = {std::trunc(p.u), std::trunc(p.v)};
        break;
      case 3: tri[1] = tri[0]; break;
      default: break;
    }
    const TrianglePointParams fast(tri);
    for (int j = 0; j < 20; ++j) {
      float x = std::trunc(d(rng)), y = std::trunc(d(rng));
      if (j == 0) x = tri[0].u, y = tri[0].v;
      float s1 = -1, t1 = -1, s2 = -1, t2 = -1;
      const bool a = texPointParams(tri, x, y, s1, t1);
      const bool b = fast(x, y, s2, t2);
      ASSERT_EQ(a, b) << i << " " << j;
      refused += !a;
      if (!a) continue;
      ++compared;
      ASSERT_EQ(std::memcmp(&s1, &s2, 4), 0) << s1 << " " << s2;
      ASSERT_EQ(std::memcmp(&t1, &t2, 4), 0) << t1 << " " << t2;
    }
  }
  EXPECT_GT(refused, 100);
  EXPECT_GT(compared, 10000);
}

TEST_F(TextureTest, SortingByKeyMatchesTheComparisonSortAndIsStable) {
  std::mt19937 rng(3);
  std::uniform_int_distribution<int> z(0, 9);
  std::vector<objFace> faces(300);
  std::vector<double> keys(faces.size());
  for (std::size_t i = 0; i < faces.size(); ++i) {
    faces[i].positions[0].z = z(rng);
    keys[i] = faces[i].positions[0].z;
  }
  std::vector<std::int32_t> a(faces.size());
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = std::int32_t(a.size() - 1 - i);
  std::vector<std::int32_t> b = a;
  sortFaceList(a, faces, faceZGreater);
  sortFaceListByKey(b, keys, true);
  EXPECT_EQ(a, b);
  for (std::size_t i = 1; i < a.size(); ++i) {
    EXPECT_FALSE(faceZGreater(faces[std::size_t(a[i - 1])], faces[std::size_t(a[i])]));
    if (keys[std::size_t(a[i - 1])] == keys[std::size_t(a[i])]) {
      EXPECT_GT(a[i - 1], a[i]);
    }
  }
  std::vector<std::int32_t> c = b;
  sortFaceList(b, faces, [](const objFace& x, const objFace& y) { return x.positions[0].z < y.positions[0].z; });
  sortFaceListByKey(c, keys, false);
  EXPECT_EQ(b, c);
}

// ---- the head texture ----

// A cylinder of radius 5 about the y axis from y = 0 to 10, `segments`
// around, faces textured with a picture of vertical stripes.
void writeStripedCylinder(const std::string& dir, int segments) {
  QImage stripes(360, 16, QImage::Format_RGB32);
  for (int x = 0; x < 360; ++x)
    for (int y = 0; y < 16; ++y) stripes.setPixelColor(x, y, x < 180 ? QColor(255, 0, 0) : QColor(0, 0, 255));
  ASSERT_TRUE(stripes.save(QString::fromStdString(dir + "/stripes.bmp"), "BMP"));
  writeText(dir + "/cyl.mtl", "newmtl s\nKd 1 1 1\nmap_Kd stripes.bmp\n");
  std::string obj = "mtllib cyl.mtl\nusemtl s\n";
  for (int i = 0; i < segments; ++i) {
    const double a = 2 * std::numbers::pi * i / segments;
    // Angle 0 at +z, growing towards +x.
    for (double y : {0.0, 10.0}) obj += plat::format("v %.6f %.6f %.6f\n", 5 * std::sin(a), y, 5 * std::cos(a));
    obj += plat::format("vt %.6f 0.5\n", double(i) / segments);
  }
  obj += plat::format("vt 1 0.5\n");
  for (int i = 0; i < segments; ++i) {
    const int a0 = 2 * i + 1, a1 = a0 + 1, b0 = 2 * ((i + 1) % segments) + 1, b1 = b0 + 1;
    const int t0 = i + 1, t1 = i + 2;
    obj += plat::format("f %d/%d %d/%d %d/%d\n", a0, t0, b0, t1, a1, t0);
    obj += plat::format("f %d/%d %d/%d %d/%d\n", b0, t1, b1, t1, a1, t0);
  }
  writeText(dir + "/cyl.obj", obj);
}

struct ObjCorners {
  std::vector<std::array<double, 3>> v;
  std::vector<std::array<double, 2>> vt;
  std::vector<std::string> f;
};
ObjCorners readCorners(const std::string& text) {
  ObjCorners c;
  for (const auto& l : linesOf(text)) {
    std::stringstream ss(l.substr(l.find(' ') + 1));
    if (l.starts_with("v ")) {
      std::array<double, 3> p;
      ss >> p[0] >> p[1] >> p[2];
      c.v.push_back(p);
    } else if (l.starts_with("vt ")) {
      std::array<double, 2> p;
      ss >> p[0] >> p[1];
      c.vt.push_back(p);
    } else if (l.starts_with("f ")) {
      c.f.push_back(l);
    }
  }
  return c;
}

TEST_F(TextureTest, AStripedCylinderUnrolledAlongItsAxisPutsTheStripesWhereTheAnglesSay) {
  writeStripedCylinder(dir, 36);
  ASSERT_TRUE(tex.headTexture(at("cyl.obj"), "cylout", {0, 0, 0}, {0, 10, 0}));
  const std::string obj = readFile(at("cylout.obj"));
  const ObjCorners c = readCorners(obj);
  // Face count kept; three corners of its own per face.
  ASSERT_EQ(c.f.size(), 72u);
  ASSERT_EQ(c.v.size(), 216u);
  ASSERT_EQ(c.vt.size(), 216u);
  for (std::size_t i = 0; i < c.f.size(); ++i) {
    const int n = int(3 * i + 1);
    EXPECT_EQ(c.f[i], plat::format("f %d/%d %d/%d %d/%d", n, n, n + 1, n + 1, n + 2, n + 2));
  }
  EXPECT_EQ(tex.placedSides + tex.placedTop + tex.placedRest, 72);
  EXPECT_EQ(tex.placedSides, 72);
  // U = 1024 - 4 x angle: the angle from +z towards the reference side.
  for (std::size_t i = 0; i < c.v.size(); ++i) {
    const double angle = std::atan2(c.v[i][0], c.v[i][2]) * 180.0 / std::numbers::pi;
    const double u = 1024.0 + 4.0 * angle;
    const double got = c.vt[i][0] * 2048.0;
    // Faces across the back seam reach 1440 further right, and a corner at
    // exactly 180 degrees counts as -180.
    const double off = std::fmod(got - u + 4 * 1440.0, 1440.0);
    EXPECT_TRUE(off < 2.0 || off > 1438.0) << i << " " << got << " " << u;
    EXPECT_NEAR(c.vt[i][1] * 2048.0, 800.0 * c.v[i][1] / 10.0 + 50.0, 0.01) << i;
  }
  // The stripes: texture x < 180 (u < 0.5, red) where the faces' own
  // coordinates were, mapped by angle.
  const QImage img = readPicture(at("cylout.jpg"));
  ASSERT_EQ(img.width(), 2048);
  const int row = 2048 - 450;
  // x > 0 (the faces' u below 0.5, red) lies right of U 1024, x < 0 left.
  const QColor left = img.pixelColor(1024 - 4 * 30, row);
  const QColor right = img.pixelColor(1024 + 4 * 90, row);
  EXPECT_GT(left.blue(), 180);
  EXPECT_LT(left.red(), 80);
  EXPECT_GT(right.red(), 180);
  EXPECT_LT(right.blue(), 80);
  EXPECT_EQ(readFile(at("cylout.mtl")).substr(0, 23), "# Nortavo\nnewmtl cylout");
  EXPECT_TRUE(obj.starts_with("#Nortavo\nmtllib cylout.mtl\nusemtl cylout\ng grp1\n"));
}

TEST_F(TextureTest, AFaceAcrossTheBackSeamStaysInOnePiece) {
  const double a = 179.0 * std::numbers::pi / 180.0;
  writeText(at("seam.obj"), plat::format("v %.6f 2 %.6f\nv %.6f 2 %.6f\nv %.6f 8 %.6f\nf 1 2 3\n", 5 * std::sin(a),
                                         5 * std::cos(a), -5 * std::sin(a), 5 * std::cos(a), 5 * std::sin(a),
                                         5 * std::cos(a)));
  ASSERT_TRUE(tex.headTexture(at("seam.obj"), "seamout", {0, 0, 0}, {0, 10, 0}));
  const ObjCorners c = readCorners(readFile(at("seamout.obj")));
  ASSERT_EQ(c.vt.size(), 3u);
  double lo = 1e9, hi = -1e9;
  for (const auto& t : c.vt) {
    lo = std::min(lo, t[0] * 2048);
    hi = std::max(hi, t[0] * 2048);
  }
  EXPECT_GT(lo, 1735.0);
  EXPECT_LT(hi, 1755.0);
}

TEST_F(TextureTest, TheCoverageCheckRefusesAFaceWithNoInteriorPixels) {
  // A face one pixel wide in the unrolled band (a sliver along the axis), with
  // a picture of its own: passes 1 and 2 refuse it, pass 3 places it.
  QImage pic(8, 8, QImage::Format_RGB32);
  pic.fill(Qt::green);
  ASSERT_TRUE(pic.save(QString::fromStdString(at("g.bmp")), "BMP"));
  writeText(at("g.mtl"), "newmtl g\nmap_Kd g.bmp\n");
  writeText(at("sliver.obj"),
            "mtllib g.mtl\nusemtl g\nv 0 1 5\nv 0 9 5\nv 0.0001 5 5\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
  ASSERT_TRUE(tex.headTexture(at("sliver.obj"), "sliverout", {0, 0, 0}, {0, 10, 0}));
  EXPECT_EQ(tex.placedSides, 0);
  EXPECT_EQ(tex.placedTop, 0);
  EXPECT_EQ(tex.placedRest, 1);
  const ObjCorners c = readCorners(readFile(at("sliverout.obj")));
  ASSERT_EQ(c.vt.size(), 3u);
  EXPECT_NEAR(c.vt[1][0], 0.5 + 0.5, 1e-6);  // U = 1024 + 1024 u, over 2048
}

TEST_F(TextureTest, HeadAxisEndsThatCoincideAreRefused) {
  writeStripedCylinder(dir, 8);
  EXPECT_FALSE(tex.headTexture(at("cyl.obj"), "zero", {1, 2, 3}, {1, 2, 3}));
  EXPECT_TRUE(logHas("has no length"));
  EXPECT_FALSE(std::filesystem::exists(at("zero.obj")));
}

TEST_F(TextureTest, TheHostEntryScalesTheHeadRunsTheToolAndClosesTheWindow) {
  writeStripedCylinder(dir, 12);
  // A head 300 high in z.
  std::string obj = readFile(at("cyl.obj"));
  writeText(at("tall.obj"), obj + "v 0 0 -150\nv 1 0 150\nv 0 1 150\nf 25 26 27\n");
  ui.files.push_back(at("tall.obj"));
  ui.inputs = {std::nullopt};                   // flatobj: keep tall_flt
  ui.choiceAnswers = {1, 0};                    // define_headaxis: change to No
  ui.inputs.push_back(std::string("0 0 0"));    // cilinder_axis[0]
  ui.inputs.push_back(std::string("0 0.5 0"));  // cilinder_axis[1]
  tools.showWindow = [&] { clock.advance(1000); };
  tex.startHostHeadTexture();
  EXPECT_TRUE(std::filesystem::exists(at("tall_flt.obj")));
  EXPECT_EQ(view.closed, 1);
  EXPECT_EQ(log().back(), "created file: " + dir + "/tall_flt.obj scale: 0.050 (1/20.00)");
  EXPECT_FALSE(tex.closeWhenDone);
  // Cancelling the dialog logs the last status and starts nothing.
  ui.files.clear();
  tex.startHostHeadTexture();
  EXPECT_EQ(log().back(), "created file: " + dir + "/tall_flt.obj scale: 0.050 (1/20.00)");
}

TEST_F(TextureTest, AWindowThatCannotBeShownNeverRunsTheToolLater) {
  writeStripedCylinder(dir, 8);
  ui.files.push_back(at("cyl.obj"));
  tools.showWindow = nullptr;  // no display
  tex.startHostHeadTexture();
  clock.advance(5000);
  EXPECT_TRUE(ui.prompts.empty());
  EXPECT_TRUE(tex.hostHeadFile.empty());
  EXPECT_FALSE(std::filesystem::exists(at("cyl_flt.obj")));
}

TEST_F(TextureTest, ThreeClicksDefineTheAxisAndTheSecondRunUnrolls) {
  writeStripedCylinder(dir, 12);
  tex.FlatColored = at("cyl.obj");
  ui.inputs = {std::nullopt, std::string("clicked")};
  ui.choiceAnswers = {0};  // define_headaxis stays Yes
  tex.runHeadTexture();
  EXPECT_EQ(tex.headAxisState, 1);
  EXPECT_TRUE(logHas("click on center"));
  tools.pictureClick(145, 100);
  EXPECT_EQ(view.pauses, 1);
  tools.pictureClick(150, 10);   // top
  tools.pictureClick(150, 280);  // bottom
  EXPECT_EQ(tex.headAxisState, 4);
  EXPECT_EQ(tools.Im1.pixelColor(150, 150), QColor(255, 0, 0));
  clock.advance(1000);
  EXPECT_EQ(tex.headAxisState, 0);
  EXPECT_TRUE(logHas("polyline"));
  EXPECT_TRUE(std::filesystem::exists(at("clicked.obj")));
}

// ---- painting, repair, tracking ----

TEST_F(TextureTest, ASingleNearWhiteCornerBetweenRedAndBlueBecomesTheirMean) {
  writeText(at("vc.obj"),
            "v 0 0 0 1 0 0\nv 1 0 0 1 1 1\nv 0 1 0 0 0 1\nv 1 1 0 1 1 1\nv 2 2 0 0.95 0.95 0.95\n"
            "f 1 2 3\nf 2 4 5\n");
  ASSERT_TRUE(tex.unWhite(at("vc.obj"), at("fixed.obj")));
  const auto lines = linesOf(readFile(at("fixed.obj")));
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "#Nortavo unwhite");
  EXPECT_EQ(lines[3], "v 1.00000 0.00000 0.00000 0.50000 0.00000 0.50000");
  // The face with three near-white corners is left alone.
  EXPECT_EQ(lines[5], "v 1.00000 1.00000 0.00000 1.00000 1.00000 1.00000");
  EXPECT_EQ(lines[7], "f 2 4 5");
  EXPECT_EQ(lines[8], "f 1 2 3");
}

TEST_F(TextureTest, PaintingFillsFacesInTheirTexturesAndABadColourIsTold) {
  QImage pic(100, 100, QImage::Format_RGB32);
  pic.fill(Qt::white);
  ASSERT_TRUE(pic.save(QString::fromStdString(at("p.bmp")), "BMP"));
  writeText(at("p.mtl"), "newmtl p\nmap_Kd p.bmp\n");
  writeText(at("p.obj"), "mtllib p.mtl\nusemtl p\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0.1 0.1\nvt 0.9 0.1\nvt 0.1 0.9\nf 1/1 2/2 3/3\n");
  ASSERT_TRUE(tex.paintTextures(at("p.obj"), "FF0000"));
  const QImage out = readPicture(at("txtuRaster1.jpg"));
  EXPECT_GT(out.pixelColor(30, 70).red(), 200);
  EXPECT_LT(out.pixelColor(30, 70).green(), 60);
  EXPECT_GT(out.pixelColor(85, 20).green(), 200);
  EXPECT_FALSE(tex.paintTextures(at("p.obj"), "FG0000"));
  EXPECT_TRUE(logHas("'FG0000' is not six hex digits"));
}

TEST_F(TextureTest, TheTrackerWaitsQuietlyForItsPointFileAndScansWhenItComes) {
  QImage pic(64, 32, QImage::Format_RGB32);
  pic.fill(Qt::gray);
  ASSERT_TRUE(pic.save(QString::fromStdString(at("k.bmp")), "BMP"));
  writeText(at("k.mtl"), "newmtl k\nmap_Kd k.bmp\n");
  writeText(at("k.obj"), "mtllib k.mtl\nusemtl k\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0.25 0.5\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
  ui.inputs = {at("k.obj")};
  tex.toggleTracking();
  ASSERT_TRUE(tex.tracking());
  clock.advance(20000);
  int waiting = 0;
  for (const auto& l : log()) waiting += l.starts_with("waiting for ");
  EXPECT_EQ(waiting, 1);
  writeText(at("p.txt"), "0,0,0\n");
  clock.advance(5000);
  EXPECT_TRUE(logHas("a1: 256,256,(0.000) k.bmp"));
  ASSERT_FALSE(view.previewsShown.empty());
  EXPECT_EQ(view.previewsShown.back(), (std::pair<int, std::string>{0, "k.bmp"}));
  // A line that does not hold three numbers is told with the file and line.
  // The rewrite keeps the first line and, as a quick one does, the age.
  const auto age = std::filesystem::last_write_time(at("p.txt"));
  writeText(at("p.txt"), "0,0,0\n1,x,3\n");
  std::filesystem::last_write_time(at("p.txt"), age);
  clock.advance(5000);
  EXPECT_TRUE(logHas(at("p.txt") + " line 2: '1,x,3' is not three numbers"));
  tex.toggleTracking();
  EXPECT_FALSE(tex.tracking());
}

TEST_F(TextureTest, APointFileBesideTheModelPresetsTheAxisAndABadLineStopsTheTool) {
  writeStripedCylinder(dir, 12);
  writeText(at("headaxis.txt"), "0,0,0\n0,10,0\n");
  tex.FlatColored = at("cyl.obj");
  ui.inputs = {std::nullopt, std::string("preset"), std::nullopt, std::nullopt};
  ui.choiceAnswers = {1, 0};  // define_headaxis: No; the typed axis keeps the preset
  tex.runHeadTexture();
  EXPECT_EQ(ui.prompts.back(), "cilinder_axis[1]");
  EXPECT_EQ(tex.placedSides, 24);
  EXPECT_TRUE(std::filesystem::exists(at("preset.obj")));
  writeText(at("headaxis.txt"), "0,0,0\n0,ten,0\n");
  ui.inputs = {std::nullopt, std::string("preset2")};
  tex.runHeadTexture();
  EXPECT_TRUE(logHas(at("headaxis.txt") + " line 2: '0,ten,0' is not three numbers: no head texture"));
  EXPECT_FALSE(std::filesystem::exists(at("preset2.obj")));
}

// ---- image tools ----

TEST_F(TextureTest, SpectrumAndDepthFollowTheScale) {
  struct Case {
    int r, g, b, index;
  };
  for (const Case c : {Case{255, 255, 255, 0}, {255, 0, 0, 255}, {255, 255, 0, 510}, {0, 255, 0, 765},
                       {0, 255, 255, 1020}, {0, 0, 255, 1275}, {255, 128, 128, 127}, {255, 255, 100, -9999},
                       {0, 0, 0, -9999}})
    EXPECT_EQ(spectrumIndex(c.r | c.g << 8 | c.b << 16), c.index) << c.r << "," << c.g << "," << c.b;
  EXPECT_NEAR(depthFromIndex(0), 347.837f, 1e-3f);
  EXPECT_NEAR(depthFromIndex(255), 603.64f, 0.01f);
  EXPECT_NEAR(depthFromIndex(510), 859.43f, 0.02f);
  EXPECT_NEAR(depthFromIndex(612), 999.21f, 0.02f);
  EXPECT_NEAR(depthFromIndex(613), 1000.68f, 0.02f);
  EXPECT_EQ(blendColors(0x0000FF, 0x00FFFF, 50), 0x007FFE);  // each product truncated: 127 + 127
}

TEST_F(TextureTest, ADepthPictureGivesTheHeightsOfTheScaleAndAnObjTexturedWithIt) {
  // Left of x = 280 white (depth 347.837), right of it red (603.64).
  QImage pic(500, 640, QImage::Format_RGB32);
  for (int y = 0; y < 640; ++y)
    for (int x = 0; x < 500; ++x) pic.setPixelColor(x, y, x < 280 ? QColor(255, 255, 255) : QColor(255, 0, 0));
  ASSERT_TRUE(pic.save(QString::fromStdString(at("scan.bmp")), "BMP"));
  ASSERT_TRUE(tex.depthPictureToObj(at("scan.bmp")));
  const ReadStl stl = readStl(at("frombmp.stl"));
  ASSERT_GT(stl.facets.size(), 0u);
  EXPECT_EQ(stl.count, stl.facets.size());
  EXPECT_EQ(stl.head.substr(0, 26), "STL generated by prismhost");
  for (const auto& f : stl.facets) {
    const float z = f.corner[0][2];
    for (const auto& c : f.corner) {
      EXPECT_EQ(c[2], z);  // no facet spans the step of 256 between the halves
      EXPECT_TRUE(std::abs(c[2] - 347.837f) < 1e-3f || std::abs(c[2] - 603.64f) < 0.01f) << c[2];
    }
  }
  EXPECT_NE(readFile(at("scan.mtl")).find("map_Kd scan.bmp"), std::string::npos);
  EXPECT_NE(readFile(at("scan.obj")).find("usemtl scan1"), std::string::npos);
  EXPECT_FALSE(tex.depthImageMode);
  // A picture white everywhere: 212 x 159 grid points, two triangles each.
  QImage white(500, 640, QImage::Format_RGB32);
  white.fill(Qt::white);
  ASSERT_TRUE(white.save(QString::fromStdString(at("white.bmp")), "BMP"));
  EXPECT_EQ(tex.depthPictureToStl(at("white.bmp")), 212 * 159 * 2);
  tex.avgxy = 2;
  EXPECT_EQ(tex.depthPictureToStl(at("white.bmp")), 0);
}

TEST_F(TextureTest, AMissingPictureIsToldAndWritesNoStl) {
  EXPECT_FALSE(tex.depthPictureToObj(at("none.png")));
  EXPECT_FALSE(std::filesystem::exists(at("frombmp.stl")));
  EXPECT_TRUE(logHas("cannot read picture"));
}

TEST_F(TextureTest, ChannelMultipliersAndTheProposedName) {
  QImage pic(10, 10, QImage::Format_RGB32);
  pic.fill(QColor(100, 100, 100));
  ASSERT_TRUE(pic.save(QString::fromStdString(at("a.b.bmp")), "BMP"));
  tex.colormpyInput = at("a.b.bmp");
  ui.inputs = {std::nullopt, std::nullopt, std::string("200 0 0")};
  tex.askMultiplyColours();
  const std::string proposed = at("abgt.bbgt.bmp");
  EXPECT_TRUE(logHas(proposed + " saved"));
  QImage out;
  ASSERT_TRUE(readJpegFile(proposed, out)) << "JPEG content under the proposed name";
  const QColor c = out.pixelColor(5, 5);
  EXPECT_NEAR(c.red(), 200, 6);
  EXPECT_LT(c.green(), 8);
  const int same[3] = {100, 100, 100};
  EXPECT_FALSE(tex.multiplyColours(at("a.b.bmp"), at("a.b.bmp"), same));
}

TEST_F(TextureTest, TheBlendWheelWithEqualRadiiDrawsOneRing) {
  const QImage wheel = TextureTools::blendWheel(0x0000FF, 0x00FFFF, 100, 100);
  EXPECT_EQ(wheel.pixelColor(300, 200), QColor(255, 0, 0));
  EXPECT_EQ(wheel.pixelColor(300, 300), QColor(255, 255, 255));
  // From a clipboard bitmap: 1 high, 50 wide.
  QImage clip(50, 1, QImage::Format_RGB32);
  clip.fill(Qt::blue);
  clip.setPixelColor(0, 0, QColor(0, 255, 0));
  view.clipboard = clip;
  tex.drawBlendWheel();
  ASSERT_EQ(view.previewsShown.size(), 1u);
  const QColor inner = view.lastPreview.pixelColor(300 - 2, 300);
  EXPECT_GT(inner.green(), 200);
  EXPECT_LT(inner.blue(), 60);
  EXPECT_EQ(view.lastPreview.pixelColor(300 - 52, 300), QColor(0, 0, 255));
  EXPECT_TRUE(ui.prompts.empty());
}

TEST_F(TextureTest, TheConverterTestConvertsItsPictureAndSaysWhatItDid) {
  QImage png(4, 4, QImage::Format_ARGB32);
  png.fill(QColor(0, 0, 255, 0));
  ASSERT_TRUE(png.save(QString::fromStdString(at("abc.png")), "PNG"));
  tools.controls.at("exectest1").click();
  EXPECT_TRUE(logHas("converting abc.png to jpg"));
  EXPECT_TRUE(logHas(at("convertedpng2015.jpg") + " written"));
  // Transparent parts come out white.
  EXPECT_GT(readPicture(at("convertedpng2015.jpg")).pixelColor(1, 1).red(), 240);
  std::filesystem::remove(at("abc.png"));
  tools.controls.at("exectest1").click();
  EXPECT_FALSE(std::filesystem::exists(at("convertedpng2015.jpg")));
  EXPECT_TRUE(logHas("can not convert " + at("abc.png")));
}

TEST_F(TextureTest, MenuItemsOfTheWindowAreBound) {
  for (const char* name : {"stl2texture1", "faceTexture1", "headtture1", "texturePoints1", "txtuWRaster1",
                           "colordialog3", "objUnWhite1", "triasplit1", "mirelsingle1Item", "bmptodepth1",
                           "colormpy1", "blendwheel1", "ev1Item", "exectest1"}) {
    ASSERT_NE(tools.controls.find(name), nullptr) << name;
  }
  view.colour = 0x00FF80;  // R 0x80, G 0xFF, B 0
  tools.controls.at("colordialog3").click();
  EXPECT_EQ(tex.TriangFillColor, "80FF00");
  EXPECT_TRUE(logHas("color 80FF00"));
  writeText("temp.txt", "32767 5 20 7\n");
  tools.controls.at("ev1Item").click();
  std::filesystem::remove("temp.txt");
  EXPECT_EQ(tools.Im1.pixelColor(10, 7), QColor(248, 248, 248));
}

}  // namespace
}  // namespace ph::test
