#include "slicer/command_line.h"

#include <charconv>
#include <cstring>

namespace lt {

std::optional<Option> optionOf(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-' || arg[1] == 0 || !std::strchr("FIKVYLEDJURMWSC", arg[1])) return std::nullopt;
  return Option{arg[1], arg.substr(2)};
}

std::string paramTextOf(const std::vector<std::string>& args) {
  std::string t;
  for (const auto& a : args) {
    auto o = optionOf(a);
    if (o && (o->letter == 'F' || o->letter == 'I' || o->letter == 'K')) continue;
    t += a;
  }
  return t;
}

std::string commandLineUsage() {
  return "usage: layertint [model] [-option]...\n"
         "options (the value joined to the letter, as in -L250):\n"
         " -F<model>  slice the model into a job and end\n"
         " -V<model>  show the model's slices\n"
         " -K<job>    the job file to write\n"
         " -I<n>      the host's instance number\n"
         " -L<um>     layer thickness\n"
         " -W<n> -S<n> -C<n> -M<n>  water drops, colour drops, colour weight, colour step\n"
         " -D<um> -U<um>  skin depth, surface clearance\n"
         " -E<colour> -R<file>  default colour, colour cube\n"
         " -Y<mm>     shift in y\n"
         " -J         export the slices as pictures\n";
}

std::optional<int> endWithoutDisplay(const std::vector<std::string>& args, std::string& text) {
  bool usage = false;
  for (const auto& a : args) {
    if (auto o = optionOf(a); o && (o->letter == 'F' || o->letter == 'V')) return std::nullopt;
    if (a == "-?") usage = true;
  }
  if (usage) {
    text = commandLineUsage();
    return 0;
  }
  text = "layertint: without a display the command line must name the work: -F<model> or -V<model>\n" +
         commandLineUsage();
  return 2;
}

std::string readyEventName(int n) {
  if (n < 2) return ".p3d file ready";
  return ".p3d file ready(" + std::to_string(n) + ")";
}

std::optional<int> decimalValue(const std::string& text) {
  const char* b = text.data();
  const char* e = b + text.size();
  if (b != e && *b == '+') ++b;
  int v = 0;
  auto r = std::from_chars(b, e, v);
  if (b == e || r.ec != std::errc() || r.ptr != e) return std::nullopt;
  return v;
}

std::string pathValue(const std::string& v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') return v.substr(1, v.size() - 2);
  return v;
}

std::string jobOutputName(const std::string& modelName, const std::string& outputName) {
  if (!outputName.empty()) return outputName;
  auto dot = modelName.rfind('.');
  if (dot != std::string::npos && dot + 5 >= modelName.size()) return modelName.substr(0, dot) + ".p3d";
  return modelName + ".p3d";
}

}  // namespace lt
