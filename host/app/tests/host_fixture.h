#pragma once
// A Host on a scripted operator and a manual clock, in a scratch folder of
// its own so settings and log files of one test never meet another's.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "host/app/host.h"
#include "host/components/comm_device_names.h"
#include "host/core/testing/fake_ui.h"

namespace ph {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;
    old_ = fs::current_path();
    dir_ = fs::temp_directory_path() /
           ("hosttest-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    fs::current_path(dir_);
    setenv("PRISM_NAMESPACE", ("h" + std::to_string(getpid()) + "_").c_str(), 1);
    // The default ports of the machine links never reach a real device.
    for (int com : {2, 30}) commDeviceNames().map(com, (dir_ / ("no-port-COM" + std::to_string(com))).string());
  }
  void TearDown() override {
    host.reset();
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  Host& start(std::vector<std::string> args = {}) {
    host = std::make_unique<Host>(ui, clock, std::move(args));
    host->startUp();
    return *host;
  }
  // startUp, then the Init timer's tick.
  Host& startAndInit(std::vector<std::string> args = {}) {
    start(std::move(args));
    clock.advance(1000);
    return *host;
  }
  static void write(const std::string& name, const std::string& text) {
    std::ofstream(name, std::ios::binary) << text;
  }
  OperatorLog::Lines log() { return host->core.Memo1.lines(); }
  bool logHas(const std::string& part) {
    for (const auto& l : log())
      if (l.find(part) != std::string::npos) return true;
    return false;
  }

  FakeUi ui;
  plat::ManualClock clock;
  std::unique_ptr<Host> host;

 private:
  std::filesystem::path old_, dir_;
};

// Machine links that record what was sent.
struct RecordingLinks : MachineLinks {
  std::vector<std::string> gcodes, ink;
  bool acknowledged = true, closed = false, opened = false;
  std::string sequence;
  void openMarlin() override { opened = true; }
  void flushPendingMcodes() override { gcodes.push_back("(flush)"); }
  void sendGcode(const std::string& c) override { gcodes.push_back(c); }
  void sendInkPending(const std::string& c) override { ink.push_back(c); }
  std::string gcodeSequence() const override { return sequence; }
  bool allLinesAcknowledged() const override { return acknowledged; }
  bool pokeUnacknowledged() override {
    gcodes.push_back("(again)");
    return true;
  }
  void closeSerialLinks() override { closed = true; }
};

}  // namespace ph
