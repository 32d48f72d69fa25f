// mesh_bench subcommands of the voxel tools, running the code the menus run:
//
//   mesh_bench hollow MODEL.stl OUT.stl VOXEL SHELL BEAMS [offsets]
//   mesh_bench repair IN.stl OUT.stl
//   mesh_bench voidsplit MODEL.obj OUT.obj MICRONS [plain]
//
// "offsets" hollows with the test of every sphere offset and "plain" splits
// with every facet active at a ray's height tested: the references of the
// fast paths. Each prints what it made and the time it took; the status is
// 0 exactly when the output was written.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "tools/bench/mesh_bench_commands.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void printLog(const ph::CoreFixture& f, bool ok) {
  if (ok) return;
  for (const auto& line : f.log()) std::fprintf(stderr, "%s\n", line.c_str());
}

int hollow(int argc, char** argv) {
  if (argc < 6) return 2;
  ph::CoreFixture f;
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  ph::HollowParams p;
  p.voxel = std::atof(argv[3]);
  p.shell = std::atof(argv[4]);
  p.beams = std::atoi(argv[5]);
  p.offsetTest = argc > 6 && std::string(argv[6]) == "offsets";
  const auto start = std::chrono::steady_clock::now();
  const auto r = tools.voxel.hollowModel(argv[1], argv[2], p, false);
  const double s = secondsSince(start);
  printLog(f, bool(r));
  if (!r) return 1;
  std::printf("%s: grid %lld x %lld x %lld, radius %d, %lld cavity cells, %zu wall facets in %.3f s\n", argv[1],
              static_cast<long long>(r->shape.n[0]), static_cast<long long>(r->shape.n[1]),
              static_cast<long long>(r->shape.n[2]), r->radius, static_cast<long long>(r->cavityCells),
              r->wallFacets, s);
  return 0;
}

int repair(int argc, char** argv) {
  if (argc < 3) return 2;
  ph::CoreFixture f;
  const auto start = std::chrono::steady_clock::now();
  const auto r = ph::repairVoxelEdges(f.core, argv[1], argv[2]);
  const double s = secondsSince(start);
  printLog(f, bool(r));
  if (!r) return 1;
  std::printf("%s: %zu facets, %d edges split, %zu facets written in %.3f s\n", argv[1], r->facetsIn, r->edgesSplit,
              r->facetsOut, s);
  return 0;
}

int voidsplit(int argc, char** argv) {
  if (argc < 4) return 2;
  ph::CoreFixture f;
  const std::string out = ph::expandCurrentDir(argv[2]);
  std::string folder = ph::pathFolderOrCurrent(out);
  while (folder.size() > 1 && ph::isPathSep(folder.back())) folder.pop_back();
  f.core.s.file_folder = folder;
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  const int microns = std::atoi(argv[3]);
  const auto start = std::chrono::steady_clock::now();
  const bool plain = argc > 4 && std::string(argv[4]) == "plain";
  const auto r = tools.voxel.voidSplit(argv[1], out, microns, plain);
  const double s = secondsSince(start);
  printLog(f, bool(r));
  if (!r) return 1;
  std::printf("%s: %zu facets, %zu seen; %lld faces seen, %lld inside, in %.3f s\n", argv[1], r->facets,
              r->seenFacets, static_cast<long long>(r->seenFaces), static_cast<long long>(r->insideFaces), s);
  return 0;
}

const bench::RegisterMeshBenchCommand kHollow("hollow", "MODEL.stl OUT.stl VOXEL SHELL BEAMS [offsets]", hollow);
const bench::RegisterMeshBenchCommand kRepair("repair", "IN.stl OUT.stl", repair);
const bench::RegisterMeshBenchCommand kVoidSplit("voidsplit", "MODEL.obj OUT.obj MICRONS [plain]", voidsplit);

}  // namespace
