// Reading and writing choreography files.
#include "chor/choreography_file.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "anim/action_file.h"
#include "anim/channel_file.h"
#include "anim/channel_kinds.h"
#include "chor/path_motion.h"
#include "model/patch_colours.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/interrupt.h"
#include "shell/project_paths.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

constexpr int kSetFollows = 2;
// The least a figure record takes: name, set line, track counts, morph
// count and the sibling/children line.
constexpr std::size_t kMinFigureLines = 5;
constexpr std::size_t kLinesPerSnapshotView = 8;
constexpr std::size_t kMaxCount = 32767;

// The defaults of a channel set read from a file follow its kind; a kind
// without a table of its own rides as a figure does.
void AssignDefaults(ChannelSet* set) {
  for (; set; set = set->next.get()) {
    set->tag = kChannelSetTag;
    const std::span<const float> table = KindDefaults(set->kind);
    set->defaults = table.empty() ? std::span<const float>(kPlacementDefaults) : table;
  }
}

void NumberPathPoints(Path& path) {
  std::int32_t n = 0;
  for (ControlPoint* p = path.first; p; p = NextInTraversal(p)) {
    p->number = ++n;
  }
}

// Names are held absolute so that a scene saved elsewhere still finds
// its figures and actions. The file is made absolute before its folder is
// taken: a bare name's folder is the current directory.
std::filesystem::path AbsoluteFolder(const std::filesystem::path& file) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(file, ec);
  return ec ? file.parent_path() : absolute.lexically_normal().parent_path();
}

class ChorParser {
 public:
  ChorParser(std::string contents, const std::string& path)
      : r_(std::move(contents), path), folder_(AbsoluteFolder(path)) {
    chor_.scene.fileName = path;
  }

  Result<Choreography> Parse() {
    if (!Header() || !Scene() || !Paths() || !Sets() || !Lights() || !Figures()) {
      return Fail();
    }
    if (version_ >= 6 && !Trailer()) {
      return Fail();
    }
    // Past the last record only blank lines, unless the window records
    // (whose length only their windows know) were skipped.
    if (!windowsSkipped_ && !r_.ExpectEnd()) {
      return Fail();
    }
    ConvertTimings();
    return std::move(chor_);
  }

 private:
  Failure Fail() {
    if (r_.Error().empty()) {
      r_.Fail("malformed choreography");
    }
    log_line(r_.Error());
    return {LoadString(messageId_), r_.Error()};
  }

  bool Header() {
    std::string line;
    if (!r_.Next(line)) {
      return false;
    }
    char tag[256] = {};
    short v[6] = {};
    const int fields = ScanText(line, "%255s %hd %hd %hd %hd %hd %hd", tag, &v[0], &v[1], &v[2],
                                &v[3], &v[4], &v[5]);
    if (fields < 7 || std::strcmp(tag, "CHOR") != 0) {
      r_.Fail("not a choreography header");
      return false;
    }
    version_ = v[0];
    chor_.fileVersion = version_;
    if (version_ > kChoreographyVersion) {
      r_.Fail("choreography version " + std::to_string(version_));
      messageId_ = str::kRequiresNewerSoftware;
      return false;
    }
    if (version_ < 1) {
      r_.Fail("choreography version " + std::to_string(version_));
      return false;
    }
    return true;
  }

  // A stored name made absolute against the file's folder; a project name
  // must be one the project list knows.
  bool Name(std::string& name) {
    std::string stored;
    if (!r_.Next(stored)) {
      return false;
    }
    return Resolve(stored, name);
  }

  // line: where the name is written, when not the line just read.
  bool Resolve(const std::string& stored, std::string& name, std::size_t line = 0) {
    const ResolvedPath resolved = resolve_path(stored, Projects());
    if (resolved.kind == PathKind::kUnknownProject) {
      r_.Fail("unknown project in " + stored);
      return false;
    }
    if (!stored.empty()) {
      r_.NoteName(stored, line);
    }
    name = stored.empty() ? stored : AbsoluteDocumentName(stored, folder_);
    return true;
  }

  bool Scene() {
    SceneSettings& s = chor_.scene;
    std::string line;
    if (!r_.Next(line)) {
      return false;
    }
    if (line == "0") {
      // The reserved line of the common header convention, from a writer
      // that put one here; no choreography is 0 frames long.
      if (!r_.Next(line)) {
        return false;
      }
    }
    const int fields =
        ScanText(line, "%hd %f %f %f", &s.length, &s.renderFrom, &s.renderTo, &s.renderStep);
    if (fields == 1) {
      s.renderFrom = 1.0f;
      s.renderTo = s.length;
      s.renderStep = 1.0f;
    } else if (fields != 4 || !std::isfinite(s.renderFrom) || !std::isfinite(s.renderTo) ||
               !std::isfinite(s.renderStep)) {
      r_.Fail("bad length line");
      return false;
    }
    if (version_ <= 2) {
      s.outputPreset = 2;
      s.outputWidth = 320;
      s.outputHeight = 240;
      s.outputAspect = 1.0f;
      return true;
    }
    if (version_ <= 5) {
      char ignored[256] = {};
      if (!r_.ScanLine(4, nullptr, "%hd %hd %hd %f %255s", &s.outputPreset, &s.outputWidth,
                       &s.outputHeight, &s.outputAspect, ignored)) {
        return false;
      }
    } else {
      for (Rotoscope& roto : chor_.rotoscopes) {
        if (!ReadRotoscope(roto)) {
          return false;
        }
      }
      s.backgroundName = chor_.rotoscopes[kCameraRotoscope].file;
      if (!r_.ScanLine(4, nullptr, "%hd %hd %hd %f", &s.outputPreset, &s.outputWidth,
                       &s.outputHeight, &s.outputAspect)) {
        return false;
      }
      if (version_ >= 8) {
        long flags = 0;
        if (!r_.Next(s.outputName) || !r_.ScanLine(1, nullptr, "%ld", &flags)) {
          return false;
        }
        s.directionFlags = static_cast<std::uint32_t>(flags) & ~kDirectionTransient;
      }
    }
    if (!(s.outputAspect >= 0.001f) || !std::isfinite(s.outputAspect)) {
      s.outputAspect = 1.0f;
    }
    return true;
  }

  bool ReadRotoscope(Rotoscope& roto) {
    std::string line;
    if (!r_.Next(line)) {
      return false;
    }
    if (line == "norotoscope") {
      roto = Rotoscope{};
      return true;
    }
    roto.present = true;
    if (!Resolve(line, roto.file)) {
      return false;
    }
    int p[5] = {};
    short display = 0;
    if (!r_.ScanLine(3, nullptr, "%d %d %f", &roto.a, &roto.b, &roto.c) ||
        !r_.ScanLine(6, nullptr, "%d %d %d %d %d %hd", &p[0], &p[1], &p[2], &p[3], &p[4],
                     &display) ||
        !std::isfinite(roto.c)) {
      return false;
    }
    std::copy(std::begin(p), std::end(p), roto.placement.begin());
    roto.display = display;
    return true;
  }

  bool Count(const char* what, long& n, std::size_t linesEach) {
    if (!r_.ScanLine(1, nullptr, "%ld", &n)) {
      return false;
    }
    if (n < 0 || static_cast<std::size_t>(n) * linesEach > r_.LinesRemaining()) {
      r_.Fail(std::string("impossible ") + what + " count " + std::to_string(n));
      return false;
    }
    return true;
  }

  bool Paths() {
    long n = 0;
    if (!Count("path", n, 2)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      Path path;
      if (!r_.Next(path.name) || !ReadKeyList(r_, path.arena, path.first)) {
        return false;
      }
      NumberPathPoints(path);
      chor_.paths.push_back(std::move(path));
    }
    return true;
  }

  // A presence marker and, when it is 2, a channel set record.
  bool OptionalSet(std::unique_ptr<ChannelSet>& slot) {
    short marker = 0;
    if (!r_.ScanLine(1, nullptr, "%hd", &marker)) {
      return false;
    }
    if (marker != kSetFollows) {
      return true;
    }
    return ReadSet(slot);
  }

  bool ReadSet(std::unique_ptr<ChannelSet>& slot) {
    Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r_);
    if (!set) {
      if (r_.Error().empty()) {
        r_.Fail(set.failure().detail);
      }
      if (IsNewerSoftware(set.failure())) {
        messageId_ = str::kRequiresNewerSoftware;
      }
      return false;
    }
    slot = std::move(*set);
    AssignDefaults(slot.get());
    return true;
  }

  bool Sets() {
    if (!OptionalSet(chor_.camera) || !OptionalSet(chor_.cameraTarget)) {
      return false;
    }
    if (chor_.camera && chor_.camera->Count() < kCameraChannels) {
      chor_.camera->channels.resize(kCameraChannels);
    }
    return true;
  }

  bool Lights() {
    long n = 0;
    if (!Count("light", n, 2)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      Light light;
      short hasTarget = 0;
      if (!OptionalSet(light.set) || !r_.ScanLine(1, nullptr, "%hd", &hasTarget)) {
        return false;
      }
      if (hasTarget == 1 && !ReadSet(light.target)) {
        return false;
      }
      chor_.lights.push_back(std::move(light));
    }
    return true;
  }

  bool Figures() {
    long total = 0;
    if (!Count("figure", total, kMinFigureLines)) {
      return false;
    }
    if (total == 0) {
      return true;
    }
    // The records come depth first; each says whether children and a next
    // sibling follow. stack holds, per open level, the list being filled
    // and whether a sibling follows its current figure.
    struct Level {
      std::vector<FigureInstance>* list;
      bool siblingFollows;
    };
    std::vector<Level> stack;
    std::vector<FigureInstance>* list = &chor_.figures;
    long read = 0;
    for (;;) {
      if (++read > total) {
        r_.Fail("more figure records than the count " + std::to_string(total));
        return false;
      }
      FigureInstance figure;
      int next = 0, children = 0;
      if (!Figure(figure) || !r_.ScanLine(2, nullptr, "%d %d", &next, &children)) {
        return false;
      }
      list->push_back(std::move(figure));
      if (children != 0) {
        if (stack.size() + 1 >= static_cast<std::size_t>(kMaxFigureDepth)) {
          r_.Fail("figure tree deeper than " + std::to_string(kMaxFigureDepth));
          return false;
        }
        stack.push_back({list, next != 0});
        list = &list->back().children;
        continue;
      }
      if (next != 0) {
        continue;
      }
      while (!stack.empty() && !stack.back().siblingFollows) {
        stack.pop_back();
      }
      if (stack.empty()) {
        break;
      }
      list = stack.back().list;
      stack.pop_back();
    }
    if (read != total) {
      r_.Fail("figure count " + std::to_string(total) + " but " + std::to_string(read) +
              " records");
      return false;
    }
    return true;
  }

  bool Figure(FigureInstance& f) {
    if (!Name(f.fileName)) {
      return false;
    }
    short v[3] = {};
    int fields = 0;
    if (!r_.ScanLine(2, &fields, "%hd %hd %hd", &v[0], &v[1], &v[2])) {
      return false;
    }
    if (fields >= 3) {
      f.kind = static_cast<std::uint8_t>(v[1]);
      if (v[1] == 4) {
        f.kind = kInstanceHidden;
      }
      f.role = static_cast<std::uint8_t>(v[2]);
    } else {
      // The older flag word: role in the high nibble, draw kind and hidden
      // bit in the low one.
      const int word = v[1];
      switch (word & 0xF0) {
        case 0x10:
          f.role = kPositionOnly;
          break;
        case 0x20:
          f.role = kBentAlongPath;
          break;
        case 0x40:
          f.role = kFacingTarget;
          break;
        default:
          f.role = kAlongPath;
          break;
      }
      f.kind = (word & 1) ? 1 : (word & 2) ? 2 : (word & 4) ? 3 : 0;
      if (word & 8) {
        f.kind |= kInstanceHidden;
      }
    }
    if (v[0] == kSetFollows && !ReadSet(f.placement)) {
      return false;
    }
    if (f.placement) {
      f.placement->defaults = kPlacementDefaults;
    }
    if (version_ >= 9 && !ReadDynamics(f)) {
      return false;
    }
    return Tracks(f) && MorphList(f);
  }

  bool ReadDynamics(FigureInstance& f) {
    short present = 0;
    if (!r_.ScanLine(1, nullptr, "%hd", &present)) {
      return false;
    }
    if (present == 0) {
      return true;
    }
    auto d = std::make_unique<Dynamics>();
    float mass = 0.0f, bounce = 0.0f;
    long ranges = 0;
    if (!r_.ScanLine(2, nullptr, "%f %f", &mass, &bounce) || !std::isfinite(mass) ||
        !std::isfinite(bounce) || !Count("dynamics range", ranges, 1)) {
      return false;
    }
    // 0 is infinite mass; a mass too small for its inverse to be a number
    // is the lightest body there can be, never an infinitely heavy one.
    d->inverseMass = mass != 0.0f ? 1.0f / mass : 0.0f;
    if (!std::isfinite(d->inverseMass)) {
      d->inverseMass = std::copysign(std::numeric_limits<float>::max(), mass);
    }
    d->bounce = bounce * 0.01f;
    for (long i = 0; i < ranges; ++i) {
      float start = 0.0f, end = 0.0f;
      if (!r_.ScanLine(2, nullptr, "%f %f", &start, &end) || !std::isfinite(start) ||
          !std::isfinite(end)) {
        return false;
      }
      d->ranges.emplace_back(start, end);
    }
    if (ranges > 0) {
      short motion = 0;
      if (!r_.ScanLine(1, nullptr, "%hd", &motion)) {
        return false;
      }
      if (motion == 1) {
        if (!ReadSet(d->motion)) {
          return false;
        }
        d->motion->defaults = kDynamicsDefaults;
      }
    }
    f.dynamics = std::move(d);
    return true;
  }

  bool Tracks(FigureInstance& f) {
    int first = 0, tracks = 0, fields = 0;
    if (!r_.ScanLine(1, &fields, "%d %d", &first, &tracks)) {
      return false;
    }
    if (fields == 1) {
      tracks = first != 0 ? 1 : 0;
    }
    const std::size_t perPlacement = version_ >= 5 ? 2 : 1;
    if (first < 0 || tracks < 0 || (tracks == 0 && first != 0) ||
        static_cast<std::size_t>(tracks) > r_.LinesRemaining() ||
        static_cast<std::size_t>(first) * perPlacement > r_.LinesRemaining()) {
      r_.Fail("impossible track counts");
      return false;
    }
    f.tracks.resize(static_cast<std::size_t>(tracks));
    for (int t = 0; t < tracks; ++t) {
      int count = first;
      if (t > 0) {
        if (!r_.ScanLine(1, nullptr, "%d", &count)) {
          return false;
        }
        if (count < 0 || static_cast<std::size_t>(count) * perPlacement > r_.LinesRemaining()) {
          r_.Fail("impossible placement count");
          return false;
        }
      }
      for (int i = 0; i < count; ++i) {
        ActionPlacement p;
        if (!(version_ >= 5 ? Placement(p) : OldPlacement(p))) {
          return false;
        }
        f.tracks[static_cast<std::size_t>(t)].placements.push_back(std::move(p));
      }
    }
    return true;
  }

  bool Placement(ActionPlacement& p) {
    std::string stored;
    int v[7] = {};
    if (!r_.Next(stored)) {
      return false;
    }
    const std::size_t nameLine = r_.LineNumber();
    if (!r_.ScanLine(7, nullptr, "%d %d %d %d %d %d %d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                     &v[6])) {
      return false;
    }
    for (int value : v) {
      if (value < -32768 || value > 32767) {
        r_.Fail("placement number " + std::to_string(value) + " out of range");
        return false;
      }
    }
    p.hold = static_cast<std::int16_t>(v[0]);
    p.length = static_cast<std::int16_t>(v[1]);
    p.overlap = v[2] != 0;
    p.start = static_cast<std::int16_t>(v[3]);
    p.end = static_cast<std::int16_t>(v[4]);
    p.wait = static_cast<std::int16_t>(v[5]);
    p.useStride = v[6] != 0;
    return ActionFile(stored, p, nameLine);
  }

  // "%s %hd %hd %hd": file, hold, length, overlap; the whole action range.
  bool OldPlacement(ActionPlacement& p) {
    char name[256] = {};
    short hold = 0, length = 0, overlap = 0;
    if (!r_.ScanLine(4, nullptr, "%255s %hd %hd %hd", name, &hold, &length, &overlap)) {
      return false;
    }
    p.hold = hold;
    p.length = length;
    p.overlap = overlap != 0;
    p.wait = 0;
    p.start = 1;
    p.end = length;
    return ActionFile(name, p);
  }

  bool ActionFile(const std::string& stored, ActionPlacement& p, std::size_t line = 0) {
    if (stored == kTweenName) {
      p.actionFile = stored;
      p.tween = true;
      p.actionLength = 1;
      return true;
    }
    if (!Resolve(stored, p.actionFile, line)) {
      return false;
    }
    if (!PeekActionTiming(p.actionFile, p.actionLength, p.strideLength)) {
      // An action that cannot be read leaves the placement without a length
      // or stride; evaluation treats it as an empty action.
      p.actionLength = 0;
      p.strideLength = 0.0f;
    }
    return true;
  }

  // The retired morph list: its entries join track 0 unless the leading
  // placements already name them.
  bool MorphList(FigureInstance& f) {
    long n = 0;
    if (!Count("morph", n, 1)) {
      return false;
    }
    std::vector<ActionPlacement> entries;
    for (long i = 0; i < n; ++i) {
      ActionPlacement p;
      if (!OldPlacement(p)) {
        return false;
      }
      if (p.actionLength > 0) {
        p.end = p.actionLength;
      }
      entries.push_back(std::move(p));
    }
    if (entries.empty()) {
      return true;
    }
    if (f.tracks.empty()) {
      f.tracks.emplace_back();
    }
    auto& track0 = f.tracks[0].placements;
    std::size_t matched = 0;
    while (matched < entries.size() && matched < track0.size() &&
           entries[matched].actionFile == track0[matched].actionFile) {
      ++matched;
    }
    for (std::size_t i = matched; i < entries.size(); ++i) {
      track0.push_back(std::move(entries[i]));
    }
    return true;
  }

  bool TimingList(PathTimingList& list) {
    long n = 0;
    if (!Count("path timing", n, 1)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      long point = 0;
      float frame = 0.0f;
      if (!r_.ScanLine(2, nullptr, "%ld %f", &point, &frame) || !std::isfinite(frame)) {
        return false;
      }
      list.push_back({static_cast<std::int32_t>(point), frame});
    }
    return true;
  }

  bool Trailer() {
    if (!TimingList(chor_.cameraTiming[0]) || !TimingList(chor_.cameraTiming[1])) {
      return false;
    }
    long n = 0;
    if (!Count("light timing", n, 3)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      std::string pathName;
      std::array<PathTimingList, 2> lists;
      if (!r_.Next(pathName) || !TimingList(lists[0]) || !TimingList(lists[1])) {
        return false;
      }
      for (Light& l : chor_.lights) {
        if (l.set && l.set->referenceName == pathName) {
          l.timing = std::move(lists);
          break;
        }
      }
    }
    if (!Count("figure timing", n, 3)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      std::string file;
      std::array<PathTimingList, 2> lists;
      if (!Name(file) || !TimingList(lists[0]) || !TimingList(lists[1])) {
        return false;
      }
      for (FigureInstance& f : chor_.figures) {
        if (f.fileName == file) {
          f.timing = std::move(lists);
          break;
        }
      }
    }
    long windows = 0;
    if (!r_.ScanLine(1, nullptr, "%ld", &windows)) {
      return false;
    }
    if (windows != 0) {
      // The records of open module windows belong to windows this build does
      // not have, and their length is theirs to know: the rest is skipped.
      log_line(r_.Error().empty() ? chor_.scene.fileName + ": module window records skipped"
                                  : r_.Error());
      windowsSkipped_ = true;
      return true;
    }
    return version_ < 7 || Snapshots();
  }

  // Window snapshots belong to the module windows; they are checked and
  // dropped.
  bool Snapshots() {
    long n = 0;
    if (!Count("snapshot", n, 2)) {
      return false;
    }
    for (long i = 0; i < n; ++i) {
      std::string name;
      long views = 0;
      if (!r_.Next(name) || !Count("snapshot view", views, kLinesPerSnapshotView)) {
        return false;
      }
      for (long v = 0; v < views; ++v) {
        std::string text;
        int d[5];
        unsigned u[2];
        int w[8];
        float g[9];
        if (!r_.Next(text) || !r_.Next(text) || !r_.Next(text) ||
            !r_.ScanLine(5, nullptr, "%d %d %d %d %d", &d[0], &d[1], &d[2], &d[3], &d[4]) ||
            !r_.ScanLine(10, nullptr, "%u %u %d %d %d %d %d %d %d %d", &u[0], &u[1], &w[0], &w[1],
                         &w[2], &w[3], &w[4], &w[5], &w[6], &w[7]) ||
            !r_.ScanLine(7, nullptr, "%f %f %f %f %f %f %f", &g[0], &g[1], &g[2], &g[3], &g[4],
                         &g[5], &g[6]) ||
            !r_.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %f %f", &g[0], &g[1], &g[2], &g[3],
                         &g[4], &g[5], &g[6], &g[7], &g[8]) ||
            !r_.ScanLine(9, nullptr, "%f %f %f %f %f %f %f %f %f", &g[0], &g[1], &g[2], &g[3],
                         &g[4], &g[5], &g[6], &g[7], &g[8])) {
          return false;
        }
      }
    }
    return true;
  }

  // Older files time things along their paths by point; those timings
  // become Ease keys when they are read.
  void ConvertTimings() {
    ConvertTiming(chor_.cameraTiming[0], chor_.camera.get());
    ConvertTiming(chor_.cameraTiming[1], chor_.cameraTarget.get());
    for (Light& l : chor_.lights) {
      ConvertTiming(l.timing[0], l.set.get());
      ConvertTiming(l.timing[1], l.target.get());
    }
    for (FigureInstance& f : chor_.figures) {
      ConvertTiming(f.timing[0], f.placement.get());
      ConvertTiming(f.timing[1], f.Target());
    }
  }

  void ConvertTiming(PathTimingList& list, ChannelSet* set) {
    const Path* path = chor_.PathOf(set);
    if (path) {
      for (const PathTiming& t : list) {
        const float value = PathPercentAtPoint(*path, t.point);
        if (value >= 0.0f) {
          SetKey(*set, kEase, t.frame, value);
        }
      }
    }
    list.clear();
  }

  TextReader r_;
  bool windowsSkipped_ = false;
  std::filesystem::path folder_;
  Choreography chor_;
  int version_ = 0;
  int messageId_ = str::kTroubleOpeningChoreography;
};

// Writing.

void WriteTimingList(TextWriter& w, const PathTimingList& list) {
  w.Line("%hd", static_cast<short>(list.size()));
  for (const PathTiming& t : list) {
    w.Line("%ld %g", static_cast<long>(t.point), static_cast<double>(t.frame));
  }
}

void WriteOptionalSet(TextWriter& w, const ChannelSet* set) {
  if (set) {
    w.Line("%hd", static_cast<short>(kSetFollows));
    WriteChannelSet(w, *set);
  } else {
    w.Line("0");
  }
}

class ChorWriter {
 public:
  ChorWriter(TextWriter& w, const std::filesystem::path& file)
      : w_(w), folder_(AbsoluteFolder(file)) {}

  void Write(const Choreography& chor) {
    // The counts are 16-bit in the file; a scene that outgrows them is
    // refused rather than written wrongly (the old file stays).
    const std::size_t figures = chor.AllFigures().size();
    if (chor.paths.size() > kMaxCount || chor.lights.size() > kMaxCount || figures > kMaxCount) {
      w_.Fail();
      return;
    }
    const SceneSettings& s = chor.scene;
    w_.Line("%hd %g %g %g", s.length, static_cast<double>(s.renderFrom),
            static_cast<double>(s.renderTo), static_cast<double>(s.renderStep));
    for (const Rotoscope& roto : chor.rotoscopes) {
      if (!roto.present) {
        w_.Line("norotoscope");
        continue;
      }
      Name(roto.file);
      w_.Line("%d %d %g", roto.a, roto.b, static_cast<double>(roto.c));
      w_.Line("%d %d %d %d %d %hd", roto.placement[0], roto.placement[1], roto.placement[2],
              roto.placement[3], roto.placement[4], roto.display);
    }
    w_.Line("%hd %hd %hd %g", s.outputPreset, s.outputWidth, s.outputHeight,
            static_cast<double>(s.outputAspect));
    w_.Line("%s", s.outputName.c_str());
    w_.Line("%ld", static_cast<long>(s.directionFlags & ~kDirectionTransient));
    w_.Line("%hd", static_cast<short>(chor.paths.size()));
    for (const Path& p : chor.paths) {
      WriteNamedKeyList(w_, p.name, p.first);
    }
    WriteOptionalSet(w_, chor.camera.get());
    WriteOptionalSet(w_, chor.cameraTarget.get());
    w_.Line("%hd", static_cast<short>(chor.lights.size()));
    for (const Light& l : chor.lights) {
      WriteOptionalSet(w_, l.set.get());
      if (l.target) {
        w_.Line("1");
        WriteChannelSet(w_, *l.target);
      } else {
        w_.Line("0");
      }
    }
    w_.Line("%hd", static_cast<short>(figures));
    Figures(chor.figures);
    Trailer(chor);
  }

 private:
  void Name(const std::string& name) { w_.Line("%s", RelativeToFolder(name, folder_).c_str()); }

  void Figures(const std::vector<FigureInstance>& list) {
    for (std::size_t i = 0; i < list.size(); ++i) {
      const FigureInstance& f = list[i];
      Name(f.fileName);
      w_.Line("%hd %hd %hd", static_cast<short>(f.placement ? kSetFollows : 0),
              static_cast<short>(f.kind), static_cast<short>(f.role));
      if (f.placement) {
        WriteChannelSet(w_, *f.placement);
      }
      Dynamics(f.dynamics.get());
      const int first = f.tracks.empty() ? 0 : static_cast<int>(f.tracks[0].placements.size());
      w_.Line("%d %d", first, static_cast<int>(f.tracks.size()));
      for (std::size_t t = 0; t < f.tracks.size(); ++t) {
        if (t > 0) {
          w_.Line("%d", static_cast<int>(f.tracks[t].placements.size()));
        }
        for (const ActionPlacement& p : f.tracks[t].placements) {
          if (p.tween) {
            w_.Line("%s", p.actionFile.c_str());
          } else {
            Name(p.actionFile);
          }
          w_.Line("%d %d %d %d %d %d %d", p.hold, p.length, p.overlap ? 1 : 0, p.start, p.end,
                  p.wait, p.useStride ? 1 : 0);
        }
      }
      w_.Line("0");  // the retired morph list
      w_.Line("%d %d", i + 1 < list.size() ? 1 : 0, f.children.empty() ? 0 : 1);
      Figures(f.children);
    }
  }

  void Dynamics(const zentrope::Dynamics* d) {
    if (!d) {
      w_.Line("0");
      return;
    }
    w_.Line("1");
    // A light body must not round to 0 (infinite mass) when written: the
    // lightest mass written is the smallest whose inverse is a float.
    constexpr float kLightestMass = 2.93874e-39f;
    float mass = d->inverseMass != 0.0f ? 1.0f / d->inverseMass : 0.0f;
    if (mass != 0.0f || d->inverseMass != 0.0f) {
      mass = std::copysign(std::max(std::fabs(mass), kLightestMass), d->inverseMass);
    }
    w_.Line("%g %g", static_cast<double>(mass), static_cast<double>(d->bounce * 100.0f));
    w_.Line("%d", static_cast<int>(d->ranges.size()));
    if (d->ranges.empty()) {
      return;
    }
    for (const auto& [start, end] : d->ranges) {
      w_.Line("%g %g", static_cast<double>(start), static_cast<double>(end));
    }
    if (d->motion) {
      w_.Line("1");
      WriteChannelSet(w_, *d->motion);
    } else {
      w_.Line("0");
    }
  }

  void Trailer(const Choreography& chor) {
    WriteTimingList(w_, chor.cameraTiming[0]);
    WriteTimingList(w_, chor.cameraTiming[1]);
    short lights = 0;
    for (const Light& l : chor.lights) {
      lights += (!l.timing[0].empty() || !l.timing[1].empty()) && l.set ? 1 : 0;
    }
    w_.Line("%hd", lights);
    for (const Light& l : chor.lights) {
      if ((!l.timing[0].empty() || !l.timing[1].empty()) && l.set) {
        w_.Line("%s", l.set->referenceName.c_str());
        WriteTimingList(w_, l.timing[0]);
        WriteTimingList(w_, l.timing[1]);
      }
    }
    short figures = 0;
    for (const FigureInstance& f : chor.figures) {
      figures += !f.timing[0].empty() || !f.timing[1].empty() ? 1 : 0;
    }
    w_.Line("%hd", figures);
    for (const FigureInstance& f : chor.figures) {
      if (!f.timing[0].empty() || !f.timing[1].empty()) {
        Name(f.fileName);
        WriteTimingList(w_, f.timing[0]);
        WriteTimingList(w_, f.timing[1]);
      }
    }
    w_.Line("%d", 0);  // open module windows: none in this build
    w_.Line("%d", 0);  // window snapshots
  }

  TextWriter& w_;
  std::filesystem::path folder_;
};

bool Untouched(const Light& light) {
  if (light.target || !light.set || !light.set->referenceName.empty() || light.set->next) {
    return false;
  }
  for (const Channel& c : light.set->channels) {
    if (c.keys) {
      return false;
    }
  }
  return true;
}

}  // namespace

Result<Choreography> ParseChoreography(std::string contents, const std::string& path) {
  return ChorParser(std::move(contents), path).Parse();
}

Result<Choreography> read_choreography(const std::string& path) {
  set_cursor("Snooze");
  SetStatusText("Loading [" + path + "]");
  std::string contents, error;
  std::filesystem::path located;
  Result<Choreography> result =
      LoadDocumentText(path, contents, &error, &located)
          ? ParseChoreography(std::move(contents), located.string())
          : Result<Choreography>(Failure{LoadString(str::kTroubleOpeningChoreography), error});
  SetStatusText("");
  set_cursor("WakeUp");
  return result;
}

SaveStatus write_choreography(const Choreography& chor, const std::string& path,
                              std::string* detail) {
  set_cursor("Snooze");
  const SaveStatus status = WriteDocument(
      path, "CHOR", kChoreographyVersion,
      [&](TextWriter& w, const std::filesystem::path& folder) {
        ChorWriter(w, folder / "scene").Write(chor);
      },
      detail, false);
  set_cursor("WakeUp");
  return status;
}

void ImportChoreography(Choreography& into, Choreography scratch) {
  // Imported paths keep their names unless taken; what rides them follows.
  std::set<std::string> taken;
  for (const Path& p : into.paths) {
    taken.insert(p.name);
  }
  for (const Path& p : scratch.paths) {
    taken.insert(p.name);
  }
  std::map<std::string, std::string> renamed;
  for (Path& p : scratch.paths) {
    if (!into.FindPath(p.name)) {
      continue;
    }
    std::string name = p.name;
    while (taken.count(name)) {
      name += "0";
    }
    taken.insert(name);
    renamed[p.name] = name;
    p.name = name;
  }
  if (!renamed.empty()) {
    scratch.ForEachRidingSet([&](ChannelSet& set) {
      const auto it = renamed.find(set.referenceName);
      if (it != renamed.end()) {
        set.referenceName = it->second;
      }
    });
  }
  for (Path& p : scratch.paths) {
    into.paths.push_back(std::move(p));
  }
  if (!scratch.lights.empty() && into.lights.size() == 1 && Untouched(into.lights[0])) {
    into.lights.clear();
  }
  for (Light& l : scratch.lights) {
    into.lights.push_back(std::move(l));
  }
  for (FigureInstance& f : scratch.figures) {
    f.state |= kNeedsLoading;
    into.figures.push_back(std::move(f));
  }
  into.dynamicsUpToDate = false;
}

}  // namespace zentrope
