// A wrapped model sliced by the real slicer (a second process): the wall
// between the two surfaces comes out solid in the layers, apart from the
// model by the gap the surfaces leave.
#include <unistd.h>

#include "host/core/testing/file_text.h"
#include "host/mesh/tests/stl_files.h"
#include "platform/process.h"
#include "slicer/tests/p3d_decode.h"

using namespace ph;
using namespace ph::test;

namespace {

struct CocoonSlice : MeshTest {
  // Slices the model into 0.5 mm layers; "" on success.
  std::string slice(const std::string& model, const std::string& job) {
    auto r = plat::spawnProcess({LAYERTINT_PATH, "-F" + model, "-L500", "-W64", "-S64", "-C50", "-D1000",
                                 "-K" + job, "-E32767", "-I" + std::to_string(getpid() % 90 + 2)});
    if (r.pid <= 0) return "cannot start the slicer: " + r.error;
    const auto status = plat::waitProcess(r.pid, 60000);
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

}  // namespace

TEST_F(CocoonSlice, TheWallOfAWrappedCubeIsSolidInItsLayers) {
  writeStl(at("cube.stl"), boxFacets({0, 0, 0}, {10, 10, 10}, 0x801F));
  tools.stlInputName = at("cube.stl");
  ASSERT_TRUE(tools.wrapStlInput());
  ASSERT_EQ(slice(at("!cocooned.stl"), at("cube.p3d")), "");
  std::vector<lt::test::RasterPage> pages;
  std::string error;
  ASSERT_TRUE(lt::test::parsePages(readAll(at("cube.p3d")), pages, error)) << error;
  ASSERT_GE(pages.size(), 18u);
  constexpr double kDotsPerMm = 300.0 / 25.4;
  // Layers at 1 to 9 mm: the row through the middle of what was inked shows
  // the wall (2 mm), the gap (3 mm), the cube (10 mm), the gap, the wall.
  for (std::size_t layer = 2; layer <= 18; layer += 4) {
    SCOPED_TRACE("layer " + std::to_string(layer));
    const auto& rows = pages[layer].rows;
    std::vector<std::size_t> inkedRows;
    for (std::size_t r = 0; r < rows.size(); ++r)
      if (!inkedRuns(rows[r]).empty()) inkedRows.push_back(r);
    ASSERT_FALSE(inkedRows.empty());
    // The wall is 20 mm across from its outside to its outside.
    EXPECT_NEAR(double(inkedRows.back() - inkedRows.front() + 1), 20 * kDotsPerMm, 3);
    const auto runs = inkedRuns(rows[inkedRows[inkedRows.size() / 2]]);
    ASSERT_EQ(runs.size(), 3u);
    EXPECT_NEAR(runs[0].second, 2 * kDotsPerMm, 3);
    EXPECT_NEAR(runs[1].second, 10 * kDotsPerMm, 3);
    EXPECT_NEAR(runs[2].second, 2 * kDotsPerMm, 3);
    EXPECT_NEAR(runs[1].first - (runs[0].first + runs[0].second), 3 * kDotsPerMm, 3);
    EXPECT_NEAR(runs[2].first - (runs[1].first + runs[1].second), 3 * kDotsPerMm, 3);
  }
}
