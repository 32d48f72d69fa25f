#include "slicer/slicer_core.h"

#include "platform/format.h"
#include "slicer/app_job.h"
#include "slicer/pov_import.h"
#include "slicer/slice_pipeline.h"
#include "slicer/slicer_app.h"

namespace lt {

SlicerCore::SlicerCore(int workers) : workers_(workers) {}

int SlicerCore::workers() const { return workers_ > 0 ? workers_ : PagePipeline::defaultWorkers(); }

bool SlicerCore::loadColourCube(SlicerApp& app, const std::string& file) {
  std::string error;
  if (auto c = readColourCube(file, error)) {
    cube_ = *c;
    return true;
  }
  app.tellOperator(error + "; the colour cube stays as it was");
  return false;
}

JobOutcome SlicerCore::writeJob(SlicerApp& app) { return lt::writeJob(app, *this); }

bool SlicerCore::convertPov(SlicerApp& app, const std::string& povName, const std::string& stlName) {
  PovOptions o;
  o.interactive = app.state().interactive;
  o.confirmDelete = [&app] { return app.ui().askYesNo("delete pov file"); };
  o.progress = [&app](int p) { app.showProgress(p); };
  const PovResult r = lt::convertPov(povName, stlName, o);
  if (!r.ok) app.tellOperator(r.error);
  return r.ok;
}

std::optional<Box> SlicerCore::bitmapModelBox(SlicerApp& app) {
  calls_.forget();
  return bitmaps_.modelBox(app);
}

bool SlicerCore::sliceBitmapLayer(SlicerApp& app, float z, SpanStore& out) { return bitmaps_.sliceLayer(app, z, out); }

void SlicerCore::openPreview(SlicerApp& app) {
  if (!windows_) {
    app.tellOperator("the slice preview has no window here");
    return;
  }
  if (preview_.isOpen()) return;
  windows_->runPreview(preview_);
}

bool SlicerCore::editTextFile(SlicerApp& app, const std::string& path) {
  if (editor_.editorOpen) return false;
  if (!windows_) {
    app.tellOperator(plat::format("the text editor has no window here: %s", path));
    return false;
  }
  editor_.editorOpen = true;
  editor_.editFileName = path;
  editor_.editorSaved = false;
  windows_->runEditor(editor_);
  editor_.editorOpen = false;
  return editor_.editorSaved;
}

SliceSettings sliceSettingsOf(const SlicerApp& app) {
  const SliceValues& v = app.state().values;
  SliceSettings s;
  s.skinDepth = v.skinDepth;
  s.surfaceClear = v.surfaceClear;
  s.minstepx = validStep(v.minstepx);
  s.minstepy = validStep(v.minstepy);
  s.singleWhite = app.model().singleWhite;
  return s;
}

void applyDefaultColour(SlicerApp& app) {
  ColouredModel& m = app.model();
  if (auto i = m.palette.find(0)) m.palette.setColour(*i, std::uint16_t(app.state().values.defaultColour));
}

}  // namespace lt
