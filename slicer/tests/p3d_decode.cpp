#include "p3d_decode.h"

#include <bit>

namespace lt::test {

std::optional<Bytes> unpackBits(std::string_view d) {
  Bytes out;
  std::size_t i = 0;
  while (i < d.size()) {
    const auto h = static_cast<std::int8_t>(d[i++]);
    if (h == -128) return std::nullopt;
    if (h >= 0) {
      if (i + std::size_t(h) + 1 > d.size()) return std::nullopt;
      for (int k = 0; k <= h; ++k) out.push_back(std::uint8_t(d[i++]));
    } else {
      if (i >= d.size()) return std::nullopt;
      out.insert(out.end(), std::size_t(1 - h), std::uint8_t(d[i++]));
    }
  }
  return out;
}

bool parsePages(const std::string& job, std::vector<RasterPage>& pages, std::string& error) {
  static const std::string kStart = "\x1b*r1A\x1b*b2M\x1b*b";
  pages.clear();
  std::size_t pos = 0;
  while ((pos = job.find(kStart, pos)) != std::string::npos) {
    pos += kStart.size();
    RasterPage page;
    RasterRow row;
    int plane = 0;
    for (;;) {
      long n = 0;
      bool digits = false;
      while (pos < job.size() && job[pos] >= '0' && job[pos] <= '9') {
        n = n * 10 + (job[pos++] - '0');
        digits = true;
      }
      if (pos >= job.size()) {
        error = "page breaks off";
        return false;
      }
      const char c = job[pos++];
      if (c == 'w' && plane == 0 && n == 0) {
        page.rows.emplace_back();  // an empty row
      } else if (c == 'v' || c == 'w') {
        if (plane > 3 || pos + std::size_t(n) > job.size()) {
          error = "bad plane at " + std::to_string(pos);
          return false;
        }
        auto d = unpackBits(std::string_view(job).substr(pos, std::size_t(n)));
        if (!d) {
          error = "row data does not decode at " + std::to_string(pos);
          return false;
        }
        row.plane[std::size_t(plane++)] = *d;
        pos += std::size_t(n);
        if (c == 'w') {
          if (plane != 4) {
            error = "row of " + std::to_string(plane) + " planes at " + std::to_string(pos);
            return false;
          }
          page.rows.push_back(row);
          row = RasterRow{};
          plane = 0;
        }
      } else if (c == 'y' && digits && plane == 0) {
        page.rows.insert(page.rows.end(), std::size_t(n), RasterRow{});
      } else if (c == 'W' && n == 0 && plane == 0) {
        break;
      } else {
        error = std::string("unexpected code ") + c + " at " + std::to_string(pos - 1);
        return false;
      }
    }
    pages.push_back(std::move(page));
  }
  return true;
}

int dotCount(const Bytes& row) {
  int n = 0;
  for (auto b : row) n += std::popcount(unsigned(b));
  return n;
}

int countOf(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (std::size_t p = hay.find(needle); p != std::string::npos; p = hay.find(needle, p + needle.size())) ++n;
  return n;
}

}  // namespace lt::test
