#include "slicer/support_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "slicer/model_names.h"
#include "slicer/stl_loader.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

void expectVec(const Vec3f& v, float x, float y, float z) {
  EXPECT_NEAR(v.x, x, 1e-5);
  EXPECT_NEAR(v.y, y, 1e-5);
  EXPECT_NEAR(v.z, z, 1e-5);
}

struct Scene {
  SliceValues values;
  ColouredModel model;
  std::vector<std::string> notes;
  void line(const std::string& l, int pass = 1) { applySupportLine(l, pass, values, model, notes); }
  // One facet as the loader stores it: file point (1, 0, 0) mirrored.
  void oneFacet() {
    FacetRecord f;
    f.normal = {-1, 0, 0};
    f.v[0] = {-1, 0, 0};
    f.v[1] = {0, 1, 0};
    f.v[2] = {0, 0, 1};
    model.facets.push_back(f);
  }
};

}  // namespace

TEST(SupportFile, Numbers) {
  struct Case {
    std::string text;
    std::vector<double> want;
  } cases[] = {
      {" 1 2.5 -3", {1, 2.5, -3}},
      {"0,0,0,10,10,10", {0, 0, 0, 0, 0, 0}},  // numbers must be separated by blanks
      {"1e2 E5 - 1-2 .5", {100, 0, 0, 0, 0.5}},
      {"  7", {7, 0}},
  };
  for (const auto& c : cases) EXPECT_EQ(supportNumbers(c.text, 0, int(c.want.size())), c.want) << c.text;
}

TEST(SupportFile, BlockAndVoid) {
  Scene s;
  s.line("B 1 2 3 4 5 6", 0);  // blocks only in pass 1
  EXPECT_TRUE(s.model.facets.empty());
  s.line("b 1 2 3 4 5 6");
  s.line("V 1 2 3 4 5 6");
  ASSERT_EQ(s.model.facets.size(), 8u);
  const auto& f = s.model.facets;
  // Corner bits x = 4, y = 2, z = 1; x mirrored like the facets.
  expectVec(f[0].v[0], -1, 2, 6);
  expectVec(f[0].v[1], -1, 5, 6);
  expectVec(f[0].v[2], -1, 2, 3);
  expectVec(f[2].v[0], -4, 5, 3);
  expectVec(f[3].v[2], -4, 2, 6);
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(f[std::size_t(i)].colourIndex, kSupportIndex);
    // The first corner's side faces -x in the file: +x once mirrored; a
    // void the other way.
    const float want = (i % 4 < 2 ? 1.0f : -1.0f) * (i < 4 ? 1.0f : -1.0f);
    expectVec(f[std::size_t(i)].normal, want, 0, 0);
  }

  Scene commas;
  commas.line("B 0,0,0,10,10,10");
  ASSERT_EQ(commas.model.facets.size(), 4u);
  for (const auto& r : commas.model.facets)
    for (const auto& v : r.v) expectVec(v, 0, 0, 0);
}

TEST(SupportFile, ValueCommands) {
  Scene s;
  s.line("C 1 0 0.5", 0);
  EXPECT_EQ(s.values.defaultColour, 31 * 1024 + 16);  // 15.5 rounds to even
  s.line("c 0 1 2");
  EXPECT_EQ(s.values.defaultColour, 31 * 32 + 31);  // channels stay within 5 bits
  s.line("D 3 4", 0);
  EXPECT_EQ(s.values.minstepx, 1);
  s.line("D 3 4");
  EXPECT_EQ(s.values.minstepx, 3);
  EXPECT_EQ(s.values.minstepy, 4);
  s.line("d 0 -2");
  EXPECT_EQ(s.values.minstepx, 1);
  EXPECT_EQ(s.values.minstepy, 1);
  s.line("K 5 0.25");
  s.line("K 32752 1.5");
  EXPECT_FLOAT_EQ(s.model.colourDistanceOffset[5], 0.25f);
  EXPECT_FLOAT_EQ(s.model.colourDistanceOffset[kSupportIndex], 1.5f);
  EXPECT_TRUE(s.notes.empty());
  s.line("K 32753 1");
  s.line("k -1 1");
  s.line("K 1e12 1");
  s.line("K 5 1e300");  // would be an infinite distance
  EXPECT_EQ(s.notes.size(), 4u);
  EXPECT_FLOAT_EQ(s.model.colourDistanceOffset[5], 0.25f);
  EXPECT_EQ(s.model.colourDistanceOffset.size(), std::size_t(Palette::kSize));
  s.line("P", 0);
  EXPECT_TRUE(s.model.placed);
  s.line("X 1 2 3");
  s.line("");
  EXPECT_EQ(s.model.facets.size(), 0u);
}

TEST(SupportFile, MoveTurnAndScaleWhatIsLoaded) {
  Scene s;
  s.oneFacet();
  s.line("M 1 2 3");
  expectVec(s.model.facets[0].v[0], -2, 2, 3);  // x mirrored
  expectVec(s.model.supportShift, -1, 2, 3);

  Scene z;
  z.oneFacet();
  z.line("RZ 90");
  expectVec(z.model.facets[0].v[0], 0, 1, 0);  // file x turns toward y
  expectVec(z.model.facets[0].normal, 0, 1, 0);
  z.line("Ry 90");  // lower case: about X by the number behind R, which is none
  expectVec(z.model.facets[0].v[0], 0, 1, 0);
  z.line("RX 90");
  expectVec(z.model.facets[0].v[0], 0, 0, -1);
  z.line("RY 90");
  expectVec(z.model.facets[0].v[0], -1, 0, 0);

  Scene sc;
  sc.oneFacet();
  sc.line("S 2");
  expectVec(sc.model.facets[0].v[1], 0, 2, 0);
  expectVec(sc.model.facets[0].normal, -1, 0, 0);
  EXPECT_EQ(sc.model.supportScale, 2.0f);
}

TEST(SupportFile, NamedAfterTheModelUpToItsLastDot) {
  EXPECT_EQ(supportFileName("dir.v1/my.model.stl"), "dir.v1/my.model.sup");
  EXPECT_EQ(supportFileName("dir.v1/model"), "dir.v1/model.sup");
  EXPECT_EQ(supportFileName("C:\\a.b\\part"), "C:\\a.b\\part.sup");
  EXPECT_EQ(modelNameFromTraceLine("polyray C:\\scenes\\robot.pov -o x.tga"), "robot.pov -o x");
  EXPECT_EQ(modelNameFromTraceLine("polyray C:\\scenes\\robot.pov\r"), "robot");
}

// Both passes through a load: the block joins the model before it is
// measured, the scale applies once, and C and P act already in pass 0.
TEST(SupportFile, AppliedByTheLoader) {
  ScratchDir dir;
  const std::string folder = dir / "set.v1";
  mkdir(folder.c_str(), 0700);
  writeFile(folder + "/my.model.stl", stlBytes(cube(0, 10, {0x8000 | 31})));
  writeFile(folder + "/my.model.sup", "C 0 0 1\r\nB 0 0 0 20 5 5\nS 2\nK 1 0.5\nP\n");
  SliceValues v;
  ColouredModel m;
  LoadResult r = loadColouredStl(folder + "/my.model.stl", v, m, nullptr);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(m.facets.size(), 16u);
  EXPECT_EQ(v.defaultColour, 31);
  EXPECT_TRUE(m.placed);
  EXPECT_FLOAT_EQ(m.colourDistanceOffset[1], 0.5f);
  EXPECT_FLOAT_EQ(m.placementMin.x, -40);
  EXPECT_FLOAT_EQ(m.boxMax.z, 20);
  Box b = modelBox(m);  // placed: no offset
  EXPECT_NEAR(b.x, 0, 1e-5);
  EXPECT_NEAR(b.y, 20, 1e-5);
  int blocks = 0;
  for (const auto& f : m.facets) blocks += f.colourIndex == kSupportIndex;
  EXPECT_EQ(blocks, 4);
}

// A support file that cannot be read stops the load (the model without its
// blocks would be another model); one that moves the model out of range is
// refused by the loader, naming the facet.
TEST(SupportFile, UnreadableOrRunawaySupportFilesStopTheLoad) {
  ScratchDir dir;
  writeFile(dir / "piped.stl", stlBytes(cube(0, 10, {0x8000 | 31})));
  ASSERT_EQ(mkfifo((dir / "piped.sup").c_str(), 0600), 0);
  writeFile(dir / "scaled.stl", stlBytes(cube(0, 10, {0x8000 | 31})));
  writeFile(dir / "scaled.sup", "S 1e6\n");
  writeFile(dir / "far.stl", stlBytes(cube(0, 10, {0x8000 | 31})));
  writeFile(dir / "far.sup", "B 0 0 0 1 1 2e6\n");
  struct Case {
    std::string model, words;
  } cases[] = {
      {"piped.stl", "piped.sup: it is not a regular file"},
      {"scaled.stl", "scaled.stl: facet 1 has a vertex at (0, 0, 1e+07) mm"},
      {"far.stl", "far.stl: support block facet 1 has a vertex at (0, 0, 2e+06) mm"},
  };
  for (const auto& c : cases) {
    SliceValues v;
    ColouredModel m;
    const LoadResult r = loadColouredStl(dir / c.model, v, m, nullptr);
    EXPECT_FALSE(r.ok) << c.model;
    EXPECT_NE(r.error.find(c.words), std::string::npos) << r.error;
    EXPECT_TRUE(m.facets.empty());
  }
}

namespace {
// A support file's lines applied one at a time, each to every facet there
// is: the plain reference of the file reader's single pass.
void applyLineByLine(const std::vector<std::string>& lines, Scene& s) {
  for (const auto& l : lines) s.line(l);
}

std::string joined(const std::vector<std::string>& lines) {
  std::string t;
  for (const auto& l : lines) t += l + "\n";
  return t;
}
}  // namespace

// Moves, scales and rotations interleaved with blocks at random: the file
// read in one pass gives the facets that line-by-line application gives.
TEST(SupportFile, OnePassEqualsLineByLineOnRandomFiles) {
  ScratchDir dir;
  std::uint32_t seed = 12345;
  auto next = [&](int n) {
    seed = seed * 1664525u + 1013904223u;
    return int((seed >> 8) % std::uint32_t(n));
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<std::string> lines;
    const int count = 1 + next(12);
    for (int i = 0; i < count; ++i) {
      switch (next(6)) {
        case 0: lines.push_back("B 0 0 0 " + std::to_string(1 + next(9)) + " 2 3"); break;
        case 1: lines.push_back("M " + std::to_string(next(21) - 10) + " 1.5 -2"); break;
        case 2: lines.push_back("S " + std::to_string(0.5 + next(4) * 0.25)); break;
        case 3: lines.push_back("RX " + std::to_string(next(360))); break;
        case 4: lines.push_back("RZ " + std::to_string(next(360))); break;
        default: lines.push_back("R " + std::to_string(next(360) - 180)); break;
      }
    }
    Scene plain, onePass;
    plain.oneFacet();
    onePass.oneFacet();
    applyLineByLine(lines, plain);
    writeFile(dir / "m.sup", joined(lines));
    std::string error;
    ASSERT_EQ(applySupportFile(dir / "m.sup", 1, onePass.values, onePass.model, onePass.notes, error),
              SupportFileRead::Applied);
    ASSERT_EQ(plain.model.facets.size(), onePass.model.facets.size());
    for (std::size_t f = 0; f < plain.model.facets.size(); ++f) {
      SCOPED_TRACE(joined(lines) + "facet " + std::to_string(f));
      const auto& a = plain.model.facets[f];
      const auto& b = onePass.model.facets[f];
      for (int k = 0; k < 3; ++k) {
        EXPECT_NEAR(a.v[k].x, b.v[k].x, 1e-3);
        EXPECT_NEAR(a.v[k].y, b.v[k].y, 1e-3);
        EXPECT_NEAR(a.v[k].z, b.v[k].z, 1e-3);
      }
      EXPECT_NEAR(a.normal.x, b.normal.x, 1e-4);
      EXPECT_NEAR(a.normal.y, b.normal.y, 1e-4);
      EXPECT_NEAR(a.normal.z, b.normal.z, 1e-4);
    }
    EXPECT_EQ(plain.model.supportScale, onePass.model.supportScale);
  }
}

// Each facet goes through the file's transforms once: 20,000 lines on
// 100,000 facets (two thousand million vertex rewrites, line by line) take
// no longer than reading the file.
TEST(SupportFile, ManyTransformLinesOnALargeModelAreAppliedOnce) {
  ScratchDir dir;
  Scene s;
  for (int i = 0; i < 100'000; ++i) s.oneFacet();
  std::string text;
  for (int i = 0; i < 10'000; ++i) text += "S 1.0001\nM 0.001 0 0\n";
  writeFile(dir / "m.sup", text);
  std::string error;
  ASSERT_EQ(applySupportFile(dir / "m.sup", 1, s.values, s.model, s.notes, error), SupportFileRead::Applied);
  // x: -1 scaled by 1.0001 and moved by -0.001, ten thousand times.
  double x = -1;
  for (int i = 0; i < 10'000; ++i) x = x * double(1.0001f) - 0.001;
  EXPECT_NEAR(s.model.facets.back().v[0].x, x, 1e-3);
}
