// The real program: instance numbers across processes, and a clean close on
// a termination request that appends the log.
#include "host/core/testing/file_text.h"
#include <QColor>
#include <QImage>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

#include "platform/named_objects.h"
#include "platform/process.h"

using ph::test::readAll;

namespace {
// Whether some process holds an flock on the file, read from /proc/locks so
// that looking does not take the lock itself.
bool flockHeld(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return false;
  std::ifstream locks("/proc/locks");
  const std::string inode = ":" + std::to_string(st.st_ino) + " ";
  for (std::string line; std::getline(locks, line);)
    if (line.find("FLOCK") != std::string::npos && line.find(inode) != std::string::npos) return true;
  return false;
}

std::string lockFile(int n) {
  return plat::runtimeDir() + plat::posixObjectName("prismhost489358654" + std::to_string(n)) + ".lock";
}

// Waits (bounded) until instance numbers 1 and 2 are held.
bool waitUntilTwoHeld() {
  for (int i = 0; i < 1000; ++i) {
    if (flockHeld(lockFile(1)) && flockHeld(lockFile(2))) return !flockHeld(lockFile(3));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}
}  // namespace

TEST(PrismhostProcess, TwoCopiesTakeNumbersOneAndTwoAndCloseCleanly) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phproc-" + std::to_string(getpid()));
  fs::create_directories(dir / "a");
  fs::create_directories(dir / "b");
  setenv("PRISM_NAMESPACE", ("p" + std::to_string(getpid()) + "_").c_str(), 1);
  // Copies an operator works with: Qt's "minimal" platform stands in for a
  // display (without one, a program given no work ends at once).
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string keptPlatform = platform ? platform : "";
  setenv("DISPLAY", ":99", 1);
  setenv("QT_QPA_PLATFORM", "minimal", 1);
  const fs::path old = fs::current_path();
  fs::current_path(dir / "a");
  auto a = plat::spawnProcess({PRISMHOST_BIN, "-?"});
  fs::current_path(dir / "b");
  auto b = plat::spawnProcess({PRISMHOST_BIN});
  fs::current_path(old);
  unsetenv("DISPLAY");
  if (platform) setenv("QT_QPA_PLATFORM", keptPlatform.c_str(), 1);
  else unsetenv("QT_QPA_PLATFORM");
  ASSERT_GT(a.pid, 0);
  ASSERT_GT(b.pid, 0);
  EXPECT_TRUE(waitUntilTwoHeld());
  kill(a.pid, SIGTERM);
  kill(b.pid, SIGTERM);
  EXPECT_EQ(plat::waitProcess(a.pid, 30000), 0);
  EXPECT_EQ(plat::waitProcess(b.pid, 30000), 0);
  const std::string log = readAll((dir / "a" / "prismhost.log").string());
  EXPECT_EQ(log.rfind("log file:\r\n", 0), 0u);
  EXPECT_NE(log.find(" close "), std::string::npos);
  fs::remove_all(dir);
}

TEST(PrismhostProcess, ConvertOnlyRunSlicesConvertsClosesAndReusesTheJob) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phconv-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/slicer/20mm-xyz-cube.stl", dir / "cube.stl");
  setenv("PRISM_NAMESPACE", ("c" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  auto run = [&] {
    auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "cube.stl", "-V"});
    EXPECT_GT(p.pid, 0);
    EXPECT_EQ(plat::waitProcess(p.pid, 120000), 0);
    const std::string log = readAll("prismhost.log");
    fs::remove("prismhost.log");
    return log;
  };
  const std::string first = run();
  const std::string second = run();
  fs::current_path(old);

  // The slicer ran, the job was converted and judged, the program closed.
  EXPECT_NE(first.find("exe: "), std::string::npos);
  EXPECT_NE(first.find(".p3d file ready"), std::string::npos);
  EXPECT_NE(first.find("build time"), std::string::npos);
  EXPECT_NE(first.find(".dmc created"), std::string::npos);
  EXPECT_NE(first.find(" close "), std::string::npos);
  EXPECT_GT(fs::file_size(dir / "temp.dmc"), 1000u);
  // Unchanged model and settings: the job is reused, no slicer started.
  EXPECT_EQ(second.find("exe: "), std::string::npos);
  EXPECT_NE(second.find(".dmc created"), std::string::npos);
  fs::remove_all(dir);
}

TEST(PrismhostProcess, AJobGivenAsTheModelIsUsedInPlaceAndConverted) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phjob-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/slicer/20mm-xyz-cube.stl", dir / "cube.stl");
  setenv("PRISM_NAMESPACE", ("j" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  auto slice = plat::spawnProcess({LAYERTINT_BIN, "-F" + (dir / "cube.stl").string(), "-L250", "-W64", "-S64",
                                   "-C50", "-D1000", "-K" + (dir / "cube.p3d").string(), "-E25368", "-I9"});
  ASSERT_GT(slice.pid, 0);
  ASSERT_EQ(plat::waitProcess(slice.pid, 60000), 0);
  const std::string job = readAll((dir / "cube.p3d").string());
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "cube.p3d", "-V"});
  ASSERT_GT(p.pid, 0);
  EXPECT_EQ(plat::waitProcess(p.pid, 60000), 0);
  const std::string log = readAll("prismhost.log");
  fs::current_path(old);
  EXPECT_NE(log.find("exe: "), std::string::npos);
  EXPECT_NE(log.find(".dmc created"), std::string::npos);
  EXPECT_EQ(readAll((dir / "cube.p3d").string()), job);  // the job as it was
  fs::remove_all(dir);
}

TEST(PrismhostProcess, ConvertOnlyRunOfATexturedObjConvertsItToColouredStlFirst) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phobj-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // A 20 mm cube, each face mapped onto the whole of a red and blue picture.
  QImage tex(32, 32, QImage::Format_ARGB32);
  tex.fill(QColor(255, 0, 0));
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) tex.setPixelColor(x, y, QColor(0, 0, 255));
  ASSERT_TRUE(tex.save(QString::fromStdString((dir / "skin.png").string()), "PNG"));
  std::ofstream(dir / "cube.mtl") << "newmtl skin\nKd 1 1 1\nmap_Kd skin.png\n";
  std::ofstream obj(dir / "cube.obj");
  obj << "mtllib cube.mtl\nusemtl skin\n";
  for (int i = 0; i < 8; ++i) obj << "v " << (i & 1) * 20 << ' ' << (i >> 1 & 1) * 20 << ' ' << (i >> 2 & 1) * 20 << '\n';
  obj << "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n";
  for (const char* f : {"1/1 3/2 4/3 2/4", "5/1 6/2 8/3 7/4", "1/1 2/2 6/3 5/4", "3/1 7/2 8/3 4/4", "1/1 5/2 7/3 3/4",
                        "2/1 4/2 8/3 6/4"})
    obj << "f " << f << '\n';
  obj.close();
  setenv("PRISM_NAMESPACE", ("o" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "cube.obj", "-V"});
  ASSERT_GT(p.pid, 0);
  EXPECT_EQ(plat::waitProcess(p.pid, 120000), 0);
  const std::string log = readAll("prismhost.log");
  fs::current_path(old);

  EXPECT_NE(log.find("converted to stl with"), std::string::npos);
  EXPECT_NE(log.find("exe: "), std::string::npos);
  EXPECT_NE(log.find(".dmc created"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir / "convertedobj.stl"));
  // The PNG is read as it is: no converted copy beside the model.
  EXPECT_FALSE(fs::exists(dir / "convertedpng000.jpg"));
  // Both colours of the picture reached the facets.
  const std::string stl = readAll((dir / "convertedobj.stl").string());
  ASSERT_GT(stl.size(), 84u);
  bool red = false, blue = false;
  for (std::size_t at = 84; at + 50 <= stl.size(); at += 50) {
    const unsigned a = static_cast<unsigned char>(stl[at + 48]) | static_cast<unsigned char>(stl[at + 49]) << 8;
    EXPECT_TRUE(a & 0x8000);
    red = red || (a >> 10 & 31) > 28;
    blue = blue || (a & 31) > 28;
  }
  EXPECT_TRUE(red);
  EXPECT_TRUE(blue);
  fs::remove_all(dir);
}

TEST(PrismhostProcess, AnUnattendedRunThatCannotGoOnEndsWithStatusOne) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phfail-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/slicer/20mm-xyz-cube.stl", dir / "cube.stl");
  setenv("PRISM_NAMESPACE", ("f" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  struct Case {
    std::vector<std::string> args;
    const char* logged;
  };
  const Case cases[] = {
      {{PRISMHOST_BIN, "-F", "missing.stl", "-V"}, "unattended run failed: no job for missing.stl"},
      // A 20 mm cube in a machine 5 mm high.
      {{PRISMHOST_BIN, "-I", "?MarlinMaxZ=5", "-F", "cube.stl", "-V"},
       "unattended run failed: model does not fit in machine"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.logged);
    auto p = plat::spawnProcess(c.args);
    ASSERT_GT(p.pid, 0);
    EXPECT_EQ(plat::waitProcess(p.pid, 60000), 1);
    EXPECT_NE(readAll("prismhost.log").find(c.logged), std::string::npos);
    fs::remove("prismhost.log");
  }
  // With a display, the message about the .dmc that cannot be written
  // must not wait for a click either (Qt's "minimal" platform stands in for
  // a display).
  fs::create_directories("temp.dmc.part/in the way");
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  const std::string keptPlatform = platform ? platform : "";
  setenv("DISPLAY", ":99", 1);
  setenv("QT_QPA_PLATFORM", "minimal", 1);
  auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "cube.stl", "-V"});
  unsetenv("DISPLAY");
  if (platform) setenv("QT_QPA_PLATFORM", keptPlatform.c_str(), 1);
  else unsetenv("QT_QPA_PLATFORM");
  ASSERT_GT(p.pid, 0);
  const auto status = plat::waitProcess(p.pid, 60000);
  if (!status) {
    kill(p.pid, SIGKILL);
    plat::waitProcess(p.pid, -1);
  }
  EXPECT_EQ(status, 1);
  EXPECT_NE(readAll("prismhost.log").find("unattended run failed: the conversion failed"), std::string::npos);
  fs::current_path(old);
  fs::remove_all(dir);
}

TEST(PrismhostProcess, ATerminationRequestEndsARunWaitingForTheSlicer) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phterm-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/slicer/20mm-xyz-cube.stl", dir / "cube.stl");
  // A slicer that takes its time, and says where it runs.
  const fs::path slicer = dir / "slow slicer";
  {
    std::ofstream f(slicer);
    f << "#!/bin/sh\necho $$ > \"" << (dir / "slicer.pid").string() << ".tmp\"\n"
      << "mv \"" << (dir / "slicer.pid").string() << ".tmp\" \"" << (dir / "slicer.pid").string() << "\"\n"
      << "exec sleep 60\n";
  }
  fs::permissions(slicer, fs::perms::owner_all);
  setenv("PRISM_NAMESPACE", ("t" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  auto p = plat::spawnProcess(
      {PRISMHOST_BIN, "-I", "?queryIniSave=true slicer_exe='" + slicer.string() + "'", "-F", "cube.stl", "-V"});
  ASSERT_GT(p.pid, 0);
  for (int i = 0; i < 1000 && !fs::exists(dir / "slicer.pid"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::exists(dir / "slicer.pid"));
  const pid_t slicerPid = std::stoi(readAll((dir / "slicer.pid").string()));
  kill(p.pid, SIGTERM);
  // Ended promptly, as a run that was not done.
  EXPECT_EQ(plat::waitProcess(p.pid, 10000), 1);
  const std::string log = readAll("prismhost.log");
  fs::current_path(old);
  EXPECT_NE(log.find("termination request (signal 15): closing without asking"), std::string::npos);
  EXPECT_NE(log.find("slicer stopped: the program ends"), std::string::npos);
  EXPECT_NE(log.find("unattended run failed: ended by a termination request"), std::string::npos);
  EXPECT_NE(log.find(" close "), std::string::npos);
  EXPECT_NE(kill(slicerPid, 0), 0);  // the slicer went with it
  fs::remove_all(dir);
}

// A termination request while a textured face is scanned, a long step that
// lets no events run, is noticed in the scan: the run ends as not done, the
// log says why and no STL is left. (Before, the watch thread cut the
// program off with status 143 and left the STL as far as it got.)
TEST(PrismhostProcess, ATerminationRequestDuringTheTextureScanEndsTheRunWithoutAnStl) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phscan-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  // A picture of one colour, so that no face splits and each scans as many
  // texels as it may: faces that wrap it twenty times each way.
  QImage tex(1024, 1024, QImage::Format_RGB32);
  tex.fill(QColor(200, 40, 40));
  ASSERT_TRUE(tex.save(QString::fromStdString((dir / "plain.png").string()), "PNG"));
  std::ofstream(dir / "wrap.mtl") << "newmtl skin\nmap_Kd plain.png\n";
  {
    std::ofstream obj(dir / "wrap.obj");
    obj << "mtllib wrap.mtl\nusemtl skin\nvt 0 0\nvt 20 0\nvt 0 20\n";
    for (int i = 0; i < 200; ++i)
      obj << "v " << i << " 0 0\nv " << i + 1 << " 0 0\nv " << i << " 1 1\nf " << 3 * i + 1 << "/1 " << 3 * i + 2
          << "/2 " << 3 * i + 3 << "/3\n";
  }
  setenv("PRISM_NAMESPACE", ("s" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "wrap.obj", "-T"});
  ASSERT_GT(p.pid, 0);
  // The STL is begun (under its temporary name, renamed when whole) when the
  // faces start to be scanned and written.
  const auto begun = [&] { return fs::exists(dir / "convertedobj.stl") || fs::exists(dir / "convertedobj.stl.part"); };
  for (int i = 0; i < 6000 && !begun(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const bool scanning = begun();
  kill(p.pid, SIGTERM);
  const auto status = plat::waitProcess(p.pid, 20000);
  if (!status) {
    kill(p.pid, SIGKILL);
    plat::waitProcess(p.pid, -1);
  }
  const std::string log = readAll("prismhost.log");
  fs::current_path(old);
  ASSERT_TRUE(scanning);
  EXPECT_EQ(status, 1);
  EXPECT_NE(log.find("stopped by a termination request (signal 15)"), std::string::npos) << log;
  EXPECT_NE(log.find("unattended run failed"), std::string::npos) << log;
  EXPECT_NE(log.find(" close "), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(dir / "convertedobj.stl"));
  EXPECT_FALSE(fs::exists(dir / "convertedobj.stl.part"));
  fs::remove_all(dir);
}

namespace {
// Runs prismhost without a display in `dir`; its status (nothing when it
// did not end within `ms`) and what it wrote.
std::optional<int> runWithoutDisplay(const std::vector<std::string>& args, const std::string& dir, std::string& output,
                                     int ms = 20000) {
  namespace fs = std::filesystem;
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const std::string out = dir + "/output.txt";
  const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  std::vector<std::string> argv{PRISMHOST_BIN};
  argv.insert(argv.end(), args.begin(), args.end());
  auto p = plat::spawnProcess(argv, fd);
  fs::current_path(old);
  ::close(fd);
  if (p.pid <= 0) return std::nullopt;
  auto status = plat::waitProcess(p.pid, ms);
  if (!status) {
    kill(p.pid, SIGKILL);
    plat::waitProcess(p.pid, -1);
  }
  output = readAll(out);
  return status;
}
}  // namespace

// Without a display nobody can give the program work: a command line that
// gives none ends it at once, saying why. ("-F -V" is work: -F's value is
// "-V", a file that is not there, and the run fails with status 1.)
TEST(PrismhostProcess, WithoutADisplayACommandLineWithoutWorkEndsAndSaysWhy) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phnowork-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  setenv("PRISM_NAMESPACE", ("n" + std::to_string(getpid()) + "_").c_str(), 1);
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {
      {{"-?"}, 0}, {{}, 2},       {{"-V"}, 2},           {{"-B"}, 2},
      {{"-F"}, 2}, {{"-FV"}, 2},  {{"--F"}, 2},          {{"-F", "cube.stl"}, 2},
      {{"-V", "cube.stl"}, 2},    {{"-B", "-F"}, 2},
  };
  for (const auto& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    std::string output;
    EXPECT_EQ(runWithoutDisplay(c.args, dir.string(), output), c.status);
    EXPECT_NE(output.find("command line usage:"), std::string::npos) << output;
    if (c.status != 0) {
      EXPECT_NE(output.find("without a display"), std::string::npos) << output;
    }
  }
  fs::remove_all(dir);
}

// A termination request while the command line is still to be read ends
// the unattended run as not done.
TEST(PrismhostProcess, AnEarlySignalEndsAnUnattendedRunWithStatusOne) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("phearly-" + std::to_string(getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  fs::copy_file(std::string(std::getenv("PRISM_TEST_DATA")) + "/slicer/20mm-xyz-cube.stl", dir / "cube.stl");
  setenv("PRISM_NAMESPACE", ("e" + std::to_string(getpid()) + "_").c_str(), 1);
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir);
  for (const int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    auto p = plat::spawnProcess({PRISMHOST_BIN, "-F", "cube.stl", "-V"});
    ASSERT_GT(p.pid, 0);
    // As soon as the program runs its own start-up (it holds its instance
    // number), well before the Init timer reads the command line 1 s later.
    for (int i = 0; i < 2000 && !flockHeld(lockFile(1)); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    kill(p.pid, signal);
    const auto status = plat::waitProcess(p.pid, 20000);
    if (!status) {
      kill(p.pid, SIGKILL);
      plat::waitProcess(p.pid, -1);
    }
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(fs::exists("temp.dmc"));
    fs::remove("prismhost.log");
  }
  fs::current_path(old);
  fs::remove_all(dir);
}
