#pragma once
// Point clouds of the developer mesh tools: the cloud read from the "v"
// lines of an OBJ, the nearest cloud point inside a box around a point, and
// the closest point of a triangle to a point.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/mesh/vect3.h"

namespace ph {

class HostCore;

// Half the side of the search box of nearestCloudPoint.
constexpr float kCloudBoxHalf = 30.0f;
// The answer when no point lies in the box.
inline vect3 noCloudPoint() { return {-10000.0, -10000.0, -10000.0}; }

class PointCloud {
 public:
  // Reads the "v" lines of an OBJ; with `unique` a line whose text came
  // before is left out. False (told, naming file and line) when the file
  // cannot be read or a vertex line is not three numbers; the cloud is
  // then empty.
  bool load(HostCore& core, const std::string& name, bool unique);
  // The source file again with the cloud's points on its "v" lines, in
  // reading order; a "v" line beyond the points is dropped with "too few
  // points". False (told) when a file could not be read or written.
  bool save(HostCore& core, const std::string& output) const;

  // The nearest point inside the box of half-side 30 around p (single
  // precision; the earlier point in z order on equal distances), or
  // noCloudPoint(). From a uniform grid.
  vect3 nearest(vect3 p) const;
  // The same by the walk along the z-sorted points: the reference.
  vect3 nearestReference(vect3 p) const;
  // Grid cells about `distance` wide (from half the cells the cloud's
  // spacing gives up to the box's half side), for searches whose points
  // lie about that far from the cloud: the cells next to a point's then
  // hold its answer. The answers do not change.
  void sizeCellsFor(double distance);
  double cellSize() const { return cell_; }
  // The numbers of `queries` in an order that searches neighbouring points
  // one after the other (the grid's cell order), so the cells they read
  // stay in the processor's caches.
  std::vector<std::uint32_t> searchOrder(const std::vector<vect3>& queries) const;

  std::size_t size() const { return points.size(); }
  // In reading order; tools move them (the index is not updated: only a
  // cloud that is searched must stay as loaded).
  std::vector<vect3> points;
  // Point numbers in z order (z ascending, equal z in the order the list
  // was read into: the later point first).
  std::vector<std::int32_t> zOrder;
  std::string sourceFile;

 private:
  void buildIndex();
  void buildGrid(double atLeast);
  struct Box {
    float lo[3], hi[3];
  };
  Box boxAround(vect3 p) const;
  static bool inside(const Box& b, const std::array<float, 3>& q);
  std::vector<std::array<float, 3>> stored_;  // single precision, in z order
  std::vector<std::int32_t> zRankOf_;
  float min_[3] = {9999.0f, 9999.0f, 9999.0f}, max_[3] = {-9999.0f, -9999.0f, -9999.0f};
  double cell_ = 1.0, baseCell_ = 0.0;
  int dims_[3] = {1, 1, 1};
  std::vector<std::uint32_t> cellStart_;
  struct CellPoint {
    float x, y, z;
    std::int32_t rank;
  };
  std::vector<CellPoint> cellPoints_;  // by cell, each cell's by rank
  int cellOf(float v, int axis) const;
};

// The closest point of the triangle V0 V1 V2 to P, in single precision.
vect3 closestPointOnTriangle(vect3 v0, vect3 v1, vect3 v2, vect3 p);

}  // namespace ph
