// A layer renderer for bitmap-layer models ("#amin" pictures): the slicer's
// outside peer, for tests and demonstrations.
//
//   layer_renderer FOLDER [REQUESTS [IDLE_SECONDS]]
//
// It waits for "bmprequest", reads the height z (mm) from FOLDER/layerdat.txt,
// writes FOLDER/layerdat.bmp and sets "bmpready". The picture is 101 x 101
// pixels on white: for z >= 0 a disc around (50, 50) of radius 40 - 10 z
// pixels (a pixel is inside when dx² + dy² <= r²), red left of x = 50 and blue
// from there on; for z < 0 (the slicer measuring the picture) white only.
// After REQUESTS answers (0: no limit) it ends with status 0; IDLE_SECONDS
// (30) without a request end it with status 2. The BMP is written here byte
// by byte, apart from any picture library the slicer uses.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/named_event.h"

namespace {

constexpr int kSize = 101;

struct Rgb {
  std::uint8_t r, g, b;
};

// Pixel (x, y) of the layer at z; y counts from the top row.
Rgb layerPixel(double z, int x, int y) {
  const Rgb white{255, 255, 255}, red{255, 0, 0}, blue{0, 0, 255};
  if (z < 0) return white;
  const double r = 40 - 10 * z;
  const int dx = x - 50, dy = y - 50;
  if (r < 0 || dx * dx + dy * dy > r * r) return white;
  return x < 50 ? red : blue;
}

void put16(std::string& b, unsigned v) {
  b += char(v & 255);
  b += char(v >> 8 & 255);
}
void put32(std::string& b, std::uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A 24-bit BMP: file head, info head, rows from the bottom up, each padded
// to four bytes.
std::string bmpOf(double z) {
  const int stride = (kSize * 3 + 3) / 4 * 4;
  std::string b;
  b += "BM";
  put32(b, 54 + std::uint32_t(stride * kSize));
  put32(b, 0);
  put32(b, 54);
  put32(b, 40);
  put32(b, kSize);
  put32(b, kSize);
  put16(b, 1);
  put16(b, 24);
  put32(b, 0);
  put32(b, std::uint32_t(stride * kSize));
  put32(b, 2835);
  put32(b, 2835);
  put32(b, 0);
  put32(b, 0);
  for (int y = kSize - 1; y >= 0; --y) {
    std::string row;
    for (int x = 0; x < kSize; ++x) {
      const Rgb p = layerPixel(z, x, y);
      row += char(p.b);
      row += char(p.g);
      row += char(p.r);
    }
    row.resize(std::size_t(stride), '\0');
    b += row;
  }
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: layer_renderer FOLDER [REQUESTS [IDLE_SECONDS]]\n");
    return 64;
  }
  const std::string folder = argv[1];
  const long requests = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 0;
  const long idle = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 30;
  auto request = plat::NamedEvent::open("bmprequest");
  auto ready = plat::NamedEvent::open("bmpready");
  if (!request || !ready) {
    std::perror("layer_renderer: events");
    return 3;
  }
  for (long answered = 0; requests <= 0 || answered < requests; ++answered) {
    if (request->wait(int(idle * 1000)) != plat::NamedEvent::Wait::Signalled) return 2;
    std::ifstream in(folder + "/layerdat.txt", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    char* end = nullptr;
    const double z = std::strtod(text.c_str(), &end);
    std::ofstream out(folder + "/layerdat.bmp", std::ios::binary | std::ios::trunc);
    out << bmpOf(end == text.c_str() ? -1 : z);
    out.close();
    if (!out) std::fprintf(stderr, "layer_renderer: cannot write %s/layerdat.bmp\n", folder.c_str());
    ready->set();
  }
  return 0;
}
