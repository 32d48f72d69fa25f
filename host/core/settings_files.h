#pragma once
// The settings files: the main file "prismhost.i3d" with its redirect line,
// the active settings file, "commsoverride.i3d", "allparam.i3d" and
// "merged.i3d", with the file-menu handlers that open, merge and save them.
#include <cstddef>
#include <string>
#include <vector>

namespace ph {

class HostCore;

class SettingsFiles {
 public:
  explicit SettingsFiles(HostCore& core) : core_(core) {}

  // After every load: paths resolved, the work folder set, the codes of
  // settings still at their defaults queued.
  void fixupSettings();
  // Writes the redirect line of the active settings file into the main
  // settings file.
  void recordActiveSettings();

  // Start-up: the first read of the settings file, while only the port
  // settings and "inifile" are registered (it may name another file).
  void readEarlySettings();
  // Start-up: the second read, of the file the first one named. A redirect
  // inside that file is not followed: the settings stay with the file they
  // were read from, and the log says so.
  void loadActiveSettings();
  // A settings file named on the command line: the defaults, then the file,
  // which stays the settings file whatever it names.
  void loadSettingsFile(const std::string& name);

  // "inifile": the open dialog and load; false when cancelled.
  bool openSettingsFile();
  void mergeSettingsFile();  // "merge ini"
  // A save for the program; false when nothing could be saved.
  bool saveSettings();
  // "save_ini" and the save at close, asked by the operator: to the active
  // settings file, asking first when that file exists and was not the one
  // read; false when nothing was saved.
  bool saveAskedByOperator();
  void saveSettingsAs();     // "save inifile as"
  void writeAllSettings();   // "full_ini"
  void setProgramFolders();  // "exe_currentdir"

 private:
  // After loading `loaded`: the settings file is `loaded` again, whatever
  // the file named; a name of another file is logged.
  void keepLoadedName(const std::string& loaded);
  HostCore& core_;
  std::string earlyFile_;
  bool earlyReadFailed_ = false;
};

// One key of a settings-like file without the interpreter: the key must
// start a line other than the first. Quoted: the text between the next two
// double quotes; otherwise the rest of the line after the first blank behind
// the key (it begins with "=").
std::string readFileKey(const std::string& file, const std::string& key, const std::string& fallback, bool quoted);

// Sorts without regard to case (middle pivot, stable partitions).
void sortStrings(std::vector<std::string>& list);

// Settings files are small text files; anything larger is no settings file.
constexpr std::size_t kMaxSettingsFileBytes = 16u << 20;

// Reads a settings-like file whole. Only a regular file of at most
// kMaxSettingsFileBytes is read, and opening never waits (a FIFO, a device
// or a folder is refused at once). Returns "" on success, otherwise what is
// wrong ("a folder", "not a regular file", "larger than 16 MB", or the
// system's reason).
std::string readSettingsText(const std::string& path, std::string& text);

// Whether two names reach one file: the same file when both exist,
// otherwise the same absolute path ("%currentdir%" expanded).
bool sameSettingsFile(const std::string& a, const std::string& b);

}  // namespace ph
