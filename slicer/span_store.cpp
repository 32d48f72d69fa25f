#include "slicer/span_store.h"

namespace lt {

void SpanStore::start(float z) {
  spans_.clear();
  rowStart_.assign(1, 0);
  rowEnd_ = 0;
  z_ = z;
  holds_ = true;
}

void SpanStore::add(std::uint16_t colour, std::int32_t xEnd) {
  if (xEnd <= rowEnd_) return;
  rowEnd_ = xEnd;
  if (spans_.size() > rowStart_.back() && spans_.back().colour == colour) {
    spans_.back().xEnd = xEnd;
    return;
  }
  spans_.push_back({colour, xEnd});
}

void SpanStore::endRow() {
  rowStart_.push_back(std::uint32_t(spans_.size()));
  rowEnd_ = 0;
}

void SpanStore::release() {
  std::vector<Span>().swap(spans_);
  rowStart_.assign(1, 0);
  rowEnd_ = 0;
  holds_ = false;
}

}  // namespace lt
