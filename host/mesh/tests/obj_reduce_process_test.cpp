// The simplifier program and the "objreduce" menu that starts it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <numbers>
#include <sstream>
#include <thread>

#include "host/mesh/obj_reduce.h"
#include "host/mesh/tests/mesh_fixture.h"
#include "platform/process.h"

namespace ph::test {
namespace {

struct Mesh {
  std::vector<std::array<double, 3>> v;
  std::vector<std::array<int, 3>> f;
};

// A closed UV sphere with colours; `rings` x 2 `rings` quads, poles fanned.
std::string sphereObj(int rings, double r, Mesh* mesh = nullptr) {
  std::ostringstream o;
  const int segs = 2 * rings;
  Mesh m;
  m.v.push_back({0, 0, r});
  for (int i = 1; i < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      const double th = std::numbers::pi * i / rings, ph = 2 * std::numbers::pi * j / segs;
      m.v.push_back({r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), r * std::cos(th)});
    }
  m.v.push_back({0, 0, -r});
  const int south = int(m.v.size());
  auto at = [&](int i, int j) { return 2 + (i - 1) * segs + (j % segs); };
  for (int j = 0; j < segs; ++j) m.f.push_back({1, at(1, j), at(1, j + 1)});
  for (int i = 1; i + 1 < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      m.f.push_back({at(i, j), at(i + 1, j), at(i + 1, j + 1)});
      m.f.push_back({at(i, j), at(i + 1, j + 1), at(i, j + 1)});
    }
  for (int j = 0; j < segs; ++j) m.f.push_back({south, at(rings - 1, j + 1), at(rings - 1, j)});
  for (const auto& p : m.v) o << "v " << p[0] << " " << p[1] << " " << p[2] << " 0.5 0.25 " << (p[2] > 0 ? 1 : 0) << "\n";
  for (const auto& t : m.f) o << "f " << t[0] << " " << t[1] << " " << t[2] << "\n";
  if (mesh) *mesh = m;
  return o.str();
}

Mesh readObj(const std::string& path) {
  Mesh m;
  std::ifstream in(path);
  for (std::string l; std::getline(in, l);) {
    std::istringstream s(l);
    std::string w;
    s >> w;
    if (w == "v") {
      std::array<double, 3> p;
      s >> p[0] >> p[1] >> p[2];
      m.v.push_back(p);
    } else if (w == "f") {
      std::array<int, 3> t;
      s >> t[0] >> t[1] >> t[2];
      m.f.push_back(t);
    }
  }
  return m;
}

class SimplifierTest : public MeshTest {
 protected:
  ObjReduce& reduce = tools.objReduce;
  SimplifierTest() { reduce.simplifierProgram = SIMPCMD_PATH; }
  // Ticks the Waitreduce timer until it stops; the simplifier is a real
  // process, so each tick waits a little real time for it (at most a
  // minute in all).
  void waitForTheSimplifier() {
    for (int i = 0; i < 600 && reduce.waiting(); ++i) {
      clock.advance(100);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }
};

TEST_F(SimplifierTest, SphereKeepsItsFractionOutlineAndClosedSurface) {
  writeText(at("ball.obj"), sphereObj(40, 50.0));
  const Mesh source = readObj(at("ball.obj"));
  const int status = plat::waitProcess(
      plat::spawnProcess({SIMPCMD_PATH, at("ball.obj"), at("small.obj"), "0.20"}).pid, 60000).value_or(-1);
  ASSERT_EQ(status, 0);
  EXPECT_FALSE(std::filesystem::exists(at("small.obj.part")));
  const Mesh m = readObj(at("small.obj"));
  const double want = 0.20 * double(source.f.size());
  EXPECT_NEAR(double(m.f.size()), want, 0.03 * want);
  // Closed: every edge is shared by exactly two faces, once each way.
  std::map<std::pair<int, int>, int> edges;
  for (const auto& t : m.f)
    for (int k = 0; k < 3; ++k) ++edges[{t[std::size_t(k)], t[std::size_t((k + 1) % 3)]}];
  for (const auto& [e, n] : edges) {
    EXPECT_EQ(n, 1);
    EXPECT_EQ(edges.count({e.second, e.first}), 1u) << e.first << " " << e.second;
  }
  std::array<double, 3> lo{1e9, 1e9, 1e9}, hi{-1e9, -1e9, -1e9};
  for (const auto& p : m.v)
    for (std::size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], p[a]);
      hi[a] = std::max(hi[a], p[a]);
    }
  for (std::size_t a = 0; a < 3; ++a) {
    EXPECT_NEAR(lo[a], -50.0, 2.5);
    EXPECT_NEAR(hi[a], 50.0, 2.5);
  }
}

TEST_F(SimplifierTest, OpenSurfaceKeepsItsBorder) {
  // A flat square of 20 x 20 quads: its outline stays where it is.
  std::ostringstream o;
  for (int i = 0; i <= 20; ++i)
    for (int j = 0; j <= 20; ++j) o << "v " << j << " " << i << " " << 0.01 * ((i * 7 + j * 3) % 5) << "\n";
  for (int i = 0; i < 20; ++i)
    for (int j = 0; j < 20; ++j) {
      const int a = i * 21 + j + 1;
      o << "f " << a << " " << a + 1 << " " << a + 22 << "\nf " << a << " " << a + 22 << " " << a + 21 << "\n";
    }
  writeText(at("sheet.obj"), o.str());
  ASSERT_EQ(plat::waitProcess(plat::spawnProcess({SIMPCMD_PATH, at("sheet.obj"), at("s.obj"), "0.10"}).pid, 60000), 0);
  const Mesh m = readObj(at("s.obj"));
  int corners = 0;
  for (const auto& p : m.v) corners += (p[0] == 0 || p[0] == 20) && (p[1] == 0 || p[1] == 20);
  EXPECT_EQ(corners, 4);
  int onBorder = 0;
  for (const auto& p : m.v) onBorder += p[0] == 0 || p[0] == 20 || p[1] == 0 || p[1] == 20;
  EXPECT_EQ(onBorder, 80);
}

TEST_F(SimplifierTest, FailureEndsWithStatus1AndNoOutput) {
  writeText(at("bad.obj"), "v 0 0 0\nv 1 0 0\nf 1 2 9\n");
  for (const auto& args : std::vector<std::vector<std::string>>{
           {SIMPCMD_PATH, at("bad.obj"), at("o.obj"), "0.5"},
           {SIMPCMD_PATH, at("missing.obj"), at("o.obj"), "0.5"},
           {SIMPCMD_PATH, at("bad.obj"), at("o.obj"), "2"}}) {
    EXPECT_EQ(plat::waitProcess(plat::spawnProcess(args).pid, 60000), 1) << args[1] << " " << args[3];
    EXPECT_FALSE(std::filesystem::exists(at("o.obj")));
  }
}

// The menu: the simplifier runs, the reduced file is matched when it is
// whole, and every reduced vertex carries a colour of the sphere.
TEST_F(SimplifierTest, MenuReducesAndColours) {
  writeText(at("ball.obj"), sphereObj(30, 40.0));
  ui.inputs = {at("ball.obj"), at("coloured.obj"), "", "25"};
  reduce.startObjReduction();
  EXPECT_TRUE(reduce.waiting());
  EXPECT_TRUE(logHas("uncolored.obj 0.25"));
  waitForTheSimplifier();
  EXPECT_FALSE(reduce.waiting());
  ASSERT_TRUE(logHas("ready in")) << core.Memo1.text();
  const Mesh red = readObj(at("uncolored.obj"));
  std::ifstream in(at("coloured.obj"));
  int vertices = 0;
  for (std::string l; std::getline(in, l);) {
    if (l.rfind("v ", 0) != 0) continue;
    ++vertices;
    std::istringstream s(l.substr(2));
    double x, y, z, r, g, b;
    ASSERT_TRUE(s >> x >> y >> z >> r >> g >> b) << l;
    EXPECT_DOUBLE_EQ(r, 0.5);
    EXPECT_DOUBLE_EQ(g, 0.25);
    if (z > 5) EXPECT_DOUBLE_EQ(b, 1.0);
    if (z < -5) EXPECT_DOUBLE_EQ(b, 0.0);
  }
  EXPECT_EQ(vertices, int(red.v.size()));
}

TEST_F(SimplifierTest, SimplifierThatFailsOrHangsIsToldAndNotAwaited) {
  writeText(at("ball.obj"), "v 0 0 0 1 1 1\n");  // no faces: the simplifier refuses it
  ui.inputs = {at("ball.obj"), at("out.obj"), "", "10"};
  reduce.startObjReduction();
  waitForTheSimplifier();
  EXPECT_FALSE(reduce.waiting());
  EXPECT_TRUE(logHas("ended with status 1 without writing"));
  EXPECT_FALSE(std::filesystem::exists(at("out.obj")));

  reduce.simplifierProgram = at("no such program");
  ui.inputs = {at("ball.obj"), at("out.obj"), "", "10"};
  reduce.startObjReduction();
  EXPECT_FALSE(reduce.waiting());
  EXPECT_TRUE(logHas("cannot start"));

  writeText(at("slow.sh"), "#!/bin/sh\nexec sleep 30\n");
  ::chmod(at("slow.sh").c_str(), 0755);
  reduce.simplifierProgram = at("slow.sh");
  reduce.simplifierLimitMs = 2000;
  ui.inputs = {at("ball.obj"), at("out.obj"), "", "10"};
  reduce.startObjReduction();
  EXPECT_TRUE(reduce.waiting());
  clock.advance(1000);
  EXPECT_TRUE(reduce.waiting());
  clock.advance(1000);
  EXPECT_FALSE(reduce.waiting());
  EXPECT_TRUE(logHas("ran longer than 2 s and was stopped"));
}

}  // namespace
}  // namespace ph::test
