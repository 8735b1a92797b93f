// The channel editor's rules, as library code: moving and scaling selected
// keys with their constraints, picking the nearest key, and the undo history
// of edits ("Move", "Add", "Delete", "Scale", "Bias").
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "anim/channel_set.h"
#include "shell/settings.h"

namespace zentrope {

// Adds (dx, dy) to every selected key of the editable channels, then keeps
// each on a whole frame at least one frame from its neighbours (the first
// key stays at frame 1).
void MoveSelectedKeys(ChannelSet& set, float dx, float dy);
// x := (x − pivot)·sx + pivot (not below 0), y := y·sy for every selected key,
// then keeps keys at least 0.01 apart without rounding.
void ScaleSelectedKeys(ChannelSet& set, float pivot, float sx, float sy);

struct KeyPick {
  int channel = -1;
  ControlPoint* key = nullptr;
};
// The nearest key of the editable channels by dx² + (dy·verticalScale)²,
// closer than 32000 in that measure.
std::optional<KeyPick> PickKey(ChannelSet& set, float x, float y, float verticalScale);

// A copy of a key as undo keeps it.
struct KeyCopy {
  int channel = 0;
  Vector3 position;
  Bias in, out;
  std::uint16_t flags = 0;
  std::int32_t serial = 0;
};

class UndoRecord {
 public:
  virtual ~UndoRecord() = default;  // destroy
  virtual void Undo(ChannelSet& set) = 0;
  virtual void Redo(ChannelSet& set) = 0;
  virtual std::string_view Name() const = 0;
};

// "Move", "Scale" or "Bias": the selected keys of every editable channel,
// taken before the edit; undo and redo swap them with the live keys.
std::unique_ptr<UndoRecord> SnapshotSelection(ChannelSet& set, std::string_view name);
// "Add": the key just added with SetKey.
std::unique_ptr<UndoRecord> AddRecord(int channel, const ControlPoint& added);
// "Delete": the keys about to be deleted.
std::unique_ptr<UndoRecord> DeleteRecord(std::vector<KeyCopy> deleted);

class UndoHistory {
 public:
  // levels < 0 means no limit.
  explicit UndoHistory(int levels = 5) : levels_(levels) {}
  // CHANNEL "UnlimitedUndo" (held as a negative level count) and "UndoLevels".
  static UndoHistory FromSettings(const SettingsFile& settings);

  void Push(std::unique_ptr<UndoRecord> record);
  bool Undo(ChannelSet& set);
  bool Redo(ChannelSet& set);
  // "Undo Move\tCtrl-Z", or empty when there is nothing to undo.
  std::string UndoMenuText() const;
  std::string RedoMenuText() const;
  int Levels() const { return levels_; }
  std::size_t Depth() const { return undo_.size(); }

 private:
  int levels_;
  std::deque<std::unique_ptr<UndoRecord>> undo_;
  std::vector<std::unique_ptr<UndoRecord>> redo_;
};

}  // namespace zentrope
