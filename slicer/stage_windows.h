#pragma once
// The windows of the preview and the text editor, behind one seam: Qt
// dialogs in the program, scripted stand-ins in tests.
namespace lt {

class SlicePreview;
class TextEditor;

class StageWindows {
 public:
  virtual ~StageWindows() = default;
  // Shows the preview modally; returns when it has closed.
  virtual void runPreview(SlicePreview& preview) = 0;
  // Shows the text editor modally; returns when it has closed.
  virtual void runEditor(TextEditor& editor) = 0;
};

}  // namespace lt
