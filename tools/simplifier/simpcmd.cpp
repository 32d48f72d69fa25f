// simpcmd INPUT.obj OUTPUT.obj FRACTION
//
// Reduces the triangles of an OBJ model to FRACTION (0 < FRACTION <= 1) of
// their number with meshoptimizer's quadric simplifier. Vertices at equal
// positions are merged first, so texture seams do not count as borders;
// borders are kept where they are, so a closed scan stays closed and an open
// one keeps its outline. Only positions and faces are written (the colour
// comes back in the host's colour transfer). The output is written as
// a temporary file beside it and put in place when whole; the status is 0 only then.
#include <meshoptimizer.h>

#include "platform/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

namespace {

int fail(const std::string& what) {
  std::fprintf(stderr, "simpcmd: %s\n", what.c_str());
  return 1;
}

std::string_view nextWord(std::string_view& s) {
  std::size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  std::size_t j = i;
  while (j < s.size() && s[j] != ' ' && s[j] != '\t') ++j;
  const std::string_view w = s.substr(i, j - i);
  s.remove_prefix(j);
  return w;
}

bool toFloat(std::string_view w, float& out) {
  if (!w.empty() && w[0] == '+') w.remove_prefix(1);
  double v = 0;
  const auto r = std::from_chars(w.data(), w.data() + w.size(), v);
  if (r.ec != std::errc() || r.ptr != w.data() + w.size() || !(std::fabs(v) <= 3.4e38)) return false;
  out = float(v);
  return true;
}

struct Model {
  std::vector<float> positions;  // x, y, z per vertex
  std::vector<unsigned> indices;  // three per triangle
};

// One piece of the file, read by one thread: its vertices, and its face
// corners as written (a negative number with the piece's vertex count at
// its line, to be counted back once the pieces are joined).
struct Piece {
  std::vector<float> positions;
  std::vector<long long> corners;            // three per triangle
  std::vector<std::pair<std::size_t, long long>> relative;  // corner, vertices before it in the piece
  long long lines = 0;
  long long errorLine = 0;  // 0: none
  std::string error;
};

void readPiece(std::string_view text, Piece& piece) {
  std::vector<long long> poly;
  std::vector<long long> before;
  while (!text.empty() && piece.errorLine == 0) {
    const std::size_t nl = text.find('\n');
    std::string_view l = text.substr(0, nl);
    text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
    ++piece.lines;
    if (!l.empty() && l.back() == '\r') l.remove_suffix(1);
    if (l.size() < 2 || (l[1] != ' ' && l[1] != '\t')) continue;
    if (l[0] == 'v') {
      l.remove_prefix(1);
      for (int i = 0; i < 3; ++i) {
        float v = 0;
        if (!toFloat(nextWord(l), v)) {
          piece.errorLine = piece.lines;
          piece.error = "a vertex line that is not three numbers";
          return;
        }
        piece.positions.push_back(v);
      }
    } else if (l[0] == 'f') {
      l.remove_prefix(1);
      poly.clear();
      for (std::string_view w = nextWord(l); !w.empty(); w = nextWord(l)) {
        const std::string_view num = w.substr(0, w.find('/'));
        long long k = 0;
        const auto r = std::from_chars(num.data(), num.data() + num.size(), k);
        if (r.ec != std::errc() || r.ptr != num.data() + num.size() || k == 0) {
          piece.errorLine = piece.lines;
          piece.error = "a face corner that is not a vertex number";
          return;
        }
        poly.push_back(k);
      }
      const long long here = (long long)(piece.positions.size() / 3);
      for (std::size_t i = 2; i < poly.size(); ++i)
        for (long long k : {poly[0], poly[i - 1], poly[i]}) {
          if (k < 0) piece.relative.push_back({piece.corners.size(), here});
          piece.corners.push_back(k);
        }
    }
  }
}

// Reads "v" and "f" lines; polygons are fanned around their first corner;
// face numbers may be negative (counted back from the last vertex). The
// file is read whole and its pieces are read side by side.
bool readObj(const char* name, Model& m, std::string& why) {
  std::FILE* f = std::fopen(name, "rb");
  if (!f) {
    why = std::string("cannot read ") + name + ": " + std::strerror(errno);
    return false;
  }
  std::string data;
  std::vector<char> buf(1 << 22);
  for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;) data.append(buf.data(), n);
  const bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    why = std::string("cannot read ") + name;
    return false;
  }
  const unsigned threads = std::max(1u, std::min(16u, std::thread::hardware_concurrency()));
  const std::size_t count = data.size() < (1u << 20) ? 1 : threads;
  std::vector<std::string_view> texts;
  std::size_t from = 0;
  for (std::size_t p = 1; p <= count; ++p) {
    std::size_t to = p == count ? data.size() : data.size() * p / count;
    while (to < data.size() && to > from && data[to - 1] != '\n') ++to;
    if (to < from) to = from;
    texts.push_back(std::string_view(data).substr(from, to - from));
    from = to;
  }
  std::vector<Piece> pieces(texts.size());
  std::vector<std::thread> workers;
  for (std::size_t p = 1; p < texts.size(); ++p) workers.emplace_back([&, p] { readPiece(texts[p], pieces[p]); });
  readPiece(texts[0], pieces[0]);
  for (auto& w : workers) w.join();
  long long linesBefore = 0, verticesBefore = 0;
  std::size_t positions = 0, corners = 0;
  for (const Piece& p : pieces) {
    positions += p.positions.size();
    corners += p.corners.size();
  }
  m.positions.reserve(positions);
  m.indices.reserve(corners);
  const long long total = (long long)(positions / 3);
  for (Piece& p : pieces) {
    if (p.errorLine) {
      why = std::string(name) + " line " + std::to_string(linesBefore + p.errorLine) + ": " + p.error;
      return false;
    }
    for (const auto& [corner, before] : p.relative) p.corners[corner] += verticesBefore + before + 1;
    for (long long k : p.corners) {
      // Vertices after the face's line count too: the file's vertex list
      // is whole before any face is used.
      if (k < 1 || k > total) {
        why = std::string(name) + ": a face names a vertex that does not exist (" + std::to_string(k) + ")";
        return false;
      }
      m.indices.push_back(unsigned(k - 1));
    }
    m.positions.insert(m.positions.end(), p.positions.begin(), p.positions.end());
    linesBefore += p.lines;
    verticesBefore += (long long)(p.positions.size() / 3);
  }
  return true;
}


// The simplifier, no error bound (the triangle count decides) and borders
// locked (the outline stays).
std::vector<unsigned> simplify(const std::vector<unsigned>& indices, const float* positions, std::size_t vertexCount,
                               std::size_t target) {
  std::vector<unsigned> out(indices.size());
  out.resize(meshopt_simplify(out.data(), indices.data(), indices.size(), positions, vertexCount, 3 * sizeof(float),
                              target, 1.0f, meshopt_SimplifyLockBorder, nullptr));
  return out;
}

// Large models are first cut into slabs along their longest side, which
// are reduced side by side (their cut edges count as borders and stay),
// and the joined result is then reduced as a whole to the target, which
// frees the cut edges again.
std::vector<unsigned> simplifyInParts(const std::vector<unsigned>& indices, const std::vector<float>& positions,
                                      std::size_t vertexCount, std::size_t target) {
  const std::size_t triangles = indices.size() / 3;
  unsigned parts = std::min(16u, std::max(1u, std::thread::hardware_concurrency()));
  if (triangles < 200000 || parts < 2) return simplify(indices, positions.data(), vertexCount, target);
  float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
  for (std::size_t v = 0; v < vertexCount; ++v)
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], positions[v * 3 + std::size_t(a)]);
      hi[a] = std::max(hi[a], positions[v * 3 + std::size_t(a)]);
    }
  int axis = 0;
  for (int a = 1; a < 3; ++a)
    if (hi[a] - lo[a] > hi[axis] - lo[axis]) axis = a;
  // Equal shares of triangles by the centroid along that axis.
  std::vector<float> key(triangles);
  for (std::size_t t = 0; t < triangles; ++t) {
    float c = 0;
    for (int k = 0; k < 3; ++k) c += positions[std::size_t(indices[t * 3 + std::size_t(k)]) * 3 + std::size_t(axis)];
    key[t] = c;
  }
  std::vector<float> sorted = key;
  std::vector<float> cuts;
  for (unsigned p = 1; p < parts; ++p) {
    auto nth = sorted.begin() + std::ptrdiff_t(triangles * p / parts);
    std::nth_element(sorted.begin(), nth, sorted.end());
    cuts.push_back(*nth);
  }
  std::sort(cuts.begin(), cuts.end());
  std::vector<std::vector<unsigned>> partIndices(parts);
  for (std::size_t t = 0; t < triangles; ++t) {
    const std::size_t p = std::size_t(std::upper_bound(cuts.begin(), cuts.end(), key[t]) - cuts.begin());
    for (int k = 0; k < 3; ++k) partIndices[p].push_back(indices[t * 3 + std::size_t(k)]);
  }
  // Each part a little above the target share, so the whole pass has room
  // to even out the cut edges.
  std::vector<std::vector<unsigned>> partOut(parts);
  std::vector<std::thread> threads;
  for (unsigned p = 0; p < parts; ++p)
    threads.emplace_back([&, p] {
      const std::vector<unsigned>& in = partIndices[p];
      std::vector<unsigned> toLocal(vertexCount);
      const std::size_t used = meshopt_optimizeVertexFetchRemap(toLocal.data(), in.data(), in.size(), vertexCount);
      std::vector<unsigned> local(in.size());
      meshopt_remapIndexBuffer(local.data(), in.data(), in.size(), toLocal.data());
      std::vector<float> localPos(used * 3);
      std::vector<unsigned> toGlobal(used);
      for (std::size_t v = 0; v < vertexCount; ++v)
        if (toLocal[v] != ~0u) {
          toGlobal[toLocal[v]] = unsigned(v);
          for (int a = 0; a < 3; ++a) localPos[toLocal[v] * 3 + std::size_t(a)] = positions[v * 3 + std::size_t(a)];
        }
      const std::size_t share = std::size_t(double(in.size() / 3) * (double(target) / double(indices.size())) * 1.3) * 3;
      std::vector<unsigned> r = simplify(local, localPos.data(), used, share);
      for (unsigned& i : r) i = toGlobal[i];
      partOut[p] = std::move(r);
    });
  for (auto& t : threads) t.join();
  std::vector<unsigned> joined;
  for (auto& r : partOut) joined.insert(joined.end(), r.begin(), r.end());
  // The whole pass over the vertices still in use only.
  std::vector<unsigned> toLocal(vertexCount);
  const std::size_t used = meshopt_optimizeVertexFetchRemap(toLocal.data(), joined.data(), joined.size(), vertexCount);
  std::vector<unsigned> local(joined.size());
  meshopt_remapIndexBuffer(local.data(), joined.data(), joined.size(), toLocal.data());
  std::vector<float> localPos(used * 3);
  std::vector<unsigned> toGlobal(used);
  for (std::size_t v = 0; v < vertexCount; ++v)
    if (toLocal[v] != ~0u) {
      toGlobal[toLocal[v]] = unsigned(v);
      for (int a = 0; a < 3; ++a) localPos[toLocal[v] * 3 + std::size_t(a)] = positions[v * 3 + std::size_t(a)];
    }
  std::vector<unsigned> r = simplify(local, localPos.data(), used, target);
  for (unsigned& i : r) i = toGlobal[i];
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return fail("usage: simpcmd INPUT.obj OUTPUT.obj FRACTION");
  float fraction = 0;
  if (!toFloat(argv[3], fraction) || !(fraction > 0.0f) || fraction > 1.0f)
    return fail(std::string("the fraction must be a number above 0 and at most 1, not '") + argv[3] + "'");
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  auto secondsSince = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  Model m;
  std::string why;
  if (!readObj(argv[1], m, why)) return fail(why);
  const double readSeconds = secondsSince(t0);
  const auto t1 = Clock::now();
  if (m.indices.empty()) return fail(std::string(argv[1]) + " holds no faces");

  // Merge vertices that share a position.
  const std::size_t vertexCount = m.positions.size() / 3;
  std::vector<unsigned> remap(vertexCount);
  const std::size_t unique = meshopt_generateVertexRemap(remap.data(), m.indices.data(), m.indices.size(),
                                                         m.positions.data(), vertexCount, 3 * sizeof(float));
  std::vector<float> positions(unique * 3);
  meshopt_remapVertexBuffer(positions.data(), m.positions.data(), vertexCount, 3 * sizeof(float), remap.data());
  std::vector<unsigned> indices(m.indices.size());
  meshopt_remapIndexBuffer(indices.data(), m.indices.data(), m.indices.size(), remap.data());

  const std::size_t target = std::size_t(double(indices.size() / 3) * fraction + 0.5) * 3;
  std::vector<unsigned> reduced = simplifyInParts(indices, positions, unique, target);
  const std::size_t kept = reduced.size();

  const double simplifySeconds = secondsSince(t1);
  const auto t2 = Clock::now();
  // Only the vertices the reduced faces use, in order of first use.
  std::vector<unsigned> fetch(unique);
  const std::size_t used = meshopt_optimizeVertexFetchRemap(fetch.data(), reduced.data(), reduced.size(), unique);

  const std::string out = argv[2];
  plat::AtomicFile file;
  if (!file.open(out, why)) return fail("cannot write " + out + ": " + why);
  std::vector<float> outPos(used * 3);
  for (std::size_t v = 0; v < unique; ++v)
    if (fetch[v] != ~0u)
      for (int a = 0; a < 3; ++a) outPos[fetch[v] * 3 + std::size_t(a)] = positions[v * 3 + std::size_t(a)];
  std::string text;
  text.reserve(1 << 20);
  bool ok = true;
  auto flush = [&] {
    if (!file.append(text)) ok = false;
    text.clear();
  };
  char line[160];
  for (std::size_t v = 0; v < used && ok; ++v) {
    const int n = std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", double(outPos[v * 3]),
                                double(outPos[v * 3 + 1]), double(outPos[v * 3 + 2]));
    text.append(line, std::size_t(n));
    if (text.size() > (1 << 20)) flush();
  }
  for (std::size_t i = 0; i + 2 < reduced.size() && ok; i += 3) {
    const int n = std::snprintf(line, sizeof line, "f %u %u %u\n", fetch[reduced[i]] + 1, fetch[reduced[i + 1]] + 1,
                                fetch[reduced[i + 2]] + 1);
    text.append(line, std::size_t(n));
    if (text.size() > (1 << 20)) flush();
  }
  flush();
  if (!ok || !file.commit(why)) {
    file.discard();
    return fail("cannot write " + out);
  }
  std::printf("simpcmd: %zu of %zu triangles kept in %s (read %.2f s, simplified %.2f s, written %.2f s)\n", kept / 3,
              indices.size() / 3, out.c_str(), readSeconds, simplifySeconds, secondsSince(t2));
  return 0;
}
