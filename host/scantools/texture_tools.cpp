#include "host/scantools/texture_tools.h"

#include <utility>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

TextureTools::TextureTools(HostCore& core, MeshTools& mesh)
    : core_(core),
      mesh_(mesh),
      headstarter_(core.clock.createTimer("headstarter")),
      laterCilTture_(core.clock.createTimer("LaterCilTture")),
      txtuScan_(core.clock.createTimer("TxtuScan")) {
  headstarter_->setInterval(1000);
  headstarter_->setHandler([this] { headstarterTimer(); });
  laterCilTture_->setInterval(1000);
  laterCilTture_->setHandler([this] { LaterCilTtureTimer(); });
  txtuScan_->setInterval(5000);
  txtuScan_->setHandler([this] { TxtuScanTimer(false); });
}

TextureTools::~TextureTools() {
  if (mesh_.Im1MouseUp) mesh_.Im1MouseUp = nullptr;
}

void TextureTools::attachMenus(Controls& controls) {
  // The window's control names, bound to the handlers of this group.
  const std::pair<const char*, void (TextureTools::*)()> items[] = {
      {"stl2texture1", &TextureTools::stl2texture1Click},
      {"faceTexture1", &TextureTools::faceTexture1Click},
      {"headtture1", &TextureTools::headtture1Click},
      {"texturePoints1", &TextureTools::texturePoints1Click},
      {"txtuWRaster1", &TextureTools::txtuWRaster1Click},
      {"colordialog3", &TextureTools::colordialog3Click},
      {"objUnWhite1", &TextureTools::objUnWhite1Click},
      {"triasplit1", &TextureTools::triasplit1Click},
      {"mirelsingle1Item", &TextureTools::mirelsingle1Click},
      {"bmptodepth1", &TextureTools::bmptodepth1Click},
      {"colormpy1", &TextureTools::colormpy1Click},
      {"blendwheel1", &TextureTools::blendwheel1Click},
      {"ev1Item", &TextureTools::ev1Click},
      {"exectest1", &TextureTools::exectest1Click},
  };
  for (const auto& [name, handler] : items) controls.bindClick(name, [this, h = handler] { (this->*h)(); });
  mesh_.Im1MouseUp = [this](int x, int y) { Im1MouseUp(x, y); };
}

void TextureTools::askText(const char* prompt, std::string& value) {
  if (auto a = core_.ui.inputBox("input", prompt, value)) value = *a;
}

bool TextureTools::askInt(const char* prompt, int& value) {
  const std::string shown = std::to_string(value);
  const std::string answer = trimmed(core_.ui.inputBox("input", prompt, shown).value_or(shown));
  if (!isNumberText(answer)) {
    core_.memoPrintf("%s: '%s' is not a whole number", prompt, answer);
    return false;
  }
  value = textToInt(answer);
  return true;
}

std::string TextureTools::inWork(const std::string& name) const { return mesh_.workFolder() + "/" + name; }

std::string TextureTools::defaultModel() const { return inWork("scan.obj"); }

void TextureTools::imageChanged() {
  if (mesh_.view) mesh_.view->imageChanged();
}

}  // namespace ph
