// The parameter table against hand-written goldens: a transcription slip in
// a name, default, group, template or help text fails here and nowhere else.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "host/core/main_texts.h"
#include "host/core/param_table.h"

using namespace ph;

namespace {

std::vector<std::string> readLines(const std::string& name) {
  const char* dir = std::getenv("PRISM_TEST_DATA");
  std::ifstream in(std::string(dir ? dir : "testdata") + "/host/" + name);
  EXPECT_TRUE(in.good()) << name;
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) {
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  return lines;
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep) out.emplace_back();
    else out.back() += c;
  }
  return out;
}

template <class... F>
struct Overload : F... {
  using F::operator()...;
};

class ParamTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The main window creates these menu items with these checked states.
    const std::pair<const char*, bool> items[] = {
        {"connectcheck1", true}, {"IgnoreHopper1", false}, {"temprcontrol1", true}, {"NoColor1", false}};
    for (auto [name, on] : items) {
      Control& c = controls.add(Control::Kind::MenuItem, name, name, "settings");
      c.checkable = true;
      c.checked = on;
    }
    registerEarlyParams(table, s);
    registerParamTable(table, s, controls);
  }

  std::vector<std::string> lines(bool changedOnly) const {
    std::vector<std::string> out;
    for (int i = 0; i < table.paramCount(); ++i) out.push_back(table.formatParamLine(i, changedOnly));
    return out;
  }

  std::string typeWord(const ParamEntry& e) const {
    if (e.isText()) return "text";
    static const std::map<std::string, std::string> words = {
        {"@i", "int"}, {"@b", "bool"}, {"@f", "double"}, {"@m", "menu"}, {"@[", "array"}};
    auto it = words.find(e.paramType);
    return it == words.end() ? "?" + e.paramType : it->second;
  }

  std::string groupName(const ParamEntry& e) const {
    if (e.paramGroup < 0) return "hidden";
    return table.paramGroups().at(std::size_t(e.paramGroup));
  }

  Settings s;
  Controls controls;
  ParamTable table;
};

TEST_F(ParamTableTest, DefaultsWriteTheGoldenFullDump) {
  const auto golden = readLines("full_defaults.i3d");
  ASSERT_EQ(golden.size(), 132u);
  ASSERT_EQ(table.paramCount(), 132);
  const auto got = lines(false);
  for (std::size_t i = 0; i < golden.size(); ++i) EXPECT_EQ(got[i], golden[i]) << "row " << i + 1;
}

TEST_F(ParamTableTest, RowsMatchGoldenNamesGroupsTypesCodesAndHelp) {
  const auto golden = readLines("param_rows.txt");
  ASSERT_EQ(golden.size(), 132u);
  ASSERT_EQ(table.paramCount(), 132);
  std::string noMerge;
  for (std::size_t i = 0; i < golden.size(); ++i) {
    const auto f = split(golden[i], '|');
    ASSERT_EQ(f.size(), 6u) << golden[i];
    const ParamEntry& e = table.entry(int(i));
    std::string name = f[0];
    const bool hash = name[0] == '#';
    if (hash) {
      name.erase(0, 1);
      noMerge += " " + name + " ";
    }
    SCOPED_TRACE("row " + std::to_string(i + 1) + " " + name);
    EXPECT_EQ(e.paramName, name);
    EXPECT_EQ(table.isNoMerge(name), hash);
    EXPECT_EQ(groupName(e), f[1]);
    EXPECT_EQ(typeWord(e), f[2]);
    EXPECT_EQ(e.paramCode, f[3]);
    EXPECT_EQ(e.paramHelp, f[4]);
  }
  EXPECT_EQ(table.noMergeNames(), noMerge);
}

TEST_F(ParamTableTest, CountsPerTypeAndGroup) {
  std::map<std::string, int> types, groups;
  int withCode = 0;
  for (const auto& e : table.entries()) {
    ++types[typeWord(e)];
    ++groups[groupName(e)];
    if (!e.paramCode.empty()) {
      ++withCode;
      EXPECT_EQ(e.paramType, "@i") << e.paramName;
    }
  }
  EXPECT_EQ(types, (std::map<std::string, int>{
                       {"int", 75}, {"bool", 22}, {"text", 19}, {"double", 9}, {"menu", 4}, {"array", 3}}));
  EXPECT_EQ(withCode, 12);
  EXPECT_EQ(table.paramGroups(),
            (std::vector<std::string>{"fdm", "files", "various", "slicing", "margins", "powder", "inkjet"}));
  EXPECT_EQ(table.filesGroup(), 1);
  EXPECT_EQ(groups, (std::map<std::string, int>{{"fdm", 18},
                                                {"files", 13},
                                                {"various", 18},
                                                {"slicing", 14},
                                                {"margins", 16},
                                                {"powder", 19},
                                                {"inkjet", 17},
                                                {"hidden", 17}}));
  EXPECT_EQ(table.defaultPoolUsed(), 20);
}

// Two rows bound to each other's members would pass the goldens whenever
// their defaults agree; the members are declared in table order, so the
// bound addresses must rise with the row.
TEST_F(ParamTableTest, EveryRowBindsItsOwnMemberInOrder) {
  const auto lo = reinterpret_cast<std::uintptr_t>(&s);
  const auto hi = lo + sizeof s;
  std::uintptr_t last = 0;
  std::vector<std::string> menuItems;
  for (const auto& e : table.entries()) {
    std::visit(Overload{[&](Control* c) { menuItems.push_back(c->name); },
                        [&](auto p) {
                          const void* v;
                          if constexpr (std::is_same_v<decltype(p), IntArrayRef>) v = p.first;
                          else v = p;
                          const auto a = reinterpret_cast<std::uintptr_t>(v);
                          EXPECT_TRUE(a >= lo && a < hi) << e.paramName;
                          EXPECT_GT(a, last) << e.paramName;
                          last = a;
                        }},
               e.paramPtr);
  }
  EXPECT_EQ(menuItems, (std::vector<std::string>{"connectcheck1", "IgnoreHopper1", "temprcontrol1", "NoColor1"}));
  EXPECT_EQ(std::get<IntArrayRef>(table.entry(table.find("kcmyoff")).paramPtr).count, 10);
}

TEST_F(ParamTableTest, AllDefaultsWriteNothingWhenOnlyChangesAreWritten) {
  for (bool putBack : {false, true}) {
    table.putBackCurrentDir = putBack;
    for (int i = 0; i < table.paramCount(); ++i)
      EXPECT_EQ(table.formatParamLine(i, true), "") << table.entry(i).paramName << " putBack " << putBack;
  }
}

TEST_F(ParamTableTest, ResetBringsBackEveryDefault) {
  for (const auto& e : table.entries())
    std::visit(Overload{[](int* p) { *p += 7; }, [](bool* p) { *p = !*p; }, [](double* p) { *p += 1.25; },
                        [](std::string* p) { *p += "x"; },
                        [](IntArrayRef a) {
                          for (int i = 0; i < a.count; ++i) a.first[i] += 3;
                        },
                        [](Control* c) { c->setChecked(!c->checked); }},
               e.paramPtr);
  const auto golden = readLines("full_defaults.i3d");
  const auto changed = lines(false);
  for (std::size_t i = 0; i < golden.size(); ++i) EXPECT_NE(changed[i], golden[i]);
  EXPECT_DOUBLE_EQ(s.zlevelhome, 32.75);

  table.resetParamsToDefaults();
  EXPECT_EQ(lines(false), golden);
  EXPECT_DOUBLE_EQ(s.zlevelhome, 31.5);
  EXPECT_DOUBLE_EQ(s.xPrime, -1.0);
  EXPECT_TRUE(controls.at("connectcheck1").checked);
  EXPECT_FALSE(controls.at("IgnoreHopper1").checked);
  EXPECT_EQ(s.kcmyoff, (std::array<int, 10>{44, 44, 0, 0, 361, 368, 390, 397, 419, 426}));
}

TEST(BuildDate, FromCompileDateText) {
  const std::pair<const char*, const char*> cases[] = {
      {"Jan  5 2024", "240105"},  // blank-padded day
      {"Dec 31 1999", "991231"},
      {"Sep  9 2030", "300909"},
      {"Oct 10 2025", "251010"},
      {"Feb 28 2100", "000228"},
  };
  for (auto [in, want] : cases) EXPECT_EQ(buildDateFrom(in), want) << in;

  const std::string d = buildDate();
  ASSERT_EQ(d.size(), 6u);
  for (char c : d) EXPECT_TRUE(c >= '0' && c <= '9') << d;
  const int month = std::stoi(d.substr(2, 2));
  EXPECT_TRUE(month >= 1 && month <= 12) << d;
}

TEST(MainTexts, FixedTextsAreWhole) {
  EXPECT_EQ(layerStartMarker, std::string_view("\x1b*r1A\x1b*b2M\x1b*b"));
  ASSERT_EQ(commandBlockStart.size(), 13u);
  EXPECT_EQ(commandBlockStart.substr(0, 4), "g11W");
  EXPECT_EQ(std::uint8_t(commandBlockStart[4]), 0x80);
  for (std::size_t i = 5; i < 13; ++i) EXPECT_EQ(commandBlockStart[i], '\x7f');
  EXPECT_EQ(inMonitorKeyword.size(), 12u);

  // Pin texts: 26 names each, a letter of A, P, G, X and a number.
  for (auto pins : {connectorPinsOdd, connectorPinsEven}) {
    int names = 0;
    for (std::size_t i = 0; i < pins.size();) {
      ASSERT_NE(std::string_view("APGX").find(pins[i]), std::string_view::npos) << pins.substr(i);
      std::size_t j = i + 1;
      while (j < pins.size() && pins[j] >= '0' && pins[j] <= '9') ++j;
      ASSERT_GT(j, i + 1) << pins.substr(i);
      ++names;
      i = j;
    }
    EXPECT_EQ(names, 26) << pins;
  }
  for (auto [list, count] : {std::pair{nozzleListFirst, 16u}, std::pair{nozzleListSecond, 24u}}) {
    ASSERT_EQ(list.size(), 3 * count) << list;
    for (std::size_t i = 0; i < list.size(); i += 3) EXPECT_EQ(list[i], 'T') << list;
  }

  // Hints: "name;caption~hint", names unique, "x" last.
  EXPECT_EQ(buttonHintTable.back(), "x");
  std::map<std::string, int> names;
  for (std::size_t i = 0; i + 1 < buttonHintTable.size(); ++i) {
    const std::string_view h = buttonHintTable[i];
    const auto semi = h.find(';'), tilde = h.find('~');
    ASSERT_TRUE(semi != h.npos && tilde != h.npos && semi < tilde) << h;
    EXPECT_EQ(++names[std::string(h.substr(0, semi))], 1) << h;
  }
}

}  // namespace
