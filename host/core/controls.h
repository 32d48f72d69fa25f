#pragma once
// The main window's named controls and menu items as plain state. Logic reads
// and changes them here; the Qt window builds its widgets from them and
// follows every change, so handlers are tested without a window.
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace ph {

class Controls;

struct Control {
  enum class Kind { Button, CheckBox, Label, Menu, MenuItem, UpDown, Image, Shape, Edit, Combo, Panel };

  Kind kind = Kind::Button;
  std::string name;     // "" for items created at run time (user functions)
  std::string parent;   // the menu an item belongs to
  std::string caption;  // caption, or the text of a label or edit
  std::string hint;
  bool showHint = false;
  bool visible = true;
  bool enabled = true;
  bool checked = false;  // check boxes and checkable menu items
  bool checkable = false;
  int tag = 0;
  std::vector<std::string> items;  // combo box entries
  std::function<void()> onClick;  // button click, menu click
  std::function<void()> onRightClick;

  // Setters notify the window.
  void setCaption(const std::string& s);
  void setHint(const std::string& s, bool show);
  void setVisible(bool v);
  void setEnabled(bool v);
  void setChecked(bool v);
  void click() {
    if (onClick) onClick();
  }

 private:
  friend class Controls;
  Controls* owner_ = nullptr;
};

class Controls {
 public:
  // Adds a control; names are unique except "" (run-time menu items).
  Control& add(Control::Kind kind, const std::string& name, const std::string& caption,
               const std::string& parent = "");
  Control* find(const std::string& name);
  const Control* find(const std::string& name) const;
  // The control of that name; it must exist.
  Control& at(const std::string& name);
  // The click handler of the control of that name. A name no control has
  // is a wiring fault: it throws std::logic_error at start-up rather than
  // leave a click that does nothing.
  void bindClick(const std::string& name, std::function<void()> handler);
  // Menu items of one menu, each with its hint.
  struct MenuItemSpec {
    const char* name;
    const char* caption;
    const char* hint;
  };
  void addMenuItems(const std::string& parent, std::initializer_list<MenuItemSpec> items);
  std::deque<Control>& all() { return items_; }
  const std::deque<Control>& all() const { return items_; }

  // The window's view of changes: called after every setter and add.
  std::function<void(const Control&)> onChanged;
  void notify(const Control& c) {
    if (onChanged) onChanged(c);
  }

 private:
  std::deque<Control> items_;  // stable addresses
};

}  // namespace ph
