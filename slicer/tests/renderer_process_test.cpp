// Bitmap layers from the outside renderer, with the renderer as a second
// process (tools/renderer): every layer of the job is the renderer's disc
// for that height, and the job is the same for any number of slicing
// threads.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "fake_slicer_ui.h"
#include "p3d_decode.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/process.h"
#include "slicer/command_line.h"
#include "slicer/slicer_core.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

// The renderer's picture: 101 x 101 on white, a disc around (50, 50) of
// radius 40 - 10 z pixels, blue from x = 50 on.
bool inDisc(double z, int x, int y) {
  const double r = 40 - 10 * z;
  const int dx = x - 50, dy = y - 50;
  return r >= 0 && dx * dx + dy * dy <= r * r;
}

std::string sliceWithRenderer(const ScratchDir& dir, int workers, const std::string& out) {
  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core(workers);
  SlicerApp app(clock, ui, core);
  // "#aminh": pictures from the renderer at scale 1.
  app.formCreate({"-F" + (dir / "#aminhdisc.bmp"), "-L250", "-K" + out, "-I" + std::to_string(400000 + getpid())},
                 dir.path());
  app.state().zend = "1.00";  // the renderer does not tell the model's height
  clock.advance(100);
  EXPECT_EQ(app.exitStatus(), kExitOk) << (ui.log.empty() ? "" : ui.log.back());
  plat::NamedEvent::remove(readyEventName(400000 + getpid()));
  return readFile(out);
}

}  // namespace

TEST(RendererProcess, EveryLayerIsTheRenderersPictureForItsHeight) {
  const char* ns = std::getenv("PRISM_NAMESPACE");
  setenv("PRISM_NAMESPACE", (std::string(ns ? ns : "t") + "p" + std::to_string(getpid()) + "_").c_str(), 1);
  plat::NamedEvent::remove("bmprequest");
  plat::NamedEvent::remove("bmpready");
  ScratchDir dir;
  // Two jobs of a measurement and five layers each.
  auto r = plat::spawnProcess({LAYER_RENDERER_PATH, dir.path(), "12", "20"});
  ASSERT_GT(r.pid, 0) << r.error;

  const std::string one = sliceWithRenderer(dir, 1, dir / "one.p3d");
  const std::string four = sliceWithRenderer(dir, 4, dir / "four.p3d");
  EXPECT_EQ(one, four);
  auto status = plat::waitProcess(r.pid, 20000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, 0);

  std::vector<RasterPage> pages;
  std::string error;
  ASSERT_TRUE(parsePages(one, pages, error)) << error;
  ASSERT_EQ(pages.size(), 5u);  // z = 0, 0.25, ... 1.0
  for (std::size_t k = 0; k < pages.size(); ++k) {
    const double z = 0.25 * double(k);
    const auto& rows = pages[k].rows;
    int cyan = 0;
    // Mirrored and from the bottom row up: pixel (x, y) is dot 99 - x of
    // row 60 + 99 - y.
    for (int y = 0; y <= 99; ++y) {
      const std::size_t row = std::size_t(60 + 99 - y);
      ASSERT_LT(row, rows.size());
      for (int x = 0; x <= 99; ++x) {
        bool ink = false;
        for (const auto& plane : rows[row].plane) ink = ink || dot(plane, 99 - x);
        ASSERT_EQ(ink, inDisc(z, x, y)) << "z " << z << " pixel " << x << "," << y;
        if (dot(rows[row].plane[1], 99 - x)) {
          ++cyan;
          ASSERT_GE(x, 50) << "red has no cyan";
        }
      }
    }
    EXPECT_GT(cyan, 0);
  }
  plat::NamedEvent::remove("bmprequest");
  plat::NamedEvent::remove("bmpready");
}
