#include "slicer/layer_slicer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "slicer/dots.h"
#include "slicer/palette.h"

namespace lt {

namespace {

constexpr std::size_t kBlock = 64;

float placedBottom(const FacetRecord& f, const Vec3f& off) { return f.zBottom + off.z; }
float placedTop(const FacetRecord& f, const Vec3f& off) { return f.zTop + off.z; }

// The corners of a facet placed in the build room.
void placeCorners(const FacetRecord& r, const Vec3f& off, NearFacet& n) {
  for (int k = 0; k < 3; ++k) {
    n.x[k] = r.v[k].x + off.x;
    n.y[k] = r.v[k].y + off.y;
    n.z[k] = r.v[k].z + off.z;
  }
}

// What makes a facet: its normal, corners and colour, as bits (so -0 and 0
// differ, and a NaN equals only the same NaN: bits that are equal give equal
// results in every computation).
struct FacetBits {
  std::uint32_t w[13];
  bool operator==(const FacetBits& o) const { return std::memcmp(w, o.w, sizeof w) == 0; }
  std::uint64_t hash() const {
    std::uint64_t h = 0xcbf29ce484222325u;
    for (const std::uint32_t x : w) h = (h ^ x) * 0x100000001b3u;
    return h ^ h >> 29;
  }
};
FacetBits bitsOf(const FacetRecord& f) {
  FacetBits b;
  std::memcpy(&b.w[0], &f.normal, 12);
  for (int k = 0; k < 3; ++k) std::memcpy(&b.w[3 + 3 * k], &f.v[k], 12);
  b.w[12] = f.colourIndex;
  return b;
}

// Sorts the edges of a row by x, keeping the order of equal ones (where
// the winding count passes 0 among edges at one dot depends on it). Nearly
// sorted from the row before: by insertion, until that has moved edges
// more than a few places each (a row where thousands of coincident edges
// start at once, or cross as many others), then by a stable sort, which
// gives the same order.
void sortEdgesByX(std::vector<SliceEdge>& edges) {
  auto less = [](const SliceEdge& l, const SliceEdge& r) { return l.x < r.x; };
  std::size_t budget = 4 * edges.size() + 64;
  for (std::size_t i = 1; i < edges.size(); ++i) {
    const SliceEdge e = edges[i];
    std::size_t j = i;
    for (; j > 0 && less(e, edges[j - 1]); --j) edges[j] = edges[j - 1];
    edges[j] = e;
    if (i - j > budget) {
      std::stable_sort(edges.begin(), edges.end(), less);
      return;
    }
    budget -= i - j;
  }
}

}  // namespace

int rasterDot(double x) { return std::clamp(xToDot(x), 0, LayerSlicer::kRasterDots); }

LayerSlicer::LayerSlicer(const ColouredModel& model, const SliceSettings& settings)
    : m_(model), s_(settings), off_(model.placeOffset) {
  s_.minstepx = std::max(1, s_.minstepx);
  s_.minstepy = std::max(1, s_.minstepy);
  const auto& f = m_.facets;
  blockTop_.assign((f.size() + kBlock - 1) / kBlock, -std::numeric_limits<float>::infinity());
  for (std::size_t i = 0; i < f.size(); ++i) {
    const float t = placedTop(f[i], off_);
    float& b = blockTop_[i / kBlock];
    if (t > b) b = t;
  }
  if (auto g = m_.palette.find(kGlassCode)) glassIndex_ = *g;
  if (!s_.exactSkin) findCopies();
}

// Copies have the same lowest point, so they lie in one run of equal
// zBottom in the sorted facets, the first of them first: each run is hashed
// in a table of its own (small, and reused).
void LayerSlicer::findCopies() {
  const auto& f = m_.facets;
  constexpr std::uint32_t kEmpty = std::numeric_limits<std::uint32_t>::max();
  if (f.size() >= kEmpty) return;
  std::vector<std::uint32_t> table;
  bool any = false;
  for (std::size_t a = 0; a < f.size();) {
    std::size_t b = a + 1;
    while (b < f.size() && f[b].zBottom == f[a].zBottom) ++b;
    if (b - a >= 2) {
      std::size_t cap = 4;
      while (cap < 2 * (b - a)) cap *= 2;
      table.assign(cap, kEmpty);
      for (std::size_t i = a; i < b; ++i) {
        const FacetBits bits = bitsOf(f[i]);
        for (std::size_t slot = bits.hash() & (cap - 1);; slot = (slot + 1) & (cap - 1)) {
          const std::uint32_t j = table[slot];
          if (j == kEmpty) {
            table[slot] = std::uint32_t(i);
            break;
          }
          if (bitsOf(f[j]) == bits) {
            if (!any) copies_.assign(f.size(), 1);
            any = true;
            ++copies_[j];
            copies_[i] = 0;
            break;
          }
        }
      }
    }
    a = b;
  }
}

void LayerSlicer::nearFacets(float z, SliceScratch& sc) const {
  const double lo = double(z) - s_.skinDepth, hi = double(z) + s_.skinDepth;
  const auto& f = m_.facets;
  // Facets are sorted by their lowest point: those starting below hi are a
  // prefix; blocks whose highest point is below lo are passed over whole.
  const std::size_t end = std::size_t(
      std::partition_point(f.begin(), f.end(), [&](const FacetRecord& r) { return placedBottom(r, off_) < hi; }) -
      f.begin());
  sc.near.clear();
  sc.nearIndex.clear();
  for (std::size_t b = 0; b * kBlock < end; ++b) {
    if (!(double(blockTop_[b]) >= lo)) continue;
    const std::size_t last = std::min(end, (b + 1) * kBlock);
    for (std::size_t i = b * kBlock; i < last; ++i) {
      const FacetRecord& r = f[i];
      if (!(double(placedTop(r, off_)) >= lo)) continue;
      sc.nearIndex.push_back(std::uint32_t(i));
      const std::uint32_t copies = copies_.empty() ? 1 : copies_[i];
      if (copies == 0) continue;  // the first copy stands for it
      NearFacet n;
      placeCorners(r, off_, n);
      const bool down = r.normal.z < 0;
      n.ny = down ? -r.normal.y : r.normal.y;
      n.nz = down ? -r.normal.z : r.normal.z;
      n.colour = r.colourIndex;
      n.twin = copies > 1;
      sc.near.push_back(n);
    }
  }
}

void LayerSlicer::slice(float z, SpanStore& out, SliceScratch& sc) const {
  out.start(z);
  nearFacets(z, sc);

  // Edges of the facets that cross z, by their start in y.
  sc.pending.clear();
  sc.active.clear();
  // Every copy gives its own edge: where the count passes 0 among edges at
  // one dot depends on their order.
  for (const std::uint32_t i : sc.nearIndex) {
    const FacetRecord& r = m_.facets[i];
    if (!(placedBottom(r, off_) <= z && z <= placedTop(r, off_))) continue;
    NearFacet n;
    placeCorners(r, off_, n);
    double px[2], py[2];
    int found = 0;
    static constexpr int kSide[3][2] = {{0, 1}, {1, 2}, {2, 0}};
    for (const auto& sd : kSide) {
      const int a = sd[0], b = sd[1];
      if ((n.z[a] >= z) == (n.z[b] >= z) || found == 2) continue;
      const double t = (double(z) - n.z[a]) / (double(n.z[b]) - n.z[a]);
      px[found] = n.x[a] + t * (double(n.x[b]) - n.x[a]);
      py[found] = n.y[a] + t * (double(n.y[b]) - n.y[a]);
      ++found;
    }
    if (found < 2) continue;
    const float y0 = float(py[0]), y1 = float(py[1]);
    if (y0 == y1 || y0 != y0 || y1 != y1) continue;
    const int lo = y0 < y1 ? 0 : 1, hi = 1 - lo;
    SliceEdge e;
    e.yStart = float(py[lo]);
    e.yEnd = float(py[hi]);
    e.x = float(px[lo]);
    e.dxPerRow = float((px[hi] - px[lo]) / (py[hi] - py[lo]));
    e.rising = r.normal.x < 0;
    sc.pending.push_back(e);
  }
  std::stable_sort(sc.pending.begin(), sc.pending.end(),
                   [](const SliceEdge& a, const SliceEdge& b) { return a.yStart < b.yStart; });

  SkinSettings ss;
  ss.skinDepth = s_.skinDepth;
  ss.surfaceClear = s_.surfaceClear;
  ss.minstepx = s_.minstepx;
  ss.minstepy = s_.minstepy;
  ss.glassIndex = glassIndex_;
  ss.colourOffset = m_.colourDistanceOffset.data();
  ss.exactOnly = s_.exactSkin;
  sc.skin.startLayer(sc.near, z, ss);

  std::size_t next = 0;
  for (int row = 0; row < kRows; ++row) {
    const double y = dotToY(row);
    sc.skin.startRow(row, y);
    std::size_t keep = 0;
    for (auto& e : sc.active) {
      e.x += e.dxPerRow;
      if (!(e.yEnd < y)) sc.active[keep++] = e;
    }
    sc.active.resize(keep);
    while (next < sc.pending.size() && sc.pending[next].yStart < y) {
      SliceEdge e = sc.pending[next++];
      if (e.yEnd < y) continue;
      e.x = float(e.x + (y - e.yStart) * e.dxPerRow);
      e.dxPerRow = float(e.dxPerRow / kDotsPerMm);
      sc.active.push_back(e);
    }
    sortEdgesByX(sc.active);

    int winding = 0;
    int from = 0;
    for (const auto& e : sc.active) {
      const int to = rasterDot(e.x);
      if (winding == 0) out.add(0, to);
      else if (winding > 0) {
        if (s_.singleWhite) out.add(1, to);
        else sc.skin.colourStretch(from, to, out);
      }
      winding += e.rising ? 1 : -1;
      from = to;
    }
    out.endRow();
  }
}

}  // namespace lt
