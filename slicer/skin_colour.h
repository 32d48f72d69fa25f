#pragma once
// The colour of the dots inside a model: the colour of the nearest surface
// when it lies within the skin depth, else the interior. Distances are taken
// to each nearby facet cut in a plane through the row, so that a facet
// slanted in y and z counts by its true distance from the row.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "slicer/span_store.h"

namespace lt {

// A facet near the current layer, placed in the build room.
struct NearFacet {
  float x[3], y[3], z[3];
  float ny = 0, nz = 0;  // normal, turned to point up (nz >= 0)
  std::uint16_t colour = 0;
  // It stands for two or more facets equal to it: the second nearest
  // distance is then never beyond its own.
  bool twin = false;
  // Taken when needed: a layer holds many of these on every thread.
  float yMin() const { return std::min({y[0], y[1], y[2]}); }
  float yMax() const { return std::max({y[0], y[1], y[2]}); }
};

// A facet cut for a row: end points (x0, y0), (x1, y1) with x0 <= x1 in the
// plane of the row, and what the distance needs.
struct FacetSection {
  float x0, y0, x1, y1;
  float sinSlope, xCross, xFrom, xTo;
  float offset;  // the colour's distance offset (support file K)
  std::uint16_t colour;
  bool twin = false;  // of a facet that stands for copies of itself
};

// The turn about the x axis that brings a facet's normal into the y' axis:
// y' = c y + s z, z' = -s y + c z (no turn for a normal along x).
struct FacetTurn {
  double c = 1, s = 0;
};
FacetTurn turnOf(const NearFacet& f);

// Cuts a facet for the row at yc on layer z; false when the plane through
// the row misses it.
bool cutFacet(const NearFacet& f, const FacetTurn& turn, double yc, double z, FacetSection& out);
// Where the plane through a row cuts a facet's sides: the sides a-b and how
// far along them. For a facet whose normal has no z part, the plane is the
// same for every row of a layer, and so is this.
struct FacetCut {
  double t[2], px[2];
  std::uint8_t a[2], b[2];
};
// Distance (mm) from the point p on the row to a section, with its offset.
// Inline: every step of the search takes it for many sections.
inline double sectionDistance(const FacetSection& s, double p) {
  double d;
  if (p < s.xFrom) d = std::fabs(p - s.x0) + std::fabs(double(s.y0));
  else if (p > s.xTo) d = std::fabs(p - s.x1) + std::fabs(double(s.y1));
  else if (s.sinSlope == 0) d = std::fabs(double(s.y0));
  else d = std::fabs(s.sinSlope * (p - s.xCross));
  return d + s.offset;
}

struct SkinSettings {
  double skinDepth = 1.0;     // D, mm
  double surfaceClear = 0.0;  // U, mm
  int minstepx = 1, minstepy = 1;
  std::uint16_t glassIndex = 0xFFFF;  // none
  const float* colourOffset = nullptr;  // per palette index
  // The plain reference: every candidate's distance at every step, no
  // index, no shortcut through the interior and every facet cut afresh on
  // every row (which all give the same spans).
  bool exactOnly = false;
};

// The skin colouring of one layer. Sections come from a window of facets
// that moves down the rows with the row centre, so a row looks only at
// facets within 1.5 skin depths of it.
//
// When a row's sections are built they are also indexed once: sorted by
// their left and by their right end, with the ranges where the interior
// shortcut does not hold. Every inside stretch of the row then searches
// that index, limited to the stretch's own candidates (the sections within
// 1.5 skin depths of it), so a row costs about its sections times a
// logarithm however many stretches it has, plus, per step, the sections
// near the point. The plain computation (every
// candidate's distance at every step) stays as the reference.
class SkinColourer {
 public:
  // Starts a layer at height z over the facets near it (kept by reference).
  void startLayer(const std::vector<NearFacet>& facets, double z, const SkinSettings& s);
  // A new row at y (mm); the sections are dropped on rows where they are
  // rebuilt.
  void startRow(int row, double y);
  // Emits the spans of the inside stretch from dot a to dot b (0 <= a).
  void colourStretch(int a, int b, SpanStore& out);

 private:
  void buildSections();
  void indexSections();
  void colourStretchPlain(int a, int b, SpanStore& out);
  void sweepTo(double p);
  void nearest(double p, double lo, double hi, double& r, double& m, int& n);
  // The nearest search for up to kAhead dots from `first` on at once,
  // measuring every candidate of the stretch that could come within
  // `bound` of any of them, the dots side by side in one vector. A dot
  // whose second smallest distance comes out above the bound is not sure (a
  // section left out could be nearer) and is left to nearest(). Only where
  // the processor has four-lane vectors (AVX2): with two lanes it was
  // slower than searching dot by dot.
  static bool aheadAvailable();
  static constexpr int kAhead = 4;
  struct Ahead {
    int first = 0, count = 0;
    double r[kAhead], m[kAhead];
    int n[kAhead], n2[kAhead];
    bool sure[kAhead];
  };
  void nearestAhead(int first, int count, double bound, double lo, double hi, Ahead& out);

  const std::vector<NearFacet>* facets_ = nullptr;
  SkinSettings s_;
  double z_ = 0, y_ = 0;
  int row_ = 0, builtRow_ = -1;
  // Per facet: its turn and the row centres at which it can give a section
  // (its y range within reach and the plane through the row cutting it),
  // a little wide so that rounding never leaves a facet out: from `from`
  // (kept with the order below) to `to`.
  struct Reach {
    FacetTurn turn;
    double to;
  };
  std::vector<FacetCut> levelCuts_;
  std::vector<Reach> reach_;
  struct FromKey {
    double from;
    int facet;
    int levelCut;  // in levelCuts_ when the cut holds for every row, else -1
  };
  std::vector<FromKey> byFrom_;  // facets by the first row centre they reach
  std::size_t nextByFrom_ = 0;
  struct InWindow {
    int facet, levelCut;
  };
  std::vector<InWindow> window_, added_, merged_;  // by facet number
  std::vector<FacetSection> sections_;        // in facet order: ties go to the first
  // The row's index over its sections other than glass.
  struct End {
    float x;
    int section;
  };
  std::vector<End> byX0_, byX1_;  // the sections by their left, by their right end
  void sortEnds(std::vector<End>& ends, std::vector<int>& lastOrder, float FacetSection::*end);
  std::vector<int> sectionFacet_;         // the facet of each section, ascending
  // The row indexed before: the facets of its sections, its sections in
  // the order of byX0_ and byX1_, and where each of its sections is now.
  std::vector<int> lastSectionFacet_;
  std::vector<int> lastByX0_, lastByX1_;
  std::vector<int> lastToNow_;
  std::vector<char> placed_;
  double minOffset_ = 0, slack_ = 0;
  // The searches of a row go from left to right: the sections that reach
  // over the point searched are kept as it moves on.
  std::vector<int> over_;
  std::vector<int> ahead_;  // the candidates of nearestAhead()
  std::size_t passedX0_ = 0, passedX1_ = 0;  // entries whose end lies left of the point
  double sweepAt_ = 0;
  // dot / kDotsPerMm for dot = -10 ... at [dot + 10]: a step takes two
  // such quotients, and a division sits in the path from one step to the
  // next.
  std::vector<double> dotMm_;
  // The nearest and the second nearest section of the search before: the
  // next point is mostly near them too, and measuring them first lets the
  // walks stop early. Any order gives the same answer.
  int seed_[2] = {-1, -1};
  struct Range {
    double from, to;
  };
  std::vector<Range> danger_;  // where the shortcut does not hold, merged
};

}  // namespace lt
