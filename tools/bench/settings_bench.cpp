// Times reading settings files with very long lines: one quoted text of
// N MB on one line, and a list of N million items on one line.
//
//   settings_bench [MEGABYTES] [MILLION_ITEMS]     (defaults: 2 and 1)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "host/core/testing/core_fixture.h"

namespace {
using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double timeLoad(ph::CoreFixture& f, const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  const auto start = Clock::now();
  f.core.applySettings(path, false);
  const double s = seconds(start);
  std::remove(path.c_str());
  return s;
}
}  // namespace

int main(int argc, char** argv) {
  const double mb = argc > 1 ? std::atof(argv[1]) : 2;
  const double items = argc > 2 ? std::atof(argv[2]) : 1;
  const std::string dir = "/tmp/settings_bench_" + std::to_string(getpid());
  ph::CoreFixture f;

  const std::string text(std::size_t(mb * 1e6), 'G');
  const double a = timeLoad(f, dir + "_text.i3d", "startgcodes = \"" + text + "\"\n");
  std::printf("one line, %.1f MB quoted text: %.3f s\n", mb, a);

  std::string list = "transformxy = {";
  for (long i = 0; i < long(items * 1e6); ++i) list += "7,";
  list += "7}\n";
  const double b = timeLoad(f, dir + "_list.i3d", list);
  std::printf("one line, %.1f million list items (%.1f MB): %.3f s\n", items, list.size() / 1e6, b);
  return 0;
}
