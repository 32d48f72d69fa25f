#pragma once
// The conversion of a sliced job (.p3d layer rasters) into the .dmc
// jetting data, with its scan, build-time estimate and fit checks. One
// object holds the whole state of the conversion: the stream filter, the
// row parser, the stretch pipeline (builders and encoders on worker
// threads), the record writer.
#include <cstdio>
#include <string>

#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/dmc_decoder.h"
#include "host/jobdata/dmc_out.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/nozzle_tables.h"
#include "host/jobdata/p3d_filter.h"
#include "host/jobdata/p3d_parser.h"
#include "host/jobdata/stretch_pipeline.h"

namespace ph {

class HostCore;
struct JobState;
struct LookupTables;

enum class ConversionStatus {
  Converted,  // the .dmc holds the job
  NoInk,      // the .dmc was written, but the job holds no dot to print
  Failed,     // no .dmc was written (the one from before is left as it was)
};

// What a conversion came to. An unattended run ends with a status taken
// from it: anything but Converted is not a success.
struct ConversionOutcome {
  ConversionStatus status = ConversionStatus::Failed;
  // What went wrong, as the operator was told (empty when converted).
  std::string message;

  bool converted() const { return status == ConversionStatus::Converted; }
  static ConversionOutcome success() { return {ConversionStatus::Converted, {}}; }
  static ConversionOutcome noInk(std::string why) { return {ConversionStatus::NoInk, std::move(why)}; }
  static ConversionOutcome failure(std::string why) { return {ConversionStatus::Failed, std::move(why)}; }
};

class Conversion {
 public:
  Conversion(HostCore& core, const LookupTables& tables, JobState& job);
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  // The values the print sequencer reads.
  JobLayout layout;

  // The job's .p3d scanned and converted into its .dmc, with the
  // bookkeeping: the log lines, the settings the conversion changed marked
  // (and saved with IniAutoSave), dmcCurrent.
  ConversionOutcome convertJob();
  // The conversion proper, on the layout of the last scan.
  ConversionOutcome convertP3dToDmc();
  // The scan of the job's .p3d: "" when it can be converted, else what is
  // wrong with it (told to the operator).
  std::string scanJob();

  // "scan+conv": the scan, then the conversion, without the bookkeeping.
  void scanAndConvert();
  // The nozzle map of the next stretch goes to the log.
  void armBitReport() { stretches.bitReport = true; }

  // Threads that build stretches; 0: StretchPipeline::defaultWorkers()
  // (PRISM_WORKERS, else a count for the usable processors); 1: everything
  // on the calling thread, one step after the other.
  int workers = 0;
  // The plain slot-by-slot column loop, byte-by-byte encoder and parser
  // (and every band walked for the stretches left), kept as the reference
  // the fast paths are tested against; the output is the same.
  bool slowColumnLoop = false;

  P3dFilter filter;
  NozzleTables nozzles;
  DmcOut out;
  DmcRecordWriter records;
  StretchPipeline stretches;
  RowParser parser;
  // Reads back .dmc stretch data (viewers and diagnostics).
  DmcDecoder decoder;

 private:
  // The settings of one conversion, with the log line that says when
  // powderReduce is off for want of a height profile.
  ConversionSettings takeSettings();
  std::string scan(const ConversionSettings& settings);
  ConversionOutcome convertP3dToDmc(const ConversionSettings& settings);
  // Reads the .p3d into the .dmc through the filter, the parser and the
  // stretch pipeline.
  void convertLayers(std::FILE* p3d, const ConversionSettings& settings);
  // The stretch count, the jumps and the fit of the converted job; fails
  // when the .dmc just written could not be read back.
  Result judgeJob(const ConversionSettings& settings);

  HostCore& core_;
};

}  // namespace ph
