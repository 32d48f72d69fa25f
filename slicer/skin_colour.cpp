#include "slicer/skin_colour.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>

#include "slicer/colour_model.h"
#include "slicer/dots.h"
#include "slicer/nearly_sorted.h"
#include "slicer/palette.h"

namespace lt {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int kMaxStep = 10;  // dots one colour decision covers at most

}  // namespace

FacetTurn turnOf(const NearFacet& f) {
  const double ny = f.ny, nz = f.nz;
  const double h = std::sqrt(ny * ny + nz * nz);
  if (h > 1e-5) return {ny / h, nz / h};
  return {};
}

namespace {

// Where the plane through the row cuts the sides (corners a-b) of a facet
// whose corners lie at Z on either side of it, from the corners' X and Y in
// the plane's terms; false when it does not cut two sides.
template <class CornerX, class CornerY>
[[gnu::always_inline]] inline bool cutPoints(const double Z[3], CornerX X, CornerY Y, double px[2], double py[2],
                                             FacetCut* cut) {
  int found = 0;
  static constexpr int kSide[3][2] = {{0, 1}, {1, 2}, {2, 0}};
  for (const auto& sd : kSide) {
    const int a = sd[0], b = sd[1];
    if ((Z[a] >= 0) == (Z[b] >= 0) || !(std::fabs(Z[a] - Z[b]) > 1e-6) || found == 2) continue;
    const double t = Z[a] / (Z[a] - Z[b]);
    px[found] = X(a) + t * (X(b) - X(a));
    py[found] = Y(a) + t * (Y(b) - Y(a));
    if (cut) {
      cut->t[found] = t;
      cut->px[found] = px[found];
      cut->a[found] = std::uint8_t(a);
      cut->b[found] = std::uint8_t(b);
    }
    ++found;
  }
  return found == 2;
}

// The section through the two points where the plane cuts the facet.
[[gnu::always_inline]] inline bool sectionThrough(double px[2], double py[2], std::uint16_t colour,
                                                  FacetSection& out) {
  if (px[1] < px[0]) {
    std::swap(px[0], px[1]);
    std::swap(py[0], py[1]);
  }
  // The stored end points are floats; the slope, the cut through the row
  // and the ends of the straight part come from the unrounded points. Every
  // step is written out in double, so no build can take a rounded value in
  // one place and an unrounded one in another (an optimiser that did so
  // coloured a few spans differently from one build to the next).
  float x0 = float(px[0]), y0 = float(py[0]), x1 = float(px[1]), y1 = float(py[1]);
  if (std::fabs(px[0] - px[1]) < 1e-4) {
    out.xCross = x0;
    out.sinSlope = 1;
    if ((y0 <= 0 && y1 >= 0) || (y0 >= 0 && y1 <= 0)) {
      out.xFrom = -999;
      out.xTo = 999;
    } else {
      const float nearer = std::fabs(y0) <= std::fabs(y1) ? y0 : y1;
      y0 = y1 = nearer;
      out.xFrom = 999;
      out.xTo = -999;
    }
  } else {
    double sl = (py[1] - py[0]) / (px[1] - px[0]);
    const double xFrom = px[0] + sl * py[0], xTo = px[1] + sl * py[1];
    out.xFrom = float(xFrom);
    out.xTo = float(xTo);
    if (std::fabs(sl) < 1e-5) {
      out.xCross = -999.9f;
      sl = py[0] / (px[0] + 999.9);
    } else {
      const double xCross = px[0] - py[0] / sl;
      out.xCross = float(xCross);
    }
    const double sinSlope = sl / std::sqrt(sl * sl + 1);
    out.sinSlope = float(sinSlope);
  }
  // A corrupt facet (NaN) could never be the nearest: leave it out.
  if (!(x0 == x0 && x1 == x1 && y0 == y0 && y1 == y1 && out.xFrom == out.xFrom && out.xTo == out.xTo &&
        out.xCross == out.xCross && out.sinSlope == out.sinSlope))
    return false;
  out.x0 = x0;
  out.y0 = y0;
  out.x1 = x1;
  out.y1 = y1;
  out.colour = colour;
  return true;
}

// The plane through the rows of a layer at z when the facet's normal has
// no z part (turn.s == 0): where it cuts the sides (Kept, in `cut`), or that
// it cuts none. -0 y + c z' is c z' whenever c z' is not zero: a facet with
// a corner in the layer is left to be cut on every row.
enum class LevelCut { Kept, CutsNone, EveryRow };
LevelCut levelCutOf(const NearFacet& f, const FacetTurn& turn, double z, FacetCut& cut) {
  double Z[3];
  for (int k = 0; k < 3; ++k) {
    if (turn.c * (double(f.z[k]) - z) == 0) return LevelCut::EveryRow;
    Z[k] = -turn.s * double(f.y[k]) + turn.c * (double(f.z[k]) - z);
  }
  double px[2], py[2];
  const bool none = ((Z[0] >= 0) == (Z[1] >= 0) && (Z[1] >= 0) == (Z[2] >= 0)) ||
                    !cutPoints(Z, [&](int k) { return double(f.x[k]); }, [](int) { return 0.0; }, px, py, &cut);
  return none ? LevelCut::CutsNone : LevelCut::Kept;
}

// The section of the row at yc through a level cut: as cutFacet gives it.
bool levelSection(const NearFacet& f, const FacetTurn& turn, double yc, double z, const FacetCut& cut,
                  FacetSection& out) {
  const double c = turn.c, s = turn.s;
  auto Y = [&](int k) { return c * (double(f.y[k]) - yc) + s * (double(f.z[k]) - z); };
  double px[2] = {cut.px[0], cut.px[1]}, py[2];
  for (int i = 0; i < 2; ++i) py[i] = Y(cut.a[i]) + cut.t[i] * (Y(cut.b[i]) - Y(cut.a[i]));
  return sectionThrough(px, py, f.colour, out);
}

}  // namespace

bool cutFacet(const NearFacet& f, const FacetTurn& turn, double yc, double z, FacetSection& out) {
  const double c = turn.c, s = turn.s;
  double X[3], Y[3], Z[3];
  for (int k = 0; k < 3; ++k) Z[k] = -s * (double(f.y[k]) - yc) + c * (double(f.z[k]) - z);
  if ((Z[0] >= 0) == (Z[1] >= 0) && (Z[1] >= 0) == (Z[2] >= 0)) return false;
  for (int k = 0; k < 3; ++k) {
    X[k] = f.x[k];
    Y[k] = c * (double(f.y[k]) - yc) + s * (double(f.z[k]) - z);
  }
  double px[2], py[2];
  if (!cutPoints(Z, [&](int k) { return X[k]; }, [&](int k) { return Y[k]; }, px, py, nullptr)) return false;
  return sectionThrough(px, py, f.colour, out);
}

void SkinColourer::startLayer(const std::vector<NearFacet>& facets, double z, const SkinSettings& s) {
  facets_ = &facets;
  s_ = s;
  z_ = z;
  const double reach = 1.5 * s_.skinDepth;
  constexpr double kInfY = std::numeric_limits<double>::infinity();
  reach_.resize(facets.size());
  byFrom_.clear();
  byFrom_.reserve(facets.size());  // not doubled past the need: every thread holds one
  levelCuts_.clear();
  for (std::size_t i = 0; i < facets.size(); ++i) {
    const NearFacet& f = facets[i];
    Reach& r = reach_[i];
    r.turn = turnOf(f);
    int levelCut = -1;
    // z' of a vertex is a(k) + s yc: the plane through the row cuts the
    // facet while yc lies between the values that zero the lowest and the
    // highest a(k).
    double aLo = kInfY, aHi = -kInfY;
    for (int k = 0; k < 3; ++k) {
      const double a = -r.turn.s * f.y[k] + r.turn.c * (double(f.z[k]) - z);
      aLo = std::min(aLo, a);
      aHi = std::max(aHi, a);
    }
    double from = -kInfY, to = kInfY;
    if (std::fabs(r.turn.s) >= 1e-6) {
      const double e1 = -aHi / r.turn.s, e2 = -aLo / r.turn.s;
      from = std::min(e1, e2) - 1e-6;
      to = std::max(e1, e2) + 1e-6;
    } else if (r.turn.s == 0 && !(aLo < 0 && aHi >= 0)) {
      continue;  // the same plane for every row, and it misses the facet
    }
    from = std::max(from, double(f.yMin()) - reach - 1e-6);
    to = std::min(to, double(f.yMax()) + reach + 1e-6);
    if (!(from <= to)) continue;
    if (r.turn.s == 0 && !s_.exactOnly) {
      // The plane through every row is the same: where it cuts the sides
      // is found once.
      FacetCut cut;
      const LevelCut kind = levelCutOf(f, r.turn, z, cut);
      if (kind == LevelCut::CutsNone) continue;  // no row cuts it
      if (kind == LevelCut::Kept) {
        levelCut = int(levelCuts_.size());
        levelCuts_.push_back(cut);
      }
    }
    r.to = to;
    byFrom_.push_back({from, int(i), levelCut});
  }
  // Sorted as values side by side: looking the keys up through the facet
  // numbers cost more than the comparisons.
  std::sort(byFrom_.begin(), byFrom_.end(), [](const FromKey& a, const FromKey& b) {
    return a.from < b.from || (a.from == b.from && a.facet < b.facet);
  });
  nextByFrom_ = 0;
  window_.clear();
  sections_.clear();
  sectionFacet_.clear();
  lastSectionFacet_.clear();
  lastByX0_.clear();
  lastByX1_.clear();
  builtRow_ = -1;
}

void SkinColourer::startRow(int row, double y) {
  y_ = y;
  row_ = row;
  if (row % s_.minstepy == 0 || row > 3481) {
    sections_.clear();
    sectionFacet_.clear();
  }
}

void SkinColourer::buildSections() {
  builtRow_ = row_;
  const auto& f = *facets_;
  const double reach = 1.5 * s_.skinDepth;
  const double yc = y_ + s_.minstepy / kDotsPerMm / 2;
  const double lo = yc - reach, hi = yc + reach;
  added_.clear();
  while (nextByFrom_ < byFrom_.size() && byFrom_[nextByFrom_].from <= yc) {
    const FromKey& k = byFrom_[nextByFrom_++];
    if (reach_[std::size_t(k.facet)].to >= yc) added_.push_back({k.facet, k.levelCut});
  }
  if (!added_.empty()) {
    auto byFacet = [](const InWindow& l, const InWindow& r) { return l.facet < r.facet; };
    std::sort(added_.begin(), added_.end(), byFacet);
    merged_.resize(window_.size() + added_.size());
    std::merge(window_.begin(), window_.end(), added_.begin(), added_.end(), merged_.begin(), byFacet);
    window_.swap(merged_);
  }
  // The window holds the facets in their stored order, so that of equally
  // near sections the same one wins on every run.
  std::size_t keep = 0;
  FacetSection sec;
  for (const InWindow w : window_) {
    const int i = w.facet;
    if (reach_[std::size_t(i)].to < yc) continue;  // rows only go down
    window_[keep++] = w;
    const NearFacet& nf = f[std::size_t(i)];
    if (!(nf.yMax() > lo && nf.yMin() < hi)) continue;
    const Reach& rc = reach_[std::size_t(i)];
    if (!(w.levelCut >= 0 ? levelSection(nf, rc.turn, yc, z_, levelCuts_[std::size_t(w.levelCut)], sec)
                          : cutFacet(nf, rc.turn, yc, z_, sec)))
      continue;
    const bool oneSide = (sec.y0 > 0 && sec.y1 > 0) || (sec.y0 < 0 && sec.y1 < 0);
    const double gap = oneSide ? std::min(std::fabs(double(sec.y0)), std::fabs(double(sec.y1))) : 0.0;
    if (!(gap < reach)) continue;
    sec.offset = s_.colourOffset ? s_.colourOffset[nf.colour] : 0.0f;
    sec.twin = nf.twin;
    sections_.push_back(sec);
    sectionFacet_.push_back(i);
  }
  window_.resize(keep);
  if (!s_.exactOnly) indexSections();
}

// The index covers every section of the row; a stretch's search skips the
// ones that are not its candidates. The bounds it prunes by (smallest
// offset, rounding slack, shortcut ranges) are taken over all of them,
// which only ever prunes less than bounds over the candidates alone would.
void SkinColourer::indexSections() {
  minOffset_ = kInf;
  double maxAbsX = 0;
  for (std::size_t i = 0; i < sections_.size(); ++i) {
    const FacetSection& c = sections_[i];
    if (c.colour == s_.glassIndex) continue;
    minOffset_ = std::min(minOffset_, double(c.offset));
    maxAbsX = std::max({maxAbsX, std::fabs(double(c.x0)), std::fabs(double(c.x1))});
  }
  slack_ = 1e-3 + 2e-6 * maxAbsX;
  // The sections of the row before that this row has too: both lists are
  // in facet order.
  lastToNow_.assign(lastSectionFacet_.size(), -1);
  for (std::size_t a = 0, b = 0; a < lastSectionFacet_.size() && b < sectionFacet_.size();) {
    if (lastSectionFacet_[a] < sectionFacet_[b]) ++a;
    else if (lastSectionFacet_[a] > sectionFacet_[b]) ++b;
    else lastToNow_[a++] = int(b++);
  }
  sortEnds(byX0_, lastByX0_, &FacetSection::x0);
  sortEnds(byX1_, lastByX1_, &FacetSection::x1);
  lastSectionFacet_ = sectionFacet_;
  over_.clear();
  passedX0_ = passedX1_ = 0;
  sweepAt_ = -kInf;
  seed_[0] = seed_[1] = -1;

  // Far inside, every surface is more than one skin depth and one whole step
  // away: the step is the longest and the dots are interior whatever the
  // exact distances are. Distances to a section are never below the x
  // distance to it (plus its offset), so outside these ranges the exact
  // search cannot give anything else.
  danger_.clear();
  const double D = s_.skinDepth;
  if (!(std::isfinite(D) && D >= 0)) return;
  const double reachOut = D + kMaxStep / kDotsPerMm + 1e-6;
  for (const End& e : byX0_) {
    const FacetSection& c = sections_[std::size_t(e.section)];
    const double margin = 1e-3 + 1e-6 * (std::fabs(double(c.x0)) + std::fabs(double(c.x1)));
    const double w = reachOut - c.offset + margin;
    if (w > 0) danger_.push_back({c.x0 - w, c.x1 + w});
  }
  // Nearly in order already: the ranges come by left end. Their union
  // below does not depend on the order of ranges that start together.
  sortNearlySorted(danger_, [](const Range& l, const Range& r) { return l.from < r.from; });
  std::size_t k = 0;
  for (const auto& d : danger_) {
    if (k > 0 && d.from <= danger_[k - 1].to) danger_[k - 1].to = std::max(danger_[k - 1].to, d.to);
    else danger_[k++] = d;
  }
  danger_.resize(k);
}

// The sections other than glass by one end, ties by section number. The
// facets of a row are those of the row before give or take a few, and
// their sections move little from row to row: the ends are laid out in the
// order of the row before, the new ones sorted apart and merged in.
void SkinColourer::sortEnds(std::vector<End>& ends, std::vector<int>& lastOrder, float FacetSection::*end) {
  auto less = [](const End& l, const End& r) { return l.x < r.x || (l.x == r.x && l.section < r.section); };
  ends.clear();
  placed_.assign(sections_.size(), 0);
  for (int last : lastOrder) {
    const int i = lastToNow_[std::size_t(last)];
    if (i < 0) continue;
    ends.push_back({sections_[std::size_t(i)].*end, i});
    placed_[std::size_t(i)] = 1;
  }
  sortNearlySorted(ends, less);
  const std::size_t old = ends.size();
  for (std::size_t i = 0; i < sections_.size(); ++i)
    if (!placed_[i] && sections_[i].colour != s_.glassIndex) ends.push_back({sections_[i].*end, int(i)});
  std::sort(ends.begin() + std::ptrdiff_t(old), ends.end(), less);
  std::inplace_merge(ends.begin(), ends.begin() + std::ptrdiff_t(old), ends.end(), less);
  lastOrder.clear();
  for (const End& e : ends) lastOrder.push_back(e.section);
}

// The searches of a row only move right; should one go back, the sweep
// starts again. Over p: every section that starts left of p, and (to be
// dropped by the caller) those that ended before it.
void SkinColourer::sweepTo(double p) {
  if (p < sweepAt_) {
    over_.clear();
    passedX0_ = passedX1_ = 0;
  }
  sweepAt_ = p;
  for (; passedX0_ < byX0_.size() && double(byX0_[passedX0_].x) < p; ++passedX0_)
    over_.push_back(byX0_[passedX0_].section);
  while (passedX1_ < byX1_.size() && double(byX1_[passedX1_].x) < p) ++passedX1_;
}

// The nearest candidate of the stretch (sections other than glass with
// x0 < hi and x1 > lo; the first of equal ones), its distance r and the
// second smallest distance m. A distance is never below the x distance to
// the section plus its offset (less rounding slack). The sections fall in
// three groups: those that reach over p (x distance 0), each of which is
// measured; those to the right of p, walked by their left end; those to the
// left, walked by their right end; each walk stops where no farther section
// can beat m.
void SkinColourer::nearest(double p, double lo, double hi, double& rOut, double& mOut, int& nOut) {
  // Kept in locals: stores through the references could alias the members
  // read at every visit.
  double r = kInf, m = kInf;
  int n = -1, n2 = -1;  // the sections at r and at m
  const double slack = slack_, minOffset = minOffset_;
  const FacetSection* sections = sections_.data();
  // Inlined into every walk: called out of line it cost more than it does.
  // `sure`: a candidate, and not to be passed over by its x distance.
  auto measure = [&](int i, bool sure) __attribute__((always_inline)) {
    const FacetSection& c = sections[i];
    if (!sure) {
      if (!(c.x0 < hi && c.x1 > lo)) return;
      const double dx = std::max({0.0, double(c.x0) - p, p - double(c.x1)});
      if (dx + c.offset - slack > m) return;
    }
    const double d = sectionDistance(c, p);
    if (d < r || (d == r && i < n)) {
      m = r;
      n2 = n;
      r = d;
      n = i;
      // Its copy is as near: the second distance too.
      if (c.twin) m = d;
    } else if (d < m) {
      m = d;
      n2 = i;
    }
  };
  const int s0 = seed_[0], s1 = seed_[1];
  if (s0 >= 0) measure(s0, false);
  if (s1 >= 0 && s1 != s0) measure(s1, false);
  // With p inside the stretch's bounds, every section the walks below meet
  // is a candidate (its ends lie on either side of p or between p and a
  // bound), and the walks stop by the x distance themselves: measuring one
  // more section than needed changes nothing.
  const bool sure = lo < p && p < hi;
  auto visit = [&](int i) {
    if (i != s0 && i != s1) measure(i, sure);
  };
  sweepTo(p);
  std::size_t keep = 0;
  for (int i : over_) {
    if (double(sections[i].x1) < p) continue;  // left of p from now on
    over_[keep++] = i;
    visit(i);
  }
  over_.resize(keep);
  // Right of p, by the left end.
  for (std::size_t j = passedX0_; j < byX0_.size(); ++j) {
    const double x0 = byX0_[j].x;
    if (!(x0 < hi)) break;  // no candidate from here on
    if (x0 - p + minOffset - slack > m) break;
    visit(byX0_[j].section);
  }
  // Left of p, by the right end.
  for (std::size_t j = passedX1_; j-- > 0;) {
    const double x1 = byX1_[j].x;
    if (!(x1 > lo)) break;  // no candidate from here on
    if (p - x1 + minOffset - slack > m) break;
    visit(byX1_[j].section);
  }
  seed_[0] = n;
  seed_[1] = n2;
  rOut = r;
  mOut = m;
  nOut = n;
}

#if defined(__x86_64__)
namespace {

// Four dots to a vector: the same operations as the scalar distance, lane
// by lane, so every lane gives the scalar's result to the bit (no fused
// multiply-adds: AVX2 alone does not bring them, and the scalar code has
// none either).
typedef double Lanes __attribute__((vector_size(32)));
typedef long long LaneMask __attribute__((vector_size(32)));

#define LT_AVX2 __attribute__((target("avx2"), always_inline)) inline
LT_AVX2 Lanes splat(double v) { return Lanes{v, v, v, v}; }
LT_AVX2 Lanes absLanes(Lanes v) { return (Lanes)((LaneMask)v & ~(LaneMask)splat(-0.0)); }
#undef LT_AVX2

}  // namespace

bool SkinColourer::aheadAvailable() {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  return avx2;
}

__attribute__((target("avx2"))) void SkinColourer::nearestAhead(int first, int count, double bound, double lo,
                                                                 double hi, Ahead& out) {
  out.first = first;
  out.count = count;
  const double* at = dotMm_.data();  // the point of dot d at [d]
  const double pa = at[first], pb = at[first + count - 1];
  const FacetSection* sections = sections_.data();
  const double slack = slack_, minOffset = minOffset_;
  auto candidate = [&](const FacetSection& c) { return c.x0 < hi && c.x1 > lo; };
  sweepTo(pa);
  // Every candidate whose x distance from the dots' range, with its offset,
  // is within the bound: that is all any of the dots could have nearer.
  ahead_.clear();
  std::size_t keep = 0;
  for (int i : over_) {
    if (double(sections[i].x1) < pa) continue;
    over_[keep++] = i;
    if (candidate(sections[i])) ahead_.push_back(i);
  }
  over_.resize(keep);
  for (std::size_t j = passedX0_; j < byX0_.size(); ++j) {
    const double x0 = byX0_[j].x;
    if (!(x0 < hi) || x0 - pb + minOffset - slack > bound) break;
    if (candidate(sections[byX0_[j].section])) ahead_.push_back(byX0_[j].section);
  }
  for (std::size_t j = passedX1_; j-- > 0;) {
    const double x1 = byX1_[j].x;
    if (!(x1 > lo) || pa - x1 + minOffset - slack > bound) break;
    if (candidate(sections[byX1_[j].section])) ahead_.push_back(byX1_[j].section);
  }
  static_assert(kAhead == 4);
  Lanes p;
  for (int k = 0; k < kAhead; ++k) p[k] = at[first + std::min(k, count - 1)];
  Lanes r = splat(kInf), m = r, n = splat(-1), n2 = n;
  for (int i : ahead_) {
    const FacetSection& c = sections[i];
    const Lanes left = absLanes(p - double(c.x0)) + std::fabs(double(c.y0));
    const Lanes right = absLanes(p - double(c.x1)) + std::fabs(double(c.y1));
    const Lanes middle =
        c.sinSlope == 0 ? splat(std::fabs(double(c.y0))) : absLanes(double(c.sinSlope) * (p - double(c.xCross)));
    const Lanes d = (p < double(c.xFrom) ? left : (p > double(c.xTo) ? right : middle)) + double(c.offset);
    // As in nearest(): the first of equal ones is the nearest.
    const Lanes index = splat(i);
    const LaneMask nearer = (d < r) | ((d == r) & (index < n));
    const LaneMask second = d < m;
    m = nearer ? r : (second ? d : m);
    n2 = nearer ? n : (second ? index : n2);
    r = nearer ? d : r;
    n = nearer ? index : n;
    if (c.twin) m = nearer ? d : m;
  }
  for (int k = 0; k < count; ++k) {
    out.r[k] = r[k];
    out.m[k] = m[k];
    out.n[k] = int(n[k]);
    out.n2[k] = int(n2[k]);
    // A section left out is farther than the bound from this dot: it can
    // change neither of the two smallest distances if they are within it.
    out.sure[k] = out.m[k] <= bound;
  }
}
#else
bool SkinColourer::aheadAvailable() { return false; }
void SkinColourer::nearestAhead(int, int, double, double, double, Ahead&) {}
#endif

void SkinColourer::colourStretch(int a, int b, SpanStore& out) {
  if (a >= b) return;
  assert(a >= 0);  // the dots' table starts at -10
  // Built once per row where they are due; a row that found none looks
  // again on the next row.
  if (sections_.empty() && builtRow_ != row_) buildSections();
  if (s_.exactOnly) {
    colourStretchPlain(a, b, out);
    return;
  }
  const double D = s_.skinDepth, U = s_.surfaceClear, X = kDotsPerMm;
  const double reach = 1.5 * D;
  const double lo = (a - 10) / X - reach, hi = (b - 10) / X + reach;
  const bool shortcut = std::isfinite(D) && D >= 0;
  if (dotMm_.size() < std::size_t(b) + 11) {
    const std::size_t from = dotMm_.size();
    dotMm_.resize(std::size_t(b) + 11);
    for (std::size_t k = from; k < dotMm_.size(); ++k) dotMm_[k] = (int(k) - 10) / X;
  }
  const double* mm = dotMm_.data() + 10;
  const double p0 = (a - 10) / X;
  std::size_t di = std::size_t(
      std::partition_point(danger_.begin(), danger_.end(), [&](const Range& d) { return d.to < p0; }) -
      danger_.begin());
  Ahead ahead;
  const bool useAhead = aheadAvailable();
  int knownDot = -1;  // the last dot searched, and its second distance
  double knownM = kInf;
  while (a < b) {
    const double p = mm[a - 10];
    double t = mm[b - a];
    if (shortcut && (t - D) * X >= kMaxStep + 1e-6) {
      while (di < danger_.size() && danger_[di].to < p) ++di;
      if (di == danger_.size() || danger_[di].from > p) {
        out.add(kSupportIndex, a + kMaxStep);
        a += kMaxStep;
        knownDot = -1;
        continue;
      }
    }
    double r, m;
    int n;
    int k = a - ahead.first;
    if (!(k >= 0 && k < ahead.count) && knownDot >= 0 && useAhead) {
      // Most steps are one dot: the next few dots are searched together.
      // Distances move no farther than the dots do, except where one leaps
      // (past the end of a slanting section), so the bound is the last
      // second distance plus the way to the farthest of them; a dot it
      // does not cover is searched alone.
      const int count = std::min(kAhead, b - a);
      const double bound = knownM + (a + count - 1 - knownDot) / X + 1e-9;
      if (bound < kInf) nearestAhead(a, count, bound, lo, hi, ahead);
      k = a - ahead.first;
    }
    if (k >= 0 && k < ahead.count && ahead.sure[k]) {
      r = ahead.r[k];
      m = ahead.m[k];
      n = ahead.n[k];
      seed_[0] = n;
      seed_[1] = ahead.n2[k];
    } else {
      nearest(p, lo, hi, r, m, n);
    }
    knownDot = a;
    knownM = m;
    if (r < D) t = std::min({(m - r) / 2, D - r, t});
    else if (n >= 0 && sectionDistance(sections_[std::size_t(n)], p + 0.1) > r) t = std::min(m, t - D);
    else t = std::min(r, t) - D;
    int step = roundEven(t * X);
    step = std::max(step, std::min(s_.minstepx, b - a));
    // A negative skin depth could ask for more than the stretch holds.
    step = std::min({step, kMaxStep, b - a});
    const std::uint16_t colour = (n >= 0 && U <= r && r <= D) ? sections_[std::size_t(n)].colour : kSupportIndex;
    out.add(colour, a + step);
    a += step;
  }
}

// The reference: the candidates are the sections within 1.5 skin depths of
// the stretch, and every step takes the distance to each of them.
void SkinColourer::colourStretchPlain(int a, int b, SpanStore& out) {
  const double D = s_.skinDepth, U = s_.surfaceClear, X = kDotsPerMm;
  const double reach = 1.5 * D;
  const double lo = (a - 10) / X - reach, hi = (b - 10) / X + reach;
  std::vector<const FacetSection*> candidates;
  for (const auto& sec : sections_)
    if (sec.colour != s_.glassIndex && sec.x0 < hi && sec.x1 > lo) candidates.push_back(&sec);
  while (a < b) {
    const double p = (a - 10) / X;
    double t = (b - a) / X;
    double r = kInf, m = kInf;
    const FacetSection* nearestSection = nullptr;
    for (const FacetSection* c : candidates) {
      const double d = sectionDistance(*c, p);
      if (d < r) {
        m = r;
        r = d;
        nearestSection = c;
        if (c->twin) m = d;
      } else if (d < m) {
        m = d;
      }
    }
    if (r < D) t = std::min({(m - r) / 2, D - r, t});
    else if (nearestSection && sectionDistance(*nearestSection, p + 0.1) > r) t = std::min(m, t - D);
    else t = std::min(r, t) - D;
    int step = roundEven(t * X);
    step = std::max(step, std::min(s_.minstepx, b - a));
    step = std::min({step, kMaxStep, b - a});
    const std::uint16_t colour = (nearestSection && U <= r && r <= D) ? nearestSection->colour : kSupportIndex;
    out.add(colour, a + step);
    a += step;
  }
}

}  // namespace lt
