#pragma once
// Counting what a job prints, read two ways that share no code with the
// conversion: the dots of each layer of a .p3d (its own walk over the
// layer starts, row codes and PackBits planes), and the nozzle bits each
// layer of a .dmc fires (records split at the layer-end records, every
// record decoded by the decoder). A conversion keeps every dot when each
// water dot fires its two nozzle lines and each colour dot one nozzle.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace ph {
class HostCore;
}

namespace ph::testing {

// Set dots per plane (water, cyan, magenta, yellow).
using PlaneDots = std::array<long long, 4>;

// The dots of every layer of a .p3d. With haze > 0, every run of more
// than 2 x haze dots of hazePlane (the plane the water nozzles fire)
// counts haze dots fewer (the trim of hazy water).
std::vector<PlaneDots> p3dLayerDots(const std::string& bytes, int haze = 0, int hazePlane = 0);

struct FiredBits {
  long long water = 0, colour = 0;
  bool operator==(const FiredBits&) const = default;
};

// The nozzle bits fired per layer of a .dmc (a "}" record ends a layer;
// the closing record of the file gives a last, empty entry). band64 picks
// the column layout (64: colour bytes 0-31, water bytes 32-53; else water
// bytes 0-43).
std::vector<FiredBits> dmcLayerBits(HostCore& core, const std::vector<std::uint8_t>& dmc, int band64);

// The type characters of a .dmc's records in file order, split pieces
// ("!") left out.
std::string stretchTypes(const std::vector<std::uint8_t>& dmc);
// Alternating passes show two forward stretches in a row within a layer
// only where a backward pass outgrew the size limit and was built again
// forward.
bool backwardPassRebuilt(const std::string& types);

// What the dots of a layer must fire with these settings.
FiredBits expectedBits(const PlaneDots& dots, int band64, bool blackPrint, bool skipwater);

}  // namespace ph::testing
