// The colour transfer of "objreduce" and its nearest-vertex index.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>

#include "host/core/texts.h"
#include "host/mesh/obj_reduce.h"
#include "host/mesh/tests/mesh_fixture.h"

namespace ph::test {
namespace {

std::vector<std::string> lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

class ObjReduceTest : public MeshTest {
 protected:
  ObjReduce& reduce = tools.objReduce;
  int fallbacks = 0;
  bool transfer(const std::string& source, const std::string& reduced, const std::string& output) {
    return transferColours(core, {at(source), at(reduced), at(output), at("temp.gfk")}, fallbacks);
  }
};

TEST(QuotedArg, QuotesOnlyPathsWithBlanks) {
  EXPECT_EQ(quotedArg("c:\\a b\\x.obj"), "\"c:\\a b\\x.obj\" ");
  EXPECT_EQ(quotedArg("c:\\x.obj"), "c:\\x.obj ");
}

TEST_F(ObjReduceTest, CommandLineEndsInTheFraction) {
  reduce.simplifierProgram = "/opt/my tools/simpcmd";
  reduce.obj_input = "/scans/head one.obj";
  reduce.reduction_percentage = 25;
  const std::string text = reduce.commandText();
  EXPECT_EQ(text, "\"/opt/my tools/simpcmd\" \"/scans/head one.obj\" " + dir + "/uncolored.obj 0.25");
  reduce.reduction_percentage = 10;
  EXPECT_TRUE(reduce.commandText().ends_with(" 0.10"));
}

// Every kept vertex gets the mean colour of the source vertices nearest to
// it, itself included; the other lines pass unchanged and empty lines stay.
TEST_F(ObjReduceTest, SubsetOfTheSourceGetsTheMeanOfItsNearestVertices) {
  writeText(at("src.obj"),
            "# scan\n"
            "v 0 0 0 1 0 0\n"
            "v 1 0 0 0 1 0\n"
            "v 0.4 0 0 0 0 1\n"  // nearer to 0 0 0
            "v 5 5 5 0.5 0.5 0.5\n"
            "v 5 5 4 0.1 0.2 0.3\n"
            "f 1 2 3\n");
  writeText(at("red.obj"),
            "# reduced\n"
            "mtllib x.mtl\n"
            "\n"
            "v 0 0 0\n"
            "vt 0.5 0.5\n"
            "v 5 5 5\n"
            "v 1 0 0\n"
            "f 1/1 2/1 3/1\n");
  ASSERT_TRUE(transfer("src.obj", "red.obj", "out.obj"));
  const std::vector<std::string> out = lines(at("out.obj"));
  const std::vector<std::string> want = {"# reduced",
                                         "mtllib x.mtl",
                                         "",
                                         "v 0 0 0 0.5000000 0.0000000 0.5000000",
                                         "vt 0.5 0.5",
                                         "v 5 5 5 0.3000000 0.3500000 0.4000000",
                                         "v 1 0 0 0.0000000 1.0000000 0.0000000",
                                         "f 1/1 2/1 3/1"};
  EXPECT_EQ(out, want);
  EXPECT_EQ(fallbacks, 0);
  // The histogram: 0.4 and 1.0 apart (bins 4 and 10), the rest exact.
  const std::vector<std::string> gfk = lines(at("temp.gfk"));
  ASSERT_EQ(gfk.size(), 10001u);
  EXPECT_EQ(gfk[0], "");
  EXPECT_EQ(gfk[1], "0.00 3");
  EXPECT_EQ(gfk[5], "0.40 1");
  EXPECT_EQ(gfk[11], "1.00 1");
  EXPECT_TRUE(logHas("ready in"));
}

TEST_F(ObjReduceTest, UnmatchedReducedVertexIsBlackAndFarSourceTakesTheFallback) {
  writeText(at("src.obj"), "v 0 0 0 0.2 0.4 0.6\nv 3 0 500 1 1 1\n");
  writeText(at("red.obj"), "v 0 0 0\nv -1 0 0.5\nv 9 9 9\n");
  ASSERT_TRUE(transfer("src.obj", "red.obj", "out.obj"));
  const std::vector<std::string> out = lines(at("out.obj"));
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], "v 0 0 0 0.2000000 0.4000000 0.6000000");
  // The vertex 500 above every reduced one goes to the smallest x.
  EXPECT_EQ(out[1], "v -1 0 0.5 1.0000000 1.0000000 1.0000000");
  EXPECT_EQ(out[2], "v 9 9 9 0.0000000 0.0000000 0.0000000");
  EXPECT_EQ(fallbacks, 1);
  EXPECT_TRUE(logHas("1 3.00,0.00,500.00"));
}

// A vertex line without colour numbers, or with a word that is no number,
// is told with its file and line and nothing is written.
TEST_F(ObjReduceTest, MalformedSourceLinesAreToldAndWriteNothing) {
  writeText(at("red.obj"), "v 0 0 0\n");
  writeText(at("out.obj"), "old\n");
  const struct {
    const char* source;
    const char* message;
  } cases[] = {
      {"v 0 0 0 1 1 1\nv 1 1 1\n", "src.obj line 2: a vertex line without colour numbers"},
      {"v 0 0 0 1 1 1\n\nv 1 x 1 1 1 1\n", "src.obj line 3: 'x' is not a number"},
      {"v 0 0 0 1 1 red\n", "src.obj line 1: 'red' is not a number"},
      // Beyond single precision: no coordinate.
      {"v 0 0 1e300 1 1 1\n", "src.obj line 1: '1e300' is not a number"},
  };
  for (const auto& c : cases) {
    writeText(at("src.obj"), c.source);
    EXPECT_FALSE(transfer("src.obj", "red.obj", "out.obj")) << c.source;
    EXPECT_TRUE(logHas(c.message)) << c.message;
    EXPECT_EQ(lines(at("out.obj")), std::vector<std::string>{"old"});
  }
}

TEST_F(ObjReduceTest, OutputThatIsAnInputIsRefused) {
  writeText(at("src.obj"), "v 0 0 0 1 1 1\n");
  writeText(at("red.obj"), "v 0 0 0\n");
  EXPECT_FALSE(transfer("src.obj", "red.obj", "src.obj"));
  EXPECT_FALSE(transfer("src.obj", "red.obj", "red.obj"));
  EXPECT_EQ(lines(at("src.obj")), std::vector<std::string>{"v 0 0 0 1 1 1"});
  EXPECT_EQ(lines(at("red.obj")), std::vector<std::string>{"v 0 0 0"});
}

// With a reduced file named, the menu matches at once.
TEST_F(ObjReduceTest, MenuWithUncoloredInputMatchesAtOnce) {
  writeText(at("src.obj"), "v 0 0 0 1 0 0\nv 0 0 1 0 0 1\n");
  writeText(at("red.obj"), "v 0 0 0\n");
  ui.inputs = {at("src.obj"), at("out.obj"), at("red.obj")};
  tools.controls.at("objreduce1").click();
  EXPECT_EQ(lines(at("out.obj")), std::vector<std::string>{"v 0 0 0 0.5000000 0.0000000 0.5000000"});
  EXPECT_FALSE(reduce.waiting());
}

TEST_F(ObjReduceTest, PercentageThatIsNoWholeNumberStartsNothing) {
  writeText(at("src.obj"), "v 0 0 0 1 0 0\n");
  for (const char* answer : {"ten", "0", "101"}) {
    ui.inputs = {at("src.obj"), at("out.obj"), "", answer};
    reduce.startObjReduction();
    EXPECT_FALSE(reduce.waiting()) << answer;
    EXPECT_TRUE(logHas("is not a whole number from 1 to 100")) << answer;
  }
  EXPECT_EQ(reduce.reduction_percentage, 10);
}

// ---- the index against its reference ----

std::vector<Point3f> cloud(std::mt19937& rng, int kind, int n) {
  std::vector<Point3f> pts;
  std::uniform_real_distribution<float> u(-100.0f, 100.0f);
  std::normal_distribution<float> g(0.0f, 2.0f);
  std::uniform_int_distribution<int> cell(-6, 6);
  for (int i = 0; i < n; ++i) {
    switch (kind) {
      case 0:  // spread out
        pts.push_back({u(rng), u(rng), u(rng)});
        break;
      case 1: {  // a few dense clusters far apart in z
        const float c = float(i % 4) * 60.0f;
        pts.push_back({g(rng) + c, g(rng), g(rng) + c * 1.5f});
        break;
      }
      case 2:  // flat: every point within 3 units of one height
        pts.push_back({u(rng), u(rng), 3.0f * float(i % 7) / 7.0f});
        break;
      default:  // whole numbers: many equal distances and equal points
        pts.push_back({float(cell(rng)), float(cell(rng)), float(cell(rng))});
        break;
    }
  }
  return pts;
}

TEST(ReducedPointIndex, GridGivesTheSlabWalksMatches) {
  std::mt19937 rng(12345);
  for (int kind = 0; kind < 4; ++kind) {
    for (int size : {1, 2, 17, 600}) {
      const std::vector<Point3f> pts = cloud(rng, kind, size);
      ReducedPointIndex index;
      index.build(pts);
      std::vector<Point3f> queries = cloud(rng, kind, 400);
      // Points of the cloud itself, far above it (no slab holds any) and
      // at the slab radii's edges.
      for (int i = 0; i < 20; ++i) queries.push_back(pts[std::size_t(i) % pts.size()]);
      queries.push_back({0.0f, 0.0f, 5000.0f});
      queries.push_back({pts[0][0] + 3.0f, pts[0][1], pts[0][2] + 10.0f});
      queries.push_back({pts[0][0] - 50.0f, pts[0][1], pts[0][2] + 79.5f});
      for (const Point3f& q : queries)
        ASSERT_EQ(index.nearest(q), index.nearestReference(q))
            << "kind " << kind << " size " << size << " at " << q[0] << " " << q[1] << " " << q[2];
    }
  }
}

TEST(ReducedPointIndex, EqualDistancesGoToTheEarlierPointInZOrder) {
  // Equal distance from the origin: the lower z comes first in z order.
  ReducedPointIndex index;
  index.build({{0, 0, 1}, {0, 0, -1}, {1, 0, 0}});
  EXPECT_EQ(index.position(index.nearest({0, 0, 0}))[2], -1.0f);
  // Equal points: the later one in the file comes first.
  ReducedPointIndex same;
  same.build({{2, 2, 2}, {2, 2, 2}});
  EXPECT_EQ(same.nearest({2, 2, 2}), same.nearestReference({2, 2, 2}));
  EXPECT_EQ(same.fallback(), 0);
}

}  // namespace
}  // namespace ph::test
