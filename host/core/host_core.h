#pragma once
// HostCore: the state that every subsystem of prismhost shares (settings,
// registry, operator log, named controls, the timers' directory, shared
// flags) and the core services on it: the log writer, file access that
// reports to the operator, the settings interpreter and the typed questions.
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/controls.h"
#include "host/core/main_timers.h"
#include "host/core/operator_log.h"
#include "host/core/operator_ui.h"
#include "host/core/param_registry.h"
#include "host/core/result.h"
#include "host/core/settings.h"
#include "host/core/unattended_run.h"
#include "host/core/unit_code_queue.h"
#include "platform/clock.h"
#include "platform/format.h"

namespace ph {

struct FileCloser {
  void operator()(std::FILE* f) const {
    if (f) std::fclose(f);
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A file opened by HostCore::openFile, or why it was not (told to the
// operator already). A failed write open still holds a file: the null
// device, so writes go nowhere.
struct OpenedFile {
  FilePtr file;
  Result result;
  explicit operator bool() const { return result.ok(); }
};

// The tokeniser of settings texts (and, in its number variant, of OBJ and
// PLY lines). Comment state lives in the object: one object per text or
// file, so an unclosed "/*" never reaches into the next one.
class Tokenizer {
 public:
  // One token, taken off the front of `rest`; the token views the same
  // characters. Each call costs the length of what it takes, so a whole
  // line is tokenised in one pass however long it is.
  std::string_view nextToken(std::string_view& rest);
  // The variant for OBJ and PLY numbers ("-1.5e-3" is one token).
  std::string_view nextObjToken(std::string_view& rest);
  // The same on a string that loses the token (for short lines only: each
  // call moves the rest of the line).
  std::string getToken(std::string& line);
  std::string getObjToken(std::string& line);
  bool inBlockComment = false;

 private:
  std::string_view next(std::string_view& rest, bool objNumbers);
};

// Listeners of one kind of change. A listener that goes away ends its
// subscription with the token it was given.
class ChangeListeners {
 public:
  int subscribe(std::function<void()> listener);
  void unsubscribe(int token);
  void notify() const;

 private:
  std::vector<std::pair<int, std::function<void()>>> listeners_;
  int nextToken_ = 0;
};

class HostCore {
 public:
  static constexpr int kNoPreset = -9999999;

  HostCore(OperatorUi& ui, plat::Clock& clock);
  HostCore(const HostCore&) = delete;
  HostCore& operator=(const HostCore&) = delete;
  ~HostCore();

  OperatorUi& ui;
  plat::Clock& clock;
  Settings s;
  ParamTable params;
  Controls controls;
  // The main window's timers by name; each subsystem makes and owns its own.
  MainTimers timers;

  // ---- operator log ----
  OperatorLog Memo1;
  bool lastEndedWithNewline = false;
  bool provisionalLine = false;
  std::string statusText;
  std::string lastStampDay;
  // Tick of the last event pump of the progress window (unset: none yet).
  std::optional<std::int64_t> lastProgressPump;

  // printf-style message to the log; a format beginning "%n" continues the
  // last line, "%o" (after it) makes the message provisional.
  template <class... A>
  void memoPrintf(plat::LogFormat<A...> f, const A&... a) {
    const char* fmt = f.text;
    bool cont = false, prov = false;
    if (fmt[0] == '%' && fmt[1] == 'n') {
      cont = true;
      fmt += 2;
    }
    if (fmt[0] == '%' && fmt[1] == 'o') {
      prov = true;
      fmt += 2;
    }
    plat::fmtdetail::Arg args[] = {plat::fmtdetail::toArg(a)..., plat::fmtdetail::Arg{plat::fmtdetail::Kind::Bad}};
    logWrite(plat::fmtdetail::render(fmt, args, sizeof...(A)), cont, prov);
  }
  // The log writer behind memoPrintf, for text that is already formatted.
  void logWrite(const std::string& text, bool continueLine, bool provisional);
  // Messages go to `log` while `work` runs (the mesh tools' memo while one
  // of their tools runs), then back to where they went before.
  void logInto(OperatorLog& log, const std::function<void()>& work);
  // A machine's echo (source: a number per machine). It goes on the last
  // line while the same source echoed last and nothing else was logged
  // since; otherwise it starts a line (after newLinePrefix) below a last
  // line that is not empty.
  void logEcho(int source, const std::string& text, const std::string& newLinePrefix = "");
  // " %s %s " with the time stamp ("hh:mm:ss", or the full date on the first
  // stamped line of a day) and the text.
  void logStamped(const std::string& text);
  // "a=1 b=2": pairs whose name is "0" (or null) are left out.
  void logVars(const char* n1, int v1, const char* n2 = "0", int v2 = 0, const char* n3 = "0", int v3 = 0);
  // Adds to the first status-bar panel; cleared 5 s after the last addition.
  void statusMessage(const std::string& text);
  void clearStatus();

  // ---- typed answers ----
  // The answer to the next typed question (evalIntExpr, askText), given in
  // advance by an automated caller; that question takes it and lets it go.
  void presetNextAnswer(int value) { presetAnswer_ = value; }
  // The preset answer, kNoPreset when none is pending.
  int presetAnswer() const { return presetAnswer_; }
  // The value of an integer expression, or the pending preset answer.
  int evalIntExpr(const std::string& text);
  // An input box's text, or "0" while a preset answer is pending.
  std::string askText(const std::string& caption, const std::string& prompt, const std::string& initial);
  // True unless the operator answers Yes to "are you sure you want to "
  // followed by the action.
  bool notConfirmed(const std::string& action);

  // ---- the operator's abort ----
  // The operator asked to stop the work under way (a print, a batch, the
  // drill or feed file, the print simulation, a slicing that has not
  // started); the work that runs stops on it and new work clears it. A
  // print raises it too when it stops on its own faults, so the work
  // around it stops as well.
  void requestAbort() { abortRequested_ = true; }
  void clearAbort() { abortRequested_ = false; }
  bool abortRequested() const { return abortRequested_; }

  // ---- files ----
  // Opens a file; a failure is told to the operator and comes back in the
  // result. A failed write open holds the null device (writes go nowhere);
  // a failed read or append open holds no file.
  OpenedFile openFile(const std::string& name, const char* mode);
  // A settings file read whole (a regular file of bounded size, see
  // readSettingsText); a failure is told like a failed read open.
  Result readSettingsFile(const std::string& name, std::string& text);
  // Line reading in the caller's file variable: false at the end.
  bool readLine(const std::string& name, std::string& line, FilePtr& file);
  // Line writing: the first call opens the file. A write or close that
  // fails is told to the operator ("unable to write to file: " and the
  // name) and returns false.
  bool writeLine(const std::string& name, const std::string& text, FilePtr& file);
  bool closeLine(FilePtr& file, const std::string& name);
  // Leading blanks removed, then the word up to the next blank: `text`
  // loses the word and that blank. An empty word shows the message "empty"
  // and gives "".
  std::string cutWord(std::string& text);
  // Tells the operator that a file was not written whole.
  void reportShortWrite(const std::string& name);
  // Whole-file writers: the file is replaced whole or left as it was; false,
  // told to the operator, when it was not written.
  bool writeFileBytes(const std::string& name, const void* data, std::size_t count);
  bool writeTextFile(const std::string& name, const std::string& text);

  // ---- settings ----
  // The owner of the queued jetting-unit codes (the unit's link), attached
  // once when the program is put together.
  void sendUnitCodesTo(UnitCodeQueue& queue) { unitCodes_ = &queue; }
  UnitCodeQueue& unitCodes();
  // The settings in memory differ from their file: any subsystem that
  // changes one marks it, a save clears it.
  bool settingsModified() const { return settingsModified_; }
  void markSettingsModified() { settingsModified_ = true; }
  void markSettingsSaved() { settingsModified_ = false; }
  // The operator changed settings by hand (the editor, the single-setting
  // box) since the last save: those are asked about at close, whatever
  // queryIniSave says, so they are never lost without a word.
  bool settingsEditedUnsaved = false;
  // A setting the slicer is given changed through a "?" text: a job sliced
  // before no longer matches.
  ChangeListeners slicingSettingChanged;
  // Settings were applied through a "?" text or a file: told a moment
  // later, once (ParamUpdates), however many followed in between.
  ChangeListeners settingsSettled;
  int lastBand64 = 64;
  int lastShakerSpeed = -999;
  // Applies a settings file, or a "?" text of assignments; with report,
  // unknown names are logged. False when a file could not be read (nothing
  // of it was applied).
  bool applySettings(const std::string& textOrFile, bool report);
  // The file the settings in memory belong to: the one they were loaded
  // from or last saved to, or a name the operator chose for them ("" when
  // none). A save never replaces any other existing file: its settings were
  // never read, and they would be lost.
  std::string settingsOwner;
  // Stores into an int setting, queueing its jetting-unit code (every time,
  // also when the value does not change).
  void setParam(int& variable, int value);
  void queueParamCode(int value, const std::string& code);
  // Writes the settings file (only changed values, unless its core name is
  // "full"). False when it could not be written completely.
  bool saveSettings();
  // The file a save writes (settingsFile; in the current folder when its
  // own folder is gone, which settingsFile then names).
  std::string settingsSaveTarget();
  // Whether a save would replace an existing file whose settings were never
  // read (saveSettings refuses that unless the operator took the file).
  bool saveWouldReplaceUnreadFile();

  // ---- shared state of the job and the machines ----
  // The work folder with its "/": the settings' file_folder, taken again
  // whenever that may have changed (start-up, a settings file read).
  std::string workDir = "%currentdir%/";
  void takeWorkFolderFromSettings() { workDir = s.file_folder + "/"; }
  std::string progDir;
  int instanceNumber = 1;
  // Command-line state (read by the job-data and machine subsystems).
  int conveyerTime = -1;  // ms, -1 = not given
  // The model the command line names: -F, or a lone file argument.
  std::string commandInputFile;
  void nameCommandInputFile(const std::string& file) { commandInputFile = file; }
  char runMode = ' ';  // ' ', or 'V', 'T', 'B'
  bool primeAtStart = true;
  // The batch print prints the model without asking whether to align the
  // cartridges first: a command-line batch, or any batch after an
  // alignment print (whose end marks it). Nothing clears it.
  void markBatchPrintsModel() { batchPrintsModel_ = true; }
  bool batchPrintsModel() const { return batchPrintsModel_; }
  int skinClear = -1;  // microns, -1 = not given
  // The unattended run the command line started (if any) and its status.
  UnattendedRun run{*this};
  bool closingDown = false;

  // Settings tests: the powder feeder is driven by G-codes / the roller
  // hangs on the Marlin machine.
  bool dualBoxMode() const;
  bool dualBoxAny() const;

 private:
  void tellSettingsSettled();

  bool abortRequested_ = false;
  // Where the messages go: Memo1, or another log while logInto runs.
  OperatorLog* logTarget_ = &Memo1;
  // The source of the last echo; every other message resets it.
  int lastEchoSource_ = 0;
  int presetAnswer_ = kNoPreset;
  bool settingsModified_ = false;
  bool batchPrintsModel_ = false;
  UnitCodeQueue* unitCodes_ = nullptr;
  // After `timers`, so they leave its list before it goes.
  OwnedTimer statusWipe_ = timers.make("Labelwipe");
  OwnedTimer settingsSettle_ = timers.make("ParamUpdates");
  // Names of the table that nothing runs; they exist, idle, under their names.
  OwnedTimer idleSendloop_ = timers.make("Sendloop");
  OwnedTimer idleSendM18_ = timers.make("sendM18");
  OwnedTimer idleXtimer_ = timers.make("Xtimer");
  void applyAssignment(const std::string& name, const std::string& value, bool questionText, bool report,
                       struct AssignState& st);
  void settingsTail(bool questionText, bool reversdirBefore, const struct AssignState& st);
};

}  // namespace ph
