#include "host/app/host.h"

#include <algorithm>

#include "host/core/main_texts.h"
#include "host/core/numbers.h"
#include "host/core/param_table.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
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
      deviceLinks(core, settingsFiles, orDiscard(poster), wiring),
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
  sequencer.links.convertPattern = [this] { conversion.blockbased1Click(); };
  sequencer.links.abortMeshTools = [this] { mesh.abortMeshTools(); };
  sequencer.links.clearActionMenu = [this] { inkControls.clearActions(); };
  sequencer.links.startLayerPrimeCheck = [this](int travelMs) { inkControls.startLayerPrimeCheck(travelMs); };
  sequencer.links.shortStretches = [this] { return settingDialogs.shortstretches; };
  sequencer.links.fastStretches = [this] { return settingDialogs.faststretches; };
  addBatchPrintItems(core.controls, "pattern1", "inkjet1", "setfile1");
  batch.bindControls();
  sequencer.links.setallign1Click = [this] { batch.enterBestMatch(); };
  handoff.programArgs = args_;
  handoff.bindControls();
  syncslice.SetName("syncslice");
  syncslice.Tag = TMemCouple::kInfiniteWaitTag;
  syncslice.OnReceive = [this](TMemCouple&) { handoff.syncsliceReceive(); };
  meshkitready.SetName("meshkitready");
  meshkitready.Tag = TMemCouple::kInfiniteWaitTag;
  meshkitready.OnReceive = [this](TMemCouple&) { handoff.meshkitreadyReceive(); };
  meshkitready.Active = true;
  CamSync.SetName("CamSync");
  CamSync.Tag = TMemCouple::kInfiniteWaitTag;
  CamSync.Active = true;
  sequencer.links.signalCamera = [this] { CamSync.Send(); };
  core.timers.Init->setHandler([this] { InitTimerTimer(); });
  core.timers.Movecheck->setHandler([this] { MovecheckTimerTimer(); });
  core.timers.Sizing->setHandler([this] { SizingTimerTimer(); });
  core.timers.LeaveProgram->setHandler([this] { LeaveProgramTimerTimer(); });
  core.controls.bindClick("goodbye1", [this] { goodbye(); });
  core.controls.bindClick("KeepForm1", [this] { KeepForm1Click(); });
  auto bind = [&](const char* name, std::function<void()> f) { core.controls.bindClick(name, std::move(f)); };
  bind("inifile1", [this] { settingsFiles.inifile1Click(); });
  bind("mergeini1", [this] { settingsFiles.mergeini1Click(); });
  bind("saveini1", [this] { settingsFiles.saveAskedByOperator(); });
  bind("setinifile1", [this] { settingsFiles.setinifile1Click(); });
  bind("fullini1", [this] { settingsFiles.fullini1Click(); });
  bind("setexes1", [this] { settingsFiles.setexes1Click(); });
  bind("config1", [this] { configEditor.config1Click(); });
  bind("SearchParam1", [this] { configEditor.SearchParam1Click(); });
  core.controls.at("pause").onRightClick = [this] { configEditor.pauseMouseUp(true, false); };
  bind("blockbased1", [this] { conversion.blockbased1Click(); });
  bind("scanconv1", [this] { conversion.scanconv1Click(); });
  bind("scanp3d1", [this] { conversion.scanp3d1Click(); });
  bind("movetim1", [this] { conversion.movetim1Click(); });
  bind("bitreport1", [this] { conversion.bitreport1Click(); });
  bind("btDmc", [this] { viewer.btDmcClick(); });
  bind("simloop1", [this] { viewer.simloop1Click(); });
  bind("shortp3d1", [this] { jobTools.shortp3d1Click(); });
  bind("dmccount1", [this] { jobTools.dmccount1Click(); });
  bind("dmc2rhino1", [this] { jobTools.dmc2rhino1Click(); });
  bind("dmcimage1", [this] { jobTools.dmcimage1Click(); });
  bind("byBlocksTst1", [this] { jobTools.byBlocksTst1Click(); });
  bind("pakuit1", [this] { jobTools.pakuit1Click(); });
  bind("unblockdmc1", [this] { jobTools.unblockdmc1Click(); });
  bind("equalgfk1", [this] { jobTools.equalgfk1Click(); });
  bind("meshkit1", [this] { mesh.meshkit1Click(); });
  bind("ply2stl1", [this] { mesh.mainPly2stl1Click(); });
  bind("Form21", [this] { mesh.Form21Click(); });
  bind("adjuststlnormals1", [this] { mesh.adjuststlnormals1Click(); });
  bind("bobbelhead1", [this] { mesh.stl.bobbelhead1Click(); });
  bind("headTexture1", [this] { scan.textures.headTexture1Click(); });
  bind("getheights1", [this] { mesh.stl.getheights1Click(job.workFileName("stl"), conversion.layout.powderedHeights); });
  bind("hollowstl1", [this] { mesh.voxel.hollowstl1Click(); });
  bind("shellstl1", [this] { mesh.voxel.shellstl1Click(); });
  bind("addBthints1", [this] { hints.addBthints1Click(); });
  bind("btnames", [this] { hints.btnamesClick(); });
  bind("listmenus1", [this] { hints.listmenus1Click(); });
  // The main unit's source, when a developer put it in the current folder.
  bind("scansethint1", [this] { hints.scansethint1Click("sprayline1.cpp"); });
  bindJobTools();
  printGuard.attach(core.controls);
}

void Host::bindJobTools() {
  auto bind = [&](const char* name, std::function<void()> f) { core.controls.bindClick(name, std::move(f)); };
  bind("btDspP3d", [this] { preview.btDspP3dClick(); });
  bind("Button81", [this] { preview.btDspP3dClick(); });
  core.controls.at("btDspP3d").onRightClick = [this] { preview.btDspP3dMouseUp(true); };
  core.timers.endbForm->setHandler([this] { preview.endbFormTimer(); });
  bind("allignpattern1", [this] { patterns.allignpattern1Click(); });
  bind("whiteshifts1", [this] { patterns.whiteshifts1Click(); });
  bind("allignCol1", [this] { patterns.allignCol1Click(false); });
  bind("allignWater1", [this] { patterns.allignCol1Click(true); });
  bind("slantlines1", [this] { patterns.slantlines1Click(); });
  for (const char* name : {"fine1", "coarse1", "allcolors1"})
    bind(name, [this, name] { patterns.ribs1Click(core.controls.at(name).tag); });
  bind("colors32k1", [this] { patterns.colors32k1Click(); });
  bind("waterLineWidth1", [this] { patterns.waterLineWidth1Click(); });
  bind("contactlayout1", [this] { headTables.contactlayout1Click(); });
  bind("paoverz1", [this] { headTables.paoverz1Click(); });
  bind("findmarge1", [this] { headTables.findmarge1Click(); });
  bind("lmtest1", [this] { headTables.lmtest1Click(); });
  bind("waterbytes1", [this] { headTables.waterbytes1Click(); });
  bind("tstbt", [this] { headTables.tstbtClick(); });
  bind("LabStretch", [this] { LabStretchClick(); });
  bind("vlabel", [this] { core.ui.waitKeyPopup(); });
  bind("fdebug1", [this] { fdebug1Click(); });
  bind("Button11", [this] { headTables.logNozzlePins(); });
  bind("Button31", [this] { headTables.logPinWords(); });
  bind("Button41", [this] { headTables.logConnectorLayout(); });
  bind("Button51", [this] { headTables.logMuxPortCode(); });
  bind("Button61", [this] { headTables.logFiringScript(); });
  bind("Button91", [this] { headTables.rebuildMuxCodes(); });
  // "Button10" has never done anything.
  bind("Button101", [] {});
}

void Host::fdebug1Click() {
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

void Host::LabStretchClick() {
  core.logVars("nrMarlinok", deviceLinks.marlin.nrMarlinok, "Marlinlin", deviceLinks.marlin.Marlinlin);
}

Host::~Host() = default;

void Host::FormCreate() {
  Settings& s = core.s;
  // Instance number: the first free one of 1..100 (100 when all are taken).
  core.instanceNumber = instanceLock_.acquire(kInstanceMutexBase, 100);
  // Active at load: open before the slicer's couple.
  meshkitready.Loaded();
  CamSync.Loaded();
  if (core.instanceNumber >= 2) syncsliceEventName = plat::format(".p3d file ready(%d)", core.instanceNumber);
  syncslice.RecvEventName = syncsliceEventName;
  syncslice.Open();

  core.workDir = s.file_folder + "/";
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
  mesh.FormCreate();
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
  item.onClick = [this, tag = item.tag] { inkfunct1Click(tag); };
  userFunctionCommands_[std::size_t(index)] = command;
}

void Host::inkfunct1Click(int tag) {
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
