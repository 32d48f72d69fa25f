#include "host/mesh/obj_reduce.h"

#include <signal.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "host/core/files.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/stopwatch.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/obj_lines.h"
#include "host/mesh/parallel_blocks.h"
#include "host/mesh/stl_stream.h"
#include "platform/clock.h"
#include "platform/process.h"

namespace ph {

namespace {

constexpr float kRadii[] = {10.0f, 20.0f, 40.0f, 80.0f};
constexpr int kHistogramBins = 10000;
constexpr int kFallbackReports = 1000;

// Relative slack for pruning grid cells: a cell is skipped only when even
// its nearest corner is clearly farther than the best point found, so the
// rounding of the single-precision distance never loses an equal one.
constexpr double kPruneSlack = 1e-5;

bool isVertexLine(std::string_view line) { return line.size() >= 2 && line[0] == 'v' && line[1] == ' '; }

// Reads `count` numbers off the front of the text; a missing word or one
// that is not a number is described in `why`.
bool readNumbers(std::string_view& rest, float* out, int count, std::string& why) {
  for (int i = 0; i < count; ++i) {
    const std::string_view word = cutWordView(rest);
    if (word.empty()) {
      why = "a vertex line with too few numbers";
      return false;
    }
    if (!parseFloatWord(word, out[i])) {
      why = plat::format("'%s' is not a number", std::string(word));
      return false;
    }
  }
  return true;
}

}  // namespace

// ---- the index ----

void ReducedPointIndex::build(const std::vector<Point3f>& points) {
  const std::size_t n = points.size();
  std::vector<std::int32_t> order(n);
  std::iota(order.begin(), order.end(), 0);
  // z, y, x ascending, then the later point in the file first.
  std::sort(order.begin(), order.end(), [&](std::int32_t a, std::int32_t b) {
    const Point3f &p = points[std::size_t(a)], &q = points[std::size_t(b)];
    if (p[2] != q[2]) return p[2] < q[2];
    if (p[1] != q[1]) return p[1] < q[1];
    if (p[0] != q[0]) return p[0] < q[0];
    return a > b;
  });
  x_.resize(n);
  y_.resize(n);
  z_.resize(n);
  for (std::size_t r = 0; r < n; ++r) {
    const Point3f& p = points[std::size_t(order[r])];
    x_[r] = p[0];
    y_[r] = p[1];
    z_[r] = p[2];
  }
  fallback_ = -1;
  for (std::size_t r = 0; r < n; ++r) {
    const int f = fallback_;
    if (f < 0 || x_[r] < x_[std::size_t(f)] ||
        (x_[r] == x_[std::size_t(f)] && order[r] > order[std::size_t(f)]))
      fallback_ = int(r);
  }
  if (n == 0) return;

  // The z entry points: bucket k is the first point at or above
  // minZ + k * (maxZ - minZ) / 256.
  minZ_ = z_.front();
  maxZ_ = z_.back();
  const float step = (maxZ_ - minZ_) * (1.0f / 256.0f);
  std::size_t r = 0;
  int k = 0;
  while (k < 256 && r < n) {
    if (z_[r] >= minZ_ + float(k) * step) zBucket_[std::size_t(k++)] = int(r);
    else ++r;
  }
  for (; k < 256; ++k) zBucket_[std::size_t(k)] = k > 0 ? zBucket_[std::size_t(k - 1)] : 0;

  // The grid: cells about 1.5 times the mean spacing of points on a surface
  // of the bounding box's size, at most a few cells per point.
  float lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    const std::vector<float>& c = a == 0 ? x_ : a == 1 ? y_ : z_;
    const auto [mn, mx] = std::minmax_element(c.begin(), c.end());
    lo[a] = *mn;
    hi[a] = *mx;
  }
  const double ex = double(hi[0]) - lo[0], ey = double(hi[1]) - lo[1], ez = double(hi[2]) - lo[2];
  const double area = 2.0 * (ex * ey + ey * ez + ez * ex);
  double s = 1.5 * std::sqrt(area / double(n));
  const double largest = std::max({ex, ey, ez});
  if (!(s > 0.0)) s = largest > 0.0 ? largest : 1.0;
  s = std::max(s, largest / 4096.0);
  auto cells = [&](double size) {
    return (std::floor(ex / size) + 1) * (std::floor(ey / size) + 1) * (std::floor(ez / size) + 1);
  };
  const double cellLimit = std::max(4.0 * double(n), 4096.0);
  while (cells(s) > cellLimit) s *= 1.25;
  cellSize_ = s;
  invCell_ = 1.0 / s;
  dims_[0] = int(std::floor(ex / s)) + 1;
  dims_[1] = int(std::floor(ey / s)) + 1;
  dims_[2] = int(std::floor(ez / s)) + 1;
  for (int a = 0; a < 3; ++a) gridMin_[a] = lo[a];
  const std::size_t total = std::size_t(dims_[0]) * std::size_t(dims_[1]) * std::size_t(dims_[2]);
  cellStart_.assign(total + 1, 0);
  std::vector<std::uint32_t> cellOfRank(n);
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t c = (std::size_t(cellOf(z_[i], 2)) * std::size_t(dims_[1]) + std::size_t(cellOf(y_[i], 1))) *
                              std::size_t(dims_[0]) +
                          std::size_t(cellOf(x_[i], 0));
    cellOfRank[i] = std::uint32_t(c);
    ++cellStart_[c + 1];
  }
  for (std::size_t c = 0; c < total; ++c) cellStart_[c + 1] += cellStart_[c];
  cellRanks_.resize(n);
  std::vector<std::uint32_t> fill(cellStart_.begin(), cellStart_.end() - 1);
  // Ranks go in ascending, so each cell lists its points in z order.
  for (std::size_t i = 0; i < n; ++i) cellRanks_[fill[cellOfRank[i]]++] = std::int32_t(i);
}

int ReducedPointIndex::cellOf(float v, int axis) const {
  const double t = std::floor((double(v) - double(gridMin_[axis])) * invCell_);
  if (!(t > 0.0)) return 0;
  if (t >= double(dims_[axis] - 1)) return dims_[axis] - 1;
  return int(t);
}

bool ReducedPointIndex::slabHoldsAny(float lo, float hi) const {
  const auto it = std::lower_bound(z_.begin(), z_.end(), lo);
  return it != z_.end() && *it <= hi;
}

int ReducedPointIndex::slabWalk(const Point3f& p, float lo, float hi) const {
  const std::size_t n = z_.size();
  if (n == 0) return -1;
  int k = 0;
  const float range = maxZ_ - minZ_;
  if (range > 0.0f) {
    const double f = std::trunc(double((lo - minZ_) * 256.0f / range));
    k = f < 0.0 ? 0 : f > 255.0 ? 255 : int(f);
  }
  std::size_t r = std::size_t(zBucket_[std::size_t(k)]);
  // The entry point's threshold may round past lo: step back to the first
  // point at or above lo.
  while (r > 0 && z_[r - 1] >= lo) --r;
  while (r < n && z_[r] < lo) ++r;
  int best = -1;
  float bestD = 999999.9f;
  for (; r < n && z_[r] <= hi; ++r) {
    const float d = distance2(p, x_[r], y_[r], z_[r]);
    if (best < 0 || d < bestD) {
      best = int(r);
      bestD = d;
    }
  }
  return best;
}

int ReducedPointIndex::slabGrid(const Point3f& p, float lo, float hi) const {
  const int ci = cellOf(p[0], 0), cj = cellOf(p[1], 1), ck = cellOf(p[2], 2);
  const int klo = cellOf(lo, 2), khi = cellOf(hi, 2);
  const int maxD = std::max({dims_[0], dims_[1], dims_[2]});
  int best = -1;
  float bestD = 0.0f;
  const double s = cellSize_;
  auto visitCell = [&](int i, int j, int k) {
    // The distance from p to the cell's box, as a lower bound.
    double gap2 = 0.0;
    const int idx[3] = {i, j, k};
    for (int a = 0; a < 3; ++a) {
      const double b0 = double(gridMin_[a]) + idx[a] * s, b1 = b0 + s;
      const double v = p[std::size_t(a)];
      const double g = v < b0 ? b0 - v : v > b1 ? v - b1 : 0.0;
      gap2 += g * g;
    }
    if (best >= 0 && gap2 > double(bestD) * (1.0 + kPruneSlack)) return;
    const std::size_t c = (std::size_t(k) * std::size_t(dims_[1]) + std::size_t(j)) * std::size_t(dims_[0]) + std::size_t(i);
    for (std::uint32_t e = cellStart_[c]; e < cellStart_[c + 1]; ++e) {
      const std::size_t r = std::size_t(cellRanks_[e]);
      const float z = z_[r];
      if (z < lo || z > hi) continue;
      const float d = distance2(p, x_[r], y_[r], z);
      if (best < 0 || d < bestD || (d == bestD && int(r) < best)) {
        best = int(r);
        bestD = d;
      }
    }
  };
  for (int d = 0; d <= maxD; ++d) {
    if (best >= 0) {
      const double bound = double(std::max(d - 1, 0)) * s;
      if (bound * bound > double(bestD) * (1.0 + kPruneSlack)) break;
    }
    const int k0 = std::max(ck - d, klo), k1 = std::min(ck + d, khi);
    const int j0 = std::max(cj - d, 0), j1 = std::min(cj + d, dims_[1] - 1);
    const int i0 = std::max(ci - d, 0), i1 = std::min(ci + d, dims_[0] - 1);
    for (int k = k0; k <= k1; ++k) {
      const bool kFace = std::abs(k - ck) == d;
      for (int j = j0; j <= j1; ++j) {
        if (kFace || std::abs(j - cj) == d) {
          for (int i = i0; i <= i1; ++i) visitCell(i, j, k);
        } else {
          if (ci - d >= 0) visitCell(ci - d, j, k);
          if (d > 0 && ci + d < dims_[0]) visitCell(ci + d, j, k);
        }
      }
    }
  }
  return best;
}

int ReducedPointIndex::nearest(const Point3f& p) const {
  for (float r : kRadii) {
    const float lo = p[2] - r, hi = p[2] + r;
    if (slabHoldsAny(lo, hi)) return slabGrid(p, lo, hi);
  }
  return -1;
}

int ReducedPointIndex::nearestReference(const Point3f& p) const {
  for (float r : kRadii) {
    const int found = slabWalk(p, p[2] - r, p[2] + r);
    if (found >= 0) return found;
  }
  return -1;
}

// ---- the colour transfer ----

namespace {

// The "v " lines of a file: positions, and with colours also the three
// numbers after them.
bool readVertices(HostCore& core, const std::string& name, bool colours, std::vector<Point3f>& pos,
                  std::vector<Point3f>* col) {
  LineReader in;
  if (!in.open(name)) {
    core.memoPrintf("cannot read from file: %s", name);
    return false;
  }
  // A vertex line with colours takes some 50 bytes: room for most files
  // without regrowing.
  const long long size = fileSizeOf(name);
  if (size > 0) {
    pos.reserve(std::size_t(size / 48));
    if (col) col->reserve(std::size_t(size / 48));
  }
  std::string_view line;
  std::string why;
  while (in.next(line)) {
    if (!isVertexLine(line)) continue;
    std::string_view rest = trimView(line.substr(2));
    Point3f p{}, c{};
    bool ok = readNumbers(rest, p.data(), 3, why);
    if (ok && colours && !readNumbers(rest, c.data(), 3, why)) {
      ok = false;
      if (why == "a vertex line with too few numbers") why = "a vertex line without colour numbers";
    }
    if (!ok) {
      core.memoPrintf("%s line %lld: %s", name, in.lineNumber(), why);
      return false;
    }
    pos.push_back(p);
    if (col) col->push_back(c);
  }
  if (in.failed()) {
    core.memoPrintf("cannot read from file: %s", name);
    return false;
  }
  return true;
}

}  // namespace

bool transferColours(HostCore& core, const ColourTransferFiles& files, int& fallbacks) {
  stopwatchStart();
  core.memoPrintf("matching colors....");
  for (const std::string* input : {&files.source, &files.reduced}) {
    if (sameFile(files.output, *input)) {
      core.memoPrintf("%s is an input of the colour transfer; choose another output name", files.output);
      return false;
    }
  }
  std::vector<Point3f> reduced;
  if (!readVertices(core, files.reduced, false, reduced, nullptr)) return false;
  core.logVars("nrpoint", int(std::min<std::size_t>(reduced.size(), INT32_MAX)));
  if (reduced.empty()) {
    core.memoPrintf("%s holds no vertices", files.reduced);
    return false;
  }
  ReducedPointIndex index;
  index.build(reduced);

  std::vector<Point3f> source, colour;
  if (!readVertices(core, files.source, true, source, &colour)) return false;
  std::vector<std::int32_t> match(source.size());
  forBlocks(source.size(), [&](std::size_t b, std::size_t e) {
    for (std::size_t i = b; i < e; ++i) match[i] = index.nearest(source[i]);
  });

  const std::size_t n = index.size();
  std::vector<Point3f> sum(n, Point3f{0, 0, 0});
  std::vector<int> count(n, 0);
  std::vector<int> histogram(kHistogramBins, 0);
  for (std::size_t i = 0; i < source.size(); ++i) {
    int r = match[i];
    const Point3f& p = source[i];
    if (r < 0) {
      r = index.fallback();
      ++fallbacks;
      if (fallbacks < kFallbackReports)
        core.memoPrintf("%d %2.2f,%2.2f,%2.2f", fallbacks, double(p[0]), double(p[1]), double(p[2]));
    }
    const Point3f q = index.position(r);
    for (int c = 0; c < 3; ++c) sum[std::size_t(r)][std::size_t(c)] += colour[i][std::size_t(c)];
    ++count[std::size_t(r)];
    const double d = std::sqrt(double(ReducedPointIndex::distance2(p, q[0], q[1], q[2])));
    const double bin = std::trunc(10.0 * d);
    ++histogram[std::size_t(bin >= kHistogramBins - 1 ? kHistogramBins - 1 : bin < 0.0 ? 0 : int(bin))];
  }
  core.logVars("nrpoint", int(std::min<std::size_t>(source.size(), INT32_MAX)), "0", 0, "5", 5);

  // The reduced file again, each vertex line with its mean colour.
  LineReader in;
  if (!in.open(files.reduced)) {
    core.memoPrintf("cannot read from file: %s", files.reduced);
    return false;
  }
  TextOutFile out(core, files.output);
  if (!out.open()) return false;
  std::string_view line;
  std::string text;
  while (in.next(line)) {
    out.put(line);
    if (isVertexLine(line)) {
      std::string_view rest = trimView(line.substr(2));
      Point3f p{};
      std::string why;
      if (!readNumbers(rest, p.data(), 3, why)) {
        core.memoPrintf("%s line %lld: %s", files.reduced, in.lineNumber(), why);
        return false;
      }
      const int r = index.nearest(p);
      const std::size_t k = std::size_t(r < 0 ? index.fallback() : r);
      const float div = float(notnul(count[k]));
      out.put(plat::format(" %3.7f %3.7f %3.7f", double(sum[k][0] / div), double(sum[k][1] / div),
                           double(sum[k][2] / div)));
    }
    out.put("\n");
  }
  if (in.failed()) {
    core.memoPrintf("cannot read from file: %s", files.reduced);
    return false;
  }
  if (!out.commit()) return false;

  TextOutFile gfk(core, files.histogram);
  if (gfk.open()) {
    gfk.put("\n");
    for (int i = 0; i < kHistogramBins; ++i) gfk.put(plat::format("%3.2f %d\n", i * 0.1, histogram[std::size_t(i)]));
    gfk.commit();
  }
  core.memoPrintf("ready in %9.3f sec", stopwatchMicros() * 1e-6);
  return true;
}

// ---- the menu ----

ObjReduce::ObjReduce(MeshTools& tools) : simplifierProgram(plat::siblingProgram("simpcmd")), tools_(tools) {
  timer_ = tools.core.clock.createTimer("Waitreduce");
  timer_->setHandler([this] { checkSimplifier(); });
}

ObjReduce::~ObjReduce() = default;

void ObjReduce::attachMenus(Controls& controls) {
  controls.bindClick("objreduce1", [this] { startObjReduction(); });
}

std::string ObjReduce::simplifierOutput() const { return tools_.workFolder() + "/uncolored.obj"; }

std::string ObjReduce::commandText() const {
  return quotedArg(simplifierProgram) + quotedArg(obj_input) + quotedArg(simplifierOutput()) +
         plat::format("%3.2f", reduction_percentage * 0.01);
}

bool ObjReduce::waiting() const { return timer_->enabled(); }

void ObjReduce::startObjReduction() {
  HostCore& core = tools_.core;
  OperatorUi& ui = core.ui;
  if (auto a = ui.inputBox("input", "obj_input", obj_input)) obj_input = *a;
  if (auto a = ui.inputBox("input", "obj_output", obj_output)) obj_output = *a;
  if (auto a = ui.inputBox(" (when no reduction)", "uncolored_input", uncolored_input)) uncolored_input = *a;
  if (!uncolored_input.empty()) {
    reducedFile = uncolored_input;
    matchColors();
    return;
  }
  reducedFile = simplifierOutput();
  const std::string shown = std::to_string(reduction_percentage);
  const std::string answer = trimmed(ui.inputBox("input", "reduction_percentage", shown).value_or(shown));
  if (!isNumberText(answer) || textToInt(answer) < 1 || textToInt(answer) > 100) {
    core.memoPrintf("reduction_percentage: '%s' is not a whole number from 1 to 100", answer);
    return;
  }
  reduction_percentage = textToInt(answer);
  if (!fileExists(obj_input)) {
    core.memoPrintf("no file %s", obj_input);
    return;
  }
  if (sameFile(obj_output, obj_input) || sameFile(obj_output, reducedFile)) {
    core.memoPrintf("%s is an input of the colour transfer; choose another output name", obj_output);
    return;
  }
  stopWaiting();
  std::remove(nativePath(expandCurrentDir(reducedFile)).c_str());
  core.memoPrintf("%s", commandText());
  const plat::SpawnResult r = plat::spawnProcess(
      {simplifierProgram, nativePath(expandCurrentDir(obj_input)), nativePath(expandCurrentDir(reducedFile)),
       plat::format("%3.2f", reduction_percentage * 0.01)});
  if (r.pid < 0) {
    core.memoPrintf("cannot start %s: %s", simplifierProgram, std::string(std::strerror(r.error)));
    return;
  }
  child_ = r.pid;
  startedMs_ = core.clock.tickMs();
  timer_->start();
}

void ObjReduce::stopWaiting() {
  timer_->stop();
  if (child_ > 0) {
    if (plat::processRunning(child_)) ::kill(child_, SIGTERM);
    plat::waitProcess(child_, -1);
    child_ = -1;
  }
}

void ObjReduce::checkSimplifier() {
  HostCore& core = tools_.core;
  // The simplifier renames its output into place when it is whole; its
  // end is awaited so that no half-written file is read.
  if (child_ > 0 && plat::processRunning(child_)) {
    if (core.clock.tickMs() - startedMs_ >= simplifierLimitMs) {
      stopWaiting();
      core.memoPrintf("%s ran longer than %d s and was stopped; %s not reduced", simplifierProgram,
                      simplifierLimitMs / 1000, obj_input);
    }
    return;
  }
  int status = 0;
  if (child_ > 0) {
    status = plat::waitProcess(child_, -1).value_or(-1);
    child_ = -1;
  }
  timer_->stop();
  if (status != 0 || !fileExists(reducedFile)) {
    core.memoPrintf("%s ended with status %d without writing %s", simplifierProgram, status, reducedFile);
    return;
  }
  matchColors();
}

bool ObjReduce::matchColors() {
  ColourTransferFiles files{obj_input, reducedFile, obj_output, tools_.workFolder() + "/temp.gfk"};
  return transferColours(tools_.core, files, fallbackCount);
}

}  // namespace ph
