#include "host/jobdata/conversion_settings.h"

#include <cmath>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"

namespace ph {

namespace {

// Far beyond any machine (dots, rows, columns, mm), yet sums and products
// of a few of them stay inside int.
constexpr int kDistanceLimit = 100000;
// Stretches added or skipped per layer.
constexpr int kStretchCountLimit = 1000;

int distance(int v) { return clampInt(v, -kDistanceLimit, kDistanceLimit); }

}  // namespace

double clampSetting(double v, double lo, double hi) {
  if (std::isnan(v)) return lo;
  return v < lo ? lo : v > hi ? hi : v;
}

ConversionSettings ConversionSettings::take(const HostCore& core, const JobLayout& layout) {
  const Settings& s = core.s;
  ConversionSettings c;
  c.passes = clampInt(layout.djpagrepeat, 1, 1000);
  c.band64 = clampInt(s.band64, 1, 4096);
  c.layerMicrons = clampInt(s.layerMicrons, 1, 1000000);
  // Records hold six-digit lengths: stretch data is split well below that.
  c.stretchSizeLim = clampInt(s.stretchSizeLim, 0, 900000);
  for (std::size_t i = 0; i < c.kcmyoff.size(); ++i) c.kcmyoff[i] = clampInt(s.kcmyoff[i], -10000, 10000);
  c.CartridgeDist = clampInt(s.CartridgeDist, -10000, 10000);
  c.hazeRemove = clampInt(s.hazeRemove, 0, 10000);
  c.moveBackAlign = distance(s.moveBackAlign);
  c.blackPrint = s.blackPrint;
  c.skipwater = s.skipwater;
  const Control* picture = core.controls.find("picturemode1");
  c.pictureMode = picture && picture->checked;

  c.shiftLayer = distance(s.shiftLayer);
  c.bridgelayers = s.bridgelayers;
  c.br32 = distance(s.br32);
  c.addedStretch = clampInt(s.addedStretch, 0, kStretchCountLimit);
  c.skipstretches = clampInt(s.skipstretches, -kStretchCountLimit, kStretchCountLimit);
  c.rightsidemargin = distance(s.rightsidemargin);
  c.buildRoomLength = distance(s.buildRoomLength);
  c.endskippers = clampInt(s.endskippers, 0, kStretchCountLimit);
  c.patternMode = layout.job.patternMode;
  c.bidirectional = s.bidirectional;
  c.alternating = s.bidirectional && !layout.job.patternMode;
  c.powderReduce = s.powderReduce && layout.heightProfileMade;
  c.prepstretches = clampInt(s.prepstretches, 0, kStretchCountLimit);

  c.behindmargin = distance(s.behindmargin);
  // A speed of 0 would make every move take for ever.
  c.movespeed = clampInt(s.movespeed, 1, 1000000);
  c.printspeed = clampInt(s.printspeed, 1, 1000000);
  c.stretchcut = distance(s.stretchcut);
  c.yvLow = clampSetting(s.yvLow, -kDistanceLimit, kDistanceLimit);
  c.yvHi = clampSetting(s.yvHi, -kDistanceLimit, kDistanceLimit);
  c.xMarlinBase = clampSetting(s.xMarlinBase, -kDistanceLimit, kDistanceLimit);
  c.MarlinMaxZ = clampSetting(s.MarlinMaxZ, -kDistanceLimit, kDistanceLimit);
  c.shortcutstretch = s.shortcutstretch;

  c.powderPercentage = s.powderPercentage;
  c.repeatpurge = s.repeatpurge;
  c.repeatstretch = s.repeatstretch;
  c.EachLayCode = s.EachLayCode;
  c.repeatcode = s.repeatcode;
  c.file_name = s.file_name;
  return c;
}

}  // namespace ph
