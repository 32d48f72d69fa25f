// The slicer's command lines, the fingerprint text and the signatures at the
// end of a job file.
#include "host/jobdata/slicer_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/jobdata/tests/handoff_fixture.h"
#include "platform/fingerprint.h"
#include "platform/format.h"

using namespace ph;

namespace {

SlicerJob defaults() {
  SlicerJob j;
  j.program = "/opt/prism/layertint";
  j.model = "/models/Part One.stl";
  j.output = "/work/Part One.p3d";
  j.layerMicrons = 250;
  j.waterpixel = 64;
  j.sumpixel = 64;
  j.colorweight = 50;
  j.skinmicrons = 1000;
  j.defaultcolor = 25368;
  return j;
}

TEST(SlicerCommand, QuotingAndSplittingKeepQuotedBlanksTogether) {
  EXPECT_EQ(quoteIfBlank("/a/b.stl"), "/a/b.stl");
  EXPECT_EQ(quoteIfBlank("/a b/c.stl"), "\"/a b/c.stl\"");

  std::string line = "meshkit  -F\"/a b/c.stl\" -D/w";
  std::vector<std::string> words;
  while (!line.empty()) words.push_back(splitArgument(line, ' '));
  EXPECT_EQ(words, (std::vector<std::string>{"meshkit", "", "-F\"/a b/c.stl\"", "-D/w"}));

  std::string one = "no separator";
  EXPECT_EQ(splitArgument(one, ';'), "no separator");
  EXPECT_EQ(one, "");
}

TEST(SlicerCommand, SliceArgumentsKeepTheSlicersOrderAndPathsWhole) {
  SlicerJob j = defaults();
  j.hazeRemove = -3;
  j.colourCube = "/cubes/deplete.txt";
  j.skinClear = 200;
  j.instanceNumber = 2;
  const auto argv = sliceArguments(j);
  EXPECT_EQ(argv, (std::vector<std::string>{"/opt/prism/layertint", "-U3", "-F/models/Part One.stl", "-L250", "-W64",
                                            "-S64", "-C50", "-D1000", "-K/work/Part One.p3d", "-E25368",
                                            "-R/cubes/deplete.txt", "-U200", "-I2"}));
  EXPECT_EQ(commandText(argv),
            "/opt/prism/layertint -U3 -F\"/models/Part One.stl\" -L250 -W64 -S64 -C50 -D1000 "
            "-K\"/work/Part One.p3d\" -E25368 -R/cubes/deplete.txt -U200 -I2");
}

// The text the slicer hashes: all arguments but -F, -K and -I, joined.
TEST(SlicerCommand, FingerprintTextIsExactlyTheSlicersParamText) {
  struct Case {
    const char* what;
    void (*change)(SlicerJob&);
    const char* text;
  };
  const Case cases[] = {
      {"defaults", [](SlicerJob&) {}, "-L250-W64-S64-C50-D1000-E25368"},
      {"instance 2 stays out", [](SlicerJob& j) { j.instanceNumber = 2; }, "-L250-W64-S64-C50-D1000-E25368"},
      {"skinClear", [](SlicerJob& j) { j.skinClear = 200; }, "-L250-W64-S64-C50-D1000-E25368-U200"},
      {"skinClear 0 is not given", [](SlicerJob& j) { j.skinClear = 0; }, "-L250-W64-S64-C50-D1000-E25368"},
      {"colour cube", [](SlicerJob& j) { j.colourCube = "/c/cube 1.txt"; },
       "-L250-W64-S64-C50-D1000-E25368-R/c/cube 1.txt"},
      {"haze first", [](SlicerJob& j) { j.hazeRemove = -7; }, "-U7-L250-W64-S64-C50-D1000-E25368"},
      {"positive haze is not given", [](SlicerJob& j) { j.hazeRemove = 4; }, "-L250-W64-S64-C50-D1000-E25368"},
  };
  for (const auto& c : cases) {
    SlicerJob j = defaults();
    c.change(j);
    EXPECT_EQ(fingerprintText(sliceArguments(j)), c.text) << c.what;
  }
}

TEST(SlicerCommand, PreviewArgumentsCarryTheSettingsButNoJobFile) {
  SlicerJob j = defaults();
  j.skinClear = 150;
  j.exportSlices = true;
  j.instanceNumber = 3;
  j.colourCube = "/c.txt";
  EXPECT_EQ(previewArguments(j), (std::vector<std::string>{"/opt/prism/layertint", "-V/models/Part One.stl", "-L250",
                                                           "-W64", "-S64", "-C50", "-D1000", "-E25368", "-U150",
                                                           "-J"}));
}

TEST(SlicerCommand, SignatureOfSizeDateCrcAndContent) {
  EXPECT_EQ(sliceSignature(1000, 0, 0xFFFF, 0), "003FFC28");
  EXPECT_EQ(sliceSignature(0, 452345678, 0, 0), plat::format("%08X", 452345678u));
  EXPECT_EQ(sliceSignature(1000, 0, 0xFFFF, 0xCBF43926u), "CBCBC50E");
}

TEST(SlicerCommand, SourceSignatureOfAFileAndOfNone) {
  test::ScratchFolder dir;
  const std::string model = dir.at("m.stl");
  test::writeBytes(model, std::string(1000, 'x'));
  const std::uint16_t crc = plat::crc16Modbus("-L250-W64-S64-C50-D1000-E25368");
  EXPECT_EQ(sourceSignature(model, crc),
            sliceSignature(1000, plat::fileDateCode(model), crc, *plat::fileContentCrc(model)));
  // Other content of the same size and date: another signature.
  const std::int32_t date = plat::fileDateCode(model);
  std::string other(1000, 'x');
  other.back() = 'y';
  test::writeBytes(model, other);
  if (plat::fileDateCode(model) == date) {
    EXPECT_NE(sourceSignature(model, crc), sliceSignature(1000, date, crc, 0));
  }
  EXPECT_EQ(sourceSignature(model, crc),
            sliceSignature(1000, plat::fileDateCode(model), crc, *plat::fileContentCrc(model)));
  const std::string none = sourceSignature(dir.at("missing.stl"), crc);
  EXPECT_EQ(none[0], 'R');
  EXPECT_NE(none, sourceSignature(dir.at("missing.stl"), crc) + "x");
}

TEST(SlicerCommand, CachedSignatureReadsOnlyAWholeFingerprintLine) {
  test::ScratchFolder dir;
  struct Case {
    const char* what;
    std::string bytes;
    const char* sig;
  };
  const Case cases[] = {
      {"fingerprint line", "page data\x0c" "003FFC28\r\n", "003FFC28"},
      {"exactly ten bytes", "0A1B2C3D\r\n", "0A1B2C3D"},
      {"non-digits read as 0", "xxxG12Z45\r\n", "00012045"},
      {"no line feed at the end", "003FFC28\r\n ", "?"},
      {"aborted job", "page data   ", "?"},
      {"shorter than ten bytes", "3FFC28\r\n", "?"},
      {"empty", "", "?"},
  };
  for (const auto& c : cases) {
    const std::string p = dir.at("job.p3d");
    test::writeBytes(p, c.bytes);
    EXPECT_EQ(cachedSignature(p), c.sig) << c.what;
  }
  EXPECT_EQ(cachedSignature(dir.at("missing.p3d")), "?");
}

}  // namespace
