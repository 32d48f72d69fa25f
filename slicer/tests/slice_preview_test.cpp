// The slice preview and the text editor, driven through scripted windows:
// scale and positions, what a slice paints, the movie and its frames, the
// volume, and the editor's questions and saves.
#include "slicer/slice_preview.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

#include "fake_slicer_ui.h"
#include "platform/clock.h"
#include "slicer/slicer_core.h"
#include "slicer/text_editor.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

constexpr std::uint16_t kRed = 0x8000 | 31 << 10;

struct FakePreviewWindow : PreviewWindow {
  void show(const PreviewView& v) override { view = v; }
  void paintBoxChanged() override { ++paints; }
  void processEvents() override {
    if (onEvents) onEvents();
  }
  void pause(int ms) override {
    ++pauses;
    EXPECT_EQ(ms, 200);
    if (onPause) onPause();
  }
  std::optional<unsigned> chooseColour(unsigned) override { return colour; }
  void showMessage(const std::string& t) override { messages.push_back(t); }
  void setBusyCursor(bool) override {}
  void maximise() override { ++maximised; }
  void close() override {
    ++closes;
    if (preview) preview->formCloseQuery();
  }
  PreviewView view;
  int paints = 0, pauses = 0, maximised = 0, closes = 0;
  std::function<void()> onEvents, onPause;
  std::optional<unsigned> colour;
  std::vector<std::string> messages;
  SlicePreview* preview = nullptr;
};

struct FakeEditorWindow : EditorWindow {
  void showText(const std::string& c, const std::string& t) override {
    caption = c;
    text = t;
  }
  void close() override { ++closes; }
  std::string caption, text;
  int closes = 0;
};

// The windows open the logic objects and run a script while "open".
struct ScriptedWindows : StageWindows {
  void runPreview(SlicePreview& p) override {
    previewWindow.preview = &p;
    p.open(*app, previewWindow);
    p.formResize(width, height);
    if (previewScript) previewScript(p);
    p.closed();
  }
  void runEditor(TextEditor& e) override {
    e.open(*app, editorWindow);
    e.formActivate();
    if (editorScript) editorScript(e);
    e.formClose();
    e.closed();
  }
  SlicerApp* app = nullptr;
  int width = 570, height = 428;  // a paint box of 500 x 400
  FakePreviewWindow previewWindow;
  FakeEditorWindow editorWindow;
  std::function<void(SlicePreview&)> previewScript;
  std::function<void(TextEditor&)> editorScript;
};

bool exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

// A program with a 10 mm red cube prepared and the scripted windows.
class PreviewTest : public ::testing::Test {
 protected:
  PreviewTest() {
    writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {kRed})));
    windows.app = &app;
    core.setWindows(&windows);
  }
  void prepare(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{dir / "cube.stl", "-L250"};
    args.insert(args.end(), extra.begin(), extra.end());
    app.formCreate(args, dir.path());
    clock.advance(100);
    ASSERT_TRUE(app.prepareModel(true));
  }
  SlicePreview& preview() { return core.preview(); }
  // The colour of the paint box at dot x of row `row`.
  unsigned at(int x, int row) {
    return preview().paintBox().pixel(preview().screenX(x), preview().screenY(row)) & 0xFFFFFF;
  }

  ScratchDir dir;
  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core{1};
  SlicerApp app{clock, ui, core};
  ScriptedWindows windows;
};

}  // namespace

TEST_F(PreviewTest, ScaleFromThePaintBoxAndTheModel) {
  prepare();
  app.state().boxXMicrons = 100000;
  app.state().boxYMicrons = 50000;
  windows.width = 633 + 70;
  windows.height = 586 + 28;
  windows.previewScript = [](SlicePreview& p) {
    EXPECT_EQ(p.view().pbxWidth, 633);
    EXPECT_EQ(p.previewCols, 1299);
    EXPECT_EQ(p.previewRows, 709);
    EXPECT_NEAR(p.previewScale, 633 / 1299.2126, 1e-6);
  };
  app.prvbutClick();
}

TEST_F(PreviewTest, ScrollPositionsAndTypedHeights) {
  prepare();
  windows.previewScript = [&](SlicePreview& p) {
    const int top = app.state().boxZMicrons;
    EXPECT_EQ(top, 10350);
    EXPECT_EQ(p.heightOf(1000), 0);
    EXPECT_EQ(p.heightOf(0), top);
    const int paints = windows.previewWindow.paints;
    p.scrollBar1Scroll(500, false);  // dragging shows the height, draws nothing
    EXPECT_EQ(windows.previewWindow.view.editz, "5.2");
    EXPECT_EQ(windows.previewWindow.paints, paints);
    p.scrollBar1Scroll(500, true);
    EXPECT_GT(windows.previewWindow.paints, paints);
    p.editzKeyPress("2.5");
    EXPECT_EQ(windows.previewWindow.view.scrollPosition, 758);
    p.editzKeyPress("two");
    EXPECT_EQ(windows.previewWindow.view.editz, "0");
    EXPECT_EQ(windows.previewWindow.view.scrollPosition, 1000);
  };
  app.prvbutClick();
}

TEST_F(PreviewTest, ASliceIsPaintedInItsColoursMirroredWithRowZeroAtTheBottom) {
  prepare();
  windows.previewScript = [&](SlicePreview& p) {
    p.formActivate();
    clock.advance(100);  // Timer1: the first slice, at z = 0 (below the model)
    EXPECT_EQ(windows.previewWindow.view.label2, "10.3");
    EXPECT_EQ(at(187, 187), 0x808080u);
    p.scrollBar1Scroll(500, true);  // z = 5.175 mm
    // The cube covers dots and rows 128 to 246: a red skin of 1 mm (12
    // dots) around the interior.
    EXPECT_EQ(at(187, 187), 0x000000u);
    EXPECT_EQ(at(131, 187), 0xF80000u);
    EXPECT_EQ(at(187, 243), 0xF80000u);
    EXPECT_EQ(at(100, 187), 0x808080u);
    EXPECT_LT(p.screenX(246), p.screenX(128));  // mirrored in x
    EXPECT_LT(p.screenY(246), p.screenY(128));  // and in y
    EXPECT_EQ(p.paintBox().pixel(1, 10) & 0xFFFFFF, 0x808080u);  // the slicing strip is gone
    p.panel1Click(0xFFFFFF);
    EXPECT_EQ(at(100, 187), 0xFFFFFFu);
    windows.previewWindow.colour = 0x123456;
    p.panel4Click();
    EXPECT_EQ(at(100, 187), 0x123456u);
    EXPECT_EQ(windows.previewWindow.view.panel4Rgb, 0x123456u);
    // Coming back from the colour dialog activates the window again; the
    // slice the operator chose stays.
    p.formActivate();
    clock.advance(100);
    EXPECT_EQ(at(187, 187), 0x000000u);
  };
  app.prvbutClick();
}

TEST_F(PreviewTest, AMovieRunsToTheTopUnlessStoppedOrClosed) {
  prepare();
  struct Case {
    int stopAt, closeAt, frames;
  } cases[] = {{0, 0, 100}, {3, 0, 3}, {0, 5, 5}};
  for (const auto& c : cases) {
    windows.previewWindow.pauses = 0;
    windows.previewWindow.onPause = [&] {
      if (windows.previewWindow.pauses == c.stopAt) preview().movieClick();  // "stop"
      if (windows.previewWindow.pauses == c.closeAt) windows.previewWindow.close();
    };
    windows.previewScript = [&](SlicePreview& p) {
      p.movieClick();
      EXPECT_EQ(windows.previewWindow.pauses, c.frames);
      EXPECT_EQ(windows.previewWindow.view.movieCaption, "movie");
      if (c.frames == 100) {
        EXPECT_EQ(windows.previewWindow.view.scrollPosition, 0);
        EXPECT_EQ(windows.previewWindow.view.editz, "10.3");
      }
    };
    app.prvbutClick();
  }
  EXPECT_FALSE(exists(dir / "slices1"));  // frames only with -J
}

TEST_F(PreviewTest, FramesOfTwoPreviewsAreNumberedOn) {
  prepare({"-J"});
  app.state().boxZMicrons = 1000;  // frames at 0, 0.25, ... 1.25 mm
  windows.previewScript = [](SlicePreview& p) { p.movieClick(); };
  app.prvbutClick();
  app.prvbutClick();
  for (int n = 0; n < 6; ++n) EXPECT_TRUE(exists(dir / ("slices1/slice" + std::to_string(n) + ".bmp"))) << n;
  EXPECT_FALSE(exists(dir / "slices1/slice6.bmp"));
  // The second movie goes on from frame 6, which already lies above the
  // model: one frame.
  EXPECT_TRUE(exists(dir / "slices2/slice6.bmp"));
  EXPECT_FALSE(exists(dir / "slices2/slice7.bmp"));
  EXPECT_EQ(windows.previewWindow.closes, 2);  // each movie closes its window
  EXPECT_EQ(windows.previewWindow.pauses, 0);
  const QImage frame(QString::fromStdString(dir / "slices1/slice2.bmp"));
  EXPECT_FALSE(frame.isNull());
}

// The frames of a tall model could fill the disk: the export stops at its
// bound and says so, and the movie ends there.
TEST_F(PreviewTest, TheSliceExportStopsAtTheDiskItMayUse) {
  prepare({"-J"});
  app.state().boxZMicrons = 1000;
  long long limit = 0;
  windows.previewScript = [&](SlicePreview& p) {
    p.movieClick();  // the first movie, unbounded: six frames
    limit = p.exportedBytes;
  };
  app.prvbutClick();
  ASSERT_GT(limit, 0);
  EXPECT_TRUE(exists(dir / "slices1/slice5.bmp"));
  EXPECT_FALSE(ui.logHas("the slice export stops"));
  windows.previewScript = [&](SlicePreview& p) {
    p.exportedBytes = 0;
    p.frameNumber = 0;
    p.exportByteLimit = limit / 3;  // room for two frames of six
    p.movieClick();
    EXPECT_EQ(p.frameNumber, 3);  // ended at the frame that did not fit
  };
  app.prvbutClick();
  EXPECT_TRUE(exists(dir / "slices2/slice1.bmp"));
  EXPECT_FALSE(exists(dir / "slices2/slice2.bmp"));
  EXPECT_TRUE(ui.logHas("the slice export stops at " + (dir / "slices2/slice2.bmp") + ": its frames may take at most"));
}

TEST_F(PreviewTest, AFrameFolderThatCannotBeMadeLeavesTheMovieRunning) {
  prepare({"-J"});
  app.state().boxZMicrons = 1000;
  writeFile(dir / "slices1", "a file, not a folder");
  windows.previewScript = [](SlicePreview& p) {
    p.movieClick();
    EXPECT_TRUE(p.sliceFolder.empty());
    EXPECT_EQ(p.frameNumber, 6);  // the movie reached the top
  };
  app.prvbutClick();
  EXPECT_TRUE(ui.logHas("cannot make the frame folder"));
  EXPECT_FALSE(exists(dir / "slices2"));
}

TEST_F(PreviewTest, WithoutAnOperatorThePreviewDrawsAndCloses) {
  prepare();
  ui.ask = false;
  windows.previewScript = [&](SlicePreview& p) {
    p.formActivate();
    clock.advance(100);
  };
  app.prvbutClick();
  EXPECT_EQ(windows.previewWindow.closes, 1);
  EXPECT_GT(windows.previewWindow.paints, 0);
}

TEST_F(PreviewTest, VolumeAndPriceOfTheCube) {
  prepare();
  windows.previewScript = [](SlicePreview& p) { p.vbuttonClick(); };
  app.prvbutClick();
  // Five layers of 1 cm² at 2 mm: 1 cm³.
  ASSERT_EQ(windows.previewWindow.messages.size(), 1u);
  const double price = 20 + 0.64 * 1.0 + 0.27 * 10.35 + 0.22 * 10 + 0.012 * 10.35 * 10.35;
  EXPECT_EQ(windows.previewWindow.messages[0].rfind("price = 20.00+0.64V+0.22Y+0.27Z+0.012Z\u00b2 = NLG ", 0), 0u);
  const std::string caption = windows.previewWindow.view.vbuttonCaption;
  EXPECT_EQ(caption.substr(caption.size() - 8), "(1.0 CC)");
  EXPECT_NEAR(std::stod(caption.substr(11)), price, 0.02);
  EXPECT_EQ(windows.previewWindow.view.scrollPosition, 1000);
}

namespace {

class EditorTest : public PreviewTest {
 protected:
  TextEditor& editor() { return core.editor(); }
};

}  // namespace

TEST_F(EditorTest, ClosingAsksOnlyAboutUnsavedChanges) {
  writeFile(dir / "notes.txt", "one\r\ntwo\n");
  struct Case {
    std::function<void(TextEditor&)> script;
    int questions;
    bool yes;
    std::string file;
    bool saved;
  } cases[] = {
      {[](TextEditor&) {}, 0, false, "one\r\ntwo\n", false},
      {[](TextEditor& e) { e.memo1Change("one\ntwo\nthree"); }, 1, false, "one\r\ntwo\n", false},
      {[](TextEditor& e) { e.memo1Change("one\ntwo\nthree"); }, 1, true, "one\ntwo\nthree\n", true},
      {[](TextEditor& e) {
         e.memo1Change("a");
         e.saveClick();
       },
       0, false, "a\n", true},
      {[](TextEditor& e) {
         e.memo1Change("a");
         e.saveClick();
         e.memo1Change("ab");
       },
       1, false, "a\n", true},
  };
  for (const auto& c : cases) {
    writeFile(dir / "notes.txt", "one\r\ntwo\n");
    ui.questions.clear();
    ui.yes = c.yes;
    windows.editorScript = [&](TextEditor& e) {
      EXPECT_EQ(windows.editorWindow.caption, "Edit " + (dir / "notes.txt"));
      EXPECT_EQ(windows.editorWindow.text, "one\ntwo");
      c.script(e);
    };
    EXPECT_EQ(core.editTextFile(app, dir / "notes.txt"), c.saved);
    EXPECT_EQ(int(ui.questions.size()), c.questions);
    if (c.questions) {
      EXPECT_EQ(ui.questions[0], "save file");
    }
    EXPECT_EQ(readFile(dir / "notes.txt"), c.file);
    EXPECT_FALSE(editor().editorOpen);
  }
}

TEST_F(EditorTest, AMissingFileOpensEmptyAndAFailedSaveIsTold) {
  windows.editorScript = [&](TextEditor& e) {
    EXPECT_EQ(windows.editorWindow.text, "");
    e.memo1Change("S 2");
    e.saveClick();
  };
  EXPECT_TRUE(core.editTextFile(app, dir / "new.sup"));
  EXPECT_EQ(readFile(dir / "new.sup"), "S 2\n");

  ui.yes = false;
  windows.editorScript = [&](TextEditor& e) {
    e.memo1Change("x");
    e.saveClick();
    EXPECT_TRUE(e.editorChanged);  // still to be saved
  };
  EXPECT_FALSE(core.editTextFile(app, dir / "no/such/folder.sup"));
  EXPECT_TRUE(ui.logHas("cannot write " + (dir / "no/such/folder.sup")));
  EXPECT_EQ(ui.questions.size(), 1u);

  // A pipe named as the file is not read (it would block the window).
  ASSERT_EQ(mkfifo((dir / "pipe.sup").c_str(), 0600), 0);
  windows.editorScript = [&](TextEditor&) { EXPECT_EQ(windows.editorWindow.text, ""); };
  EXPECT_FALSE(core.editTextFile(app, dir / "pipe.sup"));
  EXPECT_TRUE(ui.logHas("cannot read the file " + (dir / "pipe.sup") + ": it is not a regular file"));
}

TEST_F(EditorTest, ASavedSupportFilePreparesTheModelAgain) {
  prepare();
  EXPECT_NEAR(app.state().boxX, 20.0, 1e-4);
  windows.editorScript = [&](TextEditor& e) {
    app.supfileClick();  // a second editor does not open
    e.memo1Change("S 2\n");
    e.saveClick();
  };
  app.supfileClick();
  EXPECT_EQ(readFile(dir / "cube.sup"), "S 2\n");
  EXPECT_NEAR(app.state().boxX, 30.0, 1e-4);  // 20 mm of model from 10 mm on
}
