#include "host/core/operator_log.h"

namespace ph {

void OperatorLog::addLine(std::string line) {
  lines_.push_back(std::move(line));
  if (view_) view_->lineAdded(lines_.back());
}

void OperatorLog::appendToLast(const std::string& text) {
  if (lines_.empty()) {
    addLine(text);
    return;
  }
  lines_.back() += text;
  if (view_) view_->lastLineChanged(lines_.back());
}

void OperatorLog::removeLast() {
  if (lines_.empty()) return;
  lines_.pop_back();
  if (view_) view_->lastLineRemoved();
}

void OperatorLog::clear() {
  lines_.clear();
  if (view_) view_->cleared();
}

std::string OperatorLog::text() const {
  std::string t;
  std::size_t n = 0;
  for (const auto& l : lines_) n += l.size() + 2;
  t.reserve(n);
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i) t += "\r\n";
    t += lines_[i];
  }
  return t;
}

}  // namespace ph
