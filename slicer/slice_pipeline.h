#pragma once
// Pages made in parallel: worker threads slice and encode whole layers into
// buffers while one thread takes them in layer order and writes them. Every
// page is a function of its own inputs (height, dither shift, marker row),
// so the job is byte for byte the same whatever the number of workers.
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "slicer/dither_patterns.h"
#include "slicer/layer_slicer.h"
#include "slicer/raster_encoder.h"

namespace lt {

struct PageJob {
  float z = 0;
  int layerShift = 0;
  int markerRow = kNoMarkerRow;
};

class PagePipeline {
 public:
  // The slicer, tables and setup must outlive the pipeline. workers < 1
  // counts as 1.
  PagePipeline(const LayerSlicer& slicer, const ColourTables& tables, const PageSetup& setup,
               std::vector<PageJob> pages, int workers);
  ~PagePipeline();
  PagePipeline(const PagePipeline&) = delete;
  PagePipeline& operator=(const PagePipeline&) = delete;

  enum class Take { Ready, NotYet, Failed };
  // Page k (taken in order) when it is ready within waitMs; Failed with the
  // reason when its worker could not make it.
  Take take(std::size_t k, int waitMs, std::string& page, std::string& error);
  // Stops the workers; pages not taken are dropped.
  void cancel();

  // The processors of the affinity mask, or PRISM_WORKERS when it is set.
  static int defaultWorkers();

 private:
  void work();
  struct Slot {
    bool done = false;
    std::string bytes;
    std::string error;
  };
  const LayerSlicer& slicer_;
  const ColourTables& tables_;
  PageSetup setup_;
  std::vector<PageJob> pages_;
  std::vector<Slot> slots_;
  std::size_t next_ = 0;   // next page to start
  std::size_t taken_ = 0;  // pages handed to the writer
  std::size_t ahead_;      // how far workers may run ahead of the writer
  bool cancelled_ = false;
  std::mutex mu_;
  std::condition_variable workCv_, doneCv_;
  std::vector<std::thread> threads_;
};

}  // namespace lt
