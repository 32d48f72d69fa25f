#pragma once
// A text file built under a temporary name beside its target (target +
// ".part") and moved to its place only when every byte is written, so a
// failed or stopped tool leaves an older file, or an input of the same
// name, as it was. A file that is not committed is removed.
#include <cstdio>
#include <string>
#include <string_view>

#include "host/core/host_core.h"
#include "host/core/paths.h"

namespace ph {

class TextOutFile {
 public:
  TextOutFile(HostCore& core, std::string target) : core_(core), target_(std::move(target)), temp_(target_ + ".part") {}
  ~TextOutFile() { discard(); }
  TextOutFile(const TextOutFile&) = delete;
  TextOutFile& operator=(const TextOutFile&) = delete;

  // Creates the temporary file; false (told) when it cannot be created.
  bool open() {
    f_ = std::fopen(nativePath(expandCurrentDir(temp_)).c_str(), "wb");
    if (!f_) {
      core_.memoPrintf("unable to write to file: %s", target_);
      return false;
    }
    // Large OBJ files go out in few large writes.
    std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
    return true;
  }
  template <class... A>
  void print(plat::Format<A...> fmt, const A&... a) {
    put(plat::format(fmt, a...));
  }
  void put(std::string_view s) {
    if (f_ && std::fwrite(s.data(), 1, s.size(), f_) != s.size()) failed_ = true;
  }
  void putLine(std::string_view s) {
    put(s);
    put("\n");
  }
  // Closes the file and moves it to the target; false (told, the temporary
  // file removed) when anything failed.
  bool commit() {
    const bool closed = f_ && std::fclose(f_) == 0;
    f_ = nullptr;
    if (failed_ || !closed || std::rename(nativePath(expandCurrentDir(temp_)).c_str(), nativePath(expandCurrentDir(target_)).c_str()) != 0) {
      core_.memoPrintf("unable to write to file: %s", target_);
      std::remove(nativePath(expandCurrentDir(temp_)).c_str());
      return false;
    }
    done_ = true;
    return true;
  }
  // Removes the temporary file of a file that is not committed.
  void discard() {
    if (f_) std::fclose(f_);
    f_ = nullptr;
    if (!done_) std::remove(nativePath(expandCurrentDir(temp_)).c_str());
  }
  const std::string& target() const { return target_; }

 private:
  HostCore& core_;
  std::string target_, temp_;
  std::FILE* f_ = nullptr;
  bool failed_ = false, done_ = false;
};

}  // namespace ph
