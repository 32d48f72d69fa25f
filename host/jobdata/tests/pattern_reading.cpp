#include "pattern_reading.h"

#include <stdexcept>

namespace ph::testing {

namespace {

const std::string kLayerStart = "\x1b*r1A\x1b*b2M\x1b*b";
const std::string kHead = "wwwwwwwwww102y";

std::vector<std::uint8_t> unpack(const std::string& s) {
  std::vector<std::uint8_t> out;
  std::size_t i = 0;
  while (i < s.size()) {
    const int h = std::int8_t(s[i++]);
    if (h < 0) {
      if (i >= s.size()) throw std::runtime_error("repeat run without its byte");
      out.insert(out.end(), std::size_t(1 - h), std::uint8_t(s[i++]));
    } else {
      if (i + std::size_t(h) + 1 > s.size()) throw std::runtime_error("literal run past the plane's bytes");
      for (int k = 0; k <= h; ++k) out.push_back(std::uint8_t(s[i++]));
    }
  }
  return out;
}

}  // namespace

std::vector<ReadLayer> readPatternLayers(const std::string& bytes) {
  std::vector<ReadLayer> layers;
  std::size_t at = 0;
  while ((at = bytes.find(kLayerStart, at)) != std::string::npos) {
    at += kLayerStart.size();
    if (bytes.compare(at, kHead.size(), kHead) != 0) throw std::runtime_error("no pattern layer head");
    at += kHead.size();
    ReadLayer layer;
    ReadRow row;
    int plane = 0, number = 0;
    bool digits = false;
    while (at < bytes.size()) {
      const char c = bytes[at++];
      if (c >= '0' && c <= '9') {
        number = number * 10 + (c - '0');
        digits = true;
        continue;
      }
      if (c != 'v' && c != 'w' && c != 'W') throw std::runtime_error(std::string("unexpected code ") + c);
      if (plane > 3) throw std::runtime_error("more than four planes in a row");
      if (digits && number == 0) throw std::runtime_error("a zero count is written as the code alone");
      if (at + std::size_t(number) > bytes.size()) throw std::runtime_error("plane past the end of the file");
      row.packedBytes[std::size_t(plane)] = number;
      row.planes[std::size_t(plane)] = unpack(bytes.substr(at, std::size_t(number)));
      at += std::size_t(number);
      if ((c == 'v') != (plane < 3)) throw std::runtime_error("plane code out of place");
      number = 0;
      digits = false;
      if (c == 'v') {
        ++plane;
        continue;
      }
      layer.rows.push_back(row);
      row = ReadRow{};
      plane = 0;
      if (c == 'W') {
        layer.endedWithW = true;
        break;
      }
    }
    layers.push_back(layer);
  }
  return layers;
}

}  // namespace ph::testing
