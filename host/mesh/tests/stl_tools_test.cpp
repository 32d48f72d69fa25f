// The height profile and the binary STL tools: split by a sphere, merge,
// head enlargement, brightness balance, mid-height split, volume.
#include <algorithm>
#include <array>
#include <cmath>
#include <filesystem>
#include <limits>

#include "host/core/testing/file_text.h"
#include "host/mesh/stl_tools.h"
#include "host/mesh/tests/stl_files.h"

using namespace ph;
using namespace ph::test;

namespace {

constexpr std::uint16_t kBlue = 0x801F, kRed = 0xFC00;

struct StlTools_ : MeshTest {
  std::array<float, 300> profile{};
  bool profileOf(const std::vector<ReadFacet>& model, int n = 300) {
    writeStl(at("model.stl"), model);
    return makeHeightProfile(core, at("model.stl"), std::span<float>(profile.data(), std::size_t(n)), 1.0f, 50, 30);
  }
  // The expected profile from peaks: each bin the highest of every peak's
  // height + 0.3 minus 0.5 per bin of distance, at least -1.0 (but bin 299,
  // which only the forward pass reaches).
  struct Peak {
    int from, to;
    float height;
  };
  static std::array<float, 300> expectedProfile(std::initializer_list<Peak> peaks) {
    std::array<float, 300> e;
    for (int i = 0; i < 300; ++i) {
      float v = -1e9f, forward = -1e9f;
      for (const Peak& p : peaks) {
        const int d = i < p.from ? p.from - i : i > p.to ? i - p.to : 0;
        v = std::max(v, p.height + 0.3f - 0.5f * float(d));
        if (i >= p.from) forward = std::max(forward, p.height + 0.3f - 0.5f * float(std::max(0, i - p.to)));
      }
      e[std::size_t(i)] = i == 299 ? forward : std::max(v, -1.0f);
    }
    return e;
  }
  std::vector<std::string> sortedRecords(const std::string& path) {
    auto r = facetRecords(path);
    std::sort(r.begin(), r.end());
    return r;
  }
};

}  // namespace

TEST_F(StlTools_, TheHeightProfileOfACube) {
  ASSERT_TRUE(profileOf(boxFacets({0, 0, 0}, {10, 10, 10}, kBlue)));
  const auto expected = expectedProfile({{30, 40, 10.0f}});
  for (int i = 0; i < 300; ++i) EXPECT_NEAR(profile[std::size_t(i)], expected[std::size_t(i)], 1e-4) << "bin " << i;
  // The values worked out by hand at the turns.
  EXPECT_NEAR(profile[41], 9.8f, 1e-4);
  EXPECT_NEAR(profile[62], -0.7f, 1e-4);
  EXPECT_NEAR(profile[299], -119.2f, 1e-3);
  EXPECT_NEAR(profile[8], -0.7f, 1e-4);
  EXPECT_EQ(profile[7], -1.0f);

  // Raised by 5 mm: the same heights above the model's foot.
  const auto flat = profile;
  ASSERT_TRUE(profileOf(boxFacets({0, 0, 5}, {10, 10, 15}, kBlue)));
  for (int i = 0; i < 300; ++i) EXPECT_NEAR(profile[std::size_t(i)], flat[std::size_t(i)], 1e-4) << "bin " << i;

  // One bin: its absolute height + 0.3.
  ASSERT_TRUE(profileOf(boxFacets({0, 0, 5}, {10, 10, 15}, kBlue), 1));
  EXPECT_NEAR(profile[0], 15.3f, 1e-4);
}

TEST_F(StlTools_, TheHeightProfileOfAStepPyramid) {
  // A 40 mm square 5 mm high (y 0..40) under a 10 mm square from 5 to 10 mm
  // (y 15..25): the base shows where the top's slope falls below it.
  auto model = boxFacets({0, 0, 0}, {40, 40, 5}, kBlue);
  const auto top = boxFacets({15, 15, 5}, {25, 25, 10}, kBlue);
  model.insert(model.end(), top.begin(), top.end());
  ASSERT_TRUE(profileOf(model));
  const auto expected = expectedProfile({{30, 70, 5.0f}, {45, 55, 10.0f}});
  for (int i = 0; i < 300; ++i) EXPECT_NEAR(profile[std::size_t(i)], expected[std::size_t(i)], 1e-4) << "bin " << i;
  const std::pair<int, float> byHand[] = {{17, -1.0f}, {18, -0.7f}, {29, 4.8f}, {30, 5.3f}, {35, 5.3f},
                                          {36, 5.8f},  {44, 9.8f},  {45, 10.3f}, {55, 10.3f}, {56, 9.8f},
                                          {65, 5.3f},  {70, 5.3f},  {71, 4.8f},  {82, -0.7f}, {83, -1.0f},
                                          {299, -109.2f}};
  for (auto [bin, value] : byHand) EXPECT_NEAR(profile[std::size_t(bin)], value, 1e-3) << "bin " << bin;
}

TEST_F(StlTools_, AHeightProfileThatCannotBeMadeLeavesTheTableAsItWas) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct Case {
    const char* name;
    std::function<void()> make;
    std::string says;
  } cases[] = {
      {"missing", [] {}, ""},
      {"head only", [&] { writeStl(at("model.stl"), {}); }, at("model.stl") + " holds no facets"},
      {"a corner not a number", [&] { writeStl(at("model.stl"), {facetOf({0, 0, 0}, {1, nan, 0}, {0, 1, 1}, 0)}); },
       at("model.stl") + ": facet 1 has a corner that is not a finite number"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(at("model.stl"));
    ui.messages.clear();
    c.make();
    profile.fill(7.0f);
    EXPECT_FALSE(makeHeightProfile(core, at("model.stl"), profile, 1.0f, 50, 30));
    EXPECT_TRUE(std::all_of(profile.begin(), profile.end(), [](float v) { return v == 7.0f; }));
    if (c.says.empty()) {
      EXPECT_EQ(ui.messages, std::vector<std::string>{"cannot read from file: " + at("model.stl")});
    } else {
      EXPECT_TRUE(logHas(c.says));
    }
  }
}

TEST_F(StlTools_, TheRadiusFilterSplitsBySphereAndCountsEachOutput) {
  // Two cubes: one around (5, 5, 5), one far off.
  auto model = boxFacets({0, 0, 0}, {10, 10, 10}, kBlue);
  const auto far = boxFacets({100, 0, 0}, {110, 10, 10}, kRed);
  model.insert(model.end(), far.begin(), far.end());
  writeStl(at("two.stl"), model);
  struct Case {
    const char* sphere;
    std::uint32_t outside, inside;
  } cases[] = {{"5,5,5,9", 12, 12}, {" 50 , 5, 5, 200", 0, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sphere);
    core.Memo1.clear();
    ui.files = {at("two.stl"), at("out.stl"), at("in.stl")};
    ui.inputs = {std::string(c.sphere)};
    tools.controls.at("bolfilter1Item").click();
    EXPECT_EQ(tools.stlInputName, at("two.stl"));
    const ReadStl out = readStl(at("out.stl")), in = readStl(at("in.stl"));
    EXPECT_EQ(out.count, c.outside);
    EXPECT_EQ(out.facets.size(), c.outside);
    EXPECT_EQ(in.count, c.inside);
    EXPECT_EQ(in.facets.size(), c.inside);
    EXPECT_EQ(out.head, readStl(at("two.stl")).head);
    EXPECT_TRUE(logHas("triangcount=" + std::to_string(c.outside) + " outtriacnt=" + std::to_string(c.inside)));
    for (const auto& f : in.facets) EXPECT_EQ(f.attribute, c.inside == 12 ? kBlue : f.attribute);
  }
  // The prompts offer the defaults; a cancelled one ends the tool.
  EXPECT_EQ(ui.dialogs[0].fileName, at("convertedobj.stl"));
  EXPECT_EQ(ui.dialogs[1].fileName, at("outsphere.stl"));
  EXPECT_EQ(ui.dialogs[2].fileName, at("insphere.stl"));
  std::filesystem::remove(at("out.stl"));
  ui.files = {at("two.stl")};
  tools.controls.at("bolfilter1Item").click();
  EXPECT_TRUE(tools.meshAbort);
  EXPECT_FALSE(std::filesystem::exists(at("out.stl")));
  // A sphere that is not four numbers writes nothing.
  ui.files = {at("two.stl"), at("out.stl"), at("in.stl")};
  ui.inputs = {std::string("5,5,x,9")};
  tools.controls.at("bolfilter1Item").click();
  EXPECT_TRUE(logHas("xyz_r: 'x' is not a number"));
  EXPECT_FALSE(std::filesystem::exists(at("out.stl")));
}

TEST_F(StlTools_, SplitThenMergeGivesTheModelsFacetsBack) {
  // The calibration cube of the "COLOR=" convention, split at mid height,
  // and a model with zero-area facets, split by a sphere.
  copyTestModel("20mm-xyz-cube.stl", dir);
  std::filesystem::copy_file(at("20mm-xyz-cube.stl"), at("temp.stl"));
  tools.controls.at("zsplit1").click();
  const ReadStl bottom = readStl(at("bottomhalf.stl")), top = readStl(at("tophalf.stl"));
  EXPECT_EQ(bottom.count + top.count, 260u);
  EXPECT_GT(bottom.count, 0u);
  EXPECT_GT(top.count, 0u);
  ASSERT_TRUE(tools.stl.mergeStlFiles({at("bottomhalf.stl"), at("tophalf.stl")}, at("merged.stl")));
  EXPECT_EQ(fileBytes(at("merged.stl")).substr(0, 84), fileBytes(at("temp.stl")).substr(0, 84));
  EXPECT_EQ(sortedRecords(at("merged.stl")), sortedRecords(at("temp.stl")));

  copyTestModel("Spider_binary.stl", dir);
  ASSERT_TRUE(tools.stl.splitBySphere(at("Spider_binary.stl"), at("a.stl"), at("b.stl"), {0, 0, 0}, 2.0));
  EXPECT_GT(readStl(at("a.stl")).count, 0u);
  EXPECT_GT(readStl(at("b.stl")).count, 0u);
  ASSERT_TRUE(tools.stl.mergeStlFiles({at("a.stl"), at("b.stl")}, at("spider.stl")));
  EXPECT_EQ(readStl(at("spider.stl")).count, 1368u);
  EXPECT_EQ(sortedRecords(at("spider.stl")), sortedRecords(at("Spider_binary.stl")));
}

TEST_F(StlTools_, MergeAppendsBehindTheFirstHeadAndCountsTheTotal) {
  writeStl(at("file1.stl"), boxFacets({0, 0, 0}, {1, 1, 1}, kBlue), "first head");
  auto twenty = boxFacets({2, 0, 0}, {3, 1, 1}, kRed);
  twenty.resize(20, twenty[0]);
  // A head that counts wrong: the facets the file holds are taken.
  writeStl(at("file2.stl"), twenty, "second head", 7u);
  ui.files = {at("merged.stl")};
  ui.inputs = {at("file1.stl"), at("file2.stl"), std::string()};
  tools.controls.at("mergestl1Item").click();
  EXPECT_EQ(ui.prompts, (std::vector<std::string>{"fname", "fname", "fname"}));
  const ReadStl merged = readStl(at("merged.stl"));
  EXPECT_EQ(merged.count, 32u);
  ASSERT_EQ(merged.facets.size(), 32u);
  EXPECT_EQ(merged.head.substr(0, 10), "first head");
  EXPECT_EQ(merged.facets[12].attribute, kRed);
  EXPECT_TRUE(logHas("hdr.triangcount=12"));
  EXPECT_TRUE(logHas("hdr.triangcount=7 triangcount=32"));
  EXPECT_TRUE(logHas(at("file2.stl") + ": its head counts 7 facets, the file holds 20"));
  EXPECT_EQ(tools.stlInputName, at("file2.stl"));
}

TEST_F(StlTools_, MergeKeepsTheColoursOfAFileOfTheOtherConvention) {
  writeStl(at("plain.stl"), {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, kBlue)});
  // Red 31, green 1, blue 2 (red in bits 0-4), and one of the head's colour.
  writeStl(at("colour.stl"),
           {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 31 | 1 << 5 | 2 << 10),
            facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0x8000)},
           colourHead(0x10, 0x20, 0xF8));
  ASSERT_TRUE(tools.stl.mergeStlFiles({at("plain.stl"), at("colour.stl")}, at("m1.stl")));
  const ReadStl m1 = readStl(at("m1.stl"));
  EXPECT_EQ(m1.facets[1].attribute, 0x8000 | 31 << 10 | 1 << 5 | 2);
  EXPECT_EQ(m1.facets[2].attribute, 0x8000 | 2 << 10 | 4 << 5 | 31);
  // The other way round: into the head's convention, no colour as its default.
  writeStl(at("none.stl"), {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, 0)});
  ASSERT_TRUE(tools.stl.mergeStlFiles({at("colour.stl"), at("plain.stl"), at("none.stl")}, at("m2.stl")));
  const ReadStl m2 = readStl(at("m2.stl"));
  EXPECT_EQ(m2.facets[0].attribute, 31 | 1 << 5 | 2 << 10);
  EXPECT_EQ(m2.facets[2].attribute, 31 << 10);  // blue, red in bits 0-4
  EXPECT_EQ(m2.facets[3].attribute, 0x8000);
}

TEST_F(StlTools_, AMergeNeverLosesItsInputs) {
  // Into its own first input: the file becomes the merge, nothing is lost.
  writeStl(at("file1.stl"), boxFacets({0, 0, 0}, {1, 1, 1}, kBlue));
  writeStl(at("file2.stl"), boxFacets({2, 0, 0}, {3, 1, 1}, kRed));
  ASSERT_TRUE(tools.stl.mergeStlFiles({at("file1.stl"), at("file2.stl")}, at("file1.stl")));
  EXPECT_EQ(readStl(at("file1.stl")).facets.size(), 24u);
  // A part that cannot be read stops the merge: the output stays as it was.
  writeText(at("merged.stl"), "an older merge");
  EXPECT_FALSE(tools.stl.mergeStlFiles({at("file2.stl"), at("gone.stl")}, at("merged.stl")));
  EXPECT_TRUE(logHas("merge_stl stopped at " + at("gone.stl") + "; " + at("merged.stl") + " is not written"));
  EXPECT_EQ(fileBytes(at("merged.stl")), "an older merge");
  EXPECT_FALSE(std::filesystem::exists(at("merged.stl.part")));
  // A list ended at once names nothing.
  ui.files = {at("merged.stl")};
  tools.controls.at("mergestl1Item").click();
  EXPECT_TRUE(logHas("merge_stl: no file named; " + at("merged.stl") + " is not written"));
}

TEST_F(StlTools_, TheHeadToolEnlargesAboveTheNeck) {
  // Corners at heights (y) 0.5, 2 and 5 with the neck from 1 to 3.
  writeStl(at("head.stl"), {facetOf({1, 0.5f, 1}, {1, 2, 1}, {1, 5, 1}, kBlue)}, "head", 99u);
  struct Case {
    const char* scale;
    Point expected[3];
  } cases[] = {
      {"1", {{1, 0.5f, 1}, {1, 2, 1}, {1, 5, 1}}},
      // f = 1 + 1 x 1 / 2 at y 2 (stretched to 2 + 1 / 2 x 0.5); f = 2 above
      // the neck (5 + 1 x 2 x 0.5 + 1 x 2).
      {"2", {{1, 0.5f, 1}, {1.5f, 2.25f, 1.5f}, {2, 8, 2}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scale);
    core.Memo1.clear();
    ui.inputs = {std::string(c.scale), std::string("1"), std::string("3"), std::string("head.stl")};
    tools.controls.at("bobbelhead1").click();
    EXPECT_EQ(ui.prompts.back(), "sourcefile");
    EXPECT_TRUE(logHas("done"));
    const ReadStl out = readStl(at("bobhead.stl"));
    EXPECT_EQ(out.count, 1u);  // the facets written, not the head's 99
    ASSERT_EQ(out.facets.size(), 1u);
    for (int k = 0; k < 3; ++k)
      for (int a = 0; a < 3; ++a) EXPECT_NEAR(out.facets[0].corner[k][a], c.expected[k][a], 1e-5);
    EXPECT_EQ(out.facets[0].attribute, kBlue);
  }
  EXPECT_EQ(tools.stl.bobbleSourceName, "head.stl");
  // A neck upside down is refused.
  ui.inputs = {std::string("2"), std::string("3"), std::string("1"), std::string("head.stl")};
  std::filesystem::remove(at("bobhead.stl"));
  tools.controls.at("bobbelhead1").click();
  EXPECT_TRUE(logHas("bobbelhead: neck_top 1 is below neck_bottom 3"));
  EXPECT_FALSE(std::filesystem::exists(at("bobhead.stl")));
}

TEST_F(StlTools_, TheBrightnessBalanceEvensOutColoursOverTheDirection) {
  // Two coloured facets facing +z (direction 0, brightness 15) and -z
  // (direction 180, brightness 60), and two without a colour of their own.
  for (bool colourHeadConvention : {false, true}) {
    SCOPED_TRACE(colourHeadConvention ? "COLOR= head" : "plain head");
    const std::uint16_t colourBit = colourHeadConvention ? 0 : 0x8000;
    const std::uint16_t dark = colourBit | 5 << 10 | 5 << 5 | 5, bright = colourBit | 20 << 10 | 20 << 5 | 20;
    const std::uint16_t none = colourHeadConvention ? 0x8000 : 0, glass = colourHeadConvention ? 0x8000 : 9105;
    writeStl(at("unbalanced.stl"),
             {facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, dark), facetOf({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, bright),
              facetOf({0, 0, 0}, {1, 0, 0}, {0, 1, 0}, none), facetOf({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, glass)},
             colourHeadConvention ? colourHead(1, 2, 3) : "plain");
    tools.controls.at("angvsbright1").click();
    const ReadStl out = readStl(at("lightbalanced.stl"));
    ASSERT_EQ(out.count, 4u);
    // Means 150 and 600 over 20 bins each: every gain is (15000 / 360) /
    // the bin's smoothed mean, so 5 x 0.278 and 20 x 0.069 both become 1.
    const std::uint16_t one = colourBit | 1 << 10 | 1 << 5 | 1;
    EXPECT_EQ(out.facets[0].attribute, one);
    EXPECT_EQ(out.facets[1].attribute, one);
    EXPECT_EQ(out.facets[2].attribute, none);
    EXPECT_EQ(out.facets[3].attribute, glass);
    const std::string table = readAll("temp.gfk");
    EXPECT_EQ(table.substr(0, 9), "\n0 150\n1 ");
    EXPECT_NE(table.find("\n180 600\n"), std::string::npos);
  }
  std::filesystem::remove("temp.gfk");
}

TEST_F(StlTools_, ZsplitPutsAFacetCentredAtMidHeightIntoTheBottomHalf) {
  writeStl(at("temp.stl"), {facetOf({0, 0, 0}, {0, 1, 0}, {1, 0, 0}, 7),  // the floor, facing down
                            facetOf({0, 0, 0}, {1, 0, 5}, {0, 0, 10}, 8),  // centroid at 5: mid height
                            facetOf({0, 0, 5}, {1, 0, 10}, {0, 0, 10}, 9)});
  tools.controls.at("zsplit1").click();
  const ReadStl bottom = readStl(at("bottomhalf.stl")), top = readStl(at("tophalf.stl"));
  ASSERT_EQ(bottom.count, 2u);
  ASSERT_EQ(bottom.facets.size(), 2u);
  EXPECT_EQ(bottom.facets[1].attribute, 8);
  ASSERT_EQ(top.count, 1u);
  EXPECT_EQ(top.facets[0].attribute, 9);
  EXPECT_TRUE(logHas("atrib 7"));
  EXPECT_FALSE(logHas("atrib 8"));
}

TEST_F(StlTools_, TheVolumeOfAUnitCube) {
  writeStl(at("unit.stl"), boxFacets({0, 0, 0}, {1, 1, 1}, kBlue));
  ui.inputs = {at("unit.stl")};
  tools.controls.at("stlVolume1").click();
  EXPECT_TRUE(logHas(at("unit.stl") + " Volume=1"));
  EXPECT_EQ(tools.stl.volumeFileName, at("unit.stl"));
  // A cancel measures the same file again.
  core.Memo1.clear();
  tools.controls.at("stlVolume1").click();
  EXPECT_TRUE(logHas(at("unit.stl") + " Volume=1"));
}

TEST_F(StlTools_, EmptyOrMissingInputsAreToldAndWriteNothing) {
  writeStl(at("temp.stl"), {});
  writeStl(at("unbalanced.stl"), {});
  struct Case {
    const char* item;
    std::string says;  // in the log, or in a message box when missing
    bool missing;
    const char* output;
  } cases[] = {
      {"zsplit1", at("temp.stl") + " holds no facets", false, "bottomhalf.stl"},
      {"angvsbright1", at("unbalanced.stl") + " holds no facets", false, "lightbalanced.stl"},
      {"heightprofile1", "cannot read from file: " + at("heightprofile.stl"), true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    core.Memo1.clear();
    ui.messages.clear();
    tools.controls.at(c.item).click();
    if (c.missing) {
      EXPECT_EQ(ui.messages, std::vector<std::string>{c.says});
    } else {
      EXPECT_TRUE(logHas(c.says));
    }
    if (c.output) {
      EXPECT_FALSE(std::filesystem::exists(at(c.output)));
    }
  }
}

TEST_F(StlTools_, GetheightsWritesTheProfileBesideThePowderHeights) {
  core.workDir = dir + "/";
  core.s.file_name = "job";
  writeStl(at("job.stl"), boxFacets({0, 0, 0}, {10, 10, 10}, kBlue));
  std::array<float, 300> powdered;
  powdered.fill(2.5f);
  tools.stl.writeHeightComparison(at("job.stl"), powdered);
  const std::string table = readAll("temp.gfk");
  std::filesystem::remove("temp.gfk");
  EXPECT_EQ(std::count(table.begin(), table.end(), '\n'), 102);
  EXPECT_NE(table.find("\n30 10.300000 2.500000\n"), std::string::npos);
  EXPECT_NE(table.find("\n100 -1.000000 2.500000\n"), std::string::npos);
  EXPECT_EQ(powdered[100], 0.0f);
  EXPECT_EQ(powdered[101], 2.5f);
  // Without the model nothing is written and nothing cleared.
  powdered.fill(2.5f);
  std::filesystem::remove(at("job.stl"));
  tools.stl.writeHeightComparison(at("job.stl"), powdered);
  EXPECT_TRUE(logHas("unable to make profile from " + at("job.stl")));
  EXPECT_FALSE(std::filesystem::exists("temp.gfk"));
  EXPECT_EQ(powdered[0], 2.5f);
}
