#pragma once
// The two machine links as the main window holds them: the serial
// components CommInk and CommMarlin, the TCP clients InkSocket and
// MarlSocket, the jetting-unit link and the Marlin link over them, and the
// start-up timer that opens them.
#include <memory>
#include <string>

#include "host/core/main_timers.h"
#include "host/components/comm_byte_link.h"
#include "host/components/comm_cust.h"
#include "host/components/tcp_byte_link.h"
#include "host/machine/jetting_link.h"
#include "host/machine/marlin_link.h"
#include "platform/handover.h"

namespace ph {

class HostCore;
class SettingsFiles;

// What start-up and shut-down need of the Marlin and jetting-unit links.
class MachineLinks {
 public:
  virtual ~MachineLinks() = default;
  virtual void openMarlin() = 0;
  // The leading M-codes of the pending G-code sequence go out first.
  virtual void flushPendingMcodes() = 0;
  virtual void sendGcode(const std::string& code) = 0;
  virtual void sendInkPending(const std::string& command) = 0;
  // The running G-code sequence ("" when none).
  virtual std::string gcodeSequence() const = 0;
  // Every numbered line has been acknowledged.
  virtual bool allLinesAcknowledged() const = 0;
  // The oldest unacknowledged line goes again (a lost "ok" is settled by
  // the machine's answer); false when there is none.
  virtual bool pokeUnacknowledged() = 0;
  virtual void closeSerialLinks() = 0;
};

// Port discovery, the manual port and baud changes and the firmware upload
// (PortTools, ports.h) drive CommInk and CommMarlin directly (the receive
// handlers stay attached, so "version" and "ok" still count) and reopen
// the jetting-unit link through reopenInkLinkAfter (the InkCommStart timer).
class DeviceLinks : public MachineLinks {
 public:
  // poster: how the serial ports' event threads reach the user-interface
  // thread; events: what the jetting unit's link asks of other subsystems.
  DeviceLinks(HostCore& core, SettingsFiles& files, plat::UiPoster poster, MachineEvents& events,
              MarlinEvents& marlinEvents);
  ~DeviceLinks() override;
  DeviceLinks(const DeviceLinks&) = delete;
  DeviceLinks& operator=(const DeviceLinks&) = delete;

  TCommCust CommInk;
  TCommCust CommMarlin;
  TcpByteLink InkSocket;
  TcpByteLink MarlSocket;
  CommByteLink inkPort{CommInk};
  CommByteLink marlinPort{CommMarlin};
  JettingLink ink;
  MarlinLink marlin;

  // Binds the links' controls once the window's controls exist.
  void bindControls() { ink.bindControls(); }
  // Start-up, about 100 ms after the window shows: the jetting-unit link
  // opens, and the Marlin link with openMarlinAtStart.
  void openAtStart();
  // Start-up: the Marlin link's transport (host and port for TCP, else, with
  // no host, the serial device and baud from CommPortMarlin).
  void chooseMarlinTransport(const std::string& tcpHost, int tcpPort);

  // MachineLinks
  void openMarlin() override { marlin.openMarlin(); }
  void flushPendingMcodes() override { marlin.flushLeadingMcodes(); }
  void sendGcode(const std::string& code) override { marlin.sendGcode(code); }
  void sendInkPending(const std::string& command) override { ink.sendInkPending(command); }
  std::string gcodeSequence() const override { return marlin.queuedCodes(); }
  bool allLinesAcknowledged() const override { return marlin.allLinesAcknowledged(); }
  bool pokeUnacknowledged() override { return marlin.pokeUnacknowledged(); }
  void closeSerialLinks() override;

  // The jetting-unit link opens again (as at start-up) ms from now.
  void reopenInkLinkAfter(int ms);

 private:
  HostCore& core_;
  OwnedTimer linkStart_;  // InkCommStart
};

}  // namespace ph
