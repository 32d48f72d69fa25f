#pragma once
// Path helpers. "/" is the separator; "\" is accepted as one too, so paths in
// settings files written on Windows keep working. Paths keep their case.
#include <string>

namespace ph {

bool isPathSep(char c);
// The path with every "\" turned into "/", for the file system.
std::string nativePath(std::string path);
// The part after the last separator; the whole path when it has none.
std::string fileNamePart(const std::string& path);
// The folder with its trailing separator; the current folder (no trailing
// separator) when the path has none.
std::string pathFolderOrCurrent(const std::string& path);
// The folder the path names a file in: the path cut at its last separator,
// "/" for a file in the root, "." for a bare file name.
std::string driveDir(const std::string& path);
// The path without its last component and the separator before it; "."
// when it has no separator.
std::string parentDir(const std::string& path);
// File name without folder, cut at its first "."; case kept.
std::string fileCore(const std::string& path);
// File name without folder, after its first ".", lower-cased; a name
// without "." gives the whole name lower-cased.
std::string fileExt(const std::string& path);
// The current folder, as the system gives it.
std::string currentDir();
// Every "%currentdir%" replaced by the current folder.
std::string expandCurrentDir(const std::string& path);
// Every occurrence of the current folder that ends at a path boundary
// replaced by "%currentdir%".
std::string toCurrentDirToken(const std::string& text);
// The path itself when its folder exists, else the current folder and the
// path's file name.
std::string checkedFolder(const std::string& path);
// Whether a file (or folder) of that name exists.
bool fileExists(const std::string& path);
bool folderExists(const std::string& path);

}  // namespace ph
