#include "host/jobdata/head_tables.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <vector>

#include "host/core/host_core.h"
#include "host/core/operator_ui.h"
#include "host/core/paths.h"
#include "host/jobdata/job_tools.h"
#include "host/jobdata/nozzle_tables.h"
#include "host/jobdata/p3d_reader.h"
#include "host/jobdata/patterns.h"

namespace ph {

namespace {

// Pin names in pin order: the odd pins, then the even pins.
constexpr const char* kOddPins = "A9P7G7P5G5G3P3A7A5G1P1A3A1X0A2A4P13G13A6A8P11G11A10A12P9G9";
constexpr const char* kEvenPins = "G6P6A11A13G4P4A15A17G2P2A19A21A22X1A20P14G14A18A16P12G12G10P10G8P8A14";

std::vector<std::string> splitNames(const char* text) {
  std::vector<std::string> names;
  for (const char* p = text; *p;) {
    std::string name(1, *p++);
    while (*p >= '0' && *p <= '9') name += *p++;
    names.push_back(name);
  }
  return names;
}

// The letter and number of a pin's name.
struct PinRole {
  char kind = 0;
  int number = 0;
};
PinRole pinRole(int pin) {
  const std::string name = pinName(pin);
  if (name.empty()) return {};
  return {name[0], std::atoi(name.c_str() + 1)};
}

// The port bit of each mux-code group (v div 8 = 0, 1, 2).
constexpr int kGroupBit[3] = {19, 6, 7};
// Every port bit a mux code can drive, in the table's own layout and in the
// rewritten one.
constexpr unsigned kMuxBits = 7u << 16 | 1u << 19 | 1u << 20 | 1u << 21 | 1u << 6 | 1u << 7;

int muxValue(unsigned word) { return int((word >> 16 & 7) + (word >> 20 & 1) * 8 + (word >> 21 & 1) * 16); }

}  // namespace

int nozzleToPin(int n) {
  if (n < 1 || n > 60) return 0;
  const int k = n - 1, r = k % 30, c = r % 11;
  if (r >= 26) return 0;
  int pin = (c < 4 ? 47 - 6 * c : 41 - 4 * c) + 2 * (r / 11);
  if (k >= 30) pin += 1;
  return pin;
}

std::array<int, 53> pinToNozzle() {
  std::array<int, 53> t{};
  for (int n = 1; n <= 60; ++n)
    if (const int pin = nozzleToPin(n)) t[std::size_t(pin)] = n;
  return t;
}

std::string pinName(int pin) {
  static const std::vector<std::string> odd = splitNames(kOddPins), even = splitNames(kEvenPins);
  if (pin < 1 || pin > 52) return "";
  const auto& names = pin % 2 ? odd : even;
  const std::size_t i = std::size_t((pin - 1) / 2);
  return i < names.size() ? names[i] : "";
}

HeadTables::HeadTables(HostCore& core, const JobState& job)
    : muxcodes{0xA0000, 0xB0000, 0xE0000,  0xD0000,  0x90000,  0xC0000,  0x100000, 0x130000,
               0x80000, 0x120000, 0x160000, 0xF0000, 0x140000, 0x110000, 0x250000, 0x170000,
               0x220000, 0x260000, 0x240000, 0x210000, 0x230000, 0x200000},
      core_(core),
      job_(job) {}

void HeadTables::log(const std::string& text) { core_.logWrite(text, false, false); }

void HeadTables::logContactLayout() {
  core_.evalIntExpr(core_.askText("input", "drillspeed", "30"));
  const double diameter = 0.001 * 1600;
  core_.Memo1.clear();
  struct Pad {
    double x, y;
  };
  std::vector<Pad> pads;
  for (int n = 0; n < 120; ++n) {
    const int k = n % 30;
    if (k >= 26) continue;
    double x = (k / 11) * 1.861;
    const int b = std::max(k % 11 - 4, 0);
    const int a = k % 11 - b - (k == 15 ? 1 : 0);
    const double y = (k / 11) * 0.2175 + 37.34 - 2.32625 * a - 2.0903333 * b;
    if (n % 60 > 29) x = 14.08 - x;
    if (n > 59) x += 31.19;
    x += 12.43;
    pads.push_back({x, y});
    log(plat::format("circle\n%3.3f,%3.3f\n%3.3f", x, y, diameter));
  }
  // Pads closer than the drill's clearance are joined into one slot: the
  // two outer tangents of the two circles.
  const double r = diameter / 2;
  for (std::size_t i = 0; i < pads.size(); ++i)
    for (std::size_t j = i + 1; j < pads.size(); ++j) {
      const double dx = pads[j].x - pads[i].x, dy = pads[j].y - pads[i].y;
      const double dist = std::hypot(dx, dy);
      if (dist >= diameter + 0.7 || dist <= 0) continue;
      const double nx = -dy / dist * r, ny = dx / dist * r;
      for (int side : {1, -1})
        log(plat::format("Polyline\n%3.3f,%3.3f\n%3.3f,%3.3f\nenter\n", pads[i].x + side * nx, pads[i].y + side * ny,
                         pads[j].x + side * nx, pads[j].y + side * ny));
    }
}

void HeadTables::logPinLayout() {
  for (int i = 0; i <= 10; ++i) {
    std::string row;
    for (int j = 0; j <= 5; ++j) {
      const int s = 5 - j, m = std::min(s, 5 - s);
      const int pin = 2 * m + 47 - 4 * i - (i < 4 ? 2 * i : 6) + (s > 2 ? 1 : 0);
      row += (m < 2 || i < 4) ? pinName(pin) : "    ";
    }
    log(row);
  }
}

void HeadTables::logLeadingEmptyRows() { core_.logVars("line", leadingEmptyRows(core_, job_)); }

void HeadTables::linkPresentationPages() {
  FileDialogRequest ask;
  ask.folder = core_.workDir;
  ask.filter = "presentation|*.htm;*.html|all files|*.*";
  ask.defaultExt = "htm";
  const auto from = core_.ui.openFileDialog(ask);
  if (!from) return;
  ask.fileName = fileCore(*from) + "_links.htm";
  const auto to = core_.ui.saveFileDialog(ask);
  if (!to) return;
  if (copyWithPageLinks(*from, *to)) core_.memoPrintf("%s written", *to);
}

bool HeadTables::copyWithPageLinks(const std::string& from, const std::string& to) {
  const std::string fromPath = nativePath(expandCurrentDir(from)), toPath = nativePath(expandCurrentDir(to));
  std::error_code ec;
  if (fromPath == toPath || std::filesystem::equivalent(fromPath, toPath, ec)) {
    core_.ui.showMessage("the page with links must go to another file than " + from);
    return false;
  }
  FilePtr in = core_.openFile(from, "rb").file;
  if (!in) return false;  // told by openFile
  std::string text, out;
  char buf[65536];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in.get())) > 0;) text.append(buf, n);
  if (std::ferror(in.get())) {
    core_.ui.showMessage("cannot read from file: " + from);
    return false;
  }
  int page = 0;
  bool inGroup = false;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const bool marked = line.find("witvlak.") != std::string::npos;
    if (marked && !inGroup) {
      ++page;
      out += plat::format("<a name=p%d></a><a href=#p%d>n</a>&nbsp <a href=#p%d>p</a><br>\n", page, page + 1,
                          std::max(page - 1, 1));
    }
    inGroup = marked;
    out += (line.empty() ? " " : line) + "\n";
  }
  return core_.writeTextFile(to, out);
}

void HeadTables::logNozzleBitTables() {
  NozzleTables tables;
  tables.initBandTables(64);
  std::string text = "kcmybitpos[col][y]";
  for (const auto& row : tables.colorNozzle) {
    text += "}\n,{";
    for (std::size_t i = 0; i < row.size(); ++i) {
      if (i && i % 16 == 0) text += "\n";
      text += plat::format("0X%02X%c", row[i] & 0xFF, i + 1 < row.size() ? ',' : ' ');
    }
  }
  log(text);
  log("adr:prim bytenr:bit x y");
  const WaterRowTable water = buildWaterRowTable(core_.s);
  text = "y shifts water";
  for (const auto& row : water) {
    text += "},\n ";
    for (std::size_t i = 0; i < row.size(); ++i) text += plat::format("%c%5d", i ? ',' : '{', row[i]);
  }
  log(text + "}");
  core_.logVars("primgrens", core_.s.primgrens, "dropgrens", core_.s.dropgrens);
}

void HeadTables::logWindowFrame() {
  core_.logVars("ix", captionHeight(core_.ui), "formgrens(Form1)", frameWidth(core_.ui), "formbalk(Form1)",
                captionHeight(core_.ui));
}

void HeadTables::logNozzlePins() {
  std::array<int, 301> seen{};
  for (const auto& word : headNozzleTable)
    for (int v : word)
      if (v >= 1 && v <= 300) ++seen[std::size_t(v)];
  for (int v = 1; v <= 300; ++v) {
    if (seen[std::size_t(v)] > 1) core_.memoPrintf("dubbel %d", v);
    if (seen[std::size_t(v)] == 0) core_.memoPrintf("ontbreekt %d", v);
  }
  // Per pin: the nozzle of each of the two rows it drives (row 0: nozzles
  // 1 to 30, row 1: 31 to 60), 0 where none.
  std::array<std::array<int, 2>, 53> dropletnr{};
  for (int n = 1; n <= 60; ++n)
    if (const int pin = nozzleToPin(n)) dropletnr[std::size_t(pin)][std::size_t((n - 1) / 30)] = n;
  core_.logVars("dropletnr[5][2]", dropletnr[5][1]);
  std::string text;
  for (int pin = 1; pin <= 52; ++pin) {
    const int n = dropletnr[std::size_t(pin)][0] + dropletnr[std::size_t(pin)][1];
    const unsigned bit = n ? 1u << ((n - 1) % 30) : 0u;
    text += plat::format("%02d %08X %02X\n", pin, bit, n);
  }
  text += "}\n,{";
  for (int pin = 0; pin <= 52; ++pin) text += plat::format("\n%3d,", dropletnr[std::size_t(pin)][0]);
  text += "}\n,{";
  for (int pin = 0; pin <= 52; ++pin) text += plat::format("\n%3d,", dropletnr[std::size_t(pin)][1]);
  log(text + "}");
}

void HeadTables::logPinWords() {
  std::string text;
  for (int pin = 1; pin <= 52; ++pin) {
    const PinRole role = pinRole(pin);
    unsigned word = 0;
    if (role.kind == 'A' && role.number >= 1 && role.number <= 22) {
      word = muxcodes[std::size_t(role.number - 1)];
      text += "\n^^";
    } else if (role.kind == 'P' && role.number >= 1 && role.number <= 14) {
      word = 1u << (role.number - 1);
    } else {
      text += "\n#";
    }
    text += plat::format("\n  ,0X%08X", word);
  }
  log(text);
}

void HeadTables::logConnectorLayout() {
  const std::array<int, 53> nozzleAt = pinToNozzle();
  std::string text;
  for (int a = 1; a <= 22; ++a) {
    int nozzle = 0;
    for (int pin = 1; pin <= 52; ++pin)
      if (pinRole(pin).kind == 'A' && pinRole(pin).number == a) nozzle = nozzleAt[std::size_t(pin)];
    text += plat::format("\n,%d", nozzle);
  }
  // The connector in six rows of pins: primitives as 100 + their number,
  // address lines as their pin, ground and unused as 0.
  for (int r = 0; r < 6; ++r) {
    for (int pin = r + 1; pin <= 52; pin += 6) {
      const PinRole role = pinRole(pin);
      const int v = role.kind == 'P' ? 100 + role.number : role.kind == 'A' ? pin : 0;
      text += plat::format("\n,%3d", v);
    }
    text += "\n,200\n";
  }
  log(text);
}

void HeadTables::logMuxPortCode() {
  std::string text;
  for (std::size_t i = 0; i < muxcodes.size(); ++i) {
    const unsigned set = muxcodes[i] & kMuxBits, clr = kMuxBits & ~muxcodes[i];
    text += plat::format("IOCLR = 0X%08X;\nIOSET = 0X%08X;\n", clr, set);
  }
  log(text);
}

void HeadTables::logFiringScript() {
  // A firing order: every address line with every primitive, in an order
  // that changes from one press to the next; address 6 never fires with
  // primitive 3 (they share the connector's pin row).
  struct Event {
    int address, primitive;
  };
  std::vector<Event> script;
  for (int a = 1; a <= 22; ++a)
    for (int p = 1; p <= 14; ++p)
      if (!(a == 6 && p == 3)) script.push_back({a, p});
  static std::mt19937 random(12345);
  std::shuffle(script.begin(), script.end(), random);
  std::string text = "\n0";
  for (const Event& e : script) text += plat::format("\nA%d\n,\nP%d", e.address, e.primitive);
  for (int v = 0; v <= 300; ++v) {
    int at = 0xFFF;
    for (std::size_t w = 0; w < headNozzleTable.size() && at == 0xFFF; ++w)
      for (std::size_t a = 0; a < 14; ++a)
        if (headNozzleTable[w][a] == v) {
          at = int(16 * w + a);
          break;
        }
    if (v % 15 == 0) text += "\n";
    text += plat::format(",0X%03X", at);
  }
  log(text);
}

void HeadTables::rebuildMuxCodes() {
  std::array<unsigned, 22> clr{}, set{};
  for (std::size_t i = 0; i < muxcodes.size(); ++i) {
    const int v = muxValue(muxcodes[i]);
    unsigned word = 1u << kGroupBit[std::min(v / 8, 2)] | unsigned(v % 8) << 16;
    if (v == 21) word += 0x40;
    muxcodes[i] = word;
    set[i] = word;
    clr[i] = kMuxBits & ~word;
  }
  auto array = [&](const char* head, const std::array<unsigned, 22>& t) {
    std::string text = head;
    for (unsigned v : t) text += plat::format("\n,0X%08X", v);
    return text;
  };
  log(array("unsigned muxcodes[22] ={", muxcodes));
  log(array("unsigned clrmuxcodes[22] ={", clr));
  log(array("};\nunsigned setmuxcodes[22] ={", set) + "};");
  // Clearing and then setting the port, from any state, must leave exactly
  // the code.
  int wrong = 0;
  for (std::size_t i = 0; i < muxcodes.size(); ++i) {
    const unsigned iopin = ((kMuxBits & ~clr[i]) | set[i]) & kMuxBits;
    if (iopin == muxcodes[i]) continue;
    ++wrong;
    core_.logVars("iopin", int(iopin), "iopin-muxcodes[i]", int(iopin - muxcodes[i]), "muxcodes[i]",
                  int(muxcodes[i]));
  }
  core_.logVars("reconstruction", wrong);
}

}  // namespace ph
