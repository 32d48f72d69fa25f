#pragma once
// The job layout values that the scan and the conversion publish and the
// print sequencer reads.
namespace ph {

struct JobLayout {
  // (filled by the conversion)
};

}  // namespace ph
