#pragma once
// Finding and changing the machines' ports, and the maintenance tools that
// go with them: the port list, the automatic scan (each port probed for the
// jetting unit with " 19o" and for Marlin with "M18"), the plug sequence,
// the manual Marlin port, the jetting unit's baud change, its firmware
// upload through the outside uploader lpc21isp, and the patcher of Marlin's
// "stepper.cpp" that doubles one axis's step and direction outputs.
//
// Everything runs on the user-interface thread from menu items and timers.
// The serial components and the links' receive handlers are those of
// DeviceLinks: a probe's "version" or "ok" is counted by the links as usual.
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/core/host_core.h"
#include "host/machine/machine_links.h"
#include "platform/process.h"

namespace ph {

// What the patcher asks for.
struct StepperPatch {
  int stepPin = 30;
  int dirPin = 38;
  bool invertFeeder = false;
  std::string axis = "Y";  // one to three letters or digits, upper case
};

// The Marlin source with the second step and direction outputs of
// `patch.axis` added. An earlier patch (of any axis) is taken out first, so
// patching a patched source gives what patching the unpatched one gives.
std::string patchStepperSource(const std::string& source, const StepperPatch& patch);
// The source as it was before patchStepperSource; unchanged when it carries
// no patch.
std::string unpatchStepperSource(const std::string& source);

// Whether a print runs: nothing here closes a port a running print uses.
class PortsInUse {
 public:
  virtual ~PortsInUse() = default;
  virtual bool isBusy() const = 0;
};

class PortTools {
 public:
  // The uploader is stopped when it has not ended after this long.
  static constexpr int kUploadLimitMs = 300000;
  // Line speeds the serial component can be asked for at all.
  static constexpr int kMinBaud = 50;
  static constexpr int kMaxBaud = 4000000;
  static constexpr const char* kUploaderName = "lpc21isp";
  static constexpr const char* kFirmwareImage = "nozzlefw.hex";

  PortTools(HostCore& core, DeviceLinks& links, const PortsInUse& print);
  ~PortTools();
  PortTools(const PortTools&) = delete;
  PortTools& operator=(const PortTools&) = delete;

  // ---- seams ----
  // Where the ports are listed from (tests point these at a fake tree).
  std::string sysRoot = "/sys";
  std::string devRoot = "/dev";

  // ---- state ----
  // Port names of a scan or the plug sequence; absent outside them.
  std::unique_ptr<std::vector<std::string>> portList;
  // The components the scan probes with: 0 the jetting unit's, 1 Marlin's.
  std::array<TCommCust*, 2> scanPorts;
  int scanIndex = -1;
  bool scanCheckPhase = false;
  bool savedXonXoffMode = false;
  int plugStage = 0;
  std::string portsBare, portsWithUnit;
  int uploadStep = 0;
  int newBaudRate = 0;
  bool baudReopenPhase = false;

  // The menu items (made when absent) and their handlers.
  void bindControls();

  // ---- what the menu items and timers start ----
  // "list commports": the serial ports into the log (or into portList
  // while a scan or the plug sequence collects them).
  void listPorts();
  // "scan comms": after the operator confirms, probes every port; a step
  // per CommScan tick.
  void confirmAndScan();
  void stepScan();
  // "unplug and plug": the two ports found from the lists before and after
  // each machine is plugged in; a step per Plugseq tick.
  void startPlugSequence();
  void stepPlugSequence();
  // "commport3dp": the Marlin machine's port, typed by the operator.
  void askMarlinPort();
  // "set baudrate": the jetting unit's line speed; a step per newbaud tick.
  void askInkBaudRate();
  void stepBaudChange();
  // "firmware-update": after the operator confirms, the upload; a step per
  // UplFirm tick.
  void confirmFirmwareUpload();
  void stepFirmwareUpload();
  // "upd_stepper.cpp": asks the pins and patches progDir's stepper.cpp.
  void askStepperPatch();

  // ---- the work behind them ----
  // Starts the scan (no question asked); false when it may not run now.
  bool startScan();
  // Starts a baud change of the jetting unit's link; false, told to the
  // operator, when the rate cannot be set or the link is not there.
  bool changeInkBaudRate(int rate);
  // "" when the serial component can run the jetting unit's open port at
  // `rate`, else why not.
  std::string baudRateRefusal(int rate);
  // Starts the upload sequence; false, told, when it cannot run.
  bool startFirmwareUpload();
  // The uploader's command line.
  static std::vector<std::string> uploaderArgv(const std::string& program, const std::string& image,
                                               const std::string& device);
  // progDir's lpc21isp, else the one on PATH; "" when there is none.
  std::string uploaderProgram() const;
  // The running uploader (-1 when none).
  pid_t uploaderPid() const { return uploaderPid_; }
  // Patches progDir's "stepper.cpp"; false when nothing was written.
  bool patchStepperFile(const StepperPatch& patch);

 private:
  Control& menuItem(const char* name, const char* caption, const char* hint);
  // Tells and returns true while a print runs.
  bool refusedWhileBusy(const char* what);
  void probeNextPort();
  void checkProbe();
  void endScan();
  void reopenInk(int baud);
  bool startUploader();
  void watchUploader();
  void readUploaderOutput(bool all);
  void uploaderEnded(const std::string& failure);

  HostCore& core_;
  DeviceLinks& links_;
  const PortsInUse& print_;
  OwnedTimer portScan_;        // CommScan
  OwnedTimer plugSequence_;    // Plugseq
  OwnedTimer baudChange_;      // newbaud
  OwnedTimer firmwareUpload_;  // UplFirm
  // The baud change: the rate to go back to, and whether the reopened port
  // waits for the unit's answer.
  int oldBaudRate_ = 0;
  bool baudCheckPending_ = false;
  // The uploader: its process, its output and the end of its time.
  std::unique_ptr<plat::Timer> uploadWatch_;
  pid_t uploaderPid_ = -1;
  std::unique_ptr<plat::ProgramOutput> uploaderOutput_;
  std::int64_t uploadDeadline_ = 0;
  bool closeAfterUpload_ = false;
  bool uploadSucceeded_ = false;
};

}  // namespace ph
