// Bitmap layers: a picture's spans, the palette it fills, the hand-over with
// an outside renderer (answered here by a thread), and a picture file sliced
// as a one-layer job.
#include "slicer/bitmap_layers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <thread>

#include "fake_slicer_ui.h"
#include "p3d_decode.h"
#include "platform/clock.h"
#include "slicer/colour_model.h"
#include "slicer/command_line.h"
#include "slicer/slicer_core.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

// A picture from rows of letters: w white, R red, B blue, k black.
QImage pictureOf(const std::vector<std::string>& rows) {
  const std::map<char, QRgb> colour = {{'w', qRgb(255, 255, 255)}, {'R', qRgb(255, 0, 0)},
                                       {'B', qRgb(0, 0, 255)},     {'k', qRgb(0, 0, 0)}};
  QImage p(int(rows[0].size()), int(rows.size()), QImage::Format_RGB32);
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) p.setPixel(x, y, colour.at(rows[std::size_t(y)][std::size_t(x)]));
  return p;
}

using Row = std::vector<std::pair<int, int>>;  // (colour index, x end)
Row rowOf(const SpanStore& s, int r) {
  Row out;
  for (const auto& sp : s.row(r)) out.emplace_back(sp.colour, sp.xEnd);
  return out;
}

SpanStore spansOf(const QImage& p, double scale, Palette& palette) {
  SpanStore s;
  s.start(0);
  bitmapLayerSpans(p, scale, palette, s);
  return s;
}

bool exists(const std::string& p) {
  struct stat st {};
  return ::stat(p.c_str(), &st) == 0;
}

}  // namespace

TEST(BitmapSpans, MirroredAndFromTheBottomRowUpAfterTheLeadRows) {
  // The last column and row (black) are never used.
  const QImage p = pictureOf({"wwwwk",  //
                              "wRRwk",  //
                              "wRwwk",  //
                              "kkkkk"});
  Palette palette;
  const SpanStore s = spansOf(p, 1.0, palette);
  ASSERT_EQ(s.rows(), kBitmapLeadRows + 3);
  EXPECT_EQ(rowOf(s, 0), (Row{{0, 5}}));
  for (int r = 1; r < kBitmapLeadRows; ++r) EXPECT_TRUE(rowOf(s, r).empty());
  EXPECT_EQ(rowOf(s, 60), (Row{{0, 2}, {1, 3}}));  // picture row 2: a red pixel at x = 1
  EXPECT_EQ(rowOf(s, 61), (Row{{0, 1}, {1, 3}}));  // picture row 1
  EXPECT_TRUE(rowOf(s, 62).empty());               // row 0: background only
  EXPECT_EQ(palette.count(), 1);
  EXPECT_EQ(palette.colour(1), 0xFC00);
  EXPECT_EQ(bitmapExtent(5, 4, 1.0).rows, s.rows());
}

TEST(BitmapSpans, ScaleThreeOfATenByTenPicture) {
  std::vector<std::string> rows(10, std::string(10, 'w'));
  rows[5][0] = 'R';  // reaches the end of its row
  rows[4][4] = 'B';
  rows[9][0] = 'B';  // the unused row
  Palette palette;
  const SpanStore s = spansOf(pictureOf(rows), 3.0, palette);
  ASSERT_EQ(s.rows(), kBitmapLeadRows + 24);
  int widest = 0;
  for (int r = kBitmapLeadRows; r < s.rows(); ++r)
    for (const auto& sp : s.row(r)) widest = std::max(widest, sp.xEnd);
  EXPECT_EQ(widest, 27);
  EXPECT_EQ(palette.count(), 2);
  const BitmapExtent e = bitmapExtent(10, 10, 3.0);
  EXPECT_EQ(e.dots, 27);
  EXPECT_EQ(e.rows, s.rows());
}

TEST(BitmapSpans, PicturesWithoutRowsAndScalesThatRoundPastTheLastRow) {
  Palette palette;
  for (const QImage& p : {QImage(), pictureOf({"w"}), pictureOf({"wRw"}), pictureOf({"w", "R", "w"})}) {
    const SpanStore s = spansOf(p, 3.0, palette);
    EXPECT_EQ(s.rows(), kBitmapLeadRows);
  }
  // round(5 x 0.3) = 2 rows down from r = 2, whose row 7 lies past row 5.
  const SpanStore s = spansOf(pictureOf(std::vector<std::string>(7, "wRRRRRw")), 0.3, palette);
  EXPECT_EQ(s.rows(), kBitmapLeadRows + 3);
  for (int r = kBitmapLeadRows; r < s.rows(); ++r) EXPECT_FALSE(rowOf(s, r).empty());
}

TEST(BitmapSpans, ColoursBeyondThePaletteTakeTheNearestEntry) {
  // Every 15-bit colour twice, neighbours always different: 32767 colours
  // besides the black background, 16 more than the palette holds.
  QImage p(258, 258, QImage::Format_RGB32);
  for (int y = 0; y < p.height(); ++y)
    for (int x = 0; x < p.width(); ++x) {
      const int c = (y * 256 + x) & 0x7FFF;
      p.setPixel(x, y, qRgb((c >> 10 & 31) << 3, (c >> 5 & 31) << 3, (c & 31) << 3));
    }
  Palette palette;
  const SpanStore s = spansOf(p, 1.0, palette);
  ASSERT_EQ(palette.count(), int(kSupportIndex) - 1);
  const int W = p.width() - 2, H = p.height() - 2;
  int nearest = 0;
  for (int r = kBitmapLeadRows; r < s.rows(); ++r) {
    const int y = H - (r - kBitmapLeadRows);
    int from = 0;
    for (const auto& sp : s.row(r)) {
      for (int dot = from; dot < sp.xEnd; ++dot) {
        const QRgb px = p.pixel(W - dot, y);
        const std::uint16_t c =
            windowToColour(unsigned(qRed(px)) | unsigned(qGreen(px)) << 8 | unsigned(qBlue(px)) << 16);
        if (sp.colour == 0) {
          EXPECT_EQ(c, 0x8000) << r << " " << dot;  // only the background is a gap
        } else if (auto i = palette.find(c)) {
          EXPECT_EQ(sp.colour, *i);
        } else {
          EXPECT_EQ(sp.colour, nearestPaletteIndex(palette, c));
          ++nearest;
        }
        ASSERT_LE(sp.colour, palette.count());
      }
      from = sp.xEnd;
    }
  }
  EXPECT_GT(nearest, 0);
}

namespace {

// The renderer's events belong to this test process alone.
class RendererHandOver : public ::testing::Test {
 protected:
  RendererHandOver() {
    // Test cases run as processes side by side: the pid keeps them apart.
    static const std::string ns = [] {
      const char* n = std::getenv("PRISM_NAMESPACE");
      return std::string(n ? n : "t") + "p" + std::to_string(getpid()) + "_";
    }();
    setenv("PRISM_NAMESPACE", ns.c_str(), 1);
    plat::NamedEvent::remove("bmprequest");
    plat::NamedEvent::remove("bmpready");
  }
  ~RendererHandOver() override {
    if (peer.joinable()) peer.join();
    plat::NamedEvent::remove("bmprequest");
    plat::NamedEvent::remove("bmpready");
  }
  // A renderer on a thread: waits for one request, notes it, answers.
  void answerOnce(bool withPicture) {
    peer = std::thread([this, withPicture] {
      auto request = plat::NamedEvent::open("bmprequest");
      auto ready = plat::NamedEvent::open("bmpready");
      if (request->wait(10000) != plat::NamedEvent::Wait::Signalled) return;
      asked = readFile(dir / "layerdat.txt");
      if (withPicture) pictureOf({"wwww", "wRRw", "wwww"}).save(QString::fromStdString(dir / "layerdat.bmp"), "BMP");
      ready->set();
    });
  }
  LayerRenderer::Wait quickWait() {
    LayerRenderer::Wait w;
    w.stepMs = 20;
    w.aborted = [] { return false; };
    return w;
  }

  ScratchDir dir;
  std::thread peer;
  std::string asked;
};

}  // namespace

TEST_F(RendererHandOver, TheAnswerIsLoadedAndRemoved) {
  answerOnce(true);
  LayerRenderer r;
  QImage pic;
  std::string error;
  EXPECT_EQ(r.request(dir.path(), layerRequestText(1.25), quickWait(), pic, error), LayerRenderer::Answer::Picture)
      << error;
  peer.join();
  EXPECT_EQ(asked, "1.25");
  EXPECT_EQ(pic.width(), 4);
  EXPECT_EQ(pic.pixel(1, 1) & 0xFFFFFF, 0xFF0000u);
  EXPECT_FALSE(exists(dir / "layerdat.bmp"));
}

TEST_F(RendererHandOver, AStaleAnswerFileOrSignalIsNeverTaken) {
  pictureOf({"RRR", "RRR"}).save(QString::fromStdString(dir / "layerdat.bmp"), "BMP");
  plat::NamedEvent::setNamed("bmpready");  // left from an answer nobody took
  answerOnce(false);
  LayerRenderer r;
  QImage pic;
  std::string error;
  EXPECT_EQ(r.request(dir.path(), kMeasureRequest, quickWait(), pic, error), LayerRenderer::Answer::NoPicture);
  peer.join();
  EXPECT_EQ(asked, "-100.0");
  EXPECT_TRUE(pic.isNull());
}

TEST_F(RendererHandOver, WaitingEndsOnAbortAndUnattendedAfterTheLimit) {
  struct Case {
    bool batch;
    int abortAtRun;  // the event run at which the operator aborts
    int runs;        // event runs until the wait ends
    const char* says;
  } cases[] = {
      {false, 8, 8, "waiting for the layer renderer ended (layer 0.50)"},
      {true, 8, 5, "the layer renderer did not answer within 5 s (layer 0.50"},
  };
  for (const auto& c : cases) {
    plat::ManualClock clock;
    FakeUi ui;
    SlicerCore core(1);
    SlicerApp app(clock, ui, core);
    app.state().workFolder = dir.path();
    app.state().modelName = dir / "#aminball.bmp";
    app.state().bmpMode = true;
    app.state().bmpLayerMode = false;
    app.state().batchJob = c.batch;
    core.bitmapInput().waitStepMs = 5;
    core.bitmapInput().unattendedLimitMs = 5000;
    ui.onEvents = [&] {
      clock.advance(1000);
      if (ui.eventRuns == c.abortAtRun) app.state().abortFlag = true;
    };
    SpanStore store;
    EXPECT_FALSE(core.sliceBitmapLayer(app, 0.5f, store));
    EXPECT_EQ(ui.eventRuns, c.runs);
    EXPECT_TRUE(ui.logHas(c.says)) << ui.log.back();
    EXPECT_TRUE(ui.logHas("waiting for the layer renderer (layer 0.50)"));
    EXPECT_EQ(ui.messages.size(), c.batch ? 1u : 0u);
  }
}

TEST(BitmapJob, APictureFileIsOneLayerOfItsSpans) {
  ScratchDir dir;
  std::vector<std::string> rows(10, std::string(10, 'w'));
  for (int y = 1; y <= 2; ++y)
    for (int x = 1; x <= 3; ++x) rows[std::size_t(y)][std::size_t(x)] = 'R';
  ASSERT_TRUE(pictureOf(rows).save(QString::fromStdString(dir / "pic.bmp"), "BMP"));
  plat::ManualClock clock;
  FakeUi ui;
  SlicerCore core(3);
  SlicerApp app(clock, ui, core);
  app.formCreate(
      {"-F" + (dir / "pic.bmp"), "-L100", "-K" + (dir / "pic.p3d"), "-I" + std::to_string(300000 + getpid())},
      dir.path());
  clock.advance(100);
  ASSERT_EQ(app.exitStatus(), kExitOk) << (ui.log.empty() ? "" : ui.log.back());
  EXPECT_EQ(app.model().modelSize, std::int32_t(readFile(dir / "pic.bmp").size()));
  std::vector<RasterPage> pages;
  std::string error;
  const std::string job = readFile(dir / "pic.p3d");
  ASSERT_TRUE(parsePages(job, pages, error)) << error;
  ASSERT_EQ(pages.size(), 1u);
  // Scale 3: source rows 2 and 1 are output rows 77 to 82 (r = 7 down to 2),
  // pixels 3 to 1 from the right end (x = 8) are dots 15 to 23.
  const auto& page = pages[0];
  ASSERT_GE(page.rows.size(), 83u);
  for (std::size_t r = 0; r < page.rows.size(); ++r)
    for (int d = 0; d < 40; ++d) {
      bool ink = false;
      for (const auto& plane : page.rows[r].plane) ink = ink || dot(plane, d);
      EXPECT_EQ(ink, r >= 77 && r <= 82 && d >= 15 && d <= 23) << "row " << r << " dot " << d;
    }
  EXPECT_EQ(job.find_first_not_of("0123456789ABCDEF", job.size() - 10), job.size() - 2);
  plat::NamedEvent::remove(readyEventName(300000 + getpid()));

  // A picture cut short (its last rows missing) is refused, not sliced with
  // rows the reader made up.
  {
    const std::string whole = readFile(dir / "pic.bmp");
    writeFile(dir / "cut.bmp", whole.substr(0, whole.size() - 25));
    FakeUi u;
    SlicerApp cut(clock, u, core);
    cut.formCreate({"-F" + (dir / "cut.bmp"), "-L100", "-K" + (dir / "cut.p3d"),
                    "-I" + std::to_string(300000 + getpid())},
                   dir.path());
    clock.advance(100);
    EXPECT_NE(cut.exitStatus(), kExitOk);
    EXPECT_TRUE(u.logHas("the picture " + (dir / "cut.bmp") + " is cut short")) << (u.log.empty() ? "" : u.log.back());
    plat::NamedEvent::remove(readyEventName(300000 + getpid()));
  }

  // A pipe named as the picture is refused at once, never waited on.
  ASSERT_EQ(mkfifo((dir / "pipe.bmp").c_str(), 0600), 0);
  FakeUi u;
  SlicerApp piped(clock, u, core);
  piped.formCreate({"-F" + (dir / "pipe.bmp"), "-L100", "-K" + (dir / "pipe.p3d"),
                    "-I" + std::to_string(300000 + getpid())},
                   dir.path());
  clock.advance(100);
  EXPECT_NE(piped.exitStatus(), kExitOk);
  EXPECT_TRUE(u.logHas("cannot read the picture " + (dir / "pipe.bmp") + ": it is not a regular file"));
  plat::NamedEvent::remove(readyEventName(300000 + getpid()));
}
