#pragma once
// The slicer's core as the program's stages: colour cube (-R), the job
// writer with parallel slicing, the slice calls, POV input, bitmap layers,
// the slice preview and the text editor.
#include <string>

#include "slicer/bitmap_layers.h"
#include "slicer/colour_model.h"
#include "slicer/layer_slicer.h"
#include "slicer/slice_calls.h"
#include "slicer/slice_preview.h"
#include "slicer/slicer_stages.h"
#include "slicer/stage_windows.h"
#include "slicer/text_editor.h"

namespace lt {

class SlicerCore : public SlicerStages {
 public:
  // workers: slicing threads of a job; 0 takes PagePipeline::defaultWorkers().
  explicit SlicerCore(int workers = 0);

  void modelLoaded(SlicerApp&) override { calls_.forget(); }
  bool loadColourCube(SlicerApp& app, const std::string& file) override;
  bool convertPov(SlicerApp& app, const std::string& povName, const std::string& stlName) override;
  std::optional<Box> bitmapModelBox(SlicerApp& app) override;
  JobOutcome writeJob(SlicerApp& app) override;
  void openPreview(SlicerApp& app) override;
  bool editTextFile(SlicerApp& app, const std::string& path) override;

  // One bitmap layer (bitmap models) into `out`; false when none was made.
  virtual bool sliceBitmapLayer(SlicerApp& app, float z, SpanStore& out);

  // The windows of the preview and the editor; without them those say so.
  void setWindows(StageWindows* windows) { windows_ = windows; }

  const ColourCube& colourCube() const { return cube_; }
  int workers() const;
  SliceCalls& sliceCalls() { return calls_; }
  BitmapInput& bitmapInput() { return bitmaps_; }
  SlicePreview& preview() { return preview_; }
  TextEditor& editor() { return editor_; }

  // The dither shift of the last page written; every page moves it on.
  int layerShift = 0;

 private:
  ColourCube cube_ = ColourCube::standard();
  int workers_;
  SliceCalls calls_{*this};
  BitmapInput bitmaps_;
  SlicePreview preview_{calls_};
  TextEditor editor_;
  StageWindows* windows_ = nullptr;
};

// The slicing values of the program for the layer slicer.
SliceSettings sliceSettingsOf(const SlicerApp& app);
// Uncoloured facets take the default colour: the palette entry of "no
// colour" is set to it before layers are sliced.
void applyDefaultColour(SlicerApp& app);

}  // namespace lt
