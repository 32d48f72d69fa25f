#pragma once
// The settings files: the main file "prismhost.i3d" with its redirect line,
// the active settings file, "commsoverride.i3d", "allparam.i3d" and
// "merged.i3d", with the file-menu handlers that open, merge and save them.
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

  void inifile1Click();    // "inifile": open
  void mergeini1Click();   // "merge ini"
  bool saveini1Click();    // "save_ini"; false when nothing could be saved
  void setinifile1Click(); // "save inifile as"
  void fullini1Click();    // "full_ini"
  void setexes1Click();    // "exe_currentdir"

 private:
  // The open dialog and load; false when cancelled.
  bool openSettingsFile();
  HostCore& core_;
};

// One key of a settings-like file without the interpreter: the key must
// start a line other than the first. Quoted: the text between the next two
// double quotes; otherwise the rest of the line after the first blank behind
// the key (it begins with "=").
std::string readFileKey(const std::string& file, const std::string& key, const std::string& fallback, bool quoted);

// Sorts without regard to case (middle pivot, stable partitions).
void sortStrings(std::vector<std::string>& list);

// Replaces a file's contents by way of a temporary file beside it; false
// when nothing was replaced.
bool replaceFileAtomically(const std::string& path, const std::string& contents);

}  // namespace ph
