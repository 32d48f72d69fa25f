#pragma once
// The scan-texturing and developer mesh tools: three groups of tools that
// stand on the mesh tools' model and geometry and bind their items into the
// mesh-tools window. Host owns the one object.
#include "host/scantools/capture_tools.h"
#include "host/scantools/obj_cloud_tools.h"
#include "host/scantools/texture_tools.h"

namespace ph {

class ScanTools {
 public:
  ScanTools(HostCore& core, MeshTools& mesh);

  TextureTools textures;
  ObjCloudTools objClouds;
  CaptureTools capture;
};

}  // namespace ph
