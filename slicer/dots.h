#pragma once
// The 300 dpi grid of the build room: 11.811024 dots per mm, origin 10 dots in.
#include "slicer/coloured_model.h"

namespace lt {

constexpr double kDotsPerMm = 11.811024;

// round(x * 11.811024) + 10; 0x3FFFFFFF for |x| >= 32000 mm.
int xToDot(double x);
// round(y * 11.811024 + 10), limited to the int range.
int yToDot(double y);
// The y (mm) of a raster row.
double dotToY(int row);

// Row r of the result is m[r][3] + m[r][0] p.x + m[r][1] p.y + m[r][2] p.z.
Vec3f transformPoint(const double m[4][4], const Vec3f& p);

}  // namespace lt
