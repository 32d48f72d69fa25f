#include "host/mesh/voxel_tools.h"

#include <cstdio>

#include "host/core/controls.h"
#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/stopwatch.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

HostCore& VoxelTools::core() const { return tools_.core; }

MeshHost& VoxelTools::host() const { return tools_.host; }

void VoxelTools::attachMenus(Controls& meshControls) {
  meshControls.bindClick("manifold1", [this] { repairUnrepairedStl(); });
}

std::optional<double> VoxelTools::askNumber(const char* prompt, double current) {
  const std::string shown = plat::format("%g", current);
  const std::string answer = core().ui.inputBox("input", prompt, shown).value_or(shown);
  double v = 0.0;
  if (parseNumber(trimView(answer), v)) return v;
  core().memoPrintf("%s: '%s' is not a number; nothing hollowed", prompt, answer);
  return std::nullopt;
}

// ---- hollowing ----

std::optional<HollowResult> VoxelTools::hollowModel(const std::string& source, const std::string& destination,
                                                    const HollowParams& params, bool makeTiles) {
  HollowParams p = params;
  p.glassWalls = core().s.allowglasscode;
  p.abort = &tools_.meshAbort;
  tools_.meshAbort = false;
  auto result = hollowStl(core(), source, destination, p);
  if (result && makeTiles && p.innerFile) makeInnerTiles(core(), folderWithSeparator(destination), p.voxel);
  return result;
}

void VoxelTools::hollowCurrentModel() {
  HostCore& c = core();
  if (hollowSource.empty()) hollowSource = c.workDir + "!cocooned.stl";
  if (c.s.file_name == "hollowed") {
    host().setViewerStl(hollowSource);
  } else {
    hollowSource = host().viewerStl();
  }
  const std::string model = host().viewerStl();
  c.memoPrintf("file_name=%s", c.s.file_name);
  c.memoPrintf("viewerstl=%s", model);
  if (model.empty()) return;
  if (c.notConfirmed("make stl file hollow ?")) return;
  const auto voxel = askNumber("voxel size [mm]", voxelSize);
  if (!voxel) return;
  const std::string beamText = c.askText("input", "beams", std::to_string(beams));
  const int beamAnswer = c.evalIntExpr(beamText);
  const auto shell = askNumber("shell thickness", shellThickness);
  if (!shell) return;
  voxelSize = *voxel;
  beams = beamAnswer;
  shellThickness = *shell;
  tools_.askToggle(innerFile, "inner_file");
  bool makeTiles = false;
  if (innerFile) tools_.askToggle(makeTiles, "make_inner_tiles");

  HollowParams p;
  p.voxel = voxelSize;
  p.beams = beams;
  p.shell = shellThickness;
  p.innerFile = innerFile;
  const std::string destination = c.workDir + kHollowedName;
  // A failed hollowing leaves the current model, its name and the slicer
  // as they were.
  if (!hollowModel(model, destination, p, makeTiles)) return;
  c.s.file_name = fileCore(destination);
  host().setViewerStl(destination);
  host().runSlicer(destination);
}

// ---- voxel-edge repair ----

void VoxelTools::repairUnrepairedStl() {
  const std::string folder = tools_.workFolder() + "/";
  repairVoxelEdges(core(), folder + kUnrepairedName, folder + kRepairedName);
}

// ---- void split ----

std::optional<VoidSplitResult> VoxelTools::voidSplit(const std::string& obj, const std::string& output, int microns,
                                                     bool plain) {
  HostCore& c = core();
  host().setConvertedStlName(kCopiedObjStl);
  const std::string folder = tools_.workFolder();
  const std::string stl = folder + "/" + kCopiedObjStl;
  // Made anew: a copy left by an earlier model must never be split.
  std::remove(nativePath(stl).c_str());
  if (fileExists(stl)) {
    c.memoPrintf("cannot replace %s: %s is not split", stl, obj);
    return std::nullopt;
  }
  tools_.meshCommand({"meshkit", "-N", "-D" + folder, "-O" + obj});
  if (!fileExists(stl)) {
    c.memoPrintf("%s could not be converted to %s: it is not split", obj, stl);
    return std::nullopt;
  }
  tools_.meshAbort = false;
  return splitVisibleFaces(c, stl, obj, output, microns, plain, &tools_.meshAbort);
}

void VoxelTools::askVoidSplit() {
  HostCore& c = core();
  const std::string shown = voidSplitObj.empty() ? c.workDir + "model.obj" : voidSplitObj;
  const auto answer = c.ui.inputBox("input", "finame", shown);
  if (!answer) return;
  const std::string obj = trimmed(*answer);
  if (obj.empty()) return;
  voidSplitObj = obj;
  const std::string text = c.askText("input", "rasterMicrons", std::to_string(rasterMicrons));
  rasterMicrons = c.evalIntExpr(text);
  mainStopwatchStart();
  voidSplit(obj, voidSplitOutputName(obj), rasterMicrons);
  c.memoPrintf("microsecs %g", mainStopwatchMicros());
}

}  // namespace ph
