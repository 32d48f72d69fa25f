#pragma once
// Files the slicer reads. Only regular files are read, and never more than a
// limit the caller sets: a device, a pipe or a folder named as an input gets
// a clear message instead of a read that never ends or a blocked open.
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>

namespace lt {

// The largest files of each kind the slicer reads.
constexpr long long kMaxModelBytes = 0x7FFFFFFF;      // the fingerprint holds the size in 32 bits
constexpr long long kMaxSupportBytes = 64LL << 20;    // a support file
constexpr long long kMaxSmallTextBytes = 1LL << 20;   // "ngsetup.txt", colour cubes, batch files
constexpr long long kMaxPictureBytes = 256LL << 20;   // a bitmap layer (2400 x 3485 dots is 25 MB)
constexpr long long kNoSizeLimit = -1;                // read in blocks: a job to copy, a POV scene

class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  // Opens `path` (named `what` in messages, e.g. "the model") for reading.
  // False with error() when it does not open, is not a regular file, or is
  // larger than maxBytes (kNoSizeLimit: any size).
  bool open(const std::string& path, const std::string& what, long long maxBytes);
  // The file did not exist (open() failed with nothing else wrong).
  bool missing() const { return missing_; }
  long long size() const { return size_; }
  std::time_t modified() const { return mtime_; }
  // Up to n bytes; fewer only at the end of the file; -1 on a read error
  // (error() tells).
  long long read(void* buf, std::size_t n);
  const std::string& error() const { return error_; }

 private:
  int fd_ = -1;
  long long size_ = 0;
  std::time_t mtime_ = 0;
  bool missing_ = false;
  std::string path_, what_, error_;
};

// The whole of a file of at most maxBytes; nothing with `error` set when it
// cannot be read, and with `missing` set (and `error` empty) when it does not
// exist.
std::optional<std::string> readInputFile(const std::string& path, const std::string& what, long long maxBytes,
                                         std::string& error, bool* missing = nullptr);

}  // namespace lt
