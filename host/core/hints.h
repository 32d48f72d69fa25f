#pragma once
// Hints of the main window's buttons and menu items, and the developer aids
// that list the window's controls and collect hint texts from a source file.
#include <memory>
#include <string>

#include "host/core/main_timers.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
struct Control;

class Hints {
 public:
  // Follows every settings change (HostCore::settingsSettled); runs the
  // EndHint timer.
  explicit Hints(HostCore& core);
  ~Hints();
  Hints(const Hints&) = delete;
  Hints& operator=(const Hints&) = delete;

  // Applies the button-hint table (controls: wrapped at 24 and shown; menu
  // items: as they are), with the dual-box set-up's own texts.
  void applyButtonHints();
  // After a settings change: hints follow ButtonHints.
  void followHintSetting();
  // The operator moved onto a menu entry (null: the menu closed). Its hint
  // shows in the second status panel for 5 s.
  void menuSelectHint(const Control* item);
  void clearMenuHint();

  // Developer aids: "name;caption~" of every button and check box (the
  // source of the hint table), the name of every menu item, and hint-table
  // entries for every "sethint" call of a source file.
  void listButtonNames();
  void listMenuItems();
  void listSetHintCalls(const std::string& sourceFile);

  bool lastButtonHints = false;
  bool menuHintShown = false;

 private:
  HostCore& core_;
  OwnedTimer hintEnd_;
  int settingsSubscription_ = 0;
};

}  // namespace ph
