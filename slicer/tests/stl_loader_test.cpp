#include "slicer/stl_loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>

#include "platform/fingerprint.h"
#include "slicer/dots.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

struct Loaded {
  LoadResult result;
  SliceValues values;
  ColouredModel model;
};

Loaded load(const std::string& name, SliceValues values = {}) {
  Loaded l;
  l.values = values;
  l.result = loadColouredStl(name, l.values, l.model, nullptr);
  return l;
}

constexpr std::uint16_t kRed = 0x8000 | 31 << 10, kGreen = 0x8000 | 31 << 5, kBlue = 0x8000 | 31;

}  // namespace

TEST(StlLoader, FacetColoursOfBothConventions) {
  struct Case {
    bool headerColour;
    std::uint16_t attr, colour;
  } cases[] = {
      {true, 0x8123, 0xFC00},   // bit 15: the head's colour (255, 0, 0)
      {true, 0x001F, 0xFC00},   // red and blue fields swapped
      {true, 0x4E73, 0xCE73},
      {false, 0x1234, 0},       // no bit 15: no colour
      {false, 9105, 9105},      // the glass code stays
      {false, 0x8000 | 9105, 0x8000 | 9105},
      {false, 0xFC00, 0xFC00},
  };
  for (const auto& c : cases) EXPECT_EQ(facetColour(c.attr, c.headerColour, 0x7C00), c.colour) << c.attr;

  unsigned char head[84] = {};
  std::string h = colourHead(255, 0, 0);
  std::copy(h.begin(), h.end(), head);
  std::uint16_t colour = 0;
  ASSERT_TRUE(headerColourOf(head, colour));
  EXPECT_EQ(colour, 0x7C00);
}

TEST(StlLoader, CubeIsMirroredMeasuredAndPaletted) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(5, 15, {kRed, kGreen, kBlue, kRed, 0x1234, 9105})));
  Loaded l = load(dir / "cube.stl");
  ASSERT_TRUE(l.result.ok) << l.result.error;
  const ColouredModel& m = l.model;
  ASSERT_EQ(m.facets.size(), 12u);

  // Palette in order of first appearance; uncoloured and glass facets have
  // entries like any colour.
  EXPECT_EQ(m.palette.colour(0), 0xBDEF);
  EXPECT_EQ(m.palette.count(), 5);
  const std::uint16_t want[] = {0, kRed, kGreen, kBlue, 0, 9105};
  for (int i = 1; i <= 5; ++i) EXPECT_EQ(m.palette.colour(i), want[i]);
  EXPECT_EQ(m.palette.use(1), 4);  // two sides red
  EXPECT_FALSE(m.palette.full());

  for (const auto& f : m.facets) {
    for (const auto& v : f.v) EXPECT_TRUE(v.x >= -15 && v.x <= -5) << v.x;
    EXPECT_EQ(f.zBottom, std::min({f.v[0].z, f.v[1].z, f.v[2].z}));
    EXPECT_EQ(f.zTop, std::max({f.v[0].z, f.v[1].z, f.v[2].z}));
    // Mirrored: the file's +x side (green) faces -x now; y and z stay.
    const auto c = m.palette.colour(f.colourIndex);
    if (c == kGreen) {
      EXPECT_TRUE(f.normal.x == -1 && f.normal.y == 0 && f.normal.z == 0);
    }
    if (c == kBlue) {
      EXPECT_TRUE(f.normal.x == 0 && f.normal.y == -1 && f.normal.z == 0);
    }
  }
  for (std::size_t i = 1; i < m.facets.size(); ++i) EXPECT_LE(m.facets[i - 1].zBottom, m.facets[i].zBottom);

  EXPECT_FLOAT_EQ(m.placementMin.x, -15);
  EXPECT_FLOAT_EQ(m.placementMin.y, 5);
  EXPECT_FLOAT_EQ(m.placementMin.z, 5);
  EXPECT_EQ(m.boxMin.x, 0);
  EXPECT_EQ(m.boxMin.y, 0);
  EXPECT_FLOAT_EQ(m.boxMax.x, -5);

  ColouredModel placed = m;
  Box b = modelBox(placed);
  EXPECT_NEAR(b.x, 20, 1e-5);  // lowest corner at 10 mm, 10 mm, 0.35 mm
  EXPECT_NEAR(b.y, 20, 1e-5);
  EXPECT_NEAR(b.z, 10.35, 1e-5);
  EXPECT_EQ(placed.widthCode, 227);
  EXPECT_FLOAT_EQ(placed.placeOffset.x, 25);
}

TEST(StlLoader, YShiftMovesThePlacementMinimum) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(5, 15, {kRed})));
  SliceValues v;
  v.yShift = 3;
  Loaded l = load(dir / "cube.stl", v);
  ASSERT_TRUE(l.result.ok);
  EXPECT_FLOAT_EQ(l.model.placementMin.y, 2);
  EXPECT_NEAR(modelBox(l.model).y, 23, 1e-5);
}

TEST(StlLoader, PaletteOverflowGoesToTheSupportIndex) {
  ScratchDir dir;
  std::vector<Tri> tris;
  Tri t = cube(0, 1, {kRed})[0];
  for (int c = 0; c < 32760; ++c) {
    t.attr = std::uint16_t(0x8000 | c);
    tris.push_back(t);
  }
  writeFile(dir / "many.stl", stlBytes(tris));
  Loaded l = load(dir / "many.stl");
  ASSERT_TRUE(l.result.ok);
  EXPECT_TRUE(l.model.palette.full());
  EXPECT_EQ(l.model.palette.count(), 32751);
  EXPECT_EQ(l.model.palette.colour(32751), 0x8000 | 32750);
  int overflow = 0;
  for (const auto& f : l.model.facets) overflow += f.colourIndex == kSupportIndex;
  EXPECT_EQ(overflow, 9);
  EXPECT_EQ(l.model.palette.use(kSupportIndex), 9);
  // A colour already in the palette keeps its index after the overflow.
  EXPECT_EQ(l.model.palette.find(0x8000 | 7), std::optional<std::uint16_t>(8));
}

TEST(StlLoader, EqualBottomsKeepFileOrder) {
  ScratchDir dir;
  auto flat = [](float z, float top, std::uint16_t attr) {
    Tri t{};
    t.n[2] = 1;
    const float v[3][3] = {{0, 0, z}, {1, 0, top}, {0, 1, z}};
    std::copy(&v[0][0], &v[0][0] + 9, &t.v[0][0]);
    t.attr = attr;
    return t;
  };
  std::vector<Tri> tris = {flat(2, 3, 0x8001), flat(1, 5, 0x8002), flat(2, 2, 0x8003),
                           flat(1, 1, 0x8004), flat(2, 9, 0x8005), flat(0, 9, 0x8006)};
  writeFile(dir / "order.stl", stlBytes(tris));
  Loaded l = load(dir / "order.stl");
  ASSERT_TRUE(l.result.ok);
  std::vector<int> colours;
  for (const auto& f : l.model.facets) colours.push_back(l.model.palette.colour(f.colourIndex) & 0xF);
  EXPECT_EQ(colours, (std::vector<int>{6, 2, 4, 1, 3, 5}));
  EXPECT_EQ(l.model.firstFacetFrom(1), 1u);
  EXPECT_EQ(l.model.firstFacetFrom(1.5f), 3u);
  EXPECT_EQ(l.model.firstFacetFrom(3), 6u);
}

// The sort on several threads gives the order of the plain stable sort on
// heights with many ties, both zeros, negatives, tiny and huge values,
// infinities and NaN, in any order, sorted or not, over one run and many.
TEST(StlLoader, FastSortByBottomMatchesThePlainSort) {
  std::mt19937 rng(20261211);
  const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
  const float special[] = {0.0f, -0.0f, 1e-40f, -1e-40f, inf, -inf, nan, 3e38f, -3e38f, 0.1f, -0.1f, 254.0f};
  auto bitsOf = [](float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
  };
  for (std::size_t n : {0u, 1u, 2u, 3u, 100u, 5000u, 70000u, 140000u}) {
    for (int kind = 0; kind < 4; ++kind) {
      std::vector<FacetRecord> facets(n);
      for (std::size_t i = 0; i < n; ++i) {
        float z;
        const unsigned pick = rng() % 16;
        if (kind == 0) z = float(rng() % 7) * 0.5f - 1.0f;  // few heights: long runs of ties
        else if (pick < 12) z = special[pick];
        else z = std::uniform_real_distribution<float>(-500, 500)(rng);
        if (kind == 3) z = float(i % 1000) * 0.1f;  // in order but for a wrap now and then
        facets[i].zBottom = z;
        facets[i].v[0].x = float(i);  // where it came from
      }
      if (kind == 2) sortFacetsByBottomPlain(facets);  // already in order
      std::vector<FacetRecord> fast = facets, plain = facets;
      sortFacetsByBottom(fast);
      sortFacetsByBottomPlain(plain);
      ASSERT_EQ(fast.size(), n);
      for (std::size_t i = 0; i < n; ++i) {
        ASSERT_EQ(bitsOf(fast[i].zBottom), bitsOf(plain[i].zBottom)) << "n " << n << " kind " << kind << " at " << i;
        ASSERT_EQ(fast[i].v[0].x, plain[i].v[0].x) << "n " << n << " kind " << kind << " at " << i;
      }
    }
  }
}

// The gauge hears of each whole percent once, rising, not of every few
// hundred facets (each report may repaint the window), and is reset at the
// end.
TEST(StlLoader, ProgressIsToldWholePercentsOnly) {
  ScratchDir dir;
  std::vector<Tri> tris;
  for (int k = 0; k < 7; ++k) append(tris, sphere(20, 70, {0xFFFF}));  // 68,600 facets: 134 blocks of 512
  writeFile(dir / "big.stl", stlBytes(tris));
  SliceValues values;
  ColouredModel model;
  std::vector<int> told;
  const LoadResult r = loadColouredStl(dir / "big.stl", values, model, [&](int p) { told.push_back(p); });
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_GE(told.size(), 3u);
  EXPECT_LE(told.size(), 102u);
  EXPECT_EQ(told.back(), 0);
  EXPECT_EQ(told[told.size() - 2], 100);
  for (std::size_t i = 1; i + 1 < told.size(); ++i) EXPECT_GT(told[i], told[i - 1]) << i;
}

TEST(StlLoader, ZeroNormalsAreTakenFromTheVertices) {
  ScratchDir dir;
  writeFile(dir / "given.stl", stlBytes(cube(0, 2, {kRed, kGreen, kBlue})));
  writeFile(dir / "zero.stl", stlBytes(cube(0, 2, {kRed, kGreen, kBlue}, true)));
  Loaded given = load(dir / "given.stl"), zero = load(dir / "zero.stl");
  ASSERT_TRUE(given.result.ok && zero.result.ok);
  ASSERT_EQ(given.model.facets.size(), zero.model.facets.size());
  for (std::size_t i = 0; i < given.model.facets.size(); ++i) {
    const auto &a = given.model.facets[i].normal, &b = zero.model.facets[i].normal;
    EXPECT_NEAR(a.x, b.x, 1e-6);
    EXPECT_NEAR(a.y, b.y, 1e-6);
    EXPECT_NEAR(a.z, b.z, 1e-6);
  }
}

TEST(StlLoader, SampleFromBlenderWithZeroNormals) {
  Loaded l = load(sampleModel("Wuson.stl"));
  ASSERT_TRUE(l.result.ok) << l.result.error;
  EXPECT_EQ(l.model.facets.size(), 3732u);
  EXPECT_EQ(l.model.palette.count(), 1);  // attributes 0x2020: no colour
  EXPECT_EQ(l.model.palette.colour(1), 0);
  int zero = 0;
  for (const auto& f : l.model.facets) zero += f.normal.x == 0 && f.normal.y == 0 && f.normal.z == 0;
  EXPECT_EQ(zero, 0);
}

TEST(StlLoader, SampleWithColourHead) {
  Loaded l = load(sampleModel("20mm-xyz-cube.stl"));
  ASSERT_TRUE(l.result.ok) << l.result.error;
  EXPECT_TRUE(l.model.headerColour);
  EXPECT_EQ(l.model.headerDefault, 20 << 10 | 20 << 5 | 20);
  EXPECT_EQ(l.model.palette.count(), 1);
  EXPECT_EQ(l.model.palette.colour(1), 0xCE73);
  EXPECT_FALSE(l.model.singleWhite);
  Box b = modelBox(l.model);
  EXPECT_NEAR(b.x, 30, 0.01);
  EXPECT_NEAR(b.y, 30, 0.01);
  EXPECT_NEAR(b.z, 20.35, 0.01);
  EXPECT_EQ(l.model.modelSize, 13084);
}

TEST(StlLoader, SingleWhiteModel) {
  ScratchDir dir;
  writeFile(dir / "white.stl", stlBytes(cube(0, 1, {0xFFFF})));
  Loaded l = load(dir / "white.stl");
  ASSERT_TRUE(l.result.ok);
  EXPECT_TRUE(l.model.singleWhite);
}

TEST(StlLoader, UnreadableFilesAreRefusedWithAMessage) {
  ScratchDir dir;
  writeFile(dir / "tiny.stl", "solid x");
  writeFile(dir / "empty.stl", stlBytes({}));
  writeFile(dir / "tail-only.stl", stlBytes({}) + std::string(30, 'x'));
  mkdir((dir / "folder.stl").c_str(), 0700);
  ASSERT_EQ(mkfifo((dir / "pipe.stl").c_str(), 0600), 0);  // never written: reading it would wait for ever
  std::vector<Tri> bad = cube(0, 1, {kRed});
  bad[5].v[1][2] = std::nanf("");
  writeFile(dir / "nan.stl", stlBytes(bad));
  bad = cube(0, 1, {kRed});
  bad[3].v[0][1] = 3.6e8f;  // overflowed the page length
  writeFile(dir / "far.stl", stlBytes(bad));
  std::string ascii = "solid cube\n";
  for (int i = 0; i < 12; ++i)
    ascii += "  facet normal 0 0 1\n    outer loop\n      vertex 0 0 0\n      vertex 1 0 0\n      vertex 0 1 0\n"
             "    endloop\n  endfacet\n";
  ascii += "endsolid cube\n";
  writeFile(dir / "ascii.stl", ascii);
  struct Case {
    std::string name, words;
  } cases[] = {
      {"missing.stl", "cannot read the model"},
      {"folder.stl", "it is a folder"},
      {"pipe.stl", "not a regular file"},
      {"tiny.stl", "not 84 + 50 x n"},
      {"empty.stl", "holds no facets"},
      {"tail-only.stl", "holds no facets"},
      {"nan.stl", "facet 6 has a vertex coordinate that is not a number"},
      {"far.stl", "facet 4 has a vertex at (1, 3.6e+08, 0) mm, outside the 1e+06 mm"},
      {"ascii.stl", "is an ASCII STL: only binary STL is read"},
  };
  for (const auto& c : cases) {
    Loaded l = load(dir / c.name);
    EXPECT_FALSE(l.result.ok) << c.name;
    EXPECT_NE(l.result.error.find(c.words), std::string::npos) << l.result.error;
    EXPECT_NE(l.result.error.find(c.name), std::string::npos) << l.result.error;
    EXPECT_TRUE(l.model.facets.empty());
  }
}

// Bytes after the last whole facet lose nothing: every whole facet is read
// and the tail is named.
TEST(StlLoader, BytesAfterTheLastWholeFacetAreLeftWithANote) {
  ScratchDir dir;
  const std::string good = stlBytes(cube(0, 1, {kRed}));
  writeFile(dir / "good.stl", good);
  writeFile(dir / "long.stl", good + "\r\n");
  writeFile(dir / "cut.stl", good.substr(0, good.size() - 3));
  const Loaded whole = load(dir / "good.stl");
  ASSERT_TRUE(whole.result.ok) << whole.result.error;
  struct Case {
    std::string name;
    std::size_t facets;
    std::string note;
  } cases[] = {{"long.stl", 12, "the 2 bytes after its last whole facet (12)"},
               {"cut.stl", 11, "the 47 bytes after its last whole facet (11)"}};
  for (const auto& c : cases) {
    const Loaded l = load(dir / c.name);
    ASSERT_TRUE(l.result.ok) << l.result.error;
    ASSERT_EQ(l.model.facets.size(), c.facets) << c.name;
    ASSERT_EQ(l.result.notes.size(), 1u) << c.name;
    EXPECT_NE(l.result.notes[0].find(c.note), std::string::npos) << l.result.notes[0];
    EXPECT_NE(l.result.notes[0].find(c.name), std::string::npos) << l.result.notes[0];
    EXPECT_EQ(l.model.modelSize, std::int32_t(good.size() + (c.facets == 12 ? 2 : -3)));
  }
  // The whole facets are the same as in the whole file.
  const Loaded l = load(dir / "long.stl");
  for (std::size_t i = 0; i < 12; ++i)
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(l.model.facets[i].v[k].x, whole.model.facets[i].v[k].x);
      EXPECT_EQ(l.model.facets[i].v[k].z, whole.model.facets[i].v[k].z);
    }
}

// A model whose stored normals point into it (vertex order outward) slices
// empty: the load says so. Zero normals come from the vertices and agree.
TEST(StlLoader, NormalsAgainstTheVertexOrderAreNamed) {
  ScratchDir dir;
  std::vector<Tri> turned = cube(0, 1, {kRed});
  for (auto& t : turned)
    for (float& n : t.n) n = -n;
  std::vector<Tri> few = cube(0, 1, {kRed});
  for (int i = 0; i < 5; ++i)
    for (float& n : few[std::size_t(i)].n) n = -n;
  writeFile(dir / "turned.stl", stlBytes(turned));
  writeFile(dir / "few.stl", stlBytes(few));
  writeFile(dir / "zero.stl", stlBytes(cube(0, 1, {kRed}, true)));
  const Loaded t = load(dir / "turned.stl");
  ASSERT_TRUE(t.result.ok);
  ASSERT_EQ(t.result.notes.size(), 1u);
  EXPECT_NE(t.result.notes[0].find("turned.stl: 12 of 12 stored facet normals point against their vertex order"),
            std::string::npos)
      << t.result.notes[0];
  for (const char* quiet : {"few.stl", "zero.stl"}) {
    const Loaded q = load(dir / quiet);
    ASSERT_TRUE(q.result.ok);
    EXPECT_TRUE(q.result.notes.empty()) << quiet;
  }
}

TEST(StlLoader, NameWithoutExtensionReadsTheStl) {
  ScratchDir dir;
  writeFile(dir / "part.stl", stlBytes(cube(0, 1, {kRed})));
  EXPECT_TRUE(load(dir / "part").result.ok);
}

// The host computes the same two inputs from the same file with the same
// platform functions; both are checked against the platform's table.
TEST(StlLoader, FingerprintInputs) {
  setenv("TZ", "UTC", 1);
  tzset();
  ScratchDir dir;
  const std::string path = dir / "cube.stl";
  writeFile(path, stlBytes(cube(0, 1, {kRed})));
  utimbuf times{1700000000, 1700000000};
  ASSERT_EQ(utime(path.c_str(), &times), 0);
  Loaded l = load(path);
  ASSERT_TRUE(l.result.ok);
  EXPECT_EQ(l.model.modelSize, 84 + 12 * 50);
  EXPECT_EQ(l.model.modelDateCode, 452449259);
  EXPECT_EQ(l.model.modelDateCode, plat::fileDateCode(path));
  EXPECT_EQ(l.model.modelContentCrc, plat::fileContentCrc(path));
  unsetenv("TZ");
  tzset();
}

TEST(Dots, GridConversions) {
  struct Case {
    double mm;
    int x, y;
  } cases[] = {
      {0, 10, 10}, {1, 22, 22}, {10, 128, 128}, {-1, -2, -2}, {0.0423333, 10, 10}, {100, 1191, 1191},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(xToDot(c.mm), c.x) << c.mm;
    EXPECT_EQ(yToDot(c.mm), c.y) << c.mm;
  }
  EXPECT_EQ(xToDot(32000), 0x3FFFFFFF);
  EXPECT_EQ(xToDot(-32000.5), 0x3FFFFFFF);
  EXPECT_EQ(yToDot(1e300), INT_MAX);
  EXPECT_DOUBLE_EQ(dotToY(10), 0);
  for (int row : {0, 1, 10, 128, 3484}) EXPECT_EQ(yToDot(dotToY(row)), row);
}

TEST(Dots, WidthCode) {
  struct Case {
    double x;
    int code;
  } cases[] = {{100, 227}, {160.9, 227}, {161, 227}, {175.5, 237}, {190, 248}, {190.1, 248}};
  for (const auto& c : cases) EXPECT_EQ(widthCodeFor(c.x), c.code) << c.x;
}
