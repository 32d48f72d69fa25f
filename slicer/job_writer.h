#pragma once
// The whole print job: a start block, for every layer a command block, its
// raster page and a page end, then an end block and the fingerprint line.
// Written to the .p3d file, or straight to a printer when "to file" is off.
//
// The writer takes what the job is made of as one value (JobRequest) and
// talks to the window only through JobProgress, so it can be run and tested
// without the program around it.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "slicer/colour_model.h"
#include "slicer/coloured_model.h"
#include "slicer/layer_slicer.h"
#include "slicer/slice_values.h"
#include "slicer/slicer_stages.h"
#include "slicer/span_store.h"

namespace lt {

struct JobRequest {
  // The loaded model; its palette is read for every page (bitmap layers may
  // change it between pages). Unused when a .p3d job is copied.
  const ColouredModel* model = nullptr;
  std::string modelName;  // the model, or a .p3d job ("....p3d") to copy
  bool toFile = true;     // else straight to the printer
  std::string outputName;           // the .p3d file when toFile
  std::string printerPort;          // the device when !toFile
  std::vector<std::string> inputs;  // files the output must never be
  std::string jobLogFolder;         // where "prt3d.log" is kept
  SliceValues values;
  SliceSettings slicing;
  ColourCube cube = ColourCube::standard();
  double thickness = 0.25;          // mm
  std::string zStart, zEnd;         // mm, as the window shows them
  double boxY = 0;                  // mm, for CL
  std::string setupBlock1, setupBlock2;
  bool powderStart = true;          // "powdstart": the start block
  bool overlap = true;              // marker rows move on by 13, else none
  int markerRow = 0;                // of the first page
  bool markerBytesZero = false;     // after -F or -V
  int layerShift = 0;               // dither shift of the page before the first
  bool bmpMode = false, bmpLayerMode = false;
  std::uint16_t paramCrc = 0xFFFF;  // with the model's size and date: the fingerprint
  int workers = 1;                  // slicing threads
  // Bitmap models: the layer at z into `out` (it may change the palette);
  // false ends the job as failed.
  std::function<bool(float z, SpanStore& out)> bitmapLayer;
};

// What the writer shows and asks while it works.
class JobProgress {
 public:
  virtual ~JobProgress() = default;
  // Lets window events run, so that stop and abort act.
  virtual void processEvents() = 0;
  virtual bool stopRequested() const = 0;  // "stop" or "abort"
  virtual bool abortRequested() const = 0;
  // Layers begin: a stop given before counts no more.
  virtual void clearStop() = 0;
  virtual void showProgress(int percent) = 0;
  // The job has begun (the preview button hides).
  virtual void started() = 0;
  // A layer's page is written: the window shows its height.
  virtual void layerWritten(float z) = 0;
  // The job's end as the status line shows it.
  virtual void finished(const std::string& status) = 0;
  // A message the operator must see (a box at the window, a log line in an
  // unattended run).
  virtual void tell(const std::string& text) = 0;
  // A log line only.
  virtual void note(const std::string& text) = 0;
};

struct JobResult {
  JobOutcome outcome = JobOutcome::NotWritten;
  // Where the next job goes on: the marker row and dither shift after the
  // last page written.
  int markerRow = 0;
  int layerShift = 0;
};

// The heights of a job's layers: from zStart, adding the thickness in the
// job's float arithmetic, while below zEnd. Empty with an error when the
// heights would not grow (a thickness of 0 or one too small for the height).
std::vector<float> layerHeights(float zStart, float zEnd, double thickness, std::string& error);

// Writes the job. A .p3d job that is its own output is used as it stands:
// nothing is copied or appended. An output that is one of the inputs is
// refused.
JobResult writeJob(const JobRequest& request, JobProgress& progress, plat::Clock& clock);

}  // namespace lt
