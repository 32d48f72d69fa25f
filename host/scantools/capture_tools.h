#pragma once
// CaptureTools: the two-camera frame grabber with the ring capture, and the developer code generator and tests, reached from the mesh-tools window.
#include <string>

#include "host/core/controls.h"
#include "host/scantools/dev_tools.h"
#include "host/scantools/frame_grabber.h"

namespace ph {

class HostCore;
class MeshTools;

// Keys typed while one of the mesh-tools window's buttons has the focus.
class ButtonKeys {
 public:
  virtual ~ButtonKeys() = default;
  // True when the key was taken (the window then does nothing more with it).
  virtual bool takeButtonKey(const std::string& control, char key) = 0;
};

class CaptureTools : public ButtonKeys {
 public:
  CaptureTools(HostCore& core, MeshTools& mesh);
  CaptureTools(const CaptureTools&) = delete;
  CaptureTools& operator=(const CaptureTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);
  // "ringcapture" and "abort" take every key for the grabber's commands.
  bool takeButtonKey(const std::string& control, char key) override;

  FrameGrabber grabber;
  DevTools dev;
};

}  // namespace ph
