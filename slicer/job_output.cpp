#include "slicer/job_output.h"

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "platform/regular_file.h"
#include "slicer/model_names.h"

namespace lt {

FileWriter::~FileWriter() {
  if (f_) std::fclose(f_);
}

bool FileWriter::fail(const char* what) {
  if (error_.empty()) error_ = plat::format("cannot %s %s: %s", what, path_, std::string(std::strerror(errno)));
  return false;
}

bool FileWriter::open(const std::string& path) {
  path_ = path;
  std::string why;
  // Only a regular file (or a new one): a FIFO would block the job for
  // ever, a device would swallow it.
  f_ = plat::openRegularFile(localPath(path), "wb", why);
  if (!f_) {
    error_ = plat::format("cannot create %s: %s", path_, why);
    return false;
  }
  std::setvbuf(f_, nullptr, _IOFBF, 1 << 20);
  return true;
}

bool FileWriter::write(std::string_view b) {
  if (!f_ || !error_.empty()) return false;
  if (!b.empty() && std::fwrite(b.data(), 1, b.size(), f_) != b.size()) return fail("write");
  return true;
}

bool FileWriter::pageDone() {
  if (!f_ || !error_.empty()) return false;
  if (std::fflush(f_) != 0) return fail("write");
  return true;
}

bool FileWriter::close() {
  if (!f_) return error_.empty();
  const bool flushed = std::fflush(f_) == 0;
  if (!flushed) fail("write");
  const bool closed = std::fclose(f_) == 0;
  f_ = nullptr;
  if (!closed) fail("close");
  return error_.empty();
}

}  // namespace lt
