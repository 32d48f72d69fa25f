#pragma once
// The link to the Marlin motion machine, over a serial port (CommMarlin) or
// a TCP client (MarlSocket): numbered G-code lines with checksums, a short
// history for resends, the acknowledgement counter the print sequencer
// gates on, the reply filter into the operator log, the host's own "@@"
// commands and the typed G-code console with its history.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/components/byte_link.h"
#include "host/core/host_core.h"

namespace ph {

// What the Marlin link tells the objects above it, which own what it
// concerns (the print's tick and watchdog, the home sequence's pace). The
// Host implements it once and hands it to the link at construction.
class MarlinEvents {
 public:
  // Lines were lost for good (a line that cannot be sent again, a machine
  // that restarted): a print cannot go on as if they ran.
  virtual void linesLost(const std::string& why) = 0;
  // The link opened: the print's busy watchdog counts a whole period again.
  virtual void linkOpened() = 0;
  // The operator sprinkles powder by hand: the print's tick holds; release
  // gives back what hold returned (whether it was ticking).
  virtual bool holdPrintTick() = 0;
  virtual void releasePrintTick(bool wasTicking) = 0;
  // "@@i<ms>": the pace of the home sequence.
  virtual void setHomePace(int ms) = 0;

 protected:
  ~MarlinEvents() = default;
};

class MarlinLink {
 public:
  // One receive call handles at most this many bytes; a longer arrival is
  // handled in pieces of this size, all in the same event.
  static constexpr int kReceiveBlock = 99;
  static constexpr int kHistoryLimit = 200;
  static constexpr int kConsoleEntries = 9;
  // Lines not yet acknowledged stay in the history beyond kHistoryLimit,
  // up to this many bytes.
  static constexpr int kHistoryHardLimit = 1 << 16;
  // Times the machine may ask for the same line again, beyond the lines
  // that were already on their way when it first asked.
  static constexpr int kResendRounds = 2;

  MarlinLink(HostCore& core, SerialByteLink& commMarlin, SocketByteLink& marlSocket, MarlinEvents& events);
  ~MarlinLink();
  MarlinLink(const MarlinLink&) = delete;
  MarlinLink& operator=(const MarlinLink&) = delete;

  // ---- link state (shared with the print sequencer) ----
  bool marlinLinkOpen = false;
  // The machine takes "M18 Z" (let the Z motor go) after a move; set at
  // start-up in the dual-box set-up.
  bool m18zAccepted = false;
  int Marlinlin = 0;   // the last numbered line sent
  int nrMarlinok = 0;  // acknowledgements counted
  double platformZ = 0.0;     // mm
  std::string gcodeHistory;   // the recent lines, each preceded by "~"
  int resendTries = 0;
  bool resendMode = false;
  int resendLine = 0;
  bool jamNextLine = false;  // test switch: the next line goes out with a "0" inserted
  bool mcodesFlushed = false;

  // ---- the G-code sequence ----
  // Codes ("/"-separated) that go one at a time, each when its sender's
  // step comes: a print's or a homing's start codes, the layer codes, the
  // powder preparation. The print, the homing and the powder layer take
  // from the same sequence, so a new one replaces what was left.
  void startCodeSequence(const std::string& codes) { gcodeSequence_ = codes; }
  // The next code, off the front ("" for an empty item).
  std::string takeNextCode();
  void clearCodeSequence() { gcodeSequence_.clear(); }
  bool codesQueued() const { return !gcodeSequence_.empty(); }
  const std::string& queuedCodes() const { return gcodeSequence_; }
  // Puts value in place of every placeholder in the codes still queued.
  void fillQueuedPlaceholder(const std::string& placeholder, const std::string& value);

  // Every numbered line has been acknowledged.
  bool allLinesAcknowledged() const { return nrMarlinok >= Marlinlin; }

  // Lines the machine has sent since the link opened (keep-alives and
  // temperature reports included): a machine that talks is there.
  long long repliesSeen = 0;
  // Until this tick (ms) the machine may be silent on purpose: dwells,
  // homing, waits for heat or for moves to end.
  std::int64_t quietUntilMs = 0;
  // The line the machine asked for that could not be sent again (0: none);
  // it never counts as done.
  int lostLine = 0;

  // The time (ms) a code keeps the machine from answering on purpose.
  static int expectedSilenceMs(const std::string& code);
  // Sends the oldest unacknowledged line again: the machine runs it, or
  // its "Resend:" says how far it got. False when there is none to send.
  bool pokeUnacknowledged();
  // Before a print on a link that is already open: lines left without an
  // acknowledgement belong to what ran before; the machine's line number
  // is set again (M110) so that the next line is taken.
  void resynchronise();
  // Over TCP: a connection that went down is made again.
  void reconnectIfDown();

  // Waits ms with the busy cursor ("@@t"); the window sets it, the default
  // only waits.
  std::function<void(int ms)> busyWait;

  // The serial port's device and line speed from the settings (start-up,
  // and every opening).
  void setUpSerialPort();
  // Start-up: the machine is reached over TCP at host:port instead of the
  // serial port.
  void useTcp(const std::string& host, int port) {
    overTcp_ = true;
    MarlSocket.setAddress(host, port);
  }
  bool overTcp() const { return overTcp_; }

  // ---- operations ----
  void openMarlin();
  void openMarlinConsole();
  // Sends the next numbered line (Marlinlin + 1).
  void sendGcode(const std::string& code);
  void marlinWrite(const std::string& text);
  // True for a host command ("@@..."), which is carried out, not sent.
  // numbered: the caller took a line number for it, which is given back.
  bool hostPseudoCommand(const std::string& code, bool numbered);
  void resendGcodes(int line);
  void flushLeadingMcodes();

  // ---- handlers ----
  void CommMarlinRxChar(const std::uint8_t* data, int count);
  // Keys of the console; each returns the key left to the edit box (0 when
  // swallowed).
  char takeGcodeComboKey(char key);
  char takeRawLineKey(char key);
  // UnselDropd: the console's line shows what was sent.
  void restoreConsoleLine();
  void MarlSocketConnect();
  void MarlSocketError(int code);
  void MarlSocketConnecting();
  void MarlSocketDisconnect();

 private:
  void openSerial();
  void handleBlock(const std::string& block);
  void countOk();
  // Every opening starts the lines' bookkeeping afresh.
  void forgetLines();
  void lineReceived(const std::string& line);
  void loseLine(int line, const std::string& why);
  // The history entry of a line ("N<line> ..." with its CR), or "".
  std::string historyLine(int line) const;
  void trimHistory();
  void socketEvent(LinkEvent e, int code);
  bool menuChecked(const char* name) const;

  HostCore& core_;
  MarlinEvents& events_;
  SerialByteLink& CommMarlin;
  SocketByteLink& MarlSocket;
  OwnedTimer consoleLine_;  // UnselDropd
  bool overTcp_ = false;
  int okLfState_ = 0, okBlankState_ = 0, resendState_ = 0;
  int resendDigits_ = 0;
  // The "ok" that follows "Resend:" belongs to the refused line.
  bool okAfterResend_ = false;
  // The line asked for last, how often, and how often it may be asked.
  int resendAsked_ = 0, resendAllowance_ = 0;
  // A resend goes one line at a time: the next history line to write on
  // the next acknowledgement (0: none); fresh lines wait behind it.
  int resendNext_ = 0;
  // The machine's line number is set again before the next fresh line.
  bool lineResetPending_ = false;
  bool socketWasUp_ = false;
  std::string rxLine_;
  std::string gcodeSequence_;
};

// The checksum of a numbered line: the XOR of its bytes, taken unsigned.
int gcodeChecksum(const std::string& text);
// "G4 P99" as a whole word: the hand-powdering mark.
bool isPowderingMark(const std::string& code);

}  // namespace ph
