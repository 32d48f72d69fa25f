#pragma once
// The stream filter every conversion reads the .p3d through: bytes pass
// unchanged, except that runs of empty rows come out as bare "w" row ends
// and at most two empty rows stay in front of a layer's end code ("0W").
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ph {

class P3dFilter {
 public:
  // True while a byte is delivered. At the end of the file nothing is
  // delivered and the filter starts over, so a second pass over the same
  // file filters the same way.
  bool filteredP3dByte(std::FILE* file, std::uint8_t& out);
  // Up to size * count bytes into buffer; stops at the end of the file.
  int filteredP3dRead(void* buffer, std::size_t size, std::size_t count, std::FILE* file);
  void restart();

 private:
  bool inHeader_ = true;
  int markerMatch_ = 0;
  int owed_ = 0;    // data bytes that pass unexamined
  int number_ = 0;  // digits read so far
  int heldRowEnds_ = 0;
  bool atEnd_ = false;
  // At most two bytes wait at a time ("0" and "W" at a layer's end).
  std::uint8_t queue_[4] = {};
  int queueHead_ = 0, queueSize_ = 0;
  // The file is read in blocks; restart() gives up what is left of one.
  int readByte(std::FILE* file);
  std::vector<std::uint8_t> in_ = std::vector<std::uint8_t>(1 << 16);
  std::size_t inPos_ = 0, inLen_ = 0;
};

}  // namespace ph
