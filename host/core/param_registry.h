#pragma once
// The settings registry: every setting is a program variable registered once
// at start-up under its name, with help text, group and, for some ints, a
// jetting-unit command template. Registration order is the order of settings
// files and of the configuration editor.
#include <array>
#include <string>
#include <variant>
#include <vector>

#include "host/core/controls.h"

namespace ph {

struct IntArrayRef {
  int* first;
  int count;
};

// The bound variable of a parameter.
using ParamPtr = std::variant<int*, double*, bool*, std::string*, IntArrayRef, Control*>;

struct ParamEntry {
  std::string paramName;  // without a leading "#"
  // "@i" int, "@f" double, "@b" bool, "@m" menu item, "@[" int array; for a
  // text parameter its default text.
  std::string paramType;
  ParamPtr paramPtr;
  std::string paramHelp;
  int paramGroup = -1;     // index into paramGroups, -1 for "hidden"
  std::string paramCode;   // jetting-unit command template, or ""
  int paramDefault = 0;    // see capture rules in the registration operations
  // The values a number (int, double or every element of an int array) may
  // take; a value outside is refused where it enters. No range: any value.
  bool hasRange = false;
  double rangeLow = 0, rangeHigh = 0;
  // Slicing, conversion and link settings: the operator may not change
  // them while a print runs.
  bool fixedWhilePrinting = false;

  bool isText() const { return paramType.empty() || paramType[0] != '@'; }
};

class ParamTable {
 public:
  static constexpr int kMaxEntries = 149;
  static constexpr int kPoolSize = 100;

  // Registration (start-up only).
  void beginParamGroup(const std::string& group);
  void addparint(const std::string& name, int& v, const std::string& help);
  void addparbool(const std::string& name, bool& v, const std::string& help);
  void addparfloat(const std::string& name, double& v, const std::string& help);
  void addparmenu(const std::string& name, Control& item, const std::string& help);
  void addpartxt(const std::string& name, std::string& v, const std::string& help);
  void addpararr(const std::string& name, int* first, int count, const std::string& help);
  void addparcode(const std::string& name, int& v, const std::string& code, const std::string& help);
  void setParamCode(const std::string& code) { nextCode_ = code; }

  // The range of a number parameter (see ParamEntry); false when the name
  // is not registered.
  bool setParamRange(const std::string& name, double low, double high);
  bool setFixedWhilePrinting(const std::string& name);
  // "" when the value may be stored; otherwise the refusal, naming the
  // setting and its range.
  std::string rangeRefusal(int index, double value) const;

  int paramCount() const { return int(entries_.size()); }
  const ParamEntry& entry(int i) const { return entries_[std::size_t(i)]; }
  const std::vector<ParamEntry>& entries() const { return entries_; }
  // Index of the exact (case-sensitive) name, or -1.
  int find(const std::string& name) const;
  // Index of the entry bound to this variable, or -1.
  int findVariable(const void* variable) const;

  const std::vector<std::string>& paramGroups() const { return groups_; }
  int filesGroup() const { return filesGroup_; }
  const std::string& noMergeNames() const { return noMergeNames_; }
  bool isNoMerge(const std::string& name) const;
  const int* defaultPool() const { return pool_.data(); }
  int defaultPoolUsed() const { return poolUsed_; }

  // Merge loads and merge resets leave "#" names alone.
  bool mergeMode = false;

  // Every parameter back to its captured default (no codes queued).
  void resetParamsToDefaults();
  // Whether the parameter holds its default (a double compared as
  // trunc(1000 x value); a text of the group "files" in its "%currentdir%"
  // form while putBackCurrentDir is set).
  bool atDefault(int index) const;

  // One settings line without line break: "name = value"; with changedOnly,
  // "" for a parameter at its default.
  std::string formatParamLine(int index, bool changedOnly) const;
  // False for a text that holds a double quote: a settings line cannot
  // carry it (it would be read back cut short at that quote).
  bool writable(int index) const;
  // Set while settings are saved: texts of the group "files" are written
  // with the current folder put back as "%currentdir%".
  bool putBackCurrentDir = false;

 private:
  void registerParam(std::string name, ParamPtr ptr, std::string type, const std::string& help, int def);

  std::vector<ParamEntry> entries_;
  std::vector<std::string> groups_;
  int currentGroup_ = -1;
  int filesGroup_ = -1;
  std::string noMergeNames_;
  std::string nextCode_;
  std::array<int, kPoolSize> pool_{};
  int poolUsed_ = 0;
};

}  // namespace ph
