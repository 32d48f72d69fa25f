#include "host/mesh/obj_model.h"

namespace ph {

objMaterial ObjModel::plainMaterial() {
  objMaterial m;
  m.noColour = true;
  return m;
}

objMaterial ObjModel::greyMaterial() {
  objMaterial m;
  m.name = "greymatter";
  m.Kd = 0x808080;
  return m;
}

objMaterial& ObjModel::material(std::int32_t index) {
  if (index >= 0 && std::size_t(index) < materials.size()) return materials[std::size_t(index)];
  return index == kGreyMatter ? greymatter : defaultMaterial;
}

const objMaterial& ObjModel::material(std::int32_t index) const { return const_cast<ObjModel*>(this)->material(index); }

std::int32_t ObjModel::materialIndex(const std::string& name) const {
  // The list only grows between releases: a list that was released or
  // replaced meanwhile is indexed again.
  if (materials.size() < indexed_ || materials.data() != indexedData_ ||
      (indexed_ > 0 && materials[indexed_ - 1].name != lastIndexedName_)) {
    byName_.clear();
    indexed_ = 0;
  }
  for (; indexed_ < materials.size(); ++indexed_)
    byName_.emplace(materials[indexed_].name, std::int32_t(indexed_));
  indexedData_ = materials.data();
  if (indexed_ > 0) lastIndexedName_ = materials[indexed_ - 1].name;
  const auto it = byName_.find(name);
  return it == byName_.end() ? -1 : it->second;
}

bool ObjModel::nextIndex(std::int32_t& counter, std::int32_t& number) {
  if (counter + 1 >= indexLimit) {
    counter = indexLimit - 1;
    number = indexLimit - 2;
    return false;
  }
  number = counter++;
  return true;
}

}  // namespace ph
