#pragma once
// File names around a model: the STL to read, the support file beside it and
// the model named by a ray-tracer batch file.
#include <string>

namespace lt {

// The path as the file system takes it: "\" read as "/". Case is kept.
std::string localPath(const std::string& path);

// The model name up to the last "." of its file name part (dots in folder
// names do not count); the whole name when the file name has no ".".
std::string modelCore(const std::string& modelName);

// The support file of a model: its core name + ".sup". The loader and the
// support-file editor both use this, so they always meet on one file.
std::string supportFileName(const std::string& modelName);

// The STL file to read for a model name: the name itself when its file name
// has an extension (kept in its case), else the name + ".stl".
std::string stlFileName(const std::string& modelName);

// Whether the model is a job already: its name ends in ".p3d", in any
// case, as the host tells a job from a model.
bool isJobFile(const std::string& modelName);

// The model named by the first line of the ray tracer's batch file: the line
// (at most 80 characters) without its first word, without everything from
// its last "." and without its folders.
std::string modelNameFromTraceLine(std::string line);

// Where that batch file lives.
inline const char* kTraceBatchFile = "/polyray/trace.bat";

}  // namespace lt
