#include "slicer/setup_file.h"

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"
#include "slicer/slice_values.h"

namespace lt {

std::optional<int> takeSetupItem(std::string& block, const std::string& key, std::vector<std::string>& notes) {
  auto at = block.find(key);
  if (at == std::string::npos) return std::nullopt;
  std::size_t end = at + key.size();
  while (end < block.size() && ((block[end] >= '0' && block[end] <= '9') || block[end] == '.')) ++end;
  const std::string number = block.substr(at + key.size(), end - at - key.size());
  block.erase(at, end - at);
  auto v = decimalValue(number);
  if (!v) {
    notes.push_back(plat::format("ngsetup.txt: %s%s is not a whole number, ignored", key, number));
  } else if (!kDropsRange.holds(*v)) {
    notes.push_back(plat::format("ngsetup.txt: %s%s is outside %d..%d drops, ignored", key, number, kDropsRange.lo,
                                 kDropsRange.hi));
    v.reset();
  }
  return v;
}

SetupBlocks readSetupBlocks(const std::string& path) {
  SetupBlocks s;
  std::string error;
  bool missing = false;
  auto text = readInputFile(path, "the set-up file", kMaxSmallTextBytes, error, &missing);
  if (!text) {
    if (!missing) s.notes.push_back(error + "; its values are not used");
    return s;
  }
  s.found = true;
  std::size_t at = 0;
  auto nextLine = [&](std::string& line) {
    if (at >= text->size()) return false;
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    line.assign(*text, at, end - at);
    at = end + 1;
    return true;
  };
  std::string line;
  std::string* blocks[2] = {&s.block1, &s.block2};
  for (std::string* b : blocks) {
    while (nextLine(line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) break;
      if (b->size() < 255) *b += line.substr(0, 255 - b->size());
    }
  }
  s.wp = takeSetupItem(s.block2, "WP", s.notes);
  s.sp = takeSetupItem(s.block2, "SP", s.notes);
  return s;
}

}  // namespace lt
