#include "slicer/layer_slicer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "slicer/dots.h"
#include "slicer/palette.h"

namespace lt {

namespace {

constexpr std::size_t kBlock = 64;

float placedBottom(const FacetRecord& f, const Vec3f& off) { return f.zBottom + off.z; }
float placedTop(const FacetRecord& f, const Vec3f& off) { return f.zTop + off.z; }

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
      NearFacet n;
      for (int k = 0; k < 3; ++k) {
        n.x[k] = r.v[k].x + off_.x;
        n.y[k] = r.v[k].y + off_.y;
        n.z[k] = r.v[k].z + off_.z;
      }
      const bool down = r.normal.z < 0;
      n.ny = down ? -r.normal.y : r.normal.y;
      n.nz = down ? -r.normal.z : r.normal.z;
      n.colour = r.colourIndex;
      sc.near.push_back(n);
      sc.nearIndex.push_back(std::uint32_t(i));
    }
  }
}

void LayerSlicer::slice(float z, SpanStore& out, SliceScratch& sc) const {
  out.start(z);
  nearFacets(z, sc);

  // Edges of the facets that cross z, by their start in y.
  sc.pending.clear();
  sc.active.clear();
  for (std::size_t k = 0; k < sc.near.size(); ++k) {
    const NearFacet& n = sc.near[k];
    const FacetRecord& r = m_.facets[sc.nearIndex[k]];
    if (!(placedBottom(r, off_) <= z && z <= placedTop(r, off_))) continue;
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
    // Nearly sorted from the row before: a stable insertion sort.
    for (std::size_t i = 1; i < sc.active.size(); ++i) {
      const SliceEdge e = sc.active[i];
      std::size_t j = i;
      for (; j > 0 && e.x < sc.active[j - 1].x; --j) sc.active[j] = sc.active[j - 1];
      sc.active[j] = e;
    }

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
