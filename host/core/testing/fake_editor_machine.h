#pragma once
// The machine side as the configuration editor sees it, played by a test:
// idle, no link to send queued codes on, no ports found, unless the test
// sets what it needs.
#include <functional>
#include <string>
#include <vector>

#include "host/core/config_editor.h"

namespace ph {

struct FakeEditorMachine : EditorMachine {
  std::function<bool()> busy = [] { return false; };
  std::function<bool()> send = [] { return false; };
  std::function<std::vector<std::string>()> ports = [] { return std::vector<std::string>{}; };
  bool isBusy() const override { return busy(); }
  bool sendPendingInk() override { return send(); }
  std::vector<std::string> detectedPorts() override { return ports(); }
};

}  // namespace ph
