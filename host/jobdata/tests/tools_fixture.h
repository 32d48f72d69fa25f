#pragma once
// Hand-built .dmc files for the viewer and tool tests, written byte by byte
// from the file layout (magic, offset 516, a 508-byte header, records of a
// 10-byte header and their data, the final placeholder), and counting the
// colours of a picture.
#include <QImage>

#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host/core/bitmaps.h"

namespace ph::testing {

struct HandRecord {
  std::string code;  // two characters
  char type = '{';
  std::string data;  // the encoded data (the next record's 0xBF ends it)
  long long length = -1;  // the length field; -1: the true length
};

inline std::string dmcBytes(const std::vector<HandRecord>& records, bool placeholder = true) {
  std::string b("DMC\0", 4);
  b += std::string("\x04\x02\0\0", 4);  // 516
  b += std::string(508, '\0');
  for (const auto& r : records) {
    const long long len = r.length >= 0 ? r.length : 10 + (long long)r.data.size();
    char head[32];
    std::snprintf(head, sizeof head, "%06lld", len);
    b += "\xBF" + r.code + head + r.type + r.data;
  }
  if (placeholder) b += "\xBF" "00000000}";
  return b;
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string fileText(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// How many dots of each colour value a picture holds (white left out).
inline std::map<int, int> colourCounts(const QImage& picture) {
  std::map<int, int> out;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = 0; x < picture.width(); ++x)
      if (const int c = pixelAt(picture, x, y); c != 0xFFFFFF) ++out[c];
  return out;
}

}  // namespace ph::testing
