// The raster page: head, PackBits rows, empty-row codes, marker row, tail.
#include "slicer/raster_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "p3d_decode.h"

using namespace lt;
using namespace lt::test;

namespace {

const std::string kStart = "\x1b*r1A\x1b*b2M\x1b*b";

// Palette colours whose planes are constant: with a cube that says "full
// magenta" for every colour, index 1 is 255 in plane 2 and 0 elsewhere
// (spix 31 leaves no water). White (index 2) under the standard cube is full
// water only.
struct Fixture {
  Fixture() {
    pal.assign(0x8000 | 5 << 10);
    magentaOnly.entry.fill(std::uint16_t(31 << 5));
    tables.build(pal, magentaOnly, {0, 31, 0.5});
  }
  std::string rowsOf(const PageSetup& setup, const std::function<void(RasterEncoder&, std::string&)>& rows,
                     int markerRow = kNoMarkerRow) {
    RasterEncoder e(tables, setup);
    std::string out;
    e.pageHead(1, markerRow, out);
    const std::size_t from = out.size();
    rows(e, out);
    return out.substr(from);
  }
  Palette pal;
  ColourCube magentaOnly;
  ColourTables tables;
};

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(char(c));
  return s;
}

}  // namespace

TEST(RasterEncoder, RowOfOneSpan) {
  Fixture f;
  // 16 dots of full magenta from x = 0: two equal bytes make a literal run.
  EXPECT_EQ(f.rowsOf({}, [](RasterEncoder& e, std::string& out) {
    e.putSpan(16, 1);
    e.endRow(out);
  }),
            "vv3v" + bytes({0x01, 0xFF, 0xFF}) + "w");
}

TEST(RasterEncoder, LongRunsAndLiteralRuns) {
  Fixture f;
  // 200 equal bytes: 128 copies, then 72.
  EXPECT_EQ(f.rowsOf({}, [](RasterEncoder& e, std::string& out) {
    e.putSpan(1600, 1);
    e.endRow(out);
  }),
            "vv4v" + bytes({0x81, 0xFF, 0xB9, 0xFF}) + "w");
  // FF 00 FF FF FF FF FF 00 FF: the repeat in the middle closes the first
  // literal run, the bytes after it open a new one.
  EXPECT_EQ(f.rowsOf({}, [](RasterEncoder& e, std::string& out) {
    e.putSpan(8, 1);
    e.putSpan(16, 0);
    e.putSpan(56, 1);
    e.putSpan(64, 0);
    e.putSpan(72, 1);
    e.endRow(out);
  }),
            "vv8v" + bytes({0x01, 0xFF, 0x00, 0xFC, 0xFF, 0x01, 0x00, 0xFF}) + "w");
}

TEST(RasterEncoder, EmptyRowsAreFolded) {
  Fixture f;
  const std::string inked = "vv2v" + bytes({0x00, 0xFF}) + "w";
  struct Case {
    int empty;
    bool direct;
    int marker;
    std::string between;
  } cases[] = {
      {5, false, kNoMarkerRow, "wwwww"},
      {25, false, kNoMarkerRow, "wwwwwwwwww5ywwwwwwwwww"},
      // To a printer, a long skip carries the marker row.
      {25, true, 13, "wwwwwwwwww2y" + bytes({0x32, 0x76, 0x00, 0x01, 0x76, 0x76, 0x32, 0x77, 0x00, 0x01}) +
                         "2ywwwwwwwwww"},
  };
  for (const auto& c : cases) {
    PageSetup s;
    s.directOutput = c.direct;
    const std::string rows = f.rowsOf(
        s,
        [&](RasterEncoder& e, std::string& out) {
          e.putSpan(8, 1);
          e.endRow(out);
          for (int i = 0; i < c.empty; ++i) e.endRow(out);
          e.putSpan(8, 1);
          e.endRow(out);
          for (int i = 0; i < 30; ++i) e.endRow(out);  // never written
        },
        c.marker);
    EXPECT_EQ(rows, inked + c.between + inked) << c.empty;
  }
}

TEST(RasterEncoder, PageWithoutInk) {
  Fixture f;
  RasterEncoder e(f.tables, {});
  SpanStore store;
  store.start(1);
  for (int r = 0; r < 40; ++r) store.endRow();
  std::string page;
  e.encodeLayer(store, 3, kNoMarkerRow, page);
  const std::string head = "\x1b*o0M\x1b*t300R\x1b*o5W" + bytes({4, 9, 0, 0, 0}) + "\x1b*o5W" + bytes({7, 3, 0, 0, 0}) +
                           "\x1b*c0F\x1b&i5W" + bytes({7, 1, 0, 0, 1}) + "\x1b*o1D\x1b!-c20S\x1b&u300D\x1b*p72X" +
                           "\x1b*g26W" +
                           bytes({2, 4, 1, 44, 1, 44, 0, 2, 1, 44, 1, 44, 0, 2, 1, 44, 1, 44, 0, 2, 1, 44, 1, 44, 0, 2}) +
                           "\x1b*r2400S" + kStart;
  EXPECT_EQ(page, head + std::string(150 + 6 + 49, 'w') + "0W\x1b*rB");
}

TEST(RasterEncoder, MarkerRowInTheTail) {
  Fixture f;
  const std::string marker = bytes({0x32, 0x76, 0x00, 0x01, 0x76, 0x76, 0x32, 0x77, 0x00, 0x01});
  for (bool zero : {false, true}) {
    PageSetup s;
    s.markerBytesZero = zero;
    RasterEncoder e(f.tables, s);
    std::string out;
    e.pageHead(0, 13, out);
    const std::size_t from = out.size();
    e.pageTail(out);
    std::string want = marker;
    if (zero) want[3] = want[9] = 0;
    EXPECT_EQ(out.substr(from), std::string(12, 'w') + want + std::string(137 + 55, 'w') + "0W\x1b*rB");
  }
  EXPECT_EQ(nextMarkerRow(0, 13), 13);
  EXPECT_EQ(nextMarkerRow(26, 13), 7);
  EXPECT_EQ(nextMarkerRow(19, 13), 13);  // 0 becomes the step
  EXPECT_EQ(nextMarkerRow(7, 0), kNoMarkerRow);
}

TEST(RasterEncoder, LowQualityRowFrames) {
  Palette pal;
  pal.assign(0xFFFF);  // white: full water only
  ColourTables t;
  t.build(pal, ColourCube::standard(), {64, 64, 0.5});
  PageSetup s;
  s.lowQuality = true;
  s.widthCode = 227;
  RasterEncoder e(t, s);
  std::string out;
  e.pageHead(0, kNoMarkerRow, out);
  EXPECT_EQ(out.find("\x1b*p"), std::string::npos);  // no cursor text in low quality
  const std::size_t from = out.size();
  e.putSpan(16, 1);
  e.endRow(out);
  e.putSpan(16, 1);
  e.endRow(out);
  // Row 1 wraps the counter (31 -> 0): planes 0 and 3 get the frame end;
  // the rows after it start with 00 01 in those planes.
  const std::string second = "7v" + bytes({0, 1, 227, 0, 0x01, 0xFF, 0xFF}) + "vvw";
  EXPECT_EQ(out.substr(from), "11v" + bytes({0, 0, 227, 0, 0x01, 0xFF, 0xFF, 227, 0, 0, 3}) + "vvw" + second);
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(out + std::string(10, 'w') + "0W", pages, error)) << error;
  EXPECT_EQ(pages[0].rows[0].plane[0].size(), 31u + 2 + 31);  // frame, the two bytes, frame end
}

TEST(RasterEncoder, CopiesAndBackwardSpans) {
  Fixture f;
  PageSetup s;
  s.copiesX = 2;
  s.copiesY = 2;
  s.modelWidthDots = 100;
  s.modelRows = 5;
  RasterEncoder e(f.tables, s);
  SpanStore store;
  store.start(1);
  store.add(0, 8);
  store.add(1, 24);
  store.endRow();
  store.endRow();
  store.add(0, 40);
  store.add(1, 48);
  store.endRow();
  std::string page;
  e.encodeLayer(store, 0, kNoMarkerRow, page);
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(page, pages, error)) << error;
  const auto& rows = pages[0].rows;
  ASSERT_EQ(rows.size(), 8u + 205);  // 3 rows, filled to 5, 3 rows again; the tail
  for (std::size_t r = 8; r < rows.size(); ++r) EXPECT_TRUE(rows[r].empty()) << r;
  for (int copy : {0, 5}) {
    const Bytes& m = rows[std::size_t(copy)].plane[kMagenta];
    EXPECT_EQ(dotCount(m), 32);
    EXPECT_TRUE(!dot(m, 7) && dot(m, 8) && dot(m, 23) && !dot(m, 24) && dot(m, 108) && dot(m, 123) && !dot(m, 124));
    EXPECT_TRUE(rows[std::size_t(copy) + 1].empty());
    EXPECT_EQ(dotCount(rows[std::size_t(copy) + 2].plane[kMagenta]), 16);
  }
  // A span ending left of the current dot covers nothing.
  std::string out;
  RasterEncoder b(f.tables, {});
  b.pageHead(0, kNoMarkerRow, out);
  b.putSpan(40, 1);
  b.putSpan(20, 0);
  b.putSpan(48, 1);
  b.endRow(out);
  ASSERT_TRUE(parsePages(out + "0W", pages, error)) << error;
  EXPECT_EQ(dotCount(pages[0].rows[0].plane[kMagenta]), 48);
}

// Whatever the spans, every row decodes with a standard PackBits decoder to
// exactly the dots the spans' pattern bytes give.
TEST(RasterEncoder, EveryRowDecodesToItsDots) {
  Palette pal;
  std::mt19937 rng(7);
  for (int i = 0; i < 40; ++i) pal.assign(std::uint16_t(0x8000 | (rng() & 0x7FFF)));
  ColourTables t;
  t.build(pal, ColourCube::standard(), {40, 60, 0.6});
  for (int round = 0; round < 4; ++round) {
    const int shift = round * 3 % 8;
    RasterEncoder e(t, {});
    PagePatterns ref(t);
    ref.startPage(shift);
    std::string out;
    e.pageHead(shift, kNoMarkerRow, out);
    std::vector<std::array<Bytes, 4>> want;
    for (int row = 0; row < 300; ++row) {
      std::array<Bytes, 4> meant;
      for (auto& p : meant) p.assign(512, 0);
      int x = 0;
      const int spans = int(rng() % 12);
      for (int s = 0; s < spans; ++s) {
        const int len = rng() % 5 == 0 ? int(rng() % 1500) : int(rng() % 40) + 1;
        const int end = std::min(x + len, 4000);
        const unsigned pick = rng() % 50;
        const int colour = pick < 8 ? 0 : pick < 12 ? kSupportIndex : int(pick % 40) + 1;
        for (int k = 0; k < 4; ++k) {
          const std::uint8_t b = colour == 0 ? 0 : ref.planeByte(colour, k);
          for (int d = x; d < end; ++d)
            if ((b >> (7 - d % 8)) & 1) meant[std::size_t(k)][std::size_t(d / 8)] |= std::uint8_t(0x80 >> (d % 8));
        }
        if (colour != 0) ref.use(colour);
        e.putSpan(end, colour);
        x = end;
      }
      e.endRow(out);
      ref.advance();
      want.push_back(meant);
    }
    out += "0W";
    std::vector<RasterPage> pages;
    std::string error;
    ASSERT_TRUE(parsePages(out, pages, error)) << error;
    const auto& rows = pages[0].rows;
    ASSERT_LE(rows.size(), want.size());
    for (std::size_t r = 0; r < want.size(); ++r)
      for (int k = 0; k < 4; ++k) {
        const Bytes got = r < rows.size() ? rows[r].plane[std::size_t(k)] : Bytes{};
        const Bytes& m = want[r][std::size_t(k)];
        ASSERT_LE(got.size(), m.size());
        for (std::size_t i = 0; i < m.size(); ++i)
          ASSERT_EQ(i < got.size() ? got[i] : 0, m[i]) << "round " << round << " row " << r << " plane " << k
                                                       << " byte " << i;
      }
  }
}
