#pragma once
// Host: the prismhost program's state and handlers of its main window:
// start-up (startUp), the command line (runCommandLine), the user functions,
// window geometry and the close sequence. It owns HostCore and, as they are
// built, the subsystem objects.
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/app/host_wiring.h"
#include "host/app/print_guard.h"
#include "host/core/config_editor.h"
#include "host/core/hints.h"
#include "host/components/mem_couple.h"
#include "host/core/host_core.h"
#include "host/jobdata/conversion.h"
#include "host/jobdata/dmc_viewer.h"
#include "host/jobdata/job_tools.h"
#include "host/jobdata/head_tables.h"
#include "host/jobdata/layer_preview.h"
#include "host/jobdata/patterns.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/slicer_handoff.h"
#include "host/machine/batch_print.h"
#include "host/machine/ink_controls.h"
#include "host/machine/machine_links.h"
#include "host/machine/ports.h"
#include "host/machine/setting_dialogs.h"
#include "host/machine/machine_actions.h"
#include "host/machine/motion.h"
#include "host/machine/print_sequencer.h"
#include "host/mesh/mesh_tools.h"
#include "host/scantools/scan_tools.h"
#include "host/core/lookup_tables.h"
#include "host/core/settings_files.h"
#include "platform/instance_lock.h"
#include "platform/stay_awake.h"

namespace ph {

// The exit status of a program that cannot use its command line.
constexpr int kExitUnusableCommandLine = 2;

// The command line's usage, as "-?" shows it.
std::string commandLineUsage();
// Whether the command line asks for an unattended run: -F with a file and
// one of -V, -T, -B. Known from the start, before the Init timer reads it.
bool asksForUnattendedRun(const std::vector<std::string>& args);
// Without a display only an unattended run has anything to do: otherwise
// the status to end with at once (0 for "-?", kExitUnusableCommandLine for
// anything else) and, in `text`, what to say (the usage, and why).
std::optional<int> endWithoutDisplay(const std::vector<std::string>& args, std::string& text);

// The main window's named controls and menus, created before start-up runs.
void createMainControls(Controls& controls);

class Host {
 public:
  static constexpr const char* kInstanceMutexBase = "prismhost489358654";

  // poster: how waiting threads reach the user-interface thread
  // (plat::qtUiPoster() in the program; tests without events may leave it).
  Host(OperatorUi& ui, plat::Clock& clock, std::vector<std::string> args, plat::UiPoster poster = {});
  ~Host();

  HostCore core;
  // What the subsystems ask of each other; it only forwards to the objects
  // below, so it comes first and each of them gets it at construction.
  HostWiring wiring{*this};
  // The main window's controls exist before any subsystem binds its names.
  bool mainControlsMade = (createMainControls(core.controls), true);
  SettingsFiles settingsFiles{core};
  ConfigEditor configEditor{core, settingsFiles, wiring};
  Hints hints{core};
  LookupTables tables;
  // The current job's flags and work files.
  JobState job{core};
  Conversion conversion{core, tables, job};
  SlicerHandoff handoff{core, conversion.layout, wiring};
  // "pr dmc", the print simulation and the job-data tools.
  DmcViewer viewer{core, job, conversion};
  JobTools jobTools{core, job, conversion, wiring};
  // The mesh tools; the print sequencer's abort stops a running mesh
  // operation too.
  MeshTools mesh{core, wiring};
  // The scan-texturing and developer tools of the mesh-tools window.
  ScanTools scan{core, mesh};
  // The "dsp p3d" layer preview, the test and alignment patterns, and the
  // print-head tables and other developer aids. The pattern print starts
  // the print sequencer.
  LayerPreview preview{core, job};
  Patterns patterns{core, job, preview, wiring};
  HeadTables headTables{core, job};
  // Listens for the slicer's ready event.
  TMemCouple syncslice;
  // The main window's mesh-tools couple (nothing is sent or received on it)
  // and the camera couple, which the print sequencer signals every
  // camsyncer steps for a time-lapse camera; both open from the start.
  TMemCouple meshkitready;
  TMemCouple CamSync;
  // The machine links; `links` points at them (tests may point it at a
  // recording double).
  DeviceLinks deviceLinks;
  MachineLinks* links = &deviceLinks;
  // Port discovery, the port and baud changes, the firmware tools.
  PortTools ports{core, deviceLinks, wiring};
  // The motion operations and the print sequencer over the two links.
  MotionControls motion{core, deviceLinks.marlin, deviceLinks.ink};
  plat::LogindStayAwake stayAwake{[this](const std::string& line) { core.memoPrintf("%s", line); }};
  PrintSequencer sequencer{core,        job,    conversion.layout, deviceLinks.ink, deviceLinks.marlin,
                           motion,      stayAwake,
                           {handoff.temprTestActive, handoff.savedStartingLayer},
                           wiring};
  // The jetting unit's manual controls, with the sounds they play, and the
  // small setting dialogs, bound to the print sequencer: it clears their
  // actions at print start and starts the priming check between layers; the
  // alignment print and G-code-only runs go to the sequencer's events.
  plat::SystemSoundPlayer sound;
  InkControls inkControls{core, deviceLinks.ink, sound, wiring};
  SettingDialogs settingDialogs{core, conversion.layout, wiring};
  // The operator's manual machine actions; the head's position is the
  // motion controls'.
  MachineActions actions{core, deviceLinks.marlin, deviceLinks.ink, motion, conversion.layout, wiring};
  // The batch print, the alignment and the pulse calibration.
  BatchPrint batch{core, job, deviceLinks.ink, deviceLinks.marlin, motion, inkControls, sequencer, wiring};
  // The operator's machine controls wait while a print runs; so do the
  // terminal keys that move the machine.
  PrintGuard printGuard{core, [this] { return sequencer.isBusy(); }};

  char currentOption = ' ';  // the option being handled
  std::string marlinTcpHost;
  int marlinTcpPort = 0;
  // The receive event the slicer sets when a job is ready.
  std::string syncsliceEventName = ".p3d file ready";
  // Initial folder of the file dialogs and the model preselected in the
  // model dialog.
  std::string dialogFolder;
  std::string modelDialogFile;

  // The batch print that -B starts, and the conversion of a sliced job (a
  // test may put its own step in either place).
  std::function<void()> runBatch = [this] { batch.startBatch(); };
  std::function<ConversionOutcome()> convertSlicedJob = [this] { return conversion.convertJob(); };

  void startUp();
  // Timer Init, once the window shows: the command line.
  void runCommandLine();
  void addUserFunction(const std::string& caption, const std::string& command);
  void runUserFunction(int tag);
  void FormResize();
  void checkWindowMoved();
  void endSizing();
  void keepWindowPlace();
  // The close sequence: false when the program stays open (the operator
  // cancelled, or the settings could not be saved).
  bool askToClose();
  // SIGTERM or SIGINT: closes without asking, stopping what runs (a slicer
  // it waits for); an unattended run that was not done has failed.
  void terminate(int signal);
  // An exception escaped a handler: logs it and runs the close sequence as
  // far as it can, so the log is appended.
  void closeAfterFault(const std::string& what);
  // The program's exit status: 1 after a fault or when an unattended run
  // failed or was not done, else 0.
  int exitStatus() const;
  void goodbye();
  // Timer LeaveProgram: waits for the goodbye's acknowledgements.
  void stepGoodbye();
  // "fdebug": opens the jetting unit's dump file "pbaydebug.dmp" in the
  // work folder when it is closed, else closes it.
  void toggleDebugDump();
  // Label LabStretch: the Marlin counters.
  void logMarlinCounters();

  int userFunctionCount() const { return userFunctionCount_; }
  const std::array<std::string, 20>& userFunctionCommands() const { return userFunctionCommands_; }
  int leaveTicks() const { return leaveTicks_; }

 private:
  // Created before the handlers that name them are bound.
  OwnedTimer commandLineStart_ = core.timers.make("Init");
  OwnedTimer moveCheck_ = core.timers.make("Movecheck");
  OwnedTimer sizing_ = core.timers.make("Sizing");
  OwnedTimer goodbyeWait_ = core.timers.make("LeaveProgram");

  // The handlers of the patterns, the layer preview and the print-head
  // tables.
  void bindJobTools();
  void applyCommsOverride();
  void chooseMarlinLink();
  void buildUserFunctions();
  void applyExpertMode();
  // The close question "Save Ini File": false when the program stays open.
  bool askSaveOnClose();
  // While a print runs the operator confirms first; unattended, never asked.
  bool confirmWhilePrinting(const std::string& action);
  // Steps after the question: "close", links quiet, the log appended.
  void closeSequence();
  // Appends the operator log to "prismhost.log"; false when it could not
  // be written whole.
  bool appendOperatorLog();
  // The run the command line asks for (-F with V, T or B).
  void startCommandLineRun();
  void logUsage();

  std::vector<std::string> args_;
  plat::InstanceLock instanceLock_;
  std::array<std::string, 20> userFunctionCommands_;
  int userFunctionCount_ = 0;
  int leaveTicks_ = 0;
  bool closed_ = false;
  bool closeWithoutAsking_ = false;
  bool faulted_ = false;
  int lastWindowLeft_ = -9999;
  int lastWindowTop_ = -1;
};

}  // namespace ph
