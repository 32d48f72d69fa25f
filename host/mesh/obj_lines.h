#pragma once
// Line-wise text files for the OBJ tools: a reader of lines of any length
// that counts them (for messages naming file and line), and a writer that
// builds its file under a temporary name beside the target and moves it into
// place only when every byte was written.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ph {

class HostCore;

// A whole word as a single-precision number: finite and within float's
// range (a larger number is no coordinate and would not convert).
bool parseFloatWord(std::string_view word, float& out);

class LineReader {
 public:
  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // False (nothing told) when the file cannot be opened for reading.
  bool open(const std::string& name);
  // The next line without its line end ("\n" or "\r\n"); false at the end
  // of the file or after a read error (see failed()). The view stays valid
  // until the next call.
  bool next(std::string_view& line);
  // The number (from 1) of the line next() gave last.
  long long lineNumber() const { return line_; }
  bool failed() const { return failed_; }
  const std::string& name() const { return name_; }

 private:
  bool fill();
  std::FILE* f_ = nullptr;
  std::string name_;
  std::vector<char> buf_;
  std::size_t begin_ = 0, end_ = 0;
  bool eof_ = false, failed_ = false;
  long long line_ = 0;
};

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
