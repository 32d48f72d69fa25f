#pragma once
// The two machine links over fake transports on a manual clock: each fake
// records the exact bytes written and lets the test play the machine's
// replies, CTS, the output queue and connection events.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/core/settings_files.h"
#include "host/core/testing/core_fixture.h"
#include "host/machine/ink_controls.h"
#include "host/machine/jetting_link.h"
#include "host/machine/machine_actions.h"
#include "host/machine/marlin_link.h"

namespace ph {

template <class Base>
struct FakeLinkCommon : Base {
  std::string out;  // every byte written
  bool ctsOn = true;
  int queued = 0;
  int room = 1 << 30;  // bytes a write may still take
  int writes = 0;

  int write(const std::uint8_t* d, int n) override {
    ++writes;
    const int taken = n < room ? n : room;
    room -= taken;
    out.append(reinterpret_cast<const char*>(d), static_cast<std::size_t>(taken));
    return taken;
  }
  bool cts() const override { return ctsOn; }
  int outQueueCount() const override { return queued; }
  // The machine sends.
  void reply(const std::string& s) {
    if (this->onReceive) this->onReceive(reinterpret_cast<const std::uint8_t*>(s.data()), static_cast<int>(s.size()));
  }
  std::string take() {
    std::string s;
    s.swap(out);
    return s;
  }
  void event(LinkEvent e, int code = 0) {
    if (this->onEvent) this->onEvent(e, code);
  }
};

struct FakeSerial : FakeLinkCommon<SerialByteLink> {
  bool openWorks = true;
  bool opened = false;
  int opens = 0;
  std::string device;
  int baud = -1;
  TFlowControl flow = TFlowControl::fcDefault;

  bool isOpen() const override { return opened; }
  void setDevice(const std::string& d, int b) override {
    device = d;
    baud = b;
  }
  void setFlowControl(TFlowControl f) override { flow = f; }
  std::string open() override {
    ++opens;
    opened = openWorks;
    return "";
  }
  void close() override { opened = false; }
  std::string deviceName() const override { return device; }
};

struct FakeSocket : FakeLinkCommon<SocketByteLink> {
  bool connected = false, isActive = false;
  std::string host;
  int port = -1;

  FakeSocket() { ctsOn = true; }
  bool isOpen() const override { return connected; }
  void setAddress(const std::string& h, int p) override {
    host = h;
    port = p;
  }
  void setActive(bool on) override { isActive = on; }
  bool active() const override { return isActive; }
};

// Records what the other subsystems are asked; a test that has them routes
// the events on as the Host does (the unit's controls, the sequencer's
// G-code-only run).
struct RecordingEvents : MachineEvents {
  std::vector<std::string> calls;
  bool gcodeOnly = false;
  InkControls* ink = nullptr;
  std::function<bool()> askGcodeOnly;
  void dropImages() override {
    calls.push_back("dropImages");
    if (ink) ink->dropImages(false);
  }
  void setAlarmCount(int n) override {
    calls.push_back("alarm " + std::to_string(n));
    if (ink) ink->setAlarmCount(n);
  }
  void cartridgeCheck() override {
    calls.push_back("cartridgeCheck");
    if (ink) ink->cartridgeCheck();
  }
  void alignmentPrint() override { calls.push_back("alignmentPrint"); }
  void pasteInkCommands() override {
    calls.push_back("paste");
    if (ink) ink->pasteInkCommands();
  }
  bool gcodeOnlyRun() const override { return askGcodeOnly ? askGcodeOnly() : gcodeOnly; }
  // The sequencer's tick and stream, as a test plays them or asks them of
  // a sequencer it has.
  bool ticking = false;
  bool streaming = false;
  std::function<bool()> askTicking, askStreaming;
  bool printTicking() const override { return askTicking ? askTicking() : ticking; }
  bool stretchStreaming() const override { return askStreaming ? askStreaming() : streaming; }
  // The unit's controls' timers, as a test plays them without the controls.
  bool cartridgeSounding = false;
  bool alarmSounding = false;
  bool cartridgeScanning = false;
  bool cartridgeCheckSounding() const override { return ink ? ink->cartridgeCheckSounding() : cartridgeSounding; }
  void startAlarmSound() override {
    if (ink) ink->startAlarmSound();
    else alarmSounding = true;
  }
  void stopCartridgeScan() override {
    if (ink) ink->stopCartridgeScan();
    else cartridgeScanning = false;
  }
};

// The print as the unit's controls see it: `ticking` stands for a running
// print, and a resume sets it, unless a test says otherwise.
struct FakeInkPrint : InkPrint {
  explicit FakeInkPrint(HostCore& c) : core(c) {}
  HostCore& core;
  bool printTicks = false;
  std::function<void()> onPause, onPrimeCheckEnded, onResume;
  std::function<bool()> paused;
  void pauseAtStretchEnd() override {
    if (onPause) onPause();
  }
  bool pausedByEnd() const override { return paused && paused(); }
  void primeCheckEnded() override {
    if (onPrimeCheckEnded) onPrimeCheckEnded();
  }
  bool isBusy() const override { return printTicks; }
  bool ticking() const override { return printTicks; }
  void resumePrint() override {
    if (onResume) onResume();
    else printTicks = true;
  }
};

// What the manual actions ask of the others, as a test plays it: each step
// does nothing and the layer G-codes stay as written unless a test sets
// them.
struct FakeActionSteps : ActionSteps {
  std::function<void()> startX, powderSkip, prepLayers, keepWet;
  std::function<std::string(const std::string&, int)> expand;
  std::function<void(bool)> cocoonWalls;
  // Without a sequencer no watchdog runs: a tick is taken as stalled.
  std::function<bool()> stalledTick;
  bool clearStalledTick() override { return stalledTick ? stalledTick() : true; }
  void setStartX() override {
    if (startX) startX();
  }
  std::string expandGcodeTemplate(const std::string& text, int skip) override {
    return expand ? expand(text, skip) : text;
  }
  void armPowderSkip() override {
    if (powderSkip) powderSkip();
  }
  void preparePowderLayers() override {
    if (prepLayers) prepLayers();
  }
  void sendKeepWet() override {
    if (keepWet) keepWet();
  }
  void setCocoonWalls(bool on) override {
    if (cocoonWalls) cocoonWalls(on);
  }
};

// The controls of the main window the links use.
inline void addLinkControls(Controls& c) {
  using K = Control::Kind;
  for (const char* n : {"cb_comm", "pause"}) c.add(K::CheckBox, n, n).checkable = true;
  c.add(K::Label, "LabPwdr", "0");
  c.add(K::Combo, "typeGcode", "");
  c.add(K::Edit, "Edit1", "M18");
  for (const char* n : {"gcodes1", "inkdata1", "MarlinResp1", "OkDebug1", "scancartridges1"})
    c.add(K::MenuItem, n, n, "options1").checkable = true;
  c.add(K::MenuItem, "Button161", "Button16", "util1");
  c.add(K::MenuItem, "catchtempr1", "catchtempr", "util1");
}

struct LinkFixture : ::testing::Test, CoreFixture {
  LinkFixture() { addLinkControls(core.controls); }

  // The log from line `from` on, joined by "|".
  std::string logText(std::size_t from = 0) const {
    std::string t;
    for (std::size_t i = from; i < log().size(); ++i) t += (i > from ? "|" : "") + log()[i];
    return t;
  }
  bool logHas(const std::string& part) const { return logText().find(part) != std::string::npos; }
  void check(const char* name, bool on) { core.controls.at(name).checked = on; }

  SettingsFiles files{core};
  FakeSerial serial;
  FakeSocket socket;
};

// Bytes as a string, for exact comparisons with embedded zeros.
inline std::string bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s += static_cast<char>(v);
  return s;
}

}  // namespace ph
