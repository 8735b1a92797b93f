// Stretching a choreography in time: track 0's placements, the keys of the
// figures' placements, the camera, its target and the lights, and the
// length, all scaled by one factor.
#pragma once

#include <cstddef>

#include "chor/choreography.h"

namespace zentrope {

// The new length for a factor in percent, and the factor for a new length,
// as the stretch dialog keeps them in step.
std::int16_t StretchedLength(std::int16_t oldLength, float percent);
float StretchPercent(std::int16_t oldLength, std::int16_t newLength);

// Stretches by factor (1 = unchanged): the figures from firstFigure on in
// the top-level list (all of them from 0) and their children, the camera,
// camera target and light sets, and the length.
void StretchChoreography(Choreography& chor, float factor, std::size_t firstFigure = 0);

}  // namespace zentrope
