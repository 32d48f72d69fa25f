#include "host/mesh/obj_lines.h"

#include <sys/stat.h>

#include <cfloat>
#include <cmath>
#include <cstring>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/mesh/mesh_text.h"

namespace ph {

namespace {
constexpr std::size_t kChunk = 1 << 20;
}

bool parseFloatWord(std::string_view word, float& out) {
  double v = 0.0;
  if (!parseNumber(word, v) || std::fabs(v) > double(FLT_MAX)) return false;
  out = float(v);
  return true;
}

LineReader::~LineReader() {
  if (f_) std::fclose(f_);
}

bool LineReader::open(const std::string& name) {
  name_ = name;
  f_ = std::fopen(nativePath(expandCurrentDir(name)).c_str(), "rb");
  if (!f_) return false;
  // A folder opens on Linux but reads nothing: it is no file of lines.
  struct stat st {};
  if (fstat(fileno(f_), &st) != 0 || S_ISDIR(st.st_mode)) {
    std::fclose(f_);
    f_ = nullptr;
    return false;
  }
  buf_.resize(kChunk);
  return true;
}

bool LineReader::fill() {
  if (eof_ || !f_) return false;
  // Keep the unread part at the front and read behind it.
  const std::size_t left = end_ - begin_;
  if (begin_ > 0) std::memmove(buf_.data(), buf_.data() + begin_, left);
  begin_ = 0;
  end_ = left;
  if (buf_.size() - end_ < kChunk / 2) buf_.resize(buf_.size() + kChunk);
  const std::size_t n = std::fread(buf_.data() + end_, 1, buf_.size() - end_, f_);
  end_ += n;
  if (n == 0) {
    eof_ = true;
    if (std::ferror(f_)) failed_ = true;
    return false;
  }
  return true;
}

bool LineReader::next(std::string_view& line) {
  if (!f_ || failed_) return false;
  std::size_t scanned = begin_;
  for (;;) {
    const void* nl = std::memchr(buf_.data() + scanned, '\n', end_ - scanned);
    if (nl) {
      const std::size_t at = std::size_t(static_cast<const char*>(nl) - buf_.data());
      std::size_t len = at - begin_;
      if (len && buf_[begin_ + len - 1] == '\r') --len;
      line = std::string_view(buf_.data() + begin_, len);
      begin_ = at + 1;
      ++line_;
      return true;
    }
    const std::size_t offset = end_ - begin_;
    if (!fill()) {
      if (failed_ || begin_ == end_) return false;
      // The last line has no line end.
      std::size_t len = end_ - begin_;
      if (len && buf_[begin_ + len - 1] == '\r') --len;
      line = std::string_view(buf_.data() + begin_, len);
      begin_ = end_;
      ++line_;
      return true;
    }
    scanned = begin_ + offset;
  }
}

AtomicTextFile::AtomicTextFile(HostCore& core, std::string target)
    : core_(core), target_(std::move(target)), temp_(target_ + ".part") {}

AtomicTextFile::~AtomicTextFile() {
  if (f_) {
    std::fclose(f_);
    std::remove(nativePath(expandCurrentDir(temp_)).c_str());
  }
}

bool AtomicTextFile::open() {
  f_ = std::fopen(nativePath(expandCurrentDir(temp_)).c_str(), "wb");
  if (!f_) core_.memoPrintf("unable to write to file: %s", target_);
  return f_ != nullptr;
}

void AtomicTextFile::flush() {
  if (f_ && !pending_.empty() && std::fwrite(pending_.data(), 1, pending_.size(), f_) != pending_.size())
    failed_ = true;
  pending_.clear();
}

void AtomicTextFile::put(std::string_view text) {
  if (!f_) return;
  pending_.append(text);
  if (pending_.size() >= kChunk) flush();
}

bool AtomicTextFile::commit() {
  if (!f_) return false;
  flush();
  const bool written = !failed_ && std::ferror(f_) == 0;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  const std::string temp = nativePath(expandCurrentDir(temp_));
  if (written && closed && std::rename(temp.c_str(), nativePath(expandCurrentDir(target_)).c_str()) == 0) return true;
  std::remove(temp.c_str());
  core_.memoPrintf("unable to write to file: %s", target_);
  return false;
}

}  // namespace ph
