// Jobs written by the real slicer convert: layertint slices a small
// coloured cube, and the conversion's records, drops and layout fit it;
// models whose stretches split and whose backward passes outgrow the size
// limit keep every dot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "conversion_fixture.h"
#include "job_dots.h"
#include "stl_models.h"

namespace ph::testing {
namespace {

TEST_F(ConversionFixture, JobFromTheSlicerConverts) {
  const std::string model = dir + "/cube.stl", job = dir + "/cube.p3d";
  writeStl(model, cubeModel(10.0f));
  ASSERT_EQ(sliceModel(model, job, 250), "");

  this->job.jobFileName = job;
  conv->convertJob();
  ASSERT_TRUE(logHas(".dmc created"));
  EXPECT_TRUE(this->job.dmcCurrent);
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

struct ModelCase {
  const char* name;
  std::vector<Facet> (*model)();
  int microns;
  int stretchSizeLim;
  bool bidirectional;
};

// Walls of solid water with a coloured skin: long runs of columns that
// repeat, split where the data outgrows the limit.
std::vector<Facet> hollowBox() { return hollowBoxModel(60.0f, 60.0f, 10.0f, 2.0f); }
std::vector<Facet> hollowCube() { return hollowBoxModel(24.0f, 24.0f, 24.0f, 3.0f); }
std::vector<Facet> torus() { return torusModel(15.0f, 6.0f, 96, 32); }

void PrintTo(const ModelCase& c, std::ostream* os) { *os << c.name; }

class SlicedModels : public ConversionFixture, public ::testing::WithParamInterface<ModelCase> {};

TEST_P(SlicedModels, KeepEveryDot) {
  const ModelCase& c = GetParam();
  const std::string model = dir + "/model.stl", job = dir + "/model.p3d";
  writeStl(model, c.model());
  ASSERT_EQ(sliceModel(model, job, c.microns), "");
  this->job.jobFileName = job;
  core.s.layerMicrons = c.microns;
  core.s.stretchSizeLim = c.stretchSizeLim;
  core.s.bidirectional = c.bidirectional;
  conv->convertJob();
  ASSERT_TRUE(logHas(".dmc created"));
  const auto bytes = dmc();
  std::ifstream in(job, std::ios::binary);
  const std::string p3d{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const auto dots = p3dLayerDots(p3d);
  const auto fired = dmcLayerBits(core, bytes, 64);
  ASSERT_GE(fired.size(), dots.size());
  long long lost = 0, inked = 0;
  for (std::size_t l = 0; l < fired.size(); ++l) {
    const FiredBits want = l < dots.size() ? expectedBits(dots[l], 64, false, false) : FiredBits{};
    lost += want.water - fired[l].water + want.colour - fired[l].colour;
    inked += want.water + want.colour;
    EXPECT_EQ(fired[l], want) << "layer " << l;
  }
  EXPECT_EQ(lost, 0);
  EXPECT_GT(inked, 0);
  std::string types;
  for (const auto& r : parseRecords(bytes)) types += r.type;
  EXPECT_NE(types.find('!'), std::string::npos) << "no stretch was split";
  if (c.bidirectional) {
    EXPECT_TRUE(backwardPassRebuilt(stretchTypes(bytes))) << "no backward pass outgrew the limit";
  }
}

INSTANTIATE_TEST_SUITE_P(Conversion, SlicedModels,
                         ::testing::Values(ModelCase{"HollowBox", hollowBox, 250, 26000, false},
                                           ModelCase{"TorusSmallStretches", torus, 250, 3000, false},
                                           ModelCase{"TorusBidirectional", torus, 250, 5000, true},
                                           ModelCase{"HollowBoxThinLayersBidirectional", hollowCube, 100, 10000, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ph::testing
