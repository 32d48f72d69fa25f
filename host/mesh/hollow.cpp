#include "host/mesh/hollow.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/mesh/stl_stream.h"

namespace ph {

namespace {

constexpr std::uint16_t kNoColour = 0xFFFF;
constexpr std::uint16_t kGlassCode = 9105;

// The grid line of index i along an axis, as the rays and the ranges use it.
inline float gridLine(float lo, double voxel, std::int64_t i) { return float(double(i) * voxel + double(lo)); }

// The first index whose grid line is at or above v, and the last whose line
// is at or below v (exact against gridLine, which rises with i).
std::int64_t firstLineAtOrAbove(float lo, double voxel, float v) {
  double guess = std::ceil((double(v) - double(lo)) / voxel);
  guess = std::clamp(guess, -4.0e15, 4.0e15);
  auto i = std::int64_t(guess);
  while (gridLine(lo, voxel, i - 1) >= v) --i;
  while (gridLine(lo, voxel, i) < v) ++i;
  return i;
}
std::int64_t lastLineAtOrBelow(float lo, double voxel, float v) {
  double guess = std::floor((double(v) - double(lo)) / voxel);
  guess = std::clamp(guess, -4.0e15, 4.0e15);
  auto i = std::int64_t(guess);
  while (gridLine(lo, voxel, i + 1) <= v) ++i;
  while (gridLine(lo, voxel, i) > v) --i;
  return i;
}

void facetRange(const stlFacet& f, int axis, float& lo, float& hi) {
  lo = hi = f.corner[0][axis];
  for (int c = 1; c < 3; ++c) {
    lo = std::min(lo, f.corner[c][axis]);
    hi = std::max(hi, f.corner[c][axis]);
  }
}

// The crossing of the ray at (x, z) with a facet whose projection holds it;
// false when the facet's plane runs along the ray.
bool crossingOf(const stlFacet& f, std::uint32_t index, float x, float z, const FloatTriple& lo, double voxel,
                RayCrossing& out) {
  const vect3 n = facetNormal(f);
  vect3 hit;
  if (!linePlaneHit(hit, {0.0, 1.0, 0.0}, {double(x), 0.0, double(z)}, n, vect3FromFloats(f.corner[0]))) return false;
  double cell = std::trunc((hit.y - double(lo[1])) / voxel);
  if (!std::isfinite(cell)) return false;
  cell = std::clamp(cell, double(INT_MIN / 2), double(INT_MAX / 2));
  out.cell = int(cell);
  out.entering = n.y < 0.0;
  out.facet = index;
  out.y = float(hit.y);
  return true;
}

// The head of every file the voxel tools write.
std::array<unsigned char, kStlHeadSize> nortavoHead() {
  std::array<unsigned char, kStlHeadSize> head{};
  const char title[] = "Nortavo conversion";
  std::memcpy(head.data(), title, sizeof title - 1);
  return head;
}

bool crossingLess(const RayCrossing& a, const RayCrossing& b) {
  if (a.cell != b.cell) return a.cell < b.cell;
  if (a.entering != b.entering) return !a.entering;
  if (a.y != b.y) return a.y < b.y;
  return a.facet < b.facet;
}

std::string megabytes(double bytes) {
  char text[64];
  std::snprintf(text, sizeof text, "%.0f MB", std::ceil(bytes / 1048576.0));
  return text;
}

}  // namespace

std::string folderWithSeparator(const std::string& path) {
  std::string folder = pathFolderOrCurrent(path);
  if (folder.empty() || !isPathSep(folder.back())) folder += '/';
  return folder;
}

float signOf(float a) {
  const float m = std::fabs(a);
  return m >= 0.001f ? a / m : 0.0f;
}

// ---- the facet list ----

void FacetList::computeBounds() {
  if (facets.empty()) {
    lo = hi = {0.0f, 0.0f, 0.0f};
    return;
  }
  lo = hi = facets.front().corner[0];
  for (const stlFacet& f : facets)
    for (const auto& c : f.corner)
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], c[a]);
        hi[a] = std::max(hi[a], c[a]);
      }
}

bool readStlFacets(HostCore& core, const std::string& name, FacetList& out) {
  out.facets.clear();
  StlReader in(core);
  if (!in.open(name)) {
    core.memoPrintf("no file %s", name);
    return false;
  }
  if (in.records() == 0) {
    core.memoPrintf("%s holds no facets", name);
    return false;
  }
  in.noteCountMismatch();
  const StlColours colours = in.colours();
  if (double(in.records()) * sizeof(stlFacet) > machineMemoryBytes()) {
    core.memoPrintf("%s: its %llu facets would take %s, more than this machine has", name,
                    static_cast<unsigned long long>(in.records()),
                    megabytes(double(in.records()) * sizeof(stlFacet)));
    return false;
  }
  out.facets.reserve(std::size_t(in.records()));
  stlFacet f;
  while (in.next(f)) {
    if (!finiteCorners(f)) {
      core.memoPrintf("%s: facet %llu has a corner that is not a finite number", name,
                      static_cast<unsigned long long>(out.facets.size() + 1));
      out.facets.clear();
      return false;
    }
    // Written again under a plain head: colours in the plain convention.
    f.attribute = colours.toStandard(f.attribute);
    out.facets.push_back(f);
  }
  if (in.failed()) {
    out.facets.clear();
    return false;
  }
  out.computeBounds();
  return true;
}

bool writeStlFacets(HostCore& core, const std::string& name, const std::vector<stlFacet>& facets) {
  StlWriter out(core, name);
  if (!out.open(nortavoHead().data())) return false;
  for (const stlFacet& f : facets) out.write(f);
  return out.commit();
}

// ---- the grid ----

GridShape gridShapeOf(const FloatTriple& lo, const FloatTriple& hi, double voxel) {
  GridShape s;
  for (int a = 0; a < 3; ++a) {
    const double n = std::trunc((double(hi[a]) - double(lo[a])) / voxel + 2.0);
    s.n[a] = std::isfinite(n) ? std::int64_t(std::clamp(n, 2.0, 9.0e15)) : std::int64_t(9.0e15);
  }
  return s;
}

double machineMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || size <= 0) return 4.0 * 1024 * 1024 * 1024;
  return double(pages) * double(size);
}

std::optional<std::string> gridTooLarge(const GridShape& shape, double voxel, double extraBytes) {
  // Each row is whole 32-bit words.
  const double rowBytes = std::ceil(double(shape.n[0]) / 32.0) * 4.0;
  const double bytes = rowBytes * double(shape.n[1]) * double(shape.n[2]) + extraBytes;
  const double limit = machineMemoryBytes() * 0.75;
  const bool dimensionTooLarge = shape.n[0] > INT_MAX / 2 || shape.n[1] > INT_MAX / 2 || shape.n[2] > INT_MAX / 2;
  if (!dimensionTooLarge && bytes <= limit) return std::nullopt;
  char text[256];
  std::snprintf(text, sizeof text,
                "voxel size %g: a grid of %.0f x %.0f x %.0f cells would take %s, more than the %s this machine can "
                "give",
                voxel, double(shape.n[0]), double(shape.n[1]), double(shape.n[2]), megabytes(bytes).c_str(),
                megabytes(limit).c_str());
  return std::string(text);
}

VoxelBits::VoxelBits(int nx, int ny, int nz)
    : nx_(nx), ny_(ny), nz_(nz), words_(std::size_t((nx + 31) / 32)),
      bits_(words_ * std::size_t(ny) * std::size_t(nz), 0u) {}

// ---- rays ----

bool insideTriangleXZ(const stlFacet& f, float x, float z) {
  float s[3];
  for (int k = 0; k < 3; ++k) {
    const auto& ck = f.corner[k];
    const auto& cn = f.corner[(k + 1) % 3];
    s[k] = (x - cn[0]) * (ck[2] - cn[2]) - (ck[0] - cn[0]) * (z - cn[2]);
  }
  for (int k = 0; k < 3; ++k)
    if (s[k] == 0.0f) s[k] = s[(k + 1) % 3];
  return (s[0] < 0.0f && s[1] < 0.0f && s[2] < 0.0f) || (s[0] >= 0.0f && s[1] >= 0.0f && s[2] >= 0.0f);
}

void sortCrossings(std::vector<RayCrossing>& crossings) { std::sort(crossings.begin(), crossings.end(), crossingLess); }

bool marchRaysPlain(const std::vector<stlFacet>& facets, const RayGrid& grid, const RayVisit& visit) {
  std::vector<RayCrossing> crossings;
  for (int k = 0; k <= grid.nz - 2; ++k) {
    const float z = gridLine(grid.lo[2], grid.voxel, k);
    std::vector<std::uint32_t> active;
    for (std::uint32_t n = 0; n < facets.size(); ++n) {
      float zlo, zhi;
      facetRange(facets[n], 2, zlo, zhi);
      if (zlo <= z && z <= zhi) active.push_back(n);
    }
    for (int i = 0; i <= grid.nx - 2; ++i) {
      const float x = gridLine(grid.lo[0], grid.voxel, i);
      crossings.clear();
      for (std::uint32_t n : active) {
        const stlFacet& f = facets[n];
        float xlo, xhi;
        facetRange(f, 0, xlo, xhi);
        // A facet flat along the ray's line reaches no point beyond its
        // own x range.
        if (x < xlo || x > xhi || !insideTriangleXZ(f, x, z)) continue;
        RayCrossing c;
        if (crossingOf(f, n, x, z, grid.lo, grid.voxel, c)) crossings.push_back(c);
      }
      sortCrossings(crossings);
      visit(i, k, crossings);
    }
  }
  return true;
}

bool marchRays(const std::vector<stlFacet>& facets, const RayGrid& grid, const RayVisit& visit,
               const std::function<bool(int k)>& between) {
  struct Span {
    std::int64_t k0, k1;
    int i0, i1;
  };
  const std::size_t count = facets.size();
  std::vector<Span> spans(count);
  std::vector<std::uint32_t> order;
  const int lastI = grid.nx - 2, lastK = grid.nz - 2;
  // Facets by the first plane they reach, by a counting sort.
  std::vector<std::uint32_t> firstPlane(std::size_t(std::max(lastK, 0)) + 2, 0u);
  for (std::uint32_t n = 0; n < count; ++n) {
    float lo, hi;
    facetRange(facets[n], 2, lo, hi);
    Span& s = spans[n];
    s.k0 = firstLineAtOrAbove(grid.lo[2], grid.voxel, lo);
    s.k1 = lastLineAtOrBelow(grid.lo[2], grid.voxel, hi);
    facetRange(facets[n], 0, lo, hi);
    const std::int64_t i0 = firstLineAtOrAbove(grid.lo[0], grid.voxel, lo);
    const std::int64_t i1 = lastLineAtOrBelow(grid.lo[0], grid.voxel, hi);
    s.i0 = int(std::max<std::int64_t>(i0, 0));
    s.i1 = int(std::min<std::int64_t>(i1, lastI));
    if (s.k0 <= s.k1 && s.k1 >= 0 && s.k0 <= lastK && s.i0 <= s.i1) {
      s.k0 = std::max<std::int64_t>(s.k0, 0);
      ++firstPlane[std::size_t(s.k0) + 1];
    } else {
      s.k0 = -1;  // reaches no ray
    }
  }
  for (std::size_t k = 1; k < firstPlane.size(); ++k) firstPlane[k] += firstPlane[k - 1];
  order.resize(firstPlane.back());
  for (std::uint32_t n = 0; n < count; ++n)
    if (spans[n].k0 >= 0) order[firstPlane[std::size_t(spans[n].k0)]++] = n;

  std::vector<std::uint32_t> active, start(std::size_t(std::max(lastI, 0)) + 2), bucket;
  std::vector<RayCrossing> crossings;
  std::size_t next = 0;
  for (int k = 0; k <= lastK; ++k) {
    if (between && !between(k)) return false;
    while (next < order.size() && spans[order[next]].k0 <= k) active.push_back(order[next++]);
    std::erase_if(active, [&](std::uint32_t n) { return spans[n].k1 < k; });
    // The facets of each ray, by a counting sort on their x ranges.
    std::fill(start.begin(), start.end(), 0u);
    std::size_t total = 0;
    for (std::uint32_t n : active) {
      const Span& s = spans[n];
      for (int i = s.i0; i <= s.i1; ++i) ++start[std::size_t(i) + 1];
      total += std::size_t(s.i1 - s.i0 + 1);
    }
    for (std::size_t i = 1; i < start.size(); ++i) start[i] += start[i - 1];
    bucket.resize(total);
    {
      std::vector<std::uint32_t> fill(start.begin(), start.end() - 1);
      for (std::uint32_t n : active) {
        const Span& s = spans[n];
        for (int i = s.i0; i <= s.i1; ++i) bucket[fill[std::size_t(i)]++] = n;
      }
    }
    const float z = gridLine(grid.lo[2], grid.voxel, k);
    for (int i = 0; i <= lastI; ++i) {
      const float x = gridLine(grid.lo[0], grid.voxel, i);
      crossings.clear();
      for (std::uint32_t b = start[std::size_t(i)]; b < start[std::size_t(i) + 1]; ++b) {
        const std::uint32_t n = bucket[b];
        const stlFacet& f = facets[n];
        if (!insideTriangleXZ(f, x, z)) continue;
        RayCrossing c;
        if (crossingOf(f, n, x, z, grid.lo, grid.voxel, c)) crossings.push_back(c);
      }
      sortCrossings(crossings);
      visit(i, k, crossings);
    }
  }
  return true;
}

// ---- deep cells ----

std::vector<std::array<int, 3>> buildSphereOffsets(int r) {
  std::vector<std::array<int, 3>> offsets;
  const std::int64_t r2 = std::int64_t(r) * r;
  for (int dz = -r; dz <= r; ++dz)
    for (int dy = -r; dy <= r; ++dy)
      for (int dx = -r; dx <= r; ++dx)
        if (std::int64_t(dx) * dx + std::int64_t(dy) * dy + std::int64_t(dz) * dz <= r2) offsets.push_back({dx, dy, dz});
  std::stable_sort(offsets.begin(), offsets.end(), [](const auto& a, const auto& b) {
    return a[0] * a[0] + a[1] * a[1] + a[2] * a[2] > b[0] * b[0] + b[1] * b[1] + b[2] * b[2];
  });
  return offsets;
}

bool deepInside(const VoxelBits& grid, const std::vector<std::array<int, 3>>& offsets, int i, int j, int k) {
  for (const auto& o : offsets)
    if (grid.test(i + o[0], j + o[1], k + o[2])) return false;
  return true;
}

DeepCells::DeepCells(const VoxelBits& grid, int r)
    : g_(grid),
      r2_(std::int64_t(r) * r),
      cap_(std::int64_t(r) + 1),
      nx_(grid.nx()),
      ny_(grid.ny()),
      nz_(grid.nz()),
      below_(std::size_t(nx_) * std::size_t(ny_), -1),
      above_(std::size_t(nx_) * std::size_t(ny_), -1),
      g1_(std::size_t(nx_) * std::size_t(ny_)),
      g2_(std::size_t(nx_) * std::size_t(ny_)),
      d_(std::size_t(std::max(nx_, ny_)) + 2),
      v_(std::size_t(std::max(nx_, ny_)) + 2),
      zn_(std::size_t(std::max(nx_, ny_)) + 3),
      zd_(std::size_t(std::max(nx_, ny_)) + 3),
      tmp_(std::size_t(std::max(nx_, ny_)) + 2) {}

// d[q] = min over p of f[p] + (q - p)² for the n values of f (the lower
// envelope of parabolas), written to out at the stride given, the first
// and last values of f being the frame of set cells around the grid.
void DeepCells::transformRow(const std::int64_t* f, std::int64_t* out, int n, std::size_t stride) {
  // Intersections are compared as exact fractions.
  auto num = [&](int p, int q) {
    return (__int128(f[q]) + __int128(q) * q) - (__int128(f[p]) + __int128(p) * p);
  };
  std::vector<int>& v = v_;
  // zn[k] / zd[k]: where parabolas v[k - 1] and v[k] meet.
  std::vector<__int128>& zn = zn_;
  std::vector<__int128>& zd = zd_;
  int k = 0;
  v[0] = 0;
  for (int q = 1; q < n; ++q) {
    for (;;) {
      const int p = v[std::size_t(k)];
      const __int128 sn = num(p, q), sd = 2 * __int128(q - p);
      // s <= z[k] (z[0] is minus infinity)
      if (k > 0 && sn * zd[std::size_t(k)] <= zn[std::size_t(k)] * sd) {
        --k;
        continue;
      }
      ++k;
      v[std::size_t(k)] = q;
      zn[std::size_t(k)] = sn;
      zd[std::size_t(k)] = sd;
      break;
    }
  }
  int last = k;
  k = 0;
  for (int q = 0; q < n; ++q) {
    // while z[k + 1] < q
    while (k < last && zn[std::size_t(k) + 1] < __int128(q) * zd[std::size_t(k) + 1]) ++k;
    const std::int64_t dq = q - v[std::size_t(k)];
    if (q > 0 && q < n - 1) out[std::size_t(q - 1) * stride] = dq * dq + f[v[std::size_t(k)]];
  }
}

void DeepCells::plane(int k, std::vector<std::uint8_t>& deep) {
  const std::size_t cells = std::size_t(nx_) * std::size_t(ny_);
  // Along z: the nearest set cell at or below and at or above the plane
  // (the frame at -1 and nz counts as set).
  while (lastK_ < k) {
    ++lastK_;
    for (int j = 0; j < ny_; ++j)
      for (int i = 0; i < nx_; ++i) {
        const std::size_t c = std::size_t(j) * std::size_t(nx_) + std::size_t(i);
        if (g_.test(i, j, lastK_)) below_[c] = lastK_;
      }
  }
  for (int j = 0; j < ny_; ++j)
    for (int i = 0; i < nx_; ++i) {
      const std::size_t c = std::size_t(j) * std::size_t(nx_) + std::size_t(i);
      int& up = above_[c];
      if (up < k) {
        up = k;
        while (up < nz_ && !g_.test(i, j, up)) ++up;
      }
      const std::int64_t dz = std::min<std::int64_t>(k - below_[c], up - k);
      const std::int64_t g = std::min(dz, cap_);
      g1_[c] = g * g;
    }
  // Along x, row by row, then along y, column by column; each with the
  // frame's set cells at both ends.
  std::vector<std::int64_t>& f = tmp_;
  for (int j = 0; j < ny_; ++j) {
    f[0] = 0;
    for (int i = 0; i < nx_; ++i) f[std::size_t(i) + 1] = g1_[std::size_t(j) * std::size_t(nx_) + std::size_t(i)];
    f[std::size_t(nx_) + 1] = 0;
    transformRow(f.data(), g2_.data() + std::size_t(j) * std::size_t(nx_), nx_ + 2, 1);
  }
  deep.assign(cells, 0);
  for (int i = 0; i < nx_; ++i) {
    f[0] = 0;
    for (int j = 0; j < ny_; ++j) f[std::size_t(j) + 1] = g2_[std::size_t(j) * std::size_t(nx_) + std::size_t(i)];
    f[std::size_t(ny_) + 1] = 0;
    transformRow(f.data(), d_.data(), ny_ + 2, 1);
    for (int j = 0; j < ny_; ++j) deep[std::size_t(j) * std::size_t(nx_) + std::size_t(i)] = d_[std::size_t(j)] > r2_;
  }
}

// ---- the hollowing ----

int shellRadius(double voxel, double shell, const GridShape& shape) {
  const double r = std::trunc((0.5 * voxel + shell) / voxel);
  // Beyond the largest dimension no cell can be deep: the frame around the
  // grid is nearer.
  const double bound = double(std::max({shape.n[0], shape.n[1], shape.n[2]})) + 1.0;
  if (!(r < bound)) return int(std::min(bound, double(INT_MAX / 4)));
  return int(std::max(r, 0.0));
}

namespace {

// One x-facing cavity wall square at the low-x face of cell (i, j, k):
// direction +1 faces +x (a run's start), -1 faces -x (its end).
void emitVoxelFace(std::vector<stlFacet>& walls, const FloatTriple& lo, double v, int i, int j, int k, int direction,
                   std::uint16_t attribute) {
  static const int offsets[2][3][2] = {{{0, 0}, {0, 1}, {1, 0}}, {{1, 1}, {1, 0}, {0, 1}}};
  const float x = float(double(i - 1) * v + double(lo[0]));
  for (const auto& facetOffsets : offsets) {
    stlFacet f;
    f.normal = {float(direction), 0.0f, 0.0f};
    f.attribute = attribute;
    for (int c = 0; c < 3; ++c) {
      f.corner[c] = {x, float(double(j - 1) * v + double(lo[1]) + facetOffsets[c][0] * v),
                     float(double(k - 1) * v + double(lo[2]) + facetOffsets[c][1] * v)};
    }
    if (direction > 0) std::swap(f.corner[0], f.corner[1]);
    walls.push_back(f);
  }
}

}  // namespace

std::optional<HollowResult> hollowStl(HostCore& core, const std::string& source, const std::string& destination,
                                      const HollowParams& p) {
  if (!(p.voxel > 0.0) || !std::isfinite(p.voxel)) {
    core.memoPrintf("voxel size %g: it must be a number above 0; nothing hollowed", p.voxel);
    return std::nullopt;
  }
  if (!(p.shell >= 0.0) || !std::isfinite(p.shell)) {
    core.memoPrintf("shell thickness %g: it must be a number of 0 or above; nothing hollowed", p.shell);
    return std::nullopt;
  }
  FacetList model;
  if (!readStlFacets(core, source, model)) {
    core.memoPrintf("%s not hollowed", source);
    return std::nullopt;
  }
  HollowResult result;
  result.shape = gridShapeOf(model.lo, model.hi, p.voxel);
  // The facets, their ranges and the walls (a few times the facets) beside
  // the grid's bits.
  const double facetBytes = double(model.facets.size()) * (2.0 * sizeof(stlFacet) + 32.0);
  if (auto refused = gridTooLarge(result.shape, p.voxel, facetBytes)) {
    core.memoPrintf("%s; nothing hollowed", *refused);
    return std::nullopt;
  }
  const int nx = int(result.shape.n[0]), ny = int(result.shape.n[1]), nz = int(result.shape.n[2]);
  result.radius = shellRadius(p.voxel, p.shell, result.shape);
  std::vector<std::array<int, 3>> offsets;
  if (p.offsetTest) {
    const double side = 2.0 * result.radius + 1.0, bytes = side * side * side * 12.0;
    if (bytes > machineMemoryBytes() * 0.5) {
      core.memoPrintf("shell thickness %g: a sphere of offsets of radius %d cells would take %s; nothing hollowed",
                      p.shell, result.radius, megabytes(bytes));
      return std::nullopt;
    }
    offsets = buildSphereOffsets(result.radius);
  }
  core.memoPrintf("%s=%d %s=%d %s=%d ", "mxyz[0]", nx, "mxyz[1]", ny, "mxyz[2]", nz);

  // Ray marking: every cell that touches a ray segment outside the model is
  // set; clear cells lie inside by at least one voxel.
  VoxelBits grid(nx, ny, nz);
  const RayGrid rays{model.lo, p.voxel, nx, nz};
  auto mark = [&](int i, int k, const std::vector<RayCrossing>& crossings) {
    bool inside = false;
    std::size_t next = 0;
    for (int j = 0; j <= ny - 2; ++j) {
      if (!inside)
        for (int dk = 0; dk < 2; ++dk)
          for (int dj = 0; dj < 2; ++dj) {
            grid.set(i, j + dj, k + dk);
            grid.set(i + 1, j + dj, k + dk);
          }
      while (next < crossings.size() && crossings[next].cell <= j) inside = crossings[next++].entering;
    }
  };
  const int planes = std::max(nz - 2, 1) * 2;
  auto progress = [&](int done) {
    core.ui.showProgress(int(std::int64_t(done) * 100 / planes));
    core.ui.processEvents();
    return !(p.abort && *p.abort);
  };
  const bool marched = p.offsetTest ? marchRaysPlain(model.facets, rays, mark)
                                    : marchRays(model.facets, rays, mark, [&](int k) { return progress(k); });
  if (!marched) {
    core.ui.showProgress(0);
    core.memoPrintf("hollowing stopped: nothing written");
    return std::nullopt;
  }

  // The cavity, and its x-facing walls per run of cavity cells along x.
  const std::uint16_t attribute = p.glassWalls ? kGlassCode : kNoColour;
  std::vector<stlFacet> walls;
  std::optional<DeepCells> fast;
  if (!p.offsetTest) fast.emplace(grid, result.radius);
  std::vector<std::uint8_t> deep;
  const int beams = p.beams;
  for (int k = 2; k <= nz - 3; ++k) {
    if (!p.offsetTest) {
      if (!progress(nz - 2 + k)) {
        core.ui.showProgress(0);
        core.memoPrintf("hollowing stopped: nothing written");
        return std::nullopt;
      }
      fast->plane(k, deep);
    }
    for (int j = 2; j <= ny - 3; ++j) {
      bool run = false;
      for (int i = 2; i <= nx - 3; ++i) {
        bool cavity = false;
        const bool beam = beams > 0 && (int(i % beams == 0) + int(j % beams == 0) + int(k % beams == 0)) >= 2;
        if (!beam && !grid.test(i, j, k)) {
          cavity = p.offsetTest ? deepInside(grid, offsets, i, j, k)
                                : deep[std::size_t(j) * std::size_t(nx) + std::size_t(i)] != 0;
        }
        if (cavity) ++result.cavityCells;
        if (cavity && !run) emitVoxelFace(walls, model.lo, p.voxel, i, j, k, +1, attribute);
        if (!cavity && run) emitVoxelFace(walls, model.lo, p.voxel, i, j, k, -1, attribute);
        run = cavity;
      }
      if (run) emitVoxelFace(walls, model.lo, p.voxel, nx - 2, j, k, -1, attribute);
    }
  }
  core.ui.showProgress(0);
  core.memoPrintf("%s=%lld ", "nsurround", static_cast<long long>(result.cavityCells));

  // The walls newest first, then the model's facets in reverse file order.
  result.wallFacets = walls.size();
  result.modelFacets = model.facets.size();
  {
    StlWriter out(core, destination);
    if (!out.open(nortavoHead().data())) return std::nullopt;
    for (auto f = walls.rbegin(); f != walls.rend(); ++f) out.write(*f);
    for (auto f = model.facets.rbegin(); f != model.facets.rend(); ++f) out.write(*f);
    if (!out.commit()) return std::nullopt;
  }
  model.facets = {};
  if (p.innerFile) {
    const std::string inner = folderWithSeparator(destination) + "inner.stl";
    std::reverse(walls.begin(), walls.end());
    if (!writeStlFacets(core, inner, walls)) return std::nullopt;
  }
  core.memoPrintf("hollowed");
  return result;
}

// ---- inner tiles ----

void tileRow(HostCore& core, double voxel, float x0, float x1, float y0, float y1, float z0, float z1, int flag,
             std::vector<stlFacet>& out) {
  const int step = int(signOf(x1 - x0));
  if (step == 0) {
    core.memoPrintf("0 step");
    return;
  }
  const int m = flag + 1;  // the axis across the row
  const double lowM = m == 1 ? y0 : z0, highM = m == 1 ? y1 : z1;
  const double lowR = m == 1 ? z0 : y0, highR = m == 1 ? z1 : y1;
  const int remaining = m == 1 ? 2 : 1;
  // The row ends after the voxels between its ends, also when its length
  // is not a whole number of voxels.
  const double length = std::fabs(double(x1) - double(x0)) / voxel;
  const std::int64_t tiles = std::int64_t(std::min(std::round(length), 1.0e9));
  double start = x0;
  for (std::int64_t t = 0; t < tiles && !nearlyEqual(start, x1); ++t) {
    const double end = start + step * voxel;
    static const int kCodes[2][3] = {{0, 3, 1}, {0, 2, 3}};
    for (const auto& codes : kCodes) {
      stlFacet f;
      f.attribute = kNoColour;
      f.normal = {0.0f, 0.0f, 0.0f};
      f.normal[std::size_t(2 - flag)] = signOf(x0 - x1);
      for (int c = 0; c < 3; ++c) {
        const int code = codes[c];
        auto& corner = f.corner[c];
        corner[0] = float((code & 2) ? end : start);
        corner[std::size_t(m)] = float((code & 1) ? highM : lowM);
        corner[std::size_t(remaining)] = float((code & 2) ? highR : lowR);
      }
      out.push_back(f);
    }
    start = end;
  }
}

bool makeInnerTiles(HostCore& core, const std::string& folder, double voxel) {
  const std::string innerName = folder + "inner.stl", tilesName = folder + "tile_fill.stl";
  if (!(voxel > 0.0) || !std::isfinite(voxel)) {
    core.memoPrintf("voxel size %g: it must be a number above 0; %s not written", voxel, tilesName);
    return false;
  }
  FacetList inner;
  if (!readStlFacets(core, innerName, inner)) {
    core.memoPrintf("%s not written", tilesName);
    return false;
  }
  // The list order of the walls: the reverse of the file's.
  std::reverse(inner.facets.begin(), inner.facets.end());
  struct Segment {
    float x, start, end;
    bool endUsed = false, startUsed = false;
  };
  std::vector<stlFacet> tiles;
  for (int sweep = 0; sweep < 2; ++sweep) {
    const int a = sweep == 0 ? 1 : 2;      // the axis cut across
    const int other = sweep == 0 ? 2 : 1;  // the axis the segments run along
    const double lo = inner.lo[std::size_t(a)], hi = inner.hi[std::size_t(a)];
    const double slabs = std::floor((hi + 0.001 - lo) / voxel) + 1.0;
    if (slabs > 1.0e7) {
      core.memoPrintf("voxel size %g: %.0f slabs are too many; %s not written", voxel, slabs, tilesName);
      return false;
    }
    for (std::int64_t n = 0; n < std::int64_t(slabs); ++n) {
      const double s = lo + double(n) * voxel;
      if (!(s < hi + 0.001)) break;
      std::vector<Segment> segments;
      for (const stlFacet& f : inner.facets) {
        int below = 0, m = -1;
        for (int c = 0; c < 3; ++c) {
          if (f.corner[c][std::size_t(a)] < s + 0.001) ++below;
          else m = c;
        }
        if (below != 2) continue;
        const auto& c1 = f.corner[(m + 1) % 3];
        const auto& c2 = f.corner[(m + 2) % 3];
        segments.push_back({c1[0], c1[std::size_t(other)], c2[std::size_t(other)]});
      }
      // Merging runs at the same x that meet end to start.
      std::vector<Segment> merged;
      for (std::size_t ia = 0; ia < segments.size(); ++ia) {
        Segment& A = segments[ia];
        bool gone = false;
        for (std::size_t ib = ia + 1; ib < segments.size() && !gone; ++ib) {
          Segment& B = segments[ib];
          if (!nearlyEqual(A.x, B.x)) continue;
          if (nearlyEqual(A.start, B.end)) {
            B.end = A.end;
            gone = true;
          } else if (nearlyEqual(A.end, B.start)) {
            B.start = A.start;
            gone = true;
          }
        }
        if (!gone) merged.push_back(A);
      }
      // Pairing: a row from the nearest run ending at e to the nearest run
      // starting there.
      for (;;) {
        auto first = std::find_if(merged.begin(), merged.end(), [](const Segment& g) { return !g.endUsed; });
        if (first == merged.end()) break;
        const float e = first->end;
        Segment *P = nullptr, *Q = nullptr;
        for (Segment& g : merged) {
          if (!g.endUsed && nearlyEqual(g.end, e) && (!P || g.x < P->x)) P = &g;
          if (!g.startUsed && nearlyEqual(g.start, e) && (!Q || g.x < Q->x)) Q = &g;
        }
        if (P && Q) {
          if (sweep == 0) tileRow(core, voxel, P->x, Q->x, float(s), float(s + voxel), P->end, Q->start, 0, tiles);
          else tileRow(core, voxel, P->x, Q->x, P->end, Q->start, float(s), float(s + voxel), 1, tiles);
        }
        P->endUsed = true;
        if (Q) Q->startUsed = true;
      }
    }
  }
  std::reverse(tiles.begin(), tiles.end());
  if (!writeStlFacets(core, tilesName, tiles)) return false;
  core.memoPrintf("saved tile_fill.stl");
  return true;
}

}  // namespace ph
