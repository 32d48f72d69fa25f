#include "host/mesh/cocoon.h"

#include <cmath>
#include <cstdio>

#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_tools.h"

namespace ph {

namespace {

double weightOf(int field) { return CocoonWrapper::cocoonWeights[field / 2]; }

// The row of a height above the model's lowest point.
int rowOf(float dz) {
  if (!(dz > 0.0f)) return 0;
  if (dz >= float(CocoonWrapper::kRows - 1)) return CocoonWrapper::kRows - 1;
  return int(dz);
}

float edgeLength(const FloatTriple& a, const FloatTriple& b) {
  return float(vect3Distance(vect3FromFloats(a), vect3FromFloats(b)));
}

}  // namespace

void CocoonWrapper::transformCocoonFacet(stlFacet& f) const {
  if (tf_.scale != 1.0f)
    for (auto& c : f.corner)
      for (float& v : c) v *= tf_.scale;
  auto turn = [&f](auto rotate) {
    for (auto& c : f.corner) vect3ToFloats(c, rotate(vect3FromFloats(c)));
    vect3ToFloats(f.normal, rotate(vect3FromFloats(f.normal)));
  };
  const vect3 origin{};
  if (tf_.rotX != 0.0f) turn([&](vect3 p) { return vect3RotateAboutLine(origin, {1.0, 0.0, 0.0}, tf_.rotX, p); });
  if (tf_.rotY != 0.0f) turn([&](vect3 p) { return vect3RotateAboutLine(origin, {0.0, 1.0, 0.0}, tf_.rotY, p); });
  if (tf_.rotZ != 0.0f) turn([&](vect3 p) { return vect3RotateAxis(2, tf_.rotZ, p); });
}

void CocoonWrapper::splitFacetEdge(const stlFacet& f, int e) {
  const int n = (e + 1) % 3;
  FloatTriple m;
  for (int i = 0; i < 3; ++i) m[std::size_t(i)] = (f.corner[e][std::size_t(i)] + f.corner[n][std::size_t(i)]) * 0.5f;
  stlFacet first = f, second = f;
  first.corner[e] = m;
  second.corner[n] = m;
  splitQueue.push_back(first);
  splitQueue.push_back(second);
}

bool CocoonWrapper::nextCocoonFacet(stlFacet& out, StlReader& in) {
  stlFacet w{};
  endOfModel = false;
  float longest = 1000.0f;
  while (longest > maxShellEdge) {
    if (splitQueue.empty()) {
      if (endOfModel || !in.next(w)) {
        endOfModel = true;
        longest = 0.0f;
      } else {
        transformCocoonFacet(w);
      }
    } else {
      w = splitQueue.front();
      splitQueue.pop_front();
    }
    if (endOfModel) break;
    const float len[3] = {edgeLength(w.corner[0], w.corner[1]), edgeLength(w.corner[1], w.corner[2]),
                          edgeLength(w.corner[2], w.corner[0])};
    int edge = 0;
    longest = len[0];
    for (int k = 1; k < 3; ++k)
      if (len[k] > longest) {
        longest = len[k];
        edge = k;
      }
    // A corner beyond the floats would be cut for ever; the copy pass has
    // refused such a model, this only keeps the loop finite.
    if (!std::isfinite(longest)) longest = 0.0f;
    if (longest > maxShellEdge) splitFacetEdge(w, edge);
  }
  out = w;
  return !endOfModel;
}

void CocoonWrapper::countFacet() {
  ++st_.facetsWritten;
  if (st_.facetsWritten % 25000 == 0) {
    st_.meshProgress();
    st_.core.ui.processEvents();
  }
}

void CocoonWrapper::writeShellFacet(StlWriter& out, const std::array<float, 9>& c, bool swap, std::uint16_t attribute) {
  stlFacet f;
  f.corner[0] = {c[0], c[1], c[2]};
  f.corner[1] = {c[3], c[4], c[5]};
  f.corner[2] = {c[6], c[7], c[8]};
  if (swap) std::swap(f.corner[1], f.corner[2]);
  setFacetNormal(f);
  f.attribute = attribute;
  countFacet();
  out.write(f);
}

std::array<std::array<float, 2>, 9> CocoonWrapper::ringOf(const Row& r) {
  const float X0 = r[0], Y0 = r[1], S0 = r[2], D0 = r[3], X1 = r[4], Y1 = r[5], S1 = r[6], D1 = r[7];
  return {{{D0 + Y1, Y1},
           {S1 - Y1, Y1},
           {X1, S1 - X1},
           {X1, X1 - D1},
           {D1 + Y0, Y0},
           {S0 - Y0, Y0},
           {X0, S0 - X0},
           {X0, X0 - D0},
           {D0 + Y1, Y1}}};
}

bool CocoonWrapper::shellPass(int pass, StlReader& in, StlWriter& out, float minZ, int top, bool tapered,
                              std::uint16_t white) {
  for (Row& row : cocoonRows) row = {299.0f, 299.0f, 299.0f, 299.0f, -299.0f, -299.0f, -299.0f, -299.0f};
  in.rewind();
  splitQueue.clear();
  stlFacet f;
  while (nextCocoonFacet(f, in)) {
    for (const auto& c : f.corner) {
      const float v[4] = {c[0], c[1], c[0] + c[1], c[0] - c[1]};
      Row& row = cocoonRows[std::size_t(rowOf(c[2] - minZ))];
      for (std::size_t j = 0; j < 4; ++j) {
        row[j] = minFloat(row[j], v[j]);
        row[j + 4] = maxFloat(row[j + 4], v[j]);
      }
    }
  }
  if (in.failed()) return false;

  const std::size_t t = std::size_t(top);
  Row& base = cocoonRows[0];
  for (std::size_t r = 1; r <= t; ++r)
    for (std::size_t j = 0; j < 4; ++j) {
      base[j] = minFloat(base[j], cocoonRows[r][j]);
      base[j + 4] = maxFloat(base[j + 4], cocoonRows[r][j + 4]);
    }
  for (std::size_t r = 0; r <= t; ++r)
    for (int j = 0; j < 8; ++j) cocoonRows[r][std::size_t(j)] = float(cocoonRows[r][std::size_t(j)] - 3.0 * weightOf(j));
  if (tapered) {
    for (std::size_t r = t; r-- > 0;)
      for (std::size_t j = 0; j < 4; ++j) {
        cocoonRows[r][j] = minFloat(cocoonRows[r][j], cocoonRows[r + 1][j]);
        cocoonRows[r][j + 4] = maxFloat(cocoonRows[r][j + 4], cocoonRows[r + 1][j + 4]);
      }
    for (std::size_t r = 1; r <= t; ++r)
      for (std::size_t j = 0; j < 4; ++j) {
        cocoonRows[r][j] = minFloat(cocoonRows[r][j], cocoonRows[r - 1][j] + 1.0f);
        cocoonRows[r][j + 4] = maxFloat(cocoonRows[r][j + 4], cocoonRows[r - 1][j + 4] - 1.0f);
      }
  }
  // The outer surface 2 mm (2.82 on the diagonals) further out, so the wall
  // stands between 3 and 5 mm from the model.
  if (pass == 1)
    for (std::size_t r = 0; r <= t; ++r)
      for (int j = 0; j < 8; ++j)
        cocoonRows[r][std::size_t(j)] = float(cocoonRows[r][std::size_t(j)] - 2.0 * weightOf(j));
  if (!tapered)
    for (std::size_t r = 1; r <= t; ++r) cocoonRows[r] = base;

  // The rings run clockwise seen from above, so unswapped corners give a
  // normal pointing away from the model. The inner surface must face the
  // model and the outer one face away from it: the normals then point out
  // of the wall between them, and the slicer fills the wall.
  const bool swap = pass == 0;
  std::array<std::array<float, 2>, 9> lower{};
  float zLower = 0.0f;
  for (std::size_t e = 0; e <= t; ++e) {
    const auto upper = ringOf(cocoonRows[e]);
    const float zUpper = float(e) + minZ;
    if (e == t || (tapered && e > 0)) {
      for (std::size_t k = 0; k < 8; ++k) {
        const auto &u0 = upper[k], &u1 = upper[k + 1], &l0 = lower[k], &l1 = lower[k + 1];
        writeShellFacet(out, {u0[0], u0[1], zUpper, u1[0], u1[1], zUpper, l0[0], l0[1], zLower}, swap, white);
        writeShellFacet(out, {u1[0], u1[1], zUpper, l1[0], l1[1], zLower, l0[0], l0[1], zLower}, swap, white);
      }
    }
    if (e == 0 || tapered) {
      lower = upper;
      zLower = zUpper;
    }
  }
  return true;
}

bool CocoonWrapper::wrap(const std::string& input, const std::string& target, CocoonOptions options) {
  HostCore& core = st_.core;
  st_.facetsWritten = 0;
  StlReader in(core);
  if (!in.open(input)) return false;
  // An older result must not pass for this model's; an input of that name
  // stays until the new file replaces it.
  if (!sameFile(input, target)) std::remove(nativePath(expandCurrentDir(target)).c_str());
  if (!(std::isfinite(tf_.scale) && tf_.scale > 0.0f)) {
    core.memoPrintf("%s is not wrapped: the scale %g is not above 0", input, double(tf_.scale));
    return false;
  }
  StlWriter out(core, target);
  if (!out.open(in.head())) return false;
  const StlColours colours = in.colours();

  float lo[3] = {9999.0f, 9999.0f, 9999.0f}, hi[3] = {-9999.0f, -9999.0f, -9999.0f};
  unsigned long long notFinite = 0;  // number of the first such facet
  stlFacet f;
  while (in.next(f)) {
    transformCocoonFacet(f);
    if (options.withoutColour) f.attribute = colours.noColour();
    if (!notFinite && !finiteCorners(f)) notFinite = st_.facetsWritten + 1ull;
    out.write(f);
    countFacet();
    for (const auto& c : f.corner)
      for (std::size_t i = 0; i < 3; ++i) {
        lo[i] = minFloat(lo[i], c[i]);
        hi[i] = maxFloat(hi[i], c[i]);
      }
  }
  if (in.failed()) return false;
  core.memoPrintf("minxyz %3.1f %3.1f %3.1f", double(lo[0]), double(lo[1]), double(lo[2]));
  core.memoPrintf("maxxyz %3.1f %3.1f %3.1f", double(hi[0]), double(hi[1]), double(hi[2]));
  bool valid = notFinite == 0;
  for (int i = 0; i < 3; ++i)
    if (hi[i] - lo[i] < 0.0f || hi[i] - lo[i] > 3000.0f) valid = false;
  if (in.records() == 0) core.memoPrintf("%s holds no facets", input);
  if (notFinite) core.memoPrintf("%s: facet %llu has a corner that is not a finite number", input, notFinite);
  if (!valid) {
    core.memoPrintf("%s is not a valid stl file", input);
    return false;
  }
  if (options.walls) {
    const int top = clampInt(int(hi[2] - lo[2]), 0, kRows - 1);
    if (top == 0) {
      // A wall needs a ring below and one above.
      core.memoPrintf("%s is less than 1 mm high: no wall is built around it", input);
    } else {
      for (int pass = 0; pass < 2; ++pass)
        if (!shellPass(pass, in, out, lo[2], top, options.tapered, colours.white())) return false;
    }
  }
  return out.commit();
}

void replaceEvery(std::string& text, const std::string& search, const std::string& replacement) {
  if (search.empty()) return;
  for (int i = 0; i < 9999; ++i) {
    const auto at = text.find(search);
    if (at == std::string::npos) return;
    text.replace(at, search.size(), replacement);
  }
}

// ---- the mesh-tools window's side ----

void MeshTools::setCocoonTransform(float scale, float rx, float ry, float rz, bool walls) {
  cocoonScale = scale;
  cocoonRotX = rx;
  cocoonRotY = ry;
  cocoonRotZ = rz;
  cocoonWalls = walls;
}

bool MeshTools::wrapStlInput() {
  if (wrapping_) {
    // The progress line lets window events run; a second click waits.
    core.memoPrintf("%s is not wrapped: a wrapping is running", stlInputName);
    return false;
  }
  wrapping_ = true;
  CocoonWrapper wrapper(state, {cocoonScale, cocoonRotX, cocoonRotY, cocoonRotZ});
  const std::string folder = workFolder();
  const bool ok = wrapper.wrap(stlInputName, folder + "/!cocooned.stl",
                               {cocoonWalls, cocoonTapered, host.processWithoutColor()});
  wrapping_ = false;
  if (ok) setCocoonTransform(1.0f, 0.0f, 0.0f, 0.0f, true);
  return ok;
}

}  // namespace ph
