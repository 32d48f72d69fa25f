#include "host/core/param_registry.h"

#include <cmath>
#include <limits>

#include "host/core/paths.h"
#include "host/core/numbers.h"
#include "platform/format.h"

namespace ph {

namespace {
// trunc(1000 x value), kept inside int range; not-a-number is the lowest
// int, so it never passes for a default of 0.
int milli(double v) { return std::isnan(v) ? std::numeric_limits<int>::min() : saturatedInt(v * 1000.0); }
}  // namespace

void ParamTable::beginParamGroup(const std::string& group) {
  currentGroup_ = -1;
  if (group == "hidden") return;
  for (std::size_t i = 0; i < groups_.size(); ++i)
    if (groups_[i] == group) {
      currentGroup_ = int(i);
      return;
    }
  groups_.push_back(group);
  currentGroup_ = int(groups_.size()) - 1;
  if (group == "files") filesGroup_ = currentGroup_;
}

void ParamTable::registerParam(std::string name, ParamPtr ptr, std::string type, const std::string& help, int def) {
  std::string code;
  code.swap(nextCode_);
  if (!name.empty() && name[0] == '#') {
    name.erase(0, 1);
    noMergeNames_ += " " + name + " ";
  }
  if (paramCount() >= kMaxEntries) return;
  ParamEntry e;
  e.paramName = std::move(name);
  e.paramType = std::move(type);
  e.paramPtr = ptr;
  e.paramHelp = help;
  e.paramGroup = currentGroup_;
  e.paramCode = std::move(code);
  e.paramDefault = def;
  entries_.push_back(std::move(e));
}

void ParamTable::addparint(const std::string& name, int& v, const std::string& help) {
  registerParam(name, &v, "@i", help, v);
}
void ParamTable::addparbool(const std::string& name, bool& v, const std::string& help) {
  registerParam(name, &v, "@b", help, v ? 1 : 0);
}
void ParamTable::addparfloat(const std::string& name, double& v, const std::string& help) {
  registerParam(name, &v, "@f", help, milli(v));
}
void ParamTable::addparmenu(const std::string& name, Control& item, const std::string& help) {
  registerParam(name, &item, "@m", help, item.checked ? 1 : 0);
}
void ParamTable::addpartxt(const std::string& name, std::string& v, const std::string& help) {
  registerParam(name, &v, v, help, 0);
}
void ParamTable::addpararr(const std::string& name, int* first, int count, const std::string& help) {
  // Defaults that do not fit the pool are not captured (count 0 at reset).
  int offset = poolUsed_;
  int kept = (count > 0 && poolUsed_ + count <= kPoolSize) ? count : 0;
  for (int i = 0; i < kept; ++i) pool_[std::size_t(poolUsed_ + i)] = first[i];
  poolUsed_ += kept;
  registerParam(name, IntArrayRef{first, count}, "@[", help, offset * 1000 + kept);
}
void ParamTable::addparcode(const std::string& name, int& v, const std::string& code, const std::string& help) {
  setParamCode(code);
  addparint(name, v, help);
}

bool ParamTable::setParamRange(const std::string& name, double low, double high) {
  const int i = find(name);
  if (i < 0) return false;
  ParamEntry& e = entries_[std::size_t(i)];
  e.hasRange = true;
  e.rangeLow = low;
  e.rangeHigh = high;
  return true;
}

bool ParamTable::setFixedWhilePrinting(const std::string& name) {
  const int i = find(name);
  if (i < 0) return false;
  entries_[std::size_t(i)].fixedWhilePrinting = true;
  return true;
}

std::string ParamTable::rangeRefusal(int index, double value) const {
  const ParamEntry& e = entry(index);
  if (!e.hasRange || (value >= e.rangeLow && value <= e.rangeHigh)) return "";
  return plat::format("%s must be from %s to %s", e.paramName, plat::format("%.15g", e.rangeLow),
                      plat::format("%.15g", e.rangeHigh));
}

int ParamTable::find(const std::string& name) const {
  for (int i = 0; i < paramCount(); ++i)
    if (entries_[std::size_t(i)].paramName == name) return i;
  return -1;
}

int ParamTable::findVariable(const void* variable) const {
  for (int i = 0; i < paramCount(); ++i) {
    const void* p = std::visit(
        [](auto v) -> const void* {
          if constexpr (std::is_same_v<decltype(v), IntArrayRef>) return v.first;
          else return v;
        },
        entries_[std::size_t(i)].paramPtr);
    if (p == variable) return i;
  }
  return -1;
}

bool ParamTable::isNoMerge(const std::string& name) const {
  return noMergeNames_.find(" " + name + " ") != std::string::npos;
}

void ParamTable::resetParamsToDefaults() {
  for (auto& e : entries_) {
    if (mergeMode && isNoMerge(e.paramName)) continue;
    const int def = e.paramDefault;
    std::visit(
        [&](auto p) {
          using T = decltype(p);
          if constexpr (std::is_same_v<T, int*>) *p = def;
          else if constexpr (std::is_same_v<T, bool*>) *p = def != 0;
          else if constexpr (std::is_same_v<T, double*>) *p = def * 0.001;
          else if constexpr (std::is_same_v<T, std::string*>) *p = e.paramType;
          else if constexpr (std::is_same_v<T, Control*>) p->setChecked(def != 0);
          else {
            const int off = def / 1000, n = def % 1000;
            for (int i = 0; i < n && i < p.count; ++i) p.first[i] = pool_[std::size_t(off + i)];
          }
        },
        e.paramPtr);
  }
}

bool ParamTable::atDefault(int index) const {
  const ParamEntry& e = entry(index);
  return std::visit(
      [&](auto p) -> bool {
        using T = decltype(p);
        if constexpr (std::is_same_v<T, int*>) return *p == e.paramDefault;
        else if constexpr (std::is_same_v<T, bool*>) return int(*p) == e.paramDefault;
        else if constexpr (std::is_same_v<T, double*>) return milli(*p) == e.paramDefault;
        else if constexpr (std::is_same_v<T, Control*>) return int(p->checked) == e.paramDefault;
        else if constexpr (std::is_same_v<T, std::string*>) {
          // Compare paths in the form they are written in, so expanded
          // "%currentdir%" paths do not count as changes.
          if (putBackCurrentDir && e.paramGroup == filesGroup_ && filesGroup_ >= 0)
            return toCurrentDirToken(*p) == e.paramType;
          return *p == e.paramType;
        } else {
          const int off = e.paramDefault / 1000, n = e.paramDefault % 1000;
          if (n != p.count) return false;
          for (int i = 0; i < n; ++i)
            if (p.first[i] != pool_[std::size_t(off + i)]) return false;
          return true;
        }
      },
      e.paramPtr);
}

bool ParamTable::writable(int index) const {
  auto p = std::get_if<std::string*>(&entry(index).paramPtr);
  return !p || (*p)->find('"') == std::string::npos;
}

std::string ParamTable::formatParamLine(int index, bool changedOnly) const {
  if (changedOnly && atDefault(index)) return "";
  const ParamEntry& e = entry(index);
  const std::string& n = e.paramName;
  return std::visit(
      [&](auto p) -> std::string {
        using T = decltype(p);
        if constexpr (std::is_same_v<T, int*>) return plat::format("%s = %d", n, *p);
        else if constexpr (std::is_same_v<T, bool*>) return plat::format("%s = %s", n, *p ? "true" : "false");
        else if constexpr (std::is_same_v<T, Control*>)
          return plat::format("%s = %s", n, p->checked ? "true" : "false");
        else if constexpr (std::is_same_v<T, double*>) return plat::format("%s = %3.3f", n, *p);
        else if constexpr (std::is_same_v<T, std::string*>) {
          std::string v = *p;
          if (putBackCurrentDir && e.paramGroup == filesGroup_ && filesGroup_ >= 0) v = toCurrentDirToken(v);
          return plat::format("%s = \"%s\"", n, v);
        } else {
          std::string s = plat::format("%s = {%d", n, p.count > 0 ? p.first[0] : 0);
          for (int i = 1; i < p.count; ++i) s += plat::format(",%d", p.first[i]);
          return s + "}";
        }
      },
      e.paramPtr);
}

}  // namespace ph
