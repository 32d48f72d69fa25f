#include "host/mesh/voxel_repair.h"

#include <algorithm>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/mesh/hollow.h"
#include "host/mesh/stl_stream.h"

namespace ph {

namespace {

bool sameCorner(const FloatTriple& a, const FloatTriple& b) {
  return nearlyEqual(a[0], b[0]) && nearlyEqual(a[1], b[1]) && nearlyEqual(a[2], b[2]);
}

void logFacet(HostCore& core, const char* name, const stlFacet& f) {
  core.memoPrintf("%s= {%g,%g,%g} {%g,%g,%g} {%g,%g,%g} ", name, double(f.corner[0][0]), double(f.corner[0][1]),
                  double(f.corner[0][2]), double(f.corner[1][0]), double(f.corner[1][1]), double(f.corner[1][2]),
                  double(f.corner[2][0]), double(f.corner[2][1]), double(f.corner[2][2]));
}

}  // namespace

void xEdgeFirst(std::vector<stlFacet>& list) {
  for (stlFacet& f : list) {
    int edge = -1;
    for (int k = 0; k < 3; ++k) {
      const auto& a = f.corner[k];
      const auto& b = f.corner[(k + 1) % 3];
      if (nearlyEqual(a[1], b[1]) && nearlyEqual(a[2], b[2])) edge = k;
    }
    if (edge > 0) std::rotate(std::begin(f.corner), std::begin(f.corner) + edge, std::end(f.corner));
  }
}

void sortByFirstCorner(std::vector<stlFacet>& list) {
  std::stable_sort(list.begin(), list.end(), [](const stlFacet& a, const stlFacet& b) {
    const auto& p = a.corner[0];
    const auto& q = b.corner[0];
    if (p[2] != q[2]) return p[2] < q[2];
    if (p[1] != q[1]) return p[1] < q[1];
    return p[0] < q[0];
  });
}

void quarterTurn(std::vector<stlFacet>& list, int a, int b) {
  auto turn = [&](FloatTriple& v) {
    const float oa = v[std::size_t(a)], ob = v[std::size_t(b)];
    v[std::size_t(a)] = -ob;
    v[std::size_t(b)] = oa;
  };
  for (stlFacet& f : list) {
    for (auto& c : f.corner) turn(c);
    turn(f.normal);
  }
}

int repairAlongAxis(HostCore& core, std::vector<stlFacet>& list, bool flag) {
  xEdgeFirst(list);
  sortByFirstCorner(list);
  std::vector<stlFacet> added;
  int split = 0;
  const std::size_t n = list.size();
  for (std::size_t ia = 0; ia < n; ++ia) {
    for (std::size_t ib = ia; ib < n && list[ib].corner[0][2] <= list[ia].corner[0][2] + 0.1f; ++ib) {
      const stlFacet& A = list[ia];
      const stlFacet& B = list[ib];
      if (ib == ia || !(A.corner[0][0] < A.corner[1][0]) || !sameCorner(B.corner[0], A.corner[0]) ||
          !sameCorner(B.corner[1], A.corner[1]))
        continue;
      logFacet(core, "p", A);
      logFacet(core, "q", B);
      for (std::size_t ic = ia; ic < n; ++ic) {
        stlFacet& C = list[ic];
        if (!sameCorner(C.corner[0], A.corner[1]) || !sameCorner(C.corner[1], A.corner[0])) continue;
        const bool facing = nearlyEqual(A.normal[1], -C.normal[1]) && nearlyEqual(A.normal[2], C.normal[0]);
        stlFacet& D = facing == flag ? list[ia] : list[ib];
        logFacet(core, "p3", D);
        logFacet(core, "p2", C);
        const vect3 M = (vect3FromFloats(D.corner[0]) + vect3FromFloats(D.corner[1])) * 0.5 -
                        facetNormal(D) * 0.2 - facetNormal(C) * 0.2;
        stlFacet n1 = D;
        vect3ToFloats(n1.corner[1], M);
        added.push_back(n1);
        vect3ToFloats(D.corner[0], M);
        stlFacet n2 = C;
        vect3ToFloats(n2.corner[1], M);
        added.push_back(n2);
        vect3ToFloats(C.corner[0], M);
        ++split;
        break;
      }
    }
  }
  // New facets went to the head of the list, the newest first.
  list.insert(list.begin(), added.rbegin(), added.rend());
  return split;
}

std::optional<RepairResult> repairVoxelEdges(HostCore& core, const std::string& input, const std::string& output) {
  FacetList model;
  if (!readStlFacets(core, input, model)) {
    core.memoPrintf("%s not repaired", input);
    return std::nullopt;
  }
  RepairResult result;
  result.facetsIn = model.facets.size();
  // The list holds the facets in reverse file order.
  std::vector<stlFacet> list(model.facets.rbegin(), model.facets.rend());
  model.facets = {};
  core.memoPrintf("along x");
  result.edgesSplit += repairAlongAxis(core, list, false);
  quarterTurn(list, 0, 1);
  core.memoPrintf("along y");
  result.edgesSplit += repairAlongAxis(core, list, false);
  quarterTurn(list, 1, 0);
  quarterTurn(list, 0, 2);
  core.memoPrintf("along z");
  result.edgesSplit += repairAlongAxis(core, list, true);
  quarterTurn(list, 2, 0);
  if (!writeStlFacets(core, output, list)) return std::nullopt;
  result.facetsOut = list.size();
  core.memoPrintf("saved as %s", fileNamePart(output));
  return result;
}

}  // namespace ph
