#pragma once
// JPEG files through libjpeg. Errors never end the program: a file that
// cannot be read or written gives false.
#include <QImage>

#include <string>

namespace ph {

// Reads a JPEG (colour, grey or CMYK) into an RGB32 picture. False for a
// missing, truncated or damaged file, another kind of file, or a picture too
// large to hold; `out` is then left unchanged.
bool readJpegFile(const std::string& name, QImage& out);

// Writes the picture as a colour JPEG at libjpeg's default quality (75).
// False when the picture is empty or the file cannot be written; the file
// is then left as it was.
bool writeJpegFile(const QImage& picture, const std::string& name);

}  // namespace ph
