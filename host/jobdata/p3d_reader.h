#pragma once
// Reading the raster rows of a .p3d job: the PackBits plane rows dot by dot
// or whole, the water-haze trim, the layer-start search and the count of
// empty rows that open a job.
#include <cstdint>
#include <cstdio>
#include <vector>

#include "host/jobdata/p3d_stream.h"

namespace ph {

class HostCore;
struct JobState;
struct LookupTables;

// The reader of one PackBits plane row.
struct PackBitsSlot {
  const std::uint8_t* data = nullptr;  // null once the row has been read
  int delay = 0;                       // calls left before the first dot; 99999 at the end
  int run = 0;                         // literal bytes left (> 0), copies left (< 0), 0 = count byte due
  int bytesLeft = 0;
  std::uint8_t mask = 0;  // 0 = a new byte is due
  bool advance = false;   // the pointer moves on after the current byte
};

inline constexpr int kRowEnded = 99999;

// The next dot of the row; decrements *rowsWithData once when the row ends.
// A row whose data stops inside a run ends there: nothing past its bytes is
// read.
bool packBitsNextBit(PackBitsSlot& slot, int* rowsWithData = nullptr);

// Decodes a whole row (length >= 1) into out; returns the decoded length in
// bytes. At most maxOut bytes are stored; the length counts them all.
// *dangling tells that the row ends in a count byte with no data behind it
// (the dot reader then ends one dot later).
int unpackRow(std::vector<std::uint8_t>& out, const std::uint8_t* data, int length, int maxOut = 1 << 30,
              bool* dangling = nullptr);

// The decoded length in bytes of a PackBits row and its number of set dots,
// without storing it.
int rowLengthAndDots(const std::uint8_t* data, int length, int& dots, const LookupTables& tables);

// The rows that trimAndRepackRow writes hold at most this many bytes.
inline constexpr int kRepackRowBytes = 800;

// Every run of more than 2 x haze set dots loses its last haze dots; the
// row keeps its length. The slot is pointed at the re-encoded row, stored
// in `store` (which must stay alive while the slot is read).
void trimAndRepackRow(PackBitsSlot& slot, int haze, std::vector<std::uint8_t>& store);

// PackBits encoding as the trim writes it.
void packBitsEncode(const std::uint8_t* bytes, int count, std::vector<std::uint8_t>& out);

// Reads on to just behind the next layer-start marker; false at the end.
bool seekLayerStart(P3dReadBuffer& in);

// Empty rows at the top of the first layer of the current job's .p3d.
int leadingEmptyRows(HostCore& core, const JobState& job);

}  // namespace ph
