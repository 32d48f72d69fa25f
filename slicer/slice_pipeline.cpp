#include "slicer/slice_pipeline.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "platform/format.h"
#include "platform/workers.h"

namespace lt {

// One worker per processor this process may run on; the writing thread
// mostly waits. PRISM_WORKERS overrides it when measuring.
int PagePipeline::defaultWorkers() {
  const int asked = plat::requestedWorkers();
  return asked > 0 ? asked : plat::usableProcessors();
}

PagePipeline::PagePipeline(const LayerSlicer& slicer, const ColourTables& tables, const PageSetup& setup,
                           std::vector<PageJob> pages, int workers)
    : slicer_(slicer), tables_(tables), setup_(setup), pages_(std::move(pages)), slots_(pages_.size()) {
  const int n = std::max(1, workers);
  // Enough pages in hand to keep every worker busy, few enough to bound the
  // memory of pages waiting to be written.
  ahead_ = std::size_t(2 * n + 2);
  threads_.reserve(std::size_t(n));
  for (int i = 0; i < n; ++i) threads_.emplace_back([this] { work(); });
}

PagePipeline::~PagePipeline() {
  cancel();
  for (auto& t : threads_) t.join();
}

void PagePipeline::cancel() {
  std::lock_guard lock(mu_);
  cancelled_ = true;
  workCv_.notify_all();
}

void PagePipeline::work() {
  SliceScratch scratch;
  SpanStore store;
  RasterEncoder encoder(tables_, setup_);
  for (;;) {
    std::size_t k;
    {
      std::unique_lock lock(mu_);
      workCv_.wait(lock, [&] { return cancelled_ || next_ >= pages_.size() || next_ < taken_ + ahead_; });
      if (cancelled_ || next_ >= pages_.size()) return;
      k = next_++;
    }
    std::string bytes, error;
    try {
      const PageJob& job = pages_[k];
      slicer_.slice(job.z, store, scratch);
      encoder.encodeLayer(store, job.layerShift, job.markerRow, bytes);
    } catch (const std::exception& e) {
      error = plat::format("layer at %.4f mm could not be made: %s", double(pages_[k].z), std::string(e.what()));
      bytes.clear();
    }
    std::lock_guard lock(mu_);
    slots_[k].bytes = std::move(bytes);
    slots_[k].error = std::move(error);
    slots_[k].done = true;
    doneCv_.notify_all();
  }
}

PagePipeline::Take PagePipeline::take(std::size_t k, int waitMs, std::string& page, std::string& error) {
  std::unique_lock lock(mu_);
  if (k >= slots_.size()) {
    error = "no such page";
    return Take::Failed;
  }
  if (!doneCv_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return slots_[k].done; })) return Take::NotYet;
  Slot& s = slots_[k];
  taken_ = std::max(taken_, k + 1);
  workCv_.notify_all();
  if (!s.error.empty()) {
    error = s.error;
    return Take::Failed;
  }
  page = std::move(s.bytes);
  std::string().swap(s.bytes);
  return Take::Ready;
}

}  // namespace lt
