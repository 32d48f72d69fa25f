#include "host/mesh/void_split.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/mesh/stl_stream.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {

// One 45° step about z (a = 0: x and y turn) or about x (a = 2: z and y).
void turnStep(FacetList& model, int a) {
  const float c = float(std::cos(std::numbers::pi / 4.0)), s = float(std::sin(std::numbers::pi / 4.0));
  auto turn = [&](FloatTriple& v) {
    const float oa = v[std::size_t(a)], oy = v[1];
    v[std::size_t(a)] = c * oa - s * oy;
    v[1] = c * oy + s * oa;
  };
  for (stlFacet& f : model.facets) {
    for (auto& corner : f.corner) turn(corner);
    turn(f.normal);
  }
  model.computeBounds();
}

// The blank-separated words after "f" on a face line.
int faceCorners(const std::string& line) {
  int words = 0;
  bool inWord = false;
  for (std::size_t i = 1; i < line.size(); ++i) {
    const bool blank = line[i] == ' ' || line[i] == '\t' || line[i] == '\r';
    if (!blank && !inWord) ++words;
    inWord = !blank;
  }
  return words;
}

bool isFaceLine(const std::string& line) { return line.size() >= 2 && line[0] == 'f' && (line[1] == ' ' || line[1] == '\t'); }

}  // namespace

bool markSeenFacets(HostCore& core, FacetList& model, double voxel, std::vector<std::uint8_t>& seen, bool plain,
                    const bool* abort) {
  seen.assign(model.facets.size(), 0);
  for (int v = 0; v < 16; ++v) {
    core.memoPrintf("rotate %d", v);
    turnStep(model, v < 8 ? 0 : 2);
    const GridShape shape = gridShapeOf(model.lo, model.hi, voxel);
    const RayGrid grid{model.lo, voxel, int(shape.n[0]), int(shape.n[2])};
    auto visit = [&](int, int, const std::vector<RayCrossing>& crossings) {
      if (!crossings.empty()) seen[crossings.front().facet] = 1;
    };
    if (plain) {
      marchRaysPlain(model.facets, grid, visit);
    } else {
      core.ui.showProgress(v * 100 / 16);
      core.ui.processEvents();
      if (abort && *abort) return false;
      if (!marchRays(model.facets, grid, visit)) return false;
    }
  }
  core.ui.showProgress(0);
  return true;
}

std::string voidSplitOutputName(const std::string& objIn) {
  return folderWithSeparator(objIn) + fileCore(objIn) + "_voids.obj";
}

std::optional<VoidSplitResult> splitVisibleFaces(HostCore& core, const std::string& stl, const std::string& objIn,
                                                 const std::string& objOut, int microns, bool plain,
                                                 const bool* abort) {
  if (microns <= 0) {
    core.memoPrintf("rasterMicrons %d: it must be above 0; nothing split", microns);
    return std::nullopt;
  }
  const std::string in = expandCurrentDir(objIn), out = expandCurrentDir(objOut);
  if (in == out || sameFile(in, out)) {
    core.memoPrintf("%s would replace the model itself; nothing split", objOut);
    return std::nullopt;
  }
  const double voxel = microns * 0.001;
  FacetList model;
  if (!readStlFacets(core, stl, model)) {
    core.memoPrintf("%s not split", objIn);
    return std::nullopt;
  }
  // Rays of the largest view, sized before the work starts.
  const double extent = std::max({model.hi[0] - model.lo[0], model.hi[1] - model.lo[1], model.hi[2] - model.lo[2]});
  if (extent * std::sqrt(3.0) / voxel > 1.0e6) {
    core.memoPrintf("rasterMicrons %d: a model of %g mm would need more than a million rays across; nothing split",
                    microns, extent);
    return std::nullopt;
  }
  // The OBJ's faces must stand for exactly the STL's facets.
  std::int64_t needed = 0;
  {
    std::ifstream obj(nativePath(in));
    if (!obj) {
      core.memoPrintf("cannot read from file: %s", objIn);
      return std::nullopt;
    }
    std::string line;
    while (std::getline(obj, line))
      if (isFaceLine(line)) needed += std::max(faceCorners(line) - 2, 0);
  }
  if (needed != std::int64_t(model.facets.size())) {
    core.memoPrintf("%s: its faces make %lld triangles, %s holds %llu facets; nothing split", objIn,
                    static_cast<long long>(needed), stl, static_cast<unsigned long long>(model.facets.size()));
    return std::nullopt;
  }
  std::vector<std::uint8_t> seen;
  if (!markSeenFacets(core, model, voxel, seen, plain, abort)) {
    core.memoPrintf("void split stopped: nothing written");
    return std::nullopt;
  }
  VoidSplitResult result;
  result.facets = model.facets.size();
  for (auto s : seen) result.seenFacets += s;
  model.facets = {};

  // The faces in file order are the facets newest first: face line t's
  // facets are the STL's last ones.
  std::string text;
  std::error_code sizeError;
  const auto inSize = std::filesystem::file_size(nativePath(in), sizeError);
  if (!sizeError) text.reserve(std::size_t(inSize) + 16);
  for (int pass = 0; pass < 2; ++pass) {
    std::ifstream obj(nativePath(in));
    if (!obj) {
      core.memoPrintf("cannot read from file: %s", objIn);
      return std::nullopt;
    }
    std::size_t facet = seen.size();
    std::string line;
    while (std::getline(obj, line)) {
      if (!isFaceLine(line)) {
        if (pass == 0) {
          text += line;
          text += '\n';
        }
        continue;
      }
      const int facets = std::max(faceCorners(line) - 2, 0);
      bool isSeen = false;
      for (int t = 0; t < facets; ++t) isSeen = seen[--facet] != 0 || isSeen;
      if (isSeen == (pass == 0)) {
        text += line;
        text += '\n';
        ++(isSeen ? result.seenFaces : result.insideFaces);
      }
    }
    if (pass == 0) text += "g inside\n";
  }
  if (std::string why; !plat::writeFileAtomically(nativePath(out), text, why)) {
    core.memoPrintf("unable to write to file: %s", objOut);
    return std::nullopt;
  }
  core.memoPrintf("shell saved");
  return result;
}

}  // namespace ph
