#include "slicer/colour_model.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"

namespace lt {

namespace {

constexpr std::array<std::uint16_t, 216> kStandardCube = {
    0,     2,     4,     7,     12,    31,    32,    34,    69,    72,    45,    63,    128,   130,   132,   136,
    141,   159,   224,   226,   260,   263,   237,   255,   416,   385,   356,   423,   429,   411,   992,   994,
    996,   999,   876,   759,   2048,  1025,  1028,  1032,  2061,  1055,  1056,  1090,  1060,  2087,  1069,  1119,
    1152,  1153,  1157,  1160,  1164,  1183,  1248,  1282,  2276,  1255,  1260,  1276,  1408,  1410,  1412,  1416,
    1421,  1402,  2016,  2017,  2020,  2952,  1867,  1782,  4096,  4098,  4100,  4103,  4108,  4127,  4128,  4129,
    4132,  4135,  4140,  4159,  4224,  4226,  4228,  4231,  4238,  3229,  4352,  4321,  4324,  4327,  4363,  4346,
    4480,  4513,  4484,  4488,  4493,  3448,  5088,  5089,  5028,  3911,  3851,  3766,  7168,  8193,  7172,  7175,
    7181,  8223,  7200,  7233,  7205,  7207,  7213,  7260,  8320,  7297,  7332,  6279,  8332,  7291,  7424,  7394,
    7396,  7400,  7435,  6360,  8576,  7554,  6532,  7559,  7531,  6519,  9184,  8066,  8004,  6950,  6891,  6836,
    12288, 12289, 12292, 13319, 12301, 12315, 12320, 12322, 12356, 12327, 11308, 11322, 12416, 12418, 12452, 11399,
    12428, 11384, 12512, 12513, 11492, 11494, 10474, 9431,  13696, 12706, 11651, 10631, 10602, 10581, 12128, 12097,
    12068, 10983, 9961,  9875,  31744, 31746, 31749, 31751, 27659, 22551, 31776, 31777, 31812, 28712, 25642, 22582,
    31872, 31874, 27779, 25735, 23690, 20597, 31968, 28898, 25828, 23782, 21705, 19667, 28000, 26977, 23875, 21830,
    19784, 18737, 24288, 22209, 22179, 20133, 19081, 14959};

}  // namespace

const ColourCube& ColourCube::standard() {
  static const ColourCube c{kStandardCube};
  return c;
}

int roundEven(double v) {
  if (!(v == v)) return 0;
  return int(std::nearbyint(std::clamp(v, -2.0e9, 2.0e9)));
}

std::optional<ColourCube> readColourCube(const std::string& path, std::string& error) {
  auto text = readInputFile(path, "the colour cube", kMaxSmallTextBytes, error);
  if (!text) return std::nullopt;
  ColourCube cube;
  std::size_t at = 0;
  for (std::size_t i = 0; i < cube.entry.size(); ++i) {
    if (at >= text->size()) {
      error = plat::format("colour cube %s ends after %zu of 216 lines", path, i);
      return std::nullopt;
    }
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    std::string line = text->substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 80) line.resize(80);
    auto v = decimalValue(line);
    if (!v || *v < 0 || *v > 0xFFFF) {
      error = plat::format("colour cube %s: line %zu is not a cube entry: %s", path, i + 1, line);
      return std::nullopt;
    }
    cube.entry[i] = std::uint16_t(*v);
  }
  return cube;
}

std::array<int, 3> cubeCorrected(const ColourCube& cube, std::array<int, 3> k) {
  static constexpr int kStride[3] = {36, 6, 1};
  static constexpr int kShift[3] = {10, 5, 0};
  int a[3];
  for (int j = 0; j < 3; ++j) a[j] = std::clamp((5 * k[j] + 15) / 63, 0, 5);
  const int n = 36 * a[0] + 6 * a[1] + a[2];
  std::array<int, 3> out{};
  for (int j = 0; j < 3; ++j) {
    const double f = k[j] - 63.0 * a[j] / 5.0;
    const int base = 2 * ((cube.entry[std::size_t(n)] >> kShift[j]) & 31);
    int nb = n;
    if (f > 0 && a[j] < 5) nb = n + kStride[j];
    else if (f < 0 && a[j] > 0) nb = n - kStride[j];
    const int other = 2 * ((cube.entry[std::size_t(nb)] >> kShift[j]) & 31);
    out[std::size_t(j)] = base + roundEven(std::fabs(f) * 5 * (other - base) / 63);
  }
  return out;
}

InkAmounts colourAmounts(std::uint16_t colour, const ColourCube& cube, int spix, double colourFactor) {
  const int r = (colour >> 10) & 31, g = (colour >> 5) & 31, b = colour & 31;
  const auto k = cubeCorrected(cube, {62 - 2 * r, 62 - 2 * g, 62 - 2 * b});
  InkAmounts a{};
  a[kCyan] = k[0];
  a[kMagenta] = k[1];
  a[kYellow] = k[2];
  a[kWater] = std::max(0, spix - roundEven((k[0] + k[1] + k[2]) * colourFactor));
  return a;
}

int nearestPaletteIndex(const Palette& p, std::uint16_t c) {
  int best = 2;
  int bestDist = -1;
  for (int i = 2; i <= p.count(); ++i) {
    const std::uint16_t e = p.colour(i);
    const int d = std::abs(((e >> 10) & 31) - ((c >> 10) & 31)) + std::abs(((e >> 5) & 31) - ((c >> 5) & 31)) +
                  std::abs((e & 31) - (c & 31));
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = i;
    }
  }
  return best;
}

std::uint16_t windowToColour(unsigned w) {
  const unsigned r = w & 255, g = (w >> 8) & 255, b = (w >> 16) & 255;
  return std::uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3) | 0x8000);
}

}  // namespace lt
