#include "host/core/value_dialogs.h"

#include <charconv>
#include <vector>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/texts.h"

namespace ph {

void showProgress(HostCore& core, int percent) {
  if (percent >= 1 && percent <= 99) {
    // Keeps stop and abort buttons alive during a long computation without
    // spending its time on events.
    const std::int64_t now = core.clock.tickMs();
    if (!core.lastProgressPump || now - *core.lastProgressPump > 1000) {
      core.ui.processEvents();
      core.lastProgressPump = now;
    }
  }
  core.ui.showProgress(percent);
}

namespace {
// The answer of an input box; Cancel gives the proposal back.
std::string inputOrDefault(HostCore& core, const std::string& caption, const std::string& prompt,
                           const std::string& proposal) {
  auto r = core.ui.inputBox(caption, prompt, proposal);
  return r ? *r : proposal;
}
}  // namespace

void askIntArray(HostCore& core, int* array, const std::string& prompt, int count) {
  std::string values;
  for (int i = 0; i < count; ++i) values += i ? plat::format(",%d", array[i]) : plat::format("%d", array[i]);
  std::string answer = inputOrDefault(core, "", prompt, values);
  for (int i = 0; i < count; ++i) array[i] = core.evalIntExpr(trimmed(popToken(answer, ',')));
}

namespace {
// True when the answer differed from the proposal.
template <class V, class Show, class Take>
bool editValues(HostCore& core, const char* caption, std::initializer_list<V> values, Show show, Take take) {
  std::string names, proposal;
  for (const V& v : values) {
    if (!v.value) continue;
    if (!names.empty()) {
      names += ",";
      proposal += " , ";
    }
    names += v.name;
    proposal += show(*v.value);
  }
  std::string answer = inputOrDefault(core, caption, names, proposal);
  const bool changed = answer != proposal;
  for (const V& v : values)
    if (v.value) take(*v.value, trimmed(popToken(answer, ',')));
  return changed;
}
}  // namespace

bool editIntValues(HostCore& core, std::initializer_list<IntValue> values) {
  return editValues(
      core, "enter integer values", values, [](int v) { return plat::format("%d", v); },
      [](int& v, const std::string& item) { v = textToInt(item); });
}

void editBoolValues(HostCore& core, std::initializer_list<BoolValue> values) {
  editValues(
      core, "enter boolean values", values, [](bool v) { return std::string(v ? "1" : "0"); },
      [](bool& v, const std::string& item) { v = item == "1"; });
}

bool isFloatText(const std::string& text) {
  if (text.empty()) return false;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!digit(text[0]) && !(text[0] == '-' && text.size() > 1)) return false;
  bool point = false;
  for (std::size_t i = 1; i < text.size(); ++i) {
    if (digit(text[i])) continue;
    if (text[i] != '.' || point || !digit(text[i - 1])) return false;
    point = true;
  }
  return true;
}


void editFloatValues(HostCore& core, const std::string& caption, std::initializer_list<float*> values,
                     const std::string& names) {
  constexpr std::size_t kMaxFields = 10;
  std::vector<float*> targets;
  std::vector<DialogField> fields;
  std::string rest = names;
  for (float* v : values) {
    if (rest.empty() || fields.size() == kMaxFields) break;
    std::string name = popToken(rest, ',');
    if (!v) continue;
    targets.push_back(v);
    fields.push_back({name, plat::format("%.7g", double(*v)), &isFloatText});
  }
  if (fields.empty()) return;
  std::vector<std::string> shown;
  for (const auto& f : fields) shown.push_back(f.text);
  // The fields store as they change, so closing the dialog without Ok keeps
  // what was typed, as Ok does.
  core.ui.fieldDialog(caption, 300, 300, fields);
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& t = fields[i].text;
    // Untouched fields are not stored: their 7-digit text may not give the
    // same float back.
    if (t == shown[i] || !isFloatText(t)) continue;
    float v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec == std::errc()) *targets[i] = v;
  }
}

bool edit2int(HostCore& core, int& first, int& second, const std::string& caption, const std::string& label1,
              const std::string& label2) {
  std::vector<DialogField> fields{{label1, plat::format("%d", first), nullptr},
                                  {label2, plat::format("%d", second), nullptr}};
  if (!core.ui.fieldDialog(caption, 240, 130, fields)) return false;
  int* targets[] = {&first, &second};
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string t = trimmed(fields[i].text);
    if (!isNumberText(t)) {
      core.ui.showMessage("'" + fields[i].text + "' is not a valid integer value");
      return false;
    }
    *targets[i] = textToInt(t);
  }
  return true;
}

}  // namespace ph
