#include "host/jobdata/job_tools.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "host/core/bitmaps.h"
#include "host/core/dots.h"
#include "host/core/files.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/jobdata/conversion.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/dmc_viewer.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_filter.h"
#include "host/jobdata/stretch_encoder.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {

std::string diskPath(const std::string& name) { return nativePath(expandCurrentDir(name)); }

// A .dmc opened (told to the operator when it does not open) and read past
// its file header, at its first record.
FilePtr openDmcRecords(HostCore& core, const std::string& name) {
  FilePtr f = core.openFile(name, "rb").file;
  if (!f) return nullptr;
  DmcHeader header;
  readDmcHeader(f.get(), header);
  return f;
}

// A tool's output: replaced whole once every byte reached the disk, or left
// as it was. A failure is told once, naming the file.
class ToolOutput {
 public:
  ToolOutput(HostCore& core, std::string name) : core_(core), name_(std::move(name)) {
    std::string why;
    if (!file_.open(diskPath(name_), why)) core_.reportShortWrite(name_);
  }
  ToolOutput(const ToolOutput&) = delete;
  ToolOutput& operator=(const ToolOutput&) = delete;

  explicit operator bool() const { return file_.isOpen(); }
  std::FILE* get() const { return file_.stream(); }
  void write(const void* data, std::size_t n) { file_.append(data, n); }
  void write(const std::string& text) { write(text.data(), text.size()); }
  // Puts the file in place; false (told) when it was not written whole.
  bool commit() {
    if (!file_.isOpen()) return false;
    if (std::string why; file_.commit(why)) return true;
    core_.reportShortWrite(name_);
    return false;
  }

 private:
  HostCore& core_;
  std::string name_;
  plat::AtomicFile file_;
};

// Step the decoder to its next column; false when the stretch ended (its
// end code, or the end of the file).
bool nextColumn(DmcDecoder& d) {
  while (d.decoding) {
    if (d.atEnd && d.pendingZeros() == 0 && d.pendingUnchanged() == 0) return false;
    d.decodeDmcStep();
    if (d.columnReady) return true;
  }
  return false;
}

}  // namespace

WaterRowTable buildWaterRowTable(const Settings& s) {
  WaterRowTable t{};
  for (int w = 0; w < 22; ++w)
    for (int i = 0; i < 8; ++i) {
      const int a = s.primgrens + i;
      const int v = a >= 0 && a < 14 ? headNozzleTable[std::size_t(w)][std::size_t(a)] : 0;
      t[std::size_t(w)][std::size_t(i)] = v == 0 ? -1 : (300 - v) / 2 + 1000 * s.kcmyoff[std::size_t(2 * (v % 2))] / 44;
    }
  return t;
}

JobTools::JobTools(HostCore& core, JobState& job, Conversion& conversion, const DmcHolder& print)
    : core_(core), job_(job), conversion_(conversion), print_(print), decoder_(core) {}

std::string JobTools::workFolderFile(const std::string& name) const { return checkedFolder(core_.workDir + name); }

// ---- "shortp3d": the job through the conversion's stream filter ----

void JobTools::shortenJobP3d() { shortenP3d(job_.workFileName("p3d"), workFolderFile("!bshorted.p3d")); }

bool JobTools::shortenP3d(const std::string& p3d, const std::string& outName) {
  core_.memoPrintf("file: %s", p3d);
  FilePtr in(std::fopen(diskPath(p3d).c_str(), "rb"));
  if (!in) {
    core_.ui.showMessage(plat::format("no file: %s", p3d));
    return false;
  }
  ToolOutput out(core_, outName);
  if (!out) return false;
  P3dFilter filter;
  std::vector<std::uint8_t> block;
  block.reserve(1 << 16);
  std::uint8_t b;
  while (filter.filteredP3dByte(in.get(), b)) {
    block.push_back(b);
    if (block.size() == block.capacity()) {
      out.write(block.data(), block.size());
      block.clear();
    }
  }
  out.write(block.data(), block.size());
  if (std::ferror(in.get())) {
    core_.memoPrintf("shortp3d: %s could not be read to its end; nothing written", p3d);
    return false;
  }
  if (filter.endedInsideRow()) {
    core_.memoPrintf("shortp3d: a row of %s runs past the end of the file; nothing written", p3d);
    return false;
  }
  return out.commit();
}

// ---- "dmccount" ----

void JobTools::logStretchCount() {
  const StretchCount n = countDmcStretches(core_, job_, conversion_.layout.powderReduced);
  core_.logVars("countdmcstretches()", n.count, "skippedStretch", n.skipped);
  // The count stops where the record chain breaks: say so.
  if (FilePtr f{std::fopen(diskPath(job_.workFileName("dmc")).c_str(), "rb")}) {
    DmcHeader h;
    readDmcHeader(f.get(), h);
    DmcRecordWalk walk(f.get());
    StretchRecordHeader rec;
    while (walk.next(rec, false)) std::fseek(f.get(), long(rec.offset + rec.length), SEEK_SET);
    if (!walk.problem.empty()) core_.memoPrintf("%s", walk.problem);
  }
}

// ---- "dmc2rhino": the head's paths as a polyline script ----

void JobTools::writeHeadPathScript() {
  std::string script;
  if (!writePolylines(job_.workFileName("dmc"), workFolderFile("temp.txt"), &script)) return;
  // The script goes to the clipboard as it stands in the file.
  core_.ui.setClipboardText(script);
  core_.memoPrintf("done");
}

bool JobTools::writePolylines(const std::string& dmc, const std::string& outName, std::string* script) {
  const Settings& s = core_.s;
  core_.memoPrintf("file %s ", dmc);
  FilePtr f = openDmcRecords(core_, dmc);
  if (!f) return false;
  ToolOutput out(core_, outName);
  if (!out) return false;
  std::string text;
  auto point = [&](double x, double y, double z) { text += plat::format("%1.2f,%1.2f,%1.2f\n", x, y, z); };
  double x = s.xMarlinBase, z = 0;
  bool first = true, bridge = false;
  const double back = s.yvHi - 50;
  text += "Polyline\n";
  point(x + 5, back, 0);
  point(x, back, 0);
  DmcRecordWalk walk(f.get());
  StretchRecordHeader rec;
  while (walk.next(rec, false)) {
    if (rec.type == '}') {
      bridge = !bridge;
      z += 2;
      text += "enter\nPolyline\n";
      point(x, back, z);
      x = s.xMarlinBase - (bridge ? 2.7093334 : 0.0);  // 32 dots
      first = true;
    } else {
      if (rec.type != '!') x -= 5.418667;  // one band of 64 dots
      if (rec.code == 3 && s.powderReduce) {
        // an empty stretch the print skips: it still moves one band
      } else if (rec.type == '<') {
        point(x, back - rec.code, z);
        point(x, s.yvHi, z);
      } else {
        if (first) {
          point(x, back, z);
          point(x, s.yvHi, z);
          first = false;
        }
        point(x, s.yvHi, z);
        point(x, back - rec.code, z);
      }
    }
    std::fseek(f.get(), long(rec.offset + rec.length), SEEK_SET);
  }
  text += "enter\n";
  if (!walk.problem.empty()) {
    core_.memoPrintf("dmc2rhino: %s; nothing written", walk.problem);
    return false;
  }
  out.write(text);
  if (!out.commit()) return false;
  if (script) *script = std::move(text);
  return true;
}

// ---- "dmcimage": one layer's decoded stretches ----

void JobTools::showLayerStretches() {
  if (print_.printHoldsDmc()) {
    core_.memoPrintf("file open error");
    return;
  }
  const int layer = core_.evalIntExpr(core_.askText("input", "testlayer", std::to_string(testLayer)));
  showColors = core_.askText("input", "showcolors", showColors);
  int mask = 0;
  for (int i = 0; i < 4; ++i)
    if (showColors.find("wcmy"[i]) != std::string::npos) mask |= 1 << i;
  core_.logVars("showcolormask", mask);
  if (!paintLayer(job_.workFileName("dmc"), layer, mask, showColors.find('l') != std::string::npos)) return;
  testLayer = layer;
  core_.ui.showBitmap(picture, false);
}

bool JobTools::paintLayer(const std::string& dmc, int wanted, int mask, bool summaries) {
  const Settings& s = core_.s;
  nozzles_.initBandTables(s.band64);
  const WaterRowTable rows = buildWaterRowTable(s);
  FilePtr f = openDmcRecords(core_, dmc);
  if (!f) return false;
  picture = newBitmap32(1800, 900);
  DmcRecordWalk walk(f.get());
  decoder_.dmcFile = f.get();
  StretchRecordHeader rec;
  std::string summary;
  int layer = 0, top = 0;
  while (walk.next(rec, false)) {
    if (layer == wanted) {
      int colour = 0, col = -95, step = 1;
      if (rec.type == '<') {
        colour = 0x0000FF;  // red
        step = -1;
        col = wholeMmToDots(rec.code) + s.kcmyoff[4] - 360;
      } else if (rec.type == '!') {
        colour = 0xFF0000;  // blue
      }
      decoder_.resetDecoder();
      decoder_.decoding = true;
      while (nextColumn(decoder_)) {
        const std::uint8_t* c = decoder_.completedColumn();
        if (mask & 1)
          for (int w = 0; w < 22; ++w)
            for (int i = 0; i < 8; ++i) {
              const int row = rows[std::size_t(w)][std::size_t(i)];
              if ((c[32 + w] >> i & 1) && row >= 0 && row < 1000) setPixelAt(picture, col, row + top, colour);
            }
        for (int k = 0; k < 3; ++k) {
          if (!(mask >> (k + 1) & 1)) continue;
          for (int r = 0; r < 64; r += 2) {
            const int n = nozzles_.colorNozzle[std::size_t(k)][std::size_t(r)];
            if (n >= 0 && (c[n / 8] >> (n % 8) & 1)) setPixelAt(picture, col, r + top, colour);
          }
        }
        col += step;
      }
      if (decoder_.decoding) core_.memoPrintf("uncompress fout");
      if (rec.type != '!') top += 64;
    }
    summary += plat::format("%c%c", rec.code < 16 ? ' ' : '*', rec.type);
    if (rec.type == '}') {
      if (summaries) core_.memoPrintf("%d %s", layer, summary);
      summary.clear();
      ++layer;
      if (layer == wanted) top = 0;
      if (layer > wanted && !summaries) break;
    }
    std::fseek(f.get(), long(rec.offset + rec.length), SEEK_SET);
  }
  decoder_.dmcFile = nullptr;
  if (!walk.problem.empty()) core_.memoPrintf("dmcimage: %s", walk.problem);
  drawSegments(picture, 0, {0, top, 100, top});
  return true;
}

// ---- "byBlocksTst": each record's header and first data bytes ----

void JobTools::logRecordHeaders() {
  const std::string name = job_.workFileName("dmc");
  FilePtr f = openDmcRecords(core_, name);
  if (!f) return;
  DmcRecordWalk walk(f.get());
  StretchRecordHeader rec;
  while (walk.next(rec, false)) {
    std::string hex;
    if (rec.length - kStretchHeaderBytes > 10) {
      std::uint8_t data[10];
      const std::size_t got = std::fread(data, 1, sizeof data, f.get());
      for (std::size_t i = 0; i < got; ++i) hex += plat::format("%02X ", int(data[i]));
    }
    core_.memoPrintf("buf %s %08X %s", rec.text, (long long)filePos(f.get()), hex);
    std::fseek(f.get(), long(rec.offset + rec.length), SEEK_SET);
  }
  if (!walk.problem.empty()) core_.memoPrintf("%s", walk.problem);
}

// ---- "pakuit": stretch data uncompressed into 54-byte columns ----

void JobTools::uncompressJob() { uncompress(job_.workFileName("dmc"), job_.workFileName("duu")); }

bool JobTools::uncompress(const std::string& dmc, const std::string& outName) {
  core_.memoPrintf("file %s ", dmc);
  FilePtr f = openDmcRecords(core_, dmc);
  if (!f) return false;
  ToolOutput out(core_, outName);
  if (!out) return false;
  decoder_.dmcFile = f.get();
  for (int st = 0; st < conversion_.layout.stretchesPerLayer; ++st) {
    // The stretch starts behind the unit's "2n ... 973j" announcement.
    int number = 0;
    bool twoN = false, found = false;
    for (int c; !found && (c = std::getc(f.get())) != EOF;) {
      if (c >= '0' && c <= '9') {
        if (number < 100000000) number = number * 10 + (c - '0');
        continue;
      }
      if (c == 'n') twoN = number == 2;
      else if (c == 'j') found = twoN && number == 973;
      number = 0;
    }
    if (!found) break;
    decoder_.resetDecoder();
    decoder_.decoding = true;
    while (decoder_.decoding) {
      if (decoder_.atEnd && decoder_.pendingZeros() == 0) {
        core_.memoPrintf("uncompress fout");
        break;
      }
      decoder_.decodeDmcStep();
      if (decoder_.columnReady) out.write(decoder_.completedColumn(), kColumnBytes);
    }
  }
  decoder_.dmcFile = nullptr;
  return out.commit();
}

// ---- "unblockdmc": a test stretch and its nozzle counts ----

void JobTools::writeTestStretch() {
  testStretch(job_.workFileName("dmc"), workFolderFile("frblk.dmc"), workFolderFile("temp.gfk"));
}

bool JobTools::testStretch(const std::string& dmc, const std::string& frblk, const std::string& gfk) {
  {
    FilePtr f = openDmcRecords(core_, dmc);
    if (!f) return false;
    DmcRecordWalk walk(f.get());
    StretchRecordHeader rec;
    if (!walk.next(rec, false)) {
      core_.memoPrintf("unblockdmc: %s", walk.problem.empty() ? std::string("the file holds no stretch") : walk.problem);
      return false;
    }
    ToolOutput out(core_, frblk);
    if (!out) return false;
    // A column of 22 bytes 0xBD and 32 zeros, a column whose 32 colour
    // bytes are 0xFF, then 600 empty columns; the job's first stretch
    // follows.
    out.write(literalRunCode(0xBD, 22) + sixBitCount(0, 32) + literalRunCode(0xFF, 32) + sixBitCount(0, 32422) +
              std::string(1, char(0x80)));
    std::uint8_t buf[99];
    while (filePos(f.get()) < 4449) {
      const std::size_t n = std::fread(buf, 1, sizeof buf, f.get());
      if (n == 0) break;
      out.write(buf, n);
    }
    if (!out.commit()) return false;
  }
  FilePtr in = core_.openFile(frblk, "rb").file;
  if (!in) return false;
  ToolOutput out(core_, gfk);
  if (!out) return false;
  decoder_.resetDecoder();  // builds the water map
  std::array<std::uint32_t, 5> masks{decoder_.waterMap()[0x55], decoder_.waterMap()[0xAA], 0, 0, 0};
  const char* layout = "cYc CMCY  My ymm";
  for (int i = 0; i < 16; ++i)
    for (int k = 0; k < 3; ++k)
      if (layout[i] == "CMY"[k]) masks[std::size_t(2 + k)] |= 1u << (16 + i);
  decoder_.dmcFile = in.get();
  decoder_.resetDecoder();
  decoder_.decoding = true;
  decoder_.decodedColumn = {};
  for (int column = 0; column < 3000 && nextColumn(decoder_); ++column) {
    std::array<int, 5> counts{};
    for (const DecodedHeadWord& w : decoder_.decodedColumn) {
      const std::uint32_t word = w.water | std::uint32_t(w.colour) << 16;
      for (std::size_t m = 0; m < masks.size(); ++m) counts[m] += std::popcount(word & masks[m]);
    }
    // An empty column leaves the words alone: it counts nothing.
    decoder_.decodedColumn = {};
    out.write(plat::format("%d %d %d %d %d %d\n", column, counts[0], counts[1], counts[2], counts[3], counts[4]));
  }
  decoder_.dmcFile = nullptr;
  return out.commit();
}

// ---- "equalgfk": how often a byte repeats at each distance ----

void JobTools::writeRepeatHistogram() { repeatHistogram(job_.workFileName("dmp"), workFolderFile("temp2.gfk")); }

bool JobTools::repeatHistogram(const std::string& dump, const std::string& outName) {
  FilePtr f = core_.openFile(dump, "rb").file;
  if (!f) return false;
  std::array<std::uint8_t, 512> ring{};
  std::array<long long, 512> counts{};
  long long at = 0;
  for (int c; (c = std::getc(f.get())) != EOF; ++at) {
    const auto b = std::uint8_t(c);
    if (b != 0)
      for (int d = 1; d < 512; ++d)
        if (ring[std::size_t((at - d) & 511)] == b) ++counts[std::size_t(d)];
    ring[std::size_t(at & 511)] = b;
    if ((at + 1) % 4096 == 0) core_.memoPrintf("proc %d", at + 1);
  }
  ToolOutput out(core_, outName);
  if (!out) return false;
  out.write("\n");
  for (int d = 1; d < 512; ++d) out.write(plat::format("%d %d\n", d, counts[std::size_t(d)]));
  return out.commit();
}

}  // namespace ph
