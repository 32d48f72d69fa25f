#include "host/mesh/obj_model.h"

namespace ph {

objMaterial ObjModel::plainMaterial() { return objMaterial{}; }

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
  for (std::size_t i = 0; i < materials.size(); ++i)
    if (materials[i].name == name) return std::int32_t(i);
  return -1;
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
