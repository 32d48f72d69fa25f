// framecap: a frame server for the host's two-camera grabber. It serves
// 640 x 480 frames of two cameras, A and B, through two shared memories and
// two pairs of named events, in the layout that README.md describes, taken
// from a folder of pictures or from a moving synthetic scene.
//
//   framecap [--folder DIR] [--still] [--size BYTES] [--idle-exit SECONDS]
//            [--log FILE]
//
// It uses the standard library and POSIX only and shares no code with the
// host: a test that runs the grabber against it checks the host's reading
// of the layout against a second, independent writing of it.
#include <dirent.h>
#include <fcntl.h>
#include <semaphore.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr std::size_t kRowBytes = kWidth * 3;
constexpr std::size_t kHeaderBytes = 41;
constexpr std::size_t kFrameBytes = kRowBytes * kHeight;
constexpr std::size_t kMapBytes = kHeaderBytes + kFrameBytes;

volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

// "/" + $PRISM_NAMESPACE + name, "/" and "\" made "_", at most 241 bytes:
// the names the host gives its named objects.
std::string objectName(const std::string& name) {
  const char* ns = std::getenv("PRISM_NAMESPACE");
  std::string body = (ns ? std::string(ns) : std::string()) + name;
  for (char& c : body)
    if (c == '/' || c == '\\') c = '_';
  if (body.size() > 240) body.resize(240);
  return "/" + body;
}

std::string runtimeDir() {
  struct stat st {};
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode)) return "/dev/shm";
  return "/tmp";
}

// A 640 x 480 picture, rows top first, 3 bytes a pixel blue, green, red.
using Picture = std::vector<unsigned char>;

bool readWhole(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), {});
  return bool(in) || in.eof();
}

// Binary PPM ("P6", maxval 255). Pixels beyond 640 x 480 are dropped,
// missing ones stay black.
bool readPpm(const std::string& bytes, Picture& pic) {
  std::size_t at = 2;
  auto number = [&](long& v) {
    for (;;) {
      while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
      if (at < bytes.size() && bytes[at] == '#') {
        while (at < bytes.size() && bytes[at] != '\n') ++at;
        continue;
      }
      break;
    }
    if (at >= bytes.size() || !std::isdigit(static_cast<unsigned char>(bytes[at]))) return false;
    v = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && v < 1000000)
      v = v * 10 + (bytes[at++] - '0');
    return true;
  };
  long w = 0, h = 0, maxval = 0;
  if (bytes.compare(0, 2, "P6") != 0 || !number(w) || !number(h) || !number(maxval) || maxval != 255) return false;
  ++at;  // the one blank after maxval
  if (w <= 0 || h <= 0 || bytes.size() < at + std::size_t(w) * std::size_t(h) * 3) return false;
  pic.assign(kFrameBytes, 0);
  for (long y = 0; y < std::min<long>(h, kHeight); ++y)
    for (long x = 0; x < std::min<long>(w, kWidth); ++x) {
      const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data()) + at + (y * w + x) * 3;
      unsigned char* d = pic.data() + y * kRowBytes + x * 3;
      d[0] = s[2];
      d[1] = s[1];
      d[2] = s[0];
    }
  return true;
}

unsigned le32(const std::string& b, std::size_t at) {
  return unsigned(static_cast<unsigned char>(b[at])) | unsigned(static_cast<unsigned char>(b[at + 1])) << 8 |
         unsigned(static_cast<unsigned char>(b[at + 2])) << 16 | unsigned(static_cast<unsigned char>(b[at + 3])) << 24;
}

// Uncompressed 24-bit BMP, either row order.
bool readBmp(const std::string& bytes, Picture& pic) {
  if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return false;
  const std::size_t dataAt = le32(bytes, 10);
  const int w = int(le32(bytes, 18));
  const int rawH = int(le32(bytes, 22));
  const int bits = int(static_cast<unsigned char>(bytes[28]) | static_cast<unsigned char>(bytes[29]) << 8);
  const unsigned compression = le32(bytes, 30);
  if (bits != 24 || compression != 0 || w <= 0 || rawH == 0 || w > 100000) return false;
  const bool bottomUp = rawH > 0;
  const int h = bottomUp ? rawH : -rawH;
  if (h > 100000) return false;
  const std::size_t stride = (std::size_t(w) * 3 + 3) / 4 * 4;
  if (bytes.size() < dataAt + stride * std::size_t(h)) return false;
  pic.assign(kFrameBytes, 0);
  for (int y = 0; y < std::min(h, kHeight); ++y) {
    const std::size_t fileRow = bottomUp ? std::size_t(h - 1 - y) : std::size_t(y);
    const char* s = bytes.data() + dataAt + fileRow * stride;
    std::memcpy(pic.data() + std::size_t(y) * kRowBytes, s, std::size_t(std::min(w, kWidth)) * 3);
  }
  return true;
}

// The named objects of one camera and what it serves.
struct Camera {
  char letter;
  std::string requestName, readyName, memoryName;
  sem_t* request = SEM_FAILED;
  sem_t* ready = SEM_FAILED;
  unsigned char* view = nullptr;
  std::size_t size = 0;
  long served = 0;
};

bool openCamera(Camera& cam, std::size_t size) {
  cam.request = sem_open(objectName(cam.requestName).c_str(), O_CREAT, 0600, 0);
  cam.ready = sem_open(objectName(cam.readyName).c_str(), O_CREAT, 0600, 0);
  if (cam.request == SEM_FAILED || cam.ready == SEM_FAILED) return false;
  // A request made while no server ran is answered: the grabber may have
  // started this server and asked at once.
  const int fd = shm_open(objectName(cam.memoryName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return false;
  }
  // A block that a host made first is used at its size, grown when smaller.
  std::size_t have = std::size_t(st.st_size);
  if (have < size) {
    if (ftruncate(fd, off_t(size)) != 0) {
      close(fd);
      return false;
    }
    have = size;
  }
  void* p = mmap(nullptr, have, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  if (p == MAP_FAILED) return false;
  cam.view = static_cast<unsigned char*>(p);
  cam.size = have;
  return true;
}

struct Options {
  std::string folder;
  bool still = false;
  std::size_t size = kMapBytes;
  int idleExitSeconds = 0;
  std::string log;
};

class Server {
 public:
  explicit Server(Options o) : opt_(std::move(o)) {}

  bool loadPictures() {
    if (opt_.folder.empty()) return true;
    DIR* d = opendir(opt_.folder.c_str());
    if (!d) {
      std::fprintf(stderr, "framecap: cannot read folder %s\n", opt_.folder.c_str());
      return false;
    }
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) {
      std::string bytes;
      Picture pic;
      if (!readWhole(opt_.folder + "/" + n, bytes)) continue;
      if (readPpm(bytes, pic) || readBmp(bytes, pic)) pictures_.push_back(std::move(pic));
      else std::fprintf(stderr, "framecap: %s is no P6 PPM or 24-bit BMP, left out\n", n.c_str());
    }
    if (pictures_.empty()) {
      std::fprintf(stderr, "framecap: no picture in %s\n", opt_.folder.c_str());
      return false;
    }
    return true;
  }

  // The synthetic scene: diagonal bands that move 16 steps a frame, in
  // other colours for camera B.
  void synthetic(Picture& pic, int camera, long n) const {
    pic.resize(kFrameBytes);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        const unsigned char v = static_cast<unsigned char>((x + 2 * y + 16 * n) & 255);
        unsigned char* d = pic.data() + std::size_t(y) * kRowBytes + std::size_t(x) * 3;
        if (camera == 0) {
          d[0] = v;
          d[1] = static_cast<unsigned char>(255 - v);
          d[2] = 128;
        } else {
          d[0] = 128;
          d[1] = v;
          d[2] = static_cast<unsigned char>(255 - v);
        }
      }
  }

  // Writes the camera's next frame (bottom row first) and signals it.
  void serve(Camera& cam, int camera) {
    const long n = opt_.still ? 0 : cam.served;
    ++cam.served;
    if (cam.size >= kMapBytes) {
      Picture pic;
      const Picture* source = &pic;
      if (!pictures_.empty()) source = &pictures_[std::size_t(n) % pictures_.size()];
      else synthetic(pic, camera, n);
      char head[kHeaderBytes] = {};
      std::snprintf(head, sizeof head, "framecap %c %ld", cam.letter, cam.served);
      std::memcpy(cam.view, head, kHeaderBytes);
      for (int r = 0; r < kHeight; ++r)
        std::memcpy(cam.view + kHeaderBytes + std::size_t(r) * kRowBytes,
                    source->data() + std::size_t(kHeight - 1 - r) * kRowBytes, kRowBytes);
    }
    note(cam);
    // An event, not a counter: set once however often it is set.
    int v = 0;
    if (sem_getvalue(cam.ready, &v) != 0 || v == 0) sem_post(cam.ready);
  }

  void note(const Camera& cam) {
    lastRequest_ = std::chrono::steady_clock::now().time_since_epoch().count();
    if (opt_.log.empty()) return;
    std::lock_guard<std::mutex> lock(logMutex_);
    if (FILE* f = std::fopen(opt_.log.c_str(), "a")) {
      std::fprintf(f, "%c %ld%s\n", cam.letter, cam.served, cam.size >= kMapBytes ? "" : " not written");
      std::fclose(f);
    }
  }

  void run(Camera& cam, int camera) {
    while (!gStop) {
      timespec ts {};
      clock_gettime(CLOCK_REALTIME, &ts);
      ts.tv_nsec += 100 * 1000000L;
      if (ts.tv_nsec >= 1000000000L) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000L;
      }
      if (sem_timedwait(cam.request, &ts) != 0) continue;
      while (sem_trywait(cam.request) == 0) {
      }
      if (!gStop) serve(cam, camera);
    }
  }

  bool idleTooLong() const {
    if (opt_.idleExitSeconds <= 0) return false;
    const auto last = std::chrono::steady_clock::duration(lastRequest_.load());
    return std::chrono::steady_clock::now().time_since_epoch() - last > std::chrono::seconds(opt_.idleExitSeconds);
  }

  const Options& options() const { return opt_; }
  std::atomic<long long> lastRequest_{std::chrono::steady_clock::now().time_since_epoch().count()};

 private:
  Options opt_;
  std::vector<Picture> pictures_;
  std::mutex logMutex_;
};

int usage() {
  std::fprintf(stderr,
               "usage: framecap [--folder DIR] [--still] [--size BYTES] [--idle-exit SECONDS] [--log FILE]\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--still") opt.still = true;
    else if (a == "--folder" && hasValue) opt.folder = argv[++i];
    else if (a == "--size" && hasValue) opt.size = std::size_t(std::strtoull(argv[++i], nullptr, 10));
    else if (a == "--idle-exit" && hasValue) opt.idleExitSeconds = std::atoi(argv[++i]);
    else if (a == "--log" && hasValue) opt.log = argv[++i];
    else return usage();
  }
  if (opt.size == 0) return usage();

  std::signal(SIGTERM, onSignal);
  std::signal(SIGINT, onSignal);
  std::signal(SIGPIPE, SIG_IGN);

  Server server(opt);
  if (!server.loadPictures()) return 2;

  // Held while serving: the host starts no second server while it is held.
  const std::string lockPath = runtimeDir() + objectName("framecap1") + ".lock";
  const int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  bool locked = false;
  for (int tries = 0; lockFd >= 0 && tries < 40 && !locked; ++tries) {
    locked = flock(lockFd, LOCK_EX | LOCK_NB) == 0;
    if (!locked) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (!locked) {
    std::fprintf(stderr, "framecap: another frame server holds %s\n", lockPath.c_str());
    return 1;
  }

  Camera cams[2] = {{'A', "fg_grab_event", "fg_bmp_ready_event", "fg_shared_mem"},
                    {'B', "fk_grab_event", "fk_bmp_ready_event", "fk_shared_mem"}};
  for (Camera& c : cams)
    if (!openCamera(c, opt.size)) {
      std::fprintf(stderr, "framecap: cannot open the objects of camera %c: %s\n", c.letter, std::strerror(errno));
      return 3;
    }
  std::printf("ready\n");
  std::fflush(stdout);

  std::thread a([&] { server.run(cams[0], 0); });
  std::thread b([&] { server.run(cams[1], 1); });
  while (!gStop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (server.idleTooLong()) gStop = 1;
  }
  a.join();
  b.join();
  // The names stay: a host that holds them meets a restarted server on the
  // same objects.
  for (Camera& c : cams) {
    munmap(c.view, c.size);
    sem_close(c.request);
    sem_close(c.ready);
  }
  close(lockFd);
  return 0;
}
