#include "host/core/main_texts.h"

#include "platform/format.h"

namespace ph {

std::string buildDateFrom(std::string_view d) {
  // Positions outside the text read as blanks.
  auto at = [&](std::size_t i) { return i < d.size() ? d[i] : ' '; };
  constexpr std::string_view months = "  JanFebMarAprMayJunJulAugSepOctNovDec";
  const std::string mon{at(0), at(1), at(2)};
  const std::size_t p = months.find(mon);
  const int month = p == std::string_view::npos ? 0 : int(p + 1) / 3;
  std::string out{at(9), at(10)};
  out += plat::format("%02d", month);
  out += at(4) == ' ' ? '0' : at(4);
  out += at(5);
  return out;
}

std::string buildDate() { return buildDateFrom(__DATE__); }

}  // namespace ph
