#pragma once
// A stand-in for the jetting unit's link as the owner of the queued codes:
// it keeps them, counts the sends and can play a closed link.
#include <string>

#include "host/core/unit_code_queue.h"

namespace ph {

struct RecordedUnitCodes final : UnitCodeQueue {
  std::string text;
  int sends = 0;
  bool linkOpen = true;

  void queueUnitCode(const std::string& code) override { text += code; }
  const std::string& queuedUnitCodes() const override { return text; }
  void replaceQueuedUnitCodes(const std::string& codes) override { text = codes; }
  bool sendQueuedUnitCodes() override {
    ++sends;
    if (!linkOpen) return false;
    text.clear();
    return true;
  }
};

}  // namespace ph
