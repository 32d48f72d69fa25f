#pragma once
#include "host/core/controls.h"
#include "host/core/param_registry.h"
#include "host/core/settings.h"

namespace ph {

// The menu items whose checked state is a setting, added to `parent` with
// their checked state at load (the window's start-up adds them before the
// table is registered).
void addSettingMenuItems(Controls& controls, const std::string& parent);

// Rows 1-3, registered by start-up before the first settings read.
void registerEarlyParams(ParamTable& t, Settings& s);
// Every further row, in table order. The menu items bound to settings must
// exist in `controls` (with their initial checked state).
void registerParamTable(ParamTable& t, Settings& s, Controls& controls);

}  // namespace ph
