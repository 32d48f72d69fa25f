// The reduction in blocks: the asked fraction, a closed surface stays
// closed, an open one keeps its outline, and vertices written twice at one
// position do not tear the surface.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <numbers>

#include "reduce.h"

namespace simp {
namespace {

// A closed UV sphere: `rings` x 2 `rings` quads, poles fanned.
Mesh sphere(int rings, float r) {
  Mesh m;
  const int segs = 2 * rings;
  auto add = [&](double x, double y, double z) {
    m.positions.insert(m.positions.end(), {float(x), float(y), float(z)});
  };
  add(0, 0, r);
  for (int i = 1; i < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      const double th = std::numbers::pi * i / rings, ph = 2 * std::numbers::pi * j / segs;
      add(r * std::sin(th) * std::cos(ph), r * std::sin(th) * std::sin(ph), r * std::cos(th));
    }
  add(0, 0, -r);
  const unsigned south = unsigned(m.positions.size() / 3 - 1);
  auto at = [&](int i, int j) { return unsigned(1 + (i - 1) * segs + (j % segs)); };
  auto tri = [&](unsigned a, unsigned b, unsigned c) { m.indices.insert(m.indices.end(), {a, b, c}); };
  for (int j = 0; j < segs; ++j) tri(0, at(1, j), at(1, j + 1));
  for (int i = 1; i + 1 < rings; ++i)
    for (int j = 0; j < segs; ++j) {
      tri(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      tri(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  for (int j = 0; j < segs; ++j) tri(south, at(rings - 1, j + 1), at(rings - 1, j));
  return m;
}

// Every triangle with corners of its own (as a soup of facets is written).
Mesh unwelded(const Mesh& m) {
  Mesh s;
  for (unsigned k : m.indices) {
    s.positions.insert(s.positions.end(), m.positions.begin() + 3 * k, m.positions.begin() + 3 * k + 3);
    s.indices.push_back(unsigned(s.indices.size()));
  }
  return s;
}

using Position = std::array<float, 3>;
Position at(const Mesh& m, unsigned k) { return {m.positions[3 * k], m.positions[3 * k + 1], m.positions[3 * k + 2]}; }

// Closed: no border, every edge (between positions) used as often one way
// as the other. (The simplifier can fold a thin spot into two triangles
// back to back, so an edge may be used twice each way.)
void expectClosed(const Mesh& m, const std::vector<unsigned>& r) {
  std::map<std::pair<Position, Position>, int> edges;
  for (std::size_t t = 0; t + 2 < r.size(); t += 3)
    for (std::size_t k = 0; k < 3; ++k) ++edges[{at(m, r[t + k]), at(m, r[t + (k + 1) % 3])}];
  int open = 0;
  for (const auto& [e, n] : edges) {
    const auto back = edges.find({e.second, e.first});
    open += back == edges.end() || back->second != n;
  }
  EXPECT_EQ(open, 0);
}

void expectBox(const Mesh& m, const std::vector<unsigned>& r, float half, float tolerance) {
  Position lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
  for (unsigned k : r)
    for (std::size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], at(m, k)[a]);
      hi[a] = std::max(hi[a], at(m, k)[a]);
    }
  for (std::size_t a = 0; a < 3; ++a) {
    EXPECT_NEAR(lo[a], -half, tolerance);
    EXPECT_NEAR(hi[a], half, tolerance);
  }
}

TEST(SimplifierBlocks, ClosedSphereKeepsItsFractionBoxAndClosedSurface) {
  const Mesh m = sphere(160, 50.0f);  // about 100,000 triangles
  const std::size_t triangles = m.indices.size() / 3;
  // Whole, and in blocks of several sizes (two rounds each).
  for (std::size_t perBlock : {std::size_t(1) << 30, std::size_t(20000), std::size_t(3000)}) {
    SCOPED_TRACE(perBlock);
    const std::size_t target = triangles / 10 * 3;
    const std::vector<unsigned> r = reduceMesh(m, target, perBlock);
    EXPECT_NEAR(double(r.size()), double(target), 0.03 * double(target));
    expectClosed(m, r);
    expectBox(m, r, 50.0f, 2.0f);
  }
}

TEST(SimplifierBlocks, SoupIsTakenAsOneSurface) {
  const Mesh m = unwelded(sphere(100, 20.0f));
  const std::size_t target = m.indices.size() / 5 / 3 * 3;
  for (std::size_t perBlock : {std::size_t(1) << 30, std::size_t(5000)}) {
    SCOPED_TRACE(perBlock);
    const std::vector<unsigned> r = reduceMesh(m, target, perBlock);
    EXPECT_NEAR(double(r.size()), double(target), 0.03 * double(target));
    expectClosed(m, r);
    expectBox(m, r, 20.0f, 1.0f);
  }
}

TEST(SimplifierBlocks, OpenSheetKeepsItsOutline) {
  // 200 x 200 quads, slightly bumpy: the border stays where it is, every
  // one of its vertices kept.
  Mesh m;
  const int n = 200;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; j <= n; ++j) m.positions.insert(m.positions.end(), {float(j), float(i), 0.01f * float((i * 7 + j * 3) % 5)});
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const unsigned a = unsigned(i * (n + 1) + j);
      m.indices.insert(m.indices.end(), {a, a + 1, a + n + 2, a, a + n + 2, a + n + 1});
    }
  for (std::size_t perBlock : {std::size_t(1) << 30, std::size_t(4000)}) {
    SCOPED_TRACE(perBlock);
    const std::vector<unsigned> r = reduceMesh(m, m.indices.size() / 10 / 3 * 3, perBlock);
    std::map<unsigned, int> onBorder;
    for (unsigned k : r) {
      const Position p = at(m, k);
      if (p[0] == 0 || p[0] == n || p[1] == 0 || p[1] == n) onBorder[k] = 1;
    }
    EXPECT_EQ(onBorder.size(), std::size_t(4 * n));
    EXPECT_LT(r.size(), m.indices.size() / 8);
  }
}

}  // namespace
}  // namespace simp
