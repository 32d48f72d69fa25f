#include "host/jobdata/stretch_pipeline.h"

#include <algorithm>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/jobdata/dmc_out.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_reader.h"
#include "platform/workers.h"

namespace ph {

namespace {

// One empty column: a literal zero and a zero run of 53.
constexpr std::uint8_t kEmptyColumn[3] = {0x81, 0x00, 0x35};

// Thrown to the parser when the writing thread has given up.
struct Abandoned : std::exception {
  const char* what() const noexcept override { return "conversion abandoned"; }
};


}  // namespace

StretchPipeline::StretchPipeline(HostCore& core, JobState& job, const LookupTables& tables,
                                 const NozzleTables& nozzles, DmcRecordWriter& records, DmcOut& out)
    : core_(core), job_(job), tables_(tables), nozzles_(nozzles), records_(records), out_(out), builder_(tables, nozzles) {}

StretchPipeline::~StretchPipeline() { stopWorkers(); }

int StretchPipeline::defaultWorkers() {
  if (const int asked = plat::requestedWorkers(); asked > 0) return asked;
  return workersFor(plat::usableProcessors());
}

int StretchPipeline::workersFor(int processors) {
  // Measured on the benchmark job (docs/PERFORMANCE.md): up to four
  // processors, one builder per processor is fastest (the reading, parsing
  // and writing threads wait most of the time). Beyond, the parsing and the
  // writing thread need processors of their own and more builders slow
  // each other down: on seven and eight processors five and six builders
  // are fastest on a quiet machine, three or four on a busy one.
  const int p = std::max(processors, 1);
  return std::min(std::max(std::min(p, 4), p - 2), 8);
}

void StretchPipeline::start(const BuildSettings& build, const ParseSettings& parse, int workers) {
  stopWorkers();
  steps_.clear();
  settings_ = build;
  parse_ = parse;
  predicted_ = Prediction{};
  predicted_.lastForward = ColumnCount::known(0);
  lastStretchBackward_ = false;
  bytesSinceFlush_ = 0;
  forwardColumns_ = 0;
  rowDots_.fill(0);
  widestRow_ = 0;
  pendingRows_.clear();
  maxSteps_ = std::size_t(std::max(workers, 1)) * 16;
  stopping_ = abandoned_ = false;
  failure_ = nullptr;
  if (workers < 2) return;
  for (int i = 0; i < workers; ++i) threads_.emplace_back([this] { work(); });
}

void StretchPipeline::finish() { stopWorkers(); }

void StretchPipeline::stopWorkers() {
  {
    std::lock_guard lock(queueMu_);
    stopping_ = true;
    // Stretches not begun are dropped; the ones begun only wait on earlier
    // ones, which are begun too.
    queue_.clear();
  }
  workCv_.notify_all();
  for (auto& t : threads_) t.join();
  threads_.clear();
}

void StretchPipeline::work() {
  StretchBuilder builder(tables_, nozzles_);
  for (;;) {
    std::shared_ptr<StretchJob> job;
    {
      std::unique_lock lock(queueMu_);
      workCv_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      countRows(*job);
      builder.build(*job, settings_);
      job->built = true;
    } catch (...) {
      // The writing thread builds it again and meets the failure itself.
      job->built = false;
      if (!job->columnsPublished) job->publishColumns(0);
    }
    // The writing thread is woken only when it waits for this stretch
    // (both flags are sequentially consistent: one side sees the other's).
    job->done.store(true);
    if (job->writerWaits.load()) {
      { std::lock_guard lock(mu_); }  // the writer is inside its wait
      writerCv_.notify_one();
    }
  }
}

// ---- the parser's side ----

void StretchPipeline::push(Step step) {
  if (!threaded()) {
    steps_.push_back(std::move(step));
    pump();
    return;
  }
  const bool job = step.job != nullptr;
  bool ready;  // the writing thread may be waiting for a step
  {
    std::unique_lock lock(mu_);
    roomCv_.wait(lock, [this] { return abandoned_ || steps_.size() < maxSteps_; });
    if (abandoned_) throw Abandoned();
    ready = steps_.empty();
    if (job) {
      std::lock_guard queueLock(queueMu_);
      queue_.push_back(step.job);
    }
    steps_.push_back(std::move(step));
  }
  if (job) workCv_.notify_one();
  if (ready) writerCv_.notify_one();
}

void StretchPipeline::defer(std::function<void()> step) { push({nullptr, std::move(step)}); }

void StretchPipeline::endOfSteps(std::exception_ptr failure) {
  if (!threaded()) return;
  {
    std::lock_guard lock(mu_);
    failure_ = failure;
    steps_.push_back({nullptr, {}, true});
  }
  writerCv_.notify_one();
}

void StretchPipeline::layerStart(int position, int layer, int stretchesLeft, int added) {
  if (predicted_.lastStretchBackward && !predicted_.next.backward && parse_.alternating) {
    predicted_.lastStretchBackward = false;
    predicted_.next.initialBytes += sizeof kEmptyColumn;
  }
  predicted_.next.backward = parse_.alternating && added % 2 == 1;
  defer([this, position, layer, stretchesLeft, added] { writeLayerStart(position, layer, stretchesLeft, added); });
}

void StretchPipeline::takeSpares(std::vector<std::uint8_t>& band, std::vector<StretchJob::PlaneRow>& rows) {
  std::lock_guard lock(mu_);
  if (!spareBands_.empty()) {
    band = std::move(spareBands_.back());
    spareBands_.pop_back();
  }
  if (!spareRows_.empty()) {
    rows = std::move(spareRows_.back());
    spareRows_.pop_back();
  }
}

void StretchPipeline::countRows(StretchJob& job) const {
  for (const StretchJob::PlaneRow& row : job.planeRows) {
    int dots = 0;
    const int length = rowLengthAndDots(job.band.data() + row.start, row.end - row.start, dots, tables_);
    job.widestRow = std::max(job.widestRow, length);
    job.rowDots[std::size_t(row.plane)] += dots;
    if (row.report && length > kLongRow) job.longRows.push_back(length);
  }
  job.rowsCounted = true;
}

void StretchPipeline::endBand(int& position, int& stretchesLeft, std::vector<std::uint8_t>& band, int length,
                              int layer) {
  auto job = std::make_shared<StretchJob>();
  job->band = std::move(band);
  job->planeRows = std::move(pendingRows_);
  band.clear();
  pendingRows_.clear();
  takeSpares(band, pendingRows_);
  job->length = length;
  job->layer = layer;
  submit(std::move(job), position, stretchesLeft);
}

void StretchPipeline::endBandCopy(int& position, int& stretchesLeft, const std::uint8_t* band, int length,
                                  int layer) {
  auto job = std::make_shared<StretchJob>();
  takeSpares(job->band, job->planeRows);
  // Buffers only grow, so any of them can take the parser's place.
  if (job->band.size() < std::size_t(length)) job->band.resize(std::size_t(length));
  std::copy(band, band + length, job->band.begin());
  job->length = length;
  job->layer = layer;
  submit(std::move(job), position, stretchesLeft);
}

void StretchPipeline::submit(std::shared_ptr<StretchJob> job, int& position, int& stretchesLeft) {
  const ParseSettings& s = parse_;
  job->position = position;
  position += s.band64;  // as the powder bookkeeping moves it
  --stretchesLeft;
  // Where the count would come out as it is, the walk over the band's row
  // codes is not needed (the reference loop walks every band).
  const bool countChanges = s.skipstretches != 0 || stretchesLeft < 0 || stretchesLeft > 999;
  if (job->layer > 750 / notnul(s.layerMicrons) && (countChanges || settings_.slowColumnLoop) &&
      bandEndsLayer(job->band.data(), job->length, settings_.bandRows()))
    stretchesLeft = clampInt(stretchesLeft - s.skipstretches, 0, 999);
  job->stretchesLeft = stretchesLeft;

  job->state = predicted_.next;
  if (job->state.backward)
    job->partner = predicted_.lastForward;
  else
    predicted_.lastForward = job->columns;
  predicted_.next.initialBytes = 0;  // every stretch ends with a flush
  predicted_.lastStretchBackward = job->state.backward;
  if (s.alternating) predicted_.next.backward = !predicted_.next.backward;
  push({std::move(job), {}});
}

// ---- the writing thread ----

void StretchPipeline::pump() {
  while (!steps_.empty()) {
    // Taken off first: a step may let window events run.
    Step step = std::move(steps_.front());
    steps_.pop_front();
    if (!step.end) take(step);
  }
}

void StretchPipeline::writeAll() {
  for (;;) {
    Step step;
    {
      std::unique_lock lock(mu_);
      for (;;) {
        if (!steps_.empty()) {
          StretchJob* front = steps_.front().job.get();
          if (!front || front->done.load()) break;
          // The worker that finishes it wakes this thread.
          front->writerWaits.store(true);
          if (front->done.load()) break;
        }
        writerCv_.wait(lock);
      }
      step = std::move(steps_.front());
      steps_.pop_front();
    }
    roomCv_.notify_one();
    if (step.end) {
      if (failure_) std::rethrow_exception(failure_);
      return;
    }
    take(step);
  }
}

void StretchPipeline::abandon() {
  {
    std::lock_guard lock(mu_);
    abandoned_ = true;
  }
  roomCv_.notify_all();
}

void StretchPipeline::take(Step& step) {
  if (!step.job) {
    step.action();
    return;
  }
  writeStretch(*step.job);
  std::lock_guard lock(mu_);
  spareBands_.push_back(std::move(step.job->band));
  step.job->planeRows.clear();
  spareRows_.push_back(std::move(step.job->planeRows));
}

void StretchPipeline::writeLayerStart(int position, int layer, int stretchesLeft, int added) {
  if (lastStretchBackward_ && !job_.backwardPass && parse_.alternating) {
    // The layer before ended on a backward pass: it closes with an empty
    // forward stretch.
    lastStretchBackward_ = false;
    out_.write(kEmptyColumn, sizeof kEmptyColumn);
    bytesSinceFlush_ += sizeof kEmptyColumn;
    records_.stretchColumns = 0;
    records_.writeStretchRecord(0);
  }
  job_.backwardPass = false;
  records_.layerParity = !records_.layerParity;
  for (int k = 0; k < added; ++k) {
    // Written as they stand, not counted as stretch data.
    out_.write(kEmptyColumn, sizeof kEmptyColumn);
    records_.stretchColumns = 0;  // an empty stretch of one column
    records_.powderReduceCheck(position, layer);
    records_.writeStretchRecord(--stretchesLeft);
  }
}

BuildState StretchPipeline::trueState() const {
  const bool backward = job_.backwardPass;
  return {backward, bytesSinceFlush_, backward ? forwardColumns_ : 0};
}

void StretchPipeline::writeStretch(StretchJob& job) {
  if (!job.rowsCounted) countRows(job);
  // Reported where the parser met the rows: before anything of the stretch.
  if (longRowReport)
    for (int length : job.longRows) longRowReport(length);
  const BuildState truth = trueState();
  if (!job.built || job.state != truth) {
    // Built in another state than the true one (or not yet): built here.
    job.state = truth;
    job.partner = nullptr;
    builder_.build(job, settings_);
    job.built = true;
  }
  for (std::size_t p = 0; p < rowDots_.size(); ++p) rowDots_[p] += job.rowDots[p];
  widestRow_ = std::max(widestRow_, job.widestRow);
  if (bitReport) {
    bitReport = false;
    reportBits(core_, settings_, nozzles_);
  }
  for (const std::string& line : job.log) core_.memoPrintf("%s", line);

  const long long start = out_.tell();
  out_.write(job.data.data(), job.data.size());
  records_.splitList.clear();
  for (long long at : job.splits) records_.splitList.push_back(start + at);
  Settings& s = core_.s;
  s.maxstretchlen = int(std::max<long long>(s.maxstretchlen, job.maxColumns));
  if (job.rebuiltForward) job_.backwardPass = false;
  if (!job_.backwardPass) forwardColumns_ = job.columnsSent;
  bytesSinceFlush_ = 0;  // the stretch ended with a flush

  records_.stretchColumns = job.stretchColumns;
  int position = job.position;
  records_.powderReduceCheck(position, job.layer);
  lastStretchBackward_ = job_.backwardPass;
  records_.writeStretchRecord(job.stretchesLeft);
  out_.settle();
}

}  // namespace ph
