#pragma once
// The whole print job: a start block, for every layer a command block, its
// raster page and a page end, then an end block and the fingerprint line.
// Written to the .p3d file, or straight to a printer when "to file" is off.
#include <string>
#include <vector>

#include "slicer/slicer_stages.h"
#include "slicer/slicer_state.h"

namespace lt {

class SlicerApp;
class SlicerCore;

// The layer thickness (mm): the -L value as given, unless the operator has
// typed another into the layer box since; the box when it holds a number;
// else 0.25.
double layerThickness(const SlicerState& s);

// The heights of a job's layers: from zStart, adding the thickness in the
// job's float arithmetic, while below zEnd. Empty with an error when the
// heights would not grow (a thickness of 0 or one too small for the height).
std::vector<float> layerHeights(float zStart, float zEnd, double thickness, std::string& error);

JobOutcome writeJob(SlicerApp& app, SlicerCore& core);

}  // namespace lt
