#include "host/core/settings_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <cstdio>

#include "host/core/host_core.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {
// The current folder at call time; the dialogs must not leave it changed.
struct KeepCurrentDir {
  std::string dir = currentDir();
  ~KeepCurrentDir() {
    if (chdir(dir.c_str()) != 0) {
    }
  }
};

// The lines of a settings-like file without their line ends; "" or what is
// wrong with the file.
std::string readLines(const std::string& path, std::vector<std::string>& lines) {
  std::string text;
  std::string why = readSettingsText(path, text);
  if (!why.empty()) return why;
  std::size_t from = 0;
  while (from < text.size()) {
    auto nl = text.find('\n', from);
    std::string line = text.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    from = nl == std::string::npos ? text.size() : nl + 1;
  }
  return "";
}
}  // namespace

std::string readSettingsText(const std::string& path, std::string& text) {
  text.clear();
  const std::string native = nativePath(path);
  // Non-blocking, so a FIFO without a writer is refused instead of waited on.
  const int fd = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "a folder";
  if (!S_ISREG(st.st_mode)) return "not a regular file";
  if (std::size_t(st.st_size) > kMaxSettingsFileBytes) return "larger than 16 MB";
  // Read to the end, but never past the limit (the file may grow meanwhile).
  text.resize(std::size_t(st.st_size));
  std::size_t got = 0;
  for (;;) {
    if (got == text.size()) {
      if (text.size() >= kMaxSettingsFileBytes + 1) break;
      text.resize(std::min(kMaxSettingsFileBytes + 1, text.size() + 4096));
    }
    const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return std::strerror(errno);
    }
    if (n == 0) break;
    got += std::size_t(n);
  }
  // UTF-16 (as some editors save) reads as names broken by NUL characters,
  // and not one setting would be found.
  if (std::memchr(text.data(), 0, got) != nullptr) {
    text.clear();
    return "it holds NUL characters: UTF-16 or not a text file; a settings file is plain text";
  }
  text.resize(got);
  if (got > kMaxSettingsFileBytes) {
    text.clear();
    return "larger than 16 MB";
  }
  return "";
}

void SettingsFiles::fixupSettings() {
  Settings& s = core_.s;
  s.slicer_exe = expandCurrentDir(s.slicer_exe);
  s.file_folder = expandCurrentDir(s.file_folder);
  if (!folderExists(s.file_folder)) s.file_folder = currentDir();
  // The stored path stays in its portable form; the hand-off falls back to
  // the slicer shipped beside this program when no file is there.
  if (!fileExists(s.slicer_exe)) s.slicer_exe = currentDir() + "/layertint";
  core_.takeWorkFolderFromSettings();
  for (int i = 0; i < core_.params.paramCount(); ++i) {
    const ParamEntry& e = core_.params.entry(i);
    if (e.paramType == "@i" && !e.paramCode.empty() && core_.params.atDefault(i))
      core_.queueParamCode(*std::get<int*>(e.paramPtr), e.paramCode);
  }
  if (s.reversdir) core_.unitCodes().queueUnitCode(" 43n49n");
}

void SettingsFiles::recordActiveSettings() {
  const std::string& active = core_.s.settingsFile;
  if (active == "prismhost.i3d" || fileCore(active) == "full") return;
  if (active.find('"') != std::string::npos) {
    core_.memoPrintf("inifile not recorded: a text setting cannot hold a double quote");
    return;
  }
  const std::string main = core_.progDir + "prismhost.i3d";
  std::vector<std::string> lines;
  if (const std::string why = readLines(main, lines); !why.empty()) {
    core_.ui.showMessage("cannot read from file: " + main + " (" + why + ")");
    return;
  }
  std::string text;
  for (const auto& l : lines)
    if (l.compare(0, 9, "inifile =") != 0) text += l + "\r\n";
  text += "inifile = \"" + toCurrentDirToken(active) + "\"\r\n";
  if (std::string why; !plat::writeFileAtomically(nativePath(main), text, why))
    core_.ui.showMessage("unable to write to file: " + main);
}

bool sameSettingsFile(const std::string& a, const std::string& b) {
  auto absolute = [](std::string p) {
    p = nativePath(expandCurrentDir(p));
    return !p.empty() && p[0] == '/' ? p : currentDir() + "/" + p;
  };
  const std::string pa = absolute(a), pb = absolute(b);
  struct stat sa {}, sb {};
  if (::stat(pa.c_str(), &sa) == 0 && ::stat(pb.c_str(), &sb) == 0)
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return pa == pb;
}

void SettingsFiles::readEarlySettings() {
  const std::string name = core_.s.settingsFile;
  if (!fileExists(expandCurrentDir(name))) return;
  earlyFile_ = name;
  earlyReadFailed_ = !core_.applySettings(name, false);
}

void SettingsFiles::loadActiveSettings() {
  const std::string name = core_.s.settingsFile;
  if (!fileExists(expandCurrentDir(name))) return;
  // A file the first read could not read was reported then.
  if (earlyReadFailed_ && sameSettingsFile(name, earlyFile_)) return;
  if (!core_.applySettings(name, true)) return;
  core_.settingsOwner = name;
  keepLoadedName(name);
}

void SettingsFiles::loadSettingsFile(const std::string& name) {
  core_.s.settingsFile = name;
  core_.params.resetParamsToDefaults();
  const bool read = core_.applySettings(name, true);
  core_.s.settingsFile = name;  // a redirect inside the file does not survive
  core_.settingsOwner = read ? name : "";
}

void SettingsFiles::keepLoadedName(const std::string& loaded) {
  const std::string named = core_.s.settingsFile;
  core_.s.settingsFile = loaded;
  if (sameSettingsFile(named, loaded)) return;
  core_.memoPrintf("%s names %s as its settings file: not followed (only prismhost.i3d redirects); the settings "
                   "stay with %s",
                   loaded, named, loaded);
}


bool SettingsFiles::openSettingsFile() {
  KeepCurrentDir keep;
  const std::string current = expandCurrentDir(core_.s.settingsFile);
  FileDialogRequest dialog;
  dialog.title = "inifile";
  dialog.folder = pathFolderOrCurrent(current);
  dialog.fileName = current;
  dialog.filter = "ini files|*.i3d";
  dialog.defaultExt = "i3d";
  auto chosen = core_.ui.openFileDialog(dialog);
  if (!chosen) return false;
  core_.params.resetParamsToDefaults();
  core_.s.settingsFile = *chosen;
  const bool read = core_.applySettings(*chosen, true);
  core_.s.settingsFile = *chosen;  // a redirect inside the file does not survive
  if (!core_.params.mergeMode) core_.settingsOwner = read ? *chosen : "";
  if (!core_.params.mergeMode) recordActiveSettings();
  fixupSettings();
  return true;
}

void SettingsFiles::mergeSettingsFile() {
  core_.params.mergeMode = true;
  // Only a merge that happened renames the active file; a cancelled one
  // leaves everything as it was.
  if (openSettingsFile()) {
    // The merged settings get a name of their own, which the next save
    // writes (replacing an earlier merge).
    core_.s.settingsFile = core_.s.file_folder + "/merged.i3d";
    core_.settingsOwner = core_.s.settingsFile;
  }
  core_.params.mergeMode = false;
}

bool SettingsFiles::saveSettings() {
  if (!core_.saveSettings()) return false;
  core_.logStamped("saved ini " + core_.s.settingsFile);
  recordActiveSettings();
  core_.markSettingsSaved();
  return true;
}

bool SettingsFiles::saveAskedByOperator() {
  if (core_.saveWouldReplaceUnreadFile()) {
    // The operator made this the active file (a redirect, "exe_currentdir"):
    // asked, the save goes there.
    const std::string question = "replace " + core_.s.settingsFile +
                                 "? its own settings were never read by this program and are lost";
    if (core_.ui.askYesNoCancel("Confirm", question) != OperatorUi::Answer::Yes) {
      core_.memoPrintf("settings not saved: %s was kept", core_.s.settingsFile);
      return false;
    }
    core_.settingsOwner = core_.s.settingsFile;
  }
  return saveSettings();
}

void SettingsFiles::saveSettingsAs() {
  KeepCurrentDir keep;
  std::string proposed = expandCurrentDir(core_.s.settingsFile);
  if (proposed.find_first_of("/\\") == std::string::npos) proposed = currentDir() + "/" + proposed;
  FileDialogRequest dialog;
  dialog.title = "save inifile as";
  dialog.folder = pathFolderOrCurrent(proposed);
  dialog.fileName = proposed;
  dialog.filter = "ini file|*.i3d";
  auto chosen = core_.ui.saveFileDialog(dialog);
  if (!chosen) return;
  if (chosen->find('"') != std::string::npos) {
    // The redirect line could not name it.
    core_.ui.showMessage("a settings file name cannot hold a double quote: " + *chosen);
    return;
  }
  // The name keeps its case: on this file system another case is another file.
  std::string name = *chosen;
  if (lowerCase(name).find(".i3d") == std::string::npos) name += ".i3d";
  const std::string cur = currentDir();
  const auto at = name.find(cur);
  if (at != std::string::npos && at < 3) name = toCurrentDirToken(name);
  core_.s.settingsFile = name;
  core_.settingsOwner = name;  // chosen in the save dialog: replaced on purpose
  saveSettings();
}

void SettingsFiles::writeAllSettings() {
  std::string text;
  for (int i = 0; i < core_.params.paramCount(); ++i) {
    if (!core_.params.writable(i)) {
      core_.memoPrintf("%s not saved: a text setting cannot hold a double quote", core_.params.entry(i).paramName);
      continue;
    }
    text += core_.params.formatParamLine(i, false) + "\r\n";
  }
  core_.writeTextFile("allparam.i3d", text);  // a short write is told
}

void SettingsFiles::setProgramFolders() {
  if (core_.notConfirmed("adapt programm to current folder")) return;
  const std::string cur = currentDir();
  core_.s.file_folder = cur;
  core_.s.slicer_exe = cur + "/layertint";
  core_.s.settingsFile = cur + "/prismhost.i3d";
}

std::string readFileKey(const std::string& file, const std::string& key, const std::string& fallback, bool quoted) {
  std::vector<std::string> lines;
  if (!readLines(file, lines).empty()) return fallback;
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  const auto at = text.find("\r\n" + key + " =");
  if (at == std::string::npos) return fallback;
  const std::size_t from = at + 2 + key.size();
  if (quoted) {
    const auto q1 = text.find('"', from);
    if (q1 == std::string::npos) return fallback;
    const auto q2 = text.find('"', q1 + 1);
    if (q2 == std::string::npos) return fallback;
    return text.substr(q1 + 1, q2 - q1 - 1);
  }
  const auto blank = text.find(' ', from);
  const auto cr = text.find('\r', from);
  if (blank == std::string::npos || (cr != std::string::npos && blank > cr)) return "";
  return text.substr(blank + 1, cr == std::string::npos ? std::string::npos : cr - blank - 1);
}

void sortStrings(std::vector<std::string>& list) {
  if (list.size() < 2) return;
  const std::string pivot = list[list.size() / 2];
  const std::string key = lowerCase(pivot);
  std::vector<std::string> low, high;
  for (std::size_t i = 0; i < list.size(); ++i) {
    if (i == list.size() / 2) continue;
    (lowerCase(list[i]) > key ? high : low).push_back(list[i]);
  }
  sortStrings(low);
  sortStrings(high);
  list = std::move(low);
  list.push_back(pivot);
  list.insert(list.end(), high.begin(), high.end());
}

}  // namespace ph
