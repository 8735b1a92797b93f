// Channel evaluation and key operations.
#include "anim/channel_set.h"

#include <atomic>
#include <cmath>
#include <limits>

#include "core/spline.h"
#include "model/attach_stack.h"

namespace zentrope {

namespace {

std::atomic<std::int32_t> serialCounter{0};

// trunc of a float as a 16-bit integer, without undefined behaviour.
std::int16_t Trunc16(float v) {
  if (!(v > -32768.0f)) {
    return std::isnan(v) ? 0 : -32768;
  }
  if (v > 32767.0f) {
    return 32767;
  }
  return static_cast<std::int16_t>(std::trunc(v));
}

ControlPoint* NewKey(ChannelSet& set, ControlPoint* after, Channel& channel, float x, float y) {
  ControlPoint* k = set.Arena().Create();
  if (!k) {
    return nullptr;
  }
  k->position = {x, y, 0.0f};
  k->number = NextKeySerial();
  if (after) {
    k->flags = static_cast<std::uint16_t>(after->flags & kPointSmooth);
    k->SetInBias(after->InBias());
    k->SetOutBias(after->OutBias());
    k->prev = after;
    k->next = after->next;
    if (after->next) {
      after->next->prev = k;
    }
    after->next = k;
  } else {
    // A first key: smooth and neutral, ahead of whatever the channel holds.
    k->next = channel.keys;
    if (channel.keys) {
      channel.keys->prev = k;
    }
    channel.keys = k;
  }
  return k;
}

ControlPoint* SetKeyImpl(ChannelSet& set, int index, float frame, float value, bool tangents) {
  if (index < 0 || index >= set.Count()) {
    return nullptr;
  }
  Channel& channel = set.channels[static_cast<std::size_t>(index)];
  const float f = frame - 1.0f;
  ControlPoint* predecessor = nullptr;
  for (ControlPoint* k = channel.keys; k; k = NextInTraversal(k)) {
    if (static_cast<float>(Trunc16(k->position.x)) > f) {
      break;
    }
    if (static_cast<float>(Trunc16(k->position.x + 0.5f)) == f) {
      k->position.y = value;
      if (tangents) {
        RecomputeAfterEdit(*k);
      }
      return k;
    }
    predecessor = k;
  }
  if (!channel.keys && f != 0.0f) {
    predecessor = NewKey(set, nullptr, channel, 0.0f, set.Default(index));
    if (!predecessor) {
      return nullptr;
    }
    if (tangents) {
      RecomputeAfterEdit(*predecessor);
    }
  }
  ControlPoint* k = NewKey(set, predecessor, channel, f, value);
  if (k && tangents) {
    RecomputeAfterEdit(*k);
  }
  return k;
}

}  // namespace

ChannelSet::ChannelSet(std::string nameIn, std::uint8_t count, std::uint8_t kindIn,
                       std::span<const float> defaultsIn)
    : kind(kindIn), channels(count), defaults(defaultsIn), name(std::move(nameIn)) {}

float ChannelSet::Default(int index) const {
  return index >= 0 && static_cast<std::size_t>(index) < defaults.size()
             ? defaults[static_cast<std::size_t>(index)]
             : 0.0f;
}

void FreeChannelSet(std::unique_ptr<ChannelSet>& slot) {
  slot.reset();
}

std::int32_t NextKeySerial() {
  return serialCounter.fetch_add(1);
}

std::unique_ptr<ChannelSet> CreateChannelSet(std::string name, std::uint8_t count,
                                             std::uint8_t kind, std::span<const float> defaults) {
  return std::make_unique<ChannelSet>(std::move(name), count, kind, defaults);
}

float EvaluateKeys(const ControlPoint* first, float frame) {
  if (!first) {
    return 0.0f;
  }
  const float f = frame - 1.0f;
  if (f == 0.0f || !first->next || first->ClosesLoop()) {
    return first->position.y;
  }
  const ControlPoint* k = first;
  while (true) {
    const ControlPoint* n = NextInTraversal(k);
    if (!n) {
      break;
    }
    if (n->position.x < f) {
      k = n;
      continue;
    }
    ForwardDifferences fd;
    ForwardDifferenceSetup(fd, n->position, k->position, n->outTangent, k->inTangent, kDrawSteps);
    Vector3 q = fd.f;
    for (int i = 0; i < kDrawSteps; ++i) {
      const Vector3 qp = q;
      ForwardDifferenceStep(fd);
      q = fd.f;
      if (q.x <= f) {
        return q.y + (f - q.x) / (qp.x - q.x) * (qp.y - q.y);
      }
    }
    k = n;
  }
  return k->position.y;
}

float EvaluateChannel(const ChannelSet& set, int index, float frame, bool& usedCurve) {
  usedCurve = false;
  if (index < 0 || index >= set.Count()) {
    return 0.0f;
  }
  const Channel& channel = set.channels[static_cast<std::size_t>(index)];
  if (!channel.keys) {
    return set.Default(index);
  }
  usedCurve = true;
  return EvaluateKeys(channel.keys, frame);
}

float EvaluateChannel(const ChannelSet& set, int index, float frame) {
  bool used = false;
  return EvaluateChannel(set, index, frame, used);
}

ControlPoint* SetKey(ChannelSet& set, int index, float frame, float value) {
  return SetKeyImpl(set, index, frame, value, true);
}

ControlPoint* SetKeyRaw(ChannelSet& set, int index, float frame, float value) {
  return SetKeyImpl(set, index, frame, value, false);
}

bool HasKeyAt(const ChannelSet& set, int index, std::int16_t frame) {
  if (index < 0 || index >= set.Count()) {
    return false;
  }
  const float x = static_cast<float>(frame - 1);
  for (const ControlPoint* k = set.channels[static_cast<std::size_t>(index)].keys; k;
       k = NextInTraversal(k)) {
    if (k->position.x == x) {
      return true;
    }
  }
  return false;
}

namespace {

constexpr float kAbsentFrame = 32000.0f;

}  // namespace

float NextKeyFrame(const ControlPoint* first, float frame) {
  const float f = frame - 1.0f;
  for (const ControlPoint* k = first; k; k = NextInTraversal(k)) {
    if (k->position.x > f) {
      return k->position.x + 1.0f >= kAbsentFrame ? f + 1.0f : k->position.x + 1.0f;
    }
  }
  return f + 1.0f;
}

float NextKeyFrame(const ChannelSet& set, float frame) {
  const float current = frame;
  float best = std::numeric_limits<float>::max();
  for (const Channel& c : set.channels) {
    const float next = NextKeyFrame(c.keys, frame);
    if (next != current && next < best) {
      best = next;
    }
  }
  return best == std::numeric_limits<float>::max() ? current : best;
}

float PreviousKeyFrame(const ControlPoint* first, float frame) {
  const float f = frame - 1.0f;
  float best = 0.0f;
  if (first) {
    for (const ControlPoint* k = NextInTraversal(first); k; k = NextInTraversal(k)) {
      if (k->position.x < f && k->position.x > best) {
        best = k->position.x;
      }
    }
  }
  return best + 1.0f;
}

void DeleteKey(ChannelSet& set, Channel& channel, ControlPoint* key) {
  if (!key) {
    return;
  }
  ControlPoint* prev = key->prev;
  ControlPoint* next = key->next;
  if (key->ClosesLoop()) {
    if (prev && prev != key) {
      prev->Set(kPointLoopClosing, true);
    }
  }
  if (prev && prev->next == key) {
    prev->next = next == key ? nullptr : next;
  }
  if (next && next->prev == key) {
    next->prev = prev == key ? nullptr : prev;
  }
  if (channel.keys == key) {
    channel.keys = (next && next != key) ? next : nullptr;
    if (channel.keys && channel.keys->prev && !channel.keys->prev->ClosesLoop()) {
      channel.keys->prev = nullptr;
    }
  }
  set.Arena().Release(key);
}

void ShiftFrames(ChannelSet& set, std::int16_t frame, std::int16_t delta) {
  const int g = frame - 1;
  for (Channel& channel : set.channels) {
    ControlPoint* anchor = nullptr;
    ControlPoint* k = channel.keys;
    while (k && Trunc16(k->position.x) <= g) {
      anchor = k;
      k = NextInTraversal(k);
    }
    while (k) {
      ControlPoint* following = NextInTraversal(k);
      k->position.x += static_cast<float>(delta);
      if (k->position.x <= static_cast<float>(g) && anchor) {
        DeleteKey(set, channel, k);
      }
      k = following;
    }
  }
}

ControlPoint* FindKeyBySerial(const Channel& channel, std::int32_t serial) {
  for (ControlPoint* k = channel.keys; k; k = NextInTraversal(k)) {
    if (k->number == serial) {
      return k;
    }
  }
  return nullptr;
}

void ComputeChannelTangents(ChannelSet& set) {
  for (Channel& c : set.channels) {
    ComputeSplineTangents(c.keys);
  }
}

}  // namespace zentrope
