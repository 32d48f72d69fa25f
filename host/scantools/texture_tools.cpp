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
  headstarter_->setHandler([this] { runHeadTextureOnce(*headstarter_); });
  laterCilTture_->setInterval(1000);
  laterCilTture_->setHandler([this] { runHeadTextureOnce(*laterCilTture_); });
  txtuScan_->setInterval(5000);
  txtuScan_->setHandler([this] { scanTrackedPoints(false); });
}

TextureTools::~TextureTools() {
  if (mesh_.pictureClick) mesh_.pictureClick = nullptr;
}

void TextureTools::attachMenus(Controls& controls) {
  // The window's control names, bound to the handlers of this group.
  const std::pair<const char*, void (TextureTools::*)()> items[] = {
      {"stl2texture1", &TextureTools::askPlanarColourTexture},
      {"faceTexture1", &TextureTools::askPlanarFaceTexture},
      {"headtture1", &TextureTools::runHeadTexture},
      {"texturePoints1", &TextureTools::toggleTracking},
      {"txtuWRaster1", &TextureTools::askPaintTextures},
      {"colordialog3", &TextureTools::chooseFillColour},
      {"objUnWhite1", &TextureTools::askUnWhite},
      {"triasplit1", &TextureTools::splitPictureTriangles},
      {"mirelsingle1Item", &TextureTools::packTextureAtlas},
      {"bmptodepth1", &TextureTools::askDepthPictureToObj},
      {"colormpy1", &TextureTools::askMultiplyColours},
      {"blendwheel1", &TextureTools::drawBlendWheel},
      {"ev1Item", &TextureTools::drawSegmentsFile},
      {"exectest1", &TextureTools::testPngConversion},
  };
  for (const auto& [name, handler] : items) controls.bindClick(name, [this, h = handler] { (this->*h)(); });
  mesh_.pictureClick = [this](int x, int y) { markHeadAxis(x, y); };
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

void TextureTools::repaintPicture() {
  if (mesh_.view) mesh_.view->imageChanged();
}

}  // namespace ph
