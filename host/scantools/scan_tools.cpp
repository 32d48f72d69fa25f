#include "host/scantools/scan_tools.h"

#include "host/mesh/mesh_tools.h"

namespace ph {

ScanTools::ScanTools(HostCore& core, MeshTools& mesh) : textures(core, mesh), objClouds(core, mesh), capture(core, mesh) {
  textures.attachMenus(mesh.controls);
  objClouds.attachMenus(mesh.controls);
  capture.attachMenus(mesh.controls);
}

}  // namespace ph
