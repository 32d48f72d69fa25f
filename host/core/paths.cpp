#include "host/core/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "host/core/texts.h"

namespace ph {

bool isPathSep(char c) { return c == '/' || c == '\\'; }

std::string nativePath(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

namespace {
std::size_t lastSep(const std::string& p) { return p.find_last_of("/\\"); }
}  // namespace

std::string fileNamePart(const std::string& path) {
  auto p = lastSep(path);
  return p == std::string::npos ? path : path.substr(p + 1);
}

std::string pathFolderOrCurrent(const std::string& path) {
  auto p = lastSep(path);
  return p == std::string::npos ? currentDir() : path.substr(0, p + 1);
}

std::string driveDir(const std::string& path) {
  auto p = lastSep(path);
  if (p == std::string::npos) return ".";
  if (p == 0) return path.substr(0, 1);
  return path.substr(0, p);
}

std::string parentDir(const std::string& path) {
  auto p = lastSep(path);
  return p == std::string::npos ? "." : path.substr(0, p);
}

std::string fileCore(const std::string& path) { return splitAt(fileNamePart(path), '.', false); }

std::string fileExt(const std::string& path) {
  std::string name = fileNamePart(path);
  auto p = name.find('.');
  return lowerCase(p == std::string::npos ? name : name.substr(p + 1));
}

std::string currentDir() {
  char buf[PATH_MAX];
  if (!getcwd(buf, sizeof buf)) return ".";
  return buf;
}

std::string expandCurrentDir(const std::string& path) {
  if (path.find("%currentdir%") == std::string::npos) return path;
  return replaceAll(path, "%currentdir%", currentDir());
}

std::string toCurrentDirToken(const std::string& text) {
  const std::string cur = currentDir();
  // The root folder would match every separator: leave such paths alone.
  if (cur.size() <= 1) return text;
  std::string out;
  std::size_t from = 0;
  for (;;) {
    auto p = text.find(cur, from);
    if (p == std::string::npos) break;
    const std::size_t end = p + cur.size();
    // Only whole folder names: "/home/a" must not match in "/home/ab".
    if (end == text.size() || isPathSep(text[end]) || text[end] == '"') {
      out.append(text, from, p - from);
      out += "%currentdir%";
    } else {
      out.append(text, from, end - from);
    }
    from = end;
  }
  out.append(text, from, std::string::npos);
  return out;
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return stat(nativePath(path).c_str(), &st) == 0;
}

bool folderExists(const std::string& path) {
  struct stat st {};
  return stat(nativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string checkedFolder(const std::string& path) {
  if (folderExists(expandCurrentDir(driveDir(path)))) return path;
  return currentDir() + "/" + fileNamePart(path);
}

}  // namespace ph
