#pragma once
// The slice preview "preview stl file": slices the loaded model at any height
// through the slice calls and paints the layer in the model's colours into
// the paint box, mirrored in both directions with row 0 at the bottom; runs a
// movie through the heights and, with -J, saves every frame as a picture.
// The window only shows what this object paints and forwards its events.
#include <QImage>
#include <memory>
#include <optional>
#include <string>

#include "platform/clock.h"

namespace lt {

class SlicerApp;
class SliceCalls;

// The texts and states of the preview's controls.
struct PreviewView {
  std::string caption = "preview stl file";
  std::string label2;  // model height (mm)
  std::string label4 = "X", label5 = "Y";
  std::string editz;
  int scrollPosition = 1000;  // 1000: z = 0; 0: the model's height
  std::string movieCaption = "movie";
  std::string vbuttonCaption = "price";
  unsigned panel4Rgb = 0x808080;
  // The paint box in the window.
  int pbxLeft = 62, pbxTop = 0, pbxWidth = 1, pbxHeight = 1;
};

// What the preview asks of its window.
class PreviewWindow {
 public:
  virtual ~PreviewWindow() = default;
  virtual void show(const PreviewView& view) = 0;
  // The paint box holds new pixels: show them now.
  virtual void paintBoxChanged() = 0;
  virtual void processEvents() = 0;
  // Waits, letting window events run.
  virtual void pause(int ms) = 0;
  virtual std::optional<unsigned> chooseColour(unsigned rgb) = 0;  // 0xRRGGBB
  virtual void showMessage(const std::string& text) = 0;
  virtual void setBusyCursor(bool busy) = 0;
  virtual void maximise() = 0;
  virtual void close() = 0;
};

class SlicePreview {
 public:
  explicit SlicePreview(SliceCalls& calls) : calls_(calls) {}
  ~SlicePreview();

  // The window opens (modal) and closes.
  void open(SlicerApp& app, PreviewWindow& window);
  void closed();
  bool isOpen() const { return window_ != nullptr; }

  // Handlers of the window.
  void formActivate();
  void timer1Timer();
  void formResize(int width, int height);
  void formPaint();
  void simscrollTimer();
  void scrollBar1Scroll(int position, bool ended);
  void editzKeyPress(const std::string& text);  // Enter
  void panel1Click(unsigned rgb);               // Panel1 (black) and Panel5 (white)
  void panel4Click();
  void pbxMouseMove(int x, int y);
  void movieClick();
  void vbuttonClick();
  void formCloseQuery();
  void timSliceTimer();

  // Screen pixels per dot from the paint box and the model size.
  void computePreviewScale();
  int screenX(int x) const;
  int screenY(int row) const;
  // A 15-bit colour on the screen (0xRRGGBB), each channel times 8.
  static unsigned colourToScreen(int colour15);
  // Slices z (micrometres) and paints it; with -J also saves the frame.
  void drawSlice(int zMicrons);
  // Dots inside the model at z, each span painted on one screen row.
  long long sliceArea(int zMicrons);
  // The model's volume (cm³) from layers 2 mm apart.
  double modelVolume();
  // The height (micrometres) of a scroll position.
  int heightOf(int position) const;

  const QImage& paintBox() const { return canvas_; }
  const PreviewView& view() const { return view_; }

  double previewScale = 0.2;
  int previewCols = 200, previewRows = 200;
  unsigned previewBackground = 0x808080;
  int movieStep = 0;
  std::string sliceFolder;
  int frameNumber = 0;  // kept for the program run: frames are numbered on
  // The disk the frames of the program run may take: below 0, decided at
  // the first frame (half the free space of its folder, at most
  // kMaxExportBytes). A movie that reaches it stops and says so.
  static constexpr long long kMaxExportBytes = 2LL << 30;
  long long exportByteLimit = -1;
  long long exportedBytes = 0;

 private:
  void refresh();
  void fill(int x0, int x1, int y, unsigned rgb);
  bool sliceAt(int zMicrons);
  void saveFrame();
  long long lastFrameBytes_ = 0;
  void chooseSliceFolder();
  std::string heightText(int zMicrons) const;
  int positionOf(int zMicrons) const;
  int boxZ() const;

  SliceCalls& calls_;
  SlicerApp* app_ = nullptr;
  PreviewWindow* window_ = nullptr;
  PreviewView view_;
  QImage canvas_;
  bool activated_ = false;
  bool autoRun_ = false;  // no operator: draw, run the -J movie, close
  std::unique_ptr<plat::Timer> timer1_, simscroll_, timSlice_;
};

}  // namespace lt
