#pragma once
// The .dmc jetting-data file: "DMC" and a zero byte, the int32 516, the
// 508-byte settings record (TDmcHeader), then one record per stretch: a
// 10-byte TStretchHeader (0xBF, two powder-code characters, the six-digit
// length of the whole record, the stretch-type character) and its encoded
// nozzle data. The file ends with the header of a record that was never
// filled: 0xBF "00000000}".
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/core/result.h"
#include "host/jobdata/conversion_settings.h"

namespace ph {

class HostCore;
class DmcOut;
struct JobLayout;
struct JobState;

inline constexpr int kDmcDataOffset = 516;
inline constexpr int kDmcHeaderBytes = 508;
inline constexpr int kStretchHeaderBytes = 10;
inline constexpr std::uint32_t kDmcEndMark = 0x00ABCDEF;
inline constexpr char kPlaceholderHeader[kStretchHeaderBytes + 1] =
    "\xBF"
    "00000000}";

struct DmcHeader {
  std::string text;         // 240 bytes, written empty
  std::string eachLayCode;  // 80 bytes, zero-terminated
  std::string repeatCode;   // 80 bytes, zero-terminated
  std::int32_t layerMicrons = 0;
  std::int32_t powderPercentage = 0;
  std::int32_t travelMs = 0;  // the head's Y travel
  std::int32_t yvHiMicrons = 0;
  std::int32_t yvLimMicrons = 0;
  std::int32_t movespeed = 0;
  std::int32_t printspeed = 0;
  std::int32_t xMarlinBaseMicrons = 0;
  std::array<std::uint32_t, 10> jumpLayers{};  // bit l mod 32 of word l div 32
  std::int32_t printpages = 0;
  std::int32_t repeatpurge = 0;
  std::int32_t repeatstretch = 0;
  std::int32_t stretchSizeLim = 0;
  std::int32_t behindmargin = 0;
  std::int32_t djmaxline = 0;
  std::int32_t buildRoomSkip = 0;
  std::int32_t shiftLayer = 0;
  std::uint32_t endMark = kDmcEndMark;

  std::array<std::uint8_t, kDmcHeaderBytes> toBytes() const;
  static DmcHeader fromBytes(const std::uint8_t* bytes);
};

// The fields of a stretch header, read from its 10 bytes (the record mark
// first): its nine characters, the powder code, the length of the whole
// record (-1 when its six digits are not all digits) and the stretch type.
struct StretchHeaderFields {
  std::string text;
  int code = 0;
  long long length = 0;
  char type = 0;
};
StretchHeaderFields parseStretchHeader(const char* header);
// The stretch types a record may have: { } ] ! ( <
bool isStretchType(char c);

// The two characters of a powder code (0..560): c div 16 as 0-9, A-Z, then
// the upper-case hex digit of c mod 16.
std::string powderCodeText(int code);

// Writes magic, 516 and the header at the current position; the file then
// stands at 516.
void writeDmcHeader(DmcOut& out, const DmcHeader& header);
// Reads and checks the magic; on a match reads the header into printRecord
// and positions the file at the data offset, else at 0. Returns the offset.
int readDmcHeader(std::FILE* file, DmcHeader& printRecord);
// Takes printpages, djmaxline and buildRoomSkip back from the print record.
void takeDmcHeader(HostCore& core, JobLayout& layout, const DmcHeader& printRecord);
// The records of the work file's .dmc. For a job converted with
// powderReduce, records of empty stretches that the print skips are counted
// off, and their number is `skipped`.
struct StretchCount {
  int count = 0;
  int skipped = 0;
  Result read;  // a .dmc that does not open (told; both counts 0)
};
StretchCount countDmcStretches(HostCore& core, const JobState& job, bool powderReduced);

// The record writer of a conversion: closes each stretch's record, powder
// code and type included, and opens the next.
class DmcRecordWriter {
 public:
  DmcRecordWriter(HostCore& core, JobLayout& layout, DmcOut& out) : core_(core), layout_(layout), out_(out) {}

  // Before the first record of a conversion, with its settings.
  void startConversion(const ConversionSettings& settings);
  // Closes the open record and opens the next at the current end of data.
  // kind: stretches still to come in the layer (0 or less: the layer's last).
  void writeStretchRecord(int kind);
  // Powder bookkeeping for the stretch at position (Y in dots), which moves
  // on by one band; sets noPowderAhead with powderReduce.
  void powderReduceCheck(int& position, int layer);
  // The header record from the settings and the layout values.
  DmcHeader fillDmcHeader() const;
  // Closes the file's record chain: the open record becomes the final
  // placeholder and the data ends right behind it.
  void finishConversion();

  // Columns of the stretch being closed (its powder code).
  long long stretchColumns = 0;
  // Offsets where a split stretch started a new piece.
  std::vector<long long> splitList;
  bool layerParity = true;
  bool noPowderAhead = false;
  long long openRecord = -1;
  // Statistics.
  int nrfilledstretch = 0;
  long long maxstretchbytes = 0;
  int highestCode = 0;
  long long lastFilledRecord = 0;

 private:
  void writeHeader(long long at, const std::string& code, long long length, char type);

  HostCore& core_;
  JobLayout& layout_;
  DmcOut& out_;
  ConversionSettings s_;
  std::vector<long long> trailingEmpty_;
  int layerCount_ = 0;
  int lastForwardCode_ = 0;
  long long lastForwardCodeOffset_ = 0;
};

}  // namespace ph
