#include "slicer/setup_file.h"

#include <fstream>

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/model_names.h"

namespace lt {

std::optional<int> takeSetupItem(std::string& block, const std::string& key, std::vector<std::string>& notes) {
  auto at = block.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::size_t end = at + key.size();
  while (end < block.size() && ((block[end] >= '0' && block[end] <= '9') || block[end] == '.')) ++end;
  const std::string number = block.substr(at + key.size(), end - at - key.size());
  block.erase(at, end - at);
  auto v = decimalValue(number);
  if (!v) notes.push_back(plat::format("ngsetup.txt: %s%s is not a whole number, ignored", key, number));
  return v;
}

SetupBlocks readSetupBlocks(const std::string& path) {
  SetupBlocks s;
  std::ifstream in(localPath(path), std::ios::binary);
  if (!in) return s;
  s.found = true;
  std::string line;
  std::string* blocks[2] = {&s.block1, &s.block2};
  for (std::string* b : blocks) {
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) break;
      *b += line;
    }
    if (b->size() > 255) b->resize(255);
  }
  s.wp = takeSetupItem(s.block2, "WP", s.notes);
  s.sp = takeSetupItem(s.block2, "SP", s.notes);
  return s;
}

}  // namespace lt
