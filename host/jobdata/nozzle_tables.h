#pragma once
// The print head's nozzle tables: the water head's wiring, the bit a head
// position drives, and the maps from band rows to nozzle bits that the
// stretch builder fires and the viewers read back.
#include <array>
#include <cstdint>

namespace ph {

class HostCore;

// The water head's wiring: 22 words of 14 positions, each the water nozzle
// (1..300) wired there, 0 where nothing is.
extern const std::array<std::array<std::int16_t, 14>, 22> headNozzleTable;
// The bit of a 16-bit head word that position a (0..13) drives.
extern const std::array<std::int8_t, 14> headBitPosition;

struct NozzleTables {
  static constexpr int kWaterRows = 150;
  static constexpr int kColorRows = 64;

  // Bit index b of a row's nozzle (word b / 16, bit b % 16 of its half),
  // -1 where the row has none.
  std::array<std::array<int, kWaterRows>, 2> waterNozzle{};
  std::array<std::array<int, kColorRows>, 3> colorNozzle{};
  // Colour and row of a colour nozzle bit index, -1 where none.
  std::array<int, 256> nozzleColor{};
  std::array<int, 256> nozzleRow{};

  NozzleTables();
  // The colour maps (colour layout, band64 = 64; all -1 otherwise).
  void initBandTables(int band64);
  // The water map from dropgrens and primgrens. In the colour layout a
  // primgrens that does not cover the wired positions is corrected through
  // setParam ("new primgrens = %d"); the conversion builds it twice.
  void buildWaterMap(HostCore& core);
};

// The byte of a 54-byte nozzle column and its bit mask for a nozzle bit
// index; false when the index fires nothing in that layout.
struct ColumnBit {
  int byte = -1;
  std::uint8_t mask = 0;
};
ColumnBit waterColumnBit(int b, bool colourLayout);
ColumnBit colourColumnBit(int b);

}  // namespace ph
