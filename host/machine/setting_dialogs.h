#pragma once
// The small menu entries of the main window that change a few print
// settings in one input box each, and the start of powder-only layers.
// Every value goes through the settings' ranges; an item the operator left
// out keeps its value; a change that makes the sliced job or the converted
// jetting data stale clears jobReady or dmcCurrent, as the settings
// interpreter does.
#include <functional>
#include <initializer_list>
#include <string>

#include "host/core/host_core.h"
#include "host/jobdata/job_layout.h"

namespace ph {

// The menu items of the setting dialogs, in the menu `parent`.
void addSettingDialogItems(Controls& controls, const std::string& parent);

// What the powder-only layers ask of the print sequencer.
class PrepLayersPrint {
 public:
  virtual ~PrepLayersPrint() = default;
  // prepLayers := n (the powder-only layers the next print lays).
  virtual void armPrepLayers(int layers) = 0;
  virtual void startPrint() = 0;
};

class SettingDialogs {
 public:
  SettingDialogs(HostCore& core, JobLayout& layout, PrepLayersPrint& print);
  ~SettingDialogs();
  SettingDialogs(const SettingDialogs&) = delete;
  SettingDialogs& operator=(const SettingDialogs&) = delete;

  void bindControls();

  // Run-time flags of the print sequencer, not settings: false at start,
  // never saved.
  bool shortstretches = false;
  bool faststretches = false;

  // ---- handlers ----
  void editFileName();
  void editPowderTimes();
  void editExtraCodes();
  void preparePowderLayers();
  void editLayerThickness();
  void editSpeedOptions();
  void editMargins();
  void editColourOffsets();
  void fitPowderTime();

  // An int setting edited by a dialog.
  struct IntSetting {
    const char* name;
    int* value;
  };
  // "enter integer values" over settings: the names as prompt, the values
  // as "a , b". Each item given that is a whole number within the
  // setting's range is stored; items left out keep their values; others
  // are told and keep theirs. True when a value changed.
  bool editSettingInts(std::initializer_list<IntSetting> values);

 private:
  // A value within the setting's range, else the refusal is shown.
  bool acceptable(const int* variable, int value);
  // The settings in memory differ from the file now.
  void changed();
  // The converted jetting data no longer match the settings.
  void conversionStale();

  HostCore& core_;
  JobLayout& layout_;
  PrepLayersPrint& print_;
};

}  // namespace ph
