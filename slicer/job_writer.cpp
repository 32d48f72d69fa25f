#include "slicer/job_writer.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <memory>
#include <optional>
#include <thread>

#include "platform/format.h"
#include "platform/regular_file.h"
#include "slicer/dots.h"
#include "slicer/input_file.h"
#include "slicer/job_format.h"
#include "slicer/job_output.h"
#include "slicer/model_names.h"
#include "slicer/printer_port.h"
#include "slicer/raster_encoder.h"
#include "slicer/slice_pipeline.h"

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

// One file by device and inode, whatever the names; false when either does
// not exist.
bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return stat(localPath(a).c_str(), &sa) == 0 && stat(localPath(b).c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

class JobRun {
 public:
  JobRun(const JobRequest& req, JobProgress& progress, plat::Clock& clock)
      : req_(req), progress_(progress), clock_(clock) {
    result_.markerRow = req.markerRow;
    result_.layerShift = req.layerShift;
  }
  JobResult run();

 private:
  bool outputIsAnInput();
  bool openOutput();
  void logLine(const std::string& text);
  std::string stamp(const char* fmt);
  double minutes() { return double(clock_.tickMs() - startMs_) / 60000.0; }
  bool emit(std::string_view b);
  void copyJob(InputFile& in);
  void writeLayers(const std::vector<float>& heights);
  bool layerDone(float z);
  bool stopping() const { return progress_.stopRequested(); }
  void tell(const std::string& text) { progress_.tell(text); }

  const JobRequest& req_;
  JobProgress& progress_;
  plat::Clock& clock_;
  JobResult result_;
  std::unique_ptr<JobOutput> out_;
  float zStart_ = 0, zEnd_ = 0, z_ = 0;
  std::int64_t startMs_ = 0;
  bool failed_ = false;  // the output or a page failed: the job is not complete
  bool outputFailed_ = false;  // the output took not every byte (a full disk)
};

bool JobRun::emit(std::string_view b) {
  if (failed_) return false;
  if (out_->write(b)) return true;
  failed_ = true;
  outputFailed_ = true;
  tell(out_->error());
  return false;
}

std::string JobRun::stamp(const char* fmt) {
  const std::time_t t = std::chrono::system_clock::to_time_t(clock_.wallNow());
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, fmt, &tm);
  return buf;
}

// "prt3d.log" beside "ngsetup.txt": opened, appended and closed per entry,
// so an entry is on disk even when the program ends during the job.
void JobRun::logLine(const std::string& text) {
  std::string why;
  std::FILE* log = plat::openRegularFile(localPath(req_.jobLogFolder + "/prt3d.log"), "ab", why);
  if (log) {
    const bool written = std::fwrite(text.data(), 1, text.size(), log) == text.size();
    if (std::fclose(log) == 0 && written) return;
    why = std::strerror(errno);
  }
  progress_.note(plat::format("cannot write %s/prt3d.log: %s", req_.jobLogFolder, why));
}

// Writing the job would replace a file the job is made from (the model, its
// support file, the colour cube, "ngsetup.txt").
bool JobRun::outputIsAnInput() {
  for (const auto& in : req_.inputs) {
    if (in.empty() || !sameFile(req_.outputName, in)) continue;
    tell(plat::format("the output %s is the input %s: it is not overwritten, no job written", req_.outputName, in));
    return true;
  }
  return false;
}

bool JobRun::openOutput() {
  if (!req_.toFile) {
    const int fd = openPrinterPort(115200, false, req_.printerPort);
    if (fd < 0) {
      // Sending a job into nothing and calling it ready would hide the fault.
      tell(plat::format("cannot open the printer port %s: %s; no job sent", req_.printerPort,
                        std::string(std::strerror(errno))));
      return false;
    }
    PortWriter::Hooks hooks;
    hooks.aborted = [this] { return progress_.abortRequested(); };
    hooks.stopping = [this] { return stopping(); };
    hooks.waitTick = [this] {
      progress_.processEvents();
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    out_ = std::make_unique<PortWriter>(fd, req_.printerPort, std::move(hooks));
    return true;
  }
  if (outputIsAnInput()) return false;
  auto f = std::make_unique<FileWriter>();
  if (!f->open(req_.outputName)) {
    tell(f->error());
    return false;
  }
  out_ = std::move(f);
  return true;
}

void JobRun::copyJob(InputFile& in) {
  const long long size = in.size();
  const long long every = std::max(1LL, size / 25500);
  long long pos = 0, blocks = 0;
  char buf[kCopyBlock];
  while (!progress_.abortRequested()) {
    const long long n = in.read(buf, sizeof buf);
    if (n < 0) {
      failed_ = true;
      tell(in.error());
      return;
    }
    if (n == 0) break;
    if (!emit(std::string_view(buf, std::size_t(n)))) return;
    pos += n;
    if (++blocks % every == 0) {
      progress_.showProgress(int(pos * 100 / std::max(1LL, size)));
      progress_.processEvents();
    }
  }
  out_->pageDone();
  progress_.showProgress(100);
}

// After a layer's page: the window shows the height and the progress.
bool JobRun::layerDone(float z) {
  if (!out_->pageDone()) {
    failed_ = true;
    outputFailed_ = true;
    tell(out_->error());
    return false;
  }
  progress_.layerWritten(z);
  const double span = double(zEnd_) - zStart_;
  progress_.showProgress(span > 0 ? int((double(z) - zStart_) / span * 100) : 100);
  return true;
}

void JobRun::writeLayers(const std::vector<float>& heights) {
  SliceValues v = req_.values;
  const bool lowQuality = v.quality == -1;
  if (lowQuality) {
    v.wpix *= 2;
    v.spix *= 2;
  }
  const ColouredModel& model = *req_.model;
  ColourTables tables;
  tables.build(model.palette, req_.cube, {v.wpix, v.spix, v.colourFactor});

  PageSetup setup;
  setup.quality = v.quality;
  setup.lowQuality = lowQuality;
  setup.widthCode = model.widthCode;
  setup.directOutput = !req_.toFile;
  setup.markerBytesZero = req_.markerBytesZero;
  setup.cursorText = "\x1b*p155X";
  setup.copiesX = v.copiesX;
  setup.copiesY = v.copiesY;
  setup.modelWidthDots = v.modelWidthDots;
  setup.modelRows = v.modelRows;

  const int zs = thicknessCode(req_.thickness);
  int cl = clValue(zEnd_, zStart_, req_.boxY);
  if (req_.powderStart) emit(startBlock(req_.setupBlock1, cl, v.quality));

  const int markerStep = req_.overlap ? 13 : 0;
  std::vector<PageJob> pages(heights.size());
  int marker = req_.markerRow;
  for (std::size_t k = 0; k < heights.size(); ++k) {
    pages[k].z = heights[k];
    pages[k].layerShift = int((std::size_t(req_.layerShift) + k + 1) % 8);
    pages[k].markerRow = marker;
    marker = nextMarkerRow(marker, markerStep);
  }

  // The slicer outlives the pipeline whose workers use it.
  std::unique_ptr<LayerSlicer> slicer;
  std::unique_ptr<PagePipeline> pipeline;
  std::unique_ptr<RasterEncoder> serialEncoder;
  SpanStore bitmapStore;
  if (!req_.bmpMode) {
    slicer = std::make_unique<LayerSlicer>(model, req_.slicing);
    pipeline = std::make_unique<PagePipeline>(*slicer, tables, setup, pages, req_.workers);
  } else {
    serialEncoder = std::make_unique<RasterEncoder>(tables, setup);
  }

  std::size_t k = 0;
  std::string page, error;
  for (; k < pages.size() && !stopping() && !failed_; ++k) {
    progress_.processEvents();
    page.clear();
    if (pipeline) {
      PagePipeline::Take t;
      while ((t = pipeline->take(k, 50, page, error)) == PagePipeline::Take::NotYet) progress_.processEvents();
      if (t == PagePipeline::Take::Failed) {
        failed_ = true;
        tell(error);
        break;
      }
    } else {
      // Bitmap layers come one at a time from their source, which may wait
      // for an outside renderer; the palette may change with every layer.
      if (!req_.bitmapLayer || !req_.bitmapLayer(pages[k].z, bitmapStore)) {
        failed_ = true;
        break;
      }
      tables.build(model.palette, req_.cube, {v.wpix, v.spix, v.colourFactor});
      serialEncoder->encodeLayer(bitmapStore, pages[k].layerShift, pages[k].markerRow, page);
    }
    cl = clValue(zEnd_, pages[k].z, req_.boxY);
    emit(layerBlock(req_.setupBlock2, cl, zs));
    emit(page);
    emit(pageEnd(v.quality, cl));
    if (failed_ || !layerDone(pages[k].z)) break;
    result_.layerShift = pages[k].layerShift;
    result_.markerRow = nextMarkerRow(pages[k].markerRow, markerStep);
    z_ = float(double(pages[k].z) + req_.thickness);
  }
  pipeline.reset();  // stops the workers; pages made ahead are dropped
  if (z_ > zEnd_) progress_.showProgress(100);
  emit(endBlock());
}

JobResult JobRun::run() {
  const double thickness = req_.thickness;
  if (!(thickness > 0) || !std::isfinite(thickness)) {
    tell(plat::format("the layer thickness %g mm is not above 0: no job written", thickness));
    return result_;
  }
  const auto zs = numberOf(req_.zStart), ze = numberOf(req_.zEnd);
  if (!zs || !ze) {
    tell(plat::format("z start \"%s\" or z end \"%s\" is not a number: no job written", req_.zStart, req_.zEnd));
    return result_;
  }
  const bool copying = isJobFile(req_.modelName);
  if (!copying && (*ze > kBuildRoomHeightMm || *zs < -kBuildRoomHeightMm)) {
    tell(plat::format("the layers from %.2f to %.2f mm do not lie within the build room's %g mm: no job written", *zs,
                      *ze, kBuildRoomHeightMm));
    return result_;
  }
  zStart_ = float(*zs);
  zEnd_ = float(*ze + thickness);

  InputFile source;
  std::vector<float> heights;
  // A job that is its own output is the job asked for as it stands:
  // copying it onto itself could only lose it.
  const bool inPlace = copying && req_.toFile && sameFile(req_.outputName, req_.modelName);
  if (copying) {
    if (!source.open(req_.modelName, "the job", kNoSizeLimit)) {
      tell(source.error());
      return result_;
    }
  } else {
    if (req_.bmpMode && req_.bmpLayerMode) zEnd_ = float(double(zStart_) + 0.1);
    std::string error;
    heights = layerHeights(zStart_, zEnd_, thickness, error);
    if (!error.empty()) {
      tell(error + ": no job written");
      return result_;
    }
  }
  if (!inPlace && !openOutput()) return result_;

  progress_.started();
  const std::string startEntry = plat::format("%s  from %9.4f to %9.4f\n", req_.modelName, double(zStart_),
                                              double(zEnd_)) +
                                 stamp("%Y/%m/%d %H:%M:%S") + "\n";
  logLine(startEntry);
  logLine(startEntry);

  z_ = zStart_;
  startMs_ = clock_.tickMs();
  if (inPlace) {
    progress_.note(plat::format("%s is its own output: used as it stands", req_.modelName));
    progress_.showProgress(100);
  } else if (copying) {
    copyJob(source);
  } else {
    progress_.clearStop();
    if (z_ < zEnd_) writeLayers(heights);
  }

  const double mins = minutes();
  logLine(plat::format(" reached %9.4f at %s (%9.2f min )\n", double(z_), stamp("%H:%M:%S"), mins));
  const bool reachedEnd = z_ >= zEnd_;
  if (reachedEnd && !failed_) {
    progress_.finished(plat::format("** READY (%.2f min ) ", mins));
    progress_.showProgress(100);
  } else {
    progress_.finished("   STOPPED  ");
  }

  JobOutcome outcome = JobOutcome::Finished;
  if (progress_.abortRequested() || failed_) outcome = JobOutcome::Aborted;
  else if (!reachedEnd) outcome = JobOutcome::Stopped;
  if (inPlace) {
    result_.outcome = JobOutcome::Finished;
    return result_;
  }
  if (req_.toFile) {
    // Only a complete job carries the fingerprint the host reuses jobs by.
    if (outcome == JobOutcome::Finished)
      emit(fingerprintLine(req_.model->modelSize, req_.model->modelDateCode, req_.paramCrc,
                           req_.model->modelContentCrc));
    else
      emit(kNoFingerprint);
  }
  if (!out_->close() && !failed_) {
    tell(out_->error());
    outcome = JobOutcome::Aborted;
    outputFailed_ = true;
  }
  if (req_.toFile && outputFailed_) {
    // A job cut short by the disk has no fingerprint nor the mark of a
    // stopped one: nothing of it may be taken for a job. Its piece is gone
    // already; an older job of that name goes too, as it would have been
    // replaced.
    std::remove(localPath(req_.outputName).c_str());
    tell(plat::format("%s was removed: the disk did not take all of it", req_.outputName));
  }
  result_.outcome = outcome;
  return result_;
}

}  // namespace

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

JobResult writeJob(const JobRequest& request, JobProgress& progress, plat::Clock& clock) {
  return JobRun(request, progress, clock).run();
}

}  // namespace lt
