#pragma once
// The link to the colour-jetting unit, over a serial port (CommInk) or a TCP
// client (InkSocket): opening with the flow-control announcement, sending
// commands with the queue that waits for the line, the stream counters,
// everything the unit answers (stretch acknowledgements, keywords,
// temperatures, powder level, XON/XOFF), its echo into the operator log and
// the log as a terminal.
//
// Commands are byte strings with a length: announcements carry 0x00 bytes.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>

#include "host/components/byte_link.h"
#include "host/core/host_core.h"
#include "host/machine/machine_events.h"
#include "host/machine/string_fifo.h"

namespace ph {

class SettingsFiles;

class JettingLink final : public UnitCodeQueue {
 public:
  // The keyword of a finished stretch, with its trailing blank.
  static constexpr const char* kStretchDone = "~in_monitor ";
  // One receive call handles at most this many bytes; a longer arrival is
  // handled in pieces of this size, all in the same event.
  static constexpr int kReceiveBlock = 999;
  static constexpr std::uint8_t kStretchEnd = 0xBF;

  // events: what the unit's replies and the terminal's keys ask of other
  // subsystems.
  JettingLink(HostCore& core, SettingsFiles& files, SerialByteLink& commInk, SocketByteLink& inkSocket,
              MachineEvents& events);
  ~JettingLink();
  JettingLink(const JettingLink&) = delete;
  JettingLink& operator=(const JettingLink&) = delete;

  // ---- link state ----
  int inkBaudRate = 460800;  // changed only by the baud change
  bool inkLinkOpen = false;  // the port opened, or a TCP connect was started
  bool inkViaSocket = false;
  bool xoffHeld = false;  // the last flow-control byte was XOFF (host-side XON/XOFF)
  // Commands waiting for the line (made on first use).
  std::unique_ptr<TStringFifo> inkFifo;
  std::string inkRxHistory;  // the last received characters
  int inkRxTotal = 0;
  // "~in_monitor " replies that end a pass the host sent since the last
  // startCounting(); replies to lone end bytes are not counted.
  int inkStretchesDone = 0;
  int plusReplies = 0;
  bool versionSeen = false;
  bool cartridgeFail = false;
  int rollerStallCount = 0;
  int monitorLinesToSkip = 0;
  int waterTemps[3] = {0, 0, 0};  // newest first
  int colorTemps[3] = {0, 0, 0};
  std::int64_t printResumeTick = -1000000;
  // Every byte written to the serial port is also appended here when open.
  FilePtr debugDumpFile;
  // Jetting data written to the unit over the program run: the data codes
  // after "973j" of announcements up to their stretch end (sendInkCounted)
  // and what the data stream adds.
  // 64 bits: the sum of a long run overflows 32.
  std::int64_t inkByteCount = 0;
  std::int64_t inkCheckSum = 0;

  MachineEvents& events() { return events_; }

  // ---- what the print sequencer reads ----
  // The line may take a command now (CTS on, or software handshaking).
  bool clearToSend();
  // Bytes written but not yet sent; 0 when the link is closed.
  int outputQueueCount();
  // Commands wait in inkFifo.
  bool commandsWaiting() const { return inkFifo && inkFifo->notEmpty(); }
  // The transport in use.
  ByteLink& activeLink();
  // The transport can carry bytes to the unit now (the port is open, or the
  // TCP connection is up).
  bool connected();
  // Starts connecting again when the TCP connection is down.
  void reconnect();

  // ---- what the unit makes of the bytes written to it ----
  // Counting of finished passes starts again from 0; replies still due for
  // earlier bytes are taken without being counted.
  void startCounting();
  // The unit is reading pass data (after "973j", before its end byte).
  bool passDataOpen() const { return out_.inData; }
  // Closes pass data the unit is still reading: the rest of an unfinished
  // literal block as zeros, then the end byte, counted as data.
  void closeOpenPass();
  // Bytes written since the last startCounting() may not have reached the
  // unit: a transport refused some, or the connection was lost while
  // bytes or replies were still outstanding. Why, for the log.
  bool deliveryFailed() const { return !deliveryFailure_.empty(); }
  const std::string& deliveryFailure() const { return deliveryFailure_; }
  // Replies the unit still owes for end bytes written.
  int repliesOwed() const { return static_cast<int>(out_.ends.size()); }

  // The check box and menu items of this link.
  void bindControls();

  // ---- handlers ----
  void applyLinkSwitch();
  // firstinkj: the unit's start codes, a moment after the link opened.
  void sendStartCodes();
  // InkCts: the oldest waiting command, once the line is clear.
  void sendWaitingCommand();
  void CommInkRxChar(const std::uint8_t* data, int count);
  // The terminal: every key typed in the main window.
  void takeTerminalKey(char key);
  // Menu "Button16": a short fixed pass, so the unit's reading of pass data
  // can be checked by hand.
  void sendTestSequence();
  void testTemperatureCatch();
  void InkSocketConnect();
  void InkSocketError(int code);
  void InkSocketConnecting();
  void InkSocketDisconnect();

  // ---- queued codes ----
  // Codes raised by settings and controls wait here and go out in front of
  // the next command (also a command sent while stretch data streams
  // waits here for the stream's end).
  void queueUnitCode(const std::string& code) override { queuedCodes_ += code; }
  const std::string& queuedUnitCodes() const override { return queuedCodes_; }
  void replaceQueuedUnitCodes(const std::string& codes) override { queuedCodes_ = codes; }
  // Sends the queue now; false (the codes stay queued) without a link.
  bool sendQueuedUnitCodes() override;
  // The queue, emptied: the caller sends it in front of its command.
  std::string takeQueuedCodes() { return std::exchange(queuedCodes_, std::string()); }

  // ---- send paths ----
  void sendInk(const std::string& command);
  void sendInkPending(const std::string& command);
  void sendInkCounted(const std::string& command);
  void inkWrite(const std::uint8_t* data, int count);
  void inkWrite(const std::string& bytes) {
    inkWrite(reinterpret_cast<const std::uint8_t*>(bytes.data()), static_cast<int>(bytes.size()));
  }

  // Continues the log line with device text; a new line first when the
  // last echo came from another source.
  void echoReceived(int source, const std::string& text);
  // Pauses the print with an audible alarm.
  void pauseWithAlarm();
  // The developer test's head-temperature parser, one character at a time.
  void feedHeadTemperature(char c);

 private:
  void openLink();
  void closeLink();
  // Writes a command now, or defers it behind the running data stream.
  void deliver(const std::string& command);
  bool linkUsable();
  // Commands can no longer go out: drop them, stop InkCts, tell the log.
  void dropWaitingCommands(const char* why);
  void handleBlock(std::string block);
  void serialEvent(LinkEvent e, int code);
  void socketEvent(LinkEvent e, int code);
  bool menuChecked(const char* name) const;
  // The connection is gone: what was outstanding may be lost.
  void connectionLost(const char* how);
  void failDelivery(const std::string& why);

  // The unit's reading of what was written, byte by byte: commands, and
  // after "973j" pass data (literal blocks may hold 0xBF) up to its end
  // byte. Each end byte gets one "~in_monitor " reply, in order.
  struct UnitReading {
    struct End {
      bool closesPass;
      unsigned epoch;
    };
    bool inData = false;
    int literalLeft = 0;
    std::string token;
    std::deque<End> ends;
    unsigned epoch = 0;
    void feed(std::uint8_t b);
    void reset() {
      inData = false;
      literalLeft = 0;
      token.clear();
      ends.clear();
    }
  };

  std::string queuedCodes_;
  HostCore& core_;
  SettingsFiles& files_;
  SerialByteLink& CommInk;
  SocketByteLink& InkSocket;
  MachineEvents& events_;
  OwnedTimer startCodes_;    // firstinkj
  OwnedTimer waitingSend_;   // InkCts

  // Keyword match states.
  int versionState_ = 0, restartState_ = 0, waterState_ = 0, colorState_ = 0, cartrState_ = 0;
  int hopperState_ = 0, rollerState_ = 0, nulsState_ = 0;
  int monitorPos_ = 1;  // 1-based position in kStretchDone
  std::string preparedMessage_;
  UnitReading out_;
  std::string deliveryFailure_;
  bool tcpFlowSaid_ = false;
  // Head-temperature parser.
  int temprState_ = 0, temprNumber_ = 0, temprCount_ = 0;
  int temprValues_[2] = {0, 0};
  bool temprHot_[2] = {false, false};
};

}  // namespace ph
