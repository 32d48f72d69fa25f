#pragma once
// The pieces every reader of a .p3d job shares (the scan, the stream
// filter, the row parser, the stretch builder and the row readers): the
// search for the layer-start marker and the command frame, the buffered
// reading of the file, the numbers of the row grammar and the walk over a
// PackBits plane row.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "host/core/main_texts.h"

namespace ph {

// Follows a marker byte by byte. A byte that does not continue the match
// starts it over without being compared with the marker's first byte.
class MarkerMatch {
 public:
  explicit constexpr MarkerMatch(std::string_view marker) : marker_(marker) {}
  // True when c completes the marker; the match then starts over.
  bool feed(std::uint8_t c) {
    if (c != std::uint8_t(marker_[matched_])) {
      matched_ = 0;
    } else if (++matched_ == marker_.size()) {
      matched_ = 0;
      return true;
    }
    return false;
  }
  // True while no part of the marker has been matched.
  bool idle() const { return matched_ == 0; }
  // While idle: the bytes before the next one that can start the marker
  // (all n when none can), which cannot change the match.
  std::size_t skippable(const std::uint8_t* p, std::size_t n) const {
    const void* at = std::memchr(p, marker_[0], n);
    return at ? std::size_t(static_cast<const std::uint8_t*>(at) - p) : n;
  }
  void reset() { matched_ = 0; }

 private:
  std::string_view marker_;
  std::size_t matched_ = 0;
};

// The end of every page head: the rows of the layer follow.
inline MarkerMatch layerStartMatch() { return MarkerMatch(layerStartMarker); }
// The tail of a layer's command frame: the frame's text (with "ZS" and the
// layer thickness) follows.
inline MarkerMatch commandFrameMatch() { return MarkerMatch(commandBlockStart); }

// Reads a file through a large buffer, byte by byte or a span at a time.
class P3dReadBuffer {
 public:
  explicit P3dReadBuffer(std::FILE* file = nullptr) : file_(file), buf_(1 << 16) {}
  // Reads another file from its current position on.
  void attach(std::FILE* file) {
    if (file == file_) return;
    file_ = file;
    discard();
  }
  // The next byte, false at the end of the file.
  bool next(std::uint8_t& c) {
    if (pos_ == len_ && !fill()) return false;
    c = buf_[pos_++];
    return true;
  }
  // The buffered bytes not yet read (none until the first read).
  const std::uint8_t* data() const { return buf_.data() + pos_; }
  std::size_t available() const { return len_ - pos_; }
  void advance(std::size_t n) { pos_ += n; }
  // Reads the next buffer when the last is used up; false at the end.
  bool fill() {
    if (pos_ < len_) return true;
    len_ = file_ ? std::fread(buf_.data(), 1, buf_.size(), file_) : 0;
    pos_ = 0;
    return len_ > 0;
  }
  // Gives up what is buffered: the next read starts at the file position.
  void discard() { pos_ = len_ = 0; }
  void rewind() {
    std::rewind(file_);
    discard();
  }
  std::FILE* file() const { return file_; }

 private:
  std::FILE* file_;
  std::vector<std::uint8_t> buf_;
  std::size_t pos_ = 0, len_ = 0;
};

// Numbers of the row grammar (byte counts, skips) saturate here; the scan
// refuses a job whose numbers are out of range before anything else reads
// them.
inline constexpr int kRowNumberLimit = 100000000;
inline void addRowDigit(int& number, std::uint8_t digit) {
  if (number < kRowNumberLimit) number = number * 10 + (digit - '0');
}
inline bool isRowDigit(std::uint8_t c) { return c >= '0' && c <= '9'; }
// "v" ends a plane, "w" a row, "W" a row and the layer.
inline bool isPlaneCode(std::uint8_t c) { return c == 'v' || c == 'w' || c == 'W'; }

// Walks a PackBits row as the dot reader reads it, bounded by its bytes:
// emit(bytes, n, copies, repeat) per run (a repeat run has one byte and its
// copies, a literal run n bytes; the run's count byte stands before
// `bytes`). Returns the bytes left over: 1 for a count byte with nothing
// behind it.
template <class Emit>
int forEachPackBitsRun(const std::uint8_t* p, int left, Emit emit) {
  while (left > 1) {
    const auto h = std::int8_t(*p++);
    --left;
    if (h < 0) {
      emit(p, 1, 1 - int(h), true);
      ++p;
      --left;
    } else {
      const int n = int(h) + 1 < left ? int(h) + 1 : left;
      emit(p, n, 1, false);
      p += n;
      left -= n;
    }
  }
  return left;
}

}  // namespace ph
