#pragma once
// Texture pictures of the mesh tools. JPEG goes through libjpeg, other
// pictures through QImage without loss; pictures that carry transparency
// (PNG, TGA, GIF, TIFF) are laid on white in memory.
#include <QImage>

#include <string>

namespace ph {

class HostCore;

// Loads a picture as RGB32: "jpg" and "jpeg" through libjpeg, others
// through QImage. False (bitmap unchanged) when the file cannot be decoded
// or holds no pixels.
bool loadTexture(QImage& bitmap, const std::string& file);

// Loads any picture; a PNG is laid on white first. Tells the operator
// ("no file %s", "can not convert ") and returns false when it cannot.
bool loadImageConverted(HostCore& core, QImage& bitmap, const std::string& file);

}  // namespace ph
