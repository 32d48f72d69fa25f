#pragma once
// The job layout values that the scan and the conversion publish and the
// print sequencer reads, in one place. Values that live elsewhere (the layer
// count is the hidden setting printpages; the job's flags are the
// JobState's) are reached through references here, so there is one copy of
// each.
#include <array>

namespace ph {

class HostCore;
struct JobState;

struct InkBox {
  int left = 9999, top = 9999, right = 0, bottom = 0;
};

struct JobLayout {
  JobLayout(HostCore& core, JobState& job);
  JobLayout(const JobLayout&) = delete;
  JobLayout& operator=(const JobLayout&) = delete;

  static constexpr int kIslandEntries = 300;
  static constexpr int kProfileBins = 300;

  // Set by the scan of the .p3d.
  int& printpages;  // layer count (the setting "printpages")
  int stretchesPerLayer = 0;
  int pagetopmargin = 0;
  int endx1200 = 2000;  // column limit of a stretch
  int buildRoomSkip = 0;
  InkBox bbox;
  bool layerThicknessDiffers = false;
  // Count of new islands of the k-th layer (from 1) at min(k, 299); 0 stays 0.
  std::array<int, kIslandEntries> newIslands{};
  // Layer count of the last pattern job scanned (pattern mode only).
  int patternPages = 0;

  // Set by the conversion.
  int djmaxline = 0;        // widest plane row of the job, in bytes
  double yvLim = 80.0;      // Y end of a stretch (mm)
  int dmcStretchCount = 0;  // records of the converted job

  // The job's flags (fit, current .dmc, pattern mode, pass direction).
  JobState& job;

  // How often one conversion reads the .p3d (asked when a .p3d is opened
  // directly).
  int djpagrepeat = 1;

  // Model height per 1 mm bin along Y (bin 30 at the model's smallest Y),
  // filled by the mesh tools when a model is opened with powderReduce on;
  // and the powder heights the conversion has laid per bin.
  std::array<float, kProfileBins> heightProfile{};
  std::array<float, kProfileBins> powderedHeights{};
  // Set by whoever really made heightProfile for the job's model (the mesh
  // tools), cleared when another model is opened. Without it powderReduce
  // is off for the job: no powder decision is taken from a profile that
  // was never made.
  bool heightProfileMade = false;
  // The job was converted with powderReduce (its records of empty
  // stretches without model ahead carry the code "03").
  bool powderReduced = false;
};

}  // namespace ph
