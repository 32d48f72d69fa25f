#include "slicer/slicer_app.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <optional>

#include "platform/atomic_file.h"
#include "platform/fingerprint.h"
#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/dots.h"
#include "slicer/input_file.h"
#include "slicer/layer_slicer.h"
#include "slicer/model_names.h"
#include "slicer/setup_file.h"
#include "slicer/stl_loader.h"

namespace lt {

namespace {

// An outside CAD program asks for a slice by passing its request file; the
// model appears in its export folder when the export has finished.
constexpr const char* kRhinoModel = "/rhino/rhinoexp.pov";

bool fileExists(const std::string& path) {
  struct stat st {};
  return stat(localPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string upper(std::string s) {
  for (auto& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

int clampedInt(double v) { return v != v ? 0 : int(std::clamp(v, -1e9, 1e9)); }

}  // namespace

unsigned colourToWindow(int c) {
  const unsigned r = (unsigned(c) >> 10) & 31, g = (unsigned(c) >> 5) & 31, b = unsigned(c) & 31;
  return (r * 8) << 16 | (g * 8) << 8 | (b * 8);
}

SlicerApp::SlicerApp(plat::Clock& clock, SlicerUi& ui, SlicerStages& stages)
    : clock_(clock), ui_(ui), stages_(stages) {
  doparam_ = clock_.createTimer("doparam");
  doparam_->setInterval(100);
  doparam_->setHandler([this] { doparamTimer(); });
  closetimer_ = clock_.createTimer("closetimer");
  closetimer_->setInterval(500);
  closetimer_->setHandler([this] { closetimerTimer(); });
  timer1_ = clock_.createTimer("Timer1");
  timer1_->setInterval(500);
  timer1_->setHandler([this] { timer1Timer(); });
  rhinoWait_ = clock_.createTimer("rhinoWait");
  rhinoWait_->setInterval(200);
  rhinoWait_->setHandler([this] { rhinoWaitTimer(); });
}

SlicerApp::~SlicerApp() = default;

std::string SlicerApp::firstArgument() const {
  if (st_.args.empty() || optionOf(st_.args[0])) return {};
  return st_.args[0];
}

void SlicerApp::badOption(const std::string& text) {
  badOptions_.push_back(text);
  tellOperator(text);
}

std::optional<int> SlicerApp::intOption(char letter, const std::string& value, IntRange range) {
  auto v = decimalValue(value);
  if (!v) {
    badOption(plat::format("option -%c: \"%s\" is not a whole number, ignored", letter, value));
  } else if (!range.holds(*v)) {
    badOption(plat::format("option -%c: %d is outside %d..%d, ignored", letter, *v, range.lo, range.hi));
    v.reset();
  }
  return v;
}

std::vector<std::string> SlicerApp::inputFiles() const {
  std::vector<std::string> in;
  const std::string& m = st_.modelName;
  if (!m.empty()) {
    const bool job = isJobFile(m);
    in.push_back(job || st_.bmpMode ? m : stlFileName(m));
    if (!job) in.push_back(supportFileName(m));
  }
  if (!st_.colourCubeFile.empty()) in.push_back(st_.colourCubeFile);
  in.push_back(st_.workFolder + "/ngsetup.txt");
  return in;
}

void SlicerApp::formCreate(std::vector<std::string> args, const std::string& currentDir, std::int64_t startTick) {
  st_.args = std::move(args);
  st_.workFolder = currentDir;
  st_.commandLineJob = false;
  for (const auto& a : st_.args)
    if (auto o = optionOf(a); o && (o->letter == 'F' || o->letter == 'V')) unattended_ = true;
  for (const auto& a : st_.args) applyStartOption(a);
  st_.paramText = paramTextOf(st_.args);
  st_.paramCrc = plat::crc16Modbus(st_.paramText);
  if (!st_.args.empty() && (st_.args[0].find("\\rhirunp3d.pov") != std::string::npos ||
                            st_.args[0].find("/rhirunp3d.pov") != std::string::npos)) {
    st_.modelName = kRhinoModel;
    rhinoWait_->start();
  }
  // Read once here and when the operator asks, never while a job runs: the
  // batch pass sets -W and -S after this, and they must hold for the job.
  readSetupFile(false);
  // 100 ms after the start, not after building the window: the count
  // runs while the window is built, as every batch slice waits for it.
  const std::int64_t since = startTick < 0 ? 0 : clock_.tickMs() - startTick;
  doparam_->setInterval(int(std::clamp<std::int64_t>(100 - since, 1, 100)));
  doparam_->start();
  refresh();
}

void SlicerApp::applyStartOption(const std::string& arg) {
  auto o = optionOf(arg);
  if (!o) return;
  SliceValues& v = st_.values;
  switch (o->letter) {
    case 'F':
      st_.modelName = pathValue(o->value);
      st_.markerRow = 0;
      st_.markerReset = true;
      st_.commandLineJob = true;
      break;
    case 'I':
      if (auto n = intOption('I', o->value, kInstanceRange)) st_.instanceNumber = *n;
      break;
    case 'K':
      st_.outputName = pathValue(o->value);
      break;
    case 'V':
      st_.markerRow = 0;
      st_.markerReset = true;
      st_.modelName = pathValue(o->value);
      if (fileExists(st_.modelName)) {
        st_.previewOnly = true;
        st_.commandLineJob = true;
      } else {
        tellOperator("no such file: " + st_.modelName);
        exitStatus_ = kExitModelFailed;
        closetimer_->start();
      }
      break;
    case 'Y':
      if (auto n = intOption('Y', o->value, kYShiftRange)) v.yShift = *n;
      break;
    case 'L':
      if (auto n = intOption('L', o->value, kLayerMicronsRange)) {
        st_.layerbox = plat::format("%.2f", *n / 1000.0);
        st_.layerMm = *n / 1000.0;
      }
      break;
    case 'E':
      if (auto n = intOption('E', o->value, kColourCodeRange)) v.defaultColour = *n & 0x7FFF;
      break;
    case 'D':
      if (auto n = intOption('D', o->value, kSkinMicronsRange)) v.skinDepth = *n / 1000.0;
      break;
    case 'J':
      st_.exportSlices = true;
      break;
    case 'U':
      if (auto n = intOption('U', o->value, kSkinMicronsRange)) v.surfaceClear = *n / 1000.0;
      break;
    case 'R':
      st_.colourCubeFile = pathValue(o->value);
      // The host's fingerprint holds the cube file: a job made without it
      // would be taken for one made with it.
      if (!stages_.loadColourCube(*this, st_.colourCubeFile)) badOptions_.push_back("option -R: " + st_.colourCubeFile);
      break;
    default:
      break;
  }
}

void SlicerApp::applyBatchOption(const std::string& arg) {
  auto o = optionOf(arg);
  if (!o) return;
  SliceValues& v = st_.values;
  switch (o->letter) {
    case 'M':
      if (intOption('M', o->value, kStepRange)) {
        taggedEditChanged(4, o->value);  // Edit1: minstepx
        taggedEditChanged(1, o->value);  // Edit2: minstepy
      }
      break;
    case 'W':
      if (auto n = intOption('W', o->value, kDropsRange)) v.wpix = *n;
      break;
    case 'S':
      if (auto n = intOption('S', o->value, kDropsRange)) v.spix = *n;
      break;
    case 'C':
      if (auto n = intOption('C', o->value, kColourWeightRange)) v.colourFactor = *n * 0.01;
      break;
    default:
      break;
  }
}

void SlicerApp::doparamTimer() {
  doparam_->stop();
  if (!st_.commandLineJob) {
    st_.interactive = st_.args.size() < 2 || st_.args[1].find('y') == std::string::npos;
    if (!st_.interactive) prepareModel(true);
    return;
  }
  for (const auto& a : st_.args) applyBatchOption(a);
  st_.interactive = false;
  refresh();
  const bool ready = prepareModel(false);
  if (st_.previewOnly) {
    if (ready) stages_.openPreview(*this);
    else exitStatus_ = kExitModelFailed;
    ui_.closeWindow();
    return;
  }
  st_.batchJob = true;
  if (!badOptions_.empty()) {
    // A job made with other values than the command line asks for would
    // carry the fingerprint of the values asked for.
    tellOperator(plat::format("%zu option value(s) refused: no job written", badOptions_.size()));
    exitStatus_ = kExitBadOption;
    invalidateOutput();
  } else if (ready) {
    const JobOutcome o = writeJob();
    if (o == JobOutcome::NotWritten) {
      exitStatus_ = kExitNoJob;
      invalidateOutput();
    } else if (o != JobOutcome::Finished) {
      exitStatus_ = kExitIncomplete;
    }
  } else {
    exitStatus_ = kExitModelFailed;
    invalidateOutput();
  }
  // Always, so the host never waits for a job that will not come.
  setReadyEvent();
  closetimer_->start();
}

// A batch run that wrote no job leaves the mark of an aborted job in the
// output, so a job left there by an earlier run is never taken for this one.
void SlicerApp::invalidateOutput() {
  if (st_.outputName.empty() && st_.modelName.empty()) return;
  const std::string out = jobOutputName(st_.modelName, st_.outputName);
  // Only a job already there needs the mark: where there is none, nothing
  // is written (a model that could not be read never leaves a file that
  // looks like a job). Only a regular file is marked, and an input (the
  // model, a .p3d job given as the model, the support file) never is.
  struct stat a {};
  if (stat(localPath(out).c_str(), &a) != 0 || !S_ISREG(a.st_mode)) return;
  for (const auto& in : inputFiles()) {
    struct stat b {};
    if (stat(localPath(in).c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return;
  }
  if (std::string why; !plat::writeFileAtomically(localPath(out), "   ", why))
    ui_.logLine(plat::format("cannot write %s: %s", out, why));
}

void SlicerApp::setReadyEvent() {
  const std::string name = readyEventName(st_.instanceNumber);
  if (!readyEvent_) readyEvent_ = plat::NamedEvent::open(name);
  if (!readyEvent_ || !readyEvent_->set())
    ui_.logLine(plat::format("cannot set the event \"%s\": %s", name, std::string(std::strerror(errno))));
}

void SlicerApp::tellOperator(const std::string& text) {
  ui_.logLine(text);
  if (!unattended_ && ui_.canAsk()) ui_.showMessage(text);
}

void SlicerApp::showProgress(int percent) {
  ui_.setProgress(percent, percent >= 1 && percent <= 99 ? plat::format("%d%% layertint", percent) : "layertint");
}

JobOutcome SlicerApp::writeJob() {
  st_.jobRunning = true;
  ui_.setJobRunning(true);
  const JobOutcome o = stages_.writeJob(*this);
  st_.jobRunning = false;
  ui_.setJobRunning(false);
  return o;
}

void SlicerApp::readSetupFile(bool keepValues) {
  if (st_.jobRunning) return;
  if (!keepValues) {
    st_.values.wpix = 48;
    st_.values.spix = 48;
    st_.values.copiesX = 1;
  }
  SetupBlocks s = readSetupBlocks(st_.workFolder + "/ngsetup.txt");
  for (const auto& n : s.notes) ui_.logLine(n);
  if (!s.found) return;
  st_.setupBlock1 = s.block1;
  st_.setupBlock2 = s.block2;
  if (s.wp) st_.values.wpix = *s.wp;
  if (s.sp) st_.values.spix = *s.sp;
}

bool SlicerApp::prepareModel(bool useFirstArgument) {
  showProgress(0);
  if (st_.prepared) return true;
  if (useFirstArgument) {
    std::string first = firstArgument();
    if (first.empty()) first = ui_.chooseModelFile();
    if (first.empty()) {
      ui_.closeWindow();
      return false;
    }
    st_.modelName = first;
  }
  if (st_.modelName.empty()) st_.modelName = firstArgument();
  const std::string& name = st_.modelName;
  st_.bmpMode = name.size() >= 4 && upper(name.substr(name.size() - 4)) == ".BMP";
  if (st_.bmpMode) {
    st_.bmpLayerMode = true;
    st_.bmpScale = 3.0;
    // Renderer models are told by their file name, wherever they lie.
    const auto slash = name.find_last_of("/\\");
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    if (file.rfind("#amin", 0) == 0) {
      st_.bmpLayerMode = false;
      if (file.size() > 5 && file[5] == 'h') st_.bmpScale = 1.0;
    }
  } else {
    // The extension starts at the first "." of the file name, not of a folder.
    const auto fileStart = name.find_last_of("/\\");
    const auto dot = name.find('.', fileStart == std::string::npos ? 0 : fileStart + 1);
    if (dot != std::string::npos && upper(name.substr(dot, 4)) == ".POV") {
      const std::string before = name.substr(0, dot);
      st_.rdlabel = "converting   " + before;
      refresh();
      const bool converted = stages_.convertPov(*this, name, before + ".stl");
      st_.rdlabel.clear();
      refresh();
      if (!converted) return false;
      st_.modelName = before + ".stl";
    }
  }
  if (isJobFile(st_.modelName)) {
    st_.rdlabel = "p3d file";
    st_.zend = "-1";
  } else {
    ui_.setBusyCursor(true);
    st_.rdlabel = "loading " + st_.modelName + "...";
    refresh();
    ui_.processEvents();
    std::optional<Box> box;
    if (!st_.bmpMode) {
      if (loadModel()) box = modelBox(model_);
    } else {
      box = stages_.bitmapModelBox(*this);
    }
    ui_.setBusyCursor(false);
    if (!box) {
      refresh();
      return false;
    }
    if (!applyBox(*box)) {
      refresh();
      return false;
    }
    st_.prvbutVisible = true;
  }
  st_.dcopies = std::to_string(st_.values.copiesX * st_.values.copiesY);
  st_.prepared = true;
  refresh();
  return true;
}

bool SlicerApp::loadModel() {
  std::string name = st_.modelName;
  if (!st_.args.empty() && st_.args[0] == "@") {
    std::string error;
    auto text = readInputFile(kTraceBatchFile, "the batch file", kMaxSmallTextBytes, error);
    if (!text || text->empty()) {
      st_.rdlabel = text ? plat::format("cannot read the batch file %s: it is empty", kTraceBatchFile) : error;
      tellOperator(st_.rdlabel);
      return false;
    }
    name = modelNameFromTraceLine(text->substr(0, text->find('\n')));
  }
  if (name.empty()) {
    st_.rdlabel = "no model given";
    tellOperator(st_.rdlabel);
    return false;
  }
  LoadResult r = loadColouredStl(name, st_.values, model_, [this](int p) { showProgress(p); });
  for (const auto& n : r.notes) ui_.logLine(n);
  if (!r.ok) {
    st_.rdlabel = r.error;
    tellOperator(r.error);
    return false;
  }
  st_.modelName = name;
  stages_.modelLoaded(*this);
  return true;
}

bool SlicerApp::applyBox(const Box& b) {
  if (!st_.bmpMode && b.z > kBuildRoomHeightMm) {
    // One stray point far above the model would make hours of empty layers.
    st_.rdlabel = plat::format("%s reaches %.1f mm high, above the build room's %g mm: it is not sliced",
                               st_.modelName, b.z, kBuildRoomHeightMm);
    tellOperator(st_.rdlabel);
    return false;
  }
  st_.boxX = b.x;
  st_.boxY = b.y;
  st_.boxZ = b.z;
  st_.boxXMicrons = clampedInt(std::nearbyint(b.x * 1000));
  st_.boxYMicrons = clampedInt(std::nearbyint(b.y * 1000));
  st_.boxZMicrons = clampedInt(std::nearbyint(b.z * 1000));
  st_.rdlabel = plat::format("bbox = %.1f X %.1f X %.1f mm", b.x - 10, b.y - 10, b.z);
  st_.zend = plat::format("%.2f", b.z);
  // More copies than the raster has dots or rows could never be printed.
  st_.copiesLimitX = std::clamp(clampedInt(std::trunc(190 / (b.x == 0 ? 1e-10 : b.x))), 0, kCopiesRange.hi);
  st_.copiesLimitY = std::clamp(clampedInt(std::trunc(275 / (b.y == 0 ? 1e-10 : b.y))), 0, kCopiesRange.hi);
  st_.values.modelWidthDots = clampedInt(std::nearbyint(b.x * 300 / 25.4));
  st_.values.modelRows = clampedInt(std::nearbyint(b.y * 300 / 25.4 + 24));
  st_.values.copiesX = st_.values.copiesY = 1;
  st_.zstart = "0.0";
  if (!st_.bmpMode) reportRasterEdges(b);
  return true;
}

// The raster holds dots 0 to 2400 across and rows 0 to 3484: what lies
// beyond is cut off, and below z = 0 nothing is sliced.
void SlicerApp::reportRasterEdges(const Box& b) {
  const Vec3f lo = placedMinimum(model_);
  const double xMin = -10 / kDotsPerMm, xMax = (LayerSlicer::kRasterDots - 10) / kDotsPerMm;
  const double yMin = dotToY(0), yMax = dotToY(LayerSlicer::kRows - 1);
  std::string cut;
  if (lo.x < xMin || b.x > xMax)
    cut += plat::format(" x %.1f to %.1f mm (the raster holds %.1f to %.1f mm);", double(lo.x), b.x, xMin, xMax);
  if (lo.y < yMin || b.y > yMax)
    cut += plat::format(" y %.1f to %.1f mm (the raster holds %.1f to %.1f mm);", double(lo.y), b.y, yMin, yMax);
  if (lo.z < 0) cut += plat::format(" z from %.1f mm (layers start at 0);", double(lo.z));
  if (cut.empty()) return;
  cut.pop_back();
  ui_.logLine(plat::format("%s is cut at the raster's edge, only what lies within is sliced:%s", st_.modelName, cut));
}

void SlicerApp::rhinoWaitTimer() {
  if (!std::ifstream(kRhinoModel)) return;
  rhinoWait_->stop();
  st_.modelName = kRhinoModel;
  prepareModel(false);
  refresh();
  timer1_->start();
}

FormView SlicerApp::view() const {
  const SliceValues& v = st_.values;
  FormView f;
  f.caption = "Colored stl slicer";
  f.layerbox = st_.layerbox;
  f.wpixbox = std::to_string(v.wpix);
  f.spixbox = std::to_string(v.spix);
  f.edit1 = std::to_string(v.minstepx);
  f.edit2 = std::to_string(v.minstepy);
  f.edit3 = std::to_string(v.portValueP);
  f.edit4 = std::to_string(v.portValueD);
  f.zstart = st_.zstart;
  f.zend = st_.zend;
  f.dcopies = st_.dcopies;
  f.qlabel = std::string("Lo MedHi ").substr(std::size_t(3 * std::clamp(v.quality, -1, 1) + 3), 3);
  f.rdlabel = st_.rdlabel;
  f.progressLabel = st_.progressLabel;
  f.layerLabel = st_.layerLabel;
  f.colourBoxRgb = colourToWindow(v.defaultColour);
  f.overlap = st_.overlap;
  f.mkfile = st_.mkfile;
  f.powdstart = st_.powdstart;
  f.prvbutVisible = st_.prvbutVisible;
  return f;
}

}  // namespace lt
