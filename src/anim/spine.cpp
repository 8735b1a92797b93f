// Spine evaluation, deformation and files.
#include "anim/spine.h"

#include <array>
#include <cmath>
#include <filesystem>
#include <optional>
#include <vector>

#include "anim/channel_file.h"
#include "core/rotation.h"
#include "model/text_file.h"
#include "shell/error_log.h"
#include "shell/string_table.h"

namespace zentrope {

namespace {

Vector3 Mul(const Vector3& a, const Vector3& b) {
  return {a.x * b.x, a.y * b.y, a.z * b.z};
}

float Squared(const Vector3& v) {
  return Dot(v, v);
}

}  // namespace

void BindSpine(Spine& spine, const SplineSet& rest) {
  spine.binding.clear();
  if (spine.points.empty()) {
    return;
  }
  rest.ForEachPoint([&](ControlPoint& p) {
    float best = 1e8f;
    int index = 0;
    for (std::size_t i = 0; i < spine.points.size(); ++i) {
      const float d = Squared(p.position - spine.points[i].rest);
      if (d < best) {
        best = d;
        index = static_cast<int>(i);
      }
    }
    spine.binding[p.number] = index;
  });
}

Spine AssignSpine(const SplineSet& rest, const ControlPoint& point) {
  Spine spine;
  const ControlPoint* first = &point;
  while (first->prev && !first->prev->ClosesLoop()) {
    first = first->prev;
  }
  spine.firstNumber = first->number;
  for (const ControlPoint* p = first; p; p = NextInTraversal(p)) {
    SpinePoint s;
    s.rest = p->position;
    s.transform.SetTranslation(p->position);
    spine.points.push_back(std::move(s));
  }
  BindSpine(spine, rest);
  return spine;
}

Transform EvaluateSpine(Spine& spine, float frame) {
  Transform m = Transform::Identity();
  Vector3 s{1, 1, 1};
  Vector3 previous;
  for (SpinePoint& p : spine.points) {
    Vector3 ta;
    Vector3 sa{1, 1, 1};
    Matrix3 r = Matrix3::Identity();
    if (p.channels && p.channels->tag == kChannelSetTag) {
      const ChannelSet& k = *p.channels;
      ta = {EvaluateChannel(k, 0, frame), EvaluateChannel(k, 1, frame),
            EvaluateChannel(k, 2, frame)};
      sa = Vector3{EvaluateChannel(k, 3, frame), EvaluateChannel(k, 4, frame),
                   EvaluateChannel(k, 5, frame)} *
           0.01f;
      // (a0, a1, a2) = (Z Rotate, Y Rotate, X Rotate).
      r = BuildRotation({}, {EvaluateChannel(k, 8, frame), EvaluateChannel(k, 7, frame),
                             EvaluateChannel(k, 6, frame)})
              .Linear();
    }
    s = Mul(s, sa);
    p.scale = s;
    const Vector3 t = Mul(ta + p.rest - previous, s);
    // M := M · [R | t]: the new point's transform applies first.
    m = Transform::FromParts(m.Linear() * r, m.ApplyToPoint(t));
    p.transform = m;
    previous = p.rest;
  }
  return m;
}

void ApplySpine(Spine& spine, SplineSet& working, float frame) {
  if (spine.points.empty()) {
    return;
  }
  EvaluateSpine(spine, frame);
  working.ForEachPoint([&](ControlPoint& q) {
    auto it = spine.binding.find(q.number);
    if (it == spine.binding.end()) {
      return;
    }
    const SpinePoint& s = spine.points[static_cast<std::size_t>(it->second)];
    q.position = s.transform.ApplyToPoint(Mul(s.scale, q.position - s.rest));
    Matrix3 m = s.transform.Linear();
    ScaleColumns(m, s.scale);
    q.inTangent = m * q.inTangent;
    q.outTangent = m * q.outTangent;
  });
}

int NearestSpinePoint(const Spine& spine, const Vector3& position) {
  int best = -1;
  float bestDistance = 0.0f;
  for (std::size_t i = 0; i < spine.points.size(); ++i) {
    const float d = Squared(position - spine.points[i].rest);
    if (best < 0 || d < bestDistance) {
      best = static_cast<int>(i);
      bestDistance = d;
    }
  }
  return best;
}

bool SetSpineKey(Spine& spine, int point, int channel, float frame, float value) {
  if (point < 0 || static_cast<std::size_t>(point) >= spine.points.size()) {
    return false;
  }
  SpinePoint& p = spine.points[static_cast<std::size_t>(point)];
  if (!p.channels) {
    p.channels = CreateChannelSet(std::to_string(point), 9, kSpineKind, kSpineDefaults);
  }
  const float rest = kSpineDefaults[static_cast<std::size_t>(channel % 9)];
  if (frame > 1.0f && !HasKeyAt(*p.channels, channel, 1) &&
      !SetKey(*p.channels, channel, 1.0f, rest)) {
    return false;
  }
  return SetKey(*p.channels, channel, frame, value) != nullptr;
}

EditOutcome CheckSpinePoint(const Spine* spine, int point) {
  if (!spine || spine->points.empty()) {
    return EditOutcome::Failure(str::kNoSpineSelected);
  }
  if (point < 0 || static_cast<std::size_t>(point) >= spine->points.size()) {
    return EditOutcome::Failure(str::kNoSpinePointSelected);
  }
  return EditOutcome::Success();
}

void ShiftSpineFrames(Spine& spine, std::int16_t frame, std::int16_t delta) {
  for (SpinePoint& p : spine.points) {
    if (p.channels) {
      ShiftFrames(*p.channels, frame, delta);
    }
  }
}

std::string SpinePath(const std::string& segmentPath, const std::string& actionPath) {
  std::filesystem::path name = std::filesystem::path(actionPath).filename();
  name.replace_extension(".spi");
  return (std::filesystem::path(segmentPath).parent_path() / "spine" / name).string();
}

Result<Spine> ReadSpine(const std::string& path, const SplineSet& rest) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    return Failure{LoadString(str::kTroubleOpeningAction), error};
  }
  TextReader r(std::move(contents), path);
  int messageId = str::kTroubleOpeningAction;
  auto fail = [&]() -> Result<Spine> { return Failure{LoadString(messageId), r.Error()}; };
  int version = 0;
  short length = 0;
  float size = 0;
  long number = 0;
  if (!ReadHeader(r, "SPIN", version) || !r.ScanLine(1, nullptr, "%hd", &length) ||
      !r.ScanLine(1, nullptr, "%f", &size) || !r.ScanLine(1, nullptr, "%ld", &number)) {
    return fail();
  }
  const ControlPoint* first = rest.FindByNumber(static_cast<std::int32_t>(number));
  if (!first) {
    r.Fail("the spine spline (point " + std::to_string(number) + ") no longer exists");
    return fail();
  }
  Spine spine = AssignSpine(rest, *first);
  for (SpinePoint& p : spine.points) {
    short tag = 0;
    if (!r.ScanLine(1, nullptr, "%hd", &tag)) {
      return fail();
    }
    if (tag == 0) {
      continue;
    }
    Result<std::unique_ptr<ChannelSet>> set = ReadChannelSet(r);
    if (!set) {
      if (IsNewerSoftware(set.failure())) {
        messageId = str::kRequiresNewerSoftware;
      }
      return fail();
    }
    p.channels = std::move(*set);
    p.channels->tag = kChannelSetTag;
    p.channels->kind = kSpineKind;
    p.channels->defaults = kSpineDefaults;
  }
  return spine;
}

SaveStatus WriteSpine(const Spine& spine, std::int16_t length, float segmentSize,
                      const std::string& path, std::string* detail, SaveTransaction* save) {
  return WriteDocument(
      save, path, "SPIN", kSpineVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        w.Line("%hd", length);
        w.Line("%f", static_cast<double>(segmentSize));
        w.Line("%ld", static_cast<long>(spine.firstNumber));
        for (const SpinePoint& p : spine.points) {
          if (!p.channels) {
            w.Line("0");
            continue;
          }
          w.Line("%hd", static_cast<short>(p.channels->tag));
          WriteChannelSet(w, *p.channels);
        }
      },
      detail);
}

SaveStatus WriteSpineFrame(const Spine& spine, float frame, float segmentSize,
                           const std::string& path, std::string* detail) {
  // The size line follows the header directly: a frame file has no
  // reserved line.
  return WriteDocument(
      path, "SPIF", kSpineVersion,
      [&](TextWriter& w, const std::filesystem::path&) {
        w.Line("%g", static_cast<double>(segmentSize));
        for (const SpinePoint& p : spine.points) {
          if (!p.channels) {
            w.Line("0");
            continue;
          }
          std::string values;
          for (int c = 0; c < 9; ++c) {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, c ? " %g" : "%g",
                          static_cast<double>(EvaluateChannel(*p.channels, c, frame)));
            values += buffer;
          }
          w.Line("%s", values.c_str());
        }
      },
      detail, /*reservedLine=*/false);
}

bool ReadSpineFrame(Spine& spine, float frame, const std::string& path) {
  std::string contents, error;
  if (!LoadDocumentText(path, contents, &error)) {
    log_line(error);
    return false;
  }
  // The layout is told by the number of lines, so blank lines an editor
  // left at the end are not counted.
  const std::size_t last = contents.find_last_not_of(" \t\r\n");
  contents.erase(last == std::string::npos ? 0 : last + 1);
  contents += '\n';
  TextReader r(std::move(contents), path);
  auto fail = [&](const std::string& what) {
    r.Fail(what);
    log_line(r.Error());
    return false;
  };
  std::string header, line;
  int version = 0;
  if (!r.Next(header) || !ParseHeader(header, "SPIF", version)) {
    return fail("not a spine frame");
  }
  // After the header: the size line and one line per spine point. The
  // earlier build wrote the reserved "0" line of other documents before the
  // size, one line more. A size is at least 1, never "0", so a file is of
  // that layout exactly when it has one line more than the spine needs and
  // its second line is "0"; any other count is a frame of another spine.
  const std::size_t points = spine.points.size();
  if (!r.Next(line)) {
    return fail("no size line");
  }
  if (r.LinesRemaining() == points + 1 && line == "0") {
    if (!r.Next(line)) {
      return fail("no size line");
    }
  } else if (r.LinesRemaining() != points) {
    return fail("a frame of " + std::to_string(r.LinesRemaining()) + " spine points, not " +
                std::to_string(points));
  }
  float size = 0.0f;
  if (ScanText(line, "%f", &size) != 1 || !std::isfinite(size)) {
    return fail("size is not a number");
  }
  // Every line is read before any key is set, so that a bad line leaves
  // the spine as it was.
  std::vector<std::optional<std::array<float, 9>>> values(points);
  for (std::size_t i = 0; i < points; ++i) {
    if (!r.Next(line)) {
      return fail("missing spine point line");
    }
    std::array<float, 9> v{};
    const int fields = ScanText(line, "%f %f %f %f %f %f %f %f %f", &v[0], &v[1], &v[2], &v[3],
                                &v[4], &v[5], &v[6], &v[7], &v[8]);
    if (fields == 1 && v[0] == 0.0f) {
      continue;  // "0": the point has no channel set
    }
    if (fields != 9) {
      return fail("expected nine spine channel values");
    }
    for (float x : v) {
      if (!std::isfinite(x)) {
        return fail("spine channel value is not a number");
      }
    }
    values[i] = v;
  }
  for (std::size_t i = 0; i < points; ++i) {
    if (!values[i]) {
      continue;
    }
    for (int c = 0; c < 9; ++c) {
      if (!SetSpineKey(spine, static_cast<int>(i), c, frame,
                       (*values[i])[static_cast<std::size_t>(c)])) {
        return false;
      }
    }
  }
  return true;
}

}  // namespace zentrope
