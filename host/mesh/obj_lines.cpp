#include "host/mesh/obj_lines.h"

#include <sys/stat.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"

namespace ph {

bool parseFloatWord(std::string_view word, float& out) {
  double v = 0.0;
  if (!parseNumber(word, v) || std::fabs(v) > double(FLT_MAX)) return false;
  out = float(v);
  return true;
}

}  // namespace ph
