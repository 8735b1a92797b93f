// Group: a named set of control points of one segment, referred to by number
// so that the group survives edits and saves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/vector3.h"

namespace zentrope {

struct Group {
  std::string name;  // unique within the segment
  Vector3 pivot;
  std::vector<std::int32_t> members;  // control point numbers
  bool operator==(const Group&) const = default;
};

}  // namespace zentrope
