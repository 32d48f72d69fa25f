#include "host/app/host_wiring.h"

#include "host/app/host.h"
#include "host/machine/port_list.h"
#include "host/mesh/stl_tools.h"

namespace ph {

// ---- what the jetting unit's link asks for ----

void HostWiring::dropImages() { host_.inkControls.dropImages(false); }

void HostWiring::setAlarmCount(int beeps) { host_.inkControls.setAlarmCount(beeps); }

void HostWiring::cartridgeCheck() {
  if (!host_.printGuard.refuse("cartridge check")) host_.inkControls.cartridgeCheck();
}

bool HostWiring::printTicking() const { return host_.sequencer.ticking(); }

void HostWiring::linesLost(const std::string& why) { host_.sequencer.linesLost(why); }

void HostWiring::linkOpened() { host_.sequencer.restartBusyWatchdog(); }

bool HostWiring::holdPrintTick() { return host_.sequencer.holdTicking(); }

void HostWiring::releasePrintTick(bool wasTicking) { host_.sequencer.releaseTicking(wasTicking); }

void HostWiring::setHomePace(int ms) { host_.actions.setHomePace(ms); }
bool HostWiring::stretchStreaming() const { return host_.sequencer.streaming(); }
bool HostWiring::cartridgeCheckSounding() const { return host_.inkControls.cartridgeCheckSounding(); }
void HostWiring::startAlarmSound() { host_.inkControls.startAlarmSound(); }
void HostWiring::stopCartridgeScan() { host_.inkControls.stopCartridgeScan(); }

bool HostWiring::clearStalledTick() { return host_.sequencer.clearStalledTick(); }
bool HostWiring::ticking() const { return host_.sequencer.ticking(); }

void HostWiring::alignmentPrint() {
  if (!host_.printGuard.refuse("alignment print")) host_.batch.startAlignment();
}

void HostWiring::pasteInkCommands() { host_.inkControls.pasteInkCommands(); }

bool HostWiring::gcodeOnlyRun() const { return host_.sequencer.events.gcodeOnlyRun(); }

// ---- the batch print's steps ----

bool HostWiring::openModel() { return host_.handoff.openModel(); }

void HostWiring::skipNextSlicing() { host_.handoff.skipSlicing = true; }

void HostWiring::convert() { host_.conversion.convertJob(); }

void HostWiring::home() { host_.actions.home(); }

void HostWiring::resetZ() { host_.actions.resetZ(); }

void HostWiring::preparePowder() { host_.actions.preparePowder(); }

void HostWiring::dry() { host_.actions.dry(); }

void HostWiring::endProgram() { host_.goodbye(); }

bool HostWiring::saveSettings() { return host_.settingsFiles.saveSettings(); }

// ---- the manual actions' steps ----

void HostWiring::setStartX() { host_.sequencer.setStartX(); }

std::string HostWiring::expandGcodeTemplate(const std::string& text, int skip) {
  return host_.sequencer.expandGcodeTemplate(text, skip);
}

void HostWiring::armPowderSkip() {
  if (host_.sequencer.powderSkipState == 0) host_.sequencer.powderSkipState = 1;
}

void HostWiring::preparePowderLayers() { host_.settingDialogs.preparePowderLayers(); }

void HostWiring::sendKeepWet() { host_.inkControls.sendKeepWet(); }

void HostWiring::setCocoonWalls(bool on) { host_.mesh.setCocoonWalls(on); }

// ---- what the jetting unit's controls ask of the print ----

void HostWiring::pauseAtStretchEnd() { host_.sequencer.pauseAtStretchEnd(); }

bool HostWiring::pausedByEnd() const { return host_.sequencer.paused(); }

void HostWiring::primeCheckEnded() { host_.sequencer.primeCheckFinished(); }

bool HostWiring::isBusy() const { return host_.sequencer.isBusy(); }

void HostWiring::resumePrint() { host_.sequencer.resumeTicking(); }

// ---- the powder-only layers ----

void HostWiring::armPrepLayers(int layers) { host_.sequencer.armPrepLayers(layers); }

void HostWiring::startPrint() { host_.sequencer.start(); }

// ---- the print sequencer's steps ----

void HostWiring::convertPattern() { host_.conversion.convertJob(); }

void HostWiring::startLayerPrimeCheck(int travelMs) { host_.inkControls.startLayerPrimeCheck(travelMs); }

bool HostWiring::shortStretches() const { return host_.settingDialogs.shortstretches; }

bool HostWiring::fastStretches() const { return host_.settingDialogs.faststretches; }

void HostWiring::enterBestMatch() { host_.batch.enterBestMatch(); }

void HostWiring::abortMeshTools() { host_.mesh.abortMeshTools(); }

void HostWiring::signalCamera() { host_.CamSync.Send(); }

void HostWiring::clearActionMenu() { host_.inkControls.clearActions(); }

void HostWiring::stopPrimeCheck() { host_.inkControls.stopPrimeCheck(); }

void HostWiring::stopHoldingHead() { host_.actions.stopHoldingHead(); }

void HostWiring::stopPowderLayers() { host_.actions.stopPowderLayers(); }

// ---- the configuration editor ----

std::vector<std::string> HostWiring::detectedPorts() {
  std::vector<std::string> names;
  for (const SerialPortEntry& p : listSerialPorts(host_.ports.sysRoot, host_.ports.devRoot)) names.push_back(p.name);
  return names;
}

// ---- the job tools ----

bool HostWiring::startPatternPrint() {
  host_.sequencer.start();
  return host_.sequencer.isBusy();
}

// The tools that read the .dmc leave it to a running print.
bool HostWiring::printHoldsDmc() const { return host_.sequencer.holdsJobFile(); }

// ---- the slicer hand-off's steps ----

ConversionOutcome HostWiring::convertJob() { return host_.convertSlicedJob(); }

void HostWiring::meshCommand(const std::vector<std::string>& words) { host_.mesh.meshCommand(words); }

void HostWiring::setCocoonTransform(float scale, float rx, float ry, float rz, bool walls) {
  host_.mesh.setCocoonTransform(scale, rx, ry, rz, walls);
}

bool HostWiring::makeHeightProfile(const std::string& stl) {
  return ph::makeHeightProfile(host_.core, stl, host_.conversion.layout.heightProfile, 1.0f, 50, 30);
}

// ---- what the mesh tools read of the hand-off and the job ----

std::string HostWiring::convertedStlName() const { return host_.handoff.convertedStlName; }

void HostWiring::setConvertedStlName(const std::string& name) { host_.handoff.convertedStlName = name; }

bool HostWiring::processWithoutColor() const { return host_.handoff.processWithoutColor; }

std::string HostWiring::jobFileName() const { return host_.job.jobFileName; }

std::string HostWiring::viewerStl() const { return host_.handoff.viewerstl; }

void HostWiring::setViewerStl(const std::string& name) { host_.handoff.viewerstl = name; }

bool HostWiring::runSlicer(const std::string& stl) { return host_.handoff.runSlicer(stl); }

}  // namespace ph
