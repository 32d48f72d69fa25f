#include "host/machine/print_records.h"

#include "platform/format.h"

namespace ph {

std::size_t PrintRecords::readHeader(StretchHeaderFields& header) {
  char h[kStretchHeaderBytes] = {};
  const std::size_t got = file_ ? std::fread(h, 1, sizeof h, file_.get()) : 0;
  header = got == sizeof h ? parseStretchHeader(h) : StretchHeaderFields{};
  header.text.assign(h + (got > 0 ? 1 : 0), got > 0 ? got - 1 : 0);
  return got;
}

std::string PrintRecords::seekLayer(int layers) {
  std::FILE* f = file_.get();
  if (!f) return "";
  std::fseek(f, 0, SEEK_SET);
  DmcHeader record;
  const long dataStart = readDmcHeader(f, record);
  long pos = dataStart;
  std::string problem;
  while (layers > 0) {
    // A header and at least one byte after it.
    char h[kStretchHeaderBytes + 1] = {};
    std::fseek(f, pos, SEEK_SET);
    const StretchHeaderFields header =
        std::fread(h, 1, sizeof h, f) == sizeof h ? parseStretchHeader(h) : StretchHeaderFields{};
    if (header.length == 0) {
      // The end of the file, or the record that closes it.
      problem = "past EOF";
      pos = dataStart;
      break;
    }
    if (header.length < kStretchHeaderBytes || !isStretchType(header.type)) {
      problem = plat::format("seek layer error %d", layers);
      break;
    }
    if (header.type == '}') --layers;
    pos += long(header.length);
  }
  std::fseek(f, pos, SEEK_SET);
  return problem;
}

PrintRecords::Skipped PrintRecords::skipEmptyStretches(bool powderReduce, bool keepPairs) {
  Skipped out;
  std::FILE* f = file_.get();
  if (!f) return out;
  int count = 0;
  long lastSkipped = -1;
  long pos = std::ftell(f);
  for (;;) {
    pos = std::ftell(f);
    char h[kStretchHeaderBytes] = {};
    if (std::fread(h, 1, sizeof h, f) != sizeof h) break;
    const StretchHeaderFields header = parseStretchHeader(h);
    out.backwardNext = header.type == '<';
    const bool atEnd = std::feof(f) || std::fgetc(f) == EOF;
    if (powderReduce && header.text.compare(0, 2, "03") == 0 && !atEnd && header.length >= kStretchHeaderBytes) {
      if (header.type != '}') {
        ++count;
        ++out.bands;
        lastSkipped = pos;
        std::fseek(f, pos + long(header.length), SEEK_SET);
        continue;
      }
      // A layer's end stops the run; its stretches stay skipped.
      count = 0;
    }
    break;
  }
  std::fseek(f, pos, SEEK_SET);
  if (keepPairs && powderReduce && count % 2 == 1 && lastSkipped >= 0) {
    std::fseek(f, lastSkipped, SEEK_SET);
    --out.bands;
  }
  return out;
}

std::size_t PrintRecords::readData(std::uint8_t* buffer, std::size_t n) {
  return file_ ? std::fread(buffer, 1, n, file_.get()) : 0;
}

bool PrintRecords::nearlyEnded() const {
  std::FILE* f = file_.get();
  if (!f) return false;
  const long pos = std::ftell(f);
  if (pos < 0) return false;
  const long long size = fileSize(f);
  return size >= 0 && size - pos <= 20;
}

}  // namespace ph
