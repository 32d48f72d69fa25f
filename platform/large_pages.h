#pragma once
// Large arrays filled once from start to end (a model's facets, a sort's
// second copy) spend much of their filling time in the first touch of each
// small page; asking for large pages makes that a few hundred touches.
#include <cstddef>

namespace plat {

// Asks the system to back the whole large pages within [p, p + bytes) with
// large pages when they are first touched. Only a hint: nothing happens
// where the system does not offer them.
void adviseLargePages(void* p, std::size_t bytes);

}  // namespace plat
