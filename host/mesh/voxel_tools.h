#pragma once
// The menu items of the voxel tools: the main window's "hollow_stl" (hollow
// the current model and have it sliced) and "sepa_voids" (the void split of
// an OBJ), and the mesh-tools window's "manifold" (the voxel-edge repair).
// The work is done by hollowStl, splitVisibleFaces and repairVoxelEdges,
// which take file names.
#include <functional>
#include <optional>
#include <string>

#include "host/mesh/hollow.h"
#include "host/mesh/void_split.h"
#include "host/mesh/voxel_repair.h"

namespace ph {

class Controls;
class MeshHost;
class MeshTools;

class VoxelTools {
 public:
  static constexpr const char* kHollowedName = "hollowed.stl";
  static constexpr const char* kUnrepairedName = "unrepaired.stl";
  static constexpr const char* kRepairedName = "repaired.stl";
  static constexpr const char* kCopiedObjStl = "copiedobj.stl";

  explicit VoxelTools(MeshTools& tools) : tools_(tools) {}
  VoxelTools(const VoxelTools&) = delete;
  VoxelTools& operator=(const VoxelTools&) = delete;


  // Kept between uses: the model last hollowed, the answers and toggles.
  std::string hollowSource;
  double voxelSize = 1.0;
  int beams = 0;
  double shellThickness = 5.0;
  bool innerFile = false;
  std::string voidSplitObj;
  int rasterMicrons = 200;

  // Binds "manifold" of the mesh-tools window.
  void attachMenus(Controls& meshControls);

  // ---- main window ----
  // "hollow_stl": the current model (or the one last hollowed, when the
  // current one is a hollowing result) into "hollowed.stl" in the work
  // folder, which is then sliced.
  void hollowCurrentModel();
  // "sepa_voids": asks for the OBJ and the raster and runs voidSplit.
  void askVoidSplit();
  // ---- mesh-tools window ----
  // "manifold": "unrepaired.stl" to "repaired.stl" in the work folder.
  void repairUnrepairedStl();

  // ---- the work, as the menus and the benchmark run it ----
  // Hollows source into destination; with makeTiles (and params.innerFile)
  // also "tile_fill.stl" beside it.
  std::optional<HollowResult> hollowModel(const std::string& source, const std::string& destination,
                                          const HollowParams& params, bool makeTiles);
  // Converts the OBJ without subdivision into "copiedobj.stl" in the work
  // folder and splits it into output (plain: with the plain walk).
  std::optional<VoidSplitResult> voidSplit(const std::string& obj, const std::string& output, int microns,
                                           bool plain = false);

 private:
  HostCore& core() const;
  MeshHost& host() const;
  // The answer of an input box as a number; the default on a cancel;
  // nothing (told) when it is not a number.
  std::optional<double> askNumber(const char* prompt, double current);

  MeshTools& tools_;
};

}  // namespace ph
