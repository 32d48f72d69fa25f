#pragma once
// A host core with a scratch work folder and the hand-off on it; the
// conversion is counted, not run.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/core/testing/core_fixture.h"
#include "host/jobdata/job_layout.h"
#include "host/jobdata/job_state.h"
#include "host/jobdata/slicer_handoff.h"

namespace ph::test {

// A coloured binary STL cube of `size` mm (12 facets).
void writeCubeStl(const std::string& path, float size = 10.0f);
void writeBytes(const std::string& path, const std::string& bytes);
std::string readBytes(const std::string& path);
// A stand-in program at `path` that writes its arguments, one a line, to
// path + ".args" and ends.
void writeArgsRecorder(const std::string& path);
// The recorded arguments, once the stand-in has run (empty after 10 s).
std::vector<std::string> recordedArgs(const std::string& path);

// A fresh folder in the test's working folder, removed at the end.
struct ScratchFolder {
  ScratchFolder();
  ~ScratchFolder();
  std::string path;
  std::string at(const std::string& name) const { return path + "/" + name; }
};

// The other subsystems' steps as a test plays them: each does nothing (no
// height profile is made) unless the test sets it.
struct PlayedHandoffSteps : HandoffSteps {
  std::function<ConversionOutcome()> convert = [] { return ConversionOutcome::success(); };
  std::function<void(const std::vector<std::string>&)> mesh;
  std::function<void(float, float, float, float, float)> transform;
  std::function<bool(const std::string&)> heightProfile = [](const std::string&) { return false; };
  ConversionOutcome convertJob() override { return convert(); }
  void meshCommand(const std::vector<std::string>& words) override {
    if (mesh) mesh(words);
  }
  void setCocoonTransform(float scale, float rx, float ry, float rz, bool walls) override {
    if (transform) transform(scale, rx, ry, rz, walls ? 1.0f : 0.0f);
  }
  bool makeHeightProfile(const std::string& stl) override { return heightProfile(stl); }
};

struct HandoffFixture : CoreFixture {
  HandoffFixture();

  ScratchFolder folder;
  std::string work = folder.path;  // the work folder, without the trailing "/"
  JobState job{core};
  JobLayout layout{core, job};
  PlayedHandoffSteps steps;
  SlicerHandoff handoff{core, layout, steps};
  int conversions = 0;

  std::string at(const std::string& name) const { return work + "/" + name; }
  // The first log line that starts with `prefix` ("" when none).
  std::string logLine(const std::string& prefix) const;
  bool logHas(const std::string& prefix) const { return !logLine(prefix).empty(); }
  // Opens a model through the open dialog of the "stl/obj" menu.
  void openFromMenu(const std::string& path);
  // Fires the timers that fall due in `ms`.
  void advance(int ms) { clock.advance(ms); }
};

}  // namespace ph::test
