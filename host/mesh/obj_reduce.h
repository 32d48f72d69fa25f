#pragma once
// OBJ reduction with colour transfer: an outside simplifier reduces a
// vertex-coloured OBJ (a scan), and every vertex of the reduced model then
// gets the mean colour of the source vertices that lie nearest to it.
//
// The nearest-vertex rule: for the slab radii 10, 20, 40 and 80 in turn,
// the first slab |z - p.z| <= r (single precision) that holds any reduced
// vertex gives the nearest of those (squared distance in single
// precision); equal distances go to the earlier vertex in z order (z, then
// y, then x ascending, then later in the file first). A vertex with no
// reduced vertex within 80 in z takes the one with the smallest x.
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace plat {
class Timer;
}

namespace ph {

class Controls;
class HostCore;
class MeshTools;

using Point3f = std::array<float, 3>;

// The reduced vertices, indexed for the nearest-vertex rule. Points are
// numbered by their rank in z order.
class ReducedPointIndex {
 public:
  // Points in file order.
  void build(const std::vector<Point3f>& points);
  std::size_t size() const { return z_.size(); }

  // The rank of the nearest point by the rule, from a uniform grid; -1 when
  // no point lies within 80 in z.
  int nearest(const Point3f& p) const;
  // The same by the plain walk along the z-sorted points of each slab:
  // the reference the grid is checked against.
  int nearestReference(const Point3f& p) const;
  // The point with the smallest x (the later in the file on a tie).
  int fallback() const { return fallback_; }
  Point3f position(int rank) const { return {x_[std::size_t(rank)], y_[std::size_t(rank)], z_[std::size_t(rank)]}; }
  // The squared distance as the rule measures it.
  static float distance2(const Point3f& p, float x, float y, float z) {
    const float dx = p[0] - x, dy = p[1] - y, dz = p[2] - z;
    return dx * dx + dy * dy + dz * dz;
  }

 private:
  bool slabHoldsAny(float lo, float hi) const;
  int slabWalk(const Point3f& p, float lo, float hi) const;
  int slabGrid(const Point3f& p, float lo, float hi) const;
  int cellOf(float v, int axis) const;

  // Coordinates in z order.
  std::vector<float> x_, y_, z_;
  int fallback_ = -1;
  // 256 entry points into the z order, as the slab walk starts from.
  std::array<int, 256> zBucket_{};
  float minZ_ = 0.0f, maxZ_ = 0.0f;
  // The grid: cell (i, j, k) holds the ranks cellStart_[c] .. cellStart_[c + 1].
  float gridMin_[3] = {0, 0, 0};
  double cellSize_ = 1.0, invCell_ = 1.0;
  int dims_[3] = {1, 1, 1};
  std::vector<std::uint32_t> cellStart_;
  std::vector<std::int32_t> cellRanks_;
};

// One run of the colour transfer.
struct ColourTransferFiles {
  std::string source;     // the OBJ with vertex colours
  std::string reduced;    // the reduced OBJ, whose lines are copied
  std::string output;     // the coloured reduced OBJ
  std::string histogram;  // "temp.gfk": match distances per 0.1
};

// Reads the reduced file and the source, matches, writes the output and
// the histogram. False (told, naming file and line) when a file cannot be
// read, a vertex line is malformed or an output cannot be written; the
// output is then left as it was. `fallbacks` counts source vertices that
// found no reduced vertex within 80 in z (kept by the caller).
bool transferColours(HostCore& core, const ColourTransferFiles& files, int& fallbacks);

// The mesh-tools menu "objreduce" (under "more").
class ObjReduce {
 public:
  explicit ObjReduce(MeshTools& tools);
  ~ObjReduce();
  ObjReduce(const ObjReduce&) = delete;
  ObjReduce& operator=(const ObjReduce&) = delete;

  // The names the tool asks for, kept for the program run.
  std::string obj_input;
  std::string obj_output;
  std::string uncolored_input;
  int reduction_percentage = 10;
  // The simplifier shipped beside this program (tests set another).
  std::string simplifierProgram;
  // A simplifier still running after this long is stopped.
  int simplifierLimitMs = 30 * 60 * 1000;
  // Source vertices matched by the fallback, over the program run.
  int fallbackCount = 0;

  void attachMenus(Controls& controls);
  void startObjReduction();
  void checkSimplifier();
  // The colour transfer onto the reduced file; false (told) when it failed.
  bool matchColors();

  // The simplifier's output: "uncolored.obj" in the work folder.
  std::string simplifierOutput() const;
  // The file matched: uncolored_input, or the simplifier's output.
  std::string reducedFile;
  // The command line as logged: program, input, output, fraction " %3.2f".
  std::string commandText() const;
  bool waiting() const;

 private:
  void stopWaiting();
  MeshTools& tools_;
  std::unique_ptr<plat::Timer> timer_;
  pid_t child_ = -1;
  std::int64_t startedMs_ = 0;
};

}  // namespace ph
