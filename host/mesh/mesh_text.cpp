#include "host/mesh/mesh_text.h"

#include <charconv>
#include <cmath>

#include "host/core/paths.h"
#include "host/core/texts.h"

namespace ph {

bool parseNumber(std::string_view text, double& out) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text[0] == '-') return false;
  }
  if (text.empty()) return false;
  double v = 0.0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != text.data() + text.size() || !std::isfinite(v)) return false;
  out = v;
  return true;
}

std::string_view trimView(std::string_view text) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

std::string_view cutWordView(std::string_view& text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < text.size() && text[j] != ' ' && text[j] != '\t') ++j;
  const std::string_view word = text.substr(i, j - i);
  text.remove_prefix(j);
  return word;
}

std::string extensionOf(const std::string& path) {
  const std::string name = fileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : lowerCase(name.substr(dot + 1));
}

std::string coreNameOf(const std::string& path) {
  const std::string name = fileNamePart(path);
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

}  // namespace ph
