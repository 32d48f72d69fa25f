#pragma once
// The "pr dmc" viewer: paints two stretches of the converted job as their
// dots land on the powder, decoded from the .dmc; and the print simulation,
// which steps the viewer through the job on the PrintSim timer and collects
// a cross-section of every layer.
#include <QImage>

#include <cstdio>
#include <memory>
#include <string>

#include "host/core/main_timers.h"
#include "host/jobdata/dmc_decoder.h"
#include "host/jobdata/nozzle_tables.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
class Conversion;
struct JobState;

// The header of one stretch record as the record walkers read it.
struct StretchRecordHeader {
  long long offset = 0;  // of its 0xBF
  std::string text;      // the nine characters after the 0xBF
  int code = 0;          // powder code: the stretch length in mm
  long long length = 0;  // of the whole record, header included
  char type = 0;
};

// Walks the record chain of an open .dmc. A record is taken only when its
// header is whole, its length a number of at least 10 and the record lies
// within the file; anything else ends the walk with `problem` saying where
// and why, so no tool reads past the file's end.
class DmcRecordWalk {
 public:
  explicit DmcRecordWalk(std::FILE* file);
  // Reads the header at the file's position: the 0xBF there, or just after
  // it when the caller's decoder has already consumed it as its end code.
  // False at the end of the chain (the final placeholder, the file's end)
  // and when the chain is broken (then `problem` is not empty).
  bool next(StretchRecordHeader& header, bool bfConsumed);
  long long fileSize() const { return size_; }
  std::string problem;

 private:
  std::FILE* file_;
  long long size_ = 0;
};

class DmcViewer {
 public:
  DmcViewer(HostCore& core, JobState& job, Conversion& conversion);
  ~DmcViewer();
  DmcViewer(const DmcViewer&) = delete;
  DmcViewer& operator=(const DmcViewer&) = delete;

  // "pr dmc": converts the job first when its .dmc is not current, asks
  // for the stretch number (not while the simulation runs) and shows it.
  void showStretch();
  // "simloop": starts (or, unticked, stops) the print simulation.
  void applySimulationSwitch();
  void stepSimulation();

  // Paints stretches first and first + 1 (a negative first: the last two
  // of the first layer) into `picture`; false when the .dmc could not be
  // read. Shows nothing.
  bool paintStretches(int first);

  // The stretch number asked last (stepped by the simulation).
  int displayStretch = 0;
  QImage picture;
  // The simulation's cross-sections: 4 dots per layer, 128 rows per
  // stretch of the first two of a layer.
  QImage simPicture;
  bool simPhase = false;
  // Where the simulation's picture goes when it ends.
  std::string simPictureName() const;

 private:
  // The last paint found no .dmc to read.
  bool jobUnreadable_ = false;
  bool simloopTicked() const;
  void paintColumn(int column, bool backward, int backShift, int top, int& minWaterY);
  void endSimulation();

  HostCore& core_;
  JobState& job_;
  Conversion& conversion_;
  NozzleTables nozzles_;
  DmcDecoder decoder_;
  OwnedTimer simulation_;  // PrintSim
};

}  // namespace ph
