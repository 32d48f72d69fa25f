// The real program: instance numbers across processes, and a clean close on
// a termination request that appends the log.
#include "host/core/testing/file_text.h"
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

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
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  const fs::path old = fs::current_path();
  fs::current_path(dir / "a");
  auto a = plat::spawnProcess({PRISMHOST_BIN, "-?"});
  fs::current_path(dir / "b");
  auto b = plat::spawnProcess({PRISMHOST_BIN});
  fs::current_path(old);
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
