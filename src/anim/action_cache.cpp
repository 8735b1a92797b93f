// ActionCache.
#include "anim/action_cache.h"

#include <filesystem>

#include "anim/action_file.h"

namespace zentrope {

ActionCache& ActionCache::Process() {
  static ActionCache cache;
  return cache;
}

Result<std::shared_ptr<Action>> ActionCache::Open(const std::string& path, Figure& figure) {
  const std::string key = std::filesystem::path(path).lexically_normal().string();
  if (auto it = actions_.find(key); it != actions_.end()) {
    it->second->Bind(figure);
    return it->second;
  }
  // Read against the first figure that opens it (the oldest files name their
  // records by its nodes), keeping every record for the figures after it.
  Result<Action> read = ReadAction(path, &figure, /*keepOtherSegments=*/true);
  if (!read) {
    return read.failure();
  }
  auto action = std::make_shared<Action>(std::move(*read));
  action->Bind(figure);
  actions_[key] = action;
  return action;
}

}  // namespace zentrope
