#include "slicer/job_output.h"

#include <cerrno>
#include <cstring>

#include "platform/format.h"
#include "slicer/model_names.h"

namespace lt {

bool FileWriter::fail(const char* what) {
  if (error_.empty()) error_ = plat::format("cannot %s %s: %s", what, path_, std::string(std::strerror(errno)));
  return false;
}

bool FileWriter::open(const std::string& path) {
  path_ = path;
  std::string why;
  // Only a regular file (or a new one): a FIFO would block the job for
  // ever, a device would swallow it. The old job stays until this one is
  // whole.
  if (!f_.open(localPath(path), why)) {
    error_ = plat::format("cannot create %s: %s", path_, why);
    return false;
  }
  std::setvbuf(f_.stream(), nullptr, _IOFBF, 1 << 20);
  return true;
}

bool FileWriter::write(std::string_view b) {
  if (!f_.isOpen() || !error_.empty()) return false;
  if (!f_.append(b)) return fail("write");
  return true;
}

bool FileWriter::pageDone() {
  if (!f_.isOpen() || !error_.empty()) return false;
  if (std::fflush(f_.stream()) != 0) return fail("write");
  return true;
}

bool FileWriter::close() {
  if (!f_.isOpen()) return error_.empty();
  if (!error_.empty()) {
    f_.discard();
    return false;
  }
  if (std::string why; !f_.commit(why) && error_.empty()) error_ = plat::format("cannot write %s: %s", path_, why);
  return error_.empty();
}

}  // namespace lt
