// inkjet_sim: the colour-jetting unit. It reads the unit's command language,
// decodes the run-length coded nozzle data that follows "973j" up to the
// stretch-end byte, and answers as the host expects. See README.md for the
// options and the log.
#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim_io.h"

namespace {

const char* kUsage =
    "usage: inkjet_sim (--port N | --pty) [--log FILE] [--delay MS] [--split N] [--split-gap MS]\n"
    "                  [--idle-timeout S] [--rate BYTES_PER_S] [--xoff-high N --xon-low N]\n"
    "                  [--temps W,C]... [--iopin HEX]... [--pulses N] [--event NAME@WHEN]...\n"
    "                  [--link-down MS@WHEN]... [--log-columns]\n"
    "  NAME: cartrfail hopper roller nuls powder-down powder-up powder-report restart\n"
    "  WHEN: connect | stretch:N | cmd:TOKEN\n";

constexpr int kColumn = 54;        // bytes of one nozzle column
constexpr uint8_t kStretchEnd = 0xBF;
constexpr uint8_t kXon = 0x11;
constexpr uint8_t kXoff = 0x13;
constexpr long long kMaxZeroRun = 65536;      // beyond this the unit reports "nuls overflow"
constexpr long long kMaxSameRun = 1LL << 22;  // a sanity bound on one unchanged-digit step

struct Event {
  enum When { Connect, Stretch, Command };
  std::string name;
  When when = Connect;
  long long stretch = 0;
  std::string token;
  bool fired = false;
  int downMs = -1;  // a link-down event: how long the link stays away
};

struct Options {
  sim::CommonOptions common;
  long long rate = 0;  // bytes per second the unit takes; 0: as fast as they come
  long long xoffHigh = 0;
  long long xonLow = 0;
  std::vector<std::pair<int, int>> temps;
  std::vector<uint32_t> iopins;
  long long pulses = 8000;
  std::vector<Event> events;
  bool logColumns = false;
};

const char* eventText(const std::string& name) {
  if (name == "cartrfail") return "CartrFail\r\n";
  if (name == "hopper") return "Hopper Fail\r\n";
  if (name == "roller") return "!roller stalled\r\n";
  if (name == "nuls") return "nuls overflow\r\n";
  if (name == "powder-down") return "\x90";
  if (name == "powder-up") return "\x91";
  if (name == "powder-report") return "\x92";
  if (name == "restart") return "start (inkjet_sim)\r\n";
  return nullptr;
}

// The nozzle data of one stretch turned back into 54-byte columns. The
// reference of an unchanged byte is the byte at the same place two columns
// back; the window starts at zero with every stretch.
class Decoder {
 public:
  explicit Decoder(bool logColumns) : logColumns_(logColumns) {}

  void start(long long stretch) {
    *this = Decoder(logColumns_);
    stretch_ = stretch;
  }

  // One byte of the data stream; returns false at the stretch end.
  bool take(sim::Session& s, uint8_t b) {
    ++bytes_;
    if (literalLeft_ > 0) {
      put(s, b);
      if (--literalLeft_ == 0 && afterCount_ > 0) {
        if (afterZeros_)
          zeros(s, afterCount_);
        else
          same(s, afterCount_);
        afterCount_ = 0;
      }
      return true;
    }
    if (b < 0x40) {
      sameShift_ = 0;
      long long n = 0;
      if (digitValue(b, zeroShift_, kMaxZeroRun, n)) {
        zeros(s, n);
      } else {
        s.log().linef("error nuls-overflow stretch=%lld digit=%d shift=%d", stretch_, b, zeroShift_);
        s.reply("nuls overflow\r\n");
        zeros(s, 1);
        zeroShift_ = -6;
      }
      zeroShift_ = std::min(zeroShift_ + 6, 60);
      return true;
    }
    zeroShift_ = 0;
    if (b < 0x80) {
      long long n = 0;
      if (digitValue(b - 0x40, sameShift_, kMaxSameRun, n)) {
        same(s, n);
      } else {
        s.log().linef("error run-overflow stretch=%lld digit=%d shift=%d", stretch_, b, sameShift_);
        sameShift_ = -6;
      }
      sameShift_ = std::min(sameShift_ + 6, 60);
      return true;
    }
    sameShift_ = 0;
    if (b >= 0xC0) {
      literalLeft_ = 1;
      afterZeros_ = (b & 0x20) != 0;
      afterCount_ = b & 0x1F;
      return true;
    }
    repeat_ = b == 0xBE;
    if (b == 0x80) {
      // A literal block of no bytes: ends a run of digits. The host puts it
      // between the codes it adds and the stretch's own data.
      if (markCol_ < 0) markCol_ = cols_;
      return true;
    }
    if (b <= 0xBC) {
      literalLeft_ = b - 0x80;
      return true;
    }
    if (b == 0xBD) {
      s.log().linef("window-reset stretch=%lld col=%lld dropped=%d", stretch_, cols_, pos_);
      prev2_.fill(0);
      prev1_.fill(0);
      pos_ = 0;
      return true;
    }
    if (b == 0xBE) return true;
    return false;  // the stretch end
  }

  void report(sim::Session& s, bool complete) const {
    std::string from = markCol_ < 0 ? "-" : std::to_string(markCol_);
    s.log().linef("stretch %lld bytes=%llu cols=%lld partial=%d digest=%016llx data-from=%s data-cols=%lld "
                  "data-digest=%016llx%s",
                  stretch_, static_cast<unsigned long long>(bytes_), cols_, pos_,
                  static_cast<unsigned long long>(all_.h), from.c_str(), markCol_ < 0 ? 0 : cols_ - markCol_,
                  static_cast<unsigned long long>(data_.h), complete ? "" : " incomplete");
  }

 private:
  // The count of one digit: value << shift, false when above max.
  static bool digitValue(int value, int shift, long long max, long long& n) {
    if (value == 0) {
      n = 0;
      return true;
    }
    if (shift > 40) return false;
    n = static_cast<long long>(value) << shift;
    return n <= max;
  }

  void put(sim::Session& s, uint8_t v) {
    cur_[pos_++] = v;
    if (pos_ == kColumn) column(s);
  }

  void column(sim::Session& s) {
    all_.add(cur_.data(), kColumn);
    if (markCol_ >= 0) data_.add(cur_.data(), kColumn);
    if (logColumns_)
      s.log().linef("col %lld %lld %s", stretch_, cols_,
                    sim::hex(std::string_view(reinterpret_cast<const char*>(cur_.data()), kColumn)).c_str());
    ++cols_;
    prev2_ = prev1_;
    prev1_ = cur_;
    pos_ = 0;
  }

  void zeros(sim::Session& s, long long n) {
    while (n > 0) {
      int k = static_cast<int>(std::min<long long>(n, kColumn - pos_));
      std::fill(cur_.begin() + pos_, cur_.begin() + pos_ + k, 0);
      pos_ += k;
      n -= k;
      if (pos_ == kColumn) column(s);
    }
  }

  void same(sim::Session& s, long long n) {
    if (repeat_ && n > 0) {
      // After the repeat flag the first step, up to the end of the column,
      // copies the byte before instead of keeping the old one.
      repeat_ = false;
      long long k = std::min<long long>(n, kColumn - pos_);
      for (long long j = 0; j < k; ++j) put(s, pos_ > 0 ? cur_[pos_ - 1] : prev1_[kColumn - 1]);
      n -= k;
    }
    while (n > 0) {
      int k = static_cast<int>(std::min<long long>(n, kColumn - pos_));
      std::copy(prev2_.begin() + pos_, prev2_.begin() + pos_ + k, cur_.begin() + pos_);
      pos_ += k;
      n -= k;
      if (pos_ == kColumn) column(s);
    }
  }

  bool logColumns_;
  long long stretch_ = 0;
  std::array<uint8_t, kColumn> prev2_{}, prev1_{}, cur_{};
  int pos_ = 0;
  long long cols_ = 0;
  long long markCol_ = -1;
  unsigned long long bytes_ = 0;
  sim::Fnv64 all_, data_;
  int literalLeft_ = 0;
  bool afterZeros_ = false;
  int afterCount_ = 0;
  int zeroShift_ = 0;
  int sameShift_ = 0;
  bool repeat_ = false;
};

class Inkjet : public sim::Machine {
 public:
  explicit Inkjet(Options& opt) : opt_(opt), decoder_(opt.logColumns) {}

  void connected(sim::Session& s) override {
    lastRefill_ = sim::Clock::now();
    fire(s, Event::Connect, 0, "");
  }

  size_t consume(sim::Session& s, const uint8_t* data, size_t n, sim::TimePoint now, bool drain) override {
    size_t allowed = n;
    if (opt_.rate > 0 && !drain) {
      double elapsed = std::chrono::duration<double>(now - lastRefill_).count();
      lastRefill_ = now;
      budget_ = std::min(budget_ + elapsed * static_cast<double>(opt_.rate), burst());
      allowed = std::min(n, static_cast<size_t>(budget_));
      budget_ -= static_cast<double>(allowed);
    }
    for (size_t i = 0; i < allowed; ++i) byte(s, data[i]);
    flushGarbage(s);
    return allowed;
  }

  // XON/XOFF from the marks of the unit's unread input.
  void inputChanged(sim::Session& s) override {
    if (opt_.xoffHigh <= 0) return;
    size_t unread = s.unread();
    if (!xoffSent_ && unread >= static_cast<size_t>(opt_.xoffHigh)) {
      xoffSent_ = true;
      s.log().linef("xoff unread=%zu", unread);
      s.urgent(std::string(1, static_cast<char>(kXoff)));
    } else if (xoffSent_ && unread <= static_cast<size_t>(opt_.xonLow)) {
      xoffSent_ = false;
      s.log().linef("xon unread=%zu", unread);
      s.urgent(std::string(1, static_cast<char>(kXon)));
    }
  }

  sim::TimePoint wakeAt() const override {
    if (opt_.rate <= 0) return sim::TimePoint::max();
    // Wake when a few milliseconds' worth of bytes may be taken.
    double need = std::max(1.0, std::min(burst(), static_cast<double>(opt_.rate) * 0.005)) - budget_;
    auto wait = std::chrono::duration<double>(std::max(need, 0.0) / static_cast<double>(opt_.rate));
    return lastRefill_ + std::chrono::duration_cast<sim::Clock::duration>(wait);
  }

  // The connection is gone: a stretch it carried is lost, and so is a
  // command not yet finished.
  void linkDown(sim::Session& s) override {
    flushGarbage(s);
    if (inData_) decoder_.report(s, false);
    inData_ = false;
    token_.clear();
  }

  void finished(sim::Session& s) override {
    flushGarbage(s);
    if (!token_.empty()) s.log().line("partial " + sim::escape(token_));
    if (inData_) decoder_.report(s, false);
  }

 private:
  double burst() const { return static_cast<double>(opt_.rate) * 0.05 + 1; }

  void byte(sim::Session& s, uint8_t b) {
    if (inData_) {
      ++byteCount_;
      byteSum_ += b;
      if (!decoder_.take(s, b)) stretchEnd(s);
      return;
    }
    if ((b >= '0' && b <= '9') || b == ',') {
      flushGarbage(s);
      if (token_.size() >= 64) {
        garbage_ += token_;
        token_.clear();
      }
      token_ += static_cast<char>(b);
      return;
    }
    if (b >= 'a' && b <= 'z') {
      flushGarbage(s);
      command(s, static_cast<char>(b));
      return;
    }
    // Anything else ends an unfinished command, which is then not one.
    if (!token_.empty()) {
      garbage_ += token_;
      token_.clear();
    }
    if (b == ' ' || b == '\r' || b == '\n' || b == '\t') return;
    if (b == kStretchEnd) {
      flushGarbage(s);
      s.log().line("lone-end");
      s.reply("~in_monitor ");
      return;
    }
    garbage_ += static_cast<char>(b);
  }

  void flushGarbage(sim::Session& s) {
    if (garbage_.empty()) return;
    s.log().line("garbage " + sim::hex(garbage_));
    garbage_.clear();
  }

  // The single argument of a command, when it has exactly one.
  bool singleArg(long long& v) const {
    if (token_.empty() || token_.find(',') != std::string::npos) return false;
    size_t i = token_.find_first_not_of('0');
    std::string_view digits = i == std::string::npos ? std::string_view("0") : std::string_view(token_).substr(i);
    return sim::parseInt(digits, 0, 999999999999LL, v);
  }

  void command(sim::Session& s, char letter) {
    std::string text = token_ + letter;
    s.log().line("cmd " + text);
    long long arg = -1;
    bool one = singleArg(arg);
    token_.clear();
    char buf[96];
    if (letter == 'j' && one && arg == 973) {
      inData_ = true;
      decoder_.start(++stretches_);
    } else if (letter == 'o' && one && arg == 19) {
      s.reply("inkjet_sim version 1\r\n");
    } else if (letter == 't' && one && arg == 12) {
      std::pair<int, int> t = opt_.temps.empty() ? std::pair<int, int>{30, 30}
                                                 : opt_.temps[std::min(tempIndex_, opt_.temps.size() - 1)];
      ++tempIndex_;
      snprintf(buf, sizeof buf, "W:%d C:%d\r\n", t.first, t.second);
      s.reply(buf);
    } else if (letter == 'n' && one && arg == 6) {
      uint32_t pin = opt_.iopins[std::min(pinIndex_, opt_.iopins.size() - 1)];
      ++pinIndex_;
      snprintf(buf, sizeof buf, "IOPIN = %08X\r\npulses=%lld \r\n", pin, opt_.pulses);
      s.reply(buf);
    }
    fire(s, Event::Command, 0, text);
  }

  void stretchEnd(sim::Session& s) {
    inData_ = false;
    decoder_.report(s, true);
    s.log().linef("bytes count=%llu sum=%llu", byteCount_, byteSum_);
    s.reply("~in_monitor ");
    fire(s, Event::Stretch, stretches_, "");
  }

  void fire(sim::Session& s, Event::When when, long long stretch, const std::string& token) {
    for (Event& e : opt_.events) {
      if (e.fired || e.when != when) continue;
      if (when == Event::Stretch && e.stretch != stretch) continue;
      if (when == Event::Command && e.token != token) continue;
      e.fired = true;
      s.log().line("event " + e.name);
      if (e.downMs >= 0) {
        s.hangUp(e.downMs);
        continue;
      }
      if (e.name == "restart") {
        if (inData_) decoder_.report(s, false);
        inData_ = false;
        token_.clear();
        s.log().line("restart");
      }
      s.reply(eventText(e.name));
    }
  }

  Options& opt_;
  Decoder decoder_;
  bool inData_ = false;
  std::string token_;
  std::string garbage_;
  long long stretches_ = 0;
  unsigned long long byteCount_ = 0;
  unsigned long long byteSum_ = 0;
  size_t tempIndex_ = 0;
  size_t pinIndex_ = 0;
  bool xoffSent_ = false;
  double budget_ = 0;
  sim::TimePoint lastRefill_ = sim::Clock::now();
};

bool parseEvent(const std::string& text, Event& e, bool linkDown = false) {
  size_t at = text.find('@');
  if (at == std::string::npos) return false;
  e.name = text.substr(0, at);
  if (linkDown) {
    long long ms = 0;
    if (!sim::parseInt(e.name, 0, 600000, ms)) return false;
    e.downMs = static_cast<int>(ms);
    e.name = "link-down";
  } else if (!eventText(e.name)) {
    return false;
  }
  std::string when = text.substr(at + 1);
  if (when == "connect") {
    e.when = Event::Connect;
    return true;
  }
  if (when.rfind("stretch:", 0) == 0) {
    e.when = Event::Stretch;
    return sim::parseInt(when.substr(8), 1, 1LL << 40, e.stretch);
  }
  if (when.rfind("cmd:", 0) == 0) {
    e.when = Event::Command;
    e.token = when.substr(4);
    return !e.token.empty();
  }
  return false;
}

bool parseArgs(int argc, char** argv, Options& opt, std::string& err) {
  for (int i = 1; i < argc && err.empty(); ++i) {
    std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      fputs(kUsage, stdout);
      exit(0);
    }
    if (sim::parseCommonOption(argc, argv, i, opt.common, err)) continue;
    if (a == "--log-columns") {
      opt.logColumns = true;
      continue;
    }
    if (i + 1 >= argc) {
      err = "unknown option or missing value: " + std::string(a);
      break;
    }
    std::string v = argv[i + 1];
    ++i;
    if (a == "--rate") {
      if (!sim::parseInt(v, 1, 1LL << 32, opt.rate)) err = "--rate needs a byte count per second from 1 up";
    } else if (a == "--xoff-high") {
      if (!sim::parseInt(v, 1, 1LL << 30, opt.xoffHigh)) err = "--xoff-high needs a byte count from 1 up";
    } else if (a == "--xon-low") {
      if (!sim::parseInt(v, 0, 1LL << 30, opt.xonLow)) err = "--xon-low needs a byte count";
    } else if (a == "--temps") {
      long long w = 0, c = 0;
      size_t comma = v.find(',');
      if (comma == std::string::npos || !sim::parseInt(v.substr(0, comma), -999, 9999, w) ||
          !sim::parseInt(v.substr(comma + 1), -999, 9999, c))
        err = "--temps needs W,C (two whole numbers)";
      else
        opt.temps.emplace_back(static_cast<int>(w), static_cast<int>(c));
    } else if (a == "--iopin") {
      char* end = nullptr;
      errno = 0;
      unsigned long p = strtoul(v.c_str(), &end, 16);
      if (v.empty() || v.size() > 8 || *end != '\0' || errno != 0)
        err = "--iopin needs up to eight hexadecimal digits";
      else
        opt.iopins.push_back(static_cast<uint32_t>(p));
    } else if (a == "--pulses") {
      if (!sim::parseInt(v, 0, 1LL << 40, opt.pulses)) err = "--pulses needs a count";
    } else if (a == "--link-down") {
      Event e;
      if (!parseEvent(v, e, true))
        err = "--link-down needs MS@WHEN, e.g. 3000@stretch:5 (" + v + ")";
      else
        opt.events.push_back(e);
    } else if (a == "--event") {
      Event e;
      if (!parseEvent(v, e))
        err = "--event needs NAME@WHEN, e.g. hopper@stretch:3 (" + v + ")";
      else
        opt.events.push_back(e);
    } else {
      err = "unknown option " + std::string(a);
    }
  }
  if (err.empty()) err = sim::checkCommonOptions(opt.common);
  if (err.empty() && opt.xoffHigh > 0 && opt.xonLow >= opt.xoffHigh) err = "--xon-low must be below --xoff-high";
  if (err.empty() && opt.xoffHigh <= 0 && opt.xonLow > 0) err = "--xon-low needs --xoff-high";
  for (const Event& e : opt.events)
    if (err.empty() && e.downMs >= 0 && opt.common.usePty) err = "--link-down needs --port (a TCP link)";
  if (opt.iopins.empty()) opt.iopins = {0x00000000u, 0x00000001u};
  return err.empty();
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  std::string err;
  if (!parseArgs(argc, argv, opt, err)) {
    fprintf(stderr, "inkjet_sim: %s\n%s", err.c_str(), kUsage);
    return 2;
  }
  sim::installSignalHandlers();
  sim::Log log;
  if (!opt.common.logPath.empty() && !log.open(opt.common.logPath)) {
    fprintf(stderr, "inkjet_sim: cannot write the log %s: %s\n", opt.common.logPath.c_str(), strerror(errno));
    return 1;
  }
  sim::Session session(opt.common, log);
  if (!session.open(err)) {
    fprintf(stderr, "inkjet_sim: %s\n", err.c_str());
    log.line("end error");
    return 1;
  }
  Inkjet machine(opt);
  return sim::exitStatus(session.run(machine));
}
