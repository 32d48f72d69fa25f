#pragma once
// TextureTools: the scan-texturing tools: planar top-view textures, the head texture, texture painting, colour repair and point tracking, and the image tools, reached from the mesh-tools window.
#include "host/core/controls.h"

namespace ph {

class HostCore;
class MeshTools;

class TextureTools {
 public:
  TextureTools(HostCore& core, MeshTools& mesh);
  TextureTools(const TextureTools&) = delete;
  TextureTools& operator=(const TextureTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);

 private:
  HostCore& core_;
  MeshTools& mesh_;
};

}  // namespace ph
