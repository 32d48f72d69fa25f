#pragma once
// The queue of jetting-unit codes that settings and controls raise: the
// link to the unit owns it and sends it in front of its next command (or at
// once, when asked). host/core reaches it through this seam.
#include <string>

namespace ph {

class UnitCodeQueue {
 public:
  // Adds codes to the queue.
  virtual void queueUnitCode(const std::string& code) = 0;
  // What is queued and not sent yet.
  virtual const std::string& queuedUnitCodes() const = 0;
  // The operator's edit of the whole queue.
  virtual void replaceQueuedUnitCodes(const std::string& codes) = 0;
  // Sends the queue now; false when it cannot go now (no link), and the
  // codes stay queued for the next command.
  virtual bool sendQueuedUnitCodes() = 0;

 protected:
  ~UnitCodeQueue() = default;
};

}  // namespace ph
