#include "host/mesh/tests/mesh_fixture.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace ph::test {

namespace {
float floatAt(const std::string& b, std::size_t at) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = u << 8 | static_cast<unsigned char>(b[at + std::size_t(i)]);
  float f;
  std::memcpy(&f, &u, 4);
  return f;
}
}  // namespace

ReadStl readStl(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string b = ss.str();
  ReadStl s;
  if (b.size() < 84) return s;
  s.head = b.substr(0, 80);
  for (int i = 3; i >= 0; --i) s.count = s.count << 8 | static_cast<unsigned char>(b[80 + std::size_t(i)]);
  for (std::size_t at = 84; at + 50 <= b.size(); at += 50) {
    ReadFacet f;
    for (int i = 0; i < 3; ++i) f.normal[std::size_t(i)] = floatAt(b, at + 4 * std::size_t(i));
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < 3; ++i)
        f.corner[std::size_t(c)][std::size_t(i)] = floatAt(b, at + 12 + 12 * std::size_t(c) + 4 * std::size_t(i));
    f.attribute = static_cast<std::uint16_t>(static_cast<unsigned char>(b[at + 48]) |
                                             static_cast<unsigned char>(b[at + 49]) << 8);
    s.facets.push_back(f);
  }
  return s;
}

void copyTestModel(const std::string& name, const std::string& folder) {
  const char* root = std::getenv("PRISM_TEST_DATA");
  ASSERT_NE(root, nullptr);
  std::filesystem::copy_file(std::string(root) + "/mesh/" + name, folder + "/" + name,
                             std::filesystem::copy_options::overwrite_existing);
}

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

MeshTest::MeshTest() {
  dir = (std::filesystem::temp_directory_path() /
         ("meshtest-" + std::to_string(getpid()) + "-" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name()))
            .string();
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  core.s.file_folder = dir;
  core.progDir = dir + "/";
  tools.prepareWindow();
}

MeshTest::~MeshTest() { std::filesystem::remove_all(dir); }

bool MeshTest::logHas(const std::string& part) const {
  for (const auto& l : log())
    if (l.find(part) != std::string::npos) return true;
  return false;
}

bool MeshTest::loadText(const std::string& objText) {
  writeText(at("model.obj"), objText);
  tools.state.workingFolder = dir;
  std::FILE* f = std::fopen(at("model.obj").c_str(), "r");
  const bool ok = tools.reader.loadObj(f, "model.obj");
  std::fclose(f);
  return ok;
}

bool MeshTest::convert(const std::string& objName) { return tools.runObjFile(at(objName)); }

}  // namespace ph::test
