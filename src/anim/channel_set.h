// ChannelSet: the animation record of one item: a named, fixed-length array
// of channels, each a list of keys read off as a cubic curve over frames,
// with a default value per channel for channels without keys.
//
// Keys are ControlPoints (x = frame − 1, y = value) held in the set's arena;
// their number field carries the key's serial number, which identifies it
// across undo and redo. Sets that belong to one item are chained through
// next, which owns the following set.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/control_point.h"
#include "model/point_arena.h"

namespace zentrope {

inline constexpr std::uint8_t kChannelSetTag = 2;
inline constexpr std::uint16_t kChannelShown = 1;
inline constexpr std::uint16_t kChannelEditable = 2;

struct Channel {
  ControlPoint* keys = nullptr;  // first key, in frame order
  std::uint16_t flags = kChannelShown;
  std::int32_t editorWord = 0;
};

class ChannelSet {
 public:
  ChannelSet(std::string name, std::uint8_t count, std::uint8_t kind,
             std::span<const float> defaults);
  ChannelSet(const ChannelSet&) = delete;
  ChannelSet& operator=(const ChannelSet&) = delete;

  std::uint8_t tag = kChannelSetTag;
  std::uint8_t kind = 0;
  std::vector<Channel> channels;
  int currentChannel = -1;          // selected in an open channel editor
  std::span<const float> defaults;  // one per channel; a static table of the kind
  std::string referenceName;        // the associated object's name, "" for none
  const void* reference = nullptr;  // the object found by that name
  std::string name;
  std::unique_ptr<ChannelSet> next;  // the next set of the item's chain
  std::int16_t placement[4] = {-1, -1, -1, -1};
  std::int32_t reserved = 0;
  float view[4] = {0.0f, 5.0f, -1.0f, 1.0f};  // origins and scales of the editor

  std::uint8_t Count() const { return static_cast<std::uint8_t>(channels.size()); }
  float Default(int index) const;
  PointArena& Arena() { return arena_; }

 private:
  PointArena arena_;
};

// Frees a channel set held in a slot: its keys, its channels and the sets
// chained after it; the slot is left empty.
void FreeChannelSet(std::unique_ptr<ChannelSet>& slot);

// A fresh key serial number from the process-wide counter.
std::int32_t NextKeySerial();

std::unique_ptr<ChannelSet> CreateChannelSet(std::string name, std::uint8_t count,
                                             std::uint8_t kind, std::span<const float> defaults);

// The value of a key list at a user frame (frame 1 is x = 0): stepped 8
// forward differences per span from the later key, interpolated linearly
// inside the step that brackets the frame.
float EvaluateKeys(const ControlPoint* first, float frame);
// Index ≥ count gives 0; a channel without keys its default.
float EvaluateChannel(const ChannelSet& set, int index, float frame);
float EvaluateChannel(const ChannelSet& set, int index, float frame, bool& usedCurve);

// Creates or updates the key at a frame and recomputes the tangents around
// it. An empty channel keyed after frame 1 first gets a key at frame 1 with
// the default. Returns the key, or null when memory runs out.
ControlPoint* SetKey(ChannelSet& set, int index, float frame, float value);
// The form old action files use while converting: no tangents.
ControlPoint* SetKeyRaw(ChannelSet& set, int index, float frame, float value);

bool HasKeyAt(const ChannelSet& set, int index, std::int16_t frame);
float NextKeyFrame(const ControlPoint* first, float frame);
float NextKeyFrame(const ChannelSet& set, float frame);
float PreviousKeyFrame(const ControlPoint* first, float frame);

// Inserts (delta > 0) or deletes (delta < 0) frames after frame in every
// channel: later keys move by delta; keys that fall to or before frame are
// deleted.
void ShiftFrames(ChannelSet& set, std::int16_t frame, std::int16_t delta);

// Unlinks a key from a channel and gives it back to the set.
void DeleteKey(ChannelSet& set, Channel& channel, ControlPoint* key);

// The key with a serial number in a channel, or null.
ControlPoint* FindKeyBySerial(const Channel& channel, std::int32_t serial);

// Recomputes the tangents of every key of every channel.
void ComputeChannelTangents(ChannelSet& set);

}  // namespace zentrope
