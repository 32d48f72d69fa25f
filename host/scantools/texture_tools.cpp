#include "host/scantools/texture_tools.h"

#include "host/core/host_core.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

TextureTools::TextureTools(HostCore& core, MeshTools& mesh) : core_(core), mesh_(mesh) {}

void TextureTools::attachMenus(Controls&) {}

}  // namespace ph
