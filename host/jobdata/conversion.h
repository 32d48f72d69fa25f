#pragma once
// The conversion of a sliced job (.p3d layer rasters) into the .dmc
// jetting data, with its scan, build-time estimate and fit checks. One
// object holds the whole state of the conversion: the stream filter, the
// row parser, the stretch pipeline (builders and encoders on worker
// threads), the record writer.
#include <cstdio>

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
struct LookupTables;

class Conversion {
 public:
  Conversion(HostCore& core, const LookupTables& tables);
  Conversion(const Conversion&) = delete;
  Conversion& operator=(const Conversion&) = delete;

  // The values the print sequencer reads.
  JobLayout layout;

  // "blockbased": scan and conversion with their bookkeeping (the after-
  // slicing timer, the open paths and the print start call it).
  void blockbased1Click();
  // The conversion proper; false when no .dmc was written.
  bool convert1Click();
  // "scan+conv": the scan, then the conversion, without the bookkeeping.
  void scanconv1Click();
  // "scanp3d": the scan alone.
  void scanp3d1Click();
  // "movetim": the timing table.
  void movetim1Click();
  // "bitreport": the nozzle map of the next stretch goes to the log.
  void bitreport1Click() { stretches.bitReport = true; }

  int buildTimeAndFit(int filled, int total, int jumps);

  // Threads that build stretches; 0: as many as the processors allow
  // beside the reading and parsing threads; 1: everything on the calling
  // thread, one step after the other.
  int workers = 0;
  // The plain slot-by-slot column loop and byte-by-byte encoder, kept as
  // the reference the fast path is tested against; the output is the same.
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
  HostCore& core_;
};

}  // namespace ph
