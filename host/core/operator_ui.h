#pragma once
// What the operator sees and answers, behind one seam: the Qt window
// implements it in the program, FakeUi in tests. The operator log is not
// here: it is a model (OperatorLog) that the window follows.
#include <optional>
#include <string>
#include <vector>

class QImage;

namespace ph {

struct FileDialogSpec {
  std::string title;
  std::string folder;       // initial folder
  std::string fileName;     // preselected name
  std::string filter;       // "description|*.ext|..."
  std::string defaultExt;   // without "."
};

struct WindowGeometry {
  int left = 0, top = 0, width = 0, height = 0;
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
  // A message box with the given buttons: the index of the button pressed,
  // -1 when the box was closed.
  virtual int askChoice(const std::string& caption, const std::string& text,
                        const std::vector<std::string>& buttons) = 0;
  // An input box; nothing when cancelled.
  virtual std::optional<std::string> inputBox(const std::string& caption, const std::string& prompt,
                                              const std::string& initial) = 0;
  virtual std::optional<std::string> openFileDialog(const FileDialogSpec& dialog) = 0;
  virtual std::optional<std::string> saveFileDialog(const FileDialogSpec& dialog) = 0;
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

  virtual WindowGeometry windowGeometry() = 0;
  virtual void setWindowGeometry(const WindowGeometry& g) = 0;
  // Asks the main window to close (which runs the close sequence).
  virtual void closeMainWindow() = 0;
  // Whether the program has a display, so an operator can answer a
  // question; without one every question returns at once.
  virtual bool hasDisplay() const = 0;
};

}  // namespace ph
