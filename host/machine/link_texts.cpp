#include "host/machine/link_texts.h"

#include <cctype>

#include "host/core/numbers.h"
#include "host/core/texts.h"

namespace ph {

std::string parseCommDevice(const std::string& text, int& baud) {
  std::string dev = text;
  if (auto p = dev.find("@br"); p != std::string::npos) {
    baud = textToInt(dev.substr(p + 3, 99));
    dev.erase(p);
  }
  if (!dev.empty() && dev.back() == '-') {
    baud = 0;
    dev.pop_back();
  }
  if (dev.size() >= 5 && upperCase(dev.substr(0, 3)) == "COM") dev = "\\\\.\\" + dev;
  return dev;
}

bool matchKeyword(char c, const std::string& keyword, int& state) {
  if (state >= 0 && state < static_cast<int>(keyword.size()) && keyword[static_cast<std::size_t>(state)] == c) {
    if (++state == static_cast<int>(keyword.size())) {
      state = 0;
      return true;
    }
    return false;
  }
  state = 0;
  return false;
}

bool matchKeywordNumber(char c, const std::string& keyword, int& state, int& v0, int& v1, int& v2) {
  if (state < 100) {
    if (matchKeyword(c, keyword, state)) {
      state = 100;
      v2 = v1;
      v1 = v0;
      v0 = 0;
    }
    return false;
  }
  // Number phase: state 100 + 100 per digit, + 1 when negative.
  if (c >= '0' && c <= '9') {
    // Saturates instead of overflowing on a runaway digit string.
    if (v0 < 100000000) v0 = v0 * 10 + (c - '0');
    state += 100;
    return false;
  }
  if (state >= 200) {
    if (state % 100 == 1) v0 = -v0;
    state = 0;
    return true;
  }
  if (c == '-') state = 101;
  return false;
}

std::size_t inlineStretchLength(const std::string& data) {
  std::size_t i = 0;
  while (i < data.size()) {
    const auto b = static_cast<unsigned char>(data[i++]);
    if (b == 0xBF) return i;
    if (b >= 0x81 && b <= 0xBC) i += b - 0x80u;  // a literal block
    else if (b >= 0xC0) i += 1;                  // one literal byte and a run
  }
  return data.size();
}

std::string printableText(const std::string& text) {
  std::string out = text;
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 32) c = '?';
  return out;
}

std::string caretText(const std::string& text, bool keepLf, bool keepCr) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 32 && !(keepLf && c == '\n') && !(keepCr && c == '\r')) {
      out += '^';
      out += static_cast<char>(u + 64);
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace ph
