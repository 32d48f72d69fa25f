#pragma once
// What both simulated machines share: the command-line options every
// simulator takes, the event log, the link to the one peer (a TCP connection
// on 127.0.0.1 or a pseudo-terminal) and the event loop that feeds the peer's
// bytes to a machine and writes its replies.
//
// Standard library and POSIX only: the simulators are a second, independent
// reading of the machines' protocols and share nothing with the programs they
// test.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Ms = std::chrono::milliseconds;

// Bytes as a log text: printable ASCII stays, everything else, the backslash
// and a trailing blank become \xHH, so every log line is one line of text.
std::string escape(std::string_view bytes);
// Bytes as lower-case hexadecimal, two digits each, no separators.
std::string hex(std::string_view bytes);

// The machine-readable log: one event per line, flushed at once so a test can
// read it while the simulator runs. Without a file nothing is written.
class Log {
 public:
  ~Log();
  bool open(const std::string& path);  // "-" is standard error
  void line(const std::string& text);
  __attribute__((format(printf, 2, 3))) void linef(const char* fmt, ...);

 private:
  FILE* file_ = nullptr;
};

// Options every simulator takes; the rest are left to the machine.
struct CommonOptions {
  bool usePty = false;
  int port = -1;             // --port N; 0 lets the system choose
  std::string logPath;       // --log FILE
  int replyDelayMs = 0;      // --delay MS
  int splitBytes = 0;        // --split N: replies go out in pieces of N bytes
  int splitGapMs = 10;       // --split-gap MS between the pieces
  double idleTimeoutS = 0;   // --idle-timeout S: end after S seconds without traffic
};

// Parses one common option at argv[i] (advancing i past its value). Returns
// false when the option is not a common one; sets err on a bad value.
bool parseCommonOption(int argc, char** argv, int& i, CommonOptions& opt, std::string& err);
// Checks the combination; returns an error text or "".
std::string checkCommonOptions(const CommonOptions& opt);
// Reads a decimal integer in [lo, hi]; false on anything else.
bool parseInt(std::string_view text, long long lo, long long hi, long long& out);

class Session;

// A simulated machine: takes the peer's bytes and answers through the session.
class Machine {
 public:
  virtual ~Machine() = default;
  // The peer is there (TCP accepted, or the first byte came over the pty).
  virtual void connected(Session&) {}
  // Takes bytes the machine may process now; returns how many it took. A
  // machine that is busy (a dwell, a limited rate) takes fewer and says in
  // wakeAt() when it can go on. With drain set it takes everything at once.
  virtual size_t consume(Session& s, const uint8_t* data, size_t n, TimePoint now, bool drain) = 0;
  virtual TimePoint wakeAt() const { return TimePoint::max(); }
  // After every turn of the loop that may have changed the unread input.
  virtual void inputChanged(Session&) {}
  // The peer has gone and every byte it sent was consumed.
  virtual void finished(Session&) {}
  // The link went down by the machine's own hangUp(); unread input is lost.
  virtual void linkDown(Session&) {}
};

enum class EndReason { PeerClosed, Signal, IdleTimeout, Error };

class Session {
 public:
  Session(const CommonOptions& opt, Log& log) : opt_(opt), log_(log) {}
  ~Session();

  // Opens the listening socket or the pseudo-terminal and prints the line a
  // script reads ("port N" or "pty PATH") on standard output.
  bool open(std::string& err);
  // Runs until the peer goes, a signal arrives or the idle time-out passes.
  EndReason run(Machine& m);

  // Queues a reply: after the reply delay, in pieces when splitting; replies
  // keep their order. notBefore holds it back further (a dwell's "ok").
  void reply(std::string_view bytes, TimePoint notBefore = TimePoint::min());
  // Flow-control bytes: out at once, ahead of queued replies.
  void urgent(std::string_view bytes);
  Log& log() { return log_; }
  // Bytes received and not yet taken by the machine (its unread input),
  // including what still waits in the kernel.
  size_t unread() const;
  bool isPty() const { return usePty_; }
  // A TCP link goes down once the replies queued so far are out: the
  // connection closes, connections are refused for downMs, then the next
  // one is accepted.
  void hangUp(int downMs) { hangUpMs_ = downMs; }

 private:
  struct Chunk {
    TimePoint due;
    std::string bytes;
    size_t off = 0;
  };
  bool waitForTcpPeer(EndReason& why);
  bool readInput();  // false when the peer has gone
  bool flushOutput(TimePoint now);  // false when the peer has gone
  bool writeSome(std::string& buf, size_t& off);  // false when the peer has gone
  void feed(Machine& m, TimePoint now, bool drain);
  // The hang-up asked for; false when the session ends meanwhile.
  bool linkDownAndUp(Machine& m, EndReason& why);
  bool listenAgain(std::string& err);

  const CommonOptions& opt_;
  Log& log_;
  bool usePty_ = false;
  int listenFd_ = -1;
  int fd_ = -1;
  bool connected_ = false;
  std::vector<uint8_t> in_;
  size_t inPos_ = 0;
  std::deque<Chunk> out_;
  std::string urgent_;
  size_t urgentOff_ = 0;
  TimePoint lastDue_ = TimePoint::min();
  TimePoint lastActivity_;
  int port_ = 0;
  int hangUpMs_ = -1;
};

// Installs the handlers that turn SIGTERM, SIGINT and SIGHUP into an end of
// the event loop, and ignores SIGPIPE.
void installSignalHandlers();
// Exit status for an end reason: 0 peer closed or signal, 3 idle time-out,
// 1 error.
int exitStatus(EndReason why);
const char* endName(EndReason why);

// FNV-1a, 64 bits: the digest of decoded columns in the jetting unit's log.
struct Fnv64 {
  uint64_t h = 0xcbf29ce484222325ull;
  void add(const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      h ^= p[i];
      h *= 0x100000001b3ull;
    }
  }
};

}  // namespace sim
