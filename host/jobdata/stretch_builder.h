#pragma once
// The stretch builder: places the four colour planes of a band's raster
// rows on the print head's nozzles (mirrored for the backward passes of
// bidirectional printing), walks the band column by column along Y and
// hands each 54-byte nozzle column to the encoder.
#include <cstdint>
#include <vector>

namespace ph {

class HostCore;
class DmcOut;
class DmcRecordWriter;
class StretchEncoder;
struct JobLayout;
struct LookupTables;
struct NozzleTables;

// Rewrites a PackBits row for the opposite direction, in place: the runs in
// reverse order, every byte bit-reversed, leading zero bytes left out (they
// would only trail). *usedLength receives the bytes the mirrored runs take
// (the rest is zeroed). Returns the start column that right-aligns the row
// to a 1000-dot page: 8 x (125 - decoded length).
int mirrorRow(std::uint8_t* row, int length, const LookupTables& tables, int* usedLength = nullptr);

class StretchBuilder {
 public:
  static constexpr int kEmptySlot = 99999;

  StretchBuilder(HostCore& core, const LookupTables& tables, const NozzleTables& nozzles, JobLayout& layout,
                 StretchEncoder& encoder, DmcRecordWriter& records, DmcOut& out);

  // Builds and records the stretch of one band (length bytes of rows);
  // position (Y in dots) moves on by a band, stretchesLeft counts down.
  void endBand(int& position, int& stretchesLeft, std::uint8_t* band, int length, int layer);
  // Builds the stretch data of the band; returns the row bytes consumed.
  int buildStretch(std::uint8_t* rows, int length, int& rowsToSkip, bool& layerEnded);

  void startConversion();

  bool lastStretchBackward = false;
  // One bit report at the next stretch ("bitreport").
  bool bitReport = false;
  // The plain slot-by-slot column loop, kept as the reference that the fast
  // loop is tested against; the output is the same.
  bool slowColumnLoop = false;

 private:
  struct Slot {
    int start = kEmptySlot;
    const std::uint8_t* data = nullptr;
    int length = 0;
  };
  int bandRows() const;
  void placePlane(int row, int plane, std::uint8_t* data, int n, bool backward, int maxOffset);
  bool skipLeadingZeros(Slot& slot);
  void backwardAlign();
  void report();
  void columnLoopFast();
  void columnLoopSlow();
  // After each column: counts it and splits a forward stretch that grew
  // past the size limit. False when the stretch must end after the next
  // column (a backward pass that needs a forward rebuild).
  bool columnDone();
  void finishStretchData();

  HostCore& core_;
  const LookupTables& tables_;
  const NozzleTables& nozzles_;
  JobLayout& layout_;
  StretchEncoder& encoder_;
  DmcRecordWriter& records_;
  DmcOut& out_;

  std::vector<Slot> slots_;                          // 5 per row: water, water (second line), C, M, Y
  std::vector<std::vector<std::uint8_t>> repacked_;  // trimmed water rows, per row
  std::vector<std::uint8_t> bandCopy_;
  int rowsWithData_ = 0;
  bool backward_ = false;
  bool forwardRebuild_ = false;
  long long columnsSent_ = 0;  // columns of the stretch so far, over all pieces
  long long stretchColumns_ = 0;
  long long forwardColumns_ = 0;  // the last forward stretch's columns
  long long alignedColumns_ = 0;  // a backward pass's columns from its alignment

  // Work buffers of the fast loop: a nozzle bit switches on at the first
  // column of each run of dots of its row and off behind it.
  struct Toggle {
    int column;
    std::uint8_t byte;
    std::uint8_t mask;
  };
  void addRuns(const std::uint8_t* data, int length, int start, int last, std::uint8_t byte, std::uint8_t mask);
  std::vector<Toggle> toggles_, sorted_;
  std::vector<int> togglesAt_, fillAt_;
};

}  // namespace ph
