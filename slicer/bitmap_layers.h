#pragma once
// Bitmap layers: a picture turned into the span rows the STL slicer makes, so
// the raster encoder writes it unchanged. The picture is the model file
// itself (one layer) or, for "#amin" models, the answer of an outside layer
// renderer: the slicer writes the height into "layerdat.txt", sets
// "bmprequest" and waits for "bmpready"; the renderer's picture is
// "layerdat.bmp". Both files live in the work folder.
#include <QImage>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"
#include "platform/named_event.h"
#include "slicer/coloured_model.h"
#include "slicer/palette.h"
#include "slicer/span_store.h"

namespace lt {

class SlicerApp;

// Rows before the picture's first row.
constexpr int kBitmapLeadRows = 60;

// The spans of a picture at scale s (dots per pixel), after the lead rows.
// The last column and row are never used; the colour of pixel (0, 0) is the
// background (a gap). The picture is mirrored left to right and walked from
// its bottom row up. The palette is cleared and filled with the picture's
// colours in order of appearance; colours that find no room take the
// nearest entry. Dots beyond the raster row and rows beyond the build room
// are left out. `out` must have been started.
void bitmapLayerSpans(const QImage& picture, double scale, Palette& palette, SpanStore& out);

// The size in dots and rows that bitmapLayerSpans gives a picture.
struct BitmapExtent {
  int dots = 0;
  int rows = 0;
};
BitmapExtent bitmapExtent(int width, int height, double scale);

// The text that asks the renderer for the layer at z (mm): two decimals.
std::string layerRequestText(double z);
// The request that asks only for the picture size.
inline const char* kMeasureRequest = "-100.0";

// The hand-over with the outside layer renderer.
class LayerRenderer {
 public:
  struct Wait {
    plat::Clock* clock = nullptr;
    std::function<void()> processEvents;  // between steps
    std::function<bool()> aborted;        // ends the wait
    int limitMs = 0;                      // 0: no time limit
    int stepMs = 1000;
    std::function<void(const std::string&)> note;  // once, when the answer is late
  };
  enum class Answer { Picture, NoPicture, Aborted, TimedOut, Failed };

  // Asks for the layer named by `text` and waits for the answer; a left-over
  // answer file or answer signal is dropped first, so only an answer to this
  // request is taken. `error` says what went wrong for TimedOut and Failed.
  Answer request(const std::string& workFolder, const std::string& text, const Wait& wait, QImage& picture,
                 std::string& error);

 private:
  std::unique_ptr<plat::NamedEvent> request_, ready_;
};

// The bitmap input of the program: where each layer's picture comes from.
// Layers are taken one at a time on the program's thread, in job order, so a
// job is the same whatever the number of slicing threads.
class BitmapInput {
 public:
  // The picture of layer z into `out`; false when no layer could be made
  // (the operator has been told why). A call made while one waits for the
  // renderer is refused.
  bool sliceLayer(SlicerApp& app, float z, SpanStore& out);
  // The model's size (mm): the picture's extent; one layer high for a
  // picture file, z end high for renderer models (the renderer does not
  // tell the height).
  std::optional<Box> modelBox(SlicerApp& app);

  // Renderer answers are awaited in steps of this length; an unattended run
  // gives up after the limit.
  int waitStepMs = 1000;
  int unattendedLimitMs = 120000;

 private:
  // The picture for a request text (renderer) or the model file.
  bool picture(SlicerApp& app, const std::string& text, QImage& out);
  LayerRenderer renderer_;
  bool busy_ = false;
};

}  // namespace lt
