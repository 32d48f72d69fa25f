#include "host/jobdata/tests/handoff_fixture.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/format.h"

namespace ph::test {

void writeBytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
}

std::string readBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void writeCubeStl(const std::string& path, float size) {
  std::string out(80, ' ');
  out.replace(0, 10, "test cube ");
  const std::uint32_t facets = 12;
  out.append(reinterpret_cast<const char*>(&facets), 4);
  auto corner = [&](int i, int bit) { return (i & bit) ? size : 0.0f; };
  const int sides[6][4] = {{0, 1, 3, 2}, {4, 6, 7, 5}, {0, 4, 5, 1}, {2, 3, 7, 6}, {0, 2, 6, 4}, {1, 5, 7, 3}};
  const float normals[6][3] = {{-1, 0, 0}, {1, 0, 0}, {0, -1, 0}, {0, 1, 0}, {0, 0, -1}, {0, 0, 1}};
  for (int s = 0; s < 6; ++s) {
    for (const auto& t : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{0, 2, 3}}) {
      float f[12];
      std::memcpy(f, normals[s], sizeof normals[s]);
      for (int k = 0; k < 3; ++k) {
        const int c = sides[s][t[std::size_t(k)]];
        f[3 + 3 * k] = corner(c, 4);
        f[4 + 3 * k] = corner(c, 2);
        f[5 + 3 * k] = corner(c, 1);
      }
      out.append(reinterpret_cast<const char*>(f), sizeof f);
      const auto attr = std::uint16_t(0x8000 | (31 << 10) | (s * 5));  // coloured
      out.append(reinterpret_cast<const char*>(&attr), 2);
    }
  }
  writeBytes(path, out);
}

ScratchFolder::ScratchFolder() {
  static int serial = 0;
  path = std::filesystem::current_path().string() + plat::format("/scratch%d_%d", int(getpid()), ++serial);
  std::filesystem::remove_all(path);
  std::filesystem::create_directories(path);
}

ScratchFolder::~ScratchFolder() {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
}

void writeArgsRecorder(const std::string& path) {
  writeBytes(path,
             "#!/bin/sh\n"
             "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\n"
             "mv \"$0.tmp\" \"$0.args\"\n");
  chmod(path.c_str(), 0755);
}

std::vector<std::string> recordedArgs(const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!std::filesystem::exists(path + ".args") && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::vector<std::string> args;
  std::istringstream in(readBytes(path + ".args"));
  for (std::string line; std::getline(in, line);) args.push_back(line);
  return args;
}

HandoffFixture::HandoffFixture() {
  core.s.file_folder = work;
  core.workDir = work + "/";
  // A start would show up as a "cannot start" message.
  core.s.slicer_exe = "/nonexistent/layertint";
  steps.convert = [this] {
    ++conversions;
    return ConversionOutcome::success();
  };
}

std::string HandoffFixture::logLine(const std::string& prefix) const {
  for (const auto& l : log())
    if (l.compare(0, prefix.size(), prefix) == 0) return l;
  return {};
}

void HandoffFixture::openFromMenu(const std::string& path) {
  ui.files.push_back(path);
  handoff.openModel();
}

}  // namespace ph::test
