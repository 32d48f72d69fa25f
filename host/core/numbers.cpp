#include "host/core/numbers.h"

#include <climits>
#include <cmath>
#include <cstdint>

namespace ph {

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

static bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isNumberText(const std::string& t) {
  if (t.empty()) return false;
  if (!(isDigit(t[0]) || (t[0] == '-' && t.size() > 1))) return false;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    for (std::size_t i = 2; i < t.size(); ++i)
      if (!isHexDigit(t[i])) return false;
    return true;
  }
  for (std::size_t i = 1; i < t.size(); ++i)
    if (!isDigit(t[i])) return false;
  return true;
}

int textToInt(const std::string& t) {
  if (!isNumberText(t)) return 0;
  if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    std::uint32_t v = 0;
    for (std::size_t i = 2; i < t.size(); ++i) {
      char c = t[i];
      int d = isDigit(c) ? c - '0' : (c >= 'a' ? c - 'a' + 10 : c - 'A' + 10);
      v = v * 16u + std::uint32_t(d);
    }
    return static_cast<int>(v);
  }
  return leadingInt(t);
}

int saturatedInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return INT_MAX;
  if (v <= -2147483648.0) return INT_MIN;
  return int(v);
}

int leadingInt(const std::string& t) {
  std::size_t i = 0;
  bool neg = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
  long long v = 0;
  for (; i < t.size() && isDigit(t[i]); ++i) {
    v = v * 10 + (t[i] - '0');
    if (v > (long long)INT_MAX + 1) v = (long long)INT_MAX + 1;  // saturate, keep going
  }
  if (neg) v = -v;
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

int hexTextToInt(const std::string& t) {
  std::uint32_t v = 0;
  for (char c : t) {
    std::uint32_t d = 0;
    if (isDigit(c)) d = std::uint32_t(c - '0');
    else if (c >= 'A' && c <= 'Z') d = std::uint32_t(c - 'A' + 10);
    v = v * 16u + d;
  }
  return static_cast<int>(v);
}

}  // namespace ph
