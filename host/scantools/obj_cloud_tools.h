#pragma once
// ObjCloudTools: the OBJ vertex tools and the point-cloud tools, reached from the mesh-tools window.
#include "host/core/controls.h"

namespace ph {

class HostCore;
class MeshTools;

class ObjCloudTools {
 public:
  ObjCloudTools(HostCore& core, MeshTools& mesh);
  ObjCloudTools(const ObjCloudTools&) = delete;
  ObjCloudTools& operator=(const ObjCloudTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);

 private:
  HostCore& core_;
  MeshTools& mesh_;
};

}  // namespace ph
