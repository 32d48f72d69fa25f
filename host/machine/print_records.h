#pragma once
// The print's walk through the records of the job's .dmc: the stretch
// headers read with the one header reader of the format, the seek to a
// starting layer, the skip over empty stretches, the record data in blocks.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "host/core/files.h"
#include "host/core/host_core.h"
#include "host/jobdata/dmc_records.h"

namespace ph {

class PrintRecords {
 public:
  bool isOpen() const { return bool(file_); }
  std::FILE* file() const { return file_.get(); }
  void take(FilePtr file) { file_ = std::move(file); }
  void close() { file_.reset(); }
  long tell() const { return std::ftell(file_.get()); }

  // The header at the file's position; the bytes read, fewer than a header
  // at the end of the file.
  std::size_t readHeader(StretchHeaderFields& header);

  // Moves past `layers` layers from the first record. An empty string when
  // it got there; else what went wrong (the file then stands at the data
  // start, or at the record that could not be read).
  std::string seekLayer(int layers);

  // Past the run of empty stretches at the file's position (powder code
  // "03", not a layer's end), and for bidirectional pairs back by one when
  // the run is odd. Returns the bands the head moves on (left), and whether
  // the next record is a return pass (nullopt: no header left to read).
  struct Skipped {
    int bands = 0;
    std::optional<bool> backwardNext;
  };
  Skipped skipEmptyStretches(bool powderReduce, bool keepPairs);

  // Up to `n` bytes of the current record's data; 0 at the file's end.
  std::size_t readData(std::uint8_t* buffer, std::size_t n);

  // No more than 20 bytes left: the closing header, or less.
  bool nearlyEnded() const;

 private:
  FilePtr file_;
};

}  // namespace ph
