#pragma once
// Mesh tools on a scripted operator, in a scratch folder of their own, with
// small file writers and an independent reader of the binary STL they write.
#include <QImage>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/core/testing/core_fixture.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"

namespace ph::test {

// One facet as read back from the file, by a reader of its own.
struct ReadFacet {
  std::array<float, 3> normal;
  std::array<std::array<float, 3>, 3> corner;
  std::uint16_t attribute;
};
struct ReadStl {
  std::string head;  // the 80 header bytes
  std::uint32_t count = 0;
  std::vector<ReadFacet> facets;
};
ReadStl readStl(const std::string& path);
// 5-bit channels of an attribute.
inline int r5(std::uint16_t a) { return a >> 10 & 31; }
inline int g5(std::uint16_t a) { return a >> 5 & 31; }
inline int b5(std::uint16_t a) { return a & 31; }

// A copy of a file of testdata/mesh in the folder.
void copyTestModel(const std::string& name, const std::string& folder);
void writeText(const std::string& path, const std::string& text);

class MeshTest : public CoreFixture, public ::testing::Test {
 protected:
  MeshTest();
  ~MeshTest() override;

  std::string dir;  // scratch folder, also file_folder
  FakeMeshHost host;
  MeshTools tools{core, host};

  std::string at(const std::string& name) const { return dir + "/" + name; }
  bool logHas(const std::string& part) const;
  // Loads OBJ text through the reader (working folder: the scratch folder).
  bool loadText(const std::string& objText);
  // Converts an OBJ of the scratch folder on the host's road; the STL is
  // "convertedobj.stl" there.
  bool convert(const std::string& objName);
  ReadStl converted() const { return readStl(at("convertedobj.stl")); }
};

}  // namespace ph::test
