// POV scenes to coloured STL: the tokens, vectors and colours of a scene, the
// facets written, and what happens to bad scenes and to the files around them.
#include "slicer/pov_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <sstream>

#include "fake_slicer_ui.h"
#include "p3d_decode.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "slicer/command_line.h"
#include "slicer/slicer_core.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

std::vector<std::string> tokensOf(const std::string& text) {
  std::istringstream in(text);
  PovReader r(in);
  std::vector<std::string> out;
  for (std::string t = r.nextPovToken(); !t.empty(); t = r.nextPovToken()) out.push_back(t);
  return out;
}

bool exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

float floatAt(const std::string& b, std::size_t off) {
  float f;
  std::memcpy(&f, b.data() + off, 4);
  return f;
}

// One facet of a written STL: normal, three vertices, attribute.
struct Facet {
  float n[3], v[3][3];
  std::uint16_t attr;
};
Facet facetAt(const std::string& stl, int i) {
  const std::size_t o = 84 + std::size_t(i) * 50;
  Facet f{};
  for (int k = 0; k < 3; ++k) f.n[k] = floatAt(stl, o + 4 * k);
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 3; ++k) f.v[c][k] = floatAt(stl, o + 12 + 12 * c + 4 * k);
  std::memcpy(&f.attr, stl.data() + o + 48, 2);
  return f;
}
std::uint32_t facetCount(const std::string& stl) {
  std::uint32_t n;
  std::memcpy(&n, stl.data() + 80, 4);
  return n;
}

const char* kOneFacet =
    "// red, one facet\n"
    "rgb <1,0,0>\n"
    "triangle { <0,0,0>, <0,0,1>, <1,0,0>, <0,0,1>, <0,1,0>, <0,0,1> }\n";

PovOptions batch() {
  PovOptions o;
  o.interactive = false;
  return o;
}

}  // namespace

TEST(PovTokens, SplitAsTheSceneReads) {
  struct Case {
    const char* text;
    std::vector<std::string> tokens;
  } cases[] = {
      {"triangle{<1,2,3>}", {"triangle", "{", "<1,2,3>", "}"}},
      {"smooth_triangle {", {"smooth_triangle", "{"}},
      {"\t,, x_1 -2.5e3", {"x_1", "-2.5e3"}},
      {"a // b c\nd", {"a", "d"}},
      {"a /* b */ c", {"a", "c"}},                        // a comment closed on its own line
      {"a /* b\n c */ d\ne", {"a", "d", "e"}},            // and over lines
      {"a /* never closed\nb\n", {"a"}},
      {"<1,\n 2,\r\n 3> next", {"<1,  2,  3>", "next"}},  // a vector over lines is one token
      {"a\r\nb\r\n", {"a", "b"}},
      {"#declare X=1;", {"#", "declare", "X", "=", "1", ";"}},
      {"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(tokensOf(c.text), c.tokens) << c.text;
}

TEST(PovTokens, LinesAndTokensOfAnyLengthAreReadWhole) {
  std::string line, number = "12." + std::string(400, '3');
  for (int i = 0; i < 200; ++i) line += "<" + std::to_string(i) + ",1,2>, ";
  line += "<" + number + ",7,8>";
  auto t = tokensOf(line + "\nend");
  ASSERT_EQ(t.size(), 202u);
  EXPECT_EQ(t[199], "<199,1,2>");
  EXPECT_EQ(t[201], "end");
  std::string error;
  auto v = parseVector(t[200], error);
  ASSERT_TRUE(v) << error;
  EXPECT_DOUBLE_EQ((*v)[0], std::strtod(number.c_str(), nullptr));
  EXPECT_EQ((*v)[1], 7);
}

TEST(PovTokens, HeaderLineMakesSeparatorsBlank) {
  std::istringstream in("Scene <a,b>\nnext");
  PovReader r(in);
  EXPECT_EQ(r.readPovLine(), "Scene  a b  ");
  EXPECT_EQ(r.nextPovToken(), "next");
  EXPECT_EQ(r.lineNumber(), 2);
  EXPECT_TRUE(r.ended());
}

TEST(PovVectors, NumbersAndColours) {
  struct Case {
    const char* token;
    bool ok;
    PovVector v;
  } vectors[] = {
      {"<1,2,3>", true, {1, 2, 3}},
      {"<-1.5e2, .5, 0>", true, {-150, 0.5, 0}},
      {"<1 2 3>", true, {1, 2, 3}},
      {"<1,2>", false, {}},
      {"<1,x,3>", false, {}},  // a letter is no number
      {"<1,2-3,4>", false, {}},
      {"<1e999,0,0>", false, {}},
      {"<1e39,0,0>", false, {}},  // beyond a float of the STL
      {"}", false, {}},
      {"", false, {}},
  };
  for (const auto& c : vectors) {
    std::string error;
    auto v = parseVector(c.token, error);
    EXPECT_EQ(bool(v), c.ok) << c.token;
    if (v && c.ok) {
      EXPECT_EQ(*v, c.v) << c.token;
    }
    if (!c.ok) {
      EXPECT_NE(error.find(c.token), std::string::npos) << error;
    }
  }
  struct Colour {
    const char* token;
    int colour;  // -1: refused
  } colours[] = {
      {"<1,0,0>", 31744},
      {"<0.5,0.5,0.5>", 16 * 1024 + 16 * 32 + 16},  // 15.5 rounds to even
      {"<0,1,1,0.3>", 31 * 32 + 31},                 // rgbf: the fourth number is not a channel
      {"Red", 0},
      {"<1.1,0,0>", -1},
      {"<0,-0.1,0>", -1},
      {"<1,0>", -1},
  };
  for (const auto& c : colours) {
    std::string error;
    auto v = povColour(c.token, error);
    if (c.colour < 0) EXPECT_FALSE(v) << c.token;
    else EXPECT_EQ(v, c.colour) << c.token << " " << error;
  }
}

TEST(PovConvert, OneRedFacetWithItsNormalAndCornerOrder) {
  ScratchDir dir;
  writeFile(dir / "one.pov", kOneFacet);
  auto r = convertPov(dir / "one.pov", dir / "one.stl", batch());
  ASSERT_TRUE(r.ok) << r.error;
  const std::string stl = readFile(dir / "one.stl");
  ASSERT_EQ(stl.size(), 84u + 50u);
  EXPECT_EQ(stl.substr(0, 24), std::string("// red  one facet ") + std::string(6, '\0'));
  EXPECT_EQ(facetCount(stl), 1u);
  const Facet f = facetAt(stl, 0);
  EXPECT_EQ(f.attr, 0xFC00);
  const float n[3] = {0, 1, 0}, v[3][3] = {{1, 0, 0}, {0, 0, 0}, {0, 0, 1}};
  for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(f.n[k], n[k]);
  for (int c = 0; c < 3; ++c)
    for (int k = 0; k < 3; ++k) EXPECT_FLOAT_EQ(f.v[c][k], v[c][k]) << c << k;
  EXPECT_FALSE(exists(dir / "one.pov"));  // a batch run takes the scene away
  EXPECT_FALSE(exists(dir / "one.stl.part"));
}

TEST(PovConvert, ManyFacetsOnOneLongLineColourChangesAndDegenerateFacets) {
  ScratchDir dir;
  std::string scene = "header\npigment{rgb<0,0,1>} ";
  for (int i = 0; i < 30; ++i)
    scene += "triangle{<" + std::to_string(i) + ",0,0>,<0,0,1>,<" + std::to_string(i + 1) +
             ",0,0>,<0,0,1>,<0,1,0>,<0,0,1>} ";
  scene += "\ncolor rgbf <0,1,0,0.5>\nsmooth_triangle { <2,2,2> <0,0,1> <2,2,2> <0,0,1> <2,2,2> <0,0,1> }\n";
  writeFile(dir / "s.pov", scene);
  auto r = convertPov(dir / "s.pov", dir / "s.stl", batch());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.facets, 31);
  const std::string stl = readFile(dir / "s.stl");
  ASSERT_EQ(stl.size(), 84u + 31u * 50u);
  EXPECT_EQ(facetCount(stl), 31u);
  EXPECT_EQ(facetAt(stl, 29).attr, 0x8000 | 31);
  EXPECT_FLOAT_EQ(facetAt(stl, 29).v[0][0], 30);  // the third corner comes first
  const Facet last = facetAt(stl, 30);
  EXPECT_EQ(last.attr, 0x8000 | 31 << 5);
  for (float c : last.n) EXPECT_EQ(c, 0.0f);  // no area: no normal
}

TEST(PovConvert, BadScenesAreRefusedWithFileAndLineAndLeaveNoStl) {
  struct Case {
    const char* scene;
    const char* says;
  } cases[] = {
      {"head\n\ntriangle { <0,0,0>, <0,0,1>, <1,0>, <0,0,1>, <0,1,0>, <0,0,1> }\n", "bad.pov line 3"},
      {"head\nrgb <2,0,0>\n", "bad.pov line 2"},
      {"head\ntriangle { <0,0,0>, <0,0,1>,\n<1,0,0>, <0,0,1> }\n", "bad.pov line 3"},
      {"head\ntriangle { <0,0,0>, <0,0,1>", "bad.pov line 2"},  // breaks off at the end
      {"head\nsphere { <0,0,0>, 1 }\n", "holds no triangle"},
  };
  for (const auto& c : cases) {
    ScratchDir dir;
    writeFile(dir / "bad.pov", c.scene);
    writeFile(dir / "bad.stl", "an older model");
    auto r = convertPov(dir / "bad.pov", dir / "bad.stl", batch());
    EXPECT_FALSE(r.ok) << c.scene;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
    EXPECT_EQ(readFile(dir / "bad.stl"), "an older model");
    EXPECT_FALSE(exists(dir / "bad.stl.part"));
    EXPECT_TRUE(exists(dir / "bad.pov"));  // the scene is kept
  }
}

// A vector that never closes is read once, line by line (a million lines
// took minutes when every added line searched the whole vector again), and
// the message names the line it began on.
TEST(PovConvert, AnUnclosedVectorOverManyLinesIsReadOnceAndNamesItsFirstLine) {
  ScratchDir dir;
  std::string scene = "head\ntriangle { <0,0,0>, <0,0,1>, <1,0,0>, <0,0,1>, <0,1,0>, <0,0,1> }\n\ntriangle { <0,0,0\n";
  scene.reserve(scene.size() + 2'000'000);
  for (int i = 0; i < 1'000'000; ++i) scene += "1\n";
  writeFile(dir / "open.pov", scene);
  auto r = convertPov(dir / "open.pov", dir / "open.stl", batch());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("open.pov line 4: the vector begun on this line is not closed with \">\""), std::string::npos)
      << r.error;
  EXPECT_FALSE(exists(dir / "open.stl"));
}

TEST(PovConvert, FilesThatCannotBeReadOrWritten) {
  ScratchDir dir;
  auto r = convertPov(dir / "missing.pov", dir / "missing.stl", batch());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("missing.pov"), std::string::npos);
  EXPECT_FALSE(exists(dir / "missing.stl"));

  // A pipe (or a device) named as the scene would be read for ever.
  ASSERT_EQ(::mkfifo((dir / "pipe.pov").c_str(), 0600), 0);
  r = convertPov(dir / "pipe.pov", dir / "pipe.stl", batch());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("cannot read the POV file " + (dir / "pipe.pov") + ": it is not a regular file"),
            std::string::npos)
      << r.error;
  EXPECT_FALSE(exists(dir / "pipe.stl"));

  writeFile(dir / "one.pov", kOneFacet);
  ASSERT_EQ(::mkdir((dir / "one.stl").c_str(), 0777), 0);  // the STL's name is taken by a folder
  r = convertPov(dir / "one.pov", dir / "one.stl", batch());
  EXPECT_FALSE(r.ok);
  EXPECT_NE(r.error.find("cannot write " + (dir / "one.stl")), std::string::npos) << r.error;
  EXPECT_TRUE(exists(dir / "one.pov"));
  EXPECT_FALSE(exists(dir / "one.stl.part"));
}

TEST(PovConvert, TheSceneIsDeletedInABatchRunOrWhenTheOperatorSaysYes) {
  struct Case {
    bool interactive, yes, deleted;
  } cases[] = {{false, false, true}, {true, false, false}, {true, true, true}};
  for (const auto& c : cases) {
    ScratchDir dir;
    writeFile(dir / "one.pov", kOneFacet);
    int asked = 0;
    PovOptions o;
    o.interactive = c.interactive;
    o.confirmDelete = [&] {
      ++asked;
      return c.yes;
    };
    ASSERT_TRUE(convertPov(dir / "one.pov", dir / "one.stl", o).ok);
    EXPECT_EQ(exists(dir / "one.pov"), !c.deleted);
    EXPECT_EQ(asked, c.interactive ? 1 : 0);
  }
}

TEST(PovConvert, ABatchRunSlicesTheScene) {
  ScratchDir dir;
  // A 10 mm cube of the scene's triangles, two to a side.
  std::string scene = "cube\nrgb <1,0,0>\n";
  const int v[8][3] = {{0, 0, 0},  {10, 0, 0},  {10, 10, 0},  {0, 10, 0},
                       {0, 0, 10}, {10, 0, 10}, {10, 10, 10}, {0, 10, 10}};
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};  // outward
  for (const auto& f : faces) {
    scene += "triangle {";
    for (int k : f) {
      scene += " <" + std::to_string(v[k][0]) + "," + std::to_string(v[k][1]) + "," + std::to_string(v[k][2]);
      scene += ">, <0,0,1>,";
    }
    scene += " }\n";
  }
  writeFile(dir / "cube.pov", scene);

  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core(2);
  SlicerApp app(clock, ui, core);
  app.formCreate(
      {"-F" + (dir / "cube.pov"), "-L500", "-K" + (dir / "cube.p3d"), "-I" + std::to_string(200000 + getpid())},
      dir.path());
  clock.advance(100);
  EXPECT_EQ(app.exitStatus(), kExitOk);
  EXPECT_EQ(app.state().modelName, dir / "cube.stl");
  EXPECT_NEAR(app.state().boxZ, 10.35, 1e-4);
  EXPECT_FALSE(exists(dir / "cube.pov"));
  const std::string job = readFile(dir / "cube.p3d");
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(job, pages, error)) << error;
  ASSERT_EQ(pages.size(), 22u);  // 0 to 10.5 mm in layers of 0.5 mm
  // A middle layer is solid red across its 10 mm (118 dots).
  int inked = 0;
  for (const auto& row : pages[10].rows) inked += !row.empty();
  EXPECT_NEAR(inked, 118, 2);
  plat::NamedEvent::remove(readyEventName(200000 + getpid()));
  EXPECT_EQ(job.substr(job.size() - 2), "\r\n");
}
