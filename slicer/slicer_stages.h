#pragma once
// The parts of the program that stand on the loaded model: colour tables and
// colour cube, POV and bitmap input, the job writer, the preview and the
// text editor. This base class stands for the parts a build does not have:
// each tells the operator so and does nothing; a build that has a part
// overrides it.
#include <optional>
#include <string>

#include "slicer/coloured_model.h"

namespace lt {

class SlicerApp;

enum class JobOutcome {
  Finished,   // the job reached its end
  Stopped,    // "stop": end block and fingerprint written early
  Aborted,    // no fingerprint
  NotWritten  // nothing was written
};

class SlicerStages {
 public:
  virtual ~SlicerStages() = default;
  // After every successful STL load: build the colour tables.
  virtual void modelLoaded(SlicerApp&) {}
  // -R: the colour cube file; false (the operator told why) when it was not
  // loaded.
  virtual bool loadColourCube(SlicerApp& app, const std::string& file);
  // A POV mesh to a coloured STL; false when nothing was converted.
  virtual bool convertPov(SlicerApp& app, const std::string& povName, const std::string& stlName);
  // The size of a bitmap-layer model (mm).
  virtual std::optional<Box> bitmapModelBox(SlicerApp& app);
  // The job writer: the whole .p3d job of the prepared model.
  virtual JobOutcome writeJob(SlicerApp& app);
  // The slice preview, modal.
  virtual void openPreview(SlicerApp& app);
  // The text editor (support files, "ngsetup.txt"), modal; true when saved.
  virtual bool editTextFile(SlicerApp& app, const std::string& path);
};

}  // namespace lt
