#pragma once
// The settings a conversion reads, taken once when it starts: window
// events during the conversion change nothing in it, and each value is
// brought into a range in which the conversion's arithmetic cannot
// overflow (a setting far outside any machine's range converts as the
// nearest value inside it).
#include <array>
#include <string>

#include "host/core/numbers.h"  // saturatedInt, for the users of these settings

namespace ph {

class HostCore;
struct JobLayout;

struct ConversionSettings {
  // How often the .p3d is read (djpagrepeat of the layout).
  int passes = 1;
  // The raster and the stretches.
  int band64 = 64;
  int layerMicrons = 250;
  int stretchSizeLim = 26000;
  std::array<int, 10> kcmyoff{};
  int CartridgeDist = 0;
  int hazeRemove = 0;
  int moveBackAlign = 0;
  bool blackPrint = false;
  bool skipwater = false;
  bool pictureMode = false;  // the "picturemode" menu item
  // The layout of a layer.
  int shiftLayer = 0;
  bool bridgelayers = false;
  int br32 = 0;
  int addedStretch = 0;
  int skipstretches = 0;
  int rightsidemargin = 0;
  int buildRoomLength = 0;
  int endskippers = 0;
  bool patternMode = false;
  bool bidirectional = false;
  bool alternating = false;  // bidirectional and no pattern printed
  // Powder: reduced only when a height profile was made for the job.
  bool powderReduce = false;
  int prepstretches = 0;
  // The machine, motion and build room.
  int behindmargin = 0;
  int movespeed = 8000;
  int printspeed = 8000;
  int stretchcut = 0;
  double yvLow = 80.0;
  double yvHi = 220.0;
  double xMarlinBase = 133.0;
  double MarlinMaxZ = 180.0;
  bool shortcutstretch = false;
  // Stored in the .dmc header as they are.
  int powderPercentage = 0;
  int repeatpurge = 0;
  int repeatstretch = 0;
  std::string EachLayCode;
  std::string repeatcode;
  std::string file_name;

  static ConversionSettings take(const HostCore& core, const JobLayout& layout);
  // Band rows (band64 within 1..4096).
  int bandRows() const { return band64; }
};

// A value of a double setting within [lo, hi]; not-a-number gives lo.
double clampSetting(double v, double lo, double hi);

}  // namespace ph
