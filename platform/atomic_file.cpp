#include "platform/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/regular_file.h"

namespace plat {

namespace {

std::string folderOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is only durable once the folder's entry is on the disk too; a
// folder that cannot be synced (some file systems) does not fail the write.
void syncFolder(const std::string& path) {
  const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

AtomicFile::~AtomicFile() { discard(); }

bool AtomicFile::open(const std::string& target, std::string& why) {
  discard();
  target_ = target;
  error_ = 0;
  const std::string temp = target + kPartSuffix;
  struct stat st {};
  const bool exists = ::stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    why = kNotRegularFile;
    return false;
  }
  // A piece left by an earlier failed run goes; anything else of that name
  // (a folder, a FIFO) makes the exclusive create below fail, never block.
  struct stat old {};
  if (::lstat(temp.c_str(), &old) == 0 && (S_ISREG(old.st_mode) || S_ISLNK(old.st_mode))) ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  // The replacement keeps the permissions the target had.
  if (exists) ::fchmod(fd, st.st_mode & 07777);
  f_ = ::fdopen(fd, "wb");
  if (!f_) {
    why = std::strerror(errno);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  }
  temp_ = temp;
  return true;
}

bool AtomicFile::append(const void* data, std::size_t size) {
  if (!f_ || error_) return false;
  if (size && std::fwrite(data, 1, size, f_) != size) {
    error_ = errno ? errno : EIO;
    return false;
  }
  return true;
}

bool AtomicFile::commit(std::string& why) {
  if (!f_) {
    why = "the file is not open";
    return false;
  }
  int error = error_;
  if (!error && (std::fflush(f_) != 0 || std::ferror(f_))) error = errno ? errno : EIO;
  if (!error && ::fsync(::fileno(f_)) != 0) error = errno;
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  if (!error && !closed) error = errno ? errno : EIO;
  if (!error && ::rename(temp_.c_str(), target_.c_str()) != 0) error = errno;
  if (error) {
    ::unlink(temp_.c_str());
    temp_.clear();
    why = std::strerror(error);
    return false;
  }
  syncFolder(target_);
  temp_.clear();
  return true;
}

void AtomicFile::discard() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool writeFileAtomically(const std::string& target, std::string_view bytes, std::string& why) {
  AtomicFile f;
  if (!f.open(target, why)) return false;
  f.append(bytes);  // a failed write is told by commit
  return f.commit(why);
}

}  // namespace plat
