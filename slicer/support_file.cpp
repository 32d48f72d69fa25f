#include "slicer/support_file.h"

#include <charconv>
#include <cmath>

#include "platform/format.h"
#include "slicer/dots.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"

namespace lt {

namespace {

// A colour's distance offset (K) of more than this could never make a
// difference within the build room.
constexpr double kMaxDistanceOffsetMm = 1e6;

bool isNumberChar(char c) { return (c >= '0' && c <= '9') || c == '-' || c == '.' || c == 'E' || c == 'e'; }

int roundInt(double v) {
  const double r = std::nearbyint(v);
  if (!(r > -2e9 && r < 2e9)) return 0;
  return int(r);
}

// The two side rectangles of a block, corners numbered with x = 4, y = 2,
// z = 1. Built in the file's coordinates, then mirrored like the facets.
void addBlock(const std::vector<double>& n, bool isVoid, ColouredModel& m) {
  static const int corners[4][3] = {{1, 3, 0}, {0, 3, 2}, {6, 7, 4}, {4, 7, 5}};
  auto corner = [&](int c) {
    return Vec3f{-float(c & 4 ? n[3] : n[0]), float(c & 2 ? n[4] : n[1]), float(c & 1 ? n[5] : n[2])};
  };
  for (int f = 0; f < 4; ++f) {
    FacetRecord r;
    float nx = f < 2 ? -1.0f : 1.0f;
    if (isVoid) nx = -nx;
    r.normal = {-nx, 0, 0};
    for (int k = 0; k < 3; ++k) r.v[k] = corner(corners[f][k]);
    r.colourIndex = kSupportIndex;
    m.facets.push_back(r);
  }
}

void rotate(const std::string& line, ColouredModel& m) {
  int i = 2, k = 3;  // about X, 1-based matrix positions
  std::size_t from = 1;
  if (line.size() > 1 && (line[1] == 'X' || line[1] == 'Y' || line[1] == 'Z')) {
    if (line[1] == 'Y') i = 1, k = 3;
    if (line[1] == 'Z') i = 1, k = 2;
    from = 2;
  }
  const double a = supportNumbers(line, from, 1)[0];
  if (a == 0) return;
  const double rad = a * M_PI / 180.0;
  double mat[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
  mat[i - 1][i - 1] = std::cos(rad);
  mat[i - 1][k - 1] = std::sin(rad);
  mat[k - 1][i - 1] = -std::sin(rad);
  mat[k - 1][k - 1] = std::cos(rad);
  for (auto& f : m.facets) {
    f.normal = transformPoint(mat, f.normal);
    for (auto& v : f.v) v = transformPoint(mat, v);
  }
}

}  // namespace

std::vector<double> supportNumbers(const std::string& line, std::size_t from, int count) {
  std::vector<double> out;
  std::size_t p = from;
  for (int n = 0; n < count; ++n) {
    while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
    const std::size_t start = p;
    while (p < line.size() && isNumberChar(line[p])) ++p;
    double v = 0;
    auto r = std::from_chars(line.data() + start, line.data() + p, v);
    if (r.ec != std::errc() || r.ptr != line.data() + p || !std::isfinite(v)) v = 0;
    out.push_back(v);
  }
  return out;
}

void applySupportLine(std::string line, int pass, SliceValues& values, ColouredModel& m,
                      std::vector<std::string>& notes) {
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  if (line.size() > 80) line.resize(80);
  if (line.empty()) return;
  switch (line[0]) {
    case 'B': case 'b': case 'V': case 'v':
      if (pass == 1) addBlock(supportNumbers(line, 1, 6), line[0] == 'V' || line[0] == 'v', m);
      break;
    case 'C': case 'c': {
      auto n = supportNumbers(line, 1, 3);
      auto ch = [](double v) { int c = roundInt(v * 31); return c < 0 ? 0 : c > 31 ? 31 : c; };
      values.defaultColour = ch(n[0]) * 1024 + ch(n[1]) * 32 + ch(n[2]);
      break;
    }
    case 'D': case 'd':
      if (pass == 1) {
        auto n = supportNumbers(line, 1, 2);
        values.minstepx = validStep(roundInt(n[0]));
        values.minstepy = validStep(roundInt(n[1]));
      }
      break;
    case 'K': case 'k':
      if (pass == 1) {
        auto n = supportNumbers(line, 1, 2);
        const double idx = std::nearbyint(n[0]);
        if (!(std::fabs(n[1]) <= kMaxDistanceOffsetMm))
          notes.push_back(plat::format("support file: the distance offset %g of \"%s\" is beyond %g mm, line ignored",
                                       n[1], line, kMaxDistanceOffsetMm));
        else if (idx >= 0 && idx < double(m.colourDistanceOffset.size()))
          m.colourDistanceOffset[std::size_t(idx)] = float(n[1]);
        else
          notes.push_back(plat::format("support file: colour index %g of \"%s\" is outside the palette, line ignored",
                                       idx, line));
      }
      break;
    case 'M': case 'm': {
      auto n = supportNumbers(line, 1, 3);
      m.supportShift = {-float(n[0]), float(n[1]), float(n[2])};
      for (auto& f : m.facets)
        for (auto& v : f.v) v = {v.x + m.supportShift.x, v.y + m.supportShift.y, v.z + m.supportShift.z};
      break;
    }
    case 'P': case 'p':
      m.placed = true;
      break;
    case 'R': case 'r':
      rotate(line, m);
      break;
    case 'S': case 's': {
      const float s = float(supportNumbers(line, 1, 1)[0]);
      m.supportScale = s;
      for (auto& f : m.facets)
        for (auto& v : f.v) v = {v.x * s, v.y * s, v.z * s};
      break;
    }
    default:
      break;
  }
}

SupportFileRead applySupportFile(const std::string& path, int pass, SliceValues& values, ColouredModel& model,
                                 std::vector<std::string>& notes, std::string& error) {
  bool missing = false;
  auto text = readInputFile(path, "the support file", kMaxSupportBytes, error, &missing);
  if (!text) return missing ? SupportFileRead::Missing : SupportFileRead::Failed;
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    applySupportLine(text->substr(at, std::min<std::size_t>(end - at, 82)), pass, values, model, notes);
    at = end + 1;
  }
  return SupportFileRead::Applied;
}

}  // namespace lt
