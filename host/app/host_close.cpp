// Window geometry keeping, the close sequence and the unattended goodbye.
#include "host/app/host.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

#include <cstdio>

namespace ph {

void Host::FormResize() {
  sizing_->stop();
  sizing_->start();
}

void Host::checkWindowMoved() {
  const WindowGeometry g = core.ui.windowGeometry();
  if (lastWindowLeft_ != -9999 && (g.left != lastWindowLeft_ || g.top != lastWindowTop_)) FormResize();
  lastWindowLeft_ = g.left;
  lastWindowTop_ = g.top;
}

void Host::endSizing() {
  // The window's layout keeps the log fitted; the timer only runs once.
  sizing_->stop();
}

void Host::keepWindowPlace() {
  const WindowGeometry g = core.ui.windowGeometry();
  core.s.FormPosition = {g.left, g.top, g.width, g.height};
  core.markSettingsModified();
}

bool Host::askToClose() {
  if (closed_) return true;  // the window closes after the sequence ran
  if (!confirmWhilePrinting("close the program")) return false;
  if (!core.s.IniAutoSave && core.settingsModified() && (core.s.queryIniSave || core.settingsEditedUnsaved) &&
      !askSaveOnClose())
    return false;
  closeSequence();
  return true;
}

bool Host::confirmWhilePrinting(const std::string& action) {
  if (!sequencer.isBusy() || closeWithoutAsking_ || core.run.active() || !core.ui.hasDisplay()) return true;
  return core.ui.askYesNo("Confirm", "a print is running: " + action + " anyway?");
}

bool Host::askSaveOnClose() {
  if (closeWithoutAsking_ || core.run.active() || !core.ui.hasDisplay()) {
    // Nobody to answer, and a close that waits would never end. The
    // conversion saved its own changes already; an unattended run's
    // command-line settings are not meant to last.
    core.memoPrintf("the changed settings were not saved: closing without asking");
    return true;
  }
  switch (core.ui.askYesNoCancel("Confirm", "Save Ini File")) {
    case OperatorUi::Answer::Yes:
      if (settingsFiles.saveAskedByOperator()) return true;
      if (core.ui.hasDisplay()) {
        core.ui.showMessage("the settings were not saved: the program stays open");
        return false;
      }
      core.memoPrintf("the settings were not saved: the old settings file %s was kept", core.s.settingsFile);
      return true;
    case OperatorUi::Answer::Cancel: return false;
    case OperatorUi::Answer::No: return true;
  }
  return true;
}

void Host::closeSequence() {
  closed_ = true;
  core.logStamped("close");
  core.closingDown = true;
  moveCheck_->stop();
  if (!appendOperatorLog()) core.run.fail("cannot write prismhost.log");
  // The open job file and the jetting-unit command queue belong to the
  // machine links, which close them when they are torn down.
}

bool Host::appendOperatorLog() {
  const std::string logName = core.progDir + "prismhost.log";
  if (!fileExists(logName) && !core.writeTextFile("prismhost.log", "log file:\r\n")) return false;
  if (!fileExists(logName)) return true;  // the log lives in the program folder only
  std::string text = replaceAll(core.Memo1.text(), "\r\r", " \r");
  // replaceAll stops after 99 replacements; a long log may have more.
  for (auto p = text.find("\r\r"); p != std::string::npos; p = text.find("\r\r", p)) text[p] = ' ';
  text += "\r\n";
  FilePtr f = core.openFile(logName, "ab").file;
  if (!f) return false;  // told by openFile
  const bool written = std::fwrite(text.data(), 1, text.size(), f.get()) == text.size();
  const bool closed = std::fclose(f.release()) == 0;
  if (written && closed) return true;
  // The log cannot hold this: the message goes to the operator (or stderr).
  core.ui.showMessage("unable to write to file: " + logName + " (the log of this run is incomplete)");
  return false;
}

void Host::terminate(int signal) {
  core.memoPrintf("termination request (signal %d): closing without asking", signal);
  closeWithoutAsking_ = true;
  handoff.stopSlice("the program ends");
  if (core.run.active() && !core.run.succeeded()) core.run.fail("ended by a termination request before it was done");
  else core.ui.closeMainWindow();
}

void Host::closeAfterFault(const std::string& what) {
  faulted_ = true;
  core.memoPrintf("unexpected error: %s", what);
  closeWithoutAsking_ = true;
  if (!closed_) closeSequence();
}

int Host::exitStatus() const { return faulted_ ? 1 : core.run.exitStatus(); }

void Host::goodbye() {
  if (!confirmWhilePrinting("say goodbye")) return;
  if (links) links->openMarlin();
  const std::string running = links ? links->gcodeSequence() : "";
  std::string seq = running.empty() ? core.s.goodbyecode : running + "/" + core.s.goodbyecode;
  for (std::string rest = seq; !rest.empty();) {
    std::string code = popToken(rest, '/');
    if (code.compare(0, 3, "G4 ") == 0 && core.conveyerTime > 0) code = plat::format("G4 P%d", core.conveyerTime);
    if (links) links->sendGcode(code);
  }
  goodbyeWait_->start();
}

void Host::stepGoodbye() {
  if (leaveTicks_ == 1000) {
    // Every line acknowledged: an unattended run's goodbye ends it well.
    if (core.run.active()) core.run.succeed();
    else core.ui.closeMainWindow();
  }
  if (leaveTicks_ < 20) {
    ++leaveTicks_;
    // Halfway, a lost "ok" is settled by the machine's answer.
    if (leaveTicks_ == 10 && links && !links->allLinesAcknowledged()) links->pokeUnacknowledged();
    if (!links || links->allLinesAcknowledged()) {
      leaveTicks_ = 1000;  // the window closes on the next tick
      if (links) {
        links->closeSerialLinks();
        sequencer.stopTicking();
      }
    }
  } else {
    // After 20 ticks without every acknowledgement, or on the tick that
    // closed the window: an operator's program stays open, an unattended
    // run cannot wait for ever.
    if (leaveTicks_ != 1000) {
      if (core.run.active()) core.run.fail("the machine did not acknowledge every line of the goodbye");
      else core.memoPrintf("goodbye: the machine did not acknowledge every line in 20 s; the program stays open");
    }
    leaveTicks_ = 0;
    goodbyeWait_->stop();
  }
}

}  // namespace ph
