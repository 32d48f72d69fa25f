#pragma once
// The two-camera frame grabber of the photo ring: an outside frame-capture
// program serves the frames of cameras A and B through two couples; the
// `Grabber` timer asks them in turn, each frame is compared with the
// camera's previous one on sampled bytes and saved as a numbered JPEG when
// it changed enough. Keys typed on the window's buttons set its values and
// prepare capture folders (photos from a camera's card, batch files, the
// pick of the sharpest neighbouring frames).
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "host/components/mem_couple.h"
#include "platform/clock.h"
#include "platform/handover.h"

namespace ph {

class HostCore;
class MeshTools;

// A frame in a grab couple's shared memory: 41 bytes the grabber does not
// read, then 640 x 480 pixels of blue, green, red, rows of 1920 bytes, the
// bottom row of the picture first.
struct GrabFrame {
  static constexpr int kWidth = 640;
  static constexpr int kHeight = 480;
  static constexpr std::size_t kRowBytes = 1920;
  static constexpr std::size_t kOffset = 41;
  static constexpr std::size_t kBytes = kRowBytes * kHeight;
  static constexpr std::size_t kMapBytes = kOffset + kBytes;
  // The change test reads 1000 samples of 3 bytes, 307 bytes apart.
  static constexpr int kSamples = 1000;
  static constexpr std::size_t kSampleStep = 307;
};

// "test" -> "test1", "test9" -> "test10", "IMG0099" -> "IMG100": the
// trailing digits (not counting the first character) as a number plus one.
std::string nextNumberedName(const std::string& text);

class FrameGrabber {
 public:
  enum Camera { A = 0, B = 1 };

  FrameGrabber(HostCore& core, MeshTools& mesh);
  ~FrameGrabber();
  FrameGrabber(const FrameGrabber&) = delete;
  FrameGrabber& operator=(const FrameGrabber&) = delete;

  // ---- capture values (kept for the program run) ----
  std::string foldername = "test";
  // The camera card's mounted folder; its photos lie in DCIM/100OLYMP.
  std::string cardfolder = "/media/card";
  int distsumgrens = 15000;
  int grabinterval = 500;
  std::array<int, 2> frameNumber{1, 1};
  bool toggle = false;
  int framesSinceSave = 0;

  // How couple events reach the user-interface thread (a PostQueue in
  // tests); taken when the couples are made.
  plat::UiPoster uiPoster = plat::qtUiPoster();
  // The frame-capture program and its arguments; empty: "framecap" in the
  // current folder, else beside this program.
  std::vector<std::string> framecapCommand;

  // ---- handlers ----
  // "ringcapture": starts the frame-capture program unless one runs and
  // opens both grab couples.
  void startRingCapture();
  void requestNextFrame();
  void takeFrame(TMemCouple& sender);
  // A key typed while "ringcapture" or "abort" has the focus.
  void handleCaptureKey(char key);

  // ---- the steps behind the keys ----
  void requestFrame(Camera camera);
  void switchGrabber(bool on);
  // A new capture folder under the capture root: foldername is numbered on
  // while a folder of that name exists. False (told) when it cannot be made.
  bool makeCaptureFolder();
  // The card's photos into the capture folder as letter, number and
  // extension; numbers go on after the letter's photos already there.
  void moveCardPhotos(char letter);
  void copyBatchFiles();
  void pickFrames();

  // ---- places ----
  std::string captureRoot() const;
  std::string captureFolder() const;
  std::string pickFolder() const;

  // ---- state for the window and tests ----
  plat::Timer& grabberTimer() { return *grabber_; }
  TMemCouple* couple(Camera camera) { return couples_[camera].get(); }
  const std::vector<unsigned char>& frameBuffer() const { return frame_; }
  // The frame-capture program this grabber started (-1: none).
  pid_t startedProgram() const { return started_; }
  // Frame-ready events handled since start.
  int framesReceived() const { return received_; }
  // The path of the frame saved last.
  const std::string& lastSaved() const { return lastSaved_; }

 private:
  bool programRunning();
  void startProgram();
  bool saveFrame(const std::string& name);
  std::string belowRoot(const std::string& path) const;
  bool askInt(const char* prompt, int& value, int lo, int hi);
  bool askTextValue(const char* prompt, std::string& value);

  HostCore& core_;
  MeshTools& mesh_;
  std::unique_ptr<plat::Timer> grabber_;
  std::array<std::unique_ptr<TMemCouple>, 2> couples_;
  std::vector<unsigned char> frame_;
  std::array<std::array<unsigned char, GrabFrame::kSamples * 3>, 2> samples_{};
  // A request that no frame answered yet, per camera.
  std::array<bool, 2> awaiting_{false, false};
  // Said once until a frame comes again.
  bool silenceTold_ = false;
  // A mapping too small for a frame: said once, opened again at the next
  // request (the program may have made the block after the couple opened).
  std::array<bool, 2> smallTold_{false, false};
  std::array<bool, 2> reopen_{false, false};
  pid_t started_ = -1;
  int received_ = 0;
  std::string lastSaved_;
};

}  // namespace ph
