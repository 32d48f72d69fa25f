#include "host/scantools/capture_tools.h"

#include "host/core/host_core.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

CaptureTools::CaptureTools(HostCore& core, MeshTools& mesh) : core_(core), mesh_(mesh) {}

void CaptureTools::attachMenus(Controls&) {}

}  // namespace ph
