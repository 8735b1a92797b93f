// Loaded actions, cached by file name: opening an action that is already
// loaded binds its channel sets to the figure's nodes by segment path
// instead of reading the file again.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "anim/action.h"
#include "shell/result.h"

namespace zentrope {

class ActionCache {
 public:
  static ActionCache& Process();

  // The action of a file, read once (.act, or the older .ske and .mor), and
  // bound to the figure.
  Result<std::shared_ptr<Action>> Open(const std::string& path, Figure& figure);
  void Forget(const std::string& path) { actions_.erase(path); }
  std::size_t Size() const { return actions_.size(); }

 private:
  std::map<std::string, std::shared_ptr<Action>> actions_;
};

}  // namespace zentrope
