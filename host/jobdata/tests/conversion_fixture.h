#pragma once
// A host core with a conversion in a work folder of its own, and helpers
// that read the written .dmc back: its records and, through a fresh
// decoder per stretch, their nozzle columns.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/core/lookup_tables.h"
#include "host/core/testing/core_fixture.h"
#include "host/jobdata/conversion.h"
#include "host/jobdata/job_state.h"
#include "p3d_fixture.h"

namespace ph::testing {

using Column = std::array<std::uint8_t, 54>;

struct DmcRecord {
  long long offset = 0;
  std::string code;  // two powder-code characters
  int length = 0;
  char type = 0;
  std::vector<std::uint8_t> data;  // the encoded stretch data
};

// The columns of encoded stretch data, decoded with a fresh decoder up to
// its end code (one is added when missing).
std::vector<Column> decodeStretch(HostCore& core, const std::vector<std::uint8_t>& data);
// The records of .dmc bytes from offset 516 up to the final placeholder
// (not included); throws when the chain is broken.
std::vector<DmcRecord> parseRecords(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> readFile(const std::string& path);
// A folder of its own below the current one.
std::string makeWorkDir();

struct ConversionRig : CoreFixture {
  LookupTables tables;
  JobState job{core};
  std::unique_ptr<Conversion> conv;
  std::string dir;

  ConversionRig();
  ~ConversionRig();
  std::string p3dPath() const { return job.workFileName("p3d"); }
  std::string dmcPath() const { return job.workFileName("dmc"); }
  void write(const P3dJob& job) const { job.writeTo(p3dPath()); }
  // convertJob on the job.
  void convert(const P3dJob& job);
  std::vector<std::uint8_t> dmc() const { return readFile(dmcPath()); }
  // The records from offset 516 up to the final placeholder (not included).
  std::vector<DmcRecord> records() const { return parseRecords(dmc()); }
  bool logHas(const std::string& text) const;
};

struct ConversionFixture : ConversionRig, ::testing::Test {};

}  // namespace ph::testing
