#pragma once
// Where the subsystems meet. Each subsystem names, as a small interface, what
// it asks of the others; this one object implements them all over the
// Host's objects and is handed to each subsystem at construction, so every
// link between two subsystems is written once, here, and none can be left
// unset.
#include <string>
#include <vector>

#include "host/core/config_editor.h"
#include "host/jobdata/job_tools.h"
#include "host/jobdata/patterns.h"
#include "host/jobdata/slicer_handoff.h"
#include "host/machine/batch_print.h"
#include "host/machine/ink_controls.h"
#include "host/machine/machine_actions.h"
#include "host/machine/machine_events.h"
#include "host/machine/ports.h"
#include "host/machine/print_sequencer.h"
#include "host/machine/setting_dialogs.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

class Host;

class HostWiring final : public MachineEvents,
                         public MarlinEvents,
                         public BatchSteps,
                         public ActionSteps,
                         public InkPrint,
                         public PrepLayersPrint,
                         public SequencerSteps,
                         public EditorMachine,
                         public PortsInUse,
                         public PatternPrinter,
                         public DmcHolder,
                         public HandoffSteps,
                         public MeshHost {
 public:
  // Only the reference is kept: the Host's objects are used once they exist.
  explicit HostWiring(Host& host) : host_(host) {}
  HostWiring(const HostWiring&) = delete;
  HostWiring& operator=(const HostWiring&) = delete;

  // MachineEvents: the terminal's Esc and "~" wait while a print runs.
  void dropImages() override;
  void setAlarmCount(int beeps) override;
  void cartridgeCheck() override;
  void alignmentPrint() override;
  void pasteInkCommands() override;
  bool gcodeOnlyRun() const override;
  bool printTicking() const override;
  bool stretchStreaming() const override;
  bool cartridgeCheckSounding() const override;
  void startAlarmSound() override;
  void stopCartridgeScan() override;

  // MarlinEvents: the print sequencer's tick and watchdog, the machine
  // actions' home sequence.
  void linesLost(const std::string& why) override;
  void linkOpened() override;
  bool holdPrintTick() override;
  void releasePrintTick(bool wasTicking) override;
  void setHomePace(int ms) override;

  // BatchSteps
  bool openModel() override;
  void skipNextSlicing() override;
  void convert() override;
  void home() override;
  void resetZ() override;
  void preparePowder() override;
  void dry() override;
  void endProgram() override;
  bool saveSettings() override;

  // ActionSteps
  void setStartX() override;
  std::string expandGcodeTemplate(const std::string& text, int skip) override;
  void armPowderSkip() override;
  void preparePowderLayers() override;
  void sendKeepWet() override;
  void setCocoonWalls(bool on) override;
  bool clearStalledTick() override;

  // InkPrint (isBusy also for the editor and the port tools)
  void pauseAtStretchEnd() override;
  bool pausedByEnd() const override;
  void primeCheckEnded() override;
  bool isBusy() const override;
  bool ticking() const override;
  void resumePrint() override;

  // PrepLayersPrint
  void armPrepLayers(int layers) override;
  void startPrint() override;

  // SequencerSteps
  void convertPattern() override;
  void startLayerPrimeCheck(int travelMs) override;
  bool shortStretches() const override;
  bool fastStretches() const override;
  void enterBestMatch() override;
  void abortMeshTools() override;
  void signalCamera() override;
  void clearActionMenu() override;
  void stopPrimeCheck() override;
  void stopHoldingHead() override;
  void stopPowderLayers() override;

  // EditorMachine
  std::vector<std::string> detectedPorts() override;

  // PatternPrinter, DmcHolder
  bool startPatternPrint() override;
  bool printHoldsDmc() const override;

  // HandoffSteps
  ConversionOutcome convertJob() override;
  void meshCommand(const std::vector<std::string>& words) override;
  void setCocoonTransform(float scale, float rx, float ry, float rz, bool walls) override;
  bool makeHeightProfile(const std::string& stl) override;

  // MeshHost
  std::string convertedStlName() const override;
  void setConvertedStlName(const std::string& name) override;
  bool processWithoutColor() const override;
  std::string jobFileName() const override;
  std::string viewerStl() const override;
  void setViewerStl(const std::string& name) override;
  bool runSlicer(const std::string& stl) override;

 private:
  Host& host_;
};

}  // namespace ph
