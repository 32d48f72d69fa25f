// The command line, handled once by the Init timer about 1 s after start.
#include <algorithm>

#include "host/app/host.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/settings_files.h"
#include "host/core/texts.h"
#include "platform/format.h"

namespace ph {

namespace {
struct OptionText {
  char letter;
  const char* text;
};
constexpr OptionText kOptions[] = {
    {'C', "set conveyer time [ms]  "},
    {'F', "input file  "},
    {'G', "set goodbyecode  "},
    {'I', "set inifile  "},
    {'P', "disable priming at beginning of print"},
    {'V', "only convert selected input file (no printing)  "},
    {'U', "set skinClear no ink closer to skinClear microns form outside"},
    {'T', "only convert obj to stl (no printing)  "},
    {'B', "print selected input file  "},
};

// The options as the Init timer reads them: an argument of exactly two
// characters that starts with "-", its value the next argument.
struct CommandLineWork {
  std::string inputFile;
  char runMode = ' ';
  bool usageAsked = false;
};

CommandLineWork workOf(const std::vector<std::string>& args) {
  CommandLineWork w;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.size() != 2 || a[0] != '-') continue;
    const std::string value = i + 1 < args.size() ? args[i + 1] : "";
    switch (a[1]) {
      case '?': w.usageAsked = true; break;
      case 'F': w.inputFile = value; break;
      case 'V':
      case 'T':
      case 'B': w.runMode = a[1]; break;
      default: break;
    }
  }
  return w;
}

}  // namespace

std::string commandLineUsage() {
  std::string t = "command line usage:\n prismhost -option [filename] [-option]...\noptions are:\n";
  for (const auto& o : kOptions) t += plat::format("%c  %s\n", o.letter, o.text);
  return t;
}

bool asksForUnattendedRun(const std::vector<std::string>& args) {
  const CommandLineWork w = workOf(args);
  return !w.inputFile.empty() && (w.runMode == 'V' || w.runMode == 'T' || w.runMode == 'B');
}

std::optional<int> endWithoutDisplay(const std::vector<std::string>& args, std::string& text) {
  if (asksForUnattendedRun(args)) return std::nullopt;
  const CommandLineWork w = workOf(args);
  if (w.usageAsked) {
    text = commandLineUsage();
    return 0;
  }
  text = "prismhost: without a display the command line must give the work: -F followed by the input file, and -V, "
         "-T or -B\n" +
         commandLineUsage();
  return kExitUnusableCommandLine;
}

void Host::logUsage() {
  std::string usage = commandLineUsage();
  usage.pop_back();
  core.memoPrintf("%s", usage);
}

void Host::startCommandLineRun() {
  UnattendedRun& run = core.run;
  if (core.runMode == 'V' || core.runMode == 'T') {
    // Mode V goes on when the job is converted; mode T is done here.
    if (!handoff.openModel()) run.fail("no job for " + core.commandInputFile);
    else if (core.runMode == 'T') run.succeed();
  } else if (core.runMode == 'B') {
    core.markBatchPrintsModel();
    runBatch();
  }
}

void Host::runCommandLine() {
  commandLineStart_->stop();
  Settings& s = core.s;
  dialogFolder = s.file_folder;

  Control& combo = core.controls.at("parmcombo");
  if (combo.items.empty()) {
    for (const ParamEntry& e : core.params.entries()) combo.items.push_back(e.paramName);
    sortStrings(combo.items);
    core.controls.notify(combo);
  }

  if (args_.size() == 1 && std::string(";obj;stl;").find(";" + fileExt(args_[0]) + ";") != std::string::npos)
    handoff.modelDialogFile = modelDialogFile = args_[0];

  std::string laterSettingsFile;
  for (std::size_t i = 0; i < args_.size(); ++i) {
    const std::string& a = args_[i];
    if (a.size() != 2 || a[0] != '-') continue;
    currentOption = a[1];
    // The value is examined as an option in its turn.
    const std::string value = i + 1 < args_.size() ? args_[i + 1] : "";
    switch (currentOption) {
      case '?': logUsage(); break;
      case 'C': core.conveyerTime = leadingInt(value); break;
      case 'F': core.nameCommandInputFile(value); break;
      case 'G': s.goodbyecode = value; break;
      case 'I':
        if (!value.empty() && value[0] == '?') core.applySettings(replaceAll(value, "'", "\""), true);
        else laterSettingsFile = value;
        break;
      case 'P': core.primeAtStart = false; break;
      case 'V': core.runMode = 'V'; break;
      case 'U':
        if (!value.empty()) core.skinClear = leadingInt(value);
        break;
      case 'T': core.runMode = 'T'; break;
      case 'B': core.runMode = 'B'; break;
      default: break;
    }
  }

  if (!laterSettingsFile.empty()) settingsFiles.loadSettingsFile(laterSettingsFile);

  if (!core.commandInputFile.empty()) startCommandLineRun();

  const auto& g = s.FormPosition;
  if (g[2] > 100 && g[3] > 100)
    core.ui.setWindowGeometry(
        fitWithin({std::max(-3000, g[0]), std::max(-3000, g[1]), g[2], g[3]}, core.ui.screenArea()));
}

}  // namespace ph
