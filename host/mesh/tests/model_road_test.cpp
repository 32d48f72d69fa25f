// The real program opens a PLY and a 3MF model on the model road of an
// unattended convert-only run: the mesh tools make the coloured STL in
// process, the slicer slices it and the job is converted.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "host/core/testing/file_text.h"
#include "platform/process.h"

namespace {

std::string readAll(const std::filesystem::path& path) { return ph::test::readAll(path.string()); }

// A 20 mm cube whose eight corners have eight colours, as an ASCII PLY of
// six quads.
std::string colouredCubePly() {
  std::string s = "ply\nformat ascii 1.0\nelement vertex 8\nproperty float x\nproperty float y\nproperty float z\n"
                  "property uchar red\nproperty uchar green\nproperty uchar blue\nelement face 6\n"
                  "property list uchar int vertex_indices\nend_header\n";
  for (int i = 0; i < 8; ++i)
    s += std::to_string((i & 1) * 20) + " " + std::to_string((i >> 1 & 1) * 20) + " " + std::to_string((i >> 2 & 1) * 20) +
         " " + std::to_string((i & 1) * 255) + " " + std::to_string((i >> 1 & 1) * 255) + " " +
         std::to_string((i >> 2 & 1) * 255) + "\n";
  s += "4 0 2 3 1\n4 4 5 7 6\n4 0 1 5 4\n4 2 6 7 3\n4 0 4 6 2\n4 1 3 7 5\n";
  return s;
}

}  // namespace

TEST(ModelRoad, PlyAnd3mfModelsAreConvertedSlicedAndTheJobConverted) {
  namespace fs = std::filesystem;
  const struct {
    const char* name;
    std::size_t facets;
  } models[] = {{"cube.ply", 12}, {"pyramid_vertexcolor.3mf", 4}};
  for (const auto& m : models) {
    SCOPED_TRACE(m.name);
    const fs::path dir = fs::temp_directory_path() / ("phroad-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    if (std::string(m.name) == "cube.ply")
      std::ofstream(dir / m.name, std::ios::binary) << colouredCubePly();
    else
      fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/mesh/" + m.name, dir / m.name);
    setenv("PRISM_NAMESPACE", ("r" + std::to_string(getpid()) + "_").c_str(), 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    const fs::path old = fs::current_path();
    fs::current_path(dir);
    auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", m.name, "-V"});
    ASSERT_GT(p.pid, 0);
    EXPECT_EQ(plat::waitProcess(p.pid, 120000), 0);
    const std::string log = readAll("prismhost.log");
    fs::current_path(old);

    EXPECT_NE(log.find("converted to stl with"), std::string::npos) << log;
    EXPECT_NE(log.find("exe: "), std::string::npos);
    EXPECT_NE(log.find(".dmc created"), std::string::npos);
    const std::string stl = readAll(dir / "convertedobj.stl");
    ASSERT_EQ(stl.size(), 84 + 50 * m.facets);
    std::set<unsigned> colours;
    for (std::size_t at = 84; at + 50 <= stl.size(); at += 50)
      colours.insert(static_cast<unsigned char>(stl[at + 48]) | static_cast<unsigned char>(stl[at + 49]) << 8);
    EXPECT_GT(colours.size(), 1u);
    EXPECT_GT(fs::file_size(dir / "temp.dmc"), 1000u);
    fs::remove_all(dir);
  }
}
