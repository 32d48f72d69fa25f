#include "host/core/lookup_tables.h"

namespace ph {

void LookupTables::fillBitTables() {
  for (int v = 0; v < 256; ++v) {
    int r = 0, n = 0;
    for (int i = 0; i < 8; ++i)
      if (v & (1 << i)) {
        r |= 1 << (7 - i);
        ++n;
      }
    reversedBits[std::size_t(v)] = std::uint8_t(r);
    setBitCount[std::size_t(v)] = std::uint8_t(n);
  }
}

void LookupTables::fillNozzleWordMap(int primgrens) {
  static constexpr int nozzleOrder[16] = {4, 13, 2, 3, 12, 1, 14, 9, 8, 7, 6, 5, 10, 11, 16, 16};
  for (int v = 0; v < 256; ++v) {
    unsigned w = 0;
    for (int i = 0; i < 8; ++i) {
      if (!(v & (1 << i))) continue;
      const int k = i + primgrens;
      if (k < 0 || k > 15) continue;
      const int pos = nozzleOrder[k];
      if (pos < 16) w |= 1u << pos;
    }
    nozzleWordMap[std::size_t(v)] = std::uint16_t(w);
  }
}

}  // namespace ph
