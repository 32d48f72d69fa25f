#include "job_dots.h"

#include "conversion_fixture.h"

namespace ph::testing {

namespace {

const std::string kLayerStart = "\x1b*r1A\x1b*b2M\x1b*b";

// The decoded bytes of a PackBits plane.
std::vector<std::uint8_t> unpack(const std::uint8_t* p, std::size_t n) {
  std::vector<std::uint8_t> out;
  std::size_t i = 0;
  while (i + 1 < n) {
    const int h = std::int8_t(p[i++]);
    if (h < 0) {
      out.insert(out.end(), std::size_t(1 - h), p[i++]);
    } else {
      for (int k = 0; k <= h && i < n; ++k) out.push_back(p[i++]);
    }
  }
  return out;
}

long long dotsOf(const std::vector<std::uint8_t>& bytes, int haze) {
  long long dots = 0, run = 0;
  auto endRun = [&] {
    if (haze > 0 && run > 2 * haze) dots -= haze;
    run = 0;
  };
  for (std::uint8_t b : bytes)
    for (int m = 0x80; m; m >>= 1) {
      if (b & m) {
        ++dots;
        ++run;
      } else {
        endRun();
      }
    }
  endRun();
  return dots;
}

}  // namespace

std::vector<PlaneDots> p3dLayerDots(const std::string& text, int haze, int hazePlane) {
  std::vector<PlaneDots> layers;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
  std::size_t at = 0;
  while ((at = text.find(kLayerStart, at)) != std::string::npos) {
    at += kLayerStart.size();
    PlaneDots dots{};
    long long number = 0;
    int plane = 0;
    while (at < text.size()) {
      const char c = text[at++];
      if (c >= '0' && c <= '9') {
        number = number * 10 + (c - '0');
        continue;
      }
      if (c == 'v' || c == 'w' || c == 'W') {
        const std::size_t n = std::min<std::size_t>(std::size_t(number), text.size() - at);
        if (plane < 4) dots[std::size_t(plane)] += dotsOf(unpack(bytes + at, n), plane == hazePlane ? haze : 0);
        at += n;
        plane = c == 'v' ? plane + 1 : 0;
        if (c == 'W') break;
      }
      number = 0;
    }
    layers.push_back(dots);
  }
  return layers;
}

std::vector<FiredBits> dmcLayerBits(HostCore& core, const std::vector<std::uint8_t>& dmc, int band64) {
  std::vector<FiredBits> layers(1);
  for (const DmcRecord& r : parseRecords(dmc)) {
    for (const Column& col : decodeStretch(core, r.data))
      for (int b = 0; b < 54; ++b) {
        const int bits = __builtin_popcount(col[std::size_t(b)]);
        // Bits outside the water bytes count as colour: none is expected
        // in the water-only layout.
        const bool water = band64 == 64 ? b >= 32 : b < 44;
        (water ? layers.back().water : layers.back().colour) += bits;
      }
    if (r.type == '}') layers.emplace_back();
  }
  return layers;
}

std::string stretchTypes(const std::vector<std::uint8_t>& dmc) {
  std::string types;
  for (const DmcRecord& r : parseRecords(dmc))
    if (r.type != '!') types += r.type;
  return types;
}

bool backwardPassRebuilt(const std::string& types) {
  const std::string forward = "{(]", forwardOrLast = "{(]}";
  for (std::size_t i = 0; i + 1 < types.size(); ++i)
    if (forward.find(types[i]) != std::string::npos && forwardOrLast.find(types[i + 1]) != std::string::npos)
      return true;
  return false;
}

FiredBits expectedBits(const PlaneDots& d, int band64, bool blackPrint, bool skipwater) {
  FiredBits f;
  const long long water = blackPrint ? d[1] : d[0];
  if (!skipwater) f.water = 2 * water;
  if (band64 == 64 && !blackPrint) f.colour = d[1] + d[2] + d[3];
  return f;
}

}  // namespace ph::testing
