#pragma once
// The stream filter every conversion reads the .p3d through: bytes pass
// unchanged, except that runs of empty rows come out as bare "w" row ends
// and at most two empty rows stay in front of a layer's end code ("0W").
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "host/jobdata/p3d_stream.h"

namespace ph {

class P3dFilter {
 public:
  // True while a byte is delivered. At the end of the file nothing is
  // delivered and the filter starts over, so a second pass over the same
  // file filters the same way.
  bool filteredP3dByte(std::FILE* file, std::uint8_t& out);
  // Up to size * count bytes into buffer; stops at the end of the file.
  int filteredP3dRead(void* buffer, std::size_t size, std::size_t count, std::FILE* file);
  void restart();
  // The last pass ended inside a row: its data bytes ran past the file's end.
  bool endedInsideRow() const { return endedInsideRow_; }

 private:
  bool endedInsideRow_ = false;
  bool inHeader_ = true;
  MarkerMatch layerStart_ = layerStartMatch();
  int owed_ = 0;    // data bytes that pass unexamined
  int number_ = 0;  // digits read so far
  int heldRowEnds_ = 0;
  bool atEnd_ = false;
  // At most two bytes wait at a time ("0" and "W" at a layer's end).
  std::uint8_t queue_[4] = {};
  int queueHead_ = 0, queueSize_ = 0;
  // restart() gives up what is buffered.
  P3dReadBuffer in_;
  // Raster data starts behind the layer-start marker.
  void enterRaster();
};

// The blocks the conversion reads a .p3d in: up to kBlockBytes filtered
// bytes each, the file read `passes` times (every pass after the first
// from its second byte, so the layers repeat). A block shorter than
// kBlockBytes ends a pass. With a thread, the reading and filtering run
// beside the caller, a little ahead of it; the blocks are the same.
class FilteredBlocks {
 public:
  static constexpr int kBlockBytes = 1000;

  FilteredBlocks(P3dFilter& filter, std::FILE* file, int passes, bool ownThread);
  ~FilteredBlocks();
  FilteredBlocks(const FilteredBlocks&) = delete;
  FilteredBlocks& operator=(const FilteredBlocks&) = delete;

  // The next block: its length, or -1 after the last block; `block`
  // points at its bytes until the next call.
  int next(const std::uint8_t*& block);

 private:
  // Reads the next block; false after the last.
  bool readBlock(std::uint8_t* block, int& n);
  void produce();

  P3dFilter& filter_;
  std::FILE* file_;
  int passes_;
  int pass_ = 1;
  bool ended_ = false;

  // Blocks read ahead by the thread, many to a chunk.
  struct Chunk {
    std::vector<std::uint8_t> bytes;
    std::vector<int> lengths;
    bool last = false;
  };
  std::deque<Chunk> ready_;
  Chunk current_;
  std::size_t currentBlock_ = 0, currentAt_ = 0;
  std::vector<std::uint8_t> own_;  // the block read without a thread
  std::mutex mu_;
  std::condition_variable readyCv_, roomCv_;
  bool stopping_ = false;
  std::exception_ptr failure_;
  std::thread thread_;
};

}  // namespace ph
