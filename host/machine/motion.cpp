#include "host/machine/motion.h"

#include "host/core/config_editor.h"
#include "host/core/numbers.h"
#include "host/machine/unit_codes.h"

namespace ph {

MotionControls::MotionControls(HostCore& core, MarlinLink& marlin, JettingLink& ink)
    : core_(core), marlin_(marlin), ink_(ink), powderReport_(core.timers.make("powderreport")) {
  powderReport_->setHandler([this] { reportPowderChange(); });
}

MotionControls::~MotionControls() = default;

void MotionControls::applyTransformXY(double& x, double& y) const {
  const auto& t = core_.s.transformxy;
  auto coef = [&](int i) { return t[std::size_t(i)] == 2 ? -1.0 : double(t[std::size_t(i)]); };
  const double nx = t[0] + coef(2) * x + coef(3) * y;
  const double ny = t[1] + coef(4) * x + coef(5) * y;
  x = nx;
  y = ny;
}

void MotionControls::moveXY(double x, double y, int speed) {
  applyTransformXY(x, y);
  if (oneShotSpeed != 0) {
    speed = oneShotSpeed;
    oneShotSpeed = 0;
  }
  marlin_.sendGcode(plat::format("G0 X%3.2f Y%3.2f F%d", x, y, speed));
}

void MotionControls::moveXYZ(double x, double y, double z, int speed) {
  applyTransformXY(x, y);
  marlin_.sendGcode(plat::format("G0 X%3.2f Y%3.2f Z%3.2f F%d", x, y, z, speed));
  if (marlin_.m18zAccepted) marlin_.sendGcode("M18 Z");
}

void MotionControls::turnHead(double farY) {
  head_.lastY = head_.y;
  head_.y = head_.y <= core_.s.yvHi - 10 ? core_.s.yvHi : farY;
}

void MotionControls::plateHeatStep(bool& plateHeating) {
  const Settings& s = core_.s;
  switch (plateStep) {
    case 0:
      head_.x += s.plateXmove;
      moveXY(head_.x, s.yvHi, s.movespeed);
      break;
    case 1: marlin_.sendGcode(plat::format("G4 P%d", 1)); break;
    case 2:
      marlin_.sendGcode("M302");
      marlin_.sendGcode(plat::format("M203 E%3.2f", s.plateDownSpeed * 0.01));
      break;
    case 3:
      marlin_.sendGcode(plat::format("G0 E%3.2f", s.plateDownMove * 0.01));
      ink_.sendInk(unit::kPlateHeatStart);
      break;
    case 4: marlin_.sendGcode(plat::format("G4 P%d", s.plateTime)); break;
    case 5: marlin_.sendGcode(plat::format("G0 E%3.2f", s.plateParkMove * 0.01)); break;
    case 6: marlin_.sendGcode(plat::format("G4 P%d", 100)); break;
    case 7:
      head_.x -= s.plateXmove;
      moveXY(head_.x, s.yvHi, s.movespeed);
      break;
    default:
      ink_.sendInk(unit::kPlateHeatEnd);
      plateHeating = false;
      plateStep = 0;
      return;
  }
  ++plateStep;
}

void MotionControls::PowderUpDown(bool up, bool setBase) {
  Settings& s = core_.s;
  if (!powderReport_->enabled()) powderReportFrom = s.powderPercentage;
  if (powderBase < 0) powderBase = s.powderPercentage;
  if (s.powderPercentage != 0 || up) {
    // From the amount itself: the label shows it, and may not have been
    // drawn yet.
    Control& label = core_.controls.at("LabPwdr");
    label.setCaption(stepIntText(!up, std::to_string(s.powderPercentage)));
    s.powderPercentage = textToInt(label.caption);
  }
  if (setBase) powderBase = s.powderPercentage;
  powderReport_->stop();
  powderReport_->start();
  layersAtPowderAmount_ = 0;
}

void MotionControls::stepPowderTo() {
  for (int i = 0; i < 100 && powderBase > 0 && powderBase < core_.s.powderPercentage; ++i) PowderUpDown(false, false);
}

void MotionControls::reportPowderChange() {
  powderReport_->stop();
  if (core_.s.powderPercentage != powderReportFrom)
    core_.memoPrintf("powder set to %d (was %d)", core_.s.powderPercentage, powderReportFrom);
}

}  // namespace ph
