#include "host/scantools/dev_tools.h"

#include <QImage>

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <system_error>

#include "host/core/bitmaps.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_tools.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {

// The last five tokens, W0 the newest.
struct TokenWindow {
  std::array<std::string, 5> w;
  void push(std::string token) {
    for (std::size_t i = w.size() - 1; i > 0; --i) w[i] = std::move(w[i - 1]);
    w[0] = std::move(token);
  }
};

// Every token of the lines in order, empty ones included (a "//" comment, or
// blanks at the end of a line, give one).
void forEachToken(const std::vector<std::string>& lines, const std::function<void(const TokenWindow&)>& step) {
  Tokenizer tok;
  TokenWindow win;
  for (std::string line : lines)
    while (!line.empty()) {
      win.push(tok.getToken(line));
      step(win);
    }
}

// trunc(1000 x value) in single precision, kept within the int range; false
// when the text is no number.
bool thousandths(const std::string& text, int& out) {
  const char* s = text.c_str();
  char* end = nullptr;
  const double v = std::strtod(s, &end);
  if (end == s || *end != '\0' || !std::isfinite(v)) return false;
  const float scaled = float(v) * 1000.0f;
  if (scaled >= 2147483520.0f) out = INT_MAX;
  else if (scaled <= -2147483520.0f) out = INT_MIN + 1;
  else out = int(std::trunc(scaled));
  return true;
}

// A text less its first and last characters ("" when it is shorter).
std::string innerText(const std::string& t) { return t.size() < 2 ? std::string() : t.substr(1, t.size() - 2); }

}  // namespace

bool isKindMarker(const std::string& kind) {
  return std::string(";@b;@i;@f;@[;").find(";" + kind + ";") != std::string::npos;
}

// ---- merge sort ----

namespace {

void mergeSortPart(std::span<int> a, int lo, int hi, std::vector<int>& queue) {
  if (lo >= hi) return;
  const int m = (lo + hi) / 2;
  mergeSortPart(a, lo, m, queue);
  mergeSortPart(a, m + 1, hi, queue);
  // The left half's elements wait in a ring queue once their place is taken.
  const std::size_t cap = std::size_t(m - lo + 1);
  std::size_t head = 0, count = 0;
  auto push = [&](int v) { queue[(head + count++) % cap] = v; };
  push(a[std::size_t(lo)]);
  int k = lo, j = m + 1;
  while (count > 0) {
    if (j <= hi && queue[head] >= a[std::size_t(j)]) {
      a[std::size_t(k)] = a[std::size_t(j++)];
    } else {
      a[std::size_t(k)] = queue[head];
      head = (head + 1) % cap;
      --count;
    }
    ++k;
    if (k <= m) push(a[std::size_t(k)]);
  }
}

}  // namespace

void mergeSortRange(std::span<int> a, int lo, int hi) {
  lo = maxInt(lo, 0);
  if (a.empty() || hi < lo) return;
  if (std::size_t(hi) >= a.size()) hi = int(a.size() - 1);
  // One scratch queue for every merge: a merge runs after its sub-sorts.
  std::vector<int> queue(std::size_t(hi - lo) / 2 + 1);
  mergeSortPart(a, lo, hi, queue);
}

// ---- the tools ----

DevTools::DevTools(HostCore& core, MeshTools& mesh) : core_(core), mesh_(mesh) {}

std::string DevTools::inWorkFolder(const std::string& name) const { return mesh_.workFolder() + "/" + name; }

bool DevTools::readTokens(const std::string& file, const char* tool, std::vector<std::string>& lines) {
  FilePtr f = core_.openFile(file, "r").file;
  if (!f) {
    core_.memoPrintf("%s: cannot read from file: %s", tool, file);
    return false;
  }
  std::string line;
  int c;
  bool any = false;
  while ((c = std::fgetc(f.get())) != EOF) {
    any = true;
    if (c != '\n') {
      line += char(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
    line.clear();
    any = false;
  }
  if (any) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  if (std::ferror(f.get())) {
    core_.memoPrintf("%s: cannot read from file: %s", tool, file);
    return false;
  }
  return true;
}

bool DevTools::scanDeclarations(const std::string& file) {
  std::vector<std::string> lines;
  tables = {};
  if (!readTokens(file, "scan", lines)) return false;
  auto& decls = tables.declarations;
  auto& elems = tables.elements;
  std::string arrayName;
  bool inList = false, listSinceBracket = false;
  int listStart = 0, listLength = 0;
  forEachToken(lines, [&](const TokenWindow& t) {
    const auto& w = t.w;
    if (w[0] == "[") {
      arrayName = w[1];
      listSinceBracket = false;
    }
    if (w[0] == "}") {
      listLength = int(elems.size()) - listStart;
      inList = false;
    }
    if (inList && w[0] != ",") elems.push_back(textToInt(w[0]));
    if (w[0] == "{") {
      inList = true;
      listSinceBracket = true;
      listStart = int(elems.size());
    }
    if (w[0] != ";") return;
    if (!arrayName.empty()) {
      GeneratorTables::Declaration d{arrayName, "@[", 0, listStart, listLength};
      if (!listSinceBracket) {
        // Not the list of an earlier declaration: this one has none.
        d.first = int(elems.size());
        d.length = 0;
        core_.memoPrintf("scan: %s has no element list of its own; recorded empty", arrayName);
      }
      decls.push_back(d);
      arrayName.clear();
    }
    if (w[2] != "=") return;
    GeneratorTables::Declaration d{w[3], "", 0, 0, 0};
    if (w[4] == "int") {
      d.kind = "@i";
      d.value = textToInt(w[1]);
    } else if (w[4] == "bool") {
      d.kind = "@b";
      d.value = w[1] == "true" ? 1 : 0;
    } else if (w[4] == "double") {
      d.kind = "@f";
      if (!thousandths(w[1], d.value)) return;
    } else if (w[4] == "txt") {
      d.kind = innerText(w[1]);
    } else {
      return;
    }
    decls.push_back(d);
  });
  printDeclarations();
  printRegistrations();
  printSettingsLines();
  return true;
}

bool DevTools::loadSettingsLines(const std::string& file) {
  std::vector<std::string> lines;
  tables = {};
  if (!readTokens(file, "loadini", lines)) return false;
  auto& decls = tables.declarations;
  auto& elems = tables.elements;
  bool inList = false;
  int listStart = 0;
  forEachToken(lines, [&](const TokenWindow& t) {
    const auto& w = t.w;
    if (w[1] == "=") {
      GeneratorTables::Declaration d{w[2], "", 0, 0, 0};
      bool take = true;
      if (!w[0].empty() && w[0][0] == '"') {
        d.kind = innerText(w[0]);
      } else if (isNumberText(w[0])) {
        d.kind = "@i";
        d.value = textToInt(w[0]);
      } else if (w[0].find('.') != std::string::npos) {
        d.kind = "@f";
        take = thousandths(w[0], d.value);
      } else if (w[0] == "{") {
        d.kind = "@[";
        d.first = int(elems.size());
      } else if (lowerCase(w[0]) == "true" || lowerCase(w[0]) == "false") {
        d.kind = "@b";
        d.value = lowerCase(w[0]) == "true" ? 1 : 0;
      } else {
        take = false;
      }
      if (take) decls.push_back(d);
    }
    if (w[0] == "}") {
      if (!decls.empty() && decls.back().kind == "@[") decls.back().length += int(elems.size()) - listStart;
      inList = false;
    }
    if (inList && w[0] != ",") elems.push_back(textToInt(w[0]));
    if (w[0] == "{") {
      inList = true;
      listStart = int(elems.size());
    }
  });
  printDeclarations();
  return true;
}

void DevTools::printElements(const GeneratorTables::Declaration& d) {
  for (int i = 0; i < d.length; ++i) {
    const std::size_t at = std::size_t(d.first + i);
    const int v = at < tables.elements.size() ? tables.elements[at] : 0;
    if (i == 0) core_.memoPrintf("%n%d", v);
    else core_.memoPrintf("%n,%d", v);
  }
}

void DevTools::printDeclarations() {
  for (const auto& d : tables.declarations) {
    if (d.kind == "@b") core_.memoPrintf("bool %s = %s ;", d.name, d.value ? "true" : "false");
    else if (d.kind == "@i") core_.memoPrintf("int %s = %d ;", d.name, d.value);
    else if (d.kind == "@f") core_.memoPrintf("float %s = %2.3f ;", d.name, d.value * 0.001);
    else if (d.kind == "@[") {
      core_.memoPrintf("int %s[%d] = {", d.name, d.length);
      printElements(d);
      core_.memoPrintf("%n} ;");
    } else {
      core_.memoPrintf("txt %s = \"%s\" ; ", d.name, d.kind);
    }
  }
}

void DevTools::printRegistrations() {
  for (const auto& d : tables.declarations) {
    if (d.kind == "@b") core_.memoPrintf("addparbool(\"%s\",&%s) ;", d.name, d.name);
    else if (d.kind == "@i") core_.memoPrintf("addparint(\"%s\",&%s) ;", d.name, d.name);
    else if (d.kind == "@f") core_.memoPrintf("addparfloat(\"%s\",&%s) ;", d.name, d.name);
    else if (d.kind == "@[") core_.memoPrintf("addpararr(\"%s\", %s,%d);", d.name, d.name, d.length);
    else core_.memoPrintf("addpartxt(\"%s\",&%s ) ; ", d.name, d.name);
  }
}

void DevTools::printSettingsLines() {
  for (const auto& d : tables.declarations) {
    if (d.kind == "@b") core_.memoPrintf("%s = %s", d.name, d.value ? "true" : "false");
    else if (d.kind == "@i") core_.memoPrintf("%s = %d", d.name, d.value);
    else if (d.kind == "@f") core_.memoPrintf("%s = %2.3f", d.name, d.value * 0.001);
    else if (d.kind == "@[") {
      core_.memoPrintf("%s = {", d.name);
      printElements(d);
      core_.memoPrintf("%n}");
    } else {
      core_.memoPrintf("%s = \"%s\"", d.name, d.kind);
    }
  }
}

bool DevTools::temperatureList(const std::string& log, const std::string& savedMemo) {
  std::vector<std::string> lines;
  if (!readTokens(log, "test", lines)) return false;
  int number = 1;
  for (std::string line : lines) {
    for (auto at = line.find("tempr "); at != std::string::npos; at = line.find("tempr ")) {
      line.erase(0, at + 6);
      const std::string first = popToken(line, ',');
      const std::string second = popToken(line, ' ');
      core_.memoPrintf("%d %s %s", number++, first, second);
    }
  }
  if (std::string why; !plat::writeFileAtomically(nativePath(expandCurrentDir(savedMemo)), mesh_.Memo1.text(), why)) {
    core_.memoPrintf("unable to write to file: %s", savedMemo);
    return false;
  }
  return true;
}

void DevTools::sortRandomNumbers() {
  std::vector<int> numbers(100);
  std::mt19937 random{std::random_device{}()};
  std::uniform_int_distribution<int> digits(0, 9999);
  for (int& n : numbers) n = digits(random);
  sortTest(std::move(numbers));
}

void DevTools::sortTest(std::vector<int> numbers) {
  mergeSortRange(numbers, 0, int(numbers.size()) - 1);
  core_.memoPrintf("");
  for (std::size_t i = 0; i < numbers.size(); ++i) core_.memoPrintf("%n%4d%c", numbers[i], (i + 1) % 15 == 0 ? '\n' : ' ');
}

bool DevTools::cropListedFrames(const std::string& list, const std::string& outFolder) {
  std::vector<std::string> lines;
  if (!readTokens(list, "filmsplit", lines)) return false;
  constexpr int kHalfW = 150, kHalfH = 180;
  std::error_code ec;
  std::filesystem::create_directories(nativePath(expandCurrentDir(outFolder)), ec);
  QImage source;
  int k = 1;
  for (std::string line : lines) {
    std::string name = popToken(line, ';');
    // Blanks and control characters off both ends of the centre.
    auto isEdge = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!line.empty() && isEdge(line.front())) line.erase(line.begin());
    while (!line.empty() && isEdge(line.back())) line.pop_back();
    std::string rest = line;
    const int x = clampInt(textToInt(popToken(rest, ' ')), kHalfW, 640 - kHalfW - 1);
    const int y = clampInt(textToInt(trimmed(rest)), kHalfH, 480 - kHalfH - 1);
    // A relative picture name is taken from the list's folder.
    if (!name.empty() && !isPathSep(name[0])) name = parentDir(list) + "/" + name;
    if (!loadPicture(source, name)) {
      core_.memoPrintf("filmsplit: cannot read picture %s", name);
      return false;
    }
    QImage out = newBitmap32(2 * kHalfW, 2 * kHalfH);
    // The window clipped to the picture: what lies outside stays white.
    const int x0 = x - kHalfW, y0 = y - kHalfH;
    const int fromX = maxInt(0, -x0), toX = minInt(out.width(), source.width() - x0);
    for (int row = maxInt(0, -y0); row < out.height() && y0 + row < source.height(); ++row) {
      if (toX <= fromX) break;
      const auto* s = reinterpret_cast<const QRgb*>(source.constScanLine(y0 + row)) + (x0 + fromX);
      auto* d = reinterpret_cast<QRgb*>(out.scanLine(row)) + fromX;
      std::memcpy(d, s, std::size_t(toX - fromX) * sizeof(QRgb));
    }
    const std::string target = outFolder + "/" + plat::format("k%03d.jpg", k);
    if (!saveJpeg2(out, nativePath(expandCurrentDir(target)))) {
      core_.memoPrintf("unable to write to file: %s", target);
      return false;
    }
    ++k;
  }
  return true;
}

}  // namespace ph
