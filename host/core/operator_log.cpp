#include "host/core/operator_log.h"

#include <algorithm>

namespace ph {

void OperatorLog::makeRoom(std::size_t n) {
  const std::size_t need = text_.size() + n;
  if (need <= text_.capacity()) return;
  text_.reserve(need + need / 4 + 256);
}

std::size_t OperatorLog::start(std::size_t i) const {
  const auto high = static_cast<std::size_t>(std::upper_bound(wraps_.begin(), wraps_.end(), i) - wraps_.begin());
  return (high << 32) | starts_[i];
}

std::string_view OperatorLog::line(std::size_t i) const {
  const std::size_t from = start(i);
  const std::size_t to = i + 1 < starts_.size() ? start(i + 1) : text_.size();
  return std::string_view(text_.data() + from, to - from);
}

void OperatorLog::addLine(std::string line) {
  if (starts_.size() == starts_.capacity()) starts_.reserve(starts_.size() + starts_.size() / 4 + 64);
  makeRoom(line.size());
  const std::size_t at = text_.size();
  for (std::size_t high = wraps_.size(); (at >> 32) > high; ++high) wraps_.push_back(starts_.size());
  starts_.push_back(static_cast<std::uint32_t>(at));
  text_.insert(text_.end(), line.begin(), line.end());
  if (view_) view_->lineAdded(line);
}

void OperatorLog::appendToLast(const std::string& text) {
  if (starts_.empty()) {
    addLine(text);
    return;
  }
  makeRoom(text.size());
  text_.insert(text_.end(), text.begin(), text.end());
  if (view_) view_->lastLineChanged(std::string(line(starts_.size() - 1)));
}

void OperatorLog::removeLast() {
  if (starts_.empty()) return;
  text_.resize(start(starts_.size() - 1));
  starts_.pop_back();
  while (!wraps_.empty() && wraps_.back() == starts_.size()) wraps_.pop_back();
  if (view_) view_->lastLineRemoved();
}

void OperatorLog::clear() {
  text_.clear();
  text_.shrink_to_fit();
  starts_.clear();
  starts_.shrink_to_fit();
  wraps_.clear();
  if (view_) view_->cleared();
}

std::string OperatorLog::text() const {
  std::string t;
  t.reserve(text_.size() + 2 * starts_.size());
  for (std::size_t i = 0; i < starts_.size(); ++i) {
    if (i) t += "\r\n";
    t += line(i);
  }
  return t;
}

}  // namespace ph
