// The sequencer's parts on their own: the walk through a job's records,
// the pass and powder timing, and the jetting unit's command texts.
#include <gtest/gtest.h>

#include <cstdio>

#include "host/machine/print_records.h"
#include "host/machine/print_timing.h"
#include "host/machine/tests/sequencer_fixture.h"
#include "host/machine/unit_codes.h"

using namespace ph;

namespace {

// A .dmc in memory, opened as a file.
PrintRecords openRecords(const std::string& bytes, std::string& keep) {
  keep = bytes;
  PrintRecords r;
  r.take(FilePtr(fmemopen(keep.data(), keep.size(), "rb")));
  return r;
}

TEST(PrintRecords, SeekLayerCountsLayerEndsAndSaysWhatWentWrong) {
  const std::vector<Record> job = {{'{', "05", "abc"}, {'}', "00", ""}, {'{', "0A", "de"}, {'}', "00", "x"}};
  struct Case {
    int layers;
    long offset;  // where the file stands after the seek
    const char* problem;
  };
  const long first = kDmcDataOffset;
  const long second = first + 13 + 10;
  const Case cases[] = {{1, second, ""}, {2, second + 12 + 11, ""}, {3, first, "past EOF"}};
  for (const Case& c : cases) {
    std::string keep;
    PrintRecords r = openRecords(dmcBytes(job, 2), keep);
    EXPECT_EQ(r.seekLayer(c.layers), c.problem) << c.layers;
    EXPECT_EQ(r.tell(), c.offset) << c.layers;
  }
  // A record whose type is no stretch type stops the seek there.
  std::string keep;
  PrintRecords r = openRecords(dmcBytes({{'{', "05", "abc"}, {'x', "00", ""}, {'}', "00", ""}}, 1), keep);
  EXPECT_EQ(r.seekLayer(1), "seek layer error 1");
  EXPECT_EQ(r.tell(), first + 13);
}

TEST(PrintRecords, EmptyStretchesAreSkippedInPairsForBidirectionalPrints) {
  struct Case {
    int empties;      // records of powder code "03" before the next data stretch
    bool pairs;       // bidirectional
    int bands;        // the head moves on by
    int recordsRead;  // the file stands at this record
  };
  const Case cases[] = {{0, false, 0, 0}, {2, false, 2, 2}, {3, false, 3, 3}, {3, true, 2, 2}, {2, true, 2, 2}};
  for (const Case& c : cases) {
    std::vector<Record> job;
    for (int i = 0; i < c.empties; ++i) job.push_back({'<', "03", ""});
    job.push_back({'{', "05", "abc"});
    job.push_back({'}', "00", ""});
    std::string keep;
    PrintRecords r = openRecords(dmcBytes(job, 1), keep);
    std::fseek(r.file(), kDmcDataOffset, SEEK_SET);
    const auto skipped = r.skipEmptyStretches(true, c.pairs);
    EXPECT_EQ(skipped.bands, c.bands) << c.empties << c.pairs;
    EXPECT_EQ(r.tell(), kDmcDataOffset + 10L * c.recordsRead) << c.empties << c.pairs;
  }
  // The run ends at a return pass with data: the print takes it as one.
  {
    std::string keep;
    PrintRecords r = openRecords(dmcBytes({{'<', "05", "abc"}, {'}', "00", ""}}, 1), keep);
    std::fseek(r.file(), kDmcDataOffset, SEEK_SET);
    const auto skipped = r.skipEmptyStretches(true, true);
    EXPECT_EQ(skipped.bands, 0);
    ASSERT_TRUE(skipped.backwardNext.has_value());
    EXPECT_TRUE(*skipped.backwardNext);
    EXPECT_EQ(r.tell(), kDmcDataOffset);
  }
  // A layer's end stops the run.
  std::string keep;
  PrintRecords r = openRecords(dmcBytes({{'<', "03", ""}, {'}', "03", ""}, {'{', "05", "a"}}, 1), keep);
  std::fseek(r.file(), kDmcDataOffset, SEEK_SET);
  EXPECT_EQ(r.skipEmptyStretches(true, false).bands, 1);
  EXPECT_EQ(r.tell(), kDmcDataOffset + 10);
}

TEST(StretchHeaders, FieldsAndBrokenLengths) {
  const StretchHeaderFields f = parseStretchHeader("\xBF" "0A000123{");
  EXPECT_EQ(f.text, "0A000123{");
  EXPECT_EQ(f.code, 10);
  EXPECT_EQ(f.length, 123);
  EXPECT_EQ(f.type, '{');
  EXPECT_EQ(parseStretchHeader("\xBF" "0A00x123{").length, -1);
  for (char c : std::string("{}]!(<")) EXPECT_TRUE(isStretchType(c)) << c;
  for (char c : std::string("x0 >\0", 5)) EXPECT_FALSE(isStretchType(c)) << int(c);
}

TEST(PrintTiming, PowderStartsStayInsideTheirRange) {
  Settings s;
  s.powderdelay = 500;
  s.yvLow = 20;
  for (double y : {-1000.0, 0.0, 50.0, 220.0, 5000.0})
    for (double speed : {0.0, 100.0, 8000.0}) {
      const int start = nextPowderStart(s, y, speed);
      EXPECT_GE(start, 0) << y << " " << speed;
      EXPECT_LE(start, 2000) << y << " " << speed;
    }
  // 10000 and above is a fixed start, taken as it is.
  s.powderdelay = 12345;
  EXPECT_EQ(nextPowderStart(s, 100, 8000), 12345);
}

TEST(PrintTiming, TheHeadWaitsOnlyForDataSlowerThanItsPass) {
  Settings s;
  s.yvHi = 220;
  s.movespeed = 8000;
  s.dataGraceTime = 0;
  EXPECT_EQ(passDataWaitMs(s, 80, 100, 115200), 0);
  const int slow = passDataWaitMs(s, 80, 400000, 115200);
  EXPECT_GT(slow, 0);
  EXPECT_GT(passDataWaitMs(s, 80, 800000, 115200), slow);
  // Without a rate the stream's own pace (512 bytes per 20 ms) counts.
  EXPECT_GT(passDataWaitMs(s, 80, 400000, 0), 0);
  s.printspeed = 3000;
  s.halfSpeedBytes = 1000;
  EXPECT_EQ(passSpeed(s, 1000), 3000);
  EXPECT_EQ(passSpeed(s, 1001), 1500);
}

TEST(PrintTiming, PowderFollowsTheTravelOrTheFixedTime) {
  Settings s;
  s.powdertime = 700;
  s.addpowderlast = 50;
  s.powderPercentage = -1;
  EXPECT_EQ(powderTime(s, 80, false, false).timeMs, 700);
  EXPECT_FALSE(powderTime(s, 80, false, false).start);
  EXPECT_EQ(powderTime(s, 80, false, true).timeMs, 750);
  s.powderPercentage = 100;
  const PowderTime whole = powderTime(s, 80, false, false);
  const PowderTime shortPass = powderTime(s, 80, true, false);
  ASSERT_TRUE(whole.start && shortPass.start);
  EXPECT_GT(*whole.start, 10000);
  EXPECT_LT(shortPass.timeMs, whole.timeMs);
}

// Every text the host sends the unit is the unit's command language:
// decimal arguments split by "," and one lower-case letter, blanks between.
bool isCommandText(const std::string& t) {
  bool inCommand = false;
  for (char c : t) {
    if (c == ' ') {
      if (inCommand) return false;  // a number cut by a blank
      continue;
    }
    if ((c >= '0' && c <= '9') || c == ',') inCommand = true;
    else if (c >= 'a' && c <= 'z') inCommand = false;
    else return false;
  }
  return !inCommand;
}

TEST(UnitCodes, EveryTextIsCommandsOfTheUnitsLanguage) {
  using namespace unit;
  const std::string texts[] = {kPassData, kForwardPass, kReturnPass, powderTimes(0, 800),
                               passDataOffset(kPassStartOffset), kPrintStart, kStopAfterStretch, kResume,
                               kLongPrintEnd, kReport, kReadTemperatures, kTemperatureControl, kTemperatureHold,
                               setTemperature(28), heatLevel(3), kWaterCartridge, kColourCartridge,
                               kCheckWaterCartridge, kCheckColourCartridge, kCartridgeCheckStart,
                               kCartridgeCheckSecond, kWaterBurst, kColourBurst, colourBurst(2), kKeepWetOn,
                               kKeepWetOff, kPlateHeatStart, kPlateHeatEnd, blackHeaterStep(4),
                               primeWaterBurst(1500, 900), kPrimeColourBurst, primeColourBurst(1), kRollerOn,
                               kRollerOff, rollerBoost(40), kShakerOn, kShakerOff, kPowderOnly, localXonXoff(800),
                               kXonXoffHandshake, kCtsHandshake, kStrokeMark, kStrokeMarkAndPins, kReadPins, kTestPassData};
  for (const std::string& t : texts) EXPECT_TRUE(isCommandText(t)) << t;
  // The stop codes: a stretch end, then commands.
  EXPECT_EQ(std::uint8_t(kStopCodes[0]), kStretchEnd);
  EXPECT_TRUE(isCommandText(kStopCodes + 1));
}

}  // namespace
