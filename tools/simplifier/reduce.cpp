#include "reduce.h"

#include <meshoptimizer.h>
#include <sys/mman.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <cmath>
#include <cstdint>
#include <numeric>

#include "side_by_side.h"

namespace simp {

namespace {

std::vector<unsigned> simplify(const std::vector<unsigned>& indices, const float* positions, std::size_t vertexCount,
                               std::size_t target) {
  std::vector<unsigned> out(indices.size());
  out.resize(meshopt_simplify(out.data(), indices.data(), indices.size(), positions, vertexCount, 3 * sizeof(float),
                              target, 1.0f, meshopt_SimplifyLockBorder, nullptr));
  return out;
}

// One entry per vertex for each worker, all 0 between uses: a block's
// number for each of its vertices, plus 1. Mapped fresh (zero, in huge
// pages), so only the pages a worker's blocks reach are ever touched.
class Scratch {
 public:
  explicit Scratch(std::size_t vertices) : bytes_(std::max<std::size_t>(1, vertices) * sizeof(unsigned)), arrays_(workers()) {}
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    for (void* a : arrays_)
      if (a) ::munmap(a, bytes_);
  }
  unsigned* of(unsigned worker) {
    void*& a = arrays_[worker];
    if (!a) {
      a = ::mmap(nullptr, bytes_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (a == MAP_FAILED) {
        a = nullptr;
        throw std::bad_alloc();
      }
      ::madvise(a, bytes_, MADV_HUGEPAGE);
    }
    return static_cast<unsigned*>(a);
  }

 private:
  std::size_t bytes_;
  std::vector<void*> arrays_;
};

// Triangles of the whole model (their numbers in `triangles`) simplified
// over only the vertices they use, vertices at one position taken as one
// (so seams of the texture or of the writer do not count as borders); the
// result names the whole model's vertices (of each position the lowest
// number the part uses).
std::vector<unsigned> simplifyPart(const std::vector<unsigned>& indices, const unsigned* triangles, std::size_t count,
                                   const std::vector<float>& positions, std::size_t target, unsigned* localOf) {
  std::vector<unsigned> local(count * 3), globalOf;
  globalOf.reserve(count);
  for (std::size_t t = 0; t < count; ++t)
    for (std::size_t k = 0; k < 3; ++k) {
      const unsigned v = indices[std::size_t(triangles[t]) * 3 + k];
      if (localOf[v] == 0) {
        globalOf.push_back(v);
        localOf[v] = unsigned(globalOf.size());
      }
      local[t * 3 + k] = localOf[v] - 1;
    }
  for (unsigned v : globalOf) localOf[v] = 0;
  // Equal positions: each vertex to the first of its position.
  const std::size_t used = globalOf.size();
  const auto* bits = reinterpret_cast<const std::uint32_t*>(positions.data());
  std::size_t slots = 16;
  while (slots < 2 * used) slots *= 2;
  std::vector<unsigned> table(slots, ~0u), firstOf(used);
  bool merged = false;
  for (std::size_t i = 0; i < used; ++i) {
    const std::uint32_t* p = bits + std::size_t(globalOf[i]) * 3;
    std::uint64_t h = (std::uint64_t(p[0]) << 32 | p[1]) * 0x9E3779B97F4A7C15ull;
    h = (h ^ (h >> 29) ^ std::uint64_t(p[2])) * 0xC2B2AE3D27D4EB4Full;
    for (std::size_t s = std::size_t(h >> 40) & (slots - 1);; s = (s + 1) & (slots - 1)) {
      if (table[s] == ~0u) {
        table[s] = unsigned(i);
        firstOf[i] = unsigned(i);
        break;
      }
      if (std::memcmp(bits + std::size_t(globalOf[table[s]]) * 3, p, 3 * sizeof(std::uint32_t)) == 0) {
        firstOf[i] = table[s];
        merged = true;
        break;
      }
    }
  }
  std::vector<float> localPositions;
  if (merged) {
    // Renumbered over the first vertices only, each named by the lowest
    // number among its position's.
    std::vector<unsigned> number(used), lowest;
    for (std::size_t i = 0; i < used; ++i)
      if (firstOf[i] == i) {
        number[i] = unsigned(lowest.size());
        lowest.push_back(globalOf[i]);
      } else {
        unsigned& l = lowest[number[firstOf[i]]];
        l = std::min(l, globalOf[i]);
      }
    for (unsigned& c : local) c = number[firstOf[c]];
    globalOf = std::move(lowest);
  }
  localPositions.resize(globalOf.size() * 3);
  for (std::size_t i = 0; i < globalOf.size(); ++i)
    for (std::size_t a = 0; a < 3; ++a) localPositions[i * 3 + a] = positions[std::size_t(globalOf[i]) * 3 + a];
  std::vector<unsigned> r = simplify(local, localPositions.data(), globalOf.size(), target);
  for (unsigned& i : r) i = globalOf[i];
  return r;
}

// The values at which `keys` is cut into `pieces` of equal counts; with
// `offset` 0.5 the cuts move by half a piece (a half piece at either end).
std::vector<float> equalCountCuts(std::vector<float> keys, std::size_t pieces, double offset) {
  std::vector<float> cuts;
  for (std::size_t p = 1; p <= pieces && !keys.empty(); ++p) {
    const double share = (double(p) - offset) / double(pieces);
    if (share >= 1.0) break;
    auto at = keys.begin() + std::ptrdiff_t(double(keys.size()) * share);
    std::nth_element(keys.begin(), at, keys.end());
    cuts.push_back(*at);
  }
  std::sort(cuts.begin(), cuts.end());
  return cuts;
}

std::uint32_t pieceOf(const std::vector<float>& cuts, float key) {
  return std::uint32_t(std::upper_bound(cuts.begin(), cuts.end(), key) - cuts.begin());
}

// The triangles of `indices` in blocks of about `perBlock`: cut into slabs
// of about equal counts along the longest side, each slab likewise along
// the second longest (the cuts taken from a sample of the triangles).
// `offset` (0 or 0.5) moves the cuts by half a block, so a second round
// cuts through the middles of the first round's blocks. Returns the
// triangles grouped by block, in their order within each (the simplifier
// is much faster on a scan's own order than on a shuffled one), and where
// each block starts.
std::vector<unsigned> cutIntoBlocks(const std::vector<unsigned>& indices, const std::vector<float>& positions,
                                    std::size_t perBlock, double offset, std::vector<std::size_t>& starts) {
  const std::size_t triangles = indices.size() / 3;
  auto centre = [&](std::size_t t, std::size_t axis) {
    return positions[std::size_t(indices[t * 3]) * 3 + axis] + positions[std::size_t(indices[t * 3 + 1]) * 3 + axis] +
           positions[std::size_t(indices[t * 3 + 2]) * 3 + axis];
  };
  const std::size_t step = std::max<std::size_t>(1, triangles / 65536);
  std::vector<std::size_t> sample;
  for (std::size_t t = 0; t < triangles; t += step) sample.push_back(t);
  float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  for (std::size_t t : sample)
    for (std::size_t a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], centre(t, a));
      hi[a] = std::max(hi[a], centre(t, a));
    }
  std::size_t axes[3] = {0, 1, 2};
  std::sort(axes, axes + 3, [&](std::size_t a, std::size_t b) { return hi[a] - lo[a] > hi[b] - lo[b]; });
  // Blocks about as long as wide on the two longest sides.
  const double blocks = std::max(1.0, double(triangles) / double(perBlock));
  const double ratio = double(hi[axes[0]] - lo[axes[0]]) / std::max(1e-30, double(hi[axes[1]] - lo[axes[1]]));
  const std::size_t slabs =
      std::size_t(std::clamp(std::round(std::sqrt(blocks * std::clamp(ratio, 1.0, blocks))), 1.0, blocks));
  const std::size_t across = std::max<std::size_t>(1, std::size_t(std::round(blocks / double(slabs))));
  std::vector<float> keys;
  for (std::size_t t : sample) keys.push_back(centre(t, axes[0]));
  const std::vector<float> slabCuts = equalCountCuts(keys, slabs, offset);
  std::vector<std::vector<float>> inSlab(slabCuts.size() + 1);
  for (std::size_t t : sample) inSlab[pieceOf(slabCuts, centre(t, axes[0]))].push_back(centre(t, axes[1]));
  std::vector<std::vector<float>> acrossCuts;
  for (auto& k : inSlab) acrossCuts.push_back(equalCountCuts(std::move(k), across, offset));
  const std::uint32_t pieces = std::uint32_t(across + 1), blockCount = std::uint32_t(inSlab.size()) * pieces;
  // Each part of the triangles counts its blocks, then puts them in place:
  // grouped by block, each in file order.
  const std::size_t parts = std::max<std::size_t>(1, std::min<std::size_t>(workers() * 2, triangles / 65536));
  std::vector<std::uint32_t> block(triangles);
  std::vector<std::vector<std::size_t>> counts(parts, std::vector<std::size_t>(blockCount, 0));
  sideBySide(parts, [&](std::size_t p) {
    for (std::size_t t = triangles * p / parts; t < triangles * (p + 1) / parts; ++t) {
      const std::uint32_t s = pieceOf(slabCuts, centre(t, axes[0]));
      block[t] = s * pieces + pieceOf(acrossCuts[s], centre(t, axes[1]));
      ++counts[p][block[t]];
    }
  });
  starts.assign(1, 0);
  std::size_t at = 0;
  for (std::uint32_t b = 0; b < blockCount; ++b) {
    for (std::size_t p = 0; p < parts; ++p) {
      const std::size_t n = counts[p][b];
      counts[p][b] = at;
      at += n;
    }
    if (at > starts.back()) starts.push_back(at);
  }
  std::vector<unsigned> order(triangles);
  sideBySide(parts, [&](std::size_t p) {
    std::vector<std::size_t>& next = counts[p];
    for (std::size_t t = triangles * p / parts; t < triangles * (p + 1) / parts; ++t) order[next[block[t]]++] = unsigned(t);
  });
  return order;
}

// One round: the blocks reduced side by side to `fraction` of their
// triangles (at least one), their cut edges locked.
std::vector<unsigned> reduceBlocks(const std::vector<unsigned>& indices, const std::vector<float>& positions,
                                   std::size_t perBlock, double offset, double fraction, Scratch& scratch) {
  std::vector<std::size_t> starts;
  const std::vector<unsigned> order = cutIntoBlocks(indices, positions, perBlock, offset, starts);
  const std::size_t blocks = starts.size() - 1;
  std::vector<std::vector<unsigned>> out(blocks);
  sideBySide(blocks, [&](std::size_t b, unsigned worker) {
    const std::size_t count = starts[b + 1] - starts[b];
    const std::size_t target = std::max<std::size_t>(1, std::size_t(std::lround(double(count) * fraction))) * 3;
    out[b] = simplifyPart(indices, order.data() + starts[b], count, positions, target, scratch.of(worker));
  });
  std::size_t total = 0;
  for (const auto& r : out) total += r.size();
  std::vector<unsigned> joined;
  joined.reserve(total);
  for (const auto& r : out) joined.insert(joined.end(), r.begin(), r.end());
  return joined;
}

}  // namespace

std::vector<unsigned> reduceMesh(const Mesh& mesh, std::size_t target, std::size_t perBlock) {
  const std::size_t indices = mesh.indices.size();
  Scratch scratch(mesh.positions.size() / 3);
  if (indices / 3 <= perBlock) {
    std::vector<unsigned> all(indices / 3);
    std::iota(all.begin(), all.end(), 0u);
    return simplifyPart(mesh.indices, all.data(), all.size(), mesh.positions, target, scratch.of(0));
  }
  // First a little above the target, then with the cuts moved the rest
  // of the way, which frees the first round's cut edges.
  const double fraction = double(target) / double(indices);
  const std::vector<unsigned> first =
      reduceBlocks(mesh.indices, mesh.positions, perBlock, 0.0, std::min(1.0, fraction * kFirstRoundRoom), scratch);
  return reduceBlocks(first, mesh.positions, perBlock, 0.5, double(target) / double(first.size()), scratch);
}

}  // namespace simp
