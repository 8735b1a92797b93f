// Segment and group files.
#include "model/segment_file.h"

#include <cmath>
#include <limits>
#include <unordered_map>
#include <unordered_set>

#include "core/spline.h"
#include "model/attach_stack.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr int kLinesPerPoint = 4;

bool Finite(const Vector3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Failure OpenFailure(const std::string& detail) {
  log_line(detail);
  return {LoadString(str::kTroubleOpeningSegment), detail};
}

// Reads one bias line: "0" is neutral; one value gives Gamma 0, Magnitude 1.
bool ReadBias(TextReader& reader, Bias& bias) {
  float a = 0.0f, g = 0.0f, m = 1.0f;
  int fields = 0;
  if (!reader.ScanLine(1, &fields, "%f %f %f", &a, &g, &m)) {
    return false;
  }
  if (fields == 1) {
    g = 0.0f;
    m = 1.0f;
  }
  if (!Finite({a, g, m})) {
    reader.Fail("bias is not a number");
    return false;
  }
  bias = {a, g, m};
  return true;
}

void WriteBias(TextWriter& w, const Bias& b) {
  if (b == kNeutralBias) {
    w.Line("0");
  } else {
    w.Line("%g %g %g", static_cast<double>(b.alpha), static_cast<double>(b.gamma),
           static_cast<double>(b.magnitude));
  }
}

struct PendingStack {
  ControlPoint* point;
  long below;  // number of the point it is stacked on
};

// Stacks p (with whatever is already stacked on p) onto target. A hook goes
// directly above its target, where the walk down to its curve finds it; any
// other point goes above the hooks that sit directly on the target, since
// only its bottom matters to it. False when the stack would become a loop.
bool StackOnto(ControlPoint* p, ControlPoint* target) {
  for (ControlPoint* q = target; q; q = q->attachedTo) {
    if (q == p) {
      return false;
    }
  }
  ControlPoint* pTop = p;
  while (pTop->attachedAbove) {
    pTop = pTop->attachedAbove;
    if (pTop == target || pTop == p) {
      return false;
    }
  }
  ControlPoint* below = target;
  if (!p->IsHook()) {
    while (below->attachedAbove && below->attachedAbove->IsHook()) {
      below = below->attachedAbove;
    }
  }
  ControlPoint* above = below->attachedAbove;
  below->attachedAbove = p;
  p->attachedTo = below;
  pTop->attachedAbove = above;
  if (above) {
    above->attachedTo = pTop;
  }
  return true;
}

bool ParseSplines(TextReader& reader, int version, SplineSet& set,
                  std::vector<PendingStack>& stacks) {
  short splineCount = 0;
  if (!reader.ScanLine(1, nullptr, "%hd", &splineCount)) {
    return false;
  }
  if (splineCount < 0 || static_cast<std::size_t>(splineCount) > reader.LinesRemaining()) {
    reader.Fail("impossible spline count " + std::to_string(splineCount));
    return false;
  }
  std::int32_t counter = 0;  // numbers for points that carry none
  for (int s = 0; s < splineCount; ++s) {
    short pointCount = 0;
    if (!reader.ScanLine(1, nullptr, "%hd", &pointCount)) {
      return false;
    }
    if (pointCount < 0 ||
        static_cast<std::size_t>(pointCount) * kLinesPerPoint > reader.LinesRemaining()) {
      reader.Fail("impossible point count " + std::to_string(pointCount));
      return false;
    }
    ControlPoint* first = nullptr;
    ControlPoint* last = nullptr;
    for (int i = 0; i < pointCount; ++i) {
      ++counter;
      short flags = 0, stacked = 0, reserved = 0;
      long number = 0;
      float hookParameter = 0.0f;
      int fields = 0;
      bool ok;
      if (version == 1) {
        ok = reader.ScanLine(3, &fields, "%hd %hd %hd", &flags, &reserved, &stacked);
      } else {
        ok = reader.ScanLine(2, &fields, "%hd %hd %ld %f", &flags, &stacked, &number,
                             &hookParameter);
      }
      if (!ok) {
        return false;
      }
      if (number < 0 || number >= kPlaceholderNumber) {
        reader.Fail("point number out of range");
        return false;
      }
      if (!std::isfinite(hookParameter)) {
        reader.Fail("hook parameter is not a number");
        return false;
      }
      ControlPoint* p = set.Arena().Create();
      if (!p) {
        reader.Fail("out of memory");
        return false;
      }
      // Hidden and selected are editing state, never carried by files.
      p->flags =
          static_cast<std::uint16_t>(flags) & static_cast<std::uint16_t>(~kPointEditingFlags);
      p->number = number == 0 ? counter : static_cast<std::int32_t>(number);
      if (p->IsHook()) {
        p->hookParameter = hookParameter;
      }
      p->prev = last;
      if (last) {
        last->next = p;
      } else {
        first = p;
        set.Splines().push_back({p});
      }
      last = p;
      if (stacked) {
        long below = 0;
        if (!reader.ScanLine(1, nullptr, "%ld", &below)) {
          return false;
        }
        stacks.push_back({p, below});
      } else {
        Vector3 pos;
        if (!reader.ScanLine(3, nullptr, "%f %f %f", &pos.x, &pos.y, &pos.z)) {
          return false;
        }
        if (!Finite(pos)) {
          reader.Fail("position is not a number");
          return false;
        }
        p->position = pos;
      }
      Bias in, out;
      if (!ReadBias(reader, in) || !ReadBias(reader, out)) {
        return false;
      }
      p->SetInBias(in);
      p->SetOutBias(out);
    }
    if (!last) {
      continue;  // a count of 0 creates no spline
    }
    // Only the last point of a spline can close it; a one-point spline stays
    // open.
    for (ControlPoint* p = first; p != last; p = p->next) {
      p->Set(kPointLoopClosing, false);
    }
    if (last->ClosesLoop()) {
      if (last == first) {
        last->Set(kPointLoopClosing, false);
      } else {
        last->next = first;
        first->prev = last;
      }
    }
  }
  return true;
}

}  // namespace

Result<SegmentData> ParseSegment(std::string contents, const std::string& name,
                                 std::int32_t mergeOffset) {
  TextReader reader(std::move(contents), name);
  SegmentData data;
  data.splines = std::make_shared<SplineSet>();
  Bounds& b = data.fileBounds;
  Vector3& pivot = data.pivot;
  std::vector<PendingStack> stacks;
  const bool parsed =
      ReadHeader(reader, "SCUL", data.version) &&
      (data.version >= 1 && data.version <= kSegmentVersion
           ? true
           : (reader.Fail("unsupported version " + std::to_string(data.version)), false)) &&
      reader.ScanLine(6, nullptr, "%f %f %f %f %f %f", &b.min.x, &b.min.y, &b.min.z, &b.max.x,
                      &b.max.y, &b.max.z) &&
      reader.ScanLine(3, nullptr, "%f %f %f", &pivot.x, &pivot.y, &pivot.z) &&
      ParseSplines(reader, data.version, *data.splines, stacks) && reader.ExpectEnd();
  if (!parsed) {
    return OpenFailure(reader.Error());
  }
  if (!Finite(pivot) || !Finite(b.min) || !Finite(b.max)) {
    return OpenFailure(name + ": pivot or bounds are not numbers");
  }
  if (data.splines->Empty()) {
    return OpenFailure(name + ": no spline");
  }
  // Resolve stacks by number among all splines of the file.
  std::unordered_map<std::int32_t, ControlPoint*> byNumber;
  data.splines->ForEachPoint([&](ControlPoint& p) { byNumber.try_emplace(p.number, &p); });
  for (const PendingStack& s : stacks) {
    auto it = s.below >= std::numeric_limits<std::int32_t>::min() &&
                      s.below <= std::numeric_limits<std::int32_t>::max()
                  ? byNumber.find(static_cast<std::int32_t>(s.below))
                  : byNumber.end();
    if (it == byNumber.end()) {
      return OpenFailure(name + ": a point is stacked on number " + std::to_string(s.below) +
                         ", which does not exist");
    }
    if (!StackOnto(s.point, it->second)) {
      return OpenFailure(name + ": stacked points form a loop at number " +
                         std::to_string(s.below));
    }
  }
  // A number the file gives twice (or a point without one taking a number
  // in use) named the first such point above; each later one gets a number
  // of its own, so that what is saved names every point once and reads back
  // as the same stacks.
  std::int32_t highest = data.splines->MaxNumber();
  bool numbersLeft = true;
  std::unordered_set<std::int32_t> seen;
  data.splines->ForEachPoint([&](ControlPoint& p) {
    if (!seen.insert(p.number).second) {
      numbersLeft = numbersLeft && highest + 1 < kPlaceholderNumber;
      p.number = ++highest;
    }
  });
  if (!numbersLeft) {
    return OpenFailure(name + ": point numbers given twice and no numbers left");
  }
  data.splines->ForEachPoint([&](ControlPoint& p) {
    const std::int64_t raised = static_cast<std::int64_t>(p.number) + mergeOffset;
    p.number = static_cast<std::int32_t>(
        std::min<std::int64_t>(raised, std::numeric_limits<std::int32_t>::max() - 1));
  });
  data.highestNumber = data.splines->MaxNumber();
  data.splines->PlaceStacksAndTangents();
  return data;
}

Result<SegmentData> ReadSegment(const std::string& name, bool merge, SegmentRegistry& registry) {
  if (!merge) {
    if (const SegmentRegistry::Entry* shared = registry.Acquire(name)) {
      SegmentData data;
      data.splines = shared->splines;
      data.pivot = shared->pivot;
      data.highestNumber = shared->splines->MaxNumber();
      data.fileBounds = shared->splines->BoundingBox();
      data.version = kSegmentVersion;
      data.use = registry.Adopt(name);
      return data;
    }
  }
  std::string contents, error;
  if (!LoadDocumentText(name, contents, &error)) {
    return OpenFailure(error);
  }
  Result<SegmentData> data = ParseSegment(std::move(contents), name);
  if (data && !merge) {
    registry.Register(name, data->splines, data->pivot);
    data->use = registry.Adopt(name);
  }
  return data;
}

SaveStatus WriteSegment(Segment& segment, const std::filesystem::path& path, SplineSet& splines,
                        std::string* detail, SaveTransaction* save) {
  const std::size_t splineCount = splines.Splines().size();
  bool tooLarge = splineCount > static_cast<std::size_t>(std::numeric_limits<short>::max());
  for (const Spline& s : splines.Splines()) {
    std::size_t n = 0;
    for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
      ++n;
    }
    tooLarge = tooLarge || n > static_cast<std::size_t>(std::numeric_limits<short>::max());
  }
  if (tooLarge) {
    // The file's counts are 16-bit; writing would corrupt the model.
    const std::string why = "more than 32767 splines or points in a spline";
    if (save) {
      save->Fail(SaveStatus::kWriteError, path, why);
    }
    if (detail) {
      *detail = path.string() + ": " + why;
    }
    return SaveStatus::kWriteError;
  }
  std::int32_t highest = segment.highestNumber;
  splines.Renumber(highest);
  if (&splines == segment.splines.get()) {
    segment.highestNumber = highest;
  }
  const Bounds b = splines.BoundingBox();
  return WriteDocument(
      save, path.string(), "SCUL", kSegmentVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        w.Line("%g %g %g %g %g %g", static_cast<double>(b.min.x), static_cast<double>(b.min.y),
               static_cast<double>(b.min.z), static_cast<double>(b.max.x),
               static_cast<double>(b.max.y), static_cast<double>(b.max.z));
        w.Line("%g %g %g", static_cast<double>(segment.pivot.x),
               static_cast<double>(segment.pivot.y), static_cast<double>(segment.pivot.z));
        w.Line("%hd", static_cast<short>(splines.Splines().size()));
        for (const Spline& s : splines.Splines()) {
          short n = 0;
          for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
            ++n;
          }
          w.Line("%hd", n);
          for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
            const auto flags = static_cast<short>(p->flags & ~kPointEditingFlags);
            const short stacked = p->attachedTo ? 1 : 0;
            if (p->IsHook()) {
              w.Line("%hd %hd %ld %f", flags, stacked, static_cast<long>(p->number),
                     static_cast<double>(p->hookParameter));
            } else {
              w.Line("%hd %hd %ld", flags, stacked, static_cast<long>(p->number));
            }
            if (p->attachedTo) {
              w.Line("%ld", static_cast<long>(p->attachedTo->number));
            } else {
              w.Line("%g %g %g", static_cast<double>(p->position.x),
                     static_cast<double>(p->position.y), static_cast<double>(p->position.z));
            }
            WriteBias(w, p->InBias());
            WriteBias(w, p->OutBias());
          }
        }
      },
      detail);
}

std::filesystem::path CompanionPath(const std::filesystem::path& segmentFile,
                                    const char* extension) {
  // An existing companion is found whatever the case of its name (an exact
  // match first), so that it is read and written back under its own name.
  return MapToFileSystem(CompanionName(segmentFile.string(), extension));
}

Result<std::vector<Group>> ParseGroups(std::string contents, const std::string& name) {
  TextReader reader(std::move(contents), name);
  int version = 0;
  short count = 0;
  std::vector<Group> groups;
  auto fail = [&]() -> Result<std::vector<Group>> {
    log_line(reader.Error());
    return Failure{LoadString(str::kTroubleOpeningSegment), reader.Error()};
  };
  if (!ReadHeader(reader, "GROU", version) || !reader.ScanLine(1, nullptr, "%hd", &count)) {
    return fail();
  }
  if (version < 1 || version > kGroupVersion) {
    reader.Fail("unsupported version " + std::to_string(version));
    return fail();
  }
  if (count < 0 || static_cast<std::size_t>(count) * 3 > reader.LinesRemaining()) {
    reader.Fail("impossible group count " + std::to_string(count));
    return fail();
  }
  for (int g = 0; g < count; ++g) {
    Group group;
    short members = 0;
    if (!reader.ScanLine(3, nullptr, "%f %f %f", &group.pivot.x, &group.pivot.y, &group.pivot.z) ||
        !reader.Next(group.name) || !reader.ScanLine(1, nullptr, "%hd", &members)) {
      return fail();
    }
    if (!Finite(group.pivot)) {
      reader.Fail("group pivot is not a number");
      return fail();
    }
    if (members < 0 || static_cast<std::size_t>(members) > reader.LinesRemaining()) {
      reader.Fail("impossible member count " + std::to_string(members));
      return fail();
    }
    for (int m = 0; m < members; ++m) {
      long number = 0;
      if (!reader.ScanLine(1, nullptr, "%ld", &number)) {
        return fail();
      }
      if (number < std::numeric_limits<std::int32_t>::min() ||
          number > std::numeric_limits<std::int32_t>::max()) {
        reader.Fail("member number out of range");
        return fail();
      }
      group.members.push_back(static_cast<std::int32_t>(number));
    }
    groups.push_back(std::move(group));
  }
  if (!reader.ExpectEnd()) {
    return fail();
  }
  return groups;
}

Result<std::vector<Group>> ReadGroups(const std::filesystem::path& segmentFile) {
  const std::filesystem::path file = CompanionPath(segmentFile, ".grp");
  std::string contents, error;
  if (!TextReader::Load(file, contents, &error)) {
    return Failure{LoadString(str::kTroubleOpeningSegment), error};
  }
  return ParseGroups(std::move(contents), file.string());
}

SaveStatus WriteGroups(const Segment& segment, const std::filesystem::path& segmentFile,
                       std::string* detail, SaveTransaction* save) {
  const std::filesystem::path file = CompanionPath(segmentFile, ".grp");
  auto refuse = [&](const std::string& why) {
    if (save) {
      save->Fail(SaveStatus::kWriteError, file, why);
    }
    if (detail) {
      *detail = file.string() + ": " + why;
    }
    return SaveStatus::kWriteError;
  };
  if (segment.groups.size() > static_cast<std::size_t>(std::numeric_limits<short>::max())) {
    return refuse("more than 32767 groups");
  }
  for (const Group& g : segment.groups) {
    if (g.members.size() > static_cast<std::size_t>(std::numeric_limits<short>::max()) ||
        g.name.size() > kMaxLineLength || g.name.find('\n') != std::string::npos) {
      return refuse("group \"" + g.name + "\" cannot be written");
    }
  }
  return WriteDocument(
      save, file.string(), "GROU", kGroupVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        w.Line("%hd", static_cast<short>(segment.groups.size()));
        for (const Group& g : segment.groups) {
          w.Line("%f %f %f", static_cast<double>(g.pivot.x), static_cast<double>(g.pivot.y),
                 static_cast<double>(g.pivot.z));
          w.Line("%s", g.name.c_str());
          w.Line("%hd", static_cast<short>(g.members.size()));
          for (std::int32_t m : g.members) {
            w.Line("%ld", static_cast<long>(m));
          }
        }
      },
      detail);
}

namespace {

bool HasPeriod(const std::string& name) {
  return std::filesystem::path(name).filename().string().find('.') != std::string::npos;
}

// The rules of a new segment name: ".seg" added when the file name has no
// period, no name another open segment uses, and no existing file unless
// overwrite is set. Returns the file to write, or none with the message in
// the report.
std::optional<std::filesystem::path> NewSegmentFile(std::string& name, const Segment& segment,
                                                    bool overwrite, SegmentRegistry& registry,
                                                    SaveReport& report) {
  // A name ending in a separator is a folder: ".seg" would make a hidden
  // file in it that no one asked for.
  if (std::filesystem::path(name).filename().empty()) {
    report.failures.push_back(LoadString(str::kTroubleSavingSegment));
    report.reason = "no file name given";
    return std::nullopt;
  }
  if (!HasPeriod(name)) {
    name += ".seg";
  }
  if (name != segment.path && registry.UseCount(name) > 0) {
    report.failures.push_back(LoadString(str::kSegmentAlreadyUsed));
    return std::nullopt;
  }
  std::string error;
  std::optional<std::filesystem::path> file = LocateFile(name, &error);
  if (!file) {
    log_line(error);
    report.failures.push_back(error);
    return std::nullopt;
  }
  std::error_code ec;
  if (!overwrite && std::filesystem::exists(*file, ec)) {
    report.failures.push_back(LoadString(str::kFileAlreadyExists));
    return std::nullopt;
  }
  return file;
}

}  // namespace

void DocumentSave::Note(SaveStatus status, int messageId, const std::string& detail) {
  if (status == SaveStatus::kSaved) {
    return;
  }
  if (!files.Failed()) {
    files.Fail(status, {}, detail);  // a refusal before anything was staged
  }
  log_line(detail);
  if (report.reason.empty()) {
    report.reason = files.Reason();
  }
  if (status == SaveStatus::kDirectoryError) {
    report.failures.push_back(LoadString(str::kCreateDirectoryError));
  }
  report.failures.push_back(LoadString(messageId));
}

void DocumentSave::Expect(const std::filesystem::path& file, int messageId) {
  messages_.emplace_back(file, messageId);
}

bool DocumentSave::Commit() {
  if (!report.Ok()) {
    files.Abandon();
    return false;
  }
  std::string detail;
  const SaveStatus status = files.Commit(&detail);
  if (status == SaveStatus::kSaved) {
    return true;
  }
  // Putting a file in place failed: that file's message.
  int messageId = messages_.empty() ? str::kTroubleSavingSegment : messages_.front().second;
  for (const auto& [file, id] : messages_) {
    if (IsInsideFolder(files.FailedFile(), file.parent_path()) &&
        files.FailedFile().filename() == file.filename()) {
      messageId = id;
    }
  }
  Note(status, messageId, detail);
  return false;
}

std::uint16_t StageSegment(Segment& segment, DocumentSave& save) {
  std::string error;
  const std::optional<std::filesystem::path> file = LocateFile(segment.path, &error);
  if (!file) {
    save.Note(SaveStatus::kWriteError, str::kTroubleSavingSegment, error);
    return 0;
  }
  std::uint16_t staged = 0;
  // A list the segment has is written; one it no longer has is removed, so
  // that an old file cannot bring it back.
  auto stage = [&](std::uint16_t flag, const std::filesystem::path& target, int messageId,
                   bool empty, const std::function<SaveStatus(std::string*)>& write) {
    if (!segment.IsModified(flag)) {
      return;
    }
    std::string detail;
    save.Expect(target, messageId);
    const SaveStatus s = empty ? save.files.Remove(target, &detail) : write(&detail);
    save.Note(s, messageId, detail);
    if (s == SaveStatus::kSaved) {
      staged |= flag;
    }
  };
  stage(kSegmentSplinesChanged, *file, str::kTroubleSavingSegment, false, [&](std::string* d) {
    return WriteSegment(segment, *file, segment.Splines(), d, &save.files);
  });
  const std::filesystem::path maps = CompanionPath(*file, ".sur");
  stage(
      kSegmentDecalsChanged, maps, str::kTroubleSavingDecalList, segment.surfaceMaps.empty(),
      [&](std::string* d) { return WriteSurfaceMaps(segment.surfaceMaps, maps, d, &save.files); });
  const std::filesystem::path colours = CompanionPath(*file, ".col");
  stage(kSegmentColoursChanged, colours, str::kTroubleSavingColor, segment.colours.empty(),
        [&](std::string* d) { return WriteColours(segment.colours, colours, d, &save.files); });
  stage(kSegmentGroupsChanged, CompanionPath(*file, ".grp"), str::kTroubleSavingGroupList,
        segment.groups.empty(),
        [&](std::string* d) { return WriteGroups(segment, *file, d, &save.files); });
  return staged;
}

SaveReport SaveSegment(Segment& segment) {
  DocumentSave save;
  const std::uint16_t staged = StageSegment(segment, save);
  if (save.Commit()) {
    segment.ClearModified(staged);
  }
  return save.report;
}

SaveReport SaveSegmentAs(Segment& segment, std::string name, bool overwrite,
                         SegmentRegistry& registry) {
  SaveReport report;
  if (!NewSegmentFile(name, segment, overwrite, registry, report)) {
    return report;
  }
  const std::string oldPath = segment.path;
  segment.path = name;
  // Every companion is saved: written when the segment has the list,
  // removed when it does not, so that companions of a file saved over
  // cannot bring back groups, maps or colours this segment does not have.
  segment.MarkModified(kSegmentSplinesChanged | kSegmentGroupsChanged | kSegmentDecalsChanged |
                       kSegmentColoursChanged);
  report = SaveSegment(segment);
  if (!report.Ok()) {
    segment.path = oldPath;  // nothing was written under the new name
  }
  if (report.Ok() && oldPath != name) {
    segment.registryUse.Reset();
    registry.Register(name, segment.splines, segment.pivot);
    segment.registryUse = registry.Adopt(name);
  }
  return report;
}

SaveReport SaveSelectionAsSegment(Segment& segment, std::string name, bool overwrite,
                                  SegmentRegistry& registry) {
  SaveReport report;
  // Runs of selected points become splines; a fully selected closed spline
  // stays closed. Stacks between copied points are kept.
  SplineSet copy;
  std::unordered_map<const ControlPoint*, ControlPoint*> map;
  for (const Spline& s : segment.Splines().Splines()) {
    std::vector<ControlPoint*> points;
    for (ControlPoint* p = s.first; p; p = NextInTraversal(p)) {
      points.push_back(p);
    }
    const bool allSelected = std::all_of(points.begin(), points.end(),
                                         [](ControlPoint* p) { return p->Has(kPointSelected); });
    ControlPoint* runLast = nullptr;
    for (ControlPoint* p : points) {
      if (!p->Has(kPointSelected)) {
        runLast = nullptr;
        continue;
      }
      ControlPoint* q = copy.Arena().Create();
      if (!q) {
        report.failures.push_back(LoadString(str::kTroubleSavingSegment));
        return report;
      }
      *q = *p;
      q->prev = runLast;
      q->next = nullptr;
      q->attachedAbove = q->attachedTo = nullptr;
      q->Set(kPointLoopClosing, false);
      q->Set(kPointSelected, false);
      q->position -= segment.pivot;
      if (runLast) {
        runLast->next = q;
      } else {
        copy.Splines().push_back({q});
      }
      runLast = q;
      map[p] = q;
    }
    if (allSelected && points.size() > 1 && points.back()->ClosesLoop()) {
      copy.CloseSpline(copy.Splines().size() - 1);
    }
  }
  if (copy.Empty()) {
    report.failures.push_back(LoadString(str::kNoneSelected));
    return report;
  }
  for (const auto& [original, q] : map) {
    if (original->attachedTo) {
      if (auto it = map.find(original->attachedTo); it != map.end()) {
        q->attachedTo = it->second;
        it->second->attachedAbove = q;
      }
    }
    if (q->IsHook() && !q->attachedTo) {
      q->Set(kPointHook, false);  // its curve was not copied
    }
  }
  copy.PlaceStacksAndTangents();
  if (name.empty()) {
    name = LoadString(str::kUntitled);
  }
  const std::optional<std::filesystem::path> file =
      NewSegmentFile(name, segment, overwrite, registry, report);
  if (!file) {
    return report;
  }
  // A new segment without companions: any left at the name go with it.
  DocumentSave save;
  save.report = report;
  std::string detail;
  save.Expect(*file, str::kTroubleSavingSegment);
  save.Note(WriteSegment(segment, *file, copy, &detail, &save.files), str::kTroubleSavingSegment,
            detail);
  for (const char* extension : {".sur", ".col", ".grp"}) {
    save.Note(save.files.Remove(CompanionPath(*file, extension), &detail),
              str::kTroubleSavingSegment, detail);
  }
  save.Commit();
  return save.report;
}

namespace {

// Reads a companion list when its file exists. One that cannot be read is
// reported with its path and left out.
template <typename T, typename Parse>
void LoadCompanion(const std::filesystem::path& file, int messageId,
                   const std::filesystem::path& folder, Parse parse, std::vector<T>& into) {
  std::error_code ec;
  if (!std::filesystem::exists(file, ec)) {
    return;
  }
  std::string contents, error;
  Result<std::vector<T>> list =
      TextReader::Load(file, contents, &error)
          ? parse(std::move(contents), file.string(), folder)
          : Result<std::vector<T>>(Failure{LoadString(messageId) + file.string() + "\n", error});
  if (list) {
    into = std::move(*list);
  } else {
    log_line(list.failure().detail);
    message_box(list.failure().message);
  }
}

}  // namespace

Result<Segment> OpenSegment(const std::string& name, SegmentRegistry& registry) {
  Result<SegmentData> data = ReadSegment(name, /*merge=*/false, registry);
  if (!data) {
    return data.failure();
  }
  Segment segment;
  segment.path = name;
  segment.registryUse = std::move(data->use);
  segment.splines = data->splines;
  segment.pivot = data->pivot;
  segment.highestNumber = data->highestNumber;
  segment.bounds = segment.splines->BoundingBox();
  segment.RebuildWorkingCopy();
  segment.MarkModified(kSegmentPatchesStale);
  // The companions are optional. A group file that cannot be read is noted
  // in the log; surface maps and colours that cannot be read are reported
  // with their path, and loading goes on without them. The names they hold
  // are taken from the segment's absolute folder.
  if (const std::optional<std::filesystem::path> file = LocateFile(name)) {
    std::error_code ec;
    if (std::filesystem::exists(CompanionPath(*file, ".grp"), ec)) {
      Result<std::vector<Group>> groups = ReadGroups(*file);
      if (groups) {
        segment.groups = std::move(*groups);
      } else {
        log_line(groups.failure().detail);
      }
    }
    const std::filesystem::path folder = DocumentFolder(name);
    LoadCompanion(CompanionPath(*file, ".sur"), str::kCantDecalFile, folder, ParseSurfaceMaps,
                  segment.surfaceMaps);
    LoadCompanion(CompanionPath(*file, ".col"), str::kCantColorFile, folder, ParseColours,
                  segment.colours);
  }
  return segment;
}

Result<std::vector<NameReference>> SegmentNames(const std::string& name) {
  std::string contents, error;
  std::filesystem::path file;
  if (!LoadDocumentText(name, contents, &error, &file)) {
    return OpenFailure(error);
  }
  if (Result<SegmentData> data = ParseSegment(std::move(contents), name); !data) {
    return data.failure();
  }
  NameRecorder recorder;
  const std::filesystem::path folder = DocumentFolder(name);
  // Read as opening reads them; while the recorder is alive a missing
  // picture or material does not stop the reading. A companion that exists
  // but cannot be read is reported: opening goes on without it, so its
  // groups, decals or colours would be lost from the render.
  std::optional<Failure> trouble;
  auto read = [&](const char* extension, int messageId, auto parse) {
    const std::filesystem::path companion = CompanionPath(file, extension);
    std::error_code ec;
    if (trouble || !std::filesystem::exists(companion, ec)) {
      return;
    }
    std::string text, why;
    const std::string message =
        (messageId ? LoadString(messageId) : std::string("can't open group file: ")) +
        companion.string();
    if (!TextReader::Load(companion, text, &why)) {
      trouble = Failure{message, why};
    } else if (auto list = parse(std::move(text), companion.string(), folder); !list) {
      trouble = Failure{message, list.failure().detail};
    }
  };
  read(".grp", 0, [](std::string text, const std::string& path, const std::filesystem::path&) {
    return ParseGroups(std::move(text), path);
  });
  read(".sur", str::kCantDecalFile, ParseSurfaceMaps);
  read(".col", str::kCantColorFile, ParseColours);
  if (trouble) {
    return *trouble;
  }
  return recorder.Names();
}

namespace {
ForeignModelReader foreignModelReader = nullptr;
}  // namespace

void SetForeignModelReader(ForeignModelReader reader) {
  foreignModelReader = reader;
}

EditOutcome ImportModel(Segment& segment, const std::string& name) {
  std::string contents, error;
  std::filesystem::path file;
  if (!LoadDocumentText(name, contents, &error, &file)) {
    log_line(error);
    return EditOutcome::Failure(str::kTroubleOpeningSegment);
  }
  std::string first = contents.substr(0, contents.find('\n'));
  int version = 0;
  if (!ParseHeader(first, "SCUL", version)) {
    if (!foreignModelReader) {
      log_line(file.string() + ": not a segment file");
      return EditOutcome::Failure(str::kTroubleOpeningSegment);
    }
    Result<SplineSet> foreign = foreignModelReader(contents, file.string());
    if (!foreign || foreign->Empty()) {
      log_line(foreign ? file.string() + ": no spline to import" : foreign.failure().detail);
      return EditOutcome::Failure(str::kTroubleOpeningSegment);
    }
    // New points are numbered above the segment's highest, in order.
    std::int32_t highest = segment.highestNumber;
    foreign->ForEachPoint([&](ControlPoint& p) { p.number = ++highest; });
    foreign->Translate(segment.pivot);
    try {
      segment.Splines().AppendCopyOf(*foreign, /*clearSelection=*/false);
    } catch (const std::bad_alloc&) {
      return EditOutcome::Failure(str::kTroubleOpeningSegment);
    }
    segment.highestNumber = highest;
    segment.SplinesEdited();
    return EditOutcome::Success();
  }
  const std::int32_t offset = segment.Splines().Empty() ? 0 : segment.highestNumber;
  Result<SegmentData> data = ParseSegment(std::move(contents), file.string(), offset);
  if (!data) {
    return EditOutcome::Failure(str::kTroubleOpeningSegment);
  }
  // The file's own pivot is ignored; its points are placed about ours.
  data->splines->Translate(segment.pivot);
  try {
    segment.Splines().AppendCopyOf(*data->splines, /*clearSelection=*/false);
  } catch (const std::bad_alloc&) {
    return EditOutcome::Failure(str::kTroubleOpeningSegment);
  }
  segment.highestNumber = std::max(segment.highestNumber, data->highestNumber);
  segment.Renumber();
  segment.SplinesEdited();
  return EditOutcome::Success();
}

}  // namespace zentrope
