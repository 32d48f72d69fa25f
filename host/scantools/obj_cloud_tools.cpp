#include "host/scantools/obj_cloud_tools.h"

#include "host/core/host_core.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

ObjCloudTools::ObjCloudTools(HostCore& core, MeshTools& mesh) : core_(core), mesh_(mesh) {}

void ObjCloudTools::attachMenus(Controls&) {}

}  // namespace ph
