#include "host/jobdata/p3d_filter.h"

#include <algorithm>
#include <cstring>

namespace ph {

void P3dFilter::restart() {
  in_.discard();
  inHeader_ = true;
  layerStart_.reset();
  owed_ = 0;
  number_ = 0;
  heldRowEnds_ = 0;
  atEnd_ = false;
  queueHead_ = queueSize_ = 0;
}

void P3dFilter::enterRaster() {
  inHeader_ = false;
  owed_ = number_ = heldRowEnds_ = 0;
}

bool P3dFilter::filteredP3dByte(std::FILE* file, std::uint8_t& out) {
  auto push = [this](std::uint8_t b) { queue_[(queueHead_ + queueSize_++) & 3] = b; };
  in_.attach(file);
  while (queueSize_ == 0 && !atEnd_) {
    std::uint8_t c;
    if (!in_.next(c)) {
      atEnd_ = true;
      break;
    }
    bool held = false;
    if (inHeader_) {
      if (layerStart_.feed(c)) enterRaster();
    } else if (owed_ > 0) {
      --owed_;
    } else if (isPlaneCode(c)) {
      owed_ = number_;
      if (c == 'w') {
        held = true;
        ++heldRowEnds_;
      } else if (c == 'W') {
        // Only a bare end row closes the layer's run of empty rows; "12W"
        // carries the data of a last plane and passes as it stands.
        if (number_ == 0) {
          if (heldRowEnds_ > 2) heldRowEnds_ = 2;
          push('0');
        }
        inHeader_ = true;
        owed_ = 0;
      }
      number_ = 0;
    } else if (isRowDigit(c)) {
      addRowDigit(number_, c);
      if (number_ == 0 && heldRowEnds_ > 0) held = true;
    } else {
      number_ = 0;
    }
    if (!held) push(c);
  }
  if (queueSize_ == 0) {
    endedInsideRow_ = !inHeader_ && owed_ > 0;
    restart();
    return false;
  }
  if (heldRowEnds_ > 0) {
    --heldRowEnds_;
    out = 'w';
    return true;
  }
  out = queue_[queueHead_];
  queueHead_ = (queueHead_ + 1) & 3;
  --queueSize_;
  return true;
}

int P3dFilter::filteredP3dRead(void* buffer, std::size_t size, std::size_t count, std::FILE* file) {
  auto* p = static_cast<std::uint8_t*>(buffer);
  const std::size_t total = size * count;
  std::size_t n = 0;
  in_.attach(file);
  while (n < total) {
    // Plane data and text outside the raster pages pass as they stand.
    if (queueSize_ == 0 && heldRowEnds_ == 0 && !atEnd_ && in_.available() > 0) {
      if (!inHeader_ && owed_ > 0) {
        const std::size_t k = std::min({std::size_t(owed_), total - n, in_.available()});
        std::memcpy(p + n, in_.data(), k);
        in_.advance(k);
        n += k;
        owed_ -= int(k);
        continue;
      }
      if (inHeader_) {
        while (n < total && in_.available() > 0) {
          const std::uint8_t c = *in_.data();
          in_.advance(1);
          p[n++] = c;
          if (layerStart_.feed(c)) {
            enterRaster();
            break;
          }
        }
        continue;
      }
    }
    if (!filteredP3dByte(file, p[n])) break;
    ++n;
  }
  return int(n);
}

namespace {

constexpr int kBlocksPerChunk = 64;
constexpr std::size_t kChunksAhead = 16;

}  // namespace

FilteredBlocks::FilteredBlocks(P3dFilter& filter, std::FILE* file, int passes, bool ownThread)
    : filter_(filter), file_(file), passes_(std::max(passes, 1)) {
  filter_.restart();
  if (ownThread) thread_ = std::thread([this] { produce(); });
}

FilteredBlocks::~FilteredBlocks() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    stopping_ = true;
  }
  roomCv_.notify_all();
  thread_.join();
}

bool FilteredBlocks::readBlock(std::uint8_t* block, int& n) {
  if (ended_) return false;
  n = filter_.filteredP3dRead(block, 1, kBlockBytes, file_);
  if (n < kBlockBytes) {
    if (pass_ >= passes_) {
      ended_ = true;
    } else {
      // Another pass over the layers, from the file's second byte.
      ++pass_;
      std::rewind(file_);
      std::fgetc(file_);
      filter_.restart();
    }
  }
  return true;
}

void FilteredBlocks::produce() {
  try {
    for (bool last = false; !last;) {
      Chunk chunk;
      chunk.bytes.resize(std::size_t(kBlocksPerChunk) * kBlockBytes);
      std::size_t at = 0;
      while (chunk.lengths.size() < std::size_t(kBlocksPerChunk)) {
        int n = 0;
        if (!readBlock(chunk.bytes.data() + at, n)) {
          last = true;
          break;
        }
        chunk.lengths.push_back(n);
        at += std::size_t(n);
      }
      chunk.last = last;
      std::unique_lock lock(mu_);
      roomCv_.wait(lock, [this] { return stopping_ || ready_.size() < kChunksAhead; });
      if (stopping_) return;
      ready_.push_back(std::move(chunk));
      readyCv_.notify_one();
    }
  } catch (...) {
    std::lock_guard lock(mu_);
    failure_ = std::current_exception();
    Chunk end;
    end.last = true;
    ready_.push_back(std::move(end));
    readyCv_.notify_one();
  }
}

int FilteredBlocks::next(const std::uint8_t*& block) {
  if (!thread_.joinable()) {
    own_.resize(kBlockBytes);
    block = own_.data();
    int n = 0;
    return readBlock(own_.data(), n) ? n : -1;
  }
  while (currentBlock_ == current_.lengths.size()) {
    if (current_.last) {
      if (failure_) std::rethrow_exception(failure_);
      return -1;
    }
    std::unique_lock lock(mu_);
    readyCv_.wait(lock, [this] { return !ready_.empty(); });
    current_ = std::move(ready_.front());
    ready_.pop_front();
    lock.unlock();
    roomCv_.notify_one();
    currentBlock_ = currentAt_ = 0;
  }
  const int n = current_.lengths[currentBlock_++];
  block = current_.bytes.data() + currentAt_;
  currentAt_ += std::size_t(n);
  return n;
}

}  // namespace ph
