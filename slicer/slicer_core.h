#pragma once
// The slicer's core as the program's stages: colour cube (-R), the job
// writer with parallel slicing, and the slice calls. POV input, bitmap
// layers, the preview and the text editor stay with the base class.
#include <string>

#include "slicer/colour_model.h"
#include "slicer/layer_slicer.h"
#include "slicer/slice_calls.h"
#include "slicer/slicer_stages.h"

namespace lt {

class SlicerCore : public SlicerStages {
 public:
  // workers: slicing threads of a job; 0 takes one per processor.
  explicit SlicerCore(int workers = 0);

  void modelLoaded(SlicerApp&) override { calls_.forget(); }
  void loadColourCube(SlicerApp& app, const std::string& file) override;
  JobOutcome writeJob(SlicerApp& app) override;

  // One bitmap layer (bitmap models); this build has no bitmap layer input
  // and says so.
  virtual bool sliceBitmapLayer(SlicerApp& app, float z, SpanStore& out);

  const ColourCube& colourCube() const { return cube_; }
  int workers() const;
  SliceCalls& sliceCalls() { return calls_; }

  // The dither shift of the last page written; every page moves it on.
  int layerShift = 0;

 private:
  ColourCube cube_ = ColourCube::standard();
  int workers_;
  SliceCalls calls_{*this};
};

// The slicing values of the program for the layer slicer.
SliceSettings sliceSettingsOf(const SlicerApp& app);
// Uncoloured facets take the default colour: the palette entry of "no
// colour" is set to it before layers are sliced.
void applyDefaultColour(SlicerApp& app);

}  // namespace lt
