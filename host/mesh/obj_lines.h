#pragma once
// Line-wise text files for the OBJ tools: lines are read with the mesh
// tools' LineReader (host/mesh/mesh_text.h) and written with TextOutFile
// (host/mesh/text_out_file.h), which moves a file into place only when
// every byte was written.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/mesh/mesh_text.h"
#include "host/mesh/text_out_file.h"

namespace ph {

class HostCore;

// A whole word as a single-precision number: finite and within float's
// range (a larger number is no coordinate and would not convert).
bool parseFloatWord(std::string_view word, float& out);


}  // namespace ph
