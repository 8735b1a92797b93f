// DXF import: the file is read as group code/value pairs. POLYLINE runs and
// 3DFACE entities become chains of positions; chains whose ends meet are
// joined, and the drawing is then centred and scaled to the import size
// before it becomes splines.
#include "io/dxf_import.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/spline.h"
#include "io/double_ended_array.h"
#include "model/segment.h"
#include "model/segment_file.h"
#include "model/text_file.h"
#include "shell/regular_file.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

// Larger drawings hold more splines than a segment can (32767 of at most
// 32767 points), and would only cost memory before failing.
constexpr std::uintmax_t kMaxDxfBytes = std::uintmax_t{64} << 20;
constexpr std::size_t kMaxSegmentCount = 32767;

struct Pair {
  int code = 0;
  std::string_view value;
  std::size_t line = 0;  // the code's line, from 1
};

std::string_view Trim(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return {};
  }
  const std::size_t last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

// One chain of positions: a polyline, a face or several joined. peaked[i]
// clears the smooth flag of point i.
struct Chain {
  DoubleEndedArray<Vector3> points;
  DoubleEndedArray<std::uint8_t> peaked;
  bool closed = false;
  bool alive = true;
};

bool Same(const Vector3& a, const Vector3& b) {
  return a.x == b.x && a.y == b.y && a.z == b.z;
}

// The bend measure of a joint J between neighbours A and B: the cosine of
// the angle between the arms J→A and J→B. A straight run gives −1, a right
// angle 0, a hairpin 1; the joint is peaked above −π/6 (taken as a cosine,
// that is an angle between the arms below about 121.6°, so a turn of more
// than about 58°).
constexpr double kPeakAbove = -0.5235987711485907;

bool PeakedJoint(const Vector3& a, const Vector3& j, const Vector3& b) {
  const double ax = double{a.x} - j.x, ay = double{a.y} - j.y, az = double{a.z} - j.z;
  const double bx = double{b.x} - j.x, by = double{b.y} - j.y, bz = double{b.z} - j.z;
  const double la = std::sqrt(ax * ax + ay * ay + az * az);
  const double lb = std::sqrt(bx * bx + by * by + bz * bz);
  if (!(la > 0.0) || !(lb > 0.0) || !std::isfinite(la * lb)) {
    return false;
  }
  return (ax * bx + ay * by + az * bz) / (la * lb) > kPeakAbove;
}

// The positions of an entity without repeats: consecutive equal positions
// are one, and a last position equal to the first is dropped. True when the
// last was the first (the entity ends where it began).
bool DropRepeats(std::vector<Vector3>& points) {
  std::vector<Vector3> kept;
  kept.reserve(points.size());
  for (const Vector3& p : points) {
    if (kept.empty() || !Same(kept.back(), p)) {
      kept.push_back(p);
    }
  }
  const bool endsAtStart = kept.size() > 1 && Same(kept.front(), kept.back());
  if (endsAtStart) {
    kept.pop_back();
  }
  points = std::move(kept);
  return endsAtStart;
}

// Closes a chain of at least three points through its first point.
void CloseChain(Chain& c) {
  c.closed = true;
  const std::size_t n = c.points.size();
  c.peaked[0] = PeakedJoint(c.points[n - 1], c.points[0], c.points[1]) ? 1 : 0;
}

class DxfParser {
 public:
  DxfParser(std::string_view text, const std::string& file) : text_(text), file_(file) {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") {
      text_.remove_prefix(3);  // a byte-order mark some writers put first
    }
  }

  std::optional<Failure> Read(std::vector<Chain>& chains);

 private:
  void Fail(std::size_t line, const std::string& why) {
    if (!failure_) {
      failure_ = Failure{LoadString(str::kTroubleOpeningSegment),
                         file_ + ":" + std::to_string(line) + ": " + why};
    }
  }
  bool NextLine(std::string_view& line);
  // The next pair; false at the end of the text (or on a failure).
  bool NextPair(Pair& pair);
  // The groups of the entity just started, up to the next code 0 (left for
  // the next read). The text ending first cuts the entity short.
  bool EntityGroups(std::string_view name, std::size_t line, std::vector<Pair>& groups);
  bool Coordinate(const Pair& pair, float& value);
  bool Flag(const Pair& pair, std::int16_t& value);
  // x, y, z of one corner from codes base, base + 10, base + 20; a missing z
  // is 0. False (no failure) when x or y is missing.
  bool Corner(const std::vector<Pair>& groups, int base, Vector3& corner, bool& found);
  bool ReadPolyline(std::size_t line, std::vector<Chain>& chains);
  bool ReadFace(std::size_t line, std::vector<Chain>& chains);

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t lineNumber_ = 0;
  const std::string& file_;
  std::optional<Failure> failure_;
  std::optional<Pair> pushed_;
};

bool DxfParser::NextLine(std::string_view& line) {
  if (pos_ >= text_.size()) {
    return false;
  }
  std::size_t end = text_.find('\n', pos_);
  const std::size_t next = end == std::string_view::npos ? text_.size() : end + 1;
  if (end == std::string_view::npos) {
    end = text_.size();
  }
  line = text_.substr(pos_, end - pos_);
  pos_ = next;
  ++lineNumber_;
  if (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  if (line.size() > kMaxLineLength) {
    Fail(lineNumber_, "line longer than 255 characters");
    return false;
  }
  return true;
}

bool DxfParser::NextPair(Pair& pair) {
  if (pushed_) {
    pair = *pushed_;
    pushed_.reset();
    return true;
  }
  if (failure_) {
    return false;
  }
  std::string_view codeLine;
  if (!NextLine(codeLine)) {
    return false;
  }
  pair.line = lineNumber_;
  const std::string_view code = Trim(codeLine);
  const char* end = code.data() + code.size();
  auto [stop, ec] = std::from_chars(code.data(), end, pair.code);
  if (code.empty() || ec != std::errc() || stop != end) {
    Fail(pair.line, "group code expected, found \"" + std::string(code) + "\"");
    return false;
  }
  std::string_view value;
  if (!NextLine(value)) {
    Fail(pair.line, "group code " + std::string(code) + " without a value");
    return false;
  }
  pair.value = Trim(value);
  return true;
}

// text in double quotes, as failures show what the file held.
std::string Quoted(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted.push_back('"');
  quoted.append(text);
  quoted.push_back('"');
  return quoted;
}

bool DxfParser::EntityGroups(std::string_view name, std::size_t line, std::vector<Pair>& groups) {
  groups.clear();
  Pair pair;
  while (NextPair(pair)) {
    if (pair.code == 0) {
      pushed_ = pair;
      return true;
    }
    groups.push_back(pair);
  }
  Fail(line, Quoted(name) + " cut short");
  return false;
}

bool DxfParser::Coordinate(const Pair& pair, float& value) {
  std::string_view text = pair.value;
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  double d = 0.0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, d);
  if (text.empty() || ec != std::errc() || stop != end) {
    Fail(pair.line + 1, Quoted(pair.value) + " is not a number");
    return false;
  }
  value = static_cast<float>(d);
  if (!std::isfinite(value)) {
    Fail(pair.line + 1, Quoted(pair.value) + " is not a finite number");
    return false;
  }
  return true;
}

bool DxfParser::Flag(const Pair& pair, std::int16_t& value) {
  long wide = 0;
  if (ScanText(std::string(pair.value), "%ld", &wide) != 1 ||
      wide < std::numeric_limits<std::int16_t>::min() ||
      wide > std::numeric_limits<std::int16_t>::max()) {
    Fail(pair.line + 1, "flags \"" + std::string(pair.value) + "\" are not a 16-bit number");
    return false;
  }
  value = static_cast<std::int16_t>(wide);
  return true;
}

bool DxfParser::Corner(const std::vector<Pair>& groups, int base, Vector3& corner, bool& found) {
  bool haveX = false, haveY = false;
  corner = {};
  for (const Pair& g : groups) {
    float* target = g.code == base        ? &corner.x
                    : g.code == base + 10 ? &corner.y
                    : g.code == base + 20 ? &corner.z
                                          : nullptr;
    if (!target) {
      continue;
    }
    if (!Coordinate(g, *target)) {
      return false;
    }
    haveX = haveX || g.code == base;
    haveY = haveY || g.code == base + 10;
  }
  found = haveX && haveY;
  return true;
}

bool DxfParser::ReadPolyline(std::size_t line, std::vector<Chain>& chains) {
  std::vector<Pair> groups;
  if (!EntityGroups("POLYLINE", line, groups)) {
    return false;
  }
  std::int16_t flags = 0;
  for (const Pair& g : groups) {
    if (g.code == 70 && !Flag(g, flags)) {
      return false;
    }
  }
  std::vector<Vector3> points;
  Pair pair;
  for (;;) {
    if (!NextPair(pair)) {
      Fail(line, "\"POLYLINE\" without \"SEQEND\"");
      return false;
    }
    const std::string_view name = pair.value;
    if (name == "SEQEND") {
      if (!EntityGroups(name, pair.line, groups)) {
        return false;
      }
      break;
    }
    if (name != "VERTEX") {
      Fail(pair.line, "\"POLYLINE\" without \"SEQEND\" before \"" + std::string(name) + "\"");
      return false;
    }
    const std::size_t vertexLine = pair.line;
    if (!EntityGroups(name, vertexLine, groups)) {
      return false;
    }
    std::int16_t vertexFlags = 0;
    for (const Pair& g : groups) {
      if (g.code == 70 && !Flag(g, vertexFlags)) {
        return false;
      }
    }
    // A face record of a polyface mesh (128 without 64) holds corner
    // numbers, not a position.
    if ((vertexFlags & 128) != 0 && (vertexFlags & 64) == 0) {
      continue;
    }
    Vector3 p;
    bool found = false;
    if (!Corner(groups, 10, p, found)) {
      return false;
    }
    if (!found) {
      Fail(vertexLine, "\"VERTEX\" without a position");
      return false;
    }
    points.push_back(p);
  }
  const bool endsAtStart = DropRepeats(points);
  if (points.size() < 2) {
    Fail(line, "\"POLYLINE\" without two distinct vertices");
    return false;
  }
  Chain c;
  c.points.assign(points.begin(), points.end());
  c.peaked.assign(points.size(), 0);
  // A run that is flagged closed, or ends where it began, closes; it needs
  // three points, as two would run back along themselves.
  if (((flags & 1) != 0 || endsAtStart) && c.points.size() >= 3) {
    CloseChain(c);
  }
  chains.push_back(std::move(c));
  return true;
}

bool DxfParser::ReadFace(std::size_t line, std::vector<Chain>& chains) {
  std::vector<Pair> groups;
  if (!EntityGroups("3DFACE", line, groups)) {
    return false;
  }
  std::vector<Vector3> corners;
  for (int i = 0; i < 4; ++i) {
    Vector3 corner;
    bool found = false;
    if (!Corner(groups, 10 + i, corner, found)) {
      return false;
    }
    if (!found && i < 3) {
      Fail(line, "\"3DFACE\" without corner " + std::to_string(i + 1));
      return false;
    }
    // A face of three corners may leave the fourth out: it is the third.
    corners.push_back(found ? corner : corners.back());
  }
  DropRepeats(corners);
  if (corners.size() < 3) {
    return true;  // a face without area adds nothing to the drawing
  }
  // A face is a flat polygon: each corner is peaked by the same rule as a
  // join.
  Chain c;
  c.points.assign(corners.begin(), corners.end());
  c.closed = true;
  const std::size_t n = corners.size();
  for (std::size_t i = 0; i < n; ++i) {
    c.peaked.push_back(PeakedJoint(corners[(i + n - 1) % n], corners[i], corners[(i + 1) % n]));
  }
  chains.push_back(std::move(c));
  return true;
}

std::optional<Failure> DxfParser::Read(std::vector<Chain>& chains) {
  if (text_.size() > kMaxDxfBytes) {
    return Failure{LoadString(str::kTroubleOpeningSegment),
                   file_ + ": larger than " + std::to_string(kMaxDxfBytes >> 20) + " MiB"};
  }
  bool inBlocks = false;
  Pair pair;
  while (NextPair(pair)) {
    if (pair.code != 0) {
      continue;  // header variables, table entries, groups of other entities
    }
    const std::string_view name = pair.value;
    if (name == "EOF") {
      break;
    }
    if (name == "SECTION") {
      Pair title;
      if (NextPair(title)) {
        inBlocks = title.code == 2 && title.value == "BLOCKS";
        if (title.code == 0) {
          pushed_ = title;
        }
      }
    } else if (name == "ENDSEC") {
      inBlocks = false;
    } else if (inBlocks) {
      // Block definitions are drawn only where they are inserted, which the
      // import does not follow.
    } else if (name == "POLYLINE") {
      if (!ReadPolyline(pair.line, chains)) {
        break;
      }
    } else if (name == "3DFACE") {
      if (!ReadFace(pair.line, chains)) {
        break;
      }
    }
  }
  return failure_;
}

// Position keys for finding chain ends that meet; −0 and 0 are one key.
struct PositionKey {
  float x, y, z;
  bool operator==(const PositionKey&) const = default;
};
struct PositionHash {
  std::size_t operator()(const PositionKey& k) const {
    std::uint32_t b[3];
    std::memcpy(&b[0], &k.x, 4);
    std::memcpy(&b[1], &k.y, 4);
    std::memcpy(&b[2], &k.z, 4);
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint32_t v : b) {
      h = (h ^ v) * 1099511628211ull;
    }
    return static_cast<std::size_t>(h ^ (h >> 29));
  }
};
PositionKey KeyOf(const Vector3& v) {
  return {v.x + 0.0f, v.y + 0.0f, v.z + 0.0f};
}

struct EndRef {
  std::size_t chain;
  bool back;
};

// Joins chains whose ends coincide until a pass makes no join, and closes a
// chain whose two ends meet.
void JoinChains(std::vector<Chain>& chains) {
  std::unordered_map<PositionKey, std::vector<EndRef>, PositionHash> ends;
  auto note = [&](std::size_t i) {
    ends[KeyOf(chains[i].points.front())].push_back({i, false});
    ends[KeyOf(chains[i].points.back())].push_back({i, true});
  };
  for (std::size_t i = 0; i < chains.size(); ++i) {
    if (!chains[i].closed) {
      note(i);
    }
  }
  // Another open chain with an end at position; entries are checked when
  // found, so ends that moved or chains that were absorbed are passed over.
  auto find = [&](std::size_t self, const Vector3& position) -> std::optional<EndRef> {
    auto it = ends.find(KeyOf(position));
    if (it == ends.end()) {
      return std::nullopt;
    }
    // An entry is stale once its chain was absorbed or closed or its end
    // moved on. Only stale entries and the chain's own stand before a match,
    // so once they make up half the list it is compacted: each entry is
    // passed over a bounded number of times, and many chains meeting at
    // one point join in linear time.
    std::vector<EndRef>& list = it->second;
    const auto stale = [&](const EndRef& e) {
      const Chain& c = chains[e.chain];
      return !c.alive || c.closed || !Same(e.back ? c.points.back() : c.points.front(), position);
    };
    std::optional<EndRef> found;
    std::size_t staleSeen = 0;
    for (const EndRef& e : list) {
      if (stale(e)) {
        ++staleSeen;
      } else if (e.chain != self) {
        found = e;
        break;
      }
    }
    if (staleSeen > 8 && 2 * staleSeen > list.size()) {
      std::erase_if(list, stale);
    }
    return found;
  };
  bool joined = true;
  while (joined) {
    joined = false;
    for (std::size_t i = 0; i < chains.size(); ++i) {
      Chain& c = chains[i];
      while (c.alive && !c.closed) {
        if (Same(c.points.front(), c.points.back()) && c.points.size() >= 4) {
          // The ends meet: one of them goes and the loop closes there.
          c.points.pop_back();
          c.peaked.pop_back();
          CloseChain(c);
          joined = true;
          break;
        }
        if (std::optional<EndRef> e = find(i, c.points.back())) {
          Chain& other = chains[e->chain];
          if (e->back) {
            std::reverse(other.points.begin(), other.points.end());
            std::reverse(other.peaked.begin(), other.peaked.end());
          }
          const std::size_t joint = c.points.size() - 1;
          c.points.Append(other.points.begin() + 1, other.points.end());
          c.peaked.Append(other.peaked.begin() + 1, other.peaked.end());
          c.peaked[joint] =
              PeakedJoint(c.points[joint - 1], c.points[joint], c.points[joint + 1]) ? 1 : 0;
          other.alive = false;
          other.points.clear();
          other.peaked.clear();
          ends[KeyOf(c.points.back())].push_back({i, true});
          joined = true;
          continue;
        }
        if (std::optional<EndRef> e = find(i, c.points.front())) {
          Chain& other = chains[e->chain];
          if (!e->back) {
            std::reverse(other.points.begin(), other.points.end());
            std::reverse(other.peaked.begin(), other.peaked.end());
          }
          const std::size_t joint = other.points.size() - 1;
          c.points.Prepend(other.points.begin(), other.points.end() - 1);
          c.peaked.Prepend(other.peaked.begin(), other.peaked.end() - 1);
          c.peaked[joint] =
              PeakedJoint(c.points[joint - 1], c.points[joint], c.points[joint + 1]) ? 1 : 0;
          other.alive = false;
          other.points.clear();
          other.peaked.clear();
          ends[KeyOf(c.points.front())].push_back({i, false});
          joined = true;
          continue;
        }
        break;
      }
    }
  }
}

}  // namespace

Result<SplineSet> ImportDxf(const std::string& contents, const std::string& file) {
  std::vector<Chain> chains;
  DxfParser parser(contents, file);
  if (std::optional<Failure> failure = parser.Read(chains)) {
    return *failure;
  }
  auto fail = [&](const std::string& why) {
    return Failure{LoadString(str::kTroubleOpeningSegment), file + ": " + why};
  };
  JoinChains(chains);

  // The drawing is centred on the origin and scaled so that its largest
  // extent is kDxfImportSize.
  double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
  std::size_t splineCount = 0;
  for (const Chain& c : chains) {
    if (!c.alive) {
      continue;
    }
    if (++splineCount > kMaxSegmentCount || c.points.size() > kMaxSegmentCount) {
      return fail("more than 32767 splines, or points in a spline, than a segment holds");
    }
    for (const Vector3& p : c.points) {
      const double v[3] = {p.x, p.y, p.z};
      const bool firstPoint = splineCount == 1 && &p == &c.points.front();
      for (int k = 0; k < 3; ++k) {
        lo[k] = firstPoint ? v[k] : std::min(lo[k], v[k]);
        hi[k] = firstPoint ? v[k] : std::max(hi[k], v[k]);
      }
    }
  }
  if (splineCount == 0) {
    return fail("no polyline or face to import");
  }
  const double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
  if (!(extent > 0.0) || !std::isfinite(extent)) {
    return fail("the drawing has no extent");
  }
  const double scale = kDxfImportSize / extent;
  const double centre[3] = {(lo[0] + hi[0]) / 2, (lo[1] + hi[1]) / 2, (lo[2] + hi[2]) / 2};

  SplineSet set;
  std::vector<Vector3> positions;
  for (const Chain& c : chains) {
    if (!c.alive) {
      continue;
    }
    positions.clear();
    for (const Vector3& p : c.points) {
      positions.push_back({static_cast<float>((p.x - centre[0]) * scale),
                           static_cast<float>((p.y - centre[1]) * scale),
                           static_cast<float>((p.z - centre[2]) * scale)});
    }
    ControlPoint* first = set.AppendSpline(positions, c.closed);
    if (!first) {
      return fail("out of memory");
    }
    std::size_t k = 0;
    for (ControlPoint* p = first; p; p = NextInTraversal(p), ++k) {
      p->Set(kPointSmooth, c.peaked[k] == 0);
    }
  }
  // Peaked points change their own and their neighbours' tangents.
  set.ComputeAllTangents();
  return set;
}

Result<SplineSet> ImportDxfFile(const std::string& path) {
  std::string contents, error;
  if (!ReadRegularFile(path, kMaxDxfBytes, contents, &error, kMaxLineLength)) {
    return Failure{LoadString(str::kTroubleOpeningSegment), error};
  }
  return ImportDxf(contents, path);
}

void RegisterDxfImport() {
  SetForeignModelReader(&ImportDxf);
}

SaveReport ImportDxfAsSegment(const std::string& dxfPath, const std::string& segmentPath,
                              bool overwrite) {
  SaveReport report;
  Result<SplineSet> splines = ImportDxfFile(dxfPath);
  if (!splines) {
    report.failures.push_back(splines.failure().message);
    report.reason = splines.failure().detail;
    return report;
  }
  return SaveImportedSegment(std::move(*splines), segmentPath, overwrite);
}

SaveReport SaveImportedSegment(SplineSet splines, const std::string& segmentPath, bool overwrite) {
  Segment segment;
  *segment.splines = std::move(splines);
  segment.Renumber();
  segment.SplinesEdited();
  return SaveSegmentAs(segment, segmentPath, overwrite);
}

}  // namespace zentrope
