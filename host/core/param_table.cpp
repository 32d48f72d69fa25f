#include "host/core/param_table.h"

namespace ph {

void registerEarlyParams(ParamTable& t, Settings& s) {
  t.beginParamGroup("fdm");
  t.addpartxt("#CommPortMarlin", s.CommPortMarlin, "comm port for Marlin. Add '-' to skip port init");
  t.addparint("MarlinBaudrate", s.MarlinBaudrate, "baudrate 0=no port initialyzing");
  t.beginParamGroup("files");
  t.addpartxt("#inifile", s.settingsFile, "");
  t.beginParamGroup("various");
}

void registerParamTable(ParamTable&, Settings&, Controls&) {
  // (being filled: rows 4 to 132)
}

}  // namespace ph
