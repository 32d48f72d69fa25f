// A hollowed cube sliced by the real slicer (a second process): its middle
// layers show a hollow square whose wall is the shell thickness, its top
// and bottom layers are solid.
#include <unistd.h>

#include "host/core/testing/file_text.h"
#include "host/mesh/hollow.h"
#include "host/mesh/tests/stl_files.h"
#include "platform/process.h"
#include "slicer/tests/p3d_decode.h"

using namespace ph;
using namespace ph::test;

namespace {

struct HollowSlice : MeshTest {
  // Slices the model into 1 mm layers; "" on success.
  std::string slice(const std::string& model, const std::string& job) {
    auto r = plat::spawnProcess({LAYERTINT_PATH, "-F" + model, "-L1000", "-W64", "-S64", "-C50", "-D1000",
                                 "-K" + job, "-E32767", "-I" + std::to_string(getpid() % 90 + 2)});
    if (r.pid <= 0) return "cannot start the slicer: " + r.error;
    const auto status = plat::waitProcess(r.pid, 120000);
    if (!status) return "the slicer did not end";
    return *status == 0 ? "" : "the slicer ended with status " + std::to_string(*status);
  }
};

// The runs of inked dots of a row (any plane), as (first dot, length).
std::vector<std::pair<int, int>> inkedRuns(const lt::test::RasterRow& row) {
  std::size_t width = 0;
  for (const auto& p : row.plane) width = std::max(width, p.size() * 8);
  std::vector<std::pair<int, int>> runs;
  for (int x = 0; x < int(width); ++x) {
    bool inked = false;
    for (const auto& p : row.plane) inked = inked || lt::test::dot(p, x);
    if (!inked) continue;
    if (!runs.empty() && runs.back().first + runs.back().second == x) ++runs.back().second;
    else runs.push_back({x, 1});
  }
  return runs;
}

std::vector<std::size_t> inkedRows(const lt::test::RasterPage& page) {
  std::vector<std::size_t> rows;
  for (std::size_t r = 0; r < page.rows.size(); ++r)
    if (!inkedRuns(page.rows[r]).empty()) rows.push_back(r);
  return rows;
}

}  // namespace

TEST_F(HollowSlice, AHollowedCubeShowsAHollowSquareWithWallsOfTheShellThickness) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {40, 40, 40}, 0x801F));
  HollowParams p;
  p.voxel = 1.0;
  p.shell = 5.0;
  ASSERT_TRUE(hollowStl(core, at("cube.stl"), at("hollowed.stl"), p));
  ASSERT_EQ(slice(at("hollowed.stl"), at("hollowed.p3d")), "");
  std::vector<lt::test::RasterPage> pages;
  std::string error;
  ASSERT_TRUE(lt::test::parsePages(readAll(at("hollowed.p3d")), pages, error)) << error;
  ASSERT_GE(pages.size(), 38u);
  constexpr double kDotsPerMm = 300.0 / 25.4;
  const double voxelDots = kDotsPerMm;
  // Top and bottom: every inked row is one run across the whole cube.
  for (std::size_t layer : {std::size_t(1), std::size_t(2), pages.size() - 3, pages.size() - 2}) {
    SCOPED_TRACE("solid layer " + std::to_string(layer));
    const auto rows = inkedRows(pages[layer]);
    ASSERT_FALSE(rows.empty());
    for (std::size_t r : rows) EXPECT_EQ(inkedRuns(pages[layer].rows[r]).size(), 1u) << "row " << r;
  }
  // Middle layers: the rows through the cavity show two walls of 5 mm, each
  // to within one voxel, and the gap between them; the rows of the walls
  // across are solid.
  for (std::size_t layer = 12; layer <= 28; layer += 8) {
    SCOPED_TRACE("layer " + std::to_string(layer));
    const auto rows = inkedRows(pages[layer]);
    ASSERT_FALSE(rows.empty());
    EXPECT_NEAR(double(rows.back() - rows.front() + 1), 40 * kDotsPerMm, 3);
    const auto mid = inkedRuns(pages[layer].rows[rows[rows.size() / 2]]);
    ASSERT_EQ(mid.size(), 2u);
    EXPECT_NEAR(mid[0].second, 5 * kDotsPerMm, voxelDots + 2);
    EXPECT_NEAR(mid[1].second, 5 * kDotsPerMm, voxelDots + 2);
    EXPECT_NEAR(mid[1].first - (mid[0].first + mid[0].second), 30 * kDotsPerMm, 2 * voxelDots + 2);
    std::size_t solidRows = 0;
    for (std::size_t r : rows) solidRows += inkedRuns(pages[layer].rows[r]).size() == 1;
    EXPECT_NEAR(double(solidRows), 10 * kDotsPerMm, 2 * voxelDots + 2);
  }
}
