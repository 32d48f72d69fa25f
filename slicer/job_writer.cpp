#include "slicer/job_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <thread>

#include "platform/format.h"
#include "slicer/command_line.h"
#include "slicer/job_format.h"
#include "slicer/job_output.h"
#include "slicer/model_names.h"
#include "slicer/printer_port.h"
#include "slicer/raster_encoder.h"
#include "slicer/slice_pipeline.h"
#include "slicer/slicer_app.h"
#include "slicer/slicer_core.h"

namespace lt {

namespace {

constexpr std::size_t kMaxLayers = 10'000'000;
constexpr std::size_t kCopyBlock = 255;

std::optional<double> numberOf(const std::string& text) {
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

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(localPath(a).c_str(), &sa) == 0 && stat(localPath(b).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

class JobRun {
 public:
  JobRun(SlicerApp& app, SlicerCore& core) : app_(app), st_(app.state()), core_(core) {}
  JobOutcome run();

 private:
  bool openOutput(bool copying);
  void logLine(const std::string& text);
  std::string stamp(const char* fmt);
  double minutes() { return double(app_.clock().tickMs() - startMs_) / 60000.0; }
  bool emit(std::string_view b);
  void copyJob(std::ifstream& in, long long size);
  void writeLayers(const std::vector<float>& heights);
  bool layerDone(float z);
  bool stopping() const { return st_.abortFlag || st_.stopKey == 'H' || st_.stopKey == 'h'; }
  void tell(const std::string& text) { app_.tellOperator(text); }

  SlicerApp& app_;
  SlicerState& st_;
  SlicerCore& core_;
  std::unique_ptr<JobOutput> out_;
  bool toFile_ = true;
  std::string outName_;
  float zStart_ = 0, zEnd_ = 0, z_ = 0;
  double thickness_ = 0.25;
  std::int64_t startMs_ = 0;
  bool failed_ = false;  // the output or a page failed: the job is not complete
};

bool JobRun::emit(std::string_view b) {
  if (failed_) return false;
  if (out_->write(b)) return true;
  failed_ = true;
  tell(out_->error());
  return false;
}

std::string JobRun::stamp(const char* fmt) {
  const std::time_t t = std::chrono::system_clock::to_time_t(app_.clock().wallNow());
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, fmt, &tm);
  return buf;
}

// "prt3d.log" beside "ngsetup.txt": opened, appended and closed per entry,
// so an entry is on disk even when the program ends during the job.
void JobRun::logLine(const std::string& text) {
  std::ofstream log(localPath(st_.workFolder + "/prt3d.log"), std::ios::app | std::ios::binary);
  if (!(log << text) || !log.flush())
    app_.ui().logLine(plat::format("cannot write %s/prt3d.log: %s", st_.workFolder, std::string(std::strerror(errno))));
}

bool JobRun::openOutput(bool copying) {
  toFile_ = st_.mkfile;
  if (!toFile_) {
    const int fd = openPrinterPort(115200, false, st_.printerPort);
    if (fd < 0) {
      // Sending a job into nothing and calling it ready would hide the fault.
      tell(plat::format("cannot open the printer port %s: %s; no job sent", st_.printerPort,
                        std::string(std::strerror(errno))));
      return false;
    }
    PortWriter::Hooks hooks;
    hooks.aborted = [this] { return st_.abortFlag; };
    hooks.stopping = [this] { return stopping(); };
    hooks.waitTick = [this] {
      app_.ui().processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    out_ = std::make_unique<PortWriter>(fd, st_.printerPort, std::move(hooks));
    return true;
  }
  outName_ = jobOutputName(st_.modelName, st_.outputName);
  if (!st_.batchJob) {
    outName_ = app_.ui().chooseJobFile(outName_);
    if (outName_.empty()) outName_ = st_.workFolder + "/model.p3d";
  }
  // A job copied onto itself: the old file stays readable through the open
  // source while the new one is written under its name.
  if (copying && sameFile(outName_, st_.modelName)) ::unlink(localPath(outName_).c_str());
  auto f = std::make_unique<FileWriter>();
  if (!f->open(outName_)) {
    tell(f->error());
    return false;
  }
  out_ = std::move(f);
  return true;
}

void JobRun::copyJob(std::ifstream& in, long long size) {
  const long long every = std::max(1LL, size / 25500);
  long long pos = 0, blocks = 0;
  char buf[kCopyBlock];
  while (!st_.abortFlag && in) {
    in.read(buf, sizeof buf);
    const auto n = in.gcount();
    if (n <= 0) break;
    if (!emit(std::string_view(buf, std::size_t(n)))) return;
    pos += n;
    if (++blocks % every == 0) {
      app_.showProgress(int(pos * 100 / std::max(1LL, size)));
      app_.ui().processEvents();
    }
  }
  if (in.bad()) {
    failed_ = true;
    tell(plat::format("cannot read the job %s", st_.modelName));
    return;
  }
  out_->pageDone();
  app_.showProgress(100);
}

// After a layer's page: the window shows the height and the progress.
bool JobRun::layerDone(float z) {
  if (!out_->pageDone()) {
    failed_ = true;
    tell(out_->error());
    return false;
  }
  st_.zstart = plat::format("%.2f", double(z));
  const double span = double(zEnd_) - zStart_;
  app_.showProgress(span > 0 ? int((double(z) - zStart_) / span * 100) : 100);
  app_.refresh();
  return true;
}

void JobRun::writeLayers(const std::vector<float>& heights) {
  SliceValues v = st_.values;
  const bool lowQuality = v.quality == -1;
  if (lowQuality) {
    v.wpix *= 2;
    v.spix *= 2;
  }
  ColouredModel& model = app_.model();
  if (!st_.bmpMode) applyDefaultColour(app_);
  ColourTables tables;
  tables.build(model.palette, core_.colourCube(), {v.wpix, v.spix, v.colourFactor});

  PageSetup setup;
  setup.quality = v.quality;
  setup.lowQuality = lowQuality;
  setup.widthCode = model.widthCode;
  setup.directOutput = !toFile_;
  setup.markerBytesZero = st_.markerReset;
  setup.cursorText = "\x1b*p155X";
  setup.copiesX = v.copiesX;
  setup.copiesY = v.copiesY;
  setup.modelWidthDots = v.modelWidthDots;
  setup.modelRows = v.modelRows;

  const int zs = thicknessCode(thickness_);
  int cl = clValue(zEnd_, zStart_, st_.boxY);
  if (st_.powdstart) emit(startBlock(st_.setupBlock1, cl, v.quality));

  const int markerStep = st_.overlap ? 13 : 0;
  std::vector<PageJob> pages(heights.size());
  int marker = st_.markerRow;
  for (std::size_t k = 0; k < heights.size(); ++k) {
    pages[k].z = heights[k];
    pages[k].layerShift = int((core_.layerShift + k + 1) % 8);
    pages[k].markerRow = marker;
    marker = nextMarkerRow(marker, markerStep);
  }

  // The slicer outlives the pipeline whose workers use it.
  std::unique_ptr<LayerSlicer> slicer;
  std::unique_ptr<PagePipeline> pipeline;
  std::unique_ptr<RasterEncoder> serialEncoder;
  SpanStore bitmapStore;
  if (!st_.bmpMode) {
    slicer = std::make_unique<LayerSlicer>(model, sliceSettingsOf(app_));
    pipeline = std::make_unique<PagePipeline>(*slicer, tables, setup, pages, core_.workers());
  } else {
    serialEncoder = std::make_unique<RasterEncoder>(tables, setup);
  }

  std::size_t k = 0;
  std::string page, error;
  for (; k < pages.size() && !stopping() && !failed_; ++k) {
    app_.ui().processEvents();
    page.clear();
    if (pipeline) {
      PagePipeline::Take t;
      while ((t = pipeline->take(k, 50, page, error)) == PagePipeline::Take::NotYet) app_.ui().processEvents();
      if (t == PagePipeline::Take::Failed) {
        failed_ = true;
        tell(error);
        break;
      }
    } else {
      // Bitmap layers come one at a time from their source, which may wait
      // for an outside renderer; the palette may change with every layer.
      if (!core_.sliceBitmapLayer(app_, pages[k].z, bitmapStore)) {
        failed_ = true;
        break;
      }
      tables.build(model.palette, core_.colourCube(), {v.wpix, v.spix, v.colourFactor});
      serialEncoder->encodeLayer(bitmapStore, pages[k].layerShift, pages[k].markerRow, page);
    }
    cl = clValue(zEnd_, pages[k].z, st_.boxY);
    emit(layerBlock(st_.setupBlock2, cl, zs));
    emit(page);
    emit(pageEnd(v.quality, cl));
    if (failed_ || !layerDone(pages[k].z)) break;
    core_.layerShift = pages[k].layerShift;
    st_.markerRow = nextMarkerRow(pages[k].markerRow, markerStep);
    z_ = float(double(pages[k].z) + thickness_);
  }
  pipeline.reset();  // stops the workers; pages made ahead are dropped
  if (z_ > zEnd_) app_.showProgress(100);
  emit(endBlock());
}

JobOutcome JobRun::run() {
  thickness_ = layerThickness(st_);
  if (!(thickness_ > 0) || !std::isfinite(thickness_)) {
    tell(plat::format("the layer thickness %g mm is not above 0: no job written", thickness_));
    return JobOutcome::NotWritten;
  }
  const auto zs = numberOf(st_.zstart), ze = numberOf(st_.zend);
  if (!zs || !ze) {
    tell(plat::format("z start \"%s\" or z end \"%s\" is not a number: no job written", st_.zstart, st_.zend));
    return JobOutcome::NotWritten;
  }
  zStart_ = float(*zs);
  zEnd_ = float(*ze + thickness_);

  const bool copying = endsWith(st_.modelName, ".p3d");
  std::ifstream source;
  long long sourceSize = 0;
  std::vector<float> heights;
  if (copying) {
    source.open(localPath(st_.modelName), std::ios::binary);
    struct stat sst {};
    if (!source || stat(localPath(st_.modelName).c_str(), &sst) != 0) {
      tell(plat::format("cannot read the job %s: %s", st_.modelName, std::string(std::strerror(errno))));
      return JobOutcome::NotWritten;
    }
    sourceSize = sst.st_size;
  } else {
    if (st_.bmpMode && st_.bmpLayerMode) zEnd_ = float(double(zStart_) + 0.1);
    std::string error;
    heights = layerHeights(zStart_, zEnd_, thickness_, error);
    if (!error.empty()) {
      tell(error + ": no job written");
      return JobOutcome::NotWritten;
    }
  }
  if (!openOutput(copying)) return JobOutcome::NotWritten;

  st_.prvbutVisible = false;
  app_.refresh();
  const std::string startEntry = plat::format("%s  from %9.4f to %9.4f\n", st_.modelName, double(zStart_),
                                              double(zEnd_)) +
                                 stamp("%Y/%m/%d %H:%M:%S") + "\n";
  logLine(startEntry);
  logLine(startEntry);

  z_ = zStart_;
  startMs_ = app_.clock().tickMs();
  if (copying) {
    copyJob(source, sourceSize);
  } else {
    st_.stopKey = 0;
    if (z_ < zEnd_) writeLayers(heights);
  }

  const double mins = minutes();
  logLine(plat::format(" reached %9.4f at %s (%9.2f min )\n", double(z_), stamp("%H:%M:%S"), mins));
  const bool reachedEnd = z_ >= zEnd_;
  if (reachedEnd && !failed_) {
    st_.rdlabel = plat::format("** READY (%.2f min ) ", mins);
    app_.showProgress(100);
  } else {
    st_.rdlabel = "   STOPPED  ";
  }
  app_.refresh();

  JobOutcome outcome = JobOutcome::Finished;
  if (st_.abortFlag || failed_) outcome = JobOutcome::Aborted;
  else if (!reachedEnd) outcome = JobOutcome::Stopped;
  if (toFile_) {
    // Only a complete job carries the fingerprint the host reuses jobs by.
    if (outcome == JobOutcome::Finished)
      emit(fingerprintLine(app_.model().modelSize, app_.model().modelDateCode, st_.paramCrc));
    else
      emit(kNoFingerprint);
  }
  if (!out_->close() && !failed_) {
    tell(out_->error());
    outcome = JobOutcome::Aborted;
  }
  if (outcome == JobOutcome::Finished && !st_.interactive) app_.ui().closeWindow();
  return outcome;
}

}  // namespace

double layerThickness(const SlicerState& s) {
  if (s.layerMm) return *s.layerMm;
  if (auto v = numberOf(s.layerbox)) return *v;
  return 0.25;
}

std::vector<float> layerHeights(float zStart, float zEnd, double thickness, std::string& error) {
  std::vector<float> z;
  for (float h = zStart; h < zEnd;) {
    z.push_back(h);
    const float next = float(double(h) + thickness);
    if (!(next > h)) {
      error = plat::format("the layer thickness %g mm does not move the height on from %.4f mm", thickness,
                           double(h));
      return {};
    }
    if (z.size() > kMaxLayers) {
      error = plat::format("more than %zu layers of %g mm", kMaxLayers, thickness);
      return {};
    }
    h = next;
  }
  return z;
}

JobOutcome writeJob(SlicerApp& app, SlicerCore& core) { return JobRun(app, core).run(); }

}  // namespace lt
