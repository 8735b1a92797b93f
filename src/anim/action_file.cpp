// Reading and writing action files.
#include "anim/action_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>

#include "anim/channel_file.h"
#include "anim/legacy_action_file.h"
#include "figure/figure_file.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Told by the tag of the first line, for a morph file under another name.
bool HasMorphTag(const std::string& contents) {
  return contents.compare(0, 5, "MORP ") == 0;
}

Result<Action> ParseCurrentAction(std::string contents, const std::string& path,
                                  const Figure* figure, bool keepOtherSegments);

}  // namespace

bool IsOlderActionName(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext == ".ske" || ext == ".mor";
}

bool PeekActionTiming(const std::string& path, std::int16_t& length, float& strideLength) {
  std::string contents;
  if (!LoadDocumentText(path, contents, nullptr)) {
    return false;
  }
  if (IsOlderActionName(path) || HasMorphTag(contents)) {
    TextReader r(std::move(contents), path);
    Action action;
    int messageId = 0;
    if (!ReadLegacyPreamble(r, action, messageId)) {
      return false;
    }
    length = action.length;
    strideLength = action.strideLength;
    return true;
  }
  TextReader r(std::move(contents), path);
  std::string header, reserved;
  int version = 0;
  short l = 0;
  float v[7] = {};
  if (!r.Next(header) || !ParseHeader(header, "ACTI", version) || !r.Next(reserved) ||
      !r.ScanLine(1, nullptr, "%hd", &l) ||
      !r.ScanLine(7, nullptr, "%f %f %f %f %f %f %f", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                  &v[6]) ||
      !std::isfinite(v[6])) {
    return false;
  }
  length = l;
  strideLength = v[6];
  return true;
}

Result<Action> ParseAction(std::string contents, const std::string& path, const Figure* figure,
                           bool keepOtherSegments) {
  if (IsOlderActionName(path) || HasMorphTag(contents)) {
    return ParseLegacyAction(std::move(contents), path, figure, keepOtherSegments);
  }
  return ParseCurrentAction(std::move(contents), path, figure, keepOtherSegments);
}

namespace {

Result<Action> ParseCurrentAction(std::string contents, const std::string& path,
                                  const Figure* figure, bool keepOtherSegments) {
  TextReader r(std::move(contents), path);
  Action action;
  action.path = path;
  const std::filesystem::path folder = DocumentFolder(path);
  auto fail = [&](int id = str::kTroubleOpeningAction) -> Result<Action> {
    log_line(r.Error());
    return Failure{LoadString(id), r.Error()};
  };
  int version = 0;
  if (!ReadHeader(r, "ACTI", version)) {
    return fail();
  }
  if (version >= 2) {
    r.Fail("action version " + std::to_string(version));
    return fail(str::kRequiresNewerSoftware);
  }
  short length = 0;
  float* m = action.strideMarks.data();
  if (!r.ScanLine(1, nullptr, "%hd", &length) ||
      !r.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %hd %hd", &m[0], &m[1], &m[2], &m[3], &m[4],
                  &m[5], &action.strideLength, &action.strideValues[0], &action.strideValues[1]) ||
      !r.ScanLine(1, nullptr, "%f", &action.referenceSize)) {
    return fail();
  }
  action.length = length;
  while (r.LinesRemaining() > 0) {
    ActionEntry entry;
    std::string stored, skeletal;
    if (!r.Next(stored) || !r.Next(skeletal)) {
      return fail();
    }
    if (stored.empty() && r.LinesRemaining() == 0) {
      break;  // a trailing empty line
    }
    entry.segmentPath = ReadNodeName(r, stored, folder, r.LineNumber() - 1);
    if (skeletal != "noskeletal") {
      short tag = 0;
      if (ScanText(skeletal, "%hd", &tag) != 1) {
        r.Fail("expected a channel set tag");
        return fail();
      }
      Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r);
      if (!set) {
        log_line(set.failure().detail);
        return Failure{IsNewerSoftware(set.failure()) ? set.failure().message
                                                      : LoadString(str::kTroubleOpeningAction),
                       set.failure().detail};
      }
      entry.channels = std::move(*set);
      entry.channels->tag = static_cast<std::uint8_t>(tag);
      // A set of any kind but the skeletal one is posed in the older
      // direct-angle layout, so it takes that layout's table whatever its own
      // kind's table holds: a camera's or a light's would put the unkeyed
      // scales at 0 or 191 percent.
      if (entry.channels->kind != kSkeletalKind) {
        entry.channels->defaults = kDirectAngleDefaults;
      }
    }
    std::string muscle, spine;
    if (!r.Next(muscle)) {
      return fail();
    }
    if (muscle != "nomuscle") {
      r.NoteName(muscle);
    }
    if (!r.Next(spine)) {
      return fail();
    }
    if (spine != "nospine") {
      r.NoteName(spine);
    }
    entry.musclePath = muscle == "nomuscle" ? std::string() : AbsoluteDocumentName(muscle, folder);
    entry.spinePath = spine == "nospine" ? std::string() : AbsoluteDocumentName(spine, folder);
    const int node = figure ? figure->Find(entry.segmentPath) : kNoNode;
    if (figure && node == kNoNode && !keepOtherSegments) {
      continue;  // a segment this figure does not have
    }
    // The muscle and spine files; one that cannot be read leaves the node
    // without that motion.
    if (!entry.musclePath.empty()) {
      Result<MuscleFile> muscle = ReadMuscle(entry.musclePath);
      if (muscle) {
        entry.muscle = std::move(muscle->records);
      } else {
        log_line(muscle.failure().detail);
      }
    }
    const FigureNode* owner =
        node != kNoNode ? &figure->nodes[static_cast<std::size_t>(node)] : nullptr;
    if (!entry.spinePath.empty() && owner && owner->segment) {
      Result<Spine> spine = ReadSpine(entry.spinePath, owner->segment->Splines());
      if (spine) {
        entry.spine = std::make_unique<Spine>(std::move(*spine));
      } else {
        log_line(spine.failure().detail);
      }
    }
    action.entries.push_back(std::move(entry));
  }
  return action;
}

}  // namespace

Result<Action> ReadAction(const std::string& path, const Figure* figure, bool keepOtherSegments) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    log_line(error);
    return Failure{LoadString(str::kTroubleOpeningAction), error};
  }
  return ParseAction(std::move(contents), path, figure, keepOtherSegments);
}

Result<std::vector<NameReference>> ActionNames(const std::string& path) {
  NameRecorder recorder;
  if (Result<Action> action = ReadAction(path); !action) {
    return action.failure();
  }
  return recorder.Names();
}

SaveStatus WriteAction(const Action& action, const std::string& path, const Figure* figure,
                       std::string* detail) {
  // The action and its muscle and spine files are one save, and every file
  // of it lies in the action's folder or below: the names an action holds
  // come from a document and decide no place to write.
  auto located = [](const std::string& name) {
    const std::optional<std::filesystem::path> file = LocateFile(name);
    return file ? file->string() : name;
  };
  const std::string actionFile = located(path);
  const std::filesystem::path root = DocumentFolder(path);
  SaveTransaction save(root);
  // The name the action holds when it already names the file (a project
  // name stays as written), else the file's own path.
  auto same = [](const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    return std::filesystem::absolute(a, ec).lexically_normal() ==
           std::filesystem::absolute(b, ec).lexically_normal();
  };
  auto keep = [&](const std::string& held, const std::string& file) {
    return !held.empty() && same(located(held), file) ? held : file;
  };
  // Beside the segment ("muscle/ACTION.mus" in its folder) when that lies in
  // the action's folder; else in the action's own "muscle" folder, named
  // after the segment too when two records would share a name.
  std::vector<std::filesystem::path> taken;
  auto place = [&](const std::string& besideSegment, const std::string& segment, const char* folder,
                   const char* extension) {
    const std::string action = std::filesystem::path(actionFile).stem().string();
    const std::string stem = std::filesystem::path(segment).stem().string();
    std::vector<std::filesystem::path> candidates = {besideSegment,
                                                     root / folder / (action + extension)};
    for (int n = 0; n < 1000; ++n) {
      std::string name = action;
      name += '-';
      name += stem;
      if (n) {
        name += '-';
        name += std::to_string(n);
      }
      name += extension;
      candidates.push_back(root / folder / name);
    }
    for (const std::filesystem::path& c : candidates) {
      if (IsInsideFolder(c, root) &&
          std::none_of(taken.begin(), taken.end(), [&](const auto& t) { return same(t, c); })) {
        taken.push_back(c);
        return c.string();
      }
    }
    return besideSegment;  // refused by the save
  };
  std::map<const ActionEntry*, std::pair<std::string, std::string>> companions;
  for (const ActionEntry& e : action.entries) {
    const int node = figure ? figure->Find(e.segmentPath) : kNoNode;
    const Segment* segment =
        node != kNoNode ? figure->nodes[static_cast<std::size_t>(node)].segment.get() : nullptr;
    // Without its segment the size stays the one the files were read with
    // (it is the action's reference size when read back).
    const float size = segment                    ? SegmentSize(*segment)
                       : action.referenceSize > 0 ? action.referenceSize
                                                  : 1.0f;
    std::string musclePath = e.musclePath, spinePath = e.spinePath;
    const std::string segmentFile = located(e.segmentPath);
    if (!e.muscle.empty()) {
      musclePath = keep(e.musclePath,
                        place(MusclePath(segmentFile, actionFile), segmentFile, "muscle", ".mus"));
      if (WriteMuscle(e.muscle, action.length, size, musclePath, detail, &save) !=
          SaveStatus::kSaved) {
        return SaveStatus::kWriteError;
      }
    }
    const bool spineKeys =
        e.spine && std::any_of(e.spine->points.begin(), e.spine->points.end(),
                               [](const SpinePoint& p) { return p.channels != nullptr; });
    if (spineKeys) {
      spinePath = keep(e.spinePath,
                       place(SpinePath(segmentFile, actionFile), segmentFile, "spine", ".spi"));
      if (WriteSpine(*e.spine, action.length, size, spinePath, detail, &save) !=
          SaveStatus::kSaved) {
        return SaveStatus::kWriteError;
      }
    }
    companions[&e] = {musclePath, spinePath};
  }
  // The figure's depth-first order, then any record the figure lacks, so that
  // nothing the action holds is dropped.
  std::vector<const ActionEntry*> order;
  if (figure) {
    for (int n : figure->DepthFirst()) {
      for (const ActionEntry& e : action.entries) {
        if (e.segmentPath == figure->nodes[static_cast<std::size_t>(n)].name) {
          order.push_back(&e);
        }
      }
    }
  }
  for (const ActionEntry& e : action.entries) {
    if (std::find(order.begin(), order.end(), &e) == order.end()) {
      order.push_back(&e);
    }
  }
  const SaveStatus status = WriteDocument(
      &save, path, "ACTI", kActionVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        w.Line("%hd", action.length);
        const auto& m = action.strideMarks;
        w.Line("%g %g %g %g %g %g %g %hd %hd", static_cast<double>(m[0]), static_cast<double>(m[1]),
               static_cast<double>(m[2]), static_cast<double>(m[3]), static_cast<double>(m[4]),
               static_cast<double>(m[5]), static_cast<double>(action.strideLength),
               action.strideValues[0], action.strideValues[1]);
        w.Line("%g", static_cast<double>(action.referenceSize));
        for (const ActionEntry* e : order) {
          const auto& [musclePath, spinePath] = companions[e];
          if (!e->channels && musclePath.empty() && spinePath.empty()) {
            continue;
          }
          w.Line("%s", StoredNodeName(e->segmentPath, folder).c_str());
          if (e->channels) {
            w.Line("%hd", static_cast<short>(e->channels->tag));
            WriteChannelSet(w, *e->channels);
          } else {
            w.Line("noskeletal");
          }
          w.Line("%s",
                 musclePath.empty() ? "nomuscle" : RelativeToFolder(musclePath, folder).c_str());
          w.Line("%s", spinePath.empty() ? "nospine" : RelativeToFolder(spinePath, folder).c_str());
        }
      },
      detail);
  return status == SaveStatus::kSaved ? save.Commit(detail) : status;
}

}  // namespace zentrope
