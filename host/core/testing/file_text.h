#pragma once
// Whole files as text, for tests that write settings, logs and jobs.
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace ph::test {

inline std::string readAll(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

inline std::vector<std::string> readLines(const std::string& name) {
  std::ifstream f(name);
  std::vector<std::string> lines;
  for (std::string l; std::getline(f, l);) lines.push_back(l);
  return lines;
}

inline void writeAll(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

}  // namespace ph::test
