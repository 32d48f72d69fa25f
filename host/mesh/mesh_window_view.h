#pragma once
// What the mesh-tools window shows besides its log and controls: its
// picture Im1 (345 x 289) and clicks on it, up to three preview windows,
// the colour dialog, a picture on the clipboard, a pause that lets events
// run, and closing the window. The Qt window implements it; tests use a
// recording fake; without a window (benchmarks, the command interpreter)
// MeshTools::view is null and the tools draw without showing.
#include <QImage>

#include <optional>
#include <string>

namespace ph {

class MeshWindowView {
 public:
  virtual ~MeshWindowView() = default;
  // MeshTools::Im1 was drawn on.
  virtual void imageChanged() = 0;
  // Shows (or refreshes) a picture in preview window slot 0..2 with the
  // caption; a modal one returns when the operator closed it.
  virtual void showPreview(int slot, const QImage& picture, const std::string& caption, bool modal) = 0;
  virtual void closePreview(int slot) = 0;
  // The colour dialog preset to a colour (red | green << 8 | blue << 16);
  // nothing when the operator cancels.
  virtual std::optional<int> chooseColour(int initial) = 0;
  // The picture on the clipboard, if it holds one; the clipboard stays as it is.
  virtual std::optional<QImage> clipboardBitmap() = 0;
  // Lets window events run for that long before the caller goes on.
  virtual void pause(int ms) = 0;
  // Closes the mesh-tools window.
  virtual void closeWindow() = 0;
};

}  // namespace ph
