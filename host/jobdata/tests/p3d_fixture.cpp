#include "p3d_fixture.h"

#include <fstream>

namespace ph::testing {

P3dRow P3dRow::dot(int plane, int x) {
  P3dRow r;
  r.set(plane, x);
  return r;
}

void P3dRow::set(int plane, int x) {
  auto& p = planes[std::size_t(plane)];
  if (p.size() < std::size_t(x / 8 + 1)) p.resize(std::size_t(x / 8 + 1), 0);
  p[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
}

std::string packBits(const std::vector<std::uint8_t>& b) {
  std::string out;
  std::size_t i = 0;
  while (i < b.size()) {
    std::size_t k = 1;
    while (i + k < b.size() && b[i + k] == b[i] && k < 128) ++k;
    if (k >= 2) {
      out += char(257 - k);
      out += char(b[i]);
      i += k;
      continue;
    }
    std::size_t n = 1;
    while (i + n < b.size() && n < 128 && !(i + n + 1 < b.size() && b[i + n] == b[i + n + 1])) ++n;
    out += char(n - 1);
    out.append(reinterpret_cast<const char*>(b.data() + i), n);
    i += n;
  }
  return out;
}

namespace {
const std::string esc = "\x1b";
const std::string frameP = esc + "*g11W" + "\x80" + std::string(8, '\x7f');
const std::string frameS = std::string("  $\x80") + std::string(4, '\0');
}  // namespace

P3dJob::P3dJob(int zs, bool startBlock) : zs_(zs) {
  if (startBlock) data_ += frameP + "SETUP1CL120PS7 #i  " + frameS + esc + "&l0L" + std::string(11, ' ') + "\r\n\x0c";
}

void P3dJob::beginLayer() {
  data_ += frameP + "SETUP2CL120ZS" + std::to_string(zs_) + frameS;
  data_ += esc + "*o0M" + esc + "*t300R" + esc + "*r2400S" + esc + "*r1A" + esc + "*b2M" + esc + "*b";
}

void P3dJob::row(const P3dRow& r) {
  for (int p = 0; p < 4; ++p) {
    const auto& bytes = r.planes[std::size_t(p)];
    bool ink = false;
    for (auto b : bytes) ink = ink || b != 0;
    const char code = p == 3 ? 'w' : 'v';
    if (!ink) {
      data_ += code;
      continue;
    }
    const std::string packed = packBits(bytes);
    data_ += std::to_string(packed.size()) + code + packed;
  }
}

void P3dJob::emptyRows(int n) { data_.append(std::size_t(n), 'w'); }

void P3dJob::skipRows(int n) { data_ += std::to_string(n) + "y"; }

void P3dJob::endLayer(int tailRows) {
  emptyRows(tailRows);
  data_ += "0W" + esc + "*rB" + "\x0c" + esc + "E" + esc + "*o0M" + esc + "&l60P" + esc + "&l0L" + std::string(7, ' ') +
           "\r\n";
}

void P3dJob::finish() {
  data_ += frameP + "#b$" + std::string("\x80\0\0\0\0", 5) + "\x0c" + esc + "E" + esc + "*o0M" + esc + "&l0L" +
           std::string(7, ' ') + "\r\n";
  data_ += "003FFC28\r\n";
}

void P3dJob::writeTo(const std::string& path) const {
  std::ofstream f(path, std::ios::binary);
  f << data_;
}

}  // namespace ph::testing
