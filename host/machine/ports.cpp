#include "host/machine/ports.h"

#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "host/machine/port_list.h"

namespace ph {

namespace {

// The raw lines of the Marlin probe ("M18" twice).
constexpr int kProbeLines = 2;

constexpr const char* kCommsOverride = "commsoverride.i3d";

std::string portListText(const std::vector<std::string>& names) {
  std::string t = "~";
  for (const std::string& n : names) t += n + "~";
  return t;
}

bool inPortList(const std::string& list, const std::string& port) {
  return list.find("~" + port + "~") != std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------- set-up

PortTools::PortTools(HostCore& core, DeviceLinks& links, const PortsInUse& print)
    : scanPorts{&links.CommInk, &links.CommMarlin},
      core_(core),
      links_(links),
      print_(print),
      portScan_(core.timers.make("CommScan")),
      plugSequence_(core.timers.make("Plugseq")),
      baudChange_(core.timers.make("newbaud")),
      firmwareUpload_(core.timers.make("UplFirm")) {
  portScan_->setHandler([this] { stepScan(); });
  plugSequence_->setHandler([this] { stepPlugSequence(); });
  baudChange_->setHandler([this] { stepBaudChange(); });
  firmwareUpload_->setHandler([this] { stepFirmwareUpload(); });
  uploadWatch_ = core_.clock.createTimer("UploadWatch");
  uploadWatch_->setInterval(200);
  uploadWatch_->setHandler([this] { watchUploader(); });
}

PortTools::~PortTools() {
  uploadWatch_->stop();
  for (const char* n : {"listcoomports1", "scancomms1", "unplugandplug1", "commport3dp1", "setbaudrate1",
                        "firmwareupdate1", "updstepprcpp1"})
    if (Control* c = core_.controls.find(n)) c->onClick = nullptr;
  // An uploader still writing the unit's flash is left to finish: its
  // output goes to a file, so it never meets a closed pipe.
}

Control& PortTools::menuItem(const char* name, const char* caption, const char* hint) {
  if (Control* c = core_.controls.find(name)) return *c;
  Control& c = core_.controls.add(Control::Kind::MenuItem, name, caption, "setup1");
  c.hint = hint;
  return c;
}

void PortTools::bindControls() {
  menuItem("listcoomports1", "list commports", "list the computer's serial ports in the log").onClick = [this] {
    listPorts();
  };
  menuItem("scancomms1", "scan comms", "find the jetting unit and the fdm machine by probing every serial port")
      .onClick = [this] { confirmAndScan(); };
  menuItem("unplugandplug1", "unplug and plug", "find the two ports by unplugging and plugging the machines")
      .onClick = [this] { startPlugSequence(); };
  menuItem("commport3dp1", "commport3dp", "type the fdm machine's serial port").onClick = [this] {
    askMarlinPort();
  };
  menuItem("setbaudrate1", "set baudrate", "change the jetting unit's line speed").onClick = [this] {
    askInkBaudRate();
  };
  menuItem("firmwareupdate1", "firmware-update", "upload nozzlefw.hex into the jetting unit with lpc21isp")
      .onClick = [this] { confirmFirmwareUpload(); };
  // A developer tool: expert mode only (no hint).
  menuItem("updstepprcpp1", "upd_stepper.cpp", "").onClick = [this] { askStepperPatch(); };
}

bool PortTools::refusedWhileBusy(const char* what) {
  if (!print_.isBusy()) return false;
  core_.memoPrintf("%s refused: a print is running", what);
  core_.ui.showMessage(plat::format("%s refused: a print is running", what));
  return true;
}

// ---------------------------------------------------------------- port list

void PortTools::listPorts() {
  core_.memoPrintf("%s", "seaching comm ports:");
  for (const SerialPortEntry& p : listSerialPorts(sysRoot, devRoot)) {
    if (portList) portList->push_back(p.name);
    else if (p.name != p.device) core_.memoPrintf("%s (%s)", p.name, p.kernelName);
    else core_.memoPrintf("%s", p.name);
  }
  core_.memoPrintf("%s", "=============");
}

// ---------------------------------------------------------------- scan

void PortTools::confirmAndScan() {
  if (refusedWhileBusy("scan comms")) return;
  if (core_.notConfirmed("scan all commports for discover")) return;
  startScan();
}

bool PortTools::startScan() {
  // Asked again here: the question above let events run.
  if (refusedWhileBusy("scan comms")) return false;
  if (portScan_->enabled()) return false;
  if (firmwareUpload_->enabled() || uploaderPid_ > 0 || baudChange_->enabled()) {
    // A probe written into the uploader's line would spoil the firmware.
    core_.ui.showMessage("scan comms refused: the jetting unit's port is in use by the firmware upload or the baud change");
    return false;
  }
  Settings& s = core_.s;
  savedXonXoffMode = s.XonXoffMode;
  s.XonXoffMode = true;
  links_.CommInk.SetFlowControl(TFlowControl::fcSoftware);
  if (!portList) portList = std::make_unique<std::vector<std::string>>();
  portList->clear();
  listPorts();
  links_.CommInk.Close();
  links_.CommMarlin.Close();
  // The Marlin link reopens (on the port found) the next time it is needed,
  // rather than writing into the port the scan closed.
  links_.marlin.marlinLinkOpen = false;
  portScan_->start();
  links_.marlin.nrMarlinok = 0;
  links_.ink.versionSeen = false;
  scanIndex = -1;
  scanCheckPhase = false;
  Control& box = core_.controls.at("cb_comm");
  if (box.checked) {
    box.setChecked(false);
    box.click();
  }
  return true;
}

void PortTools::stepScan() {
  plat::Timer& timer = *portScan_;
  timer.stop();
  scanCheckPhase = !scanCheckPhase;
  core_.memoPrintf("%n.");
  if (scanCheckPhase) {
    if (scanIndex >= 0) checkProbe();
    timer.start();
  } else {
    probeNextPort();
  }
  if (!timer.enabled()) core_.memoPrintf("%s", "scan done");
}

void PortTools::checkProbe() {
  if (scanIndex % 2 == 1) {
    TCommCust& marlin = *scanPorts[1];
    // The probe's two raw lines lowered the count by 2; an "ok" raised it.
    if (links_.marlin.nrMarlinok <= -kProbeLines) marlin.Close();
    else core_.memoPrintf("found Marlin(%d) %s", scanIndex, marlin.DeviceName());
  } else {
    TCommCust& ink = *scanPorts[0];
    if (!links_.ink.versionSeen) {
      ink.Close();
    } else {
      core_.memoPrintf("found Inkj(%d) %s", scanIndex, ink.DeviceName());
      ++scanIndex;  // the Marlin probe of this port is skipped
    }
  }
}

void PortTools::probeNextPort() {
  bool opened = false;
  while (!opened && portList && static_cast<int>(portList->size()) > (scanIndex + 1) / 2) {
    ++scanIndex;
    const int c = scanIndex % 2;
    TCommCust& port = *scanPorts[static_cast<std::size_t>(c)];
    if (port.Enabled()) continue;  // its device was found
    int baud = 0;  // a rate in the text is not used: the component keeps its own
    port.SetDeviceName(parseCommDevice((*portList)[static_cast<std::size_t>(scanIndex / 2)], baud));
    // A port that does not open counts as one that does not answer.
    try {
      port.Open();
    } catch (const std::exception&) {
    }
    const std::string probe = c == 0 ? " 19o" : "M18\nM18\n";
    port.Write(probe.data(), static_cast<int>(probe.size()));
    opened = true;
  }
  // Raw lines are acknowledged too: the count starts below 0 by the probe's
  // lines, so that their "ok"s count whatever lines were numbered before.
  links_.marlin.nrMarlinok = -kProbeLines;
  links_.ink.versionSeen = false;
  if (opened) {
    portScan_->start();
    return;
  }
  endScan();
}

void PortTools::endScan() {
  Settings& s = core_.s;
  portList.reset();
  TCommCust& ink = *scanPorts[0];
  TCommCust& marlin = *scanPorts[1];
  // The scan's own handshake setting never outlives it.
  s.XonXoffMode = savedXonXoffMode;
  if (ink.Enabled()) {
    s.CommInkDevice = ink.DeviceName();
    ink.Close();
    // The link reopens on the port found two seconds later.
    links_.reopenInkLinkAfter(2000);
  }
  if (marlin.Enabled()) {
    s.CommPortMarlin = marlin.DeviceName();
    marlin.Close();
  }
}

// ---------------------------------------------------------------- plug sequence

void PortTools::startPlugSequence() {
  if (core_.notConfirmed("configure usb ports by plugging and unplugging?")) return;
  plugSequence_->stop();
  plugStage = 0;
  stepPlugSequence();
}

void PortTools::stepPlugSequence() {
  plat::Timer& timer = *plugSequence_;
  timer.stop();
  std::string current;
  if (plugStage > 0) {
    if (!portList) portList = std::make_unique<std::vector<std::string>>();
    portList->clear();
    listPorts();
    current = portListText(*portList);
    portList.reset();
  }
  switch (plugStage) {
    case 0:
      portsBare.clear();
      portsWithUnit.clear();
      core_.ui.showMessage("unplug both prismbay and fdm");
      break;
    case 1:
      portsBare = "~" + current;
      core_.ui.showMessage("plug in prismbay");
      break;
    case 2:
      portsWithUnit = "~" + current;
      core_.ui.showMessage("plug in fdm machine");
      break;
    default:
      for (std::string rest = current; !rest.empty();) {
        const std::string p = popToken(rest, '~');
        if (p.empty() || inPortList(portsBare, p)) continue;
        if (!inPortList(portsWithUnit, p)) {
          core_.memoPrintf("fdm machine on %s", p);
          core_.applySettings("?CommPortMarlin=\"" + p + "\"", true);
        } else {
          core_.applySettings("?CommInkDevice=\"" + p + "\"", true);
          core_.memoPrintf("prismbay on %s", p);
        }
        if (fileExists(kCommsOverride)) core_.memoPrintf("warning: %s not updated", currentDir() + "/" + kCommsOverride);
      }
      break;
  }
  if (++plugStage > 3) {
    plugStage = 0;
    return;
  }
  timer.start();
}

// ---------------------------------------------------------------- Marlin port

void PortTools::askMarlinPort() {
  if (refusedWhileBusy("commport3dp")) return;
  links_.marlinPort.close();
  const std::string current = links_.CommMarlin.DeviceName();
  const auto answer = core_.ui.inputBox("input", "CommMarlin->DeviceName", current);
  if (answer && !answer->empty()) {
    links_.CommMarlin.SetDeviceName(*answer);
    // The link takes its device from the setting when it opens.
    core_.s.CommPortMarlin = *answer;
  }
  links_.marlin.marlinLinkOpen = false;
}

// ---------------------------------------------------------------- baud change

std::string PortTools::baudRateRefusal(int rate) {
  if (rate < kMinBaud || rate > kMaxBaud)
    return plat::format("the serial port takes %d to %d baud", kMinBaud, kMaxBaud);
  TCommCust& port = links_.CommInk;
  const int old = port.CustomBaudRate();
  // Tried on the open line, and set back at once: a driver that cannot run
  // the rate refuses it here, before the unit is told to change.
  if (!port.Enabled() || old <= 0) return "";
  std::string why;
  port.SetCustomBaudRate(rate);
  try {
    port.UpdateDataControlBlockLock();
  } catch (const std::exception& e) {
    why = plat::format("the port cannot run it (%s)", e.what());
  }
  port.SetCustomBaudRate(old);
  try {
    port.UpdateDataControlBlockLock();
  } catch (const std::exception&) {
  }
  return why;
}

void PortTools::askInkBaudRate() {
  if (refusedWhileBusy("set baudrate")) return;
  if (baudChange_->enabled()) return;  // a change is under way
  newBaudRate = links_.CommInk.CustomBaudRate();
  const int rate = core_.evalIntExpr(core_.askText("input", "baudrate", std::to_string(newBaudRate)));
  if (rate == links_.CommInk.CustomBaudRate()) return;
  changeInkBaudRate(rate);
}

bool PortTools::changeInkBaudRate(int rate) {
  JettingLink& ink = links_.ink;
  if (!ink.inkLinkOpen || ink.inkViaSocket || !links_.CommInk.Enabled()) {
    core_.ui.showMessage("set baudrate: the jetting unit's serial port is not open");
    return false;
  }
  if (const std::string why = baudRateRefusal(rate); !why.empty()) {
    core_.memoPrintf("baud rate %d not set: %s", rate, why);
    core_.ui.showMessage(plat::format("baud rate %d not set: %s", rate, why));
    return false;
  }
  oldBaudRate_ = links_.CommInk.CustomBaudRate();
  newBaudRate = rate;
  baudReopenPhase = false;
  baudCheckPending_ = false;
  ink.sendInk(plat::format(" %d,0o", rate));
  baudChange_->start();
  return true;
}

void PortTools::reopenInk(int baud) {
  links_.inkPort.setDevice(links_.CommInk.DeviceName(), baud);
  const std::string err = links_.inkPort.open();
  if (!err.empty()) core_.memoPrintf("%s", err);
}

void PortTools::stepBaudChange() {
  plat::Timer& timer = *baudChange_;
  JettingLink& ink = links_.ink;
  if (!ink.inkLinkOpen) {
    // The operator closed the link meanwhile: nothing to reopen.
    timer.stop();
    baudCheckPending_ = false;
    return;
  }
  if (baudCheckPending_) {
    // One tick for the unit to answer at the new rate; without an answer
    // the line goes back to the rate that worked.
    timer.stop();
    baudCheckPending_ = false;
    if (ink.versionSeen) {
      ink.inkBaudRate = newBaudRate;
      core_.memoPrintf("jetting unit at %d baud", newBaudRate);
      return;
    }
    core_.memoPrintf("jetting unit does not answer at %d baud: back to %d", newBaudRate, oldBaudRate_);
    links_.inkPort.close();
    reopenInk(oldBaudRate_);
    return;
  }
  baudReopenPhase = !baudReopenPhase;
  if (baudReopenPhase) {
    links_.inkPort.close();
    return;
  }
  reopenInk(newBaudRate);
  ink.versionSeen = false;
  ink.inkWrite(std::string(" 19o"));
  baudCheckPending_ = true;
}

}  // namespace ph
