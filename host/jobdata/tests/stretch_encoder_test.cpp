// The encoder against the decoder: every stretch must decode on its own to
// the columns it was given.
#include "host/jobdata/stretch_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "conversion_fixture.h"
#include "host/jobdata/dmc_out.h"

namespace ph::testing {
namespace {

struct EncoderTest : ::testing::Test {
  CoreFixture f;
  DmcOut out;
  StretchEncoder enc{out};
  EncoderTest() { out.open(nullptr); }

  std::vector<std::uint8_t> encode(const std::vector<Column>& cols) {
    const std::size_t from = out.memory().size();
    enc.startStretch();
    for (const auto& c : cols) enc.encodeColumn(c.data());
    enc.flushStretch();
    return {out.memory().begin() + long(from), out.memory().end()};
  }
};

// Walks the grammar: literal blocks of at most 60 bytes, combined codes,
// digits; no window reset or repeat flag; nothing left over.
void expectWellFormed(const std::vector<std::uint8_t>& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const std::uint8_t b = s[i++];
    if (b < 0x80) continue;
    if (b >= 0xC0) {
      i += 1;
      continue;
    }
    ASSERT_LE(b, 0xBC) << "code " << int(b) << " at " << i - 1;
    i += std::size_t(b - 0x80);
  }
  EXPECT_EQ(i, s.size());
}

void expectSameColumns(const std::vector<Column>& given, const std::vector<Column>& decoded, const char* what) {
  const std::size_t n = std::min(given.size(), decoded.size());
  for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(given[i], decoded[i]) << what << ": column " << i;
  const Column zero{};
  // Whole empty columns at the end are not sent.
  for (std::size_t i = n; i < given.size(); ++i) ASSERT_EQ(given[i], zero) << what << ": lost column " << i;
  for (std::size_t i = n; i < decoded.size(); ++i) ASSERT_EQ(decoded[i], zero) << what << ": extra column " << i;
}

std::vector<Column> generate(std::mt19937& rng, int kind) {
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  std::vector<Column> cols;
  const int length = kind == 0 ? pick(8) : 1 + pick(300);
  for (int i = 0; i < length; ++i) {
    Column c{};
    const int form = kind == 1 ? 5 : pick(8);
    if (i >= 2 && form == 1) {
      c = cols[std::size_t(i - 2)];
    } else if (i >= 1 && form == 2) {
      c = cols[std::size_t(i - 1)];
    } else if (i >= 2 && form == 3) {  // a few bytes changed from two back
      c = cols[std::size_t(i - 2)];
      for (int k = pick(3) + 1; k > 0; --k) c[std::size_t(pick(54))] = std::uint8_t(rng());
    } else if (form == 4) {  // dense random
      for (auto& b : c) b = std::uint8_t(rng());
    } else if (form == 5) {  // sparse bytes among zeros
      for (auto& b : c) b = pick(6) == 0 ? std::uint8_t(rng()) : 0;
    } else if (form == 6 && kind == 2) {  // a very long zero run
      for (int k = 1200 + pick(2600); k > 0; --k) cols.push_back(Column{});
      for (auto& b : c) b = std::uint8_t(rng() | 1);
    }
    cols.push_back(c);
  }
  return cols;
}

TEST_F(EncoderTest, EveryStretchDecodesOnItsOwnToItsColumns) {
  std::mt19937 rng(12345);
  // One encoder for all stretches, so nothing may carry from one to the next.
  for (int round = 0; round < 600; ++round) {
    const int kind = round % 3;
    const auto cols = generate(rng, kind);
    const auto data = encode(cols);
    SCOPED_TRACE("round " + std::to_string(round));
    expectWellFormed(data);
    expectSameColumns(cols, decodeStretch(f.core, data), "stretch");
    if (HasFatalFailure()) return;
  }
}

// The shortcuts the stretch builder takes (known repeats, runs of equal
// columns taken at once, bytes counted by class) write exactly what the
// plain byte-by-byte steps write.
TEST(EncoderShortcuts, WriteTheSameBytesAsThePlainSteps) {
  CoreFixture f;
  DmcOut plainOut, fastOut;
  plainOut.open(nullptr);
  fastOut.open(nullptr);
  StretchEncoder plain(plainOut), fast(fastOut);
  plain.plain = true;
  std::mt19937 rng(777);
  for (int round = 0; round < 150; ++round) {
    // Runs of equal columns, as a band's interior gives them.
    std::vector<Column> cols;
    for (const Column& c : generate(rng, round % 3)) cols.insert(cols.end(), rng() % 4 ? 1 : 1 + rng() % 20, c);
    plain.startStretch();
    fast.startStretch();
    for (std::size_t i = 0; i < cols.size();) {
      plain.encodeColumn(cols[i].data());
      const bool repeats = i >= 2 && cols[i] == cols[i - 1] && cols[i] == cols[i - 2];
      if (repeats && fast.canRepeat()) {
        std::size_t j = i;
        while (j < cols.size() && cols[j] == cols[i]) ++j;
        for (std::size_t k = i + 1; k < j; ++k) plain.encodeColumn(cols[k].data());
        fast.repeatColumns((long long)(j - i));
        i = j;
        continue;
      }
      fast.encodeColumn(cols[i].data(), repeats);
      ++i;
    }
    plain.flushStretch();
    fast.flushStretch();
    ASSERT_EQ(fastOut.memory(), plainOut.memory()) << "round " << round;
  }
}

TEST_F(EncoderTest, StretchStartingLikeTheLastOneEndedDecodesOnItsOwn) {
  Column a{}, b{};
  a.fill(0x5A);
  b.fill(0x3C);
  encode({a, b, a, b});
  const std::vector<Column> next{a, b, a, Column{}};
  expectSameColumns(next, decodeStretch(f.core, encode(next)), "second stretch");
}

// After a split the window is empty: the caller's columns from before the
// split are not what the next piece repeats.
TEST_F(EncoderTest, RepeatHintAfterASplitIsNotTakenFromTheEmptiedWindow) {
  Column a{};
  a.fill(0x77);
  enc.startStretch();
  for (int i = 0; i < 3; ++i) enc.encodeColumn(a.data(), i >= 2);
  enc.flushStretch();  // the split: the next piece opens with the 3 columns sent
  const std::size_t from = out.memory().size();
  enc.startPieceAfter(3);
  for (int i = 0; i < 4; ++i) enc.encodeColumn(a.data(), true);  // the caller sees the same column all along
  enc.flushStretch();
  const std::vector<std::uint8_t> piece(out.memory().begin() + long(from), out.memory().end());
  expectSameColumns({Column{}, Column{}, Column{}, a, a, a, a}, decodeStretch(f.core, piece), "piece");
}

TEST_F(EncoderTest, AllZeroStretchIsOneEmptyColumn) {
  for (int n : {1, 2, 5, 300}) {
    const auto data = encode(std::vector<Column>(std::size_t(n)));
    EXPECT_EQ(data, (std::vector<std::uint8_t>{0x81, 0x00, 0x35})) << n << " columns";
  }
}

TEST_F(EncoderTest, LongZeroRunGoesInChunksBelowTheDecoderLimit) {
  Column one{};
  one[0] = 1;
  std::vector<Column> cols{one};
  cols.resize(1 + 2500);  // 135000 zero bytes
  cols.push_back(one);
  const auto data = encode(cols);
  const std::vector<std::uint8_t> chunk{0x81, 0x00, 0x00, 0x00, 0x0F, 0x81, 0x00};
  EXPECT_NE(std::search(data.begin(), data.end(), chunk.begin(), chunk.end()), data.end());
  expectSameColumns(cols, decodeStretch(f.core, data), "long run");
  for (const auto& l : f.log()) EXPECT_EQ(l.find("nuls overflow"), std::string::npos);
}

TEST(InlineCodes, LiteralRunsAndSixBitCounts) {
  EXPECT_EQ(literalRunCode(0xFF, 22), "\x96" + std::string(22, '\xFF'));
  EXPECT_EQ(literalRunCode(0, 0), "\x80");
  EXPECT_EQ(sixBitCount(0x40, 108), "\x6C\x41");  // 44 + 1 x 64
  EXPECT_EQ(sixBitCount(0, 32), "\x20");
  EXPECT_EQ(sixBitCount(0, 0), "");
}

}  // namespace
}  // namespace ph::testing
