#include "host/core/host_core.h"

#include <climits>
#include <ctime>
#include <stdexcept>

#include "host/core/numbers.h"
#include "host/core/texts.h"

namespace ph {

int ChangeListeners::subscribe(std::function<void()> listener) {
  listeners_.emplace_back(++nextToken_, std::move(listener));
  return nextToken_;
}

void ChangeListeners::unsubscribe(int token) {
  std::erase_if(listeners_, [token](const auto& l) { return l.first == token; });
}

void ChangeListeners::notify() const {
  for (const auto& l : listeners_) l.second();
}

HostCore::HostCore(OperatorUi& u, plat::Clock& c) : ui(u), clock(c), timers(c) {
  statusWipe_->setHandler([this] { clearStatus(); });
  settingsSettle_->setHandler([this] { tellSettingsSettled(); });
}

HostCore::~HostCore() = default;

void HostCore::tellSettingsSettled() {
  settingsSettle_->stop();
  settingsSettled.notify();
}

UnitCodeQueue& HostCore::unitCodes() {
  if (!unitCodes_) throw std::logic_error("no owner of the jetting-unit codes is attached");
  return *unitCodes_;
}

bool HostCore::dualBoxMode() const { return !s.LayerGcodes.empty() || (s.dualbox & 15) != 0; }
bool HostCore::dualBoxAny() const { return dualBoxMode() || (s.dualbox & 16) != 0; }

// ---- operator log ----

void HostCore::logWrite(const std::string& text, bool continueLine, bool provisional) {
  OperatorLog& log = *logTarget_;
  const bool cont = continueLine && !lastEndedWithNewline;
  if (provisionalLine) log.removeLast();
  provisionalLine = provisional;
  lastEndedWithNewline = !text.empty() && text.back() == '\n';
  lastEchoSource_ = 0;
  if (text.empty()) return;
  std::size_t start = 0;
  bool first = true;
  for (;;) {
    auto nl = text.find('\n', start);
    std::string piece = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    if (first && cont && !log.empty()) log.appendToLast(piece);
    else log.addLine(std::move(piece));
    first = false;
    if (nl == std::string::npos || nl + 1 == text.size()) break;
    start = nl + 1;
  }
}

void HostCore::logInto(OperatorLog& log, const std::function<void()>& work) {
  OperatorLog* before = logTarget_;
  logTarget_ = &log;
  work();
  logTarget_ = before;
}

void HostCore::logEcho(int source, const std::string& text, const std::string& newLinePrefix) {
  const OperatorLog& log = *logTarget_;
  const bool newLine = source != lastEchoSource_ && !log.empty() && !log.line(log.lineCount() - 1).empty();
  logWrite(newLine ? newLinePrefix + text : text, !newLine, false);
  lastEchoSource_ = source;
}

void HostCore::logStamped(const std::string& text) {
  std::time_t t = std::chrono::system_clock::to_time_t(clock.wallNow());
  std::tm lt{};
  localtime_r(&t, &lt);
  std::string day = plat::format("%02d", lt.tm_mday);
  std::string stamp;
  if (day != lastStampDay) {
    lastStampDay = day;
    stamp = plat::format("%04d/%02d/%02d %02d:%02d:%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
                         lt.tm_min, lt.tm_sec);
  } else {
    stamp = plat::format("%02d:%02d:%02d", lt.tm_hour, lt.tm_min, lt.tm_sec);
  }
  memoPrintf(" %s %s ", stamp, text);
}

void HostCore::logVars(const char* n1, int v1, const char* n2, int v2, const char* n3, int v3) {
  std::string line;
  const char* names[] = {n1, n2, n3};
  const int values[] = {v1, v2, v3};
  for (int i = 0; i < 3; ++i) {
    if (!names[i] || std::string(names[i]) == "0") continue;
    if (!line.empty()) line += ' ';
    line += plat::format("%s=%d", names[i], values[i]);
  }
  memoPrintf("%s", line);
}

void HostCore::statusMessage(const std::string& text) {
  statusText += text;
  if (statusText.size() > 20) statusText = statusText.substr(statusText.size() - 15);
  ui.setStatusPanel(0, statusText);
  statusWipe_->restart();
  statusWipe_->start();
}

void HostCore::clearStatus() {
  statusWipe_->stop();
  statusText.clear();
  ui.setStatusPanel(0, "");
}

// ---- typed answers ----

namespace {
// 32-bit results wrap as the machine's ints do; the arithmetic itself is
// done wide so nothing overflows.
int wrap32(long long v) { return static_cast<int>(static_cast<unsigned int>(static_cast<unsigned long long>(v))); }

int evalExpr(const std::string& text, bool& divByZero) {
  int level = 0;
  int best = INT_MAX;
  std::size_t at = std::string::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    int prio;
    if (c == '(') {
      level += 10;
      continue;
    }
    if (c == ')') {
      level -= 10;
      continue;
    }
    if (c == '+' || c == '-') prio = level;
    else if (c == '*' || c == '/') prio = level + 1;
    else continue;
    if (prio <= best) {  // the later one wins a tie
      best = prio;
      at = i;
    }
  }
  if (at == std::string::npos) {
    std::string t = text;
    for (char& c : t)
      if (c == '(' || c == ')') c = ' ';
    return textToInt(trimmed(t));
  }
  const int a = evalExpr(text.substr(0, at), divByZero);
  const int b = evalExpr(text.substr(at + 1, 999), divByZero);
  switch (text[at]) {
    case '+': return wrap32((long long)a + b);
    case '-': return wrap32((long long)a - b);
    case '*': return wrap32((long long)a * b);
    default:
      if (b == 0) {
        divByZero = true;
        return 0;
      }
      return wrap32((long long)a / b);
  }
}
}  // namespace

int HostCore::evalIntExpr(const std::string& text) {
  if (presetAnswer_ != kNoPreset) {
    int v = presetAnswer_;
    presetAnswer_ = kNoPreset;
    return v;
  }
  bool divByZero = false;
  int v = evalExpr(text, divByZero);
  if (divByZero) {
    memoPrintf("division by zero in %s: taken as 0", text);
    return 0;
  }
  return v;
}

std::string HostCore::askText(const std::string& caption, const std::string& prompt, const std::string& initial) {
  if (presetAnswer_ != kNoPreset) {
    // The preset answers this one question: hand it over as text and let
    // it go, so it cannot answer an unrelated later question.
    std::string v = std::to_string(presetAnswer_);
    presetAnswer_ = kNoPreset;
    return v;
  }
  auto r = ui.inputBox(caption, prompt, initial);
  return r ? *r : initial;
}

bool HostCore::notConfirmed(const std::string& action) {
  return !ui.askYesNo("Confirm", "are you sure you want to " + action);
}

}  // namespace ph
