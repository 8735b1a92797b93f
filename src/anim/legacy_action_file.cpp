// Older skeletal and morph files.
#include "anim/legacy_action_file.h"

#include <cmath>
#include <filesystem>

#include "anim/channel_file.h"
#include "figure/figure_file.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Moves a channel's keys from one set's arena into another's.
void MoveKeys(ChannelSet& from, int fromIndex, ChannelSet& to, int toIndex) {
  for (const ControlPoint* k = from.channels[static_cast<std::size_t>(fromIndex)].keys; k;
       k = NextInTraversal(k)) {
    if (ControlPoint* copy = SetKeyRaw(to, toIndex, k->position.x + 1.0f, k->position.y)) {
      // The copy sits in an open list of its own: a loop-closing flag would
      // not match its links, and the next read would drop it.
      copy->flags = k->flags & static_cast<std::uint16_t>(~kPointLoopClosing);
      copy->SetInBias(k->InBias());
      copy->SetOutBias(k->OutBias());
    }
  }
}

}  // namespace

std::unique_ptr<ChannelSet> ConvertAngleChannels(ChannelSet& old) {
  auto set = CreateChannelSet(old.name, kSkeletalCount, kSkeletalKind, kSkeletalDefaults);
  set->referenceName = old.referenceName;
  for (int c = 0; c < 6 && c < old.Count(); ++c) {
    MoveKeys(old, c, *set, c);
    set->channels[static_cast<std::size_t>(c)].flags =
        old.channels[static_cast<std::size_t>(c)].flags;
  }
  if (old.Count() > 7) {
    MoveKeys(old, 7, *set, 9);  // Roll
  }
  if (old.Count() > 8) {
    // At every key of the Latitude curve, both angles become a direction.
    for (const ControlPoint* k = old.channels[6].keys; k; k = NextInTraversal(k)) {
      const float frame = k->position.x + 1.0f;
      const float latitude = EvaluateChannel(old, 6, frame);
      const float longitude = EvaluateChannel(old, 8, frame);
      const Vector3 d = OrientFromAngles(latitude, longitude) * kOrientScale;
      SetKeyRaw(*set, 6, frame, d.x);
      SetKeyRaw(*set, 7, frame, d.y);
      SetKeyRaw(*set, 8, frame, d.z);
    }
  }
  ComputeChannelTangents(*set);
  return set;
}

bool ReadLegacyPreamble(TextReader& r, Action& action, int& messageId) {
  messageId = str::kTroubleOpeningAction;
  std::string header;
  if (!r.Next(header)) {
    return false;
  }
  int version = 0;
  if (ParseHeader(header, "ACTI", version)) {
    action.fileTag = "ACTI";
  } else if (ParseHeader(header, "MORP", version)) {
    action.fileTag = "MORP";
  } else {
    r.Fail("not a skeletal or morph file");
    return false;
  }
  action.fileVersion = version;
  if (version > kLegacyActionVersion) {
    r.Fail("version " + std::to_string(version));
    messageId = str::kRequiresNewerSoftware;
    return false;
  }
  if (version < 1) {
    r.Fail("version " + std::to_string(version));
    return false;
  }
  long reserved = 0;
  short length = 0;
  if (!r.ScanLine(1, nullptr, "%ld", &reserved) || !r.ScanLine(1, nullptr, "%hd", &length)) {
    return false;
  }
  action.length = length;
  float* m = action.strideMarks.data();
  if (version == 5 && !r.ScanLine(7, nullptr, "%f %f %f %f %f %f %f", &m[0], &m[1], &m[2], &m[3],
                                  &m[4], &m[5], &action.strideLength)) {
    return false;
  }
  if (version == 6 &&
      !r.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %hd %hd", &m[0], &m[1], &m[2], &m[3], &m[4],
                  &m[5], &action.strideLength, &action.strideValues[0], &action.strideValues[1])) {
    return false;
  }
  if (!r.ScanLine(1, nullptr, "%f", &action.referenceSize)) {
    return false;
  }
  for (float v : action.strideMarks) {
    if (!std::isfinite(v)) {
      r.Fail("stride mark is not a number");
      return false;
    }
  }
  if (!std::isfinite(action.strideLength) || !std::isfinite(action.referenceSize)) {
    r.Fail("stride or size is not a number");
    return false;
  }
  return true;
}

Result<Action> ParseLegacyAction(std::string contents, const std::string& path,
                                 const Figure* figure, bool keepOtherSegments) {
  TextReader r(std::move(contents), path);
  Action action;
  action.path = path;
  auto fail = [&](int id = str::kTroubleOpeningAction) -> Result<Action> {
    log_line(r.Error());
    return Failure{LoadString(id), r.Error()};
  };
  int messageId = str::kTroubleOpeningAction;
  if (!ReadLegacyPreamble(r, action, messageId)) {
    return fail(messageId);
  }
  const int version = action.fileVersion;
  const std::filesystem::path folder = DocumentFolder(path);
  const std::vector<int> order = figure ? figure->DepthFirst() : std::vector<int>();
  std::size_t position = 0;
  while (r.LinesRemaining() > 0) {
    std::string segmentPath;
    if (version >= 3) {
      std::string stored;
      if (!r.Next(stored)) {
        return fail();
      }
      if (stored.empty() && r.LinesRemaining() == 0) {
        break;
      }
      segmentPath = ReadNodeName(r, stored, folder);
    } else if (figure) {
      if (position >= order.size()) {
        break;
      }
      segmentPath = figure->nodes[static_cast<std::size_t>(order[position++])].name;
    } else {
      // No figure to name the records by: they are kept unnamed, up to a
      // trailing empty line.
      TextReader peek = r;
      std::string line;
      if (r.LinesRemaining() == 1 && peek.Next(line) && line.empty()) {
        break;
      }
    }
    Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r);
    if (!set) {
      log_line(set.failure().detail);
      return Failure{IsNewerSoftware(set.failure()) ? set.failure().message
                                                    : LoadString(str::kTroubleOpeningAction),
                     set.failure().detail};
    }
    std::unique_ptr<ChannelSet> channels =
        version <= 5 ? ConvertAngleChannels(**set) : std::move(*set);
    channels->tag = kChannelSetTag;
    channels->kind = kSkeletalKind;
    channels->defaults = kSkeletalDefaults;
    if (!figure || keepOtherSegments || figure->Find(segmentPath) != kNoNode) {
      ActionEntry entry;
      entry.segmentPath = segmentPath;
      entry.channels = std::move(channels);
      action.entries.push_back(std::move(entry));
    }
  }
  return action;
}

}  // namespace zentrope
