#include "host/jobdata/slicer_command.h"

#include <sys/stat.h>

#include <cctype>
#include <cstdio>
#include <random>

#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "platform/fingerprint.h"
#include "platform/format.h"

namespace ph {

std::string quoteIfBlank(const std::string& path) {
  return path.find(' ') != std::string::npos ? "\"" + path + "\"" : path;
}

std::string splitArgument(std::string& text, char separator) {
  bool quoted = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '"') quoted = !quoted;
    else if (text[i] == separator && !quoted) {
      std::string head = text.substr(0, i);
      text.erase(0, i + 1);
      return head;
    }
  }
  std::string head;
  head.swap(text);
  return head;
}

namespace {

bool isOption(const std::string& arg, char letter) { return arg.size() >= 2 && arg[0] == '-' && arg[1] == letter; }

// Options whose value is a path: shown quoted when it holds a blank.
bool isPathOption(const std::string& arg) {
  return isOption(arg, 'F') || isOption(arg, 'V') || isOption(arg, 'K') || isOption(arg, 'R');
}

void addSettings(std::vector<std::string>& a, const SlicerJob& j, bool withOutput) {
  a.push_back(plat::format("-L%d", j.layerMicrons));
  a.push_back(plat::format("-W%d", j.waterpixel));
  a.push_back(plat::format("-S%d", j.sumpixel));
  a.push_back(plat::format("-C%d", j.colorweight));
  a.push_back(plat::format("-D%d", j.skinmicrons));
  if (withOutput) a.push_back("-K" + j.output);
  a.push_back(plat::format("-E%d", j.defaultcolor));
}

}  // namespace

std::vector<std::string> sliceArguments(const SlicerJob& j) {
  std::vector<std::string> a{j.program};
  if (j.hazeRemove < 0) a.push_back(plat::format("-U%d", -j.hazeRemove));
  a.push_back("-F" + j.model);
  addSettings(a, j, true);
  if (!j.colourCube.empty()) a.push_back("-R" + j.colourCube);
  if (j.skinClear > 0) a.push_back(plat::format("-U%d", j.skinClear));
  if (j.instanceNumber >= 2) a.push_back(plat::format("-I%d", j.instanceNumber));
  return a;
}

std::vector<std::string> previewArguments(const SlicerJob& j) {
  std::vector<std::string> a{j.program, "-V" + j.model};
  addSettings(a, j, false);
  if (j.skinClear > 0) a.push_back(plat::format("-U%d", j.skinClear));
  if (j.exportSlices) a.push_back("-J");
  return a;
}

std::string fingerprintText(const std::vector<std::string>& argv) {
  std::string t;
  for (std::size_t i = 1; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (isOption(a, 'F') || isOption(a, 'K') || isOption(a, 'I')) continue;
    t += a;
  }
  return t;
}

std::string commandText(const std::vector<std::string>& argv) {
  std::string t;
  for (std::size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (i > 0) t += ' ';
    if (i == 0) t += quoteIfBlank(a);
    else if (isPathOption(a)) t += a.substr(0, 2) + quoteIfBlank(a.substr(2));
    else t += a;
  }
  return t;
}

std::string sliceSignature(std::uint32_t modelSize, std::int32_t dateCode, std::uint16_t crc, std::uint32_t content) {
  const std::uint32_t v = modelSize ^ std::uint32_t(dateCode) ^ (std::uint32_t(crc) << 6) ^ content;
  return plat::format("%08X", v);
}

std::string sourceSignature(const std::string& path, std::uint16_t crc) {
  struct stat st {};
  const std::string p = nativePath(path);
  const auto content = stat(p.c_str(), &st) == 0 ? plat::fileContentCrc(p) : std::nullopt;
  if (!content) {
    static std::minstd_rand random{std::random_device{}()};
    return plat::format("R%d", int(random() % 99999));
  }
  // The slicer keeps the size as a 32-bit number: the low 32 bits count.
  return sliceSignature(std::uint32_t(std::uint64_t(st.st_size)), plat::fileDateCode(p), crc, *content);
}

std::string cachedSignature(const std::string& p3dPath) {
  std::FILE* f = std::fopen(nativePath(p3dPath).c_str(), "rb");
  if (!f) return "?";
  unsigned char tail[10];
  const bool got = std::fseek(f, -10, SEEK_END) == 0 && std::fread(tail, 1, 10, f) == 10;
  std::fclose(f);
  if (!got || tail[9] != 0x0A) return "?";
  std::string sig = "00000000";
  for (int i = 0; i < 8; ++i)
    if (isHexDigit(char(tail[i]))) sig[std::size_t(i)] = char(tail[i]);
  return sig;
}

bool jobUsable(const std::string& p3dPath) {
  struct stat st {};
  const std::string p = nativePath(p3dPath);
  if (stat(p.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
  if (st.st_size < 3) return true;
  std::FILE* f = std::fopen(p.c_str(), "rb");
  if (!f) return false;
  char tail[3];
  const bool got = std::fseek(f, -3, SEEK_END) == 0 && std::fread(tail, 1, 3, f) == 3;
  std::fclose(f);
  return got && std::string(tail, 3) != "   ";
}

std::string jobFingerprint(const std::string& p3dPath) {
  std::FILE* f = std::fopen(nativePath(p3dPath).c_str(), "rb");
  if (!f) return "";
  char tail[10];
  const bool got = std::fseek(f, -10, SEEK_END) == 0 && std::fread(tail, 1, 10, f) == 10;
  std::fclose(f);
  if (!got || tail[8] != '\r' || tail[9] != '\n') return "";
  for (int i = 0; i < 8; ++i)
    if (!std::isdigit(static_cast<unsigned char>(tail[i])) && !(tail[i] >= 'A' && tail[i] <= 'F')) return "";
  return std::string(tail, 8);
}

}  // namespace ph
