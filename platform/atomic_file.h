#pragma once
// Replacing a file whole or not at all. The new content goes to a temporary
// file beside the target (target + kPartSuffix), is flushed to the disk and
// only then renamed over the target; on any failure the temporary file goes
// and the target stays as it was. Only a regular file (or a new one) is
// replaced: a folder, FIFO or device named as the target is refused at once,
// never waited on.
#include <cstdio>
#include <string>
#include <string_view>

namespace plat {

// The one suffix of the temporary file beside a target.
inline constexpr const char* kPartSuffix = ".part";

class AtomicFile {
 public:
  AtomicFile() = default;
  // A file that was opened and not committed is discarded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for `target` (a path on disk). False with
  // `why` (kNotRegularFile, or the system's reason) when the target is no
  // regular file or the temporary file cannot be made.
  bool open(const std::string& target, std::string& why);
  bool isOpen() const { return f_ != nullptr; }
  // Open and no write has failed so far.
  bool good() const { return f_ && !error_ && !std::ferror(f_); }
  // The temporary file's stream, for writers that print, seek or hand it to
  // an encoder; a write error on it is found by commit(). Null when closed.
  std::FILE* stream() const { return f_; }
  // False once a write has failed (also every write after it).
  bool append(const void* data, std::size_t size);
  bool append(std::string_view bytes) { return append(bytes.data(), bytes.size()); }
  // Flushes, syncs to the disk, closes and renames over the target. False
  // with `why` when any step (or an earlier write) failed; the temporary
  // file is then removed and the target untouched.
  bool commit(std::string& why);
  // Removes the temporary file; the target is untouched.
  void discard();
  const std::string& target() const { return target_; }
  const std::string& temporary() const { return temp_; }

 private:
  std::FILE* f_ = nullptr;
  std::string target_, temp_;
  int error_ = 0;  // the first failed write's errno
};

// A whole file from bytes in memory, through AtomicFile. False with `why`.
bool writeFileAtomically(const std::string& target, std::string_view bytes, std::string& why);

}  // namespace plat
