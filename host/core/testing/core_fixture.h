#pragma once
// A HostCore with the whole settings table registered, a scripted operator
// and a manual clock, as start-up leaves it (before any settings file).
#include "host/core/host_core.h"
#include "host/core/param_table.h"
#include "host/core/testing/fake_ui.h"
#include "host/core/testing/recorded_unit_codes.h"
#include "platform/clock.h"

namespace ph {

struct CoreFixture {
  FakeUi ui;
  plat::ManualClock clock;
  HostCore core{ui, clock};
  RecordedUnitCodes unitCodes;

  CoreFixture() {
    core.sendUnitCodesTo(unitCodes);
    addSettingMenuItems(core.controls, "options1");
    registerEarlyParams(core.params, core.s);
    registerParamTable(core.params, core.s, core.controls);
  }
  // The log's lines (iterators of two calls compare alike).
  OperatorLog::Lines log() const { return core.Memo1.lines(); }
};

}  // namespace ph
