#include "slicer/slicer_stages.h"

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/slicer_app.h"

namespace lt {

bool SlicerStages::loadColourCube(SlicerApp& app, const std::string& file) {
  app.tellOperator(plat::format("colour cube files cannot be read by this build: %s not loaded", file));
  return false;
}

bool SlicerStages::convertPov(SlicerApp& app, const std::string& povName, const std::string&) {
  app.tellOperator(plat::format("POV models cannot be read by this build: %s", povName));
  return false;
}

std::optional<Box> SlicerStages::bitmapModelBox(SlicerApp& app) {
  app.tellOperator(plat::format("bitmap layers cannot be read by this build: %s", app.state().modelName));
  return std::nullopt;
}

JobOutcome SlicerStages::writeJob(SlicerApp& app) {
  const auto& s = app.state();
  app.tellOperator(plat::format("this build has no job writer: %s was not written",
                                jobOutputName(s.modelName, s.outputName)));
  return JobOutcome::NotWritten;
}

void SlicerStages::openPreview(SlicerApp& app) { app.tellOperator("this build has no slice preview"); }

bool SlicerStages::editTextFile(SlicerApp& app, const std::string& path) {
  app.tellOperator(plat::format("this build has no text editor: %s", path));
  return false;
}

}  // namespace lt
