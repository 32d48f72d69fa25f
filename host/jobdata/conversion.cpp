#include "host/jobdata/conversion.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <thread>

#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/settings_files.h"
#include "host/jobdata/build_time.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_scan.h"
#include "host/core/paths.h"
#include "platform/atomic_file.h"
#include "platform/regular_file.h"

namespace ph {

Conversion::Conversion(HostCore& core, const LookupTables& tables, JobState& job)
    : layout(core, job),
      records(core, layout, out),
      stretches(core, job, tables, nozzles, records, out),
      parser(core, tables, layout, stretches),
      decoder(core),
      core_(core) {}

ConversionSettings Conversion::takeSettings() {
  if (core_.s.powderReduce && !layout.heightProfileMade)
    core_.memoPrintf("powderReduce is off for this job: no height profile was made for it");
  return ConversionSettings::take(core_, layout);
}

std::string Conversion::scan(const ConversionSettings& settings) {
  const Result scanned = scanP3d(core_, settings, layout);
  if (!scanned && !scanned.told()) {
    core_.memoPrintf("%s", scanned.reason());
    core_.ui.showMessage(scanned.reason());
  }
  return scanned.reason();
}

std::string Conversion::scanJob() { return scan(takeSettings()); }

void Conversion::scanAndConvert() {
  const ConversionSettings settings = takeSettings();
  if (scan(settings).empty()) convertP3dToDmc(settings);
}

ConversionOutcome Conversion::convertJob() {
  parser.drops.fill(0);
  core_.memoPrintf("converting .p3d to .dmc file....");
  core_.ui.showProgress(1);
  const ConversionSettings settings = takeSettings();
  layout.djmaxline = 0;
  records.highestCode = 0;
  layout.yvLim = settings.yvLow;
  ConversionOutcome outcome;
  if (std::string error = scan(settings); !error.empty())
    outcome = ConversionOutcome::failure(error);
  else
    outcome = convertP3dToDmc(settings);
  if (outcome.converted()) {
    layout.job.dmcCurrent = true;
    const auto& d = parser.drops;
    if (d[0] + d[1] + d[2] + d[3] == 0) {
      // A model thinner than a dot, or one whose facets face inwards.
      outcome = ConversionOutcome::noInk(
          plat::format("%s holds no ink: the job prints nothing", layout.job.workFileName("p3d")));
      core_.memoPrintf("%s", outcome.message);
    } else {
      core_.memoPrintf(".dmc created");
    }
    core_.logVars("djmaxline", layout.djmaxline, "maxstretchmm", records.highestCode, "int(yvLim)",
                  saturatedInt(layout.yvLim));
    core_.memoPrintf("drops W:%lld C:%lld M:%lld Y:%lld", d[0], d[1], d[2], d[3]);
    // The conversion changed settings (primgrens, maxstretchlen, printpages).
    core_.markSettingsModified();
    if (core_.s.IniAutoSave) SettingsFiles(core_).saveSettings();
  }
  core_.ui.showProgress(110);
  return outcome;
}

ConversionOutcome Conversion::convertP3dToDmc() { return convertP3dToDmc(takeSettings()); }

ConversionOutcome Conversion::convertP3dToDmc(const ConversionSettings& settings) {
  records.startConversion(settings);
  core_.s.maxstretchlen = 0;
  nozzles.initBandTables(settings.band64);
  nozzles.buildWaterMap(core_);  // may correct primgrens
  nozzles.buildWaterMap(core_);
  parser.shiftAccumulator = 0;
  layout.powderReduced = settings.powderReduce;

  const std::string dmcName = layout.job.workFileName("dmc");
  // The .dmc replaces the old one only when complete: the print never meets
  // a partial file.
  plat::AtomicFile dmc;
  auto stopped = [&](const std::string& why) {
    dmc.discard();
    const std::string message = plat::format("conversion stopped: %s", why);
    core_.memoPrintf("%s", message);
    return ConversionOutcome::failure(message);
  };
  if (std::string why; !dmc.open(nativePath(expandCurrentDir(dmcName)), why)) {
    // Told as openFile tells a file it cannot make.
    core_.ui.showMessage("unable to write to file: " +
                         (why == plat::kNotRegularFile ? dmcName + " (" + why + ")" : dmcName));
    return stopped("cannot write " + dmcName);
  }
  out.open(dmc.stream());
  writeDmcHeader(out, records.fillDmcHeader());  // provisional

  const std::string p3dName = layout.job.workFileName("p3d");
  FilePtr p3d = core_.openFile(p3dName, "rb").file;
  if (!p3d) {  // told to the operator by openFile
    return stopped("cannot read from file: " + p3dName);
  }
  try {
    convertLayers(p3d.get(), settings);
  } catch (...) {
    dmc.discard();
    throw;
  }
  p3d.reset();

  if (settings.shortcutstretch)
    layout.yvLim = std::max(float(settings.yvLow),
                            float(settings.yvHi) - 83.0f - float(wholeDotsToMm((long long)layout.djmaxline * 8)));
  writeDmcHeader(out, records.fillDmcHeader());
  bool written = out.finish();
  std::string why = out.errorNumber() ? std::strerror(out.errorNumber()) : "write failed";
  if (written) written = dmc.commit(why);
  if (!written) {
    core_.ui.showMessage("unable to write to file: " + dmcName);
    return stopped(plat::format("cannot write %s: %s", dmcName, why));
  }
  // The new .dmc is read back for its count: a failure there is told.
  if (!judgeJob(settings)) return ConversionOutcome::failure("a file of the job could not be read");
  return ConversionOutcome::success();
}

void Conversion::convertLayers(std::FILE* p3d, const ConversionSettings& settings) {
  // The parser and the builders read the settings as they stood when the
  // conversion started, whatever window events change while they run.
  ParseSettings parseSettings = ParseSettings::take(settings, layout);
  parseSettings.plainParsing = slowColumnLoop;
  parser.startConversion(parseSettings);
  records.writeStretchRecord(2);  // the first placeholder
  records.layerParity = true;
  const int threads = workers > 0 ? workers : StretchPipeline::defaultWorkers();
  stretches.start(BuildSettings::take(settings, layout, slowColumnLoop), parseSettings, threads);

  fseeko(p3d, 0, SEEK_END);
  const long long size = ftello(p3d);
  std::rewind(p3d);
  const long long progressTotal = std::max(size, 0LL) * settings.passes / 1000;
  auto parseAll = [&] {
    // With workers, the reading and filtering run on a thread of their own.
    FilteredBlocks reader(filter, p3d, settings.passes, stretches.threaded());
    const std::uint8_t* block = nullptr;
    long long blocks = 0;
    for (int n; (n = reader.next(block)) >= 0;) {
      if (n > 0) parser.parsePclBlock(block, n);
      if (++blocks % 16 == 0) {
        const int percent = int(std::clamp<long long>(blocks * 100 / std::max(progressTotal, 1LL), 1, 99));
        parser.defer([this, percent] {
          core_.ui.showProgress(percent);
          core_.ui.processEvents();
        });
      }
    }
  };
  if (stretches.threaded()) {
    // The parser runs on a thread of its own; this thread writes.
    std::thread parsing([&] {
      try {
        parseAll();
        stretches.endOfSteps();
      } catch (...) {
        stretches.endOfSteps(std::current_exception());
      }
    });
    try {
      stretches.writeAll();
    } catch (...) {
      stretches.abandon();
      parsing.join();
      stretches.finish();
      throw;
    }
    parsing.join();
  } else {
    parseAll();
  }
  stretches.finish();
  parser.finishConversion();
  records.stretchColumns = 0;
  records.writeStretchRecord(0);
  records.finishConversion();
}

Result Conversion::judgeJob(const ConversionSettings& settings) {
  const StretchCount counted = countDmcStretches(core_, layout.job, settings.powderReduce);
  layout.dmcStretchCount = counted.count;
  int jumps = 0;
  for (int l = 0; l < std::min(layout.printpages, JobLayout::kIslandEntries); ++l)
    if (layout.newIslands[std::size_t(l)] > 0 || (l > 0 && layout.newIslands[std::size_t(l - 1)] != 0)) ++jumps;
  const long long total = (long long)layout.stretchesPerLayer * layout.printpages;
  core_.memoPrintf("nrfilledstretch=%d totalstretch=%lld nrjump=%d", records.nrfilledstretch, total, jumps);
  int lim = saturatedInt(mmToDots(settings.yvHi - settings.yvLow) - settings.behindmargin - 240 - 2);
  if (settings.pictureMode) lim += settings.kcmyoff[4] + settings.CartridgeDist;
  core_.logVars("maxstretchbytes", int(records.maxstretchbytes), "maxstretchlen", core_.s.maxstretchlen, "lim", lim);
  if (lim < core_.s.maxstretchlen) {
    layout.job.modelFits = false;
    core_.memoPrintf("NO FIT");
  }
  buildTimeAndFit(core_, settings, layout, records.nrfilledstretch, total, jumps);
  return counted.read;
}

}  // namespace ph
