// Frame evaluation of a choreography's figures: for every placed figure,
// which placement of each track is current and which action frame it
// shows, its placement transform and scale, loading the figure and its
// actions on first use, and (when drawing) posing and handing it on.
#pragma once

#include <functional>
#include <string>

#include "chor/choreography.h"

namespace zentrope {

// A figure file that cannot be loaded.
inline constexpr int kFigureLoadError = 107;

// Receives each figure to draw or render with its placement transform and
// scale; a non-zero result stops the evaluation and is returned.
using FigureSink =
    std::function<int(FigureInstance& figure, const Transform& placement, const Vector3& scale)>;

struct EvaluationOptions {
  bool draw = false;   // pose each figure and hand it to sink
  bool force = false;  // pose every figure afresh
  FigureSink sink;
};

// Evaluates the figure list (children before their parent) at frame.
// Returns 0, kFigureLoadError (message names the file) or the sink's code.
int evaluate_figures(const Transform& incoming, std::vector<FigureInstance>& figures, float frame,
                     Choreography& chor, const EvaluationOptions& options = {},
                     std::string* message = nullptr);

// The placement transform and scale of a figure at frame (dynamics, path
// and role, then Roll, Tilt and Swivel), stored in its runtime.
void PlaceFigure(const Transform& incoming, FigureInstance& figure, float frame,
                 const Choreography& chor);

// Chooses each track's current placement at frame, rebuilding the action
// state when one changes, and computes every current placement's action
// frame. The figure must be loaded.
void SelectPlacements(FigureInstance& figure, float frame, const Choreography& chor);

// The action frame a placement shows at its local frame t0 (stride-driven
// placements measure the distance the figure travelled).
float ActionFrame(const FigureInstance& figure, const ActionPlacement& placement, float t0,
                  float frame, const Choreography& chor);

// Loads the figure file when it is not loaded; false with a message when it
// cannot be.
bool LoadInstance(FigureInstance& figure, std::string* message = nullptr);

// Poses the loaded figure at its current action frames under its placement
// transform and scale (muscle and spine motion, skins), then bends a role 3
// figure along its path.
void PoseInstance(FigureInstance& figure, float frame, const Choreography& chor);

// Bends the posed figure's geometry along its path: each point's z becomes
// distance back along the path, x and y offsets across it.
void BendAlongPath(FigureInstance& figure, float frame, const Choreography& chor);

}  // namespace zentrope
