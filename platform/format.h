#pragma once
// printf-style formatting with the format checked against the arguments at
// compile time: a wrong argument type or count is a compile error, and a
// format is always a literal, so device or file text can never be taken as
// a format. std::string may be passed for %s. Numbers are written in the C
// locale's form as long as LC_NUMERIC is "C" (both programs set it).
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

namespace plat {

namespace fmtdetail {

enum class Kind : unsigned char { Int, Float, Str, Ptr, Bad };

template <class T>
consteval Kind kindOf() {
  using U = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<U, bool> || std::is_integral_v<U> || std::is_enum_v<U>) return Kind::Int;
  else if constexpr (std::is_floating_point_v<U>) return Kind::Float;
  else if constexpr (std::is_same_v<U, std::string> || std::is_same_v<U, std::string_view> ||
                     std::is_convertible_v<U, const char*>)
    return Kind::Str;
  else if constexpr (std::is_pointer_v<U>) return Kind::Ptr;
  else return Kind::Bad;
}

// Not constexpr: reaching it during constant evaluation is the compile error.
void formatError(const char* why);

// Walks the format; returns the number of arguments it takes, writing their
// kinds into out (at most max). Leading "%n" / "%o" markers are skipped when
// allowed.
consteval int scan(const char* f, Kind* out, int max, bool markers) {
  int n = 0;
  int i = 0;
  if (markers) {
    if (f[0] == '%' && f[1] == 'n') i = 2;
    if (f[i] == '%' && f[i + 1] == 'o') i += 2;
  }
  for (; f[i]; ++i) {
    if (f[i] != '%') continue;
    ++i;
    if (f[i] == '%') continue;
    while (f[i] == '-' || f[i] == '+' || f[i] == ' ' || f[i] == '#' || f[i] == '0') ++i;
    if (f[i] == '*') {
      if (n < max) out[n] = Kind::Int;
      ++n;
      ++i;
    }
    while (f[i] >= '0' && f[i] <= '9') ++i;
    if (f[i] == '.') {
      ++i;
      if (f[i] == '*') {
        if (n < max) out[n] = Kind::Int;
        ++n;
        ++i;
      }
      while (f[i] >= '0' && f[i] <= '9') ++i;
    }
    while (f[i] == 'h' || f[i] == 'l' || f[i] == 'z' || f[i] == 'L' || f[i] == 'j' || f[i] == 't') ++i;
    Kind k = Kind::Bad;
    switch (f[i]) {
      case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': case 'c': k = Kind::Int; break;
      case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': case 'a': case 'A': k = Kind::Float; break;
      case 's': k = Kind::Str; break;
      case 'p': k = Kind::Ptr; break;
      default: formatError("unsupported or incomplete conversion in format");
    }
    if (n < max) out[n] = k;
    ++n;
  }
  return n;
}

template <bool Markers, class... Args>
struct BasicFormat {
  const char* text;
  template <class S>
    requires std::convertible_to<const S&, const char*>
  consteval BasicFormat(const S& s) : text(s) {
    constexpr Kind want[] = {kindOf<Args>()..., Kind::Bad};
    Kind got[sizeof...(Args) + 1] = {};
    int n = scan(text, got, int(sizeof...(Args)), Markers);
    if (n != int(sizeof...(Args))) formatError("format takes a different number of arguments");
    for (int i = 0; i < n; ++i) {
      if (want[i] == Kind::Bad) formatError("argument type cannot be formatted");
      if (want[i] != got[i]) formatError("argument type does not match its conversion");
    }
  }
};

struct Arg {
  Kind kind;
  long long i = 0;
  double d = 0;
  const char* s = nullptr;
  const void* p = nullptr;
};

template <class T>
Arg toArg(const T& v) {
  using U = std::remove_cvref_t<T>;
  Arg a{kindOf<T>()};
  if constexpr (std::is_enum_v<U>) a.i = static_cast<long long>(v);
  else if constexpr (std::is_integral_v<U>) a.i = static_cast<long long>(v);
  else if constexpr (std::is_floating_point_v<U>) a.d = static_cast<double>(v);
  else if constexpr (std::is_same_v<U, std::string>) a.s = v.c_str();
  else if constexpr (std::is_convertible_v<U, const char*>) a.s = v;
  else if constexpr (std::is_pointer_v<U>) a.p = v;
  return a;
}

// Formats with already checked arguments. string_view arguments are not
// accepted at run time (they need not end in NUL): pass std::string.
std::string render(const char* fmt, const Arg* args, std::size_t n);

}  // namespace fmtdetail

template <class... A>
using Format = fmtdetail::BasicFormat<false, std::type_identity_t<A>...>;
template <class... A>
using LogFormat = fmtdetail::BasicFormat<true, std::type_identity_t<A>...>;

// printf-style formatting into a new text.
template <class... A>
std::string format(Format<A...> f, const A&... a) {
  static_assert(((!std::is_same_v<std::remove_cvref_t<A>, std::string_view>) && ...),
                "pass std::string, not std::string_view");
  fmtdetail::Arg args[] = {fmtdetail::toArg(a)..., fmtdetail::Arg{fmtdetail::Kind::Bad}};
  return fmtdetail::render(f.text, args, sizeof...(A));
}

}  // namespace plat
