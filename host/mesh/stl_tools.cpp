#include "host/mesh/stl_tools.h"

#include <array>
#include <cmath>
#include <numbers>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/stl_stream.h"

namespace ph {

namespace {

// Opens a model for a tool: a file without a facet is refused, a head whose
// count differs from the facets the file holds is noted.
bool openFacets(HostCore& core, StlReader& in, const std::string& name) {
  if (!in.open(name)) return false;
  if (in.records() == 0) {
    core.memoPrintf("%s holds no facets", name);
    return false;
  }
  in.noteCountMismatch();
  return true;
}

// The facet number (from 1) of the first corner that is not a finite
// number is told, and the model refused.
bool refuseNotFinite(HostCore& core, const std::string& name, unsigned long long facet) {
  core.memoPrintf("%s: facet %llu has a corner that is not a finite number", name, facet);
  return false;
}

// A float into a bin index, truncated toward zero and clamped.
int binOf(float v, int n) {
  if (!(v > 0.0f)) return 0;
  if (v >= float(n - 1)) return n - 1;
  return int(v);
}

// The direction of a facet about the y axis, in whole degrees 0..359.
int directionOf(vect3 n) {
  int a = int(std::trunc(std::atan2(n.x, n.z) * 180.0 * (1.0 / std::numbers::pi)));
  while (a < 0) a += 360;
  return clampInt(a, 0, 359);
}

int brightnessOf(std::uint16_t a) { return (a & 31) + (a >> 5 & 31) + (a >> 10 & 31); }

}  // namespace

// ---- the height profile ----

bool makeHeightProfile(HostCore& core, const std::string& name, std::span<float> profile, float scale, int slope,
                       int offset) {
  const int n = int(profile.size());
  if (n <= 0) return false;
  const float s = float(slope) * 0.01f;
  StlReader in(core);
  if (!openFacets(core, in, name)) return false;
  std::vector<float> p(std::size_t(n), -9999.0f);
  float minY = 99999.0f, minZ = 99999.0f;
  stlFacet f;
  unsigned long long facet = 0;
  while (in.next(f)) {
    ++facet;
    if (!finiteCorners(f)) return refuseNotFinite(core, name, facet);
    for (const auto& c : f.corner) minY = minFloat(minY, scale * c[1]);
  }
  if (in.failed() || !in.rewind()) return false;
  while (in.next(f)) {
    for (int k = 0; k < 3; ++k) {
      const auto& ck = f.corner[k];
      const auto& cm = f.corner[(k + 1) % 3];
      minZ = minFloat(minZ, scale * ck[2]);
      const int bk = binOf(scale * ck[1] - minY + float(offset), n);
      const int bm = binOf(scale * cm[1] - minY + float(offset), n);
      const float hk = scale * ck[2], hm = scale * cm[2];
      if (bk == bm) {
        float& b = p[std::size_t(bk)];
        b = maxFloat(maxFloat(b, hk), hm);
      } else {
        // The edge's height over each bin it crosses; its far end is
        // reached by the facet's next edge.
        const int step = bm > bk ? 1 : -1;
        for (int i = bk; i != bm; i += step) {
          float& b = p[std::size_t(i)];
          b = maxFloat(b, hk + float(i - bk) * (hm - hk) / float(bm - bk));
        }
      }
    }
  }
  if (in.failed()) return false;
  for (int i = 0; i < n; ++i) {
    float& b = p[std::size_t(i)];
    b += 0.3f;
    if (i >= 2) {
      b -= minZ;
      b = maxFloat(b, p[std::size_t(i - 1)] - s);
    }
  }
  for (int i = n - 2; i >= 0; --i) {
    float& b = p[std::size_t(i)];
    b = maxFloat(b, p[std::size_t(i + 1)] - s);
    b = maxFloat(b, -1.0f);
  }
  std::copy(p.begin(), p.end(), profile.begin());
  return true;
}

// ---- the tools ----

HostCore& StlTools::core() const { return tools_.core; }

std::string StlTools::inWorkFolder(const std::string& name) const { return tools_.workFolder() + "/" + name; }

std::optional<double> StlTools::askNumber(const char* prompt, const std::string& defaultText) {
  const std::string answer = core().ui.inputBox("input", prompt, defaultText).value_or(defaultText);
  double v = 0.0;
  if (parseNumber(trimView(answer), v)) return v;
  core().memoPrintf("%s: '%s' is not a number", prompt, answer);
  return std::nullopt;
}

void StlTools::attachMenus(Controls& controls) {
  const std::pair<const char*, void (StlTools::*)()> items[] = {
      {"bolfilter1Item", &StlTools::runRadiusFilter}, {"mergestl1Item", &StlTools::askAndMergeStl},
      {"bobbelhead1", &StlTools::makeBobbleHead},   {"heightprofile1", &StlTools::writeTestHeightProfile},
      {"angvsbright1", &StlTools::balanceUnbalancedStl}, {"zsplit1", &StlTools::splitTempStl},
      {"stlVolume1", &StlTools::askStlVolume}};
  for (const auto& [name, handler] : items)
    controls.bindClick(name, [this, h = handler] { (this->*h)(); });
}

void StlTools::runRadiusFilter() {
  MeshTools& t = tools_;
  t.meshAbort = false;
  t.state.facetsWritten = 0;
  const std::string input = t.askInputFile("fname", inWorkFolder(t.host.convertedStlName()));
  if (t.meshAbort) return;
  t.stlInputName = input;
  const std::string outside = t.askOutputFile("foname", inWorkFolder("outsphere.stl"));
  if (t.meshAbort) return;
  const std::string inside = t.askOutputFile("foname2", inWorkFolder("insphere.stl"));
  if (t.meshAbort) return;
  const std::string shown = "-50,17,0,45.5";
  std::string rest = core().ui.inputBox("input", "xyz_r", shown).value_or(shown);
  double v[4];
  for (double& x : v) {
    const std::string piece = popToken(rest, ',');
    if (!parseNumber(trimView(piece), x)) {
      core().memoPrintf("xyz_r: '%s' is not a number", piece);
      return;
    }
  }
  splitBySphere(input, outside, inside, {v[0], v[1], v[2]}, v[3]);
}

bool StlTools::splitBySphere(const std::string& input, const std::string& outside, const std::string& inside,
                             vect3 centre, double radius) {
  if (outside == inside || sameFile(outside, inside)) {
    core().memoPrintf("radiusfilter: %s is named for both outputs", outside);
    return false;
  }
  StlReader in(core());
  if (!openFacets(core(), in, input)) return false;
  StlWriter out(core(), outside), within(core(), inside);
  if (!out.open(in.head()) || !within.open(in.head())) return false;
  stlFacet f;
  while (in.next(f)) {
    bool all = true;
    for (const auto& c : f.corner) all = all && vect3Distance(vect3FromFloats(c), centre) <= radius;
    if (all) {
      within.write(f);
    } else {
      out.write(f);
      ++tools_.state.facetsWritten;
    }
  }
  if (in.failed()) return false;
  core().logVars("triangcount", int(out.count()), "outtriacnt", int(within.count()));
  const bool outWritten = out.commit();
  return within.commit() && outWritten;
}

void StlTools::askAndMergeStl() {
  MeshTools& t = tools_;
  t.meshAbort = false;
  t.state.facetsWritten = 0;
  const std::string output = t.askOutputFile("foname", inWorkFolder("merged.stl"));
  if (t.meshAbort) return;
  std::vector<std::string> inputs;
  for (int number = 1;; ++number) {
    const std::string offered = inWorkFolder(plat::format("file%d.stl", number));
    // An empty answer ends the list, and so does a cancel: the offered
    // name is only a guess.
    const auto answer = core().ui.inputBox("input", "fname", offered);
    if (!answer || answer->empty()) break;
    t.stlInputName = *answer;
    inputs.push_back(*answer);
  }
  mergeStlFiles(inputs, output);
}

bool StlTools::mergeStlFiles(const std::vector<std::string>& inputs, const std::string& output) {
  HostCore& c = core();
  tools_.state.facetsWritten = 0;
  if (inputs.empty()) {
    c.memoPrintf("merge_stl: no file named; %s is not written", output);
    return false;
  }
  StlWriter out(c, output);
  StlColours outColours;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    StlReader in(c);
    if (!in.open(inputs[i])) {
      // A merge without one of its parts is no result.
      c.memoPrintf("merge_stl stopped at %s; %s is not written", inputs[i], output);
      return false;
    }
    c.logVars("hdr.triangcount", int(in.headCount()));
    in.noteCountMismatch();
    if (i == 0) {
      if (!out.open(in.head())) return false;
      outColours = in.colours();
    }
    // Facets of a file with another colour convention are written in the
    // output's, so they keep their colours.
    const StlColours inColours = in.colours();
    const bool convert = !(inColours == outColours);
    stlFacet f;
    while (in.next(f)) {
      if (convert) f.attribute = outColours.fromStandard(inColours.toStandard(f.attribute));
      out.write(f);
      ++tools_.state.facetsWritten;
    }
    if (in.failed()) return false;
    c.logVars("hdr.triangcount", int(in.headCount()), "triangcount", tools_.state.facetsWritten);
  }
  return out.commit();
}

void StlTools::makeBobbleHead() {
  const auto scale = askNumber("head_scale", "2.0");
  if (!scale) return;
  const auto bottom = askNumber("neck_bottom", "8.19");
  if (!bottom) return;
  const auto top = askNumber("neck_top", "8.85");
  if (!top) return;
  bobbleSourceName = core().ui.inputBox("input", "sourcefile", bobbleSourceName).value_or(bobbleSourceName);
  if (enlargeHead(inWorkFolder(bobbleSourceName), inWorkFolder("bobhead.stl"), *scale, *bottom, *top))
    core().memoPrintf("done");
}

bool StlTools::enlargeHead(const std::string& input, const std::string& output, double S, double B, double T) {
  if (T < B) {
    core().memoPrintf("bobbelhead: neck_top %g is below neck_bottom %g", T, B);
    return false;
  }
  StlReader in(core());
  if (!openFacets(core(), in, input)) return false;
  StlWriter out(core(), output);
  if (!out.open(in.head())) return false;
  stlFacet f;
  while (in.next(f)) {
    for (auto& c : f.corner) {
      const double h = c[1];
      double factor = 1.0, height = h;
      if (h > T) {
        factor = S;
        height = h + (S - 1.0) * (T - B) * 0.5 + (S - 1.0) * (h - T);
      } else if (h > B) {  // only when T > B
        factor = 1.0 + (S - 1.0) * (h - B) / (T - B);
        height = h + (S - 1.0) * (h - B) * (h - B) / (T - B) * 0.5;
      }
      c[0] = float(c[0] * factor);
      c[2] = float(c[2] * factor);
      c[1] = float(height);
    }
    out.write(f);
  }
  if (in.failed()) return false;
  return out.commit();
}

void StlTools::writeTestHeightProfile() {
  std::vector<float> profile(200);
  makeHeightProfile(core(), inWorkFolder(kProfileTestFile), profile, 10.0f, 50, 0);
}

void StlTools::balanceUnbalancedStl() { balanceBrightness(inWorkFolder(kUnbalancedFile)); }

bool StlTools::balanceBrightness(const std::string& name) {
  HostCore& c = core();
  StlReader in(c);
  if (!openFacets(c, in, name)) return false;
  const StlColours colours = in.colours();
  std::array<long long, 360> count{}, sum{};
  stlFacet f;
  while (in.next(f)) {
    // A facet without a colour of its own (the glass code included) has
    // no brightness to even out.
    if (!colours.hasColour(f.attribute)) continue;
    const vect3 n = facetNormal(f);
    if (!(n.x != 0.0 || (n.z != 0.0 && std::fabs(n.y) < 0.7))) continue;
    const int a = directionOf(n);
    ++count[std::size_t(a)];
    sum[std::size_t(a)] += brightnessOf(f.attribute);
  }
  if (in.failed()) return false;

  std::array<long long, 360> mean{}, smoothed{};
  for (std::size_t i = 0; i < 360; ++i) mean[i] = sum[i] * 10 / (count[i] == 0 ? 1 : count[i]);
  long long total = 0;
  std::string table = "\n";
  for (int i = 0; i < 360; ++i) {
    long long v = 0;
    for (int d = -9; d <= 10; ++d) v += mean[std::size_t((i + d + 360) % 360)];
    smoothed[std::size_t(i)] = v;
    total += v;
    table += plat::format("%d %lld\n", i, v);
  }
  if (auto [gfk, opened] = c.openFile("temp.gfk", "w+"); opened) {
    const bool written = std::fwrite(table.data(), 1, table.size(), gfk.get()) == table.size();
    if (std::fclose(gfk.release()) != 0 || !written) c.memoPrintf("unable to write to file: %s", "temp.gfk");
  }
  // A direction no brightness reaches keeps its colours.
  std::array<double, 360> gain{};
  for (std::size_t i = 0; i < 360; ++i)
    gain[i] = smoothed[i] == 0 ? 1.0 : (double(total) / 360.0) / double(smoothed[i]);

  StlWriter out(c, inWorkFolder("lightbalanced.stl"));
  if (!out.open(in.head()) || !in.rewind()) return false;
  while (in.next(f)) {
    const vect3 n = facetNormal(f);
    if ((n.x != 0.0 || n.z != 0.0) && colours.hasColour(f.attribute)) {
      const double g = gain[std::size_t(directionOf(n))];
      std::uint16_t a = f.attribute & 0x8000;  // the convention's colour bit stays as it was
      for (int shift : {0, 5, 10}) {
        const double v = std::trunc((f.attribute >> shift & 31) * g);
        a = std::uint16_t(a | (v >= 31.0 ? 31 : v <= 0.0 ? 0 : int(v)) << shift);
      }
      f.attribute = a;
    }
    out.write(f);
  }
  if (in.failed()) return false;
  return out.commit();
}

void StlTools::splitTempStl() {
  splitAtMidHeight(inWorkFolder("temp.stl"), inWorkFolder("bottomhalf.stl"), inWorkFolder("tophalf.stl"));
}

bool StlTools::splitAtMidHeight(const std::string& input, const std::string& bottom, const std::string& top) {
  HostCore& c = core();
  StlReader in(c);
  if (!openFacets(c, in, input)) return false;
  float minZ = 99999.0f, maxZ = -99999.0f;
  stlFacet f;
  unsigned long long facet = 0;
  while (in.next(f)) {
    ++facet;
    if (!finiteCorners(f)) return refuseNotFinite(c, input, facet);
    for (const auto& p : f.corner) {
      minZ = minFloat(minZ, p[2]);
      maxZ = maxFloat(maxZ, p[2]);
    }
  }
  if (in.failed()) return false;
  StlWriter low(c, bottom), high(c, top);
  if (!low.open(in.head()) || !high.open(in.head()) || !in.rewind()) return false;
  const double limit = 3.0 * (double(minZ) + (double(maxZ) - double(minZ)) * 0.5);
  while (in.next(f)) {
    if (f.corner[0][2] == minZ && facetNormal(f).z < -0.99) c.memoPrintf("atrib %d", int(f.attribute));
    const double heights = double(f.corner[0][2]) + double(f.corner[1][2]) + double(f.corner[2][2]);
    (heights > limit ? high : low).write(f);
  }
  if (in.failed()) return false;
  const bool lowWritten = low.commit();
  return high.commit() && lowWritten;
}

void StlTools::askStlVolume() {
  if (volumeFileName.empty()) volumeFileName = inWorkFolder(tools_.host.convertedStlName());
  volumeFileName = core().ui.inputBox("input", "fname", volumeFileName).value_or(volumeFileName);
  if (const auto v = stlVolume(volumeFileName)) core().memoPrintf("%s Volume=%g", volumeFileName, *v);
}

std::optional<double> StlTools::stlVolume(const std::string& name) {
  StlReader in(core());
  if (!openFacets(core(), in, name)) return std::nullopt;
  double sum = 0.0;
  stlFacet f;
  while (in.next(f)) {
    const vect3 p0 = vect3FromFloats(f.corner[0]), p1 = vect3FromFloats(f.corner[1]), p2 = vect3FromFloats(f.corner[2]);
    sum += vect3Dot(p2, vect3Cross(p0, p1));
  }
  if (in.failed()) return std::nullopt;
  return sum * (1.0 / 6.0);
}

void StlTools::writeHeightComparison(const std::string& model, std::span<float> powderedHeights) {
  HostCore& c = core();
  std::array<float, 300> profile{};
  if (!makeHeightProfile(c, model, profile, 1.0f, 50, 30)) {
    c.memoPrintf("unable to make profile from %s", model);
    return;
  }
  std::string text = "\n";
  const std::size_t lines = 101;
  for (std::size_t i = 0; i < lines; ++i)
    text += plat::format("%d %f %f\n", int(i), double(profile[i]),
                         i < powderedHeights.size() ? double(powderedHeights[i]) : 0.0);
  auto [f, opened] = c.openFile("temp.gfk", "w+");
  if (!opened) return;
  const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  if (std::fclose(f.release()) != 0 || !written) {
    c.memoPrintf("unable to write to file: %s", "temp.gfk");
    return;
  }
  // Cleared once they are kept in the file.
  for (std::size_t i = 0; i < lines && i < powderedHeights.size(); ++i) powderedHeights[i] = 0.0f;
}

}  // namespace ph
