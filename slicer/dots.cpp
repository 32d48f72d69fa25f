#include "slicer/dots.h"

#include <climits>
#include <cmath>

namespace lt {

// Rounding in the slicer is to nearest with halves to even (the default
// floating-point rounding mode).
int xToDot(double x) {
  if (!(std::fabs(x) < 32000.0)) return 0x3FFFFFFF;
  return int(std::nearbyint(x * kDotsPerMm)) + 10;
}

int yToDot(double y) {
  const double r = std::nearbyint(y * kDotsPerMm + 10);
  if (std::isnan(r)) return 0;
  if (r >= double(INT_MAX)) return INT_MAX;
  if (r <= double(INT_MIN)) return INT_MIN;
  return int(r);
}

double dotToY(int row) { return (row - 10) / kDotsPerMm; }

Vec3f transformPoint(const double m[4][4], const Vec3f& p) {
  auto row = [&](int r) { return float(m[r][3] + m[r][0] * p.x + m[r][1] * p.y + m[r][2] * p.z); };
  return {row(0), row(1), row(2)};
}

}  // namespace lt
