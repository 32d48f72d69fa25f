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
