#pragma once
// The operator log as a list of lines that a memo widget follows. Appending
// a line and changing or removing the last line are O(1): a print of many
// hours writes hundreds of thousands of lines.
#include <string>
#include <vector>

namespace ph {

class OperatorLog {
 public:
  struct View {
    virtual ~View() = default;
    virtual void lineAdded(const std::string& line) = 0;
    virtual void lastLineChanged(const std::string& line) = 0;
    virtual void lastLineRemoved() = 0;
    virtual void cleared() = 0;
  };

  void addLine(std::string line);
  void appendToLast(const std::string& text);
  void removeLast();
  void clear();
  const std::vector<std::string>& lines() const { return lines_; }
  bool empty() const { return lines_.empty(); }
  // The whole text, lines joined by CR LF (as the memo gives it).
  std::string text() const;

  void setView(View* v) { view_ = v; }

 private:
  std::vector<std::string> lines_;
  View* view_ = nullptr;
};

}  // namespace ph
