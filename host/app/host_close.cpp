// Window geometry keeping, the close sequence and the unattended goodbye.
#include "host/app/host.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

namespace ph {

void Host::FormResize() {
  core.timers.Sizing->stop();
  core.timers.Sizing->start();
}

void Host::MovecheckTimerTimer() {
  const WindowGeometry g = core.ui.windowGeometry();
  if (lastWindowLeft_ != -9999 && (g.left != lastWindowLeft_ || g.top != lastWindowTop_)) FormResize();
  lastWindowLeft_ = g.left;
  lastWindowTop_ = g.top;
}

void Host::SizingTimerTimer() {
  // The window's layout keeps the log fitted; the timer only runs once.
  core.timers.Sizing->stop();
}

void Host::KeepForm1Click() {
  const WindowGeometry g = core.ui.windowGeometry();
  core.s.FormPosition = {g.left, g.top, g.width, g.height};
  core.settingsModified = true;
}

bool Host::FormCloseQuery() {
  if (!core.s.IniAutoSave && core.settingsModified && core.s.queryIniSave) {
    switch (core.ui.askYesNoCancel("Confirm", "Save Ini File")) {
      case OperatorUi::Answer::Yes: settingsFiles.saveini1Click(); break;
      case OperatorUi::Answer::Cancel: return false;
      case OperatorUi::Answer::No: break;
    }
  }
  core.logStamped("close");
  core.closingDown = true;
  core.timers.Movecheck->stop();
  const std::string logName = core.progDir + "prismhost.log";
  if (!fileExists(logName)) core.writeTextFile("prismhost.log", "log file:\r\n");
  if (fileExists(logName)) {
    std::string text = replaceAll(core.Memo1.text(), "\r\r", " \r");
    // replaceAll stops after 99 replacements; a long log may have more.
    for (auto p = text.find("\r\r"); p != std::string::npos; p = text.find("\r\r", p)) text[p] = ' ';
    if (FilePtr f = core.openFile(logName, "ab")) {
      text += "\r\n";
      std::fwrite(text.data(), 1, text.size(), f.get());
    }
  }
  // The open job file and the jetting-unit command queue belong to the
  // machine links, which close them when they are torn down.
  return true;
}

void Host::goodbye() {
  if (links) links->openMarlin();
  const std::string running = links ? links->gcodeSequence() : "";
  std::string seq = running.empty() ? core.s.goodbyecode : running + "/" + core.s.goodbyecode;
  for (std::string rest = seq; !rest.empty();) {
    std::string code = popToken(rest, '/');
    if (code.compare(0, 3, "G4 ") == 0 && core.conveyerTime > 0) code = plat::format("G4 P%d", core.conveyerTime);
    if (links) links->sendGcode(code);
  }
  core.timers.LeaveProgram->start();
}

void Host::LeaveProgramTimerTimer() {
  if (leaveTicks_ == 1000) core.ui.closeMainWindow();
  if (leaveTicks_ < 20) {
    ++leaveTicks_;
    if (!links || links->allLinesAcknowledged()) {
      leaveTicks_ = 1000;  // the window closes on the next tick
      if (links) {
        links->closeSerialLinks();
        links->stopMarlinTimer();
      }
    }
  } else {
    // After 20 ticks without every acknowledgement, or on the tick that
    // closed the window: an unacknowledged program stays open.
    leaveTicks_ = 0;
    core.timers.LeaveProgram->stop();
  }
}

}  // namespace ph
