#include "obj_mesh.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>

#include "side_by_side.h"

namespace simp {

bool readCoordinatePlain(std::string_view w, float& out) {
  if (!w.empty() && w[0] == '+') w.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  if (r.ec != std::errc() || r.ptr != w.data() + w.size() || !(std::fabs(v) <= 3.4e38)) return false;
  out = float(v);
  return true;
}

bool readCoordinate(std::string_view w, float& out) {
  static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const char* p = w.data();
  const char* const end = p + w.size();
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  std::uint64_t digits = 0;
  int count = 0, places = 0;
  const char* const first = p;
  for (; p != end && unsigned(*p - '0') < 10; ++p, ++count) digits = digits * 10 + unsigned(*p - '0');
  if (p != first && p != end && *p == '.') {
    const char* const point = ++p;
    for (; p != end && unsigned(*p - '0') < 10; ++p, ++count) digits = digits * 10 + unsigned(*p - '0');
    places = int(p - point);
    if (places == 0) return readCoordinatePlain(w, out);
  }
  if (p != end || p == first || count > 19 || places > 22 || digits > (std::uint64_t(1) << 53))
    return readCoordinatePlain(w, out);
  const double v = double(digits) / kPowers[places];
  out = float(negative ? -v : v);
  return true;
}

namespace {

std::string_view nextWord(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
  const std::string_view w = s.substr(i, j - i);
  s.remove_prefix(j);
  return w;
}

// One part of the text, read by one thread: its vertices, and its face
// corners (a negative number is kept aside with the part's vertex count at
// its line, to be counted back once the parts are joined).
struct Piece {
  std::vector<float> positions;
  std::vector<unsigned> corners;  // vertex number - 1; three per triangle
  struct Relative {
    std::size_t corner;
    long long number;  // as written, below 0
    long long before;  // vertices of the piece before the face's line
  };
  std::vector<Relative> relative;
  long long lines = 0;
  long long errorLine = 0;  // 0: none
  std::string error;
  long long missing = 0;  // a face number that names no vertex (0: none)
};

// Reads one line into the piece; false at a line it cannot read.
bool readLine(std::string_view l, Piece& piece) {
  ++piece.lines;
  if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
  if (l.size() < 2 || (l[1] != ' ' && l[1] != '\t')) return true;
  if (l[0] == 'v') {
    l.remove_prefix(1);
    float xyz[3];
    for (float& v : xyz)
      if (!readCoordinate(nextWord(l), v)) {
        piece.errorLine = piece.lines;
        piece.error = "a vertex line that is not three numbers";
        return false;
      }
    piece.positions.insert(piece.positions.end(), xyz, xyz + 3);
  } else if (l[0] == 'f') {
    l.remove_prefix(1);
    const long long here = (long long)(piece.positions.size() / 3);
    long long poly[3];
    int n = 0;
    for (std::string_view w = nextWord(l); !w.empty(); w = nextWord(l), ++n) {
      const std::string_view num = w.substr(0, w.find('/'));
      long long k = 0;
      const auto r = std::from_chars(num.data(), num.data() + num.size(), k);
      if (r.ec != std::errc() || r.ptr != num.data() + num.size() || k == 0) {
        piece.errorLine = piece.lines;
        piece.error = "a face corner that is not a vertex number";
        return false;
      }
      if (k > (long long)UINT32_MAX) {
        piece.missing = k;
        return false;
      }
      // Fanned: the first corner, the one before, this one.
      if (n < 2) {
        poly[n] = k;
        continue;
      }
      poly[2] = k;
      for (long long c : poly) {
        if (c < 0) piece.relative.push_back({piece.corners.size(), c, here});
        piece.corners.push_back(c > 0 ? unsigned(c - 1) : 0u);
      }
      poly[1] = k;
    }
  }
  return true;
}

void readPiece(std::string_view text, Piece& piece) {
  // One vertex or triangle per 24 bytes leaves room for a scan's lines
  // without copying as the vectors grow (a block of reserved room costs
  // nothing until it is used).
  piece.positions.reserve(text.size() / 24 * 3);
  piece.corners.reserve(text.size() / 24 * 3);
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    if (!readLine(text.substr(0, nl), piece)) return;
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
  }
}

// Reads the lines that start in [from, to) of the file, in blocks through
// a buffer of its own (the file's pages stay in the cache, and the buffer
// is used again); false when the file cannot be read.
bool readFilePiece(int fd, std::size_t from, std::size_t to, std::size_t size, Piece& piece, std::vector<char>& buf) {
  piece.positions.reserve((to - from) / 24 * 3);
  piece.corners.reserve((to - from) / 24 * 3);
  if (buf.empty()) buf.resize(std::size_t(256) << 10);
  std::size_t have = 0;      // bytes in buf
  std::size_t at = from;     // file offset of buf[have]
  bool skipping = from > 0;  // the line running into `from` is the piece before's
  if (skipping) {
    at = from - 1;  // a line starts at `from` when the byte before it ends one
  }
  while (true) {
    if (have == buf.size()) buf.resize(buf.size() * 2);  // a line longer than the buffer
    const std::size_t want = std::min(buf.size() - have, size - std::min(size, at));
    std::size_t got = 0;
    while (got < want) {
      const ssize_t n = ::pread(fd, buf.data() + have + got, want - got, off_t(at + got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      got += std::size_t(n);
    }
    const std::size_t bufStart = at - have;  // file offset of buf[0]
    at += got;
    have += got;
    const bool atEnd = at >= size;
    std::string_view text(buf.data(), have);
    std::size_t pos = 0;
    if (skipping) {
      const std::size_t nl = text.find('\n');
      if (nl == std::string_view::npos) {
        if (atEnd) return true;
        have = 0;
        continue;
      }
      pos = nl + 1;
      skipping = false;
    }
    while (true) {
      if (bufStart + pos >= to) return true;  // the next line is the next piece's
      const std::size_t nl = text.find('\n', pos);
      if (nl == std::string_view::npos) {
        if (atEnd) {
          if (pos < have) readLine(text.substr(pos), piece);
          return true;
        }
        break;
      }
      if (!readLine(text.substr(pos, nl - pos), piece)) return true;
      pos = nl + 1;
    }
    std::memmove(buf.data(), buf.data() + pos, have - pos);
    have -= pos;
  }
}

}  // namespace

namespace {

// The pieces' vertices and triangles in file order, and their face
// numbers checked against the whole vertex list.
bool joinPieces(std::vector<Piece>& parts, Mesh& mesh, std::string& why) {
  long long linesBefore = 0;
  std::size_t positions = 0, corners = 0;
  std::vector<std::size_t> positionsAt, cornersAt;
  for (const Piece& p : parts) {
    if (p.errorLine) {
      why = "line " + std::to_string(linesBefore + p.errorLine) + ": " + p.error;
      return false;
    }
    if (p.missing) {
      why = "a face names a vertex that does not exist (" + std::to_string(p.missing) + ")";
      return false;
    }
    positionsAt.push_back(positions);
    cornersAt.push_back(corners);
    positions += p.positions.size();
    corners += p.corners.size();
    linesBefore += p.lines;
  }
  const long long total = (long long)(positions / 3);
  mesh.positions.resize(positions);
  mesh.indices.resize(corners);
  std::vector<long long> missing(parts.size(), 0);
  sideBySide(parts.size(), [&](std::size_t i) {
    Piece& p = parts[i];
    const long long verticesBefore = (long long)(positionsAt[i] / 3);
    for (const Piece::Relative& r : p.relative) {
      // Counted back from the face's line; 0 or less is before the first
      // vertex.
      const long long k = r.number + verticesBefore + r.before + 1;
      if (k < 1) {
        missing[i] = r.number;
        return;
      }
      p.corners[r.corner] = unsigned(k - 1);
    }
    // Vertices after the face's line count too: the file's vertex list is
    // whole before any face is used.
    for (unsigned c : p.corners)
      if ((long long)c >= total) {
        missing[i] = (long long)c + 1;
        return;
      }
    std::copy(p.positions.begin(), p.positions.end(), mesh.positions.begin() + std::ptrdiff_t(positionsAt[i]));
    std::copy(p.corners.begin(), p.corners.end(), mesh.indices.begin() + std::ptrdiff_t(cornersAt[i]));
    p = Piece();
  });
  for (long long k : missing)
    if (k) {
      why = "a face names a vertex that does not exist (" + std::to_string(k) + ")";
      return false;
    }
  return true;
}

// Pieces of about equal size, a few per worker so a slow one is made up
// for, none under a megabyte.
std::size_t pieceCount(std::size_t bytes) {
  return std::max<std::size_t>(1, std::min<std::size_t>(std::size_t(workers()) * 4, bytes >> 20));
}

}  // namespace

bool parseObjText(std::string_view text, Mesh& mesh, std::string& why) {
  const std::size_t count = pieceCount(text.size());
  std::vector<std::string_view> texts;
  std::size_t from = 0;
  for (std::size_t p = 1; p <= count; ++p) {
    std::size_t to = p == count ? text.size() : std::max(from, text.size() * p / count);
    while (to < text.size() && to > from && text[to - 1] != '\n') ++to;
    texts.push_back(text.substr(from, to - from));
    from = to;
  }
  std::vector<Piece> parts(texts.size());
  sideBySide(parts.size(), [&](std::size_t p) { readPiece(texts[p], parts[p]); });
  return joinPieces(parts, mesh, why);
}

bool readObjFile(const std::string& name, Mesh& mesh, std::string& why) {
  const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    why = "cannot read " + name + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why = "cannot read " + name + ": not a regular file";
    return false;
  }
  const std::size_t size = std::size_t(st.st_size), count = pieceCount(size);
  std::vector<Piece> parts(count);
  std::vector<char> readFailed(count, 0);
  std::vector<std::vector<char>> buffers(workers());
  sideBySide(count, [&](std::size_t p, unsigned worker) {
    readFailed[p] = !readFilePiece(fd, size * p / count, size * (p + 1) / count, size, parts[p], buffers[worker]);
  });
  ::close(fd);
  if (std::find(readFailed.begin(), readFailed.end(), 1) != readFailed.end()) {
    why = "cannot read " + name;
    return false;
  }
  if (!joinPieces(parts, mesh, why)) {
    why = name + " " + why;
    return false;
  }
  return true;
}

std::vector<std::string> objText(const std::vector<float>& positions, const std::vector<unsigned>& indices) {
  const std::size_t vertices = positions.size() / 3, triangles = indices.size() / 3;
  const std::size_t parts = std::max<std::size_t>(1, std::min<std::size_t>(workers(), (vertices + triangles) / 50000));
  // The vertices in `parts` pieces, then the faces in as many.
  std::vector<std::string> texts(2 * parts);
  sideBySide(2 * parts, [&](std::size_t i) {
    std::string& t = texts[i];
    const bool faces = i >= parts;
    const std::size_t p = i % parts, n = faces ? triangles : vertices;
    const std::size_t from = n * p / parts, to = n * (p + 1) / parts;
    t.reserve((to - from) * (faces ? 30 : 45));
    char line[128];
    for (std::size_t k = from; k < to; ++k) {
      char* e = line;
      *e++ = faces ? 'f' : 'v';
      for (std::size_t a = 0; a < 3; ++a) {
        *e++ = ' ';
        // As printf's "%.9g": nine digits give every float back.
        e = faces ? std::to_chars(e, line + sizeof line, indices[k * 3 + a] + 1ull).ptr
                  : std::to_chars(e, line + sizeof line, double(positions[k * 3 + a]), std::chars_format::general, 9).ptr;
      }
      *e++ = '\n';
      t.append(line, std::size_t(e - line));
    }
  });
  return texts;
}

}  // namespace simp
