// Stretching a choreography.
#include "chor/stretch.h"

namespace zentrope {

namespace {

void StretchKeys(ChannelSet* set, float factor) {
  for (; set; set = set->next.get()) {
    for (Channel& c : set->channels) {
      for (ControlPoint* k = c.keys; k; k = NextInTraversal(k)) {
        // Keys hold frame − 1: scaling that keeps frame 1 where it is.
        k->position.x *= factor;
      }
    }
    ComputeChannelTangents(*set);
  }
}

void StretchFigure(FigureInstance& f, float factor) {
  if (!f.tracks.empty()) {
    for (ActionPlacement& p : f.tracks[0].placements) {
      const int overlap = p.overlap ? 1 : 0;
      p.hold = static_cast<std::int16_t>(static_cast<float>(p.hold) * factor);
      p.length = static_cast<std::int16_t>(static_cast<float>(p.length + overlap) * factor -
                                           static_cast<float>(overlap));
    }
    f.tracks[0].current = -1;
  }
  StretchKeys(f.placement.get(), factor);
  for (FigureInstance& child : f.children) {
    StretchFigure(child, factor);
  }
}

}  // namespace

std::int16_t StretchedLength(std::int16_t oldLength, float percent) {
  return static_cast<std::int16_t>(static_cast<float>(oldLength) * percent / 100.0f);
}

float StretchPercent(std::int16_t oldLength, std::int16_t newLength) {
  return oldLength != 0 ? static_cast<float>(newLength) * 100.0f / static_cast<float>(oldLength)
                        : 100.0f;
}

void StretchChoreography(Choreography& chor, float factor, std::size_t firstFigure) {
  for (std::size_t i = firstFigure; i < chor.figures.size(); ++i) {
    StretchFigure(chor.figures[i], factor);
  }
  StretchKeys(chor.camera.get(), factor);
  StretchKeys(chor.cameraTarget.get(), factor);
  for (Light& l : chor.lights) {
    StretchKeys(l.set.get(), factor);
  }
  chor.scene.length = static_cast<std::int16_t>(static_cast<float>(chor.scene.length) * factor);
}

}  // namespace zentrope
