#include "host/machine/port_list.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <map>

namespace ph {

namespace {

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = ::opendir(folder.c_str());
  if (!d) return names;
  while (dirent* e = ::readdir(d)) {
    const std::string n = e->d_name;
    if (n != "." && n != "..") names.push_back(n);
  }
  ::closedir(d);
  return names;
}

bool pathThere(const std::string& p) {
  struct stat st {};
  return ::lstat(p.c_str(), &st) == 0;
}

// A legacy slot without a chip reports type 0 (no UART found).
bool phantomPort(const std::string& ttyFolder) {
  std::ifstream f(ttyFolder + "/type");
  int type = -1;
  return f && (f >> type) && type == 0;
}

std::string lastPart(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  const auto slash = p.rfind('/');
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

// Kernel name -> the first by-id name (in name order) that leads to it.
std::map<std::string, std::string> stableNames(const std::string& devRoot) {
  std::map<std::string, std::string> names;
  const std::string folder = devRoot + "/serial/by-id";
  std::vector<std::string> links = folderEntries(folder);
  std::sort(links.begin(), links.end());
  for (const std::string& l : links) {
    char buf[4096];
    const ssize_t n = ::readlink((folder + "/" + l).c_str(), buf, sizeof buf - 1);
    if (n <= 0) continue;
    names.emplace(lastPart(std::string(buf, static_cast<std::size_t>(n))), folder + "/" + l);
  }
  return names;
}

// "ttyS2" < "ttyS10": digit runs compare by value.
bool naturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
    if (da && db) {
      std::size_t ie = i, je = j;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      std::string x = a.substr(i, ie - i), y = b.substr(j, je - j);
      x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
      y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
      if (x.size() != y.size()) return x.size() < y.size();
      if (x != y) return x < y;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return a[i] < b[j];
      ++i;
      ++j;
    }
  }
  return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<SerialPortEntry> listSerialPorts(const std::string& sysRoot, const std::string& devRoot) {
  const std::string ttys = sysRoot + "/class/tty";
  std::vector<std::string> kernelNames;
  for (const std::string& n : folderEntries(ttys)) {
    const std::string folder = ttys + "/" + n;
    if (!pathThere(folder + "/device") || phantomPort(folder)) continue;
    kernelNames.push_back(n);
  }
  std::sort(kernelNames.begin(), kernelNames.end(), naturalLess);
  const auto stable = stableNames(devRoot);
  std::vector<SerialPortEntry> ports;
  for (const std::string& n : kernelNames) {
    SerialPortEntry e{n, devRoot + "/" + n, ""};
    const auto s = stable.find(n);
    e.name = s != stable.end() ? s->second : e.device;
    ports.push_back(e);
  }
  return ports;
}

}  // namespace ph
