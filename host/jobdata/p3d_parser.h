#pragma once
// The row parser of the conversion: takes the .p3d in blocks, cuts every
// layer into bands of band64 rows and has each band built into a stretch,
// adding the empty stretches the layout asks for.
#include <array>
#include <cstdint>
#include <vector>

namespace ph {

class HostCore;
class DmcRecordWriter;
class StretchBuilder;
class StretchEncoder;
class DmcOut;
struct JobLayout;
struct LookupTables;

class RowParser {
 public:
  RowParser(HostCore& core, const LookupTables& tables, JobLayout& layout, StretchBuilder& builder,
            DmcRecordWriter& records, StretchEncoder& encoder, DmcOut& out);

  // Before the first block of a conversion.
  void startConversion();
  // Parses count bytes; the state runs on from block to block.
  void parsePclBlock(const std::uint8_t* bytes, int count);

  // Set dots per plane: water, cyan, magenta, yellow.
  std::array<long long, 4> drops{};
  int layerCounter = 0;
  int shiftAccumulator = 0;

 private:
  void layerStart();
  void bandEnd();
  void putRowEnds(int n);
  void storeByte(std::uint8_t c);
  // A plane row's data is complete: statistics.
  void planeRowRead();

  HostCore& core_;
  const LookupTables& tables_;
  JobLayout& layout_;
  StretchBuilder& builder_;
  DmcRecordWriter& records_;
  StretchEncoder& encoder_;
  DmcOut& out_;

  int parseMode_ = 2;  // 2 waiting for a layer, 0 top margin, 1 collecting a band
  std::vector<std::uint8_t> band_;
  int bandFill_ = 0;
  bool bandOverflowShown_ = false;
  int pendingNumber_ = 0;
  int dataLeft_ = 0;
  int planeDataStart_ = 0;
  int planeIndex_ = 0;
  int previousPlane_ = 0;
  std::uint8_t lastCode_ = 0;
  int rowsLeft_ = 0;
  bool bandComplete_ = false;
  int stretchesLeft_ = 0;
  int bandPosition_ = 0;
  std::size_t markerMatch_ = 0;
  int longRowReports_ = 0;  // over the program run
};

}  // namespace ph
