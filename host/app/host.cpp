#include "host/app/host.h"

#include <algorithm>

#include "host/core/main_texts.h"
#include "host/core/numbers.h"
#include "host/core/param_table.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/jobdata/build_time.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {
// Without a poster, waiting threads block until their couple closes.
plat::UiPoster orDiscard(plat::UiPoster p) {
  if (p) return p;
  return [](std::function<void()>) {};
}
}  // namespace

Host::Host(OperatorUi& ui, plat::Clock& clock, std::vector<std::string> args, plat::UiPoster poster)
    : core(ui, clock),
      syncslice(orDiscard(poster)),
      meshkitready(orDiscard(poster)),
      CamSync(orDiscard(poster)),
      deviceLinks(core, settingsFiles, orDiscard(poster), wiring, wiring),
      args_(std::move(args)) {
  // The unit's link owns the codes that settings and controls queue.
  core.sendUnitCodesTo(deviceLinks.ink);
  if (asksForUnattendedRun(args_)) core.run.expect();
  deviceLinks.bindControls();
  ports.bindControls();
  addInkControlItems(core.controls, "inkjet1");
  addSettingDialogItems(core.controls, "setup1");
  inkControls.bindControls();
  settingDialogs.bindControls();
  addMachineActionItems(core.controls);
  actions.bindControls();
  sequencer.bindControls();
  addBatchPrintItems(core.controls, "pattern1", "inkjet1", "setfile1");
  batch.bindControls();
  handoff.programArgs = args_;
  handoff.bindControls();
  syncslice.SetName("syncslice");
  syncslice.Tag = TMemCouple::kInfiniteWaitTag;
  syncslice.OnReceive = [this](TMemCouple&) { handoff.takeSlicedJob(); };
  meshkitready.SetName("meshkitready");
  meshkitready.Tag = TMemCouple::kInfiniteWaitTag;
  // Nothing is ever sent to the main window on the mesh-tools couple: its
  // event needs no action.
  meshkitready.OnReceive = [](TMemCouple&) {};
  meshkitready.Active = true;
  CamSync.SetName("CamSync");
  CamSync.Tag = TMemCouple::kInfiniteWaitTag;
  CamSync.Active = true;
  commandLineStart_->setHandler([this] { runCommandLine(); });
  moveCheck_->setHandler([this] { checkWindowMoved(); });
  sizing_->setHandler([this] { endSizing(); });
  goodbyeWait_->setHandler([this] { stepGoodbye(); });
  core.controls.bindClick("goodbye1", [this] { goodbye(); });
  core.controls.bindClick("KeepForm1", [this] { keepWindowPlace(); });
  auto bind = [&](const char* name, std::function<void()> f) { core.controls.bindClick(name, std::move(f)); };
  bind("inifile1", [this] { settingsFiles.openSettingsFile(); });
  bind("mergeini1", [this] { settingsFiles.mergeSettingsFile(); });
  bind("saveini1", [this] { settingsFiles.saveAskedByOperator(); });
  bind("setinifile1", [this] { settingsFiles.saveSettingsAs(); });
  bind("fullini1", [this] { settingsFiles.writeAllSettings(); });
  bind("setexes1", [this] { settingsFiles.setProgramFolders(); });
  bind("config1", [this] { configEditor.openConfigEditor(); });
  bind("SearchParam1", [this] { configEditor.askSearch(); });
  core.controls.at("pause").onRightClick = [this] { configEditor.togglePauseEachLayer(true, false); };
  bind("blockbased1", [this] { conversion.convertJob(); });
  bind("scanconv1", [this] { conversion.scanAndConvert(); });
  bind("scanp3d1", [this] { conversion.scanJob(); });
  bind("movetim1", [this] { logMoveTimes(core); });
  bind("bitreport1", [this] { conversion.armBitReport(); });
  bind("btDmc", [this] { viewer.showStretch(); });
  bind("simloop1", [this] { viewer.applySimulationSwitch(); });
  bind("shortp3d1", [this] { jobTools.shortenJobP3d(); });
  bind("dmccount1", [this] { jobTools.logStretchCount(); });
  bind("dmc2rhino1", [this] { jobTools.writeHeadPathScript(); });
  bind("dmcimage1", [this] { jobTools.showLayerStretches(); });
  bind("byBlocksTst1", [this] { jobTools.logRecordHeaders(); });
  bind("pakuit1", [this] { jobTools.uncompressJob(); });
  bind("unblockdmc1", [this] { jobTools.writeTestStretch(); });
  bind("equalgfk1", [this] { jobTools.writeRepeatHistogram(); });
  bind("meshkit1", [this] { mesh.showMeshWindow(); });
  bind("ply2stl1", [this] { mesh.confirmAndConvertTempPly(); });
  bind("Form21", [this] { mesh.showMeshWindowWithItsLog(); });
  bind("adjuststlnormals1", [this] { mesh.askRecalculateNormals(); });
  bind("bobbelhead1", [this] { mesh.stl.makeBobbleHead(); });
  bind("headTexture1", [this] { scan.textures.startHostHeadTexture(); });
  bind("getheights1",
       [this] { mesh.stl.writeHeightComparison(job.workFileName("stl"), conversion.layout.powderedHeights); });
  bind("hollowstl1", [this] { mesh.voxel.hollowCurrentModel(); });
  bind("shellstl1", [this] { mesh.voxel.askVoidSplit(); });
  bind("addBthints1", [this] { hints.applyButtonHints(); });
  bind("btnames", [this] { hints.listButtonNames(); });
  bind("listmenus1", [this] { hints.listMenuItems(); });
  // The main unit's source, when a developer put it in the current folder.
  bind("scansethint1", [this] { hints.listSetHintCalls("sprayline1.cpp"); });
  bindJobTools();
  printGuard.attach(core.controls);
}

void Host::bindJobTools() {
  auto bind = [&](const char* name, std::function<void()> f) { core.controls.bindClick(name, std::move(f)); };
  bind("btDspP3d", [this] { preview.showLayer(); });
  bind("Button81", [this] { preview.showLayer(); });
  core.controls.at("btDspP3d").onRightClick = [this] { preview.armAccumulate(); };
  bind("allignpattern1", [this] { patterns.makeAlignmentPattern(); });
  bind("whiteshifts1", [this] { patterns.makeWhiteShiftJob(); });
  bind("allignCol1", [this] { patterns.makeColourAlignment(false); });
  bind("allignWater1", [this] { patterns.makeColourAlignment(true); });
  bind("slantlines1", [this] { patterns.makeSlantLines(); });
  for (const char* name : {"fine1", "coarse1", "allcolors1"})
    bind(name, [this, name] { patterns.makeRibs(core.controls.at(name).tag); });
  bind("colors32k1", [this] { patterns.makeColourTable(); });
  bind("waterLineWidth1", [this] { patterns.askWaterLineWidth(); });
  bind("contactlayout1", [this] { headTables.logContactLayout(); });
  bind("paoverz1", [this] { headTables.logPinLayout(); });
  bind("findmarge1", [this] { headTables.logLeadingEmptyRows(); });
  bind("lmtest1", [this] { headTables.linkPresentationPages(); });
  bind("waterbytes1", [this] { headTables.logNozzleBitTables(); });
  bind("tstbt", [this] { headTables.logWindowFrame(); });
  bind("LabStretch", [this] { logMarlinCounters(); });
  bind("vlabel", [this] { core.ui.waitKeyPopup(); });
  bind("fdebug1", [this] { toggleDebugDump(); });
  bind("Button11", [this] { headTables.logNozzlePins(); });
  bind("Button31", [this] { headTables.logPinWords(); });
  bind("Button41", [this] { headTables.logConnectorLayout(); });
  bind("Button51", [this] { headTables.logMuxPortCode(); });
  bind("Button61", [this] { headTables.logFiringScript(); });
  bind("Button91", [this] { headTables.rebuildMuxCodes(); });
  // "Button10" has never done anything.
  bind("Button101", [] {});
}

void Host::toggleDebugDump() {
  FilePtr& dump = deviceLinks.ink.debugDumpFile;
  const std::string name = checkedFolder(core.workDir + "pbaydebug.dmp");
  if (dump) {
    const bool closed = std::fclose(dump.release()) == 0;
    if (!closed) core.reportShortWrite(name);
    core.memoPrintf("%s closed", name);
    return;
  }
  auto [f, opened] = core.openFile(name, "wb+");
  // A failed open is told by openFile; nothing is dumped then.
  if (!opened) return;
  dump = std::move(f);
  core.memoPrintf("%s open: what is sent to the jetting unit is copied into it", name);
}

void Host::logMarlinCounters() {
  core.logVars("nrMarlinok", deviceLinks.marlin.nrMarlinok, "Marlinlin", deviceLinks.marlin.Marlinlin);
}

Host::~Host() = default;

void Host::startUp() {
  Settings& s = core.s;
  // Instance number: the first free one of 1..100 (100 when all are taken).
  core.instanceNumber = instanceLock_.acquire(kInstanceMutexBase, 100);
  // Active at load: open before the slicer's couple.
  meshkitready.Loaded();
  CamSync.Loaded();
  if (core.instanceNumber >= 2) syncsliceEventName = plat::format(".p3d file ready(%d)", core.instanceNumber);
  syncslice.RecvEventName = syncsliceEventName;
  syncslice.Open();

  core.takeWorkFolderFromSettings();
  core.progDir = currentDir() + "/";
  tables.fillBitTables();

  registerEarlyParams(core.params, s);
  if (args_.size() == 1 && fileExt(args_[0]) == "i3d") s.settingsFile = args_[0];
  // The first read can only set the Marlin port and baud rate, or redirect
  // to another settings file.
  settingsFiles.readEarlySettings();
  registerParamTable(core.params, s, core.controls);
  settingsFiles.loadActiveSettings();

  applyCommsOverride();
  chooseMarlinLink();
  settingsFiles.fixupSettings();
  tables.fillNozzleWordMap(s.primgrens);
  buildUserFunctions();
  core.controls.at("vlabel").setCaption(buildDate());
  applyExpertMode();
  Control& combo = core.controls.at("typeGcode");
  combo.items.clear();
  for (std::string rest = s.dropItems; !rest.empty();) combo.items.push_back(popToken(rest, '~'));
  core.controls.notify(combo);
  if (core.dualBoxMode()) {
    core.controls.at("btPrep").setCaption("load pwdr");
    deviceLinks.marlin.m18zAccepted = s.acceptM18Z;
  }
  // The mesh-tools window is made after the main window.
  mesh.prepareWindow();
}

void Host::applyCommsOverride() {
  const std::string file = "commsoverride.i3d";
  if (!fileExists(file)) return;
  core.memoPrintf("comms from %s", file);
  core.s.CommPortMarlin = readFileKey(file, "CommPortMarlin", core.s.CommPortMarlin, true);
  core.s.CommInkDevice = readFileKey(file, "CommInkDevice", core.s.CommInkDevice, true);
  const std::string pos = readFileKey(file, "FormPosition", "", false);
  if (pos.size() > 1) {
    std::string inner = splitAt(splitAt(pos, '{', true), '}', false);
    core.memoPrintf("FormPosition from %s", inner);
    const int param = core.params.find("FormPosition");
    for (int i = 0; i < 4; ++i) {
      const int v = leadingInt(trimmed(popToken(inner, ',')));
      // The same range as in a settings file.
      if (const std::string why = core.params.rangeRefusal(param, v); !why.empty())
        core.memoPrintf("FormPosition[%d] = %d not set: %s", i, v, why);
      else
        core.s.FormPosition[std::size_t(i)] = v;
    }
  }
}

void Host::chooseMarlinLink() {
  const std::string& port = core.s.CommPortMarlin;
  if (!port.empty() && port[0] >= '0' && port[0] <= '9') {
    marlinTcpHost = splitAt(port, ':', false);
    marlinTcpPort = port.find(':') == std::string::npos ? 0 : leadingInt(splitAt(port, ':', true));
  }
  deviceLinks.chooseMarlinTransport(marlinTcpHost, marlinTcpPort);
}

void Host::buildUserFunctions() {
  const bool rollerOnMarlin = core.dualBoxAny();
  addUserFunction("Roller on", rollerOnMarlin ? ">M106 S255" : unit::kRollerOn);
  addUserFunction("Roller off", rollerOnMarlin ? ">M106 S0" : unit::kRollerOff);
  if (core.dualBoxMode()) {
    patterns.setWaterLineWidth(6);
    addUserFunction("Feeder up (mm)", ">" + std::string(feederGcode));
    addUserFunction("Feeder down (mm)", ">" + replaceAll(std::string(feederGcode), "E?", "E-?"));
  } else {
    addUserFunction("shaker on", unit::kShakerOn);
    addUserFunction("shaker off", unit::kShakerOff);
  }
  addUserFunction("color cartridge", unit::kColourCartridge);
  addUserFunction("water cartridge", unit::kWaterCartridge);
  addUserFunction("report", unit::kReport);
  for (std::string rest = core.s.userfuncts; !rest.empty();) {
    std::string pair = popToken(rest, '/');
    addUserFunction(splitAt(pair, ';', false), splitAt(pair, ';', true));
  }
}

void Host::addUserFunction(const std::string& caption, const std::string& command) {
  if (userFunctionCount_ >= 20) return;
  const int index = userFunctionCount_++;
  Control& item = core.controls.add(Control::Kind::MenuItem, "", caption, "funct1");
  item.tag = 100 + index;
  item.onClick = [this, tag = item.tag] { runUserFunction(tag); };
  userFunctionCommands_[std::size_t(index)] = command;
}

void Host::runUserFunction(int tag) {
  const int index = tag - 100;
  if (index < 0 || index >= userFunctionCount_) return;
  std::string caption;
  for (const Control& c : core.controls.all())
    if (c.parent == "funct1" && c.tag == tag) caption = c.caption;
  std::string cmd = userFunctionCommands_[std::size_t(index)];
  for (auto p = cmd.find("?%?"); p != std::string::npos; p = cmd.find("?%?"))
    cmd.replace(p, 3, core.askText("", caption, "0"));
  if (!links) {
    core.memoPrintf("no machine link for %s", cmd);
    return;
  }
  if (!cmd.empty() && cmd[0] == '>') {
    links->flushPendingMcodes();
    for (std::string rest = cmd.substr(1); !rest.empty();) links->sendGcode(popToken(rest, ','));
  } else {
    links->sendInkPending(cmd);
  }
}

void Host::applyExpertMode() {
  if (fileExists("3dpowderprintingexpert.txt")) return;
  for (Control& c : core.controls.all()) {
    if (c.kind != Control::Kind::Menu && c.kind != Control::Kind::MenuItem) continue;
    if (c.name.empty() || !c.hint.empty()) continue;
    if (std::string(" setfile1 setup1 funct1 util1 ").find(" " + c.name + " ") != std::string::npos) continue;
    c.setVisible(false);
  }
}

}  // namespace ph
