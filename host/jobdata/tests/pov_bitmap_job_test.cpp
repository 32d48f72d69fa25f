// Jobs that the real slicer makes from a POV scene and from a picture file
// convert into jetting data.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "conversion_fixture.h"
#include "platform/process.h"

namespace ph::testing {
namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// A cube of `size` mm as a POV scene of smooth triangles, green on top of
// the default colour.
std::string povCube(int size) {
  const int s = size;
  const int v[8][3] = {{0, 0, 0}, {s, 0, 0}, {s, s, 0}, {0, s, 0}, {0, 0, s}, {s, 0, s}, {s, s, s}, {0, s, s}};
  // Outward in the right-hand order.
  const int faces[12][3] = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                            {1, 2, 6}, {1, 6, 5}, {2, 3, 7}, {2, 7, 6}, {3, 0, 4}, {3, 4, 7}};
  std::string scene = "// cube\ntexture { pigment { color rgb <0, 1, 0> } }\n";
  for (const auto& f : faces) {
    scene += "smooth_triangle {";
    for (int k : f) {
      scene += " <" + std::to_string(v[k][0]) + ", " + std::to_string(v[k][1]) + ", " + std::to_string(v[k][2]) + ">,";
      scene += " <0, 0, 1>,";
    }
    scene.back() = ' ';
    scene += "}\n";
  }
  return scene;
}

void put(std::string& b, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b += char(v >> (8 * i) & 255);
}

// A 24-bit BMP of w x h pixels, white with a blue square in the middle.
std::string bmpSquare(int w, int h) {
  const int stride = (w * 3 + 3) / 4 * 4;
  std::string b = "BM";
  put(b, std::uint32_t(54 + stride * h), 4);
  put(b, 0, 4);
  put(b, 54, 4);
  put(b, 40, 4);
  put(b, std::uint32_t(w), 4);
  put(b, std::uint32_t(h), 4);
  put(b, 1, 2);
  put(b, 24, 2);
  for (int i = 0; i < 6; ++i) put(b, 0, 4);
  for (int y = h - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < w; ++x) {
      const bool square = x >= w / 4 && x < 3 * w / 4 && y >= h / 4 && y < 3 * h / 4;
      row += square ? std::string("\xff\0\0", 3) : std::string("\xff\xff\xff", 3);
    }
    row.resize(std::size_t(stride), '\0');
    b += row;
  }
  return b;
}

int slice(const std::string& model, const std::string& job) {
  auto r = plat::spawnProcess(
      {LAYERTINT_PATH, "-F" + model, "-L250", "-W64", "-S64", "-C50", "-D1000", "-K" + job, "-E32767", "-I7"});
  EXPECT_GT(r.pid, 0) << r.error;
  const auto status = plat::waitProcess(r.pid, 60000);
  return status ? *status : -1;
}

TEST_F(ConversionFixture, JobFromAPovSceneConverts) {
  setenv("PRISM_NAMESPACE", ("tconvpov" + std::to_string(getpid()) + "_").c_str(), 1);
  const std::string scene = dir + "/cube.pov", job = dir + "/cube.p3d";
  writeText(scene, povCube(10));
  ASSERT_EQ(slice(scene, job), 0);

  this->job.jobFileName = job;
  conv->convertJob();
  ASSERT_TRUE(logHas(".dmc created"));
  const JobLayout& l = conv->layout;
  EXPECT_NEAR(l.printpages, 41, 3);
  EXPECT_NEAR(l.bbox.right - l.bbox.left, 118, 10);
  const auto& d = conv->parser.drops;
  EXPECT_GT(d[0], 0);
  EXPECT_GT(d[1] + d[3], 0);  // green: cyan and yellow
}

TEST_F(ConversionFixture, JobFromAPictureConverts) {
  setenv("PRISM_NAMESPACE", ("tconvbmp" + std::to_string(getpid()) + "_").c_str(), 1);
  const std::string picture = dir + "/square.bmp", job = dir + "/square.p3d";
  writeText(picture, bmpSquare(42, 42));
  ASSERT_EQ(slice(picture, job), 0);

  this->job.jobFileName = job;
  conv->convertJob();
  ASSERT_TRUE(logHas(".dmc created"));
  const JobLayout& l = conv->layout;
  // The square: 21 pixels at three dots each, in whole bytes.
  EXPECT_NEAR(l.bbox.right - l.bbox.left, 63, 10);
  const auto& d = conv->parser.drops;
  EXPECT_GT(d[1] + d[2], 0);  // blue: cyan and magenta
}

}  // namespace
}  // namespace ph::testing
