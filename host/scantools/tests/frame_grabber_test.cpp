// The two-camera grabber against the frame server tools/framesrv (framecap)
// as a second process over the real couples, the Grabber timer on the manual
// clock; and the folder commands on a scratch card folder.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <QImage>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "host/core/bitmaps.h"
#include "host/core/testing/core_fixture.h"
#include "host/core/testing/file_text.h"
#include "host/mesh/mesh_tools.h"
#include "host/mesh/testing/fake_mesh_host.h"
#include "host/scantools/capture_tools.h"
#include "platform/format.h"
#include "platform/named_event.h"
#include "platform/named_objects.h"
#include "platform/process.h"
#include "platform/shared_memory.h"

namespace ph {
namespace {

namespace fs = std::filesystem;
using test::readAll;
using test::writeAll;
using Lines = std::vector<std::string>;

TEST(NextNumberedName, CountsTheTrailingDigitsOn) {
  const std::pair<const char*, const char*> cases[] = {
      {"test", "test1"}, {"a7", "a8"},   {"x09", "x10"}, {"IMG0099", "IMG100"}, {"test9", "test10"},
      {"a99", "a100"},   {"7", "71"},    {"", "1"},      {"run000", "run1"},    {"v12345678901234567899", "v12345678901234567900"}};
  for (auto [in, want] : cases) EXPECT_EQ(nextNumberedName(in), want) << in;
}

class GrabberTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Each test process meets only its own server.
    const char* ns = std::getenv("PRISM_NAMESPACE");
    setenv("PRISM_NAMESPACE", plat::format("%sg%d_", ns ? ns : "", int(getpid())).c_str(), 1);
    char pattern[] = "/tmp/grabberXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    f.core.s.file_folder = dir;
    grabber.uiPoster = queue.poster();
    tools.attachMenus(mesh.controls);
  }
  void TearDown() override {
    stopServer();
    for (auto& c : {FrameGrabber::A, FrameGrabber::B})
      if (grabber.couple(c)) grabber.couple(c)->Close();
    if (grabber.startedProgram() > 0) {
      kill(grabber.startedProgram(), SIGTERM);
      plat::waitProcess(grabber.startedProgram(), 10000);
    }
    for (const char* n : {"fg_grab_event", "fg_bmp_ready_event", "fk_grab_event", "fk_bmp_ready_event"})
      plat::NamedEvent::remove(n);
    for (const char* n : {"fg_shared_mem", "fk_shared_mem"}) plat::SharedMemory::remove(n);
    ::unlink((plat::runtimeDir() + plat::posixObjectName("framecap1") + ".lock").c_str());
    fs::remove_all(dir);
  }

  // Starts framecap and waits for its "ready".
  void startServer(std::vector<std::string> args) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    args.insert(args.begin(), FRAMECAP);
    args.push_back("--idle-exit");
    args.push_back("60");
    const plat::SpawnResult r = plat::spawnProcess(args, fds[1]);
    close(fds[1]);
    ASSERT_GT(r.pid, 0);
    server = r.pid;
    std::string out;
    pollfd p{fds[0], POLLIN, 0};
    while (out.find("ready\n") == std::string::npos && poll(&p, 1, 10000) > 0) {
      char buf[256];
      const ssize_t n = read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      out.append(buf, std::size_t(n));
    }
    close(fds[0]);
    ASSERT_NE(out.find("ready\n"), std::string::npos) << out;
  }
  void stopServer() {
    if (server <= 0) return;
    kill(server, SIGTERM);
    EXPECT_EQ(plat::waitProcess(server, 10000), 0);
    server = -1;
  }

  // Runs the user-interface queue until `done` or the time-out.
  bool pumpUntil(const std::function<bool()>& done, int timeoutMs = 10000) {
    for (int waited = 0; !done(); waited += 20) {
      if (waited >= timeoutMs) return false;
      queue.waitAndRun(20);
    }
    return true;
  }
  // One Grabber tick and the frame it asked for.
  void tickForFrame() {
    const int want = grabber.framesReceived() + 1;
    f.clock.advance(grabber.grabinterval);
    ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == want; }));
  }
  // Keys typed on "abort", with the answers to the prompts they bring.
  void type(char key, std::vector<std::string> answers = {}) {
    for (auto& a : answers) f.ui.inputs.push_back(a);
    EXPECT_TRUE(tools.takeButtonKey("Button4", key));
  }
  Lines logWith(const std::string& part) const {
    Lines out;
    for (const std::string& l : f.core.Memo1.lines())
      if (l.find(part) != std::string::npos) out.push_back(l);
    return out;
  }
  std::string folder() const { return dir + "/capture/" + grabber.foldername; }

  CoreFixture f;
  FakeMeshHost host;
  MeshTools mesh{f.core, host};
  CaptureTools tools{f.core, mesh};
  FrameGrabber& grabber = tools.grabber;
  plat::PostQueue queue;
  std::string dir;
  pid_t server = -1;
};

// The synthetic scene as tools/framesrv/README.md gives it, picture row y
// from the top; camera 0 is A.
int sceneColour(int camera, int n, int x, int y) {
  const int v = (x + 2 * y + 16 * n) & 255;
  return camera == 0 ? 128 | (255 - v) << 8 | v << 16 : (255 - v) | v << 8 | 128 << 16;
}

// A frame of the scene in the shared memory's layout (bottom row first).
std::vector<unsigned char> sceneFrame(int camera, int n) {
  std::vector<unsigned char> f(GrabFrame::kBytes);
  for (int r = 0; r < 480; ++r)
    for (int x = 0; x < 640; ++x) {
      const int c = sceneColour(camera, n, x, 479 - r);
      unsigned char* d = f.data() + std::size_t(r) * 1920 + std::size_t(x) * 3;
      d[0] = static_cast<unsigned char>(c >> 16);
      d[1] = static_cast<unsigned char>(c >> 8);
      d[2] = static_cast<unsigned char>(c);
    }
  return f;
}

// The change sum of a frame against another one (or zeros: n < 0): bytes
// i x 307 + c of both, for 1000 samples of three bytes.
int changeSum(int camera, int n, int before) {
  const auto a = sceneFrame(camera, n);
  const auto b = before < 0 ? std::vector<unsigned char>(a.size()) : sceneFrame(camera, before);
  int sum = 0;
  for (std::size_t i = 0; i < 1000; ++i)
    for (std::size_t c = 0; c < 3; ++c) sum += std::abs(int(a[i * 307 + c]) - int(b[i * 307 + c]));
  return sum;
}

// Mean difference per channel of a saved frame from the scene's frame.
double meanDifference(const std::string& file, int camera, int n) {
  QImage p;
  if (!loadPicture(p, file) || p.width() != 640 || p.height() != 480) return 1e9;
  double sum = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const int a = pixelAt(p, x, y), b = sceneColour(camera, n, x, y);
      for (int s : {0, 8, 16}) sum += std::abs((a >> s & 255) - (b >> s & 255));
    }
  return sum / (640.0 * 480.0 * 3.0);
}

TEST_F(GrabberTest, ChangingSceneSavesNumberedFramesOfBothCamerasInTurn) {
  const std::string stlInput = mesh.stlInputName;
  startServer({});
  mesh.controls.at("Button2").click();  // "ringcapture"
  EXPECT_EQ(grabber.startedProgram(), -1);  // one runs already
  type('o');
  EXPECT_TRUE(grabber.grabberTimer().running());
  for (int i = 0; i < 6; ++i) tickForFrame();
  Lines want;
  for (int n = 0; n < 3; ++n)
    for (int cam = 0; cam < 2; ++cam)
      want.push_back(plat::format("(%d 1)...test/%c%d.jpg", changeSum(cam, n, n - 1) / 1000, cam ? 'B' : 'A', n + 1));
  EXPECT_EQ(logWith("..."), want);
  for (int n = 0; n < 3; ++n)
    for (int cam = 0; cam < 2; ++cam) {
      const std::string file = folder() + plat::format("/%c%d.jpg", cam ? 'B' : 'A', n + 1);
      EXPECT_LT(meanDifference(file, cam, n), 6.0) << file;  // upright, colours in place, the right frame
    }
  EXPECT_EQ(grabber.frameNumber, (std::array<int, 2>{4, 4}));
  EXPECT_EQ(grabber.lastSaved(), folder() + "/B3.jpg");
  // A frame is no model: the wrapping tool's input stays as it was.
  EXPECT_EQ(mesh.stlInputName, stlInput);
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder())) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (Lines{"A1.jpg", "A2.jpg", "A3.jpg", "B1.jpg", "B2.jpg", "B3.jpg"}));
  type('z');
  EXPECT_FALSE(grabber.grabberTimer().running());
}

// Mean difference per channel of a saved frame from a picture given by its
// colour at each place.
double meanDifferenceFrom(const std::string& file, const std::function<int(int, int)>& colour) {
  QImage p;
  if (!loadPicture(p, file) || p.width() != 640 || p.height() != 480) return 1e9;
  double sum = 0;
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const int a = pixelAt(p, x, y), b = colour(x, y);
      for (int s : {0, 8, 16}) sum += std::abs((a >> s & 255) - (b >> s & 255));
    }
  return sum / (640.0 * 480.0 * 3.0);
}

// Colour values are red | green << 8 | blue << 16.
int ppmColour(int x, int y) { return (x / 3) | (y / 2) << 8 | 50 << 16; }
int bmpColour(int x, int y) { return x < 320 && y < 240 ? (y) | (x / 2) << 8 | 200 << 16 : 0; }

void writePpm(const std::string& name) {
  std::string b = "P6\n# a test picture\n640 480\n255\n";
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) {
      const int c = ppmColour(x, y);
      b += char(c & 255);
      b += char(c >> 8 & 255);
      b += char(c >> 16 & 255);
    }
  writeAll(name, b);
}

// A 320 x 240 BMP of 24 bits, bottom row first, rows padded to 4 bytes.
void writeBmp(const std::string& name) {
  const int w = 320, h = 240, stride = (w * 3 + 3) / 4 * 4;
  std::string b(54 + std::size_t(stride * h), '\0');
  auto put32 = [&](std::size_t at, unsigned v) {
    for (int i = 0; i < 4; ++i) b[at + std::size_t(i)] = char(v >> (8 * i) & 255);
  };
  b[0] = 'B', b[1] = 'M';
  put32(2, unsigned(b.size()));
  put32(10, 54);
  put32(14, 40);
  put32(18, w);
  put32(22, h);
  b[26] = 1;
  b[28] = 24;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int c = bmpColour(x, y);
      const std::size_t at = 54 + std::size_t((h - 1 - y) * stride + x * 3);
      b[at] = char(c >> 16 & 255);
      b[at + 1] = char(c >> 8 & 255);
      b[at + 2] = char(c & 255);
    }
  writeAll(name, b);
}

TEST_F(GrabberTest, PicturesFromAFolderArriveAsTheyWere) {
  fs::create_directories(dir + "/pictures");
  writePpm(dir + "/pictures/p1.ppm");
  writeBmp(dir + "/pictures/p2.bmp");
  writeAll(dir + "/pictures/notes.txt", "no picture");
  startServer({"--folder", dir + "/pictures"});
  mesh.controls.at("Button2").click();
  type('o');
  for (int i = 0; i < 4; ++i) tickForFrame();
  // Each camera steps through the pictures in name order.
  for (const char* file : {"A1.jpg", "B1.jpg"}) EXPECT_LT(meanDifferenceFrom(folder() + "/" + file, ppmColour), 4.0) << file;
  for (const char* file : {"A2.jpg", "B2.jpg"}) EXPECT_LT(meanDifferenceFrom(folder() + "/" + file, bmpColour), 4.0) << file;
}

TEST_F(GrabberTest, StillSceneSavesOnlyTheFirstFrameOfEachCamera) {
  startServer({"--still"});
  mesh.controls.at("Button2").click();
  type('o');
  for (int i = 0; i < 8; ++i) tickForFrame();
  EXPECT_EQ(logWith("..."), (Lines{plat::format("(%d 1)...test/A1.jpg", changeSum(0, 0, -1) / 1000),
                                   plat::format("(%d 1)...test/B1.jpg", changeSum(1, 0, -1) / 1000)}));
  EXPECT_EQ(grabber.framesSinceSave, 6);
  EXPECT_EQ(grabber.frameNumber, (std::array<int, 2>{2, 2}));
}

TEST_F(GrabberTest, TheChangeThresholdDecides) {
  startServer({});
  mesh.controls.at("Button2").click();
  // A frame is saved only when its sum is above the threshold.
  const int first = changeSum(0, 0, -1), second = changeSum(0, 1, 0), third = changeSum(0, 2, 1);
  type('g', {std::to_string(first)});
  EXPECT_EQ(grabber.distsumgrens, first);
  type('s');
  ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == 1; }));
  EXPECT_TRUE(logWith("...").empty());
  type('g', {std::to_string(second - 1)});
  type('s');
  ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == 2; }));
  EXPECT_EQ(logWith("..."), Lines{plat::format("(%d 2)...test/A1.jpg", second / 1000)});
  type('g', {std::to_string(third)});
  type('s');
  ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == 3; }));
  EXPECT_EQ(logWith("...").size(), 1u);
  // A value that is no number is told and changes nothing.
  type('g', {"lots"});
  EXPECT_EQ(grabber.distsumgrens, third);
  EXPECT_EQ(logWith("distsumgrens").size(), 1u);
}

TEST_F(GrabberTest, IntervalKeyStopsTheGrabberAndSetsItsInterval) {
  type('o');
  EXPECT_TRUE(grabber.grabberTimer().running());
  type('i', {"250"});
  EXPECT_FALSE(grabber.grabberTimer().running());
  EXPECT_EQ(grabber.grabberTimer().interval(), 250);
  EXPECT_EQ(f.ui.prompts, Lines{"grabinterval"});
  type('o');
  type('o');
  EXPECT_FALSE(grabber.grabberTimer().running());
  EXPECT_TRUE(tools.takeButtonKey("Button2", 'q'));  // every key is taken
  EXPECT_FALSE(tools.takeButtonKey("Button1", 'o'));
}

TEST_F(GrabberTest, SharedMemorySmallerThanAFrameIsSkippedAndToldOnce) {
  startServer({"--size", "1000"});
  mesh.controls.at("Button2").click();
  ASSERT_EQ(grabber.couple(FrameGrabber::A)->viewSize(), 1000u);
  type('o');
  for (int i = 0; i < 6; ++i) tickForFrame();
  EXPECT_TRUE(logWith("...").empty());
  EXPECT_EQ(logWith("skipped"),
            (Lines{"grabber: fg_shared_mem holds 1000 bytes, a frame needs 921641: frames of camera A skipped",
                   "grabber: fk_shared_mem holds 1000 bytes, a frame needs 921641: frames of camera B skipped"}));
  EXPECT_FALSE(fs::exists(folder()));
}

TEST_F(GrabberTest, AServerThatStopsLeavesTheGrabberIdleWithOneLine) {
  startServer({});
  mesh.controls.at("Button2").click();
  type('o');
  tickForFrame();
  tickForFrame();
  stopServer();
  // Ticks go on without blocking; no frame comes.
  for (int i = 0; i < 8; ++i) {
    f.clock.advance(grabber.grabinterval);
    queue.waitAndRun(30);
  }
  EXPECT_EQ(grabber.framesReceived(), 2);
  EXPECT_EQ(logWith("no frame"), Lines{"grabber: no frame from camera A: is the frame-capture program running?"});
  // A server started again serves the same couples: it answers the requests
  // left unanswered with its first frames, the ones seen before the stop,
  // which are not saved; its second ones are, numbered on.
  startServer({});
  ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == 4; }));
  EXPECT_EQ(grabber.frameNumber, (std::array<int, 2>{2, 2}));
  tickForFrame();
  tickForFrame();
  EXPECT_EQ(grabber.frameNumber, (std::array<int, 2>{3, 3}));
  EXPECT_TRUE(fs::exists(folder() + "/A2.jpg"));
  EXPECT_TRUE(fs::exists(folder() + "/B2.jpg"));
  EXPECT_EQ(logWith("no frame").size(), 1u);
}

TEST_F(GrabberTest, WithoutCouplesTheGrabberSaysSoOnce) {
  type('o');
  for (int i = 0; i < 4; ++i) f.clock.advance(grabber.grabinterval);
  type('s');
  EXPECT_EQ(logWith("not open"), Lines{"grabber: the grab couples are not open (ringcapture)"});
}

TEST_F(GrabberTest, RingcaptureStartsTheProgramOnlyWhenNoneRuns) {
  grabber.framecapCommand = {FRAMECAP, "--idle-exit", "60"};
  mesh.controls.at("Button2").click();
  const pid_t started = grabber.startedProgram();
  ASSERT_GT(started, 0);
  type('s');
  ASSERT_TRUE(pumpUntil([&] { return grabber.framesReceived() == 1; }));
  EXPECT_EQ(logWith("..."), Lines{plat::format("(%d 1)...test/A1.jpg", changeSum(0, 0, -1) / 1000)});
  mesh.controls.at("Button2").click();
  EXPECT_EQ(grabber.startedProgram(), started);
  EXPECT_TRUE(plat::processRunning(started));

  grabber.framecapCommand = {dir + "/no-such-program"};
  kill(started, SIGTERM);
  plat::waitProcess(started, 10000);
  mesh.controls.at("Button2").click();
  EXPECT_EQ(logWith("cannot start").size(), 1u);
}

// ---- folder commands ----

void makePhotos(const std::string& card, std::initializer_list<std::string> names) {
  fs::create_directories(card);
  for (const std::string& n : names) writeAll(card + "/" + n, "photo " + n);
}

TEST_F(GrabberTest, CardPhotosMoveIntoNumberedCaptureFolders) {
  const std::string card = dir + "/card/DCIM/100OLYMP";
  fs::create_directories(dir + "/capture/test");
  fs::create_directories(dir + "/capture/test1");
  type('d', {dir + "/card"});
  EXPECT_EQ(grabber.cardfolder, dir + "/card");
  // No card folder yet: nothing moves.
  type('1');
  EXPECT_EQ(logWith("no card folder"), Lines{"no card folder " + card});
  EXPECT_FALSE(fs::exists(dir + "/capture/test2"));

  makePhotos(card, {"P2.JPG", "P1.JPG", "P3.ORF"});
  type('1');
  EXPECT_EQ(grabber.foldername, "test2");
  EXPECT_EQ(readAll(folder() + "/A1.jpg"), "photo P1.JPG");
  EXPECT_EQ(readAll(folder() + "/A2.jpg"), "photo P2.JPG");
  EXPECT_EQ(readAll(folder() + "/A3.orf"), "photo P3.ORF");
  EXPECT_TRUE(fs::is_empty(card));
  EXPECT_EQ(logWith("copied to"), Lines{"copied to test2"});

  makePhotos(card, {"P4.JPG", "P5.JPG"});
  type('2');
  makePhotos(card, {"P6.JPG", "P7.JPG"});
  type('2');
  // The second card's photos go on after the first's.
  EXPECT_EQ(readAll(folder() + "/B1.jpg"), "photo P4.JPG");
  EXPECT_EQ(readAll(folder() + "/B2.jpg"), "photo P5.JPG");
  EXPECT_EQ(readAll(folder() + "/B3.jpg"), "photo P6.JPG");
  EXPECT_EQ(readAll(folder() + "/B4.jpg"), "photo P7.JPG");
  EXPECT_TRUE(fs::is_empty(card));

  // A photo that cannot be copied stays on the card.
  fs::create_directories(folder() + "/B5.jpg.part");
  makePhotos(card, {"P8.JPG"});
  type('2');
  EXPECT_EQ(readAll(card + "/P8.JPG"), "photo P8.JPG");
  EXPECT_FALSE(fs::exists(folder() + "/B5.jpg"));
  EXPECT_EQ(logWith("stays on the card"), Lines{"could not copy " + card + "/P8.JPG: it stays on the card"});
  EXPECT_TRUE(fs::is_directory(folder() + "/B5.jpg.part"));

  // "f" makes the next folder and starts the frame numbers again.
  grabber.frameNumber = {7, 9};
  type('f', {"test"});
  EXPECT_EQ(grabber.foldername, "test3");
  EXPECT_TRUE(fs::is_directory(folder()));
  EXPECT_EQ(grabber.frameNumber, (std::array<int, 2>{1, 1}));
  // Into a capture folder that is not there: told, nothing moves.
  type('n', {"gone"});
  type('2');
  EXPECT_EQ(logWith("no folder"), Lines{"no folder " + dir + "/capture/gone"});
  EXPECT_TRUE(fs::exists(card + "/P8.JPG"));
}

TEST_F(GrabberTest, BatchFilesAreCopiedAndTheLargestNeighbouringFramesPicked) {
  const std::string root = dir + "/capture";
  fs::create_directories(root + "/test");
  writeAll(root + "/splitava.bat", "a");
  writeAll(root + "/splitavb.bat", "bb");
  writeAll(root + "/test/splitava.bat", "old");
  type('b');
  EXPECT_EQ(readAll(root + "/test/splitava.bat"), "a");
  EXPECT_EQ(readAll(root + "/test/splitavb.bat"), "bb");

  const std::pair<const char*, int> frames[] = {
      {"A-00028.jpg", 10}, {"A-00030.jpg", 30}, {"A-00032.jpg", 30},  // k = 30: the first of the largest
      {"A-00033.jpg", 5},                                             // k = 35, alone
      {"B-00287.jpg", 7},  {"B-00290.jpg", 99},                       // k = 285; 290 is no group's
      {"B-00027.jpg", 99}};                                           // below the first group
  for (auto [name, size] : frames) writeAll(root + "/test/" + name, std::string(std::size_t(size), 'x'));
  type('v');
  std::vector<std::string> picked;
  for (const auto& e : fs::directory_iterator(root + "/pick")) picked.push_back(e.path().filename().string());
  std::sort(picked.begin(), picked.end());
  EXPECT_EQ(picked, (Lines{"A-00030.jpg", "A-00033.jpg", "B-00287.jpg"}));
  EXPECT_EQ(readAll(root + "/pick/A-00030.jpg"), std::string(30, 'x'));
}

}  // namespace
}  // namespace ph
