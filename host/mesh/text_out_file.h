#pragma once
// A text file that replaces its target only when every byte is written, so
// a failed or stopped tool leaves an older file, or an input of the same
// name, as it was. A file that is not committed is discarded.
#include <cstdio>
#include <string>
#include <string_view>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "platform/atomic_file.h"

namespace ph {

class TextOutFile {
 public:
  TextOutFile(HostCore& core, std::string target) : core_(core), target_(std::move(target)) {}
  TextOutFile(const TextOutFile&) = delete;
  TextOutFile& operator=(const TextOutFile&) = delete;

  // Creates the temporary file; false (told) when it cannot be created.
  bool open() {
    std::string why;
    if (!file_.open(nativePath(expandCurrentDir(target_)), why)) {
      core_.memoPrintf("unable to write to file: %s", target_);
      return false;
    }
    // Large OBJ files go out in few large writes.
    std::setvbuf(file_.stream(), nullptr, _IOFBF, 1 << 20);
    return true;
  }
  template <class... A>
  void print(plat::Format<A...> fmt, const A&... a) {
    put(plat::format(fmt, a...));
  }
  void put(std::string_view s) { file_.append(s); }
  void putLine(std::string_view s) {
    put(s);
    put("\n");
  }
  // Moves the file to the target; false (told, the temporary file removed)
  // when anything failed.
  bool commit() {
    std::string why;
    if (!file_.commit(why)) {
      core_.memoPrintf("unable to write to file: %s", target_);
      return false;
    }
    return true;
  }
  // Removes the temporary file of a file that is not committed.
  void discard() { file_.discard(); }
  const std::string& target() const { return target_; }

 private:
  HostCore& core_;
  std::string target_;
  plat::AtomicFile file_;
};

}  // namespace ph
