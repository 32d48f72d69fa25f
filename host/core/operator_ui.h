#pragma once
// What the operator sees and answers, behind one seam: the Qt window
// implements it in the program, FakeUi in tests. The operator log is not
// here: it is a model (OperatorLog) that the window follows.
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QImage;

namespace ph {

struct FileDialogRequest {
  std::string title;
  std::string folder;       // initial folder
  std::string fileName;     // preselected name
  std::string filter;       // "description|*.ext|..."
  std::string defaultExt;   // without "."
};

struct WindowGeometry {
  int left = 0, top = 0, width = 0, height = 0;
};

// The main window's frame as the system draws it (0 where it draws none).
struct WindowMetrics {
  int captionHeight = 0;
  int menuHeight = 0;
  int frameWidth = 0;   // the sizing frame at each side
  int frameHeight = 0;  // the sizing frame at the top and at the bottom
};

// One field of a small value dialog built at run time.
struct DialogField {
  std::string label;
  std::string text;
  // Called on every change of the field; returns whether the text is valid
  // (the field shows white or red).
  bool (*validate)(const std::string&) = nullptr;
};

class OperatorUi {
 public:
  enum class Answer { Yes, No, Cancel };
  virtual ~OperatorUi() = default;

  // A message box with an OK button.
  virtual void showMessage(const std::string& text) = 0;
  // A question with Yes, No and Cancel (closing the box is Cancel).
  virtual Answer askYesNoCancel(const std::string& caption, const std::string& text) = 0;
  // A question with Yes and No only; closing the box (Esc) is No.
  virtual bool askYesNo(const std::string& caption, const std::string& text) {
    return askYesNoCancel(caption, text) == Answer::Yes;
  }
  // A message box with the given buttons: the index of the button pressed,
  // -1 when the box was closed.
  virtual int askChoice(const std::string& caption, const std::string& text,
                        const std::vector<std::string>& buttons) = 0;
  // An input box; nothing when cancelled.
  virtual std::optional<std::string> inputBox(const std::string& caption, const std::string& prompt,
                                              const std::string& initial) = 0;
  virtual std::optional<std::string> openFileDialog(const FileDialogRequest& dialog) = 0;
  virtual std::optional<std::string> saveFileDialog(const FileDialogRequest& dialog) = 0;
  // A modal dialog of labelled fields with an "Ok" button; false when it
  // was closed without Ok. Field texts are updated in place.
  virtual bool fieldDialog(const std::string& caption, int width, int height, std::vector<DialogField>& fields) = 0;
  // "Press any Key\nto continue".
  virtual void waitKeyPopup() = 0;

  virtual void setStatusPanel(int panel, const std::string& text) = 0;
  virtual void setCaption(const std::string& text) = 0;
  // 1 to 99 shows or updates the progress window; any other value closes it.
  virtual void showProgress(int percent) = 0;
  // Lets waiting window events run during a long computation.
  virtual void processEvents() = 0;
  virtual void showBitmap(const QImage& picture, bool modal) = 0;
  // Puts a text on the system clipboard (polyline scripts for CAD programs).
  virtual void setClipboardText(const std::string& text) = 0;
  // Closes the window showBitmap opened (nothing when none is open).
  virtual void closeBitmap() {}
  // What Page Up (-1) and Page Down (+1) in the picture window do: the
  // layer preview steps through the job's layers; empty: nothing.
  virtual void setBitmapStepper(std::function<void(int step)> step) { (void)step; }

  virtual WindowGeometry windowGeometry() = 0;
  virtual WindowMetrics windowMetrics() = 0;
  // The area of all screens that windows may take.
  virtual WindowGeometry screenArea() = 0;
  virtual void setWindowGeometry(const WindowGeometry& g) = 0;
  // Asks the main window to close (which runs the close sequence).
  virtual void closeMainWindow() = 0;
  // Whether the program has a display, so an operator can answer a
  // question; without one every question returns at once.
  virtual bool hasDisplay() const = 0;
};

// A window geometry moved and cut so the window lies within the area: a
// stored geometry may come from a larger desktop, or be garbage.
WindowGeometry fitWithin(WindowGeometry g, const WindowGeometry& area);

// Caption, menu and sizing-frame height together: how far the client area
// of the main window starts below its top.
inline int captionHeight(OperatorUi& ui) {
  const WindowMetrics m = ui.windowMetrics();
  return m.captionHeight + m.menuHeight + m.frameHeight;
}
// The width of the main window's sizing frame.
inline int frameWidth(OperatorUi& ui) { return ui.windowMetrics().frameWidth; }

}  // namespace ph
