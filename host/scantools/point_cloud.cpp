#include "host/scantools/point_cloud.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <functional>
#include <string_view>

#include "host/core/host_core.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/obj_lines.h"

namespace ph {

namespace {

bool isVertexLine(std::string_view line) { return line.size() >= 2 && line[0] == 'v' && line[1] == ' '; }

float dist(const std::array<float, 3>& q, vect3 p) {
  return float(vect3Length(vect3{q[0], q[1], q[2]} - p));
}

// The texts of the lines seen so far, to leave out repeated ones: all texts
// in one buffer and a table of their places (a node and a string per line
// cost more than reading the line).
class SeenLines {
 public:
  // True when the text was not seen before.
  bool add(std::string_view line) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    const std::size_t h = std::hash<std::string_view>{}(line);
    for (std::size_t s = h & (slots_.size() - 1);; s = (s + 1) & (slots_.size() - 1)) {
      Slot& e = slots_[s];
      if (e.length == kEmpty) {
        e = {h, text_.size(), line.size()};
        text_.append(line);
        ++count_;
        return true;
      }
      if (e.hash == h && std::string_view(text_).substr(e.at, e.length) == line) return false;
    }
  }

 private:
  static constexpr std::size_t kEmpty = ~std::size_t(0);
  struct Slot {
    std::size_t hash = 0, at = 0, length = kEmpty;
  };
  void grow() {
    std::vector<Slot> old(std::max<std::size_t>(1024, slots_.size() * 2));
    old.swap(slots_);
    for (const Slot& e : old)
      if (e.length != kEmpty)
        for (std::size_t s = e.hash & (slots_.size() - 1);; s = (s + 1) & (slots_.size() - 1))
          if (slots_[s].length == kEmpty) {
            slots_[s] = e;
            break;
          }
  }
  std::string text_;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

}  // namespace

bool PointCloud::load(HostCore& core, const std::string& name, bool unique) {
  *this = PointCloud();
  sourceFile = name;
  LineReader in;
  if (!in.open(name)) {
    core.memoPrintf("no file %s", name);
    return false;
  }
  SeenLines seen;
  std::string_view line;
  while (in.next(line)) {
    if (!isVertexLine(line)) continue;
    if (unique && !seen.add(line)) continue;
    std::string_view rest = line.substr(2);
    float v[3];
    for (float& x : v) {
      const std::string_view word = cutWordView(rest);
      if (!parseFloatWord(word, x)) {
        core.memoPrintf("%s line %lld: '%s' is not a number", name, in.lineNumber(), std::string(word));
        *this = PointCloud();
        return false;
      }
    }
    for (int a = 0; a < 3; ++a) {
      if (!(v[a] > min_[a])) min_[a] = v[a];
      if (v[a] > max_[a]) max_[a] = v[a];
    }
    points.push_back({v[0], v[1], v[2]});
  }
  if (in.failed()) {
    core.memoPrintf("cannot read from file: %s", name);
    *this = PointCloud();
    return false;
  }
  buildIndex();
  return true;
}

void PointCloud::buildIndex() {
  const std::size_t n = points.size();
  // The list is read front-pushed and sorted stably by x, y, then z: equal
  // z falls back on y, x and the later point first.
  zOrder.resize(n);
  std::iota(zOrder.begin(), zOrder.end(), 0);
  std::sort(zOrder.begin(), zOrder.end(), [&](std::int32_t a, std::int32_t b) {
    const vect3 &p = points[std::size_t(a)], &q = points[std::size_t(b)];
    if (float(p.z) != float(q.z)) return float(p.z) < float(q.z);
    if (float(p.y) != float(q.y)) return float(p.y) < float(q.y);
    if (float(p.x) != float(q.x)) return float(p.x) < float(q.x);
    return a > b;
  });
  stored_.resize(n);
  zRankOf_.resize(n);
  for (std::size_t r = 0; r < n; ++r) {
    const vect3& p = points[std::size_t(zOrder[r])];
    stored_[r] = {float(p.x), float(p.y), float(p.z)};
    zRankOf_[std::size_t(zOrder[r])] = std::int32_t(r);
  }
  baseCell_ = 0.0;
  buildGrid(0.0);
}

void PointCloud::sizeCellsFor(double distance) {
  if (stored_.empty() || !(distance > cell_ * 1.25 || distance < cell_ * 0.8)) return;
  buildGrid(distance);
}

void PointCloud::buildGrid(double atLeast) {
  const std::size_t n = stored_.size();
  if (n == 0) return;
  double ext[3], largest = 0.0;
  for (int a = 0; a < 3; ++a) {
    ext[a] = double(max_[a]) - double(min_[a]);
    largest = std::max(largest, ext[a]);
  }
  if (baseCell_ == 0.0) {
    // About two points per occupied cell on a surface.
    const double area = 2.0 * (ext[0] * ext[1] + ext[1] * ext[2] + ext[2] * ext[0]);
    double s = 1.5 * std::sqrt(area / double(n));
    if (!(s > 0.0)) s = largest > 0.0 ? largest : 1.0;
    baseCell_ = std::max(s, largest / 2048.0);
  }
  // Asked-for cells from half the cloud's own size up to the box's half.
  double s = atLeast > 0.0 ? std::clamp(atLeast, 0.5 * baseCell_, double(kCloudBoxHalf)) : baseCell_;
  auto cells = [&](double size) {
    return (std::floor(ext[0] / size) + 1) * (std::floor(ext[1] / size) + 1) * (std::floor(ext[2] / size) + 1);
  };
  while (cells(s) > std::max(4.0 * double(n), 4096.0)) s *= 1.25;
  cell_ = s;
  for (int a = 0; a < 3; ++a) dims_[a] = int(std::floor(ext[a] / s)) + 1;
  const std::size_t total = std::size_t(dims_[0]) * std::size_t(dims_[1]) * std::size_t(dims_[2]);
  cellStart_.assign(total + 1, 0);
  std::vector<std::uint32_t> cellOfRank(n);
  for (std::size_t r = 0; r < n; ++r) {
    const auto& q = stored_[r];
    const std::size_t c =
        (std::size_t(cellOf(q[2], 2)) * std::size_t(dims_[1]) + std::size_t(cellOf(q[1], 1))) * std::size_t(dims_[0]) +
        std::size_t(cellOf(q[0], 0));
    cellOfRank[r] = std::uint32_t(c);
    ++cellStart_[c + 1];
  }
  for (std::size_t c = 0; c < total; ++c) cellStart_[c + 1] += cellStart_[c];
  // The points again in cell order, so a cell is read in one sweep.
  cellPoints_.resize(n);
  std::vector<std::uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
  for (std::size_t r = 0; r < n; ++r)
    cellPoints_[fill[cellOfRank[r]]++] = {stored_[r][0], stored_[r][1], stored_[r][2], std::int32_t(r)};
}

std::vector<std::uint32_t> PointCloud::searchOrder(const std::vector<vect3>& queries) const {
  std::vector<std::uint32_t> order(queries.size());
  if (stored_.empty()) {
    std::iota(order.begin(), order.end(), 0u);
    return order;
  }
  // Counted into the grid's cells, in cell order.
  std::vector<std::uint32_t> cellOfQuery(queries.size()), start(cellStart_.size() + 1, 0);
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const vect3& p = queries[i];
    cellOfQuery[i] = std::uint32_t(
        (std::size_t(cellOf(float(p.z), 2)) * std::size_t(dims_[1]) + std::size_t(cellOf(float(p.y), 1))) *
            std::size_t(dims_[0]) +
        std::size_t(cellOf(float(p.x), 0)));
    ++start[cellOfQuery[i] + 1];
  }
  for (std::size_t c = 1; c < start.size(); ++c) start[c] += start[c - 1];
  for (std::size_t i = 0; i < queries.size(); ++i) order[start[cellOfQuery[i]]++] = std::uint32_t(i);
  return order;
}

int PointCloud::cellOf(float v, int axis) const {
  const double t = std::floor((double(v) - double(min_[axis])) / cell_);
  if (!(t > 0.0)) return 0;
  if (t >= double(dims_[axis] - 1)) return dims_[axis] - 1;
  return int(t);
}

PointCloud::Box PointCloud::boxAround(vect3 p) const {
  Box b;
  const float c[3] = {float(p.x), float(p.y), float(p.z)};
  for (int a = 0; a < 3; ++a) {
    b.lo[a] = c[a] - kCloudBoxHalf;
    b.hi[a] = c[a] + kCloudBoxHalf;
  }
  return b;
}

bool PointCloud::inside(const Box& b, const std::array<float, 3>& q) {
  for (int a = 0; a < 3; ++a)
    if (q[std::size_t(a)] < b.lo[a] || !(q[std::size_t(a)] < b.hi[a])) return false;
  return true;
}

vect3 PointCloud::nearestReference(vect3 p) const {
  const Box b = boxAround(p);
  int best = -1;
  float bestD = 99999.0f;
  // Along z from the first point at or above the box's bottom.
  auto it = std::lower_bound(stored_.begin(), stored_.end(), b.lo[2],
                             [](const std::array<float, 3>& q, float v) { return q[2] < v; });
  for (; it != stored_.end() && (*it)[2] < b.hi[2]; ++it) {
    if (!inside(b, *it)) continue;
    const float d = dist(*it, p);
    if (d < bestD) {
      bestD = d;
      best = int(it - stored_.begin());
    }
  }
  if (best < 0) return noCloudPoint();
  const auto& q = stored_[std::size_t(best)];
  return {q[0], q[1], q[2]};
}

vect3 PointCloud::nearest(vect3 p) const {
  if (stored_.empty()) return noCloudPoint();
  const Box b = boxAround(p);
  int lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    if (b.hi[a] < min_[a] || b.lo[a] > max_[a]) return noCloudPoint();
    lo[a] = cellOf(b.lo[a], a);
    hi[a] = cellOf(b.hi[a], a);
  }
  const int c0[3] = {cellOf(float(p.x), 0), cellOf(float(p.y), 1), cellOf(float(p.z), 2)};
  int cc[3];
  for (int a = 0; a < 3; ++a) cc[a] = std::clamp(c0[a], lo[a], hi[a]);
  int best = -1;
  float bestD = 99999.0f;
  auto visit = [&](int i, int j, int k) {
    double gap2 = 0.0;
    const int idx[3] = {i, j, k};
    const double pv[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      const double b0 = double(min_[a]) + idx[a] * cell_, b1 = b0 + cell_;
      const double g = pv[a] < b0 ? b0 - pv[a] : pv[a] > b1 ? pv[a] - b1 : 0.0;
      gap2 += g * g;
    }
    if (best >= 0 && std::sqrt(gap2) > double(bestD) * (1.0 + 1e-5)) return;
    const std::size_t c = (std::size_t(k) * std::size_t(dims_[1]) + std::size_t(j)) * std::size_t(dims_[0]) + std::size_t(i);
    // A cell clear of the box's faces needs no test per point (the end
    // cells hold the points beyond the grid's bounds).
    bool whole = true;
    for (int a = 0; a < 3 && whole; ++a) {
      const double b0 = double(min_[a]) + idx[a] * cell_, b1 = b0 + cell_;
      whole = idx[a] > 0 && idx[a] < dims_[a] - 1 && b0 > double(b.lo[a]) + 1e-3 * cell_ && b1 < double(b.hi[a]) - 1e-3 * cell_;
    }
    for (std::uint32_t e = cellStart_[c]; e < cellStart_[c + 1]; ++e) {
      const CellPoint& cp = cellPoints_[e];
      const int r = cp.rank;
      const std::array<float, 3> q{cp.x, cp.y, cp.z};
      if (!whole && !inside(b, q)) continue;
      if (best >= 0) {
        // Clearly farther than the best: no root needed.
        const double dx = double(q[0]) - pv[0], dy = double(q[1]) - pv[1], dz = double(q[2]) - pv[2];
        const double limit = double(bestD) * (1.0 + 1e-5);
        if (dx * dx + dy * dy + dz * dz > limit * limit) continue;
      }
      const float d = dist(q, p);
      if (d < bestD || (d == bestD && best >= 0 && r < best)) {
        if (d < bestD || r < best) {
          bestD = d;
          best = r;
        }
      }
    }
  };
  const int maxD = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}) + 1;
  const double pv[3] = {p.x, p.y, p.z};
  for (int d = 0; d <= maxD; ++d) {
    if (best >= 0 && d > 0) {
      // Every point still unseen lies in a cell of the box beyond the
      // cells within d - 1 of the centre cell on some side.
      double bound = 1e300;
      for (int a = 0; a < 3; ++a) {
        const int lowCell = cc[a] - (d - 1), highCell = cc[a] + (d - 1);
        if (lowCell > lo[a]) bound = std::min(bound, pv[a] - (double(min_[a]) + lowCell * cell_));
        if (highCell < hi[a]) bound = std::min(bound, double(min_[a]) + (highCell + 1) * cell_ - pv[a]);
      }
      if (bound > double(bestD) * (1.0 + 1e-5)) break;
    }
    for (int k = std::max(cc[2] - d, lo[2]); k <= std::min(cc[2] + d, hi[2]); ++k) {
      const bool kFace = std::abs(k - cc[2]) == d;
      for (int j = std::max(cc[1] - d, lo[1]); j <= std::min(cc[1] + d, hi[1]); ++j) {
        if (kFace || std::abs(j - cc[1]) == d) {
          for (int i = std::max(cc[0] - d, lo[0]); i <= std::min(cc[0] + d, hi[0]); ++i) visit(i, j, k);
        } else {
          if (cc[0] - d >= lo[0]) visit(cc[0] - d, j, k);
          if (d > 0 && cc[0] + d <= hi[0]) visit(cc[0] + d, j, k);
        }
      }
    }
  }
  if (best < 0) return noCloudPoint();
  const auto& q = stored_[std::size_t(best)];
  return {q[0], q[1], q[2]};
}

bool PointCloud::save(HostCore& core, const std::string& output) const {
  LineReader in;
  if (!in.open(sourceFile)) {
    core.memoPrintf("no file %s", sourceFile);
    return false;
  }
  TextOutFile out(core, output);
  if (!out.open()) return false;
  std::size_t next = 0;
  std::string_view line;
  while (in.next(line)) {
    if (!isVertexLine(line)) {
      out.putLine(line);
      continue;
    }
    if (next >= points.size()) {
      core.memoPrintf("too few points");
      continue;
    }
    const vect3 p = points[next++];
    out.putLine(plat::format("v %g %g %g", p.x, p.y, p.z));
  }
  if (in.failed()) {
    core.memoPrintf("cannot read from file: %s", sourceFile);
    return false;
  }
  return out.commit();
}

vect3 closestPointOnTriangle(vect3 v0, vect3 v1, vect3 v2, vect3 p) {
  using F3 = std::array<float, 3>;
  const F3 a0{float(v0.x), float(v0.y), float(v0.z)}, a1{float(v1.x), float(v1.y), float(v1.z)},
      a2{float(v2.x), float(v2.y), float(v2.z)}, pp{float(p.x), float(p.y), float(p.z)};
  F3 e0, e1, dd;
  for (std::size_t i = 0; i < 3; ++i) {
    e0[i] = a1[i] - a0[i];
    e1[i] = a2[i] - a0[i];
    dd[i] = a0[i] - pp[i];
  }
  auto dot = [](const F3& x, const F3& y) { return x[0] * y[0] + x[1] * y[1] + x[2] * y[2]; };
  auto clamp01 = [](float x) { return x < 0.0f ? 0.0f : x > 1.0f ? 1.0f : x; };
  const float a = dot(e0, e0), b = dot(e0, e1), c = dot(e1, e1), d = dot(e0, dd), e = dot(e1, dd);
  const float det = a * c - b * b;
  float s = b * e - c * d, t = b * d - a * e;
  if (s + t < det) {
    if (s < 0.0f && t < 0.0f) {
      if (d < 0.0f) {
        s = clamp01(-d / a);
        t = 0.0f;
      } else {
        s = 0.0f;
        t = clamp01(-e / c);
      }
    } else if (s < 0.0f) {
      s = 0.0f;
      t = clamp01(-e / c);
    } else if (t < 0.0f) {
      s = clamp01(-d / a);
      t = 0.0f;
    } else {
      s /= det;
      t /= det;
    }
  } else {
    if (s < 0.0f) {
      if (c + e > b + d) {
        s = clamp01((c + e - b - d) / (a - 2 * b + c));
        t = 1.0f - s;
      } else {
        s = 0.0f;
        t = clamp01(-e / c);
      }
    } else if (t < 0.0f) {
      if (b + e < a + d) {
        s = clamp01((c + e - b - d) / (a - 2 * b + c));
        t = 1.0f - s;
      } else {
        s = clamp01(-d / a);
        t = 0.0f;
      }
    } else {
      s = clamp01((c + e - b - d) / (a - 2 * b + c));
      t = 1.0f - s;
    }
  }
  F3 r;
  for (std::size_t i = 0; i < 3; ++i) r[i] = a0[i] + s * e0[i] + t * e1[i];
  return {r[0], r[1], r[2]};
}

}  // namespace ph
