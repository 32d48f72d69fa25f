#pragma once
// The stretches of a conversion, built on worker threads while the row
// parser cuts the .p3d into bands and the calling thread writes the
// records in order.
//
// A stretch depends on its band and on a little state the stretches before
// it leave: its direction (bidirectional printing alternates, and a
// backward pass that outgrows the size limit is rebuilt forward, which
// shifts the alternation), the columns of the forward pass a backward pass
// aligns on, and data bytes counted since the last flush. The parser
// predicts that state when a band is complete and hands the band to a
// worker; the writing thread, which keeps the true state, writes the
// stretches in order and builds one again itself where the prediction
// missed. Everything else the parser and the stretches lead to (records,
// powder codes, statistics, log lines, messages, progress and window
// events) is a step the writing thread takes in the order of a serial run,
// so the .dmc and the log are the same for any number of workers.
#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "host/jobdata/p3d_parser.h"
#include "host/jobdata/stretch_builder.h"

namespace ph {

class HostCore;
class DmcOut;
class DmcRecordWriter;
struct JobState;
struct LookupTables;
struct NozzleTables;

class StretchPipeline {
 public:
  StretchPipeline(HostCore& core, JobState& job, const LookupTables& tables, const NozzleTables& nozzles,
                  DmcRecordWriter& records, DmcOut& out);
  ~StretchPipeline();
  StretchPipeline(const StretchPipeline&) = delete;
  StretchPipeline& operator=(const StretchPipeline&) = delete;

  // Before the first layer of a conversion. With fewer than two workers
  // everything runs on the calling thread: each step is taken as soon as
  // the parser makes it.
  void start(const BuildSettings& build, const ParseSettings& parse, int workers);
  bool threaded() const { return !threads_.empty(); }
  // After the last step: stops the workers.
  void finish();

  // ---- the row parser's side, in the order of the job ----
  // A layer starts: the layer before may be closed by an empty forward
  // stretch, and `added` empty stretches open this one (position and
  // stretchesLeft as they stand before them).
  void layerStart(int position, int layer, int stretchesLeft, int added);
  // The band (its first length bytes) is complete and becomes the next
  // stretch: position moves on by a band, stretchesLeft counts down. The
  // band's buffer is taken over and another put in its place, which is
  // never smaller than a band taken before.
  void endBand(int& position, int& stretchesLeft, std::vector<std::uint8_t>& band, int length, int layer);
  // A plane row of the band being collected (offsets into its buffer):
  // its statistics are counted with the stretch, off the parser's thread.
  // With `report`, its decoded length, when over kLongRow, is handed to
  // longRowReport on the writing thread just before its stretch is written.
  void planeRow(int start, int end, int plane, bool report) {
    pendingRows_.push_back({start, end, plane, report});
  }
  static constexpr int kLongRow = 175;
  std::function<void(int length)> longRowReport;
  // The rows of the band being collected, for the parser: it reports their
  // lengths itself before a step of its own, which must come after them,
  // and then clears their `report`. Those of a band that never became a
  // stretch (the file ended inside it) it counts itself too.
  std::vector<StretchJob::PlaneRow>& pendingRows() { return pendingRows_; }
  // The same for rows that stay with the caller.
  void endBandCopy(int& position, int& stretchesLeft, const std::uint8_t* band, int length, int layer);
  // Work of the writing thread (log lines, messages, progress) that keeps
  // its place among the stretches.
  void defer(std::function<void()> step);
  // The parser is done; with a failure, the writing thread meets it after
  // the steps before it.
  void endOfSteps(std::exception_ptr failure = nullptr);

  // ---- the writing thread (threaded only) ----
  // Takes the steps in order until the parser's last; a failure of the
  // parser is thrown here.
  void writeAll();
  // The writing thread gives up (it failed): the parser's next step throws.
  void abandon();

  // The statistics of the plane rows counted with the stretches written
  // so far: set dots per plane and the widest row's decoded bytes.
  const std::array<long long, 4>& rowDots() const { return rowDots_; }
  int widestRow() const { return widestRow_; }

  // One bit report at the next stretch ("bitreport").
  bool bitReport = false;

  // The builders a conversion starts when it is given no count: the
  // developer's PRISM_WORKERS, or a count for the processors this process
  // may use.
  static int defaultWorkers();
  // The count for that many usable processors, from measured scaling.
  static int workersFor(int processors);

 private:
  struct Step {
    std::shared_ptr<StretchJob> job;  // a stretch, or
    std::function<void()> action;     // other work of the writing thread, or
    bool end = false;                 // the end of the steps
  };
  void push(Step step);
  // Takes the steps that are due (the calling thread only).
  void pump();
  void take(Step& step);
  void writeStretch(StretchJob& job);
  void writeLayerStart(int position, int layer, int stretchesLeft, int added);
  void work();
  void stopWorkers();
  // A buffer for the next band, and one for its plane rows.
  void takeSpares(std::vector<std::uint8_t>& band, std::vector<StretchJob::PlaneRow>& rows);
  void countRows(StretchJob& job) const;
  void submit(std::shared_ptr<StretchJob> job, int& position, int& stretchesLeft);

  HostCore& core_;
  JobState& job_;
  const LookupTables& tables_;
  const NozzleTables& nozzles_;
  DmcRecordWriter& records_;
  DmcOut& out_;
  BuildSettings settings_;
  ParseSettings parse_;
  StretchBuilder builder_;  // the writing thread's

  // The parser's guess of the state the next stretch is built in; a
  // backward pass's forward columns come from the last forward pass.
  struct Prediction {
    BuildState next;
    bool lastStretchBackward = false;
    std::shared_ptr<const ColumnCount> lastForward;
  } predicted_;
  // The true state, kept by the writing thread (the direction is
  // backwardPass).
  BuildState trueState() const;
  bool lastStretchBackward_ = false;
  long long bytesSinceFlush_ = 0;
  long long forwardColumns_ = 0;
  std::array<long long, 4> rowDots_{};
  int widestRow_ = 0;
  // The parser's: plane rows of the band it collects.
  std::vector<StretchJob::PlaneRow> pendingRows_;

  // Shared by the parser, the writing thread and the workers, under mu_;
  // the stretches not yet begun under queueMu_ (taken after mu_ where
  // both are held).
  std::mutex mu_, queueMu_;
  std::condition_variable workCv_;    // workers: a stretch to build
  std::condition_variable writerCv_;  // writer: a step, or a stretch built
  std::condition_variable roomCv_;    // parser: room for more steps
  std::deque<Step> steps_;
  std::deque<std::shared_ptr<StretchJob>> queue_;  // stretches not yet begun
  std::vector<std::vector<std::uint8_t>> spareBands_;
  std::vector<std::vector<StretchJob::PlaneRow>> spareRows_;
  std::size_t maxSteps_ = 0;
  bool stopping_ = false;
  bool abandoned_ = false;
  std::exception_ptr failure_;
  std::vector<std::thread> threads_;
};

}  // namespace ph
