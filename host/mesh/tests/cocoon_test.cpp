// Wrapping: the copy with its transform, the two octagonal wall surfaces,
// their heights and orientation, the tapered walls, the facet cutting and
// the models that are refused.
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>

#include "host/mesh/cocoon.h"
#include "host/mesh/tests/stl_files.h"

using namespace ph;
using namespace ph::test;

namespace {

constexpr std::uint16_t kBlue = 0x801F;

struct Cocoon : MeshTest {
  std::string wrap(const std::vector<ReadFacet>& model, const std::string& head = "test model") {
    writeStl(at("model.stl"), model, head);
    tools.stlInputName = at("model.stl");
    tools.wrapStlInput();
    return at("!cocooned.stl");
  }
  bool resultExists() const { return std::filesystem::exists(at("!cocooned.stl")); }
};

// The distinct (x, y) corners of facets [from, to), rounded to 0.01 mm.
std::set<std::pair<long, long>> cornersXY(const ReadStl& s, std::size_t from, std::size_t to) {
  std::set<std::pair<long, long>> out;
  for (std::size_t i = from; i < to; ++i)
    for (const auto& c : s.facets[i].corner) out.insert({std::lround(c[0] * 100.0f), std::lround(c[1] * 100.0f)});
  return out;
}

std::set<std::pair<long, long>> octagon(std::initializer_list<std::pair<double, double>> corners) {
  std::set<std::pair<long, long>> out;
  for (auto [x, y] : corners) out.insert({std::lround(x * 100.0), std::lround(y * 100.0)});
  return out;
}

// Where the facet's stored normal points, seen from the vertical axis
// through (cx, cy): +1 away from it, -1 towards it.
int facing(const ReadFacet& f, float cx, float cy) {
  float mx = 0, my = 0;
  for (const auto& c : f.corner) {
    mx += c[0] / 3.0f;
    my += c[1] / 3.0f;
  }
  const float d = f.normal[0] * (mx - cx) + f.normal[1] * (my - cy);
  return d > 0 ? 1 : d < 0 ? -1 : 0;
}

float zOf(const ReadFacet& f, int i) { return f.corner[i][2]; }

}  // namespace

TEST_F(Cocoon, ACubeGetsAnInnerAndAnOuterOctagonalWallFacingOutOfTheWall) {
  const auto cube = boxFacets({0, 0, 0}, {10, 10, 10}, kBlue);
  const ReadStl out = readStl(wrap(cube));
  ASSERT_EQ(out.facets.size(), 12u + 32u);
  EXPECT_EQ(out.count, 44u);
  EXPECT_EQ(out.head.substr(0, 10), "test model");
  const auto input = facetRecords(at("model.stl")), output = facetRecords(at("!cocooned.stl"));
  EXPECT_TRUE(std::equal(input.begin(), input.end(), output.begin()));
  EXPECT_TRUE(logHas("minxyz 0.0 0.0 0.0"));
  EXPECT_TRUE(logHas("maxxyz 10.0 10.0 10.0"));

  // Inner surface: 3 mm outside the outline, 4.23 on the diagonals.
  EXPECT_EQ(cornersXY(out, 12, 28), octagon({{-1.23, 13}, {11.23, 13}, {13, 11.23}, {13, -1.23}, {11.23, -3},
                                             {-1.23, -3}, {-3, -1.23}, {-3, 11.23}}));
  // Outer surface: 2 (and 2.82) further out.
  EXPECT_EQ(cornersXY(out, 28, 44), octagon({{-2.05, 15}, {12.05, 15}, {15, 12.05}, {15, -2.05}, {12.05, -5},
                                             {-2.05, -5}, {-5, -2.05}, {-5, 12.05}}));
  for (std::size_t i = 12; i < 44; ++i) {
    const ReadFacet& f = out.facets[i];
    EXPECT_EQ(f.attribute, 0xFFFF);
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(zOf(f, k) == 0.0f || zOf(f, k) == 10.0f);
    // The stored normal is the right-hand normal of the corners.
    const ReadFacet again = facetOf(f.corner[0], f.corner[1], f.corner[2], 0);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(f.normal[c], again.normal[c], 1e-5);
    // The wall between the surfaces is solid: the inner surface faces the
    // model, the outer one faces away.
    EXPECT_EQ(facing(f, 5, 5), i < 28 ? -1 : 1) << "shell facet " << i - 12;
  }
  EXPECT_FALSE(std::filesystem::exists(at("!cocooned.tmp")));
}

TEST_F(Cocoon, TheTransformColoursAndWallsOfTheCopy) {
  struct Case {
    const char* name;
    CocoonTransform transform;
    bool walls, withoutColour, colourHeadConvention;
    std::uint16_t modelAttribute, shellAttribute;
  } cases[] = {
      {"plain, walls off", {}, false, false, false, kBlue, 0},
      {"scaled and turned", {2.0f, 0.0f, 0.0f, 90.0f}, false, false, false, kBlue, 0},
      {"without colour", {}, true, true, false, 0, 0xFFFF},
      {"COLOR= head", {}, true, false, true, 0x1234, 0x7FFF},
      {"COLOR= head without colour", {}, true, true, true, 0x8000, 0x7FFF},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.Memo1.clear();
    tools.setCocoonTransform(c.transform.scale, c.transform.rotX, c.transform.rotY, c.transform.rotZ, c.walls);
    host.withoutColour = [&c] { return c.withoutColour; };
    auto model = boxFacets({1, 2, 0}, {4, 6, 3}, c.colourHeadConvention ? std::uint16_t(0x1234) : kBlue);
    const ReadStl out = readStl(wrap(model, c.colourHeadConvention ? colourHead(0xA0, 0xA0, 0xA0) : "test model"));
    ASSERT_EQ(out.facets.size(), c.walls ? 12u + 32u : 12u);
    EXPECT_EQ(out.count, out.facets.size());
    EXPECT_EQ(out.head, readStl(at("model.stl")).head);
    for (std::size_t i = 0; i < out.facets.size(); ++i)
      EXPECT_EQ(out.facets[i].attribute, i < 12 ? c.modelAttribute : c.shellAttribute);
    for (std::size_t i = 0; i < 12; ++i)
      for (int k = 0; k < 3; ++k) {
        const auto& p = model[i].corner[k];
        const auto& q = out.facets[i].corner[k];
        const float s = c.transform.scale;
        // A quarter turn about z takes (x, y) to (-y, x).
        const Point expected = c.transform.rotZ == 90.0f ? Point{-s * p[1], s * p[0], s * p[2]} : p;
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(q[a], expected[a], 1e-4);
      }
    // A completed wrapping resets the transform.
    EXPECT_EQ(tools.cocoonScale, 1.0f);
    EXPECT_EQ(tools.cocoonRotZ, 0.0f);
    EXPECT_TRUE(tools.cocoonWalls);
  }
}

TEST_F(Cocoon, AColourHeadModelKeepsItsHeadAndTheWallTakesWhiteInItsConvention) {
  copyTestModel("20mm-xyz-cube.stl", dir);
  tools.stlInputName = at("20mm-xyz-cube.stl");
  tools.wrapStlInput();
  const ReadStl in = readStl(at("20mm-xyz-cube.stl")), out = readStl(at("!cocooned.stl"));
  ASSERT_EQ(out.facets.size(), 260u + 32u);
  EXPECT_EQ(out.count, 292u);
  EXPECT_EQ(out.head, in.head);
  EXPECT_TRUE(logHas("minxyz -48.0 -4.9 -31.0"));
  EXPECT_TRUE(logHas("maxxyz -28.0 15.1 -11.0"));
  for (std::size_t i = 0; i < 260; ++i) EXPECT_EQ(out.facets[i].attribute, 0x4E73);
  for (std::size_t i = 260; i < 292; ++i) {
    EXPECT_EQ(out.facets[i].attribute, 0x7FFF);
    for (int k = 0; k < 3; ++k) {
      EXPECT_GE(zOf(out.facets[i], k), -30.99f);
      EXPECT_LE(zOf(out.facets[i], k), -10.97f);
    }
  }
}

TEST_F(Cocoon, TheWallReachesTheModelsHeightInWholeMillimetres) {
  struct Case {
    float height;
    float wallTop;  // above the lowest point
  } cases[] = {{12.7f, 12.0f}, {250.0f, 199.0f}, {1.0f, 1.0f}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.height);
    const ReadStl out = readStl(wrap(boxFacets({0, 0, 3}, {10, 10, 3 + c.height}, kBlue)));
    ASSERT_EQ(out.facets.size(), 12u + 32u);
    float lo = 1e9f, hi = -1e9f;
    for (std::size_t i = 12; i < out.facets.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        lo = std::min(lo, zOf(out.facets[i], k));
        hi = std::max(hi, zOf(out.facets[i], k));
      }
    EXPECT_EQ(lo, 3.0f);
    EXPECT_EQ(hi, 3.0f + c.wallTop);
  }
  // Less than a millimetre high: the model alone.
  const ReadStl flat = readStl(wrap(boxFacets({0, 0, 0}, {10, 10, 0.5f}, kBlue)));
  EXPECT_EQ(flat.facets.size(), 12u);
  EXPECT_TRUE(logHas("is less than 1 mm high: no wall is built around it"));
}

TEST_F(Cocoon, TaperedWallsShrinkByAtMostAMillimetrePerMillimetre) {
  tools.meshCommand({"meshkit", "-P"});
  // A step pyramid: a 20 mm square 5 mm high under a 10 mm square up to 10 mm.
  auto model = boxFacets({0, 0, 0}, {20, 20, 5}, kBlue);
  const auto top = boxFacets({5, 5, 5}, {15, 15, 10}, kBlue);
  model.insert(model.end(), top.begin(), top.end());
  const ReadStl out = readStl(wrap(model));
  // 16 facets per millimetre and surface.
  ASSERT_EQ(out.facets.size(), 24u + 2 * 16 * 10);
  // Where the inner surface's sides x = X0 and x = X1 stand at each height
  // (the outline 3 mm out): the corners that lie on them.
  std::map<int, std::multiset<long>> xs;
  for (std::size_t i = 24; i < 24 + 160; ++i)
    for (const auto& c : out.facets[i].corner) xs[int(std::lround(c[2]))].insert(std::lround(c[0] * 100.0f));
  const std::pair<long, long> sides[11] = {{-3, 23}, {-3, 23}, {-3, 23}, {-3, 23}, {-3, 23}, {-3, 23},
                                           {-2, 22}, {-1, 21}, {0, 20},  {1, 19},  {2, 18}};
  for (int z = 0; z <= 10; ++z) {
    EXPECT_GT(xs[z].count(sides[z].first * 100), 0u) << "z " << z;
    EXPECT_GT(xs[z].count(sides[z].second * 100), 0u) << "z " << z;
    // Nothing of the ring lies beyond the sides of the row below.
    if (z > 0) {
      EXPECT_GE(*xs[z].begin(), *xs[z - 1].begin()) << "z " << z;
    }
  }
}

TEST_F(Cocoon, RefusedModelsLeaveNoResult) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::vector<ReadFacet> model;
    const char* says;
  } cases[] = {
      {"head only", {}, "holds no facets"},
      {"3000.5 mm wide", {facetOf({0, 0, 0}, {3000.5f, 0, 0}, {0, 1, 1}, kBlue)}, nullptr},
      {"a corner not a number",
       {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 1}, kBlue), facetOf({0, 0, 0}, {nan, 0, 0}, {0, 1, 1}, kBlue)},
       "facet 2 has a corner that is not a finite number"},
      {"an infinite corner", {facetOf({0, 0, 0}, {inf, 0, 0}, {0, 1, 1}, kBlue)}, "facet 1 has a corner"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    core.Memo1.clear();
    writeText(at("!cocooned.stl"), "an older result");
    wrap(c.model);
    EXPECT_TRUE(logHas(at("model.stl") + " is not a valid stl file"));
    if (c.says) {
      EXPECT_TRUE(logHas(c.says));
    }
    EXPECT_FALSE(resultExists());
    EXPECT_FALSE(std::filesystem::exists(at("!cocooned.tmp")));
  }
  // A file of only its head tells the empty extent.
  core.Memo1.clear();
  wrap({});
  EXPECT_TRUE(logHas("minxyz 9999.0 9999.0 9999.0"));
  EXPECT_TRUE(logHas("maxxyz -9999.0 -9999.0 -9999.0"));
  // A file shorter than a head holds no facets either.
  writeText(at("short.stl"), "solid x");
  tools.stlInputName = at("short.stl");
  tools.wrapStlInput();
  EXPECT_FALSE(resultExists());
  // 3000 mm is accepted.
  tools.setCocoonTransform(1, 0, 0, 0, false);
  wrap({facetOf({0, 0, 0}, {3000.0f, 0, 0}, {0, 1, 1}, kBlue)});
  EXPECT_TRUE(resultExists());
}

TEST_F(Cocoon, AMissingInputIsToldAndAnOlderResultStays) {
  writeText(at("!cocooned.stl"), "an older result");
  tools.stlInputName = at("gone.stl");
  EXPECT_FALSE(tools.wrapStlInput());
  EXPECT_EQ(ui.messages, std::vector<std::string>{"cannot read from file: " + at("gone.stl")});
  EXPECT_EQ(fileBytes(at("!cocooned.stl")), "an older result");
}

TEST_F(Cocoon, WrappingTheResultItselfReplacesItOnlyWhenItWorked) {
  // A result 5000 mm wide is refused: it stays as it was.
  writeStl(at("!cocooned.stl"), {facetOf({0, 0, 0}, {5000, 0, 0}, {0, 1, 1}, kBlue)});
  const std::string before = fileBytes(at("!cocooned.stl"));
  tools.stlInputName = at("!cocooned.stl");
  EXPECT_FALSE(tools.wrapStlInput());
  EXPECT_EQ(fileBytes(at("!cocooned.stl")), before);
  // A good one gets its wall.
  writeStl(at("!cocooned.stl"), boxFacets({0, 0, 0}, {10, 10, 10}, kBlue));
  EXPECT_TRUE(tools.wrapStlInput());
  EXPECT_EQ(readStl(at("!cocooned.stl")).facets.size(), 44u);
}

TEST_F(Cocoon, LongEdgesAreCutUntilNoneIsLongerThanTwoMillimetres) {
  struct Case {
    ReadFacet facet;
    std::size_t pieces;  // 0: more than one
  } cases[] = {
      {facetOf({0, 0, 0}, {5, 0, 0}, {0, 1, 0}, kBlue), 0},
      {facetOf({0, 0, 0}, {2, 0, 0}, {1, 1, 0}, kBlue), 1},  // the longest edge is exactly 2
  };
  for (const Case& c : cases) {
    writeStl(at("one.stl"), {c.facet});
    StlReader in(core);
    ASSERT_TRUE(in.open(at("one.stl")));
    CocoonWrapper wrapper(tools.state, {});
    std::vector<stlFacet> pieces;
    stlFacet f;
    while (wrapper.nextCocoonFacet(f, in)) pieces.push_back(f);
    EXPECT_TRUE(wrapper.endOfModel);
    if (c.pieces) EXPECT_EQ(pieces.size(), c.pieces);
    else EXPECT_GT(pieces.size(), 1u);
    double area = 0;
    for (const stlFacet& p : pieces) {
      const vect3 a = vect3FromFloats(p.corner[0]), b = vect3FromFloats(p.corner[1]), d = vect3FromFloats(p.corner[2]);
      for (auto [u, v] : {std::pair{a, b}, {b, d}, {d, a}}) EXPECT_LE(float(vect3Distance(u, v)), 2.0f);
      area += vect3Length(vect3Cross(b - a, d - a)) / 2;
      EXPECT_EQ(p.attribute, kBlue);
    }
    const double whole = c.facet.corner[1][0] * c.facet.corner[2][1] / 2.0;  // base x height / 2
    EXPECT_NEAR(area, whole, 1e-5);
  }
}

TEST_F(Cocoon, ReplaceEveryRemovesQuotesAndStopsAfter9999) {
  struct Case {
    std::string text, search, replacement, expected;
  } cases[] = {
      {"-F\"a b\\c.stl\"", "\"", "", "-Fa b\\c.stl"},
      {"abc", "", "x", "abc"},
      {"a", "a", "aa", std::string(10000, 'a')},
  };
  for (const Case& c : cases) {
    std::string t = c.text;
    replaceEvery(t, c.search, c.replacement);
    EXPECT_EQ(t, c.expected);
  }
}

TEST_F(Cocoon, TheFileMenuWrapsTheChosenModel) {
  writeStl(at("chosen.stl"), boxFacets({0, 0, 0}, {10, 10, 10}, kBlue));
  ui.files.push_back(at("chosen.stl"));
  tools.controls.at("File1Item").click();
  EXPECT_EQ(tools.stlInputName, at("chosen.stl"));
  EXPECT_EQ(readStl(at("!cocooned.stl")).facets.size(), 44u);
  // A cancelled dialog does nothing.
  std::filesystem::remove(at("!cocooned.stl"));
  tools.controls.at("File1Item").click();
  EXPECT_FALSE(resultExists());
}
