#include "controls.h"

#include <cassert>
#include <stdexcept>
#include <utility>

namespace ph {

void Control::setCaption(const std::string& s) {
  caption = s;
  if (owner_) owner_->notify(*this);
}
void Control::setHint(const std::string& s, bool show) {
  hint = s;
  showHint = show;
  if (owner_) owner_->notify(*this);
}
void Control::setVisible(bool v) {
  visible = v;
  if (owner_) owner_->notify(*this);
}
void Control::setEnabled(bool v) {
  enabled = v;
  if (owner_) owner_->notify(*this);
}
void Control::setChecked(bool v) {
  checked = v;
  if (owner_) owner_->notify(*this);
}

Control& Controls::add(Control::Kind kind, const std::string& name, const std::string& caption,
                       const std::string& parent) {
  assert(name.empty() || !find(name));
  Control& c = items_.emplace_back();
  c.kind = kind;
  c.name = name;
  c.caption = caption;
  c.parent = parent;
  c.owner_ = this;
  notify(c);
  return c;
}

Control* Controls::find(const std::string& name) {
  if (name.empty()) return nullptr;
  for (auto& c : items_)
    if (c.name == name) return &c;
  return nullptr;
}

const Control* Controls::find(const std::string& name) const {
  return const_cast<Controls*>(this)->find(name);
}

Control& Controls::at(const std::string& name) {
  Control* c = find(name);
  if (!c) throw std::out_of_range("no control named " + name);
  return *c;
}

void Controls::bindClick(const std::string& name, std::function<void()> handler) {
  Control* c = find(name);
  if (!c) throw std::logic_error("a click is bound to \"" + name + "\", but no control has that name");
  c->onClick = std::move(handler);
}

void Controls::addMenuItems(const std::string& parent, std::initializer_list<MenuItemSpec> items) {
  for (const MenuItemSpec& i : items) add(Control::Kind::MenuItem, i.name, i.caption, parent).hint = i.hint;
}

}  // namespace ph
