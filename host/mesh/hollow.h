#pragma once
// Voxel hollowing: a model's binary STL is voxelised by rays along y, every
// cell deeper inside than the shell becomes cavity (optionally crossed by a
// lattice of beams), and the cavity's x-facing walls are added to the model
// as facets that face into the cavity. The walls alone can go to
// "inner.stl", from which makeInnerTiles builds the y- and z-facing walls
// as tiles ("tile_fill.stl").
//
// The pieces here (the facet list, the bit grid, the ray test and the
// crossings) are shared with the voxel-edge repair and the void split.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/mesh/vect3.h"

namespace ph {

class HostCore;

// ---- small helpers ----

// |a - b| < 0.01: the tolerance of coordinates in the voxel tools.
inline bool nearlyEqual(double a, double b) { return (a > b ? a - b : b - a) < 0.01; }
// a / |a| when |a| >= 0.001, else 0.
float signOf(float a);

// The folder of a path with its trailing separator (the current folder for
// a bare name).
std::string folderWithSeparator(const std::string& path);

// ---- the facet list ----

// A model's facets in file order and their bounding box.
struct FacetList {
  std::vector<stlFacet> facets;
  FloatTriple lo{}, hi{};
  void computeBounds();
};

// Reads every whole facet of a binary STL through the project's reader.
// False, with the reason in the log (the file named), when the file cannot
// be read, holds no facet or has a corner that is not a finite number.
bool readStlFacets(HostCore& core, const std::string& name, FacetList& out);
// Writes the facets in the order given under a temporary name and puts the
// file in place when every byte is written (head "Nortavo conversion", the
// count of the facets written at byte 80). False, told, when it failed.
bool writeStlFacets(HostCore& core, const std::string& name, const std::vector<stlFacet>& facets);

// ---- the grid ----

// Cells along x, y and z: trunc(extent / voxel + 2), one spare cell before
// the model and at least one behind it; cell (i, j, k) covers x from
// lo.x + (i - 1) voxel to lo.x + i voxel, and likewise in y and z.
struct GridShape {
  std::array<std::int64_t, 3> n{};
  double cells() const { return double(n[0]) * double(n[1]) * double(n[2]); }
};
GridShape gridShapeOf(const FloatTriple& lo, const FloatTriple& hi, double voxel);

// Physical memory of this machine in bytes.
double machineMemoryBytes();
// Nothing when a grid of this shape (one bit per cell) plus extraBytes fits
// in the machine's memory, else the message that refuses it.
std::optional<std::string> gridTooLarge(const GridShape& shape, double voxel, double extraBytes);

// One bit per cell: set marks a cell outside the solid (or within one voxel
// of the outside). A test outside the grid answers set.
class VoxelBits {
 public:
  VoxelBits() = default;
  VoxelBits(int nx, int ny, int nz);
  int nx() const { return nx_; }
  int ny() const { return ny_; }
  int nz() const { return nz_; }
  void set(int x, int y, int z) { bits_[index(y, z) + std::size_t(x >> 5)] |= 1u << (x & 31); }
  bool test(int x, int y, int z) const {
    if (x < 0 || y < 0 || z < 0 || x >= nx_ || y >= ny_ || z >= nz_) return true;
    return (bits_[index(y, z) + std::size_t(x >> 5)] >> (x & 31) & 1u) != 0;
  }
  std::size_t bytes() const { return bits_.size() * sizeof(std::uint32_t); }

 private:
  std::size_t index(int y, int z) const { return (std::size_t(z) * std::size_t(ny_) + std::size_t(y)) * words_; }
  int nx_ = 0, ny_ = 0, nz_ = 0;
  std::size_t words_ = 0;
  std::vector<std::uint32_t> bits_;
};

// ---- rays ----

// Whether (x, z) lies in the facet's projection on the x-z plane. A zero
// edge term takes its neighbour's value, so a point on an edge counts for
// at most the facets whose other two terms agree.
bool insideTriangleXZ(const stlFacet& f, float x, float z);

// One surface crossing of a ray along +y: its y cell, whether it enters the
// solid (the facet's normal has y below 0), the facet (index into the list)
// and the exact y (ties within a cell keep their order by y, then facet).
struct RayCrossing {
  int cell = 0;
  bool entering = false;
  std::uint32_t facet = 0;
  float y = 0.0f;
};
// Ascending by cell; within one cell leaving before entering.
void sortCrossings(std::vector<RayCrossing>& crossings);

// The rays of a grid: for k = 0 to nz - 2 and i = 0 to nx - 2 the ray along
// +y at x = lo.x + i voxel, z = lo.z + k voxel. visit(i, k, crossings) gets
// the ray's crossings, sorted. The fast walk tests a ray only against the
// facets whose z range holds its plane and whose x range holds it; the
// plain walk tests every facet active at its height. Both give the same
// crossings. Between planes `between(k)` may stop the walk (false).
struct RayGrid {
  FloatTriple lo{};
  double voxel = 1.0;
  int nx = 0, nz = 0;
};
using RayVisit = std::function<void(int i, int k, const std::vector<RayCrossing>& crossings)>;
bool marchRays(const std::vector<stlFacet>& facets, const RayGrid& grid, const RayVisit& visit,
               const std::function<bool(int k)>& between = {});
bool marchRaysPlain(const std::vector<stlFacet>& facets, const RayGrid& grid, const RayVisit& visit);

// ---- deep cells ----

// The sphere of offsets of radius r: every (dx, dy, dz) in -r..r with
// dx² + dy² + dz² <= r², from the farthest to the nearest.
std::vector<std::array<int, 3>> buildSphereOffsets(int r);
// True when every cell at an offset from (i, j, k) tests clear.
bool deepInside(const VoxelBits& grid, const std::vector<std::array<int, 3>>& offsets, int i, int j, int k);

// The same answer for every cell of one plane at a time, from a distance
// transform of the set cells (cells outside the grid count as set): a cell
// is deep exactly when no set cell lies within distance r. Linear in the
// grid's cells, whatever r; memory of a few planes.
class DeepCells {
 public:
  DeepCells(const VoxelBits& grid, int r);
  // deep[i + nx * j] for plane k; planes are asked in rising order.
  void plane(int k, std::vector<std::uint8_t>& deep);

 private:
  void transformRow(const std::int64_t* f, std::int64_t* d, int n, std::size_t stride);
  const VoxelBits& g_;
  std::int64_t r2_, cap_;
  int nx_, ny_, nz_;
  std::vector<int> below_, above_;  // per column: nearest set z at or below / above the plane
  std::vector<std::int64_t> g1_, g2_, d_;
  std::vector<int> v_;
  std::vector<__int128> zn_, zd_;
  std::vector<std::int64_t> tmp_;
  int lastK_ = -1;
};

// ---- the hollowing ----

struct HollowParams {
  double voxel = 1.0;
  int beams = 0;
  double shell = 5.0;
  bool innerFile = false;   // the cavity walls alone to "inner.stl" too
  bool glassWalls = false;  // walls carry the glass code (allowglasscode)
  // The plain test of every sphere offset (the reference of the distance
  // transform; far too slow for large models).
  bool offsetTest = false;
  // Polled between planes; set: the hollowing stops and writes nothing.
  const bool* abort = nullptr;
};

struct HollowResult {
  GridShape shape;
  int radius = 0;
  std::int64_t cavityCells = 0;
  std::size_t wallFacets = 0, modelFacets = 0;
};

// The radius of the sphere of offsets in cells: trunc((voxel / 2 + shell) /
// voxel), bounded by what any grid of this shape can hold.
int shellRadius(double voxel, double shell, const GridShape& shape);

// Hollows source into destination (the cavity walls, newest first, then the
// model's facets in reverse file order). With innerFile the walls go to
// "inner.stl" beside the destination as well. Nothing when a value is
// refused, the source cannot be read, or a file cannot be written (all
// told); nothing is written then.
std::optional<HollowResult> hollowStl(HostCore& core, const std::string& source, const std::string& destination,
                                      const HollowParams& params);

// "tile_fill.stl" from "inner.stl" in the folder given (the cavity walls of
// the last hollowing with the same voxel size): the y- and z-facing walls
// as rows of tiles. Nothing written and false (told) when it failed.
bool makeInnerTiles(HostCore& core, const std::string& folder, double voxel);

// A row of tiles across axis flag + 1 (y for 0, z for 1) from x0 towards x1,
// one voxel wide each; the row ends after the number of voxels between its
// ends. Returns the tiles' facets ("0 step" logged for a row of no length).
void tileRow(HostCore& core, double voxel, float x0, float x1, float y0, float y1, float z0, float z1, int flag,
             std::vector<stlFacet>& out);

}  // namespace ph
