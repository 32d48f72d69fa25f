#include "slicer/app_job.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/job_writer.h"
#include "slicer/slicer_app.h"
#include "slicer/slicer_core.h"

namespace lt {

namespace {

std::optional<double> boxNumber(const std::string& text) {
  const char* b = text.c_str();
  while (*b == ' ') ++b;
  char* e = nullptr;
  errno = 0;
  const double v = std::strtod(b, &e);
  if (e == b || errno == ERANGE || !std::isfinite(v)) return std::nullopt;
  while (*e == ' ') ++e;
  if (*e != 0) return std::nullopt;
  return v;
}

// The window as the job writer sees it.
class WindowProgress : public JobProgress {
 public:
  explicit WindowProgress(SlicerApp& app) : app_(app), st_(app.state()) {}
  void processEvents() override { app_.ui().processEvents(); }
  bool stopRequested() const override { return st_.abortFlag || st_.stopKey == 'H' || st_.stopKey == 'h'; }
  bool abortRequested() const override { return st_.abortFlag; }
  void clearStop() override { st_.stopKey = 0; }
  void showProgress(int percent) override { app_.showProgress(percent); }
  void started() override {
    st_.prvbutVisible = false;
    app_.refresh();
  }
  void layerWritten(float z) override {
    st_.zstart = plat::format("%.2f", double(z));
    app_.refresh();
  }
  void finished(const std::string& status) override {
    st_.rdlabel = status;
    app_.refresh();
  }
  void tell(const std::string& text) override { app_.tellOperator(text); }
  void note(const std::string& text) override { app_.ui().logLine(text); }

 private:
  SlicerApp& app_;
  SlicerState& st_;
};

}  // namespace

double layerThickness(const SlicerState& s) {
  if (s.layerMm) return *s.layerMm;
  if (auto v = boxNumber(s.layerbox)) return *v;
  return 0.25;
}

JobOutcome writeJob(SlicerApp& app, SlicerCore& core) {
  SlicerState& st = app.state();
  JobRequest r;
  r.model = &app.model();
  r.modelName = st.modelName;
  r.toFile = st.mkfile;
  r.printerPort = st.printerPort;
  if (r.toFile) {
    r.outputName = jobOutputName(st.modelName, st.outputName);
    if (!st.batchJob) {
      r.outputName = app.ui().chooseJobFile(r.outputName);
      if (r.outputName.empty()) r.outputName = st.workFolder + "/model.p3d";
    }
  }
  r.inputs = app.inputFiles();
  r.jobLogFolder = st.workFolder;
  r.values = st.values;
  r.cube = core.colourCube();
  r.thickness = layerThickness(st);
  r.zStart = st.zstart;
  r.zEnd = st.zend;
  r.boxY = st.boxY;
  r.setupBlock1 = st.setupBlock1;
  r.setupBlock2 = st.setupBlock2;
  r.powderStart = st.powdstart;
  r.overlap = st.overlap;
  r.markerRow = st.markerRow;
  r.markerBytesZero = st.markerReset;
  r.layerShift = core.layerShift;
  r.bmpMode = st.bmpMode;
  r.bmpLayerMode = st.bmpLayerMode;
  r.paramCrc = st.paramCrc;
  r.workers = core.workers();
  if (!st.bmpMode) applyDefaultColour(app);
  r.slicing = sliceSettingsOf(app);
  r.bitmapLayer = [&app, &core](float z, SpanStore& out) { return core.sliceBitmapLayer(app, z, out); };

  WindowProgress progress(app);
  const JobResult res = writeJob(r, progress, app.clock());
  st.markerRow = res.markerRow;
  core.layerShift = res.layerShift;
  if (res.outcome == JobOutcome::Finished && !st.interactive) app.ui().closeWindow();
  return res.outcome;
}

}  // namespace lt
