// Muscle records, deformation and files.
#include "anim/muscle.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <unordered_map>

#include "anim/channel_file.h"
#include "model/text_file.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

MuscleRecord* FindRecord(MuscleRecords& records, std::int32_t number) {
  auto it =
      std::lower_bound(records.begin(), records.end(), number,
                       [](const MuscleRecord& r, std::int32_t n) { return r.pointNumber < n; });
  return it != records.end() && it->pointNumber == number ? &*it : nullptr;
}

MuscleRecord& InsertRecord(MuscleRecords& records, std::int32_t number, std::uint8_t type) {
  auto it =
      std::lower_bound(records.begin(), records.end(), number,
                       [](const MuscleRecord& r, std::int32_t n) { return r.pointNumber < n; });
  MuscleRecord r;
  r.type = type;
  r.pointNumber = number;
  return *records.insert(it, std::move(r));
}

bool KeyWithRest(ChannelSet& set, int index, float frame, float value, float rest) {
  if (frame > 1.0f && !HasKeyAt(set, index, 1) && !SetKey(set, index, 1.0f, rest)) {
    return false;
  }
  return SetKey(set, index, frame, value) != nullptr;
}

// Number → point for a spline set.
std::unordered_map<std::int32_t, ControlPoint*> ByNumber(const SplineSet& set) {
  std::unordered_map<std::int32_t, ControlPoint*> map;
  set.ForEachPoint([&](ControlPoint& p) { map.try_emplace(p.number, &p); });
  return map;
}

// messageId becomes "Requires Newer Software" when the set is newer than
// this program.
bool ReadOptionalSet(TextReader& r, std::unique_ptr<ChannelSet>& slot, std::uint8_t kind,
                     std::span<const float> defaults, std::int32_t number, int& messageId) {
  short tag = 0;
  if (!r.ScanLine(1, nullptr, "%hd", &tag)) {
    return false;
  }
  if (tag == 0) {
    return true;
  }
  Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r);
  if (!set) {
    if (IsNewerSoftware(set.failure())) {
      messageId = str::kRequiresNewerSoftware;
    }
    return false;
  }
  slot = std::move(*set);
  slot->tag = kChannelSetTag;
  slot->kind = kind;
  slot->defaults = defaults;
  slot->name = std::to_string(number);
  return true;
}

void WriteOptionalSet(TextWriter& w, const std::unique_ptr<ChannelSet>& slot) {
  if (!slot) {
    w.Line("0");
    return;
  }
  w.Line("%hd", static_cast<short>(slot->tag));
  WriteChannelSet(w, *slot);
}

}  // namespace

float SegmentSize(const Segment& segment) {
  const Bounds b = segment.Splines().BoundingBox();
  return std::max(1.0f, Length(b.max - b.min));
}

bool SetMuscleKey(MuscleRecords& records, const ControlPoint& point, int channel, float frame,
                  float value) {
  const bool attached = point.attachedTo != nullptr;
  if (channel < 3 && attached) {
    return false;  // an attached point follows the point below it
  }
  MuscleRecord* record = FindRecord(records, point.number);
  if (!record) {
    record = &InsertRecord(records, point.number, attached ? kMuscleAttached : kMuscleFree);
  }
  const std::string name = std::to_string(point.number);
  if (channel < 3) {
    if (!record->motion) {
      record->motion = CreateChannelSet(name, 3, kMuscleMotionKind, kMuscleMotionDefaults);
    }
    return KeyWithRest(*record->motion, channel, frame, value, 0.0f);
  }
  if (!record->bias) {
    record->bias = CreateChannelSet(name, 6, kMuscleBiasKind, kMuscleBiasDefaults);
  }
  const int index = channel - 3;
  return KeyWithRest(*record->bias, index, frame, value,
                     (index == 2 || index == 5) ? 100.0f : 0.0f);
}

bool RecordMuscleKeys(MuscleRecords& records, const std::vector<MuscleEdit>& edits, float frame,
                      SplineSet& editBuffer) {
  // What the channels show now; a value that differs from it is keyed, so a
  // point or a bias moved back to rest is keyed back to rest as well.
  auto shown = [&](const MuscleRecord* r, int channel) {
    if (channel < 3) {
      return r && r->motion ? EvaluateChannel(*r->motion, channel, frame) : 0.0f;
    }
    return r && r->bias ? EvaluateChannel(*r->bias, channel - 3, frame)
                        : kMuscleBiasDefaults[static_cast<std::size_t>(channel - 3)];
  };
  auto differs = [](float a, float b) {
    return std::abs(a - b) > 1e-5f * std::max({1.0f, std::abs(a), std::abs(b)});
  };
  for (const MuscleEdit& e : edits) {
    const MuscleRecord* record = FindRecord(records, e.rest->number);
    const Vector3 d = e.edited->position - e.rest->position;
    const float motion[3] = {d.x, d.y, d.z};
    if (!e.rest->attachedTo) {
      bool moved = false;
      for (int c = 0; c < 3; ++c) {
        moved = moved || differs(motion[c], shown(record, c));
      }
      for (int c = 0; moved && c < 3; ++c) {
        if (!SetMuscleKey(records, *e.rest, c, frame, motion[c])) {
          return false;
        }
      }
    }
    const float rest[6] = {e.rest->alphaIn,  e.rest->gammaIn,  e.rest->magnitudeIn,
                           e.rest->alphaOut, e.rest->gammaOut, e.rest->magnitudeOut};
    const float now[6] = {e.edited->alphaIn,  e.edited->gammaIn,  e.edited->magnitudeIn,
                          e.edited->alphaOut, e.edited->gammaOut, e.edited->magnitudeOut};
    for (int b = 0; b < 6; ++b) {
      const bool magnitude = b == 2 || b == 5;
      // Alpha and Gamma are offsets; Magnitude a percentage of the rest value.
      const float value =
          magnitude ? (rest[b] != 0.0f ? now[b] / rest[b] * 100.0f : 100.0f) : now[b] - rest[b];
      if (!differs(value, shown(FindRecord(records, e.rest->number), 3 + b))) {
        continue;
      }
      if (!SetMuscleKey(records, *e.rest, 3 + b, frame, value)) {
        return false;
      }
    }
  }
  editBuffer.PlaceStacksAndTangents();
  return true;
}

void ApplyMuscle(const MuscleRecords& records, const SplineSet& rest, SplineSet& working,
                 float frame) {
  if (records.empty()) {
    return;
  }
  const auto restByNumber = ByNumber(rest);
  const auto workByNumber = ByNumber(working);
  for (const MuscleRecord& r : records) {
    auto o = restByNumber.find(r.pointNumber);
    auto w = workByNumber.find(r.pointNumber);
    if (o == restByNumber.end() || w == workByNumber.end()) {
      continue;  // a number the segment no longer holds
    }
    const ControlPoint& O = *o->second;
    ControlPoint& W = *w->second;
    if (r.bias && r.bias->tag == kChannelSetTag) {
      const ChannelSet& b = *r.bias;
      W.alphaIn = O.alphaIn + EvaluateChannel(b, 0, frame);
      W.gammaIn = O.gammaIn + EvaluateChannel(b, 1, frame);
      W.magnitudeIn = O.magnitudeIn * EvaluateChannel(b, 2, frame) * 0.01f;
      if (O.Has(kPointSmooth)) {
        W.SetOutBias(W.InBias());
      } else {
        W.alphaOut = O.alphaOut + EvaluateChannel(b, 3, frame);
        W.gammaOut = O.gammaOut + EvaluateChannel(b, 4, frame);
        W.magnitudeOut = O.magnitudeOut * EvaluateChannel(b, 5, frame) * 0.01f;
      }
    }
    if (r.type == kMuscleFree && r.motion && r.motion->tag == kChannelSetTag) {
      const Vector3 offset{EvaluateChannel(*r.motion, 0, frame),
                           EvaluateChannel(*r.motion, 1, frame),
                           EvaluateChannel(*r.motion, 2, frame)};
      W.position = O.position + offset;
      // Everything stacked on the point goes with it.
      for (ControlPoint* above = W.attachedAbove; above; above = above->attachedAbove) {
        if (!above->IsHook()) {
          above->position = W.position;
        }
      }
    }
  }
}

void ShiftMuscleFrames(MuscleRecords& records, std::int16_t frame, std::int16_t delta) {
  for (MuscleRecord& r : records) {
    if (r.bias) {
      ShiftFrames(*r.bias, frame, delta);
    }
    if (r.motion) {
      ShiftFrames(*r.motion, frame, delta);
    }
  }
}

std::string MusclePath(const std::string& segmentPath, const std::string& actionPath) {
  const std::filesystem::path segment(segmentPath);
  std::filesystem::path name = std::filesystem::path(actionPath).filename();
  name.replace_extension(".mus");
  return (segment.parent_path() / "muscle" / name).string();
}

Result<MuscleFile> ReadMuscle(const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return Failure{LoadString(str::kTroubleOpeningAction), error};
  }
  TextReader r(std::move(contents), path);
  MuscleFile file;
  int messageId = str::kTroubleOpeningAction;
  auto fail = [&]() -> Result<MuscleFile> { return Failure{LoadString(messageId), r.Error()}; };
  int version = 0;
  short count = 0;
  if (!ReadHeader(r, "MUSC", version) || !r.ScanLine(1, nullptr, "%hd", &file.length) ||
      !r.ScanLine(1, nullptr, "%f", &file.size) || !r.ScanLine(1, nullptr, "%hd", &count)) {
    return fail();
  }
  if (version > kMuscleVersion) {
    r.Fail("muscle version " + std::to_string(version));
    return Failure{LoadString(str::kRequiresNewerSoftware), r.Error()};
  }
  if (count < 0 || static_cast<std::size_t>(count) * 3 > r.LinesRemaining()) {
    r.Fail("impossible record count");
    return fail();
  }
  for (int i = 0; i < count; ++i) {
    short type = 0;
    long number = 0;
    if (!r.ScanLine(1, nullptr, "%hd", &type) || !r.ScanLine(1, nullptr, "%ld", &number)) {
      return fail();
    }
    MuscleRecord record;
    record.type = type == kMuscleAttached ? kMuscleAttached : kMuscleFree;
    record.pointNumber = static_cast<std::int32_t>(number);
    if (!ReadOptionalSet(r, record.bias, kMuscleBiasKind, kMuscleBiasDefaults, record.pointNumber,
                         messageId) ||
        (record.type == kMuscleFree &&
         !ReadOptionalSet(r, record.motion, kMuscleMotionKind, kMuscleMotionDefaults,
                          record.pointNumber, messageId))) {
      return fail();
    }
    file.records.push_back(std::move(record));
  }
  if (!r.ExpectEnd()) {
    return fail();
  }
  std::stable_sort(
      file.records.begin(), file.records.end(),
      [](const MuscleRecord& a, const MuscleRecord& b) { return a.pointNumber < b.pointNumber; });
  return file;
}

SaveStatus WriteMuscle(const MuscleRecords& records, std::int16_t length, float segmentSize,
                       const std::string& path, std::string* detail, SaveTransaction* save) {
  return WriteDocument(
      save, path, "MUSC", kMuscleVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        w.Line("%hd", length);
        w.Line("%f", static_cast<double>(segmentSize));
        w.Line("%hd", static_cast<short>(records.size()));
        for (const MuscleRecord& r : records) {
          w.Line("%hd", static_cast<short>(r.type));
          w.Line("%ld", static_cast<long>(r.pointNumber));
          WriteOptionalSet(w, r.bias);
          if (r.type == kMuscleFree) {
            WriteOptionalSet(w, r.motion);
          }
        }
      },
      detail);
}

SaveStatus WriteMuscleFrame(const MuscleRecords& records, float frame, const std::string& path,
                            std::string* detail) {
  return WriteDocument(
      path, "MUSF", kMuscleVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        for (const MuscleRecord& r : records) {
          const long n = r.pointNumber;
          if (r.type == kMuscleFree) {
            if (r.motion) {
              w.Line("%d %ld %g %g %g", 3, n,
                     static_cast<double>(EvaluateChannel(*r.motion, 0, frame)),
                     static_cast<double>(EvaluateChannel(*r.motion, 1, frame)),
                     static_cast<double>(EvaluateChannel(*r.motion, 2, frame)));
            } else {
              w.Line("%d %ld 0 0 0", 3, n);
            }
          }
          if (r.bias) {
            double v[6];
            for (int i = 0; i < 6; ++i) {
              v[i] = EvaluateChannel(*r.bias, i, frame);
            }
            w.Line("%d %ld %g %g %g %g %g %g", 2, n, v[0], v[1], v[2], v[3], v[4], v[5]);
          }
        }
      },
      detail);
}

bool ReadMuscleFrame(MuscleRecords& records, const SplineSet& rest, float frame,
                     const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return false;
  }
  TextReader r(std::move(contents), path);
  int version = 0;
  if (!ReadHeader(r, "MUSF", version)) {
    return false;
  }
  const auto byNumber = ByNumber(rest);
  while (r.LinesRemaining() > 0) {
    std::string line;
    if (!r.Next(line)) {
      return false;
    }
    int type = 0;
    long number = 0;
    float v[6] = {};
    const int fields = ScanText(line, "%d %ld %f %f %f %f %f %f", &type, &number, &v[0], &v[1],
                                &v[2], &v[3], &v[4], &v[5]);
    if (fields < 2) {
      continue;
    }
    auto it = byNumber.find(static_cast<std::int32_t>(number));
    if (it == byNumber.end()) {
      continue;
    }
    if (type == 3 && fields >= 5 && !it->second->attachedTo) {
      for (int c = 0; c < 3; ++c) {
        SetMuscleKey(records, *it->second, c, frame, v[c]);
      }
    } else if (type == 2 && fields >= 8) {
      for (int b = 0; b < 6; ++b) {
        SetMuscleKey(records, *it->second, 3 + b, frame, v[b]);
      }
    }
  }
  return true;
}

}  // namespace zentrope
