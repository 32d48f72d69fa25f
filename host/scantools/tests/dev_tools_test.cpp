// The developer generator and tests of the mesh-tools window: "scan" and
// "loadini" on small files (every printed line), the merge sort against
// std::sort, the temperature list and the frame crops.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QImage>

#include <algorithm>
#include <filesystem>
#include <random>
#include <sstream>

#include "host/core/bitmaps.h"
#include "host/core/testing/core_fixture.h"
#include "host/core/testing/file_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "host/scantools/capture_tools.h"
#include "host/scantools/dev_tools.h"

namespace ph {
namespace {

namespace fs = std::filesystem;
using test::readAll;
using test::writeAll;
using Lines = std::vector<std::string>;

class DevToolsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/devtoolsXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    f.core.s.file_folder = dir;
    tools.attachMenus(mesh.controls);
  }
  void TearDown() override { fs::remove_all(dir); }
  Lines log() const {
    const auto l = f.core.Memo1.lines();
    return Lines(l.begin(), l.end());
  }
  // The log lines from `from` on.
  Lines logFrom(std::size_t from) const {
    const Lines l = log();
    return Lines(l.begin() + long(std::min(from, l.size())), l.end());
  }

  CoreFixture f;
  FakeMeshHost host;
  MeshTools mesh{f.core, host};
  CaptureTools tools{f.core, mesh};
  DevTools& dev = tools.dev;
  std::string dir;
};

const char* kDeclarations =
    "// settings of the demo\n"
    "int layers = 12 ;\n"
    "\n"
    "bool fast = true;\n"
    "bool slow = TRUE;   \n"
    "double scale = 2.5;\n"
    "double tiny = 0.0004;\n"
    "txt name = \"hello\";\n"
    "txt odd = abc;\n"
    "int ramp[3] = {1,2,\n"
    "  3};\n"
    "int neg = -5;\n"
    "int noval;\n"
    "int offs[2] = {-4,7};\n"
    "int empty[4];\n";

const Lines kPass1 = {"int layers = 12 ;",      "bool fast = true ;",      "bool slow = false ;",
                      "float scale = 2.500 ;",  "float tiny = 0.000 ;",    "txt name = \"hello\" ; ",
                      "txt odd = \"b\" ; ",     "int ramp[3] = {1,2,3} ;", "int offs[3] = {0,4,7} ;",
                      "int empty[0] = {} ;"};

TEST_F(DevToolsTest, ScanPrintsDeclarationsRegistrationsAndSettingsLines) {
  writeAll(dir + "/voorbeeld.ini", kDeclarations);
  mesh.controls.at("scan1").click();
  Lines want = {"scan: empty has no element list of its own; recorded empty"};
  want.insert(want.end(), kPass1.begin(), kPass1.end());
  for (const char* l : {"addparint(\"layers\",&layers) ;", "addparbool(\"fast\",&fast) ;",
                        "addparbool(\"slow\",&slow) ;", "addparfloat(\"scale\",&scale) ;",
                        "addparfloat(\"tiny\",&tiny) ;", "addpartxt(\"name\",&name ) ; ", "addpartxt(\"odd\",&odd ) ; ",
                        "addpararr(\"ramp\", ramp,3);", "addpararr(\"offs\", offs,3);", "addpararr(\"empty\", empty,0);",
                        "layers = 12", "fast = true", "slow = false", "scale = 2.500", "tiny = 0.000",
                        "name = \"hello\"", "odd = \"b\"", "ramp = {1,2,3}", "offs = {0,4,7}", "empty = {}"})
    want.push_back(l);
  EXPECT_EQ(log(), want);
  ASSERT_EQ(dev.tables.declarations.size(), 10u);
  EXPECT_EQ(dev.tables.declarations[3].value, 2500);
  EXPECT_EQ(dev.tables.elements, (std::vector<int>{1, 2, 3, 0, 4, 7}));
}

TEST_F(DevToolsTest, LoadiniReadsTheSettingsLinesBackIntoTheSameDeclarations) {
  writeAll(dir + "/voorbeeld.ini", kDeclarations);
  ASSERT_TRUE(dev.scanDeclarations(dir + "/voorbeeld.ini"));
  const GeneratorTables scanned = dev.tables;
  // Pass 3 is the last third of what scan printed after its note.
  const Lines all = log();
  const Lines settings(all.end() - long(kPass1.size()), all.end());
  std::string text;
  for (const std::string& l : settings) text += l + "\n";
  writeAll(dir + "/voorbeeld2.ini", text);

  const std::size_t before = log().size();
  mesh.controls.at("loadini1").click();
  EXPECT_EQ(logFrom(before), kPass1);
  ASSERT_EQ(dev.tables.declarations.size(), scanned.declarations.size());
  for (std::size_t i = 0; i < scanned.declarations.size(); ++i) {
    const auto& a = scanned.declarations[i];
    const auto& b = dev.tables.declarations[i];
    EXPECT_EQ(a.name, b.name);
    EXPECT_EQ(a.kind, b.kind) << a.name;
    if (a.kind == "@[") {
      EXPECT_EQ(a.length, b.length) << a.name;
      EXPECT_TRUE(std::equal(scanned.elements.begin() + a.first, scanned.elements.begin() + a.first + a.length,
                             dev.tables.elements.begin() + b.first))
          << a.name;
    } else {
      EXPECT_EQ(a.value, b.value) << a.name;
    }
  }
}

TEST_F(DevToolsTest, LoadiniTakesValuesByTheirForm) {
  writeAll(dir + "/v2.ini", "a = TRUE\nb = 1.5\nc = word\nd = 16\ne = \"t\"\nf = {4, 5}\ng = false\n");
  ASSERT_TRUE(dev.loadSettingsLines(dir + "/v2.ini"));
  EXPECT_EQ(log(), (Lines{"bool a = true ;", "float b = 1.500 ;", "int d = 16 ;", "txt e = \"t\" ; ",
                          "int f[2] = {4,5} ;", "bool g = false ;"}));
}

TEST_F(DevToolsTest, TablesHoldMoreThanAHundredDeclarationsAndElements) {
  std::string text;
  for (int i = 0; i < 150; ++i) text += "int v" + std::to_string(i) + " = " + std::to_string(i * 3) + ";\n";
  text += "int big[250] = {";
  for (int i = 0; i < 250; ++i) text += (i ? "," : "") + std::to_string(i + 1000);
  text += "};\n";
  writeAll(dir + "/many.ini", text);
  ASSERT_TRUE(dev.scanDeclarations(dir + "/many.ini"));
  ASSERT_EQ(dev.tables.declarations.size(), 151u);
  ASSERT_EQ(dev.tables.elements.size(), 250u);
  const Lines l = log();
  ASSERT_EQ(l.size(), 3u * 151u);
  EXPECT_EQ(l[149], "int v149 = 447 ;");
  EXPECT_EQ(l[150].substr(0, 22), "int big[250] = {1000,1");
  EXPECT_EQ(l[150].substr(l[150].size() - 13), ",1248,1249} ;");
  EXPECT_EQ(l[301], "addpararr(\"big\", big,250);");
}

TEST_F(DevToolsTest, MissingFilesEndTheToolsNamingThem) {
  struct Case {
    const char* item;
    std::string file;
  } cases[] = {{"scan1", dir + "/voorbeeld.ini"},
               {"loadini1", dir + "/voorbeeld2.ini"},
               {"test1", dir + "/tempr8.log"},
               {"filmsplit1", dir + "/capture/witled/scherp.txt"}};
  for (const Case& c : cases) {
    f.core.Memo1.clear();
    f.ui.messages.clear();
    mesh.controls.at(c.item).click();
    EXPECT_EQ(f.ui.messages, Lines{"cannot read from file: " + c.file}) << c.item;
    ASSERT_EQ(log().size(), 1u) << c.item;
    EXPECT_NE(log()[0].find("cannot read from file: " + c.file), std::string::npos) << log()[0];
  }
  EXPECT_FALSE(fs::exists(dir + "/tempr8.gfk"));
}

TEST_F(DevToolsTest, DllDoesNothing) {
  mesh.controls.at("dll1").click();
  EXPECT_TRUE(log().empty());
}

TEST_F(DevToolsTest, TemperatureLogBecomesANumberedListAndTheMemoIsSaved) {
  writeAll(dir + "/tempr8.log",
           "10:01 tempr 40,51 x tempr 41,52 \n"
           "noise without the word\n"
           "\n"
           "10:02 tempr 42,53\r\n");
  // As while the window is shown.
  f.core.logInto(mesh.Memo1, [&] { mesh.controls.at("test1").click(); });
  EXPECT_EQ(mesh.Memo1.lines(), (Lines{"1 40 51", "2 41 52", "3 42 53"}));
  EXPECT_EQ(readAll(dir + "/tempr8.gfk"), mesh.Memo1.text());
}

// ---- the merge sort ----

TEST(MergeSortRange, SortsTheRangeLikeStdSortAndLeavesTheRestAlone) {
  std::mt19937 random(7);
  for (int round = 0; round < 2000; ++round) {
    const int n = int(random() % 70);
    const int spread = 1 + int(random() % (round % 2 ? 5 : 100000));  // many ties, or few
    std::vector<int> a(static_cast<std::size_t>(n));
    for (int& v : a) v = int(random() % unsigned(spread)) - spread / 2;
    int lo = n ? int(random() % unsigned(n)) : 0;
    int hi = n ? lo + int(random() % unsigned(n - lo)) : -1;
    switch (round % 4) {  // the array's own ends as often as inner ranges
      case 0: lo = 0; break;
      case 1: hi = n - 1; break;
      case 2: lo = 0, hi = n - 1; break;
      default: break;
    }
    std::vector<int> want = a;
    if (lo < hi) std::sort(want.begin() + lo, want.begin() + hi + 1);
    mergeSortRange(a, lo, hi);
    ASSERT_EQ(a, want) << "n=" << n << " lo=" << lo << " hi=" << hi;
  }
}

TEST(MergeSortRange, RangesPastTheArrayAreCut) {
  std::vector<int> a = {5, 4, 3, 2, 1};
  mergeSortRange(a, -3, 99);
  EXPECT_EQ(a, (std::vector<int>{1, 2, 3, 4, 5}));
  std::vector<int> none;
  mergeSortRange(none, 0, 10);
  EXPECT_TRUE(none.empty());
}

TEST_F(DevToolsTest, SortPrintsAHundredNumbersFifteenToALine) {
  f.core.memoPrintf("before");
  std::vector<int> numbers(100);
  std::mt19937 random(3);
  for (int& n : numbers) n = int(random() % 10000);
  dev.sortTest(numbers);
  const Lines l = log();
  ASSERT_EQ(l.size(), 7u);
  EXPECT_EQ(l[0].substr(0, 6), "before");
  std::vector<int> printed;
  for (std::size_t i = 0; i < l.size(); ++i) {
    const std::string body = i ? l[i] : l[0].substr(6);
    EXPECT_EQ(body.size(), i + 1 < l.size() ? 15u * 5u - 1u : 10u * 5u) << i;
    std::istringstream in(body);
    for (int v; in >> v;) printed.push_back(v);
  }
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(printed, numbers);
}

TEST_F(DevToolsTest, SortItemPrintsSortedNumbers) {
  mesh.controls.at("sort1").click();
  std::vector<int> printed;
  for (const std::string& line : log()) {
    std::istringstream in(line);
    for (int v; in >> v;) printed.push_back(v);
  }
  ASSERT_EQ(printed.size(), 100u);
  EXPECT_TRUE(std::is_sorted(printed.begin(), printed.end()));
  EXPECT_TRUE(std::all_of(printed.begin(), printed.end(), [](int v) { return v >= 0 && v <= 9999; }));
}

// ---- frame crops ----

// A smooth picture whose colour tells the place: red x / 3, green y / 2.
QImage placePicture(int w, int h) {
  QImage p = newBitmap32(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) setPixelAt(p, x, y, (x / 3) | (y / 2) << 8 | 64 << 16);
  return p;
}

bool near(int colour, int want, int tolerance = 12) {
  for (int shift : {0, 8, 16})
    if (std::abs((colour >> shift & 255) - (want >> shift & 255)) > tolerance) return false;
  return true;
}

TEST_F(DevToolsTest, FilmsplitCropsListedFramesClippedToThePicture) {
  const std::string root = dir + "/capture";
  fs::create_directories(root + "/witled");
  ASSERT_TRUE(placePicture(640, 480).save(QString::fromStdString(root + "/witled/frame.bmp")));
  ASSERT_TRUE(placePicture(100, 100).save(QString::fromStdString(root + "/witled/small.bmp")));
  writeAll(root + "/witled/scherp.txt",
           "frame.bmp;320 240\n"
           "\n"
           "frame.bmp\n"
           "frame.bmp; 900   -20 \t\n"
           "small.bmp;10 10\n"
           "missing.bmp;1 1\n"
           "frame.bmp;320 240\n");
  mesh.controls.at("filmsplit1").click();
  QImage k;
  // Centre (320, 240): the window starts at (170, 60).
  ASSERT_TRUE(loadPicture(k, root + "/witledb/k001.jpg"));
  EXPECT_EQ(k.size(), QSize(300, 360));
  EXPECT_TRUE(near(pixelAt(k, 10, 10), (180 / 3) | (70 / 2) << 8 | 64 << 16));
  EXPECT_TRUE(near(pixelAt(k, 290, 350), (460 / 3) | (410 / 2) << 8 | 64 << 16));
  // No centre: (150, 180), the window at the picture's corner.
  ASSERT_TRUE(loadPicture(k, root + "/witledb/k002.jpg"));
  EXPECT_TRUE(near(pixelAt(k, 10, 10), (10 / 3) | (10 / 2) << 8 | 64 << 16));
  // A centre far outside is clamped to (489, 180).
  ASSERT_TRUE(loadPicture(k, root + "/witledb/k003.jpg"));
  EXPECT_TRUE(near(pixelAt(k, 290, 10), (629 / 3) | (10 / 2) << 8 | 64 << 16));
  // A small picture: what lies beyond it stays white.
  ASSERT_TRUE(loadPicture(k, root + "/witledb/k004.jpg"));
  EXPECT_TRUE(near(pixelAt(k, 50, 50), (50 / 3) | (50 / 2) << 8 | 64 << 16));
  EXPECT_TRUE(near(pixelAt(k, 200, 300), 0xFFFFFF));
  // A missing picture ends the tool, naming it.
  EXPECT_FALSE(fs::exists(root + "/witledb/k005.jpg"));
  EXPECT_EQ(log(), Lines{"filmsplit: cannot read picture " + root + "/witled/missing.bmp"});
  for (const auto& e : fs::directory_iterator(root + "/witledb")) EXPECT_EQ(e.path().extension(), ".jpg");
}

}  // namespace
}  // namespace ph
