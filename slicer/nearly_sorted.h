#pragma once
#include <algorithm>
#include <cstddef>
#include <vector>

namespace lt {

// Sorts v, which is mostly in order already, by insertion; once that has
// moved entries more than a few places each, by std::sort instead. The
// order is the same either way where `less` is a total order.
template <class T, class Less>
void sortNearlySorted(std::vector<T>& v, Less less) {
  std::size_t budget = 4 * v.size() + 64;
  for (std::size_t i = 1; i < v.size(); ++i) {
    if (!less(v[i], v[i - 1])) continue;
    T item = v[i];
    std::size_t j = i;
    for (; j > 0 && less(item, v[j - 1]); --j) v[j] = v[j - 1];
    v[j] = item;
    const std::size_t moved = i - j;
    if (moved > budget) {
      std::sort(v.begin(), v.end(), less);
      return;
    }
    budget -= moved;
  }
}

}  // namespace lt
