#pragma once
// A coloured binary STL turned into a Wavefront OBJ with shared, numbered
// vertices, its colours as materials of an MTL file, as texture coordinates
// on the colour spectrum texture, or as vertex colours. Faces of one colour
// are written in connected chains, so viewers see coherent patches.
#include <cstdint>
#include <string>

namespace ph {

class HostCore;

// The tool's values, kept for the program run (the window's prompts show
// them); singlegroup, brightness and quadrantgroups start again at every
// run of the menu.
struct StlToObjSettings {
  std::string destname = "fromstl";
  std::string MaterialStr = "Material_";
  int singlegroup = 1;
  int brightness = 0;
  int spectrumcolors = 1;
  int quadrantgroups = 0;
  int withVertCol = 0;
};

// The depth-image mode: the STL holds a height field sampled from a picture
// (x, y in pixels, z the depth), written as an OBJ textured with it.
struct DepthImageRun {
  std::string picture;
  int textureshift = 0;
};

// The bit of each coordinate of the face's first corner that is below 0
// (x bit 0, y bit 1, z bit 2).
int firstCornerOctant(const float corner[3]);

class StlToObj {
 public:
  explicit StlToObj(HostCore& core) : core_(core) {}

  // Reads `stl` and writes folder/destname.obj (and .mtl in material mode,
  // always in depth-image mode). Each file is written beside its target and
  // put in place only when whole; false, told, when the STL cannot be read,
  // holds no facet or a corner that is not a number, or an output cannot be
  // written. `depth` selects the depth-image mode.
  bool convert(const std::string& stl, const std::string& folder, const StlToObjSettings& settings,
               const DepthImageRun* depth = nullptr);

  // Of the last run, for the log line and the tests.
  int facets = 0, vertices = 0, colours = 0;

 private:
  HostCore& core_;
};

}  // namespace ph
