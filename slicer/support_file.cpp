#include "slicer/support_file.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/format.h"
#include "slicer/colour_model.h"
#include "slicer/dots.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"

namespace lt {

namespace {

// A colour's distance offset (K) of more than this could never make a
// difference within the build room.
constexpr double kMaxDistanceOffsetMm = 1e6;

bool isNumberChar(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'E' || c == 'e'; }

// The two side rectangles of a block, corners numbered with x = 4, y = 2,
// z = 1. Built in the file's coordinates, then mirrored like the facets.
void addBlock(const std::vector<double>& n, bool isVoid, ColouredModel& m) {
  static const int corners[4][3] = {{1, 3, 0}, {0, 3, 2}, {6, 7, 4}, {4, 7, 5}};
  auto corner = [&](int c) {
    return Vec3f{-float(c & 4 ? n[3] : n[0]), float(c & 2 ? n[4] : n[1]), float(c & 1 ? n[5] : n[2])};
  };
  for (int f = 0; f < 4; ++f) {
    FacetRecord r;
    float nx = f < 2 ? -1.0f : 1.0f;
    if (isVoid) nx = -nx;
    r.normal = {-nx, 0, 0};
    for (int k = 0; k < 3; ++k) r.v[k] = corner(corners[f][k]);
    r.colourIndex = kSupportIndex;
    m.facets.push_back(r);
  }
}

// A move, scale or rotation of the facets: vertices go through m and t,
// normals through n (only a rotation turns them).
struct Affine {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
  double n[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// `after` applied to what `first` gives.
Affine compose(const Affine& after, const Affine& first) {
  Affine c;
  for (int r = 0; r < 3; ++r) {
    c.t[r] = after.t[r];
    for (int k = 0; k < 3; ++k) {
      c.m[r][k] = 0;
      c.n[r][k] = 0;
      for (int j = 0; j < 3; ++j) {
        c.m[r][k] += after.m[r][j] * first.m[j][k];
        c.n[r][k] += after.n[r][j] * first.n[j][k];
      }
      c.t[r] += after.m[r][k] * first.t[k];
    }
  }
  return c;
}

// Only the terms that are there: a scale alone gives exactly what
// multiplying the coordinate gives (the sign of a zero included).
Vec3f applyLinear(const double m[3][3], const double t[3], const Vec3f& p) {
  const double in[3] = {p.x, p.y, p.z};
  auto row = [&](int r) {
    double sum = 0;
    bool any = false;
    for (int k = 0; k < 3; ++k) {
      if (m[r][k] == 0) continue;
      sum = any ? sum + m[r][k] * in[k] : m[r][k] * in[k];
      any = true;
    }
    if (t[r] != 0) sum = any ? sum + t[r] : t[r];
    return float(sum);
  };
  return {row(0), row(1), row(2)};
}

void applyTo(const Affine& a, FacetRecord& f) {
  static const double none[3] = {0, 0, 0};
  f.normal = applyLinear(a.n, none, f.normal);
  for (auto& v : f.v) v = applyLinear(a.m, a.t, v);
}

Affine rotation(const std::string& line) {
  int i = 2, k = 3;  // about X, 1-based matrix positions
  std::size_t from = 1;
  if (line.size() > 1 && (line[1] == 'X' || line[1] == 'Y' || line[1] == 'Z')) {
    if (line[1] == 'Y') i = 1, k = 3;
    if (line[1] == 'Z') i = 1, k = 2;
    from = 2;
  }
  Affine a;
  const double deg = supportNumbers(line, from, 1)[0];
  if (deg == 0) return a;
  const double rad = deg * M_PI / 180.0;
  a.m[i - 1][i - 1] = std::cos(rad);
  a.m[i - 1][k - 1] = std::sin(rad);
  a.m[k - 1][i - 1] = -std::sin(rad);
  a.m[k - 1][k - 1] = std::cos(rad);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) a.n[r][c] = a.m[r][c];
  return a;
}

// Moves, scales and rotations each act on the facets there are when their
// line is read. Rewriting every facet per line made a long support file
// cost lines x facets; instead each transform is noted with the facet count
// it acts on, and at the end every facet goes once through the composition
// of the transforms that act on it.
class PendingTransforms {
 public:
  void add(const Affine& a, std::size_t facets) {
    if (facets > 0) steps_.push_back({a, facets});
  }
  void apply(ColouredModel& m) {
    Affine suffix;
    std::size_t end = m.facets.size();
    for (auto it = steps_.rbegin(); it != steps_.rend(); ++it) {
      // Facets from it->facets on came after this step: they have the
      // later steps' composition, which `suffix` holds now.
      for (std::size_t f = it->facets; f < end; ++f) applyTo(suffix, m.facets[f]);
      end = std::min(end, it->facets);
      suffix = compose(suffix, it->a);
    }
    for (std::size_t f = 0; f < end; ++f) applyTo(suffix, m.facets[f]);
    steps_.clear();
  }
  bool empty() const { return steps_.empty(); }

 private:
  struct Step {
    Affine a;
    std::size_t facets;  // the transform acts on facets [0, facets)
  };
  std::vector<Step> steps_;
};

void applyLine(std::string line, int pass, SliceValues& values, ColouredModel& m, std::vector<std::string>& notes,
               PendingTransforms& pending);

}  // namespace

std::vector<double> supportNumbers(const std::string& line, std::size_t from, int count) {
  std::vector<double> out;
  std::size_t p = from;
  for (int n = 0; n < count; ++n) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    const std::size_t start = p;
    while (p < line.size() && isNumberChar(line[p])) ++p;
    double v = 0;
    auto r = std::from_chars(line.data() + start, line.data() + p, v);
    if (r.ec != std::errc() || r.ptr != line.data() + p || !std::isfinite(v)) v = 0;
    out.push_back(v);
  }
  return out;
}

void applySupportLine(std::string line, int pass, SliceValues& values, ColouredModel& m,
                      std::vector<std::string>& notes) {
  PendingTransforms pending;
  applyLine(std::move(line), pass, values, m, notes, pending);
  pending.apply(m);
}

namespace {

void applyLine(std::string line, int pass, SliceValues& values, ColouredModel& m, std::vector<std::string>& notes,
               PendingTransforms& pending) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.size() > 80) line.resize(80);
  if (line.empty()) return;
  switch (line[0]) {
    case 'B': case 'b': case 'V': case 'v':
      if (pass == 1) addBlock(supportNumbers(line, 1, 6), line[0] == 'V' || line[0] == 'v', m);
      break;
    case 'C': case 'c': {
      auto n = supportNumbers(line, 1, 3);
      auto ch = [](double v) { int c = roundEven(v * 31); return c < 0 ? 0 : c > 31 ? 31 : c; };
      values.defaultColour = ch(n[0]) * 1024 + ch(n[1]) * 32 + ch(n[2]);
      break;
    }
    case 'D': case 'd':
      if (pass == 1) {
        auto n = supportNumbers(line, 1, 2);
        values.minstepx = validStep(roundEven(n[0]));
        values.minstepy = validStep(roundEven(n[1]));
      }
      break;
    case 'K': case 'k':
      if (pass == 1) {
        auto n = supportNumbers(line, 1, 2);
        const double idx = std::nearbyint(n[0]);
        if (!(std::fabs(n[1]) <= kMaxDistanceOffsetMm))
          notes.push_back(plat::format("support file: the distance offset %g of \"%s\" is beyond %g mm, line ignored",
                                       n[1], line, kMaxDistanceOffsetMm));
        else if (idx >= 0 && idx < double(m.colourDistanceOffset.size()))
          m.colourDistanceOffset[std::size_t(idx)] = float(n[1]);
        else
          notes.push_back(plat::format("support file: colour index %g of \"%s\" is outside the palette, line ignored",
                                       idx, line));
      }
      break;
    case 'M': case 'm': {
      auto n = supportNumbers(line, 1, 3);
      m.supportShift = {-float(n[0]), float(n[1]), float(n[2])};
      Affine a;
      a.t[0] = m.supportShift.x;
      a.t[1] = m.supportShift.y;
      a.t[2] = m.supportShift.z;
      pending.add(a, m.facets.size());
      break;
    }
    case 'P': case 'p':
      m.placed = true;
      break;
    case 'R': case 'r':
      pending.add(rotation(line), m.facets.size());
      break;
    case 'S': case 's': {
      const float s = float(supportNumbers(line, 1, 1)[0]);
      m.supportScale = s;
      Affine a;
      for (int k = 0; k < 3; ++k) a.m[k][k] = s;
      pending.add(a, m.facets.size());
      break;
    }
    default:
      break;
  }
}

}  // namespace

SupportFileRead applySupportFile(const std::string& path, int pass, SliceValues& values, ColouredModel& model,
                                 std::vector<std::string>& notes, std::string& error) {
  bool missing = false;
  auto text = readInputFile(path, "the support file", kMaxSupportBytes, error, &missing);
  if (!text) return missing ? SupportFileRead::Missing : SupportFileRead::Failed;
  std::size_t at = 0;
  PendingTransforms pending;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    applyLine(text->substr(at, std::min<std::size_t>(end - at, 82)), pass, values, model, notes, pending);
    at = end + 1;
  }
  pending.apply(model);
  return SupportFileRead::Applied;
}

}  // namespace lt
