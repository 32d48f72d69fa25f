// Runs the mesh tools on given files without a window, for measuring and
// for checks from outside, and prints the time each took:
//
//   mesh_bench MODEL.obj [OUTPUT_FOLDER]   OBJ to coloured STL
//   mesh_bench NAME ARGS...                a registered subcommand
//
// The STL of the first form is "convertedobj.stl" in the output folder
// (default: the current folder). `mesh_bench` alone lists the subcommands.
#include <chrono>
#include <cstdio>
#include <string>

#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "tools/bench/mesh_bench_commands.h"

namespace bench {

std::map<std::string, MeshBenchCommand>& meshBenchCommands() {
  static std::map<std::string, MeshBenchCommand> commands;
  return commands;
}

}  // namespace bench

namespace {

int convertObj(int argc, char** argv) {
  ph::CoreFixture f;
  f.core.s.file_folder = argc > 2 ? argv[2] : ph::currentDir();
  ph::FakeMeshHost host;
  ph::MeshTools tools(f.core, host);
  const auto start = std::chrono::steady_clock::now();
  const bool ok = tools.runObjFile(argv[1]);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (const auto& line : f.log())
    if (!ok) std::fprintf(stderr, "%s\n", line.c_str());
  std::printf("%s: %d facets in %.3f s\n", argv[1], tools.state.facetsWritten, s);
  return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const auto& commands = bench::meshBenchCommands();
  if (argc < 2) {
    std::fprintf(stderr, "usage: mesh_bench MODEL.obj [OUTPUT_FOLDER]\n");
    for (const auto& [name, c] : commands) std::fprintf(stderr, "       mesh_bench %s %s\n", name.c_str(), c.usage.c_str());
    return 2;
  }
  if (auto it = commands.find(argv[1]); it != commands.end()) return it->second.run(argc - 1, argv + 1);
  return convertObj(argc, argv);
}
