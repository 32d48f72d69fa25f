#include "slicer/job_format.h"

#include <cmath>

#include "platform/format.h"
#include "slicer/colour_model.h"

namespace lt {

namespace {

constexpr std::size_t kFrameLimit = 255;  // the printer takes frames of at most 255 bytes
const std::string kEsc = "\x1b";

std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int c : b) s.push_back(char(c));
  return s;
}

}  // namespace

std::string frameP() { return kEsc + "*g11W" + bytes({0x80, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}); }

std::string frameS() { return bytes({0x20, 0x20, 0x24, 0x80, 0x00, 0x00, 0x00, 0x00}); }

int clValue(float zEnd, float z, double boxY) { return roundEven((double(zEnd) - z) * 0.5 + boxY + 5); }

int psValue(int cl) { return cl <= 80 ? 5 : (cl - 80) / 20 + 5; }

int pageLines(int cl) { return roundEven(cl * 6.0 / 25.4 + 6); }

int thicknessCode(double mm) { return roundEven(mm * 100); }

std::string pageEnd(int quality, int cl) {
  return "\x0c" + kEsc + "E" + kEsc + "*o" + std::to_string(quality) + "M" + kEsc + "&l" +
         std::to_string(pageLines(cl)) + "P" + kEsc + "&l0L" + std::string(7, ' ') + "\r\n";
}

std::string startBlock(const std::string& setupBlock1, int cl, int quality) {
  std::string text = setupBlock1 + "CL" + std::to_string(cl) + "PS" + std::to_string(psValue(cl)) + " #i  ";
  const std::string open = frameP(), close = frameS();
  text.resize(std::min(text.size(), kFrameLimit - open.size() - close.size()));
  return open + text + close + kEsc + "&l0L" + std::string(11, ' ') + "\r\n\x0c" + kEsc + "E" + kEsc + "*o" +
         std::to_string(quality) + "M" + kEsc + "&l" + std::to_string(pageLines(cl)) + "P" + kEsc + "&l0L" +
         std::string(7, ' ') + "\r\n";
}

std::string layerBlock(const std::string& setupBlock2, int cl, int zs) {
  std::string head = frameP() + setupBlock2;
  if (head.size() > kFrameLimit) head.resize(kFrameLimit);
  return head + "CL" + std::to_string(cl) + "ZS" + std::to_string(zs) + frameS();
}

std::string endBlock() {
  return frameP() + "#b$" + bytes({0x80, 0x00, 0x00, 0x00, 0x00}) + "\x0c" + kEsc + "E" + kEsc + "*o0M" + kEsc +
         "&l0L" + std::string(7, ' ') + "\r\n";
}

std::string fingerprintLine(std::int32_t modelSize, std::int32_t modelDateCode, std::uint16_t paramCrc,
                            std::uint32_t modelContentCrc) {
  const std::uint32_t v = std::uint32_t(modelSize) ^ std::uint32_t(modelDateCode) ^ (std::uint32_t(paramCrc) << 6) ^
                          modelContentCrc;
  return plat::format("%08X\r\n", v);
}

}  // namespace lt
