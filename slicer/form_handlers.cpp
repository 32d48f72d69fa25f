// The handlers of the slicer's main window that act on the program's state.
#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/model_names.h"
#include "slicer/slicer_app.h"

namespace lt {

void SlicerApp::formActivate() {
  // Only shows the values: "ngsetup.txt" is not read again here, an
  // activation in the middle of a job must not change its drop counts.
  refresh();
}

void SlicerApp::taggedEditChanged(int tag, const std::string& text) {
  auto n = decimalValue(text);
  if (!n || *n == INT_MIN) return;
  SliceValues& v = st_.values;
  int* target = nullptr;
  int value = *n;
  IntRange range{INT_MIN, INT_MAX};
  switch (tag) {
    case 1: target = &v.minstepy; value = validStep(value); break;
    case 2: target = &v.wpix; range = kDropsRange; break;
    case 3: target = &v.spix; range = kDropsRange; break;
    case 4: target = &v.minstepx; value = validStep(value); break;
    case 5: target = &v.portValueP; break;
    case 6: target = &v.portValueD; break;
    default: return;
  }
  // A drop count out of range stays out of the job; the box keeps the text
  // until the operator corrects it.
  if (!range.holds(*n)) return;
  if (*target != value) *target = value;
}

void SlicerApp::button1Click() {
  if (st_.jobRunning) return;  // one job at a time
  if (prepareModel(true)) writeJob();
}

void SlicerApp::button2Click() { st_.stopKey = 'H'; }

void SlicerApp::button3Click() {
  st_.abortFlag = true;
  st_.stopKey = 'H';
  ui_.closeWindow();
}

void SlicerApp::prt0Click() {
  if (st_.jobRunning) return;
  st_.prepared = false;
  prepareModel(true);
}

void SlicerApp::spinButton1DownClick() {
  st_.values.quality = std::max(-1, st_.values.quality - 1);
  refresh();
}

void SlicerApp::spinButton1UpClick() {
  st_.values.quality = std::min(1, st_.values.quality + 1);
  refresh();
}

void SlicerApp::spinButton2UpClick() {
  prepareModel(true);
  SliceValues& v = st_.values;
  if (v.copiesX < st_.copiesLimitX) ++v.copiesX;
  else if (v.copiesY < st_.copiesLimitY) ++v.copiesY;
  st_.dcopies = std::to_string(v.copiesX * v.copiesY);
  refresh();
}

void SlicerApp::spinButton2DownClick() {
  prepareModel(true);
  SliceValues& v = st_.values;
  if (v.copiesY < 2) v.copiesX = std::max(1, v.copiesX - 1);
  else --v.copiesY;
  st_.dcopies = std::to_string(v.copiesX * v.copiesY);
  refresh();
}

void SlicerApp::dcopiesEnter(const std::string& text) {
  auto n = decimalValue(text);
  if (!n) return;
  prepareModel(true);
  SliceValues& v = st_.values;
  // A model wider than the build room has a limit of 0: count it as 1.
  const int limitX = std::max(1, st_.copiesLimitX);
  v.copiesY = std::max(1, std::min(*n / limitX, st_.copiesLimitY));
  v.copiesX = std::max(1, std::min(*n, st_.copiesLimitX));
  st_.dcopies = std::to_string(v.copiesX * v.copiesY);
  refresh();
}

void SlicerApp::colorboxClick() {
  auto c = ui_.chooseColour(colourToWindow(st_.values.defaultColour));
  if (!c) return;
  const unsigned r = (*c >> 16) & 255, g = (*c >> 8) & 255, b = *c & 255;
  st_.values.defaultColour = int((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3));
  model_.singleWhite = false;
  refresh();
}

void SlicerApp::supfileClick() {
  // Reloading the model under a running job would pull it away from the
  // threads that slice it.
  if (st_.jobRunning) return;
  if (st_.modelName.empty()) {
    std::string chosen = ui_.chooseModelFile();
    if (chosen.empty()) return;
    st_.modelName = chosen;
  }
  const bool saved = stages_.editTextFile(*this, supportFileName(st_.modelName));
  if (saved) st_.prepared = false;
  if (saved || !st_.prepared) prepareModel(false);
}

void SlicerApp::prtsetupClick() {
  stages_.editTextFile(*this, st_.workFolder + "/ngsetup.txt");
  readSetupFile(false);
  refresh();
}

void SlicerApp::prvbutClick() { stages_.openPreview(*this); }

void SlicerApp::mkfileClick(bool checked) {
  st_.mkfile = checked;
  st_.directOutput = !checked;
}

void SlicerApp::scale1Click() {
  auto a = ui_.askText("schaal", "schaal percentage", std::to_string(long(std::nearbyint(st_.bmpScale * 100))));
  if (!a) return;
  if (auto n = decimalValue(*a)) st_.bmpScale = *n / 100.0;
}

void SlicerApp::skindepth1Click() {
  auto a = ui_.askText("input value", "skin depth", plat::format("%.4g", st_.values.skinDepth));
  if (!a) return;
  double v = 0;
  auto r = std::from_chars(a->data(), a->data() + a->size(), v);
  const double most = kSkinMicronsRange.hi / 1000.0;
  if (r.ec != std::errc() || r.ptr != a->data() + a->size() || !(v >= 0 && v <= most)) {
    tellOperator(plat::format("skin depth \"%s\" is not a number from 0 to %g mm; it stays %g", *a, most,
                              st_.values.skinDepth));
    return;
  }
  st_.values.skinDepth = v;
}

void SlicerApp::timer1Timer() {
  ui_.bringToFront();
  timer1_->stop();
}

}  // namespace lt
