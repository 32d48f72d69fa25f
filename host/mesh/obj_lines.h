#pragma once
// Line-wise text files for the OBJ tools: lines are read with the mesh
// tools' LineReader (host/mesh/mesh_text.h); the writer builds its file
// under a temporary name beside the target and moves it into place only
// when every byte was written.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/mesh/mesh_text.h"

namespace ph {

class HostCore;

// A whole word as a single-precision number: finite and within float's
// range (a larger number is no coordinate and would not convert).
bool parseFloatWord(std::string_view word, float& out);

class AtomicTextFile {
 public:
  // Nothing is created before open().
  AtomicTextFile(HostCore& core, std::string target);
  ~AtomicTextFile();
  AtomicTextFile(const AtomicTextFile&) = delete;
  AtomicTextFile& operator=(const AtomicTextFile&) = delete;

  // False, told as "unable to write to file: " with the name, when the
  // temporary file cannot be made.
  bool open();
  void put(std::string_view text);
  void putLine(std::string_view text) {
    put(text);
    put("\n");
  }
  // Puts the file in place; false (told) when it was not written whole, and
  // then the target is left as it was.
  bool commit();
  const std::string& target() const { return target_; }

 private:
  HostCore& core_;
  std::string target_, temp_;
  std::FILE* f_ = nullptr;
  std::string pending_;
  bool failed_ = false;
  void flush();
};

}  // namespace ph
