#include "slicer/pov_import.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/format.h"
#include "platform/atomic_file.h"
#include "slicer/colour_model.h"
#include "slicer/input_file.h"
#include "slicer/model_names.h"

namespace lt {

namespace {

bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool wordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return c == '-' || c == '.' || c == '_' || (u < 128 && std::isalnum(u));
}

bool numberStart(char c) { return c == '-' || c == '.' || c == 'E' || c == 'e' || (c >= '0' && c <= '9'); }

std::string systemError() { return std::string(std::strerror(errno)); }

}  // namespace

bool PovReader::readRawLine(std::string& line) {
  if (!std::getline(in_, line)) return false;
  ++line_;
  bytes_ += (long long)line.size() + 1;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
}

std::optional<std::string> PovReader::readPovLine() {
  std::string line;
  if (!readRawLine(line)) return std::nullopt;
  for (auto& c : line)
    if (c == ',' || c == '<' || c == '>') c = ' ';
  return line + " ";
}

std::string PovReader::withoutComments(std::string line) {
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    if (line.compare(i, 2, "//") == 0) break;
    if (line.compare(i, 2, "/*") == 0) {
      out += ' ';
      std::size_t end = line.find("*/", i + 2);
      // The comment may close on a later line; what follows it there is
      // read on.
      while (end == std::string::npos) {
        if (!readRawLine(line)) return out;
        end = line.find("*/");
      }
      i = end + 2;
      continue;
    }
    out += line[i++];
  }
  return out;
}

void PovReader::fillBuffer() {
  for (;;) {
    while (pos_ < buffer_.size() && separator(buffer_[pos_])) ++pos_;
    if (pos_ < buffer_.size()) return;
    std::string line;
    if (!readRawLine(line)) return;
    bufferLine_ = line_;
    buffer_ = withoutComments(std::move(line));
    pos_ = 0;
  }
}

bool PovReader::ended() {
  fillBuffer();
  return pos_ >= buffer_.size();
}

std::string PovReader::nextPovToken() {
  previous_ = std::move(current_);
  current_.clear();
  fillBuffer();
  if (pos_ >= buffer_.size()) return current_;
  tokenLine_ = bufferLine_;
  unclosed_ = false;
  const char c = buffer_[pos_];
  std::size_t end;
  if (c == '<') {
    end = buffer_.find('>', pos_);
    // A vector written over several lines is one token; each added line is
    // searched once, so a vector that never closes costs its length only.
    std::string line;
    while (end == std::string::npos && readRawLine(line)) {
      const std::size_t from = buffer_.size();
      buffer_ += ' ';
      buffer_ += withoutComments(std::move(line));
      end = buffer_.find('>', from);
      bufferLine_ = line_;
    }
    unclosed_ = end == std::string::npos;
    end = unclosed_ ? buffer_.size() : end + 1;
  } else if (wordChar(c)) {
    end = pos_;
    while (end < buffer_.size() && wordChar(buffer_[end])) ++end;
  } else {
    end = pos_ + 1;
  }
  current_ = buffer_.substr(pos_, end - pos_);
  pos_ = end;
  return current_;
}

std::optional<PovVector> parseVector(const std::string& token, std::string& error) {
  std::string t = token;
  for (auto& c : t)
    if (c == ',' || c == '\t') c = ' ';
  if (!t.empty()) t.back() = ' ';
  PovVector v{};
  std::size_t i = 0;
  for (int k = 0; k < 3; ++k) {
    while (i < t.size() && !numberStart(t[i])) ++i;
    if (i >= t.size()) {
      error = plat::format("\"%s\" is not a vector of three numbers", token);
      return std::nullopt;
    }
    std::size_t j = t.find(' ', i);
    if (j == std::string::npos) j = t.size();
    const std::string number = t.substr(i, j - i);
    char* end = nullptr;
    errno = 0;
    const double d = std::strtod(number.c_str(), &end);
    // A number too small for a float is 0; one too large is refused.
    if (end != number.c_str() + number.size() || !std::isfinite(d) || std::fabs(d) > FLT_MAX) {
      error = plat::format("\"%s\" in the vector \"%s\" is not a number", number, token);
      return std::nullopt;
    }
    v[std::size_t(k)] = d;
    i = j;
  }
  return v;
}

std::optional<int> povColour(const std::string& token, std::string& error) {
  if (token.empty() || token[0] != '<') return 0;
  auto v = parseVector(token, error);
  if (!v) return std::nullopt;
  int c[3];
  for (int k = 0; k < 3; ++k) {
    c[k] = roundEven(31 * (*v)[std::size_t(k)]);
    if (c[k] < 0 || c[k] > 31) {
      error = plat::format("the colour \"%s\" is out of range (each part from 0 to 1)", token);
      return std::nullopt;
    }
  }
  return c[0] * 1024 + c[1] * 32 + c[2];
}

PovVector normalizeVector(const PovVector& v) {
  const double len = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  if (!(len > 0)) return {0, 0, 0};
  return {v[0] / len, v[1] / len, v[2] / len};
}

PovVector triangleNormal(const PovVector& p1, const PovVector& p2, const PovVector& p3) {
  const PovVector a{p1[0] - p3[0], p1[1] - p3[1], p1[2] - p3[2]};
  const PovVector b{p3[0] - p2[0], p3[1] - p2[1], p3[2] - p2[2]};
  return normalizeVector({a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]});
}

namespace {

class PovConversion {
 public:
  PovConversion(const std::string& pov, const std::string& stl, const PovOptions& o)
      : pov_(pov), stl_(stl), opt_(o) {}

  PovResult run() {
    PovResult r;
    if (!convert()) {
      out_.discard();
      r.error = error_;
      return r;
    }
    r.ok = true;
    r.facets = int(facets_);
    if (!opt_.interactive || (opt_.confirmDelete && opt_.confirmDelete())) ::unlink(localPath(pov_).c_str());
    return r;
  }

 private:
  bool fail(std::string text) {
    error_ = std::move(text);
    return false;
  }
  bool failAtLine(const PovReader& r, const std::string& what) {
    if (r.unclosedVector())
      return fail(plat::format("%s line %d: the vector begun on this line is not closed with \">\" before the end of "
                               "the file; %s not written",
                               pov_, r.lineNumber(), stl_));
    return fail(plat::format("%s line %d: %s; %s not written", pov_, r.lineNumber(), what, stl_));
  }
  bool writeFailed() {
    return fail(plat::format("cannot write %s: %s", stl_, why_.empty() ? systemError() : why_));
  }

  template <typename T>
  void put(T v) {
    out_.append(&v, sizeof v);
  }
  void putVector(const PovVector& v) {
    for (double d : v) put(float(d));
  }

  bool convert() {
    // Only a regular file: a pipe or a device would never end the scene.
    InputFile check;
    if (!check.open(pov_, "the POV file", kNoSizeLimit)) return fail(check.error() + "; " + stl_ + " not written");
    std::ifstream in(localPath(pov_), std::ios::binary);
    if (!in) return fail(plat::format("cannot read the POV file %s: %s", pov_, systemError()));
    struct stat st {};
    const long long size = ::stat(localPath(pov_).c_str(), &st) == 0 ? (long long)st.st_size : 0;
    if (!out_.open(localPath(stl_), why_)) return writeFailed();

    PovReader reader(in);
    char head[84] = {};
    if (auto h = reader.readPovLine()) std::memcpy(head, h->data(), std::min<std::size_t>(80, h->size()));
    out_.append(head, sizeof head);

    int colour = 0;
    std::string error;
    for (;;) {
      const std::string t = reader.nextPovToken();
      if (t.empty()) break;
      if (t == "rgb" || t == "rgbf") {
        auto c = povColour(reader.nextPovToken(), error);
        if (!c || reader.unclosedVector()) return failAtLine(reader, error);
        colour = *c;
      } else if (t.find("triangle") != std::string::npos && !reader.ended()) {
        reader.nextPovToken();  // the opening brace
        PovVector p[3];
        for (auto& corner : p) {
          auto v = parseVector(reader.nextPovToken(), error);
          if (!v || reader.unclosedVector()) return failAtLine(reader, error);
          corner = {(*v)[0], (*v)[2], (*v)[1]};
          if (!parseVector(reader.nextPovToken(), error) || reader.unclosedVector()) return failAtLine(reader, error);
        }
        putVector(triangleNormal(p[0], p[1], p[2]));
        putVector(p[1]);
        putVector(p[0]);
        putVector(p[2]);
        put(std::uint16_t(colour + 0x8000));
        if (!out_.good()) return writeFailed();
        if (++facets_ % 1024 == 0 && opt_.progress && size > 0)
          opt_.progress(int(reader.bytesRead() * 100 / size));
      }
    }
    if (in.bad()) return fail(plat::format("cannot read the POV file %s: %s", pov_, systemError()));
    if (facets_ == 0) return fail(plat::format("%s holds no triangle; %s not written", pov_, stl_));
    if (facets_ > 0xFFFFFFFFLL) return fail(plat::format("%s holds too many triangles for one STL file", pov_));
    if (std::fseek(out_.stream(), 80, SEEK_SET) != 0) return writeFailed();
    put(std::uint32_t(facets_));
    if (!out_.good() || !out_.commit(why_)) return writeFailed();
    if (opt_.progress) opt_.progress(0);
    return true;
  }

  std::string pov_, stl_;
  const PovOptions& opt_;
  plat::AtomicFile out_;
  long long facets_ = 0;
  std::string error_, why_;
};

}  // namespace

PovResult convertPov(const std::string& povPath, const std::string& stlPath, const PovOptions& options) {
  return PovConversion(povPath, stlPath, options).run();
}

}  // namespace lt
