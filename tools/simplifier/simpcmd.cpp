// simpcmd INPUT.obj OUTPUT.obj FRACTION
//
// Reduces the triangles of an OBJ model to FRACTION (0 < FRACTION <= 1) of
// their number with meshoptimizer's quadric simplifier. Vertices at equal
// positions are taken as one, so texture seams do not count as borders;
// borders are kept where they are, so a closed scan stays closed and an open
// one keeps its outline. Only positions and faces are written (the colour
// comes back in the host's colour transfer). The output is written as
// a temporary file beside it and put in place when whole; the status is 0 only then.
#include <meshoptimizer.h>

#include <time.h>

#include "platform/atomic_file.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "obj_mesh.h"
#include "reduce.h"
#include "side_by_side.h"

namespace {

int fail(const std::string& what) {
  std::fprintf(stderr, "simpcmd: %s\n", what.c_str());
  return 1;
}

double processSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) return fail("usage: simpcmd INPUT.obj OUTPUT.obj FRACTION");
  float fraction = 0;
  if (!simp::readCoordinatePlain(argv[3], fraction) || !(fraction > 0.0f) || fraction > 1.0f)
    return fail(std::string("the fraction must be a number above 0 and at most 1, not '") + argv[3] + "'");
  using Clock = std::chrono::steady_clock;
  const auto t0 = Clock::now();
  auto secondsSince = [](Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); };
  simp::Mesh m;
  std::string why;
  if (!simp::readObjFile(argv[1], m, why)) return fail(why);
  const double readSeconds = secondsSince(t0), readCpu = processSeconds();
  const auto t1 = Clock::now();
  if (m.indices.empty()) return fail(std::string(argv[1]) + " holds no faces");

  const std::size_t triangles = m.indices.size() / 3;
  const std::size_t target = std::size_t(double(triangles) * fraction + 0.5) * 3;
  std::vector<unsigned> reduced = simp::reduceMesh(m, target, simp::kTrianglesPerBlock);
  const double simplifySeconds = secondsSince(t1), simplifyCpu = processSeconds() - readCpu;
  const auto t2 = Clock::now();

  // Only the vertices the reduced faces use, in order of first use.
  const std::size_t vertices = m.positions.size() / 3;
  std::vector<unsigned> fetch(vertices);
  const std::size_t used = meshopt_optimizeVertexFetchRemap(fetch.data(), reduced.data(), reduced.size(), vertices);
  std::vector<float> outPos(used * 3);
  for (std::size_t v = 0; v < vertices; ++v)
    if (fetch[v] != ~0u)
      for (std::size_t a = 0; a < 3; ++a) outPos[fetch[v] * 3 + a] = m.positions[v * 3 + a];
  for (unsigned& i : reduced) i = fetch[i];

  const std::string out = argv[2];
  plat::AtomicFile file;
  if (!file.open(out, why)) return fail("cannot write " + out + ": " + why);
  bool ok = true;
  for (const std::string& text : simp::objText(outPos, reduced))
    if (ok && !file.append(text)) ok = false;
  if (!ok || !file.commit(why)) {
    file.discard();
    return fail("cannot write " + out);
  }
  std::printf(
      "simpcmd: %zu of %zu triangles kept in %s (read %.2f s, simplified %.2f s, written %.2f s; processor time "
      "%.2f s, %.2f s, %.2f s)\n",
      reduced.size() / 3, triangles, out.c_str(), readSeconds, simplifySeconds, secondsSince(t2), readCpu, simplifyCpu,
      processSeconds() - readCpu - simplifyCpu);
  return 0;
}
