#pragma once
// The subcommands of mesh_bench. Each group of mesh tools registers its own
// in a file of its own, so `mesh_bench NAME ARGS...` runs the same code the
// menus run, without a window.
#include <map>
#include <string>

namespace bench {

struct MeshBenchCommand {
  std::string usage;                    // the arguments after the name
  int (*run)(int argc, char** argv);    // argv[0] is the subcommand's name
};

// Name -> command; filled before main by static registrations.
std::map<std::string, MeshBenchCommand>& meshBenchCommands();

struct RegisterMeshBenchCommand {
  RegisterMeshBenchCommand(const std::string& name, const std::string& usage, int (*run)(int, char**)) {
    meshBenchCommands()[name] = {usage, run};
  }
};

}  // namespace bench
