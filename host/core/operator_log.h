#pragma once
// The operator log as a list of lines that a memo widget follows. Appending
// a line and changing or removing the last line are O(1): a print of many
// hours writes hundreds of thousands of lines. The lines lie end to end in
// one text with an offset per line, so the log takes little more memory
// than its text, however short its lines are.
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>
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

  // The lines, read-only; each one is given as a copy of its text.
  class Lines {
   public:
    class const_iterator {
     public:
      using iterator_category = std::random_access_iterator_tag;
      using value_type = std::string;
      using difference_type = std::ptrdiff_t;
      using pointer = void;
      using reference = std::string;
      const_iterator() = default;
      const_iterator(const OperatorLog* log, std::size_t i) : log_(log), i_(i) {}
      std::string operator*() const { return std::string(log_->line(i_)); }
      std::string operator[](difference_type n) const { return std::string(log_->line(i_ + std::size_t(n))); }
      const_iterator& operator++() { return ++i_, *this; }
      const_iterator operator++(int) { return {log_, i_++}; }
      const_iterator& operator--() { return --i_, *this; }
      const_iterator operator--(int) { return {log_, i_--}; }
      const_iterator& operator+=(difference_type n) { return i_ += std::size_t(n), *this; }
      const_iterator& operator-=(difference_type n) { return i_ -= std::size_t(n), *this; }
      friend const_iterator operator+(const_iterator a, difference_type n) { return a += n; }
      friend const_iterator operator+(difference_type n, const_iterator a) { return a += n; }
      friend const_iterator operator-(const_iterator a, difference_type n) { return a -= n; }
      friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
        return difference_type(a.i_) - difference_type(b.i_);
      }
      friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.i_ == b.i_; }
      friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.i_ <=> b.i_; }

     private:
      const OperatorLog* log_ = nullptr;
      std::size_t i_ = 0;
    };
    using value_type = std::string;
    using size_type = std::size_t;
    using iterator = const_iterator;

    explicit Lines(const OperatorLog& log) : log_(&log) {}
    std::size_t size() const { return log_->lineCount(); }
    bool empty() const { return log_->empty(); }
    std::string operator[](std::size_t i) const { return std::string(log_->line(i)); }
    std::string front() const { return (*this)[0]; }
    std::string back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {log_, 0}; }
    const_iterator end() const { return {log_, size()}; }
    explicit operator std::vector<std::string>() const { return {begin(), end()}; }
    friend bool operator==(const Lines& a, const std::vector<std::string>& b) {
      if (a.size() != b.size()) return false;
      for (std::size_t i = 0; i < b.size(); ++i)
        if (a.log_->line(i) != b[i]) return false;
      return true;
    }

   private:
    const OperatorLog* log_;
  };

  void addLine(std::string line);
  void appendToLast(const std::string& text);
  void removeLast();
  void clear();
  Lines lines() const { return Lines(*this); }
  std::size_t lineCount() const { return starts_.size(); }
  // Line i (0-based); valid until the log changes.
  std::string_view line(std::size_t i) const;
  bool empty() const { return starts_.empty(); }
  // The whole text, lines joined by CR LF (as the memo gives it).
  std::string text() const;

  void setView(View* v) { view_ = v; }

 private:
  // Room for n more bytes, growing by a quarter rather than doubling.
  void makeRoom(std::size_t n);
  std::size_t start(std::size_t i) const;

  // Every line, end to end (a vector: it grows by exactly what is asked).
  std::vector<char> text_;
  // Where each line begins in text_: the low 32 bits, and the lines at
  // which the high bits go up by one (4 bytes a line, logs of any size).
  std::vector<std::uint32_t> starts_;
  std::vector<std::size_t> wraps_;
  View* view_ = nullptr;
};

}  // namespace ph
