#include "host/core/hints.h"

#include <fstream>

#include "host/core/host_core.h"
#include "host/core/main_texts.h"
#include "host/core/paths.h"
#include "host/core/texts.h"

namespace ph {

namespace {
bool isMenu(const Control& c) { return c.kind == Control::Kind::Menu || c.kind == Control::Kind::MenuItem; }
constexpr int kHintWidth = 24;
}  // namespace

Hints::Hints(HostCore& core) : core_(core), hintEnd_(core.timers.make("EndHint")) {
  settingsSubscription_ = core_.settingsSettled.subscribe([this] { followHintSetting(); });
  hintEnd_->setHandler([this] { clearMenuHint(); });
}

Hints::~Hints() {
  core_.settingsSettled.unsubscribe(settingsSubscription_);
}

void Hints::applyButtonHints() {
  Controls& controls = core_.controls;
  for (std::string_view entry : buttonHintTable) {
    if (entry == "x") break;
    const std::string e(entry);
    Control* c = controls.find(splitAt(e, ';', false));
    if (!c) continue;
    const std::string hint = splitAt(e, '~', true);
    // Menus show their hint in the status bar, on one line.
    if (isMenu(*c)) c->setHint(hint, c->showHint);
    else c->setHint(wrapText(hint, kHintWidth), true);
  }
  if (core_.dualBoxMode()) {
    if (Control* c = controls.find("UpDown1"))
      c->setHint(wrapText("Move model bottom 0.5 mm up or down, right mouse = feeder bottom", kHintWidth), true);
    if (Control* c = controls.find("btPrep"))
      c->setHint(wrapText("setup to fill the feeder and model box with powder", kHintWidth), true);
    if (Control* c = controls.find("btPlatform")) c->setVisible(false);
  }
}

void Hints::followHintSetting() {
  const bool on = core_.s.ButtonHints;
  if (on == lastButtonHints) return;
  if (on) {
    applyButtonHints();
  } else {
    for (Control& c : core_.controls.all())
      if (!isMenu(c) && c.showHint) c.setHint(c.hint, false);
  }
  lastButtonHints = on;
}

void Hints::menuSelectHint(const Control* item) {
  if (!item) return;  // the menu closed
  if (!item->hint.empty()) {
    core_.ui.setStatusPanel(1, item->hint);
    hintEnd_->start();
    menuHintShown = true;
  } else if (menuHintShown) {
    // Only a hint of ours is wiped; the panel may show something else.
    core_.ui.setStatusPanel(1, "");
    hintEnd_->stop();
    menuHintShown = false;
  }
}

void Hints::clearMenuHint() {
  hintEnd_->stop();
  core_.ui.setStatusPanel(1, "");
}

void Hints::listButtonNames() {
  for (const Control& c : core_.controls.all()) {
    if (c.name.empty()) continue;
    if (c.kind == Control::Kind::Button || c.kind == Control::Kind::CheckBox)
      core_.memoPrintf("%s;%s~", c.name, c.caption);
    else if (c.kind == Control::Kind::UpDown)
      core_.memoPrintf("%s;---~", c.name);
  }
}

void Hints::listMenuItems() {
  // Items made at run time (the user functions) have no name to list.
  for (const Control& c : core_.controls.all())
    if (isMenu(c) && !c.name.empty()) core_.memoPrintf("%s", c.name);
}

void Hints::listSetHintCalls(const std::string& sourceFile) {
  // Read directly: a developer aid must not raise the print abort flag that
  // a failed read open of a job file raises.
  std::ifstream in(nativePath(sourceFile), std::ios::binary);
  if (!in) {
    core_.ui.showMessage("cannot read from file: " + sourceFile);
    return;
  }
  std::string method, line;
  while (std::getline(in, line)) {
    if (auto m = line.find(" TForm1::"); m != std::string::npos) {
      const std::size_t from = m + 9;
      method = line.substr(from, line.find('(', from) - from);
    }
    const std::string call = "  sethint(\"";
    auto p = line.find(call);
    if (p == std::string::npos) continue;
    p += call.size();
    const auto q = line.find('"', p);
    if (q == std::string::npos || q == p) continue;
    core_.memoPrintf(",\"%s;0~%s\"", method, line.substr(p, q - p));
  }
}

}  // namespace ph
