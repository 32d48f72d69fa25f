#pragma once
// Byte tables of the converter and the stretch viewer, filled at start-up.
#include <array>
#include <cstdint>

namespace ph {

struct LookupTables {
  std::array<std::uint8_t, 256> reversedBits{};   // bit i of v becomes bit 7 - i
  std::array<std::uint8_t, 256> setBitCount{};
  // For each bit i of v: bit nozzleOrder[i + primgrens] of the word.
  std::array<std::uint16_t, 256> nozzleWordMap{};

  void fillBitTables();
  // Built once, with primgrens as loaded; positions past the 16-entry order
  // table (primgrens above 8 or below 0) set nothing.
  void fillNozzleWordMap(int primgrens);
};

}  // namespace ph
