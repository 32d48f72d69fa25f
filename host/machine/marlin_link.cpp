#include "host/machine/marlin_link.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "host/core/numbers.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"

namespace ph {

int gcodeChecksum(const std::string& text) {
  unsigned cs = 0;
  for (char c : text) cs ^= static_cast<unsigned char>(c);
  return static_cast<int>(cs);
}

bool isPowderingMark(const std::string& code) {
  static const std::string mark = "G4 P99";
  if (code.compare(0, mark.size(), mark) != 0) return false;
  if (code.size() == mark.size()) return true;
  const char next = code[mark.size()];
  return !(next >= '0' && next <= '9') && next != '.';
}

MarlinLink::MarlinLink(HostCore& core, SerialByteLink& commMarlin, SocketByteLink& marlSocket,
                       MarlinEvents& events)
    : core_(core), events_(events), CommMarlin(commMarlin), MarlSocket(marlSocket), consoleLine_(core.timers.make("UnselDropd")) {
  auto rx = [this](const std::uint8_t* d, int n) { CommMarlinRxChar(d, n); };
  CommMarlin.onReceive = rx;
  MarlSocket.onReceive = rx;
  CommMarlin.onEvent = [this](LinkEvent e, int) {
    if (e == LinkEvent::Disconnected) core_.memoPrintf("%s", "Marlin port gone");
  };
  MarlSocket.onEvent = [this](LinkEvent e, int code) { socketEvent(e, code); };
  consoleLine_->setHandler([this] { restoreConsoleLine(); });
}

MarlinLink::~MarlinLink() {
  CommMarlin.onReceive = nullptr;
  MarlSocket.onReceive = nullptr;
  CommMarlin.onEvent = nullptr;
  MarlSocket.onEvent = nullptr;
}

bool MarlinLink::menuChecked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

// ---------------------------------------------------------------- opening

void MarlinLink::setUpSerialPort() {
  // The setting keeps its value here; only an opening takes the text's baud.
  int baud = core_.s.MarlinBaudrate;
  const std::string dev = parseCommDevice(core_.s.CommPortMarlin, baud);
  if (!CommMarlin.isOpen()) CommMarlin.setDevice(dev, baud);
}

void MarlinLink::openSerial() {
  if (CommMarlin.isOpen()) return;
  // An "@br" in the port text becomes the setting, when the setting may
  // hold it; otherwise the setting's own baud is used.
  int& baud = core_.s.MarlinBaudrate;
  int textBaud = baud;
  const std::string name = parseCommDevice(core_.s.CommPortMarlin, textBaud);
  const int index = core_.params.find("MarlinBaudrate");
  const std::string refusal = index >= 0 ? core_.params.rangeRefusal(index, textBaud) : "";
  if (refusal.empty()) baud = textBaud;
  else core_.memoPrintf("%s: baud rate %d refused (%s); %d is used", core_.s.CommPortMarlin, textBaud, refusal, baud);
  CommMarlin.setDevice(name, baud);
  const std::string err = CommMarlin.open();
  if (!err.empty()) core_.memoPrintf("%s", err);
  if (!CommMarlin.isOpen()) core_.memoPrintf("cannot open %s", CommMarlin.deviceName());
}

void MarlinLink::openMarlin() {
  if (marlinLinkOpen) return;
  if (overTcp_) {
    marlinLinkOpen = true;
    MarlSocket.setActive(true);
  } else {
    openSerial();
    marlinLinkOpen = CommMarlin.isOpen();
  }
  Marlinlin = 0;
  startCodeSequence(core_.s.startgcodes);
  // -1 by default: the machine's start-up "ok" is absorbed.
  nrMarlinok = core_.s.gcode_ok;
  forgetLines();
  events_.linkOpened();
  platformZ = 0.0;
  marlinWrite("\r");
}

void MarlinLink::openMarlinConsole() {
  if (marlinLinkOpen) return;
  marlinLinkOpen = true;
  if (overTcp_) {
    MarlSocket.setActive(true);
  } else {
    openSerial();
    if (!CommMarlin.isOpen()) marlinLinkOpen = false;
  }
  Marlinlin = 0;
  startCodeSequence(core_.s.startgcodes);
  nrMarlinok = 0;
  forgetLines();
  platformZ = 0.0;
}

void MarlinLink::forgetLines() {
  gcodeHistory.clear();
  resendTries = 0;
  resendAsked_ = 0;
  resendNext_ = 0;
  okAfterResend_ = false;
  lineResetPending_ = false;
  lostLine = 0;
  repliesSeen = 0;
  quietUntilMs = 0;
  rxLine_.clear();
}

// ---------------------------------------------------------------- sending

void MarlinLink::sendGcode(const std::string& code) {
  if (lineResetPending_ && !(code.size() >= 2 && code[0] == '@' && code[1] == '@')) {
    // After a reconnection the machine takes the next number only after
    // its own number was set again.
    lineResetPending_ = false;
    sendGcode("M110");
  }
  ++Marlinlin;
  if (hostPseudoCommand(code, true)) return;
  if (isPowderingMark(code)) {
    // The operator sprinkles powder; the sequencer waits for the key.
    const bool wasTicking = events_.holdPrintTick();
    core_.ui.waitKeyPopup();
    events_.releasePrintTick(wasTicking);
  }
  std::string line = "N" + std::to_string(Marlinlin) + " " + code + " ";
  line += "*" + std::to_string(gcodeChecksum(line)) + "\r";
  if (core_.closingDown) return;
  if (const int quiet = expectedSilenceMs(code); quiet > 0)
    quietUntilMs = std::max(quietUntilMs, core_.clock.tickMs()) + quiet;
  gcodeHistory += "~" + line;
  trimHistory();
  // While the machine catches up on lines it asked for again, a fresh
  // line waits in the history for its turn; once the lines before it were
  // taken as done (a resynchronisation) there is nothing to catch up.
  if (resendNext_ != 0 && nrMarlinok < Marlinlin - 1) return;
  resendNext_ = 0;
  if (jamNextLine) {
    std::string jammed = line;
    jammed.insert(jammed.size() / 2, "0");
    marlinWrite(jammed);
    jamNextLine = false;
    core_.memoPrintf("jammed %s", jammed);
  } else {
    marlinWrite(line);
  }
}

void MarlinLink::trimHistory() {
  // Whole entries leave the history, oldest first; a line the machine has
  // not acknowledged stays, so that it can always be sent again.
  while (static_cast<int>(gcodeHistory.size()) > kHistoryLimit) {
    const auto next = gcodeHistory.find('~', 1);
    if (next == std::string::npos) break;
    const int oldest = leadingInt(gcodeHistory.substr(2, 12));
    if (oldest > nrMarlinok && static_cast<int>(gcodeHistory.size()) <= kHistoryHardLimit) break;
    gcodeHistory.erase(0, next);
  }
}

std::string MarlinLink::historyLine(int line) const {
  const auto p = gcodeHistory.find("~N" + std::to_string(line) + " ");
  if (p == std::string::npos) return "";
  const auto end = gcodeHistory.find('~', p + 1);
  return gcodeHistory.substr(p + 1, end == std::string::npos ? std::string::npos : end - p - 1);
}

int MarlinLink::expectedSilenceMs(const std::string& code) {
  std::size_t i = 0;
  while (i < code.size() && code[i] == ' ') ++i;
  if (i >= code.size()) return 0;
  const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(code[i])));
  if (letter != 'G' && letter != 'M') return 0;
  std::size_t j = i + 1;
  if (j >= code.size() || code[j] < '0' || code[j] > '9') return 0;
  const int number = leadingInt(code.substr(j, 6));
  while (j < code.size() && code[j] >= '0' && code[j] <= '9') ++j;
  if (j < code.size() && code[j] != ' ') return 0;  // G40, M1100 ...
  // A parameter's value ("P500"), or -1 when it is not there.
  const auto param = [&](char p) -> double {
    for (std::size_t k = j; k + 1 < code.size(); ++k)
      if (code[k] == ' ' && std::toupper(static_cast<unsigned char>(code[k + 1])) == p)
        return std::max(0.0, std::atof(code.c_str() + k + 2));
    return -1;
  };
  if (letter == 'G' && number == 4) {
    if (const double p = param('P'); p >= 0) return static_cast<int>(std::min(p, 3.6e6));
    if (const double sec = param('S'); sec >= 0) return static_cast<int>(std::min(sec * 1000, 3.6e6));
    return 0;
  }
  if (letter == 'G' && number == 28) return 60000;  // homing
  if (letter == 'M' && number == 400) return 60000;  // the moves in the queue end
  if (letter == 'M' && number == 109) return 600000;  // nozzle heats up
  if (letter == 'M' && number == 190) return 900000;  // plate heats up
  return 0;
}

void MarlinLink::marlinWrite(const std::string& text) {
  if (core_.closingDown || text.empty()) return;
  if (menuChecked("gcodes1")) core_.memoPrintf(" ->%s", text);
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  const int n = static_cast<int>(text.size());
  if (overTcp_) {
    const int taken = MarlSocket.write(data, n);
    if (taken < n) core_.memoPrintf("marlsocket: %d bytes lost (not connected)", n - taken);
  } else {
    CommMarlin.write(data, n);
  }
}

bool MarlinLink::hostPseudoCommand(const std::string& code, bool numbered) {
  if (code.size() < 2 || code[0] != '@' || code[1] != '@') return false;
  if (numbered) --Marlinlin;
  const int n = code.size() > 3 ? leadingInt(code.substr(3)) : 0;
  switch (charAt(code, 3)) {
    case 'c':
      Marlinlin = 0;
      nrMarlinok = 0;
      break;
    case '+': nrMarlinok += n; break;
    case '-': nrMarlinok -= n; break;
    case '=': nrMarlinok = Marlinlin; break;
    case 'i': events_.setHomePace(n); break;
    case 't': {
      const int ms = clampInt(n, 1, 9000);
      if (busyWait) busyWait(ms);
      else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      break;
    }
    default: break;
  }
  return true;
}

void MarlinLink::resendGcodes(int line) {
  // "Resend: n" is the machine's own word: every line before n is done,
  // n and the lines after it are not.
  nrMarlinok = std::min(line - 1, Marlinlin);
  resendNext_ = 0;
  if (line > Marlinlin) return;  // nothing is outstanding
  if (line != resendAsked_) {
    // Lines already on their way when the machine first asked may each be
    // refused and bring the same request; beyond them, two rounds.
    resendAsked_ = line;
    resendTries = 0;
    resendAllowance_ = kResendRounds + (Marlinlin - line);
  }
  if (++resendTries > resendAllowance_) {
    loseLine(line, "asked for too often");
    return;
  }
  const std::string entry = historyLine(line);
  if (entry.empty()) {
    loseLine(line, "no longer in the history");
    return;
  }
  if (core_.closingDown) return;
  // One line at a time: each acknowledgement sends the next one, so a
  // machine that throws its input away on an error is not flooded.
  marlinWrite(entry);
  resendNext_ = line < Marlinlin ? line + 1 : 0;
  if (menuChecked("gcodes1")) core_.memoPrintf("%s", "<<<");
}

void MarlinLink::loseLine(int line, const std::string& why) {
  resendNext_ = 0;
  if (lostLine == line) return;
  lostLine = line;
  const std::string text =
      plat::format("G-code line %d cannot be sent again (%s): it did not run", line, why);
  core_.memoPrintf("%s", text);
  events_.linesLost(text);
}

bool MarlinLink::pokeUnacknowledged() {
  if (allLinesAcknowledged() || core_.closingDown) return false;
  const int line = std::max(nrMarlinok + 1, 1);
  const std::string entry = historyLine(line);
  if (entry.empty()) return false;
  core_.memoPrintf("G-code line %d not acknowledged: sent again", line);
  marlinWrite(entry);
  resendNext_ = line < Marlinlin ? line + 1 : 0;
  return true;
}

void MarlinLink::resynchronise() {
  lostLine = 0;
  if (allLinesAcknowledged() && resendNext_ == 0) return;
  core_.memoPrintf("%d G-code lines left without acknowledgement: the line numbers are set again",
                   Marlinlin - nrMarlinok);
  resendNext_ = 0;
  resendAsked_ = 0;
  nrMarlinok = Marlinlin;
  sendGcode("M110");
}

void MarlinLink::reconnectIfDown() {
  if (overTcp_ && marlinLinkOpen && !MarlSocket.isOpen() && !MarlSocket.active())
    MarlSocket.setActive(true);
}

std::string MarlinLink::takeNextCode() { return popToken(gcodeSequence_, '/'); }

void MarlinLink::fillQueuedPlaceholder(const std::string& placeholder, const std::string& value) {
  replaceAllIn(gcodeSequence_, placeholder, value);
}

void MarlinLink::flushLeadingMcodes() {
  if (mcodesFlushed) return;
  for (std::string rest = gcodeSequence_; !rest.empty() && rest[0] == 'M';) {
    marlinWrite(popToken(rest, '/') + "\r");
    --nrMarlinok;  // raw lines are acknowledged too
  }
  mcodesFlushed = true;
}

// ---------------------------------------------------------------- receiving

void MarlinLink::CommMarlinRxChar(const std::uint8_t* data, int count) {
  for (int off = 0; off < count; off += kReceiveBlock) {
    const int n = std::min(count - off, kReceiveBlock);
    handleBlock(std::string(reinterpret_cast<const char*>(data + off), static_cast<std::size_t>(n)));
  }
}

void MarlinLink::handleBlock(const std::string& block) {
  if (menuChecked("MarlinResp1")) core_.memoPrintf("%s", caretText(block, false, false));
  if (block.size() > 20) {
    // The echo leaves out the acknowledgements.
    std::string t;
    for (std::size_t i = 0; i < block.size();) {
      if (block.compare(i, 3, "ok\n") == 0) {
        i += 3;
      } else if (block.compare(i, 3, "ok ") == 0) {
        i += 3;
        while (i < block.size() && ((block[i] >= '0' && block[i] <= '9') || block[i] == '\n' || block[i] == '\v' ||
                                    block[i] == '\f' || block[i] == '\r'))
          ++i;
      } else {
        t += block[i++];
      }
    }
    if (t.size() > 10) {
      core_.logEcho(2, t, ":::: ");
    }
  }
  for (char c : block) {
    if (matchKeyword(c, "ok\n", okLfState_)) {
      countOk();
      if (menuChecked("OkDebug1")) core_.logVars("nrMarlinok", nrMarlinok, "Marlinlin", Marlinlin);
    }
    if (matchKeyword(c, "ok ", okBlankState_)) countOk();
    if (c == '\n') {
      lineReceived(rxLine_);
      rxLine_.clear();
    } else if (rxLine_.size() < 64 && c != '\r') {
      rxLine_ += c;
    }
    if (matchKeyword(c, "Resend:", resendState_)) {
      resendMode = true;
      resendLine = 0;
      resendDigits_ = 0;
    } else if (resendMode) {
      if (c >= '0' && c <= '9') {
        if (resendLine < 100000000) resendLine = resendLine * 10 + (c - '0');
        ++resendDigits_;
      } else if (resendDigits_ > 0) {
        core_.memoPrintf("resendline %d %s", resendLine, gcodeHistory.substr(0, 30));
        const int line = resendLine;
        resendMode = false;
        resendLine = 0;
        resendDigits_ = 0;
        okAfterResend_ = true;
        resendGcodes(line);
      }
    }
  }
}

void MarlinLink::countOk() {
  if (okAfterResend_) {
    // The acknowledgement of the refused line: no line ran.
    okAfterResend_ = false;
    return;
  }
  // More acknowledgements than lines (an "ok" inside a message, a late
  // one after a resend) never make a later line count as done.
  if (nrMarlinok < Marlinlin) ++nrMarlinok;
  if (resendNext_ != 0 && !core_.closingDown) {
    const std::string entry = historyLine(resendNext_);
    if (entry.empty()) {
      loseLine(resendNext_, "no longer in the history");
      return;
    }
    marlinWrite(entry);
    resendNext_ = resendNext_ < Marlinlin ? resendNext_ + 1 : 0;
  }
}

void MarlinLink::lineReceived(const std::string& line) {
  const bool talkedBefore = repliesSeen > 0;
  ++repliesSeen;
  // The firmware's first words after a reset. Right after the link opens
  // they are expected; later the machine has restarted: it forgot its
  // line number and where its axes are.
  if (line != "start" || !talkedBefore) return;
  const bool linesSent = Marlinlin > 0;
  core_.memoPrintf("%s", "the machine restarted: its line numbers start again");
  Marlinlin = 0;
  nrMarlinok = core_.s.gcode_ok;
  const long long seen = repliesSeen;
  forgetLines();
  repliesSeen = seen;
  if (linesSent) events_.linesLost("the machine restarted during the print");
}

// ---------------------------------------------------------------- console

char MarlinLink::takeGcodeComboKey(char key) {
  if (key == '@') return 0;
  if (key != '\r') return key;
  Control& combo = core_.controls.at("typeGcode");
  core_.controls.at("Edit1").setCaption(combo.caption);
  consoleLine_->start();
  const std::string text = trimmed(combo.caption);
  if (text.empty()) return 0;
  auto& items = combo.items;
  const bool wasIn = std::find(items.begin(), items.end(), text) != items.end();
  if (items.empty()) {
    items.push_back(text);
  } else if (items.front() != text) {
    items.erase(std::remove(items.begin(), items.end(), text), items.end());
    items.insert(items.begin(), text);
  }
  if (!wasIn) {
    if (static_cast<int>(items.size()) > kConsoleEntries) items.erase(items.begin() + kConsoleEntries);
    std::string joined;
    for (std::size_t i = 0; i < items.size(); ++i) joined += (i ? "~" : "") + items[i];
    core_.s.dropItems = joined;
    core_.markSettingsModified();
  }
  core_.controls.notify(combo);
  takeRawLineKey('\r');
  return 0;
}

char MarlinLink::takeRawLineKey(char key) {
  if (key != '\r') return key;
  openMarlinConsole();
  flushLeadingMcodes();
  std::string rest = core_.controls.at("Edit1").caption;
  std::replace(rest.begin(), rest.end(), ';', '/');
  while (!rest.empty()) {
    const std::string piece = popToken(rest, '/');
    // An empty line gets no acknowledgement.
    if (trimmed(piece).empty()) continue;
    const std::string line = piece + "\r";
    if (hostPseudoCommand(line, false)) continue;
    --nrMarlinok;  // the machine acknowledges raw lines too
    marlinWrite(line);
  }
  return 0;
}

void MarlinLink::restoreConsoleLine() {
  consoleLine_->stop();
  core_.controls.at("typeGcode").setCaption(core_.controls.at("Edit1").caption);
}

// ---------------------------------------------------------------- socket

void MarlinLink::socketEvent(LinkEvent e, int code) {
  switch (e) {
    case LinkEvent::Connecting: MarlSocketConnecting(); break;
    case LinkEvent::Connected:
      MarlSocketConnect();
      if (socketWasUp_) {
        // Connected again: the machine may have lost lines on the way and
        // its line number is set again before the next one.
        lineResetPending_ = true;
        pokeUnacknowledged();
      }
      socketWasUp_ = true;
      break;
    case LinkEvent::Disconnected: MarlSocketDisconnect(); break;
    case LinkEvent::Error: MarlSocketError(code); break;
  }
}

void MarlinLink::MarlSocketConnect() { core_.memoPrintf("%s", " Marlsocket OK"); }
void MarlinLink::MarlSocketError(int code) {
  core_.memoPrintf("motion machine %s: %s", core_.s.CommPortMarlin, linkErrorText(code));
}
void MarlinLink::MarlSocketConnecting() { core_.memoPrintf("%s", "connecting"); }
void MarlinLink::MarlSocketDisconnect() { core_.memoPrintf("%s", "disconnect"); }

}  // namespace ph
