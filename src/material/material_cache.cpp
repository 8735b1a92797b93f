// The material cache.
#include "material/material_cache.h"

#include <mutex>
#include <vector>

#include "material/material_file.h"
#include "model/text_file.h"
#include "shell/project_paths.h"

namespace zentrope {

namespace {

struct CacheEntry {
  std::string name;
  // An attribute-only material made from a segment's values ("default" or an
  // unreadable file): matched by name and values.
  bool segmentValues = false;
  AttributeRecord values;
  std::shared_ptr<Material> material;
  float time = 0.0f;
};

struct Cache {
  std::mutex mutex;
  std::vector<CacheEntry> entries;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

constexpr const char* kDefaultName = "default";

}  // namespace

AttributeRecord AttributeRecordFromValues(const std::array<float, 12>& values) {
  AttributeRecord r;
  for (int i = 0; i < 12; ++i) {
    ApplyAttributeChannel(r, i, values[static_cast<std::size_t>(i)]);
  }
  return r;
}

AttributeRecord NeutralAttributes() {
  // Red, green, blue 200; ambiance 10; specularity 30, a soft highlight; the
  // rest 0 but the specular colour (255) and refraction (100), the reset
  // record's values.
  return AttributeRecordFromValues({200, 200, 200, 10, 0, 0, 30, 0, 100, 255, 255, 255});
}

AttributeRecord AttributeRecordFromMaterialUse(const MaterialUse& use) {
  return use.Inline() ? AttributeRecordFromValues(use.values) : NeutralAttributes();
}

MaterialReference GetMaterial(const std::string& name, const AttributeRecord& segmentAttributes,
                              float time, std::string* problem) {
  if (problem) {
    problem->clear();
  }
  Cache& cache = TheCache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  for (CacheEntry& e : cache.entries) {
    if (e.name != name) {
      continue;
    }
    if (e.segmentValues) {
      if (e.values == segmentAttributes) {
        return e.material;
      }
      continue;
    }
    if (e.time != time && !e.material->Particle()) {
      EvaluateChannels(*e.material->root, time);
      e.time = time;
    }
    return e.material;
  }
  if (name != kDefaultName) {
    std::string tag;
    if (const std::optional<std::filesystem::path> file = LocateFile(name)) {
      tag = DocumentTag(*file);
    }
    Result<Material> read = tag == "IMAT" ? ReadParticleMaterialFile(name) : ReadMaterialFile(name);
    if (read) {
      auto material = std::make_shared<Material>(std::move(*read));
      material->name = name;
      // Particle materials too are evaluated when first loaded; only their
      // later re-evaluation is left out.
      EvaluateChannels(*material->root, time);
      cache.entries.push_back({name, false, {}, material, time});
      return material;
    }
    if (problem) {
      *problem = read.failure().detail.empty() ? read.failure().message : read.failure().detail;
    }
  }
  std::shared_ptr<Material> material = MakeAttributeMaterial(name, segmentAttributes);
  cache.entries.push_back({name, true, segmentAttributes, material, time});
  return material;
}

void ClearMaterialCache() {
  Cache& cache = TheCache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  cache.entries.clear();
}

std::size_t MaterialCacheSize() {
  Cache& cache = TheCache();
  const std::lock_guard<std::mutex> lock(cache.mutex);
  return cache.entries.size();
}

}  // namespace zentrope
