#include "host/core/config_editor.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"

namespace ph {

namespace {

// Every occurrence replaced, however many (replaceAll stops at 99).
std::string replaceEvery(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t p = text.find(from); p != std::string::npos; p = text.find(from, p + to.size()))
    text.replace(p, from.size(), to);
  return text;
}

// A number as the settings reader takes it: digits with a "." (the reader
// splits an exponent off as a word).
std::string plainDecimal(double d) {
  std::string t = plat::format("%.9f", d);
  while (t.back() == '0') t.pop_back();
  if (t.back() == '.') t.pop_back();
  return t;
}

bool isNumberParam(const ParamEntry& e) { return e.paramType == "@i" || e.paramType == "@f"; }
bool isBoolParam(const ParamEntry& e) { return e.paramType == "@b" || e.paramType == "@m"; }

// The value part of a settings line: after the first "=", trimmed, a text
// without its quotes.
std::string fieldText(const ParamTable& t, int i) {
  std::string v = trimmed(splitAt(t.formatParamLine(i, false), '=', true));
  if (!v.empty() && v[0] == '"') v = v.size() >= 2 ? v.substr(1, v.size() - 2) : "";
  return v;
}

// ---- integer expressions ----

constexpr long long kIntMin = INT_MIN, kIntMax = INT_MAX;
// Bound of every number and partial result: twice the int range, so that
// "-2147483648" (0 minus 2^31) works and no product leaves 64 bits.
constexpr long long kPartLimit = 1LL << 32;

// A number of the expression: decimal, or "0x" and at most eight hex digits;
// an empty text is 0 (the left side of a leading "-").
bool leafValue(const std::string& raw, long long& v, std::string& why) {
  const std::string t = trimmed(raw);
  if (t.empty()) {
    v = 0;
    return true;
  }
  if (!isNumberText(t)) {
    why = "'" + t + "' is not a number";
    return false;
  }
  const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
  if (hex) {
    if (t.size() > 10) {
      why = t + " is beyond the int range";
      return false;
    }
    v = static_cast<long long>(static_cast<unsigned>(std::strtoul(t.c_str() + 2, nullptr, 16)));
    if (v > kIntMax) v -= 1LL << 32;  // 32 bits, as the machine reads them
    return true;
  }
  const bool neg = t[0] == '-';
  long long r = 0;
  for (std::size_t i = neg ? 1 : 0; i < t.size(); ++i) {
    r = r * 10 + (t[i] - '0');
    if (r > kIntMax + 1) {
      why = t + " is beyond the int range";
      return false;
    }
  }
  v = neg ? -r : r;
  return true;
}

// The lowest-priority operator splits the text (the later one on a tie);
// parentheses raise the priority of what they hold.
bool evalRange(const std::string& text, long long& v, std::string& why) {
  int level = 0, best = INT_MAX;
  std::size_t at = std::string::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '(') {
      level += 10;
      continue;
    }
    if (c == ')') {
      level -= 10;
      continue;
    }
    int prio;
    if (c == '+' || c == '-') prio = level;
    else if (c == '*' || c == '/') prio = level + 1;
    else continue;
    if (prio <= best) {
      best = prio;
      at = i;
    }
  }
  if (at == std::string::npos) {
    std::string t = text;
    for (char& c : t)
      if (c == '(' || c == ')') c = ' ';
    return leafValue(t, v, why);
  }
  long long a = 0, b = 0;
  if (!evalRange(text.substr(0, at), a, why) || !evalRange(text.substr(at + 1), b, why)) return false;
  switch (text[at]) {
    case '+': v = a + b; break;
    case '-': v = a - b; break;
    case '*': v = a * b; break;  // both within 2^32: no overflow in 64 bits
    default:
      if (b == 0) {
        why = "division by zero";
        return false;
      }
      v = a / b;
  }
  if (v < -kPartLimit || v > kPartLimit) {
    why = "the result is beyond the int range";
    return false;
  }
  return true;
}

}  // namespace

// ---- units ----

std::string settingUnit(const std::string& type, const std::string& name, const std::string& help) {
  if (type != "@i" && type != "@f") return "";
  // The ways the help texts write a unit. The one written first counts
  // ("[ms] or ... [300 dpi]" is a time first); a unit that belongs to
  // something else ("pulse length = 1780-opt*120 [ns]") is not listed.
  static const struct {
    const char* words;
    const char* unit;
  } kWritten[] = {
      {"[ms]", "ms"},          {"(ms)", "ms"},         {" in ms ", "ms"},     {"[s]", "s"},
      {" (s)", "s"},           {"mm/min", "mm/min"},   {"[mm]", "mm"},        {"(mm)", "mm"},
      {" in mm ", "mm"},       {"[micro meters]", "\u00b5m"}, {"[um]", "\u00b5m"},
      {"[\u00b5m]", "\u00b5m"}, {"[%]", "%"},        {" in % ", "%"},       {"[\u00b0C]", "\u00b0C"},
      {"degrees C", "\u00b0C"}, {"300 dpi", "px (300 dpi)"}, {"300dpi", "px (300 dpi)"},
      {"[pixels]", "px"},
  };
  const std::string text = " " + help + " ";
  std::size_t first = std::string::npos;
  std::string unit;
  for (const auto& w : kWritten) {
    const std::size_t at = text.find(w.words);
    if (at < first) {
      first = at;
      unit = w.unit;
    }
  }
  if (!unit.empty()) return unit;
  // Names that carry their unit: "layerMicrons", "powderPercentage".
  const std::string lower = lowerCase(name);
  if (lower.find("microns") != std::string::npos) return "\u00b5m";
  if (lower.find("percentage") != std::string::npos) return "%";
  return "";
}

bool isPortSetting(const std::string& name) { return name == "CommPortMarlin" || name == "CommInkDevice"; }

std::optional<int> evalIntText(const std::string& text, std::string& why) {
  if (trimmed(text).empty()) {
    why = "no number given";
    return std::nullopt;
  }
  long long v = 0;
  if (!evalRange(text, v, why)) return std::nullopt;
  if (v < kIntMin || v > kIntMax) {
    why = "the result is beyond the int range";
    return std::nullopt;
  }
  return int(v);
}

// ---- stepping ----

std::optional<double> parseDecimal(const std::string& raw) {
  const std::string text = trimmed(raw);
  std::size_t i = 0;
  const bool neg = !text.empty() && text[0] == '-';
  if (neg) i = 1;
  double digits = 0;
  int decimals = 0, count = 0;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    digits = digits * 10 + (c - '0');
    ++count;
    if (point) ++decimals;
    if (digits > 9007199254740992.0) return std::nullopt;  // 2^53: beyond exact doubles
  }
  if (count == 0) return std::nullopt;
  double v = digits;
  for (int d = 0; d < decimals; ++d) v *= 0.1;
  return neg ? -v : v;
}

std::optional<std::string> stepValueText(bool down, const std::string& text) {
  const auto parsed = parseDecimal(text);
  if (!parsed) return std::nullopt;
  const double v = *parsed, d = down ? 1 : 0;
  // 1, 2, 5, 10, 20, 50, ...: multiplied by 20, 25, 20 in turn, divided by 10.
  static const int factors[] = {20, 25, 20};
  double step = 1;
  for (int k = 0; std::floor(std::floor(std::fabs(v - d * step)) / 20) > step; ++k)
    step = std::floor(step * factors[k % 3] / 10);
  const double r = down ? v - step : v + step;
  if (text.find('.') != std::string::npos) return plat::format("%3.3f", r);
  return plat::format("%.0f", r);  // whole numbers stay whole, however many digits
}

std::string stepIntText(bool down, const std::string& text) {
  const long long v = static_cast<long long>(textToInt(text)) + (down ? -1 : 1);
  return plat::format("%d", int(std::clamp(v, kIntMin, kIntMax)));
}

// ---- the editor ----

ConfigEditor::ConfigEditor(HostCore& core, SettingsFiles& files, EditorMachine& machine)
    : core_(core),
      files_(files),
      machine_(machine),
      focusSet_(core.timers.make("FocusSet")),
      searchLater_(core.timers.make("SearchLater")) {
  focusSet_->setHandler([this] { focusPendingField(); });
  searchLater_->setHandler([this] { runPendingSearch(); });
}

ConfigEditor::~ConfigEditor() = default;

std::vector<std::string> ConfigEditor::tabs() const {
  std::vector<std::string> t = core_.params.paramGroups();
  std::sort(t.begin(), t.end());
  return t;
}

void ConfigEditor::openConfigEditor() {
  pendingValues.assign(std::size_t(core_.params.paramCount()), kUnchanged);
  const auto names = tabs();
  int tab = std::clamp(selectedTab, 0, std::max(0, int(names.size()) - 1));
  if (focusParam >= 0 && focusParam < core_.params.paramCount()) {
    const int g = core_.params.entry(focusParam).paramGroup;
    if (g >= 0) tab = int(std::find(names.begin(), names.end(), core_.params.paramGroups()[std::size_t(g)]) -
                          names.begin());
  }
  open_ = true;
  buildPage(tab);
  if (focusEdit >= 0) focusSet_->start();
  if (view) view->showEditor();
  open_ = false;
  focusSet_->stop();
  focusEdit = -1;
}

void ConfigEditor::buildPage(int tab) {
  const auto names = tabs();
  if (tab < 0 || tab >= int(names.size())) return;
  focusEdit = -1;
  selectedTab = tab;
  page_ = EditorPage{};
  page_.tab = tab;
  page_.group = names[std::size_t(tab)];
  std::vector<int> params;
  for (int i = 0; i < core_.params.paramCount(); ++i) {
    const int g = core_.params.entry(i).paramGroup;
    if (g >= 0 && core_.params.paramGroups()[std::size_t(g)] == page_.group) params.push_back(i);
  }
  std::stable_sort(params.begin(), params.end(), [&](int a, int b) {
    return lowerCase(core_.params.entry(a).paramName) < lowerCase(core_.params.entry(b).paramName);
  });
  page_.height = std::max(500, 25 * int(params.size()) + 88);
  for (std::size_t r = 0; r < params.size(); ++r) {
    const int i = params[r];
    const ParamEntry& e = core_.params.entry(i);
    EditorField f;
    f.param = i;
    f.name = e.paramName;
    f.top = 50 + 25 * int(r);
    // A value typed earlier on this opening of the editor stays.
    const std::string& pending = pendingValues[std::size_t(i)];
    f.text = pending != kUnchanged ? pending : fieldText(core_.params, i);
    const std::string& help = e.paramHelp;
    if (isNumberParam(e)) f.label = e.paramName + "  +/-";
    else if (help.size() >= 2 && help.compare(help.size() - 2, 2, "..") == 0) f.label = e.paramName + "(...)";
    else f.label = e.paramName;
    const auto open = help.find('{'), close = help.find('}');
    if (open != std::string::npos && close != std::string::npos && open < close) {
      // A caption left empty ("{}") keeps the one that names the setting.
      if (const std::string caption = help.substr(open + 1, close - open - 1); !trimmed(caption).empty())
        f.label = caption;
      f.labelHint = help.substr(0, open) + help.substr(close + 1);
    }
    f.hint = wrapText(help, 12);
    f.unit = settingUnit(e.paramType, e.paramName, help);
    if (isPortSetting(e.paramName)) {
      f.portField = true;
      f.choices = machine_.detectedPorts();
    }
    if (i == focusParam) {
      focusEdit = i;
      focusParam = -1;
    }
    page_.fields.push_back(std::move(f));
  }
  if (view) view->pageBuilt();
}

EditorField* ConfigEditor::field(int param) {
  for (auto& f : page_.fields)
    if (f.param == param) return &f;
  return nullptr;
}

void ConfigEditor::setFieldText(int param, const std::string& text) {
  EditorField* f = field(param);
  if (!f) return;
  f->text = text;
  takeFieldText(param, text);
  if (view) view->fieldTextChanged(param);
}

void ConfigEditor::takeFieldText(int param, const std::string& text) {
  if (param < 0 || param >= int(pendingValues.size())) return;
  pendingValues[std::size_t(param)] = text;
  if (EditorField* f = field(param)) f->text = text;
}

void ConfigEditor::toggleBoolField(int param) {
  EditorField* f = field(param);
  if (!f) return;
  if (f->text == "true") setFieldText(param, "false");
  else if (f->text == "false") setFieldText(param, "true");
}

void ConfigEditor::stepField(int param, bool down) {
  EditorField* f = field(param);
  if (!f) return;
  const ParamEntry& e = core_.params.entry(param);
  if (isNumberParam(e)) {
    if (auto next = stepValueText(down, f->text)) setFieldText(param, *next);
    else core_.memoPrintf("%s: '%s' is no decimal number to step", e.paramName, f->text);
  } else if (isBoolParam(e)) {
    setFieldText(param, down ? "false" : "true");
  } else if (e.isText() && f->text.find('/') != std::string::npos) {
    multiLineName = f->label;
    multiLineTarget = param;
    openMultiLineEditor();
  }
}

void ConfigEditor::openMultiLineEditor() {
  EditorField* f = field(multiLineTarget);
  if (!f) return;
  multiLineMemo_ = replaceEvery(f->text, "/", "\n");
  multiLineResult_.reset();
  if (view) view->showMultiLineEditor();
  // The edited text becomes the field's pending value; the setting itself
  // changes (and the settings count as modified) only when it is applied.
  if (multiLineResult_ && *multiLineResult_ != f->text) setFieldText(multiLineTarget, *multiLineResult_);
  multiLineResult_.reset();
}

void ConfigEditor::takeMultiLineText(const std::string& memoText) {
  multiLineResult_ = replaceEvery(replaceEvery(memoText, "\r\n", "/"), "\n", "/");
  if (view) view->closeMultiLineEditor();
}

std::string ConfigEditor::busyRefusal(int param) const {
  if (!core_.params.entry(param).fixedWhilePrinting || !machine_.isBusy()) return "";
  return "it cannot change while a print runs";
}

bool ConfigEditor::applyOperatorLine(const std::string& line) {
  std::string name = trimmed(splitAt(line, '=', false));
  const int idx = core_.params.find(name);
  if (idx >= 0) {
    if (const std::string why = busyRefusal(idx); !why.empty()) {
      core_.memoPrintf("%s not changed: %s", name, why);
      return false;
    }
  }
  const std::string before = idx >= 0 ? core_.params.formatParamLine(idx, false) : "";
  core_.applySettings("?" + line, true);
  return idx >= 0 && core_.params.formatParamLine(idx, false) != before;
}

bool ConfigEditor::applyPendingValues() {
  bool changed = false;
  for (int i = 0; i < core_.params.paramCount() && i < int(pendingValues.size()); ++i) {
    std::string text = pendingValues[std::size_t(i)];
    if (text == kUnchanged) continue;
    pendingValues[std::size_t(i)] = kUnchanged;
    const ParamEntry& e = core_.params.entry(i);
    const std::string& n = e.paramName;
    std::string line, why;
    if (e.isText()) {
      if (text.find('"') != std::string::npos) why = "a text cannot hold a double quote";
      else line = n + " = \"" + text + "\"";
    } else if (e.paramType == "@i") {
      if (auto v = evalIntText(text, why)) line = plat::format("%s = %d", n, *v);
    } else if (e.paramType == "@f") {
      const std::string t = trimmed(text);
      char* end = nullptr;
      const double d = t.empty() ? 0 : std::strtod(t.c_str(), &end);
      if (t.empty() || *end != 0 || !std::isfinite(d)) why = "'" + t + "' is not a number";
      else line = n + " = " + plainDecimal(d);
    } else if (isBoolParam(e)) {
      const std::string t = trimmed(text);
      if (t != "true" && t != "false") why = "'" + t + "' is neither true nor false";
      else line = n + " = " + t;
    } else {
      const std::string t = trimmed(text);
      if (t.empty() || t[0] != '{') why = "'" + t + "' is no list in braces";
      else line = n + " = " + t;
    }
    if (line.empty()) {
      core_.memoPrintf("%s not changed: %s", n, why);
      continue;
    }
    changed |= applyOperatorLine(line);
  }
  return changed;
}

void ConfigEditor::sendCodesUnlessBusy() {
  // During a print the codes go out in front of the next command it sends.
  UnitCodeQueue& codes = core_.unitCodes();
  if (machine_.isBusy() || codes.queuedUnitCodes().empty()) return;
  codes.sendQueuedUnitCodes();
}

void ConfigEditor::applyEdits(bool search) {
  if (view) view->closeEditor();
  if (applyPendingValues()) {
    core_.markSettingsModified();
    core_.settingsEditedUnsaved = true;
    if (core_.s.IniAutoSave) files_.saveSettings();
  }
  sendCodesUnlessBusy();
  if (search) searchLater_->start();
}

void ConfigEditor::focusPendingField() {
  focusSet_->stop();
  if (view && focusEdit >= 0) view->focusField(focusEdit);
}

void ConfigEditor::runPendingSearch() {
  searchLater_->stop();
  askSearch();
}

void ConfigEditor::askSearch() {
  // Asked of the operator directly: a preset answer waits for the question
  // it was meant for.
  auto answer = core_.ui.inputBox("input", "Search_Parameter", searchText);
  if (!answer) return;
  searchText = *answer;
  searchParameters(lowerCase(searchText));
}

void ConfigEditor::searchParameters(const std::string& text) {
  const ParamTable& t = core_.params;
  std::vector<int> found;
  for (int i = 0; i < t.paramCount(); ++i)
    if (lowerCase(t.entry(i).paramName).find(text) != std::string::npos) found.push_back(i);
  const bool byName = !found.empty();
  if (!byName)
    for (int i = 0; i < t.paramCount(); ++i)
      if (lowerCase(t.entry(i).paramName).find(text) != std::string::npos ||
          lowerCase(t.entry(i).paramHelp).find(text) != std::string::npos)
        found.push_back(i);
  if (!found.empty()) core_.memoPrintf(" \n \n");
  for (int i : found) {
    const ParamEntry& e = t.entry(i);
    const std::string group = e.paramGroup >= 0 ? t.paramGroups()[std::size_t(e.paramGroup)] + "->" : "";
    core_.memoPrintf("%s%s --- %s", group, t.formatParamLine(i, false), e.paramHelp);
  }
  if (byName && found.size() == 1 && t.entry(found[0]).paramGroup >= 0) {
    focusParam = found[0];
    openConfigEditor();
  }
}

void ConfigEditor::editComboSetting() {
  const int idx = core_.params.find(core_.controls.at("parmcombo").caption);
  if (idx < 0) return;
  comboLine = core_.params.formatParamLine(idx, false);
  // Asked of the operator directly, like the search.
  auto answer = core_.ui.inputBox("set single parameter", "line", comboLine);
  if (!answer || *answer == comboLine) return;
  if (applyOperatorLine(*answer)) {
    core_.markSettingsModified();
    core_.settingsEditedUnsaved = true;
  }
  sendCodesUnlessBusy();
}

void ConfigEditor::takeComboKey(char key) {
  if (key == '\r' || key == '\n') editComboSetting();
}

void ConfigEditor::showComboHint() {
  Control& combo = core_.controls.at("parmcombo");
  const int idx = core_.params.find(combo.caption);
  const std::string hint = idx >= 0 ? wrapText(core_.params.entry(idx).paramHelp, 12) : "";
  combo.setHint(hint, !hint.empty());
}

void ConfigEditor::togglePauseEachLayer(bool rightButton, bool shift) {
  if (!rightButton && !shift) return;
  core_.applySettings(std::string("?pauseEachLayer=") + (core_.s.pauseEachLayer ? "false" : "true"), true);
}

}  // namespace ph
