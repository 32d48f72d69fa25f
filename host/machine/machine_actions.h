#pragma once
// The operator's direct controls of the motion machine: homing with its
// start sequence, Z reset, park and front held by a timer, the platform
// button and the up/down control, powder preparation and powder layers, the
// drill and feed G-code files, the brush path, drying, plate temperature and
// the powder-amount label. The moves and the powder amount's steps are
// MotionControls' (the print sequencer uses them too).
#include <cstdint>
#include <functional>
#include <string>

#include "host/core/host_core.h"
#include "host/jobdata/job_layout.h"
#include "host/machine/jetting_link.h"
#include "host/machine/marlin_link.h"
#include "host/machine/motion.h"

namespace ph {

// The lines of a G-code file that go to the machine: the comment (";" to
// the end) and every CR removed, blanks trimmed; "" for a line that sends
// nothing.
std::string gcodeFileLine(const std::string& raw);

// The menu "Marlin" with the manual actions' items, and the brush button.
void addMachineActionItems(Controls& controls);

// What the manual actions ask of the print sequencer, the setting dialogs,
// the jetting-unit controls and the mesh tools.
class ActionSteps {
 public:
  virtual ~ActionSteps() = default;
  // The head's X := the start X of a print (build room skip, layer shift).
  virtual void setStartX() = 0;
  // The layer G-codes with the placeholders of the job filled in.
  virtual std::string expandGcodeTemplate(const std::string& text, int skip) = 0;
  // Arms the one-layer powder skip of the print.
  virtual void armPowderSkip() = 0;
  // The powder-only preparation layers (asks the layer count, which the
  // preset answer gives).
  virtual void preparePowderLayers() = 0;
  // The keep-wet box followed its check mark.
  virtual void sendKeepWet() = 0;
  // The mesh tools' cocoon walls.
  virtual void setCocoonWalls(bool on) = 0;
  // The print sequencer's: a tick left over from a print that has not
  // stepped for a whole watchdog period stops; true when it did.
  virtual bool clearStalledTick() = 0;
};

class MachineActions {
 public:
  // X of the park position (mm).
  static constexpr double kParkX = 1.0;
  // The brush's way over the wiper, "," between the items.
  static constexpr const char* kBrushPath =
      "X2 Y220, X2 Y152,X30 Y152,X30 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,X2 Y124,X2 Y72,"
      "X2 Y124,X30 Y124,X30 Y152,X2 Y152,X2 Y220,X133 Y220";
  // Acknowledgements that have not come for this long are taken as lost.
  static constexpr int kAckQuietMs = 10000;
  // Longest line of a G-code file; a longer one is skipped whole.
  static constexpr int kFileLineMax = 2047;

  // The head's position is the motion controls'.
  MachineActions(HostCore& core, MarlinLink& marlin, JettingLink& ink, MotionControls& motion, JobLayout& layout,
                 ActionSteps& steps);
  ~MachineActions();
  MachineActions(const MachineActions&) = delete;
  MachineActions& operator=(const MachineActions&) = delete;

  // Sets the handlers of the buttons, menu items and timers this object
  // drives.
  void bindControls();

  // ---- state ----
  enum class HomeStarter { None, BtHome, PrepLifts1 };
  HomeStarter homeStarter = HomeStarter::None;
  bool parkState = false;
  bool frontState = false;
  bool platformUp = false;
  int updownLastPos = 0;
  std::string brushQueue;
  FilePtr drillFile;
  FilePtr feedFile;
  bool autoUp = false;
  std::string plateTempAnswer;
  // The lines sent before a resynchronisation are still waited for (up to
  // kAckQuietMs without an acknowledgement) before later lines go.
  bool resyncPending = false;

  // Every line acknowledged, or the missing acknowledgements given up for
  // lost after a resynchronisation. The manual actions gate on it.
  bool linesSettled();
  // nrMarlinok := Marlinlin, once the lines in flight are in or lost.
  void resyncAcknowledgements();

  // ---- homing ----
  void home();
  // from: the control that starts the sequence (None for a tick).
  // HomeSeq: the home sequence's next code.
  void stepHomeSequence(HomeStarter from = HomeStarter::None);
  // "@@i<ms>" in a code sequence: the home sequence's pace.
  void setHomePace(int ms);
  void startLiftPrep();
  void resetZ();

  // ---- positions ----
  void togglePark();
  void toggleFront();
  // HoldMarlin: the head goes back to the park or front place it holds.
  void renewHeldPosition();
  // A print takes the head: the hold ends (the park and front states stay).
  void stopHoldingHead();
  void togglePlatform();
  void fillglyph();
  // A release on the up/down control: alternative is the right button or
  // Shift, upperHalf where it was released, position the control's value.
  void stepPlatform(bool alternative, bool upperHalf, int position);

  // ---- powder ----
  void preparePowder();
  // fromRepeat: called by multpowd.
  void layOnePowderLayer(bool fromRepeat = false);
  // multpowd: one more powder layer while the item is ticked.
  void repeatPowderLayer();
  // A print's abort ends the repeated powder layers.
  void stopPowderLayers();
  void applyRepeatedPowderLayers();
  // leftButton without shift steps up while held.
  void startPowderRepeat(bool leftButton, bool shift);
  // UpdwnRoller: one more powder step while the label is held.
  void repeatPowderStep();
  // downward: the right button or Shift.
  void stopPowderRepeat(bool downward);

  // ---- G-code files and the brush ----
  void startDrillPattern();
  // Drill: the drill pattern's next line.
  void stepDrillPattern();
  void startFeedFile();
  // FromFile: the G-code file's next line.
  void stepGcodeFile();
  void startBrush();
  // brushTimer: the brush path's next move.
  void stepBrushPath();

  // ---- plate and steppers ----
  void dry();
  void askPlateTemperature();
  void resetExtruder();
  void unpowerSteppers();
  void applyCocoonWalls();

 private:
  void moveToHeld();
  // Keeps HoldMarlin running while a park or front state is set.
  void holdPosition();
  void sendCodes(const std::string& codes, char sep);
  // The next line of a G-code file to send ("" at its end: `ended`).
  std::string nextFileLine(std::FILE* f, bool& ended);
  bool checked(const char* name) const;

  HostCore& core_;
  MarlinLink& marlin_;
  JettingLink& ink_;
  MotionControls& motion_;
  JobLayout& layout_;
  ActionSteps& steps_;
  int ackMark_ = 0;
  std::int64_t ackMarkTick_ = 0;
  OwnedTimer homeSequence_;  // HomeSeq
  OwnedTimer headHold_;      // HoldMarlin
  OwnedTimer drill_;         // Drill
  OwnedTimer gcodeFeed_;     // FromFile
  OwnedTimer brushing_;      // brushTimer
  OwnedTimer powderLayers_;  // multpowd
  OwnedTimer powderRepeat_;  // UpdwnRoller
};

}  // namespace ph
