// The skin colouring's searches against the plain one, on layers built to
// make the nearest surfaces change abruptly.
#include "slicer/skin_colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "slicer/dots.h"

using namespace lt;

namespace {

// An upright wall from (xa, ya) to (xb, yb) through the layer at z = 0, as
// the two facets of a quad: the layer cuts them in one line.
void wall(std::vector<NearFacet>& f, float xa, float ya, float xb, float yb, std::uint16_t colour) {
  const float len = std::hypot(xb - xa, yb - ya);
  NearFacet low{{xa, xb, xb}, {ya, yb, yb}, {-1, -1, 1}, -(xb - xa) / len, 0, colour};
  NearFacet high{{xa, xb, xa}, {ya, yb, ya}, {-1, 1, 1}, -(xb - xa) / len, 0, colour};
  f.push_back(low);
  f.push_back(high);
}

SpanStore colourRow(const std::vector<NearFacet>& f, const SkinSettings& s, int a, int b) {
  SkinColourer skin;
  SpanStore out;
  out.start(0);
  skin.startLayer(f, 0, s);
  skin.startRow(0, -0.5 / kDotsPerMm);  // the row's centre at y = 0
  skin.colourStretch(a, b, out);
  out.endRow();
  return out;
}

std::string spansOf(const SpanStore& s) {
  std::string t;
  for (const Span& sp : s.row(0)) t += std::to_string(sp.colour) + ":" + std::to_string(sp.xEnd) + " ";
  return t;
}

}  // namespace

// A thin plate slanting up from the row, with a short wall farther on
// across the row. Moving right, the plate's two faces are nearest until
// the dots pass the foot of its upper end: there the distance to both
// leaps up, and the short wall, which was farther than either a few dots
// before, becomes the nearest. What was near a few dots before says
// little about what is near now.
TEST(SkinColour, LeapingDistancesGiveWhatThePlainSearchGives) {
  SkinSettings fast;
  fast.skinDepth = 2.5;
  SkinSettings plain = fast;
  plain.exactOnly = true;
  const int a = 10 + int(3 * kDotsPerMm), b = 10 + int(14 * kDotsPerMm);
  for (float rise : {0.8f, 1.0f, 1.3f})
    for (float slope : {0.7f, 1.0f, 1.6f})
      for (float past = 1.3f; past < 2.6f; past += 0.04f) {
        std::vector<NearFacet> f;
        const float x1 = 5 + rise / slope, foot = x1 + rise * slope;  // where the distance leaps
        wall(f, 5, 0, x1, rise, 1);
        wall(f, x1 + 0.05f, rise, 5.05f, 0, 2);
        wall(f, foot + past, -0.02f, foot + past + 0.03f, 0.02f, 3);
        ASSERT_EQ(spansOf(colourRow(f, fast, a, b)), spansOf(colourRow(f, plain, a, b)))
            << "rise " << rise << " slope " << slope << " past " << past;
      }
}
