#pragma once
// Menu tools that inspect, export and transform job data: a shortened copy
// of the .p3d, the stretch count, a polyline script of the head's paths, a
// per-layer picture of the decoded stretches, a record walker, an
// uncompressor, a test stretch with nozzle statistics and a
// repeat-distance histogram. Every file they write goes into the work
// folder under a temporary name and is put in place only when it was
// written whole, so a failed tool leaves an earlier file as it was.
#include <QImage>

#include <array>
#include <functional>
#include <string>

#include "host/jobdata/dmc_decoder.h"
#include "host/jobdata/nozzle_tables.h"

namespace ph {

class HostCore;
class Conversion;
struct JobState;
struct Settings;

// For each of the 22 head words and its 8 water bits (positions primgrens
// to primgrens + 7 of the head's wiring): the picture row of the nozzle
// wired there, shifted by 1000 for each 44 columns of the water head's
// offset; -1 where nothing is wired. Rows of 1000 or more are not drawn.
using WaterRowTable = std::array<std::array<int, 8>, 22>;
WaterRowTable buildWaterRowTable(const Settings& s);

// Whether the print holds the .dmc open (the sequencer's file); the picture
// tool waits until it is closed.
class DmcHolder {
 public:
  virtual ~DmcHolder() = default;
  virtual bool printHoldsDmc() const = 0;
};

class JobTools {
 public:
  JobTools(HostCore& core, JobState& job, Conversion& conversion, const DmcHolder& print);

  void shortenJobP3d();
  void logStretchCount();
  void writeHeadPathScript();
  void showLayerStretches();
  void logRecordHeaders();
  void uncompressJob();
  void writeTestStretch();
  void writeRepeatHistogram();

  // The work of the handlers, on named files; false when the tool stopped
  // (told in the log or by a message).
  bool shortenP3d(const std::string& p3d, const std::string& out);
  bool writePolylines(const std::string& dmc, const std::string& out, std::string* script = nullptr);
  // Paints one layer's stretches into `picture`; mask bit 0 water, bits 1
  // to 3 cyan, magenta, yellow; summaries: log every layer's record types.
  bool paintLayer(const std::string& dmc, int layer, int mask, bool summaries);
  bool uncompress(const std::string& dmc, const std::string& out);
  bool testStretch(const std::string& dmc, const std::string& frblk, const std::string& gfk);
  bool repeatHistogram(const std::string& dump, const std::string& out);

  // A fixed name of the tools, in the work folder.
  std::string workFolderFile(const std::string& name) const;

  QImage picture;         // the layer picture of "dmcimage"
  int testLayer = 0;      // the layer asked last
  std::string showColors = "wcmy";

 private:
  HostCore& core_;
  JobState& job_;
  Conversion& conversion_;
  const DmcHolder& print_;
  NozzleTables nozzles_;
  DmcDecoder decoder_;
};

}  // namespace ph
