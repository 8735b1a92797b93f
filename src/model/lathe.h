// The lathe: a profile spline turned about the vertical axis through the
// segment's pivot into one closed ring per profile point and one meridian
// per cross section, each meridian point stacked on its ring point.
#pragma once

#include <cstdint>

#include "model/segment.h"

namespace zentrope {

// The cross-section count a new sculpture window starts with.
inline constexpr std::int16_t kDefaultLatheSections = 8;

// Lathes the spline that holds profilePoint (its first point found by walking
// back). Fails without changing the segment when sections is below 1 or
// memory runs out; an empty profile does nothing.
bool Lathe(Segment& segment, ControlPoint* profilePoint, std::int16_t sections);

}  // namespace zentrope
