#pragma once
// Texture pictures of the mesh tools. JPEG goes through libjpeg, other
// pictures through QImage; pictures that may carry transparency (PNG, TGA,
// GIF, TIFF) are laid on white and written as JPEG files, so the operator
// finds the picture that was sampled.
#include <QImage>

#include <string>

namespace ph {

class HostCore;

// Loads a picture as RGB32: "jpg" and "jpeg" through libjpeg, others
// through QImage. False (bitmap unchanged) when the file cannot be decoded
// or holds no pixels.
bool loadTexture(QImage& bitmap, const std::string& file);

// Decodes a PNG, TGA, GIF (first frame) or TIFF (first page), lays it on
// white and writes it as a JPEG. False when either step fails.
bool convertPictureToJpeg(const std::string& source, const std::string& jpeg);

// Loads any picture; a PNG is laid on white first. Tells the operator
// ("no file %s", "can not convert ") and returns false when it cannot.
bool loadImageConverted(HostCore& core, QImage& bitmap, const std::string& file);

}  // namespace ph
