#pragma once
// The motion operations of the machine actions that the print sequencer
// calls: moves through the coordinate transform, the plate heating between
// layers, and the powder amount's steps. The manual controls (home, park,
// Z reset, brush, ...) join them on this object. It owns the head's
// position both plan with.
#include <functional>
#include <memory>

#include "host/core/host_core.h"
#include "host/machine/jetting_link.h"
#include "host/machine/marlin_link.h"

namespace ph {

// The head's position as the print and the manual actions plan it, before
// the coordinate transform: the X and Y of the next moves, and the Y the
// last pass went to (the priming check's travel starts from there).
struct HeadPosition {
  double x = 0.0;
  double y = 0.0;
  double lastY = 0.0;
};

class MotionControls {
 public:
  MotionControls(HostCore& core, MarlinLink& marlin, JettingLink& ink);
  ~MotionControls();
  MotionControls(const MotionControls&) = delete;
  MotionControls& operator=(const MotionControls&) = delete;

  // Next step of the plate heating (0..8).
  int plateStep = 0;
  // The powder amount the automatic raises started from (-1: none yet).
  int powderBase = -1;
  // The powder amount before a series of steps (logged 5 s after the last).
  int powderReportFrom = 0;
  // Speed of the next move instead of the one asked (0: none); set once by
  // the roller split.
  int oneShotSpeed = 0;
  // One more layer laid at this powder amount; returns how many since the
  // amount last stepped (every step starts the count again; layerMorePowder
  // steps it up after that many).
  int countLayerAtPowderAmount() { return ++layersAtPowderAmount_; }

  // ---- the head's position (the print sequencer and the manual actions
  // move it through these; nothing else writes it) ----
  const HeadPosition& position() const { return head_; }
  // The X the next moves start from (a print's or a layer's start X).
  void setHeadX(double x) { head_.x = x; }
  // The X moves on by dx: bands printed or skipped, the alignment jump.
  void shiftHeadX(double dx) { head_.x += dx; }
  // The Y the next pass goes to.
  void setHeadY(double y) { head_.y = y; }
  void shiftHeadY(double dy) { head_.y += dy; }
  // The head stands at y with no pass behind it (a print's start, homing).
  void placeHeadAtY(double y) { head_.y = head_.lastY = y; }
  // The pass to the head's Y went out: that Y becomes the last pass's, and
  // the next pass goes to the other side (yvHi from the print's side,
  // farY from the yvHi side).
  void turnHead(double farY);

  // x' = t0 + t2 x + t3 y, y' = t1 + t4 x + t5 y; a coefficient of 2 is -1.
  void applyTransformXY(double& x, double& y) const;
  void moveXY(double x, double y, int speed);
  void moveXYZ(double x, double y, double z, int speed);
  // One step of the plate heating; the head's X moves away and back with
  // it, and the last step clears plateHeating.
  void plateHeatStep(bool& plateHeating);
  // One step of the powder amount (the label LabPwdr follows); setBase
  // takes the new amount as the base of later raises.
  void PowderUpDown(bool up, bool setBase);
  // Steps the powder amount back down to its base (at most 100 steps).
  void stepPowderTo();
  // powderreport: logs the powder amount once it stopped changing.
  void reportPowderChange();

 private:
  HostCore& core_;
  MarlinLink& marlin_;
  JettingLink& ink_;
  OwnedTimer powderReport_;  // powderreport
  int layersAtPowderAmount_ = 0;
  HeadPosition head_;
};

}  // namespace ph
