#pragma once
// The machine side as the configuration editor sees it, played by a test:
// idle, no ports found, unless the test
// sets what it needs.
#include <functional>
#include <string>
#include <vector>

#include "host/core/config_editor.h"

namespace ph {

struct FakeEditorMachine : EditorMachine {
  std::function<bool()> busy = [] { return false; };
  std::function<std::vector<std::string>()> ports = [] { return std::vector<std::string>{}; };
  bool isBusy() const override { return busy(); }
  std::vector<std::string> detectedPorts() override { return ports(); }
};

}  // namespace ph
