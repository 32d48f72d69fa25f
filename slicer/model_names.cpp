#include "slicer/model_names.h"

#include <algorithm>
#include <cctype>

namespace lt {

namespace {
std::size_t fileNameStart(const std::string& p) {
  auto s = p.find_last_of("/\\");
  return s == std::string::npos ? 0 : s + 1;
}
}  // namespace

std::string localPath(const std::string& path) {
  std::string p = path;
  std::replace(p.begin(), p.end(), '\\', '/');
  return p;
}

std::string modelCore(const std::string& name) {
  auto dot = name.rfind('.');
  if (dot == std::string::npos || dot < fileNameStart(name)) return name;
  return name.substr(0, dot);
}

std::string supportFileName(const std::string& modelName) { return modelCore(modelName) + ".sup"; }

std::string stlFileName(const std::string& modelName) {
  return modelCore(modelName) == modelName ? modelName + ".stl" : modelName;
}

bool isJobFile(const std::string& modelName) {
  if (modelName.size() < 4) return false;
  std::string tail = modelName.substr(modelName.size() - 4);
  for (auto& c : tail) c = char(std::tolower(static_cast<unsigned char>(c)));
  return tail == ".p3d";
}

std::string modelNameFromTraceLine(std::string line) {
  if (line.size() > 80) line.resize(80);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
  auto blank = line.find(' ');
  if (blank != std::string::npos) line.erase(0, blank + 1);
  auto dot = line.rfind('.');
  if (dot != std::string::npos) line.erase(dot);
  return line.substr(fileNameStart(line));
}

}  // namespace lt
