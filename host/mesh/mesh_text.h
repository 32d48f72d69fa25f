#pragma once
// Small text and file helpers of the mesh readers: strict number reading,
// blank splitting, file extensions, opening only regular files and reading
// lines of bounded length.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/host_core.h"

namespace ph {

// A whole text as a finite number (an optional sign, digits, ".", exponent);
// false for anything else, "nan" and "inf" included.
bool parseNumber(std::string_view text, double& out);
// The text without leading and trailing blanks and control characters.
std::string_view trimView(std::string_view text);
// Cuts the next word (up to a blank or tab) off the front of the text.
std::string_view cutWordView(std::string_view& text);
// The extension of a file name: after the last "." of its name part,
// lower-cased; "" when the name has no ".". "a.b.png" gives "png".
std::string extensionOf(const std::string& path);
// The name part (after the last "/" or "\") without its extension.
std::string coreNameOf(const std::string& path);

// "" when the path names a regular file (symbolic links followed), else
// why it is not one: "no such file", "a folder", "not a regular file".
std::string regularFileProblem(const std::string& path);
// Opens a regular file for reading through platform's openRegularFile, with
// the host's path rules. A folder, FIFO or device is refused without
// waiting on it; `why` then says why (null result).
FilePtr openRegularFile(const std::string& path, std::string& why);

// The longest line a mesh reader takes (OBJ, MTL and their options files).
constexpr std::size_t kMaxLineBytes = 1000000;

// Lines of a text file: the line end (LF, CR LF) removed, a UTF-8 byte
// order mark before the first line skipped.
// The one line reader of the mesh and scan tools.
class LineReader {
 public:
  enum class Result { Line, End, TooLong, Error };
  LineReader() = default;
  explicit LineReader(std::FILE* file) : file_(file) {}
  // Reads a regular file of its own (a folder, FIFO or device is refused
  // without waiting); false when it cannot, `why()` says why.
  bool open(const std::string& name);
  Result next(std::string& line);
  // The next line as a view, valid until the next call; false at the end,
  // and also at a line over the limit or a read error (failed() then).
  bool next(std::string_view& line);
  // The line number of the last line given (from 1).
  int number() const { return number_; }
  long long lineNumber() const { return number_; }
  bool failed() const { return failed_ != Result::Line; }
  // Why the reading stopped early ("" when it did not).
  const char* failure() const { return problem(failed_); }
  const std::string& name() const { return name_; }
  const std::string& why() const { return why_; }
  // "line N: ..." texts for a result that is not a line.
  static const char* problem(Result r);

 private:
  FilePtr owned_;
  std::FILE* file_ = nullptr;
  std::vector<char> buf_;
  std::size_t pos_ = 0, end_ = 0;
  int number_ = 0;
  std::string line_, name_, why_;
  Result failed_ = Result::Line;
};

}  // namespace ph
