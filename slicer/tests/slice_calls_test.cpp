// The slice calls: one layer into the program's store, read span by span.
#include "slicer/slice_calls.h"

#include <gtest/gtest.h>

#include "fake_slicer_ui.h"
#include "platform/clock.h"
#include "slicer/slicer_core.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

struct Prepared {
  Prepared() {
    writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {0x8000 | 31 << 10})));
    app.formCreate({dir / "cube.stl"}, dir.path());
    EXPECT_TRUE(app.prepareModel(false));
  }
  ScratchDir dir;
  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core{1};
  SlicerApp app{clock, ui, core};
};

}  // namespace

TEST(SliceCalls, SetcolstlparmTable) {
  Prepared p;
  SliceCalls& c = p.core.sliceCalls();
  const SliceValues& v = p.app.state().values;
  EXPECT_TRUE(c.setcolstlparm(p.app, 2, 750));
  EXPECT_DOUBLE_EQ(v.colourFactor, double(0.75f));
  EXPECT_TRUE(c.setcolstlparm(p.app, 10, 32767));
  EXPECT_EQ(v.defaultColour, 32767);
  EXPECT_TRUE(c.setcolstlparm(p.app, 10, 0x18001));
  EXPECT_EQ(v.defaultColour, 0x8001);  // 16 bits
  EXPECT_TRUE(c.setcolstlparm(p.app, 9, 0));
  EXPECT_EQ(v.minstepy, 1);  // a step of 0 rows could not advance
  EXPECT_TRUE(c.setcolstlparm(p.app, 6, 333));
  EXPECT_EQ(v.modelWidthDots, 333);
  EXPECT_TRUE(p.ui.logHas("setcolstlparm(6,333 )"));
  // Values that size a page's work are taken only within their ranges.
  const struct {
    int i, v;
  } refused[] = {{4, 0}, {5, 1000000}, {6, -5}, {7, 2147483647}, {0, -2147483647 - 1}, {3, 7}};
  for (const auto& r : refused) EXPECT_FALSE(c.setcolstlparm(p.app, r.i, r.v)) << r.i << " " << r.v;
  EXPECT_TRUE(p.ui.logHas("setcolstlparm(7,2147483647 ): the value is outside 1..32767, not set"));
  EXPECT_EQ(v.modelWidthDots, 333);
  EXPECT_EQ(v.copiesX, 1);
  EXPECT_TRUE(c.setcolstlparm(p.app, 11, 0));
  EXPECT_FALSE(c.setcolstlparm(p.app, 12, 5));
  EXPECT_FALSE(c.setcolstlparm(p.app, -1, 5));
  EXPECT_FALSE(p.ui.logHas("setcolstlparm(12"));  // trace level 0 now
}

TEST(SliceCalls, PreplayerAndGetsliceline) {
  Prepared p;
  SliceCalls& c = p.core.sliceCalls();
  p.app.state().values.skinDepth = 0;  // all interior
  EXPECT_EQ(c.preplayer(p.app, 5350), 1);
  EXPECT_TRUE(p.ui.logHas("preplayer(5350 )"));
  int spans = 0;
  SliceCalls::SliceLine first, line;
  while ((line = c.getsliceline(p.app)).colourIndex != 0) {
    if (spans++ == 0) first = line;
    EXPECT_EQ(line.xStart, 128);
    EXPECT_EQ(line.xEnd, 246);
    EXPECT_EQ(line.colourIndex, kSupportIndex);
  }
  EXPECT_EQ(spans, 118);
  EXPECT_EQ(first.row, 129);
  EXPECT_EQ(c.getsliceline(p.app).colourIndex, 0);
  // A new slice reads from its start again; uncoloured spans carry bit 15.
  p.app.state().values.skinDepth = 1;
  EXPECT_EQ(c.preplayer(p.app, 5350), 1);
  line = c.getsliceline(p.app);
  EXPECT_EQ(line.row, 129);
  EXPECT_EQ(line.colourIndex, 1);
  EXPECT_EQ(line.colour, 0x8000 | 31 << 10);
}

namespace {

// A bitmap source that waits for its renderer and meanwhile handles a
// window event that asks for another slice.
class WaitingBitmaps : public SlicerCore {
 public:
  using SlicerCore::SlicerCore;
  bool sliceBitmapLayer(SlicerApp& app, float, SpanStore& out) override {
    ++calls;
    nested = sliceCalls().preplayer(app, 1000);  // the redraw during the wait
    out.add(0, 5);
    out.endRow();
    return true;
  }
  int calls = 0, nested = -1;
};

}  // namespace

TEST(SliceCalls, ASliceAskedForDuringASliceIsRefusedAtOnce) {
  ScratchDir dir;
  plat::ManualClock clock;
  FakeUi ui;
  WaitingBitmaps core(1);
  SlicerApp app(clock, ui, core);
  app.state().bmpMode = true;
  EXPECT_EQ(core.sliceCalls().preplayer(app, 2000), 1);
  EXPECT_EQ(core.calls, 1);
  EXPECT_EQ(core.nested, 0);
  EXPECT_TRUE(ui.logHas("refused: a slice is running"));
  EXPECT_FALSE(core.sliceCalls().busy());
  EXPECT_EQ(core.sliceCalls().store().z(), 2.0f);
}
