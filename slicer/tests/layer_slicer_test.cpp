// Slicing layers: inside and outside by winding, skin colours, clipping.
#include "slicer/layer_slicer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "slicer/dots.h"
#include "slicer/nearly_sorted.h"
#include "slicer/skin_colour.h"
#include "slicer/stl_loader.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

constexpr std::uint16_t kRed = 0x8000 | 31 << 10, kGreen = 0x8000 | 31 << 5, kBlue = 0x8000 | 31;
constexpr std::uint16_t kWhite = 0xFFFF, kYellowish = 0x8000 | 31 << 10 | 31 << 5, kCyanish = 0x8000 | 31 << 5 | 31;

// A model loaded from STL bytes (and an optional support file) and placed.
struct Loaded {
  explicit Loaded(const std::vector<Tri>& tris, const std::string& support = "") {
    writeFile(dir / "m.stl", stlBytes(tris));
    if (!support.empty()) writeFile(dir / "m.sup", support);
    auto r = loadColouredStl(dir / "m.stl", values, model, nullptr);
    EXPECT_TRUE(r.ok) << r.error;
    modelBox(model);
  }
  SpanStore slice(float z, SliceSettings s = {}) {
    s.singleWhite = s.singleWhite || model.singleWhite;
    SpanStore out;
    SliceScratch sc;
    LayerSlicer(model, s).slice(z, out, sc);
    return out;
  }
  int index(std::uint16_t colour) const { return *model.palette.find(colour); }
  ScratchDir dir;
  SliceValues values;
  ColouredModel model;
};

// The colour of every dot of a row (0 = gap) up to the row's end.
std::vector<int> dotsOf(const SpanStore& s, int row) {
  std::vector<int> d;
  for (const Span& sp : s.row(row)) d.resize(std::size_t(sp.xEnd), sp.colour);
  return d;
}

const float kLo[3] = {0, 0, 0}, kHi[3] = {10, 10, 10};

}  // namespace

// A 10 mm cube lands at 10..20 mm in x and y: dots 128..245 on rows whose
// centre lies within it.
TEST(LayerSlicer, CubeRowsHoldOneInsideStretch) {
  Loaded m(cube(0, 10, {kWhite}));
  ASSERT_TRUE(m.model.singleWhite);
  const float top = m.model.boxMax.z + m.model.placeOffset.z;
  for (float z : {5.35f, top}) {  // at the top, the top facets lie in the layer: no edges
    SCOPED_TRACE(z);
    const SpanStore s = m.slice(z);
    ASSERT_EQ(s.rows(), LayerSlicer::kRows);
    int inside = 0;
    for (int r = 0; r < s.rows(); ++r) {
      const auto row = s.row(r);
      const double y = dotToY(r);
      if (y > 10 && y <= 20) {
        ++inside;
        ASSERT_EQ(row.size(), 2u) << r;
        EXPECT_EQ(row[0].colour, 0);
        EXPECT_EQ(row[0].xEnd, 128);
        EXPECT_EQ(row[1].colour, 1);
        EXPECT_EQ(row[1].xEnd, 246);
      } else {
        EXPECT_TRUE(row.empty()) << r;
      }
    }
    EXPECT_EQ(inside, 118);
  }
  EXPECT_TRUE(m.slice(11).row(200).empty());  // above the model
}

// Winding: overlapping or nested solids stay inside; a void leaves a gap.
TEST(LayerSlicer, OverlapsPartsInsidePartsAndVoids) {
  const float bLo[3] = {5, 0, 0}, bHi[3] = {15, 10, 10};
  const float inLo[3] = {3, 3, 3}, inHi[3] = {7, 7, 7};
  struct Case {
    const char* name;
    std::vector<Tri> tris;
    std::string support;
    bool gap;
  } cases[] = {
      {"overlapping cubes", {}, "", false},
      {"part inside a part", {}, "", false},
      {"void", {}, "", true},
      {"support void inside a block", cube(20, 21, {kWhite}), "B 0 0 0 10 10 10\nV 3 3 3 7 7 7\n", true},
  };
  cases[0].tris = box(kLo, kHi, {kWhite});
  append(cases[0].tris, box(bLo, bHi, {kWhite}));
  cases[1].tris = box(kLo, kHi, {kWhite});
  append(cases[1].tris, box(inLo, inHi, {kWhite}));
  cases[2].tris = box(kLo, kHi, {kWhite});
  append(cases[2].tris, box(inLo, inHi, {kWhite}, true));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Loaded m(c.tris, c.support);
    SliceSettings s;
    s.singleWhite = true;
    const SpanStore st = m.slice(5.35f, s);
    // Row at y = 15 mm (5 mm into the model), in the void's y range.
    const std::vector<int> d = dotsOf(st, yToDot(m.model.placeOffset.y + 5));
    int gapsInside = 0, first = -1, last = -1;
    for (int x = 0; x < int(d.size()); ++x)
      if (d[std::size_t(x)] != 0) {
        if (first < 0) first = x;
        last = x;
      }
    ASSERT_GE(first, 0);
    for (int x = first; x <= last; ++x) gapsInside += d[std::size_t(x)] == 0;
    if (c.gap) EXPECT_NEAR(gapsInside, 47.2, 1) << "a 4 mm void";
    else EXPECT_EQ(gapsInside, 0);
  }
}

// Dots within the skin depth of a surface take its colour, deeper dots are
// interior; glass bounds the model but never colours it.
TEST(LayerSlicer, SkinColoursWithinTheSkinDepth) {
  // Sides -x, +x, -y, +y, -z, +z; +x of the file is the left side once
  // mirrored.
  Loaded m(box(kLo, kHi, {kRed, kGreen, kBlue, kYellowish, kWhite, kCyanish}));
  struct Wall {
    int colour;
    double (*dist)(double x, double y, double z);
  };
  // Distances in the placed build room: x 10..20, y 10..20, z 0.35..10.35.
  const Wall walls[] = {
      {m.index(kGreen), [](double x, double, double) { return x - 10; }},
      {m.index(kRed), [](double x, double, double) { return 20 - x; }},
      {m.index(kBlue), [](double, double y, double) { return y - 10; }},
      {m.index(kYellowish), [](double, double y, double) { return 20 - y; }},
      {m.index(kWhite), [](double, double, double z) { return z - 0.35; }},
      {m.index(kCyanish), [](double, double, double z) { return 10.35 - z; }},
  };
  for (float z : {5.35f, 9.85f}) {
    const SpanStore s = m.slice(z);
    int checked = 0, skin = 0;
    for (int r = 129; r <= 246; ++r) {
      const std::vector<int> d = dotsOf(s, r);
      ASSERT_EQ(d.size(), 246u);
      for (int x = 128; x < 246; ++x) {
        const double px = (x - 10) / kDotsPerMm, py = dotToY(r);
        double best = 1e9, second = 1e9;
        int colour = 0;
        for (const auto& w : walls) {
          const double dd = w.dist(px, py, z);
          if (dd < best) {
            second = best;
            best = dd;
            colour = w.colour;
          } else if (dd < second) {
            second = dd;
          }
        }
        const int got = d[std::size_t(x)];
        if (best < 0.85 && second - best > 0.3) {
          EXPECT_EQ(got, colour) << "z " << z << " row " << r << " dot " << x;
          ++skin;
        } else if (best > 1.15) {
          EXPECT_EQ(got, kSupportIndex) << "z " << z << " row " << r << " dot " << x;
        } else {
          continue;
        }
        ++checked;
      }
    }
    EXPECT_GT(skin, 1000);
    EXPECT_GT(checked, 9000);
  }

  // The same cube with a glass left side: still bounded there, but the dots
  // by it are interior, never glass.
  Loaded g(box(kLo, kHi, {kRed, kGlassCode | 0, kBlue, kYellowish, kWhite, kCyanish}));
  const SpanStore s = g.slice(5.35f);
  const std::vector<int> d = dotsOf(s, 187);
  ASSERT_EQ(d.size(), 246u);
  EXPECT_EQ(d[127], 0);
  for (int x = 128; x < 200; ++x) EXPECT_EQ(d[std::size_t(x)], kSupportIndex) << x;
}

TEST(LayerSlicer, SurfaceClearLeavesTheOutermostDotsInterior) {
  Loaded m(cube(0, 10, {kRed}));
  SliceSettings s;
  s.surfaceClear = 0.5;
  const std::vector<int> d = dotsOf(m.slice(5.35f, s), 187);
  for (int x = 128; x < 133; ++x) EXPECT_EQ(d[std::size_t(x)], kSupportIndex) << x;   // < 0.42 mm
  for (int x = 136; x < 138; ++x) EXPECT_EQ(d[std::size_t(x)], m.index(kRed)) << x;  // 0.68..0.76 mm
}

// A model placed as it stands (support file P) at positive x is mirrored to
// negative dots: its rows are clipped to the raster and stay well formed.
TEST(LayerSlicer, ModelsOutsideTheRasterAreClipped) {
  Loaded left(cube(5, 15, {kWhite}), "P\n");
  const SpanStore s = left.slice(10);
  for (int r = 0; r < s.rows(); ++r) EXPECT_TRUE(s.row(r).empty()) << r;

  Loaded straddle(cube(-5, 5, {kWhite}), "P\n");  // mirrored: x from -5 to 5 mm
  const SpanStore t = straddle.slice(1);
  const auto row = t.row(yToDot(0));
  ASSERT_EQ(row.size(), 1u);
  EXPECT_EQ(row[0].colour, 1);
  EXPECT_EQ(row[0].xEnd, xToDot(5));
}

// Every span of two slices of a layer alike.
void expectSameSlices(const SpanStore& a, const SpanStore& b, const std::string& what) {
  ASSERT_EQ(a.rows(), b.rows()) << what;
  for (int r = 0; r < a.rows(); ++r) {
    const auto ra = a.row(r), rb = b.row(r);
    ASSERT_EQ(ra.size(), rb.size()) << what << " row " << r;
    for (std::size_t i = 0; i < ra.size(); ++i) {
      ASSERT_EQ(ra[i].colour, rb[i].colour) << what << " row " << r << " span " << i;
      ASSERT_EQ(ra[i].xEnd, rb[i].xEnd) << what << " row " << r << " span " << i;
    }
  }
}

// The shortcut through the interior and the indexed search give exactly
// what taking every candidate's distance at every step gives.
TEST(LayerSlicer, ShortcutsChangeNothing) {
  std::vector<Tri> tris = sphere(30, 40, {kRed, kGreen, kBlue, kYellowish, kGlassCode, kCyanish});
  append(tris, box(kLo, kHi, {kWhite, kRed}));
  Loaded m(tris, "K 2 0.3\nK 3 -0.2\n");
  for (int step : {1, 3}) {
    SliceSettings fast;
    fast.minstepx = fast.minstepy = step;
    fast.skinDepth = step == 1 ? 1.0 : 2.5;
    SliceSettings exact = fast;
    exact.exactSkin = true;
    for (float z : {0.5f, 4.0f, 10.35f, 15.35f, 29.0f})
      expectSameSlices(m.slice(z, fast), m.slice(z, exact), "z " + std::to_string(z));
  }
}

namespace {

// Generated models that reach every branch of the skin colouring: many
// sections per row, stretches that start and end among them, sections far
// outside a stretch, glass, colour offsets, void and support blocks.
struct Generated {
  std::string name;
  std::vector<Tri> tris;
  std::string support;
};

std::vector<Generated> generatedModels() {
  std::mt19937 rng(20261210);
  auto uni = [&](float lo, float hi) { return std::uniform_real_distribution<float>(lo, hi)(rng); };
  const std::uint16_t colours[] = {kRed, kGreen, kBlue, kWhite, kGlassCode, kYellowish, 0x1234};
  auto colour = [&] { return colours[std::uniform_int_distribution<int>(0, 6)(rng)]; };
  std::vector<Generated> out;

  // Self-intersecting soup: many long sections in every row, in any order.
  Generated soup{"soup", {}, "K 3 0.4\nK 4 -0.3\n"};
  for (int i = 0; i < 160; ++i) {
    Tri t{};
    for (auto& v : t.v) v[0] = uni(0, 25), v[1] = uni(0, 25), v[2] = uni(0, 4);
    const float ux = t.v[1][0] - t.v[0][0], uy = t.v[1][1] - t.v[0][1], uz = t.v[1][2] - t.v[0][2];
    const float vx = t.v[2][0] - t.v[0][0], vy = t.v[2][1] - t.v[0][1], vz = t.v[2][2] - t.v[0][2];
    t.n[0] = uy * vz - uz * vy, t.n[1] = uz * vx - ux * vz, t.n[2] = ux * vy - uy * vx;
    t.attr = colour();
    soup.tris.push_back(t);
  }
  out.push_back(soup);

  // Nested parts: boxes inside boxes, every second one a void.
  Generated nested{"nested parts", {}, ""};
  for (int k = 0; k < 6; ++k) {
    const float lo[3] = {float(k), float(k) * 1.5f, 0.3f * float(k)}, hi[3] = {30 - float(k), 28 - float(k), 5};
    append(nested.tris, box(lo, hi, {colour(), colour(), colour(), colour(), colour(), colour()}, k % 2 == 1));
  }
  out.push_back(nested);

  // Thin walls, thinner than a skin depth and than a step.
  Generated thin{"thin walls", {}, ""};
  for (int k = 0; k < 14; ++k) {
    const float x = 1.1f * float(k), lo[3] = {x, uni(0, 2), 0}, hi[3] = {x + 0.05f + 0.04f * float(k), 20, 4};
    append(thin.tris, box(lo, hi, {colour(), colour()}));
  }
  out.push_back(thin);

  // Glass sides beside coloured ones, overlapping.
  Generated glass{"glass", {}, ""};
  for (int k = 0; k < 5; ++k) {
    const float lo[3] = {uni(0, 10), uni(0, 10), 0}, hi[3] = {lo[0] + uni(2, 12), lo[1] + uni(2, 12), 4};
    append(glass.tris, box(lo, hi, {kGlassCode, colour(), kGlassCode, colour(), kGlassCode, colour()}));
  }
  out.push_back(glass);

  // Support and void blocks from a support file around a small part.
  Generated blocks{"support blocks", cube(0, 2, {kRed}), ""};
  for (int k = 0; k < 60; ++k) {
    const float x = uni(0, 20), y = uni(0, 20), z = uni(0, 2);
    blocks.support += (k % 7 == 6 ? "V " : "B ") + std::to_string(x) + " " + std::to_string(y) + " " +
                      std::to_string(z) + " " + std::to_string(x + uni(0.1f, 4)) + " " +
                      std::to_string(y + uni(0.1f, 4)) + " " + std::to_string(z + uni(0.5f, 2)) + "\n";
  }
  out.push_back(blocks);

  // Coincident copies: one box three times and in place of it a copy in
  // other colours, a void inside it five times (more than the boxes: the
  // void is outside), thin walls twice with other facets between, a sphere
  // twice, glass twice.
  Generated copies{"coincident copies", {}, "K 2 0.3\n"};
  const float lo[3] = {2, 3, 0.2f}, hi[3] = {14, 11, 3.8f};
  const std::vector<Tri> one = box(lo, hi, {kRed, kGreen, kBlue, kWhite, kYellowish, kCyanish});
  for (int k = 0; k < 3; ++k) append(copies.tris, one);
  append(copies.tris, box(lo, hi, {kGreen, kRed, kWhite, kBlue, kCyanish, kYellowish}));
  const float voidLo[3] = {5, 5, 1}, voidHi[3] = {9, 8, 3};
  for (int k = 0; k < 3; ++k) append(copies.tris, box(voidLo, voidHi, {kBlue}, true));
  const float wallLo[3] = {6, 1, 0}, wallHi[3] = {6.08f, 15, 4};
  const std::vector<Tri> wall = box(wallLo, wallHi, {kGlassCode, kRed, kBlue, kGreen, kWhite, kRed});
  append(copies.tris, wall);
  append(copies.tris, sphere(6, 10, {kBlue, kWhite}));
  append(copies.tris, wall);
  append(copies.tris, sphere(6, 10, {kBlue, kWhite}));
  for (int k = 0; k < 2; ++k) append(copies.tris, box(voidLo, voidHi, {kBlue}, true));
  out.push_back(copies);

  // Identical support and void blocks, some of them many times; a void
  // twice in a block three times (the void is inside).
  Generated same{"identical support blocks", cube(0, 2, {kRed}), "K 3 -0.2\n"};
  const std::string lines[] = {"B 1 1 0 6 5 2.5\n", "B 3 2 0.5 9 7 3\n", "V 4 3 1 5 4 2\n", "B 1 1 0 6 5.5 2.5\n"};
  for (int k = 0; k < 40; ++k) same.support += lines[std::uniform_int_distribution<int>(0, 3)(rng)];
  for (int k = 0; k < 5; ++k) same.support += k < 3 ? "B 10 10 0 16 15 2.5\n" : "V 11 11 0.5 14 13 2\n";
  out.push_back(same);
  return out;
}

}  // namespace

TEST(LayerSlicer, IndexedSkinSearchMatchesThePlainSearchOnGeneratedModels) {
  struct Setting {
    int minstepx, minstepy;
    double skinDepth, surfaceClear;
  } settings[] = {{1, 1, 1.0, 0.0}, {2, 3, 0.6, 0.2}, {1, 2, 2.5, 0.0}, {1, 1, 0.25, 0.1},
                  // No reach beyond the stretch, or less than none.
                  {1, 1, 0.0, 0.0}, {2, 1, -0.3, 0.0}};
  for (const Generated& g : generatedModels()) {
    Loaded m(g.tris, g.support);
    ASSERT_FALSE(m.model.singleWhite) << g.name;
    for (const Setting& st : settings) {
      SliceSettings fast;
      fast.minstepx = st.minstepx;
      fast.minstepy = st.minstepy;
      fast.skinDepth = st.skinDepth;
      fast.surfaceClear = st.surfaceClear;
      SliceSettings exact = fast;
      exact.exactSkin = true;
      for (float z : {0.9f, 2.37f, 3.5f})
        expectSameSlices(m.slice(z, fast), m.slice(z, exact),
                         g.name + " z " + std::to_string(z) + " skin " + std::to_string(st.skinDepth));
    }
  }
}

// Thousands of coincident copies of a part, or of one support block, are
// sliced as fast as two copies, and give what two give: past two, more
// copies change neither the winding's sign nor the two nearest distances.
// (Before, each copy was measured at every dot: this took seconds.)
TEST(LayerSlicer, ThousandsOfCoincidentCopiesSliceAsTwoDo) {
  const float lo[3] = {2, 3, 0}, hi[3] = {14, 11, 2};
  const std::vector<Tri> one = box(lo, hi, {kRed, kGreen, kBlue, kWhite, kYellowish, kCyanish});
  std::vector<Tri> two = one, many;
  append(two, one);
  for (int k = 0; k < 3000; ++k) append(many, one);
  std::string twoBlocks, manyBlocks;
  for (int k = 0; k < 2; ++k) twoBlocks += "B 3 3 0 12 9 2\n";
  for (int k = 0; k < 20000; ++k) manyBlocks += "B 3 3 0 12 9 2\n";
  const struct {
    const char* what;
    std::vector<Tri> few, lots;
    std::string fewSupport, lotsSupport;
  } cases[] = {
      {"3000 copies of a box", two, many, "", ""},
      {"20000 identical support blocks", cube(0, 2, {kRed}), cube(0, 2, {kRed}), twoBlocks, manyBlocks},
  };
  for (const auto& c : cases) {
    Loaded few(c.few, c.fewSupport), lots(c.lots, c.lotsSupport);
    for (float z : {0.5f, 1.45f}) expectSameSlices(lots.slice(z), few.slice(z), std::string(c.what) + " z " + std::to_string(z));
  }
}

namespace {

// An upright wall from (xa, ya) to (xb, yb) through the layer at z = 0, as
// the two facets of a quad: the layer cuts them in one line.
void wall(std::vector<NearFacet>& f, float xa, float ya, float xb, float yb, std::uint16_t colour) {
  const float len = std::hypot(xb - xa, yb - ya);
  NearFacet low{{xa, xb, xb}, {ya, yb, yb}, {-1, -1, 1}, -(xb - xa) / len, 0, colour};
  NearFacet high{{xa, xb, xa}, {ya, yb, ya}, {-1, 1, 1}, -(xb - xa) / len, 0, colour};
  f.push_back(low);
  f.push_back(high);
}

SpanStore colourRow(const std::vector<NearFacet>& f, const SkinSettings& s, int a, int b) {
  SkinColourer skin;
  SpanStore out;
  out.start(0);
  skin.startLayer(f, 0, s);
  skin.startRow(0, -0.5 / kDotsPerMm);  // the row's centre at y = 0
  skin.colourStretch(a, b, out);
  out.endRow();
  return out;
}

}  // namespace

// A thin plate slanting up from the row, with a short wall farther on
// across the row. Moving right, the plate's two faces are nearest until
// the dots pass the foot of its upper end: there the distance to both
// leaps up, and the short wall, which was farther than either a few dots
// before, becomes the nearest. What was near a few dots before says
// little about what is near now.
TEST(LayerSlicer, LeapingDistancesGiveWhatThePlainSearchGives) {
  SkinSettings fast;
  fast.skinDepth = 2.5;
  SkinSettings plain = fast;
  plain.exactOnly = true;
  const int a = 10 + int(3 * kDotsPerMm), b = 10 + int(14 * kDotsPerMm);
  for (float rise : {0.8f, 1.0f, 1.3f})
    for (float slope : {0.7f, 1.0f, 1.6f})
      for (float past = 1.3f; past < 2.6f; past += 0.04f) {
        std::vector<NearFacet> f;
        const float x1 = 5 + rise / slope, foot = x1 + rise * slope;  // where the distance leaps
        wall(f, 5, 0, x1, rise, 1);
        wall(f, x1 + 0.05f, rise, 5.05f, 0, 2);
        wall(f, foot + past, -0.02f, foot + past + 0.03f, 0.02f, 3);
        expectSameSlices(colourRow(f, fast, a, b), colourRow(f, plain, a, b),
                         "rise " + std::to_string(rise) + " slope " + std::to_string(slope) + " past " +
                             std::to_string(past));
      }
}

// Two copies of one sphere in two colours: every surface is as near in one
// colour as in the other, and the facet that comes first in the file wins,
// in the fast search and in the plain one alike.
TEST(LayerSlicer, EquallyNearSurfacesGoToTheFirstFacet) {
  const std::vector<Tri> red = sphere(20, 24, {kRed}), green = sphere(20, 24, {kGreen});
  for (bool redFirst : {true, false}) {
    std::vector<Tri> tris = redFirst ? red : green;
    append(tris, redFirst ? green : red);
    Loaded m(tris);
    const int first = m.index(redFirst ? kRed : kGreen), second = m.index(redFirst ? kGreen : kRed);
    for (bool exact : {false, true}) {
      SliceSettings s;
      s.exactSkin = exact;
      int firstDots = 0;
      for (float z : {3.0f, 10.35f, 17.0f}) {
        const SpanStore out = m.slice(z, s);
        for (int r = 0; r < out.rows(); ++r) {
          int from = 0;
          for (const Span& sp : out.row(r)) {
            ASSERT_NE(sp.colour, second) << "red first " << redFirst << " exact " << exact << " row " << r;
            if (sp.colour == first) firstDots += sp.xEnd - from;
            from = sp.xEnd;
          }
        }
      }
      EXPECT_GT(firstDots, 1000) << "red first " << redFirst << " exact " << exact;
    }
  }
}

// A facet's section carries exactly these floats in every build: slope and
// cut from the unrounded crossing points, end points rounded. (Values worked
// out apart from this code; an optimiser that mixed rounded and unrounded
// points gave other ones here, and with them a few other spans.)
TEST(LayerSlicer, SectionsAreTheSameInEveryBuild) {
  struct Case {
    float x[3], y[3], z[3], ny, nz;
    float x0, y0, x1, y1, sinSlope, xCross, xFrom, xTo;
  } cases[] = {
      {{0x1.18bc9ap+4f, 0x1.2cf964p+4f, 0x1.5990c4p+4f},
       {0x1.4eeefap+3f, 0x1.5f09a2p+3f, 0x1.65b434p+3f},
       {0x1.0d0d74p-1f, 0x1.0c4744p-7f, 0x1.ad005p-1f},
       -0x1.0bc4c8p-2f, 0x1.2d118p-1f,
       0x1.52928ap+4f, -0x1.477e74p-2f, 0x1.52aa24p+4f, -0x1.b5e0a6p-3f,
       0x1.ff3ee4p-1f, 0x1.52d9bap+4f, 0x1.e8d172p+3f, 0x1.13b6bcp+4f},
      {{0x1.c8df4ap+5f, 0x1.6fac8p+4f, 0x1.2fce36p+5f},
       {0x1.7c5e7cp+3f, 0x1.75c28ep+3f, 0x1.48c6dp+3f},
       {0x1.f229dcp-3f, 0x1.c4ba9ap-1f, 0x1.29261ap-3f},
       -0x1.0995fep-1f, 0x1.e953d8p-4f,
       0x1.7814e4p+4f, -0x1.432ef8p-1f, 0x1.91f26cp+4f, -0x1.63dffcp-1f,
       -0x1.434eeep-5f, 0x1.e184ecp+2f, 0x1.787b02p+4f, 0x1.9262ep+4f},
  };
  for (const Case& c : cases) {
    NearFacet f;
    for (int k = 0; k < 3; ++k) f.x[k] = c.x[k], f.y[k] = c.y[k], f.z[k] = c.z[k];
    f.ny = c.ny;
    f.nz = c.nz;
    FacetSection s;
    ASSERT_TRUE(cutFacet(f, turnOf(f), 11.0 + 1.0 / 64, 1.0, s));
    EXPECT_EQ(s.x0, c.x0);
    EXPECT_EQ(s.y0, c.y0);
    EXPECT_EQ(s.x1, c.x1);
    EXPECT_EQ(s.y1, c.y1);
    EXPECT_EQ(s.sinSlope, c.sinSlope);
    EXPECT_EQ(s.xCross, c.xCross);
    EXPECT_EQ(s.xFrom, c.xFrom);
    EXPECT_EQ(s.xTo, c.xTo);
  }
}

// The sort of a row's section ends from the order of the row before gives
// what std::sort gives, whether the entries are nearly in order (insertion)
// or far from it (the fallback), ties in x included.
TEST(NearlySorted, SortsAsStdSortDoesInOrderOrNot) {
  struct End {
    float x;
    int section;
  };
  auto less = [](const End& l, const End& r) { return l.x < r.x || (l.x == r.x && l.section < r.section); };
  std::mt19937 rng(11);
  for (int shape = 0; shape < 4; ++shape)
    for (int n : {0, 1, 7, 300}) {
      std::vector<End> v;
      for (int i = 0; i < n; ++i) v.push_back({float(i / 3) + std::uniform_real_distribution<float>(0, 0.5f)(rng), i});
      if (shape == 1)  // a few neighbours swapped
        for (int k = 0; k + 1 < n; k += 5) std::swap(v[std::size_t(k)], v[std::size_t(k + 1)]);
      if (shape == 2) std::reverse(v.begin(), v.end());
      if (shape == 3) std::shuffle(v.begin(), v.end(), rng);
      std::vector<End> expected = v;
      std::sort(expected.begin(), expected.end(), less);
      sortNearlySorted(v, less);
      ASSERT_EQ(v.size(), expected.size());
      for (std::size_t i = 0; i < v.size(); ++i)
        ASSERT_EQ(v[i].section, expected[i].section) << "shape " << shape << " n " << n << " at " << i;
    }
}
