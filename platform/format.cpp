#include "format.h"

#include <cstdio>
#include <stdexcept>

namespace plat::fmtdetail {

void formatError(const char* why) { throw std::logic_error(why); }

namespace {
template <class T>
void append(std::string& out, const std::string& piece, T v) {
  char buf[128];
  int n = std::snprintf(buf, sizeof buf, piece.c_str(), v);
  if (n < 0) return;
  if (std::size_t(n) < sizeof buf) {
    out.append(buf, std::size_t(n));
    return;
  }
  std::string big(std::size_t(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), piece.c_str(), v);
  big.resize(std::size_t(n));
  out += big;
}
}  // namespace

std::string render(const char* f, const Arg* args, std::size_t n) {
  std::string out;
  std::size_t ai = 0;
  auto next = [&]() -> const Arg* { return ai < n ? &args[ai++] : nullptr; };
  for (std::size_t i = 0; f[i];) {
    if (f[i] != '%') {
      out += f[i++];
      continue;
    }
    if (f[i + 1] == '%') {
      out += '%';
      i += 2;
      continue;
    }
    // Copy the conversion, resolving "*" into digits and dropping length letters.
    std::string piece = "%";
    std::size_t j = i + 1;
    while (f[j] == '-' || f[j] == '+' || f[j] == ' ' || f[j] == '#' || f[j] == '0') piece += f[j++];
    auto starOrDigits = [&] {
      if (f[j] == '*') {
        const Arg* a = next();
        piece += std::to_string(a ? static_cast<int>(a->i) : 0);
        ++j;
      }
      while (f[j] >= '0' && f[j] <= '9') piece += f[j++];
    };
    starOrDigits();
    if (f[j] == '.') {
      piece += f[j++];
      starOrDigits();
    }
    std::string len;
    while (f[j] == 'h' || f[j] == 'l' || f[j] == 'z' || f[j] == 'L' || f[j] == 'j' || f[j] == 't') len += f[j++];
    char conv = f[j];
    if (!conv) break;
    i = j + 1;
    const Arg* a = next();
    if (!a) break;
    switch (conv) {
      case 'd': case 'i': {
        long long v = a->i;
        if (len.empty()) v = static_cast<int>(v);
        else if (len == "h") v = static_cast<short>(v);
        else if (len == "hh") v = static_cast<signed char>(v);
        else if (len == "l") v = static_cast<long>(v);
        append(out, piece + "ll" + conv, v);
        break;
      }
      case 'u': case 'x': case 'X': case 'o': {
        unsigned long long v = static_cast<unsigned long long>(a->i);
        if (len.empty()) v = static_cast<unsigned int>(v);
        else if (len == "h") v = static_cast<unsigned short>(v);
        else if (len == "hh") v = static_cast<unsigned char>(v);
        else if (len == "l") v = static_cast<unsigned long>(v);
        append(out, piece + "ll" + conv, v);
        break;
      }
      case 'c': append(out, piece + 'c', static_cast<int>(static_cast<unsigned char>(a->i))); break;
      case 's': append(out, piece + 's', a->s ? a->s : ""); break;
      case 'p': append(out, piece + 'p', a->p); break;
      default: append(out, piece + conv, a->d); break;
    }
  }
  return out;
}

}  // namespace plat::fmtdetail
