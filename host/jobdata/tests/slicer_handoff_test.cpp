// The hand-off to the slicer: reuse of a job whose fingerprint matches, the
// slicer's start and its failures, the ready event and the conversion 1.5 s
// after it.
#include "host/jobdata/slicer_handoff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "host/jobdata/slicer_command.h"
#include "host/jobdata/tests/handoff_fixture.h"
#include "platform/fingerprint.h"

using namespace ph;
using ph::test::HandoffFixture;

namespace {

// The settings text the slicer hashes for the default settings.
constexpr const char* kDefaultText = "-L250-W64-S64-C50-D1000-E25368";

struct Handoff : HandoffFixture, ::testing::Test {
  // A job file that ends in the fingerprint of `model` and `text`.
  void writeJobFor(const std::string& model, const std::string& text, const std::string& job) {
    const auto size = std::uint32_t(test::readBytes(model).size());
    const std::string sig = sliceSignature(size, plat::fileDateCode(model), plat::crc16Modbus(text));
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
      sliceSignature(std::uint32_t(test::readBytes(model).size()), plat::fileDateCode(model), crc);
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

  // An unattended convert-only run logs it and ends.
  ui.messages.clear();
  core.commandInputFile = model;
  core.runMode = 'V';
  handoff.povstl1Click();
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(logHas("cannot start /nonexistent/layertint"));
  EXPECT_TRUE(ui.closeRequested);
}

TEST_F(Handoff, ASlicerThatEndsWithoutTheReadyEventIsToldAndNotWaitedFor) {
  core.s.slicer_exe = "true";
  const std::string model = at("m.stl");
  test::writeCubeStl(model);
  openFromMenu(model);
  ASSERT_TRUE(handoff.waitingForSlicer);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (handoff.waitingForSlicer && std::chrono::steady_clock::now() < end) {
    advance(SlicerHandoff::kWatchMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(handoff.waitingForSlicer);
  EXPECT_EQ(ui.messages, std::vector<std::string>{"the slicer ended (status 0) without reporting a job"});
  EXPECT_EQ(conversions, 0);
}

TEST_F(Handoff, AReadyEventWhileNothingWaitsIsIgnored) {
  handoff.syncsliceReceive();
  advance(5000);
  EXPECT_EQ(conversions, 0);
  EXPECT_TRUE(log().empty());
}

TEST_F(Handoff, AModelThatDoesNotFitAsksWhetherToContinue) {
  handoff.links.convertJob = [this] {
    ++conversions;
    job.modelFits = false;
    return true;
  };
  for (auto [answer, abort] : {std::pair{OperatorUi::Answer::Yes, false}, {OperatorUi::Answer::No, true}}) {
    ui.questions.clear();
    ui.answers.push_back(answer);
    handoff.waitingForSlicer = true;
    handoff.syncsliceReceive();
    advance(1500);
    EXPECT_EQ(ui.questions, std::vector<std::string>{"model does not fit in machine, Continue?"});
    EXPECT_EQ(core.printAbort, abort);
    EXPECT_FALSE(ui.closeRequested);
  }
  // A convert-only run has nobody to ask: the print stays aborted and the
  // program ends.
  ui.questions.clear();
  core.commandInputFile = "x.stl";
  core.runMode = 'V';
  handoff.waitingForSlicer = true;
  handoff.syncsliceReceive();
  advance(1500);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(core.printAbort);
  EXPECT_TRUE(logHas("model does not fit in machine"));
  EXPECT_TRUE(ui.closeRequested);
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
  handoff.viewer1Click();
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
