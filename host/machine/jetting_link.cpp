#include "host/machine/jetting_link.h"

#include <algorithm>
#include <cctype>

#include "host/core/numbers.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "host/machine/unit_codes.h"

namespace ph {

namespace {
constexpr const char* kRollerStalled = "!roller stalled";
}

JettingLink::JettingLink(HostCore& core, SettingsFiles& files, SerialByteLink& commInk, SocketByteLink& inkSocket,
                         MachineEvents& events)
    : core_(core),
      files_(files),
      CommInk(commInk),
      InkSocket(inkSocket),
      events_(events),
      startCodes_(core.timers.make("firstinkj")),
      waitingSend_(core.timers.make("InkCts")) {
  auto rx = [this](const std::uint8_t* d, int n) { CommInkRxChar(d, n); };
  CommInk.onReceive = rx;
  InkSocket.onReceive = rx;
  CommInk.onEvent = [this](LinkEvent e, int code) { serialEvent(e, code); };
  InkSocket.onEvent = [this](LinkEvent e, int code) { socketEvent(e, code); };
  startCodes_->setHandler([this] { sendStartCodes(); });
  waitingSend_->setHandler([this] { sendWaitingCommand(); });
}

void JettingLink::bindControls() {
  auto bind = [&](const char* name, std::function<void()> f) { core_.controls.bindClick(name, std::move(f)); };
  bind("cb_comm", [this] { applyLinkSwitch(); });
  bind("Button161", [this] { sendTestSequence(); });
  bind("catchtempr1", [this] { testTemperatureCatch(); });
}

JettingLink::~JettingLink() {
  CommInk.onReceive = nullptr;
  InkSocket.onReceive = nullptr;
  CommInk.onEvent = nullptr;
  InkSocket.onEvent = nullptr;
  for (const char* name : {"cb_comm", "Button161", "catchtempr1"})
    if (Control* c = core_.controls.find(name)) c->onClick = nullptr;
}

bool JettingLink::menuChecked(const char* name) const {
  const Control* c = core_.controls.find(name);
  return c && c->checked;
}

ByteLink& JettingLink::activeLink() {
  if (inkViaSocket) return InkSocket;
  return CommInk;
}

bool JettingLink::connected() { return inkViaSocket ? InkSocket.isOpen() : CommInk.isOpen(); }

void JettingLink::reconnect() {
  if (inkViaSocket && inkLinkOpen && !InkSocket.active()) InkSocket.setActive(true);
}

void JettingLink::startCounting() {
  ++out_.epoch;
  inkStretchesDone = 0;
  deliveryFailure_.clear();
}

void JettingLink::closeOpenPass() {
  if (!out_.inData) return;
  std::string tail(static_cast<std::size_t>(out_.literalLeft), '\0');
  tail += static_cast<char>(kStretchEnd);
  for (char c : tail) {
    ++inkByteCount;
    inkCheckSum += static_cast<unsigned char>(c);
  }
  inkWrite(tail);
}

void JettingLink::UnitReading::feed(std::uint8_t b) {
  if (inData) {
    if (literalLeft > 0) {
      --literalLeft;
    } else if (b == kStretchEnd) {
      ends.push_back({true, epoch});
      inData = false;
    } else if (b >= 0x81 && b <= 0xBC) {
      literalLeft = b - 0x80;
    } else if (b >= 0xC0) {
      literalLeft = 1;
    }
    return;
  }
  if ((b >= '0' && b <= '9') || b == ',') {
    if (token.size() < 64) token += static_cast<char>(b);
    return;
  }
  if (b >= 'a' && b <= 'z') {
    // "973j", leading zeros allowed, announces pass data.
    const std::size_t first = token.find_first_not_of('0');
    inData = b == 'j' && first != std::string::npos && token.compare(first, std::string::npos, "973") == 0;
    literalLeft = 0;
    token.clear();
    return;
  }
  token.clear();
  if (b == kStretchEnd) ends.push_back({false, epoch});
}

bool JettingLink::clearToSend() { return activeLink().cts() || core_.s.XonXoffMode; }

int JettingLink::outputQueueCount() {
  const int n = activeLink().outQueueCount();
  return n < 0 ? 0 : n;
}

// ---------------------------------------------------------------- opening

void JettingLink::applyLinkSwitch() {
  const Control* box = core_.controls.find("cb_comm");
  if (box && box->checked) openLink();
  else closeLink();
}

void JettingLink::openLink() {
  const Settings& s = core_.s;
  // Flow control, and the unit is told which handshake to use.
  if (s.XonXoffMode && s.localXonXoff) {
    CommInk.setFlowControl(TFlowControl::fcNone);
    queueUnitCode(unit::localXonXoff(800));
  } else if (s.XonXoffMode) {
    CommInk.setFlowControl(TFlowControl::fcSoftware);
    queueUnitCode(unit::kXonXoffHandshake);
  } else {
    CommInk.setFlowControl(TFlowControl::fcCTS);
    queueUnitCode(unit::kCtsHandshake);
  }
  const std::string& dev = s.CommInkDevice;
  if (!dev.empty() && std::isdigit(static_cast<unsigned char>(dev[0]))) {
    // "host:port"
    inkViaSocket = true;
    const int port = dev.find(':') == std::string::npos ? 0 : leadingInt(splitAt(dev, ':', true));
    InkSocket.setAddress(splitAt(dev, ':', false), port);
    InkSocket.setActive(true);
    inkLinkOpen = true;
  } else {
    inkViaSocket = false;
    if (!CommInk.isOpen()) {
      int baud = inkBaudRate;
      const std::string name = parseCommDevice(dev, baud);
      CommInk.setDevice(name, baud);
      const std::string err = CommInk.open();
      if (!err.empty()) core_.memoPrintf("%s", err);
    }
    inkLinkOpen = CommInk.isOpen();
    if (!inkLinkOpen) core_.memoPrintf("cannot open %s", dev);
  }
  startCodes_->setInterval(100);
  startCodes_->start();
}

void JettingLink::closeLink() {
  CommInk.close();
  inkLinkOpen = false;
  if (commandsWaiting()) dropWaitingCommands("link closed");
}

void JettingLink::sendStartCodes() {
  startCodes_->stop();
  sendInk(takeQueuedCodes());
  sendInk(core_.s.InkjetIni);
}

// ---------------------------------------------------------------- sending

void JettingLink::sendInk(const std::string& command) {
  if (menuChecked("inkdata1")) core_.memoPrintf("send: %s", printableText(command));
  if (events_.stretchStreaming()) {
    // Stretch data is streaming: the command goes out in front of the next
    // one after the stream.
    core_.memoPrintf("stuf %s", printableText(command));
    queueUnitCode(command);
    return;
  }
  // No link, a G-code-only run, or closing down: nothing is written or
  // queued.
  if (!inkLinkOpen || events_.gcodeOnlyRun() || command.empty() || core_.closingDown) return;
  if (!inkFifo) inkFifo = std::make_unique<TStringFifo>();
  if (!inkFifo->notEmpty() && clearToSend()) {
    inkWrite(command);
    return;
  }
  inkFifo->push(command);
  if (!waitingSend_->enabled()) sendWaitingCommand();
}

void JettingLink::sendInkPending(const std::string& command) {
  if (events_.stretchStreaming()) {
    queueUnitCode(command);
    return;
  }
  sendInk(takeQueuedCodes() + command);
}

bool JettingLink::sendQueuedUnitCodes() {
  if (!inkLinkOpen) return false;
  sendInkPending("");
  return true;
}

void JettingLink::sendInkCounted(const std::string& command) {
  sendInk(command);
  const auto p = command.find(unit::kPassData);
  if (p == std::string::npos) return;
  // The data codes, up to the stretch end when the text carries it: what
  // follows the end is commands again, as the unit reads it.
  const std::string data = command.substr(p + 4);
  const std::size_t n = inlineStretchLength(data);
  for (std::size_t i = 0; i < n; ++i) {
    ++inkByteCount;
    inkCheckSum += static_cast<unsigned char>(data[i]);
  }
}

void JettingLink::inkWrite(const std::uint8_t* data, int count) {
  if (count <= 0) return;
  int taken = 0;
  if (inkViaSocket) {
    taken = InkSocket.write(data, count);
    if (taken < count) {
      core_.memoPrintf("inksocket: %d bytes lost (not connected)", count - taken);
      failDelivery(plat::format("%d bytes did not reach the jetting unit (not connected)", count - taken));
    }
  } else {
    if (debugDumpFile) std::fwrite(data, 1, static_cast<std::size_t>(count), debugDumpFile.get());
    taken = CommInk.write(data, count);
    if (taken < count)
      failDelivery(plat::format("%d bytes did not reach the jetting unit (port not open)", count - taken));
  }
  for (int i = 0; i < taken; ++i) out_.feed(data[i]);
}

void JettingLink::failDelivery(const std::string& why) {
  if (deliveryFailure_.empty()) deliveryFailure_ = why;
}

void JettingLink::connectionLost(const char* how) {
  const int owed = repliesOwed();
  if (owed > 0 || out_.inData)
    failDelivery(plat::format("the jetting unit's connection %s with %d replies outstanding%s", how, owed,
                              out_.inData ? " and pass data open" : ""));
  // Whatever the unit had not answered is gone with the connection.
  out_.reset();
}

void JettingLink::deliver(const std::string& command) {
  if (events_.stretchStreaming()) {
    core_.memoPrintf("stuf %s", printableText(command));
    queueUnitCode(command);
    return;
  }
  inkWrite(command);
}

bool JettingLink::linkUsable() { return inkLinkOpen && (inkViaSocket || CommInk.isOpen()); }

void JettingLink::sendWaitingCommand() {
  if (!linkUsable()) {
    if (commandsWaiting()) dropWaitingCommands("link closed");
    waitingSend_->stop();
    return;
  }
  if (activeLink().cts() || core_.closingDown || core_.s.XonXoffMode) {
    std::string text = inkFifo ? inkFifo->pop() : "";
    // In queue order: the head goes out now, whatever waits behind it.
    if (!core_.closingDown && !text.empty()) deliver(text);
  }
  waitingSend_->setEnabled(commandsWaiting());
}

void JettingLink::dropWaitingCommands(const char* why) {
  const int n = inkFifo ? inkFifo->count() : 0;
  if (inkFifo) inkFifo->clear();
  waitingSend_->stop();
  if (n > 0) core_.memoPrintf("jetting unit %s: %d waiting commands dropped", why, n);
}

// ---------------------------------------------------------------- transport events

void JettingLink::serialEvent(LinkEvent e, int) {
  if (e != LinkEvent::Disconnected) return;
  core_.memoPrintf("%s", "jetting unit port gone");
  if (commandsWaiting()) dropWaitingCommands("port gone");
  connectionLost("went away");
}

void JettingLink::socketEvent(LinkEvent e, int code) {
  switch (e) {
    case LinkEvent::Connecting: InkSocketConnecting(); break;
    case LinkEvent::Connected: InkSocketConnect(); break;
    case LinkEvent::Disconnected: InkSocketDisconnect(); break;
    case LinkEvent::Error: InkSocketError(code); break;
  }
}

void JettingLink::InkSocketConnect() { core_.memoPrintf("%s", " inksocket OK"); }

void JettingLink::InkSocketError(int code) {
  core_.memoPrintf("jetting unit %s: %s", core_.s.CommInkDevice, linkErrorText(code));
  if (commandsWaiting()) dropWaitingCommands("connection error");
  connectionLost("failed");
}

void JettingLink::InkSocketConnecting() { core_.memoPrintf("%s", "connecting"); }

void JettingLink::InkSocketDisconnect() {
  core_.memoPrintf("%s", "disconnect");
  if (commandsWaiting()) dropWaitingCommands("disconnected");
  connectionLost("closed");
}

// ---------------------------------------------------------------- receiving

void JettingLink::CommInkRxChar(const std::uint8_t* data, int count) {
  // Everything that arrived, so no acknowledgement waits for the next
  // arrival; in blocks of the size one call handles.
  for (int off = 0; off < count; off += kReceiveBlock) {
    const int n = count - off < kReceiveBlock ? count - off : kReceiveBlock;
    handleBlock(std::string(reinterpret_cast<const char*>(data + off), static_cast<std::size_t>(n)));
  }
}

void JettingLink::handleBlock(std::string block) {
  Settings& s = core_.s;
  inkRxTotal += static_cast<int>(block.size());
  for (char c : block) inkRxHistory += c == '\0' ? ' ' : c;
  // Trimmed by 64 per block, and never longer than 256 and this block.
  if (inkRxHistory.size() > 256) {
    const std::size_t limit = 256 + block.size();
    const std::size_t over = inkRxHistory.size() > limit ? inkRxHistory.size() - limit : 0;
    inkRxHistory.erase(0, std::max<std::size_t>(64, over));
  }

  if (inkViaSocket) {
    // A TCP link has no software flow control: XON and XOFF are neither
    // obeyed nor shown.
    if (s.XonXoffMode && !tcpFlowSaid_) {
      tcpFlowSaid_ = true;
      core_.memoPrintf("%s", "jetting unit over TCP: no XON/XOFF flow control, TCP paces the data");
    }
    std::string kept;
    kept.reserve(block.size());
    for (char c : block)
      if (c != 0x11 && c != 0x13) kept += c;
    block.swap(kept);
  } else if (s.localXonXoff) {
    std::string kept;
    kept.reserve(block.size());
    for (char c : block) {
      if (c == 0x11 || c == 0x13) xoffHeld = c == 0x13;
      else kept += c;
    }
    block.swap(kept);
  }

  const bool printing = events_.printTicking();
  const std::string keyword = kStretchDone;
  std::string echo;
  for (char& c : block) {
    if (c == '+') ++plusReplies;

    if (s.containerEndLimits != 0) {
      const auto u = static_cast<unsigned char>(c);
      if (u == 146) {
        c = static_cast<char>('0' + s.powderPercentage % 10);
      } else if (u == 144 || u == 145) {
        s.powderPercentage += u == 144 ? -1 : 1;
        s.powderPercentage = clampInt(s.powderPercentage, s.containerEndLimits % 100, s.containerEndLimits / 100);
        core_.controls.at("LabPwdr").setCaption(std::to_string(s.powderPercentage));
        c = static_cast<char>('0' + s.powderPercentage / 10);
      }
    }

    if (matchKeyword(c, "version", versionState_)) versionSeen = true;
    if (matchKeyword(c, "start (", restartState_)) {
      // The unit restarted: it gets its settings again. What it had not
      // answered is lost.
      if (repliesOwed() > 0 || out_.inData)
        failDelivery(plat::format("the jetting unit restarted with %d replies outstanding", repliesOwed()));
      out_.reset();
      files_.fixupSettings();
      sendInkPending(s.InkjetIni);
    }
    matchKeywordNumber(c, "W:", waterState_, waterTemps[0], waterTemps[1], waterTemps[2]);
    matchKeywordNumber(c, "C:", colorState_, colorTemps[0], colorTemps[1], colorTemps[2]);
    if (matchKeyword(c, "CartrFail", cartrState_)) {
      cartridgeFail = true;
      if (!events_.cartridgeCheckSounding()) events_.dropImages();
      if (!menuChecked("scancartridges1") && printing) {
        preparedMessage_ = "Check cartridge connections!";
        if (menuChecked("connectcheck1")) pauseWithAlarm();
      }
    }

    if (printing) {
      if (matchKeyword(c, "Hopper Fail", hopperState_) && !menuChecked("IgnoreHopper1")) pauseWithAlarm();
      if (matchKeyword(c, std::string(kRollerStalled) + "\r\n", rollerState_) &&
          core_.clock.tickMs() - printResumeTick >= 3000) {
        rollerStallCount += 3;
        c = '#';
        // The stall report leaves the echo (what of it was echoed here).
        const std::string kw = kRollerStalled;
        for (std::size_t k = kw.size(); k > 0; --k) {
          if (echo.size() >= k && echo.compare(echo.size() - k, k, kw, kw.size() - k, k) == 0) {
            echo.erase(echo.size() - k);
            break;
          }
        }
        if (rollerStallCount > 4) {
          core_.memoPrintf("%s", "check roller");
          rollerStallCount = 0;
          pauseWithAlarm();
        }
      }
      if (matchKeyword(c, "nuls overflow", nulsState_)) pauseWithAlarm();
    }

    // Stretch acknowledgement; its characters are held back from the echo
    // until the match fails.
    if (c == keyword[static_cast<std::size_t>(monitorPos_ - 1)]) {
      if (++monitorPos_ > static_cast<int>(keyword.size())) {
        if (rollerStallCount > 0) --rollerStallCount;
        // The reply to the oldest end byte written: a finished pass of this
        // print counts, a lone end byte's or an earlier print's does not.
        if (!out_.ends.empty()) {
          const UnitReading::End end = out_.ends.front();
          out_.ends.pop_front();
          if (end.closesPass && end.epoch == out_.epoch) ++inkStretchesDone;
        }
        if (!s.silentmemo && !core_.lastEndedWithNewline) core_.logWrite("\n", true, false);
        monitorPos_ = 1;
      }
    } else {
      if (monitorLinesToSkip < 1) {
        echo += keyword.substr(0, static_cast<std::size_t>(monitorPos_ - 1));
        if (c != '\r') echo += c;
      } else if (c == '\r') {
        --monitorLinesToSkip;
      }
      monitorPos_ = 1;
    }
    if (c == '\0') c = ' ';
  }

  if (!s.silentmemo) {
    for (char& c : block)
      if (static_cast<unsigned char>(c) < 32 && c != '\n' && c != '\r') c = '?';
    core_.memoPrintf("%n%s", block);
  } else if (!echo.empty()) {
    echoReceived(1, caretText(echo, true, false));
  }
  if (!preparedMessage_.empty()) {
    core_.memoPrintf("%s", preparedMessage_);
    preparedMessage_.clear();
  }
}

void JettingLink::echoReceived(int source, const std::string& text) {
  core_.logEcho(source, text);
}

void JettingLink::pauseWithAlarm() {
  events_.setAlarmCount(3);
  Control& pause = core_.controls.at("pause");
  if (!pause.checked) {
    pause.setChecked(true);
    pause.click();
  }
  events_.startAlarmSound();
}

// ---------------------------------------------------------------- terminal and tests

void JettingLink::takeTerminalKey(char key) {
  if (key == 27) {
    events_.cartridgeCheck();
    events_.stopCartridgeScan();
    return;
  }
  if (key == '~') {
    events_.alignmentPrint();
    return;
  }
  if (!inkLinkOpen || !clearToSend()) return;
  if (key == 3) {
    inkWrite(&kStretchEnd, 1);
  } else if (key == 22) {
    events_.pasteInkCommands();
  } else {
    sendInkPending(std::string(1, key));
    if (events_.stretchStreaming()) core_.memoPrintf("in queue:%s", printableText(queuedCodes_));
  }
  core_.statusMessage(printableText(std::string(1, key)));
}

void JettingLink::sendTestSequence() {
  if (!inkLinkOpen) return;
  static const unsigned char test[] = {0x35, 0x81, 0x02, 0x35, 0x81, 0x02, 0x80, 0xBF, 0x20, 0x30, 0x6A, 0x23};
  sendInkCounted(unit::kTestPassData + std::string(reinterpret_cast<const char*>(test), sizeof test));
}

void JettingLink::feedHeadTemperature(char c) {
  if (matchKeyword(c, "tempr ", temprState_)) {
    temprCount_ = 0;
    temprNumber_ = 0;
    return;
  }
  if (c >= '0' && c <= '9') {
    if (temprNumber_ < 100000000) temprNumber_ = temprNumber_ * 10 + (c - '0');
    return;
  }
  if (temprNumber_ != 0 && temprCount_ < 2) {
    temprValues_[temprCount_++] = temprNumber_;
    if (temprCount_ == 2) {
      // Channel 2 is the colour head, channel 1 the water head.
      const int limit[2] = {90, 100};
      const int level[2] = {core_.s.heatlevelc, core_.s.heatlevelbw};
      const int channel[2] = {2, 1};
      for (int k = 0; k < 2; ++k) {
        const bool hot = temprValues_[k] > limit[k] - 30;
        if (hot == temprHot_[k]) continue;
        temprHot_[k] = hot;
        queueUnitCode(plat::format("%d,%dt", hot ? level[k] - 40 : level[k], channel[k]));
      }
    }
  }
  temprNumber_ = 0;
}

void JettingLink::testTemperatureCatch() {
  for (const char* feed : {"8n1,90t2,110t 530,530,36n] tempr 505,440 (lim 530,530)[",
                           "8n1,90t2,110t 530,530,36n] tempr 490,440 (lim 530,530)["}) {
    queuedCodes_.clear();
    for (const char* p = feed; *p; ++p) feedHeadTemperature(*p);
    core_.memoPrintf("singlecode %s", queuedCodes_);
  }
}

}  // namespace ph
