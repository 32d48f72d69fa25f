#include "host/mesh/tests/assimp_check.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace ph::test {

bool assimpInstalled() { return std::system("command -v assimp >/dev/null 2>&1") == 0; }

std::optional<AssimpInfo> assimpInfo(const std::string& path) {
  if (!assimpInstalled()) return std::nullopt;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  quoted += "'";
  std::FILE* p = popen(("assimp info " + quoted + " 2>/dev/null").c_str(), "r");
  if (!p) return std::nullopt;
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (pclose(p) != 0) return std::nullopt;
  AssimpInfo info;
  bool minSeen = false, maxSeen = false;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    auto point = [&](const char* key, std::array<double, 3>& v) {
      if (line.rfind(key, 0) != 0) return false;
      const auto open = line.find('(');
      return open != std::string::npos && std::sscanf(line.c_str() + open, "(%lf %lf %lf)", &v[0], &v[1], &v[2]) == 3;
    };
    if (line.rfind("Faces:", 0) == 0) info.faces = std::atol(line.c_str() + 6);
    minSeen |= point("Minimum point", info.min);
    maxSeen |= point("Maximum point", info.max);
  }
  if (info.faces < 0 || !minSeen || !maxSeen) return std::nullopt;
  return info;
}

}  // namespace ph::test
