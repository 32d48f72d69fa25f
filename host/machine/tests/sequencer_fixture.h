#pragma once
// The print sequencer over fake links on the manual clock, with a
// hand-built .dmc in a temporary work folder. Machines that answer are
// played by the fixture: every G-code line gets "ok", every end byte its
// "~in_monitor ", as the unit answers (a pass's end and a lone one alike).
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/jobdata/dmc_records.h"
#include "host/machine/motion.h"
#include "host/machine/print_sequencer.h"
#include "host/machine/tests/link_fixture.h"

namespace ph {

struct FakeStayAwake : plat::StayAwake {
  int requests = 0, releases = 0;
  bool held = false;
  void request() override {
    if (held) return;
    held = true;
    ++requests;
  }
  void release() override {
    if (!held) return;
    held = false;
    ++releases;
  }
};

// The other subsystems as the sequencer sees them: they do nothing but
// count, and the alignment entry runs what a test puts there.
struct RecordingSequencerSteps : SequencerSteps {
  bool shortOn = false, fastOn = false;
  bool meshAborted = false;
  int primeChecks = 0;
  int primeTravelMs = -1;
  std::function<void()> onBestMatch = [] {};
  void convertPattern() override {}
  void startLayerPrimeCheck(int travelMs) override {
    ++primeChecks;
    primeTravelMs = travelMs;
  }
  bool shortStretches() const override { return shortOn; }
  bool fastStretches() const override { return fastOn; }
  void enterBestMatch() override { onBestMatch(); }
  void abortMeshTools() override { meshAborted = true; }
  void signalCamera() override {}
  void clearActionMenu() override {}
  // What the Host wires to the ink controls and the machine actions; a
  // test that has them puts them here.
  std::function<void()> onStopPrimeCheck = [] {};
  std::function<void()> onStopHoldingHead = [] {};
  std::function<void()> onStopPowderLayers = [] {};
  void stopPrimeCheck() override { onStopPrimeCheck(); }
  void stopHoldingHead() override { onStopHoldingHead(); }
  void stopPowderLayers() override { onStopPowderLayers(); }
};

// One stretch record: type, powder code (two characters) and data.
struct Record {
  char type;
  std::string code;
  std::string data;
};

inline std::string recordBytes(const Record& r) {
  char h[16];
  std::snprintf(h, sizeof h, "\xBF%c%c%06d%c", r.code[0], r.code[1], int(r.data.size() + 10), r.type);
  return std::string(h, 10) + r.data;
}

// A whole .dmc: magic, offset, the settings record, the records and the
// closing placeholder.
inline std::string dmcBytes(const std::vector<Record>& records, int printpages) {
  DmcHeader header;
  header.printpages = printpages;
  const auto body = header.toBytes();
  std::string s("DMC\0", 4);
  const std::int32_t offset = kDmcDataOffset;
  s.append(reinterpret_cast<const char*>(&offset), 4);
  s.append(reinterpret_cast<const char*>(body.data()), body.size());
  for (const Record& r : records) s += recordBytes(r);
  return s + std::string(kPlaceholderHeader, kStretchHeaderBytes);
}

// Bytes made legible: printable text as it is, any other byte as <XX>,
// a run of more than three equal bytes as <XX*n>.
inline std::string legible(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size();) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t n = 1;
    while (i + n < s.size() && s[i + n] == s[i]) ++n;
    const bool text = b >= 32 && b < 127;
    if (n > 3 && !text) {
      out += plat::format("<%02X*%d>", int(b), int(n));
      i += n;
      continue;
    }
    out += text ? std::string(1, char(b)) : plat::format("<%02X>", int(b));
    ++i;
  }
  return out;
}

inline void addSequencerControls(Controls& c) {
  using K = Control::Kind;
  for (const char* n : {"btStart", "btAbort"}) c.add(K::Button, n, n);
  for (const char* n : {"LabStretch", "perclabel"}) c.add(K::Label, n, "");
  c.add(K::Shape, "xofflamp", "");
  for (const char* n : {"debugroute1", "detour1", "powder2", "multiPowderlayer1"})
    c.add(K::MenuItem, n, n, "options1").checkable = true;
}

struct SequencerFixture : LinkFixture, MarlinEvents {
  FakeSerial marlinPort;
  FakeSocket marlinSocket;
  bool controlsAdded = (addSequencerControls(core.controls), true);
  RecordingEvents machineEvents;
  JettingLink ink{core, files, serial, socket, machineEvents};
  bool codesToLink = (core.sendUnitCodesTo(ink), true);
  MarlinLink marlin{core, marlinPort, marlinSocket, *this};
  JobState job{core};
  JobLayout layout{core, job};
  MotionControls motion{core, marlin, ink};
  FakeStayAwake awake;
  bool temprTestActive = false;
  int savedStartingLayer = -11;
  RecordingSequencerSteps printSteps;
  PrintSequencer seq{core, job, layout, ink, marlin, motion, awake, {temprTestActive, savedStartingLayer}, printSteps};
  std::string dir;

  // The Marlin link's events go where the Host sends them: the sequencer's
  // tick and watchdog; the home sequence's pace to whoever has one.
  std::function<void(int ms)> onHomePace = [](int) {};
  void linesLost(const std::string& why) override { seq.linesLost(why); }
  void linkOpened() override { seq.restartBusyWatchdog(); }
  bool holdPrintTick() override { return seq.holdTicking(); }
  void releasePrintTick(bool wasTicking) override { seq.releaseTicking(wasTicking); }
  void setHomePace(int ms) override { onHomePace(ms); }

  // The machines answer (see above).
  bool marlinAnswers = true;
  bool unitAnswers = true;
  // The machine checks line numbers as the firmware does: a line that is
  // not the next one is refused with "Resend:" (M110 is always taken).
  bool marlinChecksNumbers = false;
  long long marlinExpects = 1;
  // Codes that keep the machine busy (a dwell that takes its time): from
  // one of them on, no "ok" comes until releaseOks().
  std::vector<std::string> silentCodes;
  int heldOks = 0;
  // Numbers (1-based) of the "ok"s that are lost on the way back.
  std::vector<int> lostOks;
  int oksSent = 0;
  std::size_t marlinSeen = 0, inkSeen = 0;
  std::vector<std::string> gcodes;  // every numbered line's code, in order
  std::string inkStream;            // every byte written to the unit
  // The unit's reading of the stream: in pass data, literal bytes to skip,
  // the command digits read.
  bool unitInData = false;
  int unitLiteral = 0;
  std::string unitToken;
  int unitEnds = 0;  // end bytes read and answered

  SequencerFixture() {
    char name[] = "/tmp/seqXXXXXX";
    if (!mkdtemp(name)) throw std::runtime_error("mkdtemp");
    dir = name;
    core.workDir = dir + "/";
    Settings& s = core.s;
    // A small, plain job geometry.
    s.prepstretches = 0;
    s.bridgelayers = false;
    s.nopowderstretches = 0;
    s.powderPercentage = -1;  // the shaker time is powdertime
    s.layerMorePowder = 0;
    s.jumpmicrons = 0;
    s.XonXoffMode = false;
    core.controls.at("connectcheck1").checked = false;
    core.controls.at("temprcontrol1").checked = false;
    layout.stretchesPerLayer = 3;
    layout.printpages = 2;
    job.jobReady = true;
    job.dmcCurrent = true;
    job.jobFileName = "model.stl";
    ui.display = false;
    machineEvents.askGcodeOnly = [this] { return seq.events.gcodeOnlyRun(); };
    machineEvents.askTicking = [this] { return seq.ticking(); };
    machineEvents.askStreaming = [this] { return seq.streaming(); };
  }
  ~SequencerFixture() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  void writeDmc(const std::string& bytes) {
    std::ofstream f(dir + "/temp.dmc", std::ios::binary);
    f << bytes;
  }
  // Both links open and settled, nothing written yet.
  void openLinks() {
    core.controls.at("cb_comm").checked = true;
    ink.applyLinkSwitch();
    marlin.openMarlin();
    clock.advance(200);
    serial.take();
    marlinPort.take();
    marlin.nrMarlinok = marlin.Marlinlin;
  }
  void collect() {
    std::string m = marlinPort.take();
    for (std::size_t p; (p = m.find('\r')) != std::string::npos; m.erase(0, p + 1)) {
      std::string line = m.substr(0, p);
      if (line.empty()) continue;
      // "N<n> <code> *<sum>"
      const long long number = std::atoll(line.c_str() + 1);
      line = line.substr(line.find(' ') + 1);
      line = line.substr(0, line.rfind(" *"));
      if (marlinChecksNumbers && number != marlinExpects && line.rfind("M110", 0) != 0) {
        if (marlinAnswers)
          marlinPort.reply(plat::format("Error:Line Number is not Last Line Number+1, Last Line: %lld\nResend: %lld\nok\n",
                                        marlinExpects - 1, marlinExpects));
        continue;
      }
      marlinExpects = number + 1;
      gcodes.push_back(line);
      if (!marlinAnswers) continue;
      if (heldOks > 0 || std::find(silentCodes.begin(), silentCodes.end(), line) != silentCodes.end()) {
        ++heldOks;
        continue;
      }
      if (std::find(lostOks.begin(), lostOks.end(), ++oksSent) != lostOks.end()) continue;
      marlinPort.reply("ok\n");
    }
    inkStream += serial.take();
    // A unit that does not answer yet reads on later.
    if (!unitAnswers) return;
    for (; inkSeen < inkStream.size(); ++inkSeen) {
      const auto b = static_cast<unsigned char>(inkStream[inkSeen]);
      bool end = false;
      if (unitInData) {
        if (unitLiteral > 0) --unitLiteral;
        else if (b == 0xBF) end = true, unitInData = false;
        else if (b >= 0x81 && b <= 0xBC) unitLiteral = b - 0x80;
        else if (b >= 0xC0) unitLiteral = 1;
      } else if ((b >= '0' && b <= '9') || b == ',') {
        unitToken += char(b);
      } else {
        if (b == 'j' && unitToken == "973") unitInData = true, unitLiteral = 0;
        end = b == 0xBF;
        unitToken.clear();
      }
      if (!end) continue;
      ++unitEnds;
      serial.reply("~in_monitor ");
    }
  }
  // The busy machine is done: the "ok"s it held back come.
  void releaseOks() {
    silentCodes.clear();
    for (; heldOks > 0; --heldOks) marlinPort.reply("ok\n");
  }
  // Forgets what the unit was sent so far.
  void clearInk() {
    inkStream.clear();
    inkSeen = 0;
  }
  // Runs the clock in 10 ms steps while the machines answer.
  void run(int ms) {
    for (int t = 0; t < ms; t += 10) {
      clock.advance(10);
      collect();
    }
  }
  // Runs until the print stops (at most `limit` ms); true when it did.
  bool runToEnd(int limit = 600000) {
    for (int t = 0; t < limit; t += 10) {
      if (!core.timers.at("MarlinTimer").enabled() && !core.timers.at("inktransfer").enabled()) return true;
      clock.advance(10);
      collect();
    }
    return false;
  }
  // The G-code lines from index `from` on, joined by "|".
  std::string gcodeText(std::size_t from = 0) const {
    std::string t;
    for (std::size_t i = from; i < gcodes.size(); ++i) t += (i > from ? "|" : "") + gcodes[i];
    return t;
  }
};

}  // namespace ph
