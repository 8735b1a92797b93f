// Evaluating a choreography's figures at a frame.
#include "chor/frame_evaluation.h"

#include <cmath>

#include "anim/action_file.h"
#include "chor/dynamics.h"
#include "chor/path_motion.h"
#include "core/rotation.h"
#include "figure/figure_document.h"
#include "figure/pose.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

std::uint8_t DrawMode(const FigureInstance& f) {
  return static_cast<std::uint8_t>(f.kind & ~kInstanceHidden);
}

// A role 3 figure drawn in Vector or Curved mode is bent onto its path and
// so ignores the placement it inherits.
bool BentInPlace(const FigureInstance& f) {
  const std::uint8_t mode = DrawMode(f);
  return f.role == kBentAlongPath && (mode == kDrawVector || mode == kDrawCurved);
}

// The further rotation of a placement: Roll, Tilt and Swivel.
Transform PlacementTurn(const ChannelSet& set, float frame) {
  using namespace placement_channel;
  return BuildRotation(
      Vector3{}, Vector3{EvaluateChannel(set, kTilt, frame), EvaluateChannel(set, kRoll, frame),
                         EvaluateChannel(set, kSwivel, frame)});
}

std::shared_ptr<Action> LoadAction(FigureInstance& f, const std::string& file) {
  auto& actions = f.runtime.actions;
  const auto it = actions.find(file);
  if (it != actions.end()) {
    return it->second;
  }
  std::shared_ptr<Action> action;
  Result<Action> read = ReadAction(file, f.runtime.figure.get());
  if (read) {
    action = std::make_shared<Action>(std::move(*read));
  } else {
    log_line(file + ": " + read.failure().detail);
    const Failure& why = read.failure();
    f.runtime.problems.push_back(why.detail.empty() ? file + ": " + why.message
                                                    : why.message + " (" + why.detail + ")");
  }
  actions[file] = action;  // a failed read is not retried every frame
  return action;
}

// The placement whose action a track shows: its current one, or during a
// tween the last real placement before it (a tween holds that pose).
const ActionPlacement* HeldPlacement(const Track& track) {
  for (int i = track.current; i >= 0; --i) {
    const ActionPlacement& p = track.placements[static_cast<std::size_t>(i)];
    if (!p.tween) {
      return &p;
    }
  }
  return nullptr;
}

bool Animates(const Action& action, const std::string& segment) {
  for (const ActionEntry& e : action.entries) {
    if (e.segmentPath == segment && (e.channels || !e.muscle.empty() || e.spine)) {
      return true;
    }
  }
  return false;
}

// Clears the figure's actions and loads each track's current placement in
// order; a later track takes over exactly the segments its action moves.
void RebuildActionState(FigureInstance& f) {
  FigureRuntime& rt = f.runtime;
  const Figure& figure = *rt.figure;
  rt.drivers.assign(figure.nodes.size(), NodeDriver{});
  for (std::size_t t = 0; t < f.tracks.size(); ++t) {
    Track& track = f.tracks[t];
    for (ActionPlacement& p : track.placements) {
      p.inUse = false;
    }
    if (track.current < 0) {
      continue;
    }
    track.placements[static_cast<std::size_t>(track.current)].inUse = true;
    const ActionPlacement* p = HeldPlacement(track);
    if (!p || p->actionFile.empty()) {
      continue;
    }
    const std::shared_ptr<Action> action = LoadAction(f, p->actionFile);
    if (!action) {
      continue;
    }
    for (std::size_t n = 0; n < figure.nodes.size(); ++n) {
      if (Animates(*action, figure.nodes[n].name)) {
        rt.drivers[n] = {action.get(), static_cast<int>(t)};
      }
    }
  }
  f.state |= kPoseOutOfDate;
}

float StrideFrame(const FigureInstance& f, const ActionPlacement& p, float frame,
                  const Choreography& chor) {
  const Track& track0 = f.tracks[0];
  const ActionPlacement& main = track0.placements[static_cast<std::size_t>(track0.current)];
  const float mainLength = main.length;
  const float t0 = f.runtime.track0Local;
  float fp = frame, tp = t0;
  if (t0 > mainLength) {
    // Past the play phase: as at its end.
    fp = frame - (t0 - mainLength);
    tp = mainLength;
  }
  const float fs = fp - tp + 1.0f;
  const float span = static_cast<float>(p.end - p.start);
  const ChannelSet* set = f.placement.get();
  const std::int16_t length = chor.scene.length;
  const float e0 = ease_fraction(set, fs, length);
  const float e1 = ease_fraction(set, fp, length);
  const Path* path = chor.PathOf(set);
  const float d = path ? PathLength(*path) : 0.0f;
  float sizeFactor = 1.0f;
  if (f.runtime.figure) {
    const auto it = f.runtime.actions.find(p.actionFile);
    if (it != f.runtime.actions.end() && it->second) {
      sizeFactor = SizeFactor(*f.runtime.figure, *it->second);
    }
  }
  const float stride = p.strideLength * f.runtime.scale.y * sizeFactor;
  if (stride == 0.0f || !std::isfinite(stride)) {
    return 1.0f;
  }
  float n;
  if (!p.overlap) {
    n = (e1 - e0) * d / stride;
  } else {
    // A cyclic walk ends its placement on a whole number of strides.
    if (mainLength <= 0.0f) {
      return 1.0f;
    }
    const float eEnd = ease_fraction(set, mainLength + fs - 1.0f, length);
    if (eEnd <= e0) {
      return 1.0f;
    }
    const float cycles = std::floor((eEnd - e0) * d / stride + 0.5f);
    n = cycles * ((mainLength - 1.0f) / mainLength) * ((e1 - e0) / (eEnd - e0));
  }
  return 1.0f + (n - std::floor(n)) * span;
}

}  // namespace

float ActionFrame(const FigureInstance& f, const ActionPlacement& p, float t0, float frame,
                  const Choreography& chor) {
  const float t = t0 - static_cast<float>(p.wait);
  if (t < 1.0f) {
    return p.start;
  }
  if (p.useStride && p.strideLength != 0.0f && !f.tracks.empty() && f.tracks[0].current >= 0) {
    return StrideFrame(f, p, frame, chor);
  }
  if (t > static_cast<float>(p.length)) {
    return p.end;
  }
  int frames = p.end - p.start + 1 - (p.overlap ? 1 : 0);
  if (frames <= 0) {
    frames = 1;
  }
  return static_cast<float>(p.start) +
         (t - 1.0f) * static_cast<float>(frames) / static_cast<float>(p.length);
}

void SelectPlacements(FigureInstance& f, float frame, const Choreography& chor) {
  FigureRuntime& rt = f.runtime;
  std::vector<float> locals(f.tracks.size(), 0.0f);
  bool changed = rt.figure && rt.drivers.size() != rt.figure->nodes.size();
  for (std::size_t t = 0; t < f.tracks.size(); ++t) {
    Track& track = f.tracks[t];
    int index = track.placements.empty() ? -1 : 0;
    float local = frame;
    while (index >= 0 && static_cast<std::size_t>(index) + 1 < track.placements.size() &&
           local - static_cast<float>(track.placements[static_cast<std::size_t>(index)].Span()) >=
               0.0f) {
      local -= static_cast<float>(track.placements[static_cast<std::size_t>(index)].Span());
      ++index;
    }
    if (index != track.current) {
      changed = true;
      track.current = index;
    }
    locals[t] = local;
    if (t == 0) {
      rt.track0Local = local;
    }
  }
  if (changed && rt.figure) {
    RebuildActionState(f);
  }
  rt.actionFrames.assign(f.tracks.size(), 1.0f);
  for (std::size_t t = 0; t < f.tracks.size(); ++t) {
    const Track& track = f.tracks[t];
    if (track.current < 0) {
      continue;
    }
    const ActionPlacement& current = track.placements[static_cast<std::size_t>(track.current)];
    if (current.tween) {
      const ActionPlacement* held = HeldPlacement(track);
      rt.actionFrames[t] = held ? held->end : 1.0f;
    } else {
      rt.actionFrames[t] = ActionFrame(f, current, locals[t], frame, chor);
    }
  }
}

void PlaceFigure(const Transform& incoming, FigureInstance& f, float frame,
                 const Choreography& chor) {
  FigureRuntime& rt = f.runtime;
  const ChannelSet* set = f.placement.get();
  if (f.dynamics && f.dynamics->Covers(frame)) {
    const ChannelSet& m = *f.dynamics->motion;
    const Vector3 position{EvaluateChannel(m, 0, frame), EvaluateChannel(m, 1, frame),
                           EvaluateChannel(m, 2, frame)};
    const Quaternion q{EvaluateChannel(m, 3, frame), EvaluateChannel(m, 4, frame),
                       EvaluateChannel(m, 5, frame), EvaluateChannel(m, 6, frame)};
    rt.placement = incoming * Transform::FromParts(BodyRotation(q), position);
  } else if (set) {
    const PathPosition at = position_on_path(chor, set, frame);
    Matrix3 heading = Matrix3::Identity();
    switch (f.role) {
      case kFacingTarget: {
        const ChannelSet* target = f.Target() ? f.Target() : chor.cameraTarget.get();
        const PathPosition aim = position_on_path(chor, target, frame);
        heading = FacingRotation(at.position - aim.position);
        break;
      }
      case kPositionOnly:
        break;
      case kBentAlongPath:
        if (DrawMode(f) == kDrawBound) {
          heading = FacingRotation(at.direction);
        }
        break;
      default:
        heading = FacingRotation(at.direction);
        break;
    }
    const Transform turn = PlacementTurn(*set, frame);
    const Transform pathFrame = Transform::FromParts(heading, at.position) * turn;
    rt.placement = BentInPlace(f) ? pathFrame : incoming * pathFrame;
  } else {
    rt.placement = incoming;
  }
  rt.scale = {1, 1, 1};
  if (set) {
    using namespace placement_channel;
    if (set->Count() > kAllScale && set->channels[kAllScale].keys) {
      const float all = EvaluateChannel(*set, kAllScale, frame) * 0.01f;
      rt.scale = {all, all, all};
    } else {
      rt.scale = {EvaluateChannel(*set, kXScale, frame) * 0.01f,
                  EvaluateChannel(*set, kYScale, frame) * 0.01f,
                  EvaluateChannel(*set, kZScale, frame) * 0.01f};
    }
  }
}

bool LoadInstance(FigureInstance& f, std::string* message) {
  if (f.runtime.figure) {
    return true;
  }
  set_cursor("Snooze");
  SetStatusText("Loading [" + f.fileName + "]");
  std::vector<std::string> problems;
  Result<Figure> figure = OpenFigure(f.fileName, SegmentRegistry::Process(), &problems);
  SetStatusText("");
  set_cursor("WakeUp");
  if (!figure) {
    if (message) {
      *message = figure.failure().message + ": " + f.fileName;
    }
    log_line(f.fileName + ": " + figure.failure().detail);
    return false;
  }
  f.runtime.figure = std::make_unique<Figure>(std::move(*figure));
  f.runtime.problems = std::move(problems);
  f.runtime.actions.clear();
  f.runtime.drivers.clear();
  for (Track& t : f.tracks) {
    t.current = -1;  // the action state is rebuilt for the new figure
  }
  return true;
}

void PoseInstance(FigureInstance& f, float frame, const Choreography& chor) {
  FigureRuntime& rt = f.runtime;
  if (!rt.figure) {
    return;
  }
  Figure& figure = *rt.figure;
  auto driverOf = [&](int n) -> const NodeDriver* {
    if (static_cast<std::size_t>(n) >= rt.drivers.size()) {
      return nullptr;
    }
    const NodeDriver& d = rt.drivers[static_cast<std::size_t>(n)];
    return d.action && d.track >= 0 && static_cast<std::size_t>(d.track) < rt.actionFrames.size()
               ? &d
               : nullptr;
  };
  DeformFigure(figure, [&](int n) {
    const NodeDriver* d = driverOf(n);
    if (!d) {
      return NodeLayer{};
    }
    return NodeLayer{d->action->Entry(figure.nodes[static_cast<std::size_t>(n)].name),
                     rt.actionFrames[static_cast<std::size_t>(d->track)]};
  });
  PoseFigure(figure, rt.placement, rt.scale, [&](const Figure& fig, int n) {
    const FigureNode& node = fig.nodes[static_cast<std::size_t>(n)];
    const NodeDriver* d = driverOf(n);
    if (!d) {
      return RestPose(node);
    }
    NodePose pose = EvaluatePose(node, d->action->ChannelsOf(node.name),
                                 rt.actionFrames[static_cast<std::size_t>(d->track)]);
    pose.translation *= SizeFactor(fig, *d->action);
    return pose;
  });
  if (f.role == kBentAlongPath) {
    BendAlongPath(f, frame, chor);
  }
  f.state &= static_cast<std::uint8_t>(~kPoseOutOfDate);
}

void BendAlongPath(FigureInstance& f, float frame, const Choreography& chor) {
  if (!f.runtime.figure || !f.placement) {
    return;
  }
  const Path* path = chor.PathOf(f.placement.get());
  if (!path || !path->first) {
    return;
  }
  const PathPosition at = position_on_path(chor, f.placement.get(), frame);
  const float s = std::max(at.distance, 0.0f);
  const PathMeasure measure = MeasurePath(*path);
  const float length = measure.total;
  const ControlPoint* last = path->first;
  while (last->next && !last->ClosesLoop()) {
    last = last->next;
  }
  // The posed geometry is taken back into the figure's own axes at P: the
  // placement without its Roll, Tilt and Swivel (in Bound mode the placement
  // also carries the path's heading and the incoming transform).
  Transform base = f.runtime.placement;
  if (!(f.dynamics && f.dynamics->Covers(frame))) {
    base = base * PlacementTurn(*f.placement, frame).TransposedCopy();
  }
  const Matrix3 toFigure = Inverse(base.Linear());
  const Transform figureAxes = Transform::FromParts(toFigure, -(toFigure * base.Translation()));
  for (FigureNode& node : f.runtime.figure->nodes) {
    if (!node.segment) {
      continue;
    }
    const Transform g = figureAxes * node.geometryTransform;
    node.segment->working.ForEachPoint([&](ControlPoint& p) {
      const Vector3 q = g.ApplyToPoint(p.position);
      const float d = s - q.z;
      Vector3 direction, onPath;
      if (d >= 0.0f && d < length) {
        const PathPosition there = PointAtDistance(*path, measure, d);
        direction = there.direction;
        onPath = there.position;
      } else if (d >= length) {
        direction = Normalized(last->outTangent);
        onPath = last->position - direction * (d - length);
      } else {
        direction = Normalized(path->first->inTangent);
        onPath = path->first->position + direction * (-d);
      }
      const Matrix3 turn = FacingRotation(direction);
      p.position = onPath + turn * Vector3{q.x, q.y, 0.0f};
      p.inTangent = turn * g.ApplyToDirection(p.inTangent);
      p.outTangent = turn * g.ApplyToDirection(p.outTangent);
    });
    // The working copy now holds world positions.
    node.geometryTransform = Transform::Identity();
  }
}

int evaluate_figures(const Transform& incoming, std::vector<FigureInstance>& figures, float frame,
                     Choreography& chor, const EvaluationOptions& options, std::string* message) {
  for (FigureInstance& f : figures) {
    if (const int code = evaluate_figures(incoming, f.children, frame, chor, options, message)) {
      return code;
    }
    const bool refresh = options.force || (f.state & kNeedsLoading) != 0;
    if (refresh && !f.Hidden()) {
      f.state |= kPoseOutOfDate;
    }
    PlaceFigure(incoming, f, frame, chor);
    if (refresh) {
      if (!LoadInstance(f, message)) {
        return kFigureLoadError;
      }
      f.state &= static_cast<std::uint8_t>(~kNeedsLoading);
    }
    SelectPlacements(f, frame, chor);
    if (options.draw && !f.Hidden()) {
      PoseInstance(f, frame, chor);
      if (options.sink) {
        if (const int code = options.sink(f, f.runtime.placement, f.runtime.scale)) {
          return code;
        }
      }
    }
  }
  return 0;
}

}  // namespace zentrope
