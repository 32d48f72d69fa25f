// Voxel hollowing, inner tiles, the voxel-edge repair and the void split:
// the fast paths against their plain references on generated inputs, the
// geometry of hollowed cubes, the files written and the refusals.
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "host/core/testing/file_text.h"
#include "host/mesh/hollow.h"
#include "host/mesh/tests/stl_files.h"
#include "host/mesh/void_split.h"
#include "host/mesh/voxel_repair.h"
#include "host/mesh/voxel_tools.h"

using namespace ph;
using namespace ph::test;

namespace {

constexpr std::uint16_t kRed = 0xFC00;

struct Voxel : MeshTest {
  HollowParams params(double voxel, int beams, double shell) {
    HollowParams p;
    p.voxel = voxel;
    p.beams = beams;
    p.shell = shell;
    return p;
  }
  // The facets of a file that are cavity walls (normal along x only and
  // the no-colour or glass attribute, not the model's red).
  static std::vector<ReadFacet> wallsOf(const ReadStl& s) {
    std::vector<ReadFacet> walls;
    for (const auto& f : s.facets)
      if (f.attribute != kRed) walls.push_back(f);
    return walls;
  }
};

// A UV sphere as OBJ lines: quads between rings, triangles at the poles,
// vertices numbered from `first`; outward unless inward.
std::string objSphere(double cx, double cy, double cz, double r, int rings, int segments, int first, bool inward,
                      int& vertices) {
  std::string text;
  auto vertex = [&](double x, double y, double z) { text += plat::format("v %.6f %.6f %.6f\n", x, y, z); };
  vertex(cx, cy, cz + r);
  for (int i = 1; i < rings; ++i) {
    const double th = M_PI * i / rings;
    for (int j = 0; j < segments; ++j) {
      const double ph = 2 * M_PI * j / segments;
      vertex(cx + r * std::sin(th) * std::cos(ph), cy + r * std::sin(th) * std::sin(ph), cz + r * std::cos(th));
    }
  }
  vertex(cx, cy, cz - r);
  vertices = 2 + (rings - 1) * segments;
  const int top = first, bottom = first + vertices - 1;
  auto at = [&](int ring, int seg) { return first + 1 + (ring - 1) * segments + (seg % segments); };
  auto face = [&](std::vector<int> v) {
    if (inward) std::reverse(v.begin(), v.end());
    text += "f";
    for (int i : v) text += " " + std::to_string(i);
    text += "\n";
  };
  for (int j = 0; j < segments; ++j) face({top, at(1, j), at(1, j + 1)});
  for (int i = 1; i + 1 < rings; ++i)
    for (int j = 0; j < segments; ++j) face({at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
  for (int j = 0; j < segments; ++j) face({bottom, at(rings - 1, j + 1), at(rings - 1, j)});
  return text;
}

// Every edge (unordered pair of corners) and how many facets hold it.
std::map<std::pair<std::array<float, 3>, std::array<float, 3>>, int> edgeUse(const std::vector<ReadFacet>& facets) {
  std::map<std::pair<std::array<float, 3>, std::array<float, 3>>, int> use;
  for (const auto& f : facets)
    for (int k = 0; k < 3; ++k) {
      auto a = f.corner[std::size_t(k)], b = f.corner[std::size_t(k + 1) % 3];
      if (b < a) std::swap(a, b);
      ++use[{a, b}];
    }
  return use;
}

stlFacet toFacet(const ReadFacet& r) {
  stlFacet f;
  f.normal = r.normal;
  for (int c = 0; c < 3; ++c) f.corner[c] = r.corner[std::size_t(c)];
  f.attribute = r.attribute;
  return f;
}

}  // namespace

// ---- the fast paths against their references ----

TEST(DeepCellsProperty, TheDistanceTransformFindsExactlyTheCellsTheOffsetsFind) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 300; ++round) {
    const int nx = 1 + int(rng() % 19), ny = 1 + int(rng() % 19), nz = 1 + int(rng() % 19);
    const int r = int(rng() % 7);
    // From nearly empty grids (deep cells far from any set one) to dense.
    const double density = std::pow(double(rng() % 1000) / 1000.0, 3.0);
    std::bernoulli_distribution setCell(density);
    VoxelBits grid(nx, ny, nz);
    for (int k = 0; k < nz; ++k)
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
          if (setCell(rng)) grid.set(i, j, k);
    const auto offsets = buildSphereOffsets(r);
    DeepCells fast(grid, r);
    std::vector<std::uint8_t> deep;
    for (int k = 0; k < nz; ++k) {
      fast.plane(k, deep);
      for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i)
          ASSERT_EQ(deep[std::size_t(j * nx + i)] != 0, deepInside(grid, offsets, i, j, k))
              << "grid " << nx << "x" << ny << "x" << nz << " r " << r << " cell " << i << "," << j << "," << k;
    }
  }
}

TEST(DeepCellsProperty, TheSphereOfOffsetsRunsFromTheFarthestToTheNearest) {
  const auto o = buildSphereOffsets(5);
  EXPECT_EQ(buildSphereOffsets(0).size(), 1u);
  EXPECT_EQ(o.back(), (std::array<int, 3>{0, 0, 0}));
  for (std::size_t i = 1; i < o.size(); ++i)
    EXPECT_GE(o[i - 1][0] * o[i - 1][0] + o[i - 1][1] * o[i - 1][1] + o[i - 1][2] * o[i - 1][2],
              o[i][0] * o[i][0] + o[i][1] * o[i][1] + o[i][2] * o[i][2]);
  for (const auto& d : o) EXPECT_LE(d[0] * d[0] + d[1] * d[1] + d[2] * d[2], 25);
  EXPECT_EQ(shellRadius(1.0, 5.0, {{42, 42, 42}}), 5);
  EXPECT_EQ(shellRadius(1.0, 0.0, {{42, 42, 42}}), 0);
  EXPECT_EQ(shellRadius(0.5, 3.0, {{42, 42, 42}}), 6);
}

TEST(RayMarchProperty, RaysTestingOnlyTheFacetsInTheirRangeFindTheSameCrossings) {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> coord(-5.0f, 5.0f);
  for (int round = 0; round < 40; ++round) {
    std::vector<stlFacet> facets;
    const int n = 1 + int(rng() % 60);
    for (int f = 0; f < n; ++f) {
      stlFacet t;
      for (auto& c : t.corner) {
        // Corners on grid lines now and then: edges and corners exactly on
        // rays, facets flat along a ray's plane.
        for (float& v : c) v = rng() % 4 == 0 ? std::round(coord(rng)) : coord(rng);
      }
      if (rng() % 8 == 0) t.corner[1][2] = t.corner[0][2];
      if (rng() % 10 == 0) t.normal = {0.0f, 0.0f, 0.0f};
      else setFacetNormal(t);
      facets.push_back(t);
    }
    FacetList list;
    list.facets = facets;
    list.computeBounds();
    const double voxel = 0.25 + double(rng() % 4) * 0.25;
    const GridShape shape = gridShapeOf(list.lo, list.hi, voxel);
    const RayGrid grid{list.lo, voxel, int(shape.n[0]), int(shape.n[2])};
    std::map<std::pair<int, int>, std::vector<std::tuple<int, bool, std::uint32_t, float>>> plain, fast;
    auto record = [](auto& into) {
      return [&into](int i, int k, const std::vector<RayCrossing>& cs) {
        auto& v = into[{i, k}];
        for (const auto& c : cs) v.emplace_back(c.cell, c.entering, c.facet, c.y);
      };
    };
    marchRaysPlain(facets, grid, record(plain));
    marchRays(facets, grid, record(fast));
    ASSERT_EQ(plain.size(), fast.size());
    std::size_t total = 0;
    for (const auto& [ray, cs] : plain) {
      ASSERT_EQ(cs, fast[ray]) << "round " << round << " ray " << ray.first << "," << ray.second;
      total += cs.size();
    }
    if (round == 0) EXPECT_GT(total, 0u);
  }
}

TEST(VoxelHelpers, EdgeTermsTakeTheirNeighboursValue) {
  stlFacet f;
  f.corner[0] = {0, 0, 0};
  f.corner[1] = {2, 0, 0};
  f.corner[2] = {0, 0, 2};
  EXPECT_TRUE(insideTriangleXZ(f, 0.5f, 0.5f));
  EXPECT_FALSE(insideTriangleXZ(f, 1.5f, 1.5f));
  EXPECT_TRUE(insideTriangleXZ(f, 1.0f, 0.0f));  // on an edge
  EXPECT_FALSE(insideTriangleXZ(f, 3.0f, 0.0f));  // on an edge's line, beyond the corner
  EXPECT_TRUE(nearlyEqual(1.0, 1.009));
  EXPECT_FALSE(nearlyEqual(1.0, 1.011));
  EXPECT_EQ(signOf(-3.0f), -1.0f);
  EXPECT_EQ(signOf(0.0005f), 0.0f);
}

// ---- hollowing ----

TEST_F(Voxel, ACubeHollowsIntoAWallOfTheShellThicknessFacingIntoTheCavity) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {40, 40, 40}, kRed));
  auto r = hollowStl(core, at("cube.stl"), at("hollowed.stl"), params(1.0, 0, 5.0));
  ASSERT_TRUE(r);
  EXPECT_TRUE(logHas("mxyz[0]=42 mxyz[1]=42 mxyz[2]=42 "));
  EXPECT_TRUE(logHas("nsurround="));
  EXPECT_TRUE(logHas("hollowed"));
  EXPECT_EQ(r->radius, 5);
  EXPECT_GT(r->cavityCells, 25 * 25 * 25);
  const ReadStl s = readStl(at("hollowed.stl"));
  EXPECT_EQ(s.count, s.facets.size());
  EXPECT_EQ(s.head.substr(0, 18), "Nortavo conversion");
  // The walls first, then the model's 12 facets in reverse order.
  ASSERT_EQ(s.facets.size(), r->wallFacets + 12);
  const auto box = boxFacets({0, 0, 0}, {40, 40, 40}, kRed);
  for (std::size_t i = 0; i < 12; ++i) EXPECT_EQ(s.facets[r->wallFacets + i].corner, box[11 - i].corner);
  const auto walls = wallsOf(s);
  ASSERT_EQ(walls.size(), r->wallFacets);
  float lo[3] = {99, 99, 99}, hi[3] = {-99, -99, -99};
  for (const auto& f : walls) {
    EXPECT_EQ(f.attribute, 0xFFFF);
    ASSERT_EQ(std::fabs(f.normal[0]), 1.0f);
    // The winding agrees with the stored normal, and the normal points to
    // the cavity: towards the middle of the cube.
    const ReadFacet wound = facetOf(f.corner[0], f.corner[1], f.corner[2], 0);
    EXPECT_GT(wound.normal[0] * f.normal[0], 0.99f);
    EXPECT_LT(f.normal[0] * (f.corner[0][0] - 20.0f), 0.0f);
    for (const auto& c : f.corner)
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], c[std::size_t(a)]);
        hi[a] = std::max(hi[a], c[std::size_t(a)]);
      }
  }
  // The cavity lies 5 mm inside every face, to within one voxel.
  for (int a = 0; a < 3; ++a) {
    EXPECT_NEAR(lo[a], 5.0f, 1.0f) << "axis " << a;
    EXPECT_NEAR(hi[a], 35.0f, 1.0f) << "axis " << a;
  }
}

TEST_F(Voxel, TheOffsetTestAndTheDistanceTransformWriteTheSameFile) {
  // A box with a notch, so the cavity has an inner corner.
  auto facets = boxFacets({0, 0, 0}, {20, 16, 14}, kRed);
  const auto notch = boxFacets({20, 0, 0}, {26, 8, 14}, kRed);
  facets.insert(facets.end(), notch.begin(), notch.end());
  writeStl(at("m.stl"), facets);
  for (int beams : {0, 3}) {
    HollowParams p = params(0.75, beams, 2.0);
    ASSERT_TRUE(hollowStl(core, at("m.stl"), at("fast.stl"), p));
    p.offsetTest = true;
    ASSERT_TRUE(hollowStl(core, at("m.stl"), at("plain.stl"), p));
    EXPECT_EQ(readAll(at("fast.stl")), readAll(at("plain.stl"))) << "beams " << beams;
  }
}

TEST_F(Voxel, BeamsLeaveALatticeThroughTheCavity) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {40, 40, 40}, kRed));
  auto open = hollowStl(core, at("cube.stl"), at("open.stl"), params(1.0, 0, 5.0));
  auto lattice = hollowStl(core, at("cube.stl"), at("lattice.stl"), params(1.0, 4, 5.0));
  ASSERT_TRUE(open && lattice);
  EXPECT_LT(lattice->cavityCells, open->cavityCells);
  // Wall squares by their cell (j, k) and their x.
  std::map<std::pair<int, int>, std::set<int>> rows;
  for (const auto& f : wallsOf(readStl(at("lattice.stl")))) {
    float y = 99, z = 99;
    for (const auto& c : f.corner) {
      y = std::min(y, c[1]);
      z = std::min(z, c[2]);
    }
    rows[{int(std::lround(y)) + 1, int(std::lround(z)) + 1}].insert(int(std::lround(f.corner[0][0])));
  }
  ASSERT_FALSE(rows.empty());
  for (const auto& [cell, xs] : rows) {
    const auto [j, k] = cell;
    // No cavity where two of the indices are multiples of 4: a bar along x.
    EXPECT_FALSE(j % 4 == 0 && k % 4 == 0) << j << "," << k;
    // A row with one index on the lattice is cut by a bar at every fourth
    // cell: walls on both sides of each bar.
    if (j % 4 == 0 || k % 4 == 0) {
      EXPECT_GE(xs.size(), 12u) << j << "," << k;
      for (int x : xs) EXPECT_TRUE(x % 4 == 0 || x % 4 == 3) << x;
    }
  }
}

TEST_F(Voxel, AModelThinnerThanTwiceTheShellGetsNoCavity) {
  writeStl(at("slab.stl"), boxFacets({0, 0, 0}, {40, 40, 8}, kRed));
  auto r = hollowStl(core, at("slab.stl"), at("hollowed.stl"), params(1.0, 0, 5.0));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->cavityCells, 0);
  const ReadStl s = readStl(at("hollowed.stl"));
  EXPECT_EQ(s.facets.size(), 12u);
  EXPECT_TRUE(wallsOf(s).empty());
}

TEST_F(Voxel, ColoursOfAColourHeadKeepTheirMeaningUnderThePlainHead) {
  // Bit 15 set in a "COLOR=" file means the head's colour (here red).
  writeStl(at("c.stl"), boxFacets({0, 0, 0}, {40, 40, 8}, 0x8000), colourHead(255, 0, 0));
  ASSERT_TRUE(hollowStl(core, at("c.stl"), at("hollowed.stl"), params(1.0, 0, 5.0)));
  const ReadStl s = readStl(at("hollowed.stl"));
  EXPECT_EQ(s.head.find("COLOR="), std::string::npos);
  ASSERT_EQ(s.facets.size(), 12u);
  for (const auto& f : s.facets) EXPECT_EQ(f.attribute, kRed);
}

TEST_F(Voxel, GlassWallsCarryTheGlassCodeAndInnerWallsGoToInnerStl) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {20, 20, 20}, kRed));
  HollowParams p = params(1.0, 0, 3.0);
  p.glassWalls = true;
  p.innerFile = true;
  auto r = hollowStl(core, at("cube.stl"), at("hollowed.stl"), p);
  ASSERT_TRUE(r);
  const auto walls = wallsOf(readStl(at("hollowed.stl")));
  ASSERT_FALSE(walls.empty());
  for (const auto& f : walls) EXPECT_EQ(f.attribute, 9105);
  const ReadStl inner = readStl(at("inner.stl"));
  EXPECT_EQ(inner.count, r->wallFacets);
  ASSERT_EQ(inner.facets.size(), walls.size());
  for (std::size_t i = 0; i < walls.size(); ++i) EXPECT_EQ(inner.facets[i].corner, walls[i].corner);
}

TEST_F(Voxel, InnerTilesAreMadeFromTheCavityWalls) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {20, 20, 20}, kRed));
  HollowParams p = params(1.0, 0, 3.0);
  p.innerFile = true;
  ASSERT_TRUE(hollowStl(core, at("cube.stl"), at("hollowed.stl"), p));
  ASSERT_TRUE(makeInnerTiles(core, dir + "/", 1.0));
  EXPECT_TRUE(logHas("saved tile_fill.stl"));
  const ReadStl tiles = readStl(at("tile_fill.stl"));
  EXPECT_EQ(tiles.count, tiles.facets.size());
  ASSERT_FALSE(tiles.facets.empty());
  // Tiles are one voxel along x and lie within the cavity's box.
  for (const auto& f : tiles.facets) {
    float x0 = 99, x1 = -99;
    for (const auto& c : f.corner) {
      x0 = std::min(x0, c[0]);
      x1 = std::max(x1, c[0]);
      for (int a = 0; a < 3; ++a) {
        EXPECT_GE(c[std::size_t(a)], 2.0f);
        EXPECT_LE(c[std::size_t(a)], 18.0f);
      }
    }
    EXPECT_NEAR(x1 - x0, 1.0f, 1e-4f);
    EXPECT_EQ(f.attribute, 0xFFFF);
  }
}

TEST_F(Voxel, ATileRowEndsAfterTheVoxelsBetweenItsEnds) {
  struct Case {
    float x0, x1;
    std::size_t tiles;
  } cases[] = {{0, 3, 3}, {3, 0, 3}, {0, 2.4f, 2}, {0, 2.6f, 3}, {1, 1, 0}};
  for (const auto& c : cases) {
    std::vector<stlFacet> out;
    tileRow(core, 1.0, c.x0, c.x1, 0, 1, 5, 5, 0, out);
    EXPECT_EQ(out.size(), 2 * c.tiles) << c.x0 << " to " << c.x1;
    for (const auto& f : out) EXPECT_EQ(f.normal[2], signOf(c.x0 - c.x1));
  }
  EXPECT_TRUE(logHas("0 step"));
  // Across z (flag 1) the normal lies along y.
  std::vector<stlFacet> out;
  tileRow(core, 0.5, 0, 1, 2, 2, 0, 0.5, 1, out);
  ASSERT_EQ(out.size(), 4u);
  EXPECT_EQ(out[0].normal[1], -1.0f);
  EXPECT_EQ(out[0].corner[0][2], 0.0f);
  EXPECT_EQ(out[0].corner[1][2], 0.5f);
}

TEST_F(Voxel, RefusedValuesAndSourcesWriteNothing) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {40, 40, 40}, kRed));
  writeStl(at("empty.stl"), {});
  writeText(at("hollowed.stl"), "older");
  struct Case {
    std::string source;
    double voxel, shell;
    std::string said;
  } cases[] = {
      {"missing.stl", 1.0, 5.0, "no file"},
      {"empty.stl", 1.0, 5.0, "holds no facets"},
      {"cube.stl", 0.0, 5.0, "voxel size 0: it must be a number above 0"},
      {"cube.stl", -1.0, 5.0, "voxel size -1"},
      {"cube.stl", 1.0, -2.0, "shell thickness -2"},
      {"cube.stl", 1e-5, 5.0, "voxel size 1e-05: a grid of 4000001 x 4000001 x 4000001 cells would take"},
  };
  for (const auto& c : cases) {
    core.Memo1.clear();
    EXPECT_FALSE(hollowStl(core, at(c.source), at("hollowed.stl"), params(c.voxel, 0, c.shell))) << c.said;
    EXPECT_TRUE(logHas(c.said)) << c.said << "\n" << (log().empty() ? "" : log().back());
    EXPECT_EQ(readAll(at("hollowed.stl")), "older") << c.said;
  }
  EXPECT_FALSE(std::filesystem::exists(at("hollowed.stl.part")));
}

// ---- the menu item ----

struct HollowMenu : Voxel {
  std::vector<std::string> sliced;
  std::string& viewer = host.viewer;
  void SetUp() override {
    host.slicer = [this](const std::string& s) {
      sliced.push_back(s);
      return true;
    };
    core.workDir = dir + "/";
  }
  void answer(const std::string& voxel, const std::string& beams, const std::string& shell) {
    ui.answers.push_back(OperatorUi::Answer::Yes);
    ui.inputs = {voxel, beams, shell};
  }
};

TEST_F(HollowMenu, HollowsTheCurrentModelAndSlicesTheResult) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {20, 20, 20}, kRed));
  viewer = at("cube.stl");
  core.s.file_name = "cube";
  answer("1", "0", "3");
  tools.voxel.hollowCurrentModel();
  EXPECT_EQ(ui.questions.back(), "are you sure you want to make stl file hollow ?");
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"voxel size [mm]", "beams", "shell thickness"}));
  EXPECT_TRUE(logHas("file_name=cube"));
  EXPECT_TRUE(logHas("viewerstl=" + at("cube.stl")));
  EXPECT_EQ(core.s.file_name, "hollowed");
  EXPECT_EQ(viewer, at("hollowed.stl"));
  EXPECT_EQ(sliced, std::vector<std::string>{at("hollowed.stl")});
  EXPECT_GT(readStl(at("hollowed.stl")).facets.size(), 12u);
  // Hollowing again starts from the kept source, not from the result.
  answer("1", "0", "2");
  tools.voxel.hollowCurrentModel();
  EXPECT_TRUE(logHas("viewerstl=" + at("cube.stl")));
  ASSERT_EQ(sliced.size(), 2u);
  EXPECT_DOUBLE_EQ(tools.voxel.shellThickness, 2.0);
}

TEST_F(HollowMenu, AFailedHollowingLeavesTheModelAndTheSlicerAlone) {
  viewer = at("gone.stl");
  core.s.file_name = "gone";
  answer("1", "0", "3");
  tools.voxel.hollowCurrentModel();
  EXPECT_TRUE(logHas("no file " + at("gone.stl")));
  EXPECT_EQ(core.s.file_name, "gone");
  EXPECT_EQ(viewer, at("gone.stl"));
  EXPECT_TRUE(sliced.empty());
  EXPECT_FALSE(std::filesystem::exists(at("hollowed.stl")));
  // No model, or a No: nothing is asked further.
  viewer.clear();
  ui.prompts.clear();
  tools.voxel.hollowCurrentModel();
  EXPECT_TRUE(ui.prompts.empty());
}

// ---- the voxel-edge repair ----

TEST_F(Voxel, TwoVoxelsSharingAnEdgeRepairIntoAManifoldSurface) {
  // Edges along x, y and z in turn.
  const std::array<Point, 3> seconds = {Point{0, 1, 1}, Point{1, 0, 1}, Point{1, 1, 0}};
  for (int axis = 0; axis < 3; ++axis) {
    SCOPED_TRACE("edge along axis " + std::to_string(axis));
    auto facets = boxFacets({0, 0, 0}, {1, 1, 1}, kRed);
    const Point o = seconds[std::size_t(axis)];
    const auto b = boxFacets(o, {o[0] + 1, o[1] + 1, o[2] + 1}, kRed);
    facets.insert(facets.end(), b.begin(), b.end());
    writeStl(at("unrepaired.stl"), facets);
    core.Memo1.clear();
    // The "manifold" item of the window's "functs" menu.
    ASSERT_EQ(tools.controls.at("manifold1").caption, "manifold");
    tools.controls.at("manifold1").onClick();
    EXPECT_TRUE(logHas("along x") && logHas("along y") && logHas("along z"));
    EXPECT_TRUE(logHas("saved as repaired.stl"));
    for (const char* line : {"p= {", "q= {", "p3= {", "p2= {"}) EXPECT_TRUE(logHas(line)) << line;
    const ReadStl s = readStl(at("repaired.stl"));
    EXPECT_EQ(s.facets.size(), 26u);
    EXPECT_EQ(s.count, 26u);
    for (const auto& [edge, n] : edgeUse(s.facets)) EXPECT_EQ(n, 2);
  }
}

TEST_F(Voxel, AClosedBoxRepairsIntoTheSameFacets) {
  const auto box = boxFacets({0, 0, 0}, {3, 2, 1}, kRed);
  writeStl(at("box.stl"), box);
  auto r = repairVoxelEdges(core, at("box.stl"), at("out.stl"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->edgesSplit, 0);
  EXPECT_FALSE(logHas("p= {"));
  // The same facets, in another order and with their corners possibly
  // turned cyclically.
  auto canonical = [](const ReadFacet& f) {
    auto c = f.corner;
    std::rotate(c.begin(), std::min_element(c.begin(), c.end()), c.end());
    return std::make_tuple(c, f.attribute);
  };
  std::multiset<decltype(canonical(box[0]))> want, got;
  for (const auto& f : box) want.insert(canonical(f));
  for (const auto& f : readStl(at("out.stl")).facets) got.insert(canonical(f));
  EXPECT_EQ(got, want);
}

TEST(VoxelRepair, QuarterTurnsGoBackExactly) {
  std::vector<stlFacet> list(1);
  list[0].corner[0] = {1.5f, -2.25f, 3.0f};
  list[0].normal = {0.0f, 1.0f, 0.0f};
  const auto before = list;
  quarterTurn(list, 0, 1);
  EXPECT_EQ(list[0].corner[0], (FloatTriple{2.25f, 1.5f, 3.0f}));
  EXPECT_EQ(list[0].normal, (FloatTriple{-1.0f, 0.0f, 0.0f}));
  quarterTurn(list, 1, 0);
  EXPECT_EQ(list[0].corner[0], before[0].corner[0]);
  EXPECT_EQ(list[0].normal, before[0].normal);
}

// ---- the void split ----

struct VoidSplit : Voxel {
  // Converts the OBJ with the mesh tools' road (no subdivision), as the
  // menu does.
  std::string split(const std::string& obj, int microns = 200) {
    auto r = tools.voxel.voidSplit(at(obj), at("out.obj"), microns);
    return r ? readAll(at("out.obj")) : std::string();
  }
  static std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t e = text.find('\n', at);
      out.push_back(text.substr(at, e - at));
      at = e + 1;
    }
    return out;
  }
};

TEST_F(VoidSplit, TheFacesOfASphereInsideASphereComeAfterGInside) {
  int outerVertices = 0, innerVertices = 0;
  std::string obj = objSphere(0, 0, 0, 10, 8, 12, 1, false, outerVertices);
  obj += "g inner\n";
  obj += objSphere(0, 0, 0, 5, 6, 8, 1 + outerVertices, true, innerVertices);
  writeText(at("nest.obj"), obj);
  const std::string out = split("nest.obj");
  ASSERT_FALSE(out.empty());
  EXPECT_TRUE(logHas("shell saved"));
  EXPECT_TRUE(logHas("rotate 15"));
  const auto in = lines(obj), written = lines(out);
  // Every line once; the outer sphere's faces before "g inside", the
  // inner one's after it.
  ASSERT_EQ(written.size(), in.size() + 1);
  std::multiset<std::string> a(in.begin(), in.end()), b(written.begin(), written.end());
  b.erase(b.find("g inside"));
  EXPECT_EQ(a, b);
  const auto gi = std::find(written.begin(), written.end(), "g inside") - written.begin();
  for (std::size_t i = 0; i < written.size(); ++i) {
    const std::string& l = written[i];
    if (l.rfind("f ", 0) != 0) continue;
    int first = 0;
    std::sscanf(l.c_str(), "f %d", &first);
    const bool innerFace = first > outerVertices;
    EXPECT_EQ(innerFace, std::ptrdiff_t(i) > gi) << l;
  }
  // The plain walk sorts the faces alike.
  auto plain = splitVisibleFaces(core, at("copiedobj.stl"), at("nest.obj"), at("plain.obj"), 200, true);
  ASSERT_TRUE(plain);
  EXPECT_EQ(readAll(at("plain.obj")), out);
}

TEST_F(VoidSplit, ASolidSphereIsAllSeenAndFacesOfAnySizeKeepTheWalkInStep) {
  int vertices = 0;
  std::string obj = objSphere(0, 0, 0, 10, 8, 12, 1, false, vertices);
  // A pentagon (three facets) and a hexagon (four) closing a box beside it.
  const int b = vertices;
  obj += plat::format("v 20 0 0\nv 24 0 0\nv 25 2 0\nv 24 4 0\nv 20 4 0\nv 19 2 0\n");
  obj += plat::format("v 20 0 4\nv 24 0 4\nv 25 2 4\nv 24 4 4\nv 20 4 4\nv 19 2 4\n");
  auto v = [&](int i) { return b + i; };
  obj += plat::format("f %d %d %d %d %d %d\n", v(6), v(5), v(4), v(3), v(2), v(1));
  obj += plat::format("f %d %d %d %d %d %d\n", v(7), v(8), v(9), v(10), v(11), v(12));
  for (int i = 1; i <= 6; ++i) {
    const int j = i % 6 + 1;
    obj += plat::format("f %d %d %d %d\n", v(i), v(j), v(j + 6), v(i + 6));
  }
  writeText(at("solid.obj"), obj);
  const std::string out = split("solid.obj");
  ASSERT_FALSE(out.empty());
  const auto written = lines(out);
  EXPECT_EQ(written.back(), "g inside");
  EXPECT_EQ(written.size(), lines(obj).size() + 1);
}

TEST_F(VoidSplit, TheOutputNeverReplacesTheInputAndAMismatchWritesNothing) {
  int vertices = 0;
  writeText(at("s.obj"), objSphere(0, 0, 0, 10, 6, 8, 1, false, vertices));
  EXPECT_EQ(voidSplitOutputName(at("s.obj")), at("s_voids.obj"));
  ASSERT_TRUE(tools.voxel.voidSplit(at("s.obj"), at("s_voids.obj"), 300));
  EXPECT_TRUE(std::filesystem::exists(at("s_voids.obj")));
  const std::string before = readAll(at("s.obj"));
  EXPECT_FALSE(splitVisibleFaces(core, at("copiedobj.stl"), at("s.obj"), at("s.obj"), 200));
  EXPECT_TRUE(logHas("would replace the model itself"));
  EXPECT_EQ(readAll(at("s.obj")), before);
  // An STL of other facets than the OBJ's faces.
  writeStl(at("other.stl"), boxFacets({0, 0, 0}, {1, 1, 1}, kRed));
  EXPECT_FALSE(splitVisibleFaces(core, at("other.stl"), at("s.obj"), at("x.obj"), 200));
  EXPECT_TRUE(logHas("holds 12 facets; nothing split"));
  EXPECT_FALSE(std::filesystem::exists(at("x.obj")));
  EXPECT_FALSE(splitVisibleFaces(core, at("missing.stl"), at("s.obj"), at("x.obj"), 200));
  EXPECT_FALSE(std::filesystem::exists(at("x.obj")));
}
