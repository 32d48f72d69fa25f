// Converts an OBJ to coloured binary STL with the mesh tools, as the host's
// open-model road does, and prints the time it took:
//
//   mesh_bench MODEL.obj [OUTPUT_FOLDER]
//
// The STL is "convertedobj.stl" in the output folder (default: the current
// folder).
#include <chrono>
#include <cstdio>
#include <string>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_tools.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: mesh_bench MODEL.obj [OUTPUT_FOLDER]\n");
    return 2;
  }
  ph::CoreFixture f;
  f.core.s.file_folder = argc > 2 ? argv[2] : ph::currentDir();
  ph::MeshTools tools(f.core);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = tools.runObjFile(argv[1]);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const auto& line : f.log())
    if (!ok) std::fprintf(stderr, "%s\n", line.c_str());
  std::printf("%s: %d facets in %.3f s\n", argv[1], tools.state.facetsWritten, s);
  return ok ? 0 : 1;
}
