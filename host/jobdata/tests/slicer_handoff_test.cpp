// The hand-off to the slicer: reuse of a job whose fingerprint matches, the
// slicer's start and its failures, the ready event and the conversion 1.5 s
// after it.
#include "host/jobdata/slicer_handoff.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "host/jobdata/slicer_command.h"
#include "host/jobdata/tests/handoff_fixture.h"
#include "host/jobdata/job_state.h"
#include "platform/fingerprint.h"
#include "platform/process.h"

using namespace ph;
using ph::test::HandoffFixture;

namespace {

// The settings text the slicer hashes for the default settings.
constexpr const char* kDefaultText = "-L250-W64-S64-C50-D1000-E25368";

// Changes the attribute bytes (the colour) of the model's last facet and
// puts its modification time back.
void recolourKeepingDate(const std::string& model) {
  struct stat st {};
  ASSERT_EQ(stat(model.c_str(), &st), 0);
  std::string bytes = test::readBytes(model);
  bytes[bytes.size() - 2] = char(0x1F);
  bytes[bytes.size() - 1] = char(0x80);
  test::writeBytes(model, bytes);
  const timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, model.c_str(), times, 0), 0);
}

struct Handoff : HandoffFixture, ::testing::Test {
  // A job file that ends in the fingerprint of `model` and `text`.
  void writeJobFor(const std::string& model, const std::string& text, const std::string& job) {
    const auto size = std::uint32_t(test::readBytes(model).size());
    const std::string sig =
        sliceSignature(size, plat::fileDateCode(model), plat::crc16Modbus(text), *plat::fileContentCrc(model));
    test::writeBytes(job, "\x1b*g11W raster\x0c" + sig + "\r\n");
  }
  bool started() const { return logHas("exe: "); }
};

TEST_F(Handoff, AJobWhoseFingerprintMatchesIsConvertedWithoutSlicing) {
  struct Case {
    const char* what;
    std::function<void(HostCore&)> set;
    std::string text;
  };
  const Case cases[] = {
      {"default settings", [](HostCore&) {}, kDefaultText},
      {"skinClear from the command line", [](HostCore& c) { c.skinClear = 200; }, std::string(kDefaultText) + "-U200"},
      {"instance 2", [](HostCore& c) { c.instanceNumber = 2; }, kDefaultText},
      {"haze removal", [](HostCore& c) { c.s.hazeRemove = -2; }, std::string("-U2") + kDefaultText},
  };
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    conversions = 0;
    core.skinClear = -1;
    core.instanceNumber = 1;
    core.s.hazeRemove = 0;
    c.set(core);
    const std::string model = at(plat::format("Part%d.stl", ++n));
    test::writeCubeStl(model);
    writeJobFor(model, c.text, at(plat::format("Part%d.p3d", n)));
    openFromMenu(model);
    EXPECT_FALSE(started());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(logHas(".p3d file ready 0ms"));
    EXPECT_FALSE(handoff.waitingForSlicer);
    advance(1499);
    EXPECT_EQ(conversions, 0);
    advance(1);
    EXPECT_EQ(conversions, 1);
  }
}

TEST_F(Handoff, AnyChangeOfModelOrSlicingSettingsSlicesAgain) {
  struct Case {
    const char* what;
    std::function<void(HostCore&, const std::string& model)> change;
  };
  const Case cases[] = {
      {"layerMicrons", [](HostCore& c, const std::string&) { c.s.layerMicrons = 100; }},
      {"waterpixel", [](HostCore& c, const std::string&) { c.s.waterpixel = 60; }},
      {"sumpixel", [](HostCore& c, const std::string&) { c.s.sumpixel = 60; }},
      {"colorweight", [](HostCore& c, const std::string&) { c.s.colorweight = 40; }},
      {"skinmicrons", [](HostCore& c, const std::string&) { c.s.skinmicrons = 900; }},
      {"defaultcolor", [](HostCore& c, const std::string&) { c.s.defaultcolor = 32767; }},
      {"skinClear", [](HostCore& c, const std::string&) { c.skinClear = 50; }},
      {"model", [](HostCore&, const std::string& m) { test::writeBytes(m, test::readBytes(m) + "x"); }},
      // Only the colour of the last facet: same size, same date.
      {"colours", [](HostCore&, const std::string& m) { recolourKeepingDate(m); }},
  };
  const Settings defaults = core.s;
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    core.Memo1.clear();
    core.s = defaults;
    core.skinClear = -1;
    const std::string model = at(plat::format("M%d.stl", ++n));
    test::writeCubeStl(model);
    writeJobFor(model, kDefaultText, at(plat::format("M%d.p3d", n)));
    c.change(core, model);
    openFromMenu(model);
    EXPECT_TRUE(started());
  }
}

TEST_F(Handoff, AShortAbortedOrUnterminatedJobIsNeverReused) {
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  const std::uint16_t crc = plat::crc16Modbus(kDefaultText);
  const std::string sig =
      sliceSignature(std::uint32_t(test::readBytes(model).size()), plat::fileDateCode(model), crc,
                     *plat::fileContentCrc(model));
  for (const std::string& job : {std::string("   "), sig.substr(2) + "\r\n", sig + "\r\n "}) {
    core.Memo1.clear();
    test::writeBytes(at("m.p3d"), job);
    openFromMenu(model);
    EXPECT_TRUE(started()) << job;
  }
}

TEST_F(Handoff, TheSlicerGetsTheModelAndJobPathsWholeAndInTheirCase) {
  const std::string recorder = at("slicer rec");
  test::writeArgsRecorder(recorder);
  core.s.slicer_exe = recorder;
  core.instanceNumber = 2;
  const std::string model = at("My Model.STL");
  test::writeCubeStl(model);
  openFromMenu(model);
  EXPECT_EQ(core.s.file_name, "My Model");
  EXPECT_EQ(test::recordedArgs(recorder),
            (std::vector<std::string>{"-F" + model, "-L250", "-W64", "-S64", "-C50", "-D1000",
                                      "-K" + at("My Model.p3d"), "-E25368", "-I2"}));
  EXPECT_EQ(logLine("exe: "), "exe: \"" + recorder + "\" -F\"" + model + "\" -L250 -W64 -S64 -C50 -D1000 -K\"" +
                                  at("My Model.p3d") + "\" -E25368 -I2");
  EXPECT_TRUE(handoff.waitingForSlicer);
}

TEST_F(Handoff, ASlicerThatCannotBeStartedIsToldAndNotWaitedFor) {
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], "cannot start /nonexistent/layertint: No such file or directory");
  EXPECT_FALSE(handoff.waitingForSlicer);
  EXPECT_FALSE(ui.closeRequested);

  // An unattended convert-only run logs it, and the road says it failed.
  ui.messages.clear();
  core.commandInputFile = model;
  core.runMode = 'V';
  EXPECT_FALSE(handoff.openModel());
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(logHas("cannot start /nonexistent/layertint"));
}

TEST_F(Handoff, AReadyEventWhileNothingWaitsIsIgnored) {
  handoff.takeSlicedJob();
  advance(5000);
  EXPECT_EQ(conversions, 0);
  EXPECT_TRUE(log().empty());
}

TEST_F(Handoff, AModelThatDoesNotFitAsksWhetherToContinue) {
  steps.convert = [this] {
    ++conversions;
    job.modelFits = false;
    return ConversionOutcome::success();
  };
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  writeJobFor(model, kDefaultText, at("m.p3d"));
  for (auto [answer, abort] : {std::pair{OperatorUi::Answer::Yes, false}, {OperatorUi::Answer::No, true}}) {
    ui.questions.clear();
    ui.answers.push_back(answer);
    openFromMenu(model);
    advance(1500);
    EXPECT_EQ(ui.questions, std::vector<std::string>{"model does not fit in machine, Continue?"});
    EXPECT_EQ(core.abortRequested(), abort);
    EXPECT_FALSE(ui.closeRequested);
  }
  // A convert-only run has nobody to ask: the print stays aborted and the
  // run ends as failed.
  ui.questions.clear();
  core.commandInputFile = model;
  core.runMode = 'V';
  EXPECT_TRUE(handoff.openModel());
  advance(1500);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(core.abortRequested());
  EXPECT_TRUE(logHas("unattended run failed: model does not fit in machine"));
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_EQ(core.run.exitStatus(), 1);
}

TEST_F(Handoff, AConversionThatDoesNotConvertEndsAnUnattendedRun) {
  struct Case {
    ConversionOutcome outcome;
    const char* logged;
  };
  const Case cases[] = {
      {ConversionOutcome::failure("unable to write to file: temp.dmc"),
       "unattended run failed: the conversion failed: unable to write to file: temp.dmc"},
      {ConversionOutcome::noInk("m.p3d holds no ink: the job prints nothing"),
       "unattended run failed: m.p3d holds no ink: the job prints nothing"},
  };
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  writeJobFor(model, kDefaultText, at("m.p3d"));
  core.commandInputFile = model;
  core.runMode = 'V';
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    conversions = 0;
    steps.convert = [&] {
      ++conversions;
      return c.outcome;
    };
    EXPECT_TRUE(handoff.openModel());
    advance(1500);
    EXPECT_EQ(conversions, 1);
    EXPECT_TRUE(logHas(c.logged));
    EXPECT_TRUE(ui.closeRequested);
    EXPECT_EQ(core.run.exitStatus(), 1);
  }
}

// A stand-in slicer: writes a job body to its -K file, then, `delay`
// seconds later, `trailer`, and exits with `status`.
struct StandInSlicer : Handoff {
  std::string model = at("m.stl");
  StandInSlicer() { test::writeCubeStl(model); }
  // The fingerprint line of this model's job at the default settings.
  std::string fingerprintLine() const {
    return sliceSignature(std::uint32_t(test::readBytes(model).size()), plat::fileDateCode(model),
                          plat::crc16Modbus(kDefaultText), *plat::fileContentCrc(model)) +
           "\\r\\n";
  }
  void useSlicer(const std::string& trailer, int status, const char* delay = "0") {
    const std::string path = at("stand-in slicer");
    test::writeBytes(path, "#!/bin/sh\n"
                           "for a in \"$@\"; do case \"$a\" in -K*) out=\"${a#-K}\";; esac; done\n"
                           "printf 'raster\\014' > \"$out\"\n"
                           "echo 'layertint: m.stl: 12 of 12 stored facet normals point against' >&2\n"
                           "sleep " + std::string(delay) + " & echo $! > \"$out.sleeper\"; wait $!\n"
                           "printf '" + trailer + "' >> \"$out\"\n"
                           "exit " + std::to_string(status) + "\n");
    chmod(path.c_str(), 0755);
    core.s.slicer_exe = path;
  }
  // Waits (bounded) until the started slicer has ended, without reaping it.
  void waitForSlicerEnd() {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (plat::processRunning(handoff.slicerPid()) && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  void runConvertOnly() {
    core.commandInputFile = model;
    core.runMode = 'V';
    ASSERT_TRUE(handoff.openModel());
    ASSERT_GT(handoff.slicerPid(), 0);
  }
};

TEST_F(StandInSlicer, AFinishedJobIsConvertedOnceItsSlicerEndedWell) {
  useSlicer(fingerprintLine(), 0);
  runConvertOnly();
  waitForSlicerEnd();
  handoff.takeSlicedJob();
  EXPECT_TRUE(logHas(".p3d file ready "));
  advance(1500);
  advance(SlicerHandoff::kWatchMs);
  EXPECT_EQ(conversions, 1);
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_EQ(core.run.exitStatus(), 0);
  // What the slicer said reached the operator log.
  EXPECT_TRUE(logHas("layertint: m.stl: 12 of 12 stored facet normals point against"));
}

// How a slice can end without a job to convert.
enum class SliceEnd { Aborted, FinishedButFailed, NoFingerprint, OtherFingerprint };

const char* const kSliceEndNames[] = {"Aborted", "FinishedButFailed", "NoFingerprint", "OtherFingerprint"};
std::string sliceEndName(const ::testing::TestParamInfo<SliceEnd>& info) { return kSliceEndNames[int(info.param)]; }
void PrintTo(SliceEnd e, std::ostream* os) { *os << kSliceEndNames[int(e)]; }

struct UnfinishedJob : StandInSlicer, ::testing::WithParamInterface<SliceEnd> {};

TEST_P(UnfinishedJob, IsNeverConvertedAndEndsTheRunAsFailed) {
  switch (GetParam()) {
    case SliceEnd::Aborted: useSlicer("   ", 3); break;  // stopped or aborted: three blanks
    case SliceEnd::FinishedButFailed: useSlicer(fingerprintLine(), 1); break;
    case SliceEnd::NoFingerprint: useSlicer("", 0); break;
    case SliceEnd::OtherFingerprint: useSlicer("0BADF00D\\r\\n", 0); break;
  }
  runConvertOnly();
  waitForSlicerEnd();
  // The slicer sets the ready event after every batch job; one that died
  // sets none.
  if (GetParam() != SliceEnd::NoFingerprint) handoff.takeSlicedJob();
  for (int i = 0; i < 8; ++i) advance(SlicerHandoff::kWatchMs);
  EXPECT_EQ(conversions, 0);
  EXPECT_FALSE(handoff.waitingForSlicer);
  EXPECT_FALSE(job.jobReady);
  EXPECT_TRUE(logHas("slicing failed: "));
  EXPECT_TRUE(logHas("unattended run failed: slicing failed"));
  EXPECT_TRUE(logHas("layertint: m.stl: 12 of 12 stored facet normals point against"));
  EXPECT_TRUE(ui.closeRequested);
  EXPECT_EQ(core.run.exitStatus(), 1);
}

INSTANTIATE_TEST_SUITE_P(Ends, UnfinishedJob,
                         ::testing::Values(SliceEnd::Aborted, SliceEnd::FinishedButFailed, SliceEnd::NoFingerprint,
                                           SliceEnd::OtherFingerprint),
                         sliceEndName);

TEST_F(StandInSlicer, AJobGivenAsTheModelIsConvertedWhenItIsFinished) {
  // The slicer copies a .p3d model and ends the copy with a fingerprint of
  // its own; what is converted is the model, which must be a finished job.
  struct Case {
    const char* name;
    const char* bytes;
    bool finished;
  };
  const Case cases[] = {{"jobs/Ring.p3d", "raster\x0c" "0123ABCD\r\n", true},
                        {"jobs/ALLIGNPAT.P3D", "raster\x0c", true},  // a pattern job: no fingerprint
                        {"jobs/Cut.p3d", "raster\x0c   ", false}};
  for (const Case& c : cases) {
    const bool finished = c.finished;
    SCOPED_TRACE(c.name);
    core.Memo1.clear();
    conversions = 0;
    std::filesystem::create_directories(at("jobs"));
    const std::string model = at(c.name);
    test::writeBytes(model, c.bytes);
    useSlicer("00001FC0\\r\\n", 0);
    core.commandInputFile = model;
    core.runMode = 'V';
    ASSERT_TRUE(handoff.openModel());
    waitForSlicerEnd();
    handoff.takeSlicedJob();
    for (int i = 0; i < 8; ++i) advance(SlicerHandoff::kWatchMs);
    EXPECT_EQ(conversions, finished ? 1 : 0);
    EXPECT_EQ(job.workFileName("p3d"), model);  // what the conversion reads
    EXPECT_EQ(logHas("slicing failed: "), !finished);
  }
}

TEST_F(StandInSlicer, AnOperatorIsToldWhenTheSlicingFailed) {
  useSlicer("   ", 3);
  openFromMenu(model);
  waitForSlicerEnd();
  for (int i = 0; i < 4; ++i) advance(SlicerHandoff::kWatchMs);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"slicing failed: the slicer ended (status 3) without finishing " +
                                                  at("m.p3d") + "; nothing converted"});
  EXPECT_FALSE(ui.closeRequested);
}

TEST_F(StandInSlicer, AnotherSlicersEventDoesNotConvertAJobStillBeingWritten) {
  useSlicer(fingerprintLine(), 0, "0.3");
  openFromMenu(model);
  handoff.takeSlicedJob();  // an older run's event: this job is half written
  EXPECT_TRUE(handoff.waitingForSlicer);
  EXPECT_TRUE(logHas("ready event ignored: " + at("m.p3d")));
  advance(1500);
  EXPECT_EQ(conversions, 0);
  waitForSlicerEnd();
  handoff.takeSlicedJob();
  advance(1500);
  advance(SlicerHandoff::kWatchMs);
  EXPECT_EQ(conversions, 1);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StandInSlicer, OpeningAModelStopsTheSliceStillRunning) {
  useSlicer(fingerprintLine(), 0, "30");
  openFromMenu(model);
  const pid_t first = handoff.slicerPid();
  ASSERT_GT(first, 0);
  for (int i = 0; i < 1000 && test::readBytes(at("m.p3d.sleeper")).find('\n') == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  const std::string other = at("other.stl");
  test::writeCubeStl(other, 5.0f);
  openFromMenu(other);
  EXPECT_TRUE(logHas("slicer stopped: a new job was opened"));
  EXPECT_NE(handoff.slicerPid(), first);
  EXPECT_NE(kill(first, 0), 0);  // ended and reaped
  // And what the wrapper script started went with it.
  const pid_t sleeper = std::stoi(test::readBytes(at("m.p3d.sleeper")));
  bool gone = false;
  for (int i = 0; i < 400 && !gone; ++i) {
    const std::string stat = test::readBytes("/proc/" + std::to_string(sleeper) + "/stat");
    gone = stat.empty() || stat.find(") Z ") != std::string::npos;
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(gone);
  if (!gone) kill(sleeper, SIGKILL);
  handoff.stopSlice("the test ends");
}

TEST_F(Handoff, OpeningAModelCancelsTheConversionOfTheLastJob) {
  const std::string model = at("a.stl");
  test::writeCubeStl(model);
  writeJobFor(model, kDefaultText, at("a.p3d"));
  openFromMenu(model);  // reused: converted 1.5 s from now
  advance(1000);
  openFromMenu(at("gone.stl"));  // nothing new, the old job stays
  advance(500);
  EXPECT_EQ(conversions, 1);
  openFromMenu(model);
  advance(1000);
  const std::string other = at("b.stl");
  test::writeCubeStl(other);
  openFromMenu(other);  // a new job: the last one's conversion is off
  advance(500);
  EXPECT_EQ(conversions, 1);
  // Also when the new model is only previewed.
  openFromMenu(model);
  advance(1000);
  core.controls.add(Control::Kind::MenuItem, "BMPlayers1", "BMP-layers").checked = true;
  openFromMenu(other);
  advance(500);
  EXPECT_EQ(conversions, 1);
}

TEST_F(Handoff, AWorkFolderAnotherProgramHoldsIsRefused) {
  JobState otherProgram{core};
  ASSERT_TRUE(otherProgram.claimWorkFolder());
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  writeJobFor(model, kDefaultText, at("m.p3d"));
  openFromMenu(model);
  EXPECT_FALSE(started());
  EXPECT_FALSE(handoff.waitingForSlicer);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_NE(ui.messages[0].find("the work folder " + work + " is in use by another prismhost"), std::string::npos);
  advance(1500);
  EXPECT_EQ(conversions, 0);

  // An unattended run ends with a failure.
  core.commandInputFile = model;
  core.runMode = 'V';
  EXPECT_FALSE(handoff.openModel());
  EXPECT_TRUE(logHas("unattended run failed: work folder in use"));
  EXPECT_EQ(core.run.exitStatus(), 1);
}

TEST_F(Handoff, AColourCubeFileIsPassedWhenItExists) {
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  core.s.depleteFile = at("cube.txt");
  openFromMenu(model);
  EXPECT_EQ(ui.messages.at(0), "no file: " + at("cube.txt"));
  EXPECT_EQ(logLine("exe: ").find(" -R"), std::string::npos);

  core.Memo1.clear();
  test::writeBytes(at("cube.txt"), "cube");
  // Reused only with the cube in the fingerprint.
  writeJobFor(model, std::string(kDefaultText) + "-R" + at("cube.txt"), at("m.p3d"));
  openFromMenu(model);
  EXPECT_FALSE(started());
  EXPECT_TRUE(logHas(".p3d file ready"));
}

TEST_F(Handoff, ThePreviewShowsTheJobsModelWithTheSlicingSettings) {
  const std::string recorder = at("slicer");
  test::writeArgsRecorder(recorder);
  core.s.slicer_exe = recorder;
  core.s.file_name = "Cube";
  core.skinClear = 120;
  core.controls.add(Control::Kind::MenuItem, "BMPlayers1", "BMP-layers").checked = true;
  handoff.showSlicerPreview();
  EXPECT_EQ(handoff.viewerstl, at("Cube.stl"));
  EXPECT_EQ(test::recordedArgs(recorder), (std::vector<std::string>{"-V" + at("Cube.stl"), "-L250", "-W64", "-S64",
                                                                    "-C50", "-D1000", "-E25368", "-U120", "-J"}));

  // With "BMP-layers" checked opening a model previews instead of slicing.
  std::remove((recorder + ".args").c_str());
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  EXPECT_FALSE(started());
  EXPECT_FALSE(handoff.waitingForSlicer);
  EXPECT_EQ(test::recordedArgs(recorder).at(0), "-V" + model);
}

}  // namespace
