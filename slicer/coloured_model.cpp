#include "slicer/coloured_model.h"

#include <algorithm>
#include <cmath>

namespace lt {

std::size_t ColouredModel::firstFacetFrom(float z) const {
  auto it = std::partition_point(facets.begin(), facets.end(),
                                 [z](const FacetRecord& f) { return f.zBottom < z; });
  return std::size_t(it - facets.begin());
}

Vec3f placedMinimum(const ColouredModel& m) {
  return {m.loadMin.x + m.placeOffset.x, m.loadMin.y + m.placeOffset.y, m.loadMin.z + m.placeOffset.z};
}

int widthCodeFor(double x) {
  if (x < 161) return 227;
  if (x > 190) return 248;
  return 248 - int(std::nearbyint((190 - x) / 1.35));
}

Box modelBox(ColouredModel& m) {
  if (m.placementPending) {
    m.placementPending = false;
    if (!m.placed)
      m.placeOffset = {10.0f - m.placementMin.x, 10.0f - m.placementMin.y, 0.35f - m.placementMin.z};
  }
  Box b{double(m.boxMax.x) + m.placeOffset.x, double(m.boxMax.y) + m.placeOffset.y,
        double(m.boxMax.z) + m.placeOffset.z};
  m.widthCode = widthCodeFor(b.x);
  return b;
}

}  // namespace lt
