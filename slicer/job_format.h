#pragma once
// The fixed pieces of a .p3d job around its raster pages: the command frames
// the printer reads between pages, the page end, the end block and the
// fingerprint line by which the host recognises a job it can reuse.
#include <cstdint>
#include <string>

namespace lt {

// ESC "*g11W" 80 7F x 8: opens a command frame.
std::string frameP();
// 20 20 24 80 00 00 00 00: closes it.
std::string frameS();

// CL: round((zEnd - z) x 0.5 + boxY + 5); PS and the page length follow it.
int clValue(float zEnd, float z, double boxY);
int psValue(int cl);
int pageLines(int cl);
// The layer thickness as written after "ZS", in units of 10 micrometres.
int thicknessCode(double mm);

// Form feed, printer reset, quality and page length: after every page.
std::string pageEnd(int quality, int cl);
// The start block (only with "powdstart"): the frame around set-up block 1
// with CL and PS, kept within 255 bytes by cutting the text, never the
// frame's closing bytes, then the reset that starts the job.
std::string startBlock(const std::string& setupBlock1, int cl, int quality);
// The command block in front of a layer's page.
std::string layerBlock(const std::string& setupBlock2, int cl, int zs);
std::string endBlock();

// The last line of a finished job: 8 upper-case hex digits of modelSize XOR
// modelDateCode XOR (paramCrc << 6) XOR the CRC-32 of the model file's
// content, then CR LF.
std::string fingerprintLine(std::int32_t modelSize, std::int32_t modelDateCode, std::uint16_t paramCrc,
                            std::uint32_t modelContentCrc);
// The end of a job that must never be reused.
inline const char* kNoFingerprint = "   ";

}  // namespace lt
