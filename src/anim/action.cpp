// Skeletal poses from channel sets.
#include "anim/action.h"

#include <cmath>
#include <numbers>

#include "core/rotation.h"

namespace zentrope {

namespace {

constexpr double kRadians = std::numbers::pi / 180.0;

void ShiftSubtree(Action& action, const Figure& figure, float frame, std::int16_t delta) {
  const auto at = static_cast<std::int16_t>(frame);
  for (int n : figure.Subtree(figure.Patriarch())) {
    ActionEntry* e = action.Entry(figure.nodes[static_cast<std::size_t>(n)].name);
    if (!e) {
      continue;
    }
    if (e->channels) {
      ShiftFrames(*e->channels, at, delta);
    }
    ShiftMuscleFrames(e->muscle, at, delta);
    if (e->spine) {
      ShiftSpineFrames(*e->spine, at, delta);
    }
  }
}

}  // namespace

ActionEntry* Action::Entry(const std::string& segmentPath) {
  for (ActionEntry& e : entries) {
    if (e.segmentPath == segmentPath) {
      return &e;
    }
  }
  return nullptr;
}

ChannelSet* Action::ChannelsOf(const std::string& segmentPath) {
  ActionEntry* e = Entry(segmentPath);
  return e ? e->channels.get() : nullptr;
}

const ChannelSet* Action::ChannelsOf(const std::string& segmentPath) const {
  for (const ActionEntry& e : entries) {
    if (e.segmentPath == segmentPath) {
      return e.channels.get();
    }
  }
  return nullptr;
}

void Action::Bind(Figure& figure) const {
  for (FigureNode& node : figure.nodes) {
    node.channelSet = nullptr;
    for (const ActionEntry& e : entries) {
      if (e.segmentPath == node.name) {
        node.channelSet = e.channels.get();
      }
    }
  }
}

Vector3 OrientFromAngles(float latitude, float longitude) {
  const double lat = latitude * kRadians, lon = longitude * kRadians;
  return {static_cast<float>(-std::sin(lat) * std::sin(lon)), static_cast<float>(-std::cos(lat)),
          static_cast<float>(std::sin(lat) * std::cos(lon))};
}

void AnglesFromOrient(const Vector3& o, float& latitude, float& longitude) {
  const double x = o.x, y = o.y, z = o.z;
  longitude = static_cast<float>(std::atan2(-x, z) / kRadians);
  latitude = static_cast<float>(std::atan2(std::sqrt(z * z + x * x), -y) / kRadians);
}

NodePose EvaluatePose(const FigureNode& node, const ChannelSet* k, float frame, Vector3* angles) {
  NodePose pose;
  Vector3 a = node.rotation;  // Latitude, Longitude, Roll
  if (!k) {
    pose.rotation = BuildRollRotation({}, a).Linear();
    if (angles) {
      *angles = a;
    }
    return pose;
  }
  if (k->tag != kChannelSetTag) {
    if (angles) {
      *angles = a;
    }
    return pose;  // not a channel set: the matrix is left alone
  }
  pose.translation = {EvaluateChannel(*k, 0, frame), EvaluateChannel(*k, 1, frame),
                      EvaluateChannel(*k, 2, frame)};
  pose.scale = Vector3{EvaluateChannel(*k, 3, frame), EvaluateChannel(*k, 4, frame),
                       EvaluateChannel(*k, 5, frame)} *
               0.01f;
  bool used[3] = {};
  if (k->kind == kSkeletalKind) {
    if (k->channels.size() > 9 && k->channels[9].keys) {
      a.z = EvaluateChannel(*k, 9, frame);
    }
    const Vector3 orient{EvaluateChannel(*k, 6, frame, used[0]),
                         EvaluateChannel(*k, 7, frame, used[1]),
                         EvaluateChannel(*k, 8, frame, used[2])};
    if (used[0] || used[1] || used[2]) {
      AnglesFromOrient(orient, a.x, a.y);
    }
    pose.rotation = BuildRollRotation(pose.translation, a).Linear();
  } else {
    // The older layout keys the angles themselves: 6 the third, 7 the
    // second, 8 the first.
    const float third = EvaluateChannel(*k, 6, frame, used[0]);
    const float second = EvaluateChannel(*k, 7, frame, used[1]);
    const float first = EvaluateChannel(*k, 8, frame, used[2]);
    if (used[0]) {
      a.z = third;
    }
    if (used[1]) {
      a.y = second;
    }
    if (used[2]) {
      a.x = first;
    }
    pose.rotation = BuildRotation(pose.translation, a).Linear();
  }
  if (angles) {
    *angles = a;
  }
  return pose;
}

PoseFunction ActionPose(const Action& action, float frame) {
  return [&action, frame](const Figure& figure, int n) {
    const FigureNode& node = figure.nodes[static_cast<std::size_t>(n)];
    const auto* channels = static_cast<const ChannelSet*>(node.channelSet);
    NodePose pose = EvaluatePose(node, channels, frame);
    // An action made on a larger or smaller figure moves this one in
    // proportion.
    pose.translation *= SizeFactor(figure, action);
    return pose;
  };
}

float SizeFactor(const Figure& figure, const Action& action) {
  if (action.referenceSize == 0.0f || figure.nodes.empty()) {
    return 1.0f;
  }
  const FigureNode& patriarch = figure.nodes[0];
  return patriarch.scale.y * patriarch.size / action.referenceSize;
}

bool SetPoseKey(Action& action, Figure& figure, int node, int index, float frame, float value,
                float rest) {
  FigureNode& n = figure.nodes[static_cast<std::size_t>(node)];
  ActionEntry* entry = action.Entry(n.name);
  if (!entry) {
    ActionEntry fresh;
    fresh.segmentPath = n.name;
    action.entries.push_back(std::move(fresh));
    entry = &action.entries.back();
    action.Bind(figure);
  }
  if (!entry->channels) {
    entry->channels = CreateChannelSet(n.name, kSkeletalCount, kSkeletalKind, kSkeletalDefaults);
    n.channelSet = entry->channels.get();
  }
  ChannelSet& set = *entry->channels;
  if (frame > 1.0f && !HasKeyAt(set, index, 1)) {
    if (!SetKey(set, index, 1.0f, rest)) {
      return false;
    }
  }
  return SetKey(set, index, frame, value) != nullptr;
}

bool SetOrientKeys(Action& action, Figure& figure, int node, float frame, float latitude,
                   float longitude) {
  const FigureNode& n = figure.nodes[static_cast<std::size_t>(node)];
  // Keyed at the scale of the channels' defaults (0, −100, 0), so that a
  // keyed channel and an unkeyed one make the intended direction together.
  const Vector3 restDirection = OrientFromAngles(n.rotation.x, n.rotation.y) * kOrientScale;
  const Vector3 d = OrientFromAngles(latitude, longitude) * kOrientScale;
  return SetPoseKey(action, figure, node, 6, frame, d.x, restDirection.x) &&
         SetPoseKey(action, figure, node, 7, frame, d.y, restDirection.y) &&
         SetPoseKey(action, figure, node, 8, frame, d.z, restDirection.z);
}

void DeformFigure(Figure& figure, Action& action, float frame) {
  DeformFigure(figure, [&](int n) {
    return NodeLayer{action.Entry(figure.nodes[static_cast<std::size_t>(n)].name), frame};
  });
}

void DeformFigure(Figure& figure, const std::function<NodeLayer(int node)>& layer) {
  for (std::size_t n = 0; n < figure.nodes.size(); ++n) {
    FigureNode& node = figure.nodes[n];
    node.spineFrames.clear();
    if (!node.segment) {
      continue;
    }
    Segment& segment = *node.segment;
    segment.ResetWorkingCopy();
    const NodeLayer l = layer(static_cast<int>(n));
    ActionEntry* entry = l.entry;
    const float frame = l.frame;
    if (!entry) {
      continue;
    }
    if (!entry->muscle.empty()) {
      ApplyMuscle(entry->muscle, segment.Splines(), segment.working, frame);
      segment.working.PlaceStacksAndTangents();
    }
    if (entry->spine) {
      if (entry->spine->binding.empty()) {
        BindSpine(*entry->spine, segment.Splines());
      }
      ApplySpine(*entry->spine, segment.working, frame);
      for (const SpinePoint& p : entry->spine->points) {
        node.spineFrames.emplace_back(p.rest, p.transform);
      }
    }
  }
}

void InsertFrames(Action& action, const Figure& figure, float frame, std::int16_t count) {
  ShiftSubtree(action, figure, frame, count);
}

void DeleteFrames(Action& action, const Figure& figure, float frame, std::int16_t count) {
  ShiftSubtree(action, figure, frame, static_cast<std::int16_t>(-count));
}

}  // namespace zentrope
