#include "host/machine/marlin_link.h"

#include <algorithm>
#include <chrono>
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

MarlinLink::MarlinLink(HostCore& core, SerialByteLink& commMarlin, SocketByteLink& marlSocket)
    : core_(core), CommMarlin(commMarlin), MarlSocket(marlSocket) {
  auto rx = [this](const std::uint8_t* d, int n) { CommMarlinRxChar(d, n); };
  CommMarlin.onReceive = rx;
  MarlSocket.onReceive = rx;
  CommMarlin.onEvent = [this](LinkEvent e, int) {
    if (e == LinkEvent::Disconnected) core_.memoPrintf("%s", "Marlin port gone");
  };
  MarlSocket.onEvent = [this](LinkEvent e, int code) { socketEvent(e, code); };
  core_.timers.UnselDropd->setHandler([this] { UnselDropdTimer(); });
}

MarlinLink::~MarlinLink() {
  CommMarlin.onReceive = nullptr;
  MarlSocket.onReceive = nullptr;
  CommMarlin.onEvent = nullptr;
  MarlSocket.onEvent = nullptr;
  core_.timers.UnselDropd->setHandler(nullptr);
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
  if (core_.marlinOverTcp) {
    marlinLinkOpen = true;
    MarlSocket.setActive(true);
  } else {
    openSerial();
    marlinLinkOpen = CommMarlin.isOpen();
  }
  Marlinlin = 0;
  gcodeSequence = core_.s.startgcodes;
  // -1 by default: the machine's start-up "ok" is absorbed.
  nrMarlinok = core_.s.gcode_ok;
  core_.timers.MarlinBusy->stop();
  core_.timers.MarlinBusy->start();
  platformZ = 0.0;
  marlinWrite("\r");
}

void MarlinLink::openMarlinConsole() {
  if (marlinLinkOpen) return;
  marlinLinkOpen = true;
  if (core_.marlinOverTcp) {
    MarlSocket.setActive(true);
  } else {
    openSerial();
    if (!CommMarlin.isOpen()) marlinLinkOpen = false;
  }
  Marlinlin = 0;
  gcodeSequence = core_.s.startgcodes;
  nrMarlinok = 0;
  platformZ = 0.0;
}

// ---------------------------------------------------------------- sending

void MarlinLink::sendGcode(const std::string& code) {
  ++Marlinlin;
  if (hostPseudoCommand(code, true)) return;
  if (isPowderingMark(code)) {
    // The operator sprinkles powder; the sequencer waits for the key.
    plat::Timer& t = *core_.timers.MarlinTimer;
    const bool wasOn = t.enabled();
    t.stop();
    core_.ui.waitKeyPopup();
    t.setEnabled(wasOn);
  }
  std::string line = "N" + std::to_string(Marlinlin) + " " + code + " ";
  line += "*" + std::to_string(gcodeChecksum(line)) + "\r";
  if (core_.closingDown) return;
  resendTries = 0;
  if (jamNextLine) {
    std::string jammed = line;
    jammed.insert(jammed.size() / 2, "0");
    marlinWrite(jammed);
    jamNextLine = false;
    core_.memoPrintf("jammed %s", jammed);
  } else {
    marlinWrite(line);
  }
  // Whole entries leave the history, oldest first.
  while (static_cast<int>(gcodeHistory.size()) > kHistoryLimit) {
    const auto next = gcodeHistory.find('~', 1);
    if (next == std::string::npos) gcodeHistory.clear();
    else gcodeHistory.erase(0, next);
  }
  gcodeHistory += "~" + line;
}

void MarlinLink::marlinWrite(const std::string& text) {
  if (core_.closingDown || text.empty()) return;
  if (menuChecked("gcodes1")) core_.memoPrintf(" ->%s", text);
  const auto* data = reinterpret_cast<const std::uint8_t*>(text.data());
  const int n = static_cast<int>(text.size());
  if (core_.marlinOverTcp) {
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
    case 'i': core_.timers.HomeSeq->setInterval(n); break;
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
  ++resendTries;
  if (resendTries >= 3) return;  // two rounds per fresh line
  const auto p = gcodeHistory.find("~N" + std::to_string(line) + " ");
  if (p == std::string::npos) return;
  std::string rest = gcodeHistory.substr(p + 1);
  while (!rest.empty() && !core_.closingDown) {
    marlinWrite(popToken(rest, '~'));
    --nrMarlinok;  // its acknowledgement is counted again
  }
  if (menuChecked("gcodes1")) core_.memoPrintf("%s", "<<<");
}

void MarlinLink::flushLeadingMcodes() {
  if (mcodesFlushed) return;
  for (std::string rest = gcodeSequence; !rest.empty() && rest[0] == 'M';) {
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
      const auto& lines = core_.logTarget->lines();
      if (core_.lastEchoSource != 2 && !lines.empty() && !lines.back().empty()) core_.logWrite(":::: " + t, false, false);
      else core_.logWrite(t, true, false);
      core_.lastEchoSource = 2;
    }
  }
  for (char c : block) {
    if (matchKeyword(c, "ok\n", okLfState_)) {
      ++nrMarlinok;
      if (menuChecked("OkDebug1")) core_.logVars("nrMarlinok", nrMarlinok, "Marlinlin", Marlinlin);
    }
    if (matchKeyword(c, "ok ", okBlankState_)) ++nrMarlinok;
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
        resendGcodes(line);
      }
    }
  }
}

// ---------------------------------------------------------------- console

char MarlinLink::typeGcodeKeyPress(char key) {
  if (key == '@') return 0;
  if (key != '\r') return key;
  Control& combo = core_.controls.at("typeGcode");
  core_.controls.at("Edit1").setCaption(combo.caption);
  core_.timers.UnselDropd->start();
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
    core_.settingsModified = true;
  }
  core_.controls.notify(combo);
  Edit1KeyPress('\r');
  return 0;
}

char MarlinLink::Edit1KeyPress(char key) {
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

void MarlinLink::UnselDropdTimer() {
  core_.timers.UnselDropd->stop();
  core_.controls.at("typeGcode").setCaption(core_.controls.at("Edit1").caption);
}

// ---------------------------------------------------------------- socket

void MarlinLink::socketEvent(LinkEvent e, int code) {
  switch (e) {
    case LinkEvent::Connecting: MarlSocketConnecting(); break;
    case LinkEvent::Connected: MarlSocketConnect(); break;
    case LinkEvent::Disconnected: MarlSocketDisconnect(); break;
    case LinkEvent::Error: MarlSocketError(code); break;
  }
}

void MarlinLink::MarlSocketConnect() { core_.memoPrintf("%s", " Marlsocket OK"); }
void MarlinLink::MarlSocketError(int code) { core_.memoPrintf(" marl socket error %d", code); }
void MarlinLink::MarlSocketConnecting() { core_.memoPrintf("%s", "connecting"); }
void MarlinLink::MarlSocketDisconnect() { core_.memoPrintf("%s", "disconnect"); }

}  // namespace ph
