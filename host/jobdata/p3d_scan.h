#pragma once
// The scan of a .p3d job before every conversion: layer count, inked
// bounding box, layer thickness and height checks, new islands per layer,
// and the layout values derived from them.
#include "host/core/result.h"

namespace ph {

class HostCore;
struct ConversionSettings;
struct JobLayout;

// Reads the current job's .p3d (settings.passes times) and sets the layout
// values. Succeeds when the job can be converted, else says what is wrong
// with it: a .p3d that does not open (told to the operator already), or
// one whose numbers are out of any raster's range (the layout is then left
// unset; not told yet).
Result scanP3d(HostCore& core, const ConversionSettings& settings, JobLayout& layout);

// Bounds of a .p3d's numbers: rows of a layer, data bytes of a plane row
// (a row of the 2400-dot raster takes about 300), the layer thickness
// after "ZS" (units of 10 micrometres).
inline constexpr int kMaxLayerRows = 100000;
inline constexpr int kMaxPlaneBytes = 65536;
inline constexpr int kMaxLayerThickness = 100000;

}  // namespace ph
