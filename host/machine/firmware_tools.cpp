// The firmware tools of PortTools: the jetting unit's firmware upload and the
// patch of the Marlin stepper source for the second feeder outputs.
#include "host/machine/ports.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "host/components/comm_device_names.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/machine/link_texts.h"
#include "platform/atomic_file.h"
#include "platform/process.h"

namespace ph {

namespace {

bool executable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// ---------------------------------------------------------------- stepper source

// Lines without their line feeds; a carriage return stays with its line.
std::vector<std::string> sourceLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t lf = text.find('\n', from);
    if (lf == std::string::npos) {
      lines.push_back(text.substr(from));
      break;
    }
    lines.push_back(text.substr(from, lf - from));
    from = lf + 1;
  }
  return lines;
}

std::string withoutCr(const std::string& line) {
  return !line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
}

// The axis of a define line the patch adds ("    #define Y7_DIR_PIN 38"),
// or "" for any other line.
std::string patchDefineAxis(const std::string& line) {
  const std::string l = withoutCr(line);
  const std::string head = "    #define ";
  if (l.compare(0, head.size(), head) != 0) return "";
  const std::size_t blank = l.find(' ', head.size());
  if (blank == std::string::npos || blank + 1 >= l.size()) return "";
  const std::string name = l.substr(head.size(), blank - head.size());
  for (std::size_t i = blank + 1; i < l.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(l[i])) && !(i == blank + 1 && l[i] == '-')) return "";
  for (const std::string tail : {"7_DIR_PIN", "7_STEP_PIN"})
    if (name.size() > tail.size() && name.compare(name.size() - tail.size(), tail.size(), tail) == 0)
      return name.substr(0, name.size() - tail.size());
  return "";
}

bool drivesAxisPin(const std::string& line, const std::string& axis) {
  return (line.find(axis + "_DIR_PIN") != std::string::npos || line.find(axis + "_STEP_PIN") != std::string::npos) &&
         line.find("#if") == std::string::npos && line.find("READ(") == std::string::npos;
}

std::string secondPinsCopy(const std::string& line, const std::string& axis) {
  return replaceAll(line, "(" + axis + "_", "(" + axis + "7_");
}

// A statement that names the pin without "(" stays the same when copied;
// written twice it would act twice on the first pins, so it is not copied.
bool copiedForSecondPins(const std::string& line, const std::string& axis) {
  return drivesAxisPin(line, axis) && secondPinsCopy(line, axis) != line;
}

// ---------------------------------------------------------------- files

// The old file stays whole until the new one is. "" or why not.
std::string writeFileAtomically(const std::string& path, const std::string& text) {
  std::string why;
  return plat::writeFileAtomically(path, text, why) ? "" : path + ": " + why;
}

// A regular file of at most 16 MB, whole. "" or why not.
std::string readSourceFile(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > (16 << 20)) {
    ::close(fd);
    return "not a source file";
  }
  text.clear();
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int e = errno;
      ::close(fd);
      return std::strerror(e);
    }
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return "";
}

}  // namespace

// ---------------------------------------------------------------- stepper patch

std::string unpatchStepperSource(const std::string& source) {
  const std::vector<std::string> lines = sourceLines(source);
  std::string axis;
  for (const std::string& l : lines)
    if (axis.empty()) axis = patchDefineAxis(l);
  if (axis.empty()) return source;

  // The added lines first, so each copy then follows its original directly.
  std::vector<std::string> kept;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!patchDefineAxis(lines[i]).empty()) continue;
    if (withoutCr(lines[i]) == "#undef INVERT_E0_DIR" && i + 1 < lines.size() &&
        withoutCr(lines[i + 1]) == "#define INVERT_E0_DIR true" && !kept.empty() &&
        kept.back().find("\"Marlin.h\"") != std::string::npos) {
      ++i;
      continue;
    }
    kept.push_back(lines[i]);
  }
  std::string out;
  const std::string second = "(" + axis + "7_";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0 && kept[i].find(second) != std::string::npos && copiedForSecondPins(kept[i - 1], axis) &&
        secondPinsCopy(kept[i - 1], axis) == kept[i])
      continue;
    out += kept[i] + "\n";
  }
  // A source that did not end with a line feed keeps it so.
  if (!source.empty() && source.back() != '\n' && !out.empty()) out.pop_back();
  return out;
}

std::string patchStepperSource(const std::string& source, const StepperPatch& patch) {
  const std::string& axis = patch.axis;
  const std::vector<std::string> lines = sourceLines(unpatchStepperSource(source));
  std::string out;
  bool definesAdded = false, invertAdded = false;
  for (const std::string& line : lines) {
    // Added lines end the way the file's lines end.
    const std::string eol = !line.empty() && line.back() == '\r' ? "\r\n" : "\n";
    out += line + "\n";
    if (!definesAdded && line.find("current_block") != std::string::npos) {
      definesAdded = true;
      out += plat::format("    #define %s7_DIR_PIN %d", axis, patch.dirPin) + eol;
      out += plat::format("    #define %s7_STEP_PIN %d", axis, patch.stepPin) + eol;
    }
    if (patch.invertFeeder && !invertAdded && line.find("\"Marlin.h\"") != std::string::npos) {
      invertAdded = true;
      out += "#undef INVERT_E0_DIR" + eol + "#define INVERT_E0_DIR true" + eol;
    }
    if (copiedForSecondPins(line, axis)) out += secondPinsCopy(line, axis) + "\n";
  }
  return out;
}

// ---------------------------------------------------------------- firmware upload

std::vector<std::string> PortTools::uploaderArgv(const std::string& program, const std::string& image,
                                                 const std::string& device) {
  return {program, "-hex", "-control", image, device, "115200", "14746"};
}

std::string PortTools::uploaderProgram() const {
  const std::string local = core_.progDir + kUploaderName;
  if (executable(local)) return local;
  const char* path = ::getenv("PATH");
  for (std::string rest = path ? path : ""; !rest.empty();) {
    std::string folder = popToken(rest, ':');
    if (folder.empty()) continue;
    const std::string p = folder + "/" + kUploaderName;
    if (executable(p)) return p;
  }
  return "";
}

void PortTools::confirmFirmwareUpload() {
  if (refusedWhileBusy("firmware-update")) return;
  if (core_.notConfirmed("upload firmware")) return;
  startFirmwareUpload();
}

bool PortTools::startFirmwareUpload() {
  if (refusedWhileBusy("firmware-update")) return false;
  if (firmwareUpload_->enabled() || uploaderPid_ > 0) return false;  // one runs
  const JettingLink& ink = links_.ink;
  std::string why;
  if (uploaderProgram().empty()) why = plat::format("no %s in %s or on the PATH", kUploaderName, core_.progDir);
  else if (!fileExists(core_.progDir + kFirmwareImage)) why = plat::format("no %s in %s", kFirmwareImage, core_.progDir);
  else if (!ink.inkLinkOpen || ink.inkViaSocket) why = "the jetting unit's serial link is not open";
  if (!why.empty()) {
    core_.memoPrintf("cannot update firmware: %s", why);
    core_.ui.showMessage("cannot update firmware");
    return false;
  }
  links_.ink.sendInkPending(" 1,12o115200,0o ");
  uploadStep = 0;
  closeAfterUpload_ = false;
  uploadSucceeded_ = false;
  firmwareUpload_->start();
  return true;
}

void PortTools::stepFirmwareUpload() {
  plat::Timer& timer = *firmwareUpload_;
  switch (uploadStep) {
    case 0: {
      // The host's link lets go of the port for the uploader.
      Control& box = core_.controls.at("cb_comm");
      if (box.checked) {
        box.setChecked(false);
        box.click();
      }
      break;
    }
    case 1:
      if (!startUploader()) {
        timer.stop();
        return;
      }
      break;
    case 2:
      timer.stop();
      core_.ui.showMessage("restart this programm after upload");
      // The upload may have failed while the message was shown.
      if (uploadStep != 2) return;
      timer.start();
      break;
    default:
      timer.stop();
      if (uploaderPid_ > 0) {
        core_.memoPrintf("waiting for %s to end", kUploaderName);
        closeAfterUpload_ = true;
      } else if (uploadSucceeded_) {
        core_.ui.closeMainWindow();
      }
      return;
  }
  ++uploadStep;
}

bool PortTools::startUploader() {
  int baud = 0;
  const std::string device = commDeviceNames().resolve(parseCommDevice(core_.s.CommInkDevice, baud));
  const std::vector<std::string> argv =
      uploaderArgv(uploaderProgram(), core_.progDir + kFirmwareImage, device);
  std::string line;
  for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
  core_.memoPrintf("%s", line);
  // The output goes to an unnamed file: the uploader never blocks on a
  // full pipe nor dies on a closed one, whatever the host does meanwhile.
  auto output = std::make_unique<plat::ProgramOutput>();
  const plat::SpawnResult r = plat::spawnProcess(argv, output->fd());
  if (r.pid <= 0) {
    uploaderEnded(plat::format("%s could not be started (%s)", argv[0], std::strerror(r.error)));
    return false;
  }
  uploaderPid_ = r.pid;
  uploaderOutput_ = std::move(output);
  uploadDeadline_ = core_.clock.tickMs() + kUploadLimitMs;
  uploadWatch_->start();
  return true;
}

void PortTools::readUploaderOutput(bool all) {
  if (!uploaderOutput_) return;
  for (const std::string& line : uploaderOutput_->newLines(all)) core_.memoPrintf("%s", line);
}

void PortTools::watchUploader() {
  readUploaderOutput(false);
  if (uploaderPid_ <= 0) {
    uploadWatch_->stop();
    return;
  }
  if (const auto status = plat::waitProcess(uploaderPid_, 0)) {
    uploaderPid_ = -1;
    readUploaderOutput(true);
    if (*status != 0) {
      uploaderEnded(plat::format("%s ended with status %d", kUploaderName, *status));
      return;
    }
    uploaderEnded("");
    return;
  }
  if (core_.clock.tickMs() < uploadDeadline_) return;
  plat::stopProcessGroup(uploaderPid_, 2000);
  uploaderPid_ = -1;
  readUploaderOutput(true);
  uploaderEnded(plat::format("%s timed out after %d s and was stopped", kUploaderName, kUploadLimitMs / 1000));
}

void PortTools::uploaderEnded(const std::string& failure) {
  uploadWatch_->stop();
  uploaderOutput_.reset();
  if (failure.empty()) {
    uploadSucceeded_ = true;
    core_.memoPrintf("%s", "firmware upload finished");
    if (closeAfterUpload_) core_.ui.closeMainWindow();
    return;
  }
  // The program stays open, so the operator sees why in the log.
  firmwareUpload_->stop();
  uploadStep = 0;
  closeAfterUpload_ = false;
  core_.memoPrintf("firmware upload failed: %s", failure);
  core_.ui.showMessage("firmware upload failed: " + failure);
}

// ---------------------------------------------------------------- stepper patch

void PortTools::askStepperPatch() {
  if (core_.notConfirmed("update marlin stepper.cpp for dual outputs")) return;
  if (!fileExists(core_.progDir + "stepper.cpp")) {
    core_.ui.showMessage("no inputfile stepper.cpp \n(copy from marlin to prismbay folder)");
    return;
  }
  StepperPatch p;
  p.stepPin = core_.evalIntExpr(core_.askText("input", "second_step_pin", "30"));
  p.dirPin = core_.evalIntExpr(core_.askText("input", "second_dir_pin", "38"));
  p.invertFeeder = core_.evalIntExpr(core_.askText("input", "invert_feeder_dir", "0")) != 0;
  const auto axis = core_.ui.inputBox("input", "duplicate_direction", "Y");
  p.axis = axis ? *axis : "Y";
  for (char& c : p.axis) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  patchStepperFile(p);
}

bool PortTools::patchStepperFile(const StepperPatch& patch) {
  const std::string input = core_.progDir + "stepper.cpp";
  const std::string backup = core_.progDir + "steppercpp.old";
  bool axisOk = !patch.axis.empty() && patch.axis.size() <= 3 && std::isalpha(static_cast<unsigned char>(patch.axis[0]));
  for (char c : patch.axis) axisOk = axisOk && (std::isupper(static_cast<unsigned char>(c)) || std::isdigit(static_cast<unsigned char>(c)));
  if (!axisOk || patch.stepPin < 0 || patch.dirPin < 0) {
    core_.ui.showMessage(plat::format("stepper.cpp not updated: axis \"%s\", pins %d and %d are no axis and pins",
                                      patch.axis, patch.stepPin, patch.dirPin));
    return false;
  }
  std::string source;
  if (const std::string why = readSourceFile(input, source); !why.empty()) {
    core_.ui.showMessage(plat::format("stepper.cpp not updated: cannot read %s (%s)", input, why));
    return false;
  }
  const std::string patched = patchStepperSource(source, patch);
  if (patched == source) {
    core_.ui.showMessage("stepper.cpp is already updated so; nothing changed\n(copy back to Marlin folder)");
    return true;
  }
  const std::string unpatched = unpatchStepperSource(source);
  const bool patchedBefore = unpatched != source;
  if (patchedBefore) core_.memoPrintf("%s", "stepper.cpp was updated before: that update is replaced");
  // The backup is the unpatched source: written when the file had no patch
  // yet, kept when it had one (it was saved then), made by unpatching when
  // it is missing. The new file takes its place only once it is whole.
  std::string why;
  if (!patchedBefore) why = writeFileAtomically(backup, source);
  else if (!fileExists(backup)) why = writeFileAtomically(backup, unpatched);
  if (why.empty()) why = writeFileAtomically(input, patched);
  if (!why.empty()) {
    core_.memoPrintf("stepper.cpp not updated: cannot write %s", why);
    core_.ui.showMessage("stepper.cpp not updated: cannot write " + why);
    return false;
  }
  core_.ui.showMessage("stepper.cpp updated\n(copy back to Marlin folder)");
  return true;
}

}  // namespace ph
