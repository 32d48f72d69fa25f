#pragma once
// The scan of a .p3d job before every conversion: layer count, inked
// bounding box, layer thickness and height checks, new islands per layer,
// and the layout values derived from them.
namespace ph {

class HostCore;
struct JobLayout;

// Reads the current job's .p3d (djpagrepeat times) and sets the layout
// values. A .p3d that does not open is counted as a failed read.
void scanP3d(HostCore& core, JobLayout& layout);

}  // namespace ph
