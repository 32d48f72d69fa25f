// marlin_sim: a motion machine that speaks the serial protocol of the Marlin
// firmware as a host meets it. See README.md for the options and the log.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "sim_io.h"

namespace {

const char* kUsage =
    "usage: marlin_sim (--port N | --pty) [--log FILE] [--delay MS] [--split N] [--split-gap MS]\n"
    "                  [--idle-timeout S] [--drop N]... [--corrupt N]... [--corrupt-every N]\n"
    "                  [--flush-on-error] [--drop-ok N]... [--restart-after N] [--busy-line N:MS]\n"
    "                  [--instant-dwell]\n";

struct Options {
  sim::CommonOptions common;
  std::set<long long> drop;     // 1-based numbers of received lines to lose
  std::set<long long> corrupt;  // ... and to damage on the way in
  long long corruptEvery = 0;   // every N-th received line is damaged
  bool flushOnError = false;    // a refused line throws the unread input away
  std::set<long long> dropOk;   // 1-based numbers of "ok"s never sent
  long long restartAfter = 0;   // the machine restarts after this many executed lines
  long long busyLine = 0;       // this executed line takes busyMs ...
  long long busyMs = 0;         // ... with "echo:busy: processing" every 2 s
  bool instantDwell = false;
};

std::string trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return std::string(s.substr(a, b - a));
}

// One word of a G-code: a letter and the number after it.
struct Word {
  char letter = 0;
  bool hasValue = false;
  double value = 0;
};

// Splits a code into words; text after ";" is a comment.
std::vector<Word> words(std::string_view code) {
  std::vector<Word> out;
  size_t i = 0;
  while (i < code.size()) {
    char c = code[i];
    if (c == ';') break;
    if (std::isalpha(static_cast<unsigned char>(c))) {
      Word w;
      w.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      ++i;
      size_t start = i;
      while (i < code.size() && (std::isdigit(static_cast<unsigned char>(code[i])) || code[i] == '.' ||
                                 code[i] == '-' || code[i] == '+'))
        ++i;
      if (i > start) {
        std::string num(code.substr(start, i - start));
        char* end = nullptr;
        double v = strtod(num.c_str(), &end);
        if (end && *end == '\0' && std::isfinite(v)) {
          w.hasValue = true;
          w.value = v;
        }
      }
      out.push_back(w);
      continue;
    }
    ++i;
  }
  return out;
}

class Marlin : public sim::Machine {
 public:
  explicit Marlin(const Options& opt) : opt_(opt) {}

  void connected(sim::Session& s) override {
    // What the firmware prints when it boots, with a card in its slot: the
    // "ok" of the card line is the start-up "ok" hosts count.
    s.reply("start\n");
    s.reply("echo:marlin_sim\n");
    s.reply("echo: Free Memory: 4096  PlannerBufferBytes: 1024\n");
    s.reply("echo:SD card ok\n");
  }

  size_t consume(sim::Session& s, const uint8_t* data, size_t n, sim::TimePoint now, bool drain) override {
    size_t i = 0;
    while (i < n) {
      if (!drain && now < busyUntil_) return i;
      char c = static_cast<char>(data[i++]);
      if (c == '\n' || c == '\r') {
        if (overlong_) {
          s.log().line("error line-too-long " + sim::escape(line_.substr(0, 64)));
          overlong_ = false;
        } else if (!line_.empty()) {
          lineIn(s, line_, now, drain);
        }
        line_.clear();
        if (discardInput_) {
          // Whatever arrived after the line is gone: the lines in flight
          // get no answer at all.
          discardInput_ = false;
          s.log().linef("flush %zu", n - i);
          return n;
        }
      } else if (line_.size() < kMaxLine) {
        line_ += c;
      } else {
        overlong_ = true;
      }
    }
    return i;
  }

  sim::TimePoint wakeAt() const override { return busyUntil_; }

  void finished(sim::Session& s) override {
    if (!line_.empty()) s.log().line("partial " + sim::escape(line_));
  }

 private:
  static constexpr size_t kMaxLine = 4096;
  static constexpr long long kNoNumber = -(1LL << 62);

  // A line as it arrives; the switches may lose or damage it first.
  void lineIn(sim::Session& s, std::string text, sim::TimePoint now, bool drain) {
    ++received_;
    if (opt_.drop.count(received_)) {
      s.log().linef("drop %lld %s", received_, sim::escape(text).c_str());
      return;
    }
    if (opt_.corrupt.count(received_) || (opt_.corruptEvery > 0 && received_ % opt_.corruptEvery == 0)) {
      // Flip the lowest bit of the last non-blank byte before the checksum:
      // the line stays readable and its checksum no longer fits.
      size_t end = text.find('*');
      if (end == std::string::npos) end = text.size();
      size_t k = end;
      while (k > 0 && text[k - 1] == ' ') --k;
      if (k > 0) {
        s.log().linef("corrupt %lld %s", received_, sim::escape(text).c_str());
        text[k - 1] = static_cast<char>(text[k - 1] ^ 1);
      }
    }
    s.log().line("line " + sim::escape(text));
    handleLine(s, text, now, drain);
  }

  void lineError(sim::Session& s, const char* kind, const char* message) {
    s.log().linef("error %s last=%lld", kind, lastLine_);
    s.log().linef("resend %lld", lastLine_ + 1);
    char buf[160];
    snprintf(buf, sizeof buf, "Error:%s, Last Line: %lld\n", message, lastLine_);
    s.reply(buf);
    snprintf(buf, sizeof buf, "Resend: %lld\n", lastLine_ + 1);
    s.reply(buf);
    s.reply("ok\n");
    if (opt_.flushOnError) discardInput_ = true;
  }

  void handleLine(sim::Session& s, const std::string& raw, sim::TimePoint now, bool drain) {
    std::string_view text = raw;
    size_t lead = 0;
    while (lead < text.size() && text[lead] == ' ') ++lead;
    text.remove_prefix(lead);
    size_t star = text.find('*');
    if (!text.empty() && (text[0] == 'N' || text[0] == 'n')) {
      size_t p = 1;
      // A negative number is read too: "N-1 M110" resets the count so that
      // the next line is N0.
      if (p < text.size() && text[p] == '-') ++p;
      while (p < text.size() && std::isdigit(static_cast<unsigned char>(text[p]))) ++p;
      long long number = 0;
      bool numberOk = sim::parseInt(text.substr(1, p - 1), -999999999LL, 999999999999LL, number);
      std::string_view body = text.substr(p, (star == std::string_view::npos ? text.size() : star) - p);
      std::string code = trim(body);
      bool isM110 = isCode(code, 'M', 110);
      if (!numberOk || (number != lastLine_ + 1 && !isM110)) {
        lineError(s, "line-number", "Line Number is not Last Line Number+1");
        return;
      }
      if (star == std::string_view::npos) {
        lineError(s, "no-checksum", "No Checksum with line number");
        return;
      }
      // The checksum: XOR of every byte before "*", taken unsigned.
      unsigned sum = 0;
      for (size_t k = 0; k < star; ++k) sum ^= static_cast<unsigned char>(text[k]);
      std::string given = trim(text.substr(star + 1));
      long long got = -1;
      if (!sim::parseInt(given, 0, 255, got) || static_cast<unsigned>(got) != sum) {
        s.log().linef("checksum expected=%u got=%s", sum, sim::escape(given).c_str());
        lineError(s, "checksum", "checksum mismatch");
        return;
      }
      lastLine_ = number;
      execute(s, code, number, now, drain);
      if (opt_.restartAfter > 0 && ++executed_ == opt_.restartAfter) restart(s);
      return;
    }
    if (star != std::string_view::npos) {
      lineError(s, "no-line-number", "No Line Number with checksum");
      return;
    }
    execute(s, trim(text), kNoNumber, now, drain);
  }

  static bool isCode(const std::string& code, char letter, int number) {
    auto w = words(code);
    return !w.empty() && w[0].letter == letter && w[0].hasValue && w[0].value == number;
  }

  void logPosition(sim::Session& s) {
    s.log().linef("pos X%.3f Y%.3f Z%.3f E%.3f", pos_[0], pos_[1], pos_[2], pos_[3]);
  }

  static int axisIndex(char letter) {
    switch (letter) {
      case 'X': return 0;
      case 'Y': return 1;
      case 'Z': return 2;
      case 'E': return 3;
    }
    return -1;
  }

  void execute(sim::Session& s, const std::string& code, long long number, sim::TimePoint now, bool drain) {
    if (number != kNoNumber)
      s.log().linef("exec N%lld %s", number, sim::escape(code).c_str());
    else
      s.log().line("exec " + sim::escape(code));
    auto w = words(code);
    sim::TimePoint okAt = sim::TimePoint::min();
    if (w.empty() || !w[0].hasValue || (w[0].letter != 'G' && w[0].letter != 'M' && w[0].letter != 'T')) {
      s.reply("echo:Unknown command: \"" + code + "\"\n");
      sendOk(s, okAt);
      return;
    }
    char letter = w[0].letter;
    double num = w[0].value;
    if (number != kNoNumber && ++numberedExecuted_ == opt_.busyLine && !drain) {
      // A long move or heat-up: the firmware tells the host it is busy.
      busyUntil_ = now + std::chrono::milliseconds(opt_.busyMs);
      for (long long t = 2000; t < opt_.busyMs; t += 2000)
        s.reply("echo:busy: processing\n", now + std::chrono::milliseconds(t));
      okAt = busyUntil_;
      s.log().linef("busy %lld", opt_.busyMs);
    }
    if (letter == 'G' && (num == 0 || num == 1)) {
      for (size_t k = 1; k < w.size(); ++k) {
        int a = axisIndex(w[k].letter);
        if (a >= 0 && w[k].hasValue) pos_[a] = w[k].value;
      }
      logPosition(s);
    } else if (letter == 'G' && num == 28) {
      bool any = false;
      for (size_t k = 1; k < w.size(); ++k) {
        int a = axisIndex(w[k].letter);
        if (a >= 0 && a < 3) {
          pos_[a] = 0;
          any = true;
        }
      }
      if (!any) pos_[0] = pos_[1] = pos_[2] = 0;
      logPosition(s);
    } else if (letter == 'G' && num == 92) {
      bool any = false;
      for (size_t k = 1; k < w.size(); ++k) {
        int a = axisIndex(w[k].letter);
        if (a >= 0) {
          pos_[a] = w[k].hasValue ? w[k].value : 0;
          any = true;
        }
      }
      if (!any) pos_[0] = pos_[1] = pos_[2] = pos_[3] = 0;
      logPosition(s);
    } else if (letter == 'G' && num == 4) {
      double ms = 0;
      for (size_t k = 1; k < w.size(); ++k) {
        if (w[k].letter == 'P' && w[k].hasValue) ms = w[k].value;
        if (w[k].letter == 'S' && w[k].hasValue) ms = w[k].value * 1000;
      }
      ms = std::clamp(ms, 0.0, 3600e3);
      s.log().linef("dwell %lld", static_cast<long long>(ms));
      if (!opt_.instantDwell && !drain) {
        busyUntil_ = now + std::chrono::microseconds(static_cast<long long>(ms * 1000));
        okAt = busyUntil_;
      }
    } else if (letter == 'M' && num == 110) {
      for (size_t k = 1; k < w.size(); ++k)
        if (w[k].letter == 'N' && w[k].hasValue && w[k].value >= 0 && w[k].value < 1e12)
          lastLine_ = static_cast<long long>(w[k].value);
      s.log().linef("lineno %lld", lastLine_);
    }
    sendOk(s, okAt);
  }

  void sendOk(sim::Session& s, sim::TimePoint at) {
    if (opt_.dropOk.count(++oks_)) {
      s.log().linef("drop-ok %lld", oks_);
      return;
    }
    s.reply("ok\n", at);
  }

  // A reset in the middle of the work: the line number and the positions
  // are forgotten, the unread input is lost, the firmware greets again.
  void restart(sim::Session& s) {
    s.log().line("restart");
    lastLine_ = 0;
    for (double& p : pos_) p = 0;
    line_.clear();
    discardInput_ = true;
    connected(s);
  }

  const Options& opt_;
  std::string line_;
  bool overlong_ = false;
  long long received_ = 0;
  long long lastLine_ = 0;
  long long executed_ = 0, numberedExecuted_ = 0, oks_ = 0;
  bool discardInput_ = false;
  double pos_[4] = {0, 0, 0, 0};
  sim::TimePoint busyUntil_ = sim::TimePoint::min();
};

bool parseArgs(int argc, char** argv, Options& opt, std::string& err) {
  for (int i = 1; i < argc && err.empty(); ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      exit(0);
    }
    if (sim::parseCommonOption(argc, argv, i, opt.common, err)) continue;
    if (a == "--instant-dwell") {
      opt.instantDwell = true;
      continue;
    }
    if (a == "--flush-on-error") {
      opt.flushOnError = true;
      continue;
    }
    if (a == "--corrupt-every" || a == "--restart-after" || a == "--drop-ok") {
      long long n = 0;
      if (i + 1 >= argc || !sim::parseInt(argv[i + 1], 1, 1LL << 40, n)) {
        err = std::string(a) + " needs a count from 1 up";
        break;
      }
      ++i;
      if (a == "--corrupt-every") opt.corruptEvery = n;
      else if (a == "--restart-after") opt.restartAfter = n;
      else opt.dropOk.insert(n);
      continue;
    }
    if (a == "--busy-line") {
      std::string v = i + 1 < argc ? argv[i + 1] : "";
      const size_t colon = v.find(':');
      long long n = 0, ms = 0;
      if (colon == std::string::npos || !sim::parseInt(std::string_view(v).substr(0, colon), 1, 1LL << 40, n) ||
          !sim::parseInt(std::string_view(v).substr(colon + 1), 1, 3600000, ms)) {
        err = "--busy-line needs LINE:MS";
        break;
      }
      ++i;
      opt.busyLine = n;
      opt.busyMs = ms;
      continue;
    }
    if (a == "--drop" || a == "--corrupt") {
      long long n = 0;
      if (i + 1 >= argc || !sim::parseInt(argv[i + 1], 1, 1LL << 40, n)) {
        err = std::string(a) + " needs a line count from 1 up";
        break;
      }
      ++i;
      (a == "--drop" ? opt.drop : opt.corrupt).insert(n);
      continue;
    }
    err = "unknown option " + std::string(a);
  }
  if (err.empty()) err = sim::checkCommonOptions(opt.common);
  return err.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  std::string err;
  if (!parseArgs(argc, argv, opt, err)) {
    fprintf(stderr, "marlin_sim: %s\n%s", err.c_str(), kUsage);
    return 2;
  }
  sim::installSignalHandlers();
  sim::Log log;
  if (!opt.common.logPath.empty() && !log.open(opt.common.logPath)) {
    fprintf(stderr, "marlin_sim: cannot write the log %s: %s\n", opt.common.logPath.c_str(), strerror(errno));
    return 1;
  }
  sim::Session session(opt.common, log);
  if (!session.open(err)) {
    fprintf(stderr, "marlin_sim: %s\n", err.c_str());
    log.line("end error");
    return 1;
  }
  Marlin machine(opt);
  return sim::exitStatus(session.run(machine));
}
