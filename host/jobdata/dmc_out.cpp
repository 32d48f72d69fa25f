#include "host/jobdata/dmc_out.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace ph {

void DmcOut::open(std::FILE* file) {
  file_ = file;
  base_ = 0;
  buf_.clear();
  failed_ = false;
  errno_ = 0;
}

void DmcOut::fail() {
  if (!failed_) errno_ = errno;
  failed_ = true;
}

void DmcOut::write(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  buf_.insert(buf_.end(), p, p + n);
  maybeFlush();
}

void DmcOut::flushBuffer() {
  if (!file_ || buf_.empty()) return;
  if (std::fwrite(buf_.data(), 1, buf_.size(), file_) != buf_.size()) fail();
  base_ += (long long)buf_.size();
  buf_.clear();
}

void DmcOut::seek(long long pos) {
  if (pos < 0) pos = 0;
  if (pos >= base_) {
    buf_.resize(std::size_t(pos - base_), 0);
    return;
  }
  flushBuffer();
  if (file_) {
    if (std::fflush(file_) != 0 || fseeko(file_, pos, SEEK_SET) != 0) fail();
  }
  base_ = pos;
}

void DmcOut::patch(long long pos, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  const long long end = tell();
  if (pos < 0 || pos + (long long)n > end) {
    errno = 0;
    fail();  // a header that was never written: a fault of the caller
    return;
  }
  while (n > 0 && pos < base_) {
    const std::size_t part = std::size_t(std::min<long long>((long long)n, base_ - pos));
    if (!file_ || std::fflush(file_) != 0 || pwrite(fileno(file_), p, part, pos) != (ssize_t)part) fail();
    p += part;
    pos += (long long)part;
    n -= part;
  }
  if (n > 0) std::memcpy(buf_.data() + (pos - base_), p, n);
}

bool DmcOut::finish() {
  if (!file_) return !failed_;
  flushBuffer();
  if (std::fflush(file_) != 0) fail();
  if (ftruncate(fileno(file_), base_) != 0) fail();
  return !failed_;
}

}  // namespace ph
