#pragma once
// The model's colours: index 0 is reserved (0xBDEF), indices 1 to 32751 take
// the facet colours in order of first appearance. Lookup is one table access,
// since models have a million facets.
#include <cstdint>
#include <optional>
#include <vector>

namespace lt {

// Support blocks, the model's interior and colours that found no room in the
// palette all use this index.
constexpr std::uint16_t kSupportIndex = 32752;
// The attribute that marks transparent faces (kept without bit 15).
constexpr std::uint16_t kGlassCode = 9105;

class Palette {
 public:
  static constexpr int kSize = kSupportIndex + 1;  // indices 0..32752

  Palette();
  void reset();

  // The index of a facet's colour, appended when new; kSupportIndex (and
  // full() from then on) when no index is left. Counts the facet's use.
  std::uint16_t assign(std::uint16_t colour);
  // The index of a colour as loaded, when present.
  std::optional<std::uint16_t> find(std::uint16_t colour) const;

  std::uint16_t colour(int index) const { return colours_[std::size_t(index)]; }
  // Changes what an entry holds (the slicer gives "no colour" the default
  // colour); find() keeps answering for the colour as loaded.
  void setColour(int index, std::uint16_t c) { colours_[std::size_t(index)] = c; }
  int count() const { return count_; }  // highest used index
  bool full() const { return full_; }
  int use(int index) const { return use_[std::size_t(index)]; }

 private:
  std::vector<std::uint16_t> colours_;  // kSize entries
  std::vector<std::uint16_t> lookup_;   // per 16-bit colour: its index, 0 = absent
  std::vector<int> use_;                // facets per index
  int count_ = 0;
  bool full_ = false;
};

}  // namespace lt
