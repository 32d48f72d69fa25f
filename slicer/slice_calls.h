#pragma once
// The slice calls that let other parts of the program (the preview, an
// outside renderer) read single layers: preplayer slices a layer into the
// program's span store, getsliceline reads it span by span, setcolstlparm
// sets a slicing value by number.
#include <cstdint>

#include "slicer/layer_slicer.h"
#include "slicer/span_store.h"

namespace lt {

class SlicerApp;
class SlicerCore;

class SliceCalls {
 public:
  explicit SliceCalls(SlicerCore& core) : core_(core) {}

  // Slices layer z (mm) into the store. A call made while a slice is
  // running (from a window event handled during a wait) is refused at once
  // and returns false: waiting for the running slice from inside it could
  // never end.
  bool sliceLayer(SlicerApp& app, float z);
  // Slices z micrometres and starts reading from the first span; 1, or 0
  // when the slice was refused.
  int preplayer(SlicerApp& app, int zMicrons);

  struct SliceLine {
    int colourIndex = 0;  // 0: no more spans
    int xStart = 0, xEnd = 0;
    int row = 0;
    std::uint16_t colour = 0;  // the palette colour with bit 15
  };
  // The next span that is not a gap.
  SliceLine getsliceline(SlicerApp& app);
  // Slicing value i (0..11) from v; false for an unknown i or a value
  // outside its range (drops, quality, copies, widths and rows).
  bool setcolstlparm(SlicerApp& app, int i, int v);

  // A new model: the layer held is of the old one.
  void forget() {
    store_.release();
    row_ = 0;
    entry_ = 0;
  }

  const SpanStore& store() const { return store_; }
  bool busy() const { return busy_; }

 private:
  SlicerCore& core_;
  SpanStore store_;
  SliceScratch scratch_;
  bool busy_ = false;
  int row_ = 0;
  std::size_t entry_ = 0;
};

}  // namespace lt
