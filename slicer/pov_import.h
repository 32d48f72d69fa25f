#pragma once
// POV triangle scenes to coloured binary STL. A scene is read token by token;
// "rgb" and "rgbf" set the current colour, and every word holding "triangle"
// is followed by a brace and three pairs of vectors (a corner and a vector
// that is not used). Corners are stored with y and z swapped, the colour
// (with bit 15) goes into each facet's attribute.
#include <array>
#include <functional>
#include <istream>
#include <optional>
#include <string>

namespace lt {

using PovVector = std::array<double, 3>;

// Reads a POV text: the header line, then tokens. Lines and tokens have no
// length limit; a vector may run over several lines.
class PovReader {
 public:
  explicit PovReader(std::istream& in) : in_(in) {}

  // The next line with a blank appended and every ",", "<" and ">" made a
  // blank; nothing at the end of the file.
  std::optional<std::string> readPovLine();
  // The next token; empty at the end of the file. "//" ends a line, "/*"
  // to "*/" is skipped (also over lines); a token starting with "<" runs to
  // the first ">"; otherwise a token is a run of "-", ".", "_", digits and
  // letters, or one other character.
  std::string nextPovToken();
  const std::string& previousToken() const { return previous_; }
  // No token is left.
  bool ended();
  // The line the last token came from (counted from 1); for a vector over
  // several lines, the line it began on.
  int lineNumber() const { return tokenLine_; }
  // The last token is a vector that the file ended in before its ">".
  bool unclosedVector() const { return unclosed_; }
  // Bytes read so far, for progress.
  long long bytesRead() const { return bytes_; }

 private:
  bool readRawLine(std::string& line);
  // The line without its comments; a block comment may take further lines.
  std::string withoutComments(std::string line);
  void fillBuffer();

  std::istream& in_;
  std::string buffer_;  // what is left of the current line
  std::size_t pos_ = 0;
  std::string current_, previous_;
  int line_ = 0, bufferLine_ = 0, tokenLine_ = 0;
  long long bytes_ = 0;
  bool unclosed_ = false;
};

// The three numbers of a vector token such as "<1, 0.5, -2>"; nothing, with
// the reason, when it does not hold three finite numbers.
std::optional<PovVector> parseVector(const std::string& token, std::string& error);

// The 15-bit colour of a colour token: for "<r, g, b>" (each 0 to 1; an
// "rgbf" vector's fourth number is not used) round(31 r) x 1024 +
// round(31 g) x 32 + round(31 b); a colour name gives 0. Nothing, with the
// reason, when a channel does not fit in 5 bits or the vector is malformed.
std::optional<int> povColour(const std::string& token, std::string& error);

// (p1 - p3) x (p3 - p2), unit length; (0, 0, 0) when it has no length.
PovVector triangleNormal(const PovVector& p1, const PovVector& p2, const PovVector& p3);
PovVector normalizeVector(const PovVector& v);

struct PovOptions {
  // Cleared in a batch run: the POV file is then deleted after a good
  // conversion without asking.
  bool interactive = true;
  // "delete pov file": true for Yes.
  std::function<bool()> confirmDelete;
  std::function<void(int percent)> progress;
};

struct PovResult {
  bool ok = false;
  std::string error;  // names the file and, for bad content, the line
  int facets = 0;
};

// Converts the POV file into the STL file. The STL is written beside under
// another name and takes its own name only when the whole scene converted,
// so a failed conversion leaves no STL behind and an older one untouched.
// A scene without any triangle is refused.
PovResult convertPov(const std::string& povPath, const std::string& stlPath, const PovOptions& options);

}  // namespace lt
