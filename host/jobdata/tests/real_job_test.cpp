// A job written by the real slicer converts: layertint slices a small
// coloured cube, and the conversion's records, drops and layout fit it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "conversion_fixture.h"
#include "platform/process.h"

namespace ph::testing {
namespace {

// A binary STL cube of `size` mm whose sides carry two colours.
void writeCube(const std::string& path, float size) {
  std::ofstream out(path, std::ios::binary);
  char header[80] = "conversion test cube";
  out.write(header, 80);
  const std::uint32_t count = 12;
  out.write(reinterpret_cast<const char*>(&count), 4);
  const float s = size;
  const float v[8][3] = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0}, {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  for (int f = 0; f < 12; ++f) {
    const float normal[3] = {0, 0, 0};
    out.write(reinterpret_cast<const char*>(normal), 12);
    for (int k : faces[f]) out.write(reinterpret_cast<const char*>(v[k]), 12);
    const std::uint16_t colour = f < 6 ? 0x8000 | (31 << 10) : 0x8000 | 31;  // red, blue
    out.write(reinterpret_cast<const char*>(&colour), 2);
  }
}

TEST_F(ConversionFixture, JobFromTheSlicerConverts) {
  setenv("PRISM_NAMESPACE", ("tconvreal" + std::to_string(getpid()) + "_").c_str(), 1);
  const std::string model = dir + "/cube.stl", job = dir + "/cube.p3d";
  writeCube(model, 10.0f);
  auto r = plat::spawnProcess(
      {LAYERTINT_PATH, "-F" + model, "-L250", "-W64", "-S64", "-C50", "-D1000", "-K" + job, "-E32767", "-I7"});
  ASSERT_GT(r.pid, 0) << r.error;
  const auto status = plat::waitProcess(r.pid, 60000);
  ASSERT_TRUE(status.has_value());
  ASSERT_EQ(*status, 0);

  core.openJobName = job;
  conv->blockbased1Click();
  ASSERT_TRUE(logHas(".dmc created"));
  EXPECT_TRUE(core.dmcCurrent);
  EXPECT_TRUE(ui.messages.empty()) << ui.messages.front();  // layer thickness as set
  const JobLayout& l = conv->layout;
  EXPECT_NEAR(l.printpages, 41, 3);  // 10 mm of 250 um layers, and the slicer's end layers
  // 10 mm are 118 dots: two bands, plus the half band of bridge layers and two.
  EXPECT_EQ(l.stretchesPerLayer, 4);
  EXPECT_NEAR(l.bbox.right - l.bbox.left, 118, 10);
  // Water fills the inside (minus the coloured skin); the skin takes colour.
  const auto& d = conv->parser.drops;
  const double inside = 118.0 * 118.0 * l.printpages;
  EXPECT_GT(double(d[0]), 0.3 * inside);
  EXPECT_LT(double(d[0]), 1.1 * inside);
  EXPECT_GT(d[1] + d[2] + d[3], 0);
  // Every record decodes on its own, within the stretch's column limit.
  const auto recs = records();
  int layerEnds = 0;
  for (const auto& rec : recs) {
    EXPECT_LE(decodeStretch(core, rec.data).size(), std::size_t(l.endx1200 + 1));
    layerEnds += rec.type == '}';
  }
  EXPECT_EQ(layerEnds, l.printpages + 1);  // and the closing record
}

}  // namespace
}  // namespace ph::testing
