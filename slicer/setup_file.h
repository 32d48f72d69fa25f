#pragma once
// "ngsetup.txt": two blocks of printer set-up text separated by an empty
// line. Block 2 may carry the drop counts "WP" (water) and "SP" (total).
#include <optional>
#include <string>
#include <vector>

namespace lt {

struct SetupBlocks {
  bool found = false;  // the file opened
  std::string block1;  // lines up to the first empty line, joined; at most 255 characters
  std::string block2;  // the next lines up to an empty line, without the WP and SP items
  std::optional<int> wp, sp;
  std::vector<std::string> notes;  // items whose number did not convert
};

SetupBlocks readSetupBlocks(const std::string& path);

// Takes the first `key` and the digits and "." behind it out of `block`;
// its number when it is a whole number.
std::optional<int> takeSetupItem(std::string& block, const std::string& key, std::vector<std::string>& notes);

}  // namespace lt
