#pragma once
// Buffered output of the .dmc file. The record writer patches headers it
// wrote earlier and moves back over records it drops, so besides appending
// this writer can overwrite earlier bytes and move its write position back
// (the bytes behind the new position are given up).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace ph {

class DmcOut {
 public:
  // Starts at position 0 of the file; with a null file everything stays
  // in memory (memory()).
  void open(std::FILE* file);
  void put(std::uint8_t b) { buf_.push_back(b); }
  void write(const void* data, std::size_t n);
  long long tell() const { return base_ + (long long)buf_.size(); }
  // The next byte goes to pos; bytes from pos on are given up.
  void seek(long long pos);
  // Overwrites n bytes at pos, which lie before the write position.
  void patch(long long pos, const void* data, std::size_t n);
  // Writes what is buffered and cuts the file at the write position.
  // False when any write failed.
  bool finish();
  bool failed() const { return failed_; }
  // The system's error number of the first failed write (0: none known).
  int errorNumber() const { return errno_; }
  // Hands a full buffer to the file (between stretches).
  void settle() { maybeFlush(); }
  const std::vector<std::uint8_t>& memory() const { return buf_; }

 private:
  void flushBuffer();
  void maybeFlush() {
    if (file_ && buf_.size() >= kFlushBytes) flushBuffer();
  }
  // Big enough for few writes, small enough that a first conversion does
  // not fault in pages it hardly needs.
  static constexpr std::size_t kFlushBytes = 1 << 18;
  std::FILE* file_ = nullptr;
  long long base_ = 0;  // file offset of buf_[0]
  std::vector<std::uint8_t> buf_;
  bool failed_ = false;
  int errno_ = 0;
  void fail();
};

}  // namespace ph
