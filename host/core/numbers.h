#pragma once
// Number helpers. Conversions never overflow: decimal texts saturate at the
// int range, hexadecimal ones keep the low 32 bits.
#include <string>

namespace ph {

bool isHexDigit(char c);
// A decimal integer with optional leading "-", or "0x"/"0X" and hex digits.
bool isNumberText(const std::string& text);
// The value of an isNumberText text, else 0.
int textToInt(const std::string& text);
// Base 16 over every character, no prefix: 0-9, then "A".."Z" as 10..35; any
// other character (lower-case letters too) counts 0.
int hexTextToInt(const std::string& text);
// The leading decimal integer with optional sign (0 when none).
int leadingInt(const std::string& text);

inline int minInt(int a, int b) { return a < b ? a : b; }
inline int maxInt(int a, int b) { return a > b ? a : b; }
// The upper bound first, then the lower: lo wins when lo > hi.
inline int clampInt(int v, int lo, int hi) {
  if (v > hi) v = hi;
  if (v < lo) v = lo;
  return v;
}
// A double as an int, toward zero: beyond the int range (infinities too)
// the nearest int, not-a-number 0.
int saturatedInt(double v);
// The divisor guard: the value, or 1 when it is 0.
inline int notnul(int v) { return v == 0 ? 1 : v; }
inline float minFloat(float a, float b) { return a < b ? a : b; }
inline float maxFloat(float a, float b) { return a > b ? a : b; }
inline float clampFloat(float v, float lo, float hi) {
  if (v > hi) v = hi;
  if (v < lo) v = lo;
  return v;
}
inline float nonZeroFloat(float v) { return v == 0.0f ? 1e-8f : v; }
inline double absFloat(double v) { return v < 0 ? -v : v; }
inline void zeroInts(int* a, int count) {
  for (int i = 0; i < count; ++i) a[i] = 0;
}

}  // namespace ph
