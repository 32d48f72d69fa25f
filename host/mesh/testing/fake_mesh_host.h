#pragma once
// The slicer hand-off and the job as the mesh tools see them, played by a
// test or a benchmark: the names the program starts with, no model shown,
// no slicer; a test sets what it needs.
#include <functional>
#include <string>

#include "host/mesh/mesh_tools.h"

namespace ph {

struct FakeMeshHost : MeshHost {
  std::string converted = "convertedobj.stl";
  std::function<std::string()> convertedName = [this] { return converted; };
  std::function<bool()> withoutColour = [] { return false; };
  std::string jobFile = "??";
  std::string viewer;
  std::function<bool(const std::string&)> slicer = [](const std::string&) { return false; };

  std::string convertedStlName() const override { return convertedName(); }
  void setConvertedStlName(const std::string& name) override { converted = name; }
  bool processWithoutColor() const override { return withoutColour(); }
  std::string jobFileName() const override { return jobFile; }
  std::string viewerStl() const override { return viewer; }
  void setViewerStl(const std::string& name) override { viewer = name; }
  bool runSlicer(const std::string& stl) override { return slicer(stl); }
};

}  // namespace ph
