#pragma once
// The program's job: the job writer's request taken from the window's state,
// the window as its progress, and what the job leaves for the next one.
#include "slicer/slicer_stages.h"
#include "slicer/slicer_state.h"

namespace lt {

class SlicerApp;
class SlicerCore;

// The layer thickness (mm): the -L value as given, unless the operator has
// typed another into the layer box since; the box when it holds a number;
// else 0.25.
double layerThickness(const SlicerState& s);

JobOutcome writeJob(SlicerApp& app, SlicerCore& core);

}  // namespace lt
