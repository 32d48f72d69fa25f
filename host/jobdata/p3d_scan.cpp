#include "host/jobdata/p3d_scan.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/core/dots.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/jobdata/conversion_settings.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/p3d_stream.h"

namespace ph {

namespace {

// Occupancy of a layer: cells of 8 rows by one data byte, both modulo 128.
using CellMap = std::array<std::array<std::uint8_t, 128>, 128>;

int countNewIslands(const CellMap& current, const CellMap& previous) {
  int count = 0;
  for (int a = 2; a <= 126; ++a)
    for (int b = 1; b <= 126; ++b) {
      if (!current[std::size_t(a)][std::size_t(b)]) continue;
      bool under = false;
      for (int i = a - 1; i <= a + 1 && !under; ++i)
        for (int j = b - 1; j <= b + 1; ++j)
          if (previous[std::size_t(i)][std::size_t(j)]) under = true;
      if (!under) ++count;
    }
  return count;
}

// The scan of an opened .p3d: "" or what is wrong with the job.
std::string scanOpened(HostCore& core, FilePtr file, const std::string& name, const ConversionSettings& s,
                       JobLayout& layout);

}  // namespace

Result scanP3d(HostCore& core, const ConversionSettings& s, JobLayout& layout) {
  layout.layerThicknessDiffers = false;
  layout.newIslands.fill(0);
  const std::string name = layout.job.workFileName("p3d");
  FilePtr file = core.openFile(name, "rb").file;
  if (!file) return Result::failure("cannot read from file: " + name, true);
  std::string wrong = scanOpened(core, std::move(file), name, s, layout);
  return wrong.empty() ? Result::success() : Result::failure(std::move(wrong), false);
}

namespace {

std::string scanOpened(HostCore& core, FilePtr file, const std::string& name, const ConversionSettings& s,
                       JobLayout& layout) {
  P3dReadBuffer in(file.get());
  int passes = 0;
  // The file is read djpagrepeat times over.
  auto next = [&](std::uint8_t& c) {
    if (in.next(c)) return true;
    if (passes + 1 >= s.passes) return false;
    ++passes;
    in.rewind();
    return in.next(c);
  };

  InkBox box;
  int layers = 0;
  bool waiting = true, thicknessChecked = false;
  CellMap current{}, previous{};
  MarkerMatch frame = commandFrameMatch(), layerStart = layerStartMatch();
  long long x = 0, row = 0;
  int number = 0;
  std::vector<std::uint8_t> plane;
  auto mark = [&](long long byteIndex, long long r) {
    current[std::size_t(byteIndex & 127)][std::size_t((r / 8) & 127)] = 1;
  };
  // A plane's data: x runs over its dots, marking the occupancy cells.
  auto walkPlane = [&](const std::uint8_t* data, int length) {
    forEachPackBitsRun(data, length, [&](const std::uint8_t* p, int n, int copies, bool repeat) {
      if (repeat) {
        if (*p != 0) {
          box.left = int(std::min<long long>(box.left, x));
          // Cells e = x / 8 .. x / 8 + copies, modulo 128: at most all 128.
          const long long first = x / 8, cells = std::min<long long>(copies + 1, 128);
          for (long long e = first; e < first + cells; ++e) mark(e, row);
        }
        x += 8LL * copies;
        return;
      }
      // A literal run of more than 3 bytes counts from its start.
      if (std::int8_t(p[-1]) + 1 > 3 && x > 10) box.left = int(std::min<long long>(box.left, x));
      for (int k = 0; k < n; ++k) {
        x += 8;
        if (p[k] != 0) {
          box.left = int(std::min<long long>(box.left, x - 8));
          mark(x / 8, row);
        }
      }
    });
  };

  auto rowsOverflow = [&] {
    return plat::format("%s: layer %d is longer than %d rows", name, layers, kMaxLayerRows);
  };

  std::uint8_t c;
  while (next(c)) {
    if (!thicknessChecked && frame.feed(c)) {
      // The frame's text up to its closing 0x80; a layer's frame holds
      // the thickness after "ZS" in units of 10 micrometres.
      std::string text;
      std::uint8_t t;
      while (text.size() < 4096 && next(t)) {
        text += char(t);
        if (t == 0x80) break;
      }
      const auto zs = text.find("ZS");
      if (zs != std::string::npos) {
        int z = 0;
        for (std::size_t k = zs + 2; k < text.size() && k < zs + 11 && text[k] >= '0' && text[k] <= '9'; ++k)
          z = z * 10 + (text[k] - '0');
        if (z > kMaxLayerThickness)
          return plat::format("%s: the layer thickness ZS%d is out of range (at most ZS%d)", name, z,
                              kMaxLayerThickness);
        thicknessChecked = true;
        if (std::abs(10 * z - s.layerMicrons) > 9) {
          layout.layerThicknessDiffers = true;
          core.ui.showMessage(plat::format("layers in file %d microns", 10 * z));
        }
      }
      continue;
    }
    if (waiting) {
      row = 0;
      if (layerStart.feed(c)) {
        ++layers;
        waiting = false;
        x = 0;
        number = 0;
      }
      continue;
    }
    if (isPlaneCode(c)) {
      if (number > kMaxPlaneBytes)
        return plat::format("%s: layer %d: a plane of %d bytes (at most %d)", name, layers, number, kMaxPlaneBytes);
      // The plane before this code has been read: its extent counts now.
      if (x > 10) {
        box.top = int(std::min<long long>(box.top, row));
        box.bottom = int(std::max<long long>(box.bottom, row));
      }
      if (x < 1100000) box.right = int(std::max<long long>(box.right, x));
      x = 0;
      if (c != 'v' && ++row > kMaxLayerRows) return rowsOverflow();
      if (c == 'W') {
        layout.newIslands[std::size_t(clampInt(layers, 0, 299))] = countNewIslands(current, previous);
        previous = current;
        for (auto& line : current) line.fill(0);
        waiting = true;
        number = 0;
        continue;
      }
      // The plane's data bytes follow the code: read where they stand in
      // the buffer, or gathered when they run past it.
      if (in.available() >= std::size_t(number)) {
        walkPlane(in.data(), number);
        in.advance(std::size_t(number));
      } else {
        plane.clear();
        for (std::uint8_t d; int(plane.size()) < number && next(d);) plane.push_back(d);
        walkPlane(plane.data(), int(plane.size()));
      }
      number = 0;
    } else if (c == 'y') {
      row += number;
      if (row > kMaxLayerRows) return rowsOverflow();
      number = 0;
    } else if (isRowDigit(c)) {
      addRowDigit(number, c);
    } else {
      number = 0;
    }
  }
  file.reset();

  core.logVars("layers", layers, "bbox.Left", box.left, "bbox.Right", box.right);
  core.logVars("bbox.Top", box.top, "bbox.Bottom", box.bottom);
  // A job without any inked row is laid out as an empty box at the origin.
  if (box.top > box.bottom) box.top = box.bottom = 0;
  if (box.left > box.right) box.left = box.right;
  layout.bbox = box;

  const int band = s.band64;
  layout.pagetopmargin = box.top - 2 - s.rightsidemargin;
  const int extra = (s.bridgelayers || s.shiftLayer != 0) ? 34 : 2;
  layout.stretchesPerLayer = (box.bottom - layout.pagetopmargin + extra) / band + 2;
  if (s.patternMode) {
    layout.buildRoomSkip = 0;
  } else if (s.buildRoomLength > 0) {
    layout.buildRoomSkip =
        std::max(s.buildRoomLength - int(dotsToMm(double(layout.stretchesPerLayer) * band)), 0);
    core.logVars("buildRoomSkip", layout.buildRoomSkip, "buildRoomLength", s.buildRoomLength);
  } else if (s.buildRoomLength < 0) {
    layout.buildRoomSkip = -s.buildRoomLength;
  }
  layout.printpages = layers;
  if (s.patternMode) layout.patternPages = layers;
  const long long height = (long long)layers * s.layerMicrons / 1000;
  if (s.MarlinMaxZ < double(height)) {
    layout.job.modelFits = false;
    core.memoPrintf("NO FIT in Z direction %lld > %3.1f", height, s.MarlinMaxZ);
  }
  core.logVars("stretchesPerLayer", layout.stretchesPerLayer, "printpages", layout.printpages, "pagetopmargin",
               layout.pagetopmargin);
  layout.endx1200 = box.right - box.left + 1004;
  return "";
}

}  // namespace

}  // namespace ph
