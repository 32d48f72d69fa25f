#pragma once
// Slices one layer of the loaded model into spans: the facets within a skin
// depth of the layer are found by their height, the ones that cross it give
// edges, the rows of the build room are walked with a winding count, and the
// dots inside are coloured by the nearest surface (skin_colour.h).
//
// A layer depends on nothing but its height and the model: there is no state
// carried from one layer to the next, so layers can be sliced in any order
// and on any number of threads with the same result.
#include <cstdint>
#include <vector>

#include "slicer/coloured_model.h"
#include "slicer/skin_colour.h"
#include "slicer/span_store.h"

namespace lt {

struct SliceSettings {
  double skinDepth = 1.0;     // mm
  double surfaceClear = 0.0;  // mm
  int minstepx = 1, minstepy = 1;
  bool singleWhite = false;  // every inside dot is palette index 1
  bool exactSkin = false;    // tests: no shortcut in the skin colouring
};

struct SliceEdge {
  float yStart, yEnd;  // mm, yStart < yEnd
  float x;             // mm at the current row
  float dxPerRow;      // dx/dy until active, then mm per row
  bool rising;         // the facet faces -x: the winding count grows here
};

// The working memory of one slicing thread; reused from layer to layer, its
// content never carries over.
struct SliceScratch {
  std::vector<NearFacet> near;           // for the skin: one of each set of copies
  std::vector<std::uint32_t> nearIndex;  // every facet near the layer
  std::vector<SliceEdge> pending, active;
  SkinColourer skin;
};

class LayerSlicer {
 public:
  static constexpr int kRows = 3485;        // rows of the build room
  static constexpr int kRasterDots = 2400;  // dots of a raster row

  // The model must stay unchanged while the slicer is used.
  LayerSlicer(const ColouredModel& model, const SliceSettings& settings);
  // Slices the layer at height z (mm) into `out`. Safe to call from several
  // threads at once, each with its own scratch and store.
  void slice(float z, SpanStore& out, SliceScratch& scratch) const;

  // The facets within a skin depth of z, in their stored order (for the
  // skin, of facets that are copies of one another only the first).
  void nearFacets(float z, SliceScratch& scratch) const;

 private:
  void findCopies();

  const ColouredModel& m_;
  SliceSettings s_;
  Vec3f off_;
  std::vector<float> blockTop_;  // highest zTop of each block of facets
  // Facets equal bit for bit (coincident copies of a part, identical
  // support blocks) are cut alike everywhere: in the skin colouring the
  // first stands for all of them and the others are passed over, so a row
  // costs what its distinct facets cost. Per facet the copies it stands for
  // (1 for a facet without copies, 0 for a later copy); empty when no facet
  // has a copy, and with exactSkin (the plain reference takes every facet
  // by itself).
  std::vector<std::uint32_t> copies_;
  std::uint16_t glassIndex_ = 0xFFFF;
};

// The dot of an x (mm) on the raster: clipped to the row, so a model placed
// outside the build room can never give a negative or runaway dot.
int rasterDot(double x);

}  // namespace lt
