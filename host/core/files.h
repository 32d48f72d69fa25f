#pragma once
// Small helpers on open files and file names. Positions and sizes are 64-bit:
// jobs grow past 2 GB.
#include <cstdio>
#include <string>

namespace ph {

// Writes the characters (no terminator, no newline); false when not all
// were written.
bool writeString(const std::string& text, std::FILE* file);
// The current position; -1 for no file.
long long filePos(std::FILE* file);
// The size of an open file, its position restored; -1 for no file or one
// that cannot seek (a pipe).
long long fileSize(std::FILE* file);
// The size of a regular file by name, without messages; -1 when there is
// none (a folder, a device or a FIFO is no file and is never opened).
long long fileSizeOf(const std::string& name);

}  // namespace ph
