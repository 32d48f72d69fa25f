// File access of HostCore: opening with operator messages, line files and
// whole-file writers; the helpers on open files.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/core/files.h"
#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "platform/atomic_file.h"
#include "platform/regular_file.h"

namespace ph {

OpenedFile HostCore::openFile(const std::string& name, const char* mode) {
  std::string path = nativePath(expandCurrentDir(name));
  std::string why;
  // "nul" is the null device on purpose; any other name opens only a
  // regular file (or makes a new one).
  FilePtr f(path == "nul" ? std::fopen("/dev/null", mode) : plat::openRegularFile(path, mode, why));
  if (f) return {std::move(f), Result::success()};
  // Only a special file is told with the reason: the other failures keep
  // their plain message.
  const std::string told = why == plat::kNotRegularFile ? name + " (" + why + ")" : name;
  if (upperCase(mode).find('W') != std::string::npos) {
    const std::string message = "unable to write to file: " + told;
    ui.showMessage(message);
    return {FilePtr(std::fopen("/dev/null", mode)), Result::failure(message, true)};
  }
  const std::string message = "cannot read from file: " + told;
  ui.showMessage(message);
  return {nullptr, Result::failure(message, true)};
}

Result HostCore::readSettingsFile(const std::string& name, std::string& text) {
  const std::string why = readSettingsText(expandCurrentDir(name), text);
  if (why.empty()) return Result::success();
  const std::string message = "cannot read from file: " + name + " (" + why + ")";
  ui.showMessage(message);
  return Result::failure(message, true);
}

bool HostCore::readLine(const std::string& name, std::string& line, FilePtr& file) {
  const bool wasOpen = bool(file);
  if (!file) file = openFile(name, "r").file;
  if (!file) return false;
  if (wasOpen && std::feof(file.get())) {
    file.reset();
    return false;
  }
  char buf[2048];
  if (!std::fgets(buf, sizeof buf, file.get())) buf[0] = 0;
  std::size_t n = std::strlen(buf);
  if (n && buf[n - 1] == '\n') buf[--n] = 0;
  if (n && buf[n - 1] == '\r') buf[--n] = 0;  // files written with CR LF
  line.assign(buf, n);
  return true;
}

bool HostCore::writeLine(const std::string& name, const std::string& text, FilePtr& file) {
  if (!file) file = openFile(name, "w+").file;  // the null device when it fails
  if (!file) return false;
  // A failed write is told once, when it first shows.
  const bool failedBefore = std::ferror(file.get()) != 0;
  const bool ok = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
                  std::fputc('\n', file.get()) != EOF;
  if (!ok && !failedBefore) reportShortWrite(name);
  return ok;
}

bool HostCore::closeLine(FilePtr& file, const std::string& name) {
  if (!file) return true;
  const bool failedBefore = std::ferror(file.get()) != 0;
  const bool closed = std::fclose(file.release()) == 0;
  if (!closed && !failedBefore) reportShortWrite(name);
  return closed && !failedBefore;
}

std::string HostCore::cutWord(std::string& text) {
  const auto start = text.find_first_not_of(' ');
  text.erase(0, start == std::string::npos ? text.size() : start);
  const auto end = text.find(' ');
  std::string word = text.substr(0, end);
  text.erase(0, end == std::string::npos ? text.size() : end + 1);
  if (word.empty()) ui.showMessage("empty");
  return word;
}

void HostCore::reportShortWrite(const std::string& name) {
  memoPrintf("unable to write to file: %s", name);
  ui.showMessage("unable to write to file: " + name);
}

bool HostCore::writeFileBytes(const std::string& name, const void* data, std::size_t count) {
  const std::string path = nativePath(expandCurrentDir(name));
  if (path == "nul") return true;  // the null device on purpose, as openFile
  plat::AtomicFile f;
  std::string why;
  if (!f.open(path, why)) {
    // Told as openFile tells a file it cannot make.
    ui.showMessage("unable to write to file: " + (why == plat::kNotRegularFile ? name + " (" + why + ")" : name));
    return false;
  }
  f.append(data, count);
  if (f.commit(why)) return true;
  reportShortWrite(name);
  return false;
}

bool HostCore::writeTextFile(const std::string& name, const std::string& text) {
  return writeFileBytes(name, text.data(), text.size());
}

bool writeString(const std::string& text, std::FILE* file) {
  return file && std::fwrite(text.data(), 1, text.size(), file) == text.size();
}

long long filePos(std::FILE* file) { return file ? static_cast<long long>(ftello(file)) : -1; }

long long fileSize(std::FILE* file) {
  if (!file) return -1;
  const off_t at = ftello(file);
  if (at < 0 || fseeko(file, 0, SEEK_END) != 0) return -1;
  const off_t size = ftello(file);
  fseeko(file, at, SEEK_SET);
  return static_cast<long long>(size);
}

long long fileSizeOf(const std::string& name) {
  struct stat st {};
  const std::string path = nativePath(expandCurrentDir(name));
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  FilePtr f(std::fopen(path.c_str(), "rb"));
  return fileSize(f.get());
}

}  // namespace ph
