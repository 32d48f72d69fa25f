#pragma once
// The stretch builder: places the four colour planes of a band's raster
// rows on the print head's nozzles (mirrored for the backward passes of
// bidirectional printing), walks the band column by column along Y and
// encodes each 54-byte nozzle column into the stretch's data.
//
// A build reads only its job and the values fixed for the conversion, so
// builders on several threads can make the stretches of one job at once.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/jobdata/dmc_out.h"
#include "host/jobdata/stretch_encoder.h"

namespace ph {

class HostCore;
struct ConversionSettings;
struct JobLayout;
struct LookupTables;
struct NozzleTables;

// Rewrites a PackBits row for the opposite direction, in place: the runs in
// reverse order, every byte bit-reversed, leading zero bytes left out (they
// would only trail). *usedLength receives the bytes the mirrored runs take
// (the rest is zeroed). Returns the start column that right-aligns the row
// to a 1000-dot page: 8 x (125 - decoded length).
int mirrorRow(std::uint8_t* row, int length, const LookupTables& tables, int* usedLength = nullptr);

// True when the rows of a band end the layer (a "W" or a byte that is no
// row code within its first `band` rows): the walk of buildStretch without
// the placing.
bool bandEndsLayer(const std::uint8_t* rows, int length, int band);

// What a build reads besides its band: fixed when the conversion starts.
struct BuildSettings {
  int band64 = 64;
  int endx1200 = 2000;
  std::array<int, 10> kcmyoff{};
  int CartridgeDist = 0;
  int hazeRemove = 0;
  int moveBackAlign = 0;
  long long sizeLimit = 0;  // stretchSizeLim
  bool blackPrint = false;
  bool skipwater = false;
  bool pictureMode = false;
  // The plain slot-by-slot column loop and byte-by-byte encoder, kept as
  // the reference the fast path is tested against; the output is the same.
  bool slowColumnLoop = false;

  static BuildSettings take(const ConversionSettings& settings, const JobLayout& layout, bool slowColumnLoop);
  int bandRows() const { return band64; }
};

// The state a stretch is built in, which the stretches before it leave.
// Two builds in equal states write the same bytes.
struct BuildState {
  bool backward = false;
  // Data bytes the encoder has counted since its last flush.
  long long initialBytes = 0;
  // A backward pass: the columns of the forward pass it aligns on. 0 for
  // a forward pass, which does not read it.
  long long forwardColumns = 0;
  bool operator==(const BuildState&) const = default;
};

// A forward pass's column count, published once by the thread that builds
// it; a backward pass built on another thread waits for it. (A promise
// would cost a call to the system per stretch even with nobody waiting.)
struct ColumnCount {
  void publish(long long columns) {
    value_ = columns;
    ready_.store(1, std::memory_order_release);
    ready_.notify_all();  // no call to the system without a waiter
  }
  long long get() const {
    while (ready_.load(std::memory_order_acquire) == 0) ready_.wait(0, std::memory_order_acquire);
    return value_;
  }
  static std::shared_ptr<ColumnCount> known(long long columns) {
    auto c = std::make_shared<ColumnCount>();
    c->publish(columns);
    return c;
  }

 private:
  std::atomic<int> ready_{0};
  long long value_ = 0;
};

// One band to build, with the state it is built in, and the result.
struct StretchJob {
  // The band's rows as the row parser collected them; left unchanged.
  std::vector<std::uint8_t> band;
  int length = 0;
  // A backward pass's forwardColumns may still be coming from `partner`
  // (a forward pass built on another thread); the build fills it in.
  BuildState state;
  std::shared_ptr<const ColumnCount> partner;
  // This stretch's columns, published as soon as a forward build knows
  // them (a backward pass after it aligns on them).
  std::shared_ptr<ColumnCount> columns = std::make_shared<ColumnCount>();
  bool columnsPublished = false;
  long long publishedColumns = 0;

  // The band's plane rows whose statistics (decoded length, set dots) are
  // counted by the thread that builds the stretch rather than by the row
  // parser: offsets into `band` and the plane (0 water, 1-3 C, M, Y).
  // `report`: the row's length is still to be reported if it is long.
  struct PlaneRow {
    int start = 0, end = 0, plane = 0;
    bool report = false;
  };
  std::vector<PlaneRow> planeRows;
  bool rowsCounted = false;
  std::array<long long, 4> rowDots{};  // set dots per plane
  int widestRow = 0;                   // decoded bytes of the widest row
  std::vector<int> longRows;           // decoded bytes of the long rows to report, in order

  // The record writer's part, fixed when the band was complete.
  int position = 0;  // Y of the stretch, in dots
  int layer = 0;
  int stretchesLeft = 0;  // after this one

  // Result.
  bool built = false;
  std::atomic<bool> done{false};
  std::atomic<bool> writerWaits{false};  // the writing thread waits for done
  std::vector<std::uint8_t> data;  // the encoded stretch, split headers included
  std::vector<long long> splits;   // offsets in data where a new piece starts
  bool rebuiltForward = false;     // a backward pass that outgrew the limit
  long long columnsSent = 0;       // columns of the final build
  long long stretchColumns = 0;    // columns for the powder code
  long long maxColumns = 0;        // longest piece or stretch, over every attempt
  std::vector<std::string> log;    // lines for the operator log, in order

  void publishColumns(long long columns);
};

class StretchBuilder {
 public:
  static constexpr int kEmptySlot = 99999;

  StretchBuilder(const LookupTables& tables, const NozzleTables& nozzles);

  // Builds the job's stretch in the job's state. A backward pass that
  // outgrows the size limit is built again as a forward pass.
  void build(StretchJob& job, const BuildSettings& settings);

 private:
  struct Slot {
    int start = kEmptySlot;
    const std::uint8_t* data = nullptr;
    int length = 0;
  };
  void buildStretch(std::uint8_t* rows, bool backward, long long initialBytes);
  void placePlane(int row, int plane, std::uint8_t* data, int n, bool backward, int maxOffset);
  bool skipLeadingZeros(Slot& slot);
  void backwardAlign();
  void columnLoopFast();
  void columnLoopSlow();
  // After each column: counts it and splits a forward stretch that grew
  // past the size limit. False when the stretch must end after the next
  // column (a backward pass that needs a forward rebuild).
  bool columnDone();
  void finishStretchData();

  const LookupTables& tables_;
  const NozzleTables& nozzles_;
  const BuildSettings* cfg_ = nullptr;
  StretchJob* job_ = nullptr;
  DmcOut out_;
  StretchEncoder encoder_{out_};

  std::vector<Slot> slots_;                          // 5 per row: water, water (second line), C, M, Y
  std::vector<std::vector<std::uint8_t>> repacked_;  // trimmed water rows, per row
  std::vector<std::uint8_t> mirrored_;               // a backward pass mirrors a copy of the band
  int rowsWithData_ = 0;
  bool backward_ = false;
  bool forwardRebuild_ = false;
  long long columnsSent_ = 0;     // columns of the stretch so far, over all pieces
  long long alignedColumns_ = 0;  // a backward pass's columns from its alignment

  // Work buffers of the fast loop: a nozzle bit switches on at the first
  // column of each run of dots of its row and off behind it; delta_ holds
  // per column the bits that switch there, changed_ marks those columns.
  void addRuns(const std::uint8_t* data, int length, int start, int last, std::uint8_t byte, std::uint8_t mask);
  std::vector<std::uint8_t> delta_, changed_;
  bool deltaClean_ = true;  // false while a build has rows in it
};

// "bitreport": the nozzle of every row and slot, one log line each.
void reportBits(HostCore& core, const BuildSettings& settings, const NozzleTables& nozzles);

}  // namespace ph
