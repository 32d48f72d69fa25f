#include "host/machine/setting_dialogs.h"

#include <cmath>
#include <vector>

#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/jobdata/job_state.h"

namespace ph {

namespace {
constexpr const char* kHandlers[] = {"filename1",  "powder1",      "extracodes1", "preparelayers1", "wfor1",
                                     "laagdikte1", "speedoptions1", "marges1",     "kcmyoffsets1",   "laystart1"};

// The items of a comma-separated answer, trimmed; items past the end of
// the answer are absent.
std::vector<std::string> answerItems(std::string answer) {
  std::vector<std::string> items;
  while (!answer.empty()) items.push_back(trimmed(popToken(answer, ',')));
  return items;
}
}  // namespace

void addSettingDialogItems(Controls& controls, const std::string& parent) {
  controls.addMenuItems(parent, {
      {"filename1", "file_name", "the core name of the job's work files"},
      {"powder1", "powder", "powder delay and times, stretches without powder"},
      {"extracodes1", "extracodes", "codes for the next jetting-unit command, and for every stretch"},
      {"preparelayers1", "prep # layers", "lay layers of powder only"},
      {"wfor1", "blackdiagonal", ""},
      {"laagdikte1", "layer thickness", "layer thickness and the platform step"},
      {"speedoptions1", "speedoptions", "short and fast powder-only stretches, bridge layers"},
      {"marges1", "margins", "margins, powder stretches, starting layer"},
      {"kcmyoffsets1", "kcmy offsets", "nozzle offsets of the cartridges"},
      {"laystart1", "laystart", "powder time from the maximum powder time"},
  });
}

SettingDialogs::SettingDialogs(HostCore& core, JobLayout& layout, PrepLayersPrint& print)
    : core_(core), layout_(layout), print_(print) {}

SettingDialogs::~SettingDialogs() {
  for (const char* name : kHandlers)
    if (Control* c = core_.controls.find(name)) c->onClick = nullptr;
}

void SettingDialogs::bindControls() {
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("filename1", [this] { editFileName(); });
  bind("powder1", [this] { editPowderTimes(); });
  bind("extracodes1", [this] { editExtraCodes(); });
  bind("preparelayers1", [this] { preparePowderLayers(); });
  bind("wfor1", [] {});  // "blackdiagonal": does nothing
  bind("laagdikte1", [this] { editLayerThickness(); });
  bind("speedoptions1", [this] { editSpeedOptions(); });
  bind("marges1", [this] { editMargins(); });
  bind("kcmyoffsets1", [this] { editColourOffsets(); });
  bind("laystart1", [this] { fitPowderTime(); });
}

void SettingDialogs::changed() { core_.markSettingsModified(); }

void SettingDialogs::conversionStale() { layout_.job.dmcCurrent = false; }

bool SettingDialogs::acceptable(const int* variable, int value) {
  int idx = core_.params.findVariable(variable);
  if (idx < 0) return true;
  const std::string refusal = core_.params.rangeRefusal(idx, value);
  if (refusal.empty()) return true;
  core_.ui.showMessage(refusal);
  return false;
}

bool SettingDialogs::editSettingInts(std::initializer_list<IntSetting> values) {
  std::string names, proposal;
  for (const IntSetting& v : values) {
    if (!names.empty()) {
      names += ",";
      proposal += " , ";
    }
    names += v.name;
    proposal += plat::format("%d", *v.value);
  }
  const auto answer = core_.ui.inputBox("enter integer values", names, proposal);
  if (!answer) return false;
  const std::vector<std::string> items = answerItems(*answer);
  bool any = false;
  std::size_t i = 0;
  for (const IntSetting& v : values) {
    const std::size_t k = i++;
    // Left out: the value stays.
    if (k >= items.size() || items[k].empty()) continue;
    if (!isNumberText(items[k])) {
      core_.ui.showMessage(plat::format("'%s' is not a valid integer value for %s", items[k], v.name));
      continue;
    }
    const int n = textToInt(items[k]);
    if (n == *v.value || !acceptable(v.value, n)) continue;
    core_.setParam(*v.value, n);
    any = true;
  }
  if (any) changed();
  return any;
}

void SettingDialogs::editFileName() {
  const auto answer = core_.ui.inputBox("file_name", "file_name", core_.s.file_name);
  if (!answer) return;
  // An empty core name would name the work files ".p3d" and ".dmc".
  if (trimmed(*answer).empty()) {
    core_.ui.showMessage("file_name stays " + core_.s.file_name + ": a name is needed");
    return;
  }
  if (*answer != core_.s.file_name) changed();
  core_.s.file_name = *answer;
  conversionStale();
}

void SettingDialogs::editPowderTimes() {
  Settings& s = core_.s;
  editSettingInts({{"powderdelay", &s.powderdelay},
                   {"powdertime", &s.powdertime},
                   {"adpowderfirst", &s.adpowderfirst},
                   {"nopowderstretches", &s.nopowderstretches}});
}

void SettingDialogs::editExtraCodes() {
  UnitCodeQueue& queue = core_.unitCodes();
  if (const auto codes = core_.ui.inputBox("input", "singlecode", queue.queuedUnitCodes()))
    queue.replaceQueuedUnitCodes(*codes);
  if (const auto repeat = core_.ui.inputBox("input", "repeatcode", core_.s.repeatcode)) {
    if (*repeat != core_.s.repeatcode) changed();
    core_.s.repeatcode = *repeat;
  }
}

void SettingDialogs::preparePowderLayers() {
  int layers = 1;
  if (core_.presetAnswer() != HostCore::kNoPreset) {
    // The powder preparation set the count.
    layers = core_.evalIntExpr(core_.askText("input", "powderbuilding", "1"));
  } else {
    const auto answer = core_.ui.inputBox("input", "powderbuilding", "1");
    // Cancel starts nothing.
    if (!answer) return;
    layers = core_.evalIntExpr(*answer);
  }
  print_.armPrepLayers(layers);
  if (layers > 0) print_.startPrint();
}

void SettingDialogs::editLayerThickness() {
  Settings& s = core_.s;
  const int before = s.layerMicrons;
  editSettingInts({{"layerMicrons", &s.layerMicrons}, {"jumpmicrons", &s.jumpmicrons}});
  if (s.layerMicrons != before) {
    // The job was sliced with the old thickness.
    core_.slicingSettingChanged.notify();
    conversionStale();
  }
}

void SettingDialogs::editSpeedOptions() {
  Settings& s = core_.s;
  struct Item {
    const char* name;
    bool* value;
  } items[] = {{"shortstretches", &shortstretches}, {"faststretches", &faststretches}, {"bridgelayers", &s.bridgelayers}};
  std::string names, proposal;
  for (const Item& it : items) {
    names += names.empty() ? "" : ",";
    proposal += proposal.empty() ? "" : " , ";
    proposal += *it.value ? "1" : "0";
    names += it.name;
  }
  const auto answer = core_.ui.inputBox("enter boolean values", names, proposal);
  if (!answer) return;
  const std::vector<std::string> given = answerItems(*answer);
  const bool bridgeBefore = s.bridgelayers;
  for (std::size_t k = 0; k < std::size(items); ++k)
    if (k < given.size() && !given[k].empty()) *items[k].value = given[k] == "1";
  if (s.bridgelayers != bridgeBefore) {
    changed();
    conversionStale();
  }
}

void SettingDialogs::editMargins() {
  Settings& s = core_.s;
  const bool any = editSettingInts({{"rightsidemargin", &s.rightsidemargin},
                                    {"behindmargin", &s.behindmargin},
                                    {"prepstretches", &s.prepstretches},
                                    {"startinglayer", &s.startinglayer}});
  if (any) conversionStale();
}

void SettingDialogs::editColourOffsets() {
  Settings& s = core_.s;
  bool any = false;
  std::string proposal;
  for (std::size_t i = 0; i < s.kcmyoff.size(); ++i) proposal += (i ? "," : "") + std::to_string(s.kcmyoff[i]);
  if (const auto answer = core_.ui.inputBox("", "offsets: w,w,w,w,c,c,m,m,y,y", proposal)) {
    const std::vector<std::string> items = answerItems(*answer);
    for (std::size_t i = 0; i < s.kcmyoff.size() && i < items.size(); ++i) {
      if (items[i].empty()) continue;
      const int v = core_.evalIntExpr(items[i]);
      if (v == s.kcmyoff[i] || !acceptable(&s.kcmyoff[0], v)) continue;
      s.kcmyoff[i] = v;
      any = true;
    }
  }
  for (auto [name, value] : {std::pair<const char*, int*>{"CartridgeDist", &s.CartridgeDist}, {"dropgrens", &s.dropgrens}}) {
    // Cancel gives the value back: nothing changes.
    const int v = core_.evalIntExpr(core_.askText("input", name, std::to_string(*value)));
    if (v == *value || !acceptable(value, v)) continue;
    core_.setParam(*value, v);
    any = true;
  }
  if (any) {
    changed();
    conversionStale();
  }
}

void SettingDialogs::fitPowderTime() {
  Settings& s = core_.s;
  // The head's travel from yvLow to yvLim at movespeed (mm/min), in ms.
  const double travel = (layout_.yvLim - s.yvLow) * 60000.0 / notnul(s.movespeed);
  const int rundif = std::isfinite(travel) ? static_cast<int>(std::clamp(travel, -1e9, 1e9)) : 0;
  if (s.maxpowdertime > 0) {
    const int before = s.powdertime;
    s.powdertime = clampInt(s.maxpowdertime - rundif, 0, 2000);
    if (s.powdertime != before) changed();
  }
  core_.logVars("powdertime", s.powdertime, "maxpowdertime", s.maxpowdertime, "powdertime+rundif",
                s.powdertime + rundif);
}

}  // namespace ph
