// The skeletal frame file (.skf): a pose at one frame, the values of every
// channel of the patriarch's subtree, keyed back onto an action at the
// current frame and scaled to the figure's size.
#pragma once

#include <string>

#include "anim/action.h"
#include "shell/atomic_file.h"
#include "shell/result.h"

namespace zentrope {

inline constexpr int kSkeletalFrameVersion = 1;

// The patriarch's size: its bounding-box diagonal, at least 1.
float PatriarchSize(const Figure& figure);

SaveStatus WriteSkeletalFrame(const Action& action, const Figure& figure, float frame,
                              const std::string& path, std::string* detail = nullptr);
// Keys every node found in the file at frame. "Trouble Opening Skeletal
// Frame" when the file cannot be read.
Result<bool> ReadSkeletalFrame(Action& action, Figure& figure, float frame,
                               const std::string& path);

}  // namespace zentrope
