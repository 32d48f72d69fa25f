#pragma once
// The configuration editor: one page per settings group, a field and a label
// per setting, stepping by label clicks and an Apply that feeds every changed
// field through the settings interpreter (so clamps, jetting-unit codes and
// follow-ups are those of a settings file). Beside it: the search over names
// and help texts, the multi-line editor for "/"-separated texts, the
// single-parameter combo box and the pause box's shortcut. The window itself
// is a seam (ConfigEditorView): a thin Qt dialog in the program.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/core/main_timers.h"
#include "platform/clock.h"

namespace ph {

class HostCore;
class SettingsFiles;

// The editor's windows. Both show modally: show...() returns once the
// window has closed.
class ConfigEditorView {
 public:
  virtual ~ConfigEditorView() = default;
  virtual void showEditor() = 0;
  virtual void closeEditor() = 0;
  // The page was built anew (a tab was chosen): rebuild the fields from
  // ConfigEditor::page().
  virtual void pageBuilt() = 0;
  // The logic changed a field's text (stepping, a bool click, the
  // multi-line editor).
  virtual void fieldTextChanged(int param) = 0;
  virtual void focusField(int param) = 0;
  // The multi-line text editor on ConfigEditor::multiLineCaption() and
  // multiLineMemoText().
  virtual void showMultiLineEditor() = 0;
  virtual void closeMultiLineEditor() = 0;
};

// One row of a page: a field with the setting's value and its label.
struct EditorField {
  int param = -1;         // slot in the parameter table
  std::string name;       // the setting's name
  std::string text;       // the field's text: the value, texts unquoted
  std::string label;      // the label's caption
  std::string labelHint;  // the label's hint ("" for none)
  std::string hint;       // the field's hint: the help text wrapped at 12
  std::string unit;       // the unit beside a number, as its help or name gives it ("" for none)
  // A port field offers the ports found on this computer and still takes
  // any text (a "host:port", a "COMn").
  bool portField = false;
  std::vector<std::string> choices;
  int top = 0;  // field top; the label stands 3 lower
};

struct EditorPage {
  int tab = 0;
  std::string group;
  int width = 530, height = 500;
  std::vector<EditorField> fields;
  // Geometry shared by every row and the two buttons.
  static constexpr int kFieldLeft = 20, kFieldWidth = 145, kLabelLeft = 170;
  static constexpr int kTabsHeight = 40, kButtonWidth = 60;
  int buttonLeft() const { return width - 80; }
  static constexpr int kApplyBottom = 460;  // "Apply": its top is 460 minus its height
  static constexpr int kSearchTop = kTabsHeight + 20;
};

// What the editor asks of the machine side.
class EditorMachine {
 public:
  virtual ~EditorMachine() = default;
  // Whether a print or a device sequence runs.
  virtual bool isBusy() const = 0;
  // The serial ports found on this computer, by the names a port field
  // offers.
  virtual std::vector<std::string> detectedPorts() = 0;
};

class ConfigEditor {
 public:
  // Marks a field the operator has not changed.
  static constexpr const char* kUnchanged = "@leeg@";

  ConfigEditor(HostCore& core, SettingsFiles& files, EditorMachine& machine);
  ~ConfigEditor();
  ConfigEditor(const ConfigEditor&) = delete;
  ConfigEditor& operator=(const ConfigEditor&) = delete;

  ConfigEditorView* view = nullptr;

  // ---- state ----
  std::vector<std::string> pendingValues;  // per slot; kUnchanged or the new text
  int selectedTab = 0;
  int focusParam = -1;  // the setting whose field gets the focus on opening
  int focusEdit = -1;   // that field, once built
  std::string searchText;
  std::string multiLineName;
  int multiLineTarget = -1;  // the setting the multi-line editor edits
  std::string comboLine = "a = 0";

  // The group names as tabs, sorted by name.
  std::vector<std::string> tabs() const;
  const EditorPage& page() const { return page_; }
  bool isOpen() const { return open_; }
  std::string multiLineCaption() const { return "edit multi line string " + multiLineName; }
  // The multi-line editor's text: one line per "/"-separated item.
  const std::string& multiLineMemoText() const { return multiLineMemo_; }

  // ---- handlers ----
  void openConfigEditor();
  // A label released steps its field: down = the right button or Shift.
  void stepField(int param, bool down);
  void toggleBoolField(int param);
  void takeFieldText(int param, const std::string& text);
  // "Apply" (search false) and "Search" (search true).
  void applyEdits(bool search);
  void focusPendingField();
  void runPendingSearch();
  void askSearch();
  void openMultiLineEditor();
  void takeMultiLineText(const std::string& memoText);
  void editComboSetting();
  void takeComboKey(char key);
  void showComboHint();
  void togglePauseEachLayer(bool rightButton, bool shift);

  // ---- the work behind them ----
  void buildPage(int tab);
  // Every changed field through the interpreter, one by one; a field that
  // cannot be applied is told and skipped, the others still apply. True
  // when a setting changed.
  bool applyPendingValues();
  // Lists matching settings in the log; the single match of a name opens
  // the editor on it.
  void searchParameters(const std::string& text);
  // Applies one "name = value" line typed by the operator.
  bool applyOperatorLine(const std::string& line);

 private:
  void setFieldText(int param, const std::string& text);
  EditorField* field(int param);
  // "" when the setting may change now; otherwise why not.
  std::string busyRefusal(int param) const;
  void sendCodesUnlessBusy();

  HostCore& core_;
  SettingsFiles& files_;
  EditorMachine& machine_;
  OwnedTimer focusSet_;
  OwnedTimer searchLater_;
  EditorPage page_;
  bool open_ = false;
  std::string multiLineMemo_;
  std::optional<std::string> multiLineResult_;
};

// The unit of a number setting where its help text or its name gives one
// ("mm", "µm", "ms", "%", ...); "" where neither does or for other settings.
std::string settingUnit(const std::string& type, const std::string& name, const std::string& help);
// Whether the setting names a device port (the Marlin machine's or the
// jetting unit's).
bool isPortSetting(const std::string& name);

// The next value of a number field by the 1-2-5 series: about a twentieth
// of the value, at least 1. A text without "." gives a whole number, one
// with "." three decimals. Nothing when the text is no decimal number or
// beyond what a double holds exactly.
std::optional<std::string> stepValueText(bool down, const std::string& text);
// The text as a decimal number (digits with an optional "-" and one ".");
// nothing for any other text or beyond 2^53.
std::optional<double> parseDecimal(const std::string& text);
// The text as an int, minus 1 (down) or plus 1, kept inside the int range.
std::string stepIntText(bool down, const std::string& text);
// An integer expression (+ - * / and parentheses over decimal or 0x
// numbers) worked out without overflow; nothing, with the reason in `why`,
// for a text that is no expression, a division by zero or a result beyond
// the int range.
std::optional<int> evalIntText(const std::string& text, std::string& why);

}  // namespace ph
