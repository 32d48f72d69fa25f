#pragma once
// CaptureTools: the two-camera frame grabber with the ring capture, and the developer code generator and tests, reached from the mesh-tools window.
#include "host/core/controls.h"

namespace ph {

class HostCore;
class MeshTools;

class CaptureTools {
 public:
  CaptureTools(HostCore& core, MeshTools& mesh);
  CaptureTools(const CaptureTools&) = delete;
  CaptureTools& operator=(const CaptureTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);

 private:
  HostCore& core_;
  MeshTools& mesh_;
};

}  // namespace ph
