// mesh_bench subcommands of the texture tools:
//   mesh_bench planar MODEL OUTBASE   "stl2texture" for an STL, "faceTexture" for an OBJ
//   mesh_bench head MODEL.obj OUTBASE X0 Y0 Z0 X1 Y1 Z1
//   mesh_bench objread MODEL.obj      only reads the OBJ, the yardstick
// OUTBASE is the base name of the files written beside the model.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "host/scantools/texture_tools.h"
#include "tools/bench/mesh_bench_commands.h"

namespace {

double seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int finish(const ph::CoreFixture& f, bool ok, const char* what, const char* model, double s) {
  for (const auto& line : f.log())
    if (!ok) std::fprintf(stderr, "%s\n", line.c_str());
  std::printf("%s %s: %s in %.3f s\n", what, model, ok ? "done" : "failed", s);
  return ok ? 0 : 1;
}

int usage(const char* text) {
  std::fprintf(stderr, "usage: mesh_bench %s\n", text);
  return 2;
}

int planar(int argc, char** argv) {
  if (argc != 3) return usage("planar MODEL OUTBASE");
  ph::CoreFixture f;
  f.core.s.file_folder = ph::parentDir(argv[1]);
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  ph::TextureTools tex(f.core, tools);
  const auto start = std::chrono::steady_clock::now();
  const bool obj = ph::extensionOf(argv[1]) == "obj";
  const bool ok = obj ? tex.planarFaceTexture(argv[1], argv[2], false) : tex.planarColourTexture(argv[1], argv[2]);
  return finish(f, ok, obj ? "faceTexture" : "stl2texture", argv[1], seconds(start));
}

int head(int argc, char** argv) {
  if (argc != 9) return usage("head MODEL.obj OUTBASE X0 Y0 Z0 X1 Y1 Z1");
  double v[6];
  for (int i = 0; i < 6; ++i) v[i] = std::atof(argv[3 + i]);
  ph::CoreFixture f;
  f.core.s.file_folder = ph::parentDir(argv[1]);
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  ph::TextureTools tex(f.core, tools);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = tex.headTexture(argv[1], argv[2], {v[0], v[1], v[2]}, {v[3], v[4], v[5]});
  std::printf("placed: sides %d, top %d, rest %d\n", tex.placedSides, tex.placedTop, tex.placedRest);
  return finish(f, ok, "head", argv[1], seconds(start));
}

int objread(int argc, char** argv) {
  if (argc != 2) return usage("objread MODEL.obj");
  ph::CoreFixture f;
  f.core.s.file_folder = ph::parentDir(argv[1]);
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  tools.state.workingFolder = ph::parentDir(argv[1]);
  const auto start = std::chrono::steady_clock::now();
  std::FILE* in = std::fopen(argv[1], "r");
  const bool ok = in && tools.reader.loadObj(in, argv[1]);
  if (in) std::fclose(in);
  std::printf("%zu faces\n", tools.state.model.faces.size());
  return finish(f, ok, "objread", argv[1], seconds(start));
}

const bench::RegisterMeshBenchCommand objreadCommand("objread", "MODEL.obj", objread);
const bench::RegisterMeshBenchCommand planarCommand("planar", "MODEL OUTBASE", planar);
const bench::RegisterMeshBenchCommand headCommand("head", "MODEL.obj OUTBASE X0 Y0 Z0 X1 Y1 Z1", head);

}  // namespace
