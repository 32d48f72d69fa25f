#pragma once
// What the mesh tools share while they work: the model, the abort flag that
// every long loop polls, the counters of the progress line and the reader's
// settings. One object, owned by MeshTools; everything runs on the
// user-interface thread.
#include <cstdint>
#include <optional>
#include <string>

#include "host/mesh/obj_model.h"

namespace ph {

class HostCore;

// The reader switches of the "obj2stl_pars" menu.
struct ObjReadOptions {
  bool SizerPass = false;        // false: pre-scan the file to size the arrays
  bool ignoreTexture = false;    // skip texture coordinates
  bool ignoreVtxColors = false;  // ignore colour numbers on "v" lines
  bool obj_file_is_Inside_Out = false;  // swap corners 1 and 2 of every face
  int brightenVtxColors = 0;     // added to face colours from vertex colours
};

class MeshState {
 public:
  explicit MeshState(HostCore& core) : core(core) {}

  HostCore& core;
  ObjModel model;
  ObjReadOptions options;

  // Set by the abort button and the print abort; cleared by the operations
  // that start a conversion.
  bool meshAbort = false;
  // meshAbort, or a termination request (SIGTERM, SIGINT) that came while a
  // long loop ran: said once in the log, and meshAbort is set so that every
  // loop of the operation stops. Cheap enough for a check every few
  // thousand steps.
  bool stopRequested();
  int linesRead = 0, facesRead = 0, facetsWritten = 0;

  // Folder of the files being read (no trailing separator): the MTL file,
  // its options file, textures and converted pictures are looked up there.
  std::string workingFolder = ".";
  // Factor for the coordinates of the next OBJ load ("-S"); back to 1 after
  // every load.
  float scale = 1.0f;
  // Working copies of the textures are made at load, lit, and saved by
  // freeObj.
  bool saveTextures = false;
  int conversionCounter = 0;
  // "contrastpercentage" of the current MTL options file.
  int contrast = 100;

  // A file in the working folder.
  std::string inWorkingFolder(const std::string& name) const { return workingFolder + "/" + name; }
  // "L%d vtx:%d f:%d", at most once every 5 s.
  void meshProgress();

 private:
  std::optional<std::int64_t> lastProgressLog_;
  bool stopTold_ = false;
};

}  // namespace ph
