#pragma once
// The settings of prismhost: one member per registered setting, named as in
// settings files, holding its default at program load.
#include <array>
#include <string>

namespace ph {

struct Settings {
  // (being filled: the whole table)
  std::string CommPortMarlin = "\\\\.\\COM30";
  int MarlinBaudrate = 250000;
  std::string settingsFile = "prismhost.i3d";  // registered as "inifile"
};

}  // namespace ph
