// Times the conversion of a .p3d job against reading it once (the scan).
//
//   conversion_bench --p3d JOB.p3d [--microns N] [--repeat N] [--workers N] [--slow]
//   conversion_bench --synthetic DIAMETER_MM HEIGHT_MM --p3d OUT.p3d ...
//
// --synthetic first writes a cylinder job the way the slicer lays out a
// coloured model (full water inside, a dithered colour skin, 250 um layers).
// --workers sets the threads that build stretches (default: as a
// conversion chooses them, PRISM_WORKERS included; 1 does everything on
// the calling thread). --slow uses the slot-by-slot column loop that the
// fast one is tested against. Each of the --repeat rounds reads the file,
// scans and converts it; the figures are the medians over the rounds (one
// round: its own figures), the ratio the median of the rounds' ratios.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "host/core/lookup_tables.h"
#include "host/core/paths.h"
#include "host/core/testing/core_fixture.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/conversion.h"
#include "p3d_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
double seconds(Clock::time_point a) { return std::chrono::duration<double>(Clock::now() - a).count(); }

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void writeSynthetic(const std::string& path, double diameterMm, double heightMm) {
  const double dotsPerMm = 300 / 25.4;
  const int d = int(diameterMm * dotsPerMm);
  const int layers = int(heightMm / 0.25);
  const int skin = 12;  // 1 mm of coloured skin
  std::ofstream out(path, std::ios::binary);
  ph::testing::P3dJob head(25, true);
  out << head.bytes();
  for (int l = 0; l < layers; ++l) {
    ph::testing::P3dJob job(25, false);
    job.beginLayer();
    job.emptyRows(40);
    const double r = d / 2.0;
    for (int y = 0; y < d; ++y) {
      const double dy = y + 0.5 - r;
      const int half = int(std::sqrt(std::max(0.0, r * r - dy * dy)));
      if (half < 2) {
        job.emptyRows(1);
        continue;
      }
      const int x0 = 100 + int(r) - half, x1 = 100 + int(r) + half;
      ph::testing::P3dRow row;
      auto& water = row.planes[0];
      water.assign(std::size_t(x1 / 8 + 1), 0);
      for (int x = x0 + skin; x < x1 - skin; ++x) water[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
      const std::uint8_t dither[3] = {std::uint8_t(0x55 << ((y + l) & 1)), 0x11, std::uint8_t(0x88 >> ((y + l) & 3))};
      for (int p = 1; p < 4; ++p) {
        auto& plane = row.planes[std::size_t(p)];
        plane.assign(std::size_t(x1 / 8 + 1), 0);
        for (int x = x0; x < x1; ++x)
          if ((x < x0 + skin || x >= x1 - skin) && (dither[p - 1] & (0x80 >> (x % 8))))
            plane[std::size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
      }
      job.row(row);
    }
    job.endLayer(200);
    out << job.bytes();
  }
  out << "003FFC28\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string p3d;
  int repeat = 3;
  bool slow = false;
  double diameter = 0, height = 0;
  int microns = 250;
  int workers = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--p3d" && i + 1 < argc)
      p3d = argv[++i];
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::atoi(argv[++i]);
    else if (a == "--slow")
      slow = true;
    else if (a == "--synthetic" && i + 2 < argc)
      diameter = std::atof(argv[++i]), height = std::atof(argv[++i]);
    else if (a == "--microns" && i + 1 < argc)
      microns = std::atoi(argv[++i]);
    else if (a == "--workers" && i + 1 < argc)
      workers = std::atoi(argv[++i]);
    else {
      std::fprintf(stderr, "unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  if (p3d.empty()) {
    std::fprintf(stderr,
                 "usage: conversion_bench --p3d JOB.p3d [--synthetic D_MM H_MM] [--repeat N] [--workers N] [--slow]\n");
    return 2;
  }
  if (diameter > 0) writeSynthetic(p3d, diameter, height);

  ph::CoreFixture f;
  ph::LookupTables tables;
  tables.fillBitTables();
  ph::JobState job(f.core);
  ph::Conversion conv(f.core, tables, job);
  conv.slowColumnLoop = slow;
  conv.workers = workers;
  f.core.s.layerMicrons = microns;
  f.core.workDir = ph::pathFolderOrCurrent(p3d);
  if (f.core.workDir.empty() || f.core.workDir.back() != '/') f.core.workDir += '/';
  job.jobFileName = p3d;

  std::vector<double> reads, scans, conversions, ratios;
  long long size = 0;
  for (int r = 0; r < std::max(repeat, 1); ++r) {
    auto t = Clock::now();
    std::FILE* in = std::fopen(p3d.c_str(), "rb");
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", p3d.c_str());
      return 1;
    }
    std::vector<char> buf(1 << 20);
    size = 0;
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), in)) > 0;) size += (long long)n;
    std::fclose(in);
    reads.push_back(seconds(t));
    t = Clock::now();
    if (!conv.scanJob().empty()) return 1;
    scans.push_back(seconds(t));
    t = Clock::now();
    if (!conv.convertP3dToDmc().converted()) return 1;
    conversions.push_back(seconds(t));
    ratios.push_back(conversions.back() / scans.back());
  }
  std::printf("job %s: %.1f MB, %d layers, %d stretches per layer, %d records, .dmc %.1f MB\n", p3d.c_str(),
              double(size) / 1e6, conv.layout.printpages, conv.layout.stretchesPerLayer, conv.layout.dmcStretchCount,
              double(conv.out.tell()) / 1e6);
  std::printf("read %.3f s, scan %.3f s, conversion %.3f s (%s column loop, %d workers), conversion/scan %.2f\n",
              median(reads), median(scans), median(conversions), slow ? "slot-by-slot" : "fast",
              workers > 0 ? workers : ph::StretchPipeline::defaultWorkers(), median(ratios));
  return 0;
}
