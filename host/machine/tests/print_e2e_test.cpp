// A whole print, in real time over loopback: prismhost -F model -B slices a
// small coloured model, converts it and prints it on the two simulated
// machines, which the test starts. The simulators' logs are an independent
// reading of what arrived: every layer's platform step, every stretch's
// nozzle columns (against the host's decoding of the .dmc records) and the
// unit's byte totals (against the host's).
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "host/core/testing/core_fixture.h"
#include "host/jobdata/dmc_decoder.h"
#include "host/jobdata/dmc_records.h"
#include "host/core/testing/cube_stl.h"
#include "host/core/testing/file_text.h"
#include "host/machine/tests/simulator.h"
#include "platform/process.h"

using namespace ph;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> readLines(const fs::path& file) { return ph::test::readLines(file.string()); }
std::string readAll(const fs::path& file) { return ph::test::readAll(file.string()); }

// FNV-1a 64 over bytes, as the unit's log writes it.
std::string fnv(const std::vector<std::uint8_t>& bytes) {
  std::uint64_t h = 0xcbf29ce484222325ULL;
  for (std::uint8_t b : bytes) {
    h ^= b;
    h *= 0x100000001b3ULL;
  }
  char t[17];
  std::snprintf(t, sizeof t, "%016llx", static_cast<unsigned long long>(h));
  return t;
}

// The value of "name=" in a line of words.
std::string field(const std::string& line, const std::string& name) {
  const auto p = line.find(" " + name + "=");
  if (p == std::string::npos) return "";
  const auto from = p + name.size() + 2;
  return line.substr(from, line.find(' ', from) - from);
}

struct RecordColumns {
  int count = 0;
  std::string digest;
};

// Every stretch record of the .dmc, decoded by the host's decoder.
std::vector<RecordColumns> dmcRecordColumns(const fs::path& dmc) {
  CoreFixture fixture;
  std::vector<RecordColumns> out;
  std::FILE* f = std::fopen(dmc.string().c_str(), "rb");
  if (!f) return out;
  DmcHeader header;
  long pos = readDmcHeader(f, header);
  for (;;) {
    std::fseek(f, pos, SEEK_SET);
    char h[kStretchHeaderBytes];
    if (std::fread(h, 1, sizeof h, f) != sizeof h) break;
    const long length = std::stol(std::string(h + 3, 6));
    if (length < kStretchHeaderBytes) break;  // the closing header
    // The record's data with the end code the host sends after it.
    std::vector<std::uint8_t> data(std::size_t(length - kStretchHeaderBytes));
    if (!data.empty() && std::fread(data.data(), 1, data.size(), f) != data.size()) break;
    data.push_back(0xBF);
    std::FILE* m = fmemopen(data.data(), data.size(), "rb");
    DmcDecoder d(fixture.core);
    d.dmcFile = m;
    d.resetDecoder();
    d.decoding = true;
    std::vector<std::uint8_t> cols;
    RecordColumns r;
    for (int guard = 0; d.decoding && guard < 10000000; ++guard) {
      d.decodeDmcStep();
      if (d.columnReady) {
        cols.insert(cols.end(), d.completedColumn(), d.completedColumn() + 54);
        ++r.count;
      }
      if (d.atEnd) break;
    }
    std::fclose(m);
    r.digest = fnv(cols);
    out.push_back(r);
    pos += length;
  }
  std::fclose(f);
  return out;
}

TEST(PrintEndToEnd, AColouredModelPrintsOnTheSimulatedMachines) {
  const fs::path dir = fs::temp_directory_path() / ("phprint-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // Top and bottom red, sides blue (bit 15 and 1024 R + 32 G + B).
  test::writeColouredCube((dir / "cube.stl").string(), 100, 8, 0x8000 | 31 * 1024, 0x8000 | 31);

  ph::Simulator marlin, unit;
  ASSERT_TRUE(marlin.start(MARLIN_SIM, {"--instant-dwell", "--port", "0"}, dir / "marlin.log", 120));
  ASSERT_TRUE(unit.start(INKJET_SIM, {"--port", "0"}, dir / "unit.log", 120));
  const int layerMicrons = 1000;
  // The batch's powder preparation lays no powder-only layers: the logs
  // hold the model's print alone.
  const int status = runBatchPrint(PRISMHOST_BIN, dir, marlin, unit,
                                   "layerMicrons = " + std::to_string(layerMicrons) + "\npreplayers = 0\n", "e", 120000);
  marlin.finish();
  unit.finish();
  const std::string log = readAll(dir / "prismhost.log");
  ASSERT_EQ(status, 0) << log;

  // The print ran from start to end and the program closed by itself.
  EXPECT_NE(log.find("start (cube)"), std::string::npos) << log;
  EXPECT_NE(log.find("fin (cube in "), std::string::npos) << log;
  EXPECT_EQ(log.find("aborted"), std::string::npos);

  // Every layer's platform step: one move with Z per layer advance, each a
  // layer above the one before (the platform jumps between passes may
  // leave the move one jump higher; the jump that follows takes it back).
  std::vector<double> layerZ;
  for (const std::string& l : readLines(dir / "marlin.log")) {
    if (l.rfind("exec N", 0) != 0) continue;
    const auto code = l.substr(l.find(' ', 5) + 1);
    if (code.rfind("G0 X", 0) == 0 && code.find(" Z") != std::string::npos)
      layerZ.push_back(std::stod(code.substr(code.find(" Z") + 2)));
  }
  const std::string fin = log.substr(log.find("fin (cube"));
  ASSERT_GE(layerZ.size(), 6u);
  for (std::size_t k = 0; k < layerZ.size(); ++k) {
    const double expected = (k + 1) * layerMicrons / 1000.0;
    EXPECT_TRUE(std::fabs(layerZ[k] - expected) < 1e-6 || std::fabs(layerZ[k] - expected - 0.25) < 1e-6)
        << "layer " << k + 1 << " at Z" << layerZ[k];
  }

  // Every stretch the unit decoded from a data announcement ("...p" right
  // before "973j") carries the columns of the next .dmc record, in order.
  const auto records = dmcRecordColumns(dir / "temp.dmc");
  ASSERT_FALSE(records.empty());
  std::vector<std::string> dataStretches;
  std::string lastCommand, beforeData;
  std::string totals;
  for (const std::string& l : readLines(dir / "unit.log")) {
    if (l.rfind("cmd ", 0) == 0) {
      if (l == "cmd 973j") beforeData = lastCommand;
      lastCommand = l;
    }
    if (l.rfind("stretch ", 0) == 0 && !beforeData.empty() && beforeData.back() == 'p') dataStretches.push_back(l);
    if (l.rfind("bytes ", 0) == 0) totals = l;
  }
  // The print ends when no more than 20 bytes are left: a last record
  // without columns may stay unsent.
  ASSERT_LE(dataStretches.size(), records.size());
  ASSERT_GE(dataStretches.size() + 1, records.size());
  if (records.size() > dataStretches.size()) {
    EXPECT_EQ(records.back().count, 0);
  }
  for (std::size_t i = 0; i < dataStretches.size(); ++i) {
    SCOPED_TRACE(dataStretches[i]);
    EXPECT_EQ(field(dataStretches[i], "partial"), "0");
    EXPECT_EQ(field(dataStretches[i], "data-cols"), std::to_string(records[i].count));
    EXPECT_EQ(field(dataStretches[i], "data-digest"), records[i].digest);
  }

  // The unit's byte count and sum are the host's (the host's sum in 32 bits).
  const std::string hostSum = log.substr(log.find("inkCheckSum=") + 12);
  const long long sum = std::stoll(field(" " + totals, "sum"));
  EXPECT_EQ(std::stoll(hostSum), static_cast<long long>(static_cast<std::int32_t>(static_cast<std::uint32_t>(sum))));
  EXPECT_EQ(std::stoll(field(" " + totals, "count")), std::stoll(fin.substr(fin.find("inkByteCount=") + 13)));
  fs::remove_all(dir);
}

}  // namespace
