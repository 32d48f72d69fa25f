// Reading .p3d rows: the stream filter, the PackBits row reader, the haze
// trim, the mirrored rows of backward passes and the layer search.
#include "host/jobdata/p3d_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "conversion_fixture.h"
#include "host/core/lookup_tables.h"
#include "host/core/main_texts.h"
#include "host/jobdata/p3d_filter.h"
#include "host/jobdata/stretch_builder.h"

namespace ph::testing {
namespace {

const std::string marker(layerStartMarker);

std::string filtered(const std::string& in, int passes = 1) {
  std::string bytes = in;
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  P3dFilter filter;
  std::string out;
  for (int p = 0; p < passes; ++p) {
    std::rewind(f);
    char buf[7];  // small blocks: the filter's state must run on between them
    int n;
    while ((n = filter.filteredP3dRead(buf, 1, sizeof buf, f)) > 0) out.append(buf, std::size_t(n));
  }
  std::fclose(f);
  return out;
}

TEST(P3dFilter, TenEmptyRowsBeforeTheLayerEndBecomeTwo) {
  const std::string head = "\x1b*g11W head ww 0W ";
  const std::string row = std::string("2v\x00\x80", 4) + "vvw";
  const std::string tail = "\x1b*rB\r\n003FFC28\r\n";
  const std::string in = head + marker + row + std::string(10, 'w') + "0W" + tail;
  const std::string want = head + marker + row.substr(0, row.size() - 1) + "ww0W" + tail;
  EXPECT_EQ(filtered(in), want);
  // The filter starts over at the end of the file: a second pass is the same.
  EXPECT_EQ(filtered(in, 2), want + want);
}

TEST(P3dFilter, PassesRowsAndDataThatAreNotEmptyRowRuns) {
  const std::string cases[] = {
      // A last plane with data ends the layer: "12W" is no empty row.
      marker + "www" + "2W\x01\xff" + "tail",
      // Data bytes that look like row codes are data.
      marker + "3vwwwvvw" + "ww" + "5y" + "1vwvvw0W",
      // Empty rows between printed rows stay.
      marker + "1v\x01vvw" + "wwwww" + "1v\x02vvw0W",
  };
  for (const auto& in : cases) EXPECT_EQ(filtered(in), in);
}

// A row read dot by dot ends where the whole-row decoder says it does.
TEST(PackBitsRow, DotReaderAndRowDecoderAgreeAndStayInsideTheRow) {
  struct Case {
    std::string row;
    int bytes;
    bool dangling;
  } cases[] = {
      {"\x80\x55", 129, false},  // a count byte 0x80 repeats 129 times
      {std::string("\x02\x01\x02\x03", 4), 3, false},
      {std::string("\x05\xAA\xBB", 3), 2, false},  // literal run cut by the row's end
      {std::string("\x00\xAA\xFE", 3), 1, true},   // a count byte with nothing behind it
      {"\xFE", 0, true},
  };
  for (const auto& c : cases) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(c.row.data());
    std::vector<std::uint8_t> whole;
    bool dangling = false;
    ASSERT_EQ(unpackRow(whole, data, int(c.row.size()), 1 << 20, &dangling), c.bytes);
    EXPECT_EQ(dangling, c.dangling);
    PackBitsSlot slot{data, 0, 0, int(c.row.size()), 0, false};
    int rows = 1, endCall = -1;
    std::vector<std::uint8_t> dots(whole.size(), 0);
    for (int i = 0; i < 8 * c.bytes + 16; ++i) {
      const bool on = packBitsNextBit(slot, &rows);
      if (on) dots[std::size_t(i / 8)] |= std::uint8_t(0x80 >> (i % 8));
      if (rows == 0 && endCall < 0) endCall = i;
    }
    EXPECT_EQ(dots, whole);
    EXPECT_EQ(rows, 0);  // counted off exactly once
    EXPECT_EQ(endCall, c.bytes == 0 ? 0 : 8 * c.bytes - 1 + (c.dangling ? 1 : 0));
  }
}

std::vector<std::uint8_t> bitsRow(const std::string& bits) {
  std::vector<std::uint8_t> out((bits.size() + 7) / 8, 0);
  for (std::size_t i = 0; i < bits.size(); ++i)
    if (bits[i] == '1') out[i / 8] |= std::uint8_t(0x80 >> (i % 8));
  return out;
}

TEST(HazeTrim, RunsLongerThanTwiceTheHazeLoseTheirLastDots) {
  struct Case {
    int haze;
    const char* in;
    const char* out;
  } cases[] = {
      {2, "0011111100111100", "0011110000111100"},  // 6 dots keep 4, 4 dots stay
      {1, "1110101100011100", "1100101100011000"},
      {2, "0000000000000000", "0000000000000000"},
  };
  for (const auto& c : cases) {
    const std::string packed = packBits(bitsRow(c.in));
    PackBitsSlot slot{reinterpret_cast<const std::uint8_t*>(packed.data()), 0, 0, int(packed.size()), 0, false};
    std::vector<std::uint8_t> store;
    trimAndRepackRow(slot, c.haze, store);
    std::vector<std::uint8_t> back;
    unpackRow(back, slot.data, slot.bytesLeft);
    EXPECT_EQ(back, bitsRow(c.out)) << c.in;
  }
}

// Dot d of a row lands at 999 - d of a 1000-dot page when mirrored.
TEST(MirrorRow, DotsLandMirroredOnThePageAndLeadingZerosGo) {
  LookupTables t;
  t.fillBitTables();
  std::mt19937 rng(7);
  std::vector<std::vector<std::uint8_t>> rows = {{0, 0, 0, 0, 0, 0x81, 0x81, 0x40}, {0x5A, 0, 0, 0, 0, 1}, {0, 0x5A}};
  for (int i = 0; i < 40; ++i) {
    std::vector<std::uint8_t> r(std::size_t(1 + rng() % 60), 0);
    for (std::size_t k = rng() % 10; k < r.size(); ++k) r[k] = rng() % 3 ? std::uint8_t(rng()) : 0;
    rows.push_back(r);
  }
  for (const auto& row : rows) {
    std::string packed = packBits(row);
    std::vector<std::uint8_t> data(packed.begin(), packed.end());
    int used = 0;
    const int start = mirrorRow(data.data(), int(data.size()), t, &used);
    EXPECT_EQ(start, 8 * (125 - int(row.size())));
    std::vector<std::uint8_t> back;
    if (used > 0) unpackRow(back, data.data(), used);
    std::vector<int> want, got;
    for (std::size_t d = 0; d < row.size() * 8; ++d)
      if (row[d / 8] & (0x80 >> (d % 8))) want.push_back(999 - int(d));
    for (std::size_t d = 0; d < back.size() * 8; ++d)
      if (back[d / 8] & (0x80 >> (d % 8))) got.push_back(start + int(d));
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);
    std::size_t leading = 0;
    while (leading < row.size() && row[leading] == 0) ++leading;
    EXPECT_LE(back.size(), row.size() - leading + 1);
  }
}

TEST_F(ConversionFixture, LayerSearchAndLeadingEmptyRows) {
  const std::string job = "xx*r1" + marker + "ww10y" + std::string("2v\x00\x01", 4) + "vvw0W";
  {
    std::FILE* f = std::fopen(p3dPath().c_str(), "wb");
    std::fwrite(job.data(), 1, job.size(), f);
    std::fclose(f);
  }
  std::FILE* f = std::fopen(p3dPath().c_str(), "rb");
  P3dReadBuffer in(f);
  EXPECT_TRUE(seekLayerStart(in));
  std::uint8_t next = 0;
  EXPECT_TRUE(in.next(next));
  EXPECT_EQ(next, 'w');  // the first byte behind the marker
  EXPECT_FALSE(seekLayerStart(in));
  std::fclose(f);
  EXPECT_EQ(leadingEmptyRows(core, conv->layout.job), 12);
  // Skips that add up past any count (a damaged job) end at the limit.
  const std::string skips = marker + "999999999y999999999y999999999y" + std::string("2v\x00\x01", 4) + "vvw0W";
  ASSERT_TRUE(core.writeTextFile(p3dPath(), skips));
  EXPECT_EQ(leadingEmptyRows(core, conv->layout.job), kRowNumberLimit);
}

}  // namespace
}  // namespace ph::testing
