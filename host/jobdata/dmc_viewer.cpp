#include "host/jobdata/dmc_viewer.h"

#include <QBuffer>

#include <algorithm>
#include <cstring>

#include "host/core/bitmaps.h"
#include "host/core/files.h"
#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/jobdata/conversion.h"
#include "host/jobdata/dmc_records.h"
#include "host/jobdata/job_state.h"
#include "platform/atomic_file.h"

namespace ph {

namespace {

constexpr int kViewWidth = 1600;
constexpr int kWhite = 0xFFFFFF;
constexpr int kWaterGrey = 0xC0C0C0;
constexpr int kYellow = 0x00FFFF;  // colour value: red | green << 8


}  // namespace

DmcRecordWalk::DmcRecordWalk(std::FILE* file) : file_(file), size_(ph::fileSize(file)) {}

bool DmcRecordWalk::next(StretchRecordHeader& h, bool bfConsumed) {
  const long long at = filePos(file_);
  h.offset = bfConsumed ? at - 1 : at;
  char buf[kStretchHeaderBytes] = {};
  const int want = bfConsumed ? kStretchHeaderBytes - 1 : kStretchHeaderBytes;
  const int got = int(std::fread(buf, 1, std::size_t(want), file_));
  if (got == 0) return false;  // the file ends at a record boundary
  if (got < want) {
    problem = plat::format("record at %lld: its header is cut off by the end of the file", h.offset);
    return false;
  }
  const char* t = bfConsumed ? buf : buf + 1;
  if (!bfConsumed && std::uint8_t(buf[0]) != 0xBF) {
    problem = plat::format("record at %lld does not start with a record mark", h.offset);
    return false;
  }
  char whole[kStretchHeaderBytes];
  whole[0] = char(0xBF);
  std::memcpy(whole + 1, t, kStretchHeaderBytes - 1);
  const StretchHeaderFields fields = parseStretchHeader(whole);
  h.text = fields.text;
  h.code = fields.code;
  h.type = fields.type;
  if (fields.length < 0) {
    problem = plat::format("record at %lld has no length: \"%s\"", h.offset, h.text);
    return false;
  }
  h.length = fields.length;
  if (h.length == 0) return false;  // the final placeholder
  if (h.length < kStretchHeaderBytes || h.offset + h.length > size_) {
    problem = plat::format("record at %lld runs past the end of the file (length %lld, file %lld bytes)", h.offset,
                           h.length, size_);
    return false;
  }
  return true;
}

DmcViewer::DmcViewer(HostCore& core, JobState& job, Conversion& conversion)
    : core_(core), job_(job), conversion_(conversion), decoder_(core), simulation_(core.timers.make("PrintSim")) {
  simulation_->setHandler([this] { stepSimulation(); });
}

DmcViewer::~DmcViewer() = default;

bool DmcViewer::simloopTicked() const {
  const Control* c = core_.controls.find("simloop1");
  return c && c->checked;
}

void DmcViewer::showStretch() {
  if (!job_.dmcCurrent) conversion_.convertJob();
  picture = QImage();
  if (!simloopTicked())
    displayStretch = core_.evalIntExpr(core_.askText("input", "display_strook", std::to_string(displayStretch)));
  if (!paintStretches(displayStretch)) return;
  core_.ui.showBitmap(picture, !simloopTicked());
}

// One decoded column: colour dots take their colour's complement away from
// white; water dots are grey.
void DmcViewer::paintColumn(int column, bool backward, int backShift, int top, int& minWaterY) {
  const Settings& s = core_.s;
  const int height = picture.height();
  if (s.band64 == 64) {
    for (int n = 0; n < 256; ++n) {
      if (!(decoder_.decodedColumn[std::size_t(n / 16)].colour & (1u << (n % 16)))) continue;
      const int c = nozzles_.nozzleColor[std::size_t(n)], r = nozzles_.nozzleRow[std::size_t(n)];
      if (c < 0 || r < 0) continue;
      const int off = s.kcmyoff[std::size_t(4 + 2 * c + r % 2)];
      const int x = (backward ? backShift - 2 * column : 2 * column) - 2 * off + 1 - 2 * s.CartridgeDist;
      const int y = 2 * r + top;
      if (x < 0 || x >= kViewWidth || y < 0 || y >= height) continue;
      setPixelAt(picture, x, y, pixelAt(picture, x, y) & ~(0xFF << (8 * c)));
    }
  }
  const bool colourLayout = s.band64 == 64;
  const int from = colourLayout ? s.primgrens : 0, to = colourLayout ? s.primgrens + 7 : 13;
  const int xColumn = backward ? backShift / 2 - column : column;
  for (int k = 0; k < 22; ++k) {
    const unsigned water = decoder_.decodedColumn[std::size_t(k)].water;
    if (!water) continue;
    for (int a = std::max(from, 0); a <= to && a < 14; ++a) {
      const int nozzle = headNozzleTable[std::size_t(k)][std::size_t(a)];
      if (nozzle == 0 || !(water & (1u << headBitPosition[std::size_t(a)]))) continue;
      const int y = (colourLayout ? s.dropgrens : 300) - nozzle + top;
      const int x = (y % 2 != 0) ? 2 * xColumn : 2 * (xColumn - 44);
      if (x < 0 || x >= kViewWidth || y < 0 || y >= height) continue;
      setPixelAt(picture, x, y, kWaterGrey);
      minWaterY = std::min(minWaterY, y);
    }
  }
}

bool DmcViewer::paintStretches(int first) {
  const Settings& s = core_.s;
  nozzles_.initBandTables(s.band64);
  if (first < 0) first = conversion_.layout.stretchesPerLayer - 1;
  const int last = first + 1;
  const bool sim = simloopTicked();
  picture = newBitmap32(kViewWidth, 4 * s.band64 + 44);
  const std::string name = job_.workFileName("dmc");
  core_.memoPrintf("file %s ", name);
  FilePtr f = core_.openFile(name, "rb").file;
  jobUnreadable_ = !f;  // told by openFile
  if (!f) return false;
  DmcHeader header;
  readDmcHeader(f.get(), header);
  DmcRecordWalk walk(f.get());
  decoder_.dmcFile = f.get();
  bool bfConsumed = false;  // the walk reads each header's 0xBF itself
  int top = 0, layer = 0, inLayer = 0;
  StretchRecordHeader rec;
  for (int st = 1; st <= last && walk.next(rec, bfConsumed); ++st) {
    const bool backward = rec.type == '<';
    int backShift = 2 * s.bidiadjust + 1530;
    if (rec.code != 0) backShift += 2 * wholeMmToDots(rec.code - 57);
    const bool shown = st >= first && st <= last;
    if (shown) core_.memoPrintf("stretch= %d %s  ", st, rec.text);
    decoder_.resetDecoder();
    decoder_.decoding = true;
    decoder_.decodedColumn = {};
    int column = 0, minWaterY = 9999;
    while (decoder_.decoding) {
      if (decoder_.pendingZeros() == 0 && decoder_.atEnd) {
        core_.memoPrintf("uncompress fout");
        break;
      }
      if (decoder_.pendingZeros() > 162) {
        decoder_.dropEmptyColumn();
        column = (column + 1) % 1500;
        continue;
      }
      do decoder_.decodeDmcStep();
      while (!decoder_.columnReady && decoder_.decoding && !decoder_.atEnd);
      if (!decoder_.columnReady) continue;
      if (shown) paintColumn(column, backward, backShift, top, minWaterY);
      decoder_.decodedColumn = {};
      column = (column + 1) % 1500;
    }
    // The data must end where its record does: at the next record's mark.
    const long long end = filePos(f.get());
    if (!decoder_.atEnd && end != rec.offset + rec.length + 1) {
      core_.memoPrintf("stretch %d: its data ends at %lld, its record at %lld: the file is damaged", st, end - 1,
                       rec.offset + rec.length);
      break;
    }
    bfConsumed = true;
    if (shown) {
      core_.logVars("minblacky", minWaterY);
      if (sim && inLayer < 2) {
        // The middle of the stretch, as a strip of the layer's cross-section.
        for (int dy = 0; dy < 128; ++dy)
          for (int dx = 0; dx < 4; ++dx)
            setPixelAt(simPicture, 4 * layer + dx, 128 * inLayer + dy, pixelAt(picture, 400 + dx, top + dy));
      }
      if (st == first) {
        drawSegments(picture, kYellow, {2 * column, 0, 2 * column, 100});
        top += 2 * s.band64;
      }
    }
    ++inLayer;
    if (rec.type == '}') {
      ++layer;
      inLayer = 0;
    }
    if (decoder_.atEnd) break;
  }
  if (!walk.problem.empty()) core_.memoPrintf("%s", walk.problem);
  decoder_.dmcFile = nullptr;
  return true;
}

void DmcViewer::applySimulationSwitch() {
  displayStretch = 0;
  simPicture = newBitmap32(2000, 256);
  // Only a simulation that starts takes the abort flag back: unticking the
  // item must not cancel an abort the operator asked for.
  if (simloopTicked()) {
    core_.clearAbort();
    jobUnreadable_ = false;
  }
  simulation_->setEnabled(simloopTicked());
}

void DmcViewer::stepSimulation() {
  plat::Timer& timer = *simulation_;
  timer.setEnabled(false);
  simPhase = !simPhase;
  picture = QImage();
  // The operator's abort, or a job that cannot be read, ends it.
  if (!core_.abortRequested() && !jobUnreadable_) {
    if (simPhase) {
      displayStretch += 2;
      showStretch();
    }
  } else {
    endSimulation();
  }
  timer.setEnabled(simloopTicked());
}

std::string DmcViewer::simPictureName() const { return checkedFolder(core_.workDir + "dmcseq.bmp"); }

void DmcViewer::endSimulation() {
  // The height each cross-section reached: its first inked row.
  for (int i = 0; i <= 45; ++i) {
    int y = 0;
    while (y < 255 && pixelAt(simPicture, 4 * i, y) == kWhite) ++y;
    core_.logVars("x", i, "y", y);
  }
  const std::string name = simPictureName();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  // Written whole or not at all: an earlier picture stays when this fails.
  std::string why;
  if (!buffer.open(QIODevice::WriteOnly) || !simPicture.save(&buffer, "BMP") ||
      !plat::writeFileAtomically(nativePath(expandCurrentDir(name)),
                                 std::string_view(bytes.constData(), std::size_t(bytes.size())), why))
    core_.reportShortWrite(name);
  simPicture = QImage();
  if (Control* c = core_.controls.find("simloop1")) c->setChecked(false);
}

}  // namespace ph
