#pragma once
// The slicer's command line: options are "-" and one letter with the value
// joined to it ("-L250", "-Fmodel.stl").
#include <optional>
#include <string>
#include <vector>

namespace lt {

struct Option {
  char letter;
  std::string value;
};

// The option an argument holds: "-" followed by one of F I K V Y L E D J U R
// M W S C (upper case); its value is the rest of the argument.
std::optional<Option> optionOf(const std::string& arg);

// The settings text of the job fingerprint: every argument other than -F, -I
// and -K, whole and in order, joined without separators. The host builds the
// same text from the arguments it passes.
std::string paramTextOf(const std::vector<std::string>& args);

// ".p3d file ready" for instances below 2, else ".p3d file ready(n)".
std::string readyEventName(int instanceNumber);

// A decimal integer (optional sign, digits only, within int).
std::optional<int> decimalValue(const std::string& text);

// A path value with one pair of surrounding double quotes removed.
std::string pathValue(const std::string& value);

// What the command line can hold, as "-?" shows it.
std::string commandLineUsage();

// Without a display only a job named on the command line (-F or -V) can be
// done: otherwise the status to end with at once (0 for "-?", 2 for any
// other command line) and, in `text`, what to say (the usage, and why).
std::optional<int> endWithoutDisplay(const std::vector<std::string>& args, std::string& text);

// The name of the job file: -K when given, else the model name without an
// extension of up to four characters, followed by ".p3d".
std::string jobOutputName(const std::string& modelName, const std::string& outputName);

}  // namespace lt
