#include "slicer/slicer_core.h"

#include "platform/format.h"
#include "slicer/job_writer.h"
#include "slicer/slice_pipeline.h"
#include "slicer/slicer_app.h"

namespace lt {

SlicerCore::SlicerCore(int workers) : workers_(workers) {}

int SlicerCore::workers() const { return workers_ > 0 ? workers_ : PagePipeline::defaultWorkers(); }

void SlicerCore::loadColourCube(SlicerApp& app, const std::string& file) {
  std::string error;
  if (auto c = readColourCube(file, error)) cube_ = *c;
  else app.tellOperator(error + "; the colour cube stays as it was");
}

JobOutcome SlicerCore::writeJob(SlicerApp& app) { return lt::writeJob(app, *this); }

bool SlicerCore::sliceBitmapLayer(SlicerApp& app, float, SpanStore&) {
  app.tellOperator(plat::format("bitmap layers cannot be read by this build: %s", app.state().modelName));
  return false;
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
