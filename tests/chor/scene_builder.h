// Small scenes built in memory for the choreography tests.
#pragma once

#include <initializer_list>
#include <string>

#include "chor/choreography.h"
#include "core/spline.h"

namespace zentrope::testing {

// Appends a path through the points (smooth, tangents computed).
inline Path& AddPathThrough(Choreography& chor, const std::string& name,
                            std::initializer_list<Vector3> points) {
  Path path;
  path.name = name;
  ControlPoint* last = nullptr;
  std::int32_t number = 0;
  for (const Vector3& p : points) {
    ControlPoint* k = path.arena.Create();
    k->position = p;
    k->number = ++number;
    k->prev = last;
    if (last) {
      last->next = k;
    } else {
      path.first = k;
    }
    last = k;
  }
  ComputeSplineTangents(path.first);
  chor.paths.push_back(std::move(path));
  return chor.paths.back();
}

// A figure instance riding a path (no figure file needed until it is
// loaded).
inline FigureInstance& AddRider(Choreography& chor, const std::string& file,
                                const std::string& path) {
  FigureInstance f;
  f.fileName = file;
  f.placement = CreatePlacementSet(file);
  f.placement->referenceName = path;
  chor.figures.push_back(std::move(f));
  return chor.figures.back();
}

inline ActionPlacement Placement(const std::string& file, int wait, int start, int end, int length,
                                 int hold) {
  ActionPlacement p;
  p.actionFile = file;
  p.wait = static_cast<std::int16_t>(wait);
  p.start = static_cast<std::int16_t>(start);
  p.end = static_cast<std::int16_t>(end);
  p.length = static_cast<std::int16_t>(length);
  p.hold = static_cast<std::int16_t>(hold);
  p.actionLength = static_cast<std::int16_t>(end);
  return p;
}

}  // namespace zentrope::testing
