#include "host/core/operator_ui.h"

#include <algorithm>

namespace ph {

WindowGeometry fitWithin(WindowGeometry g, const WindowGeometry& area) {
  g.width = std::clamp(g.width, 1, std::max(area.width, 1));
  g.height = std::clamp(g.height, 1, std::max(area.height, 1));
  // Widths are at most the area's now, so these bounds cannot overflow.
  g.left = std::clamp(g.left, area.left, std::max(area.left, area.left + (area.width - g.width)));
  g.top = std::clamp(g.top, area.top, std::max(area.top, area.top + (area.height - g.height)));
  return g;
}

}  // namespace ph
