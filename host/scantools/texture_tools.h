#pragma once
// TextureTools: the scan-texturing tools of the mesh-tools window: planar
// top-view textures (planar_texture.cpp), the head texture by cylindrical
// unrolling (head_texture.cpp), texture painting, colour repair and point
// tracking (texture_paint.cpp) and the image tools with the depth-image
// import (image_tools.cpp). Each menu handler asks its values and calls a
// method that takes them as arguments, so tests and mesh_bench run the same
// work without a window.
#include <QDateTime>
#include <QImage>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/controls.h"
#include "host/mesh/vect3.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
class MeshTools;
struct objFace;

class TextureTools {
 public:
  TextureTools(HostCore& core, MeshTools& mesh);
  ~TextureTools();
  TextureTools(const TextureTools&) = delete;
  TextureTools& operator=(const TextureTools&) = delete;

  // Binds this group's items of the mesh-tools window.
  void attachMenus(Controls& controls);

  // ---- planar top-view textures ----
  // The input model and the output base name (no folder, no extension);
  // the head texture shares them. An empty FlatColored means "scan.obj" in
  // the work folder.
  std::string FlatColored;
  std::string flatobj = "ciltx";
  // The largest side of the colour texture of stl2texture; a larger model
  // gets fewer pixels per unit.
  int planarMaxSide = 8192;
  void askPlanarColourTexture();
  void askPlanarFaceTexture();
  // The facet colours of a coloured STL (or of an OBJ converted first) as a
  // top view: parentDir(input)/base.jpg, .obj and .mtl. False (told) when
  // nothing or not everything was written.
  bool planarColourTexture(const std::string& input, const std::string& base);
  // The textures of an OBJ re-sampled into one top view (base.jpg or .bmp).
  bool planarFaceTexture(const std::string& input, const std::string& base, bool bmp);
  // Of the last planar run: pixels per unit and the side of the texture.
  float planarScale = 0.0f;
  int planarSide = 0;

  // ---- the head texture ----
  std::string hostHeadFile;
  std::string headStatusText;
  bool closeWhenDone = false;
  int headAxisState = 0;
  struct Click {
    int x = 0, y = 0;
  };
  Click bottomClick, topClick;
  int centreClickX = 0;
  // The developer point file that presets the axis, beside the input model.
  std::string headAxisFile = "headaxis.txt";
  // Bounding box of the loaded model's face positions; the head axis.
  float headBoxMin[3] = {0, 0, 0}, headBoxMax[3] = {0, 0, 0};
  vect3 axisStart, axisDir;
  vect3 headP0{0, 0, 1}, headP1{0, 0, 2};
  // The main window's "head texture" entry.
  void startHostHeadTexture();
  // headstarter and LaterCilTture: the tool runs once, a moment later.
  void runHeadTextureOnce(plat::Timer& timer);
  void runHeadTexture();
  // A click on the window's picture while the head axis is asked for.
  void markHeadAxis(int x, int y);
  // The unrolling of `input` about the axis from p0 to p1 into
  // parentDir(input)/base.obj, .mtl and .jpg, without prompts; scale as a
  // host-started run does. False (told) when nothing or not everything was
  // written.
  bool headTexture(const std::string& input, const std::string& base, vect3 p0, vect3 p1, bool scaleLikeHost = false);
  // Of the last unrolling: the faces placed by each pass.
  int placedSides = 0, placedTop = 0, placedRest = 0;

  // ---- texture painting, colour repair, point tracking ----
  std::string objtotrack;
  std::string pointsFile = "p.txt";
  std::string lastPointsLine;
  QDateTime lastPointsAge;
  // Rewritten within one tick of the file clock, the age stays the same:
  // the size tells the rewrite apart too.
  qint64 lastPointsSize = -1;
  struct PreviewSlot {
    bool shown = false;
    QImage image;
    std::string texture;
    int width = 0, height = 0;
  };
  std::array<PreviewSlot, 3> previews;
  std::string TriangFillColor = "-";
  std::string unwhiteFile;
  std::string unwhiteOutput = "unwhite.obj";
  void toggleTracking();
  // One scan; `forced` (the window as sender) scans even when nothing changed.
  void scanTrackedPoints(bool forced = false);
  bool tracking() const;
  void askPaintTextures();
  void chooseFillColour();
  // Paints outlines or fills of every face onto its texture and saves the
  // pictures as txtuRaster1.jpg, ... in the model's folder.
  bool paintTextures(const std::string& obj, const std::string& paint);
  void askUnWhite();
  // Repairs near-white vertex colours of `input` and writes `output`.
  bool unWhite(const std::string& input, const std::string& output);
  void splitPictureTriangles();
  std::string splitPicture = "triscan2.bmp";
  void packTextureAtlas();

  // ---- image tools ----
  std::string scannerFile;
  int maxZJump = 50, avgxy = 1, textureshift = 0;
  bool depthImageMode = false;
  std::string colormpyInput;
  void askDepthPictureToObj();
  // The depth picture to frombmp.stl beside it and on to a textured OBJ.
  bool depthPictureToObj(const std::string& picture);
  // Writes only frombmp.stl; the count of facets, or nothing when the
  // picture could not be read or the file not written.
  std::optional<int> depthPictureToStl(const std::string& picture);
  void askMultiplyColours();
  bool multiplyColours(const std::string& input, const std::string& output, const int multipliers[3]);
  void drawBlendWheel();
  // The wheel of rings from radb to rade, blending from start to end.
  static QImage blendWheel(int start, int end, int radb, int rade);
  void drawSegmentsFile();
  void testPngConversion();

 private:
  friend struct TextureToolsTest;
  // Input boxes of the tools: caption "input", the name as prompt, Cancel
  // keeps the value; a number that is not one is told and gives false.
  void askText(const char* prompt, std::string& value);
  bool askInt(const char* prompt, int& value);
  std::string defaultModel() const;
  std::string inWork(const std::string& name) const;
  void repaintPicture();
  // Head texture steps.
  bool loadHeadModel(const std::string& input);
  void headBoxAndAxis(vect3 p0, vect3 p1);
  void drawFrontView();
  void drawSideView();
  bool unroll(vect3 p0, vect3 p1);
  void finishHeadRun();
  // Tracking.
  void closePreviews();
  int trackEntry(int slot, char letter, int counter, float u, float v, float dist, const std::string& texture);

  HostCore& core_;
  MeshTools& mesh_;
  std::unique_ptr<plat::Timer> headstarter_, laterCilTture_, txtuScan_;
  bool headModelLoaded_ = false;
  bool headHostRun_ = false;
  bool pointsMissingTold_ = false;
};

}  // namespace ph
