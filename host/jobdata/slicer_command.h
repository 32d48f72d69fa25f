#pragma once
// The slicer's command lines and the job fingerprint. The slicer hashes its
// own arguments (all but -F, -K and -I, joined without separators); the
// host builds the same argument list and hashes the same text, so a job
// sliced with the same model and settings is recognised and reused.
#include <cstdint>
#include <string>
#include <vector>

namespace ph {

// The path in double quotes when it holds a blank, else unchanged.
std::string quoteIfBlank(const std::string& path);
// The text up to the first separator that is not inside double quotes;
// `text` loses it and the separator. Quotes are kept.
std::string splitArgument(std::string& text, char separator);

// What a slicer command line is made of.
struct SlicerJob {
  std::string program;
  std::string model;   // -F (slice) or -V (preview)
  std::string output;  // -K: the .p3d to write
  int layerMicrons = 0;
  int waterpixel = 0;
  int sumpixel = 0;
  int colorweight = 0;
  int skinmicrons = 0;
  int defaultcolor = 0;
  int hazeRemove = 0;       // below 0: -U with its negation comes first
  std::string colourCube;   // -R; "" = none
  int skinClear = -1;       // -U when above 0
  int instanceNumber = 1;   // -I from 2 on
  bool exportSlices = false;  // -J (preview only)
};

// The slicing run: program [-U<haze>] -F -L -W -S -C -D -K -E [-R] [-U] [-I].
std::vector<std::string> sliceArguments(const SlicerJob& job);
// The preview run: program -V -L -W -S -C -D -E [-U] [-J].
std::vector<std::string> previewArguments(const SlicerJob& job);
// The text the slicer hashes: every argument after the program other than
// -F, -K and -I, whole and in order, without separators.
std::string fingerprintText(const std::vector<std::string>& argv);
// The command line as the operator reads it, paths with a blank quoted.
std::string commandText(const std::vector<std::string>& argv);

// modelSize XOR modelDateCode XOR (crc << 6) XOR the CRC-32 of the model's
// content, as eight upper-case hexadecimal digits: the last line of a job
// the slicer finished. Size and date alone would take a model recoloured
// within one step of the date code for the old one.
std::string sliceSignature(std::uint32_t modelSize, std::int32_t dateCode, std::uint16_t crc, std::uint32_t content);
// The signature a model file would give its job; for a missing or
// unreadable file "R" and a random number, which matches no job.
std::string sourceSignature(const std::string& path, std::uint16_t crc);
// The signature at the end of a job file: its last ten bytes, when the
// tenth is a line feed, give "00000000" with each of the first eight that is
// a hexadecimal digit copied into its place. "?" (matches nothing) when the
// file cannot be read, holds fewer than ten bytes or ends otherwise.
std::string cachedSignature(const std::string& p3dPath);
// The fingerprint line a finished job ends with: exactly eight upper-case
// hexadecimal digits, CR and LF as the last ten bytes. "" when the file
// ends otherwise (a job stopped, aborted or still being written).
std::string jobFingerprint(const std::string& p3dPath);
// Whether a job file can be converted as it stands: a regular file, not
// empty, that does not end with the three blanks of a job the slicer
// stopped or aborted. Jobs the host writes itself (patterns) carry no
// fingerprint line and are whole all the same.
bool jobUsable(const std::string& p3dPath);

}  // namespace ph
