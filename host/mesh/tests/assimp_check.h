#pragma once
// A second reading of a model file by the Open Asset Import Library's
// command-line program, when it is installed ("assimp info").
#include <array>
#include <optional>
#include <string>

namespace ph::test {

struct AssimpInfo {
  long faces = -1;  // of the meshes, each counted once however often placed
  std::array<double, 3> min{}, max{};
};
// Nothing when the program is not installed or cannot read the file.
std::optional<AssimpInfo> assimpInfo(const std::string& path);
bool assimpInstalled();

}  // namespace ph::test
