// The .dmc layout: header record, powder codes, record chain and the
// record writer's type characters and dropped empty stretches.
#include "host/jobdata/dmc_records.h"

#include <gtest/gtest.h>

#include "conversion_fixture.h"
#include "host/core/numbers.h"
#include "host/jobdata/dmc_out.h"

namespace ph::testing {
namespace {

TEST(PowderCode, TextsReadBackWithHexTextToInt) {
  const std::pair<int, const char*> cases[] = {{0, "00"},   {3, "03"},   {15, "0F"},  {16, "10"},
                                               {255, "FF"}, {256, "G0"}, {559, "YF"}, {560, "Z0"}};
  for (auto [code, text] : cases) {
    EXPECT_EQ(powderCodeText(code), text);
    EXPECT_EQ(hexTextToInt(text), code) << text;
  }
}

// A record writer on memory; start() takes the settings as they stand
// and writes the first placeholder.
struct WriterRig : CoreFixture {
  JobState job{core};
  JobLayout layout{core, job};
  DmcOut mem;
  DmcRecordWriter writer{core, layout, mem};
  void start() {
    mem.open(nullptr);
    writer.startConversion(ConversionSettings::take(core, layout));
    writer.writeStretchRecord(2);
  }
  // One stretch of `bytes` data bytes and that many columns.
  void stretch(int dataBytes, int columns, int kind) {
    for (int i = 0; i < dataBytes; ++i) mem.put(dataBytes <= 3 ? std::uint8_t("\x81\x00\x35"[i]) : 0x81);
    writer.stretchColumns = columns;
    writer.writeStretchRecord(kind);
  }
  // The type characters of the records; the writer starts at offset 0,
  // so the bytes are moved behind a 516-byte head first.
  std::string types() {
    std::vector<std::uint8_t> bytes(516 + mem.memory().size(), 0);
    std::copy(mem.memory().begin(), mem.memory().end(), bytes.begin() + 516);
    std::string t;
    for (const auto& r : parseRecords(bytes)) t += r.type;
    return t;
  }
};

struct RecordsTest : WriterRig, ::testing::Test {};

TEST(RecordWriter, EmptyStretchesAtALayerEndAreDroppedUpToEndskippers) {
  // Two filled stretches, then the layer's empty ones.
  struct Case {
    int empties;
    const char* types;
  } cases[] = {{5, "{{{}"}, {2, "{}"}};
  for (const auto& c : cases) {
    WriterRig t;
    t.core.s.endskippers = 3;
    t.core.s.bridgelayers = false;
    t.start();
    const int total = 2 + c.empties;
    for (int i = 0; i < total; ++i) t.stretch(i < 2 ? 40 : 3, i < 2 ? 500 : 5, total - 1 - i);
    t.writer.stretchColumns = 0;
    t.writer.writeStretchRecord(0);
    t.writer.finishConversion();
    // The first record is the layer's first stretch; the last is the
    // conversion's closing one.
    const std::string got = t.types();
    EXPECT_EQ(got.substr(0, got.size() - 1), c.types) << c.empties << " empty stretches";
  }
}

TEST_F(RecordsTest, BackwardPassRaisesItsForwardPartnersPowderCode) {
  core.s.bidirectional = true;
  start();
  job.backwardPass = false;  // as a layer starts
  stretch(40, 100, 2);  // forward, 8 mm
  stretch(40, 500, 1);  // backward, 42 mm
  const std::vector<std::uint8_t> bytes = mem.memory();
  EXPECT_EQ(std::string(bytes.begin() + 1, bytes.begin() + 3), powderCodeText(500 * 254 / 3000));
  EXPECT_EQ(bytes[50 + 9], '<');
}

TEST_F(RecordsTest, PowderReduceMarksEmptyStretchesWithoutModelAhead) {
  core.s.powderReduce = true;
  layout.heightProfileMade = true;  // flat: nothing ahead
  start();
  int position = 0;
  writer.stretchColumns = 0;
  writer.powderReduceCheck(position, 2);
  stretch(3, 0, 2);
  writer.stretchColumns = 36;  // 3 mm
  writer.powderReduceCheck(position, 2);
  stretch(40, 36, 2);
  const auto& b = mem.memory();
  EXPECT_EQ(std::string(b.begin() + 1, b.begin() + 3), "03");
  EXPECT_EQ(std::string(b.begin() + 14, b.begin() + 16), "04");
}

TEST_F(ConversionFixture, HeaderRoundTripsThroughFillWriteAndRead) {
  core.s.layerMicrons = 120;
  core.s.EachLayCode = "8t" + std::string(100, 'x');  // longer than its field
  core.s.repeatcode = "3p";
  core.s.shiftLayer = 7;
  conv->layout.printpages = 301;
  conv->layout.djmaxline = 77;
  conv->layout.buildRoomSkip = 12;
  for (int l : {0, 5, 31, 32, 299}) conv->layout.newIslands[std::size_t(l)] = 1;
  conv->records.startConversion(ConversionSettings::take(core, conv->layout));
  DmcOut mem;
  mem.open(nullptr);
  writeDmcHeader(mem, conv->records.fillDmcHeader());
  ASSERT_EQ(mem.tell(), 516);
  const auto& raw = mem.memory();
  EXPECT_EQ(raw[8 + 400], 120);  // layerMicrons, little-endian
  EXPECT_EQ((std::vector<std::uint8_t>(raw.begin() + 512, raw.end())),
            (std::vector<std::uint8_t>{0xEF, 0xCD, 0xAB, 0}));

  std::vector<std::uint8_t> bytes = raw;
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  DmcHeader back;
  EXPECT_EQ(readDmcHeader(f, back), 516);
  EXPECT_EQ(std::ftell(f), 516);
  std::fclose(f);
  EXPECT_EQ(back.eachLayCode, "8t" + std::string(77, 'x'));
  EXPECT_EQ(back.repeatCode, "3p");
  EXPECT_EQ(back.layerMicrons, 120);
  EXPECT_EQ(back.printpages, 301);
  EXPECT_EQ(back.djmaxline, 77);
  EXPECT_EQ(back.buildRoomSkip, 12);
  EXPECT_EQ(back.shiftLayer, 7);
  EXPECT_EQ(back.yvHiMicrons, 220000);
  EXPECT_EQ(back.jumpLayers[0], (1u << 0) | (1u << 5) | (1u << 31));
  EXPECT_EQ(back.jumpLayers[1], 1u);
  EXPECT_EQ(back.jumpLayers[9], 1u << (299 % 32));

  conv->layout.printpages = 0;
  EXPECT_EQ(conv->records.fillDmcHeader().jumpLayers, (std::array<std::uint32_t, 10>{}));

  conv->layout.printpages = 3;
  takeDmcHeader(core, conv->layout, back);
  EXPECT_EQ(conv->layout.printpages, 301);
  EXPECT_EQ(core.s.printpages, 301);
  EXPECT_TRUE(logHas("printpages:3 <- 301"));
}

TEST(DmcHeader, FileWithoutMagicIsReadFromItsFirstByte) {
  std::string bytes =
      "\xBF"
      "0300001"
      "3}\x81";
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  DmcHeader rec;
  EXPECT_EQ(readDmcHeader(f, rec), 0);
  EXPECT_EQ(std::ftell(f), 0);
  std::fclose(f);
}

TEST_F(ConversionFixture, CountingStopsAtAHeaderCutShortByTheFileEnd) {
  DmcOut mem;
  mem.open(nullptr);
  writeDmcHeader(mem, conv->records.fillDmcHeader());
  const std::string records = std::string("\xBF" "00000013}\x81\x00\x35") + "\xBF" "0400";
  mem.write(records.data(), records.size());
  std::FILE* f = std::fopen(dmcPath().c_str(), "wb");
  std::fwrite(mem.memory().data(), 1, mem.memory().size(), f);
  std::fclose(f);
  EXPECT_EQ(countDmcStretches(core, job, false).count, 2);
}

// The walk over the records (the final placeholder counts too): powder-skipped records ("03" codes that are
// not a forward end) with the pairing of a skipped backward pass, a length
// too short for a header (the walk goes back into it), a length that is no
// number, and a file ending inside a record.
TEST_F(ConversionFixture, CountingWalksRecordsOfEveryLength) {
  auto record = [](const char* code, const char* length, char type, int dataBytes) {
    return "\xBF" + std::string(code) + length + type + std::string(std::size_t(dataBytes), '\x81');
  };
  const std::string placeholder = record("00", "000000", '0', 0);
  struct Case {
    const char* name;
    std::string records;
    bool powderReduced;
    int count, skipped;
  } cases[] = {
      {"plain", record("03", "000013", '}', 3) + record("01", "000012", '(', 2) + placeholder, false, 3, 0},
      {"powder skips", record("03", "000013", '}', 3) + record("03", "000013", '(', 3) + record("01", "000010", '(', 0) +
                           placeholder, true, 3, 1},
      {"skipped backward pass", record("03", "000011", '(', 1) + record("03", "000011", '<', 1) +
                                    record("01", "000011", '<', 1) + record("03", "000011", '<', 1) + placeholder,
       true, 4, 1},
      {"length inside the header", record("01", "000004", '}', 0) + "\xBF" "000000" + placeholder, false, 2, 0},
      {"length without digits", record("01", "00x013", '}', 3) + record("01", "000013", '}', 3), false, 1, 0},
      {"file ends inside the data", record("01", "000013", '}', 3) + record("01", "000900", '}', 3), false, 2, 0},
  };
  for (const Case& c : cases) {
    DmcOut mem;
    mem.open(nullptr);
    writeDmcHeader(mem, conv->records.fillDmcHeader());
    mem.write(c.records.data(), c.records.size());
    std::FILE* f = std::fopen(dmcPath().c_str(), "wb");
    std::fwrite(mem.memory().data(), 1, mem.memory().size(), f);
    std::fclose(f);
    const StretchCount counted = countDmcStretches(core, job, c.powderReduced);
    EXPECT_EQ(counted.count, c.count) << c.name;
    EXPECT_EQ(counted.skipped, c.skipped) << c.name;
  }
}

TEST_F(ConversionFixture, CountingStretchesOfAMissingFileGivesZero) {
  EXPECT_EQ(countDmcStretches(core, job, false).count, 0);
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages.back().find("cannot read from file: "), std::string::npos);
}

}  // namespace
}  // namespace ph::testing
