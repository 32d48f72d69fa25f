#pragma once
// The 300 dpi grid of the build room: 11.811024 dots per mm, origin 10 dots in.
#include "slicer/coloured_model.h"

namespace lt {

constexpr double kDotsPerMm = 11.811024;

// The build room as the slicer knows it: the raster's 2400 dots across and
// its 3485 rows (layer_slicer.h), and a height. The slicer has no setting
// for the machine's height (the host judges a job against its own
// MarlinMaxZ); no machine it drives is anywhere near this tall, so a model
// that is taller has a stray point and is refused before it is sliced.
constexpr double kBuildRoomHeightMm = 1000;

// round(x * 11.811024) + 10; 0x3FFFFFFF for |x| >= 32000 mm.
int xToDot(double x);
// round(y * 11.811024 + 10), limited to the int range.
int yToDot(double y);
// The y (mm) of a raster row.
double dotToY(int row);

// Row r of the result is m[r][3] + m[r][0] p.x + m[r][1] p.y + m[r][2] p.z.
Vec3f transformPoint(const double m[4][4], const Vec3f& p);

}  // namespace lt
