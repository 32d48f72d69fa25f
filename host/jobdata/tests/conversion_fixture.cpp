#include "conversion_fixture.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace ph::testing {

std::vector<std::uint8_t> readFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

std::string makeWorkDir() {
  char name[] = "workXXXXXX";
  if (!mkdtemp(name)) throw std::runtime_error("mkdtemp");
  char* real = realpath(name, nullptr);
  std::string dir = real;
  free(real);
  return dir;
}

std::vector<Column> decodeStretch(HostCore& core, const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes = data;
  if (bytes.empty() || bytes.back() != 0xBF) bytes.push_back(0xBF);
  std::FILE* f = fmemopen(bytes.data(), bytes.size(), "rb");
  DmcDecoder d(core);
  d.dmcFile = f;
  d.resetDecoder();
  d.decoding = true;
  std::vector<Column> cols;
  while (d.decoding) {
    d.decodeDmcStep();
    if (d.columnReady) {
      Column c;
      std::copy(d.completedColumn(), d.completedColumn() + 54, c.begin());
      cols.push_back(c);
    }
    if (d.atEnd && d.pendingZeros() == 0 && d.pendingUnchanged() == 0) break;
  }
  std::fclose(f);
  return cols;
}

ConversionRig::ConversionRig() {
  tables.fillBitTables();
  dir = makeWorkDir();
  core.workDir = dir + "/";
  conv = std::make_unique<Conversion>(core, tables, job);
}

ConversionRig::~ConversionRig() {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void ConversionRig::convert(const P3dJob& job) {
  write(job);
  conv->convertJob();
}

std::vector<DmcRecord> parseRecords(const std::vector<std::uint8_t>& bytes) {
  std::vector<DmcRecord> out;
  std::size_t at = 516;
  while (at + 10 <= bytes.size()) {
    DmcRecord r;
    r.offset = (long long)at;
    if (bytes[at] != 0xBF) throw std::runtime_error("record without 0xBF at " + std::to_string(at));
    r.code = std::string(bytes.begin() + long(at) + 1, bytes.begin() + long(at) + 3);
    r.length = std::stoi(std::string(bytes.begin() + long(at) + 3, bytes.begin() + long(at) + 9));
    r.type = char(bytes[at + 9]);
    if (r.length == 0) break;  // the final placeholder
    if (at + std::size_t(r.length) > bytes.size()) throw std::runtime_error("record past the end");
    r.data.assign(bytes.begin() + long(at) + 10, bytes.begin() + long(at) + r.length);
    out.push_back(r);
    at += std::size_t(r.length);
  }
  return out;
}

bool ConversionRig::logHas(const std::string& text) const {
  for (const auto& l : log())
    if (l.find(text) != std::string::npos) return true;
  return false;
}

}  // namespace ph::testing
