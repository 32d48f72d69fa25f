// The print head's wiring and the developer tables.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>

#include "conversion_fixture.h"
#include "host/jobdata/head_tables.h"

namespace ph::testing {
namespace {

TEST(HeadWiring, NozzlesMapOneToOneOntoTheConnectorPins) {
  // Nozzles 1-26 and 31-56, as the head's wiring diagram gives them.
  const int wired[52] = {47, 41, 35, 29, 25, 21, 17, 13, 9,  5,  1,  49, 43, 37, 31, 27, 23, 19,
                         15, 11, 7,  3,  51, 45, 39, 33, 48, 42, 36, 30, 26, 22, 18, 14, 10, 6,
                         2,  50, 44, 38, 32, 28, 24, 20, 16, 12, 8,  4,  52, 46, 40, 34};
  int i = 0;
  for (int n = 1; n <= 60; ++n) {
    if ((n >= 27 && n <= 30) || n >= 57) {
      EXPECT_EQ(nozzleToPin(n), 0) << n;
      continue;
    }
    EXPECT_EQ(nozzleToPin(n), wired[i++]) << n;
  }
  for (int n : {0, -1, 61, 300}) EXPECT_EQ(nozzleToPin(n), 0) << n;
  const auto back = pinToNozzle();
  for (int pin = 1; pin <= 52; ++pin) EXPECT_EQ(nozzleToPin(back[std::size_t(pin)]), pin) << pin;
}

TEST(HeadWiring, EveryPinHasOneNameAndEachLineOnePin) {
  std::map<std::string, int> seen;
  for (int pin = 1; pin <= 52; ++pin) {
    const std::string name = pinName(pin);
    ASSERT_GE(name.size(), 2u) << pin;
    ++seen[name];
  }
  for (int a = 1; a <= 22; ++a) EXPECT_EQ(seen["A" + std::to_string(a)], 1) << a;
  for (int p = 1; p <= 14; ++p) EXPECT_EQ(seen["P" + std::to_string(p)], 1) << p;
  EXPECT_EQ(pinName(0), "");
  EXPECT_EQ(pinName(53), "");
  EXPECT_EQ(pinName(1), "A9");
  EXPECT_EQ(pinName(52), "A14");
}

struct TablesRig : ConversionRig {
  HeadTables tables{core, job};
};

TEST(HeadTables, MuxCodesAreRewrittenOnTheTableOfTheLastPress) {
  TablesRig t;
  t.tables.rebuildMuxCodes();
  // Code 8 (bit 20) -> port bit 6; code 21 (bits 16, 18, 21) -> port bit 7,
  // 5 << 16 and 0x40; code 2 stays on port bit 19.
  EXPECT_EQ(t.tables.muxcodes[0], 0xA0000u);
  EXPECT_EQ(t.tables.muxcodes[6], 0x40u);
  EXPECT_EQ(t.tables.muxcodes[14], 0x500C0u);
  EXPECT_TRUE(t.logHas("reconstruction=0"));
  EXPECT_TRUE(t.logHas("unsigned setmuxcodes[22] ={"));
  // The second press reads the rewritten words: bits 20 and 21 are gone.
  t.tables.rebuildMuxCodes();
  EXPECT_EQ(t.tables.muxcodes[6], 0x80000u);
  EXPECT_EQ(t.tables.muxcodes[14], 0x50000u | 1u << 19);
}

TEST(HeadTables, ContactLayoutDrawsEveryPadAndJoinsNearOnesOnTheirCircles) {
  TablesRig t;
  t.core.memoPrintf("before");
  t.ui.inputs = {"30"};
  t.tables.logContactLayout();
  EXPECT_EQ(t.ui.prompts.back(), "drillspeed");
  const auto& lines = t.log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0], "circle") << "the log is cleared first";
  std::vector<std::pair<double, double>> pads;
  int joins = 0;
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
    double x = 0, y = 0, d = 0;
    if (lines[i] == "circle") {
      ASSERT_EQ(std::sscanf(lines[i + 1].c_str(), "%lf,%lf", &x, &y), 2);
      ASSERT_EQ(std::sscanf(lines[i + 2].c_str(), "%lf", &d), 1);
      EXPECT_DOUBLE_EQ(d, 1.6);
      pads.push_back({x, y});
    }
  }
  ASSERT_EQ(pads.size(), 104u);
  auto onACircle = [&](double x, double y) {
    for (const auto& [px, py] : pads)
      if (std::abs(std::hypot(x - px, y - py) - 0.8) < 0.002) return true;
    return false;
  };
  for (std::size_t i = 0; i + 2 < lines.size(); ++i) {
    if (lines[i] != "Polyline") continue;
    double x0, y0, x1, y1;
    ASSERT_EQ(std::sscanf(lines[i + 1].c_str(), "%lf,%lf", &x0, &y0), 2);
    ASSERT_EQ(std::sscanf(lines[i + 2].c_str(), "%lf,%lf", &x1, &y1), 2);
    EXPECT_TRUE(onACircle(x0, y0) && onACircle(x1, y1)) << lines[i + 1] << " " << lines[i + 2];
    ++joins;
  }
  EXPECT_GT(joins, 0);
  EXPECT_EQ(joins % 2, 0);
}

TEST(HeadTables, PageLinksGoBeforeEachGroupOfMarkedLines) {
  TablesRig t;
  const std::string from = t.dir + "/show.htm", to = t.dir + "/show_links.htm";
  std::ofstream(from) << "intro\n\nwitvlak.1 a\nwitvlak.1 b\nend\nwitvlak.2\n";
  std::ofstream(to) << "older";
  t.ui.files = {from, to};
  t.tables.linkPresentationPages();
  std::ifstream in(to);
  const std::string got{std::istreambuf_iterator<char>(in), {}};
  EXPECT_EQ(got,
            "intro\n \n"
            "<a name=p1></a><a href=#p2>n</a>&nbsp <a href=#p1>p</a><br>\n"
            "witvlak.1 a\nwitvlak.1 b\nend\n"
            "<a name=p2></a><a href=#p3>n</a>&nbsp <a href=#p1>p</a><br>\n"
            "witvlak.2\n");

  // The operator's page itself is never written over.
  EXPECT_FALSE(t.tables.copyWithPageLinks(from, from));
  std::ifstream again(from);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}).substr(0, 5), "intro");
  // A cancelled dialog does nothing.
  t.ui.files = {std::nullopt};
  const auto before = t.log().size();
  t.tables.linkPresentationPages();
  EXPECT_EQ(t.log().size(), before);
}

}  // namespace
}  // namespace ph::testing
