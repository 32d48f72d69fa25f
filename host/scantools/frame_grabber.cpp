#include "host/scantools/frame_grabber.h"

#include <QImage>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "host/core/bitmaps.h"
#include "host/core/files.h"
#include "host/core/host_core.h"
#include "host/core/numbers.h"
#include "host/core/paths.h"
#include "host/core/texts.h"
#include "host/mesh/mesh_tools.h"
#include "platform/atomic_file.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/regular_file.h"

namespace ph {

namespace fs = std::filesystem;

namespace {

constexpr const char* kCoupleNames[2][4] = {
    {"GrabCouple1", "fg_grab_event", "fg_bmp_ready_event", "fg_shared_mem"},
    {"GrabCouple2", "fk_grab_event", "fk_bmp_ready_event", "fk_shared_mem"}};

char letterOf(int camera) { return camera == FrameGrabber::B ? 'B' : 'A'; }

std::string disk(const std::string& path) { return nativePath(expandCurrentDir(path)); }

// Copies a file to its target whole or not at all. False when the copy is
// not complete (the target is then as it was).
bool copyWhole(const std::string& from, const std::string& to) {
  std::string why;
  FilePtr in(plat::openRegularFile(disk(from), "rb", why));
  plat::AtomicFile out;
  if (!in || !out.open(disk(to), why)) return false;
  char block[1 << 16];
  for (std::size_t n; (n = std::fread(block, 1, sizeof block, in.get())) > 0;)
    if (!out.append(block, n)) return false;
  return !std::ferror(in.get()) && out.commit(why);
}

bool isDigitChar(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::string nextNumberedName(const std::string& text) {
  std::size_t start = text.size();
  while (start > 1 && isDigitChar(text[start - 1])) --start;
  std::string digits = text.substr(start);
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  if (digits.empty()) digits = "0";
  // n + 1 on the digits themselves: no length overflows.
  int i = int(digits.size()) - 1;
  while (i >= 0 && digits[std::size_t(i)] == '9') digits[std::size_t(i--)] = '0';
  if (i < 0) digits.insert(digits.begin(), '1');
  else ++digits[std::size_t(i)];
  return text.substr(0, start) + digits;
}

FrameGrabber::FrameGrabber(HostCore& core, MeshTools& mesh)
    : core_(core), mesh_(mesh), grabber_(core.clock.createTimer("Grabber")) {
  grabber_->setInterval(grabinterval);
  grabber_->setHandler([this] { requestNextFrame(); });
}

FrameGrabber::~FrameGrabber() {
  grabber_->stop();
  for (auto& c : couples_)
    if (c) c->Close();
}

// ---- places ----

std::string FrameGrabber::captureRoot() const { return mesh_.workFolder() + "/capture"; }
std::string FrameGrabber::captureFolder() const { return captureRoot() + "/" + foldername; }
std::string FrameGrabber::pickFolder() const { return captureRoot() + "/pick"; }

std::string FrameGrabber::belowRoot(const std::string& path) const {
  const std::string root = captureRoot() + "/";
  return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
}

// ---- the frame-capture program and the couples ----

bool FrameGrabber::programRunning() {
  if (started_ > 0 && !plat::processRunning(started_)) started_ = -1;  // reaped
  // A running program holds this lock (see tools/framesrv/README.md).
  plat::InstanceLock probe;
  probe.acquire("framecap", 1);
  return !probe.held();
}

void FrameGrabber::startProgram() {
  std::vector<std::string> argv = framecapCommand;
  if (argv.empty()) {
    const std::string here = currentDir() + "/framecap";
    argv.push_back(fileExists(here) ? here : plat::siblingProgram("framecap"));
  }
  const plat::SpawnResult r = plat::spawnProcess(argv);
  if (r.pid <= 0) {
    core_.memoPrintf("ringcapture: cannot start %s (%s)", argv[0], std::strerror(r.error));
    return;
  }
  started_ = r.pid;
}

void FrameGrabber::startRingCapture() {
  if (!programRunning()) startProgram();
  for (int cam = A; cam <= B; ++cam) {
    auto& c = couples_[std::size_t(cam)];
    if (!c) {
      c = std::make_unique<TMemCouple>(uiPoster);
      c->SetName(kCoupleNames[cam][0]);
      c->SendEventName = kCoupleNames[cam][1];
      c->RecvEventName = kCoupleNames[cam][2];
      c->MemHandleName = kCoupleNames[cam][3];
      // Made here first, the block already holds a frame.
      c->BufferSize = int(GrabFrame::kMapBytes);
      c->OnReceive = [this](TMemCouple& sender) { takeFrame(sender); };
    }
    if (c->Active) continue;
    c->Open();
    if (!c->waiting()) core_.memoPrintf("ringcapture: cannot wait on %s", c->RecvEventName);
  }
}

// ---- asking for frames ----

void FrameGrabber::requestNextFrame() {
  toggle = !toggle;
  requestFrame(toggle ? A : B);
}

void FrameGrabber::switchGrabber(bool on) {
  grabber_->setInterval(grabinterval);
  grabber_->setEnabled(on);
}

void FrameGrabber::requestFrame(Camera camera) {
  TMemCouple* c = couples_[camera].get();
  if (!c || !c->Active) {
    if (!silenceTold_) core_.memoPrintf("grabber: the grab couples are not open (ringcapture)");
    silenceTold_ = true;
    return;
  }
  if (reopen_[camera]) {
    // The block may have grown since the couple mapped it.
    reopen_[camera] = false;
    c->Open();
  }
  if (awaiting_[camera] && !silenceTold_) {
    core_.memoPrintf("grabber: no frame from camera %c: is the frame-capture program running?", letterOf(camera));
    silenceTold_ = true;
  }
  awaiting_[camera] = true;
  c->Send();
}

// ---- a frame came ----

void FrameGrabber::takeFrame(TMemCouple& sender) {
  ++received_;
  ++framesSinceSave;
  const Camera cam = &sender == couples_[B].get() ? B : A;
  awaiting_[cam] = false;
  // The silence is over when neither camera owes a frame.
  if (!awaiting_[A] && !awaiting_[B]) silenceTold_ = false;
  if (!sender.view() || sender.viewSize() < GrabFrame::kMapBytes) {
    if (!smallTold_[cam])
      core_.memoPrintf("grabber: %s holds %d bytes, a frame needs %d: frames of camera %c skipped",
                       sender.MemHandleName, int(sender.viewSize()), int(GrabFrame::kMapBytes), letterOf(cam));
    smallTold_[cam] = true;
    reopen_[cam] = true;
    return;
  }
  smallTold_[cam] = false;
  frame_.assign(sender.view() + GrabFrame::kOffset, sender.view() + GrabFrame::kMapBytes);

  auto& last = samples_[cam];
  int sum = 0;
  for (int i = 0; i < GrabFrame::kSamples; ++i)
    for (int c = 0; c < 3; ++c)
      sum += std::abs(int(frame_[std::size_t(i) * GrabFrame::kSampleStep + std::size_t(c)]) -
                      int(last[std::size_t(3 * i + c)]));
  if (sum > distsumgrens) {
    const std::string name = captureFolder() + "/" + plat::format("%c%d.jpg", letterOf(cam), frameNumber[cam]);
    ++frameNumber[cam];
    core_.memoPrintf("(%d %d)...%s", sum / 1000, framesSinceSave, belowRoot(name));
    framesSinceSave = 0;
    saveFrame(name);
  }
  for (int i = 0; i < GrabFrame::kSamples; ++i)
    for (int c = 0; c < 3; ++c)
      last[std::size_t(3 * i + c)] = frame_[std::size_t(i) * GrabFrame::kSampleStep + std::size_t(c)];
}

bool FrameGrabber::saveFrame(const std::string& name) {
  std::error_code ec;
  fs::create_directories(disk(parentDir(name)), ec);
  QImage picture(GrabFrame::kWidth, GrabFrame::kHeight, QImage::Format_RGB32);
  for (int r = 0; r < GrabFrame::kHeight; ++r) {
    const unsigned char* row = frame_.data() + std::size_t(GrabFrame::kHeight - 1 - r) * GrabFrame::kRowBytes;
    auto* out = reinterpret_cast<QRgb*>(picture.scanLine(r));
    for (int x = 0; x < GrabFrame::kWidth; ++x) out[x] = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
  }
  // Whole or not at all (the JPEG writer sees to it): a frame is read by
  // name as soon as it is there.
  if (!saveJpeg3(picture, disk(name))) {
    core_.memoPrintf("unable to write to file: %s", name);
    return false;
  }
  lastSaved_ = name;
  return true;
}

// ---- keys ----

bool FrameGrabber::askInt(const char* prompt, int& value, int lo, int hi) {
  const std::string shown = std::to_string(value);
  const std::string answer = trimmed(core_.ui.inputBox("input", prompt, shown).value_or(shown));
  if (!isNumberText(answer) || answer.compare(0, 2, "0x") == 0 || answer.compare(0, 2, "0X") == 0) {
    core_.memoPrintf("%s: '%s' is not a whole number; it stays %d", prompt, answer, value);
    return false;
  }
  const int v = textToInt(answer);
  if (v < lo || v > hi) {
    core_.memoPrintf("%s: %d is outside %d..%d; it stays %d", prompt, v, lo, hi, value);
    return false;
  }
  value = v;
  return true;
}

bool FrameGrabber::askTextValue(const char* prompt, std::string& value) {
  const auto answer = core_.ui.inputBox("input", prompt, value);
  if (!answer) return false;
  const std::string v = trimmed(*answer);
  if (v.empty()) {
    core_.memoPrintf("%s: an empty name is no folder; it stays %s", prompt, value);
    return false;
  }
  value = v;
  return true;
}

void FrameGrabber::handleCaptureKey(char key) {
  switch (key) {
    case 's': requestFrame(A); break;
    case 'o': switchGrabber(!grabber_->enabled()); break;
    case 'z': switchGrabber(false); break;
    case 'i':
      switchGrabber(false);
      askInt("grabinterval", grabinterval, 1, 3600000);
      grabber_->setInterval(grabinterval);
      break;
    case 'g': askInt("distsumgrens", distsumgrens, 0, 3 * 255 * GrabFrame::kSamples); break;
    case 'n': askTextValue("foldername", foldername); break;
    case 'f':
      askTextValue("foldername", foldername);
      if (makeCaptureFolder()) frameNumber = {1, 1};
      break;
    case 'd': askTextValue("cardfolder", cardfolder); break;
    case '1': moveCardPhotos('A'); break;
    case '2': moveCardPhotos('B'); break;
    case 'b': copyBatchFiles(); break;
    case 'v': pickFrames(); break;
    default: break;  // every key is taken, listed or not
  }
}

bool FrameGrabber::makeCaptureFolder() {
  std::error_code ec;
  while (fs::exists(disk(captureFolder()), ec)) foldername = nextNumberedName(foldername);
  if (!fs::create_directories(disk(captureFolder()), ec)) {
    core_.memoPrintf("cannot make folder %s (%s)", captureFolder(), ec.message());
    return false;
  }
  return true;
}

void FrameGrabber::moveCardPhotos(char letter) {
  const std::string card = cardfolder + "/DCIM/100OLYMP";
  if (!folderExists(disk(card))) {
    core_.memoPrintf("no card folder %s", card);
    return;
  }
  if (letter == 'A' && !makeCaptureFolder()) return;
  const std::string folder = captureFolder();
  if (!folderExists(disk(folder))) {
    core_.memoPrintf("no folder %s", folder);
    return;
  }
  std::error_code ec;
  std::vector<std::string> photos;
  for (const auto& e : fs::directory_iterator(disk(card), ec))
    if (e.is_regular_file(ec)) photos.push_back(e.path().filename().string());
  std::sort(photos.begin(), photos.end());
  // Numbers go on after the photos of this letter already moved here, so a
  // second card never replaces the first one's photos.
  int number = 1;
  for (const auto& e : fs::directory_iterator(disk(folder), ec)) {
    const std::string n = e.path().filename().string();
    if (!e.is_regular_file(ec) || n.size() < 2 || n[0] != letter || !isDigitChar(n[1])) continue;
    const std::string digits = n.substr(1, n.find_first_not_of("0123456789", 1) - 1);
    if (digits.size() < 9) number = std::max(number, std::atoi(digits.c_str()) + 1);
  }
  for (const std::string& photo : photos) {
    core_.memoPrintf("%s", photo);
    const std::string ext = photo.find('.') == std::string::npos ? "" : "." + fileExt(photo);
    const std::string target = folder + "/" + plat::format("%c%d", letter, number) + ext;
    const std::string source = card + "/" + photo;
    if (!copyWhole(source, target)) {
      core_.memoPrintf("could not copy %s: it stays on the card", source);
      continue;
    }
    ++number;
    if (!fs::remove(disk(source), ec)) core_.memoPrintf("copied, but could not delete %s", source);
  }
  core_.memoPrintf("copied to %s", foldername);
}

void FrameGrabber::copyBatchFiles() {
  const std::string folder = captureFolder();
  if (!folderExists(disk(folder))) {
    core_.memoPrintf("no folder %s", folder);
    return;
  }
  for (char c : {'a', 'b'}) {
    const std::string name = plat::format("splitav%c.bat", c);
    const std::string from = captureRoot() + "/" + name;
    if (!fileExists(disk(from))) core_.memoPrintf("cannot read from file: %s", from);
    else if (!copyWhole(from, folder + "/" + name)) core_.memoPrintf("unable to write to file: %s", folder + "/" + name);
  }
}

void FrameGrabber::pickFrames() {
  const std::string folder = captureFolder();
  int picked = 0;
  for (char letter : {'A', 'B'})
    for (int k = 30; k < 290; k += 5) {
      std::string best;
      long long bestSize = -1;
      for (int n = k - 2; n <= k + 2; ++n) {
        const std::string name = plat::format("%c-%05d.jpg", letter, n);
        const long long size = fileSizeOf(folder + "/" + name);
        if (size > bestSize) {
          bestSize = size;
          best = name;
        }
      }
      if (bestSize < 0) continue;
      std::error_code ec;
      fs::create_directories(disk(pickFolder()), ec);
      if (copyWhole(folder + "/" + best, pickFolder() + "/" + best)) ++picked;
      else core_.memoPrintf("unable to write to file: %s", pickFolder() + "/" + best);
    }
  core_.memoPrintf("picked %d frames into %s", picked, pickFolder());
}

}  // namespace ph
