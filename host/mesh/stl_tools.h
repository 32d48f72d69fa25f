#pragma once
// Small tools over binary STL files, each streaming facet by facet: split
// by a sphere, merge, enlarge a head above its neck, even out colour
// brightness over the facet direction, split at mid height, measure the
// volume; and the height profile of a model, which steers where the
// conversion spreads powder. Every output is built under a temporary name
// beside its target and put in place only when complete, carries the
// colour convention of the head it was written with and states the count
// of the facets it holds.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "host/mesh/vect3.h"

namespace ph {

class Controls;
class HostCore;
class MeshTools;

// The height in mm that the powder must cover per bin along y: bin i
// stands for the model's y from i - offset to i - offset + 1 mm past its
// smallest y (after scale). From each part of the model the profile falls
// by at most slope / 100 per bin; far from the model it sits at -1.0
// (the last bin has no such floor). False, with the profile untouched and
// the reason told, when the file cannot be read or holds no usable facet.
bool makeHeightProfile(HostCore& core, const std::string& name, std::span<float> profile, float scale, int slope,
                       int offset);

class StlTools {
 public:
  explicit StlTools(MeshTools& tools) : tools_(tools) {}
  StlTools(const StlTools&) = delete;
  StlTools& operator=(const StlTools&) = delete;

  // The file last measured by stlVolume and the file (in the work folder)
  // last enlarged by bobbelhead.
  std::string volumeFileName;
  std::string bobbleSourceName = "head.stl";
  // The fixed inputs of "heightprofile" and "angvsbright" in the work folder.
  static constexpr const char* kProfileTestFile = "heightprofile.stl";
  static constexpr const char* kUnbalancedFile = "unbalanced.stl";

  // Sets the handlers of the window's menu items.
  void attachMenus(Controls& controls);

  // ---- menu handlers of the mesh-tools window ----
  void runRadiusFilter();  // "radiusfilter"
  void askAndMergeStl();   // "merge_stl"
  void makeBobbleHead();   // "bobbelhead" (also on the main window)
  void writeTestHeightProfile();
  void balanceUnbalancedStl();
  void splitTempStl();
  void askStlVolume();
  // ---- menu handler of the main window ----
  // Writes "temp.gfk": the profile of the job's model (its STL work file)
  // beside the powder heights the conversion laid (their first 101 bins),
  // and clears those.
  void writeHeightComparison(const std::string& modelStl, std::span<float> powderedHeights);

  // ---- the work of the tools ----
  // Facets with all three corners within radius of the centre go to
  // inside, the others to outside.
  bool splitBySphere(const std::string& input, const std::string& outside, const std::string& inside, vect3 centre,
                     double radius);
  // The facets of the inputs, in order, behind the first input's head.
  bool mergeStlFiles(const std::vector<std::string>& inputs, const std::string& output);
  // Corners above neckBottom (height: y) grow horizontally up to headScale
  // times, and heights are stretched alike, so the head comes out
  // headScale times larger and joins the neck without a step.
  bool enlargeHead(const std::string& input, const std::string& output, double headScale, double neckBottom,
                   double neckTop);
  // Writes "lightbalanced.stl" in the work folder; the brightness per
  // direction goes to "temp.gfk" in the current folder.
  bool balanceBrightness(const std::string& name);
  // Facets whose centroid lies above mid height go to top, the others to
  // bottom.
  bool splitAtMidHeight(const std::string& input, const std::string& bottom, const std::string& top);
  // The enclosed volume (positive for facets ordered counter-clockwise seen
  // from outside); nothing when the file cannot be read.
  std::optional<double> stlVolume(const std::string& name);

 private:
  HostCore& core() const;
  std::string inWorkFolder(const std::string& name) const;
  // An input box's number; the default on a cancel; nothing (told) when
  // the answer is not a number.
  std::optional<double> askNumber(const char* prompt, const std::string& defaultText);

  MeshTools& tools_;
};

}  // namespace ph
