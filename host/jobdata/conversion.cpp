#include "host/jobdata/conversion.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/settings_files.h"
#include "host/jobdata/build_time.h"
#include "host/jobdata/p3d_scan.h"

namespace ph {

Conversion::Conversion(HostCore& core, const LookupTables& tables)
    : layout(core),
      records(core, layout, out),
      stretches(core, tables, nozzles, records, out),
      parser(core, tables, layout, stretches),
      decoder(core),
      core_(core) {}

void Conversion::scanp3d1Click() { scanP3d(core_, layout); }

void Conversion::scanconv1Click() {
  scanp3d1Click();
  convert1Click();
}

void Conversion::movetim1Click() { ph::movetim1Click(core_); }

int Conversion::buildTimeAndFit(int filled, int total, int jumps) {
  return ph::buildTimeAndFit(core_, layout, filled, total, jumps);
}

void Conversion::blockbased1Click() {
  Settings& s = core_.s;
  parser.drops.fill(0);
  core_.memoPrintf("converting .p3d to .dmc file....");
  core_.ui.showProgress(1);
  layout.djmaxline = 0;
  records.highestCode = 0;
  layout.yvLim = s.yvLow;
  const int failures = core_.readFailures;
  scanp3d1Click();
  if (core_.readFailures == failures && convert1Click() && core_.readFailures == failures) {
    layout.dmcCurrent = true;
    core_.memoPrintf(".dmc created");
    core_.logVars("djmaxline", layout.djmaxline, "maxstretchmm", records.highestCode, "int(yvLim)", int(layout.yvLim));
    const auto& d = parser.drops;
    core_.memoPrintf("drops W:%d C:%d M:%d Y:%d", d[0], d[1], d[2], d[3]);
    // The conversion changed settings (primgrens, maxstretchlen, printpages).
    core_.settingsModified = true;
    if (s.IniAutoSave) SettingsFiles(core_).saveini1Click();
  }
  core_.ui.showProgress(110);
}

bool Conversion::convert1Click() {
  Settings& s = core_.s;
  records.startConversion();
  s.maxstretchlen = 0;
  nozzles.initBandTables(s.band64);
  nozzles.buildWaterMap(core_);  // may correct primgrens
  nozzles.buildWaterMap(core_);
  parser.shiftAccumulator = 0;

  const std::string dmcName = core_.workFileName("dmc");
  FilePtr dmc = core_.openFile(dmcName, "wb");
  if (!dmc || core_.openFailed) {
    core_.memoPrintf("conversion stopped: cannot write %s", dmcName);
    return false;
  }
  out.open(dmc.get());
  writeDmcHeader(out, records.fillDmcHeader());  // provisional

  FilePtr p3d = core_.openFile(core_.workFileName("p3d"), "rb");
  if (!p3d) {  // told to the operator and counted by openFile
    out.finish();  // the .dmc keeps its header alone
    return false;
  }

  // The parser and the builders read the settings as they stand now,
  // whatever window events change while they run.
  const ParseSettings parseSettings = ParseSettings::take(core_, layout);
  parser.startConversion(parseSettings);
  records.writeStretchRecord(2);  // the first placeholder
  records.layerParity = true;
  const int threads = workers > 0 ? workers : StretchPipeline::defaultWorkers();
  stretches.start(BuildSettings::take(core_, layout, slowColumnLoop), parseSettings, threads);

  fseeko(p3d.get(), 0, SEEK_END);
  const long long size = ftello(p3d.get());
  std::rewind(p3d.get());
  const int repeats = std::max(layout.djpagrepeat, 1);
  const long long progressTotal = size * repeats / 1000;
  auto parseAll = [&] {
    // With workers, the reading and filtering run on a thread of their own.
    FilteredBlocks reader(filter, p3d.get(), repeats, stretches.threaded());
    const std::uint8_t* block = nullptr;
    long long blocks = 0;
    for (int n; (n = reader.next(block)) >= 0;) {
      if (n > 0) parser.parsePclBlock(block, n);
      if (++blocks % 16 == 0) {
        const int percent = int(std::clamp<long long>(blocks * 100 / std::max(progressTotal, 1LL), 1, 99));
        stretches.defer([this, percent] {
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
  p3d.reset();

  if (s.shortcutstretch)
    layout.yvLim = std::max(float(s.yvLow), float(s.yvHi) - 83.0f - float(layout.djmaxline * 2032 / 3000));
  writeDmcHeader(out, records.fillDmcHeader());
  bool written = out.finish();
  written = std::fclose(dmc.release()) == 0 && written;
  if (!written) {
    core_.memoPrintf("conversion stopped: cannot write %s", dmcName);
    core_.ui.showMessage("unable to write to file: " + dmcName);
    return false;
  }

  layout.dmcStretchCount = countDmcStretches(core_);
  int jumps = 0;
  for (int l = 0; l < std::min(layout.printpages, JobLayout::kIslandEntries); ++l)
    if (layout.newIslands[std::size_t(l)] > 0 || (l > 0 && layout.newIslands[std::size_t(l - 1)] != 0)) ++jumps;
  const int total = layout.stretchesPerLayer * layout.printpages;
  core_.logVars("nrfilledstretch", records.nrfilledstretch, "totalstretch", total, "nrjump", jumps);
  int lim = int((s.yvHi - s.yvLow) * 300 / 25.4 - s.behindmargin - 240 - 2);
  const Control* picture = core_.controls.find("picturemode1");
  if (picture && picture->checked) lim += s.kcmyoff[4] + s.CartridgeDist;
  core_.logVars("maxstretchbytes", int(records.maxstretchbytes), "maxstretchlen", s.maxstretchlen, "lim", lim);
  if (lim < s.maxstretchlen) {
    layout.modelFits = false;
    core_.memoPrintf("NO FIT");
  }
  buildTimeAndFit(records.nrfilledstretch, total, jumps);
  return true;
}

}  // namespace ph
