#pragma once
// The mesh tools: the logic of the mesh-tools window ("stl/obj functions")
// and its command interpreter, through which the host converts OBJ models
// to coloured STL on its printing road without showing the window.
#include <functional>
#include <string>
#include <vector>

#include "host/core/controls.h"
#include "host/core/operator_log.h"
#include "host/mesh/mesh_state.h"
#include "host/mesh/mesh_window_view.h"
#include "host/mesh/obj_reader.h"
#include "host/mesh/obj_reduce.h"
#include "host/mesh/obj_to_stl.h"
#include "host/mesh/ply_reader.h"
#include "host/mesh/threemf_reader.h"
#include "host/mesh/stl_to_obj.h"
#include "host/mesh/stl_tools.h"
#include "host/mesh/voxel_tools.h"

namespace ph {

class HostCore;

// What the mesh tools use of the slicer hand-off and the job.
class MeshHost {
 public:
  virtual ~MeshHost() = default;
  // The STL the OBJ conversion writes in the file_folder folder.
  virtual std::string convertedStlName() const = 0;
  virtual void setConvertedStlName(const std::string& name) = 0;
  // The operator's "process without color?" answer.
  virtual bool processWithoutColor() const = 0;
  // The file opened last (the job state's jobFileName).
  virtual std::string jobFileName() const = 0;
  // The STL the host shows and slices.
  virtual std::string viewerStl() const = 0;
  virtual void setViewerStl(const std::string& name) = 0;
  // Starts the slicer on an STL; false when no job is on its way.
  virtual bool runSlicer(const std::string& stl) = 0;
};

class MeshTools {
 public:
  MeshTools(HostCore& core, MeshHost& host);
  MeshTools(const MeshTools&) = delete;
  MeshTools& operator=(const MeshTools&) = delete;

  HostCore& core;
  MeshHost& host;
  // Shows the window modally (the Qt window sets it; without a display
  // nothing is shown).
  std::function<void()> showWindow;
  MeshState state{core};
  ConversionParams params;
  LightTable lights;
  ObjReader reader{state};
  ObjStlWriter writer{state, params, lights};

  // The window's memo and its buttons and menu, for the Qt window to show.
  OperatorLog Memo1;
  Controls controls;
  // The window's picture; the tools that draw on it tell the view. A click
  // on it (mouse button released at x, y) goes to pictureClick, which the
  // tool that waits for clicks binds. The view is the open window, if any.
  QImage Im1{345, 289, QImage::Format_RGB32};
  std::function<void(int x, int y)> pictureClick;
  MeshWindowView* view = nullptr;

  // While set, the STL-to-OBJ tool asks nothing and uses its current values.
  bool skipDialogs = false;
  // The OBJ file the conversion road reads.
  std::string objName;
  // The binary STL the wrapping and the other STL tools read.
  std::string stlInputName;
  // The folder of this program, with a trailing "/".
  std::string programFolder;

  // ---- the abort ----
  bool& meshAbort = state.meshAbort;
  // Button "abort"; the host's print abort also stops a running mesh
  // operation.
  void abortMeshTools() { state.meshAbort = true; }

  // ---- the command interpreter ----
  // Word 0 is skipped. "-D" (work folder) and "-P" (tapered wrapping) are
  // taken first wherever they stand; then, in order, "-X" (lighting mode),
  // "-S" (scale of the next load), "-F" (wrap an STL), "-N" (no texture
  // subdivision for the next "-O") and "-O" (OBJ to coloured STL). A file
  // name is the rest of its word, whole, however long; a value in double
  // quotes loses them.
  void meshCommand(const std::vector<std::string>& words);

  // ---- the conversion road (button "obj file", option "-O") ----
  // Reads objName and writes the coloured STL; false (and no STL left
  // behind) when the model could not be read whole or the STL not written.
  // A ".ply" name is read as PLY, ".3mf" (or an unpacked ".model" part) as
  // 3MF with its whole build; any other as OBJ.
  bool convertObjFile();
  // Sets the OBJ name, converts it and closes the progress window.
  bool runObjFile(const std::string& name);
  // Menu "lightmod", option "-X": the lights of "lights.obj" baked into
  // copies of the textures of "hfd7.obj".
  void bakeLights();

  // ---- PLY and 3MF ----
  PlyReader plyReader{state};
  ThreeMfReader threeMfReader{state};
  // Menu "ply2stl": the work folder's "temp.ply" to "fromply.stl".
  void convertTempPly();
  // The main window's menu "ply2stl": the same after the operator confirms.
  void confirmAndConvertTempPly();
  // Reads a PLY file and writes its coloured STL; false (no STL left
  // behind) when either failed.
  bool plyToStl(const std::string& ply, const std::string& stl);
  // Menu "3mfconvert": asks for the model and runs read3mfModel.
  void askAndRead3mf();
  // Every mesh object of a 3MF package (or unpacked model part) as it
  // stands, into "from3mf1.stl", "from3mf2.stl", ... in the work folder.
  // False when the file could not be read or an STL not written.
  bool read3mfModel(const std::string& file);
  std::string modelFile3mf = "3D/3dmodel.model";

  // ---- STL to OBJ ----
  StlToObjSettings stl2objSettings;
  StlToObj stl2obj{core};
  // Menu "stl2obj": stlInputName (reset to the converted STL) to
  // destname.obj in the work folder, after the prompts unless skipDialogs.
  bool convertStlToObj();
  // The depth-image mode, for the depth-image tool: the picture's folder's
  // "frombmp.stl" to an OBJ named by the picture and textured with it, in
  // that folder, which becomes the work folder.
  bool depthImageToObj(const std::string& picture, int textureshift);

  // ---- parameter dialogs ----
  void askObjToStlParameters();
  void askCocoonScale();
  void askCocoonRotation();
  void openAndWrapStl();

  // ---- prompts shared by the tools ----
  // A box "name = Yes/No" with OK and "Change"; "Change" flips the flag.
  void askToggle(bool& flag, const std::string& name);
  // File prompts; a cancel sets meshAbort and gives the default back.
  std::string askInputFile(const std::string& prompt, const std::string& defaultName);
  std::string askOutputFile(const std::string& prompt, const std::string& defaultName);

  // ---- the window's life ----
  void prepareWindow();
  void takeProgramFolder();
  // "close meshkit"; the memo is appended to an existing "meshkit.log".
  bool appendLogAtClose();

  // ---- the host's menu entries ----
  void showMeshWindow();
  void showMeshWindowWithItsLog();
  void askRecalculateNormals();

  // ---- the wrapping step ----
  // Its transform (menus "set scale" and "rotate", or the host before each
  // of its wrapping steps), the walls, and the tapered flag ("-P").
  float cocoonScale = 1.0f, cocoonRotX = 0.0f, cocoonRotY = 0.0f, cocoonRotZ = 0.0f;
  bool cocoonWalls = true;
  bool cocoonTapered = false;
  void setCocoonTransform(float scale, float rx, float ry, float rz, bool walls);
  // The main window's "cocooned" menu: its check mark turns the walls on
  // or off.
  void setCocoonWalls(bool on) { cocoonWalls = on; }
  // Button "Cocoon", "-F": the wrapping of stlInputName. Writes
  // "!cocooned.stl" in the work folder; false (told) when nothing was made.
  // A completed wrapping resets the transform.
  bool wrapStlInput();

  // ---- the binary STL tools and the height profile ----
  StlTools stl{*this};
  // Hollowing, the voxel-edge repair and the void split.
  VoxelTools voxel{*this};
  // ---- OBJ reduction with colour transfer (menu "objreduce") ----
  ObjReduce objReduce{*this};

  // The work folder (the setting file_folder) without a trailing "/".
  std::string workFolder() const;

 private:
  void createControls();
  bool wrapping_ = false;
};

}  // namespace ph
