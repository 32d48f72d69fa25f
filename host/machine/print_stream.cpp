// The print's data stream to the jetting unit, the watchdog over both
// machines and the progress display.
#include <algorithm>

#include "host/machine/print_names.h"
#include "host/machine/print_sequencer.h"
#include "host/machine/unit_codes.h"

namespace ph {

// ---------------------------------------------------------------- the unit's link

void PrintSequencer::countDataByte(std::uint8_t b) {
  ++ink_.inkByteCount;
  ink_.inkCheckSum += b;
}

void PrintSequencer::sendStretchEnd() {
  // The end byte counts as data when it closes a pass whose data is open;
  // alone it only asks the unit for its acknowledgement.
  if (run.dataOpen && !dryRun_) countDataByte(unit::kStretchEnd);
  run.dataOpen = false;
  ink_.sendInk(std::string(1, char(unit::kStretchEnd)));
}

void PrintSequencer::sendStopCodes() {
  if (run.dataOpen && !dryRun_) countDataByte(unit::kStretchEnd);
  run.dataOpen = false;
  ink_.sendInkPending(unit::kStopCodes);
}

void PrintSequencer::closeOpenPass() {
  if (transfer_->enabled()) return;
  if (run.dataOpen) sendStretchEnd();
  else ink_.closeOpenPass();
}

bool PrintSequencer::gateOpen() const {
  return marlin_.Marlinlin - 1 <= marlin_.nrMarlinok && run.inkStretchesSent - 2 <= ink_.inkStretchesDone &&
         !transfer_->enabled();
}

bool PrintSequencer::unitLinkUp() {
  if (!ink_.inkLinkOpen || ink_.connected()) {
    if (run.unitWaitSaid) core_.memoPrintf("%s", "jetting unit connected again: the print goes on");
    run.unitWaitSaid = false;
    return true;
  }
  const std::int64_t now = core_.clock.tickMs();
  if (!run.unitWaitSaid) {
    run.unitWaitSaid = true;
    run.lastReconnect = now;
    core_.memoPrintf("%s", "jetting unit not connected: the print waits for it");
  }
  if (now - run.lastReconnect >= 1000) {
    run.lastReconnect = now;
    ink_.reconnect();
  }
  return false;
}

// ---------------------------------------------------------------- record data

void PrintSequencer::dropRecordData(int block, long long keep) {
  std::uint8_t buf[512];
  while (records_.isOpen() && run.bytesLeft > keep) {
    const int n = int(std::min<long long>({run.bytesLeft - keep, block, static_cast<long long>(sizeof buf)}));
    const std::size_t got = records_.readData(buf, std::size_t(n));
    if (got == 0) {
      endOnBrokenFile(plat::format("%s ends inside a stretch record (%lld bytes missing)", dmcName(), run.bytesLeft));
      return;
    }
    run.bytesLeft -= static_cast<long long>(got);
  }
}

void PrintSequencer::endOnBrokenFile(const std::string& why) {
  core_.memoPrintf("%s: the print ends", why);
  run.bytesLeft = 0;
  markAborted();
}

// ---------------------------------------------------------------- streaming

void PrintSequencer::streamStretchData() {
  plat::Timer& timer = *transfer_;
  Guard guard(transferNesting_, core_, timer);
  if (run.bytesLeft < 1) {
    // The stream is out of the file; the end byte follows once the line
    // has sent the rest.
    if (ink_.outputQueueCount() > 0) {
      timer.start();
      return;
    }
    timer.stop();
    if (run.dataOpen && !dryRun_) countDataByte(unit::kStretchEnd);
    run.dataOpen = false;
    const std::uint8_t end = unit::kStretchEnd;
    if (!core_.closingDown) ink_.inkWrite(&end, 1);
    return;
  }
  if (ink_.deliveryFailed() && !dryRun_ && menuChecked(print_names::kUnitLink)) {
    stopNow(ink_.deliveryFailure() + ": jetting data was lost, the print stops");
    return;
  }
  // While data is left the timer runs, also through ticks that cannot send
  // (held off, queue full), so the stream always resumes.
  timer.start();
  const bool cts = ink_.activeLink().cts();
  if (!core_.s.XonXoffMode) paintXoffLamp(cts);
  if (!records_.isOpen()) {
    endOnBrokenFile(plat::format("%s is not open while a stretch streams", dmcName()));
    return;
  }
  if (ink_.xoffHeld || ink_.outputQueueCount() >= 100 || !(cts || core_.s.XonXoffMode)) return;
  std::uint8_t buf[512];
  const int n = int(std::min<long long>(run.bytesLeft, 512));
  const std::size_t got = records_.readData(buf, std::size_t(n));
  if (got == 0) {
    endOnBrokenFile(plat::format("%s ends inside a stretch record (%lld bytes missing)", dmcName(), run.bytesLeft));
    return;
  }
  run.bytesLeft -= static_cast<long long>(got);
  if (core_.closingDown) return;
  for (std::size_t i = 0; i < got; ++i) countDataByte(buf[i]);
  ink_.inkWrite(buf, int(got));
}

void PrintSequencer::paintXoffLamp(bool cts) {
  if (Control* lamp = core_.controls.find(print_names::kXoffLamp)) {
    const std::string colour = cts ? "white" : "black";
    if (lamp->caption != colour) lamp->setCaption(colour);
  }
}

// ---------------------------------------------------------------- watchdog

void PrintSequencer::checkMachineAnswers() {
  plat::Timer& busy = *busyWatchdog_;
  busy.stop();
  if (!ticking()) return;
  marlin_.reconnectIfDown();
  // No step for 10 s. Machines that still answer (a busy keep-alive is an
  // answer), or a code that keeps the machine quiet on purpose, are waited
  // for.
  const long long marks[4] = {marlin_.nrMarlinok, marlin_.repliesSeen, ink_.inkStretchesDone, ink_.inkByteCount};
  const bool moved = !std::equal(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  std::copy(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  if (moved || core_.clock.tickMs() < marlin_.quietUntilMs) {
    poked_ = false;
    busy.start();
    return;
  }
  // A line or its "ok" may have been lost on the way: the machine's answer
  // to the oldest line without one says which.
  if (!poked_ && marlin_.repliesSeen > 0 && marlin_.pokeUnacknowledged()) {
    poked_ = true;
    busy.start();
    return;
  }
  // A machine that says nothing leaves the print paused, where the
  // operator can see it and go on.
  if (marlin_.repliesSeen == 0 && !marlin_.allLinesAcknowledged())
    pauseNow(plat::format("the machine never answered since its link opened (%d G-code lines sent): print paused",
                          marlin_.Marlinlin));
  else
    pauseNow(plat::format(
        "no answer for %d s: print paused (G-code lines %d of %d acknowledged, stretches %d of %d done)",
        busy.interval() / 1000, marlin_.nrMarlinok, marlin_.Marlinlin, ink_.inkStretchesDone, run.inkStretchesSent));
}

void PrintSequencer::resumeWatchdog() {
  const long long marks[4] = {marlin_.nrMarlinok, marlin_.repliesSeen, ink_.inkStretchesDone, ink_.inkByteCount};
  std::copy(std::begin(marks), std::end(marks), std::begin(watchMarks_));
  poked_ = false;
  restartBusyWatchdog();
}

void PrintSequencer::restartBusyWatchdog() {
  busyWatchdog_->stop();
  busyWatchdog_->start();
}

// ---------------------------------------------------------------- progress

void PrintSequencer::showPrintProgress(int step) {
  const Settings& s = core_.s;
  const long long perLayer = layout_.stretchesPerLayer + s.prepstretches + 1;
  const long long whole = (layout_.printpages - s.startinglayer) * perLayer;
  // A job of no layers to print (printpages at startinglayer) has made no
  // progress, rather than a division by zero.
  const long long p = whole != 0 ? ((run.printLayer - s.startinglayer) * perLayer + step) * 10000 / whole : 0;
  core_.controls.at(print_names::kStretchLabel).setCaption(plat::format("%d/%d", run.stretchesRead, layout_.dmcStretchCount));
  std::string line = plat::format("%d/%d   (%d%%)", run.printLayer, layout_.printpages, int(p / 100));
  // Below 1 % the time so far says nothing yet about the time left.
  if (p > 100) {
    const long long ran = (core_.clock.tickMs() - run.progressStartTick - run.pausedMs) / 1000;
    const long long eta = std::clamp(10000 - p, 0LL, 9999LL) * ran / p;
    line += plat::format(" eta: %d min %02d s", int(eta / 60), int(eta % 60));
  }
  Control& label = core_.controls.at(print_names::kProgressLabel);
  // The window's progress bar and title read the percentage here.
  label.tag = int(p / 100);
  label.setCaption(line);
}

}  // namespace ph
