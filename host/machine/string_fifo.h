#pragma once
// TStringFifo: the queue of jetting-unit commands that wait for the line to
// be free. Popping an empty queue gives "" and removes nothing.
#include <deque>
#include <string>

namespace ph {

class TStringFifo {
 public:
  bool notEmpty() const { return !items_.empty(); }
  int count() const { return static_cast<int>(items_.size()); }
  void push(std::string text) { items_.push_back(std::move(text)); }
  std::string pop() {
    if (items_.empty()) return "";
    std::string t = std::move(items_.front());
    items_.pop_front();
    return t;
  }
  void clear() { items_.clear(); }

 private:
  std::deque<std::string> items_;
};

}  // namespace ph
