#pragma once
// The link to the Marlin motion machine, over a serial port (CommMarlin) or
// a TCP client (MarlSocket): numbered G-code lines with checksums, a short
// history for resends, the acknowledgement counter the print sequencer
// gates on, the reply filter into the operator log, the host's own "@@"
// commands and the typed G-code console with its history.
#include <cstdint>
#include <functional>
#include <string>

#include "host/components/byte_link.h"
#include "host/core/host_core.h"

namespace ph {

class MarlinLink {
 public:
  // One receive call handles at most this many bytes; a longer arrival is
  // handled in pieces of this size, all in the same event.
  static constexpr int kReceiveBlock = 99;
  static constexpr int kHistoryLimit = 200;
  static constexpr int kConsoleEntries = 9;

  MarlinLink(HostCore& core, SerialByteLink& commMarlin, SocketByteLink& marlSocket);
  ~MarlinLink();
  MarlinLink(const MarlinLink&) = delete;
  MarlinLink& operator=(const MarlinLink&) = delete;

  // ---- link state (shared with the print sequencer) ----
  bool marlinLinkOpen = false;
  int Marlinlin = 0;   // the last numbered line sent
  int nrMarlinok = 0;  // acknowledgements counted
  std::string gcodeSequence;  // "/"-separated codes still to send
  double platformZ = 0.0;     // mm
  std::string gcodeHistory;   // the recent lines, each preceded by "~"
  int resendTries = 0;
  bool resendMode = false;
  int resendLine = 0;
  bool jamNextLine = false;  // test switch: the next line goes out with a "0" inserted
  bool mcodesFlushed = false;

  // Every numbered line has been acknowledged.
  bool allLinesAcknowledged() const { return nrMarlinok >= Marlinlin; }

  // Waits ms with the busy cursor ("@@t"); the window sets it, the default
  // only waits.
  std::function<void(int ms)> busyWait;

  // The serial port's device and line speed from the settings (start-up,
  // and every opening).
  void setUpSerialPort();

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
  char typeGcodeKeyPress(char key);
  char Edit1KeyPress(char key);
  void UnselDropdTimer();
  void MarlSocketConnect();
  void MarlSocketError(int code);
  void MarlSocketConnecting();
  void MarlSocketDisconnect();

 private:
  void openSerial();
  void handleBlock(const std::string& block);
  void socketEvent(LinkEvent e, int code);
  bool menuChecked(const char* name) const;

  HostCore& core_;
  SerialByteLink& CommMarlin;
  SocketByteLink& MarlSocket;
  int okLfState_ = 0, okBlankState_ = 0, resendState_ = 0;
  int resendDigits_ = 0;
};

// The checksum of a numbered line: the XOR of its bytes, taken unsigned.
int gcodeChecksum(const std::string& text);
// "G4 P99" as a whole word: the hand-powdering mark.
bool isPowderingMark(const std::string& code);

}  // namespace ph
