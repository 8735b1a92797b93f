// Material nodes: evaluation of channels, pattern values and the surface
// values at a point. (Attribute leaves only so far; pattern nodes arrive with
// the procedural textures.)
#include "material/material.h"

namespace zentrope {

bool Material::HasPatternNodes() const {
  return root && root->kind != NodeKind::kAttribute && root->kind != NodeKind::kParticle;
}

void EvaluateChannels(MaterialNode&, float) {}

float PatternValue(const MaterialNode&, const Vector3&, float) {
  return 0.0f;
}

AttributeRecord NodeAttributes(const MaterialNode& node, const Vector3&, float) {
  return node.attributes;
}

std::shared_ptr<Material> MakeAttributeMaterial(std::string name, const AttributeRecord& values) {
  auto material = std::make_shared<Material>();
  material->name = std::move(name);
  material->root = std::make_unique<MaterialNode>();
  material->root->attributes = values;
  return material;
}

}  // namespace zentrope
