#include "host/jobdata/nozzle_tables.h"

#include "host/core/host_core.h"
#include "host/core/numbers.h"

namespace ph {

const std::array<std::array<std::int16_t, 14>, 22> headNozzleTable{{
    {1, 0, 45, 42, 89, 86, 133, 130, 177, 174, 221, 218, 265, 262},
    {7, 4, 51, 48, 95, 92, 139, 136, 183, 180, 227, 224, 271, 268},
    {13, 10, 57, 54, 101, 98, 145, 142, 189, 186, 233, 230, 277, 274},
    {19, 16, 63, 60, 107, 104, 151, 148, 195, 192, 239, 236, 283, 280},
    {25, 22, 69, 66, 113, 110, 157, 154, 201, 198, 245, 242, 289, 286},
    {31, 28, 75, 72, 119, 116, 163, 160, 207, 204, 251, 248, 295, 292},
    {37, 34, 81, 78, 125, 122, 169, 166, 213, 210, 257, 254, 0, 298},
    {0, 40, 43, 84, 87, 128, 131, 172, 175, 216, 219, 260, 263, 0},
    {5, 2, 49, 46, 93, 90, 137, 134, 181, 178, 225, 222, 269, 266},
    {11, 8, 55, 52, 99, 96, 143, 140, 187, 184, 231, 228, 275, 272},
    {17, 14, 61, 58, 105, 102, 149, 146, 193, 190, 237, 234, 281, 278},
    {23, 20, 67, 64, 111, 108, 155, 152, 199, 196, 243, 240, 287, 284},
    {29, 26, 73, 70, 117, 114, 161, 158, 205, 202, 249, 246, 293, 290},
    {35, 32, 79, 76, 123, 120, 167, 164, 211, 208, 255, 252, 299, 296},
    {0, 38, 41, 82, 85, 126, 129, 170, 173, 214, 217, 258, 261, 0},
    {3, 0, 47, 44, 91, 88, 135, 132, 179, 176, 223, 220, 267, 264},
    {9, 6, 53, 50, 97, 94, 141, 138, 185, 182, 229, 226, 273, 270},
    {15, 12, 59, 56, 103, 100, 147, 144, 191, 188, 235, 232, 279, 276},
    {21, 18, 65, 62, 109, 106, 153, 150, 197, 194, 241, 238, 285, 282},
    {27, 24, 71, 68, 115, 112, 159, 156, 203, 200, 247, 244, 291, 288},
    {33, 30, 77, 74, 121, 118, 165, 162, 209, 206, 253, 250, 297, 294},
    {39, 36, 83, 80, 127, 124, 171, 168, 215, 212, 259, 256, 0, 300},
}};

const std::array<std::int8_t, 14> headBitPosition{4, 13, 2, 3, 12, 1, 14, 9, 8, 7, 6, 5, 10, 11};

NozzleTables::NozzleTables() {
  for (auto& t : waterNozzle) t.fill(-1);
  for (auto& t : colorNozzle) t.fill(-1);
  nozzleColor.fill(-1);
  nozzleRow.fill(-1);
}

void NozzleTables::initBandTables(int band64) {
  for (auto& t : colorNozzle) t.fill(-1);
  nozzleColor.fill(-1);
  nozzleRow.fill(-1);
  if (band64 != 64) return;
  static constexpr int startRow[4] = {15, 13, 15, 13};
  static constexpr int colourBit[3][4] = {{4, 6, 2, 0}, {10, 5, 14, 15}, {7, 1, 13, 11}};
  for (int c = 0; c < 3; ++c)
    for (int q = 0; q < 4; ++q) {
      int row = 2 * startRow[q] + (q % 2) + (q >= 2 ? 32 : 0);
      for (int i = 0; i < 16; ++i) {
        const int b = 16 * i + colourBit[c][q];
        colorNozzle[std::size_t(c)][std::size_t(row)] = b;
        nozzleColor[std::size_t(b)] = c;
        nozzleRow[std::size_t(b)] = row;
        row -= 6;
        if (row < 0 || (q >= 2 && row < 32)) row += 32;
        for (int moves = 0; moves < 99 && colorNozzle[std::size_t(c)][std::size_t(row)] >= 0; ++moves) {
          if (row % 32 == 0 || row % 32 == 1)
            row |= 30;
          else
            row -= 2;
        }
      }
    }
}

void NozzleTables::buildWaterMap(HostCore& core) {
  const int band64 = core.s.band64;
  const bool colourLayout = band64 == 64;
  for (auto& t : waterNozzle)
    for (int r = 0; r < band64 && r < kWaterRows; ++r) t[std::size_t(r)] = -1;
  // Outside these the maps are as empty as at the bounds (nozzles are 1 to
  // 300, head positions 0 to 13), and the arithmetic below stays in range.
  const int dropgrens = clampInt(core.s.dropgrens, -1000, 1000);
  const int primgrens = clampInt(core.s.primgrens, -100, 100);
  int lowest = 99, highest = -1;
  for (int w = 0; w < 22; ++w)
    for (int a = 0; a < 14; ++a) {
      const int v = headNozzleTable[std::size_t(w)][std::size_t(a)];
      if (v == 0) continue;
      if (colourLayout) {
        if (v <= dropgrens - 128 || v > dropgrens) continue;
        if (a < lowest) lowest = a;
        if (a > highest) highest = a;
        if (a < primgrens || a > primgrens + 7) continue;
        const int d = dropgrens - v;
        waterNozzle[std::size_t(d % 2)][std::size_t(d / 2)] = 16 * w + (a - primgrens);
      } else {
        const int d = 300 - v;
        waterNozzle[std::size_t(d % 2)][std::size_t(d / 2)] = 16 * w + headBitPosition[std::size_t(a)];
      }
    }
  if (highest >= 0 && (lowest < primgrens || highest > primgrens + 7)) {
    core.setParam(core.s.primgrens, lowest);
    core.memoPrintf("new primgrens = %d", lowest);
  }
}

ColumnBit waterColumnBit(int b, bool colourLayout) {
  if (b < 0) return {};
  const int word = b / 16, bit = b % 16;
  if (colourLayout) {
    if (bit > 7 || word > 21) return {};
    return {32 + word, std::uint8_t(1u << bit)};
  }
  if (word > 21) return {};
  return {2 * word + bit / 8, std::uint8_t(1u << (bit % 8))};
}

ColumnBit colourColumnBit(int b) {
  if (b < 0) return {};
  const int word = b / 16, bit = b % 16;
  if (word > 15) return {};
  return {2 * word + bit / 8, std::uint8_t(1u << (bit % 8))};
}

}  // namespace ph
