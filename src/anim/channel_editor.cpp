// Channel editor rules and undo records.
#include "anim/channel_editor.h"

#include <cmath>

#include "core/spline.h"
#include "model/attach_stack.h"

namespace zentrope {

namespace {

bool Editable(const Channel& c) {
  return (c.flags & kChannelEditable) != 0;
}

template <typename F>
void ForSelected(ChannelSet& set, F&& f) {
  for (std::size_t i = 0; i < set.channels.size(); ++i) {
    Channel& c = set.channels[i];
    if (!Editable(c)) {
      continue;
    }
    for (ControlPoint* k = c.keys; k; k = NextInTraversal(k)) {
      if (k->Has(kPointSelected)) {
        f(static_cast<int>(i), c, *k);
      }
    }
  }
}

void Constrain(Channel& c, ControlPoint& k, float gap, bool round) {
  if (&k == c.keys) {
    k.position.x = 0.0f;
  } else if (k.prev && k.position.x < k.prev->position.x + gap) {
    k.position.x = k.prev->position.x + gap;
  } else if (k.next && k.next != c.keys && k.position.x > k.next->position.x - gap) {
    k.position.x = k.next->position.x - gap;
  }
  if (round) {
    k.position.x = std::floor(k.position.x + 0.5f);
  }
}

KeyCopy CopyOf(int channel, const ControlPoint& k) {
  return {channel, k.position, k.InBias(), k.OutBias(), k.flags, k.number};
}

void Restore(ControlPoint& k, const KeyCopy& c) {
  k.position = c.position;
  k.SetInBias(c.in);
  k.SetOutBias(c.out);
  k.flags = c.flags;
  k.number = c.serial;
}

// Swaps each copy with the live key of the same serial.
void Swap(ChannelSet& set, std::vector<KeyCopy>& copies) {
  for (KeyCopy& copy : copies) {
    if (copy.channel < 0 || copy.channel >= set.Count()) {
      continue;
    }
    ControlPoint* live =
        FindKeyBySerial(set.channels[static_cast<std::size_t>(copy.channel)], copy.serial);
    if (!live) {
      continue;
    }
    const KeyCopy current = CopyOf(copy.channel, *live);
    Restore(*live, copy);
    copy = current;
    RecomputeAfterEdit(*live);
  }
}

// Sets a key again with SetKey and gives it back its identity.
void Recreate(ChannelSet& set, const KeyCopy& copy) {
  ControlPoint* k = SetKey(set, copy.channel, copy.position.x + 1.0f, copy.position.y);
  if (k) {
    Restore(*k, copy);
    RecomputeAfterEdit(*k);
  }
}

void Remove(ChannelSet& set, const KeyCopy& copy) {
  if (copy.channel < 0 || copy.channel >= set.Count()) {
    return;
  }
  Channel& c = set.channels[static_cast<std::size_t>(copy.channel)];
  if (ControlPoint* k = FindKeyBySerial(c, copy.serial)) {
    ControlPoint* neighbour = k->prev ? k->prev : k->next;
    DeleteKey(set, c, k);
    if (neighbour) {
      RecomputeAfterEdit(*neighbour);
    }
  }
}

class SwapRecord final : public UndoRecord {
 public:
  SwapRecord(std::vector<KeyCopy> copies, std::string_view name)
      : copies_(std::move(copies)), name_(name) {}
  void Undo(ChannelSet& set) override { Swap(set, copies_); }
  void Redo(ChannelSet& set) override { Swap(set, copies_); }
  std::string_view Name() const override { return name_; }

 private:
  std::vector<KeyCopy> copies_;
  std::string name_;
};

class AddKeyRecord final : public UndoRecord {
 public:
  explicit AddKeyRecord(KeyCopy added) : added_(added) {}
  void Undo(ChannelSet& set) override { Remove(set, added_); }
  void Redo(ChannelSet& set) override { Recreate(set, added_); }
  std::string_view Name() const override { return "Add"; }

 private:
  KeyCopy added_;
};

class DeleteKeysRecord final : public UndoRecord {
 public:
  explicit DeleteKeysRecord(std::vector<KeyCopy> deleted) : deleted_(std::move(deleted)) {}
  void Undo(ChannelSet& set) override {
    for (const KeyCopy& k : deleted_) {
      Recreate(set, k);
    }
  }
  void Redo(ChannelSet& set) override {
    for (const KeyCopy& k : deleted_) {
      Remove(set, k);
    }
  }
  std::string_view Name() const override { return "Delete"; }

 private:
  std::vector<KeyCopy> deleted_;
};

}  // namespace

void MoveSelectedKeys(ChannelSet& set, float dx, float dy) {
  std::vector<std::pair<Channel*, ControlPoint*>> moved;
  ForSelected(set, [&](int, Channel& c, ControlPoint& k) {
    k.position.x += dx;
    k.position.y += dy;
    moved.emplace_back(&c, &k);
  });
  for (auto& [c, k] : moved) {
    Constrain(*c, *k, 1.0f, true);
  }
  for (auto& [c, k] : moved) {
    RecomputeAfterEdit(*k);
  }
}

void ScaleSelectedKeys(ChannelSet& set, float pivot, float sx, float sy) {
  std::vector<std::pair<Channel*, ControlPoint*>> scaled;
  ForSelected(set, [&](int, Channel& c, ControlPoint& k) {
    k.position.x = (k.position.x - pivot) * sx + pivot;
    if (k.position.x < 0.0f) {
      k.position.x = 0.0f;
    }
    k.position.y *= sy;
    scaled.emplace_back(&c, &k);
  });
  for (auto& [c, k] : scaled) {
    Constrain(*c, *k, 0.01f, false);
  }
  for (auto& [c, k] : scaled) {
    RecomputeAfterEdit(*k);
  }
}

std::optional<KeyPick> PickKey(ChannelSet& set, float x, float y, float verticalScale) {
  std::optional<KeyPick> best;
  double bestMeasure = 32000.0;
  for (std::size_t i = 0; i < set.channels.size(); ++i) {
    if (!Editable(set.channels[i])) {
      continue;
    }
    for (ControlPoint* k = set.channels[i].keys; k; k = NextInTraversal(k)) {
      const double dx = static_cast<double>(k->position.x) - x;
      const double dy = (static_cast<double>(k->position.y) - y) * verticalScale;
      const double m = dx * dx + dy * dy;
      if (m < bestMeasure) {
        bestMeasure = m;
        best = KeyPick{static_cast<int>(i), k};
      }
    }
  }
  return best;
}

std::unique_ptr<UndoRecord> SnapshotSelection(ChannelSet& set, std::string_view name) {
  std::vector<KeyCopy> copies;
  ForSelected(set, [&](int i, Channel&, ControlPoint& k) { copies.push_back(CopyOf(i, k)); });
  return std::make_unique<SwapRecord>(std::move(copies), name);
}

std::unique_ptr<UndoRecord> AddRecord(int channel, const ControlPoint& added) {
  return std::make_unique<AddKeyRecord>(CopyOf(channel, added));
}

std::unique_ptr<UndoRecord> DeleteRecord(std::vector<KeyCopy> deleted) {
  return std::make_unique<DeleteKeysRecord>(std::move(deleted));
}

UndoHistory UndoHistory::FromSettings(const SettingsFile& settings) {
  const int levels = settings.read_setting_short("CHANNEL", "UndoLevels", 5);
  const bool unlimited = settings.read_setting_switch("CHANNEL", "UnlimitedUndo", true);
  return UndoHistory(unlimited ? -(levels > 0 ? levels : 1) : levels);
}

void UndoHistory::Push(std::unique_ptr<UndoRecord> record) {
  redo_.clear();
  if (levels_ == 0) {
    return;
  }
  undo_.push_back(std::move(record));
  if (levels_ > 0) {
    while (undo_.size() > static_cast<std::size_t>(levels_)) {
      undo_.pop_front();  // the oldest record is destroyed
    }
  }
}

bool UndoHistory::Undo(ChannelSet& set) {
  if (undo_.empty()) {
    return false;
  }
  std::unique_ptr<UndoRecord> r = std::move(undo_.back());
  undo_.pop_back();
  r->Undo(set);
  redo_.push_back(std::move(r));
  return true;
}

bool UndoHistory::Redo(ChannelSet& set) {
  if (redo_.empty()) {
    return false;
  }
  std::unique_ptr<UndoRecord> r = std::move(redo_.back());
  redo_.pop_back();
  r->Redo(set);
  undo_.push_back(std::move(r));
  return true;
}

std::string UndoHistory::UndoMenuText() const {
  return undo_.empty() ? std::string() : "Undo " + std::string(undo_.back()->Name()) + "\tCtrl-Z";
}

std::string UndoHistory::RedoMenuText() const {
  return redo_.empty() ? std::string() : "Redo " + std::string(redo_.back()->Name()) + "\tCtrl-Y";
}

}  // namespace zentrope
