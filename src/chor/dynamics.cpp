// The dynamics simulation.
#include "chor/dynamics.h"

#include <algorithm>
#include <cmath>

#include "chor/frame_evaluation.h"
#include "model/text_file.h"
#include "shell/interrupt.h"

namespace zentrope {

namespace {

Quaternion OrientationOf(const BodyState& s) {
  return {s[3], s[4], s[5], s[6]};
}

BodyState Add(const BodyState& x, const BodyState& k, float h) {
  BodyState out;
  for (std::size_t i = 0; i < kBodyStateSize; ++i) {
    out[i] = x[i] + k[i] * h;
  }
  return out;
}

// The lowest point of the posed figure, relative to its placement.
float LowestPoint(const FigureInstance& f) {
  if (!f.runtime.figure) {
    return 0.0f;
  }
  bool any = false;
  float lowest = 0.0f;
  for (const FigureNode& node : f.runtime.figure->nodes) {
    if (!node.segment) {
      continue;
    }
    node.segment->working.ForEachPoint([&](const ControlPoint& p) {
      const float y = node.geometryTransform.ApplyToPoint(p.position).y;
      lowest = any ? std::min(lowest, y) : y;
      any = true;
    });
  }
  return any ? lowest - f.runtime.placement.Translation().y : 0.0f;
}

BodyState Gather(const FigureInstance& f) {
  const Quaternion q = BodyQuaternion(f.runtime.placement.Linear());
  const Vector3 p = f.runtime.placement.Translation();
  return {p.x, p.y, p.z, q.x, q.y, q.z, q.w, 0, 0, 0, 0, 0, 0};
}

void Store(ChannelSet& motion, const BodyState& s, float frame) {
  for (int i = 0; i < 7; ++i) {
    SetKey(motion, i, frame, s[static_cast<std::size_t>(i)]);
  }
}

bool Active(const Dynamics& d, float frame) {
  for (const auto& [start, end] : d.ranges) {
    if (start <= frame && frame < end) {
      return true;
    }
  }
  return false;
}

}  // namespace

Matrix3 BodyRotation(const Quaternion& q) {
  const double x = q.x, y = q.y, z = q.z, w = q.w;
  const double n = x * x + y * y + z * z + w * w;
  const double s = n > 0.0 ? 2.0 / n : 0.0;
  auto f = [](double v) { return static_cast<float>(v); };
  return Matrix3{{f(1 - s * (y * y + z * z)), f(s * (x * y - w * z)), f(s * (x * z + w * y)),
                  f(s * (x * y + w * z)), f(1 - s * (x * x + z * z)), f(s * (y * z - w * x)),
                  f(s * (x * z - w * y)), f(s * (y * z + w * x)), f(1 - s * (x * x + y * y))}};
}

Quaternion BodyQuaternion(const Matrix3& rotation) {
  // The stored conversion pair describes the conjugate; undo that here.
  return Conjugate(MatrixToQuaternion(rotation));
}

BodyState BodyDerivative(const Body& body, const BodyState& s, float /*t*/) {
  BodyState d{};
  const float im = body.inverseMass;
  // Position follows the momentum; a body of infinite mass does not move.
  d[0] = s[7] * im;
  d[1] = s[8] * im;
  d[2] = s[9] * im;
  // Orientation turns with the angular velocity (unit inertia per mass):
  // q' = ½ (ω, 0) q.
  const Quaternion omega{s[10] * im, s[11] * im, s[12] * im, 0.0f};
  const Quaternion dq = omega * OrientationOf(s) * 0.5f;
  d[3] = dq.x;
  d[4] = dq.y;
  d[5] = dq.z;
  d[6] = dq.w;
  // Gravity is the only force; it exerts no torque.
  d[8] = im != 0.0f ? -kGravity / im : 0.0f;
  return d;
}

BodyState StepBody(const Body& body, const BodyState& x, float t, float h) {
  const BodyState k1 = BodyDerivative(body, x, t);
  const BodyState k2 = BodyDerivative(body, Add(x, k1, h / 2), t + h / 2);
  const BodyState k3 = BodyDerivative(body, Add(x, k2, h / 2), t + h / 2);
  const BodyState k4 = BodyDerivative(body, Add(x, k3, h), t + h);
  BodyState next;
  for (std::size_t i = 0; i < kBodyStateSize; ++i) {
    next[i] = x[i] + h * (k1[i] + 2 * k2[i] + 2 * k3[i] + k4[i]) / 6;
  }
  const float qn =
      std::sqrt(next[3] * next[3] + next[4] * next[4] + next[5] * next[5] + next[6] * next[6]);
  if (qn > 0.0f) {
    for (std::size_t i = 3; i < 7; ++i) {
      next[i] /= qn;
    }
  }
  // Ground contact: the body's lowest point may not pass below y = 0.
  const float im = body.inverseMass;
  const float ground = -body.lowest;
  if (im == 0.0f || next[1] >= ground) {
    return next;
  }
  const double g = kGravity;
  const double y0 = x[1], v0 = static_cast<double>(x[8]) * im;
  const double c = std::max(0.0, y0 - ground);
  // Under gravity alone the fall within the step is a parabola; meet the
  // ground where it does and bounce off with the restitution.
  double tau = (v0 + std::sqrt(std::max(0.0, v0 * v0 + 2.0 * g * c))) / g;
  tau = std::clamp(tau, 0.0, static_cast<double>(h));
  double v = -body.bounce * (v0 - g * tau);
  double remaining = h - tau;
  double y = ground, vy = 0.0;
  for (int bounces = 0; bounces < 64; ++bounces) {
    if (v <= 1e-6 * g * h) {
      break;  // at rest on the ground
    }
    const double flight = 2.0 * v / g;
    if (flight >= remaining) {
      y = ground + v * remaining - 0.5 * g * remaining * remaining;
      vy = v - g * remaining;
      break;
    }
    remaining -= flight;
    v *= body.bounce;
  }
  next[1] = static_cast<float>(y);
  next[8] = static_cast<float>(vy / im);
  return next;
}

DynamicsRun RunDynamics(Choreography& chor, const std::function<bool()>& escape) {
  DynamicsRun run;
  float last = 0.0f;
  std::vector<FigureInstance*> bodies;
  for (FigureInstance& f : chor.figures) {
    if (!f.dynamics) {
      continue;
    }
    bodies.push_back(&f);
    for (const auto& range : f.dynamics->ranges) {
      last = std::max(last, range.second);
    }
  }
  // Frames are counted in integers (a float counter stops advancing at
  // 2^24), and never past the scene.
  const int sceneEnd = std::clamp<int>(chor.scene.length, 1, kMaxDynamicsFrame);
  if (!(last <= static_cast<float>(sceneEnd))) {
    run.code = kDynamicsFailed;
    run.message = "a dynamics range ends at frame " + FormatG(last) +
                  ", past the scene's last frame " + std::to_string(sceneEnd);
    return run;
  }
  const int lastFrame = static_cast<int>(last);
  // The run computes new motion in place of the old, which is kept aside
  // and put back unless the run completes: until a body starts, its path
  // places it.
  std::vector<std::unique_ptr<ChannelSet>> previous(bodies.size());
  for (std::size_t b = 0; b < bodies.size(); ++b) {
    previous[b] = std::move(bodies[b]->dynamics->motion);
  }
  auto restore = [&] {
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      bodies[b]->dynamics->motion = std::move(previous[b]);
      bodies[b]->state |= kPoseOutOfDate;
    }
    SetStatusText("");
  };
  std::vector<BodyState> states(bodies.size());
  std::vector<bool> wasActive(bodies.size(), false);
  const EvaluationOptions options{true, true, nullptr};
  chor.dynamicsUpToDate = false;
  for (int whole = 1; whole <= lastFrame; ++whole) {
    const auto frame = static_cast<float>(whole);
    if (escape && escape()) {
      restore();
      return run;
    }
    SetStatusText("Dynamics: frame " + std::to_string(static_cast<int>(frame)) + " of " +
                  std::to_string(static_cast<int>(last)));
    if (const int code = evaluate_figures(Transform::Identity(), chor.figures, frame, chor, options,
                                          &run.message)) {
      run.code = code;
      restore();
      return run;
    }
    for (std::size_t b = 0; b < bodies.size(); ++b) {
      FigureInstance& f = *bodies[b];
      Dynamics& d = *f.dynamics;
      if (!Active(d, frame)) {
        wasActive[b] = false;
        continue;
      }
      if (!wasActive[b]) {
        // A range starts: the body leaves its path at rest.
        std::unique_ptr<ChannelSet> held = std::move(d.motion);
        PlaceFigure(Transform::Identity(), f, frame, chor);
        d.motion = held ? std::move(held) : CreateDynamicsSet(f.fileName);
        states[b] = Gather(f);
        Store(*d.motion, states[b], frame);
      }
      wasActive[b] = true;
      const Body body{d.inverseMass, d.bounce, LowestPoint(f)};
      states[b] = StepBody(body, states[b], frame * kDynamicsStep, kDynamicsStep);
      if (!std::all_of(states[b].begin(), states[b].end(),
                       [](float v) { return std::isfinite(v); })) {
        run.code = kDynamicsFailed;
        run.message = f.fileName + ": the motion is no longer a number at frame " +
                      std::to_string(whole + 1) + " (mass or placement out of range)";
        restore();
        return run;
      }
      Store(*d.motion, states[b], frame + 1.0f);
      f.state |= kPoseOutOfDate;
    }
  }
  SetStatusText("");
  run.completed = true;
  chor.dynamicsUpToDate = true;
  return run;
}

}  // namespace zentrope
