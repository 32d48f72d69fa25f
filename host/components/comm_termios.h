#pragma once
// The termios side of the serial component's line settings.
#include <termios.h>

#include "host/components/comm_device.h"

namespace ph {

// Puts the line settings into a termios record (the speed is set apart,
// through termios2). Raw mode always; the rest only for full settings.
// Returns 0 or an errno code.
int applyLineSettings(termios& t, const CommLineSettings& s);

}  // namespace ph
