// The host's side of a slice, with the real program: start layertint with the
// host's argument order and wait for its ready event from this process.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/named_event.h"
#include "platform/process.h"
#include "slicer/slicer_app.h"
#include "stl_fixture.h"

using namespace lt;
using namespace lt::test;

namespace {

class BatchProcess : public ::testing::Test {
 protected:
  BatchProcess() {
    // Named objects of this test alone; the child inherits the prefix.
    const std::string ns = "tltbatch" + std::to_string(getpid()) + "_";
    setenv("PRISM_NAMESPACE", ns.c_str(), 1);
    plat::NamedEvent::remove(kEvent);
    ready = plat::NamedEvent::open(kEvent);
    writeFile(dir / "cube.stl", stlBytes(cube(0, 10, {0x8000 | 31})));
  }
  ~BatchProcess() override { plat::NamedEvent::remove(kEvent); }

  // "%s -F%s -L%d -W%d -S%d -C%d -D%d -K%s -E%d %s" with " -I3" as extras.
  pid_t startSlicer(const std::string& model) {
    auto r = plat::spawnProcess({LAYERTINT_PATH, "-F" + model, "-L100", "-W64", "-S64", "-C50", "-D1000",
                                 "-K" + (dir / "out.p3d"), "-E32767", "-I3"});
    EXPECT_GT(r.pid, 0) << r.error;
    return r.pid;
  }

  static constexpr const char* kEvent = ".p3d file ready(3)";
  ScratchDir dir;
  std::unique_ptr<plat::NamedEvent> ready;
};

}  // namespace

TEST_F(BatchProcess, ReadyEventReachesTheWaitingProcess) {
  ASSERT_TRUE(ready);
  pid_t pid = startSlicer(dir / "cube.stl");
  EXPECT_EQ(ready->wait(30000), plat::NamedEvent::Wait::Signalled);
  auto status = plat::waitProcess(pid, 30000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, kExitOk);
  // The job is complete: it ends with its fingerprint line.
  const std::string job = readFile(dir / "out.p3d");
  ASSERT_GT(job.size(), 10u);
  EXPECT_EQ(job.substr(job.size() - 2), "\r\n");
  EXPECT_EQ(job.find_first_not_of("0123456789ABCDEF", job.size() - 10), job.size() - 2);
}

TEST_F(BatchProcess, UnreadableModelSignalsAndFails) {
  ASSERT_TRUE(ready);
  writeFile(dir / "out.p3d", "an older job\r\n0123ABCD\r\n");
  pid_t pid = startSlicer(dir / "missing.stl");
  EXPECT_EQ(ready->wait(30000), plat::NamedEvent::Wait::Signalled);
  auto status = plat::waitProcess(pid, 30000);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(*status, kExitModelFailed);
  EXPECT_EQ(readFile(dir / "out.p3d"), "   ");
}

// Without a display nobody can give the program work: a command line that
// names none ends it at once, saying why.
TEST_F(BatchProcess, WithoutADisplayACommandLineWithoutWorkEndsAndSaysWhy) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const Case cases[] = {{{"-?"}, 0}, {{}, 2}, {{"--F"}, 2}, {{dir / "cube.stl"}, 2}, {{"-L250"}, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.empty() ? std::string("none") : c.args[0]);
    const std::string out = dir / "output.txt";
    const int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<std::string> argv{LAYERTINT_PATH};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    auto r = plat::spawnProcess(argv, fd);
    ::close(fd);
    ASSERT_GT(r.pid, 0);
    const auto status = plat::waitProcess(r.pid, 20000);
    if (!status) {
      kill(r.pid, SIGKILL);
      plat::waitProcess(r.pid, -1);
    }
    EXPECT_EQ(status, c.status);
    const std::string said = readFile(out);
    EXPECT_NE(said.find("usage: layertint"), std::string::npos) << said;
    if (c.status != 0) {
      EXPECT_NE(said.find("without a display"), std::string::npos) << said;
    }
  }
}
