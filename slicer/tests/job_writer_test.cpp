// Whole jobs: the .p3d layout around the pages, what the pages hold, the
// end of stopped and aborted jobs, copies of jobs, output failures and
// direct output to a printer.
#include "slicer/job_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <thread>

#include "fake_slicer_ui.h"
#include "p3d_decode.h"
#include "platform/clock.h"
#include "platform/fingerprint.h"
#include "platform/format.h"
#include "platform/workers.h"
#include "slicer/app_job.h"
#include "slicer/dots.h"
#include "slicer/job_format.h"
#include "slicer/printer_port.h"
#include "slicer/raster_encoder.h"
#include "slicer/stl_loader.h"
#include "slicer/slicer_core.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

constexpr std::uint16_t kWhite = 0xFFFF, kRed = 0x8000 | 31 << 10, kBlue = 0x8000 | 31;

// One run of the program with a job writer of `workers` threads.
struct SlicerRun {
  explicit SlicerRun(const ScratchDir& d, int workers = 2) : dir(d), core(workers), app(clock, ui, core) {}
  // The host's command line; the ready event is this process's own.
  void start(const std::string& model, const std::string& out, const std::string& layer = "-L100") {
    app.formCreate({"-F" + model, layer, "-W64", "-S64", "-C50", "-D1000", "-K" + out, "-E32767",
                    "-I" + std::to_string(100000 + getpid())},
                   dir.path());
  }
  void runBatch() { clock.advance(100); }
  const ScratchDir& dir;
  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core;
  SlicerApp app;
};

std::string sliceJob(const ScratchDir& dir, const std::string& model, const std::string& out, int workers) {
  SlicerRun r(dir, workers);
  r.start(model, out);
  r.runBatch();
  EXPECT_EQ(r.app.exitStatus(), kExitOk);
  return readFile(out);
}

std::string frameSBytes() { return std::string("\x20\x20\x24\x80\0\0\0\0", 8); }

}  // namespace

TEST(JobFormat, Values) {
  EXPECT_EQ(fingerprintLine(1000, 0, 0xFFFF, 0), "003FFC28\r\n");
  EXPECT_EQ(fingerprintLine(-1, 0, 0, 0), "FFFFFFFF\r\n");
  EXPECT_EQ(fingerprintLine(1000, 0, 0xFFFF, 0xCBF43926u), "CBCBC50E\r\n");
  const struct {
    double mm;
    int zs;
  } zs[] = {{0.25, 25}, {0.1, 10}, {0.125, 12}, {0.135, 14}};
  for (const auto& c : zs) EXPECT_EQ(thicknessCode(c.mm), c.zs) << c.mm;
  EXPECT_EQ(clValue(1.25f, 0, 20), 26);  // round(0.625 + 25)
  EXPECT_EQ(psValue(80), 5);
  EXPECT_EQ(psValue(120), 7);
  EXPECT_EQ(pageLines(26), 12);
  EXPECT_EQ(pageLines(2000000000), 472440951);  // CL from a far model: no overflow
  EXPECT_EQ(pageEnd(1, 26), "\x0c\x1b" "E\x1b*o1M\x1b&l12P\x1b&l0L       \r\n");
  EXPECT_EQ(endBlock(), "\x1b*g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f#b$" + std::string("\x80\0\0\0\0", 5) +
                            "\x0c\x1b" "E\x1b*o0M\x1b&l0L       \r\n");
}

TEST(JobFormat, LayerHeights) {
  std::string error;
  EXPECT_EQ(layerHeights(0, 1.25f, 0.25, error), (std::vector<float>{0, 0.25f, 0.5f, 0.75f, 1.0f}));
  EXPECT_TRUE(layerHeights(2, 1, 0.1, error).empty());
  EXPECT_TRUE(error.empty());
  // A thickness that cannot move the height on would never end the job.
  for (double t : {0.0, 1e-9}) {
    error.clear();
    EXPECT_TRUE(layerHeights(100, 101, t, error).empty());
    EXPECT_NE(error.find("does not move the height on"), std::string::npos) << t;
  }
}

// The start block's text is cut to keep the frame within 255 bytes; the
// frame's closing bytes stay.
TEST(JobFormat, StartBlockKeepsItsFrameWhenCut) {
  const std::string b = startBlock(std::string(250, 'S'), 26, 0);
  const std::size_t end = b.find("\x1b&l0L");
  ASSERT_NE(end, std::string::npos);
  EXPECT_EQ(end, 255u);
  EXPECT_EQ(b.substr(0, 15), "\x1b*g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f");
  EXPECT_EQ(b.substr(247, 8), frameSBytes());
  const std::string shortBlock = startBlock("HEAD", 26, 0);
  EXPECT_EQ(shortBlock.substr(15, 18), "HEADCL26PS5 #i  \x20\x20");
}

// A white cube's job: every layer a page whose water plane holds exactly the
// cube's section; the same bytes from one worker as from several.
TEST(JobWriter, CubeJobHoldsTheModelOnAnyNumberOfWorkers) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {kWhite})));
  writeFile(dir / "ngsetup.txt", "SETUP1\n\nSETUP2\n");
  const std::string one = sliceJob(dir, dir / "cube.stl", dir / "one.p3d", 1);
  const std::string four = sliceJob(dir, dir / "cube.stl", dir / "four.p3d", 4);
  EXPECT_TRUE(one == four) << "the job depends on the number of workers";

  // Start block, then 105 layers from 0 to 10.4 mm (z end 10.35 + 0.1).
  EXPECT_EQ(one.rfind("\x1b*g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7fSETUP1CL", 0), 0u);
  EXPECT_EQ(countOf(one, "\x1b*g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7fSETUP2CL"), 105);
  EXPECT_EQ(countOf(one, "ZS10" + frameSBytes()), 105);
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(one, pages, error)) << error;
  ASSERT_EQ(pages.size(), 105u);
  for (std::size_t k = 5; k < 103; ++k) {  // 0.5 .. 10.2 mm: inside the cube
    const auto& rows = pages[k].rows;
    int inked = 0;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const int water = dotCount(rows[r].plane[0]);
      const double y = dotToY(int(r));
      if (y > 10 && y <= 20) {
        ++inked;
        EXPECT_EQ(water, 118) << "layer " << k << " row " << r;
        EXPECT_TRUE(dot(rows[r].plane[0], 128) && dot(rows[r].plane[0], 245) && !dot(rows[r].plane[0], 246));
      } else {
        EXPECT_EQ(water, 0) << "layer " << k << " row " << r;
      }
      EXPECT_EQ(dotCount(rows[r].plane[1]) + dotCount(rows[r].plane[2]) + dotCount(rows[r].plane[3]), 0);
    }
    EXPECT_EQ(inked, 118) << k;
  }
  for (std::size_t k : {0u, 1u, 2u, 104u})
    for (const auto& row : pages[k].rows) EXPECT_EQ(dotCount(row.plane[0]), 0) << "layer " << k;

  // The end block and the fingerprint of the model and the settings text.
  struct stat st {};
  ASSERT_EQ(stat((dir / "cube.stl").c_str(), &st), 0);
  const std::string end = endBlock() + fingerprintLine(std::int32_t(st.st_size), plat::fileDateCode(dir / "cube.stl"),
                                                       plat::crc16Modbus("-L100-W64-S64-C50-D1000-E32767"),
                                                       *plat::fileContentCrc(dir / "cube.stl"));
  ASSERT_GE(one.size(), end.size());
  EXPECT_EQ(one.substr(one.size() - end.size()), end);
  const std::string log = readFile(dir / "prt3d.log");
  EXPECT_EQ(countOf(log, "cube.stl  from    0.0000 to   10.4500\n"), 4);  // twice per job
  EXPECT_EQ(countOf(log, " reached   10.5000 at "), 2);
}

// A job's slicing threads: the count asked for, else PRISM_WORKERS, else the
// processors this process may use.
TEST(JobWriter, WorkerCountComesFromTheRequestTheEnvironmentOrTheAffinityMask) {
  ::setenv("PRISM_WORKERS", "3", 1);
  EXPECT_EQ(SlicerCore(0).workers(), 3);
  EXPECT_EQ(SlicerCore(2).workers(), 2);
  ::setenv("PRISM_WORKERS", "many", 1);
  EXPECT_EQ(SlicerCore(0).workers(), plat::usableProcessors());
  ::unsetenv("PRISM_WORKERS");
  EXPECT_EQ(SlicerCore(0).workers(), plat::usableProcessors());
}

// Coloured parts: overlapping cubes of two colours, a sphere beside them.
TEST(JobWriter, ColouredJobIsTheSameOnAnyNumberOfWorkers) {
  ScratchDir dir;
  const float aLo[3] = {0, 0, 0}, aHi[3] = {10, 10, 6}, bLo[3] = {6, 4, 2}, bHi[3] = {16, 14, 8};
  std::vector<Tri> tris = box(aLo, aHi, {kRed});
  append(tris, box(bLo, bHi, {kBlue, kWhite}));
  auto ball = sphere(8, 16, {kRed, kBlue, kWhite, 0x8000 | 20 << 5});
  for (auto& t : ball)
    for (auto& v : t.v) v[0] += 20;
  append(tris, ball);
  writeFile(dir / "parts.stl", stlBytes(tris));
  const std::string one = sliceJob(dir, dir / "parts.stl", dir / "one.p3d", 1);
  const std::string three = sliceJob(dir, dir / "parts.stl", dir / "three.p3d", 3);
  EXPECT_TRUE(one == three) << "the job depends on the number of workers";
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(one, pages, error)) << error;
  EXPECT_EQ(pages.size(), 85u);  // 0 .. 8.4 mm
  // At 4 mm, the row through both cubes (placed at x 24..34 and 18..28) is
  // inked without a break from the one's left wall to the other's right.
  const auto& row = pages[40].rows[std::size_t(yToDot(20))];
  int lo = -1, hi = -1, inked = 0;
  for (int x = 0; x < 8 * int(row.plane[0].size()); ++x) {
    bool any = false;
    for (const auto& p : row.plane) any = any || dot(p, x);
    if (!any) continue;
    if (lo < 0) lo = x;
    hi = x;
    ++inked;
  }
  EXPECT_EQ(lo, xToDot(18));
  EXPECT_EQ(hi, xToDot(34) - 1);
  EXPECT_EQ(inked, hi - lo + 1);
}

// -L125 slices 0.125 mm layers, though the box shows two decimals.
TEST(JobWriter, LayerThicknessIsTheGivenMicrons) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 2, {kWhite})));
  SlicerRun r(dir);
  r.start(dir / "cube.stl", dir / "out.p3d", "-L125");
  EXPECT_DOUBLE_EQ(layerThickness(r.app.state()), 0.125);
  r.runBatch();
  const std::string job = readFile(dir / "out.p3d");
  EXPECT_EQ(countOf(job, "ZS12" + frameSBytes()), 20);  // 0 .. 2.375 below 2.35 + 0.125
  r.app.layerboxChanged("0.2");  // the operator's own value counts from now on
  EXPECT_DOUBLE_EQ(layerThickness(r.app.state()), 0.2);
  r.app.layerboxChanged("thin");
  EXPECT_DOUBLE_EQ(layerThickness(r.app.state()), 0.25);
}

// Stopped or aborted, a job gets its end block but never a fingerprint.
TEST(JobWriter, StoppedAndAbortedJobsEndWithoutAFingerprint) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 3, {kWhite})));
  for (bool abort : {false, true}) {
    SCOPED_TRACE(abort ? "abort" : "stop");
    SlicerRun r(dir);
    r.start(dir / "cube.stl", dir / "out.p3d");
    r.ui.onEvents = [&] {
      if (r.app.state().zstart == "0.50") abort ? r.app.button3Click() : r.app.button2Click();
    };
    r.runBatch();
    EXPECT_EQ(r.app.exitStatus(), kExitIncomplete);
    const std::string job = readFile(dir / "out.p3d");
    const std::string end = endBlock() + kNoFingerprint;
    ASSERT_GE(job.size(), end.size());
    EXPECT_EQ(job.substr(job.size() - end.size()), end);
    std::vector<RasterPage> pages;
    std::string error;
    ASSERT_TRUE(parsePages(job, pages, error)) << error;
    EXPECT_EQ(pages.size(), 7u);  // the layer under way when the button came is finished
    EXPECT_EQ(r.app.state().rdlabel, "   STOPPED  ");
  }
}

TEST(JobWriter, StartBlockOnlyWithPowderStart) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 1, {kWhite})));
  SlicerRun r(dir);
  r.start(dir / "cube.stl", dir / "out.p3d");
  r.app.state().powdstart = false;
  r.runBatch();
  const std::string job = readFile(dir / "out.p3d");
  EXPECT_EQ(job.rfind("\x1b*g11W\x80\x7f\x7f\x7f\x7f\x7f\x7f\x7f\x7f" "CL", 0), 0u);
  EXPECT_EQ(countOf(job, "PS5 #i  "), 0);
}

// A .p3d given as the model is copied as it is and gets a fingerprint of
// its own.
TEST(JobWriter, JobsAreCopied) {
  ScratchDir dir;
  const std::string old = "layers\r\n" + std::string(1000, 'x') + "0123ABCD\r\n";
  writeFile(dir / "job.p3d", old);
  SlicerRun r(dir);
  r.start(dir / "job.p3d", dir / "copy.p3d");
  r.runBatch();
  EXPECT_EQ(r.app.exitStatus(), kExitOk);
  const std::string copy = readFile(dir / "copy.p3d");
  ASSERT_EQ(copy.size(), old.size() + 10);
  EXPECT_EQ(copy.substr(0, old.size()), old);
}

// The host asks for a job in its work folder to be "copied" onto itself:
// it is used as it stands, by whatever name it is given. Nothing is
// written, so nothing can be lost, and the fingerprint stays the one line
// the host looks for.
TEST(JobWriter, AJobThatIsItsOwnOutputIsUsedInPlace) {
  ScratchDir dir;
  const std::string old = "layers\r\n" + std::string(1000, 'x') + "0123ABCD\r\n";
  writeFile(dir / "job.p3d", old);
  struct stat before {};
  ASSERT_EQ(stat((dir / "job.p3d").c_str(), &before), 0);
  for (const std::string& out : {std::string(), dir / "./job.p3d"}) {
    SCOPED_TRACE(out.empty() ? "no -K" : out);
    SlicerRun r(dir);
    std::vector<std::string> args{"-F" + (dir / "job.p3d"), "-I" + std::to_string(100000 + getpid())};
    if (!out.empty()) args.push_back("-K" + out);
    r.app.formCreate(args, dir.path());
    r.runBatch();
    EXPECT_EQ(r.app.exitStatus(), kExitOk);
    EXPECT_EQ(readFile(dir / "job.p3d"), old);
    struct stat after {};
    ASSERT_EQ(stat((dir / "job.p3d").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);  // the same file, never replaced
    EXPECT_TRUE(r.ui.logHas("is its own output"));
    EXPECT_EQ(r.app.state().rdlabel.rfind("** READY", 0), 0u);
  }
}

// -K naming the model (or its support file) would overwrite it: refused,
// and the model stays as it was.
TEST(JobWriter, AnOutputThatIsAnInputIsRefused) {
  ScratchDir dir;
  const std::string model = stlBytes(cube(0, 1, {kWhite}));
  writeFile(dir / "cube.stl", model);
  writeFile(dir / "cube.sup", "C 1 0 0\n");
  ASSERT_EQ(link((dir / "cube.stl").c_str(), (dir / "alias.p3d").c_str()), 0);
  for (const std::string& out : {dir / "cube.stl", dir / "alias.p3d", dir / "cube.sup"}) {
    SCOPED_TRACE(out);
    SlicerRun r(dir);
    r.start(dir / "cube.stl", out);
    r.runBatch();
    EXPECT_EQ(r.app.exitStatus(), kExitNoJob);
    EXPECT_TRUE(r.ui.logHas("is the input"));
    EXPECT_EQ(readFile(dir / "cube.stl"), model);
    EXPECT_EQ(readFile(dir / "cube.sup"), "C 1 0 0\n");
  }
  // Without -K on a model named without its extension, the job is cube.p3d.
  SlicerRun r(dir);
  r.start(dir / "cube", dir / "cube.stl");
  r.runBatch();
  EXPECT_EQ(r.app.exitStatus(), kExitNoJob);
  EXPECT_EQ(readFile(dir / "cube.stl"), model);
}

namespace {

// The window as a job writer's progress, recorded.
struct RecordedProgress : JobProgress {
  void processEvents() override { ++events; }
  bool stopRequested() const override { return stop; }
  bool abortRequested() const override { return false; }
  void clearStop() override { stop = false; }
  void showProgress(int percent) override { progress.push_back(percent); }
  void started() override { ++starts; }
  void layerWritten(float z) override { layers.push_back(z); }
  void finished(const std::string& s) override { status = s; }
  void tell(const std::string& text) override { told.push_back(text); }
  void note(const std::string& text) override { notes.push_back(text); }
  bool stop = false;
  int events = 0, starts = 0;
  std::vector<int> progress;
  std::vector<float> layers;
  std::vector<std::string> told, notes;
  std::string status;
};

}  // namespace

// The writer needs no program around it: a request and a progress.
TEST(JobWriter, WritesFromARequestAlone) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 1, {kRed})));
  SliceValues values;
  ColouredModel model;
  ASSERT_TRUE(loadColouredStl(dir / "cube.stl", values, model, nullptr).ok);
  const Box b = modelBox(model);
  JobRequest req;
  req.model = &model;
  req.modelName = dir / "cube.stl";
  req.outputName = dir / "cube.p3d";
  req.inputs = {dir / "cube.stl"};
  req.jobLogFolder = dir.path();
  req.values = values;
  req.thickness = 0.25;
  req.zStart = "0";
  req.zEnd = plat::format("%.2f", b.z);
  req.boxY = b.y;
  req.workers = 2;
  RecordedProgress progress;
  plat::ManualClock clock;
  const JobResult r = writeJob(req, progress, clock);
  EXPECT_EQ(r.outcome, JobOutcome::Finished);
  EXPECT_EQ(progress.layers, (std::vector<float>{0, 0.25f, 0.5f, 0.75f, 1.0f, 1.25f, 1.5f}));  // to 1.35 + 0.25
  // Where the next job goes on: seven pages on.
  EXPECT_EQ(r.layerShift, 7);
  int marker = 0;
  for (int k = 0; k < 7; ++k) marker = nextMarkerRow(marker, 13);
  EXPECT_EQ(r.markerRow, marker);
  EXPECT_EQ(progress.status.rfind("** READY", 0), 0u);
  EXPECT_TRUE(progress.told.empty());
  const std::string job = readFile(dir / "cube.p3d");
  EXPECT_EQ(job.substr(job.size() - 10),
            fingerprintLine(model.modelSize, model.modelDateCode, 0xFFFF, model.modelContentCrc));

  // The layer count is bounded by the build room's height, whatever z end
  // the window holds.
  for (const char* zEnd : {"1000.01", "1e9"}) {
    RecordedProgress p;
    req.zEnd = zEnd;
    req.outputName = dir / "tall.p3d";
    EXPECT_EQ(writeJob(req, p, clock).outcome, JobOutcome::NotWritten) << zEnd;
    ASSERT_EQ(p.told.size(), 1u);
    EXPECT_NE(p.told[0].find("do not lie within the build room's 1000 mm"), std::string::npos) << p.told[0];
    EXPECT_EQ(p.starts, 0);
  }
}

// -R naming a device (the host passes its depleteFile setting on) or any
// file that is not a colour cube: the run says so, ends, and writes no job.
TEST(JobWriter, AColourCubeThatCannotBeReadStopsTheJob) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 1, {kWhite})));
  writeFile(dir / "short.txt", "1\n2\n");
  const struct {
    std::string file, words;
  } cases[] = {{"/dev/zero", "cannot read the colour cube /dev/zero: it is not a regular file"},
               {dir / "short.txt", "ends after 2 of 216 lines"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    SlicerRun r(dir);
    r.app.formCreate({"-F" + (dir / "cube.stl"), "-L100", "-R" + c.file, "-K" + (dir / "out.p3d"),
                      "-I" + std::to_string(100000 + getpid())},
                     dir.path());
    r.runBatch();
    EXPECT_TRUE(r.ui.logHas(c.words));
    EXPECT_EQ(r.app.exitStatus(), kExitBadOption);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.p3d"));  // no job was there: nothing to mark
  }
}

// A job that could not be written whole is not called complete.
TEST(JobWriter, OutputFailuresAreReported) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 1, {kWhite})));
  if (access("/dev/full", W_OK) == 0) {
    SlicerRun r(dir);
    r.start(dir / "cube.stl", "/dev/full");
    r.runBatch();
    EXPECT_TRUE(r.ui.logHas("cannot create /dev/full: it is not a regular file"));
    EXPECT_EQ(r.app.exitStatus(), kExitNoJob);
  }
  SlicerRun r(dir);
  r.start(dir / "cube.stl", dir / "no/such/folder/out.p3d");
  r.runBatch();
  EXPECT_TRUE(r.ui.logHas("cannot create"));
  EXPECT_EQ(r.app.exitStatus(), kExitNoJob);

  // Direct output whose port does not open sends nothing and says so.
  SlicerRun p(dir);
  p.start(dir / "cube.stl", dir / "out.p3d");
  p.app.mkfileClick(false);
  p.app.state().printerPort = dir / "no-such-tty";
  p.runBatch();
  EXPECT_TRUE(p.ui.logHas("cannot open the printer port"));
  EXPECT_EQ(p.app.exitStatus(), kExitNoJob);
}

namespace {

struct Pty {
  Pty() {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    slave = ptsname(master);
    // The writer reads replies from the line; keep the master's own echo out.
    int flags = fcntl(master, F_GETFL);
    fcntl(master, F_SETFL, flags | O_NONBLOCK);
  }
  ~Pty() { close(master); }
  std::string drain() {
    std::string got;
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0) got.append(buf, std::size_t(n));
    return got;
  }
  int master = -1;
  std::string slave;
};

}  // namespace

// The printer stops the flow with XOFF: nothing is sent until its XON.
TEST(PrinterPort, WaitsWhileThePrinterHasStoppedTheFlow) {
  Pty pty;
  const int fd = openPrinterPort(115200, false, pty.slave);
  ASSERT_GE(fd, 0) << std::strerror(errno);
  EXPECT_LT(openPrinterPort(115200, false, pty.slave), 0);  // not shared
  const char xoff = 0x13, xon = 0x11;
  ASSERT_EQ(write(pty.master, &xoff, 1), 1);
  int ticks = 0;
  std::string got;
  PortWriter w(fd, pty.slave,
               {[] { return false; }, [] { return false; },
                [&] {
                  if (++ticks == 1) {
                    EXPECT_EQ(pty.drain(), "");  // stopped: nothing sent yet
                    EXPECT_EQ(write(pty.master, &xon, 1), 1);
                  }
                  got += pty.drain();
                }});
  const std::string text(400, 'p');
  ASSERT_TRUE(w.write(text));
  got += pty.drain();
  EXPECT_GE(ticks, 1);
  EXPECT_EQ(got, text);
}

// "to file" off: the job goes to the printer, and long empty runs carry
// the marker row.
TEST(JobWriter, DirectOutputGoesToThePrinterPort) {
  ScratchDir dir;
  const float lo[3] = {0, 0, 0}, hi[3] = {2, 2, 0.3f}, lo2[3] = {0, 6, 0}, hi2[3] = {2, 8, 0.3f};
  std::vector<Tri> tris = box(lo, hi, {kWhite});
  append(tris, box(lo2, hi2, {kWhite}));
  writeFile(dir / "two.stl", stlBytes(tris));
  Pty pty;
  std::atomic<bool> done{false};
  std::string got;
  std::thread reader([&] {
    while (!done) {
      got += pty.drain();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    got += pty.drain();
  });
  SlicerRun r(dir);
  r.start(dir / "two.stl", dir / "unused.p3d");
  r.app.mkfileClick(false);
  r.app.state().printerPort = pty.slave;
  r.runBatch();
  done = true;
  reader.join();
  EXPECT_EQ(r.app.exitStatus(), kExitOk);
  EXPECT_EQ(access((dir / "unused.p3d").c_str(), F_OK), -1);
  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(got, pages, error)) << error;
  EXPECT_EQ(pages.size(), 8u);
  // After -F the marker row's two 01 bytes are 00.
  const std::string marker("\x32\x76\x00\x00\x76\x76\x32\x77\x00\x00", 10);
  EXPECT_NE(got.find("y" + marker), std::string::npos);
  EXPECT_EQ(got.substr(got.size() - endBlock().size()), endBlock());  // no fingerprint line to a printer
}

// Every file the slicer reads or writes is a regular file (or, written, a
// new one): a FIFO, a device or a folder, also behind a link, in place of
// the model, the job, the support file or "prt3d.log" is refused at once
// with a message, never waited on.
TEST(JobWriter, SpecialFilesAreRefusedAtOnce) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 1, {kWhite})));
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder");
  std::filesystem::create_symlink("/dev/zero", dir / "zero-link");
  std::filesystem::create_symlink(dir / "fifo", dir / "fifo-link");
  const std::string specials[] = {dir / "fifo", "/dev/zero", dir / "folder", dir / "zero-link", dir / "fifo-link"};
  for (const std::string& special : specials) {
    SCOPED_TRACE(special);
    {  // as the model
      SlicerRun r(dir);
      r.start(special, dir / "out.p3d");
      r.runBatch();
      EXPECT_EQ(r.app.exitStatus(), kExitModelFailed);
      EXPECT_TRUE(r.ui.logHas("not a regular file") || r.ui.logHas("cannot read")) << special;
    }
    {  // as the job written
      SlicerRun r(dir);
      r.start(dir / "cube.stl", special);
      r.runBatch();
      EXPECT_NE(r.app.exitStatus(), kExitOk);
      EXPECT_TRUE(r.ui.logHas("not a regular file"));
    }
    {  // as the support file
      std::filesystem::remove(dir / "cube.sup");
      std::filesystem::create_symlink(special, dir / "cube.sup");
      SlicerRun r(dir);
      r.start(dir / "cube.stl", dir / "out.p3d");
      r.runBatch();
      EXPECT_EQ(r.app.exitStatus(), kExitModelFailed);
      EXPECT_TRUE(r.ui.logHas("not a regular file") || r.ui.logHas("is a folder"));
      std::filesystem::remove(dir / "cube.sup");
    }
    {  // as the job log: told, and the job is written all the same
      std::filesystem::remove(dir / "prt3d.log");
      std::filesystem::create_symlink(special, dir / "prt3d.log");
      SlicerRun r(dir);
      r.start(dir / "cube.stl", dir / "out.p3d");
      r.runBatch();
      EXPECT_TRUE(r.ui.logHas("prt3d.log: it is not a regular file"));
      EXPECT_EQ(r.app.exitStatus(), kExitOk);
      std::filesystem::remove(dir / "prt3d.log");
    }
  }
  EXPECT_EQ(std::filesystem::status(dir / "fifo").type(), std::filesystem::file_type::fifo);
}

// A full disk cuts the job short: what was written is removed, so nothing
// without a fingerprint or a stop mark is left to be taken for a job.
TEST(JobWriter, AJobTheDiskCannotHoldIsRemoved) {
  ScratchDir dir;
  writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {kWhite})));
  SlicerRun r(dir);
  r.start(dir / "cube.stl", dir / "out.p3d");
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit full = old;
  full.rlim_cur = 4096;  // the disk is full after 4 KB
  auto* handler = std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &full);
  r.runBatch();
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, handler);
  EXPECT_NE(r.app.exitStatus(), kExitOk);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.p3d"));
  EXPECT_TRUE(r.ui.logHas("out.p3d was removed: the disk did not take all of it"));
}
