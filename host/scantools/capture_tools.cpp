#include "host/scantools/capture_tools.h"

#include "host/core/host_core.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

CaptureTools::CaptureTools(HostCore& core, MeshTools& mesh) : grabber(core, mesh), dev(core, mesh) {}

void CaptureTools::attachMenus(Controls& controls) {
  const std::pair<const char*, std::function<void()>> items[] = {
      {"Button2", [this] { grabber.startRingCapture(); }},
      {"scan1", [this] { dev.scanSampleDeclarations(); }},
      {"loadini1", [this] { dev.loadSampleSettingsLines(); }},
      {"test1", [this] { dev.listSampleTemperatures(); }},
      {"dll1", [] {}},  // nothing behind it
      {"sort1", [this] { dev.sortRandomNumbers(); }},
      {"filmsplit1", [this] { dev.cropSharpFrames(grabber.captureRoot()); }}};
  for (const auto& [name, handler] : items) controls.bindClick(name, handler);
}

bool CaptureTools::takeButtonKey(const std::string& control, char key) {
  if (control != "Button2" && control != "Button4") return false;
  grabber.handleCaptureKey(key);
  return true;
}

}  // namespace ph
