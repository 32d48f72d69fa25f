#include "slicer/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "slicer/model_names.h"

namespace lt {

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool InputFile::open(const std::string& path, const std::string& what, long long maxBytes) {
  path_ = path;
  what_ = what;
  // Non-blocking, so that opening a pipe without a writer cannot hang; the
  // descriptor of a regular file reads as usual.
  fd_ = ::open(localPath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) {
    const int e = errno;
    missing_ = e == ENOENT;
    error_ = plat::format("cannot read %s %s: %s", what, path, std::string(std::strerror(e)));
    return false;
  }
  struct stat st {};
  if (fstat(fd_, &st) != 0) {
    error_ = plat::format("cannot read %s %s: %s", what, path, std::string(std::strerror(errno)));
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    error_ = plat::format("cannot read %s %s: %s", what, path,
                          std::string(S_ISDIR(st.st_mode) ? "it is a folder" : "it is not a regular file"));
    return false;
  }
  if (maxBytes >= 0 && st.st_size > maxBytes) {
    error_ = plat::format("cannot read %s %s: its %lld bytes are more than the %lld such a file may have", what,
                          path, static_cast<long long>(st.st_size), maxBytes);
    return false;
  }
  size_ = st.st_size;
  mtime_ = st.st_mtime;
  return true;
}

long long InputFile::read(void* buf, std::size_t n) {
  if (fd_ < 0) return -1;
  std::size_t done = 0;
  auto* p = static_cast<char*>(buf);
  while (done < n) {
    const ssize_t r = ::read(fd_, p + done, n - done);
    if (r == 0) break;
    if (r < 0) {
      if (errno == EINTR) continue;
      error_ = plat::format("cannot read %s %s: %s", what_, path_, std::string(std::strerror(errno)));
      return -1;
    }
    done += std::size_t(r);
  }
  return static_cast<long long>(done);
}

std::optional<std::string> readInputFile(const std::string& path, const std::string& what, long long maxBytes,
                                         std::string& error, bool* missing) {
  InputFile f;
  if (missing) *missing = false;
  if (!f.open(path, what, maxBytes)) {
    if (f.missing() && missing) {
      *missing = true;
      error.clear();
    } else {
      error = f.error();
    }
    return std::nullopt;
  }
  std::string text(std::size_t(f.size()), '\0');
  const long long n = f.read(text.data(), text.size());
  if (n < 0) {
    error = f.error();
    return std::nullopt;
  }
  // A file that shrank while it was read ends where it ended; one that grew
  // is read up to the size it had, within the limit.
  text.resize(std::size_t(n));
  return text;
}

}  // namespace lt
