#include "platform/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace plat {

std::FILE* openRegularFile(const std::string& path, const char* mode, std::string& why) {
  const std::string m = mode;
  const bool write = m.find('w') != std::string::npos, append = m.find('a') != std::string::npos;
  const bool update = m.find('+') != std::string::npos;
  int flags = O_CLOEXEC | O_NONBLOCK;
  if (write || append) flags |= (update ? O_RDWR : O_WRONLY) | O_CREAT | (append ? O_APPEND : 0);
  else flags |= update ? O_RDWR : O_RDONLY;
  // Without waiting: a FIFO with nobody at its other end would block the
  // open for ever.
  const int fd = ::open(path.c_str(), flags, 0666);
  struct stat st {};
  if (fd < 0) {
    const int e = errno;
    why = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) ? kNotRegularFile : std::strerror(e);
    errno = e;
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = kNotRegularFile;
    errno = EINVAL;
    return nullptr;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (write && ::ftruncate(fd, 0) != 0) {
    why = std::strerror(errno);
    ::close(fd);
    return nullptr;
  }
  std::FILE* f = ::fdopen(fd, mode);
  if (!f) {
    why = std::strerror(errno);
    ::close(fd);
  }
  return f;
}

}  // namespace plat
