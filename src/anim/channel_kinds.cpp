// Default tables by kind.
#include "anim/channel_kinds.h"

#include "anim/action.h"
#include "anim/muscle.h"
#include "anim/spine.h"

namespace zentrope {

std::span<const float> KindDefaults(std::uint8_t kind) {
  switch (kind) {
    case kFigurePlacementKind:
      return kPlacementDefaults;
    case kCameraKind:
      return kCameraDefaults;
    case kTargetKind:
      return kTargetDefaults;
    case kLightKind:
      return kLightDefaults;
    case kMuscleBiasKind:
      return kMuscleBiasDefaults;
    case kMuscleMotionKind:
      return kMuscleMotionDefaults;
    case kSpineKind:
      return kSpineDefaults;
    case kSkeletalKind:
      return kSkeletalDefaults;
    default:
      return {};
  }
}

}  // namespace zentrope
