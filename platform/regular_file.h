#pragma once
// Opening files that are files: a folder, a device or a FIFO named where a
// file is read or written (also behind a link) is refused at once, never
// waited on (an open of a FIFO blocks until its other end opens).
#include <cstdio>
#include <string>

namespace plat {

// The reason openRegularFile gives for a name that is no regular file.
inline constexpr const char* kNotRegularFile = "it is not a regular file";

// fopen for regular files only: a write or append open may make a new file,
// and "w" empties a regular one only once it is known to be one. Null with
// `why` set (kNotRegularFile, or the system's reason) when refused or failed.
std::FILE* openRegularFile(const std::string& path, const char* mode, std::string& why);

}  // namespace plat
