#include "slicer/stl_loader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/fingerprint.h"
#include "platform/format.h"
#include "platform/large_pages.h"
#include "platform/workers.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"
#include "slicer/support_file.h"

namespace lt {

namespace {

constexpr std::size_t kFacetBytes = 50;
constexpr std::size_t kFacetsPerRead = 4096;

Vec3f readVec(const unsigned char* p) {
  float f[3];
  std::memcpy(f, p, sizeof f);
  return {f[0], f[1], f[2]};
}

// Many tools write a zero normal; the slicer needs it to tell inside from
// outside, so take it from the vertices (right-hand order).
Vec3f normalFromVertices(const Vec3f v[3]) {
  const double ax = v[1].x - v[0].x, ay = v[1].y - v[0].y, az = v[1].z - v[0].z;
  const double bx = v[2].x - v[0].x, by = v[2].y - v[0].y, bz = v[2].z - v[0].z;
  const double nx = ay * bz - az * by, ny = az * bx - ax * bz, nz = ax * by - ay * bx;
  const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
  if (!(len > 0)) return {};
  return {float(nx / len), float(ny / len), float(nz / len)};
}

void resetModelState(SliceValues& values, ColouredModel& m) {
  m.facets.clear();
  m.facets.shrink_to_fit();
  m.palette.reset();
  std::fill(m.colourDistanceOffset.begin(), m.colourDistanceOffset.end(), 0.0f);
  m.headerColour = false;
  m.headerDefault = 0;
  m.boxMin = {9.99e9f, 9.99e9f, 9.99e9f};
  m.boxMax = {-9.99e9f, -9.99e9f, -9.99e9f};
  m.placementMin = {};
  m.loadMin = {};
  m.placeOffset = {};
  m.placed = false;
  m.placementPending = false;
  m.supportScale = 1.0f;
  m.supportShift = {};
  m.singleWhite = false;
  values.copiesX = values.copiesY = 1;
  values.modelWidthDots = 10;
  values.modelRows = 32767;
}

// The extents of the model; false with `error` when a coordinate is not a
// number or lies beyond what the slicer's arithmetic takes.
bool measure(ColouredModel& m, std::size_t fileFacets, const std::string& stl, std::string& error) {
  for (std::size_t i = 0; i < m.facets.size(); ++i) {
    auto& f = m.facets[i];
    for (const auto& v : f.v) {
      if (std::fabs(v.x) <= kMaxCoordinateMm && std::fabs(v.y) <= kMaxCoordinateMm &&
          std::fabs(v.z) <= kMaxCoordinateMm)
        continue;
      const std::string which = i < fileFacets ? plat::format("facet %zu", i + 1)
                                               : plat::format("support block facet %zu", i + 1 - fileFacets);
      if (std::isnan(v.x) || std::isnan(v.y) || std::isnan(v.z))
        error = plat::format("%s: %s has a vertex coordinate that is not a number", stl, which);
      else  // x is mirrored from loading on: the message gives the file's x.
        error = plat::format("%s: %s has a vertex at (%g, %g, %g) mm, outside the %g mm that a model may reach", stl,
                             which, -double(v.x), double(v.y), double(v.z), kMaxCoordinateMm);
      return false;
    }
    f.zTop = std::max({f.v[0].z, f.v[1].z, f.v[2].z});
    f.zBottom = std::min({f.v[0].z, f.v[1].z, f.v[2].z});
    for (const auto& v : f.v) {
      m.boxMin = {std::min(m.boxMin.x, v.x), std::min(m.boxMin.y, v.y), std::min(m.boxMin.z, v.z)};
      m.boxMax = {std::max(m.boxMax.x, v.x), std::max(m.boxMax.y, v.y), std::max(m.boxMax.z, v.z)};
    }
  }
  return true;
}

// Whether a stored normal agrees with the facet's vertex order (counter-
// clockwise seen from outside): 1 agrees, -1 disagrees, 0 cannot tell.
int normalAgreement(const Vec3f& n, const Vec3f v[3]) {
  const double ax = v[1].x - v[0].x, ay = v[1].y - v[0].y, az = v[1].z - v[0].z;
  const double bx = v[2].x - v[0].x, by = v[2].y - v[0].y, bz = v[2].z - v[0].z;
  const double d = n.x * (ay * bz - az * by) + n.y * (az * bx - ax * bz) + n.z * (ax * by - ay * bx);
  return d > 0 ? 1 : d < 0 ? -1 : 0;
}

// Stable, and a strict order even when a corrupt file holds NaN heights
// (they go last).
bool lowerBottom(const FacetRecord& a, const FacetRecord& b) {
  if (std::isnan(a.zBottom)) return false;
  if (std::isnan(b.zBottom)) return true;
  return a.zBottom < b.zBottom;
}

// Runs job(0) .. job(count - 1) on up to `threads` threads.
template <class Job>
void onThreads(std::size_t count, int threads, const Job& job) {
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next++) < count;) job(i);
  };
  std::vector<std::thread> helpers;
  // Threads that cannot be had leave their share to this one.
  try {
    for (int t = 1; t < threads && std::size_t(t) < count; ++t) helpers.emplace_back(work);
  } catch (const std::system_error&) {
  }
  work();
  for (auto& h : helpers) h.join();
}

}  // namespace

void sortFacetsByBottomPlain(std::vector<FacetRecord>& facets) {
  std::stable_sort(facets.begin(), facets.end(), lowerBottom);
}

// Runs of facets are sorted side by side, then merged in pairs (each merge
// takes the earlier run's facet of equal ones, so the order stays stable)
// between the array and a second copy, the merges of a round side by side.
void sortFacetsByBottom(std::vector<FacetRecord>& facets) {
  constexpr std::size_t kRun = std::size_t(1) << 14;
  const std::size_t n = facets.size();
  if (n <= 2 * kRun) {
    sortFacetsByBottomPlain(facets);
    return;
  }
  const int threads = std::clamp(plat::usableProcessors(), 1, 16);
  FacetRecord* a = facets.data();
  plat::ScratchMemory scratch(n * sizeof(FacetRecord));
  if (!scratch.data()) {
    sortFacetsByBottomPlain(facets);
    return;
  }
  onThreads((n + kRun - 1) / kRun, threads, [&](std::size_t r) {
    std::stable_sort(a + r * kRun, a + std::min(n, (r + 1) * kRun), lowerBottom);
  });
  // Records are plain values: the merges write them into the bare memory.
  FacetRecord* b = static_cast<FacetRecord*>(scratch.data());
  FacetRecord *from = a, *to = b;
  for (std::size_t width = kRun; width < n; width *= 2) {
    onThreads((n + 2 * width - 1) / (2 * width), threads, [&](std::size_t k) {
      const std::size_t lo = k * 2 * width, mid = std::min(n, lo + width), hi = std::min(n, lo + 2 * width);
      std::merge(from + lo, from + mid, from + mid, from + hi, to + lo, lowerBottom);
    });
    std::swap(from, to);
  }
  if (from != a) {
    const std::size_t pieces = std::size_t(threads);
    onThreads(pieces, threads, [&](std::size_t k) {
      std::copy(b + k * n / pieces, b + (k + 1) * n / pieces, a + k * n / pieces);
    });
  }
}

bool headerColourOf(const unsigned char head[84], std::uint16_t& colour) {
  static const char key[] = "COLOR=";
  bool found = false;
  for (std::size_t i = 0; i + 6 <= 80; ++i) {
    if (std::memcmp(head + i, key, 6) != 0) continue;
    const unsigned char* c = head + i + 6;  // may reach into the count: the head is 84 bytes
    colour = std::uint16_t((c[0] >> 3) << 10 | (c[1] >> 3) << 5 | (c[2] >> 3));
    found = true;
  }
  return found;
}

std::uint16_t facetColour(std::uint16_t a, bool headerColour, std::uint16_t headerDefault) {
  if (headerColour) {
    if (a & 0x8000) return std::uint16_t(headerDefault | 0x8000);
    return std::uint16_t((a & 0x3E0) | (a & 0x1F) << 10 | (a & 0x7C00) >> 10 | 0x8000);
  }
  if (!(a & 0x8000) && a != kGlassCode) return 0;
  return a;
}

LoadResult loadColouredStl(const std::string& modelName, SliceValues& values, ColouredModel& m,
                           const ProgressFn& progress) {
  LoadResult res;
  resetModelState(values, m);
  const std::string stl = stlFileName(modelName);
  m.sourcePath = stl;

  InputFile in;
  if (!in.open(stl, "the model", kMaxModelBytes)) {
    res.error = in.error();
    return res;
  }
  const long long size = in.size();
  if (size < 84) {
    res.error = plat::format("%s is not a binary STL: its %lld bytes are not 84 + 50 x n", stl, size);
    return res;
  }
  const std::size_t total = std::size_t((size - 84) / 50);
  if (total == 0) {
    res.error = plat::format("%s holds no facets", stl);
    return res;
  }
  // A few bytes after the last whole facet (a writer that padded the file,
  // a transfer that added a line end) cost nothing: every facet is read.
  if (const long long tail = (size - 84) % 50; tail != 0)
    res.notes.push_back(plat::format("%s: the %lld bytes after its last whole facet (%zu) are not a facet and were "
                                     "not read",
                                     stl, tail, total));
  m.modelSize = std::int32_t(size);
  m.modelDateCode = plat::dateCodeOf(in.modified());
  // A model recoloured in place keeps its size and may keep its date code.
  if (auto crc = plat::fileContentCrc(localPath(stl))) {
    m.modelContentCrc = *crc;
  } else {
    res.error = plat::format("cannot read the model %s again for its checksum", stl);
    return res;
  }

  unsigned char head[84];
  if (in.read(head, 84) != 84) {
    res.error = in.error().empty() ? plat::format("cannot read the model %s: it ends in its head", stl) : in.error();
    return res;
  }
  // An ASCII STL begins with "solid" and is text through what would be a
  // binary file's facet count; read as binary its text gives wild numbers.
  {
    bool text = std::memcmp(head, "solid", 5) == 0;
    for (int i = 0; i < 84 && text; ++i)
      text = head[i] == '\t' || head[i] == '\n' || head[i] == '\r' || (head[i] >= 32 && head[i] < 127);
    const std::uint32_t stored = std::uint32_t(head[80]) | std::uint32_t(head[81]) << 8 |
                                 std::uint32_t(head[82]) << 16 | std::uint32_t(head[83]) << 24;
    if (text && stored != total) {
      res.error = plat::format("%s is an ASCII STL: only binary STL is read (save the model as binary STL)", stl);
      return res;
    }
  }
  m.headerColour = headerColourOf(head, m.headerDefault);

  const std::string sup = supportFileName(modelName);
  std::string supportError;
  if (applySupportFile(sup, 0, values, m, res.notes, supportError) == SupportFileRead::Failed) {
    res.error = supportError;
    return res;
  }

  m.facets.reserve(total);
  plat::adviseLargePages(m.facets.data(), m.facets.capacity() * sizeof(FacetRecord));
  std::vector<unsigned char> buf(kFacetsPerRead * kFacetBytes);
  std::size_t done = 0, against = 0, told = 0;
  int shown = -1;  // the gauge is told of whole percents only
  while (done < total) {
    const std::size_t n = std::min(kFacetsPerRead, total - done);
    const long long want = static_cast<long long>(n * kFacetBytes);
    const long long got = in.read(buf.data(), std::size_t(want));
    if (got != want) {
      res.error = got < 0 ? in.error()
                          : plat::format("cannot read the model %s: it ends after %zu of %zu facets", stl,
                                         done + std::size_t(got) / kFacetBytes, total);
      m.facets.clear();
      return res;
    }
    for (std::size_t i = 0; i < n; ++i) {
      const unsigned char* p = buf.data() + i * kFacetBytes;
      FacetRecord f;
      Vec3f normal = readVec(p);
      for (int k = 0; k < 3; ++k) f.v[k] = readVec(p + 12 + 12 * k);
      const bool stored = std::isfinite(normal.x) && std::isfinite(normal.y) && std::isfinite(normal.z) &&
                          !(normal.x == 0 && normal.y == 0 && normal.z == 0);
      if (stored) {
        const int a = normalAgreement(normal, f.v);
        told += a != 0;
        against += a < 0;
      } else {
        normal = normalFromVertices(f.v);
      }
      f.normal = {-normal.x, normal.y, normal.z};
      for (auto& v : f.v) v.x = -v.x;
      std::uint16_t attr;
      std::memcpy(&attr, p + 48, 2);
      f.colourIndex = m.palette.assign(facetColour(attr, m.headerColour, m.headerDefault));
      m.facets.push_back(f);
      ++done;
    }
    if (const int percent = int(done * 100 / total); progress && percent != shown) {
      shown = percent;
      progress(percent);
    }
  }
  // Inside and outside are told by the stored normals: when most of them
  // point against their facets' vertex order, the model is likely turned
  // inside out and slices hollow or empty.
  if (2 * against > told)
    res.notes.push_back(plat::format("%s: %zu of %zu stored facet normals point against their vertex order (into "
                                     "the model?): it may slice hollow or empty",
                                     stl, against, told));

  const std::size_t fileFacets = m.facets.size();
  if (applySupportFile(sup, 1, values, m, res.notes, supportError) == SupportFileRead::Failed) {
    res.error = supportError;
    m.facets.clear();
    return res;
  }
  if (!measure(m, fileFacets, stl, res.error)) {
    m.facets.clear();
    return res;
  }
  m.loadMin = m.boxMin;
  m.boxMin.y -= float(values.yShift);
  sortFacetsByBottom(m.facets);

  m.singleWhite = m.palette.count() == 1 && (m.palette.colour(1) & 0x7FFF) == 0x7FFF;
  m.placementMin = m.boxMin;
  m.placementPending = true;
  m.boxMin.x = 0;
  m.boxMin.y = 0;
  m.dotsPerMmX = m.dotsPerMmY = 11.811024;
  if (progress) progress(0);
  res.ok = true;
  return res;
}

}  // namespace lt
