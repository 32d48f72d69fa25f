#include "host/core/texts.h"

#include <algorithm>
#include <cctype>

namespace ph {

std::string popToken(std::string& text, char sep) {
  auto p = text.find(sep);
  if (p == std::string::npos) {
    std::string all;
    all.swap(text);
    return all;
  }
  std::string head = text.substr(0, p);
  text.erase(0, p + 1);
  return head;
}

std::string splitAt(const std::string& text, char c, bool after) {
  auto p = text.find(c);
  if (!after) return p == std::string::npos ? text : text.substr(0, p);
  return p == std::string::npos ? std::string() : text.substr(p + 1);
}

void replaceAllIn(std::string& text, const std::string& search, const std::string& repl) {
  if (search.empty()) return;
  std::size_t from = 0;
  for (int n = 0; n < 99; ++n) {
    auto p = text.find(search, from);
    if (p == std::string::npos) return;
    text.replace(p, search.size(), repl);
    from = p + repl.size();
  }
}

std::string replaceAll(std::string text, const std::string& search, const std::string& repl) {
  replaceAllIn(text, search, repl);
  return text;
}

std::string reversed(const std::string& text) { return std::string(text.rbegin(), text.rend()); }

int lastPos(const std::string& text, const std::string& part) {
  if (part.empty()) return 0;
  auto p = text.rfind(part);
  return p == std::string::npos ? 0 : int(p) + 1;
}

int lastPosEnd(const std::string& text, const std::string& part) {
  int p = lastPos(text, part);
  return p == 0 ? 0 : p + int(part.size()) - 1;
}

char charAt(const std::string& text, int pos) {
  if (pos < 1 || pos > int(text.size())) return ' ';
  return text[std::size_t(pos - 1)];
}

bool inCharRanges(char c, const std::string& ranges) {
  const signed char v = static_cast<signed char>(c);
  for (std::size_t i = 0; i + 1 < ranges.size(); i += 2)
    if (static_cast<signed char>(ranges[i]) <= v && v <= static_cast<signed char>(ranges[i + 1])) return true;
  return false;
}

const char* boolText(bool b) { return b ? "true" : "false"; }

std::string quotedArg(const std::string& path) {
  if (path.find(' ') != std::string::npos) return "\"" + path + "\" ";
  return path + " ";
}

std::string subText(const std::string& text, int start, int count) {
  if (start < 1) {
    count += start - 1;
    start = 1;
  }
  if (count <= 0 || start > int(text.size())) return "";
  return text.substr(std::size_t(start - 1), std::size_t(count));
}

void deleteText(std::string& text, int start, int count) {
  if (start < 1 || count <= 0 || start > int(text.size())) return;
  text.erase(std::size_t(start - 1), std::size_t(count));
}

std::string intPartText(const std::string& text) { return splitAt(text, '.', false); }

std::string trimmed(const std::string& text) {
  auto b = text.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  auto e = text.find_last_not_of(" \t\r\n");
  return text.substr(b, e - b + 1);
}

std::string wrapText(const std::string& text, int width) {
  std::string out = text;
  int count = 0;
  for (std::size_t i = 0; i + 1 < out.size(); ++i) {
    ++count;
    if (out[i] == ' ' && count > width) {
      out[i] = '\n';
      count = 0;
    }
  }
  return out;
}

std::string upperCase(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::string lowerCase(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace ph
