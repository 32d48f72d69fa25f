#pragma once
// What an operation that can fail hands back: success, or why it failed and
// whether the operator has been told already (so a caller neither keeps
// silent about a failure nor tells it twice).
#include <string>
#include <utility>

namespace ph {

class Result {
 public:
  static Result success() { return Result(); }
  // `told`: the operator has seen the failure (a message box or the log).
  static Result failure(std::string reason, bool told) {
    Result r;
    r.failed_ = true;
    r.reason_ = std::move(reason);
    r.told_ = told;
    return r;
  }

  bool ok() const { return !failed_; }
  explicit operator bool() const { return ok(); }
  // Empty on success.
  const std::string& reason() const { return reason_; }
  bool told() const { return told_; }

 private:
  bool failed_ = false;
  std::string reason_;
  bool told_ = false;
};

}  // namespace ph
